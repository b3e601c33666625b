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
#include <map>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

class AboutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every way a user closes each kind of box: its buttons, Enter on the default button, Escape
    // and the close box; with the title and icon asked for, or the program's name for a title.
    void messageBoxesSpeakSwedishAndAnswerWhatTheUserChose() {
        using Boxes = platform::MessageBoxes;
        using B = Boxes::Buttons;
        using A = Boxes::Answer;
        using Act = BoxAnswerer::Act;
        platform::QtMessageBoxes boxes;
        BoxAnswerer user;
        // The box's own button and Enter give its answer; a box of one button answers OK
        // however it is closed, the others Cancel.
        std::vector<std::tuple<B, Act, A>> cases;
        for (const auto& [buttons, own, yes] : {std::tuple{B::Ok, Act::Ok, A::Ok},
                                                {B::OkCancel, Act::Ok, A::Ok},
                                                {B::RetryCancel, Act::Retry, A::Retry}}) {
            for (const Act act : {own, Act::Enter, Act::Cancel, Act::Escape, Act::CloseBox}) {
                if (buttons != B::Ok || act != Act::Cancel)
                    cases.emplace_back(
                        buttons, act,
                        act == own || act == Act::Enter || buttons == B::Ok ? yes : A::Cancel);
            }
        }
        const std::pair<Boxes::Icon, QMessageBox::Icon> icons[] = {
            {Boxes::Icon::None, QMessageBox::NoIcon},
            {Boxes::Icon::Critical, QMessageBox::Critical},
            {Boxes::Icon::Information, QMessageBox::Information}};
        const std::map<B, QStringList> labels = {
            {B::Ok, {u"OK"_s}},
            {B::OkCancel, {u"Avbryt"_s, u"OK"_s}},
            {B::RetryCancel, {u"&Försök igen"_s, u"Avbryt"_s}}};
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const auto& [buttons, act, answer] = cases[i];
            const auto& [icon, qtIcon] = icons[i % 3];
            user.acts = {act};
            user.seen.clear();
            const QString title = i % 2 ? u"Ändra filnamn?"_s : QString();
            QVERIFY2(boxes.show(title, u"Text"_s, icon, buttons) == answer,
                     qPrintable(QString::number(i)));
            QCOMPARE(user.seen.size(), 1U);
            QStringList shown = user.seen[0].buttons;
            shown.sort();
            QCOMPARE(shown, labels.at(buttons));
            QCOMPARE(user.seen[0].title, title.isEmpty() ? u"Sorvel"_s : title);
            QCOMPARE(user.seen[0].icon, qtIcon);
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

    // Without a registry, system information is said to be unavailable.
    void aboutWindowIsModalWithVersionLinkAndSystemInformation() {
        WindowFixture f;
        app::frmMain& w = f.make();
        w.show();
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* about = qobject_cast<app::frmAbout*>(QApplication::activeModalWidget());
            QVERIFY(about != nullptr && about->parentWidget() == &w);
            seen = true;
            QCOMPARE(about->windowTitle(), u"Om Sorvel"_s);
            QCOMPARE(about->findChild<QLabel*>(u"lblVersion"_s)->text(), u"Version 1.0.5"_s);
            auto* link = about->findChild<QLabel*>(u"Label2"_s);
            QTest::mouseClick(link, Qt::LeftButton);
            QVERIFY(link->text().startsWith(u"https://"_s) &&
                    f.opener.opened == std::vector<QString>{link->text()});
            QTest::mouseClick(about->findChild<QPushButton*>(u"cmdSysInfo"_s), Qt::LeftButton);
            QCOMPARE(f.boxes.shown.size(), std::size_t{1});
            QVERIFY(f.boxes.shown[0].text == u"System Information Is Unavailable At This Time"_s &&
                    f.boxes.shown[0].title == u"Sorvel"_s && f.opener.started.empty());
            QTest::mouseClick(about->findChild<QPushButton*>(u"cmdOK"_s), Qt::LeftButton);
        });
        f.child<QAction>("mnuOm")->trigger();
        QVERIFY(seen && QApplication::activeModalWidget() == nullptr);
    }

    void helpOpensThePageInTheProgramFolderWithTheDesktopsProgram() {
        WindowFixture f;
        f.make();
        auto* help = f.child<QAction>("mnuHjalpHjalp");
        help->trigger();  // no page: said so, nothing opened
        QVERIFY(f.boxes.shown.size() == 1 && f.opener.opened.empty());

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
