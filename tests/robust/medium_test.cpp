// Real media under the window: a small disk filled to the last page, a read-only one, and the
// exFAT and NTFS of USB sticks through their FUSE daemons. Each case is a table of steps a user
// takes; after each, the medium must hold exactly what the step may change and the list must
// show what the files hold.
#include "mounts.h"
#include "platform/gio_trash.h"
#include "support/recorder.h"
#include "window/window_fixture.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <QAction>
#include <QComboBox>
#include <utility>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using Files = std::map<QString, QByteArray>;

namespace {

constexpr std::size_t kPage = 4096;
constexpr int kReadOnly = -1;
constexpr int kAsIs = -2;

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
    if (pagesLeft > 0) {
        QCOMPARE(::posix_fallocate(fd, 0, off_t(free() - left)), 0);
        QCOMPARE(free(), left);
    }
    // Full once not one more block can be written, even after what is written has settled.
    const QByteArray block(64 * 1024, 'f');
    for (std::size_t chunk = block.size(); pagesLeft == 0 && chunk >= kPage; chunk /= 2) {
        const auto more = [&] { return ::write(fd, block.constData(), chunk) == ssize_t(chunk); };
        while (more() || (::fsync(fd) == 0 && more())) {
        }
    }
    QVERIFY(pagesLeft > 0 || (::write(fd, block.constData(), kPage) < 0 && errno == ENOSPC));
    ::close(fd);
}

/// What a user does, and what must come of it. Lists are written "x|y".
struct Step {
    const char* select;   ///< rows clicked, "" to keep the selection
    const char* typed;    ///< "field=text" into line edits or Combo1
    const char* act;      ///< a button, "Delete", "Shift+Delete", "Ångra" or "close"
    const char* message;  ///< "title|what it holds|..." of the one message shown; "" for none
    Files changes = {};   ///< what the step makes of files; a null QByteArray removes one
    int written = -1;     ///< when set, only that many of `changes` come about; the rest are named
};

struct Case {
    const char* what;
    Medium::Kind kind;
    std::size_t bytes;
    Files files;
    int pagesLeft;       ///< the disk filled to that, or kReadOnly, or kAsIs
    bool programFolder;  ///< id3.ini is kept on the medium
    std::vector<Step> steps;
};

const QByteArray kUntagged = audio(2 * kPage);  // a new trailer needs a new page
const QByteArray kTagged = audio(300) + trailer("Gammal", "Artist", "", "", "", 1);
const QByteArray kEdge = audio(2 * kPage - 64);  // its trailer is written in part, then no space
const QByteArray kAbba = audio(400) + trailer("Waterloo", "Abba", "Arrival", "1974", "", 13);
const QByteArray kCher = audio(300) + trailer("Believe", "Cher", "", "", "", 17);
const QByteArray kSos = withField(kAbba, kTitleAt, 30, "SOS");
const QByteArray kRetitled = withField(kTagged, kTitleAt, 30, "Ny titel");

Files moved(const char* from, const char* to, const QByteArray& bytes) {
    return {{QString::fromUtf8(from), {}}, {QString::fromUtf8(to), bytes}};
}
Files tracks(const QByteArray& tail) {
    Files out;
    for (int i = 0; i < 10; ++i)
        out[u"spår %1.mp3"_s.arg(i)] = audio(kPage) + tail;
    return out;
}

// Renames on a stick, each taken back with "&Ångra".
const std::vector<Step> kStick = {
    {"a", "txtFilnamn=Ny", "cmdFilnamn", "", moved("a.mp3", "Ny.mp3", kAbba)},
    {"", "", "Ångra", "", moved("Ny.mp3", "a.mp3", kAbba)},
    {"cher - believe", "", "cmdTag2Filnamn", "",
     moved("cher - believe.mp3", "Cher - Believe.mp3", kCher)},
    {"", "", "Ångra", "", moved("Cher - Believe.mp3", "cher - believe.mp3", kCher)},
    {"a", "txtTitel=SOS|txtFilnamn=Abba - SOS", "cmdSpara", "Ändra filnamn?",
     moved("a.mp3", "Abba - SOS.mp3", kSos)},
    {"", "", "Ångra", "", moved("Abba - SOS.mp3", "a.mp3", kAbba)},
};
const Files kStickFiles = {{u"a.mp3"_s, kAbba}, {u"cher - believe.mp3"_s, kCher}};

const Files kFullFiles = {
    {u"ny.mp3"_s, kUntagged}, {u"har.mp3"_s, kTagged}, {u"kant.mp3"_s, kEdge}};
const std::vector<Step> kFull = {
    {"ny", "txtArtist=Ny artist", "cmdSpara", "Fel|\nny.mp3 (disken är full)"},
    {"kant", "txtArtist=Ny artist", "cmdSpara", "Fel|\nkant.mp3 (disken är full)"},
    // The trash on the disk cannot be made, or note where the file came from: it stays.
    {"", "", "Delete", "Fel|Det gick inte att radera filen."},
    // Overwriting a trailer takes no new space.
    {"har", "txtTitel=Ny titel", "cmdSpara", "", {{u"har.mp3"_s, kRetitled}}},
};

// Ten files, and room for four trailers.
const std::vector<Step> kPartWay = {
    {"spår 0|spår 1|spår 2|spår 3|spår 4|spår 5|spår 6|spår 7|spår 8|spår 9", "txtAlbum=Samling",
     "cmdAlbum", "Fel", tracks(trailer("", "", "Samling", "", "", 255)), 4},
};

const std::vector<Step> kSettingsFull = {
    {"", "", "close", "Fel|Inställningarna kunde inte sparas i $INI (fel av typen $FULL)."},
};

const Files kReadOnlyFiles = {
    {u"a.mp3"_s, kAbba}, {u"b.mp3"_s, audio(500)}, {u"Cher - Believe.mp3"_s, kCher}};
constexpr const char* kBothLocked =
    "Fel|\na.mp3 (skrivskyddad eller låst)|\nb.mp3 (skrivskyddad eller låst)";
const std::vector<Step> kReadOnlySteps = {
    {"a", "txtArtist=Ny", "cmdSpara", "Fel|Filen är skrivskyddad!"},
    {"a|b", "txtKommentarer=Bra", "cmdKommentarer", kBothLocked},
    {"", "Combo1=Jazz", "cmdGenre", kBothLocked},
    {"", "", "cmdFilnamn2Tag", kBothLocked},
    {"b", "txtFilnamn=ny", "cmdFilnamn", "Fil/mapp åtkomstfel|Kunde inte byta filnamn."},
    // Cher's file has its name already: only a is renamed.
    {"a|Cher - Believe", "", "cmdTag2Filnamn", "Fil/mapp åtkomstfel|Kunde inte byta filnamn."},
    {"b", "", "Delete", "Fel|Det gick inte att radera filen."},
    // Deleting for good fails as the silent rescan.
    {"", "", "Shift+Delete", "Bekräfta borttagning av fil|b.mp3"},
    // The settings go where the user may write.
    {"", "", "close", ""},
};

using K = Medium::Kind;
constexpr std::size_t kMiB = 1 << 20;
const Case kCases[] = {
    {"a full disk", K::Ext4, 8 * kMiB, kFullFiles, 0, false, kFull},
    {"a disk that fills part way", K::Tmpfs, 64 * kPage, tracks({}), 4, false, kPartWay},
    {"settings on a full disk", K::Tmpfs, 16 * kPage, {}, 0, true, kSettingsFull},
    {"exFAT, which ignores letter case", K::Exfat, 16 * kMiB, kStickFiles, kAsIs, false, kStick},
    {"NTFS, which keeps it", K::Ntfs, 16 * kMiB, kStickFiles, kAsIs, false, kStick},
    {"a read-only disk", K::Ext4, 8 * kMiB, kReadOnlyFiles, kReadOnly, true, kReadOnlySteps},
};

QStringList split(const char* list) {
    return QString::fromUtf8(list).split(u'|', Qt::SkipEmptyParts);
}

}  // namespace

class MediumTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyStepOnTheMediumDoesWhatItMayAndSaysWhatItCannot() {
        for (const Case& c : kCases) {
            qInfo("%s", c.what);
            Medium disk(c.bytes, c.kind);
            if (!disk.mounted()) {
                qInfo("skipped: %s", qPrintable(disk.whyNot()));
                continue;
            }
            const QString root = disk.path();
            WindowFixture t;
            for (const auto& [name, bytes] : c.files)
                writeAll(root + name, bytes);
            if (c.programFolder)
                t.folder.folder = root.chopped(1);
            const QString listed =
                c.programFolder && c.pagesLeft != kReadOnly ? t.music.path() : root;
            t.saveIni(listed.chopped(1));
            platform::GioTrash gio;
            t.make(&gio).Form_Load();
            t.w->show();
            if (c.pagesLeft == kReadOnly)
                QCOMPARE(disk.remount(true), 0);
            else if (c.pagesLeft != kAsIs)
                fill(root, c.pagesLeft);
            Files expected = snapshot(root);
            for (const Step& s : c.steps) {
                const QByteArray what = QByteArray(c.what) + ": " + s.act + ' ' + s.select;
                const QStringList select = split(s.select);
                for (const QString& row : select)
                    t.click(t.row(row), row == select[0] ? Qt::NoModifier : Qt::ControlModifier);
                for (const QString& typed : split(s.typed)) {
                    const QByteArray field = typed.section(u'=', 0, 0).toLatin1();
                    if (auto* combo = t.child<QComboBox>(field.constData()))
                        combo->setCurrentText(typed.section(u'=', 1));
                    else
                        t.type(field.constData(), typed.section(u'=', 1));
                }
                const QString act = QString::fromUtf8(s.act);
                if (act == u"Delete" || act == u"Shift+Delete")
                    QTest::keyClick(t.list, Qt::Key_Delete,
                                    act == u"Delete" ? Qt::NoModifier : Qt::ShiftModifier);
                else if (act == u"Ångra")
                    t.child<QAction>("mnuAngra")->trigger();
                else if (act == u"close") {
                    t.w->move(t.w->pos() + QPoint(40, 40));
                    t.w->close();
                } else
                    t.press(s.act);
                const auto shown = std::exchange(t.boxes.shown, {});
                const QString said =
                    shown.empty() ? QString() : shown[0].title + u'|' + shown[0].text;
                const QStringList message = split(s.message);
                QVERIFY2(shown.size() == (message.isEmpty() ? 0u : 1u), what);
                for (const QString& part : message) {
                    QVERIFY2(
                        said.contains(QString(part)
                                          .replace(u"$INI"_s, t.iniPath())
                                          .replace(u"$FULL"_s, QString::number(code::kDiskFull))),
                        qPrintable(said));
                }
                QVERIFY(message.isEmpty() || said.startsWith(message[0] + u'|'));
                int applied = 0;
                const Files now = snapshot(root);
                for (const auto& [name, bytes] : s.changes) {
                    // A file left as it was is named as not written; one written is not named.
                    const bool kept = s.written >= 0 && now.at(name) != bytes;
                    QVERIFY2(s.written < 0 ||
                                 said.contains(u'\n' + name + u" (disken är full)"_s) == kept,
                             qPrintable(name));
                    if (kept)
                        continue;
                    ++applied;
                    bytes.isNull() ? void(expected.erase(name)) : void(expected[name] = bytes);
                }
                QVERIFY2(s.written < 0 || applied == s.written, what);
                QCOMPARE(now, expected);
                if (act == u"close")
                    break;
                // The list shows what the files hold.
                Recorder scanned;
                platform::PosixFileSystem fs;
                QCOMPARE(scanned.scan(fs, listed), code::kOk);
                scanned.byName();
                std::vector<browse::Row> rows = t.w->folder().rows();
                std::ranges::sort(rows, {}, &browse::Row::name);
                QVERIFY2(rows == scanned.rows, what);
            }
            if (c.pagesLeft == kReadOnly)
                QVERIFY(present(desktopHome() + u"config/sorvel/id3.ini"_s));
        }
    }
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(MediumTest)
#include "medium_test.moc"
