// A mount that stops answering, through the real window and the real drive list: a folder mounted
// by bindfs, whose FUSE daemon the test stops as a server that has gone away stops answering.
// Under an alarm, since the fault this catches is a window that never comes back.
#include "mounts.h"
#include "platform/drives_posix.h"
#include "platform/probe.h"
#include "window/window_fixture.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using Answer = platform::MessageBoxes::Answer;

namespace {

/// A temporary folder mounted onto another by bindfs, for as long as the object lives.
class FuseMount {
public:
    FuseMount() {
        if (::access("/dev/fuse", R_OK | W_OK) != 0 ||
            QStandardPaths::findExecutable(u"bindfs"_s).isEmpty()) {
            why_ = u"no /dev/fuse or no bindfs"_s;
            return;
        }
        // A daemon left stopped by a test that died would hold its mount for good.
        daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        daemon_.start(u"bindfs"_s, {u"-f"_s, files.path().chopped(1), root()});
        for (int i = 0; i < 200 && !onFuse(root()) && daemon_.state() != QProcess::NotRunning; ++i)
            QThread::msleep(50);
        if (!onFuse(root()))
            why_ = u"bindfs did not mount: "_s +
                   QString::fromLocal8Bit(daemon_.readAllStandardError());
    }
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;
    ~FuseMount() {
        // Detached first, so that nothing new waits on it; the daemon then answers what still
        // waits and ends.
        ::umount2(platform::encodeName(root()).constData(), MNT_DETACH);
        signal(SIGCONT);
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000))
            daemon_.kill();
    }
    QString whyNot() const { return why_; }
    /// The mount point, as the drive list names it.
    QString root() const { return mountPoint_.path().chopped(1); }
    /// SIGSTOP to make the mount stop answering, SIGCONT to make it answer again.
    void signal(int sig) const {
        if (daemon_.state() != QProcess::NotRunning)
            ::kill(pid_t(daemon_.processId()), sig);
    }

    TempFolder files;  ///< what the mount shows

private:
    TempFolder mountPoint_;
    QProcess daemon_;
    QString why_;
};

FakeMessageBoxes::Shown unreachable(const QString& root) {
    return {u"Fel"_s, u"Enhet "_s + root + u" går inte att komma åt."_s,
            platform::MessageBoxes::Icon::None, platform::MessageBoxes::Buttons::RetryCancel};
}

}  // namespace

class StuckMountTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aMountThatStopsAnsweringHoldsNeitherTheWindowNorAScan() {
        ::alarm(120);
        if (const QString why = privateMounts(); !why.isEmpty())
            QSKIP(qPrintable(why));
        FuseMount stuck;
        FuseMount other;
        for (const FuseMount* m : {&stuck, &other}) {
            if (!m->whyNot().isEmpty())
                QSKIP(qPrintable(m->whyNot()));
        }
        WindowFixture::mp3(stuck.files, u"fast.mp3"_s, "Abba");
        WindowFixture::mp3(other.files, u"annan.mp3"_s, "Cher");

        // The folder of the last run is on the mount that no longer answers.
        platform::PosixDrives drives;
        WindowFixture t;
        t.saveIni(stuck.root());
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
        const int stuckAt = drive1->findText(stuck.root() + u" ["_s, Qt::MatchStartsWith);
        const int otherAt = drive1->findText(other.root() + u" ["_s, Qt::MatchStartsWith);
        QVERIFY(stuckAt >= 0 && otherAt >= 0);
        const int before = drive1->currentIndex();
        t.boxes.answers = {Answer::Cancel};
        drive1->setCurrentIndex(stuckAt);
        QCOMPARE(t.boxes.shown, std::vector{unreachable(stuck.root())});
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
        QCOMPARE(t.boxes.shown, std::vector{unreachable(stuck.root())});
        QCOMPARE(t.rows().rowCount(), 0);
        ::alarm(0);
    }
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(StuckMountTest)
#include "stuck_mount_test.moc"
