// "Tag från ID3v2": the trailer filled from the tags other programs wrote, in real files.
#include "support/files.h"
#include "support/other_tags.h"
#include "write/engine.h"
#include "write/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

using namespace sorvel;
using namespace sorvel::test;
using namespace sorvel::test::id3;
using namespace Qt::StringLiterals;

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class Import : public ::testing::Test, public browse::ScanObserver {
protected:
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int) override {}
    void setProgress(int) override {}
    void addRow(browse::Row&& r) override { rows.push_back(std::move(r)); }

    void scan() {
        rows.clear();
        std::size_t n = 0;
        ASSERT_EQ(browse::scanFolder(fs, dir.path(), *this, n), code::kOk);
        std::sort(rows.begin(), rows.end(), [](auto& x, auto& y) { return x.name < y.name; });
        seen.clear();
    }

    TempFolder dir;
    platform::PosixFileSystem fs;
    QStringList seen;
    std::vector<browse::Row> rows;
};

// What every file's trailer holds before the import: the fields a tag lacks keep these.
const QByteArray kOld =
    trailer("Gammal titel", "Gammal artist", "Gammalt album", "1970", "Gammal kommentar", 17);

struct Case {
    const char* name;
    QByteArray head;  ///< the start of the file, before the audio
    QByteArray beforeTrailer;
    bool hasTrailer;
    QByteArray expected;  ///< the trailer after the import; empty: the file stays as it was
};

std::vector<Case> cases() {
    const QString longTitle = u"En titel som är längre än trettio tecken"_s;
    const QByteArray v23 = frame(3, "TIT2", text(Enc::Utf16Bom, u"Räksmörgås – ”citat”"_s)) +
                           frame(3, "TPE1", text(Enc::Utf16Bom, u"Åsa"_s)) +
                           frame(3, "TYER", text(Enc::Latin1, u"2003"_s)) +
                           frame(3, "COMM", comment(Enc::Utf16Bom, u"iTunNORM"_s, u" 0000"_s)) +
                           frame(3, "COMM", comment(Enc::Utf16Bom, {}, u"Rätt kommentar"_s)) +
                           frame(3, "TCON", text(Enc::Latin1, u"(9)Metal"_s)) +
                           QByteArray(100, '\0');
    const QByteArray unsync = frame(3, "TIT2", text(Enc::Latin1, u"ÿÿ Smörgåsÿ"_s)) +
                              frame(3, "TCON", text(Enc::Latin1, u"dISCO"_s));
    return {
        {"v22.mp3",
         id3v2(2, frame(2, "TT2", text(Enc::Latin1, u"Titel 22"_s)) +
                      frame(2, "TP1", text(Enc::Latin1, u"Artist 22"_s)) +
                      frame(2, "TAL", text(Enc::Latin1, u"Album 22"_s)) +
                      frame(2, "TYE", text(Enc::Latin1, u"1998"_s)) +
                      frame(2, "COM", comment(Enc::Latin1, {}, u"Kommentar 22"_s)) +
                      frame(2, "TCO", text(Enc::Latin1, u"(17)"_s))),
         {},
         true,
         trailer("Titel 22", "Artist 22", "Album 22", "1998", "Kommentar 22", 17)},
        {"v23-utf16.mp3",
         id3v2(3, v23),
         {},
         true,
         trailer("R\xe4ksm\xf6rg\xe5s \x96 \x94"
                 "citat\x94",
                 "\xc5sa", "Gammalt album", "2003", "R\xe4tt kommentar", 9)},
        {"v24-utf8-no-trailer.mp3",
         id3v2(4, frame(4, "TIT2", text(Enc::Utf8, longTitle)) +
                      frame(4, "TDRC", text(Enc::Utf8, u"2004-05-01"_s)) +
                      frame(4, "TCON", text(Enc::Utf8, u"8"_s))),
         {},
         false,
         trailer(longTitle.left(30).toLatin1(), "", "", "2004", "", 8)},
        {"unsynchronised.mp3",
         id3v2(3, unsynchronised(unsync), kUnsynchronised),
         {},
         true,
         trailer("\xff\xff Sm\xf6rg\xe5s\xff", "Gammal artist", "Gammalt album", "1970",
                 "Gammal kommentar", 4)},
        {"extended-header.mp3",
         id3v2(4, syncsafe(6) + "\x01" + '\0' + frame(4, "TALB", text(Enc::Latin1, u"Album X"_s)),
               kExtendedHeader),
         {},
         true,
         trailer("Gammal titel", "Gammal artist", "Album X", "1970", "Gammal kommentar", 17)},
        {"footer.mp3",
         id3v2(4, frame(4, "TPE1", text(Enc::Latin1, u"Med fot"_s)), kFooter),
         {},
         true,
         trailer("Gammal titel", "Med fot", "Gammalt album", "1970", "Gammal kommentar", 17)},
        {"picture.mp3",
         id3v2(4, frame(4, "APIC", picture(5 << 20)) +
                      frame(4, "TIT2", text(Enc::Latin1, u"Efter bilden"_s))),
         {},
         true,
         trailer("Efter bilden", "Gammal artist", "Gammalt album", "1970", "Gammal kommentar", 17)},
        // The frames that are whole are read; the size points far past the end of the file.
        {"larger-than-file.mp3",
         id3v2(3, frame(3, "TIT2", text(Enc::Latin1, u"Stor"_s)), 0, 50'000'000),
         {},
         true,
         trailer("Stor", "Gammal artist", "Gammalt album", "1970", "Gammal kommentar", 17)},
        // The artist frame runs past the end of its tag: it is not read.
        {"cut-short.mp3",
         id3v2(3, frame(3, "TIT2", text(Enc::Latin1, u"Hel"_s)) +
                      frame(3, "TPE1", text(Enc::Latin1, u"Avkortad artist"_s)).left(16)),
         {},
         true,
         trailer("Hel", "Gammal artist", "Gammalt album", "1970", "Gammal kommentar", 17)},
        {"ape.mp3",
         {},
         ape({{"Title", u"Ape titel"_s},
              {"Artist", u"Ape artist"_s},
              {"Album", u"Ape album"_s},
              {"Year", u"2010"_s},
              {"Comment", u"Ape kommentar"_s},
              {"Genre", u"jazz"_s}}),
         true,
         trailer("Ape titel", "Ape artist", "Ape album", "2010", "Ape kommentar", 8)},
        {"unknown-genre.mp3",
         id3v2(4, frame(4, "TCON", text(Enc::Latin1, u"Hyperpop"_s)) +
                      frame(4, "TIT2", text(Enc::Latin1, u"Ny"_s))),
         {},
         true,
         trailer("Ny", "Gammal artist", "Gammalt album", "1970", "Gammal kommentar", 17)},
        {"no-tag.mp3", {}, {}, true, {}},
        {"outside-1252.mp3",
         id3v2(4, frame(4, "TIT2", text(Enc::Utf8, u"Ωmega"_s)) +
                      frame(4, "TPE1", text(Enc::Utf8, u"Går att skriva"_s))),
         {},
         true,
         {}},
    };
}

}  // namespace

TEST_F(Import, WritesExactlyTheTrailerTheOtherTagGivesAndUndoPutsEveryFileBack) {
    const std::vector<Case> all = cases();
    std::vector<QByteArray> before;
    for (const Case& c : all) {
        before.push_back(c.head + audio(4000) + c.beforeTrailer +
                         (c.hasTrailer ? kOld : QByteArray()));
        dir.write(QString::fromLatin1(c.name), before.back());
    }
    scan();
    ASSERT_EQ(rows.size(), all.size());
    // Rows in name order; the cases by name too.
    std::vector<std::size_t> caseOf(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto it = std::find_if(all.begin(), all.end(), [&](const Case& c) {
            return browse::fileName(rows[i]) == QString::fromLatin1(c.name);
        });
        ASSERT_NE(it, all.end());
        caseOf[i] = static_cast<std::size_t>(it - all.begin());
    }

    write::Command command{u"Tag från ID3v2"_s, {}};
    const write::WriteResult result = write::importOtherTags(
        fs, rows, std::vector<bool>(rows.size(), true), dir.path(), *this, &command);

    EXPECT_EQ(result.nothingToWrite, 1u);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].file, u"outside-1252.mp3"_s);
    EXPECT_EQ(result.failures[0].code, code::kBadArgument);
    EXPECT_EQ(result.written, all.size() - 2);
    for (std::size_t k = 0; k < all.size(); ++k) {
        const Case& c = all[k];
        const QByteArray now = readAll(dir.file(QString::fromLatin1(c.name)));
        if (c.expected.isEmpty()) {
            EXPECT_EQ(now, before[k]) << c.name;
            continue;
        }
        const QByteArray audioPart = c.hasTrailer ? before[k].chopped(128) : before[k];
        EXPECT_EQ(now.size(), audioPart.size() + 128) << c.name;
        EXPECT_TRUE(now.startsWith(audioPart)) << c.name;
        EXPECT_EQ(now.right(128).toStdString(), c.expected.toStdString()) << c.name;
    }
    // The rows were updated in place to what the files now hold.
    const std::vector<browse::Row> updated = rows;
    scan();
    EXPECT_EQ(rows, updated);

    write::Journal journal;
    journal.push(std::move(command));
    const write::UndoResult undone = journal.undo(fs, dir.path(), rows, *this);
    EXPECT_EQ(undone.restored, all.size() - 2);
    EXPECT_TRUE(undone.failures.empty());
    for (std::size_t k = 0; k < all.size(); ++k)
        EXPECT_EQ(readAll(dir.file(QString::fromLatin1(all[k].name))), before[k]) << all[k].name;
}

TEST(GenreNumber, TakesNumbersAndNamesOfTheTableAndNothingElse) {
    const std::pair<const char*, int> table[] = {
        {"(17)", 17}, {"17", 17},   {"(17)Rock", 17}, {"rOCK", 17},  {"Blues", 0},
        {"(0)", 0},   {"115", 115}, {"116", -1},      {"(200)", -1}, {"Hyperpop", -1},
        {"", -1},     {"(17", -1},  {"17a", -1},      {"-1", -1},    {"()", -1},
    };
    for (const auto& [text, number] : table)
        EXPECT_EQ(tag::genreNumberOf(QString::fromUtf8(text)), number) << text;
}
