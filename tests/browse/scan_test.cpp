#include "browse/scan.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "support/recorder.h"

#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QDir>
#include <cstddef>
#include <cstdlib>
#include <iterator>

using namespace sorvel;
using namespace sorvel::browse;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

namespace {

class Scan : public ::testing::Test, public Recorder {
protected:
    /// The names of the rows without tag fields, sorted.
    QStringList withoutTag() const {
        QStringList names;
        for (const Row& r : rows) {
            if (r == Row{r.name, {}, {}, {}, {}, {}, {}, r.ending, {}})
                names << r.name;
        }
        names.sort();
        return names;
    }
    QByteArray at(const char* name) const { return dir.file(QString::fromUtf8(name)).toUtf8(); }

    TempFolder dir;
    platform::PosixFileSystem fs;
    platform::PosixFileSystem sequential{platform::PosixFileSystem::TailReads::Sequential};
};

}  // namespace

TEST_F(Scan, ThreeFilesReportInTheOrderTheUserSees) {
    dir.write(u"a.mp3"_s, audio(400) + trailer("Titel", " Artist", "Album", "1999", "Kul", 17));
    dir.write(u"Song.MP3"_s, audio(2) + trailer("T", "A", "", "", "", 0));
    dir.write(u"kort.mp3"_s, audio(1) + trailer("T", "A", "", "", "", 1));  // 129 bytes
    ASSERT_EQ(scan(fs, dir.path()), code::kOk);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(count, 3u);
    // In listing order: the first name before the first step, then for each file its row, its
    // name and the count.
    const auto file = [](const Row& r) {
        return r.name + (r.name == u"Song"_s ? u".MP3"_s : u".mp3"_s);
    };
    QStringList expected = {u"max 3"_s, u"Laddar "_s + file(rows[0]), u"value 0"_s};
    for (int i = 0; i < 3; ++i)
        expected << u"row "_s + rows[i].name << u"Laddar "_s + file(rows[i])
                 << u"value %1"_s.arg(i + 1);
    EXPECT_EQ(seen, expected << u"value 0"_s << u"Klar"_s);
    byName();
    EXPECT_EQ(
        rows,
        (std::vector<Row>{
            // byte 0: no genre; the ending as listed
            Row{u"Song"_s, u"A"_s, u"T"_s, {}, {}, {}, {}, Row::kCapitalM | Row::kCapitalP, {}},
            Row{u"a"_s, u"Artist"_s, u"Titel"_s, u"Album"_s, u"1999"_s, u"Rock"_s, u"Kul"_s, 0, {}},
            Row{u"kort"_s, {}, {}, {}, {}, {}, {}, 0, {}},  // too short to hold a trailer
        }));
}

TEST_F(Scan, AFolderWithoutMp3FilesOrThatCannotBeListedReportsOnlyThat) {
    dir.write(u"a.mp4"_s, audio(300));
    dir.write(u".dold.mp3"_s, audio(300));
    QDir(dir.path()).mkdir(u"mapp.mp3"_s);
    ASSERT_EQ(scan(fs, dir.path()), code::kOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(seen, QStringList{u"Inga MP3 filer funna i katalogen "_s + dir.path() + u'.'});
    for (const QString& folder : {u"/musik"_s, u"/musik/"_s})
        EXPECT_EQ(katalogFor(folder), u"/musik/"_s);
    EXPECT_EQ(katalogFor(u"/"_s), u"/"_s);
    EXPECT_EQ(scan(fs, dir.file(u"saknas/"_s)), code::kFileNotFound);
    EXPECT_EQ(scan(fs, dir.write(u"fil"_s, "x") + u'/'), code::kPathNotFound);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(count, 0u);
}

TEST_F(Scan, AFileThatCannotBeReadIsListedWithoutTagAndTheScanGoesOn) {
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"})
        dir.write(QString::fromUtf8(n), audio(300) + trailer("T", "A", "", "", "", 1));
    // Between the listing and the reading another program removes a.mp3 and puts a FIFO in the
    // place of e.mp3.
    FaultyFileSystem racing;
    racing.afterListing = [&] {
        ::unlink(at("a.mp3"));
        ::unlink(at("e.mp3"));
        ::mkfifo(at("e.mp3"), 0644);
    };
    ASSERT_EQ(scan(racing, dir.path()), code::kOk);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(withoutTag(), (QStringList{u"a"_s, u"e"_s}));
    EXPECT_EQ(seen.back(), u"Klar"_s);

    FaultyFileSystem faulty;
    faulty.failOpenPath = dir.file(u"b.mp3"_s);  // no permission, or locked
    faulty.failReadNumber = 2;                   // the medium fails under c or d
    ASSERT_EQ(scan(faulty, dir.path()), code::kOk);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(withoutTag().size(), 2);
    EXPECT_EQ(withoutTag()[0], u"b"_s);
    EXPECT_EQ(seen.back(), u"Klar"_s);
}

// Many files at a time or one after the other, the user sees the same: on a folder that spans
// several windows and chunks of reads, with files that cannot be read from the start (no read
// permission, no trailer, too short) and files another program changes between the listing and
// the reading (removed, turned into a FIFO or a folder, cut below the size of a trailer).
TEST_F(Scan, ManyFilesInFlightGiveTheRowsAndReportsOfOneAfterTheOther) {
    FaultyFileSystem overlapped;
    if (!overlapped.overlapsReads())
        GTEST_SKIP() << "the kernel refuses io_uring here; the fallback is tested on its own";
    ASSERT_FALSE(sequential.overlapsReads());
    const QByteArray tagged = audio(300) + trailer("T", "A", "Album", "2001", "", 17);
    const QString locked = dir.write(u"låst.mp3"_s, tagged);
    ::chmod(locked.toUtf8().constData(), 0);
    const auto lay = [&] {
        for (int i = 0; i < 2500; ++i)
            dir.write(u"fil %1.mp3"_s.arg(i),
                      audio(200 + i % 500) + trailer("T", "A", "", "", "", i % 116));
        layMeddled(dir, tagged);
        dir.write(u"Stor.MP3"_s, tagged);
        dir.write(u"ljud.mp3"_s, audio(4000));
        dir.write(u"kort.mp3"_s, audio(1) + trailer("T", "A", "", "", "", 1));
    };
    overlapped.afterListing = [&] { meddle(dir); };
    const AsUser plainUser;
    if (!AsUser::refused(locked))
        GTEST_SKIP() << "this test runs with the power to read any file and cannot give it up";

    lay();
    ASSERT_EQ(scan(overlapped, dir.path()), code::kOk);
    const Recorder many = *this;
    lay();
    FaultyFileSystem oneByOne(platform::PosixFileSystem::TailReads::Sequential);
    oneByOne.afterListing = overlapped.afterListing;
    ASSERT_EQ(scan(oneByOne, dir.path()), code::kOk);
    EXPECT_EQ(count, 2508u);
    EXPECT_TRUE(many.seen == seen);
    EXPECT_TRUE(many.rows == rows);
    EXPECT_EQ(withoutTag(), QStringList({u"borta"_s, u"fifo"_s, u"kort"_s, u"krymper"_s, u"ljud"_s,
                                         u"låst"_s, u"mapp"_s}));

    // The ends themselves agree too, with the reasons for the files that could not be read.
    std::vector<QString> names;
    for (const Row& r : rows)
        names.push_back(r.name + (r.name == u"Stor"_s ? u".MP3"_s : u".mp3"_s));
    std::vector<platform::FileTail> tails(names.size()), single(names.size());
    overlapped.readTails(dir.path(), names, 131, 130, tails);
    sequential.readTails(dir.path(), names, 131, 130, single);
    EXPECT_TRUE(tails == single);
    const auto tailOf = [&](const QString& name) {
        return single[std::size_t(std::find(names.begin(), names.end(), name) - names.begin())];
    };
    EXPECT_EQ(tailOf(u"borta.mp3"_s).code, code::kFileNotFound);
    for (const QString& refused : {u"fifo.mp3"_s, u"mapp.mp3"_s, u"låst.mp3"_s})
        EXPECT_EQ(tailOf(refused).code, code::kAccess) << refused.toStdString();
    EXPECT_EQ(tailOf(u"krymper.mp3"_s).size, 100u);
    EXPECT_EQ(tailOf(u"krymper.mp3"_s).length, 0u);
    EXPECT_EQ(tailOf(u"ljud.mp3"_s).length, 131u);
}

// With few descriptors to spare (ulimit -n 256, and then only a handful of those free) the reads
// in flight become fewer, and every file is still read.
TEST_F(Scan, FewFreeDescriptorsShrinkTheReadsInFlightAndEveryFileIsRead) {
    for (int i = 0; i < 3000; ++i)
        dir.write(u"fil %1.mp3"_s.arg(i), audio(200) + trailer("T", "A", "", "", "", i % 116));
    ASSERT_EQ(scan(sequential, dir.path()), code::kOk);
    const std::vector<Row> expected = rows;
    ASSERT_TRUE(withoutTag().empty());
    FewDescriptors few(256);
    for (const int spare : {-1, 8, 1}) {
        few.leaveFree(spare);
        platform::PosixFileSystem overlapped;  // its ring takes one of the spare descriptors
        EXPECT_EQ(scan(overlapped, dir.path()), code::kOk) << spare;
        EXPECT_TRUE(rows == expected) << spare << " descriptors to spare";
    }
}

// As a container's seccomp filter or kernel.io_uring_disabled answers: the scan falls back to
// one file after the other, with the same rows.
TEST_F(Scan, WhereTheKernelRefusesIoUringTheFilesAreReadOneAfterTheOther) {
    dir.write(u"a.mp3"_s, audio(300) + trailer("Titel", "Artist", "", "", "", 17));
    dir.write(u"b.mp3"_s, audio(300));
    ASSERT_EQ(scan(sequential, dir.path()), code::kOk);
    const Recorder expected = *this;
    const auto withoutIoUring = [&](int err) {
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        sock_filter filter[] = {
            {BPF_LD | BPF_W | BPF_ABS, 0, 0, offsetof(seccomp_data, nr)},
            {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, __NR_io_uring_setup},
            {BPF_RET | BPF_K, 0, 0, SECCOMP_RET_ERRNO | (unsigned(err) & SECCOMP_RET_DATA)},
            {BPF_RET | BPF_K, 0, 0, SECCOMP_RET_ALLOW},
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            std::_Exit(2);
        platform::PosixFileSystem refused;
        std::_Exit(!refused.overlapsReads() && scan(refused, dir.path()) == code::kOk &&
                           seen == expected.seen && rows == expected.rows
                       ? 0
                       : 1);
    };
    for (const int err : {ENOSYS, EPERM})
        EXPECT_EXIT(withoutIoUring(err), ::testing::ExitedWithCode(0), "") << err;
}
