#pragma once

#include "platform/names.h"
#include "support/files.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QString>
#include <cerrno>
#include <cstring>

namespace sorvel::test {

/// Puts the process in a mount namespace of its own, once, so that whatever a test mounts is
/// gone when the process ends, however it ends. Call it while the process has one thread only.
/// Gives the reason when mounting is not possible here (no privilege, no namespaces), else empty.
inline QString privateMounts() {
    static const QString why = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return QStringLiteral("no mount namespace: %1").arg(QString::fromUtf8(strerror(errno)));
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return QStringLiteral("mounts not private: %1").arg(QString::fromUtf8(strerror(errno)));
        return QString();
    }();
    return why;
}

/// A small real file system of `bytes`, mounted on a temporary folder for as long as the object
/// lives: a tmpfs, or an ext4 image (4 KiB blocks, none reserved for root) on a loop device, the
/// file system of a real disk, whose trash the desktop uses.
class Medium {
public:
    enum class Kind { Tmpfs, Ext4 };

    explicit Medium(std::size_t bytes, Kind kind = Kind::Tmpfs, const char* more = "") {
        why_ = privateMounts();
        if (!why_.isEmpty())
            return;
        if (kind == Kind::Ext4) {
            const QString image = store_.file(QStringLiteral("disk.img"));
            const QString size = QString::number(bytes / 1024) + u'k';
            if (QProcess::execute(QStringLiteral("mkfs.ext4"),
                                  {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-m"),
                                   QStringLiteral("0"), QStringLiteral("-b"),
                                   QStringLiteral("4096"), image, size}) != 0) {
                why_ = QStringLiteral("mkfs.ext4 cannot make an image");
                return;
            }
            if (QProcess::execute(QStringLiteral("mount"),
                                  {QStringLiteral("-o"), QStringLiteral("loop"), image,
                                   dir_.path().chopped(1)}) != 0) {
                why_ = QStringLiteral("cannot mount an ext4 image on a loop device");
                return;
            }
        } else {
            const QByteArray options = "size=" + QByteArray::number(qulonglong(bytes)) + more;
            if (::mount("sorvel-test", target().constData(), "tmpfs", 0, options.constData()) !=
                0) {
                why_ = QStringLiteral("cannot mount a tmpfs: %1")
                           .arg(QString::fromUtf8(strerror(errno)));
                return;
            }
        }
        mounted_ = true;
    }
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;
    ~Medium() {
        // The loop device of an image goes with its last mount.
        if (mounted_)
            ::umount2(target().constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    /// Why there is no mount, for the skip message.
    QString whyNot() const { return why_; }
    /// The mount point, ending in "/".
    QString path() const { return dir_.path(); }
    /// Remounts it read-only (or writable again); answers errno.
    int remount(bool readOnly) const {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount(nullptr, target().constData(), nullptr, flags, nullptr) == 0 ? 0 : errno;
    }

private:
    QByteArray target() const { return platform::encodeName(dir_.path().chopped(1)); }

    TempFolder store_;
    TempFolder dir_;
    bool mounted_ = false;
    QString why_;
};

}  // namespace sorvel::test

/// A Qt Test main that runs the widgets offscreen, in a mount namespace of the test's own
/// (entered before Qt starts any thread).
#define SORVEL_MOUNTING_WIDGET_TEST_MAIN(TestClass) \
    int main(int argc, char** argv) {               \
        sorvel::test::privateMounts();              \
        qputenv("QT_QPA_PLATFORM", "offscreen");    \
        QApplication app(argc, argv);               \
        TestClass test;                             \
        return QTest::qExec(&test, argc, argv);     \
    }
