#include "browse/scan.h"
#include "platform/names.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>

#include <algorithm>

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
            if (r == Row{r.name, {}, {}, {}, {}, {}, {}})
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
    EXPECT_EQ(rows,
              (std::vector<Row>{
                  Row{u"Song"_s, u"A"_s, u"T"_s, {}, {}, {}, {}},  // byte 0: no genre
                  Row{u"a"_s, u"Artist"_s, u"Titel"_s, u"Album"_s, u"1999"_s, u"Rock"_s, u"Kul"_s},
                  Row{u"kort"_s, {}, {}, {}, {}, {}, {}},  // too short to hold a trailer
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
