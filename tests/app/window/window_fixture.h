#pragma once

#include "app/file_list_model.h"
#include "app/file_list_view.h"
#include "app/frmMain.h"
#include "core/scripted_settings.h"
#include "platform/desktop_posix.h"
#include "support/fake_desktop.h"
#include "support/files.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace sorvel::test {

/// The real main window over the real file system, with scriptable desktop services and a
/// program folder of its own (where id3.ini and the help page live). Its folder of music holds
/// a.mp3 (Abba, Pop), b.mp3 (no trailer) and c.mp3 (Cher, Rock, its fields padded with NUL bytes
/// as most taggers write them); a test adds its own files before start().
struct WindowFixture {
    WindowFixture() {
        folder.folder = programDir.path().chopped(1);
        drives.drives = {{QStringLiteral("/"), QStringLiteral("rot")}};
        clock.now = 1000;
        clock.step = 1;  // every reading a second later: the splash ends at once
        music.write(QStringLiteral("a.mp3"),
                    audio(400) + trailer("Waterloo", "Abba", "Arrival", "1974", "", 13));
        music.write(QStringLiteral("b.mp3"), audio(400));
        music.write(QStringLiteral("c.mp3"),
                    audio(400) + trailer("Believe", "Cher", "Believe", "1998", "", 17, '\0'));
    }

    /// The window, with the fake trash and drives unless real ones are given.
    app::frmMain& make(platform::Trash* useTrash = nullptr, platform::Drives* useDrives = nullptr) {
        window = std::make_unique<app::frmMain>(
            app::frmMain::Services{fs, boxes, opener, clock, registry, folder,
                                   useDrives ? *useDrives : drives, useTrash ? *useTrash : trash});
        w = window.get();
        list = child<app::FileListView>("ListView1");
        return *window;
    }
    /// The window as a user finds it after an earlier run on the folder of music.
    void start(int fil2tagNr = 1, platform::Trash* useTrash = nullptr) {
        saveIni(music.path().chopped(1), 0, fil2tagNr);
        make(useTrash).Form_Load();
        w->show();
        // Keys reach the active window only; offscreen, that stays the splash's once it has gone.
        QApplication::setActiveWindow(w);
    }

    QString iniPath() const { return core::settingsPath(folder.folder); }
    /// Writes id3.ini as a previous run would have left it, at a place on the offscreen
    /// platform's screen of 800 x 600 pixels.
    void saveIni(const QString& dir, int state = 0, int fil2tagNr = 1) const {
        QCOMPARE_EQ(core::saveSettings(iniPath(), {dir, state, 1500, 750, 11250, 7500, fil2tagNr}),
                    code::kOk);
    }
    /// What the settings file holds now: the calls a load makes ("top 1500"), then "split" and
    /// the split of file names it gives.
    std::vector<std::string> saved() const {
        ScriptedSettings back;
        platform::PosixFileSystem disk;
        back.calls.push_back("split " + std::to_string(core::loadSettings(disk, iniPath(), back)));
        return back.calls;
    }

    template <class T = QWidget>
    T* child(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    app::FileListModel& rows() const { return window->listModel(); }
    QString path(const QString& base) const { return music.file(base + QStringLiteral(".mp3")); }
    QStringList names() const {
        QStringList out;
        for (const browse::Row& r : w->folder().rows())
            out << r.name;
        return out;
    }
    int row(const QString& name) const { return static_cast<int>(names().indexOf(name)); }
    int row(const char* name) const { return row(QString::fromUtf8(name)); }
    /// What the list shows of row `r` in `column`.
    QString cell(int r, int column) const { return rows().index(r, column).data().toString(); }
    QPoint at(int r) const { return list->visualRect(rows().index(r, 0)).center(); }
    void click(int r, Qt::KeyboardModifiers mods = {}, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(list->viewport(), button, mods, at(r));
    }
    /// A left click on a button, which must be on show.
    void press(const char* button) const {
        auto* b = child<QPushButton>(button);
        QVERIFY2(b->isVisible(), button);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    /// Replaces a field's text key by key, as a keyboard sends them, letters outside ASCII too.
    void type(const char* field, const QString& text) const {
        auto* e = child<QLineEdit>(field);
        e->setFocus();
        e->selectAll();
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Press, e, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }

    TempFolder programDir, music;
    platform::PosixFileSystem fs;
    FakeMessageBoxes boxes;
    FakeOpener opener;
    FakeClock clock;
    platform::NoRegistry registry;
    FakeProgramFolder folder;
    FakeDrives drives;
    FakeTrash trash;
    std::unique_ptr<app::frmMain> window;
    app::frmMain* w = nullptr;
    app::FileListView* list = nullptr;
};

}  // namespace sorvel::test
