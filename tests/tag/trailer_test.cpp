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

class Trailers : public ::testing::Test {
protected:
    test::TempFolder dir;
    platform::PosixFileSystem fs;
};

}  // namespace

TEST_F(Trailers, OnlyFilesOfAtLeast130BytesEndingInUpperCaseTagHaveOne) {
    struct Case {
        QByteArray bytes;
        bool tagged;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        const QString p = dir.write(QStringLiteral("a.mp3"), c.bytes);
        const auto tag = las_tag(fs, p);
        EXPECT_EQ(tag.has_value(), c.tagged) << "size " << c.bytes.size();
        if (tag) {
            EXPECT_EQ(tag->title, QStringLiteral("Titel"));
            EXPECT_EQ(tag->artist, QStringLiteral("Artist"));
            EXPECT_EQ(tag->album, QStringLiteral("Album"));
            EXPECT_EQ(tag->year, QStringLiteral("1999"));
            EXPECT_EQ(tag->comment, QStringLiteral("Kommentar"));
            EXPECT_EQ(tag->genre, 17);
        }
    }
}

TEST_F(Trailers, GenreBytesZeroAndAbove115ReadAsNoGenre) {
    const std::pair<unsigned char, int> cases[] = {
        {0, -1}, {1, 1}, {115, 115}, {116, -1}, {255, -1}};
    for (const auto& [byte, genre] : cases) {
        const QString p =
            dir.write(QStringLiteral("g.mp3"), audio(10) + trailer("t", "a", "", "", "", byte));
        EXPECT_EQ(las_tag(fs, p)->genre, genre) << int(byte);
    }
}

TEST_F(Trailers, OnlyBlanksAreTrimmedSoNulPaddingSurvivesARoundTrip) {
    QByteArray comment("Bra", 3);
    comment += QByteArray(25, '\0');
    comment += QByteArray("\0\x07", 2);  // a version 1.1 track number
    const QByteArray original =
        trailer("  Mitt i  ", QByteArray("Sm\xE5", 3), "", "", comment, 13, '\0');
    const QString p = dir.write(QStringLiteral("n.mp3"), audio(300) + original);
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

TEST_F(Trailers, EveryByteDecodesToOneCharacterAndBack) {
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
    struct Case {
        QByteArray before;
        qsizetype sizeAfter;
    };
    const Case cases[] = {
        {QByteArray(), 128},
        {audio(1) + kTrailer, 129 + 128},  // 129 bytes: the old trailer does not count
        {audio(2) + kTrailer, 130},
        {body + kTrailer, 1128},
        {body, 1128},
        {body + QByteArray("tag") + kTrailer.mid(3), 1256},
    };
    for (const Case& c : cases) {
        const QString p = dir.write(QStringLiteral("w.mp3"), c.before);
        ASSERT_EQ(skriv_tag(fs, p, record("Ny titel", "Ny artist", 0)), code::kOk);
        const QByteArray after = readAll(p);
        EXPECT_EQ(after.size(), c.sizeAfter) << "from " << c.before.size();
        EXPECT_EQ(after.right(128), trailer("Ny titel", "Ny artist", "", "", "", 0));
        const qsizetype kept = c.sizeAfter - 128;
        EXPECT_EQ(after.left(kept), c.before.left(kept));
        // Writing the same again changes nothing (a 128-byte file is still too short to count).
        if (c.sizeAfter < 130)
            continue;
        ASSERT_EQ(skriv_tag(fs, p, record("Ny titel", "Ny artist", 0)), code::kOk);
        EXPECT_EQ(readAll(p), after);
    }
}

TEST_F(Trailers, NoGenreIs255UnlessTheFileAlreadyHoldsAByteThatReadsAsNone) {
    for (const unsigned char old : {0, 17, 200, 255}) {
        const QString p =
            dir.write(QStringLiteral("k.mp3"), audio(200) + trailer("", "", "", "", "", old));
        ASSERT_EQ(skriv_tag(fs, p, record("a", "b")), code::kOk);
        EXPECT_EQ(static_cast<unsigned char>(readAll(p).back()), 255);
        ASSERT_EQ(skriv_tag(fs, p, record("a", "b", 17)), code::kOk);
        dir.write(QStringLiteral("k.mp3"), audio(200) + trailer("", "", "", "", "", old));
        ASSERT_EQ(skriv_tag(fs, p, record("a", "b"), NoGenre::KeepFileByte), code::kOk);
        EXPECT_EQ(static_cast<unsigned char>(readAll(p).back()), old == 17 ? 255 : old);
    }
    const QString fresh = dir.write(QStringLiteral("f.mp3"), audio(200));
    ASSERT_EQ(skriv_tag(fs, fresh, record("a", "b"), NoGenre::KeepFileByte), code::kOk);
    EXPECT_EQ(static_cast<unsigned char>(readAll(fresh).back()), 255);
}

TEST_F(Trailers, AnApeHeaderThatEndsInTagIsNotAnId3Trailer) {
    // APEv2 header placed so that "TAG" of "APETAGEX" falls exactly 128 bytes from the end.
    QByteArray ape = QByteArray("APETAGEX") + QByteArray(24, '\x01');
    ape += QByteArray(131 - ape.size(), '\x02');
    const QByteArray before = audio(400) + ape;
    const QString p = dir.write(QStringLiteral("ape.mp3"), before);
    EXPECT_FALSE(las_tag(fs, p));
    ASSERT_EQ(skriv_tag(fs, p, record("t", "a")), code::kOk);
    const QByteArray after = readAll(p);
    EXPECT_EQ(after.left(before.size()), before);
    EXPECT_EQ(after.size(), before.size() + 128);
    EXPECT_EQ(las_tag(fs, p)->title, QStringLiteral("t"));
}

TEST_F(Trailers, RefusedRecordsLeaveTheFileAlone) {
    const QByteArray before = audio(300);
    const QString p = dir.write(QStringLiteral("r.mp3"), before);
    TagRecord tooLong = record("", "");
    tooLong.year = QStringLiteral("12345");
    EXPECT_EQ(skriv_tag(fs, p, tooLong), code::kBadArgument);
    EXPECT_EQ(skriv_tag(fs, p, record("", "Łódź")), code::kBadArgument);
    EXPECT_EQ(readAll(p), before);
}

TEST_F(Trailers, FailuresAreReportedAndNothingIsCreatedOrDamaged) {
    EXPECT_EQ(skriv_tag(fs, dir.file(QStringLiteral("borta.mp3")), record("t", "a")),
              code::kFileNotFound);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("borta.mp3"))));

    const QByteArray before = audio(500) + kTrailer;
    const QString p = dir.write(QStringLiteral("ro.mp3"), before);
    {
        test::ReadOnly readOnly(p);
        if (!readOnly.effective())
            GTEST_SKIP() << "no way to make a file read-only for root here";
        EXPECT_EQ(skriv_tag(fs, p, record("t", "a")), code::kAccess);
    }
    EXPECT_EQ(readAll(p), before);
}

TEST_F(Trailers, AFailedWriteLeavesTheFileAsItWas) {
    for (const QByteArray& before : {audio(500), audio(500) + kTrailer}) {
        const QString p = dir.write(QStringLiteral("x.mp3"), before);
        test::FaultyFileSystem faulty;
        faulty.failWriteNumber = 1;  // fails after putting down half of its bytes
        EXPECT_EQ(skriv_tag(faulty, p, record("t", "a")), code::kDiskFull);
        EXPECT_EQ(readAll(p), before);
    }
}

TEST_F(Trailers, AWriteRefusedWhenTheFileIsClosedIsAFailure) {
    for (const QByteArray& before : {audio(500), audio(500) + kTrailer}) {
        const QString p = dir.write(QStringLiteral("x.mp3"), before);
        test::FaultyFileSystem nfs;
        nfs.closeFailure = code::kDiskFull;
        EXPECT_EQ(skriv_tag(nfs, p, record("t", "a")), code::kDiskFull) << before.size();
    }
}

TEST_F(Trailers, AFifoNamedLikeAnMp3NeverBlocks) {
    const QString p = dir.file(QStringLiteral("fifo.mp3"));
    ASSERT_EQ(::mkfifo(p.toUtf8().constData(), 0644), 0);
    EXPECT_FALSE(las_tag(fs, p));
    EXPECT_EQ(skriv_tag(fs, p, record("t", "a")), code::kAccess);
}

TEST_F(Trailers, FilesLargerThan4GiBAreReadAndWrittenAtTheirEnd) {
    const QString p = dir.file(QStringLiteral("stor.mp3"));
    const std::uint64_t size = (5ULL << 30) + 7;
    {
        std::ofstream out(p.toStdString(), std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - 128));
        out.write(kTrailer.constData(), 128);
    }
    ASSERT_EQ(std::filesystem::file_size(p.toStdString()), size);
    ASSERT_TRUE(las_tag(fs, p));
    EXPECT_EQ(las_tag(fs, p)->title, QStringLiteral("Titel"));
    ASSERT_EQ(skriv_tag(fs, p, record("Stor", "Fil")), code::kOk);
    EXPECT_EQ(std::filesystem::file_size(p.toStdString()), size);
    EXPECT_EQ(las_tag(fs, p)->title, QStringLiteral("Stor"));
}

TEST_F(Trailers, AnUpperCaseEndingIsReachedThroughTheLowerCasePath) {
    dir.write(QStringLiteral("Låt.MP3"), audio(300) + kTrailer);
    const QString rebuilt = dir.file(QStringLiteral("Låt.mp3"));
    ASSERT_TRUE(las_tag(fs, rebuilt));
    ASSERT_EQ(skriv_tag(fs, rebuilt, record("Ny", "A")), code::kOk);
    EXPECT_FALSE(QFile::exists(rebuilt));
    EXPECT_EQ(las_tag(fs, dir.file(QStringLiteral("Låt.MP3")))->title, QStringLiteral("Ny"));
}
