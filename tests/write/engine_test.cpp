#include "write/engine.h"
#include "support/fake_desktop.h"
#include "support/files.h"
#include "write_support.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace sorvel;
using namespace sorvel::test;
using write::Typ;
using namespace Qt::StringLiterals;

namespace {

class Engine : public ::testing::Test, public write::Observer {
protected:
    // Every report as one line: "max 3", "value 1", "Sparar a.mp3".
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << u"max %1"_s.arg(max); }
    void setProgress(int value) override { seen << u"value %1"_s.arg(value); }

    write::WriteResult run(Typ typ, std::vector<bool> selected, const write::EditorValues& editor,
                           int fil2tagNr = 1) {
        return write::spara_tag(fs, typ, rows, selected, dir.path(), editor, fil2tagNr, *this);
    }
    QByteArray bytes(const char* name) const { return readAll(dir.file(QString::fromUtf8(name))); }

    TempFolder dir;
    platform::PosixFileSystem fs;
    QStringList seen;
    std::vector<browse::Row> rows;
};

}  // namespace

TEST(SplitFileName, ChoosesTheDashAndDropsWhatStandsBeforeThePreviousOne) {
    const std::tuple<const char16_t*, int, const char16_t*, const char16_t*> cases[] = {
        {u"01 - Artist - Title", 0, u"01 - Artist", u"Title"},
        {u"01 - Artist - Title", 1, u"01", u"Artist - Title"},
        {u"01 - Artist - Title", 2, u"Artist", u"Title"},
        {u"01 - Artist - Title", 3, u"01 - Artist", u"Title"},
        {u"01 - Artist - Title", 4, u"01 - Artist", u"Title"},
        {u"01 - Artist - Title", -1, u"01 - Artist", u"Title"},
        {u"Min_lat", 1, u"", u"Min lat"},
        {u"-Titel", 1, u"", u"Titel"},
        {u"A--B", 2, u"", u"B"},
        {u"_Band_-_Låt_", 1, u"Band", u"Låt"},
        {u" utan streck ", 2, u"", u" utan streck "},
        {u"En_mycket_lång_titel_utan_streck_alls", 1, u"", u"En mycket lång titel utan stre"},
        {u"123456789012345678901234567890123 - 123456789012345678901234567890123", 1,
         u"123456789012345678901234567890", u"123456789012345678901234567890"},
    };
    for (const auto& [name, n, artist, title] : cases) {
        const auto at = write::splitFileName(QString::fromUtf16(name), n);
        EXPECT_EQ(at.artist + u'|' + at.title,
                  QString::fromUtf16(artist) + u'|' + QString::fromUtf16(title))
            << QString::fromUtf16(name).toStdString() << " " << n;
    }
}

TEST_F(Engine, WritesTheNewFieldAndEachRowsOwnBytesIntoSelectedFilesOnly) {
    // a: 129 bytes, too short to count its trailer; b: 130 bytes with a trailer; c: not selected;
    // d: fields padded with NUL, a track number and genre byte 0; e: a Winamp genre byte (200).
    const QByteArray trackComment = QByteArray("Kom D") + QByteArray(24, '\0') + '\x07';
    const QByteArray files[] = {
        audio(1) + trailer("T", "A", "", "", "", 17),
        audio(2) + trailer("Titel B", "Art B", "Alb B", "1999", "Kom B", 17),
        audio(300) + trailer("Titel C", "Art C", "", "", "", 17),
        audio(1000) + trailer("Titel D", "Art D", "Alb D", "2001", trackComment, 0, '\0'),
        audio(50) + trailer("Titel E", "", "", "", "", 200),
    };
    for (int i = 0; i < 5; ++i)
        dir.write(QString(QChar(u'a' + i)) + u".mp3"_s, files[i]);
    rows = scanRows(fs, dir.path());
    const std::vector<browse::Row> scanned = rows;
    write::EditorValues editor;
    editor.artist = u"Ny artist"_s;

    const auto result = run(Typ::Artist, {true, true, false, true, true}, editor);

    EXPECT_EQ(result.written, 4u);
    EXPECT_TRUE(result.failures.empty());
    // a gets a whole trailer appended, genre 255; the others keep everything but the artist.
    EXPECT_EQ(bytes("a.mp3"), files[0] + trailer("", "Ny artist", "", "", "", 255));
    EXPECT_EQ(bytes("b.mp3"), withField(files[1], kArtistAt, 30, "Ny artist"));
    EXPECT_EQ(bytes("c.mp3"), files[2]);
    EXPECT_EQ(bytes("d.mp3"), withField(files[3], kArtistAt, 30, "Ny artist"));
    EXPECT_EQ(bytes("e.mp3"), withField(files[4], kArtistAt, 30, "Ny artist"));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        browse::Row expected = scanned[i];
        if (i != 2)
            expected.artist = editor.artist;
        EXPECT_EQ(rows[i], expected) << i;
    }
    EXPECT_EQ(seen,
              QStringList({u"max 5"_s, u"value 0"_s, u"value 1"_s, u"Sparar a.mp3"_s, u"value 2"_s,
                           u"Sparar b.mp3"_s, u"value 3"_s, u"value 4"_s, u"Sparar d.mp3"_s,
                           u"value 5"_s, u"Sparar e.mp3"_s, u"value 0"_s, u"Klar"_s}));
}

TEST_F(Engine, TheGenreCommandSetsTheGenreByteEvenWhereTheFileHadNoGenre) {
    const QByteArray before = audio(20) + trailer("Titel", "Art", "", "", "", 0);
    dir.write(u"a.mp3"_s, before);
    rows = scanRows(fs, dir.path());
    run(Typ::Genre, {true}, {});
    EXPECT_EQ(bytes("a.mp3"), withField(before, kGenreAt, 1, "\xff"));
    write::EditorValues editor;
    editor.genre = u"Blues"_s;
    run(Typ::Genre, {true}, editor);
    EXPECT_EQ(bytes("a.mp3"), before);
    EXPECT_EQ(rows[0].genre, u"Blues"_s);
    EXPECT_EQ(rows[0].title, u"Titel"_s);

    // An empty list gives no maximum, which would make the bar a busy indicator.
    rows.clear();
    seen.clear();
    run(Typ::Album, {}, {});
    EXPECT_EQ(seen, QStringList({u"value 0"_s, u"value 0"_s, u"Klar"_s}));
}

TEST_F(Engine, FilesThatCannotBeWrittenAreLeftAndNamedWhileTheRestAreWritten) {
    const QByteArray before = audio(200) + trailer("T", "A", "", "", "", 17);
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) {
        dir.write(QString::fromUtf8(n), before);
    }
    rows = scanRows(fs, dir.path());
    const std::vector<browse::Row> scanned = rows;
    ReadOnly readOnly(dir.file(u"b.mp3"_s));
    ASSERT_TRUE(readOnly.effective());
    QFile::remove(dir.file(u"c.mp3"_s));
    write::EditorValues editor;
    editor.title = u"Ny"_s;

    const auto result = run(Typ::Titel, {true, true, true, true}, editor);

    EXPECT_EQ(result.written, 2u);
    EXPECT_EQ(bytes("a.mp3"), withField(before, kTitleAt, 30, "Ny"));
    EXPECT_EQ(bytes("b.mp3"), before);
    EXPECT_FALSE(QFile::exists(dir.file(u"c.mp3"_s)));
    EXPECT_EQ(bytes("d.mp3"), withField(before, kTitleAt, 30, "Ny"));
    EXPECT_EQ(rows[1], scanned[1]);
    EXPECT_EQ(rows[2], scanned[2]);
    EXPECT_EQ(rows[3].title, u"Ny"_s);
    EXPECT_EQ(seen.mid(seen.size() - 5), QStringList({u"value 3"_s, u"value 4"_s, u"Sparar d.mp3"_s,
                                                      u"value 0"_s, u"Klar"_s}));

    FakeMessageBoxes boxes;
    write::showFailures(boxes, result.failures);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, u"Fel"_s);
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageBoxes::Icon::Critical);
    EXPECT_EQ(boxes.shown[0].text,
              u"Följande filer kunde inte skrivas:\n"
              u"b.mp3 (skrivskyddad eller låst)\n"
              u"c.mp3 (finns inte)"_s);
}

TEST_F(Engine, FileNameToTagWritesEachRowsOwnOtherFieldsAndRefusesNamesATagCannotHold) {
    const QByteArray t = trailer("", "", "Album", "1984", "Kom", 17);
    dir.write(u"01 - Band - Låt.mp3"_s, audio(40) + t);
    dir.write(u"Min_lat.mp3"_s, audio(40));
    dir.write(u"Ω - Sång.mp3"_s, audio(40) + t);
    rows = scanRows(fs, dir.path());
    const std::vector<browse::Row> scanned = rows;

    const auto result = run(Typ::Filnamn, {true, true, true}, {}, 2);

    EXPECT_EQ(bytes("01 - Band - Låt.mp3"),
              audio(40) + trailer("L\xe5t", "Band", "Album", "1984", "Kom", 17));
    EXPECT_EQ(bytes("Min_lat.mp3"), audio(40) + trailer("Min lat", "", "", "", "", 255));
    EXPECT_EQ(bytes("Ω - Sång.mp3"), audio(40) + t);
    EXPECT_EQ(rows[0].artist, u"Band"_s);
    EXPECT_EQ(rows[1].title, u"Min lat"_s);
    EXPECT_EQ(rows[2], scanned[2]);
    EXPECT_EQ(
        write::failureText(result.failures),
        u"Följande filer kunde inte skrivas:\nΩ - Sång.mp3 (tecken som en tagg inte kan lagra)"_s);
}

TEST(FailureText, NamesTwentyFilesAndCountsTheRest) {
    std::vector<write::Failure> failures;
    for (int i = 0; i < 22; ++i)
        failures.push_back({QStringLiteral("f%1.mp3").arg(i), 1000 + 28});
    const QStringList lines = write::failureText(failures).split(u'\n');
    ASSERT_EQ(lines.size(), 22);
    EXPECT_EQ(lines[20], QStringLiteral("f19.mp3 (fel av typen 1028)"));
    EXPECT_EQ(lines[21], QStringLiteral("... och 2 filer till."));
}
