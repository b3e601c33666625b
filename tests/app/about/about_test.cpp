// The real message boxes, and the splash window's wait.
#include "../window/window_fixture.h"

#include "platform/message_boxes_qt.h"

#include <QMessageBox>
#include <QTimer>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

class AboutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every way a user closes each kind of box, from within the box's own event loop: its own
    // button and Enter give its answer; a box of one button answers OK however it is closed, the
    // others Cancel. The buttons speak Swedish; the title is the one asked for, or the program's.
    void messageBoxesSpeakSwedishAndAnswerWhatTheUserChose() {
        using B = platform::MessageBoxes::Buttons;
        using A = platform::MessageBoxes::Answer;
        const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Critical,
                                           QMessageBox::Information};
        platform::QtMessageBoxes boxes;
        int i = 0;
        for (const auto& [buttons, own, yes, labels] :
             {std::tuple{B::Ok, QMessageBox::Ok, A::Ok, u"OK"_s},
              {B::OkCancel, QMessageBox::Ok, A::Ok, u"Avbryt,OK"_s},
              {B::RetryCancel, QMessageBox::Retry, A::Retry, u"&Försök igen,Avbryt"_s}}) {
            for (const int act :
                 std::initializer_list<int>{Qt::Key_Space, Qt::Key_Return, Qt::Key_Escape, 0, 1}) {
                QString seen;
                QTimer::singleShot(0, this, [&, act, own = own] {
                    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    QStringList shown;
                    for (QAbstractButton* b : box->buttons())
                        shown << b->text();
                    shown.sort();
                    seen = box->windowTitle() + u'|' + shown.join(u',') + u'|' +
                           QString::number(box->icon());
                    if (act == 0)
                        box->close();
                    else if (act == 1 && box->button(QMessageBox::Cancel))
                        QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
                    else if (act == 1 || act == Qt::Key_Space)
                        QTest::mouseClick(box->button(own), Qt::LeftButton);
                    else
                        QTest::keyClick(box, Qt::Key(act));
                });
                const QString title = ++i % 2 ? u"Ändra filnamn?"_s : QString();
                const A answer =
                    boxes.show(title, u"Text"_s, platform::MessageBoxes::Icon(i % 3), buttons);
                const bool chose = act == Qt::Key_Space || act == Qt::Key_Return;
                QCOMPARE(answer, chose || buttons == B::Ok ? yes : A::Cancel);
                QCOMPARE(seen, (title.isEmpty() ? u"Sorvel"_s : title) + u'|' + labels + u'|' +
                                   QString::number(icons[i % 3]));
            }
        }
    }

    // Until more than three seconds have passed on the clock since loading began, and not much
    // longer, across midnight too; the splash gone, a listing does not wait.
    void splashWaitsThreeSecondsOnTheClock() {
        WindowFixture f;
        f.clock.now = 86399;
        f.clock.step = 0.25;
        f.start();
        QVERIFY(!f.child("frmSplash")->isVisible());
        const double waited = f.clock.now - f.clock.step - 86399;
        QVERIFY2(waited > 3.0 && waited <= 3.25, qPrintable(QString::number(waited)));
        const int readings = f.clock.readings;
        f.w->mnuUppdatera_Click();
        QVERIFY(f.clock.readings - readings <= 1);
    }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
