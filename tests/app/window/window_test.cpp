// The main window and the About window: the settings file at start and close, and that each
// control, key and menu entry reaches its command with the rows and input the user chose and
// shows what it left. What the commands do in depth is proved on the folder itself.
#include "window_fixture.h"

#include "app/frmAbout.h"
#include "app/project_texts.h"
#include "app/resources.h"
#include "platform/gio_trash.h"
#include "platform/message_boxes_qt.h"
#include "support/other_tags.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using namespace Qt::StringLiterals;

class WindowTest : public QObject {
    Q_OBJECT
    static void trigger(const WindowFixture& t, const char* action) {
        t.child<QAction>(action)->trigger();
    }

private Q_SLOTS:
    // Start-up waits until more than three seconds have passed on the clock since loading began,
    // and not much longer, across midnight too; the splash gone, a listing does not wait. It
    // restores the folder, the split of names and the place; "&Avsluta" writes them back once.
    // Qt's own texts are Swedish too.
    void startUpRestoresTheSettingsAfterTheSplashAndTheEndWritesThemBackOnce() {
        WindowFixture f;
        f.clock.now = 86399;
        f.clock.step = 0.25;
        f.start(4);
        QVERIFY(!f.child("frmSplash")->isVisible());
        const double waited = f.clock.now - f.clock.step - 86399;
        QVERIFY2(waited > 3.0 && waited <= 3.25, qPrintable(QString::number(waited)));
        const int readings = f.clock.readings;
        f.w->mnuUppdatera_Click();
        QVERIFY(f.clock.readings - readings <= 1);
        QCOMPARE(f.w->folder().katalog(), f.music.path());
        QCOMPARE(f.w->folder().split(), 4);
        trigger(f, "mnuFilnamn2tagNr2");
        trigger(f, "mnuAvsluta");
        const std::string folder = f.music.path().chopped(1).toStdString();
        QCOMPARE(f.saved(), (std::vector<std::string>{"drive " + folder, "folder " + folder,
                                                      "state 0", "top 1500", "left 750",
                                                      "width 11250", "height 7500", "split 2"}));
        {
            app::installQtTexts();
            const std::unique_ptr<QMenu> menu(
                f.child<QLineEdit>("txtArtist")->createStandardContextMenu());
            QCOMPARE(menu->actions().first()->text().section(u'\t', 0, 0), u"&Ångra"_s);
        }
        QVERIFY(QFile::remove(f.iniPath()));
        f.window.reset();
        QVERIFY(!QFile::exists(f.iniPath()));
        // A first start lists nothing, and the splash goes all the same.
        WindowFixture first;
        first.make().Form_Load();
        first.w->show();
        QVERIFY(!first.child("frmSplash")->isVisible());
    }

    // Each control with what the user typed into its field, on the rows chosen; the list shows
    // what it wrote, by the rows' names. a.mp3 has an ID3v2 tag that names its artist "ABBA".
    // "Å - e.mp3" is named as a Mac writes it, decomposed: the list and the editor show its name
    // composed, commands take the composed letters from it and reach the file by its own bytes.
    void eachControlRunsItsCommand_data() {
        QTest::addColumn<QString>("select");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* control, const QString& select, const char* field,
                            const QString& typed, int column, const QString& shown) {
            QTest::newRow(control)
                << select << QString::fromLatin1(field) << typed << column << shown;
        };
        row("cmdArtist", u"a,c"_s, "txtArtist", u"Ny"_s, 1, u"Ny||Ny|d"_s);
        row("cmdTitel", u"a,c"_s, "txtTitel", u"Ny"_s, 2, u"Ny||Ny|e"_s);
        row("cmdAlbum", u"a,c"_s, "txtAlbum", u"Ny"_s, 3, u"Ny||Ny|"_s);
        row("cmdAr", u"a,c"_s, "txtAr", u"2024"_s, 4, u"2024||2024|"_s);
        row("cmdGenre", u"a,c"_s, "Combo1", u"Jazz"_s, 5, u"Jazz||Jazz|"_s);
        row("cmdKommentarer", u"a,c"_s, "txtKommentarer", u"Ny"_s, 6, u"Ny||Ny|"_s);
        row("cmdSpara", u"c"_s, "txtTitel", u"SOS"_s, 2, u"Waterloo||SOS|e"_s);
        row("cmdFilnamn", u"A\u030A - e"_s, "txtFilnamn", u"zz"_s, 0, u"a|b|c|zz"_s);
        row("cmdTag2Filnamn", u"a"_s, "", {}, 0, u"Abba - Waterloo|b|c|Å - e"_s);
        row("cmdFilnamn2Tag", u"b,A\u030A - e"_s, "", {}, 1, u"Abba||Cher|Å"_s);
        row("mnuId3v2", u"a"_s, "", {}, 1, u"ABBA||Cher|d"_s);
        row("mnuHogerId3v2", u"a"_s, "", {}, 1, u"ABBA||Cher|d"_s);
    }
    void eachControlRunsItsCommand() {
        QFETCH(QString, select);
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(int, column);
        QFETCH(QString, shown);
        WindowFixture t;
        using namespace sorvel::test::id3;
        writeAll(t.path(u"a"_s), id3v2(3, frame(3, "TPE1", text(Enc::Latin1, u"ABBA"_s))) +
                                     readAll(t.path(u"a"_s)));
        t.music.write(u"A\u030A - e.mp3"_s, audio(400) + trailer("e", "d", "", "", "", 255));
        t.start();
        Qt::KeyboardModifiers mods;
        for (const QString& name : select.split(u','))
            t.click(t.row(name), std::exchange(mods, Qt::ControlModifier));
        const QString name = t.child<QLineEdit>("txtFilnamn")->text();
        QVERIFY2(name == name.normalized(QString::NormalizationForm_C), "the name composed");
        if (auto* combo = t.child<QComboBox>(field.toLatin1().constData()))
            combo->setCurrentText(typed);
        else if (!field.isEmpty())
            t.type(field.toLatin1().constData(), typed);
        const QByteArray control = QTest::currentDataTag();
        control.startsWith("mnu") ? trigger(t, control.constData()) : t.press(control.constData());
        QMap<QString, QString> cells;
        for (int r = 0; r < t.rows().rowCount(); ++r)
            cells[t.cell(r, 0)] = t.cell(r, column);
        QCOMPARE(cells.values().join(u'|'), shown);
        QVERIFY(t.boxes.shown.empty());
    }

    // After a delete to the desktop's trash the editor shows the row that took the deleted one's
    // place, and a save writes that file's own fields, never the deleted file's, keeping another
    // program's bytes of the fields left alone: a comment that begins with a blank, an ID3v1.1
    // track and genre byte 0, shown as Blues.
    void theEditorFollowsTheRowThatTakesADeletedOnesPlace() {
        desktopHome();
        platform::GioTrash trash;
        WindowFixture t;
        const QByteArray comment = QByteArray(" Hej").leftJustified(28) + '\0' + '\x09';
        const QByteArray before = audio(400) + trailer("T", "A", "", "", comment, 0);
        t.music.write(u"av.mp3"_s, before);
        t.start(1, &trash);
        t.w->ListView1_ColumnClick(1);  // by name: a, av, b, c
        t.click(t.row("a"));
        QTest::keyClick(t.list, Qt::Key_Delete);
        QCOMPARE(t.names(), (QStringList{u"av"_s, u"b"_s, u"c"_s}));
        QVERIFY2(QFile::exists(desktopHome() + u"data/Trash/files/a.mp3"_s), "trashed");
        QCOMPARE(t.w->currentRow(), t.row("av"));
        QCOMPARE(t.child<QLineEdit>("txtFilnamn")->text(), u"av"_s);
        QCOMPARE(t.child<QLineEdit>("txtArtist")->text(), u"A"_s);
        QCOMPARE(t.child<QComboBox>("Combo1")->currentText(), u"Blues"_s);
        t.type("txtArtist", u"Ny"_s);
        t.press("cmdSpara");
        const QByteArray after = readAll(t.path(u"av"_s));
        QCOMPARE(after.right(31), before.right(31));
        QCOMPARE(after, withField(before, kArtistAt, 30, "Ny"));
        QCOMPARE(t.cell(t.row("av"), 5), u"Blues"_s);
        QCOMPARE(t.cell(t.row("av"), 6), u"Hej"_s);
        QVERIFY(t.boxes.shown.empty());
    }

    // A screen reader hears each control by what a sighted user reads beside it, a chooser too
    // (not by its choice), and the choice as its value.
    void eachControlIsNamedAsItsLabelReads() {
        WindowFixture t;
        t.start();
        t.click(t.row("c"));
        struct Named {
            const char* control;
            const char* name;
        };
        const Named named[] = {
            {"Drive1", "Enhet"},           {"Dir1", "Katalog"},
            {"Combo1", "Genre"},           {"ListView1", "Filer"},
            {"txtArtist", "Artist:"},      {"txtKommentarer", "Kommentarer:"},
            {"cmdFilnamn", "Byt filnamn"}, {"cmdSpara", "Spara tag"},
        };
        for (const Named& n : named) {
            QAccessibleInterface* a =
                QAccessible::queryAccessibleInterface(t.child<QWidget>(n.control));
            QVERIFY2(a != nullptr, n.control);
            QCOMPARE(a->text(QAccessible::Name), QString::fromUtf8(n.name));
        }
        const QComboBox* genre = t.child<QComboBox>("Combo1");
        QCOMPARE(QAccessible::queryAccessibleInterface(const_cast<QComboBox*>(genre))
                     ->text(QAccessible::Value),
                 genre->currentText());
    }

    // Enter, a double click on a row (not below the rows) and "Spela" play; Ctrl+Z in a field
    // takes back its typing while there is some, then the last command; Delete sends to the
    // trash unless Shift alone asks to delete for good; F5 lists again; a header click sorts;
    // the right button opens the pop-up menu on its row.
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
        const QByteArray before = readAll(t.path(u"a"_s));
        auto* artist = t.child<QLineEdit>("txtArtist");
        t.type("txtArtist", u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_S, Qt::AltModifier);
        // a button's access key clicks late
        QTRY_VERIFY(readAll(t.path(u"a"_s)) != before);
        t.type("txtArtist", u"X"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(artist->text(), u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(artist->text(), u"Abba"_s);
        QCOMPARE(readAll(t.path(u"a"_s)), before);

        t.boxes.answers = {Answer::Cancel};
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ControlModifier);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier | Qt::AltModifier);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.trash.trashed, (std::vector<QString>{t.path(u"a"_s), t.path(u"b"_s)}));
        t.music.write(u"ny.mp3"_s, audio(400));
        QTest::keyClick(t.child("txtArtist"), Qt::Key_F5, Qt::ShiftModifier);
        QCOMPARE(t.rows().rowCount(), 4);  // the trash is fake: a and b are there still

        // a header click sorts, either way
        for (const QString& first : {QString(), u"Cher"_s}) {
            QTest::mouseClick(t.list->header()->viewport(), Qt::LeftButton, {},
                              QPoint(t.list->header()->sectionViewportPosition(1) + 5, 5));
            QCOMPARE(t.cell(0, 1), first);
        }
        auto* menu = t.child<QMenu>("mnuHoger");
        t.click(1, {}, Qt::RightButton);
        QTRY_VERIFY(menu->isVisible());
        menu->close();
        QCOMPARE(t.w->currentRow(), 1);
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
        t.music.write(u"inne/i.mp3"_s, audio(400));
        t.start();
        QTest::keyClick(t.child("Dir1"), Qt::Key_Down);  // highlights the subfolder
        QTest::keyClick(t.child("Dir1"), Qt::Key_Return);
        QCOMPARE(t.names(), QStringList{u"i"_s});

        t.drives.checks[root] = {code::kDeviceUnavailable, code::kDeviceUnavailable};
        t.boxes.answers = {Answer::Retry, Answer::Cancel};
        const QString before = t.w->dir1Path();
        auto* drive1 = t.child<QComboBox>("Drive1");
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QCOMPARE(drive1->currentIndex(), 0);
        QCOMPARE(t.w->dir1Path(), before);
        usb.write(u"u.mp3"_s, audio(400) + trailer("", "Usb", "", "", "", 255));
        drive1->setCurrentIndex(1);
        QCOMPARE(t.w->folder().katalog(), usb.path());
        QCOMPARE(t.names(), QStringList{u"u"_s});
        drive1->setCurrentIndex(0);
        QCOMPARE(t.w->folder().katalog(), t.music.path() + u"inne/"_s);
    }

    // The About window: the version is the release's; the link opens the home page; "System Info"
    // says there is no such program where the platform has none; Enter gives OK, which closes it.
    void aboutShowsTheReleaseAndItsButtonsAnswer() {
        WindowFixture f;  // for its desktop services
        app::frmAbout about({f.boxes, f.opener, f.registry, f.fs}, nullptr);
        about.show();
        const auto label = [&](const char* name) {
            return about.findChild<QLabel*>(QString::fromLatin1(name));
        };
        QCOMPARE(about.windowTitle(), u"Om Sorvel"_s);
        QCOMPARE(label("lblVersion")->text(), u"Version 1.0.5"_s);
        QVERIFY2(label("lblDescription")->text().contains(app::mailAddress()), "mail");
        QCOMPARE(label("Label2")->text(), app::homePage());
        QTest::mouseClick(label("Label2"), Qt::LeftButton);
        QCOMPARE(f.opener.opened, std::vector{app::homePage()});

        QTest::mouseClick(about.findChild<QPushButton*>(u"cmdSysInfo"_s), Qt::LeftButton);
        const FakeMessageBoxes::Shown none{u"Sorvel"_s,
                                           u"System Information Is Unavailable At This Time"_s,
                                           platform::MessageBoxes::Icon::None};
        QCOMPARE(f.boxes.shown, std::vector{none});

        QCOMPARE(about.findChild<QPushButton*>(u"cmdOK"_s)->text(), u"OK"_s);
        QTest::keyClick(&about, Qt::Key_Return);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY2(!about.isVisible(), "closed by OK");
    }

    // Every way a user closes each kind of box, from within the box's own event loop: its own
    // button and Enter give its answer; a box of one button answers OK however it is closed, the
    // others Cancel. The buttons speak Swedish; the title is the one asked for, or the program's.
    void messageBoxesSpeakSwedishAndAnswerWhatTheUserChose() {
        using B = platform::MessageBoxes::Buttons;
        using A = platform::MessageBoxes::Answer;
        struct Box {
            B buttons;
            QMessageBox::StandardButton own;  // the button that gives `yes`
            A yes;
            QString labels;  // sorted
        };
        const Box kinds[] = {
            {B::Ok, QMessageBox::Ok, A::Ok, u"OK"_s},
            {B::OkCancel, QMessageBox::Ok, A::Ok, u"Avbryt,OK"_s},
            {B::RetryCancel, QMessageBox::Retry, A::Retry, u"&Försök igen,Avbryt"_s}};
        const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Critical,
                                           QMessageBox::Information};
        // 0 closes the box; 1 clicks Avbryt where there is one, else the box's own button.
        const int acts[] = {Qt::Key_Space, Qt::Key_Return, Qt::Key_Escape, 0, 1};
        platform::QtMessageBoxes boxes;
        int i = 0;
        for (const Box& box : kinds) {
            for (const int act : acts) {
                QString title, labels;
                QMessageBox::Icon icon = {};
                QTimer::singleShot(0, this, [&] {
                    auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    QStringList texts;
                    for (QAbstractButton* b : shown->buttons())
                        texts << b->text();
                    texts.sort();
                    title = shown->windowTitle();
                    labels = texts.join(u',');
                    icon = shown->icon();
                    if (act == 0)
                        shown->close();
                    else if (act == 1 && shown->button(QMessageBox::Cancel))
                        QTest::mouseClick(shown->button(QMessageBox::Cancel), Qt::LeftButton);
                    else if (act == 1 || act == Qt::Key_Space)
                        QTest::mouseClick(shown->button(box.own), Qt::LeftButton);
                    else
                        QTest::keyClick(shown, Qt::Key(act));
                });
                const QString asked = ++i % 2 ? u"Ändra filnamn?"_s : QString();
                const A answer =
                    boxes.show(asked, u"Text"_s, platform::MessageBoxes::Icon(i % 3), box.buttons);
                const QByteArray what = (box.labels + u" / %1"_s.arg(act)).toUtf8();
                const bool chose = act == Qt::Key_Space || act == Qt::Key_Return;
                QVERIFY2(answer == (chose || box.buttons == B::Ok ? box.yes : A::Cancel),
                         what.constData());
                QVERIFY2(labels == box.labels, what.constData());
                QVERIFY2(icon == icons[i % 3], what.constData());
                QVERIFY2(title == (asked.isEmpty() ? u"Sorvel"_s : asked), what.constData());
            }
        }
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
