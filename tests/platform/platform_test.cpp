// The file-system layer (names, listing, the rename that never replaces), the drive list
// read from the kernel's mount table, the program's folder and program start as bytes, and the
// desktop's real trash.
#include "platform/desktop_posix.h"
#include "platform/drives_posix.h"
#include "platform/filesystem.h"
#include "platform/gio_trash.h"
#include "platform/names.h"
#include "platform/tail_ring.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <filesystem>
#include <thread>

using namespace sorvel;
using namespace sorvel::platform;
using namespace Qt::StringLiterals;

namespace {

class Files : public ::testing::Test {
protected:
    QByteArray at(const char* name) const { return encodeName(dir.file(decodeName(name))); }
    std::map<QString, QByteArray> files() const { return test::snapshot(dir.path()); }
    test::TempFolder dir;
    PosixFileSystem fs;
};

// The desktop's real trash, in a home of the test's own.
struct Trashing : Files {
    void TearDown() override { std::filesystem::remove_all(home.toStdString()); }
    // The trash at `trash` holds `name` and its .trashinfo: `original` as "Path=", escaped as in a
    // URI (every byte outside what a URI path may hold as %XX), and the date. Then the desktop's
    // own tools (trash-cli), where installed, list the file by its original path and restore it
    // (they ask which of the trashed files: the first).
    void expectTrashed(const QString& bin, const QString& name, const QByteArray& original,
                       const QString& path) {
        EXPECT_EQ(test::readAll(bin + u"/files/"_s + name), "ljud");
        static const QRegularExpression info(
            u"^\\[Trash Info\\]\nPath=(([A-Za-z0-9._~!$&'()*+,;=:@/-]|%[0-9A-F]{2})*)\nDeletionDate=.+\n$"_s);
        const auto found = info.match(
            QString::fromLatin1(test::readAll(bin + u"/info/"_s + name + u".trashinfo"_s)));
        ASSERT_TRUE(found.hasMatch());
        EXPECT_EQ(QByteArray::fromPercentEncoding(found.captured(1).toLatin1()), original);
        // trash-cli shows a name that is not UTF-8 in a way of its own.
        if (!path.isValidUtf16() || QStandardPaths::findExecutable(u"trash-restore"_s).isEmpty())
            return;
        QProcess list;
        list.start(u"trash-list"_s, {});
        ASSERT_TRUE(list.waitForFinished(60000));
        EXPECT_TRUE(QString::fromUtf8(list.readAllStandardOutput()).contains(u' ' + path + u'\n'));
        QProcess::execute(u"sh"_s, {u"-c"_s, u"echo 0 | trash-restore \"$0\" >/dev/null"_s, path});
        EXPECT_EQ(test::readAll(path), "ljud");
    }
    const QString home = test::desktopHome() + u"data/Trash"_s;
    GioTrash trash;
};

}  // namespace

// Each tail comes to its own file, read many at a time or one by one, in a batch longer than the
// ring's window and shared with a second thread, also in a process with no descriptor to spare
// beside the ring's, or one, or a few: a file that is gone or no regular file is answered as open()
// answers it, and the files around it are read all the same. With none free no file is told read,
// and the reads overlap again after. No descriptor is left open, and with enough the ring reads
// every file itself.
TEST_F(Files, EveryTailComesToItsOwnFileAlsoShortOfDescriptors) {
    constexpr int kCount = 600, kBytes = 128, kMinSize = 10;
    std::vector<QString> names;
    std::vector<FileTail> want(kCount);
    // At both ends: the second thread takes the batch from the back.
    ASSERT_EQ(::mkdir(at("6.mp3"), 0755) | ::mkfifo(at("8.mp3"), 0644) |
                  ::mkdir(at("597.mp3"), 0755) | ::mkfifo(at("599.mp3"), 0644),
              0);
    for (int i = 0; i < kCount; ++i) {
        names.push_back(QString::number(i) + u".mp3"_s);
        const QByteArray bytes = QByteArray::number(i * 7919).repeated(40).left(i * 37 % 150);
        FileTail& t = want[i];
        t.code = i == 5 || i == 595                         ? code::kFileNotFound
                 : i == 6 || i == 8 || i == 597 || i == 599 ? code::kNotRegularFile
                                                            : 0;
        if (t.code != code::kOk)
            continue;
        dir.write(names[i], bytes);
        t.size = bytes.size();
        t.length = t.size < kMinSize ? 0 : std::min<std::size_t>(t.size, kBytes);
        std::memcpy(t.bytes.data(), bytes.right(t.length).constData(), t.length);
    }
    using enum PosixFileSystem::TailReads;
    TailRing::Setup setup{};
    const bool ring = TailRing::create(4, setup) != nullptr;  // else the kernel refuses io_uring
    const std::pair<PosixFileSystem::TailReads, int> modes[] = {
        {Overlapped, 9999}, {Sequential, 9999}, {Overlapped, 0}, {Overlapped, 1},
        {Overlapped, 2},    {Overlapped, 3},    {Overlapped, 8}, {Sequential, 1}};
    for (const auto& [reads, free] : modes) {
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizers look at memory through a pipe of their own, which a child short of
        // descriptors cannot open: there, only the runs with descriptors to spare.
        if (free < 9999)
            continue;
#endif
        // In a child of only the standard descriptors, and `free` more: the answer is how many
        // tails are wrong, and whether one is left open.
        const auto read = [&] {
            ::close_range(3, ~0U, 0);
            const rlimit low{rlim_t(3 + free), rlim_t(3 + free)};
            ::setrlimit(RLIMIT_NOFILE, &low);
            int wrong = 0;
            {
                test::FaultyFileSystem reader(reads);
                std::vector<FileTail> tails(kCount);
                reader.readTails(dir.path(), names, kBytes, kMinSize, tails);
                for (int i = 0; i < kCount; ++i)
                    wrong += tails[i] != (free != 0 ? want[i] : FileTail{code::kTooManyFiles});
                wrong += reads == Overlapped && free > 8 && ring && reader.reads != 0;
                ::close(0);  // one comes free
                wrong += reader.overlapsReads() != (reads == Overlapped && ring);
            }
            for (int fd = 3; fd < 3 + free; ++fd)
                wrong += ::fcntl(fd, F_GETFD) != -1;
            ::_exit(std::min(wrong, 100));
        };
        EXPECT_EXIT(read(), ::testing::ExitedWithCode(0), "")
            << (reads == Overlapped ? "overlapped, free " : "one by one, free ") << free;
    }
}

TEST(Names, AnyByteSequenceSurvivesDecodingAndEncoding) {
    for (const std::string s : {"plain.mp3", "\xc3\xa5\xc3\xa4\xc3\xb6.mp3", "latin1-\xe5\xe4\xf6",
                                "\xff\xfe", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                "\xe2\x82", "\xf0\x9f\x8e\xb5", "\x80\x90\x80\x80"})
        EXPECT_EQ(encodeName(decodeName(s)).toStdString(), s);
    EXPECT_EQ(decodeName("\xc3\xa5\xe5"), u"å"_s + QChar(0xDCE5));
}

// Regular, visible files ending in .mp3 in any letter case, and links to them; a name that is
// not UTF-8 comes back as its own bytes. What renames killed on a stick without hard links left
// goes first: notes of processes that are gone, each beside the empty file it reserved, and that
// file while its source is there; not a file written to since, one a rename made (its source
// gone), one whose note is cut short, nor the reservation of a living process.
TEST_F(Files, ListingKeepsRegularVisibleMp3FilesInAnyCaseAndTidiesKilledRenames) {
    for (const char* n :
         {"a.mp3", "B.MP3", "c.Mp3", ".dold.mp3", "d.mp4", "e.mp3.txt", "mp3", "\xe5-latin1.mp3"})
        test::writeAll(decodeName(at(n).toStdString()), "x");
    ASSERT_EQ(::mkdir(at("mapp.mp3"), 0755), 0);
    ASSERT_EQ(::mkfifo(at("fifo.mp3"), 0644), 0);
    ASSERT_EQ(::symlink("a.mp3", at("länk.mp3")), 0);
    ASSERT_EQ(::symlink("saknas", at("trasig.mp3")), 0);
    const auto note = [&](const QString& k, int pid, const QByteArray& holds, bool whole = true) {
        const QString source = dir.write(k + u".mp3"_s, "ljud"), target = k.toUpper() + u".mp3"_s;
        dir.write(target, holds);
        dir.write(u".sorvel-reserve-%1-%2"_s.arg(pid).arg(k),
                  encodeName(source) + '\0' + encodeName(target) + QByteArray(whole, '\0'));
    };
    note(u"v"_s, 999999999, "");
    note(u"w"_s, ::getpid(), "");
    note(u"x"_s, 999999999, "x");
    note(u"y"_s, 999999999, "");
    note(u"z"_s, 999999999, "", false);
    ::unlink(at("y.mp3"));
    std::vector<QString> names;
    std::size_t count = 0;
    ASSERT_EQ(fs.listMp3(dir.path(), &names, count), code::kOk);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<QString>{u"B.MP3"_s, u"W.mp3"_s, u"X.mp3"_s, u"Y.mp3"_s, u"Z.mp3"_s,
                                    u"a.mp3"_s, u"c.Mp3"_s, u"länk.mp3"_s, u"v.mp3"_s, u"w.mp3"_s,
                                    u"x.mp3"_s, u"z.mp3"_s, decodeName("\xe5-latin1.mp3")}));
    EXPECT_EQ(std::exchange(count, 0), 13u);
    EXPECT_EQ(fs.listMp3(dir.path(), nullptr, count), code::kOk);
    EXPECT_EQ(count, 13u);
    EXPECT_EQ(fs.listMp3(dir.file(u"saknas"_s), &names, count), code::kFileNotFound);
}

// What a hostile folder holds under names of songs, given to each way of opening a file to write:
// a link leads only to a regular file whose name ends in ".mp3", wherever it is; anything else is
// refused by its reason, before any descriptor could reach it.
TEST_F(Files, WritersOpenOnlyRegularFilesAndLinksToMp3Files) {
    struct Entry {
        const char* name;
        const char* lay;  ///< what a link leads to, or "<folder>" or "<fifo>"
        Code code;
    };
    const test::TempFolder outside;
    outside.write(u"notes.txt"_s, "text");
    outside.write(u"Song.MP3"_s, "song");
    const Entry kEntries[] = {
        {"text.mp3", "notes.txt", code::kLinkNotMp3},
        {"comm.mp3", "/proc/self/comm", code::kLinkNotMp3},
        {"elsewhere.mp3", "Song.MP3", code::kOk},
        {"dangling.mp3", "missing.mp3", code::kLinkNotMp3},
        {"folder.mp3", "<folder>", code::kNotRegularFile},
        {"fifo.mp3", "<fifo>", code::kNotRegularFile},
    };
    // Songs first: a batch that large is shared with a second thread, which takes the far end.
    std::vector<QString> names;
    constexpr std::size_t kSongs = 300;
    for (std::size_t i = 0; i < kSongs; ++i) {
        names.push_back(QString::number(i) + u".mp3"_s);
        dir.write(names.back(), QByteArray(200, 'a'));
    }
    for (const Entry& e : kEntries) {
        names.push_back(decodeName(e.name));
        const QByteArray to = (*e.lay == '/' ? "" : encodeName(outside.path())) + e.lay;
        ASSERT_EQ(*e.lay != '<'     ? ::symlink(to, at(e.name))
                  : e.lay[1] == 'f' ? ::mkfifo(at(e.name), 0644)
                                    : ::mkdir(at(e.name), 0755),
                  0)
            << e.name;
    }
    for (const auto reads :
         {PosixFileSystem::TailReads::Overlapped, PosixFileSystem::TailReads::Sequential}) {
        PosixFileSystem writer(reads);
        std::vector<FileTail> tails(names.size());
        std::vector<int> fds(names.size(), -1);
        writer.openTails(dir.path(), names, 128, tails, fds);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const Code want = i < kSongs ? code::kOk : kEntries[i - kSongs].code;
            EXPECT_EQ(tails[i].code, want) << names[i].toStdString() << " in a batch";
            EXPECT_EQ(fds[i] >= 0, !want) << names[i].toStdString() << " open in a batch";
            EXPECT_TRUE(i >= kSongs || tails[i].length == 128u) << names[i].toStdString();
            writer.close(fds[i]);
        }
        for (const Entry& e : kEntries) {
            int fd = -1;
            std::uint64_t size = 0;
            EXPECT_EQ(
                writer.open(dir.file(decodeName(e.name)), FileSystem::Access::ReadWrite, fd, size),
                e.code)
                << e.name;
            writer.close(fd);
        }
    }
    // A descriptor that may not write is not cut short, and says so.
    int fd = -1;
    std::uint64_t size = 0;
    ASSERT_EQ(fs.open(dir.write(u"läst.mp3"_s, "ljud"), FileSystem::Access::Read, fd, size), 0);
    EXPECT_NE(fs.truncate(fd, 0), code::kOk);
    fs.close(fd);
}

// Also where the file system does not know a rename that never replaces (EINVAL, as NFS and FUSE
// answer), and for a case-only rename that fails at its second step: two links to one file,
// named alike but for letter case, are what a file system that ignores case shows. Those names
// are long, so that the temporary name must be short to fit at all.
TEST_F(Files, RenameNeverReplacesAnythingAndARefusalIsAnAccessFailure) {
    const QString lower = QString(251, u'n'), upper = lower.toUpper();
    const QByteArray n = dir.write(lower + u".mp3"_s, "N").toUtf8();
    ASSERT_EQ(::link(n, dir.file(upper + u".mp3"_s).toUtf8()), 0);
    for (bool einval : {false, true}) {
        test::FaultyFileSystem faulty;
        faulty.renameAnswersEinval = einval;
        const auto rename = [&](const char* from, const char* to) {
            return faulty.rename(dir.file(decodeName(from)), dir.file(decodeName(to)));
        };
        dir.write(u"a.mp3"_s, "A");
        dir.write(u"b.mp3"_s, "B");
        ::mkdir(at("m.mp3"), 0755);
        const auto before = files();
        EXPECT_EQ(rename("a.mp3", "b.mp3"), code::kFileExists);
        EXPECT_EQ(rename("a.mp3", "m.mp3"), code::kFileExists);
        EXPECT_EQ(rename("x.mp3", "d.mp3"), code::kFileNotFound);
        EXPECT_EQ(renameMp3(faulty, dir.path(), lower + u".mp3"_s, upper), code::kFileExists);
        {
            test::ReadOnly folder(dir.path());
            ASSERT_TRUE(folder.effective());
            EXPECT_EQ(rename("a.mp3", "e.mp3"), code::kAccess);
        }
        EXPECT_EQ(files(), before);
        EXPECT_EQ(rename("a.mp3", "c.mp3"), code::kOk);
        EXPECT_EQ(files().count(u"a.mp3"_s), 0u);
        EXPECT_EQ(files().at(u"c.mp3"_s), "A");
        ::unlink(at("c.mp3"));
    }
}

// The rename reaches the file by its own ending, changes letter case, takes no name another
// file has in another case of its ending, and renaming to its own name is a quiet success.
TEST_F(Files, RenameReachesTheFileByItsOwnEndingAndChangesLetterCase) {
    dir.write(u"Dubbel.mp3"_s, "d");
    dir.write(u"Dubbel.MP3"_s, "D");
    dir.write(u"Annan.MP3"_s, "A");
    const auto rename = [&](const char* from, const char* to) {
        return renameMp3(fs, dir.path(), decodeName(from), decodeName(to));
    };
    EXPECT_EQ(
        std::vector({rename("Dubbel.MP3", "Ny"), rename("Dubbel.MP3", "Nytt"),
                     rename("Ny.mp3", "NY"), rename("NY.mp3", "Annan"), rename("NY.mp3", "NY")}),
        std::vector({code::kOk, code::kFileNotFound, code::kOk, code::kFileExists, code::kOk}));
    EXPECT_EQ(files(), (std::map<QString, QByteArray>{
                           {u"Annan.MP3"_s, "A"}, {u"Dubbel.mp3"_s, "d"}, {u"NY.mp3"_s, "D"}}));
}

// The longest accepted: 251 bytes, and 252 bytes in 126 characters, plus ".mp3".
TEST(NewNames, RefusedNamesGetTheirCodes) {
    for (const char* bad : {"", ".dold", "a\"b", "a?b", "a*b", "a/b", "a\\b", "a:b", "a<b", "a>b",
                            "a|b", "tab\there", "del\x7f", "c1\xc2\x81", "c1\xc2\x9f"})
        EXPECT_EQ(checkNewName(decodeName(bad)), code::kBadFileName) << bad;
    for (const char* reserved : {"CON", "aux", "COM1", "COM4", "LPT3", "PRN", "nul"})
        EXPECT_EQ(checkNewName(decodeName(reserved)), code::kReservedName) << reserved;
    for (const QString& ok : {u"nbsp\u00a0ok"_s, u"COM5 - ok"_s, QString(251, u'a')})
        EXPECT_EQ(checkNewName(ok), code::kOk) << ok.toStdString();
    for (const QString& tooLong : {QString(252, u'a'), QString(126, u'å')})
        EXPECT_EQ(checkNewName(tooLong), code::kBadFileName) << tooLong.size();
}

// A mount table as a desktop machine has it, with a container's and a snap's entries and a
// garbage line mixed in: /home mounted over is the later mount, listed once; without a label, a
// drive is named by its device or else its kind. In a container the root is an overlay, and
// still where the files are. A path's drive matches whole folder names; this machine's own
// drives are read, and one that is gone cannot be reached.
TEST(Drives, OnlyTheFileSystemsAUserBrowsesByMountPointAndLabel) {
    const std::vector<MountEntry> mounts = parseMountInfo(
        "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
        "27 22 8:3 / /home rw,relatime shared:30 - ext4 /dev/sda3 rw\n"
        "29 22 7:0 / /snap/core/1 ro shared:40 - squashfs /dev/loop0 ro\n"
        "30 26 8:17 / /media/anna/MIN\\040MUSIK rw,nosuid shared:60 - vfat /dev/sdb1 rw\n"
        "32 22 0:50 / /mnt/nas rw shared:70 - nfs4 server:/export rw\n"
        "33 22 0:51 / /tmp rw shared:71 - tmpfs tmpfs rw\n"
        "34 27 8:4 / /home rw shared:80 - btrfs /dev/sda4 rw\n"
        "garbage line\n"
        "36 22 8:50 / /media/utan rw - ext4 \n"
        "35 22 8:49 / /media/\xe5r rw - ext4 /dev/sdd1 rw\n");
    std::vector<QString> drives;
    for (const auto& d : drivesFromMounts(mounts, {{"/dev/sdb1", u"MIN MUSIK"_s}}))
        drives.push_back(d.root + u'=' + d.label);
    EXPECT_EQ(mounts.size(), 9u);
    EXPECT_EQ(encodeName(mounts[8].mountPoint), "/media/\xe5r");
    EXPECT_EQ(drives, (std::vector<QString>{u"/=sda2"_s, u"/media/anna/MIN MUSIK=MIN MUSIK"_s,
                                            u"/mnt/nas=nfs4"_s, u"/home=sda4"_s,
                                            decodeName("/media/\xe5r=sdd1")}));
    EXPECT_TRUE(isBrowsable(parseMountInfo("1 0 0:40 / / rw - overlay overlay rw\n").at(0)));
    QStringList labels;
    for (const char* link :
         {"MIN\\x20MUSIK", "\\x41", "100\\x25", "k\\xc3\\xa5r", "a\\xZZ", "b\\x4"})
        labels << labelOfLinkName(link);
    EXPECT_EQ(labels,
              (QStringList{u"MIN MUSIK"_s, u"A"_s, u"100%"_s, u"kår"_s, u"a\\xZZ"_s, u"b\\x4"_s}));

    const std::vector<Drives::Drive> list = {
        {u"/"_s, u"sda2"_s}, {u"/media/usb"_s, u"USB"_s}, {u"/media/usb/inner"_s, QString()}};
    QStringList roots;
    for (const QString& path :
         {u"/media/usb/Musik"_s, u"/media/usb"_s, u"/media/usb2/Musik"_s, u"/media/usb/inner/x"_s})
        roots << driveOfPath(list, path).root;
    EXPECT_EQ(roots,
              (QStringList{u"/media/usb"_s, u"/media/usb"_s, u"/"_s, u"/media/usb/inner"_s}));
    PosixDrives own;
    ASSERT_FALSE(own.list().empty());
    EXPECT_EQ(own.check(own.driveOf(u"/"_s)), code::kOk);
    EXPECT_EQ(own.check({u"/media/sorvel-no-such-drive"_s, {}}), code::kDeviceUnavailable);
}

// A copy of this test, run from a folder whose name is not UTF-8, reports the program's folder
// as it found it; and a program whose name is not UTF-8 is started as itself.
TEST(ProgramFolder, IsTheFolderTheProgramRunsFromByteForByteAndStartsProgramsByTheirBytes) {
    if (const char* report = std::getenv("SORVEL_REPORT_PROGRAM_FOLDER")) {
        int argc = 1;
        char name[] = "kopia", *argv[] = {name, nullptr};
        const QCoreApplication app(argc, argv);
        return test::writeAll(decodeName(report), encodeName(ExecutableFolder().path()));
    }
    test::TempFolder dir;
    const QByteArray folder = encodeName(dir.path()) + "program-\xe5";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const std::string copy = folder.toStdString() + "/kopia";
    std::filesystem::copy_file("/proc/self/exe", copy);
    ASSERT_EQ(std::system(("SORVEL_REPORT_PROGRAM_FOLDER='" + encodeName(dir.file(u"rapport"_s)) +
                           "' '" + QByteArray::fromStdString(copy) +
                           "' --gtest_filter=ProgramFolder.* >/dev/null")
                              .constData()),
              0);
    EXPECT_EQ(test::readAll(dir.file(u"rapport"_s)), folder);

    const QString program = decodeName(folder.toStdString() + "/start-\xe5");
    const QString started = dir.file(u"startad"_s);
    test::writeAll(program, "#!/bin/sh\n: > '" + encodeName(started) + "'\n");
    ::chmod(encodeName(program).constData(), 0755);
    EXPECT_FALSE(XdgOpener().startProgram(dir.file(u"saknas"_s)));
    EXPECT_FALSE(XdgOpener().startProgram(dir.write(u"ej-körbar"_s, "#!/bin/sh\n")));
    ASSERT_TRUE(XdgOpener().startProgram(program));
    for (int i = 0; i < 200 && !test::present(started); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(test::present(started));
}

TEST_F(Trashing, KeepsTheFileAndItsOriginalPathAndTheDesktopRestoresIt) {
    for (const QString& name : {decodeName("lat\xe5 #.mp3"), u"a b %41 #x å.mp3"_s}) {
        const QString path = dir.write(name, "ljud");
        ASSERT_EQ(trash.moveToTrash(path), code::kOk);
        EXPECT_FALSE(test::present(path));
        expectTrashed(home, name, encodeName(path), path);
    }
    EXPECT_EQ(trash.moveToTrash(dir.file(u"saknas.mp3"_s)), code::kFileNotFound);
}

// In a child with an alarm clock, so that a loop fails the test instead of stopping the run.
TEST_F(Trashing, ABrokenTrashNeitherHangsNorLosesTheFile) {
    ASSERT_TRUE(QDir().mkpath(home + u"/files"_s));
    test::writeAll(home + u"/info"_s, "not a folder");
    const QString path = dir.write(u"kvar.mp3"_s, "ljud");
    const auto moveWithinAnAlarm = [&] {
        ::alarm(20);
        return trash.moveToTrash(path);
    };
    EXPECT_EXIT(::_exit(moveWithinAnAlarm() == code::kOk), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(test::readAll(path), "ljud");
    EXPECT_TRUE(QDir(home + u"/files"_s).isEmpty());
}

// A small ext2 file system mounted in the temporary folder is removable media, as far as the
// trash can tell: the file goes to the trash of its volume, with its path relative to the
// volume, which may be mounted elsewhere.
TEST_F(Trashing, AFileOnRemovableMediaGoesToTheTrashOfItsVolume) {
    const QString image = dir.file(u"bild.ext2"_s), root = dir.file(u"volym"_s);
    if (::geteuid() != 0 || !QDir().mkpath(root) ||
        QProcess::execute(u"truncate"_s, {u"-s8M"_s, image}) != 0 ||
        QProcess::execute(u"mkfs.ext2"_s, {u"-qF"_s, image}) != 0 ||
        QProcess::execute(u"mount"_s, {u"-oloop"_s, image, root}) != 0)
        GTEST_SKIP() << "no loop-mounted file system here (needs root)";
    const QString name = u"v å #.mp3"_s, path = root + u'/' + name;
    test::writeAll(path, "ljud");
    EXPECT_EQ(trash.moveToTrash(path), code::kOk);
    expectTrashed(root + u"/.Trash-"_s + QString::number(::geteuid()), name, encodeName(name),
                  path);
    ::umount2(encodeName(root).constData(), MNT_DETACH);
}
