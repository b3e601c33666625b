#pragma once

#include "platform/names.h"
#include "support/files.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cerrno>
#include <cstring>

namespace sorvel::test {

inline QString why(const char* what) {
    return QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromUtf8(strerror(errno));
}

/// Puts the process in a mount namespace of its own, once, so that whatever a test mounts is
/// gone when the process ends, however it ends. Call it while the process has one thread only.
/// Gives the reason when mounting is not possible here (no privilege, no namespaces), else empty.
inline QString privateMounts() {
    static const QString reason = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return why("no mount namespace");
        return ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                   ? QString()
                   : why("mounts not private");
    }();
    return reason;
}

/// A small real file system of `bytes`, mounted on a temporary folder for as long as the object
/// lives: a tmpfs; an ext4 image (4 KiB blocks, none reserved for root) on a loop device, the file
/// system of a real disk, whose trash the desktop uses; the exFAT or NTFS of a USB stick or
/// memory card, served as such media are on the desktop: by a FUSE daemon (exfat-fuse, ntfs-3g),
/// never by the kernel's own driver, which a test may stop as a stick that hangs stops answering.
class Medium {
public:
    enum class Kind { Tmpfs, Ext4, Exfat, Ntfs };

    explicit Medium(std::size_t bytes, Kind kind = Kind::Tmpfs) {
        const char* const scripts[] = {
            "mount -t tmpfs -o size=%1 sorvel-test @d",
            "truncate -s %1 @i && mkfs.ext4 -q -F -m 0 -b 4096 @i && mount -o loop @i @d",
            "truncate -s %1 @i && mkfs.exfat @i && mount -t exfat-fuse -o loop @i @d",
            "truncate -s %1 @i && mkntfs -F -Q @i && mount -t ntfs-3g -o loop @i @d"};
        // The daemon that a FUSE mount leaves behind becomes this process's child, to be reaped.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        why_ = privateMounts();
        if (why_.isEmpty())
            why_ = run(QString::fromLatin1(scripts[int(kind)])
                           .arg(bytes)
                           .replace(QStringLiteral("@i"), store_.file(QStringLiteral("disk.img")))
                           .replace(QStringLiteral("@d"), dir_.path().chopped(1)));
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        mounted_ = why_.isEmpty();
        // The daemon is the process named with the mount point on its command line.
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (mounted_ && kind >= Kind::Exfat && pid.toInt() > 0 &&
                cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(at_))
                daemon_ = pid.toInt();
        }
    }
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;
    ~Medium() {
        if (!mounted_)
            return;
        // The loop device of an image goes with its last mount. A FUSE daemon, woken if stopped,
        // writes the image to the end while the unmount waits, then exits; it is waited for (and
        // reaped, having been adopted at the mount) so that nothing of it outlives the medium.
        signal(SIGCONT);
        if (daemon_ <= 0 || ::umount2(target(), 0) != 0)
            ::umount2(target(), MNT_DETACH);
        for (int i = 0; daemon_ > 0 && i < 100 && ::waitpid(daemon_, nullptr, WNOHANG) == 0; ++i)
            QThread::msleep(50);
    }
    bool mounted() const { return mounted_; }
    /// Why there is no mount, for the skip message.
    QString whyNot() const { return why_; }
    /// The mount point, ending in "/".
    QString path() const { return dir_.path(); }
    /// Remounts it read-only (or writable again), FUSE media too; answers errno.
    int remount(bool readOnly) const {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount(nullptr, target(), nullptr, flags, nullptr) == 0 ? 0 : errno;
    }
    /// SIGSTOP makes a FUSE medium stop answering, SIGCONT answer again.
    void signal(int sig) const {
        if (daemon_ > 0)
            ::kill(daemon_, sig);
    }

private:
    const char* target() const { return at_.constData(); }

    // Runs the commands to their end with their chatter kept; gives the failure, else empty.
    static QString run(const QString& script) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return QString();
        return script + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
    }

    TempFolder store_;
    TempFolder dir_;
    QByteArray at_ = platform::encodeName(dir_.path().chopped(1));
    bool mounted_ = false;
    pid_t daemon_ = 0;
    QString why_;
};

}  // namespace sorvel::test
/// A Qt Test main that runs the widgets offscreen, in a mount namespace of the test's own (entered
/// before Qt starts any thread), with a desktop home of its own. A case that hangs ends the
/// process through SIGALRM (see alarm() in the tests) instead of holding the run.
#define SORVEL_MOUNTING_WIDGET_TEST_MAIN(TestClass) \
    int main(int argc, char** argv) {               \
        sorvel::test::privateMounts();              \
        sorvel::test::desktopHome();                \
        qputenv("QT_QPA_PLATFORM", "offscreen");    \
        QApplication app(argc, argv);               \
        TestClass test;                             \
        return QTest::qExec(&test, argc, argv);     \
    }
