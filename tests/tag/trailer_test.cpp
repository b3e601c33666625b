#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "tag/cp1252.h"
#include "tag/tag.h"

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

namespace {

const QByteArray kTrailer = trailer("Titel", "Artist", "Album", "1999", "Kommentar", 17);

TagRecord record(const char* title, const char* artist, int genre = -1) {
    TagRecord t;
    t.title = QString::fromUtf8(title);
    t.artist = QString::fromUtf8(artist);
    t.genre = genre;
    return t;
}

unsigned char genreByte(const QString& path) {
    return static_cast<unsigned char>(readAll(path).back());
}

class Trailers : public ::testing::Test {
protected:
    QString file(const QByteArray& bytes) { return dir.write(QStringLiteral("a.mp3"), bytes); }
    test::TempFolder dir;
    platform::PosixFileSystem fs;
};

}  // namespace

TEST_F(Trailers, OnlyFilesOfAtLeast130BytesEndingInUpperCaseTagHaveOne) {
    const TagRecord tagged{QStringLiteral("Titel"),     QStringLiteral("Artist"),
                           QStringLiteral("Album"),     QStringLiteral("1999"),
                           QStringLiteral("Kommentar"), 17};
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
    for (const auto& [bytes, hasOne] : cases) {
        EXPECT_EQ(las_tag(fs, file(bytes)), hasOne ? std::optional(tagged) : std::nullopt)
            << "size " << bytes.size();
    }
    // Genre bytes 0 and above 115 read as no genre.
    const std::pair<unsigned char, int> genres[] = {
        {0, -1}, {1, 1}, {115, 115}, {116, -1}, {255, -1}};
    for (const auto& [byte, genre] : genres) {
        EXPECT_EQ(las_tag(fs, file(audio(10) + trailer("t", "a", "", "", "", byte)))->genre, genre)
            << int(byte);
    }
}

TEST_F(Trailers, OnlyBlanksAreTrimmedSoNulPaddingSurvivesARoundTrip) {
    QByteArray comment("Bra", 3);
    comment += QByteArray(25, '\0');
    comment += QByteArray("\0\x07", 2);  // a version 1.1 track number
    const QByteArray original =
        trailer("  Mitt i  ", QByteArray("Sm\xE5", 3), "", "", comment, 13, '\0');
    const QString p = file(audio(300) + original);
    const auto tag = las_tag(fs, p);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title.left(8), QStringLiteral("Mitt i  "));  // inner and NUL-side blanks kept
    EXPECT_EQ(tag->artist.left(3), QStringLiteral(u"Små"));
    EXPECT_EQ(tag->artist.size(), 30);
    EXPECT_EQ(tag->comment.size(), 30);

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
    EXPECT_FALSE(fits1252(QStringLiteral(u"Łódź")));
    EXPECT_TRUE(fits1252(QStringLiteral(u"Åsa – € ™")));
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
        // Writing the same again changes nothing (a 128-byte file is still too short to count).
        if (sizeAfter < 130)
            continue;
        ASSERT_EQ(skriv_tag(fs, p, record("Ny titel", "Ny artist", 0)), code::kOk);
        EXPECT_EQ(readAll(p), after);
    }
}

TEST_F(Trailers, NoGenreIs255UnlessAskedToKeepAFileByteThatReadsAsNone) {
    for (const unsigned char old : {0, 17, 200, 255}) {
        const QByteArray before = audio(200) + trailer("", "", "", "", "", old);
        ASSERT_EQ(skriv_tag(fs, file(before), record("a", "b")), code::kOk);
        EXPECT_EQ(genreByte(dir.file(QStringLiteral("a.mp3"))), 255);
        ASSERT_EQ(skriv_tag(fs, file(before), record("a", "b"), NoGenre::KeepFileByte), code::kOk);
        EXPECT_EQ(genreByte(dir.file(QStringLiteral("a.mp3"))), old == 17 ? 255 : old);
    }
    const QString fresh = file(audio(200));
    ASSERT_EQ(skriv_tag(fs, fresh, record("a", "b"), NoGenre::KeepFileByte), code::kOk);
    EXPECT_EQ(genreByte(fresh), 255);
}

TEST_F(Trailers, AnApeHeaderThatEndsInTagIsNotAnId3Trailer) {
    // APEv2 header placed so that "TAG" of "APETAGEX" falls exactly 128 bytes from the end.
    QByteArray ape = QByteArray("APETAGEX") + QByteArray(24, '\x01');
    ape += QByteArray(131 - ape.size(), '\x02');
    const QByteArray before = audio(400) + ape;
    const QString p = file(before);
    EXPECT_FALSE(las_tag(fs, p));
    ASSERT_EQ(skriv_tag(fs, p, record("t", "a")), code::kOk);
    EXPECT_EQ(readAll(p).chopped(128), before);
    EXPECT_EQ(las_tag(fs, p)->title, QStringLiteral("t"));
}

TEST_F(Trailers, RefusalsAndFailuresLeaveTheFileAsItWasAndCreateNothing) {
    const QString gone = dir.file(QStringLiteral("borta.mp3"));
    EXPECT_EQ(skriv_tag(fs, gone, record("t", "a")), code::kFileNotFound);
    EXPECT_FALSE(QFile::exists(gone));

    const QString fifo = dir.file(QStringLiteral("fifo.mp3"));
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0644), 0);
    EXPECT_FALSE(las_tag(fs, fifo));  // never blocks
    EXPECT_EQ(skriv_tag(fs, fifo, record("t", "a")), code::kAccess);

    for (const QByteArray& before : {audio(500), audio(500) + kTrailer}) {
        const QString p = file(before);
        TagRecord tooLong = record("", "");
        tooLong.year = QStringLiteral("12345");
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
    }
}

TEST_F(Trailers, FilesLargerThan4GiBAreReadAndWrittenAtTheirEnd) {
    const QString p = dir.file(QStringLiteral("stor.mp3"));
    const std::uint64_t size = (5ULL << 30) + 7;
    {
        std::ofstream out(p.toStdString(), std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - 128));
        out.write(kTrailer.constData(), 128);
    }
    EXPECT_EQ(las_tag(fs, p).value_or(TagRecord{}).title, QStringLiteral("Titel"));
    ASSERT_EQ(skriv_tag(fs, p, record("Stor", "Fil")), code::kOk);
    EXPECT_EQ(std::filesystem::file_size(p.toStdString()), size);
    EXPECT_EQ(las_tag(fs, p).value_or(TagRecord{}).title, QStringLiteral("Stor"));
}

TEST_F(Trailers, AnUpperCaseEndingIsReachedThroughTheLowerCasePath) {
    dir.write(QStringLiteral("Låt.MP3"), audio(300) + kTrailer);
    const QString rebuilt = dir.file(QStringLiteral("Låt.mp3"));
    ASSERT_TRUE(las_tag(fs, rebuilt));
    ASSERT_EQ(skriv_tag(fs, rebuilt, record("Ny", "A")), code::kOk);
    EXPECT_FALSE(QFile::exists(rebuilt));
    EXPECT_EQ(las_tag(fs, dir.file(QStringLiteral("Låt.MP3")))->title, QStringLiteral("Ny"));
}
