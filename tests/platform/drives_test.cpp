// The drive list read from the kernel's mount table.
#include "platform/drives_posix.h"
#include "platform/names.h"

#include <gtest/gtest.h>

namespace sorvel::platform {
namespace {

// A mount table as a desktop machine has it, with a container's and a snap's entries mixed in.
constexpr std::string_view kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "24 22 0:22 / /sys rw,nosuid shared:7 - sysfs sysfs rw\n"
    "25 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw,size=8G\n"
    "26 22 0:25 / /run rw,nosuid shared:5 - tmpfs tmpfs rw\n"
    "27 22 8:3 / /home rw,relatime shared:30 - ext4 /dev/sda3 rw\n"
    "28 24 0:27 / /sys/fs/cgroup rw shared:9 - cgroup2 cgroup2 rw\n"
    "29 22 7:0 / /snap/core/1 ro shared:40 - squashfs /dev/loop0 ro\n"
    "30 26 8:17 / /media/anna/MIN\\040MUSIK rw,nosuid shared:60 - vfat /dev/sdb1 rw\n"
    "31 26 8:33 / /run/media/anna/USB rw shared:61 - exfat /dev/sdc1 rw\n"
    "32 22 0:50 / /mnt/nas rw shared:70 - nfs4 server:/export rw\n"
    "33 22 0:51 / /tmp rw shared:71 - tmpfs tmpfs rw\n"
    "34 27 8:4 / /home rw shared:80 - btrfs /dev/sda4 rw\n"
    "garbage line\n";

TEST(Drives, OnlyTheFileSystemsAUserBrowses) {
    const std::vector<MountEntry> mounts = parseMountInfo(kMountInfo);
    ASSERT_EQ(mounts.size(), 13u);  // the garbage line is skipped
    EXPECT_EQ(mounts[8].mountPoint, QStringLiteral("/media/anna/MIN MUSIK"));  // \040 is a space

    const std::map<QByteArray, QString> labels = {{"/dev/sdb1", QStringLiteral("MIN MUSIK")}};
    const std::vector<Drives::Drive> drives = drivesFromMounts(mounts, labels);
    std::vector<QString> roots;
    for (const auto& d : drives) {
        roots.push_back(d.root);
    }
    // /home mounted over: the later mount is the one seen, listed once.
    EXPECT_EQ(roots,
              (std::vector<QString>{QStringLiteral("/"), QStringLiteral("/media/anna/MIN MUSIK"),
                                    QStringLiteral("/run/media/anna/USB"),
                                    QStringLiteral("/mnt/nas"), QStringLiteral("/home")}));
    EXPECT_EQ(drives[0].label, QStringLiteral("sda2"));       // no label: the device's name
    EXPECT_EQ(drives[1].label, QStringLiteral("MIN MUSIK"));  // the file system's label
    EXPECT_EQ(drives[3].label, QStringLiteral("nfs4"));       // no device: the kind
    EXPECT_EQ(drives[4].label, QStringLiteral("sda4"));
}

TEST(Drives, AnOverlayRootIsBrowsableAndAMountPointKeepsItsBytes) {
    // In a container the root is an overlay; it is still where the files are.
    const auto mounts = parseMountInfo(
        "1 0 0:40 / / rw - overlay overlay rw,lowerdir=/x\n"
        "5 1 8:1 / /media/\xe5r rw - ext4 /dev/sdd1 rw\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_TRUE(isBrowsable(mounts[0]));
    EXPECT_EQ(encodeName(mounts[1].mountPoint), QByteArray("/media/\xe5r"));
}

TEST(Drives, DriveOfAPathMatchesWholeFolderNames) {
    const std::vector<Drives::Drive> drives = {
        {QStringLiteral("/"), QStringLiteral("sda2")},
        {QStringLiteral("/media/usb"), QStringLiteral("USB")},
        {QStringLiteral("/media/usb/inner"), QString()}};
    EXPECT_EQ(driveOfPath(drives, QStringLiteral("/media/usb/Musik")).root,
              QStringLiteral("/media/usb"));
    EXPECT_EQ(driveOfPath(drives, QStringLiteral("/media/usb")).root, QStringLiteral("/media/usb"));
    EXPECT_EQ(driveOfPath(drives, QStringLiteral("/media/usb2/Musik")).root, QStringLiteral("/"));
    EXPECT_EQ(driveOfPath(drives, QStringLiteral("/media/usb/inner/x")).root,
              QStringLiteral("/media/usb/inner"));
}

TEST(Drives, ThisMachineHasItsRootAndAGoneDriveCannotBeReached) {
    PosixDrives drives;
    const auto list = drives.list();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(drives.driveOf(QStringLiteral("/")).root, QStringLiteral("/"));
    EXPECT_EQ(drives.check(drives.driveOf(QStringLiteral("/"))), code::kOk);
    EXPECT_EQ(drives.check({QStringLiteral("/media/sorvel-no-such-drive"), QString()}),
              code::kDeviceUnavailable);
}

}  // namespace
}  // namespace sorvel::platform
