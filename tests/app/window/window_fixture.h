#pragma once

#include "app/file_list_model.h"
#include "app/frmMain.h"
#include "app/settings.h"
#include "support/fake_desktop.h"
#include "support/files.h"

#include <QApplication>
#include <QTest>
#include <memory>

/// A Qt Test main that runs the widgets offscreen.
#define SORVEL_WIDGET_TEST_MAIN(TestClass)       \
    int main(int argc, char** argv) {            \
        qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QApplication app(argc, argv);            \
        TestClass test;                          \
        return QTest::qExec(&test, argc, argv);  \
    }

namespace sorvel::test {

/// The real main window over the real file system, with scriptable desktop services and a
/// program folder of its own (where id3.ini and the help page live).
class WindowFixture {
public:
    WindowFixture() {
        folder.folder = programDir.path().chopped(1);
        drives.drives = {{QStringLiteral("/"), QStringLiteral("rot")}};
        clock.now = 1000;
        clock.step = 1;  // every reading a second later: the splash wait ends at once
    }

    app::frmMain& make() {
        window = std::make_unique<app::frmMain>(
            app::frmMain::Services{fs, boxes, opener, clock, registry, folder, drives, trash});
        return *window;
    }

    QString iniPath() const { return app::settingsPath(folder.folder); }

    /// Writes id3.ini as a previous run would have left it.
    void saveIni(const QString& dir, int state, double top, double left, double width,
                 double height, int fil2tagNr) const {
        app::Settings s;
        s.folder = dir;
        s.windowState = state;
        s.top = top;
        s.left = left;
        s.width = width;
        s.height = height;
        s.fil2tagNr = fil2tagNr;
        QCOMPARE_EQ(app::saveSettings(iniPath(), s), code::kOk);
    }

    template <class T>
    T* child(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    app::FileListModel& rows() const { return window->listModel(); }

    /// An MP3 file with a trailer (`pad` fills the fields), or without one when `artist` is null.
    static void mp3(const TempFolder& dir, const QString& name, const char* artist = nullptr,
                    const char* title = "", const char* album = "", const char* year = "",
                    unsigned char genre = 255, char pad = ' ') {
        QByteArray bytes = audio(400);
        if (artist != nullptr)
            bytes += trailer(title, artist, album, year, "", genre, pad);
        dir.write(name, bytes);
    }

    TempFolder programDir;
    platform::PosixFileSystem fs;
    FakeMessageBoxes boxes;
    FakeOpener opener;
    FakeClock clock;
    FakeRegistry registry;
    FakeProgramFolder folder;
    FakeDrives drives;
    FakeTrash trash;
    std::unique_ptr<app::frmMain> window;
};

/// Records what a settings file would restore, to read back what the window wrote.
struct RecordedSettings : app::SettingsTarget {
    QString drive, folder;
    int state = -1;
    double top = 0, left = 0, width = 0, height = 0;
    Code applyDrive(const QString& f) override { return drive = f, code::kOk; }
    Code applyFolder(const QString& f) override { return folder = f, code::kOk; }
    Code applyWindowState(int s) override { return state = s, code::kOk; }
    Code applyTop(double t) override { return top = t, code::kOk; }
    Code applyLeft(double t) override { return left = t, code::kOk; }
    Code applyWidth(double t) override { return width = t, code::kOk; }
    Code applyHeight(double t) override { return height = t, code::kOk; }
};

}  // namespace sorvel::test
