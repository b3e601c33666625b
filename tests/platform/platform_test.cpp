// The file-system layer (names, listing, the rename that never replaces), the drive list
// read from the kernel's mount table, and the program's folder and program start as bytes.
#include "platform/desktop_posix.h"
#include "platform/drives_posix.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/probe.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

using namespace sorvel;
using namespace sorvel::platform;
using namespace Qt::StringLiterals;

namespace {

QString name(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class Files : public ::testing::Test {
protected:
    test::TempFolder dir;
    PosixFileSystem fs;
};

}  // namespace

TEST(Names, AnyByteSequenceSurvivesDecodingAndEncoding) {
    for (const std::string s :
         {"plain.mp3", "\xc3\xa5\xc3\xa4\xc3\xb6.mp3", "latin1-\xe5\xe4\xf6", "\xff\xfe",
          "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\xf0\x9f\x8e\xb5"}) {
        EXPECT_EQ(encodeName(decodeName(s)).toStdString(), s);
    }
    EXPECT_EQ(decodeName("\xc3\xa5"), u"å"_s);
    EXPECT_EQ(decodeName("\xe5").at(0).unicode(), 0xDCE5);
}

TEST_F(Files, ListingKeepsRegularVisibleMp3FilesInAnyCase) {
    for (const char* n : {"a.mp3", "B.MP3", "c.Mp3", ".dold.mp3", "d.mp4", "e.mp3.txt", "mp3"})
        dir.write(name(n), "x");
    QDir(dir.path()).mkdir(u"mapp.mp3"_s);
    ASSERT_EQ(::mkfifo(dir.file(u"fifo.mp3"_s).toUtf8().constData(), 0644), 0);
    ASSERT_EQ(::symlink("a.mp3", dir.file(u"länk.mp3"_s).toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("saknas", dir.file(u"trasig.mp3"_s).toUtf8().constData()), 0);
    const QString odd = decodeName("\xe5-latin1.mp3");
    test::writeAll(dir.path() + odd, "x");

    std::vector<QString> names;
    std::size_t count = 0;
    ASSERT_EQ(fs.listMp3(dir.path(), &names, count), code::kOk);
    EXPECT_EQ(count, names.size());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<QString>{u"B.MP3"_s, u"a.mp3"_s, u"c.Mp3"_s, u"länk.mp3"_s, odd}));
    ASSERT_EQ(fs.listMp3(dir.path(), nullptr, count), code::kOk);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(fs.listMp3(dir.file(u"saknas"_s), &names, count), code::kFileNotFound);
}

TEST_F(Files, RenameNeverReplacesAnythingAndARefusalIsAnAccessFailure) {
    for (bool einval : {false, true}) {  // also where the file system refuses RENAME_NOREPLACE
        test::FaultyFileSystem faulty;
        faulty.renameAnswersEinval = einval;
        const auto rename = [&](const char* from, const char* to) {
            return faulty.rename(dir.file(name(from)), dir.file(name(to)));
        };
        dir.write(u"a.mp3"_s, "A");
        dir.write(u"b.mp3"_s, "B");
        QDir(dir.path()).mkdir(u"m.mp3"_s);
        EXPECT_EQ(rename("a.mp3", "b.mp3"), code::kFileExists);
        EXPECT_EQ(rename("a.mp3", "m.mp3"), code::kFileExists);
        EXPECT_EQ(rename("a.mp3", "c.mp3"), code::kOk);
        EXPECT_EQ(rename("a.mp3", "d.mp3"), code::kFileNotFound);
        {
            test::ReadOnly folder(dir.path());
            ASSERT_TRUE(folder.effective());
            EXPECT_EQ(rename("c.mp3", "e.mp3"), code::kAccess);
        }
        EXPECT_EQ(test::readAll(dir.file(u"b.mp3"_s)) + test::readAll(dir.file(u"c.mp3"_s)), "BA");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList({u"b.mp3"_s, u"c.mp3"_s, u"m.mp3"_s}));
        QDir(dir.path()).rmdir(u"m.mp3"_s);
        QFile::remove(dir.file(u"c.mp3"_s));
    }
}

TEST_F(Files, RenameReachesTheFileByItsOwnEndingAndChangesLetterCase) {
    dir.write(u"Dubbel.mp3"_s, "d");
    dir.write(u"Dubbel.MP3"_s, "D");
    ASSERT_EQ(renameMp3(fs, dir.path(), u"Dubbel.MP3"_s, u"Ny"_s), code::kOk);
    EXPECT_EQ(test::readAll(dir.file(u"Ny.mp3"_s)), "D");
    EXPECT_EQ(test::readAll(dir.file(u"Dubbel.mp3"_s)), "d");
    EXPECT_EQ(renameMp3(fs, dir.path(), u"Dubbel.MP3"_s, u"Nytt"_s), code::kFileNotFound);
    ASSERT_EQ(renameMp3(fs, dir.path(), u"Ny.mp3"_s, u"NY"_s), code::kOk);
    EXPECT_EQ(test::readAll(dir.file(u"NY.mp3"_s)), "D");
    // A name that differs from another file only in the case of its ending is taken.
    dir.write(u"Annan.MP3"_s, "A");
    EXPECT_EQ(renameMp3(fs, dir.path(), u"NY.mp3"_s, u"Annan"_s), code::kFileExists);
    // Renaming to its own name is a quiet success.
    EXPECT_EQ(renameMp3(fs, dir.path(), u"NY.mp3"_s, u"NY"_s), code::kOk);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

TEST_F(Files, ACaseOnlyRenameThatFailsKeepsTheOldName) {
    // Two links to one file, named alike but for letter case, are what a file system that ignores
    // case shows: the rename goes through a temporary name, and its second step finds the new
    // name taken. The names are long, so that the temporary name must be short to fit at all.
    const QString lower = QString(251, u'n');
    const QString upper = lower.toUpper();
    const QString lowerPath = dir.write(lower + u".mp3"_s, "N");
    ASSERT_EQ(::link(encodeName(lowerPath).constData(),
                     encodeName(dir.file(upper + u".mp3"_s)).constData()),
              0);
    for (bool einval : {false, true}) {
        test::FaultyFileSystem faulty;
        faulty.renameAnswersEinval = einval;
        EXPECT_EQ(renameMp3(faulty, dir.path(), lower + u".mp3"_s, upper), code::kFileExists);
        EXPECT_EQ(test::readAll(lowerPath), "N");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

TEST(NewNames, RefusedNamesGetTheirCodes) {
    for (const char* bad : {"", ".dold", "a\"b", "a?b", "a*b", "a/b", "a\\b", "a:b", "a<b", "a>b",
                            "a|b", "tab\there", "del\x7f", "c1\xc2\x81", "c1\xc2\x9f"}) {
        EXPECT_EQ(checkNewName(name(bad)), code::kBadFileName) << bad;
    }
    for (const char* reserved : {"CON", "aux", "COM1", "COM4", "LPT3", "PRN", "nul"})
        EXPECT_EQ(checkNewName(name(reserved)), code::kAccess) << reserved;
    // The longest: 251 bytes, and 252 bytes in 126 characters, plus ".mp3".
    for (const QString& ok : {u"nbsp\u00a0ok"_s, u"COM5 - ok"_s, QString(251, u'a')})
        EXPECT_EQ(checkNewName(ok), code::kOk) << ok.toStdString();
    for (const QString& tooLong : {QString(252, u'a'), QString(126, u'å')})
        EXPECT_EQ(checkNewName(tooLong), code::kBadFileName);
}

TEST(Drives, OnlyTheFileSystemsAUserBrowsesByMountPointAndLabel) {
    // A mount table as a desktop machine has it, with a container's and a snap's entries mixed in.
    const std::vector<MountEntry> mounts = parseMountInfo(
        "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
        "25 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw,size=8G\n"
        "27 22 8:3 / /home rw,relatime shared:30 - ext4 /dev/sda3 rw\n"
        "28 24 0:27 / /sys/fs/cgroup rw shared:9 - cgroup2 cgroup2 rw\n"
        "29 22 7:0 / /snap/core/1 ro shared:40 - squashfs /dev/loop0 ro\n"
        "30 26 8:17 / /media/anna/MIN\\040MUSIK rw,nosuid shared:60 - vfat /dev/sdb1 rw\n"
        "31 26 8:33 / /run/media/anna/USB rw shared:61 - exfat /dev/sdc1 rw\n"
        "32 22 0:50 / /mnt/nas rw shared:70 - nfs4 server:/export rw\n"
        "33 22 0:51 / /tmp rw shared:71 - tmpfs tmpfs rw\n"
        "34 27 8:4 / /home rw shared:80 - btrfs /dev/sda4 rw\n"
        "garbage line\n"
        "35 22 8:49 / /media/\xe5r rw - ext4 /dev/sdd1 rw\n");
    ASSERT_EQ(mounts.size(), 12u);  // the garbage line is skipped
    EXPECT_EQ(encodeName(mounts[11].mountPoint), QByteArray("/media/\xe5r"));

    std::vector<QString> drives;
    for (const auto& d : drivesFromMounts(mounts, {{"/dev/sdb1", u"MIN MUSIK"_s}}))
        drives.push_back(d.root + u'=' + d.label);
    // /home mounted over: the later mount is the one seen, listed once. Without a label, the
    // device's name or else the kind.
    EXPECT_EQ(drives, (std::vector<QString>{u"/=sda2"_s, u"/media/anna/MIN MUSIK=MIN MUSIK"_s,
                                            u"/run/media/anna/USB=sdc1"_s, u"/mnt/nas=nfs4"_s,
                                            u"/home=sda4"_s, decodeName("/media/\xe5r=sdd1")}));
    // In a container the root is an overlay; it is still where the files are.
    EXPECT_TRUE(isBrowsable(parseMountInfo("1 0 0:40 / / rw - overlay overlay rw\n").at(0)));
}

TEST(Drives, DriveOfAPathMatchesWholeFolderNamesAndAGoneDriveCannotBeReached) {
    const std::vector<Drives::Drive> list = {
        {u"/"_s, u"sda2"_s}, {u"/media/usb"_s, u"USB"_s}, {u"/media/usb/inner"_s, QString()}};
    const std::pair<QString, QString> cases[] = {{u"/media/usb/Musik"_s, u"/media/usb"_s},
                                                 {u"/media/usb"_s, u"/media/usb"_s},
                                                 {u"/media/usb2/Musik"_s, u"/"_s},
                                                 {u"/media/usb/inner/x"_s, u"/media/usb/inner"_s}};
    for (const auto& [path, root] : cases)
        EXPECT_EQ(driveOfPath(list, path).root, root);

    PosixDrives drives;  // this machine's own
    ASSERT_FALSE(drives.list().empty());
    EXPECT_EQ(drives.check(drives.driveOf(u"/"_s)), code::kOk);
    EXPECT_EQ(drives.check({u"/media/sorvel-no-such-drive"_s, QString()}),
              code::kDeviceUnavailable);
}

TEST(Probe, AQuestionWithoutAnswerIsGivenUpAskedOnceAndAnsweredLateWithoutHarm) {
    // The question waits at the gate, as a call into a file system whose server has gone.
    std::promise<void> opening;
    const std::shared_future<void> gate = opening.get_future().share();
    const auto question = [gate] {
        gate.wait();
        return Finding{code::kAccess, {"svar"}};
    };
    {
        EXPECT_FALSE(ask("test gate", question, std::chrono::milliseconds(50)));
        const Probe again("test gate", question);
        EXPECT_TRUE(again.wasWaiting());
        EXPECT_FALSE(again.answerBy(std::chrono::steady_clock::now()));
    }
    // No one waits any more when the answer comes.
    opening.set_value();
    const std::optional<Finding> late = ask("test gate", question, std::chrono::seconds(10));
    ASSERT_TRUE(late);
    EXPECT_EQ(late->code, code::kAccess);
    EXPECT_EQ(late->names, std::vector<std::string>{"svar"});
}

TEST(ProgramFolder, IsTheFolderTheProgramRunsFromByteForByte) {
    // A copy of this test, run from a folder whose name is not UTF-8, reports what it found.
    if (const char* report = std::getenv("SORVEL_REPORT_PROGRAM_FOLDER")) {
        int argc = 1;
        char name[] = "kopia";
        char* argv[] = {name, nullptr};
        const QCoreApplication app(argc, argv);
        test::writeAll(platform::decodeName(report),
                       platform::encodeName(platform::ExecutableFolder().path()));
        return;
    }
    test::TempFolder dir;
    const QByteArray folder = platform::encodeName(dir.path()) + "program-\xe5";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    std::string copy = folder.toStdString() + "/kopia";
    std::filesystem::copy_file("/proc/self/exe", copy);
    std::string filter = "--gtest_filter=ProgramFolder.*";
    std::string env = "SORVEL_REPORT_PROGRAM_FOLDER=" +
                      platform::encodeName(dir.file(QStringLiteral("rapport"))).toStdString();
    char* argv[] = {copy.data(), filter.data(), nullptr};
    char* envp[] = {env.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, copy.c_str(), nullptr, nullptr, argv, envp), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::readAll(dir.file(QStringLiteral("rapport"))), folder);
}

TEST(StartProgram, AProgramWhoseNameIsNotUtf8IsStartedAsItself) {
    test::TempFolder dir;
    const QString program = dir.path() + platform::decodeName("program-\xe5");
    const QByteArray started = platform::encodeName(dir.file(QStringLiteral("startad")));
    test::writeAll(program, "#!/bin/sh\n: > '" + started + "'\n");
    ::chmod(platform::encodeName(program).constData(), 0755);
    ASSERT_TRUE(platform::XdgOpener().startProgram(program));
    for (int i = 0; i < 200 && ::access(started.constData(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(::access(started.constData(), F_OK), 0);
}
