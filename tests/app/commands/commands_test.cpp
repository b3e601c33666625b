// The window's commands on real files: the six field buttons, "&Spara tag", "&Filnamn --> tag"
// with its menu, rename, names from tags, delete and play. What they do to files, and their
// messages, are proved in tests/write and tests/fileops; here, that each control hands them the
// right rows and input and that the list shows the outcome.
#include "window/window_fixture.h"

#include "app/folder_list.h"

#include "platform/names.h"
#include "support/other_tags.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSignalSpy>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using namespace Qt::StringLiterals;

class CommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachFieldButtonWritesItsFieldIntoTheSelectedFilesOnly() {
        WindowFixture t;
        t.start();
        t.select({"a", "c"});
        const QByteArray b = t.bytes("b"), c = t.bytes("c");
        const std::tuple<const char*, const char*, QString> steps[] = {
            {"txtArtist", "cmdArtist", u"Nytt namn"_s},     {"txtTitel", "cmdTitel", u"Ny titel"_s},
            {"txtAlbum", "cmdAlbum", u"Nytt album"_s},      {"txtAr", "cmdAr", u"2024"_s},
            {"txtKommentarer", "cmdKommentarer", u"Bra"_s}, {"Combo1", "cmdGenre", u"Jazz"_s}};
        for (const auto& [field, button, text] : steps) {
            if (auto* combo = t.child<QComboBox>(field))
                combo->setCurrentText(text);
            else
                t.type(field, text);
            t.press(button);
            // The first leaves c's other fields as read, NUL padding and all.
            if (text == u"Nytt namn"_s)
                QCOMPARE(t.bytes("c"), withField(c, kArtistAt, 30, "Nytt namn"));
        }
        // Both selected files hold all six, each where it belongs; b is as it was.
        const QByteArray written = trailer("Ny titel", "Nytt namn", "Nytt album", "2024", "Bra", 8);
        QCOMPARE(t.bytes("a").right(128), written);
        QCOMPARE(t.bytes("c").right(128), written);
        QCOMPARE(t.bytes("b"), b);
        // The rows of the written files show it; every row was counted, the end is on screen.
        QCOMPARE(t.rows().row(t.row("a")).genre, u"Jazz"_s);
        QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);
        QCOMPARE(t.w->progressMax(), 3);
        QVERIFY(t.boxes.shown.empty());
    }

    void unwritableFileIsNamedOnceAfterTheRunEndsOnScreen() {
        WindowFixture t;
        t.start();
        t.select({"a", "b", "c"});
        const QByteArray before = t.bytes("b");
        const ReadOnly locked(t.path(u"b"_s));
        QVERIFY(locked.effective());
        t.type("txtAlbum", u"Samling"_s);
        QString statusWhileAsked;
        int barWhileAsked = -1;
        t.boxes.whileShown = [&](const auto&) {
            statusWhileAsked = t.child<QLabel>("StatusBar1Panel1")->text();
            barWhileAsked = t.child<QProgressBar>("ProgressBar1")->value();
        };
        // The bar shows something else, painted long enough ago that the command's first
        // report is painted at once and the rest wait.
        t.w->setStatus(u"Före"_s);
        QTest::qWait(30);
        t.press("cmdAlbum");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(t.boxes.shown[0].text.endsWith(u":\nb.mp3 (skrivskyddad eller låst)"_s));
        QCOMPARE(t.bytes("b"), before);
        QCOMPARE(t.rows().row(t.row("c")).album, u"Samling"_s);
        // The end is on screen before the message waits for its answer.
        QCOMPARE(statusWhileAsked, u"Klar"_s);
        QCOMPARE(barWhileAsked, 0);
    }

    void saveWritesTheEditorAndRenamesOnlyAfterOk() {
        WindowFixture t;
        t.start();
        t.select({"c"});
        const QByteArray c = t.bytes("c");
        // Fields left as shown keep the row's whole text, NUL padding and all.
        t.type("txtTitel", u"SOS"_s);
        t.press("cmdSpara");
        QVERIFY(t.boxes.shown.empty());
        QCOMPARE(t.bytes("c"), withField(c, kTitleAt, 30, "SOS"));
        QCOMPARE(t.rows().row(t.row("c")).title, u"SOS"_s);
        // A new name is asked about, and on OK the file and its row have it.
        const int r = t.row("c");
        t.type("txtFilnamn", u"Cher - Mamma Mia"_s);
        t.press("cmdSpara");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(!present(t.path(u"c"_s)));
        QCOMPARE(t.bytes("Cher - Mamma Mia"), withField(c, kTitleAt, 30, "SOS"));
        QCOMPARE(t.rows().data(t.rows().index(r, 0), Qt::DisplayRole).toString(),
                 u"Cher - Mamma Mia"_s);
    }

    void utf8FieldsAreListedSortedEditedAndSavedAsTheirText() {
        WindowFixture t;
        // Artist "Åsa Öberg" and title "Łódź" as a tagger under a UTF-8 locale stores them; a
        // file name that looks like UTF-8 read as Windows-1252 is a name all the same.
        t.mp3(t.music, u"u.mp3"_s,
              "\xC3\x85sa \xC3\x96"
              "berg",
              "\xC5\x81\xC3\xB3"
              "d\xC5\xBA");
        t.mp3(t.music, u"z.mp3"_s, "Zorn");
        t.mp3(t.music, u"Ã¥.mp3"_s);
        t.start();
        t.w->ListView1_ColumnClick(2);  // by artist, ascending, as Swedish sorts it
        QStringList artists, names;
        for (int r = 0; r < t.rows().rowCount(); ++r) {
            artists << t.rows().data(t.rows().index(r, 1), Qt::DisplayRole).toString();
            names << t.rows().data(t.rows().index(r, 0), Qt::DisplayRole).toString();
        }
        QCOMPARE(artists.mid(2), (QStringList{u"Abba"_s, u"Cher"_s, u"Zorn"_s, u"Åsa Öberg"_s}));
        QVERIFY(names.contains(u"Ã¥"_s));

        // The editor shows the title whole, although Windows-1252 has no Ł or ź, and a save that
        // leaves it keeps every byte; one that changes it is refused, the file left as it was.
        t.click(t.row("u"));
        QCOMPARE(t.text("txtArtist"), u"Åsa Öberg"_s);
        QCOMPARE(t.text("txtTitel"), u"Łódź"_s);
        const QByteArray u = t.bytes("u");
        t.press("cmdSpara");
        QVERIFY(t.boxes.shown.empty());
        QCOMPARE(t.bytes("u"), u);
        t.type("txtTitel", u"Łódź 2ł"_s);  // typed: the new ł is dropped, the shown ones stay
        QCOMPARE(t.text("txtTitel"), u"Łódź 2"_s);
        t.press("cmdSpara");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.bytes("u"), u);
    }

    void fileNameToTagSplitsAtTheHyphenOfTheMenuAndOnlyTheLeftButtonWrites() {
        WindowFixture t;
        const QString name = u"01 - Artist - Title"_s;
        t.mp3(t.music, name + u".mp3"_s, "X", "Y", "Album", "2001", 13);
        t.start(3);
        t.w->move(0, 0);  // where the window leaves the menu room on the screen
        // The loaded setting does not move the check mark from the first item.
        QCOMPARE(t.w->fil2tagNr, 3);
        auto* menu = t.child<QMenu>("mnuFilnamn2tag");
        const auto checked = [&] {
            QList<bool> marks;
            for (const QAction* item : menu->actions())
                marks << item->isChecked();
            return marks;
        };
        QCOMPARE(checked(), (QList<bool>{true, false, false, false}));
        t.select({"01 - Artist - Title", "a"});
        const QByteArray before = readAll(t.path(name));
        auto* button = t.child<QPushButton>("cmdFilnamn2Tag");
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(button, Qt::RightButton, {}, QPoint(10, 8));
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->pos(), button->mapToGlobal(QPoint(10, 8)));
        QCOMPARE(clicked.count(), 0);
        menu->actions()[1]->trigger();
        menu->actions()[1]->trigger();  // choosing the checked item again keeps its mark
        QCOMPARE(checked(), (QList<bool>{false, true, false, false}));
        QCOMPARE(t.w->fil2tagNr, 2);
        QCOMPARE(readAll(t.path(name)), before);
        menu->close();
        t.press("cmdFilnamn2Tag");
        QCOMPARE(readAll(t.path(name)),
                 withField(withField(before, kArtistAt, 30, "Artist"), kTitleAt, 30, "Title"));
        QCOMPARE(t.rows().row(t.row("a")).artist, QString());
        // The editor shows the current row's new artist and title at once.
        QCOMPARE(t.text("txtTitel"), u"a"_s);
    }

    void tagFieldsRefuseWhatATagCannotHoldButTheNameFieldDoesNot() {
        WindowFixture t;
        t.start();
        for (const char* field : {"txtArtist", "txtTitel", "txtAlbum", "txtAr", "txtKommentarer"}) {
            t.type(field, u"łé"_s);  // Windows-1252 holds only the second
            QCOMPARE(t.text(field), u"é"_s);
        }
        QCOMPARE(t.child<QLineEdit>("txtArtist")->maxLength(), 30);
        QCOMPARE(t.child<QLineEdit>("txtAr")->maxLength(), 4);
        t.type("txtFilnamn", u"Łódź"_s);
        QCOMPARE(t.text("txtFilnamn"), u"Łódź"_s);
    }

    // Ctrl+Z in a field takes back typing while there is some; after a command has written the
    // typing there is none, and Ctrl+Z takes back the command.
    void ctrlZTakesBackTheTypingOrTheSaveThatWroteIt() {
        WindowFixture t;
        t.start();
        // Access keys and shortcuts reach the active window only; the offscreen platform leaves
        // the focus with the splash's window once it has gone.
        QApplication::setActiveWindow(t.w);
        t.click(t.row("a"));
        const QByteArray before = t.bytes("a");
        auto* artist = t.child<QLineEdit>("txtArtist");
        t.type("txtArtist", u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(artist->text(), u"Abba"_s);
        QCOMPARE(t.bytes("a"), before);

        t.type("txtArtist", u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(t.bytes("a"),
                     withField(before, kArtistAt, 30, "Ny"));  // a button's click comes late
        QCOMPARE(artist->text(), u"Ny"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(t.bytes("a"), before);
        QCOMPARE(artist->text(), u"Abba"_s);
        QCOMPARE(t.rows().row(t.row("a")).artist, u"Abba"_s);
        QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);  // nothing left to take back
        QCOMPARE(t.bytes("a"), before);
        QCOMPARE(artist->text(), u"Abba"_s);
    }

    // The questions in the real message boxes, answered as a user answers them.
    void theRenameAndDeleteQuestionsDoWhatTheUserAnswered() {
        using Act = BoxAnswerer::Act;
        WindowFixture t;
        t.realBoxes = true;
        t.start();
        const int r = t.row("a");
        t.click(r);
        const QByteArray a = t.bytes("a");
        t.type("txtFilnamn", u"Abba - Waterloo"_s);
        t.user.acts = {Act::Cancel, Act::Escape, Act::Enter};
        for (int i = 0; i < 2; ++i) {
            t.press("cmdSpara");
            QVERIFY(present(t.path(u"a"_s)));
            QCOMPARE(t.row("a"), r);
        }
        QCOMPARE(t.user.seen.size(), std::size_t{2});
        QCOMPARE(t.user.seen.at(0).title, u"Ändra filnamn?"_s);
        QCOMPARE(t.user.seen.at(0).text,
                 u"Vill du ändra filnamnet från a.mp3 till Abba - Waterloo.mp3 ?"_s);
        QCOMPARE(t.user.seen.at(0).icon, QMessageBox::NoIcon);
        t.press("cmdSpara");  // Enter: OK, the default
        QVERIFY(!present(t.path(u"a"_s)));
        QCOMPARE(t.bytes("Abba - Waterloo"), a);
        QCOMPARE(t.row("Abba - Waterloo"), r);

        t.click(t.row("b"));
        const int rows = t.rows().rowCount();
        t.user.acts = {Act::CloseBox, Act::Escape, Act::Ok};
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
            QVERIFY(present(t.path(u"b"_s)));
        }
        QCOMPARE(t.user.seen.back().title, u"Bekräfta borttagning av fil"_s);
        QCOMPARE(t.user.seen.back().text, u"Är du säker på att du vill radera \"b.mp3\" ?"_s);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QVERIFY(!present(t.path(u"b"_s)));
        QCOMPARE(t.rows().rowCount(), rows - 1);
        QVERIFY(t.trash.trashed.empty());
        QCOMPARE(t.user.seen.size(), std::size_t{6});
    }

    // Names a Mac wrote (decomposed: a letter and its combining mark) are listed and taken as
    // the letters they stand for; the file is still reached by its own bytes.
    void decomposedNamesAreShownComposedAndReachTheirFile() {
        WindowFixture t;
        const QString nfd = u"A\u030asa O\u0308berg - La\u030at"_s;
        const QString nfc = u"\u00c5sa \u00d6berg - L\u00e5t"_s;
        t.mp3(t.music, nfd + u".mp3"_s);
        t.start();
        const int r = t.row(nfd);
        QVERIFY(r >= 0);
        QCOMPARE(t.rows().data(t.rows().index(r, 0), Qt::DisplayRole).toString(), nfc);
        t.click(r);
        QCOMPARE(t.text("txtFilnamn"), nfc);
        t.press("cmdFilnamn2Tag");
        QVERIFY(t.boxes.shown.empty());
        QCOMPARE(t.bytes(nfd.toUtf8().constData()).right(128).mid(3, 60),
                 QByteArray("L\xe5t").leftJustified(30, ' ') + QByteArray("\xc5sa \xd6"
                                                                          "berg")
                                                                   .leftJustified(30, ' '));
        QCOMPARE(t.text("txtArtist"), u"\u00c5sa \u00d6berg"_s);
        // Saved with the name as shown: no question, the file keeps its own name.
        t.type("txtAlbum", u"Album"_s);
        t.press("cmdSpara");
        QVERIFY(t.boxes.shown.empty());
        QVERIFY(present(t.path(nfd)));
        t.type("txtFilnamn", nfc + u" (ny)"_s);
        t.press("cmdFilnamn");
        QVERIFY(t.boxes.shown.empty());
        QVERIFY(!present(t.path(nfd)));
        QVERIFY(present(t.path(nfc + u" (ny)"_s)));
    }

    void renameButtonRenamesTheCurrentRowInPlaceOrShowsWhyNot() {
        WindowFixture t;
        t.start();
        t.click(t.row("a"));
        const int r = t.row("a");
        t.type("txtFilnamn", u"zz"_s);
        t.press("cmdFilnamn");
        QVERIFY(present(t.path(u"zz"_s)));
        QCOMPARE(t.rows().row(r).name, u"zz"_s);
        QCOMPARE(t.rows().row(r).artist, u"Abba"_s);
        QVERIFY(t.boxes.shown.empty());

        t.type("txtFilnamn", u"a?b"_s);
        t.press("cmdFilnamn");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.w->ajfan, 1);
        t.list->selectionModel()->clear();  // no current row: nothing to rename
        t.w->cmdFilnamn_Click();
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
    }

    void undoTakesBackTheLastCommandsAcrossARescanUntilTheFolderChanges() {
        WindowFixture t;
        t.start();
        auto* angra = t.child<QAction>("mnuAngra");
        QCOMPARE(angra->shortcut(), QKeySequence(u"Ctrl+Z"_s));
        QVERIFY(!angra->isEnabled());
        const QByteArray a = t.bytes("a"), b = t.bytes("b");
        t.select({"a", "b"});
        t.type("txtArtist", u"Fel"_s);
        t.press("cmdArtist");
        t.click(t.row("a"));
        t.type("txtFilnamn", u"zz"_s);
        t.press("cmdFilnamn");
        QCOMPARE(angra->toolTip(), u"Ångra: Nytt filnamn till 1 fil"_s);

        angra->trigger();
        QVERIFY(present(t.path(u"a"_s)) && !present(t.path(u"zz"_s)));
        QCOMPARE(t.text("txtFilnamn"), u"a"_s);  // the row and the editor follow
        QCOMPARE(angra->toolTip(), u"Ångra: Artist till 2 filer"_s);
        t.w->mnuUppdatera_Click();  // a rescan of the folder keeps what can be undone
        t.click(t.row("b"));
        t.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(t.w));
        t.list->setFocus();
        QTest::keyClick(t.w->windowHandle(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(t.bytes("a"), a);
        QCOMPARE(t.bytes("b"), b);  // the appended trailer cut off again
        QCOMPARE(t.rows().row(t.row("a")).artist, u"Abba"_s);
        QCOMPARE(t.text("txtArtist"), QString());
        QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);
        QVERIFY(!angra->isEnabled());
        QVERIFY(t.boxes.shown.empty());

        // Another folder forgets it.
        t.press("cmdSpara");
        QVERIFY(angra->isEnabled());
        TempFolder other;
        QCOMPARE(t.child<app::FolderList>("Dir1")->setPath(u"/"_s, other.path().chopped(1)),
                 code::kOk);
        QVERIFY(!angra->isEnabled());
    }

    void theOtherTagShowsBesideTheTrailerAndFillsItFromBothMenus() {
        using namespace sorvel::test::id3;
        WindowFixture t;
        auto withId3v2 = [&](const char* base, const QString& artist, const QString& year) {
            const QByteArray frames = frame(3, "TPE1", text(Enc::Latin1, artist)) +
                                      frame(3, "TIT2", text(Enc::Latin1, u"Waterloo"_s)) +
                                      frame(3, "TALB", text(Enc::Latin1, u"Arrival"_s)) +
                                      frame(3, "TYER", text(Enc::Latin1, year));
            writeAll(t.path(QString::fromLatin1(base)), id3v2(3, frames) + t.bytes(base));
        };
        withId3v2("a", u"ABBA"_s, u"1974"_s);  // the trailer says "Abba"
        t.mp3(t.music, u"c.mp3"_s, "Abba", "Waterloo", "Arrival", "1974", 13);
        withId3v2("c", u"Abba"_s, u"1999"_s);  // the same three fields, another year
        t.start();
        auto* panel = t.child<QLabel>("StatusBar1Panel2");
        const std::pair<const char*, QString> shown[] = {
            {"a", u"ID3v2 (skiljer sig från tag): ABBA – Waterloo – Arrival"_s},
            {"b", QString()},
            {"c", u"ID3v2: Abba – Waterloo – Arrival"_s}};
        for (const auto& [name, expected] : shown) {
            t.click(t.row(name));
            QCOMPARE(panel->text(), expected);
        }
        auto* menuBarItem = t.child<QAction>("mnuId3v2");
        QCOMPARE(menuBarItem->text(), u"Tag från ID3v&2"_s);
        QVERIFY(t.w->menuBar()->actions().contains(menuBarItem));
        QVERIFY(t.child<QMenu>("mnuHoger")->actions().contains(t.child<QAction>("mnuHogerId3v2")));

        const QByteArray a = t.bytes("a"), b = t.bytes("b"), c = t.bytes("c");
        t.select({"a", "b"});
        menuBarItem->trigger();
        QCOMPARE(t.bytes("a"), withField(a, kArtistAt, 30, "ABBA"));
        QCOMPARE(t.bytes("b"), b);
        QCOMPARE(t.rows().row(t.row("a")).artist, u"ABBA"_s);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].text,
                 u"1 fil saknar ID3v2- och APEv2-tag och lämnades som den var."_s);
        t.click(t.row("c"));
        t.child<QAction>("mnuHogerId3v2")->trigger();
        QCOMPARE(t.bytes("c"), withField(c, 93, 4, "1999"));
        QCOMPARE(t.child<QAction>("mnuAngra")->toolTip(), u"Ångra: Tag från ID3v2 till 1 fil"_s);
        t.child<QAction>("mnuAngra")->trigger();
        t.child<QAction>("mnuAngra")->trigger();
        QCOMPARE(t.bytes("a"), a);
        QCOMPARE(t.bytes("c"), c);
    }

    void tagToFileNameRenamesTheSelectedRowsOnly() {
        WindowFixture t;
        const QString odd = platform::decodeName("d\xe5");
        t.mp3(t.music, odd + u".mp3"_s, "Abba", "Waterloo");
        t.mp3(t.music, u"e.mp3"_s, "AC/DC", "Back in Black");
        t.start();
        t.w->ListView1_ColumnClick(1);
        t.click(t.row(odd));  // the tag of a.mp3: its name is taken once a.mp3 has it
        t.click(t.row("e"), Qt::ControlModifier);
        t.click(t.row("a"), Qt::ControlModifier);
        t.press("cmdTag2Filnamn");
        QStringList names = t.names();
        names.sort();
        QCOMPARE(names, (QStringList{u"ACDC - Back in Black"_s, u"Abba - Waterloo"_s, u"b"_s,
                                     u"c"_s, odd}));
        QVERIFY(present(t.path(u"ACDC - Back in Black"_s)));
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});  // for the odd one
        QCOMPARE(t.text("txtFilnamn"), u"a"_s);          // the editor is left alone
    }

    void deleteGoesToTheTrashOrForGoodAsTheLastPressSays() {
        WindowFixture t;
        const QString odd = platform::decodeName("d\xe5");
        t.mp3(t.music, odd + u".mp3"_s);
        t.start();
        t.click(t.row("b"));
        QTest::keyClick(t.list, Qt::Key_Delete);
        QCOMPARE(t.w->ingenpapperskorg, 0);
        QCOMPARE(t.trash.trashed, (std::vector<QString>{t.path(u"b"_s)}));
        QCOMPARE(t.row("b"), -1);
        // The row that took its place is the one the editor shows and the next Delete takes.
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(t.w->currentRow()).name);
        // Ctrl and Alt are stored too, and go to the trash (which refuses here).
        t.trash.answer = code::kAccess;
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(t.w->ingenpapperskorg, 2);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier | Qt::AltModifier);
        QCOMPARE(t.w->ingenpapperskorg, 5);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QCOMPARE(t.rows().rowCount(), 3);

        t.boxes.shown.clear();
        t.click(t.row(odd));
        t.boxes.answers = {Answer::Cancel};
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(t.w->ingenpapperskorg, 1);
        QVERIFY(t.boxes.shown.at(0).text.contains(odd));
        QCOMPARE(t.rows().rowCount(), 3);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);  // OK
        QVERIFY(!present(t.path(odd)));
        QCOMPARE(t.rows().rowCount(), 2);
        const QString next = t.text("txtFilnamn");
        t.child<QAction>("mnuHogerRadera")->trigger();  // the mode of the last press
        QVERIFY(!present(t.path(next)));
        QCOMPARE(t.boxes.shown.size(), std::size_t{3});
        QCOMPARE(t.trash.trashed.size(), std::size_t{3});  // the Delete presses without Shift

        // A file already gone is told, and the list rescanned.
        t.mp3(t.music, u"f.mp3"_s);
        const QString gone = t.text("txtFilnamn");
        QCOMPARE(::unlink(platform::encodeName(t.path(gone)).constData()), 0);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(t.boxes.shown.back().text, u"Filen hittades inte."_s);
        QVERIFY(t.row(gone) == -1 && t.row("f") >= 0);
    }

    void doubleClickAndSpelaUppOpenTheFileByItsAbsolutePath() {
        WindowFixture t;
        t.start();
        // As a real double click comes: press, release, double click, release.
        auto doubleClick = [&](QPoint p) {
            QTest::mouseClick(t.list->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseDClick(t.list->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseRelease(t.list->viewport(), Qt::LeftButton, {}, p);
        };
        doubleClick(t.at(t.row("c")));
        t.child<QAction>("mnuHogerSpela")->trigger();
        const QString path = t.path(u"c"_s);
        QCOMPARE(t.opener.opened, (std::vector<QString>{path, path}));
        // Neither below the rows nor without a current row.
        doubleClick(QPoint(5, t.list->viewport()->height() - 3));
        t.list->selectionModel()->clear();
        t.child<QAction>("mnuHogerSpela")->trigger();
        QCOMPARE(t.opener.opened.size(), std::size_t{2});
    }
};

SORVEL_WIDGET_TEST_MAIN(CommandsTest)
#include "commands_test.moc"
