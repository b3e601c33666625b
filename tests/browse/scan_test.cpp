#include "browse/scan.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "support/recorder.h"
#include "tag/genre.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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
        for (const Row& r : rows)
            names << (r == Row{r.name, {}, {}, {}, {}, {}, {}, 0, r.ending, {}} ? r.name
                                                                                : QString());
        names.removeAll({});
        names.sort();
        return names;
    }
    QString tagged(int i) {
        return dir.write(u"fil %1.mp3"_s.arg(i),
                         audio(200 + i % 500) + trailer("T", "A", "", "", "", i % 116));
    }

    TempFolder dir;
    platform::PosixFileSystem fs;
};

}  // namespace

// In listing order: the first name before the first step, then for each file its row, its name
// and the count. A file too short to hold a trailer, or that cannot be opened or read, is listed
// without tag and the scan goes on.
TEST_F(Scan, FilesReportInTheOrderTheUserSeesAndUnreadableOnesWithoutTag) {
    dir.write(u"a.mp3"_s, audio(400) + trailer("Titel", " Artist", "Album", "1999", "Kul", 17));
    dir.write(u"Song.MP3"_s, audio(2) + trailer("T", "A", "", "", "", 0));
    dir.write(u"kort.mp3"_s, audio(1) + trailer("T", "A", "", "", "", 1));
    ASSERT_EQ(scan(fs, dir.path()), code::kOk);
    ASSERT_EQ(count, 3u);
    QStringList expected = {u"max 3"_s, u"Laddar "_s + fileName(rows[0]), u"value 0"_s};
    for (int i = 0; i < 3; ++i)
        expected << u"row "_s + rows[i].name << u"Laddar "_s + fileName(rows[i])
                 << u"value %1"_s.arg(i + 1);
    EXPECT_EQ(seen, expected << u"value 0"_s << u"Klar"_s);
    byName();
    EXPECT_EQ(
        rows,
        (std::vector<Row>{
            {u"Song"_s, u"A"_s, u"T"_s, {}, {}, u"Blues"_s, {}, 0, 3, {}},
            {u"a"_s, u"Artist"_s, u"Titel"_s, u"Album"_s, u"1999"_s, u"Rock"_s, u"Kul"_s, 0, 0, {}},
            {u"kort"_s, {}, {}, {}, {}, {}, {}, 0, 0, {}}}));
    FaultyFileSystem faulty(platform::PosixFileSystem::TailReads::Sequential);
    faulty.failOpenPath = tagged(1);  // no permission, or locked
    faulty.failReadNumber = 2;        // the medium fails under one of the others
    tagged(2);
    tagged(3);
    ASSERT_EQ(scan(faulty, dir.path()), code::kOk);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(withoutTag().size(), 3);
    EXPECT_TRUE(withoutTag().contains(u"fil 1"_s));
    EXPECT_EQ(seen.back(), u"Klar"_s);
}

TEST_F(Scan, AFolderWithoutMp3FilesOrThatCannotBeListedReportsOnlyThat) {
    dir.write(u"a.mp4"_s, audio(300));
    dir.write(u".dold.mp3"_s, audio(300));
    ::mkdir(dir.file(u"mapp.mp3"_s).toUtf8(), 0755);
    ASSERT_EQ(scan(fs, dir.path()), code::kOk);
    EXPECT_EQ(seen, QStringList{u"Inga MP3 filer funna i katalogen "_s + dir.path() + u'.'});
    EXPECT_EQ(scan(fs, dir.file(u"saknas/"_s)), code::kFileNotFound);
    EXPECT_EQ(scan(fs, dir.write(u"fil"_s, "x") + u'/'), code::kPathNotFound);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(seen, QStringList());
    for (const QString& folder : {u"/musik"_s, u"/musik/"_s})
        EXPECT_EQ(katalogFor(folder), u"/musik/"_s) << folder.toStdString();
    EXPECT_EQ(katalogFor(u"/"_s), u"/"_s);
}

// Many files at a time and read ahead, or one after the other, the user sees the same: on a folder
// that spans several windows and chunks of reads, with files that cannot be read from the start (no
// read permission, no trailer) and files another program changes between the listing and the
// reading (removed, turned into a FIFO or a folder, cut below the size of a trailer).
TEST_F(Scan, ManyFilesInFlightGiveTheRowsAndReportsOfOneAfterTheOther) {
    FaultyFileSystem overlapped, oneByOne(platform::PosixFileSystem::TailReads::Sequential);
    if (!overlapped.overlapsReads())
        GTEST_SKIP() << "the kernel refuses io_uring here; the fallback is tested on its own";
    const QString locked = dir.write(u"låst.mp3"_s, audio(300) + trailer("T", "", "", "", "", 1));
    ::chmod(locked.toUtf8().constData(), 0);
    const auto lay = [&] {
        for (int i = 0; i < 2500; ++i)
            tagged(i);
        layMeddled(dir, audio(300) + trailer("T", "A", "Album", "2001", "", 17));
        dir.write(u"ljud.mp3"_s, audio(4000));
    };
    overlapped.afterListing = oneByOne.afterListing = [&] { meddle(dir); };
    oneByOne.readsAhead = false;
    const AsUser plainUser;
    if (!AsUser::refused(locked))
        GTEST_SKIP() << "this test runs with the power to read any file and cannot give it up";
    lay();
    ASSERT_EQ(scan(overlapped, dir.path()), code::kOk);
    const Recorder many = *this;
    lay();
    ASSERT_EQ(scan(oneByOne, dir.path()), code::kOk);
    EXPECT_EQ(many.seen, seen);
    EXPECT_EQ(many.rows, rows);
    EXPECT_EQ(withoutTag().join(u' '), u"borta fifo krymper ljud låst mapp"_s);
    EXPECT_EQ(count, 2506u);
    // Each file's row has its own tag, whichever chunk and reader read it.
    for (const Row& r : rows) {
        if (r.name.startsWith(u"fil "_s)) {
            EXPECT_EQ(r.genre, tag::tal_genre(r.name.mid(4).toInt() % 116)) << r.name.toStdString();
        }
    }
}
