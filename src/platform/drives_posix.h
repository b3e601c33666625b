#pragma once

#include "platform/desktop.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <string_view>
#include <vector>

namespace sorvel::platform {

/// One line of /proc/self/mountinfo, the parts the drive list needs.
struct MountEntry {
    QString mountPoint;  ///< decoded with decodeName(), octal escapes undone
    QByteArray fsType;
    QByteArray source;  ///< the device or server, e.g. "/dev/sdb1"
};

/// The lines of a mountinfo text; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

/// A label as udev names its link in /dev/disk/by-label: unusual characters written as \xNN.
QString labelOfLinkName(std::string_view name);

/// Whether a mount is one a user browses for files: the root always; never the kernel's pseudo
/// file systems (proc, sysfs, tmpfs, cgroup...), read-only images (squashfs) or the system's own
/// trees under /proc, /sys, /dev and /run (removable media under /run/media excepted).
bool isBrowsable(const MountEntry& mount);

/// The drives of a mountinfo text: browsable mounts that are folders, the last mount of a mount
/// point winning, in mount order. `labels` maps a device path to its file-system label; without
/// one a drive is labelled by its device's name, or by its file-system type.
std::vector<Drives::Drive> drivesFromMounts(const std::vector<MountEntry>& mounts,
                                            const std::map<QByteArray, QString>& labels);

/// The longest root among `drives` that holds `path` (a whole folder name must match); the root
/// folder when none does.
Drives::Drive driveOfPath(const std::vector<Drives::Drive>& drives, const QString& path);

/// The mounted file systems of this machine, read afresh on every call.
class PosixDrives : public Drives {
public:
    /// A mount whose root does not answer within kAnswerTime (probe.h) is listed all the same.
    std::vector<Drive> list() override;
    Drive driveOf(const QString& path) override;
    /// A drive whose mount has gone, or whose root cannot be reached or does not answer within
    /// kAnswerTime, is code::kDeviceUnavailable.
    Code check(const Drive& drive) override;
};

}  // namespace sorvel::platform
