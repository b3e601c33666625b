#include "tag/tag.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "support/other_tags.h"
#include "tag/cp1252.h"
#include "tag/genre.h"
#include "tag/other_tags.h"
#include "tag/utf8.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <filesystem>
#include <numeric>

using namespace sorvel;
using namespace sorvel::tag;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

// Records name only the fields a case is about.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const QByteArray kTrailer = trailer("Titel", "Artist", "Album", "1999", "Kommentar", 17);
constexpr Fields kAllButGenre = field::kAll & ~field::kGenre;

// A file's bytes as the codec sees them (its last bytes and its length) and on disk.
class Files : public ::testing::Test {
protected:
    static auto tail(const QByteArray& b) {
        return std::as_bytes(std::span(b.end() - std::min<qsizetype>(b.size(), 131), b.end()));
    }
    static auto read(const QByteArray& b) { return readTrailer(tail(b), b.size()); }
    static auto print(const QByteArray& b) { return fingerprintOf(tail(b), b.size()); }
    static auto place(const QByteArray& b, const TagRecord& r, Fields f = field::kAll) {
        return placeTrailer(tail(b), b.size(), r, f);
    }
    static QByteArray raw(const Trailer& t) { return {reinterpret_cast<const char*>(&t), 128}; }
    static TagRecord record(const char* title, const char* artist, int genre = -1) {
        return {QString::fromUtf8(title), QString::fromUtf8(artist), {}, {}, {}, genre};
    }
    TempFolder dir;
    platform::PosixFileSystem fs;
};

// The fields of another tag as "title|artist|album|year|comment|genre|track", "-" for none.
std::string fields(const std::optional<OtherTag>& t) {
    if (!t)
        return "no tag";
    QStringList all;
    for (const auto* field : {&t->title, &t->artist, &t->album, &t->year, &t->comment, &t->genre})
        all << field->value_or(u"-"_s);
    return (all << QString::number(t->track)).join(u'|').toStdString();
}

// `b` with the byte at `at` (from the end where negative) set to `c`: a tag's flags, say.
QByteArray poked(QByteArray b, qsizetype at, char c) {
    b[at < 0 ? b.size() + at : at] = c;
    return b;
}

// Every 0xFF followed by a zero byte, as an unsynchronising writer may put it.
QByteArray unsynchronised(const QByteArray& b) {
    return QByteArray(b).replace('\xFF', QByteArray("\xFF\0", 2));
}

}  // namespace

// File ends without a trailer, where one is appended, and with one, which is written over (the
// shortest that can hold one has 130 bytes; "APE" alone, or "APETAG" reaching into the title, is
// no APEv2 header hiding it); read, placed by the codec and written by the file layer, one file
// at a time and in a batch, a title as wide as its field, the file's own genre byte kept where it
// reads as none (0, 116..255).
TEST_F(Files, ReadPlacedAndWrittenByTheFileEnd) {
    const QByteArray none = trailer("", "", "", "", "", 200), ape = "APETAGEX" + audio(123);
    const std::vector<QByteArray> ends[2] = {
        {"", kTrailer.left(127), kTrailer, audio(1) + kTrailer, audio(500) + "tag" + none.mid(3),
         audio(500) + kTrailer + audio(10), audio(400) + ape},
        {audio(2) + kTrailer, audio(1668) + "APE" + kTrailer, audio(9) + "APE" + none,
         audio(200) + trailer("", "", "", "", "", 0)}};
    const char* title = "Titeln som fyller hela f\xE4ltet!";
    const TagRecord next = record("Titeln som fyller hela fältet!", "Ny artist");
    for (const bool tagged : {false, true}) {
        for (const QByteArray& bytes : ends[tagged]) {
            SCOPED_TRACE(bytes.size());
            const auto found = read(bytes);
            EXPECT_EQ(found.has_value(), tagged);
            const uchar genre = found ? bytes.back() : 255;
            const QByteArray after = bytes.left(bytes.size() - (tagged ? 128 : 0)) +
                                     trailer(title, "Ny artist", "", "", "", genre);
            const auto p = place(bytes, next, kAllButGenre);
            ASSERT_TRUE(p);
            EXPECT_EQ(bytes.left(p->offset()) + raw(p->out), after);
            EXPECT_EQ(raw(p->old), tagged ? bytes.right(128) : QByteArray(128, '\0'));
            EXPECT_EQ(place(bytes, next)->out.back(), std::byte{255});

            const QString a = dir.write(u"a.mp3"_s, bytes), b = dir.write(u"b.mp3"_s, bytes);
            EXPECT_EQ(las_tag(fs, a), found);
            Check check{print(bytes), {}, {}};
            Replaced replaced;
            EXPECT_EQ(skriv_tag(fs, a, next, kAllButGenre, &replaced, &check), code::kOk);
            WriteJob job{u"b.mp3"_s, next, kAllButGenre, -1, {}, {print(bytes), {}, {}}};
            skriv_tags(fs, dir.path(), std::span(&job, 1));
            EXPECT_EQ(readAll(a), after);
            EXPECT_EQ(readAll(b), after);
            EXPECT_EQ(job.result, code::kOk);
            EXPECT_EQ(check.now, p->after);
            EXPECT_EQ(job.check.now, print(after));
            EXPECT_EQ(replaced.oldPrint, print(bytes));
            // A record made from the tag found under the lock, in a batch and, where the batch
            // finds no descriptor, one file at a time.
            for (const bool alone : {false, true}) {
                FaultyFileSystem f;
                f.batchesFindNoDescriptor = alone;
                const QString c = dir.write(u"c.mp3"_s, bytes);
                WriteJob late{u"c.mp3"_s, {}, kAllButGenre, -1, {}, {}, [&](const auto& on) {
                                  EXPECT_EQ(on, found) << alone;
                                  return next;
                              }};
                skriv_tags(f, dir.path(), std::span(&late, 1));
                EXPECT_EQ(readAll(c), after) << alone;
            }
        }
    }
    for (const auto& [byte, genre] :
         {std::pair<uchar, int>{0, 0}, {115, 115}, {116, -1}, {255, -1}})
        EXPECT_EQ(read(audio(10) + trailer("", "", "", "", "", byte))->genre, genre) << byte;
}

// Only blanks are trimmed, so NUL padding and a version 1.1 track number in the last byte of the
// comment survive; writing back what was read changes nothing but the leading blanks.
TEST_F(Files, OnlyBlanksAreTrimmedSoNulPaddingSurvivesARoundTrip) {
    const QByteArray comment = QByteArray("Bra") + QByteArray(26, '\0') + '\x07';
    const auto tag = read(audio(9) + trailer("  Mitt i  ", "Sm\xE5", "", "1999", comment, 13, 0));
    EXPECT_EQ(tag->artist, u"Små"_s + QString(27, QChar(0)));
    const QByteArray nul(30, '\0');
    EXPECT_EQ(raw(*renderTrailer(*tag)), trailer("Mitt i  " + nul.left(20), "Sm\xE5" + nul.left(27),
                                                 nul, "1999", comment, 13));
}

// Over a trailer only the fields a command writes change, and of those only the ones that are to
// read otherwise; a comment of at most 28 characters keeps an ID3v1.1 track, a longer one takes
// its bytes; a track asked for takes them from a long comment, and none gives them back as blanks.
TEST_F(Files, AWriteChangesOnlyTheFieldsItWritesAndKeepsTheTrackWhereTheCommentLeavesRoom) {
    const QByteArray v11 =
        audio(9) +
        trailer("T", " Artist", "", "", " Hej", 0, '\0').replace(125, 2, QByteArray("\0\x09", 2));
    const QByteArray longComment = audio(9) + trailer("T", "A", "", "", QByteArray(30, 'k'), 0);
    const auto note = [](const QString& comment, int track = 0) {
        return TagRecord{.comment = comment, .track = track};
    };
    struct Case {
        const char* name;
        QByteArray before;
        TagRecord tag;
        Fields fields;
        QByteArray after;
    };
    const Case cases[] = {
        {"same texts", v11, *read(v11), field::kAll, v11},
        {"artist alone", v11, record("", "Ny"), field::kArtist,
         withField(v11, test::kArtistAt, 30, "Ny")},
        {"short comment", v11, note(u"Bra"_s), field::kComment,
         withField(v11, test::kCommentAt, 28, "Bra")},
        {"long comment", v11, note(QString(29, u'x')), field::kComment,
         withField(v11, test::kCommentAt, 30, QByteArray(29, 'x'))},
        {"no track", v11, {}, field::kTrack, withField(v11, test::kCommentAt + 28, 2, "")},
        {"track", longComment, note({}, 7), field::kTrack,
         QByteArray(longComment).replace(longComment.size() - 3, 2, QByteArray("\0\x07", 2))},
        {"appended whole", audio(9), note(u"c"_s, 3), field::kArtist,
         audio(9) + trailer("", "", "", "", "c", 255).replace(125, 2, QByteArray("\0\x03", 2))},
    };
    for (const Case& c : cases) {
        const auto p = place(c.before, c.tag, c.fields);
        ASSERT_TRUE(p) << c.name;
        EXPECT_EQ(c.before.left(p->offset()) + raw(p->out), c.after) << c.name;
    }
    EXPECT_EQ(read(v11)->track, 9);
}

// A title that would make "APE" before the trailer spell an APEv2 header gets a leading blank,
// or is refused where there is no room for one; so are fields over their width or outside the
// code page, and a genre outside the table.
TEST_F(Files, TitlesThatWouldSpellAnApeHeaderAndRecordsTheTrailerCannotHold) {
    const QByteArray file = audio(1668) + "APE" + kTrailer;
    for (const auto& [typed, stored] : {std::pair{"EXIT", " EXIT"}, {"EX", " EX"}, {"EY", "EY"}})
        EXPECT_EQ(raw(place(file, record(typed, ""))->out), trailer(stored, "", "", "", "", 255))
            << typed;
    EXPECT_EQ(raw(place(audio(9), record("EXIT", ""))->out).mid(3, 4), "EXIT");
    std::array<TagRecord, 6> refused{record("EXEEEEEEEEEEEEEEEEEEEEEEEEEEEE", ""),
                                     record("", "Łódź"), record("", "", 256),
                                     record("0123456789012345678901234567890", "")};
    refused[4].year = u"12345"_s;
    refused[5].comment = QString(31, u'x');
    for (const TagRecord& r : refused)
        EXPECT_FALSE(place(file, r)) << r.title.toStdString();
}

// Every byte decodes to one character and back; only valid UTF-8 with a multi-byte sequence
// reads as its text (continuation bytes the code page maps beyond Latin-1 or leaves undefined
// too, NUL padding kept): not text that reads the same either way, one byte outside UTF-8, cut
// short, a lone continuation byte, overlong twice, a surrogate, above U+10FFFF or five bytes.
// Genre names and numbers both ways; the chooser lists the names by character code.
TEST(Text, Cp1252Utf8AndGenres) {
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), char(0));
    const auto stored = [](const QByteArray& b) { return decode1252(std::as_bytes(std::span(b))); };
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(encode1252(stored(all).at(b)), b);
    EXPECT_EQ(stored("\x80\x81\xE5"), u"€\u0081å"_s);
    EXPECT_FALSE(fits1252(u"Åsa Łódź"_s));
    EXPECT_EQ(
        utf8Reading(stored(QByteArray("\xC3\x85 \xC4\x80\xC3\x81 \xF0\x9F\x8E\xB5\0\x05", 14))),
        u"Å ĀÁ 🎵"_s + QChar(0) + QChar(5));
    for (const char* none :
         {"Abba", "Sm\xE5", "\xC3\x85 \xD6", "\xC3", "\x85", "\xC0\x80", "\xE0\x80\xAF",
          "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_EQ(utf8Reading(stored(none)), std::nullopt) << none;
    for (const auto& [n, name] :
         {std::pair{-1, u""_s}, {0, u"Blues"_s}, {115, u"Folklore"_s}, {116, {}}, {INT_MAX, {}}})
        EXPECT_EQ(tal_genre(n), name) << n;
    for (int n = 0; n < kGenreCount; ++n)
        EXPECT_EQ(genre_tal(tal_genre(n)), n + 1);
    EXPECT_EQ(genre_tal(u"blues"_s), 256);
    using Named = std::pair<const char*, int>;
    // In the chooser's order.
    for (const auto& [text, number] :
         {Named{"AlternRock", 5}, {"Alternative", 6}, {"Folk/Rock", 39}})
        EXPECT_EQ(genre_tal2(QString::fromLatin1(text)), number) << text;
    // Another tag's genre by its number whatever name follows, by the table's spelling or TagLib's.
    const Named numbered[] = {{"(40)Alternative Rock", 40},
                              {"alternrock", 40},
                              {"alternative rock", 40},
                              {"Psychedelic", 67},
                              {"(0)x", 0},
                              {"17", 17},
                              {"(116)Rock", -1}};
    for (const auto& [text, number] : numbered)
        EXPECT_EQ(genreNumberOf(QString::fromLatin1(text)), number) << text;
}

// Each answer is the same from the writer of one file and from the writer of many, and no
// refusal or failure changes or creates a file: a failed write puts back what it put down, and a
// file refused in a batch writes nothing of its own. Another spelling of the ending is another
// file, even beside one of the same letters; a FIFO is never waited on, nor one file under two
// names in a batch on itself.
TEST_F(Files, RefusalsAndFailuresLeaveEveryFileAsItWas) {
    FaultyFileSystem real, faulty, nfs(platform::PosixFileSystem::TailReads::Sequential);
    // The first write fails after putting down half of its bytes; NFS may refuse a write only
    // when the file is closed.
    faulty.failWriteNumber = 1;
    nfs.closeFailure = code::kDiskFull;
    const auto write = [this](FaultyFileSystem& f, const QString& name, const char* artist) {
        WriteJob job{name, record("t", artist), field::kAll, -1, {}, {}};
        f.writes = 0;
        skriv_tags(f, dir.path(), std::span(&job, 1));
        f.writes = 0;
        EXPECT_EQ(skriv_tag(f, dir.file(name), job.tag), job.result) << name.toStdString();
        return job.result;
    };
    dir.write(u"Låt.MP3"_s, audio(300) + kTrailer);
    ASSERT_EQ(::mkfifo(dir.file(u"fifo.mp3"_s).toUtf8().constData(), 0644), 0);
    EXPECT_FALSE(las_tag(fs, dir.file(u"fifo.mp3"_s)));
    for (const QByteArray& before : {audio(500), audio(500) + kTrailer}) {
        dir.write(u"a.mp3"_s, before);
        const auto files = snapshot(dir.path());
        std::vector<Code> answers{write(real, u"borta.mp3"_s, "a"), write(real, u"Låt.Mp3"_s, "a"),
                                  write(real, u"fifo.mp3"_s, "a"), write(real, u"a.mp3"_s, "Łódź"),
                                  write(faulty, u"a.mp3"_s, "a")};
        {
            const ReadOnly locked(dir.file(u"a.mp3"_s));
            ASSERT_TRUE(locked.effective());
            answers.push_back(write(real, u"a.mp3"_s, "a"));
        }
        WriteJob two[] = {
            {u"Låt.MP3"_s, record("t", "a"), field::kAll, -1, {}, {print(kTrailer), {}, {}}},
            {u"a.mp3"_s, record("t", "a"), field::kAll, -1, {}, {}}};
        faulty.writes = 0;
        skriv_tags(faulty, dir.path(), two);
        answers.insert(answers.end(), {two[0].result, two[1].result});
        EXPECT_EQ(snapshot(dir.path()), files);
        answers.push_back(write(nfs, u"a.mp3"_s, "a"));
        EXPECT_EQ(answers,
                  (std::vector{code::kFileNotFound, code::kFileNotFound, code::kNotRegularFile,
                               code::kBadArgument, code::kDiskFull, code::kAccess,
                               code::kChangedOnDisk, code::kDiskFull, code::kDiskFull}));
    }
    ASSERT_EQ(::link(dir.file(u"a.mp3"_s).toUtf8(), dir.file(u"b.mp3"_s).toUtf8()), 0);
    WriteJob both[] = {{u"a.mp3"_s, record("t", "a"), field::kAll, -1, {}, {}},
                       {u"b.mp3"_s, record("t", "b"), field::kAll, -1, {}, {}}};
    skriv_tags(fs, dir.path(), both);
    EXPECT_EQ(std::pair(both[0].result, both[1].result), std::pair(code::kOk, code::kOk));
}

// A file changed since it was read (its trailer rewritten, its genre byte alone, a trailer
// appended, the file cut, a short file grown) is not written, and the check tells what it holds
// now.
TEST_F(Files, AFileChangedSinceItWasReadIsNotWritten) {
    const QByteArray tagged = audio(300) + kTrailer;
    struct Change {
        const char* name;
        QByteArray before, now;
    };
    const QByteArray other = audio(300) + trailer("Annan", "B", "", "", "", 17);
    for (const Change& c : {Change{"rewritten", tagged, other},
                            {"genre", tagged, audio(300) + kTrailer.left(127) + '\x12'},
                            {"appended", audio(300), tagged},
                            {"cut", tagged, audio(200)},
                            {"grown", audio(10), audio(11)}}) {
        SCOPED_TRACE(c.name);
        const QByteArray& now = c.now;
        Check check{print(c.before), {}, {}};
        const QString p = dir.write(u"a.mp3"_s, now);
        EXPECT_EQ(skriv_tag(fs, p, {}, field::kAll, nullptr, &check), code::kChangedOnDisk);
        EXPECT_EQ(readAll(p), now);
        EXPECT_EQ(check.now, print(now));
        EXPECT_EQ(check.found, read(now));
    }
}

// Tags of other programs as TagLib and mutagen read them, fields that go wrong in real files.
TEST(OtherTags, ReadAsOtherReadersReadThem) {
    using namespace sorvel::test::id3;
    const auto latin = [](int v, const char* id, const char* s, int n = -1) {
        return frame(v, id, '\0' + QByteArray(s, n < 0 ? qsizetype(qstrlen(s)) : n));
    };
    const auto note = [](int v, const char* s) {
        return frame(v, "COMM", comment(Enc::Latin1, {}, QString::fromUtf8(s)));
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        std::string want;
    };
    const Case cases[] = {
        {"2.4 frame size written as a plain integer",
         id3v2(4, QByteArray("TIT2\0\0\0\xC8\0\0", 10) + QByteArray("\0Titel\0", 7) +
                      QByteArray(193, 'x') + latin(4, "TPE1", "Artist")),
         "Titel|Artist|-|-|-|-|0"},
        {"2.3 extended header flag without one",
         poked(id3v2(3, latin(3, "TIT2", "Titel")), 5, 0x40), "Titel|-|-|-|-|-|0"},
        {"2.4 extended header flag without one",
         poked(id3v2(4, latin(4, "TIT2", "Titel")), 5, 0x40), "Titel|-|-|-|-|-|0"},
        {"2.4 tag unsynchronised",
         poked(id3v2(4, frame(4, "TIT2", unsynchronised(text(Enc::Utf16Bom, u"Åsa"_s)))), 5,
               char(0x80)),
         "Åsa|-|-|-|-|-|0"},
        {"genre number before a name TagLib spells its own way",
         id3v2(3, latin(3, "TCON", "(40)Alternative Rock")), "-|-|-|-|-|(40)Alternative Rock|0"},
        {"frame of size zero",
         id3v2(3, QByteArray("TIT2\0\0\0\0\0\0", 10) + latin(3, "TPE1", "Artist")),
         "-|Artist|-|-|-|-|0"},
        {"2.4 first of several values", id3v2(4, latin(4, "TPE1", "2 Unlimited\0Ray Anita", 21)),
         "-|2 Unlimited|-|-|-|-|0"},
        {"2.3 text up to its NUL", id3v2(3, latin(3, "TALB", "Album\0Rest", 10)),
         "-|-|Album|-|-|-|0"},
        {"APEv2 tag of 131 bytes without a trailer",
         audio(200) + ape({{"TITLE", QString(53, u'a')}}), std::string(53, 'a') + "|-|-|-|-|-|0"},
        {"2.4 release time, track beyond 255",
         id3v2(4, latin(4, "TRCK", "256") + latin(4, "TDRL", "2001")), "-|-|-|2001|-|-|0"},
        {"2.3 frame XZ09 passed over, original year and track of a count",
         id3v2(3, latin(3, "XZ09", "x") + latin(3, "TORY", "1999") + latin(3, "TRCK", "7/12")),
         "-|-|-|1999|-|-|7"},
        {"2.2 title of 150 bytes, track",
         id3v2(2, latin(2, "TT2", std::string(150, 't').c_str()) + latin(2, "TRK", "255")),
         std::string(150, 't') + "|-|-|-|-|-|255"},
        {"APEv2 track", audio(200) + ape({{"Track", u"1"_s}}), "-|-|-|-|-|-|1"},
        {"2.3 tag unsynchronised, a frame of 0xFF bytes over several buffers passed over",
         poked(id3v2(3, unsynchronised(frame(3, "PRIV", "x" + QByteArray(140000, '\xFF')) +
                                       latin(3, "TIT2", "Hej\xFF") + latin(3, "TPE1", "A"))),
               5, char(0x80)),
         "Hejÿ|A|-|-|-|-|0"},
        {"2.3 extended header of 6 bytes",
         poked(id3v2(3, id3::number(6, 4) + QByteArray(6, 0) + latin(3, "TIT2", "T")), 5, 0x40),
         "T|-|-|-|-|-|0"},
        {"2.3 extended header with a CRC",
         poked(id3v2(3, id3::number(10, 4) + QByteArray(10, 0) + latin(3, "TIT2", "T")), 5, 0x40),
         "T|-|-|-|-|-|0"},
        {"2.4 extended header",
         poked(id3v2(4, QByteArray("\0\0\0\x06\x01\0", 6) + latin(4, "TIT2", "T")), 5, 0x40),
         "T|-|-|-|-|-|0"},
        {"2.5 tag", id3v2(5, latin(4, "TIT2", "T")), "no tag"},
        {"tag not marked ID3", "ID4" + id3v2(3, latin(3, "TIT2", "T")).mid(3), "no tag"},
        {"bytes after a tag of 160 bytes that look like a frame",
         id3v2(3, latin(3, "TIT2", std::string(149, 't').c_str())) + latin(3, "TALB", "Audio"),
         std::string(149, 't') + "|-|-|-|-|-|0"},
        {"APEv2 binary item", poked(ape({{"Title", u"Bin"_s}}), 36, 2), "no tag"},
        {"APEv2 items past the footer's count",
         poked(ape({{"Title", u"A"_s}, {"Artist", u"B"_s}}), -16, 1), "A|-|-|-|-|-|0"},
        {"ID3v2 tag before an APEv2 tag",
         id3v2(3, latin(3, "TIT2", "Id3")) + audio(200) + ape({{"Title", u"Ape"_s}}),
         "Id3|-|-|-|-|-|0"},
        {"APEv2 tag without a header, the whole file", ape({{"Title", u"X"_s}}).mid(32),
         "X|-|-|-|-|-|0"},
        {"2.4 frame of 200 bytes",
         id3v2(4, latin(4, "TIT2", std::string(199, 'a').c_str()) + latin(4, "TPE1", "A")),
         std::string(199, 'a') + "|A|-|-|-|-|0"},
        {"2.3 tag unsynchronised, UTF-16 text of 0xFF and 0 bytes",
         poked(id3v2(3, unsynchronised(frame(3, "TIT2", text(Enc::Utf16Bom, u"ÿs"_s)))), 5,
               char(0x80)),
         "ÿs|-|-|-|-|-|0"},
        {"2.3 compressed comment passed over",
         id3v2(3, poked(note(3, "Packad"), 9, char(0x80)) + note(3, "Rätt")), "-|-|-|-|Rätt|-|0"},
        {"2.4 comments compressed, and described behind a data length indicator, passed over",
         id3v2(4, poked(note(4, "Packad"), 9, 8) +
                      poked(frame(4, "COMM",
                                  number(13, 4, 7) + comment(Enc::Latin1, u"Beskr"_s, u"Fel"_s)),
                            9, 1) +
                      note(4, "Rätt")),
         "-|-|-|-|Rätt|-|0"},
        {"2.3 comment too short passed over",
         id3v2(3, frame(3, "COMM", {"\0eng", 4}) + note(3, "Sen")), "-|-|-|-|Sen|-|0"},
        {"2.3 UTF-16 comment, its empty description without a BOM",
         id3v2(3, frame(3, "COMM", QByteArray("\1eng\0\0", 6) + encoded(Enc::Utf16Bom, u"Rätt"_s))),
         "-|-|-|-|Rätt|-|0"},
        {"2.3 frame over 256 KB, its first value kept",
         id3v2(3, frame(3, "TIT2", QByteArray("\0Hej\0", 5) + QByteArray(300000, 'x')) +
                      latin(3, "TPE1", "A")),
         "Hej|A|-|-|-|-|0"},
        {"2.4 extended header of 128 bytes",
         poked(id3v2(4, QByteArray("\0\0\x01\0\x01\0", 6) + QByteArray(122, 0) +
                            latin(4, "TIT2", "T")),
               5, 0x40),
         "T|-|-|-|-|-|0"},
        {"2.3 empty comment of five bytes first",
         id3v2(3, latin(3, "TIT2", "T") + frame(3, "COMM", {"\0eng\0", 5}) + note(3, "Sen")),
         "T|-|-|-|-|-|0"},
        {"2.3 empty UTF-16 comment first",
         id3v2(3,
               latin(3, "TIT2", "T") + frame(3, "COMM", {"\1eng\xFE\xFF\0\0", 8}) + note(3, "Sen")),
         "T|-|-|-|-|-|0"},
        {"APEv2 footer not marked APETAGEX", poked(ape({{"Title", u"X"_s}}), -25, 'Y'), "no tag"},
        {"APEv2 item over 256 KB, kept cut", audio(200) + ape({{"Title", QString(300000, u'a')}}),
         std::string(256 * 1024, 'a') + "|-|-|-|-|-|0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fields(readOtherTag(std::as_bytes(std::span(c.bytes)))), c.want) << c.name;
}

// A tag of a million tiny frames keeps one of each kind, not a million.
TEST(OtherTags, AMillionFramesCostLittleMemory) {
    using namespace sorvel::test::id3;
    const QByteArray one = frame(4, "TIT2", QByteArray("\0A", 2));
    QByteArray body;
    body.reserve(one.size() * 1'000'000);
    for (int i = 0; i < 1'000'000; ++i)
        body += one;
    const QByteArray tag = id3v2(4, body);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const std::optional<OtherTag> read = readOtherTag(std::as_bytes(std::span(tag)));
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(fields(read), "A|-|-|-|-|-|0");
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KB more at the peak";
}

// A file is read whole or its failure told, an unsynchronised tag in pieces of 64 KB rather than a
// read for each frame; beyond 4 GiB the tag at its start is still read (its title frame longer
// than the file's length cut to 32 bits), and the trailer at its end is appended, written over
// and read.
TEST_F(Files, OtherTagsOfFilesAndTheirFailuresAndTrailersBeyond4GiB) {
    const QString big = dir.write(
        u"stor.mp3"_s,
        id3::id3v2(3, id3::frame(3, "TIT2", QByteArray("\0Stor", 5) + QByteArray(80, 0))));
    std::filesystem::resize_file(big.toStdString(), (1ULL << 32) + 70);
    ASSERT_EQ(::mkfifo(dir.file(u"fifo.mp3"_s).toUtf8().constData(), 0644), 0);
    ASSERT_TRUE(QDir().mkdir(dir.file(u"mapp.mp3"_s)));
    // Read by a file system that counts the reads, and fails the one given.
    const auto code = [&](const QString& name, int failing = 0) {
        FaultyFileSystem counted;
        counted.failReadNumber = failing;
        Code failure = -1;
        readOtherTag(counted, dir.file(name), &failure);
        EXPECT_LE(counted.reads, 3) << name.toStdString();
        return failure;
    };
    // A frame header straddles the end of the first 64 KB.
    const QString many = dir.write(
        u"många.mp3"_s,
        poked(id3::id3v2(
                  3, unsynchronised(id3::frame(3, "PRIV", QByteArray(212, '\xFF')).repeated(200)) +
                         id3::frame(3, "TIT2", QByteArray("\0Sist", 5))),
              5, char(0x80)));
    EXPECT_EQ(fields(readOtherTag(fs, many)), "Sist|-|-|-|-|-|0");
    EXPECT_EQ(readOtherTag(fs, big).value_or(OtherTag{}).title, u"Stor"_s);
    EXPECT_EQ((std::vector{code(u"stor.mp3"_s), code(u"fifo.mp3"_s), code(u"mapp.mp3"_s),
                           code(u"borta.mp3"_s), code(u"många.mp3"_s), code(u"många.mp3"_s, 3)}),
              (std::vector{code::kOk, code::kNotRegularFile, code::kNotRegularFile,
                           code::kFileNotFound, code::kOk, code::kDeviceIo}));
    ASSERT_EQ(skriv_tag(fs, big, record("Stor", "Fil")), code::kOk);
    ASSERT_EQ(skriv_tag(fs, big, record("Större", "")), code::kOk);
    EXPECT_EQ(std::filesystem::file_size(big.toStdString()), (1ULL << 32) + 70 + 128);
    EXPECT_EQ(las_tag(fs, big), record("Större", ""));
}
