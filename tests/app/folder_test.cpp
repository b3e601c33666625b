// Every command of the folder on show, on real files in temporary folders: the bytes each leaves,
// the rows, the texts and messages, and what undo takes back. The trash and the open command are
// the desktop's own; only a full disk and the user's answers are scripted.
#include "app/folder.h"
#include "platform/desktop_posix.h"
#include "platform/drives_posix.h"
#include "platform/gio_trash.h"
#include "platform/names.h"
#include "support/fake_desktop.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"
#include "support/other_tags.h"
#include "support/recorder.h"
#include "support/test_desktop.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <optional>

using namespace sorvel;
using namespace sorvel::test;
using write::Typ;
using Answer = platform::MessageBoxes::Answer;
using Icon = platform::MessageBoxes::Icon;
using platform::Messages;
using Files = std::map<QString, QByteArray>;
using namespace Qt::StringLiterals;

// The editor's fields are named where a command reads them; the others are empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
namespace sorvel::platform {
inline void PrintTo(const Message& m, std::ostream* os) {
    *os << (m.title + u": "_s + m.text).toStdString() << " (icon " << int(m.icon) << ')';
}
}  // namespace sorvel::platform

namespace {

/// Each row by its file name, with what it knows of its file.
using Rows = std::map<QString, std::pair<browse::Row, tag::Fingerprint>>;

const QByteArray kAsa =
    "\xC3\x85sa \xC3\x96"
    "berg";  // "Åsa Öberg" as stored under UTF-8
// NUL padding, a track number at the end of the comment, and genre byte 0.
const QByteArray kGammal =
    audio(500) + trailer("Titel", "Artist", "Album", "1999",
                         QByteArray("Kom") + QByteArray(26, '\0') + '\x05', 0, '\0');

write::EditorValues shownIn(const browse::Row& r) {
    using browse::shownText;
    return {shownText(r.artist), shownText(r.title), shownText(r.album), shownText(r.year), r.genre,
            shownText(r.comment)};
}
Messages error(const QString& text) {
    return {platform::error(text)};
}
/// The one message that names the files a command (or, `undo`, its undoing) left alone.
Messages notWritten(const QStringList& lines, bool undo = false) {
    return error((undo ? u"Följande filer kunde inte återställas:\n"_s
                       : u"Följande filer kunde inte skrivas:\n"_s) +
                 lines.join(u'\n'));
}

/// The folder over the test's own, hearing the rows' changes as the list model does.
class Commands : public ::testing::Test, public app::RowListener {
protected:
    Commands() {
        desktopHome();
        folder.setListener(this);
    }
    void rowsAboutToBeReplaced() override {}
    void rowsReplaced() override {}
    void rowsChanged(std::size_t first, std::size_t last) override {
        events << u"changed %1"_s.arg(last - first + 1);
    }
    void rowAboutToBeRemoved(std::size_t row) override { events << u"removing %1"_s.arg(row); }
    void rowRemoved() override { events << u"removed"_s; }
    void rowsAboutToMove() override {}
    void rowsMoved(const std::vector<int>&) override {}

    /// Lists `path` (the test's folder) afresh, sorted by name.
    void list(const QString& path = {}) {
        EXPECT_FALSE(folder.list(path.isEmpty() ? dir.path() : path, seen).failed);
        if (!folder.order().sorted())
            folder.sortBy(0);
        seen.seen.clear();
        events.clear();
        boxes.shown.clear();
    }
    /// Lays exactly `files` in the test's folder and lists it.
    void start(const Files& files) {
        for (const auto& [name, b] : snapshot(dir.path()))
            ::unlink(platform::encodeName(dir.file(name)).constData());
        for (const auto& [name, b] : files)
            dir.write(name, b);
        list();
    }
    std::size_t row(const QString& file) const {
        const auto& r = folder.rows();
        return std::find_if(r.begin(), r.end(),
                            [&](auto& x) { return browse::fileName(x) == file; }) -
               r.begin();
    }
    app::Folder::Selection allBut(const QString& file = {}) const {
        app::Folder::Selection s(folder.size(), true);
        if (!file.isEmpty())
            s[row(file)] = false;
        return s;
    }
    app::Folder::Selection only(const QString& file) const {
        app::Folder::Selection s(folder.size(), false);
        s[row(file)] = true;
        return s;
    }
    static Rows rowsOf(const app::Folder& f) {
        Rows rows;
        for (const browse::Row& r : f.rows())
            rows[browse::fileName(r)] = {r, r.print};
        return rows;
    }
    /// The rows a new listing of the folder reads, but that those of `blues` show Blues: byte 0
    /// is how Blues is written and reads as no genre, so a row written so shows the genre chosen.
    Rows fresh(const QStringList& blues = {}) {
        app::Folder other({fs, boxes, opener, drives, trash});
        Recorder quiet;
        other.list(dir.path(), quiet);
        Rows rows = rowsOf(other);
        for (const QString& f : blues)
            rows.at(f).first.genre = u"Blues"_s;
        return rows;
    }
    /// The folder holds `expected` and the rows show what it holds.
    void expectFolder(const Files& expected, const QStringList& blues = {}) {
        EXPECT_EQ(files(), expected);
        EXPECT_EQ(rowsOf(folder), fresh(blues));
    }
    QByteArray bytes(const QString& file) const { return readAll(dir.file(file)); }
    Files files() const { return snapshot(dir.path()); }

    TempFolder dir;
    FaultyFileSystem fs;
    FakeMessageBoxes boxes;
    platform::XdgOpener opener;
    platform::PosixDrives drives;
    platform::GioTrash trash;
    app::Folder folder{{fs, boxes, opener, drives, trash}};
    Recorder seen;
    QStringList events;
};

// Each field command on the selected files only, each keeping every other byte its file had;
// then taken back; then met by files another program changed since the listing, which it names
// and leaves as they are now.
TEST_F(Commands, EachFieldCommandWritesItsFieldIntoTheSelectedFilesAndUndoTakesItBack) {
    const auto name = [](int i) { return u"%1 - Band - Låt.mp3"_s.arg(i); };
    const QString upper = u"5 - Band - Låt.MP3"_s, twin = name(5);  // the twin is not selected
    const Files before = {
        {name(1), audio(1) + trailer("T", "A", "", "", "", 17)},  // too short to hold a trailer
        {name(2), audio(2) + trailer("T2", "A2", "Alb", "1998", "K", 17)},
        {name(3), kGammal},
        {name(4), audio(50) + trailer("T4", "", "", "", "", 200)},  // Winamp's genre
        {upper, audio(400) + trailer("Stor", "S", "", "", "", 13)},
        {twin, audio(300) + trailer("Liten", "L", "", "", "", 17)},
    };
    using Field = std::tuple<int, int, QByteArray>;  // offset, width, text
    const std::tuple<Typ, write::EditorValues, std::vector<Field>, QString> commands[] = {
        {Typ::Artist, {.artist = u"Ny artist"_s}, {{kArtistAt, 30, "Ny artist"}}, u"Artist"_s},
        {Typ::Titel, {.title = u"Ny titel"_s}, {{kTitleAt, 30, "Ny titel"}}, u"Titel"_s},
        {Typ::Album, {.album = u"Nytt album"_s}, {{kAlbumAt, 30, "Nytt album"}}, u"Album"_s},
        {Typ::Ar, {.year = u"2024"_s}, {{93, 4, "2024"}}, u"År"_s},
        {Typ::Genre, {.genre = u"Jazz"_s}, {{kGenreAt, 1, "\x08"}}, u"Genre"_s},
        {Typ::Genre, {.genre = u"Blues"_s}, {{kGenreAt, 1, QByteArray(1, '\0')}}, u"Genre"_s},
        {Typ::Genre, {}, {{kGenreAt, 1, "\xff"}}, u"Genre"_s},  // none, over a file's own too
        {Typ::Kommentarer, {.comment = u"Bra"_s}, {{97, 30, "Bra"}}, u"Kommentarer"_s},
        {Typ::Filnamn,
         {},
         {{kArtistAt, 30, "Band"}, {kTitleAt, 30, "L\xe5t"}},
         u"Filnamn --> tag"_s},
    };
    for (const auto& [typ, editor, fields, label] : commands) {
        SCOPED_TRACE(label.toStdString());
        start(before);
        folder.setSplit(2);
        const app::Outcome o = folder.writeField(typ, allBut(twin), editor, seen);
        EXPECT_TRUE(o.messages.empty() && o.typingWritten);
        Files written = before;
        QStringList blues;
        for (auto& [n, b] : written) {
            if (n == twin)
                continue;
            blues << n;
            if (b.size() < 130)
                b += trailer("", "", "", "", "", 255);
            for (const auto& [at, width, text] : fields)
                b = withField(b, at, width, text);
        }
        const bool isBlues = editor.genre == u"Blues"_s;
        expectFolder(written, isBlues ? blues : QStringList());
        EXPECT_EQ(events, QStringList{u"changed 6"_s});
        QStringList reports = {u"max 6"_s, u"value 0"_s};
        for (std::size_t r = 0; r < folder.size(); ++r) {
            reports << u"value %1"_s.arg(r + 1);
            if (browse::fileName(folder.row(r)) != twin)
                reports << u"Sparar "_s + browse::shownName(folder.row(r)) + u".mp3"_s;
        }
        EXPECT_EQ(seen.seen, reports << u"value 0"_s << u"Klar"_s);
        EXPECT_EQ(folder.undoText(), u"Ångra: "_s + label + u" till 5 filer"_s);
        EXPECT_TRUE(folder.undo(seen).messages.empty());
        expectFolder(before);

        Files changed = before;
        changed[name(1)] += trailer("Annan", "", "", "", "", 1);                   // appended
        changed[name(2)] = withField(before.at(name(2)), kArtistAt, 30, "Annan");  // rewritten
        changed[name(4)] = audio(100);                                             // cut
        for (int i : {1, 2, 4})
            writeAll(dir.file(name(i)), changed[name(i)]);
        const QString since = u" (ändrad sedan listan lästes)"_s;
        EXPECT_EQ(folder.writeField(typ, allBut(twin), editor, seen).messages,
                  notWritten({name(1) + since, name(2) + since, name(4) + since}));
        changed[name(3)] = written[name(3)];
        changed[upper] = written[upper];
        expectFolder(changed, isBlues ? QStringList{name(3), upper} : QStringList());
    }
}

// Split at the chosen hyphen, at the last where there are fewer; each part trimmed of blanks and
// underscores and cut to the field's width. Letters no tag can hold refuse the file.
TEST_F(Commands, FileNamesSplitAtTheChosenHyphenIntoArtistAndTitle) {
    const std::tuple<QString, int, QString> cases[] = {
        {u"01 - Artist - Title"_s, 1, u"01|Artist - Title"_s},
        {u"1 - Artist - Title"_s, 2, u"Artist|Title"_s},
        {u"01 - Artist - Titel"_s, 4, u"01 - Artist|Titel"_s},
        {u"A--B"_s, 2, u"|B"_s},
        {u"_Band_-_Låt_"_s, 1, u"Band|Låt"_s},
        {u" utan streck "_s, 2, u"| utan streck "_s},
        {QString(33, u'a') + u" - "_s + QString(33, u'b'), 1,
         QString(30, u'a') + u'|' + QString(30, u'b')},
        // As a Mac writes it: letters and combining marks, taken as the letters they make.
        {u"A\u030asa O\u0308berg - La\u030at"_s, 1, u"Åsa Öberg|Låt"_s}};
    for (const auto& [name, split, expected] : cases)
        dir.write(name + u".mp3"_s, audio(40));
    dir.write(u"Ω - Sång.mp3"_s, audio(40) + trailer("T", "A", "", "", "", 1));
    list();
    for (const auto& [name, split, expected] : cases) {
        folder.setSplit(split);
        const std::size_t r = row(name + u".mp3"_s);
        EXPECT_TRUE(
            folder.writeField(Typ::Filnamn, only(name + u".mp3"_s), {}, seen).messages.empty());
        EXPECT_EQ(folder.row(r).artist + u'|' + folder.row(r).title, expected);
    }
    const Files before = files();
    EXPECT_EQ(folder.writeField(Typ::Filnamn, only(u"Ω - Sång.mp3"_s), {}, seen).messages,
              notWritten({u"Ω - Sång.mp3 (tecken som en tagg inte kan lagra)"_s}));
    EXPECT_EQ(files(), before);
}

// A file locked and twenty-two gone: the first twenty are named once the run is over, and the
// file that can be written is.
TEST_F(Commands, FilesThatCannotBeWrittenAreNamedInOneMessageOnceTheRunIsOver) {
    const QByteArray tagged = audio(200) + trailer("T", "A", "", "", "", 17);
    const auto name = [](int i) { return u"f%1.mp3"_s.arg(i, 2, 10, QChar(u'0')); };
    for (int i = 0; i < 23; ++i)
        dir.write(name(i), tagged);
    dir.write(u"ok.mp3"_s, tagged);
    list();
    const ReadOnly locked(dir.file(name(0)));
    ASSERT_TRUE(locked.effective());
    QStringList named = {name(0) + u" (skrivskyddad eller låst)"_s};
    for (int i = 1; i < 23; ++i) {
        QFile::remove(dir.file(name(i)));
        if (i < 20)
            named << name(i) + u" (finns inte)"_s;
    }
    EXPECT_EQ(folder.writeField(Typ::Titel, allBut(), {.title = u"Ny"_s}, seen).messages,
              notWritten(named << u"... och 3 filer till."_s));
    EXPECT_EQ(files(),
              (Files{{name(0), tagged}, {u"ok.mp3"_s, withField(tagged, kTitleAt, 30, "Ny")}}));
    EXPECT_EQ(rowsOf(folder).at(u"ok.mp3"_s), fresh().at(u"ok.mp3"_s));
    EXPECT_EQ(seen.seen.mid(seen.seen.size() - 4),
              (QStringList{u"value 24"_s, u"Sparar ok.mp3"_s, u"value 0"_s, u"Klar"_s}));

    // An empty list reports no maximum, which would turn the bar into a busy indicator.
    const TempFolder empty;
    list(empty.path());
    folder.writeField(Typ::Album, {}, {}, seen);
    EXPECT_EQ(seen.seen, (QStringList{u"value 0"_s, u"value 0"_s, u"Klar"_s}));
}

// A field left as shown keeps its bytes, a tag stored as UTF-8 too ("Ã¥" in Windows-1252 reads
// as UTF-8 "å"), after a save as after a field command; what the user changed is written in
// Windows-1252. A new name is asked about; a file that cannot be written is named and the typing
// kept.
TEST_F(Commands, SaveWritesTheEditorKeepingFieldsLeftAsShownAndRenamesOnlyOnOk) {
    const QByteArray u = audio(300) + trailer("\xC3\xA5", kAsa, "Album", "", "", 17, '\0');
    start({{u"Gammal.mp3"_s, kGammal}, {u"u.mp3"_s, u}});
    write::EditorValues editor = shownIn(folder.row(row(u"u.mp3"_s)));
    editor.album = u"Nytt"_s;
    EXPECT_TRUE(folder.save(row(u"u.mp3"_s), editor, u"u"_s).messages.empty());
    editor.title = u"åł"_s;  // Windows-1252 has no ł
    EXPECT_EQ(folder.save(row(u"u.mp3"_s), editor, u"u"_s).messages,
              notWritten({u"u.mp3 (tecken som en tagg inte kan lagra)"_s}));
    folder.writeField(Typ::Artist, allBut(), {.artist = u"Åsa Öberg"_s}, seen);
    const QByteArray uSaved = withField(u, kAlbumAt, 30, "Nytt");
    const QByteArray asa = withField(kGammal, kArtistAt, 30,
                                     "\xC5sa \xD6"
                                     "berg");
    expectFolder({{u"Gammal.mp3"_s, asa}, {u"u.mp3"_s, uSaved}});

    const std::size_t g = row(u"Gammal.mp3"_s);
    editor = shownIn(folder.row(g));
    editor.title = u"Ny titel"_s;
    const QByteArray saved = withField(asa, kTitleAt, 30, "Ny titel");
    EXPECT_TRUE(folder.save(g, editor, u"Gammal"_s).typingWritten);
    boxes.answers = {Answer::Cancel};
    EXPECT_TRUE(folder.save(g, editor, u"Ny"_s).typingWritten);
    expectFolder({{u"Gammal.mp3"_s, saved}, {u"u.mp3"_s, uSaved}});
    folder.save(g, editor, u"Ny"_s);
    folder.save(g, editor, u"ny"_s);  // the letter case alone is a new name too
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[0],
              (FakeMessageBoxes::Shown{u"Ändra filnamn?"_s,
                                       u"Vill du ändra filnamnet från Gammal.mp3 till Ny.mp3 ?"_s,
                                       Icon::None, platform::MessageBoxes::Buttons::OkCancel}));
    editor.genre = u"Rock"_s;  // chosen, written as chosen; emptied, written as none
    folder.save(g, editor, u"ny"_s);
    EXPECT_EQ(bytes(u"ny.mp3"_s).back(), '\x11');
    editor.genre.clear();
    folder.save(g, editor, u"ny"_s);
    expectFolder({{u"ny.mp3"_s, withField(saved, kGenreAt, 1, "\xff")}, {u"u.mp3"_s, uSaved}});

    boxes.shown.clear();
    app::Outcome o;
    {
        const ReadOnly locked(dir.file(u"ny.mp3"_s));
        ASSERT_TRUE(locked.effective());
        o = folder.save(g, {.title = u"X"_s}, u"Annat"_s);
    }
    EXPECT_EQ(o.messages, error(u"Filen är skrivskyddad!"_s));
    const QByteArray appended = audio(300) + trailer("T", "A", "Alb", "1999", "K", 17);
    writeAll(dir.file(u"ny.mp3"_s), appended);
    const app::Outcome since = folder.save(g, {.title = u"X"_s}, u"Annat"_s);
    EXPECT_EQ(since.messages, notWritten({u"ny.mp3 (ändrad sedan listan lästes)"_s}));
    EXPECT_FALSE(o.typingWritten || since.typingWritten || !boxes.shown.empty());
    expectFolder({{u"ny.mp3"_s, appended}, {u"u.mp3"_s, uSaved}});
    QFile::remove(dir.file(u"ny.mp3"_s));
    EXPECT_EQ(folder.save(g, {.title = u"X"_s}, u"Annat"_s).messages,
              notWritten({u"ny.mp3 (finns inte)"_s}));
    EXPECT_EQ(files(), (Files{{u"u.mp3"_s, uSaved}}));
}

// The rename procedure's messages, from "&Spara tag" after OK and from the rename button; the
// files stay as they were but for the tag a save wrote.
TEST_F(Commands, ARefusedRenameSaysWhyAndKeepsTheName) {
    const QString badName = u"Felaktigt filnamn|Det filnamnet var inte bra"_s,
                  access = u"Fil/mapp åtkomstfel|Kunde inte byta filnamn"_s,
                  exists = u"Fel|Det filnamnet finns redan"_s,
                  gone = u"Fel!|Ett fel av typen 53 inträffade"_s;
    enum Before { Nothing, FolderLocked, FileGone };
    const std::tuple<QString, Before, QString, QString> cases[] = {
        // the new name, what happens first, the message on a save and on a rename
        {u"Finns"_s, Nothing, exists, exists},  // "Finns.MP3" has it
        {u"a?b"_s, Nothing, badName, badName},
        {u""_s, Nothing, badName, badName},  // would be the hidden file ".mp3"
        {u".dold"_s, Nothing, badName, badName},
        {u"con"_s, Nothing, access, access},
        {u"Ny"_s, FolderLocked, u"Fel|Filen är skrivskyddad"_s, access},
        {u"Ny"_s, FileGone, gone, gone},
    };
    for (const auto& [name, before, onSave, onRename] : cases) {
        for (const bool save : {true, false}) {
            SCOPED_TRACE(name.toStdString() + ' ' + std::to_string(before + 10 * save));
            start({{u"Gammal.mp3"_s, kGammal}, {u"Finns.MP3"_s, "F"}});
            const std::size_t g = row(u"Gammal.mp3"_s);
            std::optional<ReadOnly> locked;
            if (before == FolderLocked)
                locked.emplace(dir.path());
            // On a save the file goes while the user is asked.
            boxes.whileShown = [&](const FakeMessageBoxes::Shown&) {
                if (before == FileGone)
                    QFile::remove(dir.file(u"Gammal.mp3"_s));
            };
            if (!save)
                boxes.whileShown({});
            write::EditorValues editor = shownIn(folder.row(g));
            editor.title = u"Ny titel"_s;
            const app::Outcome o = save ? folder.save(g, editor, name) : folder.rename(g, name);
            locked.reset();
            boxes.whileShown = nullptr;
            ASSERT_EQ(o.messages.size(), 1u);
            EXPECT_EQ(o.messages[0].title + u'|' +
                          o.messages[0].text.section(QRegularExpression(u"[.!]"_s), 0, 0),
                      save ? onSave : onRename);
            EXPECT_EQ(folder.row(g).name, u"Gammal"_s);
            EXPECT_TRUE(save || folder.renameFailed());
            Files left = {{u"Finns.MP3"_s, "F"}};
            if (before != FileGone)
                left[u"Gammal.mp3"_s] =
                    save ? withField(kGammal, kTitleAt, 30, "Ny titel") : kGammal;
            EXPECT_EQ(files(), left);
        }
    }
}

// A rename reaches the file by its own bytes, never a look-alike; a name a Mac wrote is shown
// composed and saved under as shown without a question. Undo leaves a file whose old name another
// has taken since.
TEST_F(Commands, ARenameReachesItsOwnFileAndTheRowFollows) {
    const QString odd = platform::decodeName("lat\xe5");
    const QString lookAlike = u"lat\xef\xbf\xbd.mp3"_s;  // what a lossy conversion makes of it
    const QString nfd = u"A\u030asa - La\u030at.mp3"_s, nfc = u"\u00c5sa - L\u00e5t"_s;
    const QByteArray upper = audio(400) + trailer("Stor", "S", "", "", "", 13);
    const QByteArray song = audio(300) + trailer("Låt", "Åsa", "", "", "", 1);
    start({{u"Dubbel.MP3"_s, upper},
           {u"Dubbel.mp3"_s, "lower"},
           {odd + u".mp3"_s, "odd"},
           {lookAlike, "look-alike"},
           {nfd, song}});
    EXPECT_FALSE(folder.rename(row(u"Dubbel.MP3"_s), u"a?b"_s).messages.empty());
    EXPECT_TRUE(folder.rename(row(u"Dubbel.MP3"_s), u"Ny"_s).messages.empty());
    EXPECT_TRUE(folder.renameFailed());  // a success leaves an earlier failure's flag
    EXPECT_EQ(folder.undoText(), u"Ångra: Nytt filnamn till 1 fil"_s);
    folder.rename(row(odd + u".mp3"_s), odd + u" ny"_s);
    EXPECT_EQ(browse::shownName(folder.row(row(nfd))), nfc);
    write::EditorValues editor = shownIn(folder.row(row(nfd)));
    editor.album = u"Album"_s;
    folder.save(row(nfd), editor, nfc);
    EXPECT_TRUE(boxes.shown.empty());
    folder.rename(row(nfd), nfc + u" (ny)"_s);
    EXPECT_TRUE(folder.rename(folder.size(), u"x"_s).messages.empty());  // no current row
    expectFolder({{u"Ny.mp3"_s, upper},
                  {u"Dubbel.mp3"_s, "lower"},
                  {odd + u" ny.mp3"_s, "odd"},
                  {lookAlike, "look-alike"},
                  {nfc + u" (ny).mp3"_s, withField(song, kAlbumAt, 30, "Album")}});
    dir.write(nfd, "annan");
    EXPECT_EQ(folder.undo(seen).messages,
              notWritten({nfc + u" (ny).mp3 (namnet är upptaget)"_s}, true));
    EXPECT_EQ(bytes(nfd), "annan");
}

TEST_F(Commands, NamesFromTagsRenameTheSelectedFilesAndGoOnAfterAFailure) {
    const std::tuple<const char*, QByteArray, QString> cases[] = {
        // the file, its trailer (or none), its name after; "r3" is not selected
        {"r0", trailer("Back in Black", "AC/DC", "", "", "", 1), u"ACDC - Back in Black"_s},
        {"r1", trailer("Intro", "", "", "", "", 1), u"Intro"_s},
        {"r2", {}, u"r2"_s},  // nothing to name it by
        {"r3", trailer("vald", "Ej", "", "", "", 1), u"r3"_s},
        {"r4", trailer("Back in Black", "AC/DC", "", "", "", 1), u"r4"_s},  // taken
        {"r5", trailer("", "??", "", "", "", 1), u"r5"_s},                  // nothing left of it
        {"r6", trailer("T", "", "", "", "", 1), u"  - T"_s},                // a blank is text
        {"r7", trailer("", "a\"b\\c/d:e*f?g<h>i|j", "", "", "", 1), u"abcdefghij"_s},
        {"r8", trailer("T", QByteArray("A\0skr\xe4p", 7), "", "", "", 1), u"A - T"_s},
        {"r9", trailer(QByteArray("\0y", 2), QByteArray("\0x", 2), "", "", "", 1), u"r9"_s},
        {"s0", trailer("\xC3\xA5", "\xC3\x85sa", "", "", "", 1), u"Åsa - å"_s},
    };
    Files before = {{u"r4.MP3"_s, "alike but for its ending"}}, after = before;
    for (const auto& [file, tag, name] : cases) {
        before[QString::fromLatin1(file) + u".mp3"_s] = QByteArray(file) + tag;
        after[name + u".mp3"_s] = QByteArray(file) + tag;
    }
    start(before);
    folder.rename(row(u"r4.MP3"_s), u"?"_s);
    ASSERT_TRUE(folder.renameFailed());
    folder.writeField(Typ::Artist, only(u"r6.mp3"_s), {.artist = u" "_s}, seen);
    after[u"  - T.mp3"_s] = bytes(u"r6.mp3"_s);
    const Messages messages = folder.namesFromTags(allBut(u"r3.mp3"_s)).messages;
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text,
              u"Det filnamnet finns redan! Det går inte att ha två filer med samma namn."_s);
    EXPECT_EQ(messages[1].title, u"Felaktigt filnamn"_s);
    EXPECT_FALSE(folder.renameFailed());
    EXPECT_EQ(files(), after);
    Rows listed = fresh();
    listed.at(u"  - T.mp3"_s).first.artist = u" "_s;  // a listing trims what the row was given
    EXPECT_EQ(rowsOf(folder), listed);
}

// Every kind of command taken back byte for byte, newest first, the twenty newest only, across
// a new listing of the same folder; another folder forgets them.
TEST_F(Commands, UndoTakesBackEveryKindOfCommandNewestFirstUpToTwenty) {
    start({{u"Anna - Ett.mp3"_s, kGammal},
           {u"Bo - Två.MP3"_s, audio(300)},
           {u"Bo - Två.mp3"_s, "alike but for its ending"},
           {u"Cia - Tre.mp3"_s, audio(50)}});
    std::vector<Files> before;
    const auto step = [&](auto&& command) {
        before.push_back(files());
        command();
    };
    const auto field = [&](Typ typ, write::EditorValues editor) {
        step([&] { EXPECT_TRUE(folder.writeField(typ, allBut(), editor, seen).messages.empty()); });
    };
    field(Typ::Album, {.album = u"Tappas"_s});  // the 21st from the newest: dropped
    field(Typ::Artist, {.artist = u"Fel artist"_s});
    field(Typ::Titel, {.title = u"Fel titel"_s});
    field(Typ::Ar, {.year = u"2001"_s});
    field(Typ::Genre, {.genre = u"Rock"_s});
    field(Typ::Kommentarer, {.comment = u"Fel"_s});
    folder.setSplit(1);
    field(Typ::Filnamn, {});
    list();
    step([&] {
        boxes.answers = {Answer::Ok};
        folder.save(row(u"Anna - Ett.mp3"_s), {u"Sparad"_s, u"Låt"_s}, u"Nytt namn"_s);
    });
    step([&] { folder.rename(row(u"Bo - Två.MP3"_s), u"Bosse"_s); });
    step([&] { folder.namesFromTags(allBut()); });
    for (int i = 1; i <= 11; ++i)
        field(Typ::Kommentarer, {.comment = u"Nr %1"_s.arg(i)});
    ASSERT_EQ(before.size(), 21u);
    for (std::size_t level = before.size() - 1; level >= 1; --level) {
        EXPECT_TRUE(folder.undo(seen).messages.empty()) << level;
        ASSERT_EQ(files(), before[level]) << "undo to before command " << level;
        ASSERT_EQ(rowsOf(folder), fresh()) << level;
    }
    EXPECT_TRUE(folder.undoText().isEmpty());
    EXPECT_EQ(seen.seen.back(), u"Klar"_s);

    folder.writeField(Typ::Album, allBut(), {.album = u"Kvar"_s}, seen);
    const TempFolder other;
    list(other.path());
    EXPECT_TRUE(folder.undoText().isEmpty());
}

// Files changed since, gone, locked or meeting a full disk are named and left as they are; the
// others come back all the same. Many files at a time or each one by one (as when no descriptor
// is free for a batch), undo leaves the same bytes, messages, reports and rows.
TEST_F(Commands, UndoNamesTheFilesItLeftAloneAndRestoresTheOthersInBatchesOrOneByOne) {
    const auto name = [](int i) { return u"fil %1.mp3"_s.arg(i, 3, 10, QChar(u'0')); };
    Files original;
    for (int i = 0; i < 300; ++i)
        original[name(i)] = audio(200 + i) + (i % 3 ? trailer("T", "A", "", "", "", i % 256) : "");
    std::optional<std::tuple<QStringList, Rows>> first;
    for (const bool oneByOne : {false, true}) {
        start(original);
        folder.writeField(Typ::Artist, allBut(), {.artist = u"Ny"_s}, seen);
        // Half taken back, the file that met the full disk holds what the command wrote.
        Files expected = original;
        for (const int i : {10, 11, 30, 299})
            expected[name(i)] = bytes(name(i));
        expected[name(10)] = withField(expected[name(10)], kArtistAt, 30, "Annan");
        expected[name(11)] += "x";
        expected.erase(name(20));
        for (const int i : {10, 11})
            writeAll(dir.file(name(i)), expected[name(i)]);
        QFile::remove(dir.file(name(20)));
        const ReadOnly locked(dir.file(name(30)));
        EXPECT_TRUE(locked.effective());
        fs.writes = 0;
        fs.failWriteNumber = 1;  // the newest file's, as undo runs newest first
        fs.batchesFindNoDescriptor = oneByOne;
        seen.seen.clear();
        EXPECT_EQ(
            folder.undo(seen).messages,
            notWritten({u"fil 010.mp3 (ändrad sedan dess)"_s, u"fil 011.mp3 (ändrad sedan dess)"_s,
                        u"fil 020.mp3 (finns inte)"_s, u"fil 030.mp3 (skrivskyddad eller låst)"_s,
                        u"fil 299.mp3 (disken är full)"_s},
                       true));
        fs.failWriteNumber = 0;
        fs.batchesFindNoDescriptor = false;
        EXPECT_TRUE(files() == expected);
        const Rows rows = rowsOf(folder);
        EXPECT_EQ(rows.at(name(1)).first.artist + rows.at(name(10)).first.artist, u"ANy"_s);
        if (!first)
            first.emplace(seen.seen, rows);
        EXPECT_TRUE(*first == std::tuple(seen.seen, rows));
    }
}

// The list sorts as Swedish sorts, without regard to case, equal texts in the order they had,
// and the other way round on every sort.
TEST(RowOrder, SortsTheSwedishWayKeepingEqualTextsInTheirOrderAndFlipsEveryTime) {
    std::vector<browse::Row> rows;
    for (const QString& a :
         {u"Ö"_s, u"abba"_s, u"z"_s, u"ABBA"_s, u"å"_s, u"Abba\0zz"_s, u"ä"_s, u""_s})
        rows.push_back({u"#%1"_s.arg(rows.size()), a, {}, {}, {}, {}, {}, 0, {}});
    const auto shown = [&] {
        QStringList out;
        for (const browse::Row& r : rows)
            out << r.name + app::RowOrder::shown(r, 1);
        return out.join(u',');
    };
    app::RowOrder order;
    EXPECT_EQ(order.sortBy(rows, 1), (std::vector<int>{7, 1, 4, 2, 5, 3, 6, 0}));
    EXPECT_EQ(shown(), u"#7,#1abba,#3ABBA,#5Abba,#2z,#4å,#6ä,#0Ö"_s);
    order.sortBy(rows, 1);
    EXPECT_EQ(shown(), u"#0Ö,#6ä,#4å,#2z,#1abba,#3ABBA,#5Abba,#7"_s);
    order.sortBy(rows, 0);  // another column: the direction flips all the same
    EXPECT_TRUE(order.ascending() && order.column() == 0);
}

/// Text frames of an ID3v2 tag of `version`, from "ID=text|ID=text".
QByteArray frames(int version, const QString& list, id3::Enc enc = id3::Enc::Latin1) {
    QByteArray body;
    const int n = version == 2 ? 3 : 4;
    for (const QString& f : list.split(u'|'))
        body += id3::frame(version, f.left(n).toLatin1().constData(), id3::text(enc, f.mid(n + 1)));
    return body;
}

// Each field the other tag has replaces the trailer's, the rest of the trailer stays; the genre is
// taken by number or by name from the table and nothing else.
TEST_F(Commands, ImportWritesExactlyWhatTheOtherTagGivesAndUndoPutsItBack) {
    using namespace sorvel::test::id3;
    const QByteArray old =
        trailer("Gammal titel", "Gammal artist", "Gammalt album", "1970", "Gammal kommentar", 17);
    const QString longTitle = u"En titel som är längre än trettio tecken"_s;
    const std::tuple<const char*, QByteArray, std::vector<std::tuple<int, int, QByteArray>>>
        cases[] = {
            // the file, its tag (before the audio; old trailer after it), fields written (offset,
            // width, text)
            {"v22",
             id3v2(2, frames(2, u"TT2=Titel 22|TP1=Artist 22|TAL=Album 22|TYE=1998|TCO=(13)"_s) +
                          frame(2, "COM", comment(Enc::Latin1, {}, u"Kommentar 22"_s))),
             {{kTitleAt, 30, "Titel 22"},
              {kArtistAt, 30, "Artist 22"},
              {kAlbumAt, 30, "Album 22"},
              {93, 4, "1998"},
              {97, 30, "Kommentar 22"},
              {kGenreAt, 1, "\x0d"}}},
            {"v23-utf16",
             id3v2(3, frames(3, u"TIT2=Räksmörgås – ”citat”|TPE1=Åsa"_s, Enc::Utf16Bom) +
                          frame(3, "COMM", comment(Enc::Utf16Bom, u"iTunNORM"_s, u" 0000"_s)) +
                          frame(3, "COMM", comment(Enc::Utf16Bom, {}, u"Rätt kommentar"_s)) +
                          frames(3, u"TCON=(9)Metal"_s) + QByteArray(100, '\0')),
             {{kTitleAt, 30,
               "R\xe4ksm\xf6rg\xe5s \x96 \x94"
               "citat\x94"},
              {kArtistAt, 30, "\xc5sa"},
              {97, 30, "R\xe4tt kommentar"},
              {kGenreAt, 1, "\x09"}}},
            {"unsynchronised",
             id3v2(3, unsynchronised(frames(3, u"TIT2=ÿÿ Smörgåsÿ|TCON=dISCO"_s)), kUnsynchronised),
             {{kTitleAt, 30, "\xff\xff Sm\xf6rg\xe5s\xff"}, {kGenreAt, 1, "\x04"}}},
            {"extended-header",
             id3v2(4, syncsafe(6) + "\x01" + '\0' + frames(4, u"TALB=Album X"_s), kExtendedHeader),
             {{kAlbumAt, 30, "Album X"}}},
            {"footer",
             id3v2(4, frames(4, u"TPE1=Med fot"_s), kFooter),
             {{kArtistAt, 30, "Med fot"}}},
            {"picture",
             id3v2(4, frame(4, "APIC", picture(5 << 20)) + frames(4, u"TIT2=Bild"_s)),
             {{kTitleAt, 30, "Bild"}}},
            // The frames that are whole are read, though the size points far past the end of the
            // file; a frame that runs past the end of its tag is not.
            {"larger-than-file",
             id3v2(3, frames(3, u"TIT2=Stor"_s), 0, 50'000'000),
             {{kTitleAt, 30, "Stor"}}},
            {"cut-short",
             id3v2(3, frames(3, u"TIT2=Hel|TPE1=Avkortad artist"_s).left(30)),
             {{kTitleAt, 30, "Hel"}}},
            {"ape", {}, {}},
            {"no-tag", {}, {}},
            {"not-selected", id3v2(4, frames(4, u"TIT2=Inte vald"_s)), {}},
            {"outside-1252",
             id3v2(4, frames(4, u"TIT2=Ωmega|TPE1=Går att skriva"_s, Enc::Utf8)),
             {}},
        };
    const std::pair<const char*, int> genres[] = {
        {"17", 17},   {"(17)Rock", 17}, {"rOCK", 17},  {"Blues", 0},     {"(0)", 0},
        {"115", 115}, {"116", -1},      {"(200)", -1}, {"Hyperpop", -1}, {"(17", -1},
        {"17a", -1},  {"-1", -1},       {"()", -1},
    };
    Files before, after;
    for (const auto& [name, tag, fields] : cases) {
        QByteArray& b = before[QString::fromLatin1(name) + u".mp3"_s] = tag + audio(4000) + old;
        QByteArray& a = after[QString::fromLatin1(name) + u".mp3"_s] = b;
        for (const auto& [at, width, text] : fields)
            a = withField(a, at, width, text);
    }
    const QByteArray apeTail = ape({{"Title", u"Ape titel"_s},
                                    {"Artist", u"Ape artist"_s},
                                    {"Album", u"Ape album"_s},
                                    {"Year", u"2010"_s},
                                    {"Comment", u"Ape kommentar"_s},
                                    {"Genre", u"jazz"_s}}) +
                               old;
    before[u"ape.mp3"_s] = audio(4000) + apeTail;
    after[u"ape.mp3"_s] =
        audio(4000) + apeTail.chopped(128) +
        trailer("Ape titel", "Ape artist", "Ape album", "2010", "Ape kommentar", 8);
    // Without a trailer, one is appended.
    before[u"utf8.mp3"_s] =
        id3v2(4, frames(4, u"TIT2="_s + longTitle + u"|TDRC=2004-05-01|TCON=8"_s, Enc::Utf8)) +
        audio(4000);
    after[u"utf8.mp3"_s] =
        before[u"utf8.mp3"_s] + trailer(longTitle.left(30).toLatin1(), "", "", "2004", "", 8);
    for (std::size_t i = 0; i < std::size(genres); ++i) {
        const QString name = u"genre %1.mp3"_s.arg(i);
        before[name] =
            id3v2(4, frames(4, u"TIT2=T|TCON="_s + QString::fromLatin1(genres[i].first))) +
            audio(100) + trailer("T", "A", "", "", "", 50);
        after[name] = withField(before[name], kGenreAt, 1,
                                QByteArray(1, char(genres[i].second >= 0 ? genres[i].second : 50)));
    }
    start(before);
    const auto other = [&](const QString& file) { return folder.otherTagText(row(file)); };
    EXPECT_EQ(QStringList({other(u"v22.mp3"_s), other(u"ape.mp3"_s), other(u"no-tag.mp3"_s)}),
              QStringList({u"ID3v2 (skiljer sig från tag): Artist 22 – Titel 22 – Album 22"_s,
                           u"APEv2 (skiljer sig från tag): Ape artist – Ape titel – Ape album"_s,
                           QString()}));

    EXPECT_EQ(folder.importOtherTags(allBut(u"not-selected.mp3"_s), seen).messages,
              notWritten({u"outside-1252.mp3 (tecken som en tagg inte kan lagra)\n\n1 fil saknar "
                          u"ID3v2- och APEv2-tag och lämnades som den var."_s}));
    expectFolder(after, {u"genre 3.mp3"_s, u"genre 4.mp3"_s});
    // Once written, what the panel shows is what the trailer holds, as far as it can hold it.
    EXPECT_EQ(other(u"v22.mp3"_s) + u'|' + other(u"utf8.mp3"_s),
              u"ID3v2: Artist 22 – Titel 22 – Album 22|ID3v2: "_s + longTitle);
    // Nothing to take from is no failure, and nothing to take back.
    EXPECT_EQ(folder.importOtherTags(only(u"no-tag.mp3"_s), seen).messages,
              (Messages{{u"Tag från ID3v2"_s,
                         u"1 fil saknar ID3v2- och APEv2-tag och lämnades som den var."_s,
                         Icon::Information}}));
    EXPECT_TRUE(folder.undo(seen).messages.empty());
    EXPECT_EQ(files(), before);
}

// A Shift+Delete deletes for good once the user agrees; any other press sends the file to the
// desktop's trash. Either reaches the file itself, never its look-alikes.
TEST_F(Commands, DeleteAsksBeforeDeletingForGoodAndOtherwiseUsesTheTrash) {
    enum Before { Nothing, FileGone, FolderLocked };
    const std::tuple<int, Before, Answer, bool, bool, QString> cases[] = {
        // Shift is 1, Ctrl 2, Alt 4; what happens first; the answer; in the trash, listed again
        {1, Nothing, Answer::Cancel, false, false, {}},
        {1, Nothing, Answer::Ok, false, false, {}},
        {0, Nothing, Answer::Ok, true, false, {}},
        {5, Nothing, Answer::Ok, true, false, {}},
        {0, FileGone, Answer::Ok, false, false, u"Det gick inte att radera filen."_s},
        {1, FileGone, Answer::Ok, false, true, u"Filen hittades inte."_s},
        {1, FolderLocked, Answer::Ok, false, true, {}},
    };
    const QString base = platform::decodeName("lat\xe5");
    int i = 0;
    for (const auto& [mode, before, answer, trashed, listAgain, text] : cases) {
        SCOPED_TRACE(i);
        const QString file = base + QString::number(i++) + u".MP3"_s;
        Files left = {{u"lat\xef\xbf\xbd.MP3"_s, "look-alike"}, {file.toLower(), "alike"}};
        Files all = left;
        all[file] = "ljud";
        start(all);
        if (answer == Answer::Cancel || before == FolderLocked)
            left[file] = "ljud";
        if (before == FileGone)
            ::unlink(platform::encodeName(dir.file(file)).constData());
        const std::size_t r = row(file), size = folder.size();
        folder.setDeleteMode(mode);
        boxes.answers = {answer};
        std::optional<ReadOnly> locked;
        if (before == FolderLocked)
            locked.emplace(dir.path());
        const app::Outcome o = folder.remove(r);
        locked.reset();
        EXPECT_EQ(files(), left);
        EXPECT_EQ(present(desktopHome() + u"data/Trash/files/"_s + file), trashed);
        EXPECT_EQ(o.messages, text.isEmpty() ? Messages{} : error(text));
        EXPECT_EQ(o.listAgain, listAgain);
        EXPECT_EQ(boxes.shown.size(), mode == 1 ? 1u : 0u);
        const bool removed = before == Nothing && answer == Answer::Ok;
        EXPECT_EQ(folder.size(), size - removed);
        EXPECT_EQ(events,
                  (removed ? QStringList{u"removing %1"_s.arg(r), u"removed"_s} : QStringList()));
    }
    EXPECT_EQ(boxes.shown.at(0).text,
              u"Är du säker på att du vill radera \""_s + base + u"6.mp3\" ?"_s);
    // Without a row nothing is asked or deleted, and the list is read again.
    boxes.shown.clear();
    const Files left = files();
    EXPECT_TRUE(folder.remove(std::nullopt).listAgain);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(files(), left);
}

TEST_F(Commands, PlayOpensTheFileByItsAbsolutePathWithTheDesktopsProgram) {
    start({{u"Låt.MP3"_s, "ljud"}});
    QFile::remove(dir.file(u"Låt.MP3"_s));
    EXPECT_EQ(folder.play(0).messages, error(u"Filen hittades inte."_s));
    dir.write(u"Låt.MP3"_s, "ljud");
    {
        const TempFolder bin;  // no open command there
        Environment env;
        env.set("PATH", bin.path());
        EXPECT_EQ(folder.play(0).messages, error(u"Det gick inte att spela upp filen."_s));
    }
    EXPECT_TRUE(folder.play(std::nullopt).messages.empty());

    if (QStandardPaths::findExecutable(u"xdg-open"_s).isEmpty())
        GTEST_SKIP() << "xdg-open is not installed";
    TestDesktop desktop("audio/mpeg");
    // An ID3v2 header and an MPEG frame header: audio/mpeg by content as well as by name.
    const QByteArray mpeg =
        QByteArray("ID3\x03\0\0\0\0\0\0\xff\xfb\x90\0", 14) + QByteArray(400, '\0');
    QDir(dir.path()).mkdir(u"sub"_s);
    const QString home = QDir::currentPath();
    QDir::setCurrent(dir.path());  // the folder is listed by a path relative to here
    for (const QString& base :
         {u"Låt med blanksteg #1 $x"_s, platform::decodeName("lat\xe5 'x'")}) {
        if (!base.isValidUtf16())
            desktop.withoutMimeInfoTool();
        const QString file = u"sub/"_s + base + u".MP3"_s;
        dir.write(file, mpeg);
        list(u"sub"_s);
        EXPECT_TRUE(folder.play(0).messages.empty());
        EXPECT_EQ(desktop.waitForProgram(),
                  platform::encodeName(QDir(dir.path()).canonicalPath() + u'/' + file));
        QFile::remove(dir.file(file));
    }
    QDir::setCurrent(home);
}

}  // namespace
