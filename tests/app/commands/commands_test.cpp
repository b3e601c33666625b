// Every control and menu entry of the window reaches its command: clicked, pressed or triggered
// as a user does, found by its object name, it leaves its mark on disk or in the list. What the
// commands do in depth is proved on the folder itself; here, that each control hands it the right
// rows and input, and that the window shows what it left.
#include "window/window_fixture.h"

#include "platform/names.h"
#include "support/other_tags.h"

#include <unistd.h>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <algorithm>
#include <functional>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using Answer = platform::MessageBoxes::Answer;
using Step = std::function<void(WindowFixture&)>;
Q_DECLARE_METATYPE(Step)

namespace {

QAction* action(const WindowFixture& t, const char* name) {
    return t.child<QAction>(name);
}

// a.mp3 with an ID3v2 tag naming its artist "ABBA", where its trailer says "Abba".
void giveAnId3v2Tag(WindowFixture& t) {
    using namespace sorvel::test::id3;
    writeAll(t.path(u"a"_s),
             id3v2(3, frame(3, "TPE1", text(Enc::Latin1, u"ABBA"_s))) + t.bytes("a"));
    t.w->mnuUppdatera_Click();
}

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachControlRunsItsCommand_data() {
        QTest::addColumn<Step>("run");
        // The six field buttons write their own field into the selected files only.
        const struct {
            const char* field;
            const char* button;
            QString typed;
            int column;
        } fields[] = {{"txtArtist", "cmdArtist", u"Ny"_s, 1},
                      {"txtTitel", "cmdTitel", u"Ny"_s, 2},
                      {"txtAlbum", "cmdAlbum", u"Ny"_s, 3},
                      {"txtAr", "cmdAr", u"2024"_s, 4},
                      {"Combo1", "cmdGenre", u"Jazz"_s, 5},
                      {"txtKommentarer", "cmdKommentarer", u"Ny"_s, 6}};
        for (const auto& f : fields) {
            QTest::newRow(f.button) << Step([f](WindowFixture& t) {
                t.select({"a", "c"});
                if (auto* combo = t.child<QComboBox>(f.field))
                    combo->setCurrentText(f.typed);
                else
                    t.type(f.field, f.typed);
                t.press(f.button);
                QCOMPARE(t.cell(t.row("c"), f.column), f.typed);
                QCOMPARE(t.cell(t.row("b"), f.column), QString());
            });
        }
        QTest::newRow("cmdFilnamn2Tag and its menu") << Step([](WindowFixture& t) {
            t.mp3(t.music, u"01 - Artist - Title.mp3"_s);
            t.w->mnuUppdatera_Click();
            t.w->move(0, 0);  // where the window leaves the menu room on the screen
            t.click(t.row("01 - Artist - Title"));
            auto* button = t.child<QPushButton>("cmdFilnamn2Tag");
            // The right button opens the menu where it was pressed.
            QTest::mouseClick(button, Qt::RightButton, {}, QPoint(10, 8));
            auto* menu = t.child<QMenu>("mnuFilnamn2tag");
            QTRY_VERIFY(menu->isVisible());
            QCOMPARE(menu->pos(), button->mapToGlobal(QPoint(10, 8)));
            action(t, "mnuFilnamn2tagNr2")->trigger();
            menu->close();
            QVERIFY(action(t, "mnuFilnamn2tagNr2")->isChecked());
            QVERIFY(!action(t, "mnuFilnamn2tagNr1")->isChecked());
            t.press("cmdFilnamn2Tag");
            QCOMPARE(t.cell(t.row("01 - Artist - Title"), 1), u"Artist"_s);
            QCOMPARE(t.text("txtTitel"), u"Title"_s);  // the editor shows it at once
        });
        QTest::newRow("cmdSpara") << Step([](WindowFixture& t) {
            t.click(t.row("c"));
            t.type("txtTitel", u"SOS"_s);
            t.press("cmdSpara");
            QCOMPARE(t.cell(t.row("c"), 2), u"SOS"_s);
            QVERIFY(t.boxes.shown.empty());
        });
        QTest::newRow("cmdFilnamn") << Step([](WindowFixture& t) {
            const int r = t.row("a");
            t.click(r);
            t.type("txtFilnamn", u"zz"_s);
            t.press("cmdFilnamn");
            QVERIFY(present(t.path(u"zz"_s)));
            QCOMPARE(t.cell(r, 0), u"zz"_s);
        });
        QTest::newRow("cmdTag2Filnamn") << Step([](WindowFixture& t) {
            t.select({"a"});
            t.press("cmdTag2Filnamn");
            QVERIFY(present(t.path(u"Abba - Waterloo"_s)));
        });
        // Ctrl+Z in a field takes back its typing while there is some; once a command has
        // written the typing there is none, and Ctrl+Z takes back the command ("&Ångra").
        QTest::newRow("Ctrl+Z in a field") << Step([](WindowFixture& t) {
            t.click(t.row("a"));
            const QByteArray before = t.bytes("a");
            auto* artist = t.child<QLineEdit>("txtArtist");
            t.type("txtArtist", u"Ny"_s);
            QTest::keyClick(artist, Qt::Key_S, Qt::AltModifier);
            QTRY_VERIFY(t.bytes("a") != before);  // a button's access key clicks late
            const QByteArray saved = t.bytes("a");
            t.type("txtArtist", u"X"_s);
            QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(artist->text(), u"Ny"_s);
            QCOMPARE(t.bytes("a"), saved);
            QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(t.bytes("a"), before);
            QCOMPARE(artist->text(), u"Abba"_s);
        });
        QTest::newRow("mnuHogerSpela") << Step([](WindowFixture& t) {
            t.click(t.row("c"));
            action(t, "mnuHogerSpela")->trigger();
            QCOMPARE(t.opener.opened, std::vector<QString>{t.path(u"c"_s)});
        });
        // It deletes as the last Delete press said; a file gone meanwhile is told, and the
        // folder listed again.
        QTest::newRow("mnuHogerRadera") << Step([](WindowFixture& t) {
            t.click(t.row("b"));
            t.boxes.answers = {Answer::Cancel};
            QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
            QCOMPARE(::unlink(platform::encodeName(t.path(u"b"_s)).constData()), 0);
            action(t, "mnuHogerRadera")->trigger();
            QCOMPARE(t.boxes.shown.back().text, u"Filen hittades inte."_s);
            QCOMPARE(t.row("b"), -1);
            QVERIFY(t.trash.trashed.empty());
        });
        for (const char* import : {"mnuId3v2", "mnuHogerId3v2"}) {
            QTest::newRow(import) << Step([import](WindowFixture& t) {
                giveAnId3v2Tag(t);
                const int r = t.row("a");
                t.click(r);
                auto* panel = t.child<QLabel>("StatusBar1Panel2");
                QCOMPARE(panel->text(), t.w->folder().otherTagText(static_cast<std::size_t>(r)));
                action(t, import)->trigger();
                QCOMPARE(t.cell(r, 1), u"ABBA"_s);
                QCOMPARE(t.text("txtArtist"), u"ABBA"_s);
            });
        }
        // Any Delete but Shift's alone sends to the trash; the row that takes the place of the
        // one deleted is the one the editor shows and the next Delete takes.
        QTest::newRow("Delete") << Step([](WindowFixture& t) {
            t.click(t.row("a"));
            QTest::keyClick(t.list, Qt::Key_Delete);
            QCOMPARE(t.text("txtFilnamn"), t.rows().row(t.w->currentRow()).name);
            QTest::keyClick(t.list, Qt::Key_Delete, Qt::ControlModifier);
            QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier | Qt::AltModifier);
            std::vector<QString> trashed = t.trash.trashed;
            std::sort(trashed.begin(), trashed.end());
            QCOMPARE(trashed,
                     (std::vector<QString>{t.path(u"a"_s), t.path(u"b"_s), t.path(u"c"_s)}));
            QVERIFY(t.boxes.shown.empty());
        });
        QTest::newRow("Enter") << Step([](WindowFixture& t) {
            t.click(t.row("c"));
            QTest::keyClick(t.list, Qt::Key_Return);
            QCOMPARE(t.opener.opened, std::vector<QString>{t.path(u"c"_s)});
        });
        // As a real double click comes: press, release, double click, release; and only on a
        // row, not on the empty space below the rows.
        QTest::newRow("double click") << Step([](WindowFixture& t) {
            for (const QPoint p : {QPoint(5, t.list->viewport()->height() - 3), t.at(t.row("c"))}) {
                QTest::mouseClick(t.list->viewport(), Qt::LeftButton, {}, p);
                QTest::mouseDClick(t.list->viewport(), Qt::LeftButton, {}, p);
                QTest::mouseRelease(t.list->viewport(), Qt::LeftButton, {}, p);
            }
            QCOMPARE(t.opener.opened, std::vector<QString>{t.path(u"c"_s)});
        });
        QTest::newRow("F5") << Step([](WindowFixture& t) {
            t.mp3(t.music, u"d.mp3"_s);
            QTest::keyClick(t.child("txtArtist"), Qt::Key_F5, Qt::ShiftModifier);
            QVERIFY(t.row("d") >= 0);
        });
    }
    void eachControlRunsItsCommand() {
        QFETCH(Step, run);
        WindowFixture t;
        t.start();
        // Keys reach the active window only; offscreen, that stays the splash's once it has gone.
        QApplication::setActiveWindow(t.w);
        run(t);
    }

    // With no current row the commands on one row have nothing to act on.
    void rowCommandsWithoutACurrentRowDoNothing() {
        WindowFixture t;
        t.start();
        t.list->selectionModel()->clear();
        const QByteArray a = t.bytes("a");
        t.w->cmdSpara_Click();
        t.w->cmdFilnamn_Click();
        action(t, "mnuHogerSpela")->trigger();
        QCOMPARE(t.bytes("a"), a);
        QVERIFY(t.opener.opened.empty() && t.boxes.shown.empty());
    }

    void messagesWaitUntilTheEndIsOnScreen() {
        WindowFixture t;
        t.start();
        t.select({"a", "b"});
        const ReadOnly locked(t.path(u"b"_s));
        QVERIFY(locked.effective());
        QString statusWhileAsked;
        t.boxes.whileShown = [&](const auto&) {
            statusWhileAsked = t.child<QLabel>("StatusBar1Panel1")->text();
        };
        // The last paint long enough ago that the command's first report is painted at once, and
        // the rest wait.
        t.w->setStatus(u"Före"_s);
        QTest::qWait(30);
        t.type("txtAlbum", u"Samling"_s);
        t.press("cmdAlbum");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(statusWhileAsked, u"Klar"_s);
    }

    // The questions in the real message boxes, answered as a user answers them.
    void theRenameAndDeleteQuestionsDoWhatTheUserAnswered() {
        using Act = BoxAnswerer::Act;
        WindowFixture t;
        t.realBoxes = true;
        t.start();
        t.click(t.row("a"));
        t.type("txtFilnamn", u"Abba - Waterloo"_s);
        t.user.acts = {Act::Cancel, Act::Escape, Act::Enter};
        for (int i = 0; i < 2; ++i) {
            t.press("cmdSpara");
            QVERIFY(present(t.path(u"a"_s)));
        }
        QCOMPARE(t.user.seen.at(0).title, u"Ändra filnamn?"_s);
        QCOMPARE(t.user.seen.at(0).icon, QMessageBox::NoIcon);
        t.press("cmdSpara");  // Enter: OK, the default
        QVERIFY(!present(t.path(u"a"_s)) && present(t.path(u"Abba - Waterloo"_s)));

        t.click(t.row("b"));
        t.user.acts = {Act::CloseBox, Act::Escape, Act::Ok};
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
            QVERIFY(present(t.path(u"b"_s)));
        }
        QCOMPARE(t.user.seen.back().title, u"Bekräfta borttagning av fil"_s);
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QVERIFY(!present(t.path(u"b"_s)));
        QCOMPARE(t.user.seen.size(), std::size_t{6});
    }

    // A tag field keeps out what a tag cannot hold, but not what a file's tag (stored as UTF-8)
    // already showed: merely showing and saving such a tag keeps it whole.
    void tagFieldsRefuseWhatATagCannotHoldButTheNameFieldDoesNot() {
        WindowFixture t;
        t.mp3(t.music, u"u.mp3"_s,
              "\xC5\x81\xC3\xB3"
              "d\xC5\xBA");  // "Łódź" as UTF-8
        t.start();
        for (const char* field : {"txtArtist", "txtTitel", "txtAlbum", "txtAr", "txtKommentarer"}) {
            t.type(field, u"łé"_s);  // Windows-1252 holds only the second
            QCOMPARE(t.text(field), u"é"_s);
        }
        QCOMPARE(t.child<QLineEdit>("txtArtist")->maxLength(), 30);
        QCOMPARE(t.child<QLineEdit>("txtAr")->maxLength(), 4);
        t.type("txtFilnamn", u"Łódź"_s);
        QCOMPARE(t.text("txtFilnamn"), u"Łódź"_s);

        t.click(t.row("u"));
        QCOMPARE(t.text("txtArtist"), u"Łódź"_s);
        const QByteArray u = t.bytes("u");
        t.press("cmdSpara");
        QCOMPARE(t.bytes("u"), u);
        t.type("txtArtist", u"Łódź 2ł"_s);  // the new ł is dropped, the shown ones stay
        QCOMPARE(t.text("txtArtist"), u"Łódź 2"_s);
    }

    // Names a Mac wrote (decomposed: a letter and its combining mark) are shown as the letters
    // they stand for, and a save with the name as shown neither asks nor renames. A name that
    // looks like UTF-8 read as Windows-1252 is a name all the same.
    void decomposedNamesAreShownComposed() {
        WindowFixture t;
        const QString nfd = u"A\u030asa - La\u030at"_s;
        const QString nfc = u"\u00c5sa - L\u00e5t"_s;
        t.mp3(t.music, nfd + u".mp3"_s);
        t.mp3(t.music, u"Ã¥.mp3"_s);
        t.start();
        QVERIFY(t.row(u"Ã¥"_s) >= 0);
        const int r = t.row(nfd);
        QCOMPARE(t.cell(r, 0), nfc);
        t.click(r);
        QCOMPARE(t.text("txtFilnamn"), nfc);
        t.type("txtAlbum", u"Album"_s);
        t.press("cmdSpara");
        QVERIFY(t.boxes.shown.empty());
        QVERIFY(present(t.path(nfd)));
        QCOMPARE(t.cell(r, 3), u"Album"_s);
    }
};

SORVEL_WIDGET_TEST_MAIN(CommandsTest)
#include "commands_test.moc"
