// A real full disk and a read-only medium under the window: a small tmpfs mounted by the test,
// filled to the last page or remounted read-only while the window shows its files.
#include "desktop_home.h"
#include "mounts.h"
#include "platform/gio_trash.h"
#include "window/window_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <map>
#include <utility>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

namespace {

constexpr std::size_t kPage = 4096;

/// Everything in a folder and below it, name by name, with its bytes.
std::map<QByteArray, QByteArray> snapshot(const QByteArray& folder) {
    std::map<QByteArray, QByteArray> out;
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        if (e->d_type == DT_DIR) {
            for (const auto& [n, b] : snapshot(path))
                out[name + '/' + n] = b;
        } else {
            out[name] = readAll(platform::decodeName(path.toStdString()));
        }
    }
    ::closedir(dir);
    return out;
}

/// Fills the file system that holds `folder` with one file until only `pagesLeft` pages are free,
/// which is exact on a tmpfs; `pagesLeft` 0 fills any file system (ext4 keeps blocks for its own
/// records as a file grows, and shows them free).
void fill(const QString& folder, std::size_t pagesLeft) {
    const QByteArray path = platform::encodeName(folder + u"fyllnad.bin"_s);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    struct statvfs st {};
    QCOMPARE(::fstatvfs(fd, &st), 0);
    const std::size_t free = st.f_bavail * st.f_frsize;
    QVERIFY(free >= pagesLeft * kPage);
    if (pagesLeft > 0) {
        QCOMPARE(::posix_fallocate(fd, 0, static_cast<off_t>(free - pagesLeft * kPage)), 0);
        ::close(fd);
        QCOMPARE(::statvfs(path.constData(), &st), 0);
        QCOMPARE(st.f_bavail * st.f_frsize, pagesLeft * kPage);
        return;
    }
    // Full once not one more block can be written, even after what is written has settled.
    const QByteArray block(64 * 1024, 'f');
    for (std::size_t chunk = block.size(); chunk >= kPage; chunk /= 2) {
        const auto more = [&] {
            return ::write(fd, block.constData(), chunk) == static_cast<ssize_t>(chunk);
        };
        while (more() || (::fsync(fd) == 0 && more())) {
        }
    }
    errno = 0;
    QCOMPARE(::write(fd, block.constData(), kPage), ssize_t{-1});
    QCOMPARE(errno, ENOSPC);
    ::close(fd);
}

}  // namespace

class MediumTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void appendOnAFullDiskKeepsTheFileAndSaysSo() {
        Medium disk(std::size_t{8} << 20, Medium::Kind::Ext4);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        WindowFixture t;
        // A file of whole pages needs a new page for its trailer; one with a trailer does not.
        const QByteArray untagged = audio(2 * kPage);
        const QByteArray tagged = audio(300) + trailer("Gammal", "Artist", "", "", "", 1);
        writeAll(disk.path() + u"ny.mp3"_s, untagged);
        writeAll(disk.path() + u"har.mp3"_s, tagged);
        // One whose trailer would end on a new page is written in part before the disk says no.
        const QByteArray edge = audio(2 * kPage - 64);
        writeAll(disk.path() + u"kant.mp3"_s, edge);
        t.saveIni(disk.path().chopped(1));
        platform::GioTrash gio;
        DesktopHome::get();
        t.make(&gio).Form_Load();
        t.w->show();
        fill(disk.path(), 0);
        if (QTest::currentTestFailed())
            return;

        t.select({"ny"});
        t.type("txtArtist", u"Ny artist"_s);
        t.press("cmdSpara");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].title, u"Fel"_s);
        QVERIFY2(t.boxes.shown[0].text.endsWith(u"\nny.mp3 (disken är full)"_s),
                 qPrintable(t.boxes.shown[0].text));
        QCOMPARE(readAll(disk.path() + u"ny.mp3"_s), untagged);
        QCOMPARE(t.rows().row(t.row("ny")).artist, QString());
        t.boxes.shown.clear();

        t.select({"kant"});
        t.type("txtArtist", u"Ny artist"_s);
        t.press("cmdSpara");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(t.boxes.shown[0].text.endsWith(u"\nkant.mp3 (disken är full)"_s));
        QCOMPARE(readAll(disk.path() + u"kant.mp3"_s), edge);
        t.boxes.shown.clear();

        // The trash on the disk cannot be made, or note where the file came from: it stays.
        QTest::keyClick(t.list, Qt::Key_Delete);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].text, u"Det gick inte att radera filen."_s);
        QCOMPARE(readAll(disk.path() + u"kant.mp3"_s), edge);
        QVERIFY(t.row("kant") >= 0);
        t.boxes.shown.clear();

        // Overwriting a trailer takes no new space, so it works on the full disk.
        t.select({"har"});
        t.type("txtTitel", u"Ny titel"_s);
        t.press("cmdSpara");
        QVERIFY(t.boxes.shown.empty());
        QCOMPARE(readAll(disk.path() + u"har.mp3"_s), withField(tagged, kTitleAt, 30, "Ny titel"));
        t.w->close();
    }

    void fieldWriteOnADiskThatFillsPartWayWritesWhatFitsAndNamesTheRest() {
        Medium disk(64 * kPage);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        WindowFixture t;
        QStringList names;
        for (int i = 0; i < 10; ++i) {
            names << u"spår %1"_s.arg(i);
            writeAll(disk.path() + names.back() + u".mp3"_s, audio(kPage));
        }
        t.saveIni(disk.path().chopped(1));
        t.make().Form_Load();
        t.w->show();
        fill(disk.path(), 4);  // room for four trailers
        if (QTest::currentTestFailed())
            return;
        t.click(0);
        t.click(t.rows().rowCount() - 1, Qt::ShiftModifier);
        t.type("txtAlbum", u"Samling"_s);
        t.press("cmdAlbum");

        QStringList written, unwritten;
        for (const QString& name : names) {
            const QByteArray now = readAll(disk.path() + name + u".mp3"_s);
            if (now == audio(kPage)) {
                unwritten << name;
            } else {
                QCOMPARE(now, audio(kPage) + trailer("", "", "Samling", "", "", 255));
                QCOMPARE(t.rows().row(t.row(name)).album, u"Samling"_s);
                written << name;
            }
        }
        QCOMPARE(written.size(), 4);
        // One message, after the run, naming each file left as it was and no other.
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        const QString text = t.boxes.shown[0].text;
        for (const QString& name : unwritten)
            QVERIFY2(text.contains(u'\n' + name + u".mp3 (disken är full)"_s), qPrintable(text));
        for (const QString& name : written)
            QVERIFY(!text.contains(name + u".mp3"_s));
        t.w->close();
    }

    void settingsSavedOnAFullDiskKeepTheOldFileAndSaySo() {
        Medium disk(16 * kPage);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        WindowFixture t;
        t.folder.folder = disk.path().chopped(1);  // the program's folder, where id3.ini lives
        t.start();
        const QByteArray before = readAll(t.iniPath());
        QVERIFY(!before.isEmpty());
        fill(disk.path(), 0);
        if (QTest::currentTestFailed())
            return;
        t.w->move(t.w->pos() + QPoint(40, 40));
        t.w->close();
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].text,
                 u"Inställningarna kunde inte sparas i %1 (fel av typen %2)."_s.arg(t.iniPath())
                     .arg(code::kDiskFull));
        QCOMPARE(readAll(t.iniPath()), before);
        // Nothing but the old file and the filler is left on the disk.
        QCOMPARE(snapshot(platform::encodeName(disk.path().chopped(1))).size(), std::size_t{2});
    }

    // The renaming commands on the exFAT and NTFS of USB sticks, through their FUSE daemons, each
    // taken back with "&Ångra"; exFAT ignores letter case, NTFS keeps it.
    void renamesOnSticksWorkAndComeBack() {
        for (const auto kind : {Medium::Kind::Exfat, Medium::Kind::Ntfs}) {
            Medium stick(std::size_t{16} << 20, kind);
            if (!stick.mounted())
                QSKIP(qPrintable(stick.whyNot()));
            WindowFixture t;
            const QByteArray a = audio(400) + trailer("Waterloo", "Abba", "", "1974", "", 13);
            const QByteArray c = audio(300) + trailer("Believe", "Cher", "", "", "", 17);
            writeAll(stick.path() + u"a.mp3"_s, a);
            writeAll(stick.path() + u"cher - believe.mp3"_s, c);
            t.saveIni(stick.path().chopped(1));
            t.make().Form_Load();
            t.w->show();
            const auto names = [&] {
                QStringList files = QDir(stick.path()).entryList(QDir::Files);
                files.sort();
                return files;
            };
            const auto undo = [&] { t.child<QAction>("mnuAngra")->trigger(); };

            t.select({"a"});
            t.type("txtFilnamn", u"Ny"_s);
            t.press("cmdFilnamn");
            QCOMPARE(names(), QStringList({u"Ny.mp3"_s, u"cher - believe.mp3"_s}));
            undo();
            QCOMPARE(readAll(stick.path() + u"a.mp3"_s), a);

            t.select({"cher - believe"});
            t.press("cmdTag2Filnamn");  // a change of letter case alone
            QCOMPARE(names(), QStringList({u"Cher - Believe.mp3"_s, u"a.mp3"_s}));
            QCOMPARE(readAll(stick.path() + u"Cher - Believe.mp3"_s), c);
            undo();
            QCOMPARE(names(), QStringList({u"a.mp3"_s, u"cher - believe.mp3"_s}));

            t.select({"a"});
            t.type("txtTitel", u"SOS"_s);
            t.type("txtFilnamn", u"Abba - SOS"_s);
            t.press("cmdSpara");  // OK to the rename question
            QCOMPARE(names(), QStringList({u"Abba - SOS.mp3"_s, u"cher - believe.mp3"_s}));
            QCOMPARE(readAll(stick.path() + u"Abba - SOS.mp3"_s),
                     withField(a, kTitleAt, 30, "SOS"));
            undo();
            QCOMPARE(names(), QStringList({u"a.mp3"_s, u"cher - believe.mp3"_s}));
            QCOMPARE(readAll(stick.path() + u"a.mp3"_s), a);
            QCOMPARE(t.boxes.shown.size(), std::size_t{1});  // the rename question alone
            t.w->close();
        }
    }

    void onAReadOnlyMediumEveryWriteCommandReportsAndNothingChanges() {
        Medium disk(std::size_t{8} << 20, Medium::Kind::Ext4);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        WindowFixture t;
        const QString home = DesktopHome::get().path();
        t.folder.folder = disk.path().chopped(1);
        writeAll(disk.path() + u"a.mp3"_s,
                 audio(400) + trailer("Waterloo", "Abba", "Arrival", "1974", "", 13));
        writeAll(disk.path() + u"b.mp3"_s, audio(500));
        writeAll(disk.path() + u"Cher - Believe.mp3"_s,
                 audio(300) + trailer("Believe", "Cher", "", "", "", 17));
        platform::GioTrash gio;
        t.saveIni(disk.path().chopped(1));
        t.make(&gio).Form_Load();
        t.w->show();
        QCOMPARE(t.rows().rowCount(), 3);
        QCOMPARE(disk.remount(true), 0);
        const QByteArray root = platform::encodeName(disk.path().chopped(1));
        const auto before = snapshot(root);

        // One message that says each of `texts`, and no byte changed.
        const auto expectOne = [&](const char* what, const QString& title,
                                   const QStringList& texts) {
            const auto shown = std::exchange(t.boxes.shown, {});
            QVERIFY2(shown.size() == 1, what);
            QCOMPARE(shown[0].title, title);
            for (const QString& text : texts)
                QVERIFY2(shown[0].text.contains(text), qPrintable(shown[0].text));
            QCOMPARE(snapshot(root), before);
        };
        t.select({"a"});
        t.type("txtArtist", u"Ny"_s);
        t.press("cmdSpara");
        expectOne("save", u"Fel"_s, {u"Filen är skrivskyddad!"_s});

        t.select({"a", "b"});
        t.type("txtKommentarer", u"Bra"_s);
        t.press("cmdKommentarer");
        const QStringList both = {u"\na.mp3 (skrivskyddad eller låst)"_s,
                                  u"\nb.mp3 (skrivskyddad eller låst)"_s};
        expectOne("field", u"Fel"_s, both);
        t.child<QComboBox>("Combo1")->setCurrentText(u"Jazz"_s);
        t.press("cmdGenre");
        expectOne("genre", u"Fel"_s, both);
        t.press("cmdFilnamn2Tag");
        expectOne("name to tag", u"Fel"_s, both);

        // A rename, a name from the tag (one file already has its name, so only a is renamed).
        t.select({"b"});
        t.type("txtFilnamn", u"ny"_s);
        t.press("cmdFilnamn");
        expectOne("rename", u"Fil/mapp åtkomstfel"_s, {u"Kunde inte byta filnamn."_s});
        t.select({"a", "Cher - Believe"});
        t.press("cmdTag2Filnamn");
        expectOne("name from tag", u"Fil/mapp åtkomstfel"_s, {u"Kunde inte byta filnamn."_s});

        // The trash cannot take the file; deleting for good fails as the silent rescan.
        t.select({"b"});
        QTest::keyClick(t.list, Qt::Key_Delete);
        expectOne("trash", u"Fel"_s, {u"Det gick inte att radera filen."_s});
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        expectOne("delete", u"Bekräfta borttagning av fil"_s, {u"b.mp3"_s});
        QCOMPARE(t.rows().rowCount(), 3);

        // The settings go where the user may write, and the old file stays as it was.
        t.w->close();
        QVERIFY(t.boxes.shown.empty());
        QCOMPARE(snapshot(root), before);
        QVERIFY(present(home + u"config/sorvel/id3.ini"_s));
    }
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(MediumTest)
#include "medium_test.moc"
