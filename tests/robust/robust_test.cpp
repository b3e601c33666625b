// The program under what a user's machine does to it. The writers, run in a process of their own
// (this program, started with "--drive") on real files, killed with SIGKILL at moments spread over
// their work: every file must be left in its old or its new form, byte for byte, under exactly one
// of its names, and id3.ini one whole version. And the real window, offscreen, on real media and
// hostile folders: a small disk filled to the last page, a read-only one, the exFAT and NTFS of USB
// sticks through their FUSE daemons, one that stops answering, names no one would choose, entries
// that only look like MP3 files, a file that changes while it is listed and a folder of thousands
// of entries. Each case is a table of steps a user takes; after each, the folder must hold exactly
// what the step may change, byte for byte, the one message shown must say what it must, and the
// list must show what the files hold. Under an alarm, since a window that never comes back is one
// of the faults caught.
#include "core/folder.h"
#include "platform/filesystem.h"
#include "platform/gio_trash.h"
#include "platform/probe.h"
#include "support/recorder.h"
#include "window/window_fixture.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <condition_variable>
#include <cstring>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Files = std::map<QString, QByteArray>;

namespace {

// A mount namespace of the process's own, entered during static initialisation while it has one
// thread: whatever a test mounts goes with the process, however it ends. Else why mounting is not
// possible.
const QString kNoMounts =
    ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        ? QString()
        : u"no private mounts: "_s + QString::fromUtf8(std::strerror(errno));

// A small real file system of `bytes` on a temporary folder for as long as the object lives: a
// tmpfs; an ext4 image (4 KiB blocks, none reserved for root) on a loop device, the file system of
// a real disk, whose trash the desktop uses; the exFAT or NTFS of a USB stick served as the desktop
// serves it: by a FUSE daemon (exfat-fuse, ntfs-3g), which a test may stop (signal()) as a stick
// that hangs stops answering. `why` tells why there is no mount, else is empty.
struct Medium {
    enum class Kind { Tmpfs, Ext4, Exfat, Ntfs };
    Medium(std::size_t bytes, Kind kind) : why(kNoMounts) {
        const char* const scripts[] = {"mount -t tmpfs -o size=%1 sorvel-test @d",
                                       "mkfs.ext4 -q -F -m 0 -b 4096 @i && mount -o loop @i @d",
                                       "mkfs.exfat @i && mount -t exfat-fuse -o loop @i @d",
                                       "mkntfs -F -Q @i && mount -t ntfs-3g -o loop @i @d"};
        const QString script =
            (u"exec 2>&1; truncate -s %1 @i && "_s + QLatin1StringView(scripts[int(kind)]))
                .arg(bytes)
                .replace(u"@i"_s, store.file(u"disk.img"_s))
                .replace(u"@d"_s, QString::fromUtf8(at));
        // The daemon that a FUSE mount leaves behind becomes this process's child, to be reaped.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        QProcess sh;  // its chatter kept for the skip message
        if (why.isEmpty() && (sh.start(u"sh"_s, {u"-c"_s, script}),
                              !sh.waitForFinished(60000) || sh.exitCode() != 0))
            why = script + u": "_s + QString::fromLocal8Bit(sh.readAll());
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        // The daemon is the process with the mount point on its command line.
        for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs))
            if (why.isEmpty() && kind >= Kind::Exfat &&
                readAll(u"/proc/"_s + pid + u"/cmdline"_s).split('\0').contains(at))
                daemon = pid.toInt();
    }
    // The loop device of an image goes with its last mount. A FUSE daemon, woken if stopped, writes
    // the image to the end while the unmount waits, then exits; it is reaped so that nothing of it
    // outlives the medium.
    ~Medium() {
        signal(SIGCONT);
        if (why.isEmpty() && (daemon <= 0 || ::umount2(at, 0) != 0))
            ::umount2(at, MNT_DETACH);
        for (int i = 0; daemon > 0 && i < 100 && ::waitpid(daemon, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(50ms);
    }
    void signal(int sig) const {
        if (daemon > 0)
            ::kill(daemon, sig);
    }
    TempFolder store, dir;
    QByteArray at = platform::encodeName(dir.path().chopped(1));
    QString why;
    pid_t daemon = 0;
};

using K = Medium::Kind;
constexpr int kFiles = 1000, kKills = 20, kSaves = 10, kAsIs = -1;
constexpr std::size_t kPage = 4096, kMiB = 1 << 20;
const auto version = [](int i) {
    return core::Settings{u"/musik/%1"_s.arg(i), 0, 1500, 3000, 12000, 8250, i % 4 + 1};
};
const auto q = [](const char* bytes) { return platform::decodeName(bytes); };
const auto split = [](const char* list) { return q(list).split(u'|', Qt::SkipEmptyParts); };

/// Makes `path` what snapshot() shows as `bytes` (a FIFO, a folder, a symbolic link or a file),
/// with "<000>" in front a file of mode 000.
void lay(const QString& path, const QByteArray& bytes) {
    const QByteArray at = platform::encodeName(path);
    ::unlink(at), ::rmdir(at);
    if (bytes == "<fifo>" || bytes == "<folder>")
        QCOMPARE(bytes == "<fifo>" ? ::mkfifo(at, 0644) : ::mkdir(at, 0755), 0);
    else if (bytes.startsWith("-> "))
        QCOMPARE(::symlink(bytes.mid(3), at), 0);
    else
        writeAll(path, bytes.startsWith("<000>") ? bytes.mid(5) : bytes);
    QCOMPARE(bytes.startsWith("<000>") ? ::chmod(at, 0) : 0, 0);
}

/// `file` with the fields typed ("txtTitel=text|...") written into its trailer, appended when it
/// has none, as the program writes them.
QByteArray edited(QByteArray file, const QStringList& typed) {
    if (file.size() < 130 || !file.sliced(file.size() - 128).startsWith("TAG"))
        file += trailer("", "", "", "", "", 255);
    for (const QString& field : typed)
        if (const auto at =
                u"txtTitel txtArtist txtAlbum"_s.split(u' ').indexOf(field.section(u'=', 0, 0));
            at >= 0)
            file = withField(file, kTitleAt + 30 * int(at), 30, field.section(u'=', 1).toLatin1());
    return file;
}

/// Fills the file system that holds `folder` with one file until only `pagesLeft` pages are free,
/// which is exact on a tmpfs; `pagesLeft` 0 fills any file system (ext4 keeps blocks for its own
/// records as a file grows, and shows them free): full once not one more block can be written,
/// even after what is written has settled. The steps' messages tell whether it was.
void fill(const QString& folder, int pagesLeft) {
    const int fd = ::open(qPrintable(folder + u"fyllnad.bin"_s), O_WRONLY | O_CREAT, 0644);
    struct statvfs st {};
    const auto free = [&] { return ::fstatvfs(fd, &st) == 0 ? st.f_bavail * st.f_frsize : 0; };
    const std::size_t left = std::size_t(pagesLeft) * kPage;
    QCOMPARE(pagesLeft > 0 ? ::posix_fallocate(fd, 0, off_t(free() - left)) : 0, 0);
    const QByteArray block(64 * 1024, 'f');
    for (std::size_t chunk = block.size(); pagesLeft == 0 && chunk >= kPage; chunk /= 2) {
        const auto more = [&] { return ::write(fd, block.constData(), chunk) == ssize_t(chunk); };
        while (more() || (::fsync(fd) == 0 && more())) {
        }
    }
    ::close(fd);
}

/// What a user does, and what must come of it. Lists are written "x|y", names as their bytes.
struct Step {
    const char* select;        ///< rows clicked, "*" all of them, "" to keep the selection
    const char* typed;         ///< "field=text" into the line edits
    const char* act;           ///< a button, "Delete", "Shift+Delete", "close", "play",
                               ///< "ro" and "rw" (the medium remounted), "stop" (its daemon
                               ///< stopped, for the rest of the case), "churn" (see churn()) or
                               ///< "meddle" (`typed` then "name=bytes" laid behind the list's back)
    const char* message;       ///< "title|what it holds|..." of the one message shown; "" none
    const char* changes = "";  ///< "a>b" moved, "-a" to the trash, "a" takes what is typed, or
                               ///< "a:field=text:..." that
};

struct Case {
    const char* what;
    K kind;
    std::size_t bytes;  ///< 0: no medium, the fixture's folder of music with its a, b and c
    int pagesLeft;      ///< the disk filled to that, or kAsIs
    Files files;        ///< laid as lay() does
    std::vector<Step> steps;
    const char* shows = "";  ///< the names listed at first, when given
    int many = 0;            ///< that many empty files more, with names of 255 bytes
};

const QByteArray kAbba = audio(400) + trailer("Waterloo", "Abba", "Arrival", "1974", "", 13);
const QByteArray kOld = audio(400) + trailer("L\xe5t", "Gammal", "", "", "", 255);
const QByteArray kChanging = audio(400) + trailer("Titel", "V\xe4xel", "", "", "", 1);
const QByteArray kLongBase(251, 'z'), kLong = kLongBase + ".mp3";  // at the limit
const QByteArray kLongRenamed = kLong + ">L\xc3\xa5ng.mp3";
// clang-format off
const Files kStickFiles = {{u"a.mp3"_s, kAbba}, {u"m.mp3"_s, kOld},
    {u"cher - believe.mp3"_s, audio(300) + trailer("Believe", "Cher", "", "", "", 17)}};
// Renames on a stick, where the daemon knows no no-replace rename (and, for exFAT, no hard links
// and no letter case): the file moves, nothing is ever replaced, and a failure changes nothing.
const std::vector<Step> kStick = {
    {"cher - believe", "", "cmdTag2Filnamn", "", "cher - believe.mp3>Cher - Believe.mp3"},
    {"a", "txtTitel=SOS|txtFilnamn=Abba - SOS", "cmdSpara", "Ändra filnamn?",
     "a.mp3|a.mp3>Abba - SOS.mp3"},
    {"Abba - SOS", "txtFilnamn=Cher - Believe", "cmdFilnamn", "Fel|Det filnamnet finns redan!"},
    {"", "", "ro", ""},
    {"", "txtFilnamn=c", "cmdFilnamn", "Fil/mapp åtkomstfel|Kunde inte byta filnamn."},
    // A folder in the place of a song, which the rename itself refuses; the name it took for the
    // move is given back.
    {"", "", "rw", ""}, {"", "m.mp3=<folder>", "meddle", ""},
    {"m", "txtFilnamn=c", "cmdFilnamn", "Fel!|Ett fel av typen"},
};
const Case kCases[] = {
    // A stick that stops answering in the middle of a write: the window waits for it the probe's
    // time only, names the files it cannot vouch for, and closes at once.
    {"an exFAT stick that stops answering", K::Exfat, 16 * kMiB, kAsIs, kStickFiles,
     {{"a|m", "txtArtist=S", "stop", ""},
      {"", "", "cmdArtist", "Fel|Enhet $ROOT går inte att komma åt.|\na.mp3 (enheten går inte att "
       "komma åt)|\nm.mp3 (enheten går inte att komma åt)"},
      {"a", "txtFilnamn=b", "cmdFilnamn",
       "Fel|Enhet $ROOT går inte att komma åt.|\na.mp3 (enheten går inte att komma åt)"},
      {"", "", "close", ""}}},
    {"a full disk", K::Ext4, 8 * kMiB, 0,
     {{u"har.mp3"_s, audio(300) + trailer("Gammal", "Artist", "", "", "", 1)},
      {u"kant.mp3"_s, audio(2 * kPage - 64)}},  // its trailer is written in part, then no space
     {{"kant", "txtArtist=Ny artist", "cmdSpara", "Fel|\nkant.mp3 (disken är full)"},
      // The trash on the disk cannot be made, or note where the file came from: it stays.
      {"", "", "Delete", "Fel|Det gick inte att radera filen."},
      // Overwriting a trailer takes no new space.
      {"har", "txtTitel=Ny titel", "cmdSpara", "", "har.mp3"}}},
    // Ten files and room for four trailers: four are written (from the last), the rest named.
    {"a disk with room for four trailers", K::Tmpfs, 64 * kPage, 4, [] {
         Files out;
         for (int i = 0; i < 10; ++i)
             out[u"spår %1.mp3"_s.arg(i)] = audio(kPage);
         return out;
     }(),
     {{"*", "txtAlbum=Samling", "cmdAlbum",
       "Fel|\nspår 5.mp3 (disken är full)|\nspår 0.mp3 (disken",
       "spår 6.mp3|spår 7.mp3|spår 8.mp3|spår 9.mp3"}}},
    {"settings on a full disk", K::Tmpfs, 16 * kPage, 0, {},
     {{"", "", "close", "Fel|Inställningarna kunde inte sparas i $INI (fel av typen 61)."}}},
    {"exFAT, which ignores letter case", K::Exfat, 16 * kMiB, kAsIs, kStickFiles, kStick},
    {"NTFS, which keeps it", K::Ntfs, 16 * kMiB, kAsIs, kStickFiles, kStick},
    {"a read-only disk", K::Ext4, 8 * kMiB, kAsIs,
     {{u"a.mp3"_s, kAbba}, {u"b.mp3"_s, audio(500)}},
     {{"", "", "ro", ""}, {"a", "txtArtist=Ny", "cmdSpara", "Fel|Filen är skrivskyddad!"},
      {"a|b", "txtKommentarer=Bra", "cmdKommentarer",
       "Fel|\na.mp3 (skrivskyddad eller låst)|\nb.mp3 (skrivskyddad eller låst)"},
      {"b", "", "Delete", "Fel|Det gick inte att radera filen."},
      // Deleting for good fails as the silent rescan.
      {"", "", "Shift+Delete", "Bekräfta borttagning av fil|b.mp3"},
      // The settings go where the user may write.
      {"", "", "close", ""}}},
    // Played by its path, saved, its name into its tag where a tag can hold it, and back: the
    // cleaned name is given, the one with a line break refused.
    {"names no one would choose", K::Tmpfs, 0, kAsIs,
     {{q("rad\nbryt.mp3"), kOld}, {q("bak\\snedstreck citat\"tecken.mp3"), kOld},
      {q("ogiltig \xff\xfe utf8.mp3"), kOld}},
     {{"rad\nbryt", "", "play", ""},
      {"ogiltig \xff\xfe utf8", "txtArtist=Ny artist", "cmdSpara", "", "ogiltig \xff\xfe utf8.mp3"},
      {"rad\nbryt|bak\\snedstreck citat\"tecken|ogiltig \xff\xfe utf8", "", "cmdFilnamn2Tag",
       "Fel|\nogiltig \xff\xfe utf8.mp3 (tecken som en tagg inte kan lagra)",
       "rad\nbryt.mp3:txtTitel=rad\nbryt:txtArtist=|bak\\snedstreck citat\"tecken.mp3:txtArtist=:"
       "txtTitel=bak\\snedstreck citat\"tecken"},
      {"ogiltig \xff\xfe utf8", "", "Delete", "", "-ogiltig \xff\xfe utf8.mp3"},
      {"rad\nbryt|bak\\snedstreck citat\"tecken", "", "cmdTag2Filnamn", "Felaktigt filnamn",
       "bak\\snedstreck citat\"tecken.mp3>baksnedstreck citattecken.mp3"}}},
    // Entries that only look like MP3 files are not listed; those listed that another program
    // turns into something else take every command, which works or says why. Renaming and the
    // trash need the folder only: the very entry moves.
    {"entries that are not what they seem", K::Tmpfs, 0, kAsIs,
     {{u"låst.mp3"_s, "<000>" + kOld}, {u"snurra.mp3"_s, kOld}, {u"fifo.mp3"_s, kOld},
      {u"mapp.mp3"_s, kOld}, {u"ring1.mp3"_s, "-> ring2.mp3"}, {u"ring2.mp3"_s, "-> ring1.mp3"},
      {u"dinglande.mp3"_s, "-> finns-inte"}, {u"länk.mp3"_s, "-> verklig.data"},
      {u"verklig.data"_s, kAbba}, {u"rör.mp3"_s, "<fifo>"}, {u"katalog.mp3"_s, "<folder>"}},
     {{"", "fifo.mp3=<fifo>|snurra.mp3=-> snurra.mp3|mapp.mp3=<folder>", "meddle", ""},
      {"fifo", "txtArtist=Ny artist", "cmdSpara", "Fel"},
      {"låst", "txtArtist=Ny artist", "cmdSpara", "Fel|Filen är skrivskyddad!"},
      {"*", "txtAlbum=Samling", "cmdAlbum",
       "Fel|\nfifo.mp3 (|\nlåst.mp3 (skrivskyddad eller låst)|\nlänk.mp3 (länken pekar inte på "
       "en MP3-fil)|\nmapp.mp3 (|\nsnurra.mp3 (",
       "a.mp3|b.mp3|c.mp3"},
      {"mapp", "txtFilnamn=omdöpt", "cmdFilnamn", "", "mapp.mp3>omdöpt.mp3"},
      {"omdöpt", "", "Delete", "", "-omdöpt.mp3"}},
     "a|b|c|fifo|länk|låst|mapp|snurra"},
    // Listed and saved while another program changes it; once it holds still, it takes its tag.
    {"a file that changes while listed", K::Tmpfs, 0, kAsIs, {{u"växlar.mp3"_s, kChanging}},
     {{"", "", "churn", ""}, {"växlar", "txtArtist=Stilla", "cmdSpara", "", "växlar.mp3"}}},
    // More than two rounds of the scan's reading (2,048 names each), with a name at the limit: it
    // takes a tag and gives way to one from its tag.
    {"thousands of long names", K::Tmpfs, 64 * kMiB, kAsIs,
     {{QString::fromLatin1(kLong), audio(400)}},
     {{kLongBase.constData(), "txtArtist=Lång", "cmdSpara", "", kLong.constData()},
      {"", "", "cmdTag2Filnamn", "", kLongRenamed.constData()}}, "", 5000},
};
// clang-format on

// The driver writes "R" once the folder is read and the writing begins, and "D" once all is written
// with nothing said but the rename question (answered OK). Its modes:
//   write     "Nytt namn" as the artist of every file (the field command)
//   spara     "&Spara tag" on every file in turn, with a new artist, renamed to its name + " ny"
//   tag2name  "Filnamn <-- &tag" over every file
//   settings  id3.ini (the path given) saved kSaves times, save i with the folder "/musik/i"
int drive(const QString& mode, const QString& where) {
    const auto say = [](char c) { return ::write(STDOUT_FILENO, &c, 1) == 1; };  // unbuffered
    WindowFixture t;
    core::Folder folder({t.fs, t.boxes, t.opener, t.drives, t.trash});
    Recorder status;
    core::Outcome outcome = mode == u"settings"_s ? core::Outcome{} : folder.list(where, status);
    const std::vector<bool> all(folder.size(), true);
    say('R');
    for (int i = 1; mode == u"settings"_s && i <= kSaves; ++i)
        outcome.failed |= core::saveSettings(where, version(i)) != code::kOk;
    const write::EditorValues editor{u"Nytt namn"_s, {}, {}, {}, {}, {}};
    if (mode == u"write"_s || mode == u"tag2name"_s)
        outcome = mode == u"write"_s ? folder.writeField(write::Typ::Artist, all, editor, status)
                                     : folder.namesFromTags(all);
    for (std::size_t r = 0; mode == u"spara"_s && r < folder.size(); ++r) {
        const browse::Row row = folder.row(r);
        const QString renamed = browse::shownName(row) + u" ny"_s;
        outcome = folder.save(
            r, {editor.artist, row.title, row.album, row.year, row.genre, row.comment}, renamed);
        outcome.failed |= !outcome.messages.empty() || browse::shownName(folder.row(r)) != renamed;
    }
    for (const auto& shown : t.boxes.shown)
        outcome.failed |= shown.title != u"Ändra filnamn?"_s;
    return outcome.failed || !outcome.messages.empty() || !say('D');
}

/// The driver's modes, and the name file `i` called `name` has once a mode is through.
const QString kModes[] = {u"write"_s, u"spara"_s, u"tag2name"_s, u"settings"_s};
QString newName(const QString& mode, int i, const QString& name) {
    return mode == u"spara"_s               ? name.chopped(4) + u" ny.mp3"_s
           : mode == u"tag2name"_s && i % 2 ? u"Artist %1 - Titel.mp3"_s.arg(i)
                                            : name;
}

/// 1,000 files of different lengths, half of them with a trailer, each with a content of its own;
/// a quarter are a trailer alone in a 129-byte file, which counts as none.
const Files kOriginals = [] {
    Files out;
    for (int i = 0; i < kFiles; ++i)
        out[u"f%1.mp3"_s.arg(i, 4, 10, QChar(u'0'))] =
            i % 4 == 2
                ? "x" + trailer("Titel", "Kort", "", "", "", 1)
                : audio(300 + i % 13) + (i % 2 ? trailer("Titel", "Artist " + QByteArray::number(i),
                                                         "Album", "1999", "", 17)
                                               : "");
    return out;
}();

/// What a kill left: how many files (or saves) it had not reached, and how many it had. Every file
/// must be in its old form under its old name, or in its new form under either name (a kill
/// between a save's write and its rename), and nothing else be in the folder; id3.ini one whole
/// version, at most one temporary file beside it, and the next save must leave id3.ini alone.
void landing(const QString& dir, const QString& mode, const Files& next, int& old, int& changed) {
    const Files now = snapshot(dir);
    if (mode == u"settings"_s) {
        const QByteArray ini = now.at(u"id3.ini"_s);
        const int i = ini.split('\n').value(1).mid(7).trimmed().toInt();
        const TempFolder scratch;
        QCOMPARE(core::saveSettings(scratch.file(u"id3.ini"_s), version(i)), code::kOk);
        QCOMPARE(ini, readAll(scratch.file(u"id3.ini"_s)));
        QVERIFY2(now.size() <= 2, "temporary files left behind");
        QCOMPARE(core::saveSettings(dir + u"id3.ini"_s, version(kSaves + 1)), code::kOk);
        QCOMPARE(snapshot(dir).size(), std::size_t{1});
        old = kSaves - i, changed = i;
        return;
    }
    QCOMPARE(now.size(), std::size_t{kFiles});
    int i = 0;
    for (const auto& [name, bytes] : kOriginals) {
        const QString renamed = newName(mode, i++, name);
        const bool underOld = now.count(name) != 0;
        QVERIFY2(underOld != (renamed != name && now.count(renamed) != 0), qPrintable(name));
        const QByteArray& got = now.at(underOld ? name : renamed);
        const bool isOld = underOld && got == bytes;
        QVERIFY2(isOld || got == next.at(renamed), qPrintable(name + u" is neither old nor new"_s));
        old += isOld;
        changed += !isOld;
    }
}

// Lists and saves växlar.mp3 again and again while another thread changes it; then it holds still
// in its first form.
void churn(WindowFixture& t) {
    const int fd = ::open(platform::encodeName(t.music.file(u"växlar.mp3"_s)), O_RDWR);
    std::jthread changer([&](const std::stop_token& stop) {
        for (int i = 0; !stop.stop_requested(); ++i, std::this_thread::sleep_for(50us))
            (void)!(i % 3 == 1 ? ::pwrite(fd, kChanging.constData(), kChanging.size(), 0)
                               : ::ftruncate(fd, i % 3 == 0 ? 0 : 129));
        ::close(fd);
    });
    for (int i = 0; i < 30; ++i) {
        t.w->mnuUppdatera_Click();
        QVERIFY(QStringList({u""_s, u"Växel"_s}).contains(t.rows().row(t.row("växlar")).artist));
        t.click(t.row("växlar"));
        t.press("cmdSpara");  // while another program changes the file: a message or done
        QVERIFY(std::exchange(t.boxes.shown, {}).size() <= 1);
    }
    changer = std::jthread();
    writeAll(t.music.file(u"växlar.mp3"_s), kChanging);  // the last save may race the last change
    t.w->mnuUppdatera_Click();
}

void run(const Case& c) {
    std::optional<Medium> disk;
    if (c.bytes > 0 && !disk.emplace(c.bytes, c.kind).why.isEmpty())
        return qInfo("skipped: %s", qPrintable(disk->why));
    WindowFixture t;
    const QString root = disk ? disk->dir.path() : t.music.path();
    for (const auto& [name, bytes] : c.files)
        lay(root + name, bytes);
    for (int i = 0; i < c.many; ++i)
        lay(root + QString::number(i).rightJustified(251, u'0') + u".mp3"_s, {});
    // id3.ini on the medium too, unless it stops answering
    const bool stops =
        std::ranges::any_of(c.steps, [](const Step& s) { return q(s.act) == u"stop"; });
    if (!stops)
        t.folder.folder = root.chopped(1);
    t.saveIni(root.chopped(1));
    platform::GioTrash gio;
    platform::PosixDrives drives;  // what names the stick in a message
    const AsUser user;             // the user's rights, not root's
    for (const auto& [name, bytes] : c.files)
        if (bytes.startsWith("<000>") && !AsUser::refused(root + name))
            return qInfo("skipped: a mode of 000 does not refuse this process");
    t.make(&gio, stops ? &drives : nullptr).Form_Load();
    t.w->show();
    if (c.pagesLeft != kAsIs)
        fill(root, c.pagesLeft);
    QVERIFY(!*c.shows || std::ranges::is_permutation(t.names(), split(c.shows)));
    Files expected = snapshot(root);
    bool stale = false;  // the list shows what was, not what another program has made
    // A stopped daemon is woken when the case ends, or after a while if the window waits for it.
    std::optional<std::jthread> waker;
    for (const Step& s : c.steps) {
        const auto began = std::chrono::steady_clock::now();
        const QString what = q(c.what) + u": "_s + q(s.act) + u' ' + q(s.select), act = q(s.act);
        const QStringList select = split(s.select);
        for (const QString& name : select) {
            t.list->scrollTo(t.rows().index(t.row(name), 0));
            name == u"*"
                ? QTest::keySequence(t.list, QKeySequence::SelectAll)
                : t.click(t.row(name), name == select[0] ? Qt::NoModifier : Qt::ControlModifier);
        }
        for (const QString& typed : split(s.typed))  // or what another program lays
            act == u"meddle"
                ? lay(root + typed.section(u'=', 0, 0),
                      platform::encodeName(typed.section(u'=', 1)))
                : t.type(typed.section(u'=', 0, 0).toLatin1().constData(), typed.section(u'=', 1));
        if (act == u"ro" || act == u"rw")
            QVERIFY(!::mount(nullptr, disk->at, nullptr, MS_REMOUNT | MS_RDONLY * (act == u"ro"),
                             nullptr));
        else if (act.endsWith(u"Delete"))
            QTest::keySequence(t.list, QKeySequence(act));
        else if (act == u"play")
            QCOMPARE((t.w->mnuHogerSpela_Click(), t.opener.opened),
                     std::vector{root + select[0] + u".mp3"_s});
        else if (act == u"close")
            t.w->move(t.w->pos() + QPoint(40, 40)), t.w->close();
        else if (act == u"churn")
            churn(t);
        else if (act == u"stop")
            disk->signal(SIGSTOP), waker.emplace([&](const std::stop_token& stop) {
                std::mutex m;
                std::unique_lock lock(m);
                std::condition_variable_any().wait_for(lock, stop, 3 * platform::kAnswerTime,
                                                       [] { return false; });
                disk->signal(SIGCONT);
            });
        else if (act != u"meddle")
            t.press(s.act);
        if (act == u"close" && !*s.message)
            QVERIFY(present(stops ? t.iniPath() : desktopHome() + u"config/sorvel/id3.ini"_s));
        QVERIFY2(!waker || std::chrono::steady_clock::now() - began < platform::kAnswerTime + 2s,
                 qPrintable(what + u" waits for the stopped stick"_s));
        const auto shown = std::exchange(t.boxes.shown, {});
        const QString said = shown.empty() ? QString()
                                           : QString(shown[0].title + u'|' + shown[0].text)
                                                 .replace(t.iniPath(), u"$INI"_s)
                                                 .replace(root.chopped(1), u"$ROOT"_s);
        const QStringList message = split(s.message);
        QVERIFY2(shown.size() == std::size_t(!message.isEmpty()) &&
                     (message.isEmpty() || said.startsWith(message[0] + u'|')),
                 qPrintable(what + u" said: "_s + said));
        for (const QString& part : message)
            QVERIFY2(said.contains(part), qPrintable(said));
        // What the step changes, and nothing else; what another program changes, the list does not
        // show.
        if (waker)  // nothing on the stick can be looked at
            continue;
        if (act == u"meddle")
            expected = snapshot(root), stale = true;
        Files trash = snapshot(desktopHome() + u"data/Trash/files/"_s);
        for (const QString& change : split(s.changes)) {
            const QString name = change.section(u'>', 0, 0).section(u':', 0, 0);
            if (change.startsWith(u'-'))
                QVERIFY(trash[name.mid(1)] == expected.extract(name.mid(1)).mapped());
            else if (change.contains(u'>'))
                expected[change.section(u'>', 1)] = std::move(expected.extract(name).mapped());
            else
                expected[name] = edited(expected[name], change.contains(u':')
                                                            ? change.section(u':', 1).split(u':')
                                                            : split(s.typed));
        }
        QCOMPARE(snapshot(root), expected);
        // The list shows what the files hold.
        Recorder scanned;
        QVERIFY2(stale || (scanned.scan(t.fs, root) == code::kOk &&
                           std::ranges::is_permutation(t.w->folder().rows(), scanned.rows)),
                 qPrintable(what));
    }
}

}  // namespace

class RobustTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyStepDoesWhatItMayAndSaysWhatItCannot() {
        for (const Case& c : kCases)
            if (!QTest::currentTestFailed())
                qInfo("%s", c.what), run(c);
    }

    // A stick that stops answering, through the real drive list: its daemon stopped.
    void aMountThatStopsAnsweringHoldsNeitherTheWindowNorAScan() {
        const Medium stuck(16 * kMiB, K::Exfat);
        if (!stuck.why.isEmpty())
            QSKIP(qPrintable(stuck.why));
        const QString root = stuck.dir.path().chopped(1);
        writeAll(stuck.dir.file(u"fast.mp3"_s), kAbba);
        const std::vector unreachable{FakeMessageBoxes::Shown{
            u"Fel"_s, u"Enhet "_s + root + u" går inte att komma åt."_s,
            platform::MessageBoxes::Icon::None, platform::MessageBoxes::Buttons::RetryCancel}};
        // The folder of the last run is on the mount that no longer answers.
        platform::PosixDrives drives;
        WindowFixture t;
        t.saveIni(root);
        stuck.signal(SIGSTOP);
        const auto began = std::chrono::steady_clock::now();
        t.make(nullptr, &drives).Form_Load();
        t.w->show();
        // One wait for the drive list and one for the folder; never one per question.
        QVERIFY(std::chrono::steady_clock::now() - began < 3 * platform::kAnswerTime);
        QVERIFY(t.boxes.shown.empty());  // a folder that cannot be restored is given up quietly
        auto* drive1 = t.child<QComboBox>("Drive1");
        const int before = drive1->currentIndex(),
                  at = drive1->findText(root + u" ["_s, Qt::MatchStartsWith);
        t.boxes.answers = {FakeMessageBoxes::Answer::Cancel, FakeMessageBoxes::Answer::Cancel};
        drive1->setCurrentIndex(at);
        QCOMPARE(std::exchange(t.boxes.shown, {}), unreachable);
        QCOMPARE(drive1->currentIndex(), before);
        // A folder on show whose mount stops answering: its scan ends with the message.
        stuck.signal(SIGCONT);
        drive1->setCurrentIndex(at);
        QCOMPARE(t.names(), QStringList{u"fast"_s});
        stuck.signal(SIGSTOP);
        t.w->mnuUppdatera_Click();
        QCOMPARE(t.boxes.shown, unreachable);
        QCOMPARE(t.rows().rowCount(), 0);
    }

    // A complete run (k = -1) learns the new forms and how long the work takes; then the runs
    // killed at moments spread over that time. Only kills inside the work prove anything, and a
    // loaded machine stretches or shrinks the work between runs: a kill that finds the work done
    // narrows the time to the moment before it, one that finds it not begun in the later half
    // widens it, and the kills go on (to three times as many at most) until enough of them have
    // landed inside. The folders live in a tmpfs where there is one, as a disk's journal would only
    // slow the runs; id3.ini is saved on the disk, where the save's fsync calls take the time they
    // take for a user. Last, names from tags on an exFAT stick, where each rename holds its new
    // name with an empty file first: the next listing leaves no such file behind.
    void writersKilledAtAnyMomentLeaveEveryFileOldOrNew() {
        for (const auto& [mode, stick] : {std::pair{kModes[0], false},
                                          {kModes[1], false},
                                          {kModes[2], false},
                                          {kModes[3], false},
                                          {kModes[2], true}}) {
            qInfo("%s%s", qPrintable(mode), stick ? " on exFAT" : "");
            const bool files = mode != u"settings"_s;
            std::optional<Medium> exfat;
            if (stick && !exfat.emplace(64 * kMiB, K::Exfat).why.isEmpty())
                return qInfo("skipped: %s", qPrintable(exfat->why));
            const QString parent = stick                                   ? exfat->dir.path()
                                   : files && QDir(u"/dev/shm"_s).exists() ? u"/dev/shm"_s
                                                                           : QDir::tempPath();
            Files next;
            long long hi = 0, mid = 0;
            for (int k = -1; k < 3 * kKills && (k < kKills || mid < kKills / 5); ++k) {
                const TempFolder dir(parent);
                for (const auto& [name, bytes] : files ? kOriginals : Files{})
                    dir.write(name, bytes);
                QVERIFY(files ||
                        core::saveSettings(dir.file(u"id3.ini"_s), version(0)) == code::kOk);
                QProcess driver;
                driver.start(u"/proc/self/exe"_s,
                             {u"--drive"_s, mode, files ? dir.path() : dir.file(u"id3.ini"_s)});
                QVERIFY(driver.waitForReadyRead(-1) && driver.read(1) == "R");
                const auto began = std::chrono::steady_clock::now();
                if (k < 0) {
                    QVERIFY(driver.waitForFinished(-1) && driver.exitCode() == 0);
                    hi = std::chrono::nanoseconds(std::chrono::steady_clock::now() - began).count();
                    next = snapshot(dir.path());  // every file in its new form under its new name
                    continue;
                }
                const long long at = hi * (2 * (k % kKills) + 1) / (2 * kKills);
                std::this_thread::sleep_for(std::chrono::nanoseconds(at));
                driver.kill();
                driver.waitForFinished();
                std::size_t listed = 0;
                platform::PosixFileSystem().listMp3(dir.path(), nullptr, listed);
                int old = 0, changed = 0;
                landing(dir.path(), mode, next, old, changed);
                if (QTest::currentTestFailed())
                    return qInfo("kill %d at %lld us", k, at / 1000);
                mid += old > 0 && changed > 0;
                if (old == 0)
                    hi = std::max(at, 1000LL);
                else if (changed == 0 && at > hi / 2)
                    hi *= 2;
            }
            QVERIFY2(mid >= kKills / 5, qPrintable(mode));
        }
    }
};

/// Offscreen, in a mount namespace of the test's own (entered before Qt starts any thread), with a
/// desktop home of its own; or the driver. A case that hangs ends the process through SIGALRM
/// instead of holding the run.
int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--drive") == 0)
        return drive(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    desktopHome();
    ::alarm(600);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RobustTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "robust_test.moc"
