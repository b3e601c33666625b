#include "fileops/fileops.h"
#include "platform/desktop_posix.h"
#include "platform/names.h"
#include "support/fake_desktop.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace sorvel;

namespace {

/// Environment variables changed for the life of the object, then put back.
class Environment {
public:
    Environment() = default;
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had) {
                qputenv(it->name, it->value);
            } else {
                qunsetenv(it->name);
            }
        }
    }
    void set(const char* name, const QString& value) {
        save(name);
        qputenv(name, platform::encodeName(value));
    }
    void unset(const char* name) {
        save(name);
        qunsetenv(name);
    }

private:
    struct Saved {
        const char* name;
        bool had;
        QByteArray value;
    };
    void save(const char* name) {
        saved_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    }
    std::vector<Saved> saved_;
};

/// A desktop of its own in a temporary folder whose program for audio/mpeg is test-player.desktop:
/// a script that writes the path it was given to the file "spelad".
class TestDesktop {
public:
    TestDesktop() {
        const QString root = dir_.path();
        QDir().mkpath(root + QStringLiteral("data/applications"));
        QDir().mkpath(root + QStringLiteral("config"));
        const QString player =
            dir_.write(QStringLiteral("spelare.sh"),
                       "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"" +
                           platform::encodeName(played()) + "\"\n");
        ::chmod(platform::encodeName(player).constData(), 0755);
        test::writeAll(root + QStringLiteral("data/applications/test-player.desktop"),
                       "[Desktop Entry]\nType=Application\nName=Testspelare\nExec=" +
                           platform::encodeName(player) + " %f\nMimeType=audio/mpeg;\n");
        test::writeAll(root + QStringLiteral("config/mimeapps.list"),
                       "[Default Applications]\naudio/mpeg=test-player.desktop\n");
        env_.set("HOME", root);
        env_.set("XDG_DATA_HOME", root + QStringLiteral("data"));
        env_.set("XDG_CONFIG_HOME", root + QStringLiteral("config"));
        env_.set("XDG_CONFIG_DIRS", root + QStringLiteral("config-system"));
        // The system's MIME database stays visible: it tells that the file is audio/mpeg.
        env_.set("XDG_DATA_DIRS", root + QStringLiteral("system:/usr/local/share:/usr/share"));
        // xdg-open's generic way, the one of a desktop it does not know: xdg-mime finds the
        // default program in mimeapps.list and runs its Exec line. It takes that way only where
        // there is a display to show a program on; nothing connects to it here.
        env_.set("XDG_CURRENT_DESKTOP", QStringLiteral("X-Generic"));
        env_.set("DISPLAY", QStringLiteral(":99"));
        env_.unset("XDG_RUNTIME_DIR");  // its flatpak-info would mean a sandbox
        env_.unset("BROWSER");
    }
    /// Makes the desktop tell a file's type by its content (`file`), as one without the
    /// File::MimeInfo tool does: that tool refuses names that are not UTF-8 outright, before any
    /// player is chosen.
    void withoutMimeInfoTool() {
        const QString bin = dir_.file(QStringLiteral("bin"));
        QDir().mkpath(bin);
        test::writeAll(bin + QStringLiteral("/mimetype"), "#!/bin/sh\nexit 1\n");
        ::chmod(platform::encodeName(bin + QStringLiteral("/mimetype")).constData(), 0755);
        env_.set("PATH", bin + u':' + qEnvironmentVariable("PATH"));
    }
    QString played() const { return dir_.file(QStringLiteral("spelad")); }

    /// What the player was given, once it has run (waits up to `seconds`).
    QByteArray waitForPlayer(int seconds) const {
        const QByteArray path = platform::encodeName(played());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (::access(path.constData(), F_OK) != 0) {
            if (std::chrono::steady_clock::now() > end)
                return "(nothing played)";
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const QByteArray got = test::readAll(played());
        ::unlink(path.constData());
        return got;
    }

private:
    test::TempFolder dir_;
    Environment env_;
};

}  // namespace

TEST(Play, TheDesktopsOpenCommandStartsItsPlayerWithTheFilesPath) {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        GTEST_SKIP() << "xdg-open is not installed";
    }
    TestDesktop desktop;
    test::TempFolder music;
    platform::PosixFileSystem fs;
    test::FakeMessageBoxes boxes;
    platform::XdgOpener opener;
    // An ID3v2 header and an MPEG frame header: audio/mpeg by content as well as by name.
    const QByteArray mpeg =
        QByteArray("ID3\x03\0\0\0\0\0\0\xff\xfb\x90\0", 14) + QByteArray(400, '\0');
    for (const QString& base :
         {QStringLiteral("Låt med blanksteg #1 $x"), platform::decodeName("lat\xe5 'x'")}) {
        if (!base.isValidUtf16())
            desktop.withoutMimeInfoTool();
        const QString path = music.write(base + QStringLiteral(".MP3"), mpeg);
        browse::Row row;
        row.name = base;
        fileops::ListView1_DblClick(fs, boxes, opener, music.path(), &row);
        EXPECT_EQ(desktop.waitForPlayer(30), platform::encodeName(path));
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(ProgramFolder, IsTheFolderTheProgramRunsFromByteForByte) {
    // A copy of this test, run from a folder whose name is not UTF-8, reports what it found.
    if (const char* report = std::getenv("SORVEL_REPORT_PROGRAM_FOLDER")) {
        int argc = 1;
        char name[] = "kopia";
        char* argv[] = {name, nullptr};
        const QCoreApplication app(argc, argv);
        test::writeAll(platform::decodeName(report),
                       platform::encodeName(platform::ExecutableFolder().path()));
        return;
    }
    test::TempFolder dir;
    const QByteArray folder = platform::encodeName(dir.path()) + "program-\xe5";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    std::string copy = folder.toStdString() + "/kopia";
    std::filesystem::copy_file("/proc/self/exe", copy);
    std::string filter = "--gtest_filter=ProgramFolder.*";
    std::string env = "SORVEL_REPORT_PROGRAM_FOLDER=" +
                      platform::encodeName(dir.file(QStringLiteral("rapport"))).toStdString();
    char* argv[] = {copy.data(), filter.data(), nullptr};
    char* envp[] = {env.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, copy.c_str(), nullptr, nullptr, argv, envp), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::readAll(dir.file(QStringLiteral("rapport"))), folder);
}

TEST(StartProgram, AProgramWhoseNameIsNotUtf8IsStartedAsItself) {
    test::TempFolder dir;
    const QString program = dir.path() + platform::decodeName("program-\xe5");
    const QByteArray started = platform::encodeName(dir.file(QStringLiteral("startad")));
    test::writeAll(program, "#!/bin/sh\n: > '" + started + "'\n");
    ::chmod(platform::encodeName(program).constData(), 0755);
    ASSERT_TRUE(platform::XdgOpener().startProgram(program));
    for (int i = 0; i < 200 && ::access(started.constData(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(::access(started.constData(), F_OK), 0);
}
