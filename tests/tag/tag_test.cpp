#include "tag/tag.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "tag/cp1252.h"
#include "tag/genre.h"
#include "tag/utf8.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QFile>

#include <filesystem>
#include <fstream>

using namespace sorvel;
using namespace sorvel::tag;
using sorvel::test::audio;
using sorvel::test::readAll;
using sorvel::test::trailer;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kTrailer = trailer("Titel", "Artist", "Album", "1999", "Kommentar", 17);

TagRecord record(const char* title, const char* artist, int genre = -1) {
    return {QString::fromUtf8(title), QString::fromUtf8(artist), {}, {}, {}, genre};
}

unsigned char genreByte(const QString& path) {
    return static_cast<unsigned char>(readAll(path).back());
}

class Trailers : public ::testing::Test {
protected:
    QString file(const QByteArray& bytes) { return dir.write(u"a.mp3"_s, bytes); }
    test::TempFolder dir;
    platform::PosixFileSystem fs;
};

}  // namespace

TEST_F(Trailers, OnlyFilesOfAtLeast130BytesEndingInUpperCaseTagHaveOne) {
    const TagRecord tagged{u"Titel"_s, u"Artist"_s, u"Album"_s, u"1999"_s, u"Kommentar"_s, 17};
    const std::pair<QByteArray, bool> cases[] = {
        {QByteArray(), false},
        {QByteArray(1, 'x'), false},
        {kTrailer.left(127), false},
        {kTrailer, false},             // 128 bytes: a valid trailer, but too short a file
        {audio(1) + kTrailer, false},  // 129 bytes
        {audio(2) + kTrailer, true},   // 130 bytes
        {audio(3) + kTrailer, true},   // 131 bytes
        {audio(500) + QByteArray("tag") + kTrailer.mid(3), false},
        {audio(500) + kTrailer + audio(10), false},
    };
    for (const auto& [bytes, hasOne] : cases)
        EXPECT_EQ(las_tag(fs, file(bytes)), hasOne ? std::optional(tagged) : std::nullopt)
            << "size " << bytes.size();
    // Genre bytes 0 and above 115 read as no genre.
    const std::pair<unsigned char, int> genres[] = {
        {0, -1}, {1, 1}, {115, 115}, {116, -1}, {255, -1}};
    for (const auto& [byte, genre] : genres)
        EXPECT_EQ(las_tag(fs, file(audio(10) + trailer("t", "a", "", "", "", byte)))->genre, genre)
            << int(byte);
}

TEST_F(Trailers, OnlyBlanksAreTrimmedSoNulPaddingSurvivesARoundTrip) {
    // A version 1.1 track number in the last byte of the comment.
    const QByteArray comment = QByteArray("Bra") + QByteArray(26, '\0') + '\x07';
    const QByteArray original =
        trailer("  Mitt i  ", QByteArray("Sm\xE5", 3), "", "", comment, 13, '\0');
    const QString p = file(audio(300) + original);
    const auto tag = las_tag(fs, p);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title.left(8), u"Mitt i  "_s);  // inner and NUL-side blanks kept
    EXPECT_EQ(tag->artist, u"Små"_s + QString(27, QChar(0)));

    // Writing back what was read changes nothing but the leading blanks of the title.
    ASSERT_EQ(skriv_tag(fs, p, *tag), code::kOk);
    QByteArray expected = original;
    expected.replace(3, 30, QByteArray("Mitt i  ") + QByteArray(20, '\0') + QByteArray(2, ' '));
    EXPECT_EQ(readAll(p).right(128), expected);
}

TEST(Cp1252, EveryByteDecodesToOneCharacterAndBack) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
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

TEST_F(Trailers, WritingOverwritesAnExistingTrailerAndAppendsOtherwise) {
    const QByteArray body = audio(1000);
    const std::pair<QByteArray, qsizetype> cases[] = {
        {QByteArray(), 128},
        {audio(1) + kTrailer, 129 + 128},  // 129 bytes: the old trailer does not count
        {audio(2) + kTrailer, 130},
        {body + kTrailer, 1128},
        {body, 1128},
        {body + QByteArray("tag") + kTrailer.mid(3), 1256},
    };
    for (const auto& [before, sizeAfter] : cases) {
        const QString p = file(before);
        ASSERT_EQ(skriv_tag(fs, p, record("Ny titel", "Ny artist", 0)), code::kOk);
        const QByteArray after = readAll(p);
        EXPECT_EQ(after.size(), sizeAfter) << "from " << before.size();
        EXPECT_EQ(after.right(128), trailer("Ny titel", "Ny artist", "", "", "", 0));
        EXPECT_EQ(after.left(sizeAfter - 128), before.left(sizeAfter - 128));
    }
}

TEST_F(Trailers, NoGenreIs255UnlessAskedToKeepAFileByteThatReadsAsNone) {
    for (const unsigned char old : {0, 17, 200, 255}) {
        const QByteArray before = audio(200) + trailer("", "", "", "", "", old);
        ASSERT_EQ(skriv_tag(fs, file(before), record("a", "b")), code::kOk);
        EXPECT_EQ(genreByte(dir.file(u"a.mp3"_s)), 255);
        ASSERT_EQ(skriv_tag(fs, file(before), record("a", "b"), NoGenre::KeepFileByte), code::kOk);
        EXPECT_EQ(genreByte(dir.file(u"a.mp3"_s)), old == 17 ? 255 : old);
    }
    const QString fresh = file(audio(200));
    ASSERT_EQ(skriv_tag(fs, fresh, record("a", "b"), NoGenre::KeepFileByte), code::kOk);
    EXPECT_EQ(genreByte(fresh), 255);
}

TEST_F(Trailers, OnlyAWholeApeHeaderBeforeTheMarkerHidesTheTrailer) {
    // APEv2 header placed so that "TAG" of "APETAGEX" falls exactly 128 bytes from the end.
    QByteArray ape = QByteArray("APETAGEX") + QByteArray(24, '\x01');
    ape += QByteArray(131 - ape.size(), '\x02');
    const QByteArray before = audio(400) + ape;
    const QString p = file(before);
    EXPECT_FALSE(las_tag(fs, p));
    ASSERT_EQ(skriv_tag(fs, p, record("t", "a")), code::kOk);
    EXPECT_EQ(readAll(p).chopped(128), before);
    EXPECT_EQ(las_tag(fs, p)->title, u"t"_s);

    // Audio that happens to end in "APE" (or "APETAG", reaching into the title) before a real
    // trailer: the trailer is read, and written over in place rather than buried by a second.
    for (const char* title : {"Titel", "EY"}) {
        const QByteArray body = audio(1668) + QByteArray("APE");
        const QString q = file(body + trailer(title, "Artist", "", "", "", 17));
        ASSERT_TRUE(las_tag(fs, q)) << title;
        EXPECT_EQ(las_tag(fs, q)->title, QString::fromLatin1(title));
        ASSERT_EQ(skriv_tag(fs, q, record("Ny", "Artist", 17)), code::kOk);
        EXPECT_EQ(readAll(q), body + trailer("Ny", "Artist", "", "", "", 17));
    }

    // A new title beginning with "EX" after that "APE" would spell the header and hide the tag
    // it writes, whether written over a trailer or appended: it gets a leading blank, which the
    // reader trims. A title of the full width has no room for one and is refused.
    for (const bool tagged : {true, false}) {
        const QByteArray body = audio(1668) + QByteArray("APE");
        const QString q = file(tagged ? body + trailer("Titel", "", "", "", "", 17) : body);
        ASSERT_EQ(skriv_tag(fs, q, record("EXIT", "Artist", 17)), code::kOk);
        EXPECT_EQ(readAll(q), body + trailer(" EXIT", "Artist", "", "", "", 17));
        EXPECT_EQ(las_tag(fs, q)->title, u"EXIT"_s);
        const QByteArray written = readAll(q);
        EXPECT_EQ(skriv_tag(fs, q, record("EXEEEEEEEEEEEEEEEEEEEEEEEEEEEE", "A", 17)),
                  code::kBadArgument);
        EXPECT_EQ(readAll(q), written);
    }
}

TEST(Utf8Reading, OnlyValidUtf8WithAMultiByteSequenceReadsAsItsText) {
    auto stored = [](const QByteArray& bytes) {
        return decode1252(std::as_bytes(std::span(bytes.constData(), bytes.size())));
    };
    const std::pair<QByteArray, std::optional<QString>> cases[] = {
        {"\xC3\x85sa \xC3\x96"
         "berg",
         u"Åsa Öberg"_s},
        {"\xC3\xA5", u"å"_s},  // "Ã¥" typed in Windows-1252 reads as its UTF-8 too
        // Continuation bytes the code page maps beyond Latin-1 (0x80 is €) or leaves undefined.
        {"\xC4\x80 \xC3\x81", u"Ā Á"_s},
        {"\xF0\x9F\x8E\xB5 \xE2\x82\xAC", u"🎵 €"_s},
        {QByteArray("\xC3\x85sa\0\0\x05", 7), u"Åsa"_s + QChar(0) + QChar(0) + QChar(5)},
        {"Abba", std::nullopt},  // reads the same either way
        {"", std::nullopt},
        {"Sm\xE5", std::nullopt},
        {"\xC3\x85sa \xD6"
         "berg",
         std::nullopt},                          // one byte outside UTF-8 spoils the field
        {"\xC3", std::nullopt},                  // cut short
        {"\x85", std::nullopt},                  // a lone continuation byte
        {"\xC0\x80", std::nullopt},              // overlong
        {"\xE0\x80\xAF", std::nullopt},          // overlong
        {"\xED\xA0\x80", std::nullopt},          // a surrogate
        {"\xF4\x90\x80\x80", std::nullopt},      // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", std::nullopt},  // five bytes
    };
    for (const auto& [bytes, reading] : cases)
        EXPECT_EQ(utf8Reading(stored(bytes)), reading) << bytes.toHex(' ').toStdString();
    EXPECT_EQ(utf8Reading(u"Å"_s + QChar(0x0142)), std::nullopt);  // not a stored text at all
}

TEST_F(Trailers, RefusalsAndFailuresLeaveTheFileAsItWasAndCreateNothing) {
    const QString gone = dir.file(u"borta.mp3"_s);
    EXPECT_EQ(skriv_tag(fs, gone, record("t", "a")), code::kFileNotFound);
    EXPECT_FALSE(QFile::exists(gone));

    const QString fifo = dir.file(u"fifo.mp3"_s);
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0644), 0);
    EXPECT_FALSE(las_tag(fs, fifo));  // never blocks
    EXPECT_EQ(skriv_tag(fs, fifo, record("t", "a")), code::kAccess);

    for (const QByteArray& before : {audio(500), audio(500) + kTrailer}) {
        const QString p = file(before);
        TagRecord tooLong = record("", "");
        tooLong.year = u"12345"_s;
        EXPECT_EQ(skriv_tag(fs, p, tooLong), code::kBadArgument);
        EXPECT_EQ(skriv_tag(fs, p, record("", "Łódź")), code::kBadArgument);
        test::FaultyFileSystem faulty;
        faulty.failWriteNumber = 1;  // fails after putting down half of its bytes
        EXPECT_EQ(skriv_tag(faulty, p, record("t", "a")), code::kDiskFull);
        {
            test::ReadOnly readOnly(p);
            ASSERT_TRUE(readOnly.effective());
            EXPECT_EQ(skriv_tag(fs, p, record("t", "a")), code::kAccess);
        }
        EXPECT_EQ(readAll(p), before);
        // NFS may refuse the write only when the file is closed: that is a failure too.
        test::FaultyFileSystem nfs;
        nfs.closeFailure = code::kDiskFull;
        EXPECT_EQ(skriv_tag(nfs, p, record("t", "a")), code::kDiskFull) << before.size();
    }
}

TEST_F(Trailers, FilesLargerThan4GiBAreReadAndWrittenAtTheirEnd) {
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

TEST_F(Trailers, AWriterReachesOnlyTheNamedFile) {
    dir.write(u"Låt.MP3"_s, audio(300) + kTrailer);
    dir.write(u"Låt.mp3"_s, audio(300));
    ASSERT_EQ(skriv_tag(fs, dir.file(u"Låt.MP3"_s), record("Ny", "A")), code::kOk);
    EXPECT_EQ(las_tag(fs, dir.file(u"Låt.MP3"_s))->title, u"Ny"_s);
    EXPECT_EQ(readAll(dir.file(u"Låt.mp3"_s)), audio(300));
    EXPECT_EQ(skriv_tag(fs, dir.file(u"Låt.Mp3"_s), record("Ny", "A")), code::kFileNotFound);
}

TEST_F(Trailers, AFileChangedSinceItWasReadIsNotWrittenAndTellsWhatItHoldsNow) {
    // What a reader of the file's end takes its fingerprint from.
    const auto printOf = [](const QByteArray& bytes) {
        const auto n = std::min<qsizetype>(bytes.size(), static_cast<qsizetype>(kTailSize));
        const auto* end = reinterpret_cast<const std::byte*>(bytes.constData()) + bytes.size();
        return fingerprintOf(std::span(end - n, static_cast<std::size_t>(n)),
                             static_cast<std::uint64_t>(bytes.size()));
    };
    const QByteArray tagged = audio(300) + kTrailer;
    const struct {
        const char* what;
        QByteArray read;
        QByteArray now;
    } changed[] = {
        {"trailer rewritten", tagged, audio(300) + trailer("Annan", "B", "", "", "", 17)},
        {"genre byte alone", tagged, audio(300) + kTrailer.left(127) + '\x12'},
        {"trailer appended", audio(300), tagged},
        {"file cut", tagged, audio(200)},
        {"short file grown", audio(10), audio(11)},
    };
    for (const auto& c : changed) {
        const QString p = file(c.now);
        Check check{printOf(c.read), {}, {}};
        EXPECT_EQ(skriv_tag(fs, p, record("t", "a"), NoGenre::Write255, nullptr, &check),
                  kChangedOnDisk)
            << c.what;
        EXPECT_EQ(readAll(p), c.now) << c.what;
        EXPECT_EQ(check.now, printOf(c.now)) << c.what;
        EXPECT_EQ(check.found, las_tag(fs, p)) << c.what;
    }
    // A file as it was read is written, and the fingerprint handed back is the one a new read
    // gives, so that the next write from the same row goes through.
    for (const QByteArray& unchanged : {tagged, audio(300), audio(1), QByteArray()}) {
        const QString p = file(unchanged);
        Check check{printOf(unchanged), {}, {}};
        ASSERT_EQ(skriv_tag(fs, p, record("t", "a"), NoGenre::Write255, nullptr, &check),
                  code::kOk);
        EXPECT_EQ(check.now, printOf(readAll(p))) << unchanged.size();
        check.expected = check.now;
        ASSERT_EQ(skriv_tag(fs, p, record("u", "a"), NoGenre::Write255, nullptr, &check),
                  code::kOk);
    }
    EXPECT_NE(printOf(audio(300)), kUnreadable);
}

TEST(Genre, NumbersNamesStoredValuesAndTheChooserOrder) {
    EXPECT_EQ(tal_genre(0), u"Blues"_s);
    EXPECT_EQ(tal_genre(67), u"Psychadelic"_s);
    EXPECT_EQ(tal_genre(93), u"Psychedelic Rock"_s);
    EXPECT_EQ(tal_genre(115), u"Folklore"_s);
    for (const int none : {-1, 116, 255})
        EXPECT_TRUE(tal_genre(none).isEmpty());
    EXPECT_EQ(genre_tal(QString()), 256);
    EXPECT_EQ(genre_tal(u"Blues"_s), 1);
    EXPECT_EQ(genre_tal(u"Folklore"_s), 116);
    // Case and blanks matter; anything unknown is stored as no genre.
    EXPECT_EQ(genre_tal(u"blues"_s), 256);
    EXPECT_EQ(genre_tal(u"Blues "_s), 256);
    for (int n = 0; n < kGenreCount; ++n)
        EXPECT_EQ(genre_tal(tal_genre(n)), n + 1);

    // The chooser lists the names by character code.
    const std::pair<int, const char*> telling[] = {
        {1, "Acid"},         {5, "AlternRock"}, {6, "Alternative"}, {13, "Blues"},
        {35, "Euro-Techno"}, {36, "Eurodance"}, {38, "Folk"},       {39, "Folk/Rock"},
        {40, "Folklore"},    {74, "Pop"},       {75, "Pop-Folk"},   {76, "Pop/Funk"},
        {84, "R&B"},         {85, "Rap"},       {90, "Rock"},       {91, "Rock & Roll"},
        {116, "Vocal"}};
    for (const auto& [position, name] : telling)
        EXPECT_EQ(genre_tal2(QString::fromLatin1(name)), position) << name;
    EXPECT_EQ(genre_tal2(QString()), 0);
    EXPECT_EQ(genre_tal2(u"acid"_s), 0);
}
