// The file list: scanning, selection, the editor, sorting, keys, the pop-up menu, and the drive
// and folder choosers that lead to a scan.
#include "window_fixture.h"

#include "app/file_list_view.h"
#include "app/folder_list.h"
#include "platform/names.h"
#include "tag/genre.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

using namespace sorvel;
using namespace sorvel::test;

namespace {

/// A window showing a folder of three files: a.mp3 (Abba, Pop), b.mp3 (no trailer) and
/// c.mp3 (Cher, Rock, its fields padded with NUL bytes as most taggers write them).
struct ListWindow : WindowFixture {
    TempFolder music;
    app::frmMain* w = nullptr;
    app::FileListView* list = nullptr;

    TempFolder usb;

    explicit ListWindow(bool withUsb = false) {
        if (withUsb) {
            drives.drives.push_back({usbRoot(), QStringLiteral("USB")});
        }
        mp3(music, QStringLiteral("a.mp3"), "Abba", "Waterloo", "Waterloo", "1974", 13);
        mp3(music, QStringLiteral("b.mp3"));
        mp3(music, QStringLiteral("c.mp3"), "Cher", "Believe", "Believe", "1998", 17, '\0');
        saveIni(music.path().chopped(1), 0, 1500, 3000, 12000, 8250, 1);
        w = &make();
        w->Form_Load();
        w->show();
        list = child<app::FileListView>("ListView1");
    }

    QString usbRoot() const { return usb.path().chopped(1); }

    int rowNamed(const QString& name) const {
        for (int r = 0; r < rows().rowCount(); ++r) {
            if (rows().row(r).name == name) {
                return r;
            }
        }
        return -1;
    }
    void click(int row, Qt::KeyboardModifiers mods = {}, Qt::MouseButton button = Qt::LeftButton) {
        const QPoint at = list->visualRect(rows().index(row, 0)).center();
        QTest::mouseClick(list->viewport(), button, mods, at);
    }
    QString text(const char* field) const { return child<QLineEdit>(field)->text(); }
    bool shown(const char* button) const { return !child<QWidget>(button)->isHidden(); }
    QStringList column(int c) const {
        QStringList out;
        for (int r = 0; r < rows().rowCount(); ++r) {
            out << rows().data(rows().index(r, c), Qt::DisplayRole).toString();
        }
        return out;
    }
};

}  // namespace

class ListTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scanFillsListAndEditorFromFirstRow() {
        ListWindow t;
        QCOMPARE(t.rows().rowCount(), 3);
        QCOMPARE(t.w->currentRow(), 0);
        QCOMPARE(t.w->selectedRows(), std::vector<int>{0});
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(0).name);
        QCOMPARE(t.w->statusText(), QStringLiteral("Klar"));
        QCOMPARE(t.w->progressValue(), 0);
        QCOMPARE(t.w->progressMax(), 3);
    }

    void editorFillAndGenreIndex() {
        ListWindow t;
        auto* combo = t.child<QComboBox>("Combo1");
        t.click(t.rowNamed(QStringLiteral("c")));
        // Shown up to the first NUL, kept whole in the row.
        QCOMPARE(t.text("txtArtist"), QStringLiteral("Cher"));
        QCOMPARE(t.text("txtAr"), QStringLiteral("1998"));
        QCOMPARE(t.rows().row(t.rowNamed(QStringLiteral("c"))).artist.size(), 30);
        QCOMPARE(t.column(1).filter(QStringLiteral("Cher")).first(), QStringLiteral("Cher"));
        QCOMPARE(combo->currentText(), QStringLiteral("Rock"));
        QCOMPARE(combo->currentIndex(), tag::genre_tal2(QStringLiteral("Rock")) - 1);

        t.click(t.rowNamed(QStringLiteral("b")));  // no trailer
        QCOMPARE(t.text("txtArtist"), QString());
        QCOMPARE(t.text("txtTitel"), QString());
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(t.text("txtFilnamn"), QStringLiteral("b"));

        t.click(t.rowNamed(QStringLiteral("a")));
        QCOMPARE(combo->currentText(), QStringLiteral("Pop"));
        QCOMPARE(t.text("txtAlbum"), QStringLiteral("Waterloo"));
        QCOMPARE(t.child<QLineEdit>("txtArtist")->maxLength(), 30);
        QCOMPARE(t.child<QLineEdit>("txtAr")->maxLength(), 4);

        // What the commands will read; characters a tag cannot hold never get in.
        auto* artist = t.child<QLineEdit>("txtArtist");
        artist->setFocus();
        artist->end(false);
        QKeyEvent omega(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                        QStringLiteral("\u03a9"));
        QApplication::sendEvent(artist, &omega);
        QTest::keyClicks(artist, QStringLiteral("!"));
        QCOMPARE(artist->text(), QStringLiteral("Abba!"));
        const write::EditorValues values = t.w->editorValues();
        QCOMPARE(values.artist, QStringLiteral("Abba!"));
        QCOMPARE(values.genre, QStringLiteral("Pop"));
        QCOMPARE(values.year, QStringLiteral("1974"));

        // Rows but none current: the editor keeps what it shows.
        t.list->selectionModel()->clear();
        t.w->ListView1_Click();
        QCOMPARE(t.text("txtArtist"), QStringLiteral("Abba!"));
    }

    void buttonsFollowTheSelection() {
        ListWindow t;
        const char* fieldButtons[] = {"cmdArtist", "cmdTitel", "cmdAlbum",
                                      "cmdAr",     "cmdGenre", "cmdKommentarer"};
        t.click(0);
        QVERIFY(t.shown("cmdSpara") && t.shown("cmdFilnamn"));
        for (const char* b : fieldButtons) {
            QVERIFY(!t.shown(b));
        }
        t.click(2, Qt::ControlModifier);
        QCOMPARE(t.w->selectedRows(), (std::vector<int>{0, 2}));
        QCOMPARE(t.w->selectedFlags(), (std::vector<bool>{true, false, true}));
        QCOMPARE(t.w->currentRow(), 2);
        QVERIFY(!t.shown("cmdSpara") && !t.shown("cmdFilnamn"));
        for (const char* b : fieldButtons) {
            QVERIFY(t.shown(b));
        }
        // The editor shows the current row, which the field buttons will write.
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(2).name);
        t.click(2, Qt::ControlModifier);  // deselected again: one row left
        QVERIFY(t.shown("cmdSpara"));
    }

    void sortDirectionFlipsOnEveryHeaderClick() {
        ListWindow t;
        QHeaderView* header = t.list->header();
        auto clickHeader = [&](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + 5, 5));
        };
        const int current = t.w->currentRow();
        const QString currentName = t.rows().row(current).name;
        clickHeader(2);  // "Titel": ascending first
        QCOMPARE(t.column(2),
                 (QStringList{QString(), QStringLiteral("Believe"), QStringLiteral("Waterloo")}));
        clickHeader(1);  // "Artist": the direction flips again, descending
        QCOMPARE(t.column(1),
                 (QStringList{QStringLiteral("Cher"), QStringLiteral("Abba"), QString()}));
        clickHeader(1);
        QCOMPARE(t.column(1),
                 (QStringList{QString(), QStringLiteral("Abba"), QStringLiteral("Cher")}));
        // Sorting moves the rows, not the selection.
        QCOMPARE(t.rows().row(t.w->currentRow()).name, currentName);
        QCOMPARE(t.w->selectedRows().size(), std::size_t{1});

        // A later scan keeps the order; the order is the Swedish one, without regard to case.
        WindowFixture::mp3(t.music, QStringLiteral("d.mp3"),
                           "\xc5sa");  // Windows-1252, as in a tag
        WindowFixture::mp3(t.music, QStringLiteral("e.mp3"), "zappa");
        WindowFixture::mp3(t.music, QStringLiteral("f.mp3"), "\xc4rlig");
        WindowFixture::mp3(t.music, QStringLiteral("g.mp3"), "bob");
        t.w->mnuUppdatera_Click();
        QCOMPARE(t.column(1), (QStringList{QString(), QStringLiteral("Abba"), QStringLiteral("bob"),
                                           QStringLiteral("Cher"), QStringLiteral("zappa"),
                                           QStringLiteral("Åsa"), QStringLiteral("Ärlig")}));
    }

    void deleteKeyStoresTheModifierState() {
        ListWindow t;
        // Each press runs the delete command; here it deletes nothing (Cancel, a refusing trash).
        t.boxes.answers = {platform::MessageBoxes::Answer::Cancel};
        t.trash.answer = code::kAccess;
        const std::pair<Qt::KeyboardModifiers, int> presses[] = {
            {Qt::ShiftModifier, 1},
            {Qt::NoModifier, 0},
            {Qt::ControlModifier, 2},
            {Qt::ShiftModifier | Qt::AltModifier, 5}};
        for (const auto& [mods, expected] : presses) {
            QTest::keyClick(t.list, Qt::Key_Delete, mods);
            QCOMPARE(t.w->ingenpapperskorg, expected);
        }
        // Any other key refills the editor from the row it moved to.
        QTest::keyClick(t.list, Qt::Key_Down);
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(t.w->currentRow()).name);
        QCOMPARE(t.w->currentRow(), 1);
        // So does a letter that comes through an input method (a dead key, a compose sequence).
        QInputMethodEvent typed;
        typed.setCommitString(QStringLiteral("c"));
        QApplication::sendEvent(t.list, &typed);
        QCOMPARE(t.w->currentRow(), t.rowNamed(QStringLiteral("c")));
        QCOMPARE(t.text("txtFilnamn"), QStringLiteral("c"));
    }

    void rightButtonOpensThePopUpMenu() {
        ListWindow t;
        auto* menu = t.child<QMenu>("mnuHoger");
        t.click(1);
        QVERIFY(!menu->isVisible());
        t.click(2, {}, Qt::RightButton);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 3);
        QVERIFY(menu->actions().at(1)->isSeparator());
        // The menu acts on the row under the pointer, and the editor shows that row.
        QCOMPARE(t.w->currentRow(), 2);
        QCOMPARE(t.text("txtFilnamn"), t.rows().row(2).name);
        menu->close();
    }

    void otherMouseButtonsLeaveTheCurrentRowAlone() {
        ListWindow t;
        t.click(0);
        // The editor must go on showing the row that "Spara tag" and the rename write to.
        for (const Qt::MouseButton b : {Qt::MiddleButton, Qt::BackButton}) {
            t.click(2, {}, b);
            QTest::mouseDClick(t.list->viewport(), b, {},
                               t.list->visualRect(t.rows().index(1, 0)).center());
            QCOMPARE(t.w->currentRow(), 0);
            QCOMPARE(t.w->selectedRows(), std::vector<int>{0});
            QCOMPARE(t.text("txtFilnamn"), t.rows().row(0).name);
        }
        QVERIFY(t.opener.opened.empty());  // nothing played
    }

    void f5RescansWhateverTheModifiers() {
        ListWindow t;
        const Qt::KeyboardModifiers mods[] = {Qt::NoModifier, Qt::ShiftModifier,
                                              Qt::ControlModifier};
        int files = 3;
        for (const auto m : mods) {
            WindowFixture::mp3(t.music, QStringLiteral("new%1.mp3").arg(files), "Ny");
            ++files;
            QTest::keyClick(t.list, Qt::Key_F5, m);
            QCOMPARE(t.rows().rowCount(), files);
        }
        // From any control of the window, not only the list.
        WindowFixture::mp3(t.music, QStringLiteral("sist.mp3"));
        QTest::keyClick(t.child<QLineEdit>("txtArtist"), Qt::Key_F5);
        QCOMPARE(t.rows().rowCount(), files + 1);
    }

    void statusIsPaintedAtMostEvery20Milliseconds() {
        ListWindow t;
        for (int i = 0; i < 600; ++i) {
            WindowFixture::mp3(t.music, QStringLiteral("m%1.mp3").arg(i), "M");
        }
        auto* status = t.child<QStatusBar>("StatusBar1");
        QTRY_VERIFY(status->isVisible());
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
        QCOMPARE(t.rows().rowCount(), 603);
        // What was set last shows once the window is back in its event loop.
        QTRY_COMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), QStringLiteral("Klar"));
        QCOMPARE(t.child<QProgressBar>("ProgressBar1")->value(), 0);
        QCOMPARE(t.child<QProgressBar>("ProgressBar1")->maximum(), 603);
    }

    void emptyFolderGivesStatusAndEmptyEditor() {
        ListWindow t;
        TempFolder empty;
        t.w->setProgress(2);
        QCOMPARE(t.w->applyFolder(empty.path().chopped(1)), code::kOk);
        QCOMPARE(t.rows().rowCount(), 0);
        QCOMPARE(t.w->katalog, empty.path());
        QCOMPARE(t.w->statusText(),
                 QStringLiteral("Inga MP3 filer funna i katalogen ") + empty.path() + u'.');
        for (const char* f :
             {"txtFilnamn", "txtArtist", "txtTitel", "txtAlbum", "txtAr", "txtKommentarer"}) {
            QVERIFY(t.text(f).isEmpty());
            QVERIFY(!t.child<QWidget>(f)->isEnabled());
        }
        QCOMPARE(t.child<QComboBox>("Combo1")->currentIndex(), -1);
        QVERIFY(!t.child<QWidget>("cmdSpara")->isEnabled());
        QCOMPARE(t.w->progressValue(), 2);  // untouched
        QVERIFY(t.boxes.shown.empty());
        t.w->ListView1_Click();  // a click on the empty list changes nothing
        QVERIFY(!t.child<QWidget>("txtArtist")->isEnabled());
    }

    void vanishedFolderIsReportedOnRescan() {
        ListWindow t;
        auto gone = std::make_unique<TempFolder>();
        WindowFixture::mp3(*gone, QStringLiteral("x.mp3"), "X");
        QCOMPARE(t.w->applyFolder(gone->path().chopped(1)), code::kOk);
        QCOMPARE(t.rows().rowCount(), 1);
        gone.reset();
        QTest::keyClick(t.list, Qt::Key_F5);
        QCOMPARE(t.rows().rowCount(), 0);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(t.boxes.shown[0].text.contains(QStringLiteral("går inte att läsa")));
        QVERIFY(!t.child<QWidget>("txtArtist")->isEnabled());
    }

    void unreachableDriveOffersRetryAndCancel() {
        ListWindow t(true);
        const QString root = t.usbRoot();
        t.drives.checks[root] = {code::kDeviceUnavailable, code::kDeviceUnavailable};
        t.boxes.answers = {platform::MessageBoxes::Answer::Retry,
                           platform::MessageBoxes::Answer::Cancel};
        const QString before = t.w->dir1Path();
        auto* drive1 = t.child<QComboBox>("Drive1");
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        for (const auto& m : t.boxes.shown) {
            QCOMPARE(m.text,
                     QStringLiteral("Enhet ") + root + QStringLiteral(" går inte att komma åt."));
            QCOMPARE(m.title, QStringLiteral("Fel"));
            QCOMPARE(m.buttons, platform::MessageBoxes::Buttons::RetryCancel);
            QCOMPARE(m.icon, platform::MessageBoxes::Icon::None);
        }
        // Cancel: both choosers agree again on the folder on show.
        QCOMPARE(drive1->currentIndex(), 0);
        QCOMPARE(t.w->dir1Path(), before);
    }

    void otherDriveFailureIsReportedByNumber() {
        ListWindow t(true);
        const QString root = t.usbRoot();
        t.drives.checks[root] = {code::kAccess};
        auto* drive1 = t.child<QComboBox>("Drive1");
        drive1->setCurrentIndex(1);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].text, QStringLiteral("Fel av typen 75."));
        QCOMPARE(t.boxes.shown[0].icon, platform::MessageBoxes::Icon::Critical);
        QCOMPARE(drive1->currentIndex(), 1);  // the drive list keeps the new drive

        // Reachable again: choosing it opens its root and lists it.
        WindowFixture::mp3(t.usb, QStringLiteral("u.mp3"), "Usb");
        drive1->setCurrentIndex(0);
        drive1->setCurrentIndex(1);
        QCOMPARE(t.w->katalog, t.usb.path());
        QCOMPARE(t.rows().rowCount(), 1);
    }

    void foldersOpenByEnterOrDoubleClickNotByArrows() {
        ListWindow t;
        // A folder whose name is not UTF-8 (Latin-1 "år"), holding one file.
        const QByteArray raw = platform::encodeName(t.music.path()) + "\xe5r";
        QCOMPARE(::mkdir(raw.constData(), 0755), 0);
        const QString odd = platform::decodeName(raw.toStdString());
        WindowFixture::mp3(t.music, QStringLiteral("zz.mp3"));
        writeAll(odd + QStringLiteral("/inne.mp3"), audio(300));

        QCOMPARE(t.w->applyFolder(t.music.path().chopped(1)), code::kOk);  // shows the new folder
        auto* dir1 = t.child<app::FolderList>("Dir1");
        QTest::keyClick(dir1, Qt::Key_Down);  // highlights the subfolder: no scan
        QCOMPARE(t.w->katalog, t.music.path());
        QCOMPARE(dir1->model()->data(dir1->currentIndex()).toString(),
                 platform::decodeName("\xe5r"));
        QTest::keyClick(dir1, Qt::Key_Return);
        QCOMPARE(t.w->katalog, odd + u'/');
        QCOMPARE(t.rows().rowCount(), 1);
        QCOMPARE(t.rows().row(0).name, QStringLiteral("inne"));

        // Back up by a double click on the parent.
        const QModelIndex parent = dir1->currentIndex().parent();
        // As the window system sends it: a click, then the second press as a double click.
        const QPoint at = dir1->visualRect(parent).center();
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, at);
        QMouseEvent second(QEvent::MouseButtonDblClick, at, dir1->viewport()->mapToGlobal(at),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dir1->viewport(), &second);
        QTest::mouseRelease(dir1->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(t.w->katalog, t.music.path());
        QCOMPARE(t.rows().rowCount(), 4);

        // The folder's name is no text QTemporaryDir could remove by.
        QCOMPARE(::unlink((raw + "/inne.mp3").constData()), 0);
        QCOMPARE(::rmdir(raw.constData()), 0);
    }
};

SORVEL_WIDGET_TEST_MAIN(ListTest)
#include "list_test.moc"
