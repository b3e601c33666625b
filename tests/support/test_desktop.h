#pragma once

#include "platform/names.h"
#include "support/files.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <chrono>
#include <thread>

namespace sorvel::test {

/// A desktop of the test's own in a temporary folder, for the real `xdg-open`: its default
/// program for `mimeType` is a script that writes the path it was given to a file. The
/// environment comes back as it was at the end.
class TestDesktop {
public:
    explicit TestDesktop(const QByteArray& mimeType) {
        const QString root = dir_.path();
        QDir().mkpath(root + QStringLiteral("data/applications"));
        const QByteArray got = platform::encodeName(received());
        const QString handler = dir_.write(
            QStringLiteral("handler.sh"), "#!/bin/sh\nprintf '%s' \"$1\" > \"" + got +
                                              ".tmp\" && mv \"" + got + ".tmp\" \"" + got + "\"\n");
        ::chmod(platform::encodeName(handler).constData(), 0755);
        writeAll(root + QStringLiteral("data/applications/sorvel-test.desktop"),
                 "[Desktop Entry]\nType=Application\nName=Test\nExec=" +
                     platform::encodeName(handler) + " %f\nMimeType=" + mimeType + ";\n");
        QDir().mkpath(root + QStringLiteral("config"));
        writeAll(root + QStringLiteral("config/mimeapps.list"),
                 "[Default Applications]\n" + mimeType + "=sorvel-test.desktop\n");
        set("HOME", root);
        set("XDG_DATA_HOME", root + QStringLiteral("data"));
        set("XDG_CONFIG_HOME", root + QStringLiteral("config"));
        set("XDG_CONFIG_DIRS", root + QStringLiteral("config-system"));
        // The system's MIME database stays visible: it tells the file's type.
        set("XDG_DATA_DIRS", root + QStringLiteral("system:/usr/local/share:/usr/share"));
        // xdg-open's generic way, the one of a desktop it does not know: xdg-mime finds the
        // default program in mimeapps.list and runs its Exec line. It takes that way only where
        // there is a display to show a program on; nothing connects to it here.
        set("XDG_CURRENT_DESKTOP", QStringLiteral("X-Generic"));
        set("DISPLAY", QStringLiteral(":99"));
        set("XDG_RUNTIME_DIR", std::nullopt);  // its flatpak-info would mean a sandbox
        set("BROWSER", std::nullopt);
    }

    /// Makes the desktop tell a file's type by its content (`file`), as one without the
    /// File::MimeInfo tool does: that tool refuses names that are not UTF-8 outright.
    void withoutMimeInfoTool() {
        const QString bin = dir_.file(QStringLiteral("bin"));
        QDir().mkpath(bin);
        writeAll(bin + QStringLiteral("/mimetype"), "#!/bin/sh\nexit 1\n");
        ::chmod(platform::encodeName(bin + QStringLiteral("/mimetype")).constData(), 0755);
        set("PATH", bin + u':' + qEnvironmentVariable("PATH"));
    }

    /// The path the program was given, once it has run (waits up to `seconds`).
    QByteArray waitForProgram(int seconds = 30) const {
        const QByteArray path = platform::encodeName(received());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (::access(path.constData(), F_OK) != 0) {
            if (std::chrono::steady_clock::now() > end)
                return "(nothing started)";
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const QByteArray got = readAll(received());
        ::unlink(path.constData());
        return got;
    }

private:
    QString received() const { return dir_.file(QStringLiteral("received")); }
    void set(const char* name, const std::optional<QString>& value) { env_.set(name, value); }

    TempFolder dir_;
    Environment env_;
};

}  // namespace sorvel::test
