// The real message boxes, the About and splash windows, the splash wait and the help command.
#include "../window/window_fixture.h"

#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "platform/message_boxes_qt.h"
#include "support/box_answerer.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QTimer>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

class AboutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every way a user closes each kind of box: its own button and Enter give its answer; a box
    // of one button answers OK however it is closed, the others Cancel. The buttons speak
    // Swedish; the title is the one asked for, or the program's name.
    void messageBoxesSpeakSwedishAndAnswerWhatTheUserChose() {
        using B = platform::MessageBoxes::Buttons;
        using A = platform::MessageBoxes::Answer;
        using Act = BoxAnswerer::Act;
        platform::QtMessageBoxes boxes;
        BoxAnswerer user;
        int i = 0;
        for (const auto& [buttons, own, yes, labels] :
             {std::tuple{B::Ok, Act::Ok, A::Ok, u"OK"_s},
              {B::OkCancel, Act::Ok, A::Ok, u"Avbryt,OK"_s},
              {B::RetryCancel, Act::Retry, A::Retry, u"&Försök igen,Avbryt"_s}}) {
            for (const Act act : {own, Act::Enter, Act::Cancel, Act::Escape, Act::CloseBox}) {
                if (buttons == B::Ok && act == Act::Cancel)
                    continue;
                user.acts = {act};
                user.seen.clear();
                const QString title = ++i % 2 ? u"Ändra filnamn?"_s : QString();
                const auto icon = platform::MessageBoxes::Icon(i % 3);
                const A answer = boxes.show(title, u"Text"_s, icon, buttons);
                QCOMPARE(answer,
                         act == own || act == Act::Enter || buttons == B::Ok ? yes : A::Cancel);
                QCOMPARE(user.seen.size(), 1U);
                user.seen[0].buttons.sort();
                QCOMPARE(user.seen[0].buttons.join(u','), labels);
                QCOMPARE(user.seen[0].title, title.isEmpty() ? u"Sorvel"_s : title);
                QCOMPARE(user.seen[0].icon, (std::array{QMessageBox::NoIcon, QMessageBox::Critical,
                                                        QMessageBox::Information}[i % 3]));
            }
        }
    }

    // Until more than three seconds have passed on the clock since loading began, and not much
    // longer, across midnight too. Where the start folder has no files it stays on show: a key
    // moves it to its place, a click closes it.
    void splashWaitsThreeSecondsOrStaysAndMoves() {
        WindowFixture f;
        f.clock.now = 86399;
        f.clock.step = 0.25;
        f.start();
        QVERIFY(!f.child("frmSplash")->isVisible());
        const double waited = f.clock.now - f.clock.step - 86399;
        QVERIFY2(waited > 3.0 && waited <= 3.25, qPrintable(QString::number(waited)));
        const int readings = f.clock.readings;
        f.w->mnuUppdatera_Click();  // the splash gone, a listing does not wait
        QVERIFY(f.clock.readings - readings <= 1);

        WindowFixture g;
        g.saveIni(g.programDir.path().chopped(1));
        g.make().Form_Load();
        auto* splash = g.child<app::frmSplash>("frmSplash");
        QCOMPARE(splash->findChild<QLabel*>(u"lblVersion"_s)->text(), u"Version 1.0.5"_s);
        splash->move(0, 0);
        QTest::keyClick(splash, Qt::Key_A);
        QVERIFY(splash->isVisible() && splash->x() > 0 && splash->y() > 0);
        QTest::mouseClick(splash->findChild<QLabel*>(u"imgLogo"_s), Qt::LeftButton);
        QVERIFY(!splash->isVisible());
    }

    // Modal over the main window, with the version, a link that opens, and system information
    // said to be unavailable without a registry. Help opens the page in the program folder, and
    // says so where there is none.
    void aboutWindowAndHelp() {
        WindowFixture f;
        app::frmMain& w = f.make();
        w.show();
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* about = qobject_cast<app::frmAbout*>(QApplication::activeModalWidget());
            QVERIFY(about != nullptr && about->parentWidget() == &w);
            seen = true;
            QCOMPARE(about->findChild<QLabel*>(u"lblVersion"_s)->text(), u"Version 1.0.5"_s);
            auto* link = about->findChild<QLabel*>(u"Label2"_s);
            QTest::mouseClick(link, Qt::LeftButton);
            QTest::mouseClick(about->findChild<QPushButton*>(u"cmdSysInfo"_s), Qt::LeftButton);
            QCOMPARE(f.boxes.shown.at(0).text, u"System Information Is Unavailable At This Time"_s);
            QTest::mouseClick(about->findChild<QPushButton*>(u"cmdOK"_s), Qt::LeftButton);
            QVERIFY(link->text().startsWith(u"https://"_s));
            QCOMPARE(f.opener.opened, std::vector<QString>{link->text()});
        });
        f.child<QAction>("mnuOm")->trigger();
        QVERIFY(seen && QApplication::activeModalWidget() == nullptr);

        f.opener.opened.clear();
        f.child<QAction>("mnuHjalpHjalp")->trigger();
        QVERIFY(f.boxes.shown.size() == 2 && f.opener.opened.empty());
        QVERIFY(QDir(f.folder.folder).mkdir(u"hjälp"_s));
        writeAll(f.folder.folder + u"/hjälp/index.html"_s, "<html></html>\n");
        f.child<QAction>("mnuHjalpHjalp")->trigger();
        QCOMPARE(f.opener.opened, std::vector<QString>{f.folder.folder + u"/hjälp/index.html"_s});
    }
};

SORVEL_WIDGET_TEST_MAIN(AboutTest)
#include "about_test.moc"
