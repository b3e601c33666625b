#include "platform/desktop_posix.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <chrono>

namespace sorvel::platform {

bool XdgOpener::open(const QString& pathOrAddress) {
    // The path goes as one argument, never through a shell, so no character in a file name can
    // be taken as a command. Detached: the program lives on after Sorvel ends.
    return QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{pathOrAddress});
}

bool XdgOpener::startProgram(const QString& program) {
    return QProcess::startDetached(program, QStringList{});
}

double SteadyClock::seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool NoRegistry::value(Root, const QString&, const QString&, QString& value) {
    value.clear();
    return false;
}

QString ExecutableFolder::path() { return QCoreApplication::applicationDirPath(); }

}  // namespace sorvel::platform
