// "&Ångra": every covered command taken back byte for byte, and files changed behind the
// journal's back left alone.
#include "write/journal.h"
#include "fileops/fileops.h"
#include "support/fake_desktop.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "write/spara.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <map>

using namespace sorvel;
using namespace sorvel::test;
using write::Typ;
using namespace Qt::StringLiterals;

namespace {

class Undo : public ::testing::Test, public browse::ScanObserver {
protected:
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << u"max %1"_s.arg(max); }
    void setProgress(int value) override { seen << u"value %1"_s.arg(value); }
    void addRow(browse::Row&& r) override { scanned.push_back(std::move(r)); }

    /// The folder as a scan lists it, by name.
    std::vector<browse::Row> scan() {
        scanned.clear();
        std::size_t n = 0;
        EXPECT_EQ(browse::scanFolder(fs, dir.path(), *this, n), code::kOk);
        std::sort(scanned.begin(), scanned.end(), [](auto& x, auto& y) { return x.name < y.name; });
        return scanned;
    }
    /// Every file of the folder, name and whole contents.
    std::map<QString, QByteArray> files() const {
        std::map<QString, QByteArray> out;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
            out[name] = readAll(dir.file(name));
        return out;
    }
    void field(Typ typ, const write::EditorValues& editor) {
        write::Command c{write::commandLabel(typ), {}};
        const auto r = write::spara_tag(fs, typ, rows, all(), dir.path(), editor, 1, *this, &c);
        EXPECT_TRUE(r.failures.empty());
        journal.push(std::move(c));
    }
    std::vector<bool> all() const { return std::vector<bool>(rows.size(), true); }
    write::UndoResult undo() { return journal.undo(fs, dir.path(), rows, *this); }

    TempFolder dir;
    FaultyFileSystem fs;
    FakeMessageBoxes boxes;
    write::Journal journal;
    std::vector<browse::Row> rows;
    std::vector<browse::Row> scanned;
    QStringList seen;
};

TEST_F(Undo, EveryCommandComesBackByteForByteNewestFirstUpToTwenty) {
    // A trailer padded with NUL and genre byte 0, a file without one, and one too short for one.
    dir.write(
        u"Anna - Ett.mp3"_s,
        audio(500) + trailer("T", "A", "Al", "1999", QByteArray(28, '\0') + "\x01\x05", 0, '\0'));
    dir.write(u"Bo - Två.mp3"_s, audio(300));
    dir.write(u"Cia - Tre.mp3"_s, audio(50));
    rows = scan();
    std::vector<std::map<QString, QByteArray>> before;
    auto step = [&](auto&& command) {
        before.push_back(files());
        command();
    };

    step([&] { field(Typ::Album, {{}, {}, u"Tappas"_s, {}, {}, {}}); });  // dropped at 21
    step([&] { field(Typ::Artist, {u"Fel artist"_s, {}, {}, {}, {}, {}}); });
    step([&] { field(Typ::Titel, {{}, u"Fel titel"_s, {}, {}, {}, {}}); });
    step([&] { field(Typ::Album, {{}, {}, u"Fel album"_s, {}, {}, {}}); });
    step([&] { field(Typ::Ar, {{}, {}, {}, u"2001"_s, {}, {}}); });
    step([&] { field(Typ::Genre, {{}, {}, {}, {}, u"Rock"_s, {}}); });
    step([&] { field(Typ::Kommentarer, {{}, {}, {}, {}, {}, u"Fel"_s}); });
    step([&] { field(Typ::Filnamn, {}); });
    step([&] {
        write::Command c{u"Spara tag"_s, {}};
        EXPECT_EQ(
            write::cmdSpara_Click(fs, boxes, dir.path(), rows[0],
                                  {u"Sparad"_s, u"Låt"_s, {}, {}, {}, {}}, u"Nytt namn"_s, &c),
            write::SaveOutcome::SavedAndRenamed);
        journal.push(std::move(c));
    });
    step([&] {
        const QString old = browse::fileName(rows[1]);
        ASSERT_EQ(platform::renameMp3(fs, dir.path(), old, u"Bosse"_s), code::kOk);
        write::Command c{u"Nytt filnamn"_s, {}};
        write::recordRename(fs, c, dir.path(), old, u"Bosse.mp3"_s);
        rows[1].name = u"Bosse"_s;
        journal.push(std::move(c));
    });
    step([&] {
        std::vector<QString> old;
        for (const auto& r : rows)
            old.push_back(browse::fileName(r));
        int ajfan = 0;
        write::Command c{u"Filnamn <-- tag"_s, {}};
        for (const std::size_t i :
             fileops::cmdTag2Filnamn_Click(fs, boxes, dir.path(), rows, all(), ajfan))
            write::recordRename(fs, c, dir.path(), old[i], browse::fileName(rows[i]));
        EXPECT_EQ(c.files.size(), 2u);  // Cia - Tre already has its tag's name
        journal.push(std::move(c));
    });
    for (int i = 1; i <= 10; ++i)
        step([&] { field(Typ::Kommentarer, {{}, {}, {}, {}, {}, u"Nr %1"_s.arg(i)}); });
    ASSERT_EQ(before.size(), 21u);
    EXPECT_EQ(journal.size(), write::kMostCommands);
    EXPECT_EQ(journal.undoText(), u"Ångra: Kommentarer till 3 filer"_s);

    for (std::size_t level = before.size() - 1; level >= 1; --level) {
        seen.clear();
        const auto r = undo();
        EXPECT_TRUE(r.failures.empty()) << level;
        ASSERT_EQ(files(), before[level]) << "undo to before command " << level;
        // The rows follow the files as a scan of them reads them.
        auto sorted = rows;
        std::sort(sorted.begin(), sorted.end(), [](auto& x, auto& y) { return x.name < y.name; });
        ASSERT_EQ(sorted, scan()) << level;
        // ... and know the files as they are now, so that the next command may write them.
        for (std::size_t i = 0; i < sorted.size(); ++i)
            ASSERT_EQ(sorted[i].print, scanned[i].print) << level << ' ' << i;
        EXPECT_EQ(seen.back(), u"Klar"_s);
    }
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(undo().restored, 0u);
    EXPECT_NE(files(), before[0]);  // the oldest command was dropped, not undone
}

TEST_F(Undo, FilesChangedGoneTakenOrFailingAreNamedAndTheOthersRestored) {
    for (const char* n : {"a", "b", "c", "d", "e", "f"})
        dir.write(QString::fromLatin1(n) + u".mp3"_s, audio(400) + trailer("T", n, "", "", "", 1));
    rows = scan();
    const auto original = files();
    write::Command rename{u"Nytt filnamn"_s, {}};
    ASSERT_EQ(platform::renameMp3(fs, dir.path(), u"f.mp3"_s, u"g"_s), code::kOk);
    write::recordRename(fs, rename, dir.path(), u"f.mp3"_s, u"g.mp3"_s);
    rows[5].name = u"g"_s;
    journal.push(std::move(rename));
    std::vector<bool> five(6, true);
    five[5] = false;
    write::Command c{u"Artist"_s, {}};
    write::spara_tag(fs, Typ::Artist, rows, five, dir.path(), {u"Ny"_s, {}, {}, {}, {}, {}}, 1,
                     *this, &c);
    journal.push(std::move(c));
    const auto written = files();

    // Another program rewrites a's tag; b is renamed away; c is read-only; e's restore meets a
    // full disk (the first write of the undo, which runs newest first); d is untouched.
    writeAll(dir.file(u"a.mp3"_s), withField(written.at(u"a.mp3"_s), kArtistAt, 30, "Annan"));
    ASSERT_TRUE(QFile::rename(dir.file(u"b.mp3"_s), dir.file(u"bort.mp3"_s)));
    const ReadOnly locked(dir.file(u"c.mp3"_s));
    fs.writes = 0;
    fs.failWriteNumber = 1;
    const auto r = undo();
    fs.failWriteNumber = 0;

    EXPECT_EQ(r.restored, 1u);
    EXPECT_EQ(readAll(dir.file(u"d.mp3"_s)), original.at(u"d.mp3"_s));
    EXPECT_EQ(readAll(dir.file(u"e.mp3"_s)), written.at(u"e.mp3"_s));  // half a write taken back
    EXPECT_EQ(readAll(dir.file(u"a.mp3"_s)),
              withField(written.at(u"a.mp3"_s), kArtistAt, 30, "Annan"));
    EXPECT_EQ(readAll(dir.file(u"bort.mp3"_s)), written.at(u"b.mp3"_s));
    EXPECT_EQ(rows[3].artist, u"d"_s);
    EXPECT_EQ(rows[0].artist, u"Ny"_s);
    write::showUndoFailures(boxes, r.failures);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, u"Fel"_s);
    QStringList expected = {u"Följande filer kunde inte återställas:"_s,
                            u"a.mp3 (ändrad sedan dess)"_s, u"b.mp3 (finns inte)"_s};
    if (locked.effective())
        expected << u"c.mp3 (skrivskyddad eller låst)"_s;
    expected << u"e.mp3 (disken är full)"_s;
    EXPECT_EQ(boxes.shown[0].text.split(u'\n'), expected);

    // Its old name taken by another file, g keeps its name and that file its bytes.
    dir.write(u"f.mp3"_s, "annan");
    const auto u = undo();
    ASSERT_EQ(u.failures.size(), 1u);
    EXPECT_EQ(u.failures[0].file, u"g.mp3"_s);
    EXPECT_EQ(u.failures[0].code, code::kFileExists);
    EXPECT_EQ(readAll(dir.file(u"g.mp3"_s)), original.at(u"f.mp3"_s));
    EXPECT_EQ(readAll(dir.file(u"f.mp3"_s)), "annan");
}

// Many files at a time, or each one by one as when no descriptor is free for a batch, undo leaves
// the same bytes, failures, reports and rows: over three batches of files with and without
// trailers, broken up by renames (one to the name another gave up), with files changed since,
// gone and read-only, and one whose restore meets a full disk.
TEST_F(Undo, BatchesRestoreWhatOneFileAfterTheOtherRestores) {
    struct Outcome {
        write::UndoResult result;
        QStringList seen;
        std::vector<browse::Row> rows;
        std::map<QString, QByteArray> files;
    };
    std::map<QString, QByteArray> original;
    bool locks = false;
    const auto run = [&](bool oneByOne) {
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.file(name));
        for (int i = 0; i < 300; ++i)
            dir.write(
                u"fil %1.mp3"_s.arg(i, 3, 10, QChar(u'0')),
                audio(200 + i) + (i % 3 ? trailer("T", "A", "", "", "", i % 256) : QByteArray()));
        rows = scan();
        original = files();
        write::Command c{u"Artist"_s, {}};
        write::spara_tag(fs, Typ::Artist, rows, all(), dir.path(), {u"Ny"_s, {}, {}, {}, {}, {}}, 1,
                         *this, &c);
        for (const auto& [i, to] : std::vector<std::pair<int, QString>>{
                 {100, u"x"_s}, {150, u"fil 100"_s}, {200, u"y"_s}}) {
            const QString from = browse::fileName(rows[i]);
            EXPECT_EQ(platform::renameMp3(fs, dir.path(), from, to), code::kOk);
            write::recordRename(fs, c, dir.path(), from, to + u".mp3"_s);
            rows[i].name = to;
        }
        journal.push(std::move(c));
        const auto written = files();
        writeAll(dir.file(u"fil 010.mp3"_s),
                 withField(written.at(u"fil 010.mp3"_s), kArtistAt, 30, "Annan"));
        writeAll(dir.file(u"fil 011.mp3"_s), written.at(u"fil 011.mp3"_s) + "x");
        QFile::remove(dir.file(u"fil 020.mp3"_s));
        const ReadOnly locked(dir.file(u"fil 030.mp3"_s));
        locks = locked.effective();
        fs.writes = 0;
        fs.failWriteNumber = 1;  // the newest file's, fil 299
        fs.batchesFindNoDescriptor = oneByOne;
        seen.clear();
        Outcome o{undo(), {}, {}, {}};
        fs.failWriteNumber = 0;
        fs.batchesFindNoDescriptor = false;
        o.seen = seen;
        o.rows = rows;
        o.files = files();
        return o;
    };
    const Outcome many = run(false);
    const Outcome single = run(true);

    EXPECT_EQ(many.result.restored, single.result.restored);
    ASSERT_EQ(many.result.failures.size(), single.result.failures.size());
    for (std::size_t i = 0; i < single.result.failures.size(); ++i) {
        EXPECT_EQ(many.result.failures[i].file, single.result.failures[i].file);
        EXPECT_EQ(many.result.failures[i].code, single.result.failures[i].code) << i;
    }
    EXPECT_TRUE(many.seen == single.seen);
    EXPECT_TRUE(many.rows == single.rows);
    EXPECT_TRUE(many.files == single.files);

    QStringList failed = {u"fil 010.mp3 (ändrad sedan dess)"_s,
                          u"fil 011.mp3 (ändrad sedan dess)"_s, u"fil 020.mp3 (finns inte)"_s,
                          u"fil 299.mp3 (disken är full)"_s};
    if (locks)
        failed.insert(3, u"fil 030.mp3 (skrivskyddad eller låst)"_s);
    EXPECT_EQ(write::failureText(many.result.failures, {}).split(u'\n').mid(1), failed);
    auto restored = many.files;
    for (const write::Failure& f : many.result.failures) {
        restored.erase(f.file);
        original.erase(f.file);
    }
    EXPECT_TRUE(restored == original);
}

// A file a command wrote twice is checked against its older write only once the newer is taken
// back.
TEST_F(Undo, AFileWrittenTwiceByOneCommandComesBackWhole) {
    dir.write(u"a.mp3"_s, audio(300));
    dir.write(u"b.mp3"_s, audio(300) + trailer("T", "A", "", "", "", 1));
    rows = scan();
    const auto before = files();
    write::Command c{u"Artist"_s, {}};
    for (const QString& artist : {u"Ett"_s, u"Två"_s})
        write::spara_tag(fs, Typ::Artist, rows, all(), dir.path(), {artist, {}, {}, {}, {}, {}}, 1,
                         *this, &c);
    journal.push(std::move(c));
    EXPECT_EQ(undo().restored, 4u);
    EXPECT_EQ(files(), before);
}

TEST_F(Undo, RecordsAreBoundedTo64MegabytesOldestFirst) {
    auto big = [](const QString& label) {
        write::Command c{label, {}};
        c.files.resize(20000);
        for (auto& f : c.files)
            f.nameBefore = f.nameAfter = QString(100, u'x');
        return c;
    };
    for (int i = 0; i < 12; ++i)
        journal.push(big(u"Nr %1"_s.arg(i)));
    EXPECT_LE(journal.bytes(), write::kMostJournalBytes);
    EXPECT_GT(journal.bytes(), write::kMostJournalBytes / 2);
    EXPECT_LT(journal.size(), 12u);
    EXPECT_EQ(journal.undoText(), u"Ångra: Nr 11 till 20000 filer"_s);
}

}  // namespace
