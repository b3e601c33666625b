// A mount that stops answering, through the real window and the real drive list: a folder mounted
// by bindfs, whose FUSE daemon the test stops as a server that has gone away stops answering.
// Under an alarm, since the fault this catches is a window that never comes back.
#include "mounts.h"
#include "platform/drives_posix.h"
#include "platform/probe.h"
#include "window/window_fixture.h"

#include <QComboBox>
#include <QElapsedTimer>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using Answer = platform::MessageBoxes::Answer;

class StuckMountTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aMountThatStopsAnsweringHoldsNeitherTheWindowNorAScan() {
        ::alarm(120);
        const Medium stuck(0, Medium::Kind::Bindfs), other(0, Medium::Kind::Bindfs);
        for (const Medium* m : {&stuck, &other}) {
            if (!m->mounted())
                QSKIP(qPrintable(m->whyNot()));
        }
        const QString root = stuck.path().chopped(1);
        writeAll(stuck.path() + u"fast.mp3"_s, audio(400) + trailer("", "Abba", "", "", "", 1));
        writeAll(other.path() + u"annan.mp3"_s, audio(400));
        const std::vector unreachable{FakeMessageBoxes::Shown{
            u"Fel"_s, u"Enhet "_s + root + u" går inte att komma åt."_s,
            platform::MessageBoxes::Icon::None, platform::MessageBoxes::Buttons::RetryCancel}};

        // The folder of the last run is on the mount that no longer answers.
        platform::PosixDrives drives;
        WindowFixture t;
        t.saveIni(root);
        stuck.signal(SIGSTOP);
        QElapsedTimer took;
        took.start();
        t.make(nullptr, &drives).Form_Load();
        t.w->show();
        // One wait for the drive list and one for the folder; never one per question.
        QVERIFY2(took.elapsed() < 3 * platform::kAnswerTime.count(),
                 qPrintable(QString::number(took.elapsed())));
        QVERIFY(t.boxes.shown.empty());  // a folder that cannot be restored is given up quietly

        auto* drive1 = t.child<QComboBox>("Drive1");
        const int stuckAt = drive1->findText(root + u" ["_s, Qt::MatchStartsWith);
        const int otherAt =
            drive1->findText(other.path().chopped(1) + u" ["_s, Qt::MatchStartsWith);
        QVERIFY(stuckAt >= 0 && otherAt >= 0);
        const int before = drive1->currentIndex();
        t.boxes.answers = {Answer::Cancel};
        drive1->setCurrentIndex(stuckAt);
        QCOMPARE(t.boxes.shown, unreachable);
        QCOMPARE(drive1->currentIndex(), before);

        drive1->setCurrentIndex(otherAt);
        QCOMPARE(t.names(), QStringList{u"annan"_s});

        // A folder on show whose mount stops answering: its scan ends with the message.
        stuck.signal(SIGCONT);
        drive1->setCurrentIndex(stuckAt);
        QCOMPARE(t.names(), QStringList{u"fast"_s});
        stuck.signal(SIGSTOP);
        t.boxes.shown.clear();
        t.boxes.answers = {Answer::Cancel};
        t.w->mnuUppdatera_Click();
        QCOMPARE(t.boxes.shown, unreachable);
        QCOMPARE(t.rows().rowCount(), 0);
        ::alarm(0);
    }
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(StuckMountTest)
#include "stuck_mount_test.moc"
