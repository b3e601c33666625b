#pragma once

#include "support/files.h"

#include <chrono>
#include <thread>

namespace sorvel::test {

/// A desktop of the test's own in a temporary folder, for the real `xdg-open`: its default
/// program for `mimeType` is a script that writes the path it was given to a file. The
/// environment comes back as it was at the end.
struct TestDesktop {
    explicit TestDesktop(const QByteArray& mimeType) {
        const QString root = dir_.path();
        for (const char* sub : {"data/applications", "config", "bin"})
            QDir().mkpath(root + QString::fromLatin1(sub));
        const QByteArray got = encodeName(received());
        const QByteArray handler = script(
            QStringLiteral("handler.sh"),
            "printf '%s' \"$1\" > \"" + got + ".tmp\" && mv \"" + got + ".tmp\" \"" + got + "\"");
        dir_.write(QStringLiteral("data/applications/sorvel-test.desktop"),
                   "[Desktop Entry]\nType=Application\nName=Test\nExec=" + handler +
                       " %f\nMimeType=" + mimeType + ";\n");
        dir_.write(QStringLiteral("config/mimeapps.list"),
                   "[Default Applications]\n" + mimeType + "=sorvel-test.desktop\n");
        env_.set("HOME", root);
        env_.set("XDG_DATA_HOME", root + QStringLiteral("data"));
        env_.set("XDG_CONFIG_HOME", root + QStringLiteral("config"));
        env_.set("XDG_CONFIG_DIRS", root + QStringLiteral("config-system"));
        // The system's MIME database stays visible: it tells the file's type.
        env_.set("XDG_DATA_DIRS", root + QStringLiteral("system:/usr/local/share:/usr/share"));
        // xdg-open's generic way, the one of a desktop it does not know: xdg-mime finds the
        // default program in mimeapps.list and runs its Exec line. It takes that way only where
        // there is a display to show a program on; nothing connects to it here.
        env_.set("XDG_CURRENT_DESKTOP", QStringLiteral("X-Generic"));
        env_.set("DISPLAY", QStringLiteral(":99"));
        // its flatpak-info would mean a sandbox
        env_.set("XDG_RUNTIME_DIR", std::nullopt);
        env_.set("BROWSER", std::nullopt);
        // A file's type by its content (`file`), as a desktop without the File::MimeInfo tool
        // tells it: that tool refuses names that are not UTF-8 outright.
        script(QStringLiteral("bin/mimetype"), "exit 1");
        env_.set("PATH", root + QStringLiteral("bin:") + qEnvironmentVariable("PATH"));
    }

    /// The path the program was given, once it has run (waits up to 30 seconds).
    QByteArray waitForProgram() const {
        for (int i = 0; i < 600 && !present(received()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const QByteArray got = present(received()) ? readAll(received()) : "(nothing started)";
        ::unlink(encodeName(received()));
        return got;
    }

    QString received() const { return dir_.file(QStringLiteral("received")); }
    /// An executable shell script `name` of `body`; gives its path.
    QByteArray script(const QString& name, const QByteArray& body) const {
        const QByteArray path = encodeName(dir_.write(name, "#!/bin/sh\n" + body + '\n'));
        ::chmod(path.constData(), 0755);
        return path;
    }

    TempFolder dir_;
    Environment env_;
};

}  // namespace sorvel::test
