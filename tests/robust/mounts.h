#pragma once

#include "platform/names.h"
#include "support/files.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cerrno>
#include <cstring>

namespace sorvel::test {

inline QString why(const char* what) {
    return QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromUtf8(strerror(errno));
}

/// Whether `path` is served by a FUSE daemon.
inline bool onFuse(const QString& path) {
    struct statfs st {};
    return ::statfs(platform::encodeName(path).constData(), &st) == 0 && st.f_type == 0x65735546;
}

/// Puts the process in a mount namespace of its own, once, so that whatever a test mounts is
/// gone when the process ends, however it ends. Call it while the process has one thread only.
/// Gives the reason when mounting is not possible here (no privilege, no namespaces), else empty.
inline QString privateMounts() {
    static const QString reason = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return why("no mount namespace");
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return why("mounts not private");
        return QString();
    }();
    return reason;
}

/// A small real file system of `bytes`, mounted on a temporary folder for as long as the object
/// lives: a tmpfs; an ext4 image (4 KiB blocks, none reserved for root) on a loop device, the file
/// system of a real disk, whose trash the desktop uses; the exFAT or NTFS of a USB stick or
/// memory card, served as such media are on the desktop: by a FUSE daemon (exfat-fuse, ntfs-3g),
/// never by the kernel's own driver; or a folder shown through bindfs, whose daemon a test may
/// stop as a server that has gone away stops answering.
class Medium {
public:
    enum class Kind { Tmpfs, Ext4, Exfat, Ntfs, Bindfs };

    explicit Medium(std::size_t bytes, Kind kind = Kind::Tmpfs, const char* more = "") {
        why_ = privateMounts();
        if (why_.isEmpty() && kind == Kind::Tmpfs) {
            const QByteArray options = "size=" + QByteArray::number(qulonglong(bytes)) + more;
            if (::mount("sorvel-test", target().constData(), "tmpfs", 0, options.constData()) != 0)
                why_ = why("cannot mount a tmpfs");
        } else if (why_.isEmpty()) {
            why_ = kind == Kind::Bindfs ? bind() : mountImage(bytes, kind);
        }
        mounted_ = why_.isEmpty();
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
        if (daemon_ <= 0 || ::umount2(target().constData(), 0) != 0)
            ::umount2(target().constData(), MNT_DETACH);
        if (bindfs_.state() != QProcess::NotRunning && !bindfs_.waitForFinished(5000))
            bindfs_.kill();
        for (int i = 0; daemon_ > 0 && i < 100; ++i) {
            const pid_t reaped = ::waitpid(daemon_, nullptr, WNOHANG);
            if (reaped == daemon_ || (reaped < 0 && ::kill(daemon_, 0) != 0))
                break;
            QThread::msleep(50);
        }
    }
    bool mounted() const { return mounted_; }
    /// Why there is no mount, for the skip message.
    QString whyNot() const { return why_; }
    /// The mount point, ending in "/".
    QString path() const { return dir_.path(); }
    /// Remounts it read-only (or writable again), FUSE media too; answers errno.
    int remount(bool readOnly) const {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount(nullptr, target().constData(), nullptr, flags, nullptr) == 0 ? 0 : errno;
    }
    /// SIGSTOP makes a FUSE medium stop answering, SIGCONT answer again.
    void signal(int sig) const {
        if (daemon_ > 0)
            ::kill(daemon_, sig);
    }

private:
    QByteArray target() const { return platform::encodeName(dir_.path().chopped(1)); }

    QString bind() {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            return why("no FUSE here: /dev/fuse");
        // A daemon left stopped by a test that died would hold its mount for good.
        bindfs_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        bindfs_.start(QStringLiteral("bindfs"),
                      {QStringLiteral("-f"), store_.path().chopped(1), dir_.path().chopped(1)});
        for (int i = 0; i < 200 && !onFuse(path()) && bindfs_.state() != QProcess::NotRunning; ++i)
            QThread::msleep(50);
        daemon_ = pid_t(bindfs_.processId());
        return onFuse(path()) ? QString()
                              : QStringLiteral("bindfs did not mount: ") + bindfs_.errorString() +
                                    QString::fromLocal8Bit(bindfs_.readAllStandardError());
    }

    // Makes the image and mounts it; gives why that failed, else empty.
    QString mountImage(std::size_t bytes, Kind kind) {
        const bool fuse = kind != Kind::Ext4;
        if (fuse && ::access("/dev/fuse", R_OK | W_OK) != 0)
            return why("no FUSE here: /dev/fuse");
        const QString image = store_.file(QStringLiteral("disk.img"));
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(bytes)))
            return QStringLiteral("cannot make an image file");
        file.close();
        const char* const tools[][2] = {{"ext4", "mkfs.ext4 -q -F -m 0 -b 4096"},
                                        {"exfat-fuse", "mkfs.exfat"},
                                        {"ntfs-3g", "mkntfs -F -Q"}};
        const QString type = QString::fromLatin1(tools[int(kind) - 1][0]);
        if (const QString failed =
                run(QString::fromLatin1(tools[int(kind) - 1][1]).split(u' ') << image);
            !failed.isEmpty())
            return failed;
        if (fuse && !QFileInfo(QStringLiteral("/sbin/mount.") + type).isExecutable())
            return QStringLiteral("no /sbin/mount.%1 (package %1)").arg(type);
        // The daemon that the mount leaves behind becomes this process's child, to be reaped.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        const QString failed =
            run({QStringLiteral("mount"), QStringLiteral("-t"), type, QStringLiteral("-o"),
                 QStringLiteral("loop"), image, dir_.path().chopped(1)});
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        if (!failed.isEmpty() || !fuse)
            return failed;
        if (!onFuse(dir_.path())) {
            ::umount2(target().constData(), MNT_DETACH);
            return QStringLiteral("%1 was not mounted through FUSE").arg(type);
        }
        // The daemon is the process named with the mount point on its command line.
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (pid.toInt() > 0 && cmdline.open(QIODevice::ReadOnly) &&
                cmdline.readAll().split('\0').contains(target()))
                daemon_ = pid.toInt();
        }
        return QString();
    }

    // Runs a tool to its end with its chatter kept; gives the failure, else empty.
    static QString run(const QStringList& command) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(command.first(), command.mid(1));
        if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return QString();
        return QStringLiteral("%1 failed (%2): %3")
            .arg(command.first(), p.errorString(), QString::fromLocal8Bit(p.readAll()));
    }

    TempFolder store_;
    TempFolder dir_;
    QProcess bindfs_;
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
