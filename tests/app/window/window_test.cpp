// The main window: start-up and shutdown with the settings file, placement and layout, the file
// list with its selection, editor, keys and pop-up menu, what screen readers hear, the status
// bar, and the drive and folder choosers.
#include "window_fixture.h"

#include "app/folder_list.h"
#include "app/resources.h"
#include "app/twips.h"
#include "platform/names.h"

#include <sys/stat.h>
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
#include <QStatusBar>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using Calls = std::vector<std::string>;
using namespace Qt::StringLiterals;

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
    void noOrABrokenSettingsFileRestoresNothing_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("none") << QByteArray();
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
        QCOMPARE(w.folder().split(), 0);
        QVERIFY(w.folder().katalog().isEmpty());  // nothing listed
        QVERIFY(f.boxes.shown.empty());
        QVERIFY(f.child("frmSplash")->isVisible());  // no listing found files to hide it
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
        QCOMPARE(f.w->folder().katalog(), f.music.path());
        QCOMPARE(f.rows().rowCount(), 3);
        QCOMPARE(f.w->folder().split(), 4);
        QVERIFY(!f.child("frmSplash")->isVisible());
        QCOMPARE(f.w->frameGeometry(), tw().rect(750, 1500, 11250, 7500));

        f.child<QAction>("mnuFilnamn2tagNr2")->trigger();
        byMenu ? f.child<QAction>("mnuAvsluta")->trigger() : void(f.w->close());
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
        QCOMPARE(savedPlace(f), asked);
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
        QVERIFY(screen.contains(savedPlace(f)));
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
        QCOMPARE(t.text("txtArtist"), u"Cher"_s);
        QCOMPARE(t.cell(t.row("c"), 1), u"Cher"_s);
        t.click(t.row("b"));  // no trailer
        QCOMPARE(t.text("txtArtist"), QString());
        QCOMPARE(combo->currentIndex(), -1);

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
        QCOMPARE(t.cell(t.w->currentRow(), 0), u"a"_s);
        QCOMPARE(t.w->selectedRows(), std::vector<int>{t.w->currentRow()});

        // Rows but none current: the editor keeps what it shows.
        t.type("txtArtist", u"Ny"_s);
        t.list->selectionModel()->clear();
        t.w->ListView1_Click();
        QCOMPARE(t.text("txtArtist"), u"Ny"_s);
    }

    void keysMoveAndTheRightButtonOpensTheMenu() {
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
        QCOMPARE(t.text("txtFilnamn"), u"c"_s);
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
        QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(),
                 u"Inga MP3 filer funna i katalogen "_s + empty.path() + u'.');
        for (const char* f : {"txtFilnamn", "txtArtist", "txtAr", "Combo1", "cmdSpara"})
            QVERIFY(!t.child(f)->isEnabled());
        QVERIFY(t.text("txtArtist").isEmpty());
        QVERIFY(t.boxes.shown.empty());

        // A folder gone since it was listed is told on F5, and the list stays empty.
        auto gone = std::make_unique<TempFolder>();
        t.mp3(*gone, u"x.mp3"_s, "X");
        QCOMPARE(t.w->applyFolder(gone->path().chopped(1)), code::kOk);
        QCOMPARE(t.text("txtArtist"), u"X"_s);
        gone.reset();
        QTest::keyClick(t.list, Qt::Key_F5);
        QCOMPARE(t.rows().rowCount(), 0);
        QVERIFY(t.text("txtArtist").isEmpty());
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
        QCOMPARE(t.w->folder().katalog(), odd + u'/');
        QCOMPARE(t.names(), QStringList{u"inne"_s});

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
        QCOMPARE(t.w->folder().katalog(), usb.path());
        QCOMPARE(t.names(), QStringList{u"u"_s});
    }
};

SORVEL_WIDGET_TEST_MAIN(WindowTest)
#include "window_test.moc"
