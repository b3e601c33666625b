// The main window: start-up and shutdown with the settings file, layout, the file list with its
// selection, editor, sorting, keys and pop-up menu, and the drive and folder choosers.
#include "window_fixture.h"

#include "app/folder_list.h"
#include "app/resources.h"
#include "app/twips.h"
#include "platform/desktop_posix.h"
#include "platform/names.h"
#include "support/test_desktop.h"
#include "tag/genre.h"

#include <sys/stat.h>
#include <QAccessible>
#include <QAction>
#include <QCollator>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <cstring>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using Calls = std::vector<std::string>;
using namespace Qt::StringLiterals;

class WindowTest : public QObject {
    Q_OBJECT

    static app::Twips tw() { return app::Twips::of(QGuiApplication::primaryScreen()); }
    static QStringList column(const app::FileListModel& rows, int c) {
        QStringList out;
        for (int r = 0; r < rows.rowCount(); ++r)
            out << rows.data(rows.index(r, c), Qt::DisplayRole).toString();
        return out;
    }

private Q_SLOTS:
    void noOrABrokenSettingsFileRestoresNothing_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("none") << QByteArray();
        QTest::newRow("seven lines")
            << QByteArray("x\r\n%1\r\n0\r\n1500\r\n3000\r\n12000\r\n8250\r\n");
        QTest::newRow("folder gone")
            << QByteArray("x\r\n%1/borta\r\n0\r\n1500\r\n3000\r\n12000\r\n8250\r\n2\r\n");
    }
    void noOrABrokenSettingsFileRestoresNothing() {
        QFETCH(QByteArray, text);
        WindowFixture f;
        if (!text.isEmpty())
            writeAll(f.iniPath(),
                     QString::fromLatin1(text).arg(f.music.path().chopped(1)).toLatin1());
        app::frmMain& w = f.make();
        w.Form_Load();
        QCOMPARE(w.fil2tagNr, 0);
        QVERIFY(w.katalog.isEmpty());  // nothing scanned
        QVERIFY(f.boxes.shown.empty());
        QVERIFY(f.child("frmSplash")->isVisible());  // no scan found files to hide it
        QCOMPARE(w.width(), tw().x(11790));          // the design's client area
        QCOMPARE(f.child<QComboBox>("Combo1")->count(), tag::kGenreCount);
        // Labels name their fields.
        QCOMPARE(f.child<QLabel>("Label8")->buddy(), f.child("txtKommentarer"));
        // Qt's own texts are Swedish too, such as a text field's context menu.
        app::installQtTexts();
        const std::unique_ptr<QMenu> menu(
            f.child<QLineEdit>("txtArtist")->createStandardContextMenu());
        QCOMPARE(menu->actions().first()->text().section(u'\t', 0, 0), u"&Ångra"_s);
    }

    void restoresFolderStateAndPlaceAndWritesThemBackOnce_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("close box") << false;
        QTest::newRow("&Avsluta") << true;
    }
    void restoresFolderStateAndPlaceAndWritesThemBackOnce() {
        QFETCH(bool, byMenu);
        WindowFixture f;
        f.start(4);
        QCOMPARE(f.w->katalog, f.music.path());
        QCOMPARE(f.rows().rowCount(), 3);
        QCOMPARE(f.w->fil2tagNr, 4);
        QVERIFY(!f.child("frmSplash")->isVisible());
        QCOMPARE(f.w->frameGeometry(), tw().rect(750, 1500, 11250, 7500));

        f.w->fil2tagNr = 2;
        byMenu ? f.child<QAction>("mnuAvsluta")->trigger() : void(f.w->close());
        QVERIFY(!f.w->isVisible());
        ScriptedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 2);
        const std::string folder = f.music.path().chopped(1).toStdString();
        QCOMPARE(back.calls, (Calls{"drive " + folder, "folder " + folder, "state 0", "top 1500",
                                    "left 750", "width 11250", "height 7500"}));
        // Whatever happens to the window now, the file is not written a second time.
        QVERIFY(QFile::remove(f.iniPath()));
        f.w->close();
        f.window.reset();
        QVERIFY(!QFile::exists(f.iniPath()));
    }

    void placeKeptWhereTheFrameIsKnownOnlyOnScreen_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("restore");
        QTest::newRow("normal") << 0 << false;
        QTest::newRow("maximised") << 2 << false;
        QTest::newRow("maximised, then normal") << 2 << true;
    }
    void placeKeptWhereTheFrameIsKnownOnlyOnScreen() {
        QFETCH(int, state);
        QFETCH(bool, restore);
        WindowFixture f;
        f.saveIni(f.music.path().chopped(1), state);
        app::frmMain& w = f.make();
        w.Form_Load();
        // As such window systems do: the window itself where its frame was asked for.
        const QRect asked = tw().rect(750, 1500, 11250, 7500);
        w.setGeometry(asked);
        w.setWindowState(state == 2 ? Qt::WindowMaximized : Qt::WindowNoState);
        w.show();
        if (restore)
            w.setWindowState(Qt::WindowNoState);
        if (state == 0 || restore)
            QTRY_COMPARE(w.frameGeometry(), asked);
        // So the next start finds the same place, not one a title bar higher.
        w.close();
        ScriptedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 1);
        QCOMPARE(Calls(back.calls.end() - 4, back.calls.end()),
                 (Calls{"top 1500", "left 750", "width 11250", "height 7500"}));
    }

    // A place saved on a monitor since unplugged, or a size from a larger one: the window comes
    // up on the screen, fitted to it, and is saved so.
    void placeOffEveryScreenOrLargerThanItComesBackOnIt_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<QRectF>("saved");  // left, top, width, height in twips
        QTest::newRow("right of the screen") << 0 << QRectF(60000, 1500, 12000, 8250);
        QTest::newRow("above and left of it") << 0 << QRectF(-30000, -30000, 12000, 8250);
        QTest::newRow("larger than it") << 0 << QRectF(0, 0, 60000, 40000);
        QTest::newRow("maximised, right of it") << 2 << QRectF(60000, 1500, 12000, 8250);
    }
    void placeOffEveryScreenOrLargerThanItComesBackOnIt() {
        QFETCH(int, state);
        QFETCH(QRectF, saved);
        WindowFixture f;
        QCOMPARE(app::saveSettings(f.iniPath(), {f.music.path().chopped(1), state, saved.top(),
                                                 saved.left(), saved.width(), saved.height(), 1}),
                 code::kOk);
        f.make().Form_Load();
        f.w->show();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(f.w->isMaximized(), state == 2);
        if (state == 0)
            QVERIFY(screen.contains(f.w->frameGeometry()));
        f.w->close();
        ScriptedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 1);
        QRectF place;
        for (const std::string& call : back.calls) {
            const auto value = [&](const char* what) {
                return call.rfind(what, 0) == 0 ? std::stod(call.substr(std::strlen(what))) : -1.0;
            };
            if (value("top ") != -1.0)
                place.setTop(value("top "));
            if (value("left ") != -1.0)
                place.moveLeft(value("left "));
            if (value("width ") != -1.0)
                place.setWidth(value("width "));
            if (value("height ") != -1.0)
                place.setHeight(value("height "));
        }
        QVERIFY2(
            screen.contains(tw().rect(place.left(), place.top(), place.width(), place.height())),
            qPrintable(u"%1 %2 %3 %4"_s.arg(place.left())
                           .arg(place.top())
                           .arg(place.width())
                           .arg(place.height())));
    }

    void layoutAtTheMinimumSizeAboveItMaximisedAndMinimised() {
        QCOMPARE(app::Twips(96, 96).x(10470), 698);     // 15 twips a pixel
        QCOMPARE(app::Twips(144, 144).x(10590), 1059);  // 150 % scaling: 10
        WindowFixture f;
        f.start();
        f.w->resize(200, 150);  // far below the minimum: snaps back
        QTRY_COMPARE(f.w->frameGeometry().size(), QSize(tw().x(10590), tw().y(6360)));
        QCOMPARE(f.list->geometry(), tw().rect(0, 2640, 10470, 2780));
        for (const int c : {0, 1, 2, 3, 6})
            QCOMPARE(f.list->columnWidth(c), tw().x(1698));

        // Wider and higher: the list and its columns follow.
        f.w->resize(1000, 700);
        QTRY_COMPARE(f.w->width(), 1000);
        const double outer = tw().fromX(f.w->frameGeometry().width());
        QCOMPARE(f.list->height(), tw().y(tw().fromY(f.w->frameGeometry().height()) - 3580));
        QCOMPARE(f.list->columnWidth(1), tw().x((outer - 120 - 1980) / 5));

        f.w->setWindowState(Qt::WindowMaximized);
        QTRY_COMPARE(f.list->width(), f.w->frameGeometry().width() - tw().x(120));
        // Minimised, the layout is left alone, whatever size the window reports; restored, it is
        // laid out again.
        f.w->setWindowState(Qt::WindowMinimized);
        const QSize before = f.list->size();
        f.w->resize(300, 200);
        QCOMPARE(f.list->size(), before);
        f.w->setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(f.list->width(), tw().x(tw().fromX(f.w->frameGeometry().width()) - 120));

        // A window left maximised comes back so.
        WindowFixture g;
        g.saveIni(g.music.path().chopped(1), 2);
        g.make().Form_Load();
        g.w->show();
        QVERIFY(g.w->isMaximized());
    }

    void editorAndButtonsFollowTheSelectionAndSortingFlipsOnEveryHeaderClick() {
        WindowFixture t;
        t.start();
        QCOMPARE(t.w->selectedRows(), std::vector<int>{0});  // the first row, after a scan
        auto* combo = t.child<QComboBox>("Combo1");
        t.click(t.row("a"));
        QCOMPARE(QStringList({t.text("txtFilnamn"), t.text("txtArtist"), t.text("txtTitel"),
                              t.text("txtAlbum"), t.text("txtAr")}),
                 QStringList({u"a"_s, u"Abba"_s, u"Waterloo"_s, u"Arrival"_s, u"1974"_s}));
        QCOMPARE(combo->currentIndex(), tag::genre_tal2(u"Pop"_s) - 1);
        // Shown up to the first NUL, in the editor and the list; kept whole in the row.
        t.click(t.row("c"));
        QCOMPARE(t.text("txtArtist"), u"Cher"_s);
        QVERIFY(column(t.rows(), 1).contains(u"Cher"_s));
        QCOMPARE(t.rows().row(t.row("c")).artist.size(), 30);
        QCOMPARE(combo->currentText(), u"Rock"_s);
        t.click(t.row("b"));  // no trailer
        QCOMPARE(t.text("txtArtist"), QString());
        QCOMPARE(combo->currentIndex(), -1);

        // One row: save and rename; several: the six field buttons, for the current row's values.
        const char* several[] = {"cmdArtist", "cmdTitel", "cmdAlbum",
                                 "cmdAr",     "cmdGenre", "cmdKommentarer"};
        QVERIFY(t.shown("cmdSpara") && t.shown("cmdFilnamn") && !t.shown("cmdArtist"));
        t.click(t.row("a"), Qt::ControlModifier);
        QCOMPARE(t.w->selectedRows().size(), std::size_t{2});
        QCOMPARE(t.text("txtFilnamn"), u"a"_s);
        QVERIFY(!t.shown("cmdSpara") && !t.shown("cmdFilnamn"));
        for (const char* b : several)
            QVERIFY(t.shown(b));
        t.click(t.row("a"), Qt::ControlModifier);  // deselected again: one row left
        QVERIFY(t.shown("cmdSpara"));

        // The sort direction flips on every header click, for the whole list.
        auto clickHeader = [&](int section) {
            QHeaderView* header = t.list->header();
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + 5, 5));
        };
        const QString current = t.rows().row(t.w->currentRow()).name;
        clickHeader(2);  // "Titel": ascending first
        QCOMPARE(column(t.rows(), 2), (QStringList{QString(), u"Believe"_s, u"Waterloo"_s}));
        clickHeader(1);  // "Artist": the direction flips again, descending
        QCOMPARE(column(t.rows(), 1), (QStringList{u"Cher"_s, u"Abba"_s, QString()}));
        // Sorting moves the rows, not the selection.
        QCOMPARE(t.rows().row(t.w->currentRow()).name, current);
        QCOMPARE(t.w->selectedRows().size(), std::size_t{1});
        // A later scan keeps the order; the order is the Swedish one, without regard to case.
        clickHeader(1);
        const char* artists[] = {"\xc5sa", "zappa", "\xc4rlig", "bob"};  // Windows-1252
        for (const char* a : artists)
            t.mp3(t.music, QString::fromLatin1(a) + u".mp3"_s, a);
        t.w->mnuUppdatera_Click();
        QCOMPARE(column(t.rows(), 1), (QStringList{QString(), u"Abba"_s, u"bob"_s, u"Cher"_s,
                                                   u"zappa"_s, u"Åsa"_s, u"Ärlig"_s}));

        // Rows but none current: the editor keeps what it shows.
        t.type("txtArtist", u"Ny"_s);
        t.list->selectionModel()->clear();
        t.w->ListView1_Click();
        QCOMPARE(t.text("txtArtist"), u"Ny"_s);
    }

    // Sorting collates once per column and sorts by rank. The order must be exactly what a stable
    // sort with the collator's own comparison of the shown texts gives: Swedish å ä ö after z,
    // case ignored, a tag text read up to its NUL or as UTF-8, equal texts kept in the order the
    // list had, in both directions, across rows changed, removed and added between sorts.
    void sortByRanksIsTheStableCollatorOrder() {
        QCollator collator(QLocale(QLocale::Swedish, QLocale::Sweden));
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        collator.setNumericMode(false);
        collator.setIgnorePunctuation(false);
        const QStringList pieces = {
            u""_s,    u"abba"_s, u"ABBA"_s, u"Abba\0zz"_s,     u"åsa"_s,  u"Åsa"_s, u"ärlig"_s,
            u"Ö"_s,   u"z"_s,    u"Z"_s,    u"aa"_s,           u"ä"_s,    u"10"_s,  u"9"_s,
            u"a b"_s, u"a-b"_s,  u"é"_s,    u"\u00c3\u00a5"_s, u"å\0Ö"_s, u"e"_s};
        // Names too collate alike; a number after the name tells the rows apart.
        const QStringList names = {u"abc"_s, u"ABC"_s, u"åke"_s, u"Åke"_s, u"ola"_s, u"öl"_s};
        std::uint32_t seed = 7;
        auto pick = [&](const QStringList& from) {
            seed = seed * 1103515245u + 12345u;
            return from.at(
                static_cast<qsizetype>((seed >> 16) % static_cast<unsigned>(from.size())));
        };
        int made = 0;
        auto makeRows = [&](int n) {
            std::vector<browse::Row> rows;
            for (int i = 0; i < n; ++i, ++made) {
                rows.push_back({pick(names),
                                pick(pieces),
                                pick(pieces),
                                pick(pieces),
                                pick(pieces),
                                pick(pieces),
                                u"#%1"_s.arg(made),
                                0,
                                {}});
            }
            return rows;
        };
        std::vector<browse::Row> expected = makeRows(400);
        app::FileListModel model;
        model.append(std::vector<browse::Row>(expected));
        bool ascending = false;
        auto resort = [&](int column) {
            std::stable_sort(
                expected.begin(), expected.end(), [&](const browse::Row& a, const browse::Row& b) {
                    const int c = collator.compare(app::FileListModel::shown(a, column),
                                                   app::FileListModel::shown(b, column));
                    return ascending ? c < 0 : c > 0;
                });
            return model.rows() == expected;
        };
        auto sortBoth = [&](int column) {
            model.sortByColumn(column);
            ascending = !ascending;
            return resort(column) &&
                   model.sortOrder() == (ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        };
        for (const int column : {1, 1, 2, 0, 0, 3, 1, 4, 5, 5, 6})
            QVERIFY2(sortBoth(column), qPrintable(u"column %1"_s.arg(column)));
        // A changed row, a removed one and rows added to the sorted list: ranks still hold.
        browse::Row changed = expected[10];
        changed.artist = u"Ärlig"_s;
        model.setRow(10, changed);
        expected[10] = changed;
        QVERIFY(sortBoth(1));
        model.removeRowAt(3);
        expected.erase(expected.begin() + 3);
        QVERIFY(sortBoth(2));
        std::vector<browse::Row> more = makeRows(50);
        model.append(std::vector<browse::Row>(more));
        expected.insert(expected.end(), more.begin(), more.end());
        // An append to a sorted list sorts it, by the same column in the same direction.
        QVERIFY(resort(model.sortColumn()));
        for (const int column : {1, 1, 0, 2})
            QVERIFY2(sortBoth(column), qPrintable(u"column %1"_s.arg(column)));
    }

    // Ctrl+A selects every row as one range, and the editor's buttons follow as for any selection.
    void selectAllIsOneRangeAndTheCountFollowsToggles() {
        WindowFixture t;
        t.start();
        QTest::keyClick(t.list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(t.list->selectionModel()->selection().size(), 1);
        QCOMPARE(t.w->selectedRows(), (std::vector<int>{0, 1, 2}));
        QVERIFY(!t.shown("cmdSpara") && t.shown("cmdArtist"));
        t.click(1, Qt::ControlModifier);  // splits the range
        QCOMPARE(t.w->selectedRows(), (std::vector<int>{0, 2}));
        t.click(2, Qt::ControlModifier);
        QCOMPARE(t.w->selectedRows(), std::vector<int>{0});
        QVERIFY(t.shown("cmdSpara") && !t.shown("cmdArtist"));
        // A selection of single cells, not whole rows, still counts only whole rows.
        t.list->selectionModel()->select(t.rows().index(1, 2), QItemSelectionModel::Select);
        QCOMPARE(t.w->selectedRows(), std::vector<int>{0});
    }

    void keysMoveAndRescanAndTheRightButtonOpensTheMenu() {
        WindowFixture t;
        t.start();
        // A key that moves refills the editor from the row it moved to.
        QTest::keyClick(t.list, Qt::Key_Down);
        QCOMPARE(t.w->currentRow(), 1);
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(1).name);
        // So does a letter that comes through an input method (a dead key, a compose sequence).
        QInputMethodEvent typed;
        typed.setCommitString(u"c"_s);
        QApplication::sendEvent(t.list, &typed);
        QCOMPARE(t.w->currentRow(), t.row("c"));
        QCOMPARE(t.text("txtFilnamn"), u"c"_s);
        // F5 rescans whatever the modifiers, from any control of the window.
        int files = 3;
        for (const auto m : {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier}) {
            t.mp3(t.music, u"new%1.mp3"_s.arg(files++));
            QTest::keyClick(m == Qt::NoModifier ? t.child("txtArtist") : t.list, Qt::Key_F5, m);
            QCOMPARE(t.rows().rowCount(), files);
        }
        // The right button opens the pop-up menu on the row under the pointer.
        auto* menu = t.child<QMenu>("mnuHoger");
        t.click(2, {}, Qt::RightButton);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(t.w->currentRow(), 2);
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(2).name);
        menu->close();
        // Other buttons leave the current row alone: the editor must go on showing the row that
        // "Spara tag" and the rename write to, and nothing is played.
        for (const Qt::MouseButton b : {Qt::MiddleButton, Qt::BackButton}) {
            t.click(0, {}, b);
            QTest::mouseDClick(t.list->viewport(), b, {}, t.at(1));
            QCOMPARE(t.w->currentRow(), 2);
            QCOMPARE(t.text("txtFilnamn"), t.rows().row(2).name);
        }
        QVERIFY(t.opener.opened.empty());
    }

    // A user without a mouse: the pop-up menu from the Menu key and Shift+F10 at the current
    // row, and Enter plays the row with the desktop's player.
    void theKeyboardOpensTheMenuAndPlays() {
        if (QStandardPaths::findExecutable(u"xdg-open"_s).isEmpty())
            QSKIP("xdg-open is not installed");
        TestDesktop desktop("audio/mpeg");
        platform::XdgOpener xdgOpen;
        WindowFixture t;
        t.realOpener = &xdgOpen;
        // An ID3v2 header and an MPEG frame header: audio/mpeg by content as well as by name.
        const QByteArray mpeg =
            QByteArray("ID3\x03\0\0\0\0\0\0\xff\xfb\x90\0", 14) + QByteArray(400, '\0');
        for (const char* base : {"a", "b", "c"})
            writeAll(t.path(QString::fromLatin1(base)), mpeg + t.bytes(base));
        t.start();
        t.list->setFocus();
        QTest::keyClick(t.list, Qt::Key_Down);
        const int current = t.w->currentRow();
        auto* menu = t.child<QMenu>("mnuHoger");
        for (const auto& [key, mods] :
             {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
            QTest::keyClick(t.list, key, mods);
            QTRY_VERIFY(menu->isVisible());
            const QRect row = t.list->visualRect(t.rows().index(current, 0));
            QVERIFY(menu->geometry().contains(t.list->viewport()->mapToGlobal(row.center())) ||
                    menu->pos() == t.list->viewport()->mapToGlobal(row.center()));
            QTest::keyClick(menu, Qt::Key_Escape);
            QTRY_VERIFY(!menu->isVisible());
        }
        QCOMPARE(t.w->currentRow(), current);
        QTest::keyClick(t.list, Qt::Key_Return);
        QCOMPARE(desktop.waitForProgram(),
                 platform::encodeName(t.music.file(browse::fileName(t.rows().row(current)))));
        QVERIFY(t.boxes.shown.empty());
    }

    // What a screen reader says of each control: a Swedish name, its role, and the tooltip as
    // its description.
    void everyControlHasANameAScreenReaderSays() {
        WindowFixture t;
        t.start();
        const struct {
            const char* control;
            QString name;
            QAccessible::Role role;
        } controls[] = {
            {"Drive1", u"Enhet:"_s, QAccessible::ComboBox},
            {"Dir1", u"Katalog"_s, QAccessible::Tree},
            {"ListView1", u"Filer"_s, QAccessible::Tree},
            {"Combo1", u"Genre:"_s, QAccessible::ComboBox},
            {"StatusBar1Panel1", u"Status"_s, QAccessible::StaticText},
            {"StatusBar1Panel2", u"ID3v2-tagg"_s, QAccessible::StaticText},
            {"ProgressBar1", u"Förlopp"_s, QAccessible::ProgressBar},
            {"cmdArtist", u"Spara artist i markerade filer"_s, QAccessible::Button},
            {"cmdTitel", u"Spara titel i markerade filer"_s, QAccessible::Button},
            {"cmdAlbum", u"Spara album i markerade filer"_s, QAccessible::Button},
            {"cmdAr", u"Spara årtal i markerade filer"_s, QAccessible::Button},
            {"cmdGenre", u"Spara genre i markerade filer"_s, QAccessible::Button},
            {"cmdKommentarer", u"Spara kommentarer i markerade filer"_s, QAccessible::Button},
            {"cmdFilnamn", u"Byt filnamn"_s, QAccessible::Button},
            {"txtArtist", u"Artist:"_s, QAccessible::EditableText},
            {"cmdSpara", u"Spara tag"_s, QAccessible::Button},
        };
        for (const auto& c : controls) {
            QWidget* w = t.child(c.control);
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a != nullptr, c.control);
            if (c.role == QAccessible::ComboBox) {
                // Named by the label it is the buddy of; its own name is its current value.
                const auto labels = a->relations(QAccessible::Label);
                QCOMPARE(labels.size(), 1);
                QCOMPARE(labels[0].first->text(QAccessible::Name), c.name);
            } else {
                QCOMPARE(a->text(QAccessible::Name), c.name);
            }
            QCOMPARE(a->role(), c.role);
            QCOMPARE(a->text(QAccessible::Description), w->toolTip());
        }
        QCOMPARE(
            QAccessible::queryAccessibleInterface(t.child("cmdAr"))->text(QAccessible::Description),
            u"Spara det inskrivna årtalet i smatliga markerade filer."_s);
        // "&Ångra" tells what it will take back, and a screen reader can press it.
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
        QCOMPARE(undo->role(), QAccessible::MenuItem);
        QCOMPARE(undo->text(QAccessible::Description), u"Ångra: Spara tag till 1 fil"_s);
        undo->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(t.bytes("a"), a);
        QVERIFY(undo->state().disabled);
        // The folder tree's one column is named, not numbered.
        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(t.child("Dir1"));
        QCOMPARE(tree->tableInterface()->columnDescription(0), u"Mappar"_s);
    }

    void statusIsPaintedAtMostEvery20Milliseconds() {
        WindowFixture t;
        for (int i = 0; i < 600; ++i)
            t.mp3(t.music, u"m%1.mp3"_s.arg(i), "M");
        t.start();
        auto* status = t.child<QStatusBar>("StatusBar1");
        // Paints of the window's first exposure would be counted against the scan on a busy
        // machine.
        QVERIFY(QTest::qWaitForWindowExposed(t.w));
        QTest::qWait(50);
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                paints += e->type() == QEvent::Paint ? 1 : 0;
                return false;
            }
        } counter;
        status->installEventFilter(&counter);
        QElapsedTimer clock;
        clock.start();
        t.w->mnuUppdatera_Click();
        const qint64 ms = clock.elapsed();
        // Every file set the status and the progress; far fewer paints reached the screen.
        QVERIFY2(counter.paints <= ms / 20 + 2, qPrintable(QString::number(counter.paints)));
        // What was set last shows once the window is back in its event loop.
        QTRY_COMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);
        QCOMPARE(t.child<QProgressBar>("ProgressBar1")->maximum(), 603);
    }

    void emptyAndVanishedFoldersLeaveAnEmptyDisabledEditor() {
        WindowFixture t;
        t.start();
        TempFolder empty;
        QCOMPARE(t.w->applyFolder(empty.path().chopped(1)), code::kOk);
        QCOMPARE(t.rows().rowCount(), 0);
        QCOMPARE(t.w->statusText(), u"Inga MP3 filer funna i katalogen "_s + empty.path() + u'.');
        for (const char* f : {"txtFilnamn", "txtArtist", "txtAr"}) {
            QVERIFY(t.text(f).isEmpty());
            QVERIFY(!t.child(f)->isEnabled());
        }
        QVERIFY(!t.child("cmdSpara")->isEnabled());
        QCOMPARE(t.child<QComboBox>("Combo1")->currentIndex(), -1);
        QVERIFY(t.boxes.shown.empty());

        // A folder gone since it was listed is told on F5, and the list stays empty.
        auto gone = std::make_unique<TempFolder>();
        t.mp3(*gone, u"x.mp3"_s, "X");
        QCOMPARE(t.w->applyFolder(gone->path().chopped(1)), code::kOk);
        QCOMPARE(t.rows().rowCount(), 1);
        gone.reset();
        QTest::keyClick(t.list, Qt::Key_F5);
        QCOMPARE(t.rows().rowCount(), 0);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(t.boxes.shown[0].text.contains(u"går inte att läsa"_s));
    }

    void foldersOpenByEnterOrDoubleClickAndDrivesThatFailOfferRetryOrTellTheirNumber() {
        WindowFixture t;
        TempFolder usb;
        const QString root = usb.path().chopped(1);
        t.drives.drives.push_back({root, u"USB"_s});
        // A folder whose name is not UTF-8 (Latin-1 "år"), holding one file.
        const QByteArray raw = platform::encodeName(t.music.path()) + "\xe5r";
        QCOMPARE(::mkdir(raw.constData(), 0755), 0);
        const QString odd = platform::decodeName(raw.toStdString());
        writeAll(odd + u"/inne.mp3"_s, audio(300));
        t.start();

        auto* dir1 = t.child<app::FolderList>("Dir1");
        QTest::keyClick(dir1, Qt::Key_Down);  // highlights the subfolder: no scan
        QCOMPARE(t.w->katalog, t.music.path());
        QTest::keyClick(dir1, Qt::Key_Return);
        QCOMPARE(t.w->katalog, odd + u'/');
        QCOMPARE(t.names(), QStringList{u"inne"_s});

        // Back up by a double click on the parent, as the window system sends it: a click, then
        // the second press as a double click.
        const QPoint at = dir1->visualRect(dir1->currentIndex().parent()).center();
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, at);
        QMouseEvent second(QEvent::MouseButtonDblClick, at, dir1->viewport()->mapToGlobal(at),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dir1->viewport(), &second);
        QTest::mouseRelease(dir1->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(t.w->katalog, t.music.path());
        QCOMPARE(t.rows().rowCount(), 3);

        t.drives.checks[root] = {code::kDeviceUnavailable, code::kDeviceUnavailable, code::kAccess};
        t.boxes.answers = {Answer::Retry, Answer::Cancel};
        const QString before = t.w->dir1Path();
        auto* drive1 = t.child<QComboBox>("Drive1");
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        for (const auto& m : t.boxes.shown) {
            QCOMPARE(m.text, u"Enhet "_s + root + u" går inte att komma åt."_s);
            QCOMPARE(m.buttons, platform::MessageBoxes::Buttons::RetryCancel);
        }
        // Cancel: both choosers agree again on the folder on show.
        QCOMPARE(drive1->currentIndex(), 0);
        QCOMPARE(t.w->dir1Path(), before);

        // Any other failure is told by its number; the drive list keeps the new drive.
        t.boxes.shown.clear();
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].text, u"Fel av typen 75."_s);
        QCOMPARE(drive1->currentIndex(), 1);

        // Reachable again: choosing it opens its root and lists it.
        t.mp3(usb, u"u.mp3"_s, "Usb");
        drive1->setCurrentIndex(0);
        drive1->setCurrentIndex(1);
        QCOMPARE(t.w->katalog, usb.path());
        QCOMPARE(t.rows().rowCount(), 1);
    }
};

SORVEL_WIDGET_TEST_MAIN(WindowTest)
#include "window_test.moc"
