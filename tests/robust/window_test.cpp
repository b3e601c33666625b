// Real media and hostile folders under the real window, offscreen: a small disk filled to the last
// page, a read-only one, the exFAT and NTFS of USB sticks through their FUSE daemons, names no
// one would choose, entries that only look like MP3 files, a file that changes while it is listed
// and a folder of thousands of entries. Each case is a table of steps a user takes; after each,
// the folder must hold exactly what the step may change, byte for byte, the one message shown must
// say what it must, and the list must show what the files hold. Under an alarm, since a window
// that never comes back is one of the faults caught.
#include "mounts.h"
#include "platform/filesystem.h"
#include "platform/gio_trash.h"
#include "platform/probe.h"
#include "support/recorder.h"
#include "window/window_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using Files = std::map<QString, QByteArray>;
using K = Medium::Kind;

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kMiB = 1 << 20;
constexpr int kAsIs = -1;

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
    for (const QString& field : typed) {
        const auto at = QStringList{u"txtTitel"_s, u"txtArtist"_s, u"txtAlbum"_s}.indexOf(
            field.section(u'=', 0, 0));
        if (at >= 0)
            file = withField(file, kTitleAt + 30 * int(at), 30, field.section(u'=', 1).toLatin1());
    }
    return file;
}

/// Fills the file system that holds `folder` with one file until only `pagesLeft` pages are free,
/// which is exact on a tmpfs; `pagesLeft` 0 fills any file system (ext4 keeps blocks for its own
/// records as a file grows, and shows them free).
void fill(const QString& folder, int pagesLeft) {
    const int fd = ::open(platform::encodeName(folder + u"fyllnad.bin"_s).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    struct statvfs st {};
    const auto free = [&] { return ::fstatvfs(fd, &st) == 0 ? st.f_bavail * st.f_frsize : 0; };
    const std::size_t left = std::size_t(pagesLeft) * kPage;
    QVERIFY(fd >= 0 && free() >= left);
    QCOMPARE(pagesLeft > 0 ? ::posix_fallocate(fd, 0, off_t(free() - left)) : 0, 0);
    // Full once not one more block can be written, even after what is written has settled.
    const QByteArray block(64 * 1024, 'f');
    for (std::size_t chunk = block.size(); pagesLeft == 0 && chunk >= kPage; chunk /= 2) {
        const auto more = [&] { return ::write(fd, block.constData(), chunk) == ssize_t(chunk); };
        while (more() || (::fsync(fd) == 0 && more())) {
        }
    }
    QVERIFY(pagesLeft > 0 ? free() == left
                          : ::write(fd, block.constData(), kPage) < 0 && errno == ENOSPC);
    ::close(fd);
}

/// What a user does, and what must come of it. Lists are written "x|y", names as their bytes.
struct Step {
    const char* select;        ///< rows clicked, "*" all of them, "" to keep the selection
    const char* typed;         ///< "field=text" into the line edits
    const char* act;           ///< a button, "Delete", "Shift+Delete", "Ångra", "close", "play",
                               ///< "ro" and "rw" (the medium remounted) or "meddle" (`changes`,
                               ///< written "name=bytes", laid behind the list's back)
    const char* message;       ///< "title|what it holds|..." of the one message shown; "" for none
    const char* changes = "";  ///< "a>b" moved, "-a" to the trash, "a" takes what is typed, or
                               ///< "a:field=text:..." that
};

struct Case {
    const char* what;
    K kind;
    std::size_t bytes;   ///< 0: no medium, the fixture's folder of music with its a, b and c
    const Files& files;  ///< laid as lay() does; none: the medium holds id3.ini alone
    int pagesLeft;       ///< the disk filled to that, or kAsIs
    bool programFolder;  ///< id3.ini is kept on the medium (with no files, the list elsewhere)
    const std::vector<Step>& steps;
    const char* shows = "";  ///< the names listed at first, when given
    int many = 0;            ///< that many empty files more, with names of 255 bytes
};

const QByteArray kUntagged = audio(2 * kPage);  // a new trailer needs a new page
const QByteArray kTagged = audio(300) + trailer("Gammal", "Artist", "", "", "", 1);
const QByteArray kEdge = audio(2 * kPage - 64);  // its trailer is written in part, then no space
const QByteArray kAbba = audio(400) + trailer("Waterloo", "Abba", "Arrival", "1974", "", 13);
const QByteArray kCher = audio(300) + trailer("Believe", "Cher", "", "", "", 17);
const QByteArray kOld = audio(400) + trailer("L\xe5t", "Gammal", "", "", "", 255);
const QByteArray kChanging = audio(400) + trailer("Titel", "V\xe4xel", "", "", "", 1);
const QByteArray kLongBase = QByteArray(251, 'z'), kLong = kLongBase + ".mp3";  // at the limit
const QByteArray kLongRenamed = kLong + ">L\xc3\xa5ng.mp3";

const Files kNone;
const Files kFullFiles = {
    {u"ny.mp3"_s, kUntagged}, {u"har.mp3"_s, kTagged}, {u"kant.mp3"_s, kEdge}};
const std::vector<Step> kFull = {
    {"ny", "txtArtist=Ny artist", "cmdSpara", "Fel|\nny.mp3 (disken är full)"},
    {"kant", "txtArtist=Ny artist", "cmdSpara", "Fel|\nkant.mp3 (disken är full)"},
    // The trash on the disk cannot be made, or note where the file came from: it stays.
    {"", "", "Delete", "Fel|Det gick inte att radera filen."},
    // Overwriting a trailer takes no new space.
    {"har", "txtTitel=Ny titel", "cmdSpara", "", "har.mp3"},
};
// Ten files and room for four trailers: four are written (from the last), the rest named.
const Files kTracks = [] {
    Files out;
    for (int i = 0; i < 10; ++i)
        out[u"spår %1.mp3"_s.arg(i)] = audio(kPage);
    return out;
}();
const std::vector<Step> kPartWay = {{"*", "txtAlbum=Samling", "cmdAlbum",
                                     "Fel|\nspår 5.mp3 (disken är full)|\nspår 0.mp3 (disken",
                                     "spår 6.mp3|spår 7.mp3|spår 8.mp3|spår 9.mp3"}};
const std::vector<Step> kSettingsFull = {
    {"", "", "close", "Fel|Inställningarna kunde inte sparas i $INI (fel av typen $FULL)."}};
// Renames on a stick, where the daemon knows no no-replace rename (and, for exFAT, no hard links
// and no letter case): the file moves, nothing is ever replaced, and a failure changes nothing.
const Files kStickFiles = {
    {u"a.mp3"_s, kAbba}, {u"cher - believe.mp3"_s, kCher}, {u"m.mp3"_s, kOld}};
const std::vector<Step> kStick = {
    {"cher - believe", "", "cmdTag2Filnamn", "", "cher - believe.mp3>Cher - Believe.mp3"},
    {"", "", "Ångra", "", "Cher - Believe.mp3>cher - believe.mp3"},
    {"a", "txtTitel=SOS|txtFilnamn=Abba - SOS", "cmdSpara", "Ändra filnamn?",
     "a.mp3|a.mp3>Abba - SOS.mp3"},
    {"", "", "Ångra", "", "Abba - SOS.mp3>a.mp3|a.mp3:txtTitel=Waterloo"},
    {"a", "txtFilnamn=cher - believe", "cmdFilnamn", "Fel|Det filnamnet finns redan!"},
    {"", "", "ro", ""},
    {"a", "txtFilnamn=c", "cmdFilnamn", "Fil/mapp åtkomstfel|Kunde inte byta filnamn."},
    {"", "", "rw", ""},
    // A folder in the place of a song, which the rename itself refuses.
    {"", "", "meddle", "", "m.mp3=<folder>"},
    {"m", "txtFilnamn=c", "cmdFilnamn", "Fel!|Ett fel av typen"},
};
const Files kReadOnlyFiles = {
    {u"a.mp3"_s, kAbba}, {u"b.mp3"_s, audio(500)}, {u"Cher - Believe.mp3"_s, kCher}};
const std::vector<Step> kReadOnlySteps = {
    {"", "", "ro", ""},
    {"a", "txtArtist=Ny", "cmdSpara", "Fel|Filen är skrivskyddad!"},
    {"a|b", "txtKommentarer=Bra", "cmdKommentarer",
     "Fel|\na.mp3 (skrivskyddad eller låst)|\nb.mp3 (skrivskyddad eller låst)"},
    // Cher's file has its name already: only a is renamed.
    {"a|Cher - Believe", "", "cmdTag2Filnamn", "Fil/mapp åtkomstfel|Kunde inte byta filnamn."},
    {"b", "", "Delete", "Fel|Det gick inte att radera filen."},
    // Deleting for good fails as the silent rescan.
    {"", "", "Shift+Delete", "Bekräfta borttagning av fil|b.mp3"},
    // The settings go where the user may write.
    {"", "", "close", ""},
};
// Played by its path, saved, its name into its tag where a tag can hold it, and back.
const Files kOddFiles = {{q("rad\nbryt.mp3"), kOld},
                         {q("bak\\snedstreck citat\"tecken.mp3"), kOld},
                         {q("ogiltig \xff\xfe utf8.mp3"), kOld}};
const std::vector<Step> kOdd = {
    {"rad\nbryt", "", "play", ""},
    {"ogiltig \xff\xfe utf8", "txtArtist=Ny artist", "cmdSpara", "", "ogiltig \xff\xfe utf8.mp3"},
    {"rad\nbryt|bak\\snedstreck citat\"tecken|ogiltig \xff\xfe utf8", "", "cmdFilnamn2Tag",
     "Fel|\nogiltig \xff\xfe utf8.mp3 (tecken som en tagg inte kan lagra)",
     "rad\nbryt.mp3:txtTitel=rad\nbryt:txtArtist=|bak\\snedstreck citat\"tecken.mp3:txtArtist=:"
     "txtTitel=bak\\snedstreck citat\"tecken"},
    {"ogiltig \xff\xfe utf8", "", "Delete", "", "-ogiltig \xff\xfe utf8.mp3"},
    // The cleaned name is given, the one with a line break refused.
    {"rad\nbryt|bak\\snedstreck citat\"tecken", "", "cmdTag2Filnamn", "Felaktigt filnamn",
     "bak\\snedstreck citat\"tecken.mp3>baksnedstreck citattecken.mp3"},
};
// Entries that only look like MP3 files are not listed; those listed that another program turns
// into something else take every command, which works or says why.
const Files kEntries = {{u"låst.mp3"_s, "<000>" + kOld},
                        {u"snurra.mp3"_s, kOld},
                        {u"fifo.mp3"_s, kOld},
                        {u"mapp.mp3"_s, kOld},
                        {u"loop.mp3"_s, "-> loop.mp3"},
                        {u"ring1.mp3"_s, "-> ring2.mp3"},
                        {u"ring2.mp3"_s, "-> ring1.mp3"},
                        {u"dinglande.mp3"_s, "-> finns-inte"},
                        {u"länk.mp3"_s, "-> verklig.data"},
                        {u"verklig.data"_s, kAbba},
                        {u"rör.mp3"_s, "<fifo>"},
                        {u"katalog.mp3"_s, "<folder>"}};
const std::vector<Step> kEntrySteps = {
    {"", "", "meddle", "", "fifo.mp3=<fifo>|snurra.mp3=-> snurra.mp3|mapp.mp3=<folder>"},
    {"fifo", "txtArtist=Ny artist", "cmdSpara", "Fel"},
    {"snurra", "txtArtist=Ny artist", "cmdSpara", "Fel"},
    {"mapp", "txtArtist=Ny artist", "cmdSpara", "Fel"},
    {"låst", "txtArtist=Ny artist", "cmdSpara", "Fel|Filen är skrivskyddad!"},
    {"*", "txtAlbum=Samling", "cmdAlbum",
     "Fel|\nfifo.mp3 (|\nlåst.mp3 (skrivskyddad eller låst)|\nmapp.mp3 (|\nsnurra.mp3 (",
     "a.mp3|b.mp3|c.mp3|verklig.data"},
    // Renaming and the trash need the folder only: the very entry moves.
    {"mapp", "txtFilnamn=omdöpt", "cmdFilnamn", "", "mapp.mp3>omdöpt.mp3"},
    {"omdöpt", "", "Delete", "", "-omdöpt.mp3"},
};
// Listed and saved again and again while another program changes it (see churn()); once it holds
// still, it takes its tag once.
const Files kChangingFiles = {{u"växlar.mp3"_s, kChanging}};
const std::vector<Step> kChurn = {{"växlar", "txtArtist=Stilla", "cmdSpara", "", "växlar.mp3"}};
// More than two rounds of the scan's reading (2,048 names each), with a name at the limit: it takes
// a tag and gives way to one from its tag.
const Files kLongFiles = {{QString::fromLatin1(kLong), audio(400)}};
const std::vector<Step> kMany = {
    {kLongBase.constData(), "txtArtist=Lång", "cmdSpara", "", kLong.constData()},
    {"", "", "cmdTag2Filnamn", "", kLongRenamed.constData()}};

const Case kCases[] = {
    {"a full disk", K::Ext4, 8 * kMiB, kFullFiles, 0, false, kFull},
    {"a disk with room for four trailers", K::Tmpfs, 64 * kPage, kTracks, 4, false, kPartWay},
    {"settings on a full disk", K::Tmpfs, 16 * kPage, kNone, 0, true, kSettingsFull},
    {"exFAT, which ignores letter case", K::Exfat, 16 * kMiB, kStickFiles, kAsIs, false, kStick},
    {"NTFS, which keeps it", K::Ntfs, 16 * kMiB, kStickFiles, kAsIs, false, kStick},
    {"a read-only disk", K::Ext4, 8 * kMiB, kReadOnlyFiles, kAsIs, true, kReadOnlySteps},
    {"names no one would choose", K::Tmpfs, 0, kOddFiles, kAsIs, false, kOdd},
    {"entries that are not what they seem", K::Tmpfs, 0, kEntries, kAsIs, false, kEntrySteps,
     "a|b|c|fifo|länk|låst|mapp|snurra"},
    {"a file that changes while listed", K::Tmpfs, 0, kChangingFiles, kAsIs, false, kChurn},
    {"thousands of long names", K::Tmpfs, 64 * kMiB, kLongFiles, kAsIs, false, kMany, "", 5000},
};

}  // namespace

class RobustWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ::alarm(300); }
    void cleanup() { ::alarm(0); }

    void everyStepDoesWhatItMayAndSaysWhatItCannot() {
        for (const Case& c : kCases) {
            qInfo("%s", c.what);
            run(c);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // A stick that stops answering, through the real drive list: its daemon stopped.
    void aMountThatStopsAnsweringHoldsNeitherTheWindowNorAScan() {
        const Medium stuck(16 * kMiB, K::Exfat);
        if (!stuck.mounted())
            QSKIP(qPrintable(stuck.whyNot()));
        const QString root = stuck.path().chopped(1);
        writeAll(stuck.path() + u"fast.mp3"_s, kAbba);
        const std::vector unreachable{FakeMessageBoxes::Shown{
            u"Fel"_s, u"Enhet "_s + root + u" går inte att komma åt."_s,
            platform::MessageBoxes::Icon::None, platform::MessageBoxes::Buttons::RetryCancel}};
        // The folder of the last run is on the mount that no longer answers.
        platform::PosixDrives drives;
        WindowFixture t;
        t.saveIni(root);
        stuck.signal(SIGSTOP);
        QElapsedTimer took;
        took.start();
        t.make(nullptr, &drives).Form_Load();
        t.w->show();
        // One wait for the drive list and one for the folder; never one per question.
        QVERIFY(took.elapsed() < 3 * platform::kAnswerTime.count());
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

private:
    static void run(const Case& c) {
        std::optional<Medium> disk;
        if (c.bytes > 0 && !disk.emplace(c.bytes, c.kind).mounted())
            return qInfo("skipped: %s", qPrintable(disk->whyNot()));
        WindowFixture t;
        const QString root = disk ? disk->path() : t.music.path();
        for (const auto& [name, bytes] : c.files) {
            lay(root + name, bytes);
            const AsUser user;
            if (bytes.startsWith("<000>") && !AsUser::refused(root + name))
                return qInfo("skipped: a mode of 000 does not refuse this process");
        }
        for (int i = 0; i < c.many; ++i)
            lay(root + QString::number(i).rightJustified(251, u'0') + u".mp3"_s, {});
        if (c.programFolder)
            t.folder.folder = root.chopped(1);
        const QString listed = c.programFolder && c.files.empty() ? t.music.path() : root;
        t.saveIni(listed.chopped(1));
        platform::GioTrash gio;
        const AsUser user;  // the user's rights, not root's
        t.make(&gio).Form_Load();
        t.w->show();
        if (c.pagesLeft != kAsIs)
            fill(root, c.pagesLeft);
        QStringList names = t.names();
        names.sort();
        QVERIFY(!*c.shows || names == split(c.shows));
        if (&c.steps == &kChurn)
            churn(t);
        Files expected = snapshot(root);
        bool stale = false;  // the list shows what was, not what another program has made
        for (const Step& s : c.steps) {
            const QString what = q(c.what) + u": "_s + q(s.act) + u' ' + q(s.select);
            QStringList select = split(s.select);
            if (select == QStringList{u"*"_s})
                select = {t.names().first(), t.names().last()};
            for (const QString& name : select) {
                QVERIFY2(t.row(name) >= 0, qPrintable(what));
                t.list->scrollTo(t.rows().index(t.row(name), 0));
                t.click(t.row(name), name == select[0]  ? Qt::NoModifier
                                     : *s.select == '*' ? Qt::ShiftModifier
                                                        : Qt::ControlModifier);
            }
            for (const QString& typed : split(s.typed))
                t.type(typed.section(u'=', 0, 0).toLatin1().constData(), typed.section(u'=', 1));
            const QString act = q(s.act);
            if (act == u"ro" || act == u"rw") {
                QCOMPARE(disk->remount(act == u"ro"), 0);
                continue;
            }
            for (const QString& change : act == u"meddle" ? split(s.changes) : QStringList{}) {
                lay(root + change.section(u'=', 0, 0),
                    platform::encodeName(change.section(u'=', 1)));
                expected = snapshot(root);
                stale = true;
            }
            if (act == u"Delete" || act == u"Shift+Delete")
                QTest::keyClick(t.list, Qt::Key_Delete,
                                act == u"Delete" ? Qt::NoModifier : Qt::ShiftModifier);
            else if (act == u"Ångra")
                t.child<QAction>("mnuAngra")->trigger();
            else if (act == u"play")
                t.w->mnuHogerSpela_Click();
            else if (act == u"close")
                t.w->move(t.w->pos() + QPoint(40, 40)), t.w->close();
            else if (act != u"meddle")
                t.press(s.act);
            if (act == u"play")
                QCOMPARE(t.opener.opened, std::vector{root + select[0] + u".mp3"_s});
            if (act == u"close" && !*s.message)
                QVERIFY(present(desktopHome() + u"config/sorvel/id3.ini"_s));
            const auto shown = std::exchange(t.boxes.shown, {});
            const QString said = shown.empty() ? QString() : shown[0].title + u'|' + shown[0].text;
            const QStringList message = split(s.message);
            QVERIFY2(shown.size() == (message.isEmpty() ? 0u : 1u),
                     qPrintable(what + u" said: "_s + said));
            QVERIFY2(message.isEmpty() || said.startsWith(message[0] + u'|'), qPrintable(said));
            for (QString part : message) {
                part.replace(u"$INI"_s, t.iniPath())
                    .replace(u"$FULL"_s, QString::number(code::kDiskFull));
                QVERIFY2(said.contains(part), qPrintable(said));
            }
            // What the step changes, and nothing else.
            const Files trash = snapshot(desktopHome() + u"data/Trash/files/"_s);
            for (const QString& change : act == u"meddle" ? QStringList{} : split(s.changes)) {
                const QString name = change.section(u'>', 0, 0).section(u':', 0, 0);
                if (change.startsWith(u'-')) {
                    QVERIFY2(trash.count(name.mid(1)) != 0 &&
                                 trash.at(name.mid(1)) == expected[name.mid(1)],
                             qPrintable(change));
                    expected.erase(name.mid(1));
                } else if (change.contains(u'>')) {
                    auto moved = expected.extract(name);
                    moved.key() = change.section(u'>', 1);
                    expected.insert(std::move(moved));
                } else {
                    expected[name] = edited(
                        expected[name], change.contains(u':') ? change.section(u':', 1).split(u':')
                                                              : split(s.typed));
                }
            }
            QCOMPARE(snapshot(root), expected);
            if (act == u"close" || stale)
                continue;
            // The list shows what the files hold.
            Recorder scanned;
            platform::PosixFileSystem fs;
            QCOMPARE(scanned.scan(fs, listed), code::kOk);
            scanned.byName();
            std::vector<browse::Row> rows = t.w->folder().rows();
            std::ranges::sort(rows, {}, &browse::Row::name);
            QVERIFY2(rows == scanned.rows, qPrintable(what));
        }
    }

    // Lists and saves växlar.mp3 again and again while another thread changes it; it is left in
    // its first form.
    static void churn(WindowFixture& t) {
        const int fd = ::open(platform::encodeName(t.music.file(u"växlar.mp3"_s)), O_RDWR);
        std::jthread changer([&](const std::stop_token& stop) {
            for (int i = 0; !stop.stop_requested() || i % 3 != 2; ++i) {
                (void)!(i % 3 == 1 ? ::pwrite(fd, kChanging.constData(), kChanging.size(), 0)
                                   : ::ftruncate(fd, i % 3 == 0 ? 0 : 129));
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
        for (int i = 0; i < 30; ++i) {
            t.w->mnuUppdatera_Click();
            const QString artist = t.rows().row(t.row("växlar")).artist;
            QVERIFY2(artist.isEmpty() || artist == u"Växel"_s, qPrintable(artist));
            t.click(t.row("växlar"));
            t.press("cmdSpara");  // while another program changes the file: a message or done
            QVERIFY(std::exchange(t.boxes.shown, {}).size() <= 1);
        }
        changer.request_stop();
        changer.join();
        ::close(fd);
        t.w->mnuUppdatera_Click();
    }
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(RobustWindowTest)
#include "window_test.moc"
