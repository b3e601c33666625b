// Killed at any moment: the writers run in a process of their own (this program, started with
// "--drive") on real files and are killed with SIGKILL at moments spread over their work.
// Afterwards every file must be in its old or its new form, byte for byte, under exactly one of
// its names, and id3.ini one whole version.
#include "app/folder.h"
#include "app/settings.h"
#include "support/fake_desktop.h"
#include "support/files.h"
#include "support/recorder.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QProcess>
#include <chrono>
#include <cstring>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using Files = std::map<QString, QByteArray>;

namespace {

constexpr int kFiles = 1000;
constexpr int kKills = 20;
constexpr int kSaves = 10;

const auto version = [](int i) {
    return app::Settings{QStringLiteral("/musik/%1").arg(i), 0, 1500, 3000, 12000, 8250, i % 4 + 1};
};

// The driver writes "R" once the folder is read and the writing begins, and "D" once all is written
// with nothing said but the rename question (answered OK). Its modes:
//   write     "Nytt namn" as the artist of every file (the field command)
//   spara     "&Spara tag" on every file in turn, with a new artist, renamed to its name + " ny"
//   tag2name  "Filnamn <-- &tag" over every file
//   settings  id3.ini (the path given) saved kSaves times, save i with the folder "/musik/i"
int drive(const QString& mode, const QString& where) {
    const auto say = [](char c) { return ::write(STDOUT_FILENO, &c, 1) == 1; };  // unbuffered
    platform::PosixFileSystem fs;
    FakeMessageBoxes boxes;
    FakeOpener opener;
    platform::PosixDrives drives;
    FakeTrash trash;
    app::Folder folder({fs, boxes, opener, drives, trash});
    Recorder status;
    app::Outcome outcome =
        mode == QStringLiteral("settings") ? app::Outcome{} : folder.list(where, status);
    const std::vector<bool> all(folder.size(), true);
    say('R');
    for (int i = 1; mode == QStringLiteral("settings") && i <= kSaves; ++i)
        outcome.failed |= app::saveSettings(where, version(i)) != code::kOk;
    write::EditorValues editor;
    editor.artist = QStringLiteral("Nytt namn");
    if (mode == QStringLiteral("write"))
        outcome = folder.writeField(write::Typ::Artist, all, editor, status);
    if (mode == QStringLiteral("tag2name"))
        outcome = folder.namesFromTags(all);
    for (std::size_t r = 0; mode == QStringLiteral("spara") && r < folder.size(); ++r) {
        const browse::Row row = folder.row(r);
        const QString renamed = browse::shownName(row) + QStringLiteral(" ny");
        outcome = folder.save(
            r, {editor.artist, row.title, row.album, row.year, row.genre, row.comment}, renamed);
        outcome.failed |= !outcome.messages.empty() || browse::shownName(folder.row(r)) != renamed;
    }
    for (const auto& shown : boxes.shown)
        outcome.failed |= shown.title != QStringLiteral("Ändra filnamn?");
    for (const platform::Message& m : outcome.messages)
        std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text));
    return outcome.failed || !outcome.messages.empty() || !say('D');
}

/// A mode of the driver, and the name file `i` called `name` has once it is through.
struct Scenario {
    const char* mode;
    QString (*renamed)(int i, const QString& name);
};
const Scenario kScenarios[] = {
    {"write", [](int, const QString& n) { return n; }},
    {"spara", [](int, const QString& n) { return n.chopped(4) + QStringLiteral(" ny.mp3"); }},
    {"tag2name",
     [](int i, const QString& n) {
         return i % 2 == 1 ? QStringLiteral("Artist %1 - Titel.mp3").arg(i) : n;
     }},
    {"settings", nullptr},
};

/// 1,000 files of different lengths, half of them with a trailer, each with a content of its own;
/// a quarter are a trailer alone in a 129-byte file, which counts as none.
const Files kOld = [] {
    Files out;
    for (int i = 0; i < kFiles; ++i) {
        out[QStringLiteral("f%1.mp3").arg(i, 4, 10, QChar(u'0'))] =
            i % 2 == 1   ? audio(300 + i % 13) + trailer("Titel", "Artist " + QByteArray::number(i),
                                                         "Album", "1999", "", 17)
            : i % 4 == 2 ? "x" + trailer("Titel", "Kort", "", "", "", 1)
                         : audio(300 + i % 13);
    }
    return out;
}();

/// What a kill left: how many files (or saves) it had not reached, and how many it had. Every file
/// must be in its old form under its old name, or in its new form under either name (a kill
/// between a save's write and its rename), and nothing else be in the folder; id3.ini one whole
/// version, at most one temporary file beside it, and the next save must leave id3.ini alone.
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
    for (const auto& [name, bytes] : kOld) {
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
        EXPECT_TRUE(isOld || got == next.at(renamed)) << name.toStdString() << " is neither";
    }
    return {old, changed};
}

class KilledAtAnyMoment : public ::testing::TestWithParam<Scenario> {};

// A complete run learns the new forms and how long the work takes; then the runs killed at moments
// spread over that time. Only kills inside the work prove anything, and a loaded machine stretches
// or shrinks the work between runs: a kill that finds the work done narrows the time to the moment
// before it, one that finds it not begun in the later half widens it, and the kills go on (to
// three times as many at most) until enough of them have landed inside. The folders live in a
// tmpfs where there is one, as a disk's journal would only slow the runs; id3.ini is saved on the
// disk, where the save's fsync calls take the time they take for a user.
TEST_P(KilledAtAnyMoment, Run) {
    const Scenario& s = GetParam();
    const bool shm = s.renamed != nullptr && QDir(QStringLiteral("/dev/shm")).exists();
    const auto start = [&](QProcess& driver, const TempFolder& dir) {
        QString where = dir.file(QStringLiteral("id3.ini"));
        if (s.renamed != nullptr) {
            where = dir.path();
            for (const auto& [name, bytes] : kOld)
                dir.write(name, bytes);
        } else {
            EXPECT_EQ(app::saveSettings(where, version(0)), code::kOk);
        }
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QStringLiteral("/proc/self/exe"),
                     {QStringLiteral("--drive"), QString::fromLatin1(s.mode), where});
        char got = 0;  // the driver's "R"
        return driver.waitForReadyRead(-1) && driver.getChar(&got) && got == 'R';
    };
    const QString parent = shm ? QStringLiteral("/dev/shm") : QDir::tempPath();

    Files next;
    long long hi = 0;
    {
        const TempFolder dir(parent);
        QProcess driver;
        ASSERT_TRUE(start(driver, dir));
        const auto began = std::chrono::steady_clock::now();
        ASSERT_TRUE(driver.waitForFinished(-1) && driver.exitCode() == 0);
        hi = std::chrono::nanoseconds(std::chrono::steady_clock::now() - began).count();
        next = snapshot(dir.path());  // every file in its new form under its new name
    }
    int mid = 0, k = 0;
    for (; k < 3 * kKills && (k < kKills || mid < kKills / 5); ++k) {
        const TempFolder dir(parent);
        const long long at = hi * (2 * (k % kKills) + 1) / (2 * kKills);
        {
            QProcess driver;  // killed as it goes
            ASSERT_TRUE(start(driver, dir));
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
    EXPECT_GE(mid, kKills / 5);
}

INSTANTIATE_TEST_SUITE_P(Commands, KilledAtAnyMoment, ::testing::ValuesIn(kScenarios),
                         [](const auto& p) { return std::string(p.param.mode); });

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--drive") == 0)
        return drive(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
