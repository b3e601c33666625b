#include "tag/tag.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "tag/cp1252.h"
#include "tag/genre.h"
#include "tag/utf8.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <numeric>

using namespace sorvel;
using namespace sorvel::tag;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kTrailer = trailer("Titel", "Artist", "Album", "1999", "Kommentar", 17);
const TagRecord kTagged{u"Titel"_s, u"Artist"_s, u"Album"_s, u"1999"_s, u"Kommentar"_s, 17};
const QByteArray kApeHeader = "APETAGEX" + QByteArray(24, '\x01') + QByteArray(99, '\x02');

TagRecord record(const char* title, const char* artist, int genre = -1) {
    return {QString::fromUtf8(title), QString::fromUtf8(artist), {}, {}, {}, genre};
}

// What a reader of a whole file in `bytes` looks at: its last bytes and its length.
std::span<const std::byte> tailOf(const QByteArray& bytes) {
    const auto n = std::min<qsizetype>(bytes.size(), static_cast<qsizetype>(kTailSize));
    return std::as_bytes(std::span(bytes.constData() + bytes.size() - n, std::size_t(n)));
}
std::optional<TagRecord> read(const QByteArray& bytes) {
    return readTrailer(tailOf(bytes), std::uint64_t(bytes.size()));
}
Fingerprint printOf(const QByteArray& bytes) {
    return fingerprintOf(tailOf(bytes), std::uint64_t(bytes.size()));
}
std::optional<Placement> place(const QByteArray& bytes, const TagRecord& tag,
                               NoGenre noGenre = NoGenre::Write255) {
    return placeTrailer(tailOf(bytes), std::uint64_t(bytes.size()), tag, noGenre);
}
QByteArray bytesOf(const Trailer& t) {
    return {reinterpret_cast<const char*>(t.data()), qsizetype(t.size())};
}
// The file once `p` is written into it.
QByteArray applied(const QByteArray& before, const Placement& p) {
    return before.left(qsizetype(p.offset())) + bytesOf(p.out);
}

// File ends without a trailer, where one is appended, and with one, which is written over. The
// shortest that can hold one has 130 bytes.
const std::vector<QByteArray> kEnds[2] = {
    {{},
     "x",
     kTrailer.left(127),
     kTrailer,
     audio(1) + kTrailer,
     audio(1000),
     audio(500) + "tag" + kTrailer.mid(3),
     audio(500) + kTrailer + audio(10),
     audio(400) + kApeHeader},
    {audio(2) + kTrailer, audio(3) + kTrailer, audio(1000) + kTrailer,
     // "APE" alone, or "APETAG" reaching into the title, is no header.
     audio(1668) + "APE" + kTrailer, audio(1668) + "APE" + trailer("EY", "", "", "", "", 17),
     // Genre bytes that read as none.
     audio(200) + trailer("", "", "", "", "", 200), audio(200) + trailer("", "", "", "", "", 0)}};

class Files : public ::testing::Test {
protected:
    QString file(const QByteArray& bytes) { return dir.write(u"a.mp3"_s, bytes); }
    test::TempFolder dir;
    platform::PosixFileSystem fs;
};

}  // namespace

TEST(Trailer, ReadsAndPlacesByTheFileEnd) {
    for (const bool tagged : {false, true}) {
        for (const QByteArray& bytes : kEnds[tagged]) {
            const auto found = read(bytes);
            EXPECT_EQ(found.has_value(), tagged) << bytes.size();
            EXPECT_TRUE(!found || !bytes.endsWith(kTrailer) || found == kTagged) << bytes.size();
            const auto p = place(bytes, record("Ny titel", "Ny artist", 0));
            ASSERT_TRUE(p) << bytes.size();
            // Without a genre, 255 is stored, or the file's own byte kept when that reads as none.
            const auto genreByte = [&](NoGenre g) {
                return std::to_integer<int>(place(bytes, record("a", "b"), g)->out[tag::kGenreAt]);
            };
            EXPECT_EQ(genreByte(NoGenre::Write255), 255);
            EXPECT_EQ(genreByte(NoGenre::KeepFileByte),
                      found && found->genre < 0 ? uchar(bytes.back()) : 255);
            const QByteArray after = applied(bytes, *p);
            EXPECT_EQ(after.size(), bytes.size() + (tagged ? 0 : 128)) << bytes.size();
            EXPECT_EQ(bytesOf(p->old), tagged ? bytes.right(128) : QByteArray(128, '\0'));
            EXPECT_EQ(after.right(128), trailer("Ny titel", "Ny artist", "", "", "", 0));
            EXPECT_EQ(p->after, printOf(after)) << bytes.size();
            EXPECT_EQ(read(after).has_value(), after.size() >= 130) << bytes.size();
        }
    }
    // Genre bytes 0 and above 115 read as no genre.
    const std::pair<unsigned char, int> genres[] = {
        {0, -1}, {1, 1}, {115, 115}, {116, -1}, {255, -1}};
    for (const auto& [byte, genre] : genres)
        EXPECT_EQ(read(audio(10) + trailer("t", "a", "", "", "", byte))->genre, genre) << int(byte);
}

TEST(Trailer, OnlyBlanksAreTrimmedSoNulPaddingSurvivesARoundTrip) {
    // A version 1.1 track number in the last byte of the comment.
    const QByteArray comment = QByteArray("Bra") + QByteArray(26, '\0') + '\x07';
    const QByteArray original =
        trailer("  Mitt i  ", QByteArray("Sm\xE5", 3), "", "", comment, 13, '\0');
    const auto tag = read(audio(300) + original);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title.left(8), u"Mitt i  "_s);  // inner and NUL-side blanks kept
    EXPECT_EQ(tag->artist, u"Små"_s + QString(27, QChar(0)));
    // Writing back what was read changes nothing but the leading blanks of the title.
    QByteArray expected = original;
    expected.replace(3, 30, QByteArray("Mitt i  ") + QByteArray(20, '\0') + QByteArray(2, ' '));
    EXPECT_EQ(bytesOf(renderTrailer(*tag).value()), expected);
}

TEST(Trailer, ATitleThatWouldSpellAnApeHeaderGetsALeadingBlankOrIsRefused) {
    const QByteArray body = audio(1668) + "APE";
    const std::pair<const char*, const char*> cases[] = {
        {"EXIT", " EXIT"},
        {"EX", " EX"},
        {"EY", "EY"},
        {"EXEEEEEEEEEEEEEEEEEEEEEEEEEEEE", nullptr}};
    for (const QByteArray& before : {body, body + kTrailer}) {
        for (const auto& [title, stored] : cases) {
            const auto p = place(before, record(title, "Artist", 17));  // the last has no room
            const QByteArray after = p ? applied(before, *p) : QByteArray();
            EXPECT_EQ(after, stored ? body + trailer(stored, "Artist", "", "", "", 17) : after);
            EXPECT_EQ(p ? read(after)->title : QString(),
                      stored ? QString::fromLatin1(title) : QString());
        }
    }
    // Without "APE" in front the title is stored as it is.
    EXPECT_EQ(bytesOf(place(audio(300), record("EXIT", ""))->out).mid(tag::kTitleAt, 4), "EXIT");
}

TEST(Trailer, RefusesRecordsTheTrailerCannotHold) {
    std::array<TagRecord, 5> refused{
        record("", "Łódź"), record("0123456789012345678901234567890", ""), record("", "", 256)};
    refused[3].year = u"12345"_s;
    refused[4].comment = QString(31, u'x');
    for (const TagRecord& r : refused)
        EXPECT_FALSE(place(kTrailer, r)) << r.title.toStdString();
}

TEST(Cp1252, EveryByteDecodesToOneCharacterAndBack) {
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), char(0));
    const QString text = decode1252(std::as_bytes(std::span(all.constData(), 256)));
    ASSERT_EQ(text.size(), 256);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(encode1252(text.at(b)), b);
    EXPECT_EQ(text.at(0xE5), QChar(u'å'));
    EXPECT_EQ(text.at(0x80), QChar(u'€'));
    EXPECT_EQ(text.at(0x81), QChar(0x81));
    EXPECT_EQ(encode1252(QChar(u'ł')), -1);
    EXPECT_FALSE(fits1252(u"Łódź"_s));
    EXPECT_TRUE(fits1252(u"Åsa – € ™"_s));
}

TEST(Utf8Reading, OnlyValidUtf8WithAMultiByteSequenceReadsAsItsText) {
    const auto stored = [](const QByteArray& bytes) {
        return decode1252(std::as_bytes(std::span(bytes.constData(), bytes.size())));
    };
    const std::pair<QByteArray, QString> readings[] = {
        {"\xC3\x85sa \xC3\x96man", u"Åsa Öman"_s},
        {"\xC3\xA5", u"å"_s},  // "Ã¥" typed in Windows-1252 reads as its UTF-8 too
        // Continuation bytes the code page maps beyond Latin-1 (0x80 is €) or leaves undefined.
        {"\xC4\x80 \xC3\x81", u"Ā Á"_s},
        {"\xF0\x9F\x8E\xB5 \xE2\x82\xAC", u"🎵 €"_s},
        {QByteArray("\xC3\x85sa\0\0\x05", 7), u"Åsa"_s + QChar(0) + QChar(0) + QChar(5)}};
    for (const auto& [bytes, reading] : readings)
        EXPECT_EQ(utf8Reading(stored(bytes)), reading) << bytes.toHex(' ').toStdString();
    // Text that reads the same either way; one byte outside UTF-8 spoiling the field; cut short,
    // a lone continuation byte, overlong twice, a surrogate, above U+10FFFF and five bytes.
    for (const char* none :
         {"Abba", "", "Sm\xE5", "\xC3\x85sa \xD6man", "\xC3", "\x85", "\xC0\x80", "\xE0\x80\xAF",
          "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_EQ(utf8Reading(stored(none)), std::nullopt) << none;
    EXPECT_EQ(utf8Reading(u"Å"_s + QChar(0x0142)), std::nullopt);  // not a stored text at all
}

TEST(Genre, NumbersNamesStoredValuesAndTheChooserOrder) {
    EXPECT_EQ((QStringList{tal_genre(0), tal_genre(67), tal_genre(93), tal_genre(115)}),
              (QStringList{u"Blues"_s, u"Psychadelic"_s, u"Psychedelic Rock"_s, u"Folklore"_s}));
    for (const int none : {-1, 116, 255})
        EXPECT_TRUE(tal_genre(none).isEmpty()) << none;
    // Case and blanks matter; anything unknown is stored as no genre.
    for (const QString& none : {QString(), u"blues"_s, u"Blues "_s})
        EXPECT_EQ(genre_tal(none), 256) << none.toStdString();
    for (int n = 0; n < kGenreCount; ++n)
        EXPECT_EQ(genre_tal(tal_genre(n)), n + 1);
    // The chooser lists the names by character code.
    const std::pair<int, const char*> telling[] = {
        {1, "Acid"},         {5, "AlternRock"}, {6, "Alternative"}, {13, "Blues"},
        {35, "Euro-Techno"}, {36, "Eurodance"}, {38, "Folk"},       {39, "Folk/Rock"},
        {40, "Folklore"},    {74, "Pop"},       {75, "Pop-Folk"},   {76, "Pop/Funk"},
        {84, "R&B"},         {85, "Rap"},       {90, "Rock"},       {91, "Rock & Roll"},
        {116, "Vocal"},      {0, ""},           {0, "acid"}};
    for (const auto& [position, name] : telling)
        EXPECT_EQ(genre_tal2(QString::fromLatin1(name)), position) << name;
}

// The file layer does on disk what the codec decides, one file at a time and in batches.
TEST_F(Files, ReadAndWrittenAsTheCodecDecides) {
    const TagRecord tag = record("Ny titel", "Ny artist");
    for (const auto& ends : kEnds) {
        for (const QByteArray& bytes : ends) {
            const QString p = file(bytes);
            EXPECT_EQ(las_tag(fs, p), read(bytes)) << bytes.size();
            const auto expected = applied(bytes, *place(bytes, tag, NoGenre::KeepFileByte));
            Check check{printOf(bytes), {}, {}};
            Replaced replaced;
            ASSERT_EQ(skriv_tag(fs, p, tag, NoGenre::KeepFileByte, &replaced, &check), code::kOk);
            EXPECT_EQ(std::tuple(readAll(p), check.now, replaced.oldPrint),
                      std::tuple(expected, printOf(expected), printOf(bytes)));

            WriteJob job{u"b.mp3"_s, tag, NoGenre::KeepFileByte, -1, {}, {printOf(bytes), {}, {}}};
            dir.write(job.name, bytes);
            skriv_tags(fs, dir.path(), std::span(&job, 1));
            EXPECT_EQ(std::tuple(job.result, readAll(dir.file(job.name)), job.check.now),
                      std::tuple(code::kOk, expected, check.now));
        }
    }
}

TEST_F(Files, RefusalsAndFailuresLeaveTheFileAsItWasAndCreateNothing) {
    test::FaultyFileSystem real, faulty, nfs;
    faulty.failWriteNumber = 1;          // fails after putting down half of its bytes
    nfs.closeFailure = code::kDiskFull;  // NFS may refuse a write only when the file is closed
    // Each answer is the same from the writer of one file and from the writer of many.
    const auto write = [this](test::FaultyFileSystem& f, const QString& name, const TagRecord& r) {
        WriteJob job{name, r, NoGenre::Write255, -1, {}, {}};
        f.writes = 0;
        skriv_tags(f, dir.path(), std::span(&job, 1));
        f.writes = 0;
        EXPECT_EQ(skriv_tag(f, dir.file(name), r), job.result) << name.toStdString();
        return job.result;
    };
    EXPECT_EQ(write(real, u"borta.mp3"_s, record("t", "a")), code::kFileNotFound);
    EXPECT_FALSE(present(dir.file(u"borta.mp3"_s)));
    // Another spelling of the ending is another file, even beside one of the same letters.
    const QString upper = dir.write(u"Låt.MP3"_s, audio(300) + kTrailer);
    EXPECT_EQ(write(real, u"Låt.Mp3"_s, record("t", "a")), code::kFileNotFound);
    EXPECT_EQ(readAll(upper), audio(300) + kTrailer);
    ASSERT_EQ(::mkfifo(dir.file(u"fifo.mp3"_s).toUtf8().constData(), 0644), 0);
    EXPECT_FALSE(las_tag(fs, dir.file(u"fifo.mp3"_s)));  // never blocks
    EXPECT_EQ(write(real, u"fifo.mp3"_s, record("t", "a")), code::kAccess);

    for (const QByteArray& before : {audio(500), audio(500) + kTrailer, audio(1668) + "APE"}) {
        const QString p = file(before);
        EXPECT_EQ(write(real, u"a.mp3"_s, record("", "Łódź")), code::kBadArgument);
        if (before.endsWith("APE")) {  // no room for the blank that keeps the title a title
            EXPECT_EQ(write(real, u"a.mp3"_s, record("EXEEEEEEEEEEEEEEEEEEEEEEEEEEEE", "")),
                      code::kBadArgument);
        }
        EXPECT_EQ(write(faulty, u"a.mp3"_s, record("t", "a")), code::kDiskFull);
        {
            test::ReadOnly readOnly(p);
            ASSERT_TRUE(readOnly.effective());
            EXPECT_EQ(write(real, u"a.mp3"_s, record("t", "a")), code::kAccess);
        }
        EXPECT_EQ(readAll(p), before);
        EXPECT_EQ(write(nfs, u"a.mp3"_s, record("t", "a")), code::kDiskFull) << before.size();
    }
}

TEST_F(Files, FilesLargerThan4GiBAreReadAndWrittenAtTheirEnd) {
    const QString p = dir.file(u"stor.mp3"_s);
    const std::uint64_t size = (5ULL << 30) + 7;
    {
        std::ofstream out(p.toStdString(), std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - 128));
        out.write(kTrailer.constData(), 128);
    }
    EXPECT_EQ(las_tag(fs, p).value_or(TagRecord{}).title, u"Titel"_s);
    ASSERT_EQ(skriv_tag(fs, p, record("Stor", "Fil")), code::kOk);
    EXPECT_EQ(std::filesystem::file_size(p.toStdString()), size);
    EXPECT_EQ(las_tag(fs, p).value_or(TagRecord{}).title, u"Stor"_s);
}

TEST_F(Files, AFileChangedSinceItWasReadIsNotWrittenAndTellsWhatItHoldsNow) {
    const QByteArray tagged = audio(300) + kTrailer;
    const std::pair<QByteArray, QByteArray> changed[] = {
        {tagged, audio(300) + trailer("Annan", "B", "", "", "", 17)},  // trailer rewritten
        {tagged, audio(300) + kTrailer.left(127) + '\x12'},            // genre byte alone
        {audio(300), tagged},                                          // trailer appended
        {tagged, audio(200)},                                          // file cut
        {audio(10), audio(11)}};                                       // short file grown
    for (const auto& [before, now] : changed) {
        const QString p = file(now);
        Check check{printOf(before), {}, {}};
        EXPECT_EQ(skriv_tag(fs, p, record("t", "a"), NoGenre::Write255, nullptr, &check),
                  kChangedOnDisk);
        EXPECT_EQ(std::tuple(readAll(p), check.now, check.found),
                  std::tuple(now, printOf(now), read(now)));
    }
    EXPECT_NE(printOf(audio(300)), kUnreadable);
}
