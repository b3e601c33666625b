#include "platform/desktop_posix.h"

#include "platform/names.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <string_view>
#include <vector>

namespace sorvel::platform {
namespace {

// Starts a program in a session of its own, without waiting for it and without leaving a zombie
// behind. The arguments go as the exact bytes given: QProcess would pass them through the
// locale's encoding, which turns a name that is not UTF-8 into another name. False when the
// program could not be started at all.
bool startDetachedBytes(std::vector<QByteArray> args) {
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        ::execvp(argv[0], argv.data());
        const int err = errno;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without a word when exec succeeds.
    int err = 0;
    ssize_t n = 0;
    do {
        n = ::read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

}  // namespace

bool XdgOpener::open(const QString& pathOrAddress) {
    // The path goes as one argument, never through a shell, so no character in a file name can
    // be taken as a command. Detached: the program lives on after Sorvel ends.
    return startDetachedBytes({QByteArrayLiteral("xdg-open"), encodeName(pathOrAddress)});
}

bool XdgOpener::startProgram(const QString& program) {
    return startDetachedBytes({encodeName(program)});
}

double SteadyClock::seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool NoRegistry::value(Root, const QString&, const QString&, QString& value) {
    value.clear();
    return false;
}

QString ExecutableFolder::path() {
    // The kernel's link holds the executable's path as the file system's bytes; Qt's
    // applicationDirPath() decodes them through the locale, which turns a folder whose name is
    // not UTF-8 into a look-alike that holds neither the help page nor id3.ini.
    std::array<char, PATH_MAX> exe{};
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    const std::string_view path(exe.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t slash = path.rfind('/');
    if (n <= 0 || static_cast<std::size_t>(n) >= exe.size() || slash == std::string_view::npos)
        return QCoreApplication::applicationDirPath();
    return decodeName(path.substr(0, slash == 0 ? 1 : slash));
}

}  // namespace sorvel::platform
