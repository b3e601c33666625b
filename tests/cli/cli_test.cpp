// The command-line program as a script runs it: the real executable on real files.

#include "platform/filesystem.h"
#include "support/files.h"
#include "support/other_tags.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QProcess>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace sorvel::test {
namespace {

struct Case {
    const char* args;  // after the program, as a shell reads them
    int status;
    const char* out;     // its lines in any order; null: not compared
    const char* err;     // found in standard error
    const char* listed;  // a line `list .` then prints; null: no file changed
    const char* lang = "sv_SE.UTF-8";
};

// An ESC sequence in a tag, a tab and an undefined Windows-1252 byte, a name that is not UTF-8
// and holds a newline: each line must still be one line that moves nothing.
const char* const kOddName = "bad\xFF\nname.mp3";
const char* const kAll =
    "./a - b.mp3\tA\tT\t\t2001\tRock\t\t\n./x.mp3\t\t\t\t\t\t\t\n./ro.mp3\t\t\t\t\t\t\t\n"
    "./v2.mp3\t\t\t\t\t\t\t\n./bad\\xFF\\nname.mp3\t\\x1B[2J\tt\\tq\\u0081\t\t\t\t\t\n";

const Case kCases[] = {
    {"list .", 0, kAll, "", nullptr},
    {"set artist=Zed year=1999 'a - b.mp3'", 0, "", "", "./a - b.mp3\tZed\tT\t\t1999\tRock\t"},
    {"set --dry-run artist=Zed genre= 'a - b.mp3'", 0,
     "a - b.mp3\ta - b.mp3\tZed\tT\t\t2001\t\t\t\n", "", nullptr},
    {"names-to-tags --split 1 'a - b.mp3'", 0, "", "", "./a - b.mp3\ta\tb\t\t2001\tRock\t"},
    {"names-to-tags --split=2 'a - b.mp3'", 0, "", "", "./a - b.mp3\ta\tb\t"},
    {"names-to-tags --dry-run --json x.mp3", 0,
     "{\"file\":\"x.mp3\",\"path\":\"x.mp3\",\"name\":\"x\",\"artist\":\"\",\"title\":\"x\","
     "\"album\":\"\",\"year\":\"\",\"genre\":\"\",\"comment\":\"\",\"track\":null}\n",
     "", nullptr},
    {"tags-to-names 'a - b.mp3' x.mp3", 0, "", "", "./A - T.mp3\tA\tT\t\t2001\tRock\t"},
    {"tags-to-names --dry-run ./*.mp3", 1, "./a - b.mp3\t./A - T.mp3\tA\tT\t\t2001\tRock\t\t\n",
     "sorvel-cli: ./bad\\xFF\\nname.mp3: ogiltigt filnamn\n", nullptr},
    {"from-v2 v2.mp3 x.mp3", 0, "", "1 fil saknar ID3v2- och APEv2-tag", "./v2.mp3\tVee\tTva\t"},
    // Named one line each, in the order of the arguments.
    {"set --dry-run comment=c \"$n\" x.mp3 sub.mp3 ro.mp3 none.mp3", 1, nullptr,
     "sorvel-cli: sub.mp3: ingen MP3-fil\nsorvel-cli: ro.mp3: skrivskyddad eller låst\n"
     "sorvel-cli: none.mp3: finns inte\n",
     nullptr},
    {"set --json comment=c none.mp3", 1, "", "{\"path\":\"none.mp3\",\"error\":\"finns inte\"}\n",
     nullptr},
    {"set comment=c \"$n\" ro.mp3", 1, "", "sorvel-cli: ro.mp3: skrivskyddad eller låst",
     "./bad\\xFF\\nname.mp3\t\\x1B[2J\tt\\tq\\u0081\t\t\t\tc"},
    {"set comment=c none.mp3 ro.mp3", 1, "",
     "sorvel-cli: none.mp3: no such file or folder\nsorvel-cli: ro.mp3: read-only or locked\n",
     nullptr, "C"},
    {"set --dry-run album=Abc \"$n\"", 0,
     "bad\\xFF\\nname.mp3\tbad\\xFF\\nname.mp3\t\\x1B[2J\tt\\tq\\u0081\tAbc\t\t\t\t\n", "",
     nullptr},
    {"list --json . | grep bad", 0,
     "{\"path\":\"./"
     "bad\\uDCFF\\nname.mp3\",\"name\":\"bad\\uDCFF\\nname\",\"artist\":\"\\u001B[2J\","
     "\"title\":\"t\\tq\\u0081\",\"album\":\"\",\"year\":\"\",\"genre\":\"\",\"comment\":\"\","
     "\"track\":null}\n",
     "", nullptr},
    {"set track=9 'a - b.mp3'", 0, "", "", "./a - b.mp3\tA\tT\t\t2001\tRock\t\t9"},
    {"set genre=0 x.mp3", 0, "", "", "./x.mp3\t\t\t\t\tBlues\t"},
    {"set genre=cLaSsIc\\ rOcK 'a - b.mp3'", 0, "", "", "./a - b.mp3\tA\tT\t\t2001\tClassic Rock"},
    {"genres | sed -n 18p", 0, "17\tRock\n", "", nullptr},
    {"set genre=116 x.mp3", 2, "", "Okänd genre: 116", nullptr},
    {"set year=19999 x.mp3", 2, "", "högst 4 tecken", nullptr},
    {"set track=256 x.mp3", 2, "", "Spåret är ett tal från 0 till 255: 256", nullptr},
    {"set track=256 x.mp3", 2, "", "The track is a number from 0 to 255: 256", nullptr, "C"},
    {"set band=Zed x.mp3", 2, "", "okänt fält: band", nullptr},
    {"set artist=Zed", 2, "", "Användning", nullptr},
    {"names-to-tags --split 5 x.mp3", 2, "", "--split", nullptr},
    {"list ''", 2, "", "en tom sökväg", nullptr},
    {"", 2, "", "Användning", nullptr},
    {"frob", 2, "", "sorvel-cli: okänt kommando: frob\n", nullptr},
    {"frob", 2, "", "sorvel-cli: unknown command: frob\nUsage", nullptr, "C"},
};

// The environment with LANG alone choosing the language of messages.
QProcessEnvironment language(const char* lang) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"LC_ALL"_s);
    env.remove(u"LC_MESSAGES"_s);
    env.insert(u"LANG"_s, QString::fromUtf8(lang));
    return env;
}

struct Ran {
    int status;
    QString out;
    QString err;
};

// `as` goes before the program: a command that runs it as another user.
Ran run(const TempFolder& dir, const QString& args, const char* lang = "sv_SE.UTF-8",
        const QString& as = {}) {
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setProcessEnvironment(language(lang));
    // The odd name in "$n", made by the shell: an argument list of text could not carry its byte.
    const QString script = u"n=\"$(printf 'bad\\377\\nname.mp3')\"; "_s + as + u" \"$0\" "_s + args;
    p.start(u"/bin/sh"_s, {u"-c"_s, script, QStringLiteral(SORVEL_CLI)});
    p.waitForFinished(-1);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QStringList lines(const QString& text) {
    QStringList l = text.split(u'\n', Qt::SkipEmptyParts);
    l.sort();
    return l;
}

TEST(Cli, EachCommandOnRealFiles) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args);
        TempFolder dir;
        dir.write(u"a - b.mp3"_s, audio(200) + trailer("T", "A", "", "2001", "", 17));
        dir.write(u"x.mp3"_s, audio(300));
        dir.write(u"ro.mp3"_s, audio(300));
        dir.write(u"v2.mp3"_s,
                  id3::id3v2(3, id3::frame(3, "TPE1", id3::text(id3::Enc::Latin1, u"Vee"_s)) +
                                    id3::frame(3, "TIT2", id3::text(id3::Enc::Latin1, u"Tva"_s))) +
                      audio(300));
        dir.write(platform::decodeName(kOddName),
                  audio(200) + trailer("t\tq\x81", "\x1B[2J", "", "", "", 255));
        ASSERT_TRUE(QDir().mkdir(dir.file(u"sub.mp3"_s)));
        const ReadOnly locked(dir.file(u"ro.mp3"_s));
        ASSERT_TRUE(locked.effective());
        const auto before = snapshot(dir.path());
        const Ran r = run(dir, QString::fromUtf8(c.args), c.lang);
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        if (c.out != nullptr) {
            EXPECT_EQ(lines(r.out), lines(QString::fromUtf8(c.out)));
        }
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.err))) << r.err.toStdString();
        if (c.listed == nullptr)
            EXPECT_EQ(snapshot(dir.path()), before);
        else
            EXPECT_TRUE(run(dir, u"list ."_s).out.contains(QString::fromUtf8(c.listed)));
    }
}

// A dry run prints exactly the rows that a listing shows after the real run, one for each file
// whose bytes would change and none for the others: a title cut at its width with a blank at the
// cut, Blues, a trailer appended with nothing but blanks, a v1.1 track and another program's
// leading blank kept, and an album stored as UTF-8 that already shows the text set.
TEST(Cli, ADryRunPrintsWhatTheListingShowsAfterTheRealRun) {
    const char* const kCommands[] = {
        "names-to-tags --split 1 ./*.mp3", "set genre=Blues comment= ./*.mp3",
        "set artist=Artist ./*.mp3",       "set track=0 ./*.mp3",
        "set album=Åsa ./*.mp3",
    };
    for (const char* command : kCommands) {
        SCOPED_TRACE(command);
        TempFolder dir;
        dir.write(u"A - abcdefghijklmnopqrstuvwxyz123 cut.mp3"_s, audio(200));
        dir.write(u"bare.mp3"_s, audio(300));
        const QByteArray v11 = QByteArray(" Hej").leftJustified(28) + '\0' + '\x09';
        dir.write(u"v11.mp3"_s, audio(200) + trailer("T", "Artist", "", "", v11, 0, '\0'));
        dir.write(u"utf8.mp3"_s, audio(200) + trailer("", "", "Åsa", "", "", 0));
        const auto before = snapshot(dir.path());
        const Ran dry = run(dir, QString::fromUtf8(command) + u" --dry-run"_s);
        EXPECT_EQ(snapshot(dir.path()), before);
        QStringList predicted;
        for (const QString& line : lines(dry.out))
            predicted << line.section(u'\t', 1);
        const Ran real = run(dir, QString::fromUtf8(command));
        EXPECT_EQ(std::pair(dry.status, dry.err), std::pair(real.status, real.err));
        const auto after = snapshot(dir.path());
        QStringList listed;
        for (const QString& line : lines(run(dir, u"list ."_s).out)) {
            const QString file = line.section(u'\t', 0, 0).mid(2);
            if (after.at(file) != before.at(file))
                listed << line;
        }
        EXPECT_EQ(predicted, listed);
    }
}

// A library as people keep it, walked whole: folders depth first in the window's order,
// each file once although a link leads back up, an NFD name and x.mp3 beside x.MP3 printed as
// their own bytes; the paths, fed back through --files-from, reach exactly those files.
TEST(Cli, ALibraryIsListedWholeAndItsPathsReachItsFilesAgain) {
    TempFolder dir;
    const QString nfd = u"Ab/Ett/A\u030Angel.mp3"_s;
    const QString files[] = {u"Ab/2.mp3"_s, u"Ab/Ett/x.MP3"_s, u"Ab/Ett/x.mp3"_s,
                             nfd,           u"b/y.mp3"_s,      u"Öl/z.mp3"_s};
    for (const QString& folder : {u"Ab/Ett"_s, u"b"_s, u"Öl"_s})
        ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
    QStringList listed;
    for (int i = 0; i < 6; ++i) {
        dir.write(files[i], audio(200 + i));
        listed << u"./"_s + files[i] + u"\t\t\t\t\t\t\t"_s;
    }
    ASSERT_EQ(::symlink("..", encodeName(dir.file(u"Ab/Ett/up"_s))), 0);
    const Ran all = run(dir, u"list -r ."_s);
    EXPECT_EQ(std::pair(all.status, all.err), std::pair(0, QString()));
    // Files come in the folder's own order, as the window lists them; the folders in Swedish.
    const QStringList lines = all.out.split(u'\n', Qt::SkipEmptyParts);
    QStringList folders;
    for (const QString& line : lines) {
        const QString folder = line.left(line.lastIndexOf(u'/'));
        if (folders.isEmpty() || folders.back() != folder)
            folders << folder;
    }
    EXPECT_EQ(folders.join(u' '), u"./Ab ./Ab/Ett ./b ./Öl"_s);
    listed.sort();
    EXPECT_EQ(test::lines(all.out), listed);
    const Ran named =
        run(dir, u"list -r . | cut -f1 | tr '\\n' '\\0' | \"$0\" list -0 --files-from -"_s);
    EXPECT_EQ(named.out.split(u'\n', Qt::SkipEmptyParts), lines);
    const auto before = snapshot(dir.path());
    const Ran set = run(dir, u"list -r . | cut -f1 | \"$0\" set comment=Z --files-from -"_s);
    EXPECT_EQ(std::pair(set.status, set.err), std::pair(0, QString()));
    const auto after = snapshot(dir.path());
    std::vector<QString> changed;
    for (const auto& [name, bytes] : after) {
        if (before.at(name) != bytes)
            changed.push_back(name);
    }
    std::vector<QString> expected(std::begin(files), std::end(files));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changed, expected);
    EXPECT_EQ(readAll(dir.file(nfd)).right(128).mid(97, 2), "Z ");
}

// What only a user without root's rights meets, run as one (nobody): a file that cannot be read
// is named in the user's language and fails the listing; a dry run of renames in a folder the
// user may not write agrees with the real run, which the folder refuses.
TEST(Cli, AnOrdinaryUserHearsOfWhatTheRightsRefuse) {
    QString as;
    if (::geteuid() == 0) {
        as = u"setpriv --reuid=nobody --regid=nogroup --clear-groups"_s;
        QProcess probe;
        probe.start(u"/bin/sh"_s, {u"-c"_s, as + u" test -x \"$0\""_s, QStringLiteral(SORVEL_CLI)});
        probe.waitForFinished(-1);
        if (probe.exitCode() != 0)
            GTEST_SKIP() << "root, and no unprivileged user (nobody through setpriv) can run "
                            "the program";
    }
    TempFolder dir;
    ASSERT_EQ(::chmod(encodeName(dir.path()), 0755), 0);
    ASSERT_TRUE(QDir(dir.path()).mkpath(u"lib"_s));
    ASSERT_TRUE(QDir(dir.path()).mkpath(u"ro"_s));
    // More lines than are held back before they are printed, after the file that is refused.
    constexpr int kMany = 300;
    const QString longName = u"x"_s.repeated(240);
    for (int i = 0; i < kMany; ++i)
        dir.write(u"lib/%1%2.mp3"_s.arg(longName).arg(i, 3, 10, QLatin1Char('0')), audio(200));
    ASSERT_EQ(::chmod(encodeName(dir.write(u"lib/secret.mp3"_s, audio(300))), 0), 0);
    dir.write(u"ro/a - b.mp3"_s, audio(200) + trailer("T", "A", "", "", "", 1));
    ASSERT_EQ(::chmod(encodeName(dir.file(u"ro"_s)), 0555), 0);
    for (const auto& [command, lang, why] :
         {std::tuple{"list -r lib", "C", "permission denied"},
          std::tuple{"list lib", "sv_SE.UTF-8", "åtkomst nekad"}}) {
        const Ran r = run(dir, QString::fromUtf8(command), lang, as);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.out.count(u'\n'), kMany) << command;
        EXPECT_TRUE(r.out.startsWith(u"lib/"_s + longName)) << command;
        EXPECT_EQ(r.err, u"sorvel-cli: lib/secret.mp3: "_s + QString::fromUtf8(why) + u'\n');
    }
    const auto before = snapshot(dir.path());
    const Ran dry = run(dir, u"tags-to-names --dry-run 'ro/a - b.mp3'"_s, "C", as);
    const Ran real = run(dir, u"tags-to-names 'ro/a - b.mp3'"_s, "C", as);
    EXPECT_EQ(snapshot(dir.path()), before);
    EXPECT_EQ(std::tuple(dry.status, dry.out.toStdString(), dry.err.toStdString()),
              std::tuple(1, std::string(), real.err.toStdString()));
    EXPECT_EQ(real.status, 1);
}

// A hostile folder, written and tried: a link leads only to an MP3 file, where it is written;
// nothing else outside the folder changes, and each refused entry is named with its reason.
// What a rename killed on a stick left behind (its note, and the empty file that held the new
// name) is tidied by the next listing, never by a dry run, which changes nothing.
TEST(Cli, ARenameKilledOnAStickIsTidiedByAListingNotByADryRun) {
    TempFolder dir;
    const QString song = dir.write(u"song.mp3"_s, audio(300));
    const QString held = dir.write(u"A - T.mp3"_s, {});
    // A process number above any the kernel hands out: the note's writer is gone.
    const QString note =
        dir.write(u".sorvel-reserve-2147483646-0"_s, song.toUtf8() + '\0' + "A - T.mp3" + '\0');
    const Ran dry = run(dir, u"set --dry-run album=X song.mp3"_s);
    EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
    EXPECT_TRUE(QFile::exists(note)) << "a dry run removed the note";
    EXPECT_TRUE(QFile::exists(held)) << "a dry run removed the held name";
    EXPECT_EQ(run(dir, u"list ."_s).status, 0);
    EXPECT_FALSE(QFile::exists(note)) << "the listing left the note";
    EXPECT_FALSE(QFile::exists(held)) << "the listing left the empty file";
    EXPECT_EQ(readAll(song), audio(300));
}

TEST(Cli, LinksLeadOnlyToMp3FilesAndEachRefusalIsNamed) {
    TempFolder dir, outside;
    const QString notes = outside.write(u"notes.txt"_s, "text");
    const QString song = outside.write(u"Song.MP3"_s, audio(300));
    for (const auto& [name, to] : {std::pair{"text.mp3", notes},
                                   {"comm.mp3", u"/proc/self/comm"_s},
                                   {"elsewhere.mp3", song},
                                   {"dangling.mp3", outside.file(u"none.mp3"_s)}})
        ASSERT_EQ(::symlink(encodeName(to), encodeName(dir.file(QString::fromUtf8(name)))), 0);
    ASSERT_EQ(::mkfifo(encodeName(dir.file(u"fifo.mp3"_s)), 0644), 0);
    ASSERT_TRUE(QDir().mkdir(dir.file(u"folder.mp3"_s)));
    for (const bool dry : {true, false}) {
        const Ran r =
            run(dir, dry ? u"set --dry-run album=X -- *.mp3"_s : u"set album=X -- *.mp3"_s);
        EXPECT_EQ(r.status, 1);
        for (const char* refused : {"text.mp3: länken pekar inte på en MP3-fil",
                                    "comm.mp3: länken pekar inte", "dangling.mp3: ingen MP3-fil",
                                    "fifo.mp3: ingen MP3-fil", "folder.mp3: ingen MP3-fil"})
            EXPECT_TRUE(r.err.contains(QString::fromUtf8(refused))) << refused << dry;
        EXPECT_EQ(readAll(notes), "text");
        EXPECT_EQ(readAll(song).mid(300 + kAlbumAt, 2), dry ? "" : "X ") << dry;
    }
}

// Two writers at once: this process holds a.mp3 open to write, as another Sorvel does between its
// read and its write, while sorvel-cli sets the album of a.mp3 and b.mp3. The program waits for
// the file, then reads it under its lock and sets the album on what the other writer left, as if
// that writer had finished first: nothing of either is lost.
TEST(Cli, ASecondWriterWaitsAndKeepsWhatTheFirstWrote) {
    TempFolder dir;
    const QString a = dir.write(u"a.mp3"_s, audio(300) + trailer("T", "A", "", "", "", 1));
    const QString b = dir.write(u"b.mp3"_s, audio(300));
    platform::PosixFileSystem first;
    int fd = -1;
    std::uint64_t size = 0;
    ASSERT_EQ(first.open(a, platform::FileSystem::Access::ReadWrite, fd, size), code::kOk);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    QProcess second;
    second.setWorkingDirectory(dir.path());
    second.setProcessEnvironment(language("sv_SE.UTF-8"));
    second.start(QStringLiteral(SORVEL_CLI), {u"set"_s, u"album=B"_s, u"a.mp3"_s, u"b.mp3"_s});
    // Until its lock waits behind ours ("->" in the kernel's list of locks), or it ends.
    const QByteArray ino = ':' + QByteArray::number(static_cast<qulonglong>(st.st_ino)) + ' ';
    const auto waits = [&] {
        for (const QByteArray& lock : readAll(u"/proc/locks"_s).split('\n'))
            if (lock.contains("->") && lock.contains(ino))
                return true;
        return false;
    };
    for (int i = 0; i < 3000 && !second.waitForFinished(10) && !waits(); ++i) {
    }
    EXPECT_EQ(second.state(), QProcess::Running) << "did not wait";
    const QByteArray mine = audio(300) + trailer("Mitt", "A", "", "", "", 1);
    ASSERT_EQ(first.writeAt(fd, 0, std::as_bytes(std::span(mine.constData(), mine.size()))) +
                  first.close(fd),
              code::kOk);
    second.waitForFinished(-1);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(readAll(a), audio(300) + trailer("Mitt", "A", "B", "", "", 1));
    EXPECT_EQ(readAll(b).mid(300 + kAlbumAt, 2), "B ");
}

}  // namespace
}  // namespace sorvel::test
