// Hostile folders through the real window, offscreen: names no one would choose, entries that
// only look like MP3 files, a file that may not be read, a file that changes while it is listed
// and a folder of 100,000 entries. Every case runs under a watchdog that ends the process when
// the window hangs.
#include "desktop_home.h"
#include "mounts.h"
#include "platform/gio_trash.h"
#include "watchdog.h"
#include "window/window_fixture.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QLabel>
#include <chrono>
#include <functional>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

namespace {

/// Takes from this thread the capabilities by which root reads and writes what its mode forbids,
/// for as long as the object lives, so that a mode of 000 refuses it as it refuses a user.
class WithoutOverride {
public:
    WithoutOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
        dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, dropped) == 0;
    }
    WithoutOverride(const WithoutOverride&) = delete;
    WithoutOverride& operator=(const WithoutOverride&) = delete;
    ~WithoutOverride() {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

/// The window over the real trash.
struct HostileWindow : WindowFixture {
    void open(const QString& dir) {
        saveIni(dir.chopped(1));
        make(&gio).Form_Load();
        w->show();
    }
    /// The messages since the last call.
    std::vector<FakeMessageBoxes::Shown> messages() { return std::exchange(boxes.shown, {}); }
    static QString trashed(const QString& name) { return DesktopHome::get().trashed(name); }

    platform::GioTrash gio;
};

QByteArray tagOf(const QString& path) {
    return readAll(path).right(128);
}

}  // namespace

class HostileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { DesktopHome::get(); }
    void init() { dog_ = std::make_unique<Watchdog>(QTest::currentTestFunction(), kLimit); }
    void cleanup() { dog_.reset(); }

    void namesWithLineBreaksQuotesBackslashesOrBadUtf8WorkWithEveryCommand() {
        HostileWindow t;
        const QList<QByteArray> odd = {"rad\nbryt", "bak\\snedstreck", "citat\"tecken",
                                       "ogiltig \xff\xfe utf8"};
        for (const QByteArray& name : odd)
            t.mp3(t.music, platform::decodeName((name + ".mp3").toStdString()), "Gammal", "L\xe5t");
        t.open(t.music.path());
        for (const QByteArray& raw : odd) {
            const QString name = platform::decodeName(raw.toStdString());
            const QString path = t.music.file(name + u".mp3"_s);
            QVERIFY2(t.row(name) >= 0, raw.constData());
            // The whole tag saved, with the name left as it is: no question about a rename.
            t.click(t.row(name));
            QCOMPARE(t.text("txtFilnamn"), name);
            t.type("txtArtist", u"Ny artist"_s);
            t.press("cmdSpara");
            QVERIFY2(t.messages().empty(), raw.constData());
            QCOMPARE(tagOf(path), trailer("L\xe5t", "Ny artist", "", "", "", 255));
            // Played by the path the file has.
            t.w->mnuHogerSpela_Click();
            QCOMPARE(platform::encodeName(t.opener.opened.back()),
                     platform::encodeName(path.startsWith(u'/') ? path : u'/' + path));
            // A field into it and another file.
            t.click(t.row(name));
            t.click(t.row("a"), Qt::ControlModifier);
            t.type("txtAlbum", u"Samling"_s);
            t.press("cmdAlbum");
            QVERIFY(t.messages().empty());
            QCOMPARE(tagOf(path), trailer("L\xe5t", "Ny artist", "Samling", "", "", 255));
        }
        // Artist and title from such names: what a tag can hold is written, the rest named.
        t.click(0);
        t.click(t.rows().rowCount() - 1, Qt::ShiftModifier);
        t.press("cmdFilnamn2Tag");
        const auto failed = t.messages();
        QCOMPARE(failed.size(), std::size_t{1});
        QVERIFY2(
            failed[0].text.endsWith(u"\nogiltig \xdcff\xdcfe utf8.mp3 (tecken som en tagg inte "
                                    u"kan lagra)"_s),
            qPrintable(failed[0].text));
        QCOMPARE(tagOf(t.music.file(u"citat\"tecken.mp3"_s)).mid(3, 30),
                 QByteArray("citat\"tecken").leftJustified(30));

        // Names from those tags: the cleaned ones are given, the one with a line break refused.
        t.press("cmdTag2Filnamn");
        const auto refused = t.messages();
        QCOMPARE(refused.size(), std::size_t{1});
        QCOMPARE(refused[0].title, u"Felaktigt filnamn"_s);
        QVERIFY(present(t.music.file(u"rad\nbryt.mp3"_s)));
        // Back under the odd names, which the program itself would not give, for the rest.
        const auto moveTo = [&](const QString& from, const QString& to) {
            QCOMPARE(::rename(platform::encodeName(t.music.file(from + u".mp3"_s)).constData(),
                              platform::encodeName(t.music.file(to + u".mp3"_s)).constData()),
                     0);
        };
        const QStringList made = {u"baksnedstreck"_s, u"citattecken"_s, u"Ny artist - Låt"_s};
        for (int i = 0; i < made.size(); ++i) {
            QCOMPARE(t.names().count(made[i]), 1);
            moveTo(made[i], platform::decodeName(odd[i + 1].toStdString()));
        }
        t.w->mnuUppdatera_Click();

        // Renamed to a plain name, named from the tag, sent to the trash.
        for (const QByteArray& raw : odd) {
            const QString name = platform::decodeName(raw.toStdString());
            const QByteArray bytes = readAll(t.music.file(name + u".mp3"_s));
            t.click(t.row(name));
            t.type("txtFilnamn", u"omdöpt"_s);
            t.press("cmdFilnamn");
            QVERIFY(t.messages().empty());
            QVERIFY(!present(t.music.file(name + u".mp3"_s)));
            QCOMPARE(readAll(t.music.file(u"omdöpt.mp3"_s)), bytes);
            QCOMPARE(t.rows().row(t.w->currentRow()).name, u"omdöpt"_s);
            moveTo(u"omdöpt"_s, name);
            t.w->mnuUppdatera_Click();
            t.click(t.row(name));
            QTest::keyClick(t.list, Qt::Key_Delete);
            QVERIFY(t.messages().empty());
            QVERIFY2(t.row(name) < 0, raw.constData());
            QCOMPARE(readAll(t.trashed(name + u".mp3"_s)), bytes);
        }
    }

    void entriesThatOnlyLookLikeMp3FilesAreNotListedAndStallNothing() {
        HostileWindow t;
        const QByteArray dir = platform::encodeName(t.music.path());
        QCOMPARE(::symlink("loop.mp3", dir + "loop.mp3"), 0);
        QCOMPARE(::symlink("ring2.mp3", dir + "ring1.mp3"), 0);
        QCOMPARE(::symlink("ring1.mp3", dir + "ring2.mp3"), 0);
        QCOMPARE(::symlink("finns-inte", dir + "dinglande.mp3"), 0);
        QCOMPARE(::mkfifo(dir + "fifo.mp3", 0644), 0);
        QCOMPARE(::mkdir(dir + "mapp.mp3", 0755), 0);
        t.music.write(u"verklig.data"_s, audio(300) + trailer("Titel", "L\xe4nkad", "", "", "", 1));
        QCOMPARE(::symlink("verklig.data", dir + "länk.mp3"), 0);
        t.open(t.music.path());
        QStringList listed = t.names();
        listed.sort();
        QCOMPARE(listed, (QStringList{u"a"_s, u"b"_s, u"c"_s, u"länk"_s}));
        QCOMPARE(t.rows().row(t.row("länk")).artist, u"Länkad"_s);
        QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);

        // Listed files that become such entries behind the list's back.
        const struct {
            const char* name;
            std::function<void(const QByteArray&)> become;
        } swaps[] = {
            {"a",
             [](const QByteArray& p) {
                 ::unlink(p);
                 QCOMPARE(::mkfifo(p, 0644), 0);
             }},
            {"b",
             [](const QByteArray& p) {
                 ::unlink(p);
                 QCOMPARE(::symlink("b.mp3", p), 0);
             }},
            {"c",
             [](const QByteArray& p) {
                 ::unlink(p);
                 QCOMPARE(::mkdir(p, 0755), 0);
             }},
        };
        for (const auto& swap : swaps) {
            swap.become(dir + swap.name + ".mp3");
            t.click(t.row(swap.name));
            t.type("txtArtist", u"Ny"_s);
            t.press("cmdSpara");
            const auto save = t.messages();
            QVERIFY2(save.size() == 1 && save[0].title == u"Fel"_s, swap.name);
            t.type("txtFilnamn", u"%1 ny"_s.arg(QString::fromUtf8(swap.name)));
            t.press("cmdFilnamn");  // the entry is renamed, whatever it is; that is no harm
            QVERIFY(t.messages().empty());
            t.w->mnuHogerSpela_Click();
            QVERIFY(t.messages().empty());
            // A field into it and a real file: the real one is written, this one named.
            const QString renamed = u"%1 ny"_s.arg(QString::fromUtf8(swap.name));
            t.click(t.row(renamed));
            t.click(t.row("länk"), Qt::ControlModifier);
            t.type("txtAlbum", QString::fromUtf8(swap.name));
            t.press("cmdAlbum");
            const auto field = t.messages();
            QVERIFY2(field.size() == 1 && field[0].text.count(u'\n') == 1 &&
                         field[0].text.contains(u'\n' + renamed + u".mp3 ("_s),
                     swap.name);
            QCOMPARE(t.rows().row(t.row("länk")).album, QString::fromUtf8(swap.name));
            // Into the trash, whatever it is now; it stays restorable.
            t.click(t.row(renamed));
            QTest::keyClick(t.list, Qt::Key_Delete);
            QVERIFY(t.messages().empty());
            QVERIFY(t.row(renamed) < 0);
            struct stat st {};
            QCOMPARE(::lstat(platform::encodeName(t.trashed(renamed + u".mp3"_s)).constData(), &st),
                     0);
        }
        t.w->mnuUppdatera_Click();
        QCOMPARE(t.names(), QStringList{u"länk"_s});
    }

    void fileThatMayNotBeReadIsListedAndRefusedWithAMessage() {
        HostileWindow t;
        const QString locked = t.music.file(u"låst.mp3"_s);
        t.mp3(t.music, u"låst.mp3"_s, "Hemlig", "Titel");
        QCOMPARE(::chmod(platform::encodeName(locked).constData(), 0), 0);
        const WithoutOverride asAUser;
        if (const int fd = ::open(platform::encodeName(locked).constData(), O_RDONLY); fd >= 0) {
            ::close(fd);
            QSKIP(
                "a mode of 000 does not refuse this process (root without a way to drop the "
                "override capabilities)");
        }
        t.open(t.music.path());
        QVERIFY(t.row("låst") >= 0);
        QCOMPARE(t.rows().row(t.row("låst")).artist, QString());  // unread, so no tag shown

        t.click(t.row("låst"));
        t.type("txtArtist", u"Ny"_s);
        t.press("cmdSpara");
        auto shown = t.messages();
        QCOMPARE(shown.size(), std::size_t{1});
        QCOMPARE(shown[0].text, u"Filen är skrivskyddad!"_s);
        t.select({"låst", "a"});
        t.type("txtAlbum", u"Samling"_s);
        t.press("cmdAlbum");
        shown = t.messages();
        QCOMPARE(shown.size(), std::size_t{1});
        QVERIFY(shown[0].text.endsWith(u"\nlåst.mp3 (skrivskyddad eller låst)"_s));
        // Renaming and the trash need the folder only; the file goes whole.
        t.click(t.row("låst"));
        t.type("txtFilnamn", u"fortfarande låst"_s);
        t.press("cmdFilnamn");
        QVERIFY(t.messages().empty());
        QTest::keyClick(t.list, Qt::Key_Delete);
        QVERIFY(t.messages().empty());
        struct stat st {};
        QCOMPARE(
            ::stat(platform::encodeName(t.trashed(u"fortfarande låst.mp3"_s)).constData(), &st), 0);
        QCOMPARE(st.st_size, off_t{400 + 128});
    }

    void fileThatGrowsAndShrinksWhileTheFolderIsListed() {
        HostileWindow t;
        const QByteArray path = platform::encodeName(t.music.file(u"växlar.mp3"_s));
        const QByteArray comes = platform::encodeName(t.music.file(u"kommer och går.mp3"_s));
        const QByteArray tagged = audio(400) + trailer("Titel", "V\xe4xel", "", "", "", 1);
        writeAll(t.music.file(u"växlar.mp3"_s), tagged);
        std::jthread changer([&](const std::stop_token& stop) {
            const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
            for (int i = 0; !stop.stop_requested(); ++i) {
                switch (i % 3) {
                    case 0:
                        (void)!::ftruncate(fd, 0);
                        break;
                    case 1:
                        (void)!::pwrite(fd, tagged.constData(), tagged.size(), 0);
                        break;
                    default:
                        (void)!::ftruncate(fd, 129);
                        break;
                }
                i % 2 == 0 ? ::unlink(comes.constData())
                           : ::close(::open(comes.constData(), O_CREAT | O_CLOEXEC, 0644));
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            ::close(fd);
        });
        t.open(t.music.path());
        for (int i = 0; i < 30; ++i) {
            t.w->mnuUppdatera_Click();
            QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);
            QVERIFY(t.rows().rowCount() == 4 || t.rows().rowCount() == 5);
            const QString artist = t.rows().row(t.row("växlar")).artist;
            QVERIFY2(artist.isEmpty() || artist == u"Växel"_s, qPrintable(artist));
            t.click(t.row("växlar"));
            t.press("cmdSpara");  // while another program changes the file: a message or done
            QVERIFY(t.messages().size() <= 1);
        }
        changer.request_stop();
        changer.join();
        // Once it holds still, the file takes its tag once, and nothing else changes.
        t.w->mnuUppdatera_Click();
        t.click(t.row("växlar"));
        const QByteArray before = readAll(platform::decodeName(path.toStdString()));
        t.type("txtArtist", u"Stilla"_s);
        t.press("cmdSpara");
        QVERIFY(t.messages().empty());
        const QByteArray after = readAll(platform::decodeName(path.toStdString()));
        QCOMPARE(after.right(128).mid(33, 30), QByteArray("Stilla").leftJustified(30));
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
        const QByteArray dir = platform::encodeName(where);
        constexpr int kEntries = 100'000;
        const auto nameOf = [](int i) {
            const QByteArray n = QByteArray::number(i).rightJustified(6, '0');
            return (n + QByteArray(255 - 4 - n.size(), 'x') + ".mp3");
        };
        for (int i = 0; i < kEntries; ++i) {
            const int fd = ::open(dir + nameOf(i), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        t.open(where);
        QCOMPARE(t.rows().rowCount(), kEntries);
        QCOMPARE(t.child<QLabel>("StatusBar1Panel1")->text(), u"Klar"_s);

        // A name at the limit takes a tag, refuses to grow, and gives way to one from its tag.
        const QString first = QString::fromLatin1(nameOf(7).chopped(4));
        t.list->scrollTo(t.rows().index(t.row(first), 0));
        t.click(t.row(first));
        t.type("txtArtist", u"Lång"_s);
        t.press("cmdSpara");
        QVERIFY(t.messages().empty());
        QCOMPARE(tagOf(where + first + u".mp3"_s), trailer("", "L\xe5ng", "", "", "", 255));
        t.type("txtFilnamn", first + u'x');
        t.press("cmdFilnamn");
        const auto refused = t.messages();
        QCOMPARE(refused.size(), std::size_t{1});
        QCOMPARE(refused[0].title, u"Felaktigt filnamn"_s);
        t.press("cmdTag2Filnamn");
        QVERIFY(t.messages().empty());
        QVERIFY(present(where + u"Lång.mp3"_s));
        QCOMPARE(t.rows().rowCount(), kEntries);
    }

private:
    static constexpr std::chrono::seconds kLimit{240};
    std::unique_ptr<Watchdog> dog_;
};

SORVEL_MOUNTING_WIDGET_TEST_MAIN(HostileTest)
#include "hostile_test.moc"
