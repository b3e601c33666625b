// The main window: start-up and shutdown with the settings file, placement and layout, the file
// list with its selection, editor, keys and pop-up menu, what screen readers hear, the status
// bar, and the drive and folder choosers. Then every control and menu entry: clicked, pressed or
// triggered as a user does, found by its object name, it leaves its mark on disk or in the list.
// What the commands do in depth is proved on the folder itself; here, that each control hands it
// the right rows and input, and that the window shows what it left.
#include "window_fixture.h"

#include "app/folder_list.h"
#include "app/resources.h"
#include "app/twips.h"
#include "platform/names.h"
#include "support/other_tags.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <algorithm>
#include <functional>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using Calls = std::vector<std::string>;
using Paths = std::vector<QString>;
using Step = std::function<void(WindowFixture&)>;
Q_DECLARE_METATYPE(Step)
using namespace Qt::StringLiterals;

namespace {
void trigger(const WindowFixture& t, const char* action) {
    t.child<QAction>(action)->trigger();
}
}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

    static app::Twips tw() { return app::Twips::of(QGuiApplication::primaryScreen()); }
    /// The place the settings file holds, as a rectangle in pixels.
    static QRect savedPlace(const WindowFixture& f) {
        const Calls calls = f.saved();
        const auto at = [&](std::size_t i) {
            return std::stod(calls.at(i).substr(calls[i].find(' ')));
        };
        return tw().rect(at(4), at(3), at(5), at(6));
    }

private Q_SLOTS:
    void noOrABrokenSettingsFileRestoresNothing() {
        for (const bool none : {true, false}) {
            WindowFixture f;
            if (!none)
                writeAll(f.iniPath(), "x\r\n" + f.music.path().toLatin1() +
                                          "borta\r\n0\r\n1500\r\n3000\r\n12000\r\n8250\r\n2\r\n");
            f.make().Form_Load();
            QVERIFY(f.w->folder().split() == 0 && f.w->folder().katalog().isEmpty());
            QVERIFY(f.boxes.shown.empty());
            QVERIFY(f.child("frmSplash")->isVisible());  // no listing found files to hide it
            // Qt's own texts are Swedish too, such as a text field's context menu.
            app::installQtTexts();
            const std::unique_ptr<QMenu> menu(
                f.child<QLineEdit>("txtArtist")->createStandardContextMenu());
            QCOMPARE(menu->actions().first()->text().section(u'\t', 0, 0), u"&Ångra"_s);
        }
    }

    void restoresFolderStateAndPlaceAndWritesThemBackOnce() {
        for (const bool byMenu : {false, true}) {  // the close box or "&Avsluta"
            WindowFixture f;
            f.start(4);
            QVERIFY(f.w->folder().katalog() == f.music.path() && f.rows().rowCount() == 3);
            QVERIFY(f.w->folder().split() == 4 && !f.child("frmSplash")->isVisible());

            trigger(f, "mnuFilnamn2tagNr2");
            byMenu ? trigger(f, "mnuAvsluta") : void(f.w->close());
            QVERIFY(!f.w->isVisible());
            const std::string folder = f.music.path().chopped(1).toStdString();
            QCOMPARE(f.saved(), (Calls{"drive " + folder, "folder " + folder, "state 0", "top 1500",
                                       "left 750", "width 11250", "height 7500", "split 2"}));
            // Whatever happens to the window now, the file is not written a second time.
            QVERIFY(QFile::remove(f.iniPath()));
            f.w->close();
            f.window.reset();
            QVERIFY(!QFile::exists(f.iniPath()));
        }
    }

    void placeKeptWhereTheFrameIsKnownOnlyOnScreen() {
        // Normal, maximised, and maximised then normal again.
        for (const auto& [state, restore] : {std::pair{0, false}, {2, false}, {2, true}}) {
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
            QCOMPARE(savedPlace(f), asked);
        }
    }

    // A place saved on a monitor since unplugged, or a size from a larger one: the window comes
    // up on the screen, fitted to it, and is saved so.
    void placeOffEveryScreenOrLargerThanItComesBackOnIt() {
        // Right of the screen, above and left of it, larger than it; maximised, right of it.
        // Left, top, width and height in twips.
        for (const auto& [state, saved] : {std::pair{0, QRectF(60000, 1500, 12000, 8250)},
                                           {0, QRectF(-30000, -30000, 12000, 8250)},
                                           {0, QRectF(0, 0, 60000, 40000)},
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
            QVERIFY(screen.contains(savedPlace(f)));
        }
    }

    void layoutAtTheMinimumSizeAboveItMaximisedAndMinimised() {
        WindowFixture f;
        f.start();
        auto* status = f.child("StatusBar1");
        const auto listFits = [&] {
            const QRect list(f.list->mapTo(f.w, QPoint()), f.list->size());
            return list.right() < f.w->width() && list.bottom() < status->geometry().top();
        };
        f.w->resize(200, 150);  // far below the minimum: snaps back
        QTRY_VERIFY(f.w->width() > 600 && f.w->height() > 350);
        QVERIFY(listFits());
        // Wider and higher: the list and its columns grow with the window.
        const QSize list = f.list->size();
        const int column = f.list->columnWidth(1);
        f.w->resize(f.w->width() + 100, f.w->height() + 100);
        QTRY_COMPARE(f.list->size(), list + QSize(100, 100));
        QVERIFY(qAbs(f.list->columnWidth(1) - column - 20) <= 1);  // a fifth of it each
        QVERIFY(listFits());
        const int margin = f.w->width() - f.list->width();
        f.w->setWindowState(Qt::WindowMaximized);
        QTRY_COMPARE(f.list->width(), f.w->width() - margin);
        // Minimised, the layout is left alone, whatever size the window reports; restored, it is
        // laid out again.
        f.w->setWindowState(Qt::WindowMinimized);
        const QSize before = f.list->size();
        f.w->resize(300, 200);
        QCOMPARE(f.list->size(), before);
        f.w->setWindowState(Qt::WindowNoState);
        QTRY_VERIFY(listFits() && f.w->width() > 600);
    }

    void editorAndButtonsFollowTheSelectionAndSortingFlipsOnEveryHeaderClick() {
        WindowFixture t;
        t.start();
        QCOMPARE(t.w->selectedRows(), std::vector<int>{0});  // the first row, after a listing
        auto* combo = t.child<QComboBox>("Combo1");
        t.click(t.row("a"));
        QCOMPARE(
            QStringList({t.text("txtFilnamn"), t.text("txtArtist"), t.text("txtTitel"),
                         t.text("txtAlbum"), t.text("txtAr"), combo->currentText()}),
            QStringList({u"a"_s, u"Abba"_s, u"Waterloo"_s, u"Arrival"_s, u"1974"_s, u"Pop"_s}));
        // Shown up to the first NUL, in the editor and the list.
        t.click(t.row("c"));
        QVERIFY(t.text("txtArtist") == u"Cher"_s && t.cell(t.row("c"), 1) == u"Cher"_s);
        t.click(t.row("b"));  // no trailer
        QVERIFY(t.text("txtArtist").isEmpty() && combo->currentIndex() == -1);

        // One row: save and rename; several: the six field buttons.
        QVERIFY(t.shown("cmdSpara") && t.shown("cmdFilnamn") && !t.shown("cmdArtist"));
        t.click(t.row("a"), Qt::ControlModifier);
        QCOMPARE(t.text("txtFilnamn"), u"a"_s);
        QVERIFY(!t.shown("cmdSpara") && !t.shown("cmdFilnamn"));
        for (const char* b :
             {"cmdArtist", "cmdTitel", "cmdAlbum", "cmdAr", "cmdGenre", "cmdKommentarer"})
            QVERIFY(t.shown(b));
        t.click(t.row("a"), Qt::ControlModifier);  // deselected again: one row left
        QVERIFY(t.shown("cmdSpara"));
        // Ctrl+A selects every row as one range; a Ctrl+click splits it.
        QTest::keyClick(t.list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(t.list->selectionModel()->selection().size(), 1);
        t.click(1, Qt::ControlModifier);
        QCOMPARE(t.w->selectedRows(), (std::vector<int>{0, 2}));
        QVERIFY(!t.shown("cmdSpara") && t.shown("cmdArtist"));
        // A selection of single cells, not whole rows, still counts only whole rows.
        t.list->selectionModel()->select(t.rows().index(1, 2), QItemSelectionModel::Select);
        QCOMPARE(t.w->selectedRows(), (std::vector<int>{0, 2}));

        // The direction flips on every header click; the rows move, not the selection.
        t.click(t.row("a"));
        QHeaderView* header = t.list->header();
        for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(1) + 5, 5));
            QVERIFY(header->isSortIndicatorShown() && header->sortIndicatorOrder() == order);
            QCOMPARE(t.cell(0, 1), order == Qt::AscendingOrder ? QString() : u"Cher"_s);
        }
        QVERIFY(t.cell(t.w->currentRow(), 0) == u"a"_s &&
                t.w->selectedRows() == std::vector<int>{t.w->currentRow()});

        // Rows but none current: the editor keeps what it shows, and the commands on one row
        // have nothing to act on.
        t.type("txtArtist", u"Ny"_s);
        t.list->selectionModel()->clear();
        t.w->ListView1_Click();
        QCOMPARE(t.text("txtArtist"), u"Ny"_s);
        const QByteArray a = t.bytes("a");
        t.w->cmdSpara_Click();
        t.w->cmdFilnamn_Click();
        trigger(t, "mnuHogerSpela");
        QVERIFY(t.bytes("a") == a && present(t.path(u"a"_s)) && t.opener.opened.empty());
        QVERIFY(t.boxes.shown.empty());
    }

    void keysMoveAndTheRightButtonOpensTheMenu() {
        WindowFixture t;
        t.start();
        // A key that moves refills the editor from the row it moved to.
        QTest::keyClick(t.list, Qt::Key_Down);
        QVERIFY(t.w->currentRow() == 1 && t.text("txtFilnamn") == t.rows().row(1).name);
        // So does a letter that comes through an input method (a dead key, a compose sequence).
        QInputMethodEvent typed;
        typed.setCommitString(u"c"_s);
        QApplication::sendEvent(t.list, &typed);
        QCOMPARE(t.text("txtFilnamn"), u"c"_s);
        // The right button opens the pop-up menu on the row under the pointer.
        auto* menu = t.child<QMenu>("mnuHoger");
        t.click(2, {}, Qt::RightButton);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(t.w->currentRow() == 2 && t.text("txtFilnamn") == t.rows().row(2).name);
        menu->close();
        // Other buttons leave the current row alone: the editor must go on showing the row that
        // "Spara tag" and the rename write to, and nothing is played.
        for (const Qt::MouseButton b : {Qt::MiddleButton, Qt::BackButton}) {
            t.click(0, {}, b);
            QTest::mouseDClick(t.list->viewport(), b, {}, t.at(1));
            QCOMPARE(t.w->currentRow(), 2);
        }
        QVERIFY(t.opener.opened.empty());
        // Without a mouse: the Menu key and Shift+F10 open the menu at the current row.
        t.list->setFocus();
        for (const auto& [key, mods] :
             {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
            QTest::keyClick(t.list, key, mods);
            QTRY_VERIFY(menu->isVisible());
            const QPoint row = t.list->viewport()->mapToGlobal(t.at(2));
            QVERIFY(menu->geometry().contains(row) || menu->pos() == row);
            QTest::keyClick(menu, Qt::Key_Escape);
            QTRY_VERIFY(!menu->isVisible());
        }
        QCOMPARE(t.w->currentRow(), 2);
    }

    // What a screen reader says of each control: a Swedish name, its role, and the tooltip as
    // its description.
    void everyControlHasANameAScreenReaderSays() {
        WindowFixture t;
        t.start();
        using R = QAccessible::Role;
        std::vector<std::tuple<QByteArray, QString, R>> controls = {
            {"Drive1", u"Enhet:"_s, R::ComboBox},
            {"Dir1", u"Katalog"_s, R::Tree},
            {"ListView1", u"Filer"_s, R::Tree},
            {"Combo1", u"Genre:"_s, R::ComboBox},
            {"StatusBar1Panel1", u"Status"_s, R::StaticText},
            {"StatusBar1Panel2", u"ID3v2-tagg"_s, R::StaticText},
            {"ProgressBar1", u"Förlopp"_s, R::ProgressBar},
            {"cmdFilnamn", u"Byt filnamn"_s, R::Button},
            {"txtArtist", u"Artist:"_s, R::EditableText},
            {"cmdSpara", u"Spara tag"_s, R::Button}};
        for (const auto& [b, field] : {std::pair{"Artist", u"artist"},
                                       {"Titel", u"titel"},
                                       {"Album", u"album"},
                                       {"Ar", u"årtal"},
                                       {"Genre", u"genre"},
                                       {"Kommentarer", u"kommentarer"}}) {
            controls.emplace_back(QByteArray("cmd") + b, u"Spara %1 i markerade filer"_s.arg(field),
                                  R::Button);
        }
        for (const auto& [control, name, role] : controls) {
            QWidget* w = t.child(control.constData());
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a != nullptr, control.constData());
            // A combo box is named by the label it is the buddy of; its own name is its value.
            const auto labels = a->relations(QAccessible::Label);
            QCOMPARE(role == R::ComboBox && labels.size() == 1
                         ? labels[0].first->text(QAccessible::Name)
                         : a->text(QAccessible::Name),
                     name);
            QCOMPARE(a->role(), role);
            QCOMPARE(a->text(QAccessible::Description), w->toolTip());
        }
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
        QVERIFY(undo != nullptr && undo->role() == QAccessible::MenuItem);
        QCOMPARE(undo->text(QAccessible::Description), u"Ångra: Spara tag till 1 fil"_s);
        undo->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(t.bytes("a") == a && undo->state().disabled);
        // The folder tree's one column is named, not numbered.
        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(t.child("Dir1"));
        QCOMPARE(tree->tableInterface()->columnDescription(0), u"Mappar"_s);
    }

    void statusIsPaintedAtMostEvery20Milliseconds() {
        WindowFixture t;
        for (int i = 0; i < 600; ++i)
            t.mp3(t.music, u"m%1.mp3"_s.arg(i), "M");
        t.start();
        // Paints of the window's first exposure would be counted against the listing on a busy
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
        t.child("StatusBar1")->installEventFilter(&counter);
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
        QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(),
                 u"Inga MP3 filer funna i katalogen "_s + empty.path() + u'.');
        for (const char* f : {"txtFilnamn", "txtArtist", "txtAr", "Combo1", "cmdSpara"})
            QVERIFY(!t.child(f)->isEnabled());
        QVERIFY(t.rows().rowCount() == 0 && t.text("txtArtist").isEmpty() && t.boxes.shown.empty());

        // A folder gone since it was listed is told on F5, and the list stays empty.
        auto gone = std::make_unique<TempFolder>();
        t.mp3(*gone, u"x.mp3"_s, "X");
        QCOMPARE(t.w->applyFolder(gone->path().chopped(1)), code::kOk);
        QCOMPARE(t.text("txtArtist"), u"X"_s);
        gone.reset();
        QTest::keyClick(t.list, Qt::Key_F5);
        QVERIFY(t.rows().rowCount() == 0 && t.text("txtArtist").isEmpty());
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
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
        QTest::keyClick(dir1, Qt::Key_Down);  // highlights the subfolder: no listing
        QCOMPARE(t.w->folder().katalog(), t.music.path());
        QTest::keyClick(dir1, Qt::Key_Return);
        QVERIFY(t.w->folder().katalog() == odd + u'/' && t.names() == QStringList{u"inne"_s});

        // Back up by a double click on the parent, as the window system sends it: a click, then
        // the second press as a double click.
        const QPoint at = dir1->visualRect(dir1->currentIndex().parent()).center();
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, at);
        QMouseEvent second(QEvent::MouseButtonDblClick, at, dir1->viewport()->mapToGlobal(at),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dir1->viewport(), &second);
        QTest::mouseRelease(dir1->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(t.w->folder().katalog(), t.music.path());

        t.drives.checks[root] = {code::kDeviceUnavailable, code::kDeviceUnavailable, code::kAccess};
        t.boxes.answers = {Answer::Retry, Answer::Cancel};
        const QString before = t.w->dir1Path();
        auto* drive1 = t.child<QComboBox>("Drive1");
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QCOMPARE(t.boxes.shown[1].buttons, platform::MessageBoxes::Buttons::RetryCancel);
        // Cancel: both choosers agree again on the folder on show.
        QVERIFY(drive1->currentIndex() == 0 && t.w->dir1Path() == before);

        // Any other failure is told by its number; the drive list keeps the new drive.
        t.boxes.shown.clear();
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(t.boxes.shown[0].text == u"Fel av typen 75."_s && drive1->currentIndex() == 1);

        // Reachable again: choosing it opens its root and lists it.
        t.mp3(usb, u"u.mp3"_s, "Usb");
        drive1->setCurrentIndex(0);
        drive1->setCurrentIndex(1);
        QVERIFY(t.w->folder().katalog() == usb.path() && t.names() == QStringList{u"u"_s});
    }

    void eachControlRunsItsCommand_data() {
        QTest::addColumn<Step>("run");
        // The six field buttons write their own field into the selected files only.
        const std::tuple<const char*, const char*, QString, int> fields[] = {
            {"txtArtist", "cmdArtist", u"Ny"_s, 1},
            {"txtTitel", "cmdTitel", u"Ny"_s, 2},
            {"txtAlbum", "cmdAlbum", u"Ny"_s, 3},
            {"txtAr", "cmdAr", u"2024"_s, 4},
            {"Combo1", "cmdGenre", u"Jazz"_s, 5},
            {"txtKommentarer", "cmdKommentarer", u"Ny"_s, 6}};
        for (const auto& [field, button, typed, column] : fields) {
            QTest::newRow(button) << Step([=](WindowFixture& t) {
                t.select({"a", "c"});
                if (auto* combo = t.child<QComboBox>(field))
                    combo->setCurrentText(typed);
                else
                    t.type(field, typed);
                t.press(button);
                QCOMPARE(QStringList({t.cell(t.row("c"), column), t.cell(t.row("b"), column)}),
                         QStringList({typed, QString()}));
            });
        }
        QTest::newRow("cmdFilnamn2Tag and its menu") << Step([](WindowFixture& t) {
            t.mp3(t.music, u"01 - Artist - Title.mp3"_s);
            t.w->mnuUppdatera_Click();
            t.w->move(0, 0);  // where the window leaves the menu room on the screen
            t.click(t.row("01 - Artist - Title"));
            auto* button = t.child<QPushButton>("cmdFilnamn2Tag");
            QTest::mouseClick(button, Qt::RightButton, {}, QPoint(10, 8));
            auto* menu = t.child<QMenu>("mnuFilnamn2tag");
            QTRY_VERIFY(menu->isVisible());
            QCOMPARE(menu->pos(), button->mapToGlobal(QPoint(10, 8)));  // where it was pressed
            trigger(t, "mnuFilnamn2tagNr2");
            menu->close();
            QVERIFY(t.child<QAction>("mnuFilnamn2tagNr2")->isChecked() &&
                    !t.child<QAction>("mnuFilnamn2tagNr1")->isChecked());
            t.press("cmdFilnamn2Tag");
            QCOMPARE(t.cell(t.row("01 - Artist - Title"), 1), u"Artist"_s);
            QCOMPARE(t.text("txtTitel"), u"Title"_s);  // the editor shows it at once
        });
        QTest::newRow("cmdSpara, cmdFilnamn, cmdTag2Filnamn") << Step([](WindowFixture& t) {
            t.click(t.row("c"));
            t.type("txtTitel", u"SOS"_s);
            t.press("cmdSpara");
            QCOMPARE(t.cell(t.row("c"), 2), u"SOS"_s);
            const int r = t.row("a");
            t.click(r);
            t.type("txtFilnamn", u"zz"_s);
            t.press("cmdFilnamn");
            QVERIFY(present(t.path(u"zz"_s)) && t.cell(r, 0) == u"zz"_s);
            t.press("cmdTag2Filnamn");
            QVERIFY(present(t.path(u"Abba - Waterloo"_s)));
            QVERIFY(t.boxes.shown.empty());
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
            QVERIFY(artist->text() == u"Ny"_s && t.bytes("a") == saved);
            QTest::keyClick(artist, Qt::Key_Z, Qt::ControlModifier);
            QVERIFY(artist->text() == u"Abba"_s && t.bytes("a") == before);
        });
        // It deletes as the last Delete press said; a file gone meanwhile is told, and the
        // folder listed again.
        QTest::newRow("mnuHogerRadera") << Step([](WindowFixture& t) {
            t.click(t.row("b"));
            t.boxes.answers = {Answer::Cancel};
            QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
            QCOMPARE(::unlink(platform::encodeName(t.path(u"b"_s)).constData()), 0);
            trigger(t, "mnuHogerRadera");
            QCOMPARE(t.boxes.shown.back().text, u"Filen hittades inte."_s);
            QVERIFY(t.row("b") == -1 && t.trash.trashed.empty());
        });
        for (const char* import : {"mnuId3v2", "mnuHogerId3v2"}) {
            QTest::newRow(import) << Step([import](WindowFixture& t) {
                // a.mp3 gets an ID3v2 tag naming its artist "ABBA", where its trailer says "Abba".
                using namespace sorvel::test::id3;
                writeAll(t.path(u"a"_s),
                         id3v2(3, frame(3, "TPE1", text(Enc::Latin1, u"ABBA"_s))) + t.bytes("a"));
                t.w->mnuUppdatera_Click();
                const int r = t.row("a");
                t.click(r);
                QCOMPARE(t.child<QLabel>("StatusBar1Panel2")->text(),
                         t.w->folder().otherTagText(static_cast<std::size_t>(r)));
                trigger(t, import);
                QVERIFY(t.cell(r, 1) == u"ABBA"_s && t.text("txtArtist") == u"ABBA"_s);
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
            std::sort(t.trash.trashed.begin(), t.trash.trashed.end());
            QCOMPARE(t.trash.trashed, (Paths{t.path(u"a"_s), t.path(u"b"_s), t.path(u"c"_s)}));
            QVERIFY(t.boxes.shown.empty());
        });
        // Played from the menu, by Enter, and by a real double click (press, release, double
        // click, release) on a row, but not on the empty space below the rows.
        QTest::newRow("mnuHogerSpela, Enter, double click") << Step([](WindowFixture& t) {
            t.click(t.row("c"));
            trigger(t, "mnuHogerSpela");
            QTest::keyClick(t.list, Qt::Key_Return);
            for (const QPoint p : {QPoint(5, t.list->viewport()->height() - 3), t.at(t.row("c"))}) {
                QTest::mouseClick(t.list->viewport(), Qt::LeftButton, {}, p);
                QTest::mouseDClick(t.list->viewport(), Qt::LeftButton, {}, p);
                QTest::mouseRelease(t.list->viewport(), Qt::LeftButton, {}, p);
            }
            QCOMPARE(t.opener.opened, Paths(3, t.path(u"c"_s)));
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

    // A tag field keeps out what a tag cannot hold, but not what a file's tag (stored as UTF-8)
    // already showed. Names a Mac wrote (decomposed) are shown composed, in the list and the
    // name field; a name that looks like UTF-8 read as Windows-1252 is a name all the same.
    void tagFieldsRefuseWhatATagCannotHoldAndNamesShowComposed() {
        WindowFixture t;
        t.mp3(t.music, u"u.mp3"_s,
              "\xC5\x81\xC3\xB3"
              "d\xC5\xBA");  // "Łódź" as UTF-8
        const QString nfd = u"A\u030asa - La\u030at"_s, nfc = u"\u00c5sa - L\u00e5t"_s;
        t.mp3(t.music, nfd + u".mp3"_s);
        t.mp3(t.music, u"Ã¥.mp3"_s);
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
        t.type("txtArtist", u"Łódź 2ł"_s);  // the new ł is dropped, the shown ones stay
        QCOMPARE(t.text("txtArtist"), u"Łódź 2"_s);

        QVERIFY(t.row(u"Ã¥"_s) >= 0);
        t.click(t.row(nfd));
        QVERIFY(t.cell(t.row(nfd), 0) == nfc && t.text("txtFilnamn") == nfc);
    }
};

SORVEL_WIDGET_TEST_MAIN(WindowTest)
#include "window_test.moc"
