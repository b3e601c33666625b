// Start-up, shutdown and layout of the main window.
#include "window_fixture.h"

#include "app/file_list_view.h"
#include "app/resources.h"
#include "app/twips.h"
#include "tag/genre.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>

using namespace sorvel;
using namespace sorvel::test;

class StartupTest : public QObject {
    Q_OBJECT

    // The next control that Tab reaches, past the parts of `w` itself.
    static QWidget* nextTabStop(QWidget* w) {
        QWidget* n = w->nextInFocusChain();
        while (n != w && (!(n->focusPolicy() & Qt::TabFocus) || w->isAncestorOf(n))) {
            n = n->nextInFocusChain();
        }
        return n;
    }

    app::Twips tw() const { return app::Twips::of(QGuiApplication::primaryScreen()); }

private Q_SLOTS:
    void firstRunWithoutSettingsFile() {
        WindowFixture f;
        app::frmMain& w = f.make();
        w.Form_Load();
        QCOMPARE(w.fil2tagNr, 0);
        QVERIFY(w.katalog.isEmpty());  // nothing scanned
        QCOMPARE(f.rows().rowCount(), 0);
        QVERIFY(f.boxes.shown.empty());
        QVERIFY(f.child<QWidget>("frmSplash")->isVisible());  // no scan found files to hide it
        // The design's client area, below the menu bar.
        QCOMPARE(w.width(), tw().x(11790));
        QCOMPARE(f.child<QComboBox>("Combo1")->count(), tag::kGenreCount);

        w.show();
        w.close();
        QVERIFY(QFile::exists(f.iniPath()));
        RecordedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 0);
        QCOMPARE(back.folder, w.dir1Path());
        QCOMPARE(back.state, 0);
        QCOMPARE(back.width, std::round(tw().fromX(w.frameGeometry().width())));
    }

    void restoresFolderStateAndPlace() {
        TempFolder music;
        WindowFixture::mp3(music, QStringLiteral("a.mp3"), "Abba", "Waterloo");
        WindowFixture::mp3(music, QStringLiteral("b.MP3"));
        WindowFixture f;
        f.saveIni(music.path().chopped(1), 0, 1500, 3000, 12000, 8250, 3);
        app::frmMain& w = f.make();
        w.Form_Load();
        QCOMPARE(w.katalog, music.path());
        QCOMPARE(f.rows().rowCount(), 2);
        QCOMPARE(w.statusText(), QStringLiteral("Klar"));
        QCOMPARE(w.fil2tagNr, 3);
        QVERIFY(!f.child<QWidget>("frmSplash")->isVisible());
        w.show();
        QCOMPARE(w.frameGeometry(), QRect(tw().x(3000), tw().y(1500), tw().x(12000), tw().y(8250)));
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
        TempFolder music;
        WindowFixture f;
        f.saveIni(music.path().chopped(1), state, 1500, 3000, 12000, 8250, 1);
        app::frmMain& w = f.make();
        w.Form_Load();
        // As such window systems do: the window itself where its frame was asked for.
        const QRect asked(tw().x(3000), tw().y(1500), tw().x(12000), tw().y(8250));
        w.setGeometry(asked);
        w.setWindowState(state == 2 ? Qt::WindowMaximized : Qt::WindowNoState);
        w.show();
        if (restore) {
            w.setWindowState(Qt::WindowNoState);
        }
        if (state == 0 || restore) {
            QTRY_COMPARE(w.frameGeometry(), asked);
        }
        // So the next start finds the same place, not one a title bar higher.
        w.close();
        RecordedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 1);
        QCOMPARE(QRectF(back.left, back.top, back.width, back.height),
                 QRectF(3000, 1500, 12000, 8250));
    }

    void brokenSettingsFileRestoresNothing_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("scanned");
        QTest::newRow("seven lines")
            << QByteArray("x\r\n%1\r\n0\r\n1500\r\n3000\r\n12000\r\n8250\r\n") << false;
        QTest::newRow("folder gone")
            << QByteArray("x\r\n%1/borta\r\n0\r\n1500\r\n3000\r\n12000\r\n8250\r\n2\r\n") << false;
    }
    void brokenSettingsFileRestoresNothing() {
        QFETCH(QByteArray, text);
        QFETCH(bool, scanned);
        TempFolder music;
        WindowFixture::mp3(music, QStringLiteral("a.mp3"), "Abba");
        WindowFixture f;
        writeAll(f.iniPath(), QString::fromLatin1(text).arg(music.path().chopped(1)).toLatin1());
        app::frmMain& w = f.make();
        const QRect designed = w.geometry();
        w.Form_Load();
        QCOMPARE(w.fil2tagNr, 0);
        QCOMPARE(w.geometry(), designed);
        QCOMPARE(f.rows().rowCount(), scanned ? 1 : 0);
        QVERIFY(f.boxes.shown.empty());
    }

    void settingsWrittenOnceByEitherWayOfClosing_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("close box") << false;
        QTest::newRow("&Avsluta") << true;
    }
    void settingsWrittenOnceByEitherWayOfClosing() {
        QFETCH(bool, byMenu);
        TempFolder music;
        WindowFixture::mp3(music, QStringLiteral("a.mp3"), "Abba");
        WindowFixture f;
        f.saveIni(music.path().chopped(1), 0, 1500, 3000, 12000, 8250, 4);
        app::frmMain& w = f.make();
        w.Form_Load();
        w.show();
        w.fil2tagNr = 2;
        if (byMenu) {
            f.child<QAction>("mnuAvsluta")->trigger();
        } else {
            w.close();
        }
        QVERIFY(!w.isVisible());
        RecordedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 2);
        QCOMPARE(back.folder, music.path().chopped(1));
        QCOMPARE(back.state, 0);
        QCOMPARE(back.top, 1500.0);
        QCOMPARE(back.left, 3000.0);
        QCOMPARE(back.width, 12000.0);
        QCOMPARE(back.height, 8250.0);

        // Whatever happens to the window now, the file is not written a second time.
        QVERIFY(QFile::remove(f.iniPath()));
        w.close();
        f.window.reset();
        QVERIFY(!QFile::exists(f.iniPath()));
    }

    void layoutAtTheMinimumSize() {
        WindowFixture f;
        app::frmMain& w = f.make();
        w.show();
        w.resize(200, 150);  // far below the minimum: snaps back
        QTRY_COMPARE(w.frameGeometry().size(), QSize(tw().x(10590), tw().y(6360)));
        auto* list = f.child<app::FileListView>("ListView1");
        QCOMPARE(list->size(), QSize(tw().x(10470), tw().y(2780)));
        QCOMPARE(list->pos(), QPoint(0, tw().y(2640)));
        for (const int c : {0, 1, 2, 3, 6}) {
            QCOMPARE(list->columnWidth(c), tw().x(1698));
        }
        QCOMPARE(list->columnWidth(4), tw().x(540));
        QCOMPARE(list->columnWidth(5), tw().x(1125));
        // The progress bar lies over the right-hand part of the status bar.
        auto* bar = f.child<QProgressBar>("ProgressBar1");
        auto* status = f.child<QStatusBar>("StatusBar1");
        QCOMPARE(bar->parentWidget(), status);
        QCOMPARE(bar->size(), QSize(tw().x(1950), tw().y(210)));
        QCOMPARE(bar->x() + bar->width(), status->width() - tw().x(280));

        // Wider and higher: the list and its columns follow.
        w.resize(1000, 700);
        QTRY_COMPARE(w.width(), 1000);
        const QSize outer = w.frameGeometry().size();
        QCOMPARE(list->width(), tw().x(tw().fromX(outer.width()) - 120));
        QCOMPARE(list->height(), tw().y(tw().fromY(outer.height()) - 3580));
        QCOMPARE(list->columnWidth(1), tw().x((tw().fromX(outer.width()) - 120 - 1980) / 5));
    }

    void twipsAtNinetySixDpi() {
        const app::Twips t(96, 96);
        QCOMPARE(t.x(10470), 698);
        QCOMPARE(t.y(6360), 424);
        QCOMPARE(t.fromX(706), 10590.0);
        const app::Twips large(144, 144);  // 150 % scaling: 10 twips a pixel
        QCOMPARE(large.x(10590), 1059);
    }

    void minimisedAndMaximised() {
        TempFolder music;
        WindowFixture f;
        f.saveIni(music.path().chopped(1), 2, 1500, 3000, 12000, 8250, 1);
        app::frmMain& w = f.make();
        w.Form_Load();
        w.show();
        QVERIFY(w.isMaximized());
        QCOMPARE(w.fil2tagNr, 1);
        auto* list = f.child<app::FileListView>("ListView1");
        QTRY_COMPARE(list->width(), w.frameGeometry().width() - tw().x(120));

        // Minimised, the layout is left alone, whatever size the window reports.
        w.setWindowState(Qt::WindowMinimized);
        QVERIFY(w.isMinimized());
        const QSize before = list->size();
        w.resize(300, 200);
        QCOMPARE(list->size(), before);
        // Restored, it is laid out again, at least at the minimum size.
        w.setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(w.frameGeometry().size(), QSize(tw().x(10590), tw().y(6360)));
        QCOMPARE(list->width(), tw().x(10470));
    }

    void menusAndControlsOfTheDesign() {
        WindowFixture f;
        app::frmMain& w = f.make();
        QCOMPARE(w.windowTitle(), QStringLiteral("Sorvel"));
        QStringList bar;
        for (QAction* a : w.menuBar()->actions()) {
            bar << a->text();
        }
        QCOMPARE(bar, (QStringList{QStringLiteral("&Avsluta"), QStringLiteral("&Uppdatera F5"),
                                   QStringLiteral("&Inställningar"), QStringLiteral("&Hjälp")}));
        QVERIFY(f.child<QAction>("mnuFilnamn2tagNr1")->isChecked());
        QVERIFY(!f.child<QAction>("mnuFilnamn2tagNr2")->isChecked());
        // Labels name their fields; the "S" buttons are told apart by their names.
        QCOMPARE(f.child<QLabel>("Label8")->buddy(), f.child<QWidget>("txtKommentarer"));
        QCOMPARE(f.child<QWidget>("cmdAr")->accessibleName(),
                 QStringLiteral("Spara det inskrivna årtalet i smatliga markerade filer."));
        QCOMPARE(f.child<QWidget>("txtAr")->geometry(), tw().rect(5520, 1560, 855, 285));
        QCOMPARE(f.child<QWidget>("cmdSpara")->geometry(), tw().rect(8880, 1800, 1455, 735));
        // Tab order: from the folder chooser to the artist field, and around to the list.
        QCOMPARE(nextTabStop(f.child<QWidget>("Dir1")), f.child<QWidget>("txtArtist"));
        QCOMPARE(nextTabStop(f.child<QWidget>("txtFilnamn")), f.child<QWidget>("ListView1"));
        QCOMPARE(nextTabStop(f.child<QWidget>("cmdTag2Filnamn")), f.child<QWidget>("cmdFilnamn"));
        QVERIFY(f.child<QWidget>("cmdArtist")->isHidden());
        QVERIFY(!f.child<QWidget>("cmdSpara")->isHidden());

        // Qt's own texts are Swedish too, such as a text field's context menu.
        app::installQtTexts();
        const std::unique_ptr<QMenu> menu(
            f.child<QLineEdit>("txtArtist")->createStandardContextMenu());
        QCOMPARE(menu->actions().first()->text().section(u'\t', 0, 0), QStringLiteral("&Ångra"));
    }
};

SORVEL_WIDGET_TEST_MAIN(StartupTest)
#include "startup_test.moc"
