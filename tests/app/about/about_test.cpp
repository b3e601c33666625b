// The About and splash windows, the splash wait and the help command.
#include "../window/window_fixture.h"

#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "platform/desktop_posix.h"
#include "platform/message_boxes_qt.h"
#include "support/box_answerer.h"
#include "support/test_desktop.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

class AboutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void messageBoxesSpeakSwedishAndAnswerWhatTheUserChose() {
        using Boxes = platform::MessageBoxes;
        using Act = BoxAnswerer::Act;
        platform::QtMessageBoxes boxes;
        BoxAnswerer user;
        const QStringList ok{QStringLiteral("OK")};
        const QStringList okCancel{QStringLiteral("OK"), QStringLiteral("Avbryt")};
        const QStringList retryCancel{QStringLiteral("&Försök igen"), QStringLiteral("Avbryt")};
        // Every way a user closes each kind of box: its buttons, Enter on the default button,
        // Escape and the close box.
        const struct {
            Boxes::Buttons buttons;
            Act act;
            Boxes::Answer answer;
        } cases[] = {
            {Boxes::Buttons::Ok, Act::Ok, Boxes::Answer::Ok},
            {Boxes::Buttons::Ok, Act::Enter, Boxes::Answer::Ok},
            {Boxes::Buttons::Ok, Act::Escape, Boxes::Answer::Ok},
            {Boxes::Buttons::Ok, Act::CloseBox, Boxes::Answer::Ok},
            {Boxes::Buttons::OkCancel, Act::Ok, Boxes::Answer::Ok},
            {Boxes::Buttons::OkCancel, Act::Enter, Boxes::Answer::Ok},
            {Boxes::Buttons::OkCancel, Act::Cancel, Boxes::Answer::Cancel},
            {Boxes::Buttons::OkCancel, Act::Escape, Boxes::Answer::Cancel},
            {Boxes::Buttons::OkCancel, Act::CloseBox, Boxes::Answer::Cancel},
            {Boxes::Buttons::RetryCancel, Act::Retry, Boxes::Answer::Retry},
            {Boxes::Buttons::RetryCancel, Act::Enter, Boxes::Answer::Retry},
            {Boxes::Buttons::RetryCancel, Act::Cancel, Boxes::Answer::Cancel},
            {Boxes::Buttons::RetryCancel, Act::Escape, Boxes::Answer::Cancel},
            {Boxes::Buttons::RetryCancel, Act::CloseBox, Boxes::Answer::Cancel},
        };
        for (const auto& c : cases) {
            user.acts = {c.act};
            user.seen.clear();
            const Boxes::Answer got =
                boxes.show(QString(), QStringLiteral("Text"), Boxes::Icon::None, c.buttons);
            const QString which = QStringLiteral("buttons %1, act %2")
                                      .arg(static_cast<int>(c.buttons))
                                      .arg(static_cast<int>(c.act));
            QVERIFY2(got == c.answer, qPrintable(which));
            QCOMPARE(user.seen.size(), 1U);
            QCOMPARE(user.seen[0].title, QStringLiteral("Sorvel"));
            QStringList buttons = user.seen[0].buttons;
            buttons.sort();
            QStringList expected = c.buttons == Boxes::Buttons::Ok         ? ok
                                   : c.buttons == Boxes::Buttons::OkCancel ? okCancel
                                                                           : retryCancel;
            expected.sort();
            QCOMPARE(buttons, expected);
        }
    }

    void splashWaitsThreeSecondsOnTheClockOrStaysAndMoves() {
        WindowFixture f;
        f.clock.now = 86399;  // a second before midnight: a clock of the time of day would wrap
        f.clock.step = 0.25;
        f.start();
        QVERIFY(!f.child("frmSplash")->isVisible());
        // It waited until more than three seconds had passed since loading began, and not much
        // longer.
        const double waited = f.clock.now - f.clock.step - 86399;
        QVERIFY2(waited > 3.0 && waited <= 3.25, qPrintable(QString::number(waited)));

        // Without the splash on show, a scan does not wait.
        const int readings = f.clock.readings;
        f.w->mnuUppdatera_Click();
        QVERIFY(f.clock.readings - readings <= 1);

        // The splash stays on show when the start folder has no files; a key moves it to its
        // place, a click closes it.
        WindowFixture g;
        g.saveIni(g.programDir.path().chopped(1));
        g.make().Form_Load();
        auto* splash = g.child<app::frmSplash>("frmSplash");
        QVERIFY(splash->isVisible());
        QCOMPARE(splash->findChild<QLabel*>(u"lblVersion"_s)->text(), u"Version 1.0.5"_s);
        splash->move(0, 0);
        QTest::keyClick(splash, Qt::Key_A);
        QVERIFY(splash->isVisible() && splash->x() > 0 && splash->y() > 0);
        QTest::mouseClick(splash->findChild<QLabel*>(u"imgLogo"_s), Qt::LeftButton);
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
            QCOMPARE(about->windowTitle(), u"Om Sorvel"_s);
            QCOMPARE(about->parentWidget(), &w);
            QCOMPARE(about->findChild<QLabel*>(u"lblVersion"_s)->text(), u"Version 1.0.5"_s);
            auto* link = about->findChild<QLabel*>(u"Label2"_s);
            QTest::mouseClick(link, Qt::LeftButton);
            QCOMPARE(f.opener.opened, std::vector<QString>{link->text()});
            QVERIFY(link->text().startsWith(u"https://"_s));
            QTest::mouseClick(about->findChild<QPushButton*>(u"cmdOK"_s), Qt::LeftButton);
        });
        f.child<QAction>("mnuOm")->trigger();
        QVERIFY(seen);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void systemInformationIsUnavailableWithoutARegistry() {
        FakeMessageBoxes boxes;
        FakeOpener opener;
        FakeRegistry registry;
        platform::PosixFileSystem fs;
        app::frmAbout about({boxes, opener, registry, fs}, nullptr);
        QTest::mouseClick(about.findChild<QPushButton*>(u"cmdSysInfo"_s), Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), std::size_t{1});
        QCOMPARE(boxes.shown[0].text, u"System Information Is Unavailable At This Time"_s);
        QCOMPARE(boxes.shown[0].title, u"Sorvel"_s);
        QVERIFY(opener.started.empty());
    }

    void helpOpensThePageInTheProgramFolderWithTheDesktopsProgram() {
        WindowFixture f;
        f.make();
        auto* help = f.child<QAction>("mnuHjalpHjalp");
        help->trigger();  // no page: said so, nothing opened
        QCOMPARE(f.boxes.shown.size(), std::size_t{1});
        QVERIFY(f.opener.opened.empty());

        QVERIFY(QDir(f.folder.folder).mkdir(u"hjälp"_s));
        const QString page = f.folder.folder + u"/hjälp/index.html"_s;
        writeAll(page, "<!DOCTYPE html>\n<html><head><title>Hjälp</title></head></html>\n");
        help->trigger();
        QCOMPARE(f.opener.opened, std::vector<QString>{page});

        // Through the desktop's real open command, to its program for HTML.
        TestDesktop desktop("text/html");
        platform::XdgOpener xdgOpen;
        f.realOpener = &xdgOpen;
        f.make();
        f.child<QAction>("mnuHjalpHjalp")->trigger();
        QCOMPARE(desktop.waitForProgram(), platform::encodeName(page));
        QCOMPARE(f.boxes.shown.size(), std::size_t{1});
    }
};

SORVEL_WIDGET_TEST_MAIN(AboutTest)
#include "about_test.moc"
