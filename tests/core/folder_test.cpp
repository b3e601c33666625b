// Every command of the folder on show, on real files in temporary folders: the bytes each leaves,
// the rows, the messages, and what undo takes back. The trash and the open command are the
// desktop's own; only a full disk and the user's answers are scripted.
#include "core/folder.h"
#include "core/row_order.h"
#include "core/scripted_settings.h"
#include "core/settings.h"
#include "fileops/fileops.h"
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
#include "write/engine.h"
#include "write/journal.h"

#include <gtest/gtest.h>
#include <pwd.h>

#include <unistd.h>
#include <QDir>
#include <QStandardPaths>
#include <optional>

using namespace sorvel;
using namespace sorvel::test;
using core::loadSettings, core::saveSettings, core::settingsPath, core::Settings;
using Calls = std::vector<std::string>;
using write::Typ;
using Answer = platform::MessageBoxes::Answer;
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

// The settings file id3.ini, read and written as real files.
platform::PosixFileSystem disk;

// A file as the program has always written it: Windows-1252, CR LF, numbers with blanks around.
const QByteArray kOriginal =
    "Denna filen inneh\xe5ller alla inst\xe4llningar som id3 editorn sparar. Redigera den inte! "
    "Men om den tas bort s\xe5 skapas en ny n\xe4sta g\xe5ng programmet avslutas.\r\n"
    "C:\\Musik\\\xc5sa\r\n 2 \r\n 1200 \r\n-45\r\n 9600,5\r\n7200\r\n 3 \r\n";
// What it applies, in that order.
// clang-format off
const Calls kAllCalls = {"drive C:\\Musik\\Åsa", "folder C:\\Musik\\Åsa", "state 2", "top 1200",
                         "left -45", "width 9600.5", "height 7200"};
// clang-format on

// NUL padding, a comment that begins with a blank, track 9 (ID3v1.1) and genre byte 0 (Blues):
// every writer keeps each byte of the fields it does not change.
const QByteArray kGammal =
    audio(500) + trailer("Titel", "Artist", "Album", "1999",
                         QByteArray(" Kom") + QByteArray(25, '\0') + '\x09', 0, '\0');

write::EditorValues shownIn(const browse::Row& r) {
    using browse::shownText;
    return {shownText(r.artist), shownText(r.title), shownText(r.album), shownText(r.year), r.genre,
            shownText(r.comment)};
}
/// The one message that names the files a command (or, `undo`, its undoing) left alone.
Messages notWritten(const QStringList& lines, bool undo = false) {
    return {platform::error((undo ? u"Följande filer kunde inte återställas:\n"_s
                                  : u"Följande filer kunde inte skrivas:\n"_s) +
                            lines.join(u'\n'))};
}

/// The folder over the test's own.
class Commands : public ::testing::Test {
protected:
    Commands() { desktopHome(); }

    /// Lays exactly `files` in the test's folder and lists it, sorted by name.
    void start(const Files& files) {
        for (const auto& [name, b] : snapshot(dir.path()))
            ::unlink(platform::encodeName(dir.file(name)).constData());
        for (const auto& [name, b] : files)
            dir.write(name, b);
        EXPECT_FALSE(folder.list(dir.path(), seen).failed);
        if (!folder.order().sorted())
            folder.sortBy(0);
        seen.seen.clear();
        boxes.shown.clear();
    }
    std::size_t row(const QString& file) const {
        const auto& r = folder.rows();
        return std::find_if(r.begin(), r.end(),
                            [&](auto& x) { return browse::fileName(x) == file; }) -
               r.begin();
    }
    /// Every row, or all but `file`'s; or `file`'s alone.
    core::Folder::Selection select(const QString& file = {}, bool only = false) const {
        core::Folder::Selection s(folder.size(), !only);
        if (!file.isEmpty())
            s[row(file)] = only;
        return s;
    }
    static Rows rowsOf(const core::Folder& f) {
        Rows rows;
        for (const browse::Row& r : f.rows())
            rows[browse::fileName(r)] = {r, r.print};
        return rows;
    }
    /// The rows a new listing of the folder reads.
    Rows fresh() {
        core::Folder other({fs, boxes, opener, drives, trash});
        Recorder quiet;
        other.list(dir.path(), quiet);
        return rowsOf(other);
    }
    /// The folder holds `expected` and the rows show what it holds.
    void expectFolder(const Files& expected) {
        EXPECT_EQ(files(), expected);
        EXPECT_EQ(rowsOf(folder), fresh());
    }
    Files files() const { return snapshot(dir.path()); }

    TempFolder dir;
    FaultyFileSystem fs;
    FakeMessageBoxes boxes;
    platform::XdgOpener opener;
    platform::PosixDrives drives;
    platform::GioTrash trash;
    core::Folder folder{{fs, boxes, opener, drives, trash}};
    Recorder seen;
};

// Each field command on the selected files only, each keeping every other byte its file had, and
// taken back; then met by files another program changed since the listing, which it names and
// leaves as they are now.
TEST_F(Commands, EachFieldCommandWritesItsFieldIntoTheSelectedFilesAndUndoTakesItBack) {
    // Names that split alike at the first hyphen, trimmed of blanks and underscores; the twin,
    // alike but for its ending, is not selected.
    const QStringList name = {{},
                              u"_A - Band - Låt.mp3"_s,
                              u"A_-_Band_-_Låt.mp3"_s,
                              u" A - Band - Låt .mp3"_s,
                              u"A - Band - Låt_.mp3"_s};
    const QString upper = u"A - Band - Låt.MP3"_s, twin = u"A - Band - Låt.mp3"_s;
    const Files before = {
        // too short to hold a trailer
        {name[1], audio(1) + trailer("T", "A", "", "", "", 17)},
        {name[2], audio(2) + trailer("T2", "A2", "Alb", "1998", "K", 17)},
        {name[3], kGammal},
        {name[4], audio(50) + trailer("T4", "", "", "", "", 200)},  // Winamp's genre
        {upper, audio(400) + trailer("Stor", "S", "", "", "", 13)},
        {twin, audio(300) + trailer("Liten", "L", "", "", "", 17)},
    };
    struct Field {
        int at, width;
        QByteArray text;
    };
    struct Command {
        Typ typ;
        write::EditorValues editor;
        std::vector<Field> fields;  // what it writes
        QString label;              // as undo names it
    };
    const Command commands[] = {
        {Typ::Artist, {.artist = u"Ny artist"_s}, {{kArtistAt, 30, "Ny artist"}}, u"Artist"_s},
        {Typ::Titel, {.title = u"Ny titel"_s}, {{kTitleAt, 30, "Ny titel"}}, u"Titel"_s},
        {Typ::Album, {.album = u"Nytt album"_s}, {{kAlbumAt, 30, "Nytt album"}}, u"Album"_s},
        {Typ::Ar, {.year = u"2024"_s}, {{93, 4, "2024"}}, u"År"_s},
        {Typ::Genre, {.genre = u"Jazz"_s}, {{kGenreAt, 1, "\x08"}}, u"Genre"_s},
        // none, over a file's own too
        {Typ::Genre, {}, {{kGenreAt, 1, "\xff"}}, u"Genre"_s},
        {Typ::Kommentarer, {.comment = u"Bra"_s}, {{kCommentAt, 30, "Bra"}}, u"Kommentarer"_s},
        {Typ::Filnamn,
         {},
         {{kArtistAt, 30, "A"}, {kTitleAt, 30, "Band - L\xe5t"}},
         u"Filnamn --> tag"_s},
    };
    for (const Command& c : commands) {
        SCOPED_TRACE(c.label.toStdString() + " " + c.editor.genre.toStdString());
        start(before);
        folder.setSplit(1);
        const core::Outcome o = folder.writeField(c.typ, select(twin), c.editor, seen);
        EXPECT_TRUE(o.messages.empty());
        EXPECT_TRUE(o.typingWritten);
        Files written = before;
        for (auto& [n, b] : written) {
            if (n == twin)
                continue;
            if (b.size() < 130)
                b += trailer("", "", "", "", "", 255);
            for (const Field& f : c.fields) {
                // A comment short enough keeps the track in its last two bytes.
                const bool track = b.at(b.size() - 3) == '\0' && b.at(b.size() - 2) != '\0';
                b = withField(b, f.at, f.at == kCommentAt && track ? f.width - 2 : f.width, f.text);
            }
        }
        expectFolder(written);
        EXPECT_EQ(folder.undoText(), u"Ångra: "_s + c.label + u" till 5 filer"_s);
        EXPECT_TRUE(folder.undo(seen).messages.empty());
        expectFolder(before);

        Files changed = before;
        // Another program appends a trailer to one, rewrites another and cuts a third.
        changed[name[1]] += trailer("Annan", "", "", "", "", 1);
        changed[name[2]] = withField(before.at(name[2]), kArtistAt, 30, "Annan");
        changed[name[4]] = audio(100);
        for (int i : {1, 2, 4})
            writeAll(dir.file(name[i]), changed[name[i]]);
        QStringList named;  // in the list's order
        for (const browse::Row& r : folder.rows()) {
            if (changed[browse::fileName(r)] != before.at(browse::fileName(r)))
                named << browse::fileName(r) + u" (ändrad sedan listan lästes)"_s;
        }
        EXPECT_EQ(folder.writeField(c.typ, select(twin), c.editor, seen).messages,
                  notWritten(named));
        changed[name[3]] = written[name[3]];
        changed[upper] = written[upper];
        expectFolder(changed);
    }
}

// A field left as shown keeps its bytes, a tag stored as UTF-8 too ("Ã¥" in Windows-1252 reads
// as UTF-8 "å"), after a save as after a field command; what the user changed is written in
// Windows-1252. A new name is asked about; a file another program changed since is named, and the
// typing is kept.
TEST_F(Commands, SaveWritesTheEditorKeepingFieldsLeftAsShownAndRenamesOnlyOnOk) {
    const QByteArray u = audio(300) + trailer("\xC3\xA5", "\xC3\x85sa", "Album", "", "", 17, '\0');
    start({{u"Gammal.mp3"_s, kGammal}, {u"u.mp3"_s, u}});
    write::EditorValues editor = shownIn(folder.row(row(u"u.mp3"_s)));
    editor.album = u"Nytt"_s;
    EXPECT_TRUE(folder.save(row(u"u.mp3"_s), editor, u"u"_s).messages.empty());
    folder.writeField(Typ::Artist, select(), {.artist = u"Åsa"_s}, seen);
    const QByteArray uSaved = withField(u, kAlbumAt, 30, "Nytt");
    const QByteArray asa = withField(kGammal, kArtistAt, 30, "\xC5sa");
    expectFolder({{u"Gammal.mp3"_s, asa}, {u"u.mp3"_s, uSaved}});

    const std::size_t g = row(u"Gammal.mp3"_s);
    editor = shownIn(folder.row(g));
    editor.title = u"Ny titel"_s;
    const QByteArray saved = withField(asa, kTitleAt, 30, "Ny titel");
    boxes.answers = {Answer::Cancel};
    EXPECT_TRUE(folder.save(g, editor, u"Ny"_s).typingWritten);
    expectFolder({{u"Gammal.mp3"_s, saved}, {u"u.mp3"_s, uSaved}});
    folder.save(g, editor, u"Ny"_s);
    folder.save(g, editor, u"ny"_s);  // the letter case alone is a new name too
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[0].title, u"Ändra filnamn?"_s);
    EXPECT_EQ(boxes.shown[0].text, u"Vill du ändra filnamnet från Gammal.mp3 till Ny.mp3 ?"_s);
    editor.genre = u"Rock"_s;  // chosen, then emptied: written as none
    folder.save(g, editor, u"ny"_s);
    editor.genre.clear();
    folder.save(g, editor, u"ny"_s);
    expectFolder({{u"ny.mp3"_s, withField(saved, kGenreAt, 1, "\xff")}, {u"u.mp3"_s, uSaved}});

    const QByteArray appended = audio(300) + trailer("T", "A", "Alb", "1999", "K", 17);
    writeAll(dir.file(u"ny.mp3"_s), appended);
    const core::Outcome since = folder.save(g, {.title = u"X"_s}, u"Annat"_s);
    EXPECT_EQ(since.messages, notWritten({u"ny.mp3 (ändrad sedan listan lästes)"_s}));
    EXPECT_FALSE(since.typingWritten);
    expectFolder({{u"ny.mp3"_s, appended}, {u"u.mp3"_s, uSaved}});
}

// A rename reaches the file by its own ending, never its look-alike; a refused one sets the
// failure flag, which a later success leaves. Undo leaves a file whose old name another has taken.
TEST_F(Commands, ARenameReachesItsOwnFileAndTheRowFollows) {
    const QByteArray upper = audio(400) + trailer("Stor", "S", "", "", "", 13);
    start({{u"Dubbel.MP3"_s, upper}, {u"Dubbel.mp3"_s, "lower"}});
    EXPECT_FALSE(folder.rename(row(u"Dubbel.MP3"_s), u"a?b"_s).messages.empty());
    EXPECT_TRUE(folder.rename(row(u"Dubbel.MP3"_s), u"Ny"_s).messages.empty());
    EXPECT_TRUE(folder.renameFailed());
    EXPECT_EQ(folder.undoText(), u"Ångra: Nytt filnamn till 1 fil"_s);
    expectFolder({{u"Ny.mp3"_s, upper}, {u"Dubbel.mp3"_s, "lower"}});
    dir.write(u"Dubbel.MP3"_s, "annan");
    EXPECT_EQ(folder.undo(seen).messages, notWritten({u"Ny.mp3 (namnet är upptaget)"_s}, true));
    EXPECT_EQ(
        files(),
        (Files{{u"Ny.mp3"_s, upper}, {u"Dubbel.mp3"_s, "lower"}, {u"Dubbel.MP3"_s, "annan"}}));
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
        step([&] { EXPECT_TRUE(folder.writeField(typ, select(), editor, seen).messages.empty()); });
    };
    field(Typ::Album, {.album = u"Tappas"_s});  // the 21st from the newest: dropped
    field(Typ::Artist, {.artist = u"Fel artist"_s});
    field(Typ::Genre, {.genre = u"Rock"_s});
    folder.setSplit(1);
    field(Typ::Filnamn, {});
    start(files());
    step([&] {
        boxes.answers = {Answer::Ok};
        folder.save(row(u"Anna - Ett.mp3"_s), {u"Sparad"_s, u"Låt"_s}, u"Nytt namn"_s);
    });
    step([&] { folder.rename(row(u"Cia - Tre.mp3"_s), u"Cecilia"_s); });
    // "Nytt namn" and "Cecilia" by their tags
    step([&] { folder.namesFromTags(select()); });
    for (int i = 1; i <= 14; ++i)
        field(Typ::Kommentarer, {.comment = u"Nr %1"_s.arg(i)});
    for (std::size_t level = before.size() - 1; level >= 1; --level) {
        EXPECT_TRUE(folder.undo(seen).messages.empty()) << level;
        ASSERT_EQ(files(), before[level]) << "undo to before command " << level;
        ASSERT_EQ(rowsOf(folder), fresh()) << level;
    }
    EXPECT_TRUE(folder.undoText().isEmpty());
    folder.writeField(Typ::Album, select(), {.album = u"Kvar"_s}, seen);
    const TempFolder other;
    folder.list(other.path(), seen);
    EXPECT_TRUE(folder.undoText().isEmpty());
}

// Files changed since, gone, locked or meeting a full disk are named and left as they are; the
// others come back all the same, though each must go alone for want of a free descriptor.
TEST_F(Commands, UndoNamesTheFilesItLeftAloneAndRestoresTheOthers) {
    const auto name = [](int i) { return u"fil %1.mp3"_s.arg(i, 3, 10, QChar(u'0')); };
    Files original;
    for (int i = 0; i < 300; ++i)
        original[name(i)] = audio(200 + i) + (i % 3 ? trailer("T", "A", "", "", "", i % 256) : "");
    start(original);
    folder.writeField(Typ::Artist, select(), {.artist = u"Ny"_s}, seen);
    // Half taken back, the file that met the full disk holds what the command wrote.
    Files expected = original;
    for (const int i : {10, 11, 30, 299})
        expected[name(i)] = readAll(dir.file(name(i)));
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
    fs.batchesFindNoDescriptor = true;
    EXPECT_EQ(
        folder.undo(seen).messages,
        notWritten({u"fil 010.mp3 (ändrad sedan dess)"_s, u"fil 011.mp3 (ändrad sedan dess)"_s,
                    u"fil 020.mp3 (finns inte)"_s, u"fil 030.mp3 (skrivskyddad eller låst)"_s,
                    u"fil 299.mp3 (disken är full)"_s},
                   true));
    EXPECT_TRUE(files() == expected);
    // A row taken back shows its file again; one changed since keeps what the command wrote.
    EXPECT_EQ(folder.row(1).artist, u"A"_s);
    EXPECT_EQ(folder.row(10).artist, u"Ny"_s);
    // Together, a file given back its old length alone makes no write that could fail, and one
    // gone is named as gone.
    start({{u"b.mp3"_s, audio(300)}, {u"a.mp3"_s, kGammal}, {u"c.mp3"_s, audio(200)}});
    fs.failWriteNumber = 0;
    folder.writeField(Typ::Artist, select(), {.artist = u"Ny"_s}, seen);
    fs.failWriteNumber = 1;
    fs.writes = 0;
    fs.batchesFindNoDescriptor = false;
    QFile::remove(dir.file(u"c.mp3"_s));
    EXPECT_EQ(folder.undo(seen).messages,
              notWritten({u"a.mp3 (disken är full)"_s, u"c.mp3 (finns inte)"_s}, true));
    EXPECT_EQ(readAll(dir.file(u"b.mp3"_s)), audio(300));
}

// A write that a file system gone away refuses only at the close may have reached the file: it is
// named as not confirmed, and the next write reads the file again before it writes.
TEST_F(Commands, AWriteRefusedAtTheCloseIsNamedAsUnconfirmedAndReadAgain) {
    start({{u"a.mp3"_s, kGammal}});
    FaultyFileSystem nfs(platform::PosixFileSystem::TailReads::Sequential);
    core::Folder f({nfs, boxes, opener, drives, trash});
    f.list(dir.path(), seen);
    nfs.closeFailure = code::kDeviceUnavailable;
    const QString unconfirmed =
        u"a.mp3 (kanske skriven, inte bekräftad: enheten går inte att komma åt)"_s;
    const Messages changed = notWritten({u"a.mp3 (ändrad sedan listan lästes)"_s});
    EXPECT_EQ(f.writeField(Typ::Artist, {true}, {.artist = u"Ny"_s}, seen).messages,
              notWritten({unconfirmed}));
    EXPECT_EQ(f.save(0, shownIn(f.row(0)), u"a"_s).messages, changed);
    EXPECT_EQ(f.row(0).artist, u"Ny"_s);
    EXPECT_EQ(f.save(0, shownIn(f.row(0)), u"a"_s).messages, notWritten({unconfirmed}));
    nfs.closeFailure = code::kOk;
    EXPECT_EQ(f.writeField(Typ::Album, {true}, {.album = u"X"_s}, seen).messages, changed);
}

/// Text frames of an ID3v2 tag of `version`, from "ID=text|ID=text".
QByteArray frames(int version, const QString& list, id3::Enc enc = id3::Enc::Latin1) {
    QByteArray body;
    const int n = version == 2 ? 3 : 4;
    for (const QString& f : list.split(u'|'))
        body += id3::frame(version, f.left(n).toLatin1().constData(), id3::text(enc, f.mid(n + 1)));
    return body;
}

// Each field the other tag has replaces the trailer's and the rest stays; a genre is taken by
// number or by name from the table.
TEST_F(Commands, ImportWritesExactlyWhatTheOtherTagGivesAndUndoPutsItBack) {
    using namespace sorvel::test::id3;
    const QByteArray old = trailer("T", "A", "Album", "1970", "K", 17);
    struct Import {
        QString name;
        QByteArray tag;           // before the audio, or, for APEv2, after it
        QByteArray trailerAfter;  // none: the file stays as it is
    };
    const Import cases[] = {
        {u"v22"_s,
         id3v2(2, frames(2, u"TT2=Titel 22|TP1=Artist 22|TYE=1998|TCO=(13)"_s) +
                      frame(2, "COM", comment(Enc::Latin1, {}, u"Kommentar 22"_s))),
         trailer("Titel 22", "Artist 22", "Album", "1998", "Kommentar 22", 13)},
        {u"v23"_s,
         id3v2(3, frames(3, u"TIT2=Räksmörgås – ”citat”|TPE1=Åsa"_s, Enc::Utf16Bom) +
                      frame(3, "COMM", comment(Enc::Utf16Bom, u"iTunNORM"_s, u" 0000"_s)) +
                      frame(3, "COMM", comment(Enc::Utf16Bom, {}, u"Rätt"_s)) +
                      frames(3, u"TCON=(9)Metal"_s) + QByteArray(100, '\0')),
         trailer("R\xe4ksm\xf6rg\xe5s \x96 \x94"
                 "citat\x94",
                 "\xc5sa", "Album", "1970", "R\xe4tt", 9)},
        {u"ape"_s,
         ape({{"Title", u"Ape"_s},
              {"Year", u"2010"_s},
              {"Genre", u"jazz"_s},
              {"Track", u"7/12"_s}}),
         trailer("Ape", "A", "Album", "2010", "K", 8).replace(125, 2, QByteArray("\0\x07", 2))},
        {u"no-tag"_s, {}, {}},
        {u"not-selected"_s, id3v2(4, frames(4, u"TIT2=Inte vald"_s)), {}},
        {u"outside-1252"_s, id3v2(4, frames(4, u"TIT2=Ωmega|TPE1=Går"_s, Enc::Utf8)), {}},
    };
    Files before, after;
    for (const Import& c : cases) {
        const bool isApe = c.name == u"ape"_s;
        const QByteArray b = before[c.name + u".mp3"_s] =
            (isApe ? QByteArray() : c.tag) + audio(4000) + (isApe ? c.tag : QByteArray()) + old;
        after[c.name + u".mp3"_s] = c.trailerAfter.isEmpty() ? b : b.chopped(128) + c.trailerAfter;
    }
    // without a trailer
    const QString longTitle = u"En titel som är längre än trettio tecken"_s;
    before[u"utf8.mp3"_s] =
        id3v2(4, frames(4, u"TIT2="_s + longTitle + u"|TDRC=2004-05-01|TCON=8"_s, Enc::Utf8));
    after[u"utf8.mp3"_s] =
        before[u"utf8.mp3"_s] + trailer(longTitle.left(30).toLatin1(), "", "", "2004", "", 8);
    // removed once listed: not read, so not one without tag
    before[u"gone.mp3"_s] = audio(300);
    start(before);
    QFile::remove(dir.file(u"gone.mp3"_s));
    before.erase(u"gone.mp3"_s);
    EXPECT_EQ(folder.otherTagText(row(u"v22.mp3"_s)),
              u"ID3v2 (skiljer sig från tag): Artist 22 – Titel 22"_s);
    EXPECT_EQ(folder.otherTagText(row(u"no-tag.mp3"_s)), QString());
    EXPECT_EQ(
        folder.importOtherTags(select(u"not-selected.mp3"_s), seen).messages,
        notWritten({u"gone.mp3 (finns inte)\noutside-1252.mp3 (tecken som en tagg inte kan "
                    u"lagra)\n\n1 fil saknar ID3v2- och APEv2-tag och lämnades som den var."_s}));
    Rows rows = rowsOf(folder);
    rows.erase(u"gone.mp3"_s);
    EXPECT_EQ(rows, fresh());
    EXPECT_EQ(files(), after);
    EXPECT_EQ(folder.otherTagText(row(u"utf8.mp3"_s)), u"ID3v2: "_s + longTitle);
    EXPECT_EQ(folder.importOtherTags(select(u"no-tag.mp3"_s, true), seen).messages,
              (Messages{{u"Tag från ID3v2"_s,
                         u"1 fil saknar ID3v2- och APEv2-tag och lämnades som den var."_s,
                         platform::MessageBoxes::Icon::Information}}));
    EXPECT_TRUE(folder.undo(seen).messages.empty());
    EXPECT_EQ(files(), before);
}

// A Shift+Delete deletes for good once the user agrees; any other press sends the file to the
// desktop's trash. Either reaches the file itself, never its look-alikes.
TEST_F(Commands, DeleteAsksBeforeDeletingForGoodAndOtherwiseUsesTheTrash) {
    enum Before { Nothing, FileGone, FolderLocked };
    struct Delete {
        int mode;  // Shift is 1, Ctrl 2, Alt 4
        Before before;
        Answer answer;
        bool trashed, listAgain;
        QString error;
    };
    const Delete cases[] = {
        {1, Nothing, Answer::Cancel, false, false, {}},
        {1, Nothing, Answer::Ok, false, false, {}},
        {5, Nothing, Answer::Ok, true, false, {}},
        {0, FileGone, Answer::Ok, false, false, u"Det gick inte att radera filen."_s},
        {1, FileGone, Answer::Ok, false, true, u"Filen hittades inte."_s},
        {1, FolderLocked, Answer::Ok, false, true, {}},
    };
    int i = 0;
    for (const auto& [mode, before, answer, trashed, listAgain, error] : cases) {
        SCOPED_TRACE(i);
        const QString file = platform::decodeName("lat\xe5") + QString::number(i++) + u".MP3"_s;
        Files left = {{u"lat\xef\xbf\xbd.MP3"_s, "look-alike"}, {file.toLower(), "alike"}};
        Files all = left;
        all[file] = "ljud";
        start(all);
        if (answer == Answer::Cancel || before == FolderLocked)
            left[file] = "ljud";
        if (before == FileGone)
            ::unlink(platform::encodeName(dir.file(file)).constData());
        const std::size_t r = row(file);
        folder.setDeleteMode(core::deleteModeFor(mode));
        boxes.answers = {answer};
        std::optional<ReadOnly> locked;
        if (before == FolderLocked)
            locked.emplace(dir.path());
        const core::Outcome o = folder.remove(r);
        locked.reset();
        EXPECT_EQ(files(), left);
        EXPECT_EQ(present(desktopHome() + u"data/Trash/files/"_s + file), trashed);
        EXPECT_EQ(o.messages, error.isEmpty() ? Messages{} : Messages{platform::error(error)});
        EXPECT_EQ(o.listAgain, listAgain);
        EXPECT_EQ(boxes.shown.size(), mode == 1 ? 1u : 0u);
        EXPECT_EQ(folder.size(), before == Nothing && answer == Answer::Ok ? 2u : 3u);
    }
}

TEST_F(Commands, PlayOpensTheFileByItsAbsolutePathWithTheDesktopsProgram) {
    start({{u"Låt.MP3"_s, "ljud"}});
    {
        Environment env;
        env.set("PATH", dir.file(u"bin"_s));  // no open command there
        EXPECT_EQ(folder.play(0).messages,
                  Messages{platform::error(u"Det gick inte att spela upp filen."_s)});
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
        const QString file = u"sub/"_s + base + u".MP3"_s;
        dir.write(file, mpeg);
        folder.list(u"sub"_s, seen);
        EXPECT_TRUE(folder.play(0).messages.empty());
        EXPECT_EQ(desktop.waitForProgram(),
                  platform::encodeName(QDir(dir.path()).canonicalPath() + u'/' + file));
        QFile::remove(dir.file(file));
    }
    QDir::setCurrent(home);
}

// A folder that cannot be listed is named as it is, whatever its name holds.
TEST_F(Commands, AFolderThatCannotBeListedIsNamedAsItIs) {
    const QString gone = dir.file(u"borta %2"_s);
    const core::Outcome o = folder.list(gone, seen);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.messages, Messages{platform::error(u"Katalogen "_s + gone +
                                                   u"/ går inte att läsa (fel av typen 53)."_s)});
}

// A refused rename says why, from the name chosen or the folder's state, and changes nothing.
TEST_F(Commands, ARefusedRenameSaysWhyAndKeepsTheName) {
    const QString bad = u"Felaktigt filnamn"_s, badWhy = u"Det filnamnet var inte bra"_s;
    const QString access = u"Fil/mapp åtkomstfel"_s, accessWhy = u"Kunde inte byta filnamn"_s;
    struct Rename {
        QString name;
        bool lockFolder;
        QString title, sentence;  // the message's, its first sentence
    };
    // "Finns.MP3" has the first name; "" would be the hidden ".mp3".
    const Rename cases[] = {{u"Finns"_s, false, u"Fel"_s, u"Det filnamnet finns redan"_s},
                            {u"a?b"_s, false, bad, badWhy},
                            {u""_s, false, bad, badWhy},
                            {u".dold"_s, false, bad, badWhy},
                            {u"con"_s, false, access, accessWhy},
                            {u"Ny"_s, true, access, accessWhy}};
    for (const auto& [name, lockFolder, title, sentence] : cases) {
        SCOPED_TRACE(name.toStdString());
        const Files before = {{u"Gammal.mp3"_s, kGammal}, {u"Finns.MP3"_s, "F"}};
        start(before);
        std::optional<ReadOnly> locked;
        if (lockFolder)
            locked.emplace(dir.path());
        const core::Outcome o = folder.rename(row(u"Gammal.mp3"_s), name);
        locked.reset();
        ASSERT_EQ(o.messages.size(), 1u);
        EXPECT_EQ(o.messages[0].title, title);
        EXPECT_EQ(o.messages[0].text.section(u'!', 0, 0).section(u'.', 0, 0), sentence);
        EXPECT_TRUE(folder.renameFailed());
        expectFolder(before);
    }
}

// The rules the commands follow, on plain values.
TEST(Rules, FileNamesSplitAtTheChosenHyphenTrimmedAndCut) {
    struct Split {
        QString name;
        int split;
        QString artist, title;
    };
    const QString n = u"01 - Artist - Title"_s;
    const Split cases[] = {
        {n, 0, u"01 - Artist"_s, u"Title"_s},
        {n, 1, u"01"_s, u"Artist - Title"_s},
        {n, 2, u"Artist"_s, u"Title"_s},
        {n, 3, u"01 - Artist"_s, u"Title"_s},
        {u"-Titel"_s, 1, {}, u"Titel"_s},
        {u"A--B"_s, 2, {}, u"B"_s},
        {u" utan streck "_s, 2, {}, u" utan streck "_s},
        {u"En_mycket_lång_titel_utan_streck_alls"_s, 1, {}, u"En mycket lång titel utan stre"_s},
        {u"123456789012345678901234567890123 - 1234567890123456789012345678901"_s, 1,
         u"123456789012345678901234567890"_s, u"123456789012345678901234567890"_s},
    };
    for (const Split& c : cases) {
        SCOPED_TRACE(c.name.toStdString() + " at " + std::to_string(c.split));
        const write::ArtistTitle at = write::splitFileName(c.name, c.split);
        EXPECT_EQ(at.artist, c.artist);
        EXPECT_EQ(at.title, c.title);
    }
}

TEST(Rules, NamesFromTagsDropWhatNoNameMayHold) {
    struct Name {
        QString artist, title;
        std::optional<QString> name;
    };
    const Name cases[] = {{u"AC/DC"_s, u"Back in Black"_s, u"ACDC - Back in Black"_s},
                          {{}, u"Intro"_s, u"Intro"_s},
                          {u"Solo"_s, {}, u"Solo"_s},
                          {{}, {}, std::nullopt},
                          {u"??"_s, {}, u""_s},
                          {{}, u"a\"b\\c/d:e*f?g<h>i|j"_s, u"abcdefghij"_s},
                          {u"  "_s, u"T"_s, u"   - T"_s},
                          {u"A\0skräp"_s, u"T"_s, u"A - T"_s},
                          {u"\0x"_s, u"\0y"_s, std::nullopt}};
    for (const Name& c : cases)
        EXPECT_EQ(fileops::nameFromTag(c.artist, c.title), c.name)
            << c.artist.toStdString() << " - " << c.title.toStdString();
}

TEST(Rules, AFailureMessageNamesTwentyFilesAndCountsTheRest) {
    std::vector<write::Failure> failures = {{u"låst.mp3"_s, code::kAccess}};
    for (int i = 1; i < 20; ++i)
        failures.push_back({u"f%1.mp3"_s.arg(i), code::kFileNotFound});
    const QString twenty = write::failureText(failures);
    EXPECT_TRUE(twenty.startsWith(
        u"Följande filer kunde inte skrivas:\nlåst.mp3 (skrivskyddad eller låst)\nf1.mp3 (finns inte)\n"_s));
    EXPECT_TRUE(twenty.endsWith(u"\nf19.mp3 (finns inte)"_s));
    failures.insert(failures.end(), 3, {u"x.mp3"_s, code::kDiskFull});
    EXPECT_EQ(write::failureText(failures), twenty + u"\n... och 3 filer till."_s);
}

TEST(Rules, TheSwedishOrderKeepsEqualTextsInTheirPlaceAndFlips) {
    std::vector<browse::Row> rows;
    for (const QString& a : {u"Ö"_s, u"abba"_s, u"z"_s, u"ABBA"_s, u"å"_s, u"Abba\0zz"_s, u"ä"_s,
                             u""_s, u"9"_s, u"10"_s, u"ab"_s, u"a-b"_s})
        rows.push_back({u"#%1"_s.arg(rows.size()), a, {}, {}, {}, {}, {}, 0, {}});
    const std::vector<browse::Row> listed = rows;
    const auto column = [&] {
        QStringList out;
        for (const browse::Row& r : rows)
            out << core::RowOrder::shown(r, 1) + r.name;
        return out.join(u' ');
    };
    core::RowOrder order;
    const std::vector<int> moved = order.sortBy(rows, 1);
    EXPECT_EQ(column(), u"#7 10#9 9#8 a-b#11 ab#10 abba#1 ABBA#3 Abba#5 z#2 å#4 ä#6 Ö#0"_s);
    for (std::size_t r = 0; r < listed.size(); ++r)  // where each row went
        EXPECT_EQ(rows[static_cast<std::size_t>(moved[r])], listed[r]);
    order.sortBy(rows, 1);
    EXPECT_EQ(column(), u"Ö#0 ä#6 å#4 z#2 abba#1 ABBA#3 Abba#5 ab#10 a-b#11 9#8 10#9 #7"_s);
    // Names as the folder tree and the command line order them: alike ones by their code units.
    std::vector<QString> names = {u"b"_s, u"a"_s, u"Ä"_s, u"A"_s, u"10"_s, u"9"_s, u"a-b"_s};
    core::sortNames(names);
    EXPECT_EQ(QStringList(names.begin(), names.end()).join(u' '), u"10 9 A a a-b b Ä"_s);
}

TEST(Rules, TheUndoJournalKeepsTheNewestWithinItsBound) {
    write::Journal journal(100'000);
    for (int i = 0; i < 6; ++i) {
        write::Command c{u"Nr %1"_s.arg(i), {}};
        c.files.resize(100);
        for (auto& f : c.files)
            f.nameBefore = f.nameAfter = QString(100, u'x');
        journal.push(std::move(c));
    }
    EXPECT_LE(journal.bytes(), 100'000u);
    EXPECT_GT(journal.bytes(), 50'000u);
    EXPECT_EQ(journal.undoText(), u"Ångra: Nr 5 till 100 filer"_s);
}

}  // namespace

// Each line is applied in order until one is refused or wrong, and what was applied stays; a bad
// last line is found before anything is applied.
TEST(SettingsFile, LoadAppliesInOrderAndStopsAtTheFirstFailure) {
    const test::TempFolder dir;
    const QString ini = dir.file(u"id3.ini"_s);
    test::ScriptedSettings target;
    const auto load = [&](const QByteArray& bytes, const std::string& refuse = {}) {
        test::writeAll(ini, bytes);
        target = test::ScriptedSettings();
        target.refuse = refuse;
        return loadSettings(disk, ini, target);
    };
    const auto with = [](const char* from, const QByteArray& to) {
        return QByteArray(kOriginal).replace(from, to);
    };
    struct Load {
        const char* name;
        QByteArray bytes;
        std::string refuse;  // the step the target refuses
        int split;           // what the load gives
        int applied;         // how many steps it applies
    };
    const Load cases[] = {
        {"the original", kOriginal, {}, 3, 7},
        {"line ends", with("\r\n 2 \r\n", "\r 2 \n").replace(0, 5, "Annan").chopped(2), {}, 3, 7},
        {"empty", {}, {}, 0, 0},
        {"no split", kOriginal.left(kOriginal.lastIndexOf(" 3 ")), {}, 0, 0},
        {"split a word", with(" 3 \r\n", "tre\r\n"), {}, 0, 0},
        {"split too large", with(" 3 \r\n", "70000\r\n"), {}, 0, 0},
        {"state a word", with(" 2 ", "2x"), {}, 0, 2},
        {"width a word", with(" 9600,5", "1e3"), {}, 0, 5},
        {"width beyond a double", with(" 9600,5", QByteArray(400, '9')), {}, 0, 5},
        {"drive refused", kOriginal, "drive", 0, 1},
        {"state refused", kOriginal, "state", 0, 3},
        {"height refused", kOriginal, "height", 0, 7},
    };
    for (const Load& c : cases) {
        EXPECT_EQ(load(c.bytes, c.refuse), c.split) << c.name;
        EXPECT_EQ(target.calls, Calls(kAllCalls.begin(), kAllCalls.begin() + c.applied)) << c.name;
    }
    // No folder has a NUL in its name; the system would read the path only up to it.
    EXPECT_EQ(load(with("Musik", QByteArray("Mu\0sik", 7))), 0);
    EXPECT_EQ(target.calls.size(), 1u);  // the drive only
}

// Over any old file, in the old format; every folder comes back byte for byte. What killed saves
// left is removed, but not the user's files that only look alike.
TEST(SettingsFile, SaveWritesTheOldFormatAndEveryFolderComesBack) {
    const test::TempFolder dir;
    const QString ini = dir.write(u"id3.ini"_s, QByteArray(2000, 'g'));
    dir.write(u"id3.ini.tmp1k2j3h"_s, "Denna filen");
    dir.write(u"id3.ini.tmp-kopia"_s, "egen");
    ASSERT_EQ(saveSettings(ini, {u"/musik/Åsa"_s, 2, 1200, -45, 9600.5, 7200, 3}), code::kOk);
    EXPECT_EQ(test::readAll(ini),
              kOriginal.left(kOriginal.indexOf("\r\n") + 2) +
                  "/musik/\xc5sa\r\n2\r\n1200\r\n-45\r\n9600.5\r\n7200\r\n3\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{u"id3.ini"_s, u"id3.ini.tmp-kopia"_s}));

    // "Ã¥" reads as UTF-8; then "Łódź/音".
    for (const std::string bytes :
         {"/", "/musik/\xc3\x83\xc2\xa5", "/musik/\xc5\x81\xc3\xb3\x64\xc5\xba/\xe9\x9f\xb3",
          "/musik/\xe5\xff-latin1", "/musik/rad\nbrytning%0A"}) {
        ASSERT_EQ(saveSettings(ini, {platform::decodeName(bytes), 1, 15, 30, 11000, 8000.25, 4}),
                  code::kOk);
        test::ScriptedSettings target;
        EXPECT_EQ(loadSettings(disk, ini, target), 4) << bytes;
        EXPECT_EQ(platform::encodeName(target.folder).toStdString(), bytes);
        EXPECT_EQ(target.calls.back(), "height 8000.25");
    }
}

// Beside the program where it may write there, else in the user's configuration; never beside a
// program installed under /usr. Where nothing can be written, the old file stays whole.
TEST(SettingsPath, AnUnwritableOrInstalledProgramFolderSendsTheFileToTheUsersConfiguration) {
    const test::TempFolder program, config;
    const QString folder = program.path().chopped(1);
    const QString local = program.write(u"id3.ini"_s, "gammal");
    EXPECT_EQ(settingsPath(folder), local);
    test::Environment env;
    env.set("XDG_CONFIG_HOME", config.path() + u"xdg"_s);
    env.set("HOME", config.path() + u"hem"_s);
    EXPECT_EQ(settingsPath(u"/usr/lib"_s), config.path() + u"xdg/sorvel/id3.ini"_s);
    const test::ReadOnly readOnly(folder);
    ASSERT_TRUE(readOnly.effective());
    EXPECT_EQ(saveSettings(local, Settings{}), code::kAccess);
    EXPECT_EQ(test::readAll(local), "gammal");
    EXPECT_EQ(settingsPath(folder), config.path() + u"xdg/sorvel/id3.ini"_s);
    EXPECT_EQ(saveSettings(settingsPath(folder), Settings{}), code::kOk);
    env.set("XDG_CONFIG_HOME", u"relativ"_s);
    EXPECT_EQ(settingsPath(folder), config.path() + u"hem/.config/sorvel/id3.ini"_s);
    env.set("HOME",
            QString());  // as some services start a program: the user's own folder all the same
    EXPECT_EQ(settingsPath(folder),
              platform::decodeName(::getpwuid(::getuid())->pw_dir) + u"/.config/sorvel/id3.ini"_s);
}
