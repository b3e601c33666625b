// Killed at any moment: the writers run in a process of their own on real files and are killed
// with SIGKILL at random moments inside their work. Afterwards every file must be in its old or
// its new form, byte for byte, under exactly one of its names, and id3.ini one whole version.
#include "app/settings.h"
#include "mounts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <chrono>
#include <random>
#include <ranges>
#include <set>
#include <string>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using Clock = std::chrono::steady_clock;
using Files = std::map<QString, QByteArray>;

namespace {

constexpr int kFiles = 1000;
constexpr int kKills = 20;
constexpr int kSaves = 10;

/// One command the driver runs (see kill_driver.cpp): its mode, and the name file `i` called
/// `name` has once the command is through.
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

// The folders live in a tmpfs where one can be mounted: the runs make and read many files, and a
// disk's journal would only slow them down. id3.ini is saved on the disk, where the save's fsync
// calls take the time they take for a user.
QString parentFor(const Scenario& s) {
    static const Medium fs(std::size_t{256} << 20);
    return fs.mounted() && s.renamed != nullptr ? fs.path() : QDir::tempPath();
}

app::Settings version(int i) {
    return {QStringLiteral("/musik/%1").arg(i), 0, 1500, 3000, 12000, 8250, i % 4 + 1};
}
QString ini(const TempFolder& dir) {
    return dir.file(QStringLiteral("id3.ini"));
}

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
class Driver : public QProcess {
public:
    explicit Driver(const QStringList& args) {
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(QStringLiteral(SORVEL_KILL_DRIVER), args);
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

/// Where a kill left the work: how many files (or saves) it had not reached, and how many it had.
struct Landing {
    int old = 0, changed = 0;
};

/// Every file in its old form under its old name, or in its new form under either name (a kill
/// between a save's write and its rename), and nothing else in the folder.
Landing checkFiles(const Files& now, const Scenario& s, const Files& next) {
    Landing l;
    EXPECT_EQ(now.size(), std::size_t{kFiles});
    int i = 0;
    for (const auto& [name, bytes] : oldFiles()) {
        const QString renamed = s.renamed(i++, name);
        const bool underOld = now.count(name) != 0;
        const bool underNew = renamed != name && now.count(renamed) != 0;
        if (underOld == underNew) {
            ADD_FAILURE() << name.toStdString() << (underOld ? " under both names" : " lost");
            continue;
        }
        const QByteArray& got = now.at(underOld ? name : renamed);
        if (underOld && got == bytes)
            ++l.old;
        else if (got == next.at(renamed))
            ++l.changed;
        else
            ADD_FAILURE() << name.toStdString() << " is neither old nor new: " << got.size()
                          << " bytes, was " << bytes.size();
    }
    return l;
}

/// id3.ini one whole version, at most one temporary file beside it, and the next save leaves only
/// id3.ini whatever the kill left.
Landing checkSettings(const TempFolder& dir) {
    const QByteArray now = readAll(ini(dir));
    const QList<QByteArray> lines = now.split('\n');
    const int i = lines.size() > 1 ? lines[1].mid(7).trimmed().toInt() : -1;
    const TempFolder scratch;
    EXPECT_EQ(app::saveSettings(ini(scratch), version(i)), code::kOk);
    EXPECT_EQ(now, readAll(ini(scratch))) << "version " << i;
    EXPECT_LE(snapshot(dir.path()).size(), 2u) << "temporary files left behind";
    EXPECT_EQ(app::saveSettings(ini(dir), version(kSaves + 1)), code::kOk);
    EXPECT_EQ(snapshot(dir.path()).size(), 1u);
    return {kSaves - i, i};
}

class KilledAtAnyMoment : public ::testing::TestWithParam<Scenario> {};

// A complete run learns the new forms and how long the work takes; then the runs killed at random
// moments of that time. Only kills inside the work prove anything, and a loaded machine stretches
// or shrinks the work between runs: a kill that finds the work done narrows the moments drawn to
// the ones before it, one that finds it not begun in the later half widens them, and the kills go
// on (to three times as many at most) until enough of them have landed inside.
TEST_P(KilledAtAnyMoment, Run) {
    const Scenario& s = GetParam();
    const bool settings = s.renamed == nullptr;
    const auto prepare = [&](const TempFolder& dir) {
        if (settings) {
            EXPECT_EQ(app::saveSettings(ini(dir), version(0)), code::kOk);
        }
        for (const auto& [name, bytes] : settings ? Files{} : oldFiles())
            dir.write(name, bytes);
        return QStringList{QString::fromLatin1(s.mode), settings ? ini(dir) : dir.path(),
                           QString::number(kSaves)};
    };
    const auto seed = GTEST_FLAG_GET(random_seed) != 0 ? std::uint64_t(GTEST_FLAG_GET(random_seed))
                                                       : std::uint64_t(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed) +
                 " (again with --gtest_random_seed=" + std::to_string(seed) + ")");
    std::mt19937_64 random(seed);

    Files next;
    Clock::duration work{};
    {
        const TempFolder dir(parentFor(s));
        Driver driver(prepare(dir));
        ASSERT_TRUE(driver.awaits('R'));
        const auto start = Clock::now();
        ASSERT_TRUE(driver.awaits('D'));
        work = Clock::now() - start;
        ASSERT_TRUE(driver.waitForFinished(-1));
        ASSERT_EQ(driver.exitCode(), 0);
        next = snapshot(dir.path());
        // Every file under its new name, or id3.ini alone.
        std::set<QString> expected;
        int i = 0;
        for (const auto& [name, bytes] : oldFiles())
            expected.insert(settings ? QStringLiteral("id3.ini") : s.renamed(i++, name));
        ASSERT_TRUE(std::ranges::equal(next | std::views::keys, expected));
    }
    long long hi = std::chrono::duration_cast<std::chrono::nanoseconds>(work).count();
    int mid = 0, notYet = 0, done = 0, k = 0;
    for (; k < 3 * kKills && (k < kKills || mid < kKills / 5); ++k) {
        const TempFolder dir(parentFor(s));
        const long long at = std::uniform_int_distribution<long long>(0, hi)(random);
        {
            Driver driver(prepare(dir));
            ASSERT_TRUE(driver.awaits('R'));
            std::this_thread::sleep_for(std::chrono::nanoseconds(at));
        }
        SCOPED_TRACE("kill " + std::to_string(k) + " at " + std::to_string(at / 1000) + " us");
        const Landing l = settings ? checkSettings(dir) : checkFiles(snapshot(dir.path()), s, next);
        if (::testing::Test::HasFailure())
            return;
        mid += l.old > 0 && l.changed > 0 ? 1 : 0;
        notYet += l.changed == 0 ? 1 : 0;
        done += l.old == 0 ? 1 : 0;
        if (l.old == 0)
            hi = std::max(at, 1000LL);
        else if (l.changed == 0 && at > hi / 2)
            hi *= 2;
    }
    std::printf("%d kills: %d mid-run, %d before the first file, %d after the last\n", k, mid,
                notYet, done);
    EXPECT_GE(mid, kKills / 5);
}

INSTANTIATE_TEST_SUITE_P(Commands, KilledAtAnyMoment, ::testing::ValuesIn(kScenarios),
                         [](const auto& p) { return std::string(p.param.test); });

}  // namespace
