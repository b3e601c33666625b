// Hostile folders through the real window, offscreen: names no one would choose, entries that
// only look like MP3 files, a file that may not be read, a file that changes while it is listed
// and a folder of 100,000 entries. Every case runs under an alarm that ends the process when the
// window hangs.
#include "mounts.h"
#include "platform/gio_trash.h"
#include "window/window_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QLabel>
#include <chrono>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

namespace {

/// The window over the real trash.
struct HostileWindow : WindowFixture {
    void open(const QString& dir) {
        saveIni(dir.chopped(1));
        make(&gio).Form_Load();
        w->show();
    }
    /// The one message since the last call as "title|text"; "" for none, "several" for more.
    QString said() {
        const auto m = std::exchange(boxes.shown, {});
        return m.empty() ? QString() : m.size() > 1 ? u"several"_s : m[0].title + u'|' + m[0].text;
    }
    QString status() const { return child<QLabel>("StatusBar1Panel1")->text(); }
    platform::GioTrash gio;
};

ino_t inode(const QString& path) {
    struct stat st {};
    return ::lstat(platform::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

/// A listed entry every command is tried on: its name (bytes); what it is: ' ' the file as made,
/// 'x' with mode 000, or once listed, behind the list's back, 'p' a FIFO, 'l' a link to itself or
/// 'd' a folder; and what a save and a field say of it, "" when they write it.
struct Entry {
    QByteArray name;
    char kind;
    const char* save;   // "title|what the message holds"
    const char* field;  // what follows "\nNAME.mp3 (" in the message
};
const Entry kEntries[] = {
    {"rad\nbryt", ' ', "", ""},
    {"bak\\snedstreck", ' ', "", ""},
    {"citat\"tecken", ' ', "", ""},
    {"ogiltig \xff\xfe utf8", ' ', "", ""},
    {"fifo", 'p', "Fel", ""},
    {"snurra", 'l', "Fel", ""},
    {"mapp", 'd', "Fel", ""},
    {"låst", 'x', "Fel|Filen är skrivskyddad!", "skrivskyddad eller låst)"},
};

}  // namespace

class HostileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ::alarm(240); }
    void cleanup() { ::alarm(0); }

    void everyCommandOnAHostileEntryWorksOrSaysWhyAndHarmsNothing() {
        for (const Entry& e : kEntries)
            tryEveryCommand(e);
    }

    void artistAndTitleFromOddNamesAndNamesFromTheirTags() {
        HostileWindow t;
        for (const Entry& e : kEntries) {
            if (e.kind == ' ')  // the odd names
                t.mp3(t.music, platform::decodeName((e.name + ".mp3").toStdString()), "Gammal",
                      "L\xe5t");
        }
        t.open(t.music.path());
        t.click(0);
        t.click(t.rows().rowCount() - 1, Qt::ShiftModifier);
        // What a tag can hold is written, the rest named.
        t.press("cmdFilnamn2Tag");
        const QString failed = t.said();
        QVERIFY2(failed.endsWith(
                     u"\nogiltig \xdcff\xdcfe utf8.mp3 (tecken som en tagg inte kan lagra)"_s),
                 qPrintable(failed));
        QCOMPARE(readAll(t.music.file(u"citat\"tecken.mp3"_s)).right(128).mid(3, 30),
                 QByteArray("citat\"tecken").leftJustified(30));
        // The cleaned names are given, the one with a line break refused.
        t.press("cmdTag2Filnamn");
        QVERIFY(t.said().startsWith(u"Felaktigt filnamn|"_s));
        QVERIFY(present(t.music.file(u"rad\nbryt.mp3"_s)));
        for (const QString& made : {u"baksnedstreck"_s, u"citattecken"_s, u"Gammal - Låt"_s})
            QCOMPARE(t.names().count(made), 1);
    }

    void entriesThatOnlyLookLikeMp3FilesAreNotListedAndStallNothing() {
        HostileWindow t;
        const QByteArray dir = platform::encodeName(t.music.path());
        for (const QByteArray link :
             {"loop.mp3>loop.mp3", "ring1.mp3>ring2.mp3", "ring2.mp3>ring1.mp3",
              "dinglande.mp3>finns-inte", "länk.mp3>verklig.data"})
            QCOMPARE(::symlink(link.split('>')[1], dir + link.split('>')[0]), 0);
        QCOMPARE(::mkfifo(dir + "fifo.mp3", 0644), 0);
        QCOMPARE(::mkdir(dir + "mapp.mp3", 0755), 0);
        t.music.write(u"verklig.data"_s, audio(300) + trailer("Titel", "L\xe4nkad", "", "", "", 1));
        t.open(t.music.path());
        QStringList listed = t.names();
        listed.sort();
        QCOMPARE(listed, (QStringList{u"a"_s, u"b"_s, u"c"_s, u"länk"_s}));
        QCOMPARE(t.rows().row(t.row("länk")).artist, u"Länkad"_s);
        QCOMPARE(t.status(), u"Klar"_s);
    }

    void fileThatGrowsAndShrinksWhileTheFolderIsListed() {
        HostileWindow t;
        const QString file = t.music.file(u"växlar.mp3"_s);
        const QByteArray path = platform::encodeName(file);
        const QByteArray comes = platform::encodeName(t.music.file(u"kommer och går.mp3"_s));
        const QByteArray tagged = audio(400) + trailer("Titel", "V\xe4xel", "", "", "", 1);
        writeAll(file, tagged);
        std::jthread changer([&](const std::stop_token& stop) {
            const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
            for (int i = 0; !stop.stop_requested(); ++i) {
                if (i % 3 == 1)
                    (void)!::pwrite(fd, tagged.constData(), tagged.size(), 0);
                else
                    (void)!::ftruncate(fd, i % 3 == 0 ? 0 : 129);
                i % 2 == 0 ? ::unlink(comes.constData())
                           : ::close(::open(comes.constData(), O_CREAT | O_CLOEXEC, 0644));
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            ::close(fd);
        });
        t.open(t.music.path());
        for (int i = 0; i < 30; ++i) {
            t.w->mnuUppdatera_Click();
            QCOMPARE(t.status(), u"Klar"_s);
            QVERIFY(t.rows().rowCount() == 4 || t.rows().rowCount() == 5);
            const QString artist = t.rows().row(t.row("växlar")).artist;
            QVERIFY2(artist.isEmpty() || artist == u"Växel"_s, qPrintable(artist));
            t.click(t.row("växlar"));
            t.press("cmdSpara");  // while another program changes the file: a message or done
            QVERIFY(t.said() != u"several"_s);
        }
        changer.request_stop();
        changer.join();
        // Once it holds still, the file takes its tag once, and nothing else changes.
        t.w->mnuUppdatera_Click();
        t.click(t.row("växlar"));
        const QByteArray before = readAll(file);
        t.type("txtArtist", u"Stilla"_s);
        t.press("cmdSpara");
        QCOMPARE(t.said(), QString());
        const QByteArray after = readAll(file);
        QCOMPARE(after.right(128).mid(kArtistAt, 30), QByteArray("Stilla").leftJustified(30));
        QVERIFY(after.size() == before.size() || after.size() == before.size() + 128);
        QCOMPARE(after.left(before.size() - 128), before.left(before.size() - 128));
    }

    void folderOfAHundredThousandEntriesWithLongNames() {
        // A tmpfs of its own where one can be mounted: the disk's journal would make the
        // folder slow to make and remove, not slow to list.
        const Medium memory(std::size_t{64} << 20, Medium::Kind::Tmpfs, ",nr_inodes=200000");
        HostileWindow t;
        const TempFolder onDisk;
        const QString where = memory.mounted() ? memory.path() : onDisk.path();
        constexpr int kEntries = 100'000;
        const auto nameOf = [](int i) {
            const QByteArray n = QByteArray::number(i).rightJustified(6, '0');
            return (n + QByteArray(255 - 4 - n.size(), 'x') + ".mp3");
        };
        for (int i = 0; i < kEntries; ++i) {
            const int fd = ::open(platform::encodeName(where) + nameOf(i),
                                  O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        t.open(where);
        QCOMPARE(t.rows().rowCount(), kEntries);
        QCOMPARE(t.status(), u"Klar"_s);

        // A name at the limit takes a tag, refuses to grow, and gives way to one from its tag.
        const QString first = QString::fromLatin1(nameOf(7).chopped(4));
        t.list->scrollTo(t.rows().index(t.row(first), 0));
        t.click(t.row(first));
        t.type("txtArtist", u"Lång"_s);
        t.press("cmdSpara");
        QCOMPARE(t.said(), QString());
        QCOMPARE(readAll(where + first + u".mp3"_s).right(128),
                 trailer("", "L\xe5ng", "", "", "", 255));
        t.type("txtFilnamn", first + u'x');
        t.press("cmdFilnamn");
        QVERIFY(t.said().startsWith(u"Felaktigt filnamn|"_s));
        t.press("cmdTag2Filnamn");
        QCOMPARE(t.said(), QString());
        QVERIFY(present(where + u"Lång.mp3"_s));
        QCOMPARE(t.rows().rowCount(), kEntries);
    }

private:
    static void tryEveryCommand(const Entry& e) {
        const QString renamed = u"omdöpt %1"_s.arg(&e - kEntries);
        HostileWindow t;
        const QString name = platform::decodeName(e.name.toStdString());
        const QString path = t.music.file(name + u".mp3"_s);
        const QByteArray at = platform::encodeName(path);
        t.mp3(t.music, name + u".mp3"_s, "Gammal", "L\xe5t");
        const QByteArray before = readAll(path);
        std::optional<AsUser> asUser;
        if (e.kind == 'x') {
            QCOMPARE(::chmod(at.constData(), 0), 0);
            asUser.emplace();
            if (!AsUser::refused(path))
                return qInfo("a mode of 000 does not refuse this process: %s skipped",
                             e.name.data());
        }
        t.open(t.music.path());
        QVERIFY2(t.row(name) >= 0, e.name.constData());
        if (e.kind == 'x')  // unread, so no tag shown
            QCOMPARE(t.rows().row(t.row(name)).artist, QString());
        const QByteArray self = e.name + ".mp3";
        if (std::strchr("pld", e.kind) != nullptr) {
            QCOMPARE(::unlink(at) + (e.kind == 'p'   ? ::mkfifo(at, 0644)
                                     : e.kind == 'l' ? ::symlink(self, at)
                                                     : ::mkdir(at, 0755)),
                     0);
        }
        const bool writable = *e.save == '\0';

        // The whole tag saved, with the name left as it is: no question about a rename.
        t.click(t.row(name));
        QCOMPARE(t.text("txtFilnamn"), name);
        t.type("txtArtist", u"Ny artist"_s);
        t.press("cmdSpara");
        const QStringList save = QString::fromUtf8(e.save).split(u'|');
        QString said = t.said();
        QVERIFY2(writable ? said.isEmpty()
                          : said.startsWith(save[0] + u'|') && said.contains(save.value(1)),
                 qPrintable(said));
        const QByteArray saved = withField(before, kArtistAt, 30, "Ny artist");
        if (writable)
            QCOMPARE(readAll(path), saved);
        // Played by the path the file has.
        t.w->mnuHogerSpela_Click();
        QCOMPARE(t.said(), QString());
        QCOMPARE(platform::encodeName(t.opener.opened.back()), at);
        // A field into it and a plain file: what can be written is, this one named if not.
        t.click(t.row(name));
        t.click(t.row("a"), Qt::ControlModifier);
        t.type("txtAlbum", u"Samling"_s);
        t.press("cmdAlbum");
        said = t.said();
        QVERIFY2(writable ? said.isEmpty()
                          : said.count(u'\n') == 1 && said.contains(u'\n' + name + u".mp3 ("_s +
                                                                    QString::fromUtf8(e.field)),
                 qPrintable(said));
        if (writable)
            QCOMPARE(readAll(path), withField(saved, kAlbumAt, 30, "Samling"));
        QCOMPARE(t.rows().row(t.row("a")).album, u"Samling"_s);

        // Renamed to a plain name: the entry moves whole, whatever it is. Renaming and the
        // trash need the folder only.
        const ino_t was = inode(path);
        t.click(t.row(name));
        t.type("txtFilnamn", renamed);
        t.press("cmdFilnamn");
        QCOMPARE(t.said(), QString());
        QVERIFY(!present(path));
        QCOMPARE(inode(t.music.file(renamed + u".mp3"_s)), was);
        QCOMPARE(t.rows().row(t.w->currentRow()).name, renamed);
        // Back under a name the program would not give (for what it still lists), and into
        // the trash, which keeps the very entry.
        QString gone = renamed;
        if (e.kind == ' ') {
            QCOMPARE(::rename(platform::encodeName(t.music.file(renamed + u".mp3"_s)), at), 0);
            t.w->mnuUppdatera_Click();
            gone = name;
        }
        t.click(t.row(gone));
        QTest::keyClick(t.list, Qt::Key_Delete);
        QCOMPARE(t.said(), QString());
        QVERIFY2(t.row(gone) < 0, e.name.constData());
        QCOMPARE(inode(desktopHome() + u"data/Trash/files/"_s + gone + u".mp3"_s), was);
        t.w->close();
    }
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(HostileTest)
#include "hostile_test.moc"
