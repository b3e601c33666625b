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
#include <ostream>

using namespace sorvel;
using namespace sorvel::test;
using browse::fileName;
using write::Typ;
using Answer = platform::MessageBoxes::Answer;
using Icon = platform::MessageBoxes::Icon;
using Shown = FakeMessageBoxes::Shown;
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
    *os << m.title.toStdString() << ": " << m.text.toStdString() << " (icon "
        << static_cast<int>(m.icon) << ')';
}
}  // namespace sorvel::platform
namespace sorvel::browse {
inline void PrintTo(const Row& r, std::ostream* os) {
    for (const QString& t : {r.artist, r.title, r.album, r.year, r.genre, r.comment})
        *os << QString(t).replace(QChar(0), u'~').toStdString() << '|';
}
}  // namespace sorvel::browse

namespace {

/// Hears the rows' changes as the list model does.
class RowEvents : public app::RowListener {
public:
    QStringList seen;
    void rowsAboutToBeReplaced() override {}
    void rowsReplaced() override {}
    void rowsChanged(std::size_t first, std::size_t last) override {
        seen << u"changed %1"_s.arg(last - first + 1);
    }
    void rowAboutToBeRemoved(std::size_t row) override { seen << u"removing %1"_s.arg(row); }
    void rowRemoved() override { seen << u"removed"_s; }
    void rowsAboutToMove() override {}
    void rowsMoved(const std::vector<int>&) override {}
};

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

class Commands : public ::testing::Test {
protected:
    Commands() {
        desktopHome();
        folder.setListener(&events);
    }

    /// Lists `path` (the test's folder) afresh, sorted by name.
    void list(const QString& path = {}) {
        EXPECT_FALSE(folder.list(path.isEmpty() ? dir.path() : path, seen).failed);
        if (!folder.order().sorted())
            folder.sortBy(0);
        seen.seen.clear();
        events.seen.clear();
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
        return std::find_if(r.begin(), r.end(), [&](auto& x) { return fileName(x) == file; }) -
               r.begin();
    }
    const browse::Row& rowOf(const QString& file) const { return folder.row(row(file)); }
    app::Folder::Selection only(const QStringList& files) const {
        app::Folder::Selection s(folder.size(), false);
        for (const QString& f : files)
            s[row(f)] = true;
        return s;
    }
    app::Folder::Selection all() const { return app::Folder::Selection(folder.size(), true); }
    static Rows rowsOf(const app::Folder& f) {
        Rows rows;
        for (const browse::Row& r : f.rows())
            rows[fileName(r)] = {r, r.print};
        return rows;
    }
    Rows rows() const { return rowsOf(folder); }
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
        EXPECT_EQ(rows(), fresh(blues));
    }
    QByteArray bytes(const QString& file) const { return readAll(dir.file(file)); }
    Files files() const { return snapshot(dir.path()); }
    /// The one message that names the files a command (or, `undo`, its undoing) left alone.
    static Messages notWritten(const QStringList& lines, bool undo = false) {
        return error((undo ? u"Följande filer kunde inte återställas:\n"_s
                           : u"Följande filer kunde inte skrivas:\n"_s) +
                     lines.join(u'\n'));
    }
    static Messages error(const QString& text) { return {platform::error(text)}; }

    TempFolder dir;
    FaultyFileSystem fs;
    FakeMessageBoxes boxes;
    platform::XdgOpener opener;
    platform::PosixDrives drives;
    platform::GioTrash trash;
    app::Folder folder{{fs, boxes, opener, drives, trash}};
    Recorder seen;
    RowEvents events;
};

QString numbered(const char16_t* pattern, int i, int width = 3) {
    return QString::fromUtf16(pattern).arg(i, width, 10, QChar(u'0'));
}

// Each field command on the selected files only, each keeping every other byte its file had;
// then taken back, and then met by files another program changed since the listing.
TEST_F(Commands, EachFieldCommandWritesItsFieldIntoTheSelectedFilesAndUndoTakesItBack) {
    const auto name = [](int i) { return u"%1 - Band - Låt.mp3"_s.arg(i); };
    const QString upper = u"5 - Band - Låt.MP3"_s, twin = name(5);  // the twin is not selected
    const Files before = {
        {name(1), audio(1) + trailer("T", "A", "", "", "", 17)},  // too short to hold a trailer
        {name(2), audio(2) + trailer("T2", "A2", "Alb", "1998", "K", 17)},
        {name(3), audio(300) + trailer("Titel", kAsa, "Album", "1999",
                                       QByteArray("Kom") + QByteArray(26, '\0') + '\x05', 0, '\0')},
        {name(4), audio(50) + trailer("T4", "", "", "", "", 200)},  // Winamp's genre
        {upper, audio(400) + trailer("Stor", "S", "", "", "", 13)},
        {twin, audio(300) + trailer("Liten", "L", "", "", "", 17)},
    };
    const struct {
        Typ typ;
        write::EditorValues editor;
        std::vector<std::tuple<int, int, QByteArray>> fields;  // offset, width, text
        QString label;
    } commands[] = {
        {Typ::Artist, {.artist = u"Ny artist"_s}, {{kArtistAt, 30, "Ny artist"}}, u"Artist"_s},
        {Typ::Titel, {.title = u"Ny titel"_s}, {{kTitleAt, 30, "Ny titel"}}, u"Titel"_s},
        {Typ::Album, {.album = u"Nytt album"_s}, {{kAlbumAt, 30, "Nytt album"}}, u"Album"_s},
        {Typ::Ar, {.year = u"2024"_s}, {{93, 4, "2024"}}, u"År"_s},
        {Typ::Genre, {.genre = u"Jazz"_s}, {{kGenreAt, 1, "\x08"}}, u"Genre"_s},
        {Typ::Genre, {.genre = u"Blues"_s}, {{kGenreAt, 1, QByteArray(1, '\0')}}, u"Genre"_s},
        {Typ::Genre, {}, {{kGenreAt, 1, "\xff"}}, u"Genre"_s},  // none, over a file's own too
        {Typ::Kommentarer, {.comment = u"Bra"_s}, {{97, 30, "Bra"}}, u"Kommentarer"_s},
        {Typ::Filnamn, {}, {{kArtistAt, 30, "Band"}, {kTitleAt, 30, "L\xe5t"}}, {}},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(static_cast<int>(c.typ));
        start(before);
        folder.setSplit(2);
        app::Folder::Selection selected = all();
        selected[row(twin)] = false;
        const app::Outcome o = folder.writeField(c.typ, selected, c.editor, seen);
        EXPECT_TRUE(o.messages.empty() && o.typingWritten);
        Files written = before;
        QStringList names;
        for (auto& [n, b] : written) {
            if (n == twin)
                continue;
            names << n;
            if (b.size() < 130)
                b += trailer("", "", "", "", "", 255);
            for (const auto& [at, width, text] : c.fields)
                b = withField(b, at, width, text);
        }
        const bool blues = c.editor.genre == u"Blues"_s;
        expectFolder(written, blues ? names : QStringList());
        EXPECT_EQ(events.seen, QStringList{u"changed 6"_s});
        QStringList reports = {u"max 6"_s, u"value 0"_s};
        for (std::size_t r = 0; r < folder.size(); ++r) {
            reports << u"value %1"_s.arg(r + 1);
            if (selected[r])
                reports << u"Sparar "_s + browse::shownName(folder.row(r)) + u".mp3"_s;
        }
        EXPECT_EQ(seen.seen, reports << u"value 0"_s << u"Klar"_s);
        if (!c.label.isEmpty()) {
            EXPECT_EQ(folder.undoText(), u"Ångra: "_s + c.label + u" till 5 filer"_s);
        }
        EXPECT_TRUE(folder.undo(seen).messages.empty());
        expectFolder(before);

        // A trailer appended, one rewritten, a file cut: those are left as they are now, shown so
        // and named; the others are written, and the next command writes them all.
        Files changed = before;
        changed[name(1)] += trailer("Annan", "", "", "", "", 1);
        changed[name(2)] = withField(before.at(name(2)), kArtistAt, 30, "Annan");
        changed[name(4)] = audio(100);
        for (int i : {1, 2, 4})
            writeAll(dir.file(name(i)), changed[name(i)]);
        const QString since = u" (ändrad sedan listan lästes)"_s;
        EXPECT_EQ(folder.writeField(c.typ, selected, c.editor, seen).messages,
                  notWritten({name(1) + since, name(2) + since, name(4) + since}));
        changed[name(3)] = written[name(3)];
        changed[upper] = written[upper];
        expectFolder(changed, blues ? QStringList{name(3), upper} : QStringList());
        EXPECT_TRUE(folder.writeField(c.typ, selected, c.editor, seen).messages.empty());
    }
}

TEST_F(Commands, FileNamesSplitAtTheChosenHyphenIntoArtistAndTitle) {
    const struct {
        const char16_t* name;
        int split;
        const char16_t* artistAndTitle;
    } cases[] = {{u"01 - Artist - Title", 0, u"01 - Artist|Title"},
                 {u"01 - Artist - Title", 1, u"01|Artist - Title"},
                 {u"01 - Artist - Title", 2, u"Artist|Title"},
                 {u"01 - Artist - Title", 3, u"01 - Artist|Title"},
                 {u"01 - Artist - Title", 4, u"01 - Artist|Title"},
                 {u"01 - Artist - Title", -1, u"01 - Artist|Title"},
                 {u"Min_lat", 1, u"|Min lat"},
                 {u"-Titel", 1, u"|Titel"},
                 {u"A--B", 2, u"|B"},
                 {u"_Band_-_Låt_", 1, u"Band|Låt"},
                 {u" utan streck ", 2, u"| utan streck "},
                 {u"En_mycket_lång_titel_utan_streck_alls", 1, u"|En mycket lång titel utan stre"},
                 {u"123456789012345678901234567890123 - 123456789012345678901234567890123", 1,
                  u"123456789012345678901234567890|123456789012345678901234567890"},
                 // As a Mac writes it: letters and combining marks, taken as the letters they make.
                 {u"A\u030asa O\u0308berg - La\u030at", 1, u"Åsa Öberg|Låt"}};
    for (const auto& c : cases)
        dir.write(QString::fromUtf16(c.name) + u".mp3"_s, audio(40));
    dir.write(u"Ω - Sång.mp3"_s, audio(40) + trailer("T", "A", "", "", "", 1));
    list();
    for (const auto& c : cases) {
        const QString file = QString::fromUtf16(c.name) + u".mp3"_s;
        folder.setSplit(c.split);
        EXPECT_TRUE(folder.writeField(Typ::Filnamn, only({file}), {}, seen).messages.empty());
        EXPECT_EQ(rowOf(file).artist + u'|' + rowOf(file).title,
                  QString::fromUtf16(c.artistAndTitle))
            << file.toStdString() << ' ' << c.split;
    }
    // Letters no tag can hold refuse the file.
    const Files before = files();
    EXPECT_EQ(folder.writeField(Typ::Filnamn, only({u"Ω - Sång.mp3"_s}), {}, seen).messages,
              notWritten({u"Ω - Sång.mp3 (tecken som en tagg inte kan lagra)"_s}));
    EXPECT_EQ(files(), before);
}

TEST_F(Commands, FilesThatCannotBeWrittenAreNamedInOneMessageOnceTheRunIsOver) {
    const QByteArray tagged = audio(200) + trailer("T", "A", "", "", "", 17);
    for (int i = 0; i < 23; ++i)
        dir.write(numbered(u"f%1.mp3", i, 2), tagged);
    dir.write(u"ok.mp3"_s, tagged);
    list();
    Rows expected = rows();
    const ReadOnly locked(dir.file(u"f00.mp3"_s));
    ASSERT_TRUE(locked.effective());
    QStringList named = {u"f00.mp3 (skrivskyddad eller låst)"_s};
    for (int i = 1; i < 23; ++i) {
        QFile::remove(dir.file(numbered(u"f%1.mp3", i, 2)));
        if (i < 20)
            named << numbered(u"f%1.mp3 (finns inte)", i, 2);
    }
    EXPECT_EQ(folder.writeField(Typ::Titel, all(), {.title = u"Ny"_s}, seen).messages,
              notWritten(named << u"... och 3 filer till."_s));
    EXPECT_EQ(files(), (Files{{u"f00.mp3"_s, tagged},
                              {u"ok.mp3"_s, withField(tagged, kTitleAt, 30, "Ny")}}));
    expected[u"ok.mp3"_s] = fresh().at(u"ok.mp3"_s);
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(seen.seen.mid(seen.seen.size() - 4),
              (QStringList{u"value 24"_s, u"Sparar ok.mp3"_s, u"value 0"_s, u"Klar"_s}));

    // An empty list reports no maximum, which would turn the bar into a busy indicator.
    const TempFolder empty;
    list(empty.path());
    folder.writeField(Typ::Album, {}, {}, seen);
    EXPECT_EQ(seen.seen, (QStringList{u"value 0"_s, u"value 0"_s, u"Klar"_s}));
}

TEST_F(Commands, SaveWritesTheEditorKeepingFieldsLeftAsShownAndRenamesOnlyOnOk) {
    start({{u"Gammal.mp3"_s, kGammal}});
    write::EditorValues editor = shownIn(folder.row(0));
    editor.title = u"Ny titel"_s;
    const QByteArray saved = withField(kGammal, kTitleAt, 30, "Ny titel");
    app::Outcome o = folder.save(0, editor, u"Gammal"_s);
    EXPECT_TRUE(o.messages.empty() && o.typingWritten && boxes.shown.empty());
    expectFolder({{u"Gammal.mp3"_s, saved}});

    boxes.answers = {Answer::Cancel};
    EXPECT_TRUE(folder.save(0, editor, u"Ny"_s).typingWritten);
    EXPECT_EQ(boxes.shown,
              (std::vector<Shown>{{u"Ändra filnamn?"_s,
                                   u"Vill du ändra filnamnet från Gammal.mp3 till Ny.mp3 ?"_s,
                                   Icon::None, platform::MessageBoxes::Buttons::OkCancel}}));
    EXPECT_EQ(files(), (Files{{u"Gammal.mp3"_s, saved}}));
    boxes.answers = {Answer::Ok};
    EXPECT_TRUE(folder.save(0, editor, u"Ny"_s).messages.empty());
    EXPECT_EQ(files(), (Files{{u"Ny.mp3"_s, saved}}));
    folder.save(0, editor, u"ny"_s);  // the letter case alone is a new name too
    expectFolder({{u"ny.mp3"_s, saved}});

    // A genre chosen is written as chosen; an emptied one as none.
    editor.genre = u"Rock"_s;
    folder.save(0, editor, u"ny"_s);
    EXPECT_EQ(bytes(u"ny.mp3"_s).back(), '\x11');
    editor.genre.clear();
    folder.save(0, editor, u"ny"_s);
    EXPECT_EQ(bytes(u"ny.mp3"_s), withField(saved, kGenreAt, 1, "\xff"));

    // A file that cannot be written is named, and nothing is asked.
    boxes.shown.clear();
    {
        const ReadOnly locked(dir.file(u"ny.mp3"_s));
        ASSERT_TRUE(locked.effective());
        o = folder.save(0, {.title = u"X"_s}, u"Annat"_s);
    }
    EXPECT_EQ(o.messages, error(u"Filen är skrivskyddad!"_s));
    EXPECT_FALSE(o.typingWritten);
    QFile::remove(dir.file(u"ny.mp3"_s));
    EXPECT_EQ(folder.save(0, {.title = u"X"_s}, u"Annat"_s).messages,
              notWritten({u"ny.mp3 (finns inte)"_s}));
    EXPECT_TRUE(boxes.shown.empty() && files().empty());
    EXPECT_EQ(folder.row(0).title, u"Ny titel"_s);

    // Another program's change since the listing is shown, and the typing is kept.
    const QByteArray tagged = audio(300) + trailer("T", "A", "Alb", "1999", "K", 17);
    const std::pair<QString, QByteArray> changes[] = {
        {u"a.mp3"_s, audio(300) + trailer("Annan", "B", "", "", "", 13)},  // rewritten
        {u"b.mp3"_s, tagged},                                              // appended
        {u"c.mp3"_s, audio(100)},                                          // cut
    };
    for (const auto& [name, now] : changes) {
        start({{u"a.mp3"_s, tagged}, {u"b.mp3"_s, audio(300)}, {u"c.mp3"_s, tagged}});
        writeAll(dir.file(name), now);
        o = folder.save(row(name), {.artist = u"Ny"_s}, name.chopped(4));
        EXPECT_EQ(o.messages, notWritten({name + u" (ändrad sedan listan lästes)"_s}));
        EXPECT_FALSE(o.typingWritten);
        EXPECT_EQ(bytes(name), now);
        EXPECT_EQ(rows(), fresh());
        EXPECT_TRUE(folder.save(row(name), {.artist = u"Ny"_s}, name.chopped(4)).typingWritten);
    }
}

TEST_F(Commands, Utf8TagsShowAsTheirTextAndKeepTheirBytesUntilTheUserChangesThem) {
    // "Ã¥" typed in Windows-1252 reads as UTF-8 too.
    const QByteArray u = audio(300) + trailer("\xC3\xA5", kAsa, "Album", "", "", 17, '\0');
    const QByteArray v = audio(300) + trailer("Titel", "Annan", "", "", "", 17);
    const QByteArray w = audio(300) + trailer("x", kAsa, "", "", "", 17);
    const QByteArray z = audio(300) + trailer("", "Zorn", "", "", "", 1);
    const QStringList three = {u"u.mp3"_s, u"v.mp3"_s, u"Åsa Öberg - Vals.mp3"_s};
    start({{three[0], u}, {three[1], v}, {three[2], w}, {u"z.mp3"_s, z}});
    folder.sortBy(1);  // the other way round from the last sort: descending, as Swedish sorts
    QStringList artists;
    for (const browse::Row& r : folder.rows())
        artists << browse::shownText(r.artist);
    EXPECT_EQ(artists, (QStringList{u"Åsa Öberg"_s, u"Åsa Öberg"_s, u"Zorn"_s, u"Annan"_s}));
    EXPECT_EQ(browse::shownText(rowOf(three[0]).title), u"å"_s);

    // A field command writes Windows-1252 only where a file shows something else.
    folder.writeField(Typ::Artist, only(three), {.artist = u"Åsa Öberg"_s}, seen);
    folder.setSplit(1);
    folder.writeField(Typ::Filnamn, only({three[2]}), {}, seen);
    EXPECT_EQ(files(), (Files{{three[0], u},
                              {three[1], withField(v, kArtistAt, 30,
                                                   "\xC5sa \xD6"
                                                   "berg")},
                              {three[2], withField(w, kTitleAt, 30, "Vals")},
                              {u"z.mp3"_s, z}}));

    // So does a save: the fields left as shown keep their bytes.
    write::EditorValues editor = shownIn(rowOf(three[0]));
    editor.album = u"Nytt"_s;
    EXPECT_TRUE(folder.save(row(three[0]), editor, u"u"_s).messages.empty());
    EXPECT_EQ(bytes(three[0]), withField(u, kAlbumAt, 30, "Nytt"));
    editor.title = u"åł"_s;  // Windows-1252 has no ł
    EXPECT_EQ(folder.save(row(three[0]), editor, u"u"_s).messages,
              notWritten({u"u.mp3 (tecken som en tagg inte kan lagra)"_s}));
    EXPECT_EQ(bytes(three[0]), withField(u, kAlbumAt, 30, "Nytt"));
    EXPECT_EQ(browse::shownText(rowOf(three[0]).title), u"å"_s);
}

// The rename procedure's messages, from "&Spara tag" after OK and from the rename button.
TEST_F(Commands, ARefusedRenameSaysWhyAndKeepsTheName) {
    const QString badName = u"Felaktigt filnamn|Det filnamnet var inte bra"_s,
                  access = u"Fil/mapp åtkomstfel|Kunde inte byta filnamn"_s,
                  exists = u"Fel|Det filnamnet finns redan"_s,
                  gone = u"Fel!|Ett fel av typen 53 inträffade"_s;
    enum Before { Nothing, FolderLocked, FileGone };
    const struct {
        QString name;
        Before before;
        QString onSave, onRename;  // the message's title and first sentence
    } cases[] = {
        {u"Finns"_s, Nothing, exists, exists},  // "Finns.MP3" has it
        {u"a?b"_s, Nothing, badName, badName},
        {u""_s, Nothing, badName, badName},  // would be the hidden file ".mp3"
        {u".dold"_s, Nothing, badName, badName},
        {u"con"_s, Nothing, access, access},
        {u"Ny"_s, FolderLocked, u"Fel|Filen är skrivskyddad"_s, access},
        {u"Ny"_s, FileGone, gone, gone},
    };
    const QByteArray saved = withField(kGammal, kTitleAt, 30, "Ny titel");
    for (const auto& c : cases) {
        for (const bool save : {true, false}) {
            SCOPED_TRACE(c.name.toStdString() + ' ' + std::to_string(int(c.before)) + ' ' +
                         std::to_string(save));
            start({{u"Gammal.mp3"_s, kGammal}, {u"Finns.MP3"_s, "F"}});
            const std::size_t g = row(u"Gammal.mp3"_s);
            write::EditorValues editor = shownIn(folder.row(g));
            editor.title = u"Ny titel"_s;
            std::optional<ReadOnly> locked;
            if (c.before == FolderLocked)
                locked.emplace(dir.path());
            const auto vanish = [&] {
                if (c.before == FileGone)
                    QFile::remove(dir.file(u"Gammal.mp3"_s));
            };
            boxes.whileShown = [&](const Shown&) { vanish(); };
            if (!save)
                vanish();
            const app::Outcome o = save ? folder.save(g, editor, c.name) : folder.rename(g, c.name);
            locked.reset();
            boxes.whileShown = nullptr;
            ASSERT_EQ(o.messages.size(), 1u);
            EXPECT_EQ(o.messages[0].title + u'|' +
                          o.messages[0].text.section(QRegularExpression(u"[.!]"_s), 0, 0),
                      save ? c.onSave : c.onRename);
            EXPECT_EQ(folder.row(g).name, u"Gammal"_s);
            EXPECT_EQ(browse::shownText(folder.row(g).title), save ? u"Ny titel"_s : u"Titel"_s);
            EXPECT_TRUE(save || folder.renameFailed());
            Files left = {{u"Finns.MP3"_s, "F"}};
            if (c.before != FileGone)
                left[u"Gammal.mp3"_s] = save ? saved : kGammal;
            EXPECT_EQ(files(), left);
        }
    }
}

TEST_F(Commands, ARenameReachesItsOwnFileAndTheRowFollows) {
    const QString odd = platform::decodeName("lat\xe5");
    const QString lookAlike = u"lat\xef\xbf\xbd.mp3"_s;  // what a lossy conversion makes of it
    const QString nfd = u"A\u030asa - La\u030at"_s, nfc = u"\u00c5sa - L\u00e5t"_s;
    const QByteArray upper = audio(400) + trailer("Stor", "S", "", "", "", 13);
    const QByteArray song = audio(300) + trailer("Låt", "Åsa", "", "", "", 1);
    start({{u"Dubbel.MP3"_s, upper},
           {u"Dubbel.mp3"_s, "lower"},
           {odd + u".mp3"_s, "odd"},
           {lookAlike, "look-alike"},
           {nfd + u".mp3"_s, song}});
    EXPECT_FALSE(folder.rename(row(u"Dubbel.MP3"_s), u"a?b"_s).messages.empty());
    EXPECT_TRUE(folder.rename(row(u"Dubbel.MP3"_s), u"Ny"_s).messages.empty());
    EXPECT_TRUE(folder.renameFailed());  // a success leaves an earlier failure's flag
    EXPECT_EQ(rowOf(u"Ny.mp3"_s).artist, u"S"_s);
    EXPECT_EQ(folder.undoText(), u"Ångra: Nytt filnamn till 1 fil"_s);
    folder.rename(row(odd + u".mp3"_s), odd + u" ny"_s);
    // Saved under the name as shown: nothing is asked and the file keeps its own name.
    EXPECT_EQ(browse::shownName(rowOf(nfd + u".mp3"_s)), nfc);
    write::EditorValues editor = shownIn(rowOf(nfd + u".mp3"_s));
    editor.album = u"Album"_s;
    folder.save(row(nfd + u".mp3"_s), editor, nfc);
    EXPECT_TRUE(boxes.shown.empty());
    folder.rename(row(nfd + u".mp3"_s), nfc + u" (ny)"_s);
    EXPECT_TRUE(folder.rename(folder.size(), u"x"_s).messages.empty());  // no current row
    expectFolder({{u"Ny.mp3"_s, upper},
                  {u"Dubbel.mp3"_s, "lower"},
                  {odd + u" ny.mp3"_s, "odd"},
                  {lookAlike, "look-alike"},
                  {nfc + u" (ny).mp3"_s, withField(song, kAlbumAt, 30, "Album")}});
    // Its old name taken by another file since, the renamed file keeps its name on undo.
    dir.write(nfd + u".mp3"_s, "annan");
    EXPECT_EQ(folder.undo(seen).messages,
              notWritten({nfc + u" (ny).mp3 (namnet är upptaget)"_s}, true));
    EXPECT_EQ(bytes(nfd + u".mp3"_s), "annan");

    // The whole tag and a new name for one of two files alike but for their ending, and back.
    start({{u"Dubbel.MP3"_s, upper}, {u"Dubbel.mp3"_s, "lower"}});
    boxes.answers = {Answer::Ok};
    folder.save(row(u"Dubbel.MP3"_s), {.artist = u"Ny"_s}, u"Ny"_s);
    EXPECT_EQ(boxes.shown.at(0).text, u"Vill du ändra filnamnet från Dubbel.mp3 till Ny.mp3 ?"_s);
    EXPECT_EQ(bytes(u"Ny.mp3"_s).left(400), upper.left(400));
    EXPECT_TRUE(folder.undo(seen).messages.empty());
    expectFolder({{u"Dubbel.MP3"_s, upper}, {u"Dubbel.mp3"_s, "lower"}});
}

TEST_F(Commands, NamesFromTagsRenameTheSelectedFilesAndGoOnAfterAFailure) {
    const struct {
        const char* file;
        QByteArray tag;  ///< the trailer, or nothing
        bool selected;
        QString after;
    } cases[] = {
        {"r0", trailer("Back in Black", "AC/DC", "", "", "", 1), true, u"ACDC - Back in Black"_s},
        {"r1", trailer("Intro", "", "", "", "", 1), true, u"Intro"_s},
        {"r2", {}, true, u"r2"_s},  // nothing to name it by
        {"r3", trailer("vald", "Ej", "", "", "", 1), false, u"r3"_s},
        {"r4", trailer("Back in Black", "AC/DC", "", "", "", 1), true, u"r4"_s},  // taken
        {"r5", trailer("", "??", "", "", "", 1), true, u"r5"_s},    // nothing left of it
        {"r6", trailer("T", "", "", "", "", 1), true, u"  - T"_s},  // a blank is text
        {"r7", trailer("", "a\"b\\c/d:e*f?g<h>i|j", "", "", "", 1), true, u"abcdefghij"_s},
        {"r8", trailer("T", QByteArray("A\0skr\xe4p", 7), "", "", "", 1), true, u"A - T"_s},
        {"r9", trailer(QByteArray("\0y", 2), QByteArray("\0x", 2), "", "", "", 1), true, u"r9"_s},
        {"s0", trailer("\xC3\xA5", "\xC3\x85sa", "", "", "", 1), true, u"Åsa - å"_s},
        {"s1", trailer("", "Solo", "", "", "", 1), true, u"Solo"_s},
    };
    const auto mp3 = [](const char* file) { return QString::fromLatin1(file) + u".mp3"_s; };
    Files before = {{u"r4.MP3"_s, "alike but for its ending"}};
    for (const auto& c : cases)
        before[mp3(c.file)] = QByteArray(c.file) + c.tag;
    start(before);
    folder.rename(row(u"r4.MP3"_s), u"?"_s);
    ASSERT_TRUE(folder.renameFailed());
    folder.writeField(Typ::Artist, only({u"r6.mp3"_s}), {.artist = u" "_s}, seen);
    before[u"r6.mp3"_s] = bytes(u"r6.mp3"_s);
    app::Folder::Selection selected(folder.size(), false);
    for (const auto& c : cases)
        selected[row(mp3(c.file))] = c.selected;

    const Messages messages = folder.namesFromTags(selected).messages;
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text,
              u"Det filnamnet finns redan! Det går inte att ha två filer med samma namn."_s);
    EXPECT_EQ(messages[1].title, u"Felaktigt filnamn"_s);
    EXPECT_FALSE(folder.renameFailed());
    Files after = {{u"r4.MP3"_s, "alike but for its ending"}};
    for (const auto& c : cases)
        after[c.after + u".mp3"_s] = before.at(mp3(c.file));
    EXPECT_EQ(files(), after);
    Rows listed = fresh();
    listed.at(u"  - T.mp3"_s).first.artist = u" "_s;  // a listing trims what the row was given
    EXPECT_EQ(rows(), listed);
}

// Every kind of command taken back byte for byte, newest first, the twenty newest only, across
// a new listing of the same folder; another folder forgets them.
TEST_F(Commands, UndoTakesBackEveryKindOfCommandNewestFirstUpToTwenty) {
    start({{u"Anna - Ett.mp3"_s, audio(500) + trailer("T", "A", "Al", "1999",
                                                      QByteArray(28, '\0') + "\x01\x05", 0, '\0')},
           {u"Bo - Två.mp3"_s, audio(300)},
           {u"Cia - Tre.mp3"_s, audio(50)}});
    std::vector<Files> before;
    const auto step = [&](auto&& command) {
        before.push_back(files());
        command();
    };
    const auto field = [&](Typ typ, write::EditorValues editor) {
        step([&] { EXPECT_TRUE(folder.writeField(typ, all(), editor, seen).messages.empty()); });
    };
    field(Typ::Album, {.album = u"Tappas"_s});  // the 21st from the newest: dropped
    field(Typ::Artist, {.artist = u"Fel artist"_s});
    field(Typ::Titel, {.title = u"Fel titel"_s});
    field(Typ::Album, {.album = u"Fel album"_s});
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
    step([&] { folder.rename(row(u"Bo - Två.mp3"_s), u"Bosse"_s); });
    step([&] { folder.namesFromTags(all()); });  // "Cia - Tre" has its tag's name already
    for (int i = 1; i <= 10; ++i)
        field(Typ::Kommentarer, {.comment = u"Nr %1"_s.arg(i)});
    ASSERT_EQ(before.size(), 21u);
    EXPECT_EQ(folder.undoText(), u"Ångra: Kommentarer till 3 filer"_s);

    for (std::size_t level = before.size() - 1; level >= 1; --level) {
        seen.seen.clear();
        EXPECT_TRUE(folder.undo(seen).messages.empty()) << level;
        ASSERT_EQ(files(), before[level]) << "undo to before command " << level;
        ASSERT_EQ(rows(), fresh()) << level;
        EXPECT_EQ(seen.seen.back(), u"Klar"_s);
    }
    EXPECT_TRUE(folder.undoText().isEmpty());
    EXPECT_TRUE(folder.undo(seen).messages.empty());
    EXPECT_NE(files(), before[0]);

    folder.writeField(Typ::Album, all(), {.album = u"Kvar"_s}, seen);
    const TempFolder other;
    list(other.path());
    EXPECT_TRUE(folder.undoText().isEmpty());
}

// Files changed since, gone, locked or meeting a full disk are named and left as they are; the
// others come back all the same. Many files at a time or each one by one (as when no descriptor is
// free for a batch), undo leaves the same bytes, messages, reports and rows.
TEST_F(Commands, UndoNamesTheFilesItLeftAloneAndRestoresTheOthersInBatchesOrOneByOne) {
    const auto name = [](int i) { return numbered(u"fil %1.mp3", i); };
    Files original;
    for (int i = 0; i < 300; ++i)
        original[name(i)] = audio(200 + i) + (i % 3 ? trailer("T", "A", "", "", "", i % 256) : "");
    std::optional<std::tuple<QStringList, Rows>> first;
    for (const bool oneByOne : {false, true}) {
        start(original);
        folder.writeField(Typ::Artist, all(), {.artist = u"Ny"_s}, seen);
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
        EXPECT_EQ(rows().at(name(1)).first.artist + rows().at(name(10)).first.artist, u"ANy"_s);
        if (!first)
            first.emplace(seen.seen, rows());
        EXPECT_TRUE(*first == std::tuple(seen.seen, rows()));
    }
}

TEST(Journal, RecordsAreBoundedTo64MegabytesOldestFirst) {
    write::Journal journal;
    for (int i = 0; i < 12; ++i) {
        write::Command c{u"Nr %1"_s.arg(i), {}};
        c.files.resize(20000);
        for (auto& f : c.files)
            f.nameBefore = f.nameAfter = QString(100, u'x');
        journal.push(std::move(c));
    }
    EXPECT_LE(journal.bytes(), write::kMostJournalBytes);
    EXPECT_GT(journal.bytes(), write::kMostJournalBytes / 2);
    EXPECT_LT(journal.size(), 12u);
    EXPECT_EQ(journal.undoText(), u"Ångra: Nr 11 till 20000 filer"_s);
}

// No command records one file twice, nor renames among many tag writes; the journal takes such a
// record back all the same, newest first.
TEST_F(Commands, TheJournalTakesBackFilesWrittenTwiceAndRenamesAmongTagWrites) {
    for (int i = 0; i < 200; ++i) {
        dir.write(numbered(u"fil %1.mp3", i),
                  audio(200 + i) + (i % 3 ? trailer("T", "A", "", "", "", 1) : QByteArray()));
    }
    list();
    const Files before = files();
    std::vector<browse::Row> rows = folder.rows();
    write::Command c{u"Artist"_s, {}};
    const auto write = [&](const QString& artist) {
        write::spara_tag(fs, Typ::Artist, rows, all(), dir.path(), {.artist = artist}, 0, seen, &c);
    };
    write(u"Ett"_s);
    write(u"Två"_s);
    // One of them to the name another gave up.
    for (const auto& [i, to] :
         std::vector<std::pair<int, QString>>{{100, u"x"_s}, {150, u"fil 100"_s}, {180, u"y"_s}}) {
        const QString from = browse::fileName(rows[i]);
        ASSERT_EQ(platform::renameMp3(fs, dir.path(), from, to), code::kOk);
        write::recordRename(fs, c, dir.path(), from, to + u".mp3"_s);
        browse::setFileName(rows[i], to + u".mp3"_s);
    }
    write(u"Tre"_s);
    write::Journal journal;
    journal.push(std::move(c));
    EXPECT_TRUE(journal.undo(fs, dir.path(), rows, seen).failures.empty());
    EXPECT_EQ(files(), before);
}

// The rule of the editor's tag fields, which is all that keeps a character no tag can hold out
// of what a save is given.
TEST(EditorText, DropsWhatATagCannotHoldAndKeepsTheCursorOnItsCharacter) {
    const auto drop = [](const char16_t* text, int cursor, const char16_t* filled = u"") {
        QString s = QString::fromUtf16(text);
        const int dropped = write::dropUnholdable(s, cursor, QString::fromUtf16(filled));
        return std::tuple(s, cursor, dropped);
    };
    // Ω and the emoji (two UTF-16 units) have no byte in Windows-1252; é and € have.
    for (const auto& [before, after] : {std::pair{2, 1}, std::pair{7, 4}, std::pair{0, 0}})
        EXPECT_EQ(drop(u"aΩbé€😀c", before), std::tuple(u"abé€c"_s, after, 3));
    EXPECT_EQ(drop(u"Åsa", 1), std::tuple(u"Åsa"_s, 1, 0));
    // What the row filled in stays; a character beyond the BMP is kept or dropped whole.
    EXPECT_EQ(drop(u"Łódź😀!ł😁", 10, u"Łódź😀"), std::tuple(u"Łódź😀!"_s, 7, 3));
}

// What every file's trailer holds before the import: the fields a tag lacks keep these.
QByteArray kept(const QByteArray& title = "Gammal titel",
                const QByteArray& artist = "Gammal artist",
                const QByteArray& album = "Gammalt album", const QByteArray& year = "1970",
                const QByteArray& comment = "Gammal kommentar", unsigned char genre = 17) {
    return trailer(title, artist, album, year, comment, genre);
}

/// Text frames in ISO-8859-1 of an ID3v2 tag of `version`, from "ID=text|ID=text".
QByteArray latin1(int version, const QString& frames) {
    QByteArray body;
    const int idSize = version == 2 ? 3 : 4;
    for (const QString& f : frames.split(u'|')) {
        body += id3::frame(version, f.left(idSize).toLatin1().constData(),
                           id3::text(id3::Enc::Latin1, f.mid(idSize + 1)));
    }
    return body;
}

TEST_F(Commands, ImportWritesExactlyWhatTheOtherTagGivesAndUndoPutsItBack) {
    using namespace sorvel::test::id3;
    const QString longTitle = u"En titel som är längre än trettio tecken"_s;
    const auto utf16 = [](const char* id, const QString& s) {
        return frame(3, id, text(Enc::Utf16Bom, s));
    };
    const auto utf8 = [](const char* id, const QString& s) {
        return frame(4, id, text(Enc::Utf8, s));
    };
    const struct {
        const char* name;
        QByteArray head;   ///< before the audio
        QByteArray after;  ///< the trailer after the import; empty: the file stays as it was
        QByteArray tail = kept();  ///< after the audio
    } cases[] = {
        {"v22.mp3",
         id3v2(2, latin1(2, u"TT2=Titel 22|TP1=Artist 22|TAL=Album 22|TYE=1998|TCO=(17)"_s) +
                      frame(2, "COM", comment(Enc::Latin1, {}, u"Kommentar 22"_s))),
         trailer("Titel 22", "Artist 22", "Album 22", "1998", "Kommentar 22", 17)},
        {"v23-utf16.mp3",
         id3v2(3, utf16("TIT2", u"Räksmörgås – ”citat”"_s) + utf16("TPE1", u"Åsa"_s) +
                      frame(3, "COMM", comment(Enc::Utf16Bom, u"iTunNORM"_s, u" 0000"_s)) +
                      frame(3, "COMM", comment(Enc::Utf16Bom, {}, u"Rätt kommentar"_s)) +
                      latin1(3, u"TYER=2003|TCON=(9)Metal"_s) + QByteArray(100, '\0')),
         kept("R\xe4ksm\xf6rg\xe5s \x96 \x94"
              "citat\x94",
              "\xc5sa", "Gammalt album", "2003", "R\xe4tt kommentar", 9)},
        {"v24-utf8-no-trailer.mp3",
         id3v2(4, utf8("TIT2", longTitle) + utf8("TDRC", u"2004-05-01"_s) + utf8("TCON", u"8"_s)),
         trailer(longTitle.left(30).toLatin1(), "", "", "2004", "", 8), QByteArray()},
        {"unsynchronised.mp3",
         id3v2(3, unsynchronised(latin1(3, u"TIT2=ÿÿ Smörgåsÿ|TCON=dISCO"_s)), kUnsynchronised),
         kept("\xff\xff Sm\xf6rg\xe5s\xff", "Gammal artist", "Gammalt album", "1970",
              "Gammal kommentar", 4)},
        {"extended-header.mp3",
         id3v2(4, syncsafe(6) + "\x01" + '\0' + latin1(4, u"TALB=Album X"_s), kExtendedHeader),
         kept("Gammal titel", "Gammal artist", "Album X")},
        {"footer.mp3", id3v2(4, latin1(4, u"TPE1=Med fot"_s), kFooter),
         kept("Gammal titel", "Med fot")},
        {"picture.mp3",
         id3v2(4, frame(4, "APIC", picture(5 << 20)) + latin1(4, u"TIT2=Efter bilden"_s)),
         kept("Efter bilden")},
        // The frames that are whole are read; the size points far past the end of the file.
        {"larger-than-file.mp3", id3v2(3, latin1(3, u"TIT2=Stor"_s), 0, 50'000'000), kept("Stor")},
        // The artist frame runs past the end of its tag: it is not read.
        {"cut-short.mp3",
         id3v2(3, latin1(3, u"TIT2=Hel"_s) + latin1(3, u"TPE1=Avkortad artist"_s).left(16)),
         kept("Hel")},
        {"ape.mp3", QByteArray(),
         trailer("Ape titel", "Ape artist", "Ape album", "2010", "Ape kommentar", 8),
         ape({{"Title", u"Ape titel"_s},
              {"Artist", u"Ape artist"_s},
              {"Album", u"Ape album"_s},
              {"Year", u"2010"_s},
              {"Comment", u"Ape kommentar"_s},
              {"Genre", u"jazz"_s}}) +
             kept()},
        // The year is not among what the panel compares.
        {"same-but-year.mp3",
         id3v2(3,
               latin1(3, u"TPE1=Gammal artist|TIT2=Gammal titel|TALB=Gammalt album|TYER=2020"_s)),
         kept("Gammal titel", "Gammal artist", "Gammalt album", "2020")},
        {"no-tag.mp3", QByteArray(), QByteArray()},
        {"not-selected.mp3", id3v2(4, latin1(4, u"TIT2=Inte vald"_s)), QByteArray()},
        {"outside-1252.mp3", id3v2(4, utf8("TIT2", u"Ωmega"_s) + utf8("TPE1", u"Går att skriva"_s)),
         QByteArray()},
    };
    // The genre is taken by number or by name from the table, and nothing else.
    const std::pair<const char*, int> genres[] = {
        {"(17)", 17}, {"17", 17},   {"(17)Rock", 17}, {"rOCK", 17},  {"Blues", 0},
        {"(0)", 0},   {"115", 115}, {"116", -1},      {"(200)", -1}, {"Hyperpop", -1},
        {"", -1},     {"(17", -1},  {"17a", -1},      {"-1", -1},    {"()", -1},
    };
    Files before, after;
    for (const auto& c : cases) {
        const QByteArray b = before[QString::fromLatin1(c.name)] = c.head + audio(4000) + c.tail;
        after[QString::fromLatin1(c.name)] =
            c.after.isEmpty() ? b : (c.tail.isEmpty() ? b : b.chopped(128)) + c.after;
    }
    for (std::size_t i = 0; i < std::size(genres); ++i) {
        const QString name = u"genre %1.mp3"_s.arg(i);
        before[name] =
            id3v2(4, latin1(4, u"TIT2=T|TCON="_s + QString::fromLatin1(genres[i].first))) +
            audio(100) + trailer("T", "A", "", "", "", 50);
        after[name] = withField(before[name], kGenreAt, 1,
                                QByteArray(1, char(genres[i].second >= 0 ? genres[i].second : 50)));
    }
    start(before);
    const auto other = [&](const char* file) {
        return folder.otherTagText(row(QString::fromLatin1(file)));
    };
    EXPECT_EQ(QStringList({other("v22.mp3"), other("ape.mp3"), other("same-but-year.mp3"),
                           other("no-tag.mp3")}),
              QStringList({u"ID3v2 (skiljer sig från tag): Artist 22 – Titel 22 – Album 22"_s,
                           u"APEv2 (skiljer sig från tag): Ape artist – Ape titel – Ape album"_s,
                           u"ID3v2: Gammal artist – Gammal titel – Gammalt album"_s, QString()}));
    app::Folder::Selection selected = all();
    selected[row(u"not-selected.mp3"_s)] = false;

    EXPECT_EQ(folder.importOtherTags(selected, seen).messages,
              (Messages{{u"Fel"_s,
                         u"Följande filer kunde inte skrivas:\noutside-1252.mp3 (tecken som en "
                         u"tagg inte kan lagra)\n\n1 fil saknar ID3v2- och APEv2-tag och "
                         u"lämnades som den var."_s,
                         Icon::Critical}}));
    expectFolder(after, {u"genre 4.mp3"_s, u"genre 5.mp3"_s});
    // Once written, what the panel shows is what the trailer holds, as far as it can hold it.
    EXPECT_EQ(other("v22.mp3") + u'|' + other("v24-utf8-no-trailer.mp3"),
              u"ID3v2: Artist 22 – Titel 22 – Album 22|ID3v2: "_s + longTitle);
    EXPECT_EQ(folder.undoText(), u"Ångra: Tag från ID3v2 till %1 filer"_s.arg(
                                     std::size(cases) + std::size(genres) - 3));

    // Nothing to take from is no failure, and nothing to take back.
    EXPECT_EQ(folder.importOtherTags(only({u"no-tag.mp3"_s}), seen).messages,
              (Messages{{u"Tag från ID3v2"_s,
                         u"1 fil saknar ID3v2- och APEv2-tag och lämnades som den var."_s,
                         Icon::Information}}));
    EXPECT_TRUE(folder.undo(seen).messages.empty());
    EXPECT_EQ(files(), before);
    EXPECT_TRUE(folder.undoText().isEmpty());
}

// A Shift+Delete deletes for good once the user agrees; any other press sends the file to the
// desktop's trash. Either reaches the file itself, never its look-alikes.
TEST_F(Commands, DeleteAsksBeforeDeletingForGoodAndOtherwiseUsesTheTrash) {
    enum Before { Nothing, FileGone, FolderLocked };
    const struct {
        std::vector<int> modes;  // Shift is 1, Ctrl 2, Alt 4
        Before before;
        Answer answer;
        std::tuple<bool, bool, bool, bool, QString> after;  // file, trashed, row, list again, text
    } cases[] = {
        {{1}, Nothing, Answer::Cancel, {true, false, true, false, {}}},
        {{1}, Nothing, Answer::Ok, {false, false, false, false, {}}},
        {{0, 2, 3, 4, 5}, Nothing, Answer::Ok, {false, true, false, false, {}}},
        {{0},
         FileGone,
         Answer::Ok,
         {false, false, true, false, u"Det gick inte att radera filen."_s}},
        {{1}, FileGone, Answer::Ok, {false, false, true, true, u"Filen hittades inte."_s}},
        {{1}, FolderLocked, Answer::Ok, {true, false, true, true, {}}},
    };
    const QString lookAlike = u"lat\xef\xbf\xbd 0.MP3"_s;
    dir.write(lookAlike, "look-alike");
    int i = 0;
    for (const auto& c : cases) {
        for (const int mode : c.modes) {
            SCOPED_TRACE(i);
            const QString base = platform::decodeName("lat\xe5 ") + QString::number(i++);
            const QString file = dir.write(base + u".MP3"_s, "ljud");
            dir.write(base + u".mp3"_s, "alike but for its ending");
            list();
            const std::size_t r = row(base + u".MP3"_s);
            folder.setDeleteMode(mode);
            boxes.answers = {c.answer};
            if (c.before == FileGone)
                ::unlink(platform::encodeName(file).constData());
            std::optional<ReadOnly> locked;
            if (c.before == FolderLocked)
                locked.emplace(dir.path());
            const app::Outcome o = folder.remove(r);
            locked.reset();
            const auto& [fileLeft, inTrash, rowLeft, listAgain, text] = c.after;
            EXPECT_EQ(std::tuple(present(file),
                                 present(desktopHome() + u"data/Trash/files/"_s + base + u".MP3"_s),
                                 rows().count(base + u".MP3"_s) == 1, o.listAgain, o.messages),
                      std::tuple(fileLeft, inTrash, rowLeft, listAgain,
                                 text.isEmpty() ? Messages{} : error(text)));
            std::vector<Shown> asked;
            if (mode == 1) {
                asked.push_back({u"Bekräfta borttagning av fil"_s,
                                 u"Är du säker på att du vill radera \""_s + base + u".mp3\" ?"_s,
                                 Icon::None, platform::MessageBoxes::Buttons::OkCancel});
            }
            EXPECT_EQ(boxes.shown, asked);
            EXPECT_EQ(events.seen, (rowLeft ? QStringList()
                                            : QStringList{u"removing %1"_s.arg(r), u"removed"_s}));
            EXPECT_EQ(bytes(base + u".mp3"_s) + bytes(lookAlike),
                      "alike but for its endinglook-alike");
        }
    }
    // Without a row nothing is asked or deleted, and the list is read again.
    folder.setDeleteMode(1);
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
