#include "browse/scan.h"
#include "platform/names.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QDir>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <iterator>

using namespace sorvel;
using namespace sorvel::browse;
using test::audio;
using test::trailer;
using namespace Qt::StringLiterals;

namespace {

// Records everything the scan reports, in order, as text ("row a"); the rows kept apart too.
class Scan : public ::testing::Test, public ScanObserver {
protected:
    void setStatus(const QString& text) override { events.push_back(u"status "_s + text); }
    void setProgressMax(int max) override { events.push_back(u"max "_s + QString::number(max)); }
    void setProgress(int value) override {
        events.push_back(u"progress "_s + QString::number(value));
    }
    void addRow(Row&& row) override {
        events.push_back(u"row "_s + row.name);
        rows.push_back(std::move(row));
    }

    Code scan(platform::FileSystem& on, const QString& folder) {
        events.clear();
        rows.clear();
        return scanFolder(on, folder, *this, count);
    }
    /// The names of the rows without tag fields, sorted.
    std::vector<QString> withoutTag() const {
        std::vector<QString> names;
        for (const Row& r : rows) {
            if (r == Row{r.name, {}, {}, {}, {}, {}, {}, r.ending, {}})
                names.push_back(r.name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempFolder dir;
    platform::PosixFileSystem fs;
    std::vector<QString> events;
    std::vector<Row> rows;
    std::size_t count = 99;
};

}  // namespace

TEST_F(Scan, ThreeFilesReportInTheOrderTheUserSees) {
    dir.write(u"a.mp3"_s, audio(400) + trailer("Titel", " Artist", "Album", "1999", "Kul", 17));
    dir.write(u"Song.MP3"_s, audio(2) + trailer("T", "A", "", "", "", 0));
    dir.write(u"kort.mp3"_s, audio(1) + trailer("T", "A", "", "", "", 1));  // 129 bytes
    ASSERT_EQ(scan(fs, dir.path()), code::kOk);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(count, 3u);

    // The rows come in listing order, and the reports with them: the first name before the first
    // step, then for each file its row, its name and the count.
    const auto file = [](const Row& r) {
        return r.name + (r.name == u"Song"_s ? u".MP3"_s : u".mp3"_s);
    };
    std::vector<QString> expected = {u"max 3"_s, u"status Laddar "_s + file(rows[0]),
                                     u"progress 0"_s};
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(),
                        {u"row "_s + rows[i].name, u"status Laddar "_s + file(rows[i]),
                         u"progress %1"_s.arg(i + 1)});
    }
    expected.insert(expected.end(), {u"progress 0"_s, u"status Klar"_s});
    EXPECT_EQ(events, expected);
    std::sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) { return x.name < y.name; });
    EXPECT_EQ(
        rows,
        (std::vector<Row>{
            // byte 0: no genre; the ending as listed
            Row{u"Song"_s, u"A"_s, u"T"_s, {}, {}, {}, {}, Row::kCapitalM | Row::kCapitalP, {}},
            Row{u"a"_s, u"Artist"_s, u"Titel"_s, u"Album"_s, u"1999"_s, u"Rock"_s, u"Kul"_s, 0, {}},
            Row{u"kort"_s, {}, {}, {}, {}, {}, {}, 0, {}},  // too short to hold a trailer
        }));
}

TEST_F(Scan, AFolderWithoutMp3FilesReportsOnlyThat) {
    dir.write(u"a.mp4"_s, audio(300));
    dir.write(u".dold.mp3"_s, audio(300));
    QDir(dir.path()).mkdir(u"mapp.mp3"_s);
    ASSERT_EQ(scan(fs, dir.path()), code::kOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(events, std::vector<QString>{u"status Inga MP3 filer funna i katalogen "_s +
                                           dir.path() + u'.'});
    EXPECT_EQ(katalogFor(u"/musik"_s), u"/musik/"_s);
    EXPECT_EQ(katalogFor(u"/musik/"_s), u"/musik/"_s);
    EXPECT_EQ(katalogFor(u"/"_s), u"/"_s);

    // A folder that cannot be listed answers its code and reports nothing.
    EXPECT_EQ(scan(fs, dir.file(u"saknas/"_s)), code::kFileNotFound);
    EXPECT_EQ(scan(fs, dir.write(u"fil"_s, "x") + u'/'), code::kPathNotFound);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(count, 0u);
}

TEST_F(Scan, AFileThatCannotBeReadIsListedWithoutTagAndTheScanGoesOn) {
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"})
        dir.write(QString::fromUtf8(n), audio(300) + trailer("T", "A", "", "", "", 1));
    // Between the listing and the reading, another program removes a.mp3 and puts a FIFO in the
    // place of e.mp3.
    test::FaultyFileSystem racing;
    racing.afterListing = [&] {
        for (const QString& gone : {dir.file(u"a.mp3"_s), dir.file(u"e.mp3"_s)})
            ::unlink(gone.toUtf8().constData());
        ::mkfifo(dir.file(u"e.mp3"_s).toUtf8().constData(), 0644);
    };
    ASSERT_EQ(scan(racing, dir.path()), code::kOk);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(withoutTag(), (std::vector<QString>{u"a"_s, u"e"_s}));
    EXPECT_EQ(events.back(), u"status Klar"_s);

    test::FaultyFileSystem faulty;
    faulty.failOpenPath = dir.file(u"b.mp3"_s);  // no permission, or locked
    faulty.failReadNumber = 2;                   // the medium fails under c or d
    ASSERT_EQ(scan(faulty, dir.path()), code::kOk);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(withoutTag().size(), 2u);
    EXPECT_EQ(withoutTag()[0], u"b"_s);
    EXPECT_EQ(events.back(), u"status Klar"_s);
}

namespace {

// Takes from the test the power of root to read any file, for as long as the object lives, so
// that a file without read permission cannot be read by the test either. Only the effective set
// changes; the capabilities come back at the end.
class WithoutReadOverride {
public:
    WithoutReadOverride() {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            lowered[cap / 32].effective &= ~(1u << (cap % 32));
        changed_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    WithoutReadOverride(const WithoutReadOverride&) = delete;
    WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;
    ~WithoutReadOverride() {
        if (changed_)
            ::syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool changed_ = false;
};

std::vector<QString> sortedNames(std::vector<QString> names) {
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Many files at a time or one after the other, the user sees the same: on a folder that spans
// several windows and chunks of reads, with files that cannot be read from the start (no read
// permission, no trailer, too short) and files another program changes between the listing and
// the reading (removed, turned into a FIFO or a folder, cut below the size of a trailer).
TEST_F(Scan, ManyFilesInFlightGiveTheRowsAndReportsOfOneAfterTheOther) {
    platform::PosixFileSystem sequential(platform::PosixFileSystem::TailReads::Sequential);
    test::FaultyFileSystem overlapped;
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
        // The FIFO and the folder of the last round go first: a FIFO would hold the write up.
        ::unlink(dir.file(u"fifo.mp3"_s).toUtf8().constData());
        for (const char* n : {"borta.mp3", "fifo.mp3", "krymper.mp3", "Stor.MP3"})
            dir.write(QString::fromUtf8(n), tagged);
        dir.write(u"ljud.mp3"_s, audio(4000));
        dir.write(u"kort.mp3"_s, audio(1) + trailer("T", "A", "", "", "", 1));
        ::rmdir(dir.file(u"mapp.mp3"_s).toUtf8().constData());
        dir.write(u"mapp.mp3"_s, tagged);
    };
    overlapped.afterListing = [&] {
        const auto at = [&](const char* n) { return dir.file(QString::fromUtf8(n)).toUtf8(); };
        ::unlink(at("borta.mp3"));
        ::unlink(at("fifo.mp3"));
        EXPECT_EQ(::mkfifo(at("fifo.mp3"), 0644), 0);
        ::unlink(at("mapp.mp3"));
        EXPECT_EQ(::mkdir(at("mapp.mp3"), 0755), 0);
        EXPECT_EQ(::truncate(at("krymper.mp3"), 100), 0);
    };
    const WithoutReadOverride plainUser;
    if (const int fd = ::open(locked.toUtf8().constData(), O_RDONLY); fd >= 0 && ::close(fd) == 0)
        GTEST_SKIP() << "this test runs with the power to read any file and cannot give it up";

    lay();
    ASSERT_EQ(scan(overlapped, dir.path()), code::kOk);
    const std::vector<QString> events1 = events;
    const std::vector<Row> rows1 = rows;
    lay();
    test::FaultyFileSystem oneByOne(platform::PosixFileSystem::TailReads::Sequential);
    oneByOne.afterListing = overlapped.afterListing;
    ASSERT_EQ(scan(oneByOne, dir.path()), code::kOk);
    EXPECT_EQ(count, 2508u);
    EXPECT_TRUE(events1 == events);
    EXPECT_TRUE(rows1 == rows);
    EXPECT_EQ(withoutTag(), sortedNames({u"borta"_s, u"fifo"_s, u"kort"_s, u"krymper"_s, u"ljud"_s,
                                         u"låst"_s, u"mapp"_s}));

    // The ends themselves agree too, with the reasons for the files that could not be read.
    std::vector<QString> names;
    for (const Row& r : rows)
        names.push_back(r.name + (r.name == u"Stor"_s ? u".MP3"_s : u".mp3"_s));
    std::vector<platform::FileTail> many(names.size());
    std::vector<platform::FileTail> single(names.size());
    overlapped.readTails(dir.path(), names, 131, 130, many);
    sequential.readTails(dir.path(), names, 131, 130, single);
    EXPECT_TRUE(many == single);
    const auto tailOf = [&](const QString& name) {
        return single[static_cast<std::size_t>(std::find(names.begin(), names.end(), name) -
                                               names.begin())];
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
    platform::PosixFileSystem sequential(platform::PosixFileSystem::TailReads::Sequential);
    ASSERT_EQ(scan(sequential, dir.path()), code::kOk);
    const std::vector<Row> expected = rows;
    ASSERT_TRUE(withoutTag().empty());

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(256, saved.rlim_cur);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> held;
    for (const int spare : {-1, 8, 1}) {
        for (const int fd : held)
            ::close(fd);
        held.clear();
        if (spare >= 0) {
            for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
                held.push_back(fd);
            for (int i = 0; i < spare && !held.empty(); ++i) {
                ::close(held.back());
                held.pop_back();
            }
        }
        platform::PosixFileSystem overlapped;  // its ring takes one of the spare descriptors
        EXPECT_EQ(scan(overlapped, dir.path()), code::kOk) << spare;
        EXPECT_TRUE(rows == expected) << spare << " descriptors to spare";
    }
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

// As a container's seccomp filter or kernel.io_uring_disabled answers: the scan falls back to
// one file after the other, with the same rows.
TEST_F(Scan, WhereTheKernelRefusesIoUringTheFilesAreReadOneAfterTheOther) {
    dir.write(u"a.mp3"_s, audio(300) + trailer("Titel", "Artist", "", "", "", 17));
    dir.write(u"b.mp3"_s, audio(300));
    platform::PosixFileSystem sequential(platform::PosixFileSystem::TailReads::Sequential);
    ASSERT_EQ(scan(sequential, dir.path()), code::kOk);
    const std::vector<QString> expected = events;
    const std::vector<Row> expectedRows = rows;
    const auto withoutIoUring = [&](int err) {
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        sock_filter filter[] = {
            {BPF_LD | BPF_W | BPF_ABS, 0, 0, offsetof(seccomp_data, nr)},
            {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, __NR_io_uring_setup},
            {BPF_RET | BPF_K, 0, 0,
             SECCOMP_RET_ERRNO | (static_cast<unsigned>(err) & SECCOMP_RET_DATA)},
            {BPF_RET | BPF_K, 0, 0, SECCOMP_RET_ALLOW},
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            std::_Exit(2);
        platform::PosixFileSystem refused;
        const bool same = !refused.overlapsReads() && scan(refused, dir.path()) == code::kOk &&
                          events == expected && rows == expectedRows;
        std::_Exit(same ? 0 : 1);
    };
    for (const int err : {ENOSYS, EPERM})
        EXPECT_EXIT(withoutIoUring(err), ::testing::ExitedWithCode(0), "") << err;
}
