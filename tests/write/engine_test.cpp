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

// Comment bytes as other taggers leave them: NUL padding and a track number in the last byte.
const QByteArray kTrackComment = QByteArray("Kom D") + QByteArray(24, '\0') + '\x07';

class Engine : public ::testing::Test {
protected:
    TempFolder dir;
    platform::PosixFileSystem fs;
    Recorder observer;

    write::WriteResult run(Typ typ, std::vector<browse::Row>& rows,
                           const std::vector<bool>& selected, const write::EditorValues& editor,
                           int fil2tagNr = 1) {
        return write::spara_tag(fs, typ, rows, selected, dir.path(), editor, fil2tagNr, observer);
    }
    QByteArray bytes(const char* name) const { return readAll(dir.file(QString::fromUtf8(name))); }
};

}  // namespace

TEST(SplitFileName, ChoosesTheDashAndDropsWhatStandsBeforeThePreviousOne) {
    struct Case {
        const char16_t* name;
        int n;
        const char16_t* artist;
        const char16_t* title;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        const auto at = write::splitFileName(QString::fromUtf16(c.name), c.n);
        EXPECT_EQ(at.artist, QString::fromUtf16(c.artist))
            << QString::fromUtf16(c.name).toStdString() << " " << c.n;
        EXPECT_EQ(at.title, QString::fromUtf16(c.title))
            << QString::fromUtf16(c.name).toStdString() << " " << c.n;
    }
}

TEST_F(Engine, WritesTheNewFieldAndEachRowsOwnBytesIntoSelectedFilesOnly) {
    // a: 129 bytes, too short to count its trailer; b: 130 bytes with a trailer; c: not selected;
    // d: fields padded with NUL, a track number and genre byte 0; e: a Winamp genre byte (200).
    dir.write(QStringLiteral("a.mp3"), audio(1) + trailer("T", "A", "", "", "", 17));
    dir.write(QStringLiteral("b.mp3"),
              audio(2) + trailer("Titel B", "Art B", "Alb B", "1999", "Kom B", 17));
    dir.write(QStringLiteral("c.mp3"), audio(300) + trailer("Titel C", "Art C", "", "", "", 17));
    dir.write(QStringLiteral("d.mp3"),
              audio(1000) + trailer("Titel D", "Art D", "Alb D", "2001", kTrackComment, 0, '\0'));
    dir.write(QStringLiteral("e.mp3"), audio(50) + trailer("Titel E", "", "", "", "", 200));
    const QByteArray before[] = {bytes("a.mp3"), bytes("b.mp3"), bytes("c.mp3"), bytes("d.mp3"),
                                 bytes("e.mp3")};
    std::vector<browse::Row> rows = scanRows(fs, dir.path());
    const std::vector<browse::Row> scanned = rows;
    write::EditorValues editor;
    editor.artist = QStringLiteral("Ny artist");

    const auto result = run(Typ::Artist, rows, {true, true, false, true, true}, editor);

    EXPECT_EQ(result.written, 4u);
    EXPECT_TRUE(result.failures.empty());
    // a gets a whole trailer appended, genre 255; the others keep everything but the artist.
    EXPECT_EQ(bytes("a.mp3"), before[0] + trailer("", "Ny artist", "", "", "", 255));
    EXPECT_EQ(bytes("b.mp3"), withField(before[1], kArtistAt, 30, "Ny artist"));
    EXPECT_EQ(bytes("c.mp3"), before[2]);
    EXPECT_EQ(bytes("d.mp3"), withField(before[3], kArtistAt, 30, "Ny artist"));
    EXPECT_EQ(bytes("e.mp3"), withField(before[4], kArtistAt, 30, "Ny artist"));

    for (std::size_t i = 0; i < rows.size(); ++i) {
        browse::Row expected = scanned[i];
        if (i != 2)
            expected.artist = editor.artist;
        EXPECT_EQ(rows[i], expected) << i;
    }
    EXPECT_EQ(observer.seen,
              QStringList({u"max 5"_s, u"value 0"_s, u"value 1"_s, u"Sparar a.mp3"_s, u"value 2"_s,
                           u"Sparar b.mp3"_s, u"value 3"_s, u"value 4"_s, u"Sparar d.mp3"_s,
                           u"value 5"_s, u"Sparar e.mp3"_s, u"value 0"_s, u"Klar"_s}));
}

TEST_F(Engine, TheGenreCommandSetsTheGenreByteEvenWhereTheFileHadNoGenre) {
    dir.write(QStringLiteral("b.mp3"), audio(20) + trailer("Titel B", "Art B", "", "", "", 17));
    dir.write(QStringLiteral("d.mp3"), audio(20) + trailer("Titel D", "Art D", "", "", "", 0));
    std::vector<browse::Row> rows = scanRows(fs, dir.path());
    const QByteArray before[] = {bytes("b.mp3"), bytes("d.mp3")};
    write::EditorValues editor;
    editor.title = QStringLiteral("ignored");

    run(Typ::Genre, rows, {true, true}, editor);
    for (const char* name : {"b.mp3", "d.mp3"})
        EXPECT_EQ(bytes(name).at(20 + kGenreAt), '\xff');
    EXPECT_EQ(rows[0].genre, QString());
    EXPECT_EQ(rows[0].title, QStringLiteral("Titel B"));

    editor.genre = QStringLiteral("Blues");
    run(Typ::Genre, rows, {true, true}, editor);
    EXPECT_EQ(bytes("b.mp3"), before[0].left(20 + kGenreAt) + '\0');
    EXPECT_EQ(bytes("d.mp3"), before[1]);
    EXPECT_EQ(rows[1].genre, QStringLiteral("Blues"));
}

TEST_F(Engine, FilesThatCannotBeWrittenAreLeftAndNamedWhileTheRestAreWritten) {
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) {
        dir.write(QString::fromUtf8(n), audio(200) + trailer("T", "A", "", "", "", 17));
    }
    std::vector<browse::Row> rows = scanRows(fs, dir.path());
    const std::vector<browse::Row> scanned = rows;
    const QByteArray before = bytes("b.mp3");
    ReadOnly readOnly(dir.file(QStringLiteral("b.mp3")));
    ASSERT_TRUE(readOnly.effective());
    QFile::remove(dir.file(QStringLiteral("c.mp3")));
    write::EditorValues editor;
    editor.title = QStringLiteral("Ny");

    const auto result = run(Typ::Titel, rows, {true, true, true, true}, editor);

    EXPECT_EQ(result.written, 2u);
    ASSERT_EQ(result.failures.size(), 2u);
    EXPECT_EQ(bytes("a.mp3"), withField(before, kTitleAt, 30, "Ny"));
    EXPECT_EQ(bytes("b.mp3"), before);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("c.mp3"))));
    EXPECT_EQ(bytes("d.mp3"), withField(before, kTitleAt, 30, "Ny"));
    EXPECT_EQ(rows[1], scanned[1]);
    EXPECT_EQ(rows[2], scanned[2]);
    EXPECT_EQ(rows[3].title, QStringLiteral("Ny"));
    EXPECT_EQ(
        observer.seen.mid(observer.seen.size() - 5),
        QStringList({u"value 3"_s, u"value 4"_s, u"Sparar d.mp3"_s, u"value 0"_s, u"Klar"_s}));

    FakeMessageBoxes boxes;
    write::showFailures(boxes, result.failures);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Fel"));
    EXPECT_EQ(boxes.shown[0].icon, platform::MessageBoxes::Icon::Critical);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Följande filer kunde inte skrivas:\n"
                                                  "b.mp3 (skrivskyddad eller låst)\n"
                                                  "c.mp3 (finns inte)"));
}

TEST_F(Engine, FileNameToTagWritesEachRowsOwnOtherFieldsAndRefusesNamesATagCannotHold) {
    const QByteArray t = trailer("", "", "Album", "1984", "Kom", 17);
    dir.write(QStringLiteral("01 - Band - Låt.mp3"), audio(40) + t);
    dir.write(QStringLiteral("Min_lat.mp3"), audio(40));
    dir.write(QStringLiteral("Ω - Sång.mp3"), audio(40) + t);
    std::vector<browse::Row> rows = scanRows(fs, dir.path());
    const std::vector<browse::Row> scanned = rows;

    const auto result = run(Typ::Filnamn, rows, {true, true, true}, {}, 2);

    EXPECT_EQ(bytes("01 - Band - Låt.mp3"),
              audio(40) + trailer("L\xe5t", "Band", "Album", "1984", "Kom", 17));
    EXPECT_EQ(bytes("Min_lat.mp3"), audio(40) + trailer("Min lat", "", "", "", "", 255));
    EXPECT_EQ(bytes("Ω - Sång.mp3"), audio(40) + t);
    EXPECT_EQ(rows[0].artist, QStringLiteral("Band"));
    EXPECT_EQ(rows[0].name, scanned[0].name);
    EXPECT_EQ(rows[1].title, QStringLiteral("Min lat"));
    EXPECT_EQ(rows[2], scanned[2]);
    EXPECT_EQ(write::failureText(result.failures),
              QStringLiteral("Följande filer kunde inte skrivas:\n"
                             "Ω - Sång.mp3 (tecken som en tagg inte kan lagra)"));
}

TEST_F(Engine, WithNothingSelectedEveryRowStillCountsAndNothingIsWritten) {
    dir.write(QStringLiteral("a.mp3"), audio(10));
    dir.write(QStringLiteral("b.mp3"), audio(10));
    std::vector<browse::Row> rows = scanRows(fs, dir.path());
    const auto result = run(Typ::Album, rows, {}, {});
    EXPECT_EQ(result.written, 0u);
    EXPECT_EQ(bytes("a.mp3"), audio(10));
    EXPECT_EQ(observer.seen, QStringList({u"max 2"_s, u"value 0"_s, u"value 1"_s, u"value 2"_s,
                                          u"value 0"_s, u"Klar"_s}));

    // An empty list gives no maximum, which would make the bar a busy indicator.
    observer.seen.clear();
    std::vector<browse::Row> none;
    run(Typ::Album, none, {}, {});
    EXPECT_EQ(observer.seen, QStringList({u"value 0"_s, u"value 0"_s, u"Klar"_s}));
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
