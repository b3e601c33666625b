// Killed at any moment: the writers run in a process of their own on real files and are killed
// with SIGKILL at random moments inside their work. Afterwards every file must be in its old or
// its new form, byte for byte, under exactly one of its names, and id3.ini one whole version.
#include "app/settings.h"
#include "mounts.h"
#include "platform/names.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>

using namespace sorvel;
using namespace sorvel::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 1000;
constexpr int kKills = 20;

// The folders live in a tmpfs where one can be mounted: the runs make and read many files, and
// a disk's journal would only slow them down.
QString base() {
    static const Medium fs(std::size_t{256} << 20);
    return fs.mounted() ? fs.path() : QDir::tempPath();
}

QStringList entries(const QString& folder) {
    QStringList out;
    DIR* dir = ::opendir(platform::encodeName(folder).constData());
    if (dir == nullptr)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name != "." && name != "..")
            out << platform::decodeName(name);
    }
    ::closedir(dir);
    out.sort();
    return out;
}

/// The driver in a process of its own, its standard output on a pipe.
class Driver {
public:
    explicit Driver(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv;
            std::string exe = SORVEL_KILL_DRIVER;
            argv.push_back(exe.data());
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    ~Driver() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (out_ >= 0)
            ::close(out_);
    }
    /// Waits for the driver to say `c`; false when it ended without saying it.
    bool awaits(char c) {
        char got = 0;
        while (::read(out_, &got, 1) == 1) {
            if (got == c)
                return true;
        }
        return false;
    }
    void kill() { ::kill(pid_, SIGKILL); }
    /// The wait status.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

/// Where a kill left the work.
struct Landing {
    int old = 0;      // files still in their old form
    int changed = 0;  // files in their new form (or, mid-command, new tag under the old name)
    bool midRun() const { return old > 0 && changed > 0; }
};

/// One command under test: how its folder is made, how it is run, what its files may hold after.
class Scenario {
public:
    virtual ~Scenario() = default;
    /// The driver's arguments for the folder.
    virtual std::vector<std::string> args(const TempFolder& dir) const {
        return {mode(), platform::encodeName(dir.path()).toStdString()};
    }
    /// The driver's mode for a folder of MP3 files.
    virtual const char* mode() const { return ""; }
    /// Fills a fresh folder with the old forms.
    virtual void prepare(const TempFolder& dir) = 0;
    /// After a complete run: learns the new forms.
    virtual void learn(const TempFolder& dir) = 0;
    /// After a kill: checks every file and says where the kill landed.
    virtual Landing check(const TempFolder& dir) = 0;
    /// Where its folders are made.
    virtual QString parent() const { return base(); }
};

std::uint64_t seedForRun() {
    const auto flag = GTEST_FLAG_GET(random_seed);
    return flag != 0 ? static_cast<std::uint64_t>(flag) : std::random_device{}();
}

/// A complete run to learn the new forms and how long the work takes, then kKills runs killed at
/// random moments spread over that time.
void killRepeatedly(Scenario& scenario) {
    const std::uint64_t seed = seedForRun();
    SCOPED_TRACE("seed " + std::to_string(seed) +
                 " (again with --gtest_random_seed=" + std::to_string(seed) + ")");
    std::mt19937_64 random(seed);

    Clock::duration work{};
    {
        TempFolder dir(scenario.parent());
        scenario.prepare(dir);
        Driver driver(scenario.args(dir));
        ASSERT_TRUE(driver.awaits('R'));
        const auto start = Clock::now();
        ASSERT_TRUE(driver.awaits('D'));
        work = Clock::now() - start;
        const int status = driver.wait();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        scenario.learn(dir);
    }
    const auto workNs = std::chrono::duration_cast<std::chrono::nanoseconds>(work).count();
    std::uniform_int_distribution<long long> moment(0, workNs);

    int mid = 0;
    int notYet = 0;
    int done = 0;
    for (int k = 0; k < kKills; ++k) {
        TempFolder dir(scenario.parent());
        scenario.prepare(dir);
        const long long at = moment(random);
        {
            Driver driver(scenario.args(dir));
            ASSERT_TRUE(driver.awaits('R'));
            std::this_thread::sleep_for(std::chrono::nanoseconds(at));
            driver.kill();
            driver.wait();
        }
        SCOPED_TRACE("kill " + std::to_string(k) + " at " + std::to_string(at / 1000) + " us of " +
                     std::to_string(workNs / 1000));
        const Landing l = scenario.check(dir);
        if (::testing::Test::HasFatalFailure())
            return;
        mid += l.midRun() ? 1 : 0;
        notYet += l.changed == 0 ? 1 : 0;
        done += l.old == 0 ? 1 : 0;
    }
    std::printf(
        "%d kills over %lld us of work: %d mid-run, %d before the first file, %d after "
        "the last\n",
        kKills, static_cast<long long>(workNs / 1000), mid, notYet, done);
    // Kills that all fall before or after the work would prove nothing.
    EXPECT_GE(mid, kKills / 5);
}

QString fileName(int i, const char* suffix = "") {
    return QStringLiteral("f%1%2.mp3").arg(i, 4, 10, QChar(u'0')).arg(QString::fromUtf8(suffix));
}

/// 1,000 files of different lengths, half of them with a trailer, each with a content of its own.
void fillFolder(const TempFolder& dir, std::map<QString, QByteArray>& old) {
    if (!old.empty()) {
        for (const auto& [name, bytes] : old)
            dir.write(name, bytes);
        return;
    }
    for (int i = 0; i < kFiles; ++i) {
        QByteArray bytes = audio(300 + i % 13);
        if (i % 2 == 1) {
            bytes += trailer("Titel", "Artist " + QByteArray::number(i), "Album", "1999", "", 17);
        } else if (i % 4 == 2) {
            // Only a trailer of 128 bytes in a 129-byte file, which counts as none.
            bytes = "x" + trailer("Titel", "Kort", "", "", "", 1);
        }
        old[fileName(i)] = bytes;
        dir.write(fileName(i), bytes);
    }
}

class FieldWrite : public Scenario {
public:
    const char* mode() const override { return "write"; }
    void prepare(const TempFolder& dir) override { fillFolder(dir, old_); }
    void learn(const TempFolder& dir) override {
        for (const auto& [name, bytes] : old_)
            new_[name] = readAll(dir.file(name));
    }
    Landing check(const TempFolder& dir) override {
        Landing l;
        EXPECT_EQ(entries(dir.path()).size(), std::size_t{kFiles});
        for (const auto& [name, bytes] : old_) {
            const QByteArray now = readAll(dir.file(name));
            if (now == bytes) {
                ++l.old;
            } else if (now == new_[name]) {
                ++l.changed;
            } else {
                ADD_FAILURE() << name.toStdString() << " is neither old nor new: " << now.size()
                              << " bytes, was " << bytes.size();
            }
        }
        return l;
    }

private:
    std::map<QString, QByteArray> old_, new_;
};

class SaveAndRename : public Scenario {
public:
    const char* mode() const override { return "spara"; }
    void prepare(const TempFolder& dir) override { fillFolder(dir, old_); }
    void learn(const TempFolder& dir) override {
        for (int i = 0; i < kFiles; ++i)
            new_[fileName(i)] = readAll(dir.file(fileName(i, " ny")));
        EXPECT_FALSE(present(dir.file(fileName(0))));
    }
    Landing check(const TempFolder& dir) override {
        Landing l;
        EXPECT_EQ(entries(dir.path()).size(), std::size_t{kFiles});
        for (int i = 0; i < kFiles; ++i) {
            const QString name = fileName(i);
            const bool underOld = present(dir.file(name));
            const bool underNew = present(dir.file(fileName(i, " ny")));
            if (underOld == underNew) {
                ADD_FAILURE() << name.toStdString() << (underOld ? " under both names" : " lost");
                continue;
            }
            const QByteArray now = readAll(dir.file(underOld ? name : fileName(i, " ny")));
            if (underOld && now == old_[name]) {
                ++l.old;
            } else if (now == new_[name]) {
                ++l.changed;  // under the old name: killed between the write and the rename
            } else {
                ADD_FAILURE() << name.toStdString() << " is neither old nor new";
            }
        }
        return l;
    }

private:
    std::map<QString, QByteArray> old_, new_;
};

class TagToName : public Scenario {
public:
    const char* mode() const override { return "tag2name"; }
    void prepare(const TempFolder& dir) override {
        if (old_.empty()) {
            for (int i = 0; i < kFiles; ++i) {
                old_[fileName(i)] =
                    audio(300 + i % 13) +
                    trailer("Titel", "Artist " + QByteArray::number(i), "", "", "", 255);
            }
        }
        for (const auto& [name, bytes] : old_)
            dir.write(name, bytes);
    }
    void learn(const TempFolder& dir) override {
        // Each file's content is its own, so the complete run tells the new name of each.
        std::map<QByteArray, QString> byContent;
        for (const QString& name : entries(dir.path()))
            byContent[readAll(dir.file(name))] = name;
        for (const auto& [name, bytes] : old_) {
            newName_[name] = byContent[bytes];
            EXPECT_NE(newName_[name], name);
        }
    }
    Landing check(const TempFolder& dir) override {
        Landing l;
        EXPECT_EQ(entries(dir.path()).size(), std::size_t{kFiles});
        for (const auto& [name, bytes] : old_) {
            const bool underOld = present(dir.file(name));
            const bool underNew = present(dir.file(newName_[name]));
            if (underOld == underNew) {
                ADD_FAILURE() << name.toStdString() << (underOld ? " under both names" : " lost");
                continue;
            }
            EXPECT_EQ(readAll(dir.file(underOld ? name : newName_[name])), bytes);
            ++(underOld ? l.old : l.changed);
        }
        return l;
    }

private:
    std::map<QString, QByteArray> old_;
    std::map<QString, QString> newName_;
};

/// id3.ini saved again and again; after a kill it must be one whole version, and at most one
/// temporary file may be left, which the next save removes.
class SettingsSave : public Scenario {
public:
    static constexpr int kSaves = 10;
    static app::Settings version(int i) {
        return {QStringLiteral("/musik/%1").arg(i), 0, 1500, 3000, 12000, 8250, i % 4 + 1};
    }
    static QString ini(const TempFolder& dir) { return dir.file(QStringLiteral("id3.ini")); }
    // On the disk, where the save's fsync calls take the time they take for a user.
    QString parent() const override { return QDir::tempPath(); }

    std::vector<std::string> args(const TempFolder& dir) const override {
        return {"settings", platform::encodeName(ini(dir)).toStdString(), std::to_string(kSaves)};
    }
    void prepare(const TempFolder& dir) override {
        ASSERT_EQ(app::saveSettings(ini(dir), version(0)), code::kOk);
    }
    void learn(const TempFolder& dir) override {
        EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("id3.ini")});
    }
    Landing check(const TempFolder& dir) override {
        const QByteArray now = readAll(ini(dir));
        // Which version it claims to be, then whether it is that version whole.
        const QList<QByteArray> lines = now.split('\n');
        const int i = lines.size() > 1 ? lines[1].mid(7).trimmed().toInt() : -1;
        TempFolder scratch(base());
        EXPECT_EQ(app::saveSettings(ini(scratch), version(i)), code::kOk);
        EXPECT_EQ(now, readAll(ini(scratch))) << "version " << i;
        const qsizetype left = entries(dir.path()).size() - 1;
        EXPECT_LE(left, 1) << "temporary files left behind";
        leftovers_ += static_cast<int>(left);
        // The next save, whatever the kill left, leaves only id3.ini.
        EXPECT_EQ(app::saveSettings(ini(dir), version(kSaves + 1)), code::kOk);
        EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("id3.ini")});
        return {kSaves - i, i};
    }
    ~SettingsSave() override { std::printf("%d temporary files left by kills\n", leftovers_); }

private:
    int leftovers_ = 0;
};

TEST(KilledAtAnyMoment, FieldWriteLeavesEveryFileOldOrNew) {
    FieldWrite s;
    killRepeatedly(s);
}

TEST(KilledAtAnyMoment, SaveWithRenameLeavesEveryFileOldOrNewUnderOneName) {
    SaveAndRename s;
    killRepeatedly(s);
}

TEST(KilledAtAnyMoment, TagToFileNameLeavesEveryFileUnderExactlyOneOfItsNames) {
    TagToName s;
    killRepeatedly(s);
}

TEST(KilledAtAnyMoment, SettingsSaveLeavesOneWholeVersion) {
    SettingsSave s;
    killRepeatedly(s);
}

}  // namespace
