// Killed at any moment: the writers run in a process of their own (this program, started with
// "--drive") on real files and are killed with SIGKILL at random moments inside their work.
// Afterwards every file must be in its old or its new form, byte for byte, under exactly one of
// its names, and id3.ini one whole version.
#include "app/folder.h"
#include "app/settings.h"
#include "mounts.h"
#include "support/fake_desktop.h"
#include "support/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <ranges>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using Clock = std::chrono::steady_clock;
using Files = std::map<QString, QByteArray>;

namespace {

constexpr int kFiles = 1000;
constexpr int kKills = 20;
constexpr int kSaves = 10;

app::Settings version(int i) {
    return {QStringLiteral("/musik/%1").arg(i), 0, 1500, 3000, 12000, 8250, i % 4 + 1};
}

// The driver: writes "R" once the folder is read and the writing begins, "D" when all is written
// with nothing said but the rename question (answered OK).
//   write     "Nytt namn" as the artist of every file (the field command)
//   spara     "&Spara tag" on every file in turn, with a new artist, renamed to its name + " ny"
//   tag2name  "Filnamn <-- &tag" over every file
//   settings  id3.ini (the path given) saved kSaves times, save i with the folder "/musik/i"
int drive(const QString& mode, const QString& where) {
    const auto say = [](char c) { return ::write(STDOUT_FILENO, &c, 1) == 1; };  // unbuffered
    if (mode == QStringLiteral("settings")) {
        say('R');
        for (int i = 1; i <= kSaves; ++i) {
            if (app::saveSettings(where, version(i)) != code::kOk)
                return 1;
        }
        return say('D') ? 0 : 1;
    }
    platform::PosixFileSystem fs;
    FakeMessageBoxes boxes;
    FakeOpener opener;
    platform::PosixDrives drives;
    FakeTrash trash;
    app::Folder folder({fs, boxes, opener, drives, trash});
    Recorder status;
    app::Outcome outcome = folder.list(where, status);
    const std::vector<bool> all(folder.size(), true);
    say('R');
    if (mode == QStringLiteral("write")) {
        write::EditorValues editor;
        editor.artist = QStringLiteral("Nytt namn");
        outcome = folder.writeField(write::Typ::Artist, all, editor, status);
    } else if (mode == QStringLiteral("spara")) {
        for (std::size_t r = 0; r < folder.size() && outcome.messages.empty(); ++r) {
            const browse::Row row = folder.row(r);
            const QString renamed = browse::shownName(row) + QStringLiteral(" ny");
            outcome = folder.save(r,
                                  {QStringLiteral("Ny artist"), row.title, row.album, row.year,
                                   row.genre, row.comment},
                                  renamed);
            outcome.failed |= browse::shownName(folder.row(r)) != renamed;
        }
    } else {
        outcome = folder.namesFromTags(all);
    }
    for (const auto& shown : boxes.shown)
        outcome.failed |= shown.title != QStringLiteral("Ändra filnamn?");
    for (const platform::Message& m : outcome.messages)
        std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text));
    return outcome.failed || !outcome.messages.empty() || !say('D');
}

/// A command the driver runs, and the name file `i` called `name` has once it is through.
struct Scenario {
    const char* test;
    const char* mode;
    QString (*renamed)(int i, const QString& name);
};
const Scenario kScenarios[] = {
    {"FieldWriteLeavesEveryFileOldOrNew", "write", [](int, const QString& n) { return n; }},
    {"SaveWithRenameLeavesEveryFileOldOrNewUnderOneName", "spara",
     [](int, const QString& n) { return n.chopped(4) + QStringLiteral(" ny.mp3"); }},
    {"TagToFileNameLeavesEveryFileUnderExactlyOneOfItsNames", "tag2name",
     [](int i, const QString& n) {
         return i % 2 == 1 ? QStringLiteral("Artist %1 - Titel.mp3").arg(i) : n;
     }},
    {"SettingsSaveLeavesOneWholeVersion", "settings", nullptr},
};

/// 1,000 files of different lengths, half of them with a trailer, each with a content of its own.
const Files& oldFiles() {
    static const Files files = [] {
        Files out;
        for (int i = 0; i < kFiles; ++i) {
            QByteArray bytes = audio(300 + i % 13);
            if (i % 2 == 1)
                bytes +=
                    trailer("Titel", "Artist " + QByteArray::number(i), "Album", "1999", "", 17);
            else if (i % 4 == 2)  // a trailer alone in a 129-byte file, which counts as none
                bytes = "x" + trailer("Titel", "Kort", "", "", "", 1);
            out[QStringLiteral("f%1.mp3").arg(i, 4, 10, QChar(u'0'))] = bytes;
        }
        return out;
    }();
    return files;
}

/// The driver in a process of its own, killed with it.
struct Driver : QProcess {
    explicit Driver(const QStringList& args) {
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(QStringLiteral("/proc/self/exe"), QStringList{QStringLiteral("--drive")} << args);
    }
    ~Driver() override { kill(), waitForFinished(); }
    /// Waits for the driver to say `c`; false when it ended without saying it.
    bool awaits(char c) {
        char got = 0;
        while ((getChar(&got) || (waitForReadyRead(-1) && getChar(&got))) && got != c) {
        }
        return got == c;
    }
};

/// How many files (or saves) a kill left untouched and how many done. Every file must be in its
/// old form under its old name, or in its new form under either name (a kill between a save's
/// write and its rename), and nothing else in the folder; id3.ini one whole version, at most one
/// temporary file beside it, and the next save leaves only id3.ini whatever the kill left.
std::pair<int, int> landing(const QString& dir, const Scenario& s, const Files& next) {
    const Files now = snapshot(dir);
    if (s.renamed == nullptr) {
        const QByteArray ini = now.at(QStringLiteral("id3.ini"));
        const int i = ini.split('\n').value(1).mid(7).trimmed().toInt();
        const TempFolder scratch;
        EXPECT_EQ(app::saveSettings(scratch.file(QStringLiteral("id3.ini")), version(i)),
                  code::kOk);
        EXPECT_EQ(ini, readAll(scratch.file(QStringLiteral("id3.ini")))) << "version " << i;
        EXPECT_LE(now.size(), 2u) << "temporary files left behind";
        EXPECT_EQ(app::saveSettings(dir + QStringLiteral("id3.ini"), version(kSaves + 1)),
                  code::kOk);
        EXPECT_EQ(snapshot(dir).size(), 1u);
        return {kSaves - i, i};
    }
    EXPECT_EQ(now.size(), std::size_t{kFiles});
    int i = 0, old = 0, changed = 0;
    for (const auto& [name, bytes] : oldFiles()) {
        const QString renamed = s.renamed(i++, name);
        const bool underOld = now.count(name) != 0;
        if (underOld == (renamed != name && now.count(renamed) != 0)) {
            ADD_FAILURE() << name.toStdString() << (underOld ? " under both names" : " lost");
            continue;
        }
        const QByteArray& got = now.at(underOld ? name : renamed);
        const bool isOld = underOld && got == bytes;
        old += isOld;
        changed += !isOld && got == next.at(renamed);
        EXPECT_TRUE(isOld || got == next.at(renamed))
            << name.toStdString() << " is neither old nor new: " << got.size() << " bytes";
    }
    return {old, changed};
}

class KilledAtAnyMoment : public ::testing::TestWithParam<Scenario> {};

// A complete run learns the new forms and how long the work takes; then the runs killed at random
// moments of that time. Only kills inside the work prove anything, and a loaded machine stretches
// or shrinks the work between runs: a kill that finds the work done narrows the moments drawn to
// the ones before it, one that finds it not begun in the later half widens them, and the kills go
// on (to three times as many at most) until enough of them have landed inside. The folders live
// in a tmpfs where one can be mounted, as a disk's journal would only slow the runs; id3.ini is
// saved on the disk, where the save's fsync calls take the time they take for a user.
TEST_P(KilledAtAnyMoment, Run) {
    const Scenario& s = GetParam();
    static const Medium memory(std::size_t{256} << 20);
    const QString parent = memory.mounted() && s.renamed ? memory.path() : QDir::tempPath();
    const auto prepare = [&](const TempFolder& dir) {
        if (s.renamed == nullptr) {
            EXPECT_EQ(app::saveSettings(dir.file(QStringLiteral("id3.ini")), version(0)),
                      code::kOk);
            return QStringList{QString::fromLatin1(s.mode), dir.file(QStringLiteral("id3.ini"))};
        }
        for (const auto& [name, bytes] : oldFiles())
            dir.write(name, bytes);
        return QStringList{QString::fromLatin1(s.mode), dir.path()};
    };
    const auto seed = GTEST_FLAG_GET(random_seed) != 0 ? std::uint64_t(GTEST_FLAG_GET(random_seed))
                                                       : std::uint64_t(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed) + " (again with --gtest_random_seed=N)");
    std::mt19937_64 random(seed);

    Files next;
    Clock::duration work{};
    {
        const TempFolder dir(parent);
        Driver driver(prepare(dir));
        ASSERT_TRUE(driver.awaits('R'));
        const auto start = Clock::now();
        ASSERT_TRUE(driver.awaits('D'));
        work = Clock::now() - start;
        ASSERT_TRUE(driver.waitForFinished(-1) && driver.exitCode() == 0);
        next = snapshot(dir.path());
        // Every file under its new name, or id3.ini alone.
        std::vector<QString> expected{QStringLiteral("id3.ini")};
        if (s.renamed != nullptr) {
            expected.clear();
            for (int i = 0; const auto& [name, bytes] : oldFiles())
                expected.push_back(s.renamed(i++, name));
            std::ranges::sort(expected);
        }
        ASSERT_TRUE(std::ranges::equal(next | std::views::keys, expected));
    }
    long long hi = std::chrono::duration_cast<std::chrono::nanoseconds>(work).count();
    int mid = 0, k = 0;
    for (; k < 3 * kKills && (k < kKills || mid < kKills / 5); ++k) {
        const TempFolder dir(parent);
        const long long at = std::uniform_int_distribution<long long>(0, hi)(random);
        {
            Driver driver(prepare(dir));
            ASSERT_TRUE(driver.awaits('R'));
            std::this_thread::sleep_for(std::chrono::nanoseconds(at));
        }
        SCOPED_TRACE("kill " + std::to_string(k) + " at " + std::to_string(at / 1000) + " us");
        const auto [old, changed] = landing(dir.path(), s, next);
        if (::testing::Test::HasFailure())
            return;
        mid += old > 0 && changed > 0;
        if (old == 0)
            hi = std::max(at, 1000LL);
        else if (changed == 0 && at > hi / 2)
            hi *= 2;
    }
    std::printf("%d kills, %d mid-run\n", k, mid);
    EXPECT_GE(mid, kKills / 5);
}

INSTANTIATE_TEST_SUITE_P(Commands, KilledAtAnyMoment, ::testing::ValuesIn(kScenarios),
                         [](const auto& p) { return std::string(p.param.test); });

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--drive") == 0)
        return drive(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
