#include "browse/scan.h"
#include "platform/names.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>

#include <algorithm>
#include <string>
#include <vector>

using namespace sorvel;
using namespace sorvel::browse;
using test::audio;
using test::trailer;
using namespace Qt::StringLiterals;

namespace {

// Everything the scan reports, in order, as text; the rows kept apart too.
class Recorder : public ScanObserver {
public:
    std::vector<QString> events;
    std::vector<Row> rows;

    void setStatus(const QString& text) override { events.push_back(u"status "_s + text); }
    void setProgressMax(int max) override { events.push_back(u"max "_s + QString::number(max)); }
    void setProgress(int value) override {
        events.push_back(u"progress "_s + QString::number(value));
    }
    void addRow(Row&& row) override {
        events.push_back(u"row "_s + row.name);
        rows.push_back(std::move(row));
    }
};

Row nameOnly(const QString& name) {
    return Row{name, {}, {}, {}, {}, {}, {}};
}

// Between the listing and the reading, another program removes one file and puts a FIFO in the
// place of another.
class RacingFileSystem : public platform::PosixFileSystem {
public:
    QString removed;
    QString fifo;
    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override {
        const Code c = PosixFileSystem::listMp3(folder, names, count);
        if (names != nullptr) {
            ::unlink(platform::encodeName(removed).constData());
            ::unlink(platform::encodeName(fifo).constData());
            ::mkfifo(platform::encodeName(fifo).constData(), 0644);
        }
        return c;
    }
};

std::vector<QString> withoutTag(const std::vector<Row>& rows) {
    std::vector<QString> names;
    for (const Row& r : rows) {
        if (r == nameOnly(r.name)) {
            names.push_back(r.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Scan : public ::testing::Test {
protected:
    test::TempFolder dir;
    Recorder seen;
    std::size_t rows = 99;

    Code scan(platform::FileSystem& fs) { return scanFolder(fs, dir.path(), seen, rows); }
};

}  // namespace

TEST_F(Scan, ThreeFilesReportInTheOrderTheUserSees) {
    dir.write(u"a.mp3"_s, audio(400) + trailer("Titel", " Artist", "Album", "1999", "Kul", 17));
    dir.write(u"Song.MP3"_s, audio(2) + trailer("T", "A", "", "", "", 0));
    dir.write(u"kort.mp3"_s, audio(1) + trailer("T", "A", "", "", "", 1));  // 129 bytes
    platform::PosixFileSystem fs;
    ASSERT_EQ(scan(fs), code::kOk);
    ASSERT_EQ(seen.rows.size(), 3u);
    EXPECT_EQ(rows, 3u);

    // The rows come in listing order; the reports must follow that order.
    const QString n0 = seen.rows[0].name, n1 = seen.rows[1].name, n2 = seen.rows[2].name;
    const auto file = [](const QString& n) {
        return n == u"Song"_s ? n + u".MP3"_s : n + u".mp3"_s;
    };
    const std::vector<QString> expected = {u"max 3"_s,
                                           u"status Laddar "_s + file(n0),
                                           u"progress 0"_s,
                                           u"row "_s + n0,
                                           u"status Laddar "_s + file(n0),
                                           u"progress 1"_s,
                                           u"row "_s + n1,
                                           u"status Laddar "_s + file(n1),
                                           u"progress 2"_s,
                                           u"row "_s + n2,
                                           u"status Laddar "_s + file(n2),
                                           u"progress 3"_s,
                                           u"progress 0"_s,
                                           u"status Klar"_s};
    EXPECT_EQ(seen.events, expected);

    std::vector<Row> sorted = seen.rows;
    std::sort(sorted.begin(), sorted.end(),
              [](const Row& x, const Row& y) { return x.name < y.name; });
    const std::vector<Row> want = {
        Row{u"Song"_s, u"A"_s, u"T"_s, {}, {}, {}, {}},  // genre byte 0 reads as no genre
        Row{u"a"_s, u"Artist"_s, u"Titel"_s, u"Album"_s, u"1999"_s, u"Rock"_s, u"Kul"_s},
        nameOnly(u"kort"_s),  // too short to hold a trailer
    };
    EXPECT_EQ(sorted, want);
}

TEST_F(Scan, AFolderWithoutMp3FilesReportsOnlyThat) {
    dir.write(u"a.mp4"_s, audio(300));
    dir.write(u".dold.mp3"_s, audio(300));
    QDir(dir.path()).mkdir(u"mapp.mp3"_s);
    platform::PosixFileSystem fs;
    ASSERT_EQ(scan(fs), code::kOk);
    EXPECT_EQ(rows, 0u);
    EXPECT_EQ(seen.events, std::vector<QString>{u"status Inga MP3 filer funna i katalogen "_s +
                                                dir.path() + u'.'});

    EXPECT_EQ(katalogFor(u"/musik"_s), u"/musik/"_s);
    EXPECT_EQ(katalogFor(u"/musik/"_s), u"/musik/"_s);
    EXPECT_EQ(katalogFor(u"/"_s), u"/"_s);
}

TEST_F(Scan, AFileThatCannotBeReadIsListedWithoutTagAndTheScanGoesOn) {
    const QByteArray tagged = audio(300) + trailer("T", "A", "", "", "", 1);
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"}) {
        dir.write(QString::fromUtf8(n), tagged);
    }
    RacingFileSystem racing;
    racing.removed = dir.file(u"a.mp3"_s);
    racing.fifo = dir.file(u"e.mp3"_s);
    ASSERT_EQ(scan(racing), code::kOk);
    EXPECT_EQ(rows, 5u);
    EXPECT_EQ(withoutTag(seen.rows), (std::vector<QString>{u"a"_s, u"e"_s}));
    EXPECT_EQ(seen.events.back(), u"status Klar"_s);

    Recorder again;
    test::FaultyFileSystem faulty;
    faulty.failOpenPath = dir.file(u"b.mp3"_s);  // no permission, or locked
    faulty.failReadNumber = 2;                   // the medium fails under c or d
    ASSERT_EQ(scanFolder(faulty, dir.path(), again, rows), code::kOk);
    EXPECT_EQ(rows, 3u);
    const auto failed = withoutTag(again.rows);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0], u"b"_s);
    EXPECT_EQ(again.events.back(), u"status Klar"_s);
}

TEST_F(Scan, ANameThatIsNotUtf8LeadsBackToTheSameFile) {
    const std::string bytes = "\xe5\xff-latin1.mp3";
    test::writeAll(dir.path() + platform::decodeName(bytes),
                   audio(200) + trailer("T", "A", "", "", "", 1));
    platform::PosixFileSystem fs;
    ASSERT_EQ(scan(fs), code::kOk);
    ASSERT_EQ(seen.rows.size(), 1u);
    const Row& row = seen.rows[0];
    EXPECT_EQ(row.artist, u"A"_s);
    EXPECT_EQ(platform::encodeName(dir.path() + row.name + u".mp3"_s).toStdString(),
              platform::encodeName(dir.path()).toStdString() + bytes);
}

TEST_F(Scan, AFolderThatCannotBeListedAnswersItsCodeAndReportsNothing) {
    platform::PosixFileSystem fs;
    EXPECT_EQ(scanFolder(fs, dir.file(u"saknas/"_s), seen, rows), code::kFileNotFound);
    const QString file = dir.write(u"fil"_s, "x");
    EXPECT_EQ(scanFolder(fs, file + u'/', seen, rows), code::kPathNotFound);
    EXPECT_TRUE(seen.events.empty());
    EXPECT_EQ(rows, 0u);
}
