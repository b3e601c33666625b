// The About and splash windows, the splash wait and the help command.
#include "../window/window_fixture.h"

#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "platform/message_boxes_qt.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

using namespace sorvel;
using namespace sorvel::test;

namespace {

/// A clock whose every reading is a quarter second later.
struct ScriptedClock : FakeClock {
    std::vector<double> seen;
    double seconds() override {
        seen.push_back(FakeClock::seconds());
        return seen.back();
    }
};

}  // namespace

class AboutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void messageBoxesSpeakSwedishAndAnswerWithTheButtonPressed() {
        using Boxes = platform::MessageBoxes;
        platform::QtMessageBoxes boxes;
        const struct {
            Boxes::Buttons buttons;
            QStringList texts;
            QString press;
            Boxes::Answer answer;
        } cases[] = {
            {Boxes::Buttons::Ok, {QStringLiteral("OK")}, QStringLiteral("OK"), Boxes::Answer::Ok},
            {Boxes::Buttons::OkCancel,
             {QStringLiteral("OK"), QStringLiteral("Avbryt")},
             QStringLiteral("Avbryt"),
             Boxes::Answer::Cancel},
            {Boxes::Buttons::RetryCancel,
             {QStringLiteral("&Försök igen"), QStringLiteral("Avbryt")},
             QStringLiteral("&Försök igen"),
             Boxes::Answer::Retry},
        };
        for (const auto& c : cases) {
            QStringList seen;
            QString title;
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr) {
                    return;
                }
                title = box->windowTitle();
                QAbstractButton* target = nullptr;
                for (QAbstractButton* b : box->buttons()) {
                    seen << b->text();
                    if (b->text() == c.press) {
                        target = b;
                    }
                }
                // A box without the expected button is closed all the same, so that a failure
                // never leaves the test waiting on it.
                target != nullptr ? target->click() : box->done(-1);
            });
            QCOMPARE(boxes.show(QString(), QStringLiteral("Text"), Boxes::Icon::None, c.buttons),
                     c.answer);
            QCOMPARE(title, QStringLiteral("Sorvel"));
            seen.sort();
            QStringList expected = c.texts;
            expected.sort();
            QCOMPARE(seen, expected);
        }
    }

    void splashWaitsThreeSecondsOnTheClock() {
        TempFolder music;
        WindowFixture::mp3(music, QStringLiteral("a.mp3"), "Abba");
        WindowFixture f;
        f.saveIni(music.path().chopped(1), 0, 1500, 3000, 12000, 8250, 1);
        ScriptedClock clock;
        clock.now = 86399;  // a second before midnight: a clock of the time of day would wrap
        clock.step = 0.25;
        app::frmMain w({f.fs, f.boxes, f.opener, clock, f.registry, f.folder, f.drives, f.trash});
        w.Form_Load();
        QCOMPARE(w.starttid, 86399.0);
        auto* splash = w.findChild<app::frmSplash*>();
        QVERIFY(!splash->isVisible());
        // It waited until more than three seconds had passed, and not much longer.
        QVERIFY(clock.seen.back() - w.starttid > 3.0);
        QVERIFY(clock.seen.back() - w.starttid <= 3.25);
        QCOMPARE(w.listModel().rowCount(), 1);

        // Without the splash on show, a scan does not wait.
        const std::size_t readings = clock.seen.size();
        w.mnuUppdatera_Click();
        QVERIFY(clock.seen.size() - readings <= 1);
    }

    void splashStaysWhenTheStartFolderHasNoFiles() {
        TempFolder empty;
        WindowFixture f;
        f.saveIni(empty.path().chopped(1), 0, 1500, 3000, 12000, 8250, 1);
        app::frmMain& w = f.make();
        w.Form_Load();
        QVERIFY(w.findChild<app::frmSplash*>()->isVisible());
    }

    void splashMovesOnKeysAndClosesOnClicks() {
        WindowFixture f;
        app::frmMain& w = f.make();
        w.Form_Load();
        auto* splash = w.findChild<app::frmSplash*>();
        auto* version = splash->findChild<QLabel*>(QStringLiteral("lblVersion"));
        QCOMPARE(version->text(), QStringLiteral("Version 1.0.5"));
        splash->move(0, 0);
        QTest::keyClick(splash, Qt::Key_A);
        QVERIFY(splash->isVisible());
        const QRect screen = splash->screen()->geometry();
        QCOMPARE(splash->x(), screen.width() / 2 - splash->width() / 2);
        QCOMPARE(splash->y(), static_cast<int>(screen.height() * 0.9 / 2) - splash->height() / 2);
        QTest::mouseClick(splash->findChild<QLabel*>(QStringLiteral("imgLogo")), Qt::LeftButton);
        QVERIFY(!splash->isVisible());
    }

    void aboutWindowIsModalWithVersionAndLink() {
        WindowFixture f;
        app::frmMain& w = f.make();
        w.show();
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* about = qobject_cast<app::frmAbout*>(QApplication::activeModalWidget());
            QVERIFY(about != nullptr);
            seen = true;
            QCOMPARE(about->windowTitle(), QStringLiteral("Om Sorvel"));
            QCOMPARE(about->parentWidget(), &w);
            QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(),
                     QStringLiteral("Version 1.0.5"));
            auto* link = about->findChild<QLabel*>(QStringLiteral("Label2"));
            QTest::mouseClick(link, Qt::LeftButton);
            QCOMPARE(f.opener.opened, std::vector<QString>{link->text()});
            QVERIFY(link->text().startsWith(QStringLiteral("https://")));
            QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("cmdOK")),
                              Qt::LeftButton);
        });
        w.findChild<QAction*>(QStringLiteral("mnuOm"))->trigger();
        QVERIFY(seen);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void systemInformationProgram() {
        FakeMessageBoxes boxes;
        FakeOpener opener;
        FakeRegistry registry;
        platform::PosixFileSystem fs;
        app::frmAbout about({boxes, opener, registry, fs}, nullptr);
        auto* sysInfo = about.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"));

        // No registry on this platform: a message, nothing started.
        QTest::mouseClick(sysInfo, Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), std::size_t{1});
        QCOMPARE(boxes.shown[0].text,
                 QStringLiteral("System Information Is Unavailable At This Time"));
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Sorvel"));
        QCOMPARE(boxes.shown[0].icon, platform::MessageBoxes::Icon::None);
        QVERIFY(opener.started.empty());

        // The second value names a folder without the program: the same message.
        TempFolder folder;
        // (The backslash is a Windows separator: here it is part of a name inside the folder.)
        const QString tools = folder.path() + QStringLiteral("tools");
        registry.values[{QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                         QStringLiteral("MSINFO")}] = tools;
        QTest::mouseClick(sysInfo, Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), std::size_t{2});
        QVERIFY(opener.started.empty());
        // With the program there, it is started.
        writeAll(tools + QStringLiteral("\\MSINFO32.EXE"), "MZ");
        QTest::mouseClick(sysInfo, Qt::LeftButton);
        QCOMPARE(opener.started, std::vector<QString>{tools + QStringLiteral("\\MSINFO32.EXE")});

        // The first value wins; a start that fails gives the message.
        registry.values[{QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                         QStringLiteral("PATH")}] = QStringLiteral("/opt/msinfo");
        opener.succeed = false;
        QTest::mouseClick(sysInfo, Qt::LeftButton);
        QCOMPARE(opener.started.back(), QStringLiteral("/opt/msinfo"));
        QCOMPARE(boxes.shown.size(), std::size_t{3});
    }

    void helpOpensThePageInTheProgramFolder() {
        WindowFixture f;
        app::frmMain& w = f.make();
        auto* help = w.findChild<QAction*>(QStringLiteral("mnuHjalpHjalp"));
        help->trigger();  // no page: said so, nothing opened
        QCOMPARE(f.boxes.shown.size(), std::size_t{1});
        QVERIFY(f.opener.opened.empty());

        QVERIFY(QDir(f.folder.folder).mkdir(QStringLiteral("hjälp")));
        const QString page = f.folder.folder + QStringLiteral("/hjälp/index.html");
        writeAll(page, "<html></html>");
        help->trigger();
        QCOMPARE(f.opener.opened, std::vector<QString>{page});
        QCOMPARE(f.boxes.shown.size(), std::size_t{1});
    }
};

SORVEL_WIDGET_TEST_MAIN(AboutTest)
#include "about_test.moc"
