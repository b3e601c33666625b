// The main window: the settings file at start and close, its place and layout, and that each
// control, key and menu entry reaches its command with the rows and input the user chose and
// shows what it left. What the commands do in depth is proved on the folder itself.
#include "window_fixture.h"

#include "app/folder_list.h"
#include "app/resources.h"
#include "app/twips.h"
#include "support/other_tags.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using Calls = std::vector<std::string>;
using namespace Qt::StringLiterals;

namespace {
void trigger(const WindowFixture& t, const char* action) {
    t.child<QAction>(action)->trigger();
}
/// Column `c` of every row, the rows in the order of their names, "|" between them.
QString shownColumn(const WindowFixture& t, int c) {
    QMap<QString, QString> cells;
    for (int r = 0; r < t.rows().rowCount(); ++r)
        cells[t.cell(r, 0)] = t.cell(r, c);
    return cells.values().join(u'|');
}
}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Start-up restores the folder, the split of names and the place; "&Avsluta" writes them
    // back once. Without a settings file nothing is restored, and Qt's own texts are Swedish.
    void settingsAreRestoredAtStartAndWrittenBackOnceAtTheEnd() {
        WindowFixture f;
        f.start(4);
        QVERIFY(f.w->folder().katalog() == f.music.path() && f.w->folder().split() == 4);
        QVERIFY(!f.child("frmSplash")->isVisible());
        trigger(f, "mnuFilnamn2tagNr2");
        trigger(f, "mnuAvsluta");
        const std::string folder = f.music.path().chopped(1).toStdString();
        QCOMPARE(f.saved(), (Calls{"drive " + folder, "folder " + folder, "state 0", "top 1500",
                                   "left 750", "width 11250", "height 7500", "split 2"}));
        QVERIFY(QFile::remove(f.iniPath()));
        f.w->close();
        f.window.reset();
        QVERIFY(!QFile::exists(f.iniPath()));

        WindowFixture none;
        none.make().Form_Load();
        QVERIFY(none.w->folder().katalog().isEmpty() && none.boxes.shown.empty());
        app::installQtTexts();
        const std::unique_ptr<QMenu> menu(
            none.child<QLineEdit>("txtArtist")->createStandardContextMenu());
        QCOMPARE(menu->actions().first()->text().section(u'\t', 0, 0), u"&Ångra"_s);
    }

    // A place saved on a monitor since unplugged, or a size from a larger one: the window comes
    // up on the screen, fitted to it, maximised if it was, and is saved so.
    void placeOffTheScreenOrLargerThanItComesBackOnIt() {
        for (const auto& [state, saved] : {std::pair{0, QRectF(60000, 1500, 12000, 8250)},
                                           {0, QRectF(-30000, -30000, 60000, 40000)},
                                           {2, QRectF(60000, 1500, 12000, 8250)}}) {
            WindowFixture f;
            QCOMPARE(
                app::saveSettings(f.iniPath(), {f.music.path().chopped(1), state, saved.top(),
                                                saved.left(), saved.width(), saved.height(), 1}),
                code::kOk);
            f.make().Form_Load();
            f.w->show();
            const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            QCOMPARE(f.w->isMaximized(), state == 2);
            QVERIFY(state == 2 || screen.contains(f.w->frameGeometry()));
            f.w->close();
            const Calls calls = f.saved();
            const auto at = [&](int i) {
                return std::stod(calls.at(i).substr(calls[i].find(' ')));
            };
            QVERIFY(screen.contains(
                app::Twips::of(QGuiApplication::primaryScreen()).rect(at(4), at(3), at(5), at(6))));
        }
    }

    // Below the minimum the window snaps back; larger, the list and its columns grow with it.
    void theListGrowsWithTheWindowAboveTheMinimumSize() {
        WindowFixture f;
        f.start();
        f.w->resize(200, 150);
        QTRY_VERIFY(f.w->width() > 600 && f.w->height() > 350);
        const QSize list = f.list->size();
        const int column = f.list->columnWidth(1);
        f.w->resize(f.w->width() + 100, f.w->height() + 100);
        QTRY_COMPARE(f.list->size(), list + QSize(100, 100));
        QVERIFY(qAbs(f.list->columnWidth(1) - column - 20) <= 1);  // a fifth of it each
        QVERIFY(f.list->mapTo(f.w, QPoint(0, f.list->height())).y() <
                f.child("StatusBar1")->geometry().top());
    }

    // One row selected shows its tag in the editor with save and rename; several, the six field
    // buttons. A header click sorts, the other way round on every click.
    void theEditorAndButtonsFollowTheSelection() {
        WindowFixture t;
        t.start();
        t.click(t.row("a"));
        QCOMPARE(
            QStringList({t.text("txtFilnamn"), t.text("txtArtist"), t.text("txtTitel"),
                         t.text("txtAlbum"), t.text("txtAr"),
                         t.child<QComboBox>("Combo1")->currentText()}),
            QStringList({u"a"_s, u"Abba"_s, u"Waterloo"_s, u"Arrival"_s, u"1974"_s, u"Pop"_s}));
        QVERIFY(t.shown("cmdSpara") && t.shown("cmdFilnamn") && !t.shown("cmdArtist"));
        t.click(t.row("c"), Qt::ControlModifier);
        QVERIFY(!t.shown("cmdSpara") && !t.shown("cmdFilnamn") && t.shown("cmdKommentarer"));
        QCOMPARE(t.w->selectedRows(), (std::vector<int>{std::min(t.row("a"), t.row("c")),
                                                        std::max(t.row("a"), t.row("c"))}));
        QHeaderView* header = t.list->header();
        for (const QString& first : {QString(), u"Cher"_s}) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(1) + 5, 5));
            QCOMPARE(t.cell(0, 1), first);
        }
    }

    // Each control with what the user typed into its field, on the rows chosen; the list shows
    // what it wrote. a.mp3 has an ID3v2 tag that names its artist "ABBA".
    void eachControlRunsItsCommand_data() {
        QTest::addColumn<QString>("select");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* control, const char* select, const char* field,
                            const QString& typed, int column, const QString& shown) {
            QTest::newRow(control) << QString::fromLatin1(select) << QString::fromLatin1(field)
                                   << typed << column << shown;
        };
        row("cmdArtist", "a,c", "txtArtist", u"Ny"_s, 1, u"Ny||Ny|d"_s);
        row("cmdTitel", "a,c", "txtTitel", u"Ny"_s, 2, u"Ny||Ny|e"_s);
        row("cmdAlbum", "a,c", "txtAlbum", u"Ny"_s, 3, u"Ny||Ny|"_s);
        row("cmdAr", "a,c", "txtAr", u"2024"_s, 4, u"2024||2024|"_s);
        row("cmdGenre", "a,c", "Combo1", u"Jazz"_s, 5, u"Jazz||Jazz|"_s);
        row("cmdKommentarer", "a,c", "txtKommentarer", u"Ny"_s, 6, u"Ny||Ny|"_s);
        row("cmdSpara", "c", "txtTitel", u"SOS"_s, 2, u"Waterloo||SOS|e"_s);
        row("cmdFilnamn", "a", "txtFilnamn", u"zz"_s, 0, u"b|c|d - e|zz"_s);
        row("cmdTag2Filnamn", "a", "", {}, 0, u"Abba - Waterloo|b|c|d - e"_s);
        row("cmdFilnamn2Tag", "b,d - e", "", {}, 1, u"Abba||Cher|d"_s);
        row("mnuId3v2", "a", "", {}, 1, u"ABBA||Cher|d"_s);
        row("mnuHogerId3v2", "a", "", {}, 1, u"ABBA||Cher|d"_s);
    }
    void eachControlRunsItsCommand() {
        QFETCH(QString, select);
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(int, column);
        QFETCH(QString, shown);
        WindowFixture t;
        using namespace sorvel::test::id3;
        const QByteArray a = readAll(t.path(u"a"_s));
        writeAll(t.path(u"a"_s), id3v2(3, frame(3, "TPE1", text(Enc::Latin1, u"ABBA"_s))) + a);
        t.mp3(t.music, u"d - e.mp3"_s, "d", "e");
        t.start();
        Qt::KeyboardModifiers mods;
        for (const QString& name : select.split(u',')) {
            t.click(t.row(name), std::exchange(mods, Qt::ControlModifier));
        }
        if (auto* combo = t.child<QComboBox>(field.toLatin1().constData()))
            combo->setCurrentText(typed);
        else if (!field.isEmpty())
            t.type(field.toLatin1().constData(), typed);
        const QByteArray control = QTest::currentDataTag();
        if (control.startsWith("mnu"))
            trigger(t, control.constData());
        else
            t.press(control.constData());
        QCOMPARE(shownColumn(t, column), shown);
        QCOMPARE(t.text("txtFilnamn"), t.cell(t.w->currentRow(), 0));  // the editor shows it
        QVERIFY(t.boxes.shown.empty());
    }

    // Delete sends to the trash unless Shift alone asks to delete for good; Enter, a double
    // click on a row and "Spela" play; F5 lists again; Ctrl+Z in a field takes back its typing
    // while there is some, then the last command.
    void keysAndTheMenuReachTheirCommands() {
        WindowFixture t;
        t.start();
        t.click(t.row("c"));
        trigger(t, "mnuHogerSpela");
        QTest::keyClick(t.list, Qt::Key_Return);
        for (const QPoint p : {QPoint(5, t.list->viewport()->height() - 3), t.at(t.row("c"))}) {
            QTest::mouseClick(t.list->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseDClick(t.list->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseRelease(t.list->viewport(), Qt::LeftButton, {}, p);
        }
        QCOMPARE(t.opener.opened, std::vector<QString>(3, t.path(u"c"_s)));

        t.click(t.row("a"));
        const QByteArray before = t.bytes("a");
        auto* artist = t.child<QLineEdit>("txtArtist");
        t.type("txtArtist", u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(t.bytes("a") != before);  // a button's access key clicks late
        t.type("txtArtist", u"X"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(artist->text(), u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(artist->text() == u"Abba"_s && t.bytes("a") == before);

        t.boxes.answers = {Answer::Cancel};
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ControlModifier);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier | Qt::AltModifier);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.trash.trashed, (std::vector<QString>{t.path(u"a"_s), t.path(u"b"_s)}));
        t.mp3(t.music, u"ny.mp3"_s);
        QTest::keyClick(t.child("txtArtist"), Qt::Key_F5, Qt::ShiftModifier);
        QStringList names = t.names();
        names.sort();
        QCOMPARE(names, (QStringList{u"a"_s, u"b"_s, u"c"_s, u"ny"_s}));  // the trash is fake

        // The right button, the Menu key and Shift+F10 open the pop-up menu on the row.
        auto* menu = t.child<QMenu>("mnuHoger");
        t.click(1, {}, Qt::RightButton);
        QTRY_VERIFY(menu->isVisible());
        menu->close();
        QCOMPARE(t.w->currentRow(), 1);
        t.list->setFocus();
        for (const Qt::Key key : {Qt::Key_Menu, Qt::Key_F10}) {
            QTest::keyClick(t.list, key, key == Qt::Key_F10 ? Qt::ShiftModifier : Qt::NoModifier);
            QTRY_VERIFY(menu->isVisible());
            menu->close();
        }
    }

    // What a screen reader says of the controls: a Swedish name, and "&Ångra" what it will take
    // back, pressed as a screen reader presses it.
    void controlsHaveNamesAScreenReaderSays() {
        WindowFixture t;
        t.start();
        for (const auto& [control, name] : {std::pair{"ListView1", u"Filer"_s},
                                            {"Dir1", u"Katalog"_s},
                                            {"txtArtist", u"Artist:"_s},
                                            {"cmdAr", u"Spara årtal i markerade filer"_s}}) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(t.child(control));
            QCOMPARE(a->text(QAccessible::Name), name);
            QCOMPARE(a->text(QAccessible::Description), t.child(control)->toolTip());
        }
        t.click(t.row("a"));
        const QByteArray a = t.bytes("a");
        t.type("txtArtist", u"Ny"_s);
        t.press("cmdSpara");
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(t.w->menuBar());
        QAccessibleInterface* undo = nullptr;
        for (int i = 0; i < bar->childCount(); ++i) {
            if (bar->child(i)->text(QAccessible::Name) == u"Ångra"_s)
                undo = bar->child(i);
        }
        QVERIFY(undo != nullptr);
        QCOMPARE(undo->text(QAccessible::Description), u"Ångra: Spara tag till 1 fil"_s);
        undo->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(t.bytes("a") == a && undo->state().disabled);
    }

    // Every file of a listing sets the status and the progress; far fewer paints reach the
    // screen, and what was set last shows.
    void statusIsPaintedAtMostEvery20Milliseconds() {
        WindowFixture t;
        for (int i = 0; i < 600; ++i)
            t.mp3(t.music, u"m%1.mp3"_s.arg(i), "M");
        t.start();
        QVERIFY(QTest::qWaitForWindowExposed(t.w));
        QTest::qWait(50);
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                paints += e->type() == QEvent::Paint ? 1 : 0;
                return false;
            }
        } counter;
        t.child("StatusBar1")->installEventFilter(&counter);
        QElapsedTimer clock;
        clock.start();
        t.w->mnuUppdatera_Click();
        QVERIFY2(counter.paints <= clock.elapsed() / 20 + 2,
                 qPrintable(QString::number(counter.paints)));
        QTRY_COMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);
        QCOMPARE(t.child<QProgressBar>("ProgressBar1")->maximum(), 603);
    }

    // A folder by Enter in the folder list; a drive that cannot be reached offers to try again,
    // and both choosers go back to the folder on show; reachable, its root is listed, and the
    // first drive's folder of last time comes back with it.
    void foldersAndDrivesAreChosenFromTheirLists() {
        WindowFixture t;
        TempFolder usb;
        const QString root = usb.path().chopped(1);
        t.drives.drives.push_back({root, u"USB"_s});
        QDir(t.music.path()).mkdir(u"inne"_s);
        t.mp3(t.music, u"inne/i.mp3"_s);
        t.start();
        auto* dir1 = t.child<app::FolderList>("Dir1");
        QTest::keyClick(dir1, Qt::Key_Down);  // highlights the subfolder: no listing
        QCOMPARE(t.w->folder().katalog(), t.music.path());
        QTest::keyClick(dir1, Qt::Key_Return);
        QCOMPARE(t.names(), QStringList{u"i"_s});

        t.drives.checks[root] = {code::kDeviceUnavailable, code::kDeviceUnavailable};
        t.boxes.answers = {Answer::Retry, Answer::Cancel};
        const QString before = t.w->dir1Path();
        auto* drive1 = t.child<QComboBox>("Drive1");
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QVERIFY(drive1->currentIndex() == 0 && t.w->dir1Path() == before);
        t.mp3(usb, u"u.mp3"_s, "Usb");
        drive1->setCurrentIndex(1);
        QVERIFY(t.w->folder().katalog() == usb.path() && t.names() == QStringList{u"u"_s});
        drive1->setCurrentIndex(0);
        QCOMPARE(t.w->folder().katalog(), t.music.path() + u"inne/"_s);
    }

    // A tag field keeps out what a tag cannot hold, but not what the file's tag already showed;
    // the name field takes any letter. An empty folder leaves the editor empty and disabled.
    void fieldsRefuseWhatATagCannotHoldAndAnEmptyFolderDisablesThem() {
        WindowFixture t;
        t.mp3(t.music, u"u.mp3"_s,
              "\xC5\x81\xC3\xB3"
              "d\xC5\xBA");  // "Łódź" as UTF-8
        t.start();
        t.type("txtAlbum", u"łé"_s);  // Windows-1252 holds only the second
        QCOMPARE(t.text("txtAlbum"), u"é"_s);
        t.type("txtFilnamn", u"Łódź"_s);
        QCOMPARE(t.text("txtFilnamn"), u"Łódź"_s);
        t.click(t.row("u"));
        t.type("txtArtist", u"Łódź 2ł"_s);
        QCOMPARE(t.text("txtArtist"), u"Łódź 2"_s);

        TempFolder empty;
        QCOMPARE(t.w->applyFolder(empty.path().chopped(1)), code::kOk);
        for (const char* f : {"txtFilnamn", "txtArtist", "Combo1", "cmdSpara"})
            QVERIFY(!t.child(f)->isEnabled());
        QVERIFY(t.rows().rowCount() == 0 && t.text("txtArtist").isEmpty());
    }
};

SORVEL_WIDGET_TEST_MAIN(WindowTest)
#include "window_test.moc"
