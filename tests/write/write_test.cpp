// The tag writer: one field into the selected files, artist and title from file names, and
// "&Spara tag" with the text rules of the editor fields.
#include "fileops/fileops.h"
#include "support/fake_desktop.h"
#include "support/files.h"
#include "write/editor.h"
#include "write/engine.h"
#include "write/journal.h"
#include "write/spara.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <ostream>

using namespace sorvel;
using namespace sorvel::test;
using Boxes = platform::MessageBoxes;
using Shown = FakeMessageBoxes::Shown;
using write::SaveOutcome;
using write::Typ;
using namespace Qt::StringLiterals;

// Readable failure output for texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

/// The real file system, with a rename that fails with a code of the test's choosing.
class RenameFails : public platform::PosixFileSystem {
public:
    Code answer = code::kOk;
    Code rename(const QString& from, const QString& to) override {
        return answer != code::kOk ? answer : PosixFileSystem::rename(from, to);
    }
};

class Writer : public ::testing::Test, public browse::ScanObserver {
protected:
    // Every report of the writer as one line: "max 3", "value 1", "Sparar a.mp3".
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << u"max %1"_s.arg(max); }
    void setProgress(int value) override { seen << u"value %1"_s.arg(value); }
    void addRow(browse::Row&& r) override { rows.push_back(std::move(r)); }

    /// The rows of the folder as a scan gives them, sorted by name to know the list order.
    void scan() {
        rows.clear();
        std::size_t n = 0;
        EXPECT_EQ(browse::scanFolder(fs, dir.path(), *this, n), code::kOk);
        std::sort(rows.begin(), rows.end(), [](auto& x, auto& y) { return x.name < y.name; });
        seen.clear();
    }

    write::WriteResult run(Typ typ, std::vector<bool> selected, const write::EditorValues& values,
                           int fil2tagNr = 1) {
        return write::spara_tag(fs, typ, rows, selected, dir.path(), values, fil2tagNr, *this);
    }
    /// Gammal.mp3 as another tagger writes it (`old`), its row, and the editor as a click on
    /// the row fills it, with the title changed by the user.
    void gammal() {
        dir.write(u"Gammal.mp3"_s, old);
        scan();
        row = rows.at(0);
        editor = {write::shownText(row.artist), u"Ny titel"_s, write::shownText(row.album),
                  write::shownText(row.year),   row.genre,     write::shownText(row.comment)};
    }
    SaveOutcome save(const QString& txtFilnamn) {
        return write::cmdSpara_Click(fs, boxes, dir.path(), row, editor, txtFilnamn);
    }
    QByteArray bytes(const char* name) const { return readAll(dir.file(QString::fromUtf8(name))); }
    QByteArray saved() const { return withField(old, kTitleAt, 30, "Ny titel"); }

    // NUL padding, a track number at the end of the comment, and genre byte 0, which the list
    // shows as no genre.
    const QByteArray old =
        audio(500) + trailer("Titel", "Artist", "Album", "1999",
                             QByteArray("Kom") + QByteArray(26, '\0') + '\x05', 0, '\0');
    TempFolder dir;
    RenameFails fs;
    FakeMessageBoxes boxes;
    QStringList seen;
    std::vector<browse::Row> rows;
    browse::Row row;
    write::EditorValues editor;
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

TEST_F(Writer, WritesTheNewFieldAndEachRowsOwnBytesIntoSelectedFilesOnly) {
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
    scan();
    const std::vector<browse::Row> scanned = rows;
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

TEST_F(Writer, TheGenreCommandSetsTheGenreByteEvenWhereTheFileHadNoGenre) {
    const QByteArray before = audio(20) + trailer("Titel", "Art", "", "", "", 0);
    dir.write(u"a.mp3"_s, before);
    scan();
    run(Typ::Genre, {true}, {});
    EXPECT_EQ(bytes("a.mp3"), withField(before, kGenreAt, 1, "\xff"));
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

TEST_F(Writer, FilesThatCannotBeWrittenAreLeftAndNamedWhileTheRestAreWritten) {
    const QByteArray before = audio(200) + trailer("T", "A", "", "", "", 17);
    for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
        dir.write(QString::fromUtf8(n), before);
    scan();
    const std::vector<browse::Row> scanned = rows;
    ReadOnly readOnly(dir.file(u"b.mp3"_s));
    ASSERT_TRUE(readOnly.effective());
    QFile::remove(dir.file(u"c.mp3"_s));
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

    write::showFailures(boxes, result.failures);
    EXPECT_EQ(boxes.shown, (std::vector<Shown>{{u"Fel"_s,
                                                u"Följande filer kunde inte skrivas:\n"
                                                u"b.mp3 (skrivskyddad eller låst)\n"
                                                u"c.mp3 (finns inte)"_s}}));
}

TEST_F(Writer, FileNameToTagWritesEachRowsOwnOtherFieldsAndRefusesNamesATagCannotHold) {
    const QByteArray t = trailer("", "", "Album", "1984", "Kom", 17);
    dir.write(u"01 - Band - Låt.mp3"_s, audio(40) + t);
    dir.write(u"Min_lat.mp3"_s, audio(40));
    dir.write(u"Ω - Sång.mp3"_s, audio(40) + t);
    scan();
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
    const std::vector<write::Failure> failures(22, {u"f.mp3"_s, 1000 + 28});
    const QStringList lines = write::failureText(failures).split(u'\n');
    ASSERT_EQ(lines.size(), 22);
    EXPECT_EQ(lines.mid(20),
              QStringList({u"f.mp3 (fel av typen 1028)"_s, u"... och 2 filer till."_s}));
}

TEST_F(Writer, SaveWritesTheChangedFieldPaddedAndEveryUnchangedOneAsTheFileHadIt) {
    gammal();
    EXPECT_EQ(save(u"Gammal"_s), SaveOutcome::Saved);
    EXPECT_TRUE(boxes.shown.empty());
    // Only the title differs: NUL padding, the track number and genre byte 0 survive.
    EXPECT_EQ(bytes("Gammal.mp3"), saved());
    EXPECT_EQ(row.title, u"Ny titel"_s);

    // A genre the user changed is written as chosen, an emptied one as 255.
    editor.genre = u"Rock"_s;
    save(u"Gammal"_s);
    EXPECT_EQ(bytes("Gammal.mp3").back(), '\x11');
    editor.genre.clear();
    save(u"Gammal"_s);
    EXPECT_EQ(bytes("Gammal.mp3").back(), '\xff');
}

TEST_F(Writer, SaveAsksBeforeRenamingAndRenamesOnlyOnOk) {
    gammal();
    boxes.answers = {Boxes::Answer::Cancel};
    EXPECT_EQ(save(u"Ny"_s), SaveOutcome::Saved);
    EXPECT_EQ(boxes.shown,
              (std::vector<Shown>{{u"Ändra filnamn?"_s,
                                   u"Vill du ändra filnamnet från Gammal.mp3 till Ny.mp3 ?"_s,
                                   Boxes::Icon::None, Boxes::Buttons::OkCancel}}));
    EXPECT_EQ(bytes("Gammal.mp3"), saved());
    EXPECT_EQ(row.name, u"Gammal"_s);

    boxes.answers = {Boxes::Answer::Ok};
    EXPECT_EQ(save(u"Ny"_s), SaveOutcome::SavedAndRenamed);
    EXPECT_FALSE(QFile::exists(dir.file(u"Gammal.mp3"_s)));
    EXPECT_EQ(bytes("Ny.mp3"), saved());
    EXPECT_EQ(row.name, u"Ny"_s);

    // A change of letter case alone is a new name too.
    EXPECT_EQ(save(u"ny"_s), SaveOutcome::SavedAndRenamed);
    scan();
    EXPECT_EQ(rows.at(0).name, u"ny"_s);
    EXPECT_EQ(row.name, u"ny"_s);
}

TEST_F(Writer, SaveARefusedRenameSaysWhyAndKeepsTheNameButTheRowFollowsTheWrittenTag) {
    gammal();
    dir.write(u"Finns.mp3"_s, "F");
    const std::tuple<QString, Code, fileops::Message> cases[] = {
        {u"Finns"_s, code::kOk, fileops::renameMessage(code::kFileExists)},
        {u"a?b"_s, code::kOk, fileops::renameMessage(code::kBadFileName)},
        {u"CON"_s, code::kOk, fileops::renameMessage(code::kAccess)},
        {u"Ny"_s, code::kAccess, {u"Fel"_s, u"Filen är skrivskyddad!"_s}},
        {u"Ny"_s, code::kCrossDevice, {u"Fel!"_s, u"Ett fel av typen 74 inträffade."_s}},
    };
    for (const auto& [name, fsAnswer, message] : cases) {
        fs.answer = fsAnswer;
        boxes.shown.clear();
        EXPECT_EQ(save(name), SaveOutcome::Saved) << name.toStdString();
        ASSERT_EQ(boxes.shown.size(), 2u) << name.toStdString();
        EXPECT_EQ(boxes.shown[1], (Shown{message.title, message.text}));
        EXPECT_EQ(bytes("Gammal.mp3"), saved());
        EXPECT_EQ(row.name, u"Gammal"_s);
        EXPECT_EQ(row.title, u"Ny titel"_s);
    }
}

TEST_F(Writer, SaveAFileThatCannotBeWrittenIsReportedAndLeavesFileAndRowAlone) {
    gammal();
    const browse::Row scanned = row;
    {
        ReadOnly readOnly(dir.file(u"Gammal.mp3"_s));
        ASSERT_TRUE(readOnly.effective());
        EXPECT_EQ(save(u"Ny"_s), SaveOutcome::NotSaved);
    }
    // No rename question after a failed write.
    EXPECT_EQ(boxes.shown, (std::vector<Shown>{{u"Fel"_s, u"Filen är skrivskyddad!"_s}}));
    EXPECT_EQ(bytes("Gammal.mp3"), old);
    EXPECT_EQ(row, scanned);

    // Any other failure is named too instead of passing as done.
    QFile::remove(dir.file(u"Gammal.mp3"_s));
    EXPECT_EQ(save(u"Gammal"_s), SaveOutcome::NotSaved);
    EXPECT_EQ(boxes.shown.back().text,
              u"Följande filer kunde inte skrivas:\nGammal.mp3 (finns inte)"_s);
    EXPECT_FALSE(QFile::exists(dir.file(u"Gammal.mp3"_s)));
    EXPECT_EQ(row, scanned);
}

TEST_F(Writer, Utf8FieldsShowAsTheirTextAndKeepTheirBytesUntilTheUserChangesThem) {
    // "Åsa Öberg" as a tagger under a UTF-8 locale stores it, padded with NUL, and "Ã¥" typed
    // in Windows-1252, which reads as UTF-8 too.
    const QByteArray asa =
        "\xC3\x85sa \xC3\x96"
        "berg";
    const QByteArray u = audio(300) + trailer("\xC3\xA5", asa, "Album", "", "", 17, '\0');
    const QByteArray v = audio(300) + trailer("Titel", "Annan", "", "", "", 17);
    const QByteArray w = audio(300) + trailer("x", asa, "", "", "", 17);
    dir.write(u"u.mp3"_s, u);
    dir.write(u"v.mp3"_s, v);
    dir.write(u"Åsa Öberg - Vals.mp3"_s, w);
    scan();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(write::shownText(rows[0].artist), u"Åsa Öberg"_s);
    EXPECT_EQ(write::shownText(rows[0].title), u"å"_s);
    EXPECT_EQ(fileops::nameFromTag(rows[0].artist, rows[0].title), u"Åsa Öberg - å"_s);

    // A field command writes the new text in Windows-1252 where a file shows something else.
    editor.artist = u"Åsa Öberg"_s;
    EXPECT_EQ(run(Typ::Artist, {true, true, true}, editor).written, 3u);
    EXPECT_EQ(bytes("u.mp3"), u);
    EXPECT_EQ(bytes("v.mp3"), withField(v, kArtistAt, 30,
                                        "\xC5sa \xD6"
                                        "berg"));
    EXPECT_EQ(bytes("Åsa Öberg - Vals.mp3"), w);
    // From the file name, only the title is new.
    EXPECT_EQ(run(Typ::Filnamn, {false, false, true}, {}).written, 1u);
    EXPECT_EQ(bytes("Åsa Öberg - Vals.mp3"), withField(w, kTitleAt, 30, "Vals"));

    // A save keeps the bytes of the fields left as shown; an edited one is Windows-1252.
    row = rows[0];
    editor = {u"Åsa Öberg"_s, u"å"_s, u"Nytt"_s, {}, row.genre, {}};
    EXPECT_EQ(save(u"u"_s), SaveOutcome::Saved);
    EXPECT_EQ(bytes("u.mp3"), withField(u, kAlbumAt, 30, "Nytt"));
    editor.artist = u"Åsa Öberg & Co"_s;
    save(u"u"_s);
    EXPECT_EQ(bytes("u.mp3"), withField(withField(u, kAlbumAt, 30, "Nytt"), kArtistAt, 30,
                                        "\xC5sa \xD6"
                                        "berg & Co"));
}

TEST(EditorText, DropsWhatATagCannotHoldAndKeepsTheCursorOnItsCharacter) {
    // Ω and the emoji (two UTF-16 units) have no byte in Windows-1252; é and € have.
    for (const auto& [before, after] : {std::pair{2, 1}, std::pair{7, 4}, std::pair{0, 0}}) {
        QString text = QString::fromUtf16(u"aΩbé€😀c");
        int cursor = before;
        EXPECT_EQ(write::dropUnholdable(text, cursor), 3);
        EXPECT_EQ(text, QString::fromUtf16(u"abé€c"));
        EXPECT_EQ(cursor, after);
    }
    QString clean = u"Åsa"_s;
    int at = 1;
    EXPECT_EQ(std::pair(write::dropUnholdable(clean, at), at), std::pair(0, 1));  // nothing to drop

    // What the row filled in stays; a character beyond the BMP is kept or dropped whole.
    QString filled = QString::fromUtf16(u"Łódź😀!ł😁");
    int end = static_cast<int>(filled.size());
    EXPECT_EQ(write::dropUnholdable(filled, end, u"Łódź😀"), 3);
    EXPECT_EQ(filled, QString::fromUtf16(u"Łódź😀!"));
    EXPECT_EQ(end, filled.size());
}

// Another program (or a second window) changed files after the list was read: every writer
// leaves those alone, shows them as they are now and names them; the others are written, and
// the next command writes the refreshed rows.
TEST_F(Writer, AFileChangedSinceTheListWasReadIsLeftShownAsItIsAndNamed) {
    const QByteArray tagged = audio(300) + trailer("T", "A", "Alb", "1999", "K", 17);
    const std::pair<const char*, QByteArray> changes[] = {
        {"a.mp3", audio(300) + trailer("Annan", "B", "", "", "", 13)},  // trailer rewritten
        {"b.mp3", tagged},                                              // trailer appended
        {"c.mp3", audio(100)},                                          // file cut
    };
    const auto lay = [&] {
        dir.write(u"a.mp3"_s, tagged);
        dir.write(u"b.mp3"_s, audio(300));
        dir.write(u"c.mp3"_s, tagged);
        dir.write(u"d.mp3"_s, tagged);
        scan();
        for (const auto& [name, bytes] : changes)
            dir.write(QString::fromUtf8(name), bytes);
    };
    const QString named =
        u"Följande filer kunde inte skrivas:\na.mp3 (ändrad sedan listan lästes)\n"
        u"b.mp3 (ändrad sedan listan lästes)\nc.mp3 (ändrad sedan listan lästes)"_s;
    editor = {u"Ny"_s, u"Ny"_s, u"Ny"_s, u"2000"_s, u"Jazz"_s, u"Ny"_s};
    for (int typ = 1; typ <= 7; ++typ) {
        lay();
        const auto result = run(static_cast<Typ>(typ), {true, true, true, true}, editor);
        EXPECT_EQ(write::failureText(result.failures), named) << typ;
        EXPECT_EQ(result.written, 1u) << typ;
        EXPECT_NE(bytes("d.mp3"), tagged) << typ;
        const std::vector<browse::Row> refreshed = rows;
        scan();
        EXPECT_EQ(refreshed, rows) << typ;
        for (const auto& [name, now] : changes)
            EXPECT_EQ(bytes(name), now) << typ << name;
        // The rows know the files again: the same command now writes every one.
        EXPECT_TRUE(run(static_cast<Typ>(typ), {true, true, true, true}, editor).failures.empty())
            << typ;
    }

    // "&Spara tag": the row is refreshed and the user's typing is still there to save again.
    for (const auto& [name, now] : changes) {
        lay();
        row = rows.at(static_cast<std::size_t>(name[0] - 'a'));
        boxes.shown.clear();
        EXPECT_EQ(save(row.name), SaveOutcome::Refreshed) << name;
        EXPECT_EQ(bytes(name), now) << name;
        EXPECT_EQ(boxes.shown,
                  (std::vector<Shown>{{u"Fel"_s, u"Följande filer kunde inte skrivas:\n"_s +
                                                     QString::fromUtf8(name) +
                                                     u" (ändrad sedan listan lästes)"_s}}));
        scan();
        EXPECT_EQ(row, rows.at(static_cast<std::size_t>(name[0] - 'a'))) << name;
        EXPECT_EQ(save(row.name), SaveOutcome::Saved) << name;
    }
}

// "Dubbel.mp3" and "Dubbel.MP3" are two files where letter case counts, both listed as
// "Dubbel": each command on one row reaches its own file and never the other.
TEST_F(Writer, TwoFilesAlikeButForTheCaseOfTheirEndingAreEachTheirOwn) {
    const QByteArray lower = audio(300) + trailer("Liten", "L", "", "", "", 17);
    const QByteArray upper = audio(400) + trailer("Stor", "S", "", "", "", 13);
    const auto lay = [&] {
        for (const QString& n : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.file(n));
        dir.write(u"Dubbel.mp3"_s, lower);
        dir.write(u"Dubbel.MP3"_s, upper);
        scan();
        std::sort(rows.begin(), rows.end(), [](auto& x, auto& y) { return x.ending > y.ending; });
        ASSERT_EQ(browse::fileName(rows[0]), u"Dubbel.MP3"_s);
    };
    for (int typ = 1; typ <= 7; ++typ) {
        lay();
        write::Command record;
        editor = {u"Ny"_s, u"Ny"_s, u"Ny"_s, u"2000"_s, u"Rock"_s, u"Ny"_s};
        const auto result = write::spara_tag(fs, static_cast<Typ>(typ), rows, {true, false},
                                             dir.path(), editor, 1, *this, &record);
        EXPECT_EQ(result.written, 1u) << typ;
        EXPECT_NE(bytes("Dubbel.MP3"), upper) << typ;
        EXPECT_EQ(bytes("Dubbel.mp3"), lower) << typ;
        write::Journal journal;
        journal.push(std::move(record));
        EXPECT_TRUE(journal.undo(fs, dir.path(), rows, *this).failures.empty()) << typ;
        EXPECT_EQ(bytes("Dubbel.MP3"), upper) << typ;
        EXPECT_EQ(bytes("Dubbel.mp3"), lower) << typ;
    }
    // The whole tag and a new name, and the name back again with its own ending.
    lay();
    row = rows[0];
    editor = {u"Ny"_s, u"Ny"_s, {}, {}, {}, {}};
    boxes.answers = {Boxes::Answer::Ok};
    write::Command record;
    EXPECT_EQ(write::cmdSpara_Click(fs, boxes, dir.path(), row, editor, u"Ny"_s, &record),
              SaveOutcome::SavedAndRenamed);
    EXPECT_EQ(boxes.shown.at(0).text, u"Vill du ändra filnamnet från Dubbel.mp3 till Ny.mp3 ?"_s);
    EXPECT_EQ(bytes("Dubbel.mp3"), lower);
    EXPECT_EQ(bytes("Ny.mp3").left(400), upper.left(400));
    EXPECT_EQ(browse::fileName(row), u"Ny.mp3"_s);
    rows[0] = row;
    write::Journal journal;
    journal.push(std::move(record));
    EXPECT_TRUE(journal.undo(fs, dir.path(), rows, *this).failures.empty());
    EXPECT_EQ(bytes("Dubbel.MP3"), upper);
    EXPECT_EQ(bytes("Dubbel.mp3"), lower);
    EXPECT_EQ(browse::fileName(rows[0]), u"Dubbel.MP3"_s);
}
