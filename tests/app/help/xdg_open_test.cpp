// "&Hjälp" through the desktop's real open command, with an HTML handler of the test's own.
#include "../window/window_fixture.h"

#include "platform/desktop_posix.h"

#include <QAction>
#include <QDir>
#include <QFile>

using namespace sorvel;
using namespace sorvel::test;

class XdgOpenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void helpPageReachesTheDesktopsHtmlProgram() {
        TempFolder xdg;
        const QString root = xdg.path().chopped(1);
        const QString received = root + QStringLiteral("/received.txt");
        QVERIFY(QDir(root).mkpath(QStringLiteral("data/applications")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("config")));
        const QString script = root + QStringLiteral("/record.sh");
        writeAll(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + received.toUtf8() + "'\n");
        QVERIFY(
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        writeAll(root + QStringLiteral("/data/applications/sorvel-test-recorder.desktop"),
                 "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script.toUtf8() +
                     " %f\nMimeType=text/html;\n");
        writeAll(root + QStringLiteral("/config/mimeapps.list"),
                 "[Default Applications]\ntext/html=sorvel-test-recorder.desktop\n");
        // A desktop of the test's own and no other: no desktop environment, no browser setting,
        // and a display name, without which xdg-open asks no desktop program at all.
        qputenv("WAYLAND_DISPLAY", "sorvel-test-display");
        qputenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toUtf8());
        // The system's folders stay last, for the MIME database that tells the page's type.
        qputenv("XDG_DATA_DIRS",
                (root + QStringLiteral("/data:/usr/local/share:/usr/share")).toUtf8());
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", (root + QStringLiteral("/config")).toUtf8());
        for (const char* v : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                              "GNOME_DESKTOP_SESSION_ID", "BROWSER", "XDG_SESSION_DESKTOP"}) {
            qunsetenv(v);
        }

        WindowFixture f;
        QVERIFY(QDir(f.folder.folder).mkdir(QStringLiteral("hjälp")));
        const QString page = f.folder.folder + QStringLiteral("/hjälp/index.html");
        writeAll(
            page,
            "<!DOCTYPE html>\n<html><head><title>Hjälp</title></head><body>Hjälp</body></html>\n");
        platform::XdgOpener opener;
        app::frmMain w({f.fs, f.boxes, opener, f.clock, f.registry, f.folder, f.drives, f.trash});
        w.findChild<QAction*>(QStringLiteral("mnuHjalpHjalp"))->trigger();
        QVERIFY(f.boxes.shown.empty());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(received) && !readAll(received).isEmpty(), 15000);
        QCOMPARE(QString::fromUtf8(readAll(received)), page);
    }
};

SORVEL_WIDGET_TEST_MAIN(XdgOpenTest)
#include "xdg_open_test.moc"
