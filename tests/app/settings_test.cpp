#include "app/settings.h"
#include "app/scripted_settings.h"
#include "platform/names.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QDir>
#include <fstream>
#include <string>

using namespace sorvel;
using namespace sorvel::app;

namespace {

using Calls = std::vector<std::string>;
using namespace Qt::StringLiterals;

// A file as the program has always written it: Windows-1252, CR LF, numbers with blanks around.
const QByteArray kOriginal =
    "Denna filen inneh\xe5ller alla inst\xe4llningar som id3 editorn sparar. Redigera den inte! "
    "Men om den tas bort s\xe5 skapas en ny n\xe4sta g\xe5ng programmet avslutas.\r\n"
    "C:\\Musik\\\xc5sa\r\n 2 \r\n 1200 \r\n-45\r\n 9600,5\r\n7200\r\n 3 \r\n";
const Calls kAllCalls = {"drive C:\\Musik\\Åsa",
                         "folder C:\\Musik\\Åsa",
                         "state 2",
                         "top 1200",
                         "left -45",
                         "width 9600.5",
                         "height 7200"};

// Bytes this process has read through read(2) and its kin so far.
long long bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value && key != "rchar:") {
    }
    return value;
}

class SettingsFile : public ::testing::Test {
protected:
    test::TempFolder dir;
    test::ScriptedSettings target;
    QString ini = dir.file(u"id3.ini"_s);

    int load(const QByteArray& bytes) {
        test::writeAll(ini, bytes);
        target = test::ScriptedSettings();
        return loadSettings(ini, target);
    }
};

}  // namespace

TEST_F(SettingsFile, LoadAppliesInOrderAndStopsAtTheFirstFailureKeepingWhatWasApplied) {
    // Any line endings, any first line, no ending after the last line: the same values.
    QByteArray mixed = kOriginal;
    mixed.replace(0, mixed.indexOf('\r'), "vad som helst");
    mixed.replace("\r\n 2 \r\n", "\r 2 \n").chop(2);
    const QByteArray seven = kOriginal.left(kOriginal.lastIndexOf(" 3 "));
    const auto with = [](const char* from, const char* to) {
        return QByteArray(kOriginal).replace(from, to);
    };
    const std::tuple<QByteArray, int, int> cases[] = {
        // the file, the fil2tagNr it gives, how many steps it applies
        {kOriginal, 3, 7},
        {mixed, 3, 7},
        {QByteArray(), 0, 0},
        {seven, 0, 0},
        {seven + "\r\n", 0, 0},
        // A bad line 8 is found while the file is read, before anything is applied.
        {with(" 3 \r\n", "tre\r\n"), 0, 0},
        {with(" 3 \r\n", "70000\r\n"), 0, 0},
        {with(" 2 ", "2x"), 0, 2},
        {with(" 9600,5", "1e3"), 0, 5},
    };
    for (const auto& [bytes, fil2tagNr, applied] : cases) {
        EXPECT_EQ(load(bytes), fil2tagNr) << bytes.toStdString();
        EXPECT_EQ(target.calls, Calls(kAllCalls.begin(), kAllCalls.begin() + applied));
    }
    // No folder has a NUL in its name; the system would read the path only up to it.
    EXPECT_EQ(load(QByteArray(kOriginal).replace("Musik", QByteArray("Mu\0sik", 7))), 0);
    EXPECT_EQ(target.calls.size(), 1u);  // the drive only
    target = test::ScriptedSettings();
    EXPECT_EQ(loadSettings(dir.file(u"saknas.ini"_s), target), 0);
    EXPECT_TRUE(target.calls.empty());

    test::writeAll(ini, kOriginal);
    const char* steps[] = {"drive", "folder", "state", "top", "left", "width", "height"};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        target = test::ScriptedSettings();
        target.refuse = steps[i];
        EXPECT_EQ(loadSettings(ini, target), 0) << steps[i];
        EXPECT_EQ(target.calls, Calls(kAllCalls.begin(), kAllCalls.begin() + i + 1));
    }
}

TEST_F(SettingsFile, AHugeFileIsReadNoFurtherThanNeeded) {
    constexpr qsizetype kMiB = qsizetype{1024} * 1024;
    const QByteArray tail(kMiB + 1, 'x');
    long long before = bytesRead();
    EXPECT_EQ(load(kOriginal + tail + tail + tail), 3);
    EXPECT_EQ(target.calls, kAllCalls);
    EXPECT_LT(bytesRead() - before, 64 * 1024);

    before = bytesRead();
    EXPECT_EQ(load(tail + tail + kOriginal), 0);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_LT(bytesRead() - before, 256 * 1024);
}

TEST_F(SettingsFile, SaveWritesTheOldFormatOverAnyOldFile) {
    test::writeAll(ini, QByteArray(2000, 'g'));
    const Settings s{u"/musik/Åsa"_s, 2, 1200, -45, 9600.5, 7200, 3};
    ASSERT_EQ(saveSettings(ini, s), code::kOk);
    EXPECT_EQ(test::readAll(ini),
              kOriginal.left(kOriginal.indexOf("\r\n") + 2) +
                  "/musik/\xc5sa\r\n2\r\n1200\r\n-45\r\n9600.5\r\n7200\r\n3\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"id3.ini"_s});
}

TEST_F(SettingsFile, SaveRemovesWhatKilledSavesLeftButNotASaveInProgress) {
    // What a save killed before its rename leaves, one still held by a save going on, and files
    // of the user's that only look alike.
    dir.write(u"id3.ini.tmp1k2j3h"_s, "Denna filen");
    const QString live = dir.write(u"id3.ini.tmp9z8y7x"_s, "Denna");
    dir.write(u"id3.ini.tmp-kopia"_s, "egen");
    dir.write(u"annan.ini.tmpabc"_s, "egen");
    const int held = ::open(platform::encodeName(live).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ASSERT_EQ(saveSettings(ini, {u"/musik"_s, 0, 1, 2, 3, 4, 1}), code::kOk);
    ::close(held);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{u"annan.ini.tmpabc"_s, u"id3.ini"_s, u"id3.ini.tmp-kopia"_s,
                           u"id3.ini.tmp9z8y7x"_s}));
}

TEST_F(SettingsFile, EveryFolderComesBackByteForByte) {
    const std::string folders[] = {
        "/",
        "/musik/\xc3\x85sa",        // Åsa: fits Windows-1252
        "/musik/\xc3\x83\xc2\xa5",  // Ã¥: its Windows-1252 bytes would read as UTF-8 "å"
        "/musik/\xc5\x81\xc3\xb3\x64\xc5\xba/\xe9\x9f\xb3",  // Łódź/音: not in Windows-1252
        "/musik/\xe5\xff-latin1",                            // not UTF-8 at all
        "/musik/rad\nbrytning%0A",                           // a line break in a name
    };
    for (const std::string& bytes : folders) {
        const Settings s{platform::decodeName(bytes), 1, 15, 30, 11000, 8000.25, 4};
        ASSERT_EQ(saveSettings(ini, s), code::kOk);
        target = test::ScriptedSettings();
        EXPECT_EQ(loadSettings(ini, target), 4) << bytes;
        EXPECT_EQ(platform::encodeName(target.folder).toStdString(), bytes);
        EXPECT_EQ(target.calls.back(), "height 8000.25");
    }
}

TEST(SettingsPath, AnUnwritableProgramFolderSendsTheFileToTheUsersConfiguration) {
    test::TempFolder program;
    test::TempFolder config;
    const QString folder = program.path().chopped(1);
    const QString local = program.write(u"id3.ini"_s, "gammal");
    EXPECT_EQ(settingsPath(folder), local);
    test::ReadOnly readOnly(folder);
    ASSERT_TRUE(readOnly.effective());
    // Where nothing can be written, the old file stays whole and the code says why.
    EXPECT_EQ(saveSettings(local, Settings{}), code::kAccess);
    EXPECT_EQ(test::readAll(local), "gammal");

    test::Environment env;
    env.set("XDG_CONFIG_HOME", config.path() + u"xdg"_s);
    env.set("HOME", config.path() + u"hem"_s);
    const QString path = settingsPath(folder);
    EXPECT_EQ(path, config.path() + u"xdg/sorvel/id3.ini"_s);
    EXPECT_EQ(saveSettings(path, Settings{}), code::kOk);
    test::ScriptedSettings target;
    loadSettings(path, target);
    EXPECT_EQ(target.calls.size(), 7u);
    env.set("XDG_CONFIG_HOME", u"relativ"_s);
    EXPECT_EQ(settingsPath(folder), config.path() + u"hem/.config/sorvel/id3.ini"_s);
}

TEST(SettingsPath, AProgramInstalledUnderUsrNeverWritesBesideItself) {
    test::TempFolder config;
    test::Environment env;
    env.set("XDG_CONFIG_HOME", config.path().chopped(1));
    const QString user = config.path() + u"sorvel/id3.ini"_s;
    // As root (CI, an installing administrator) these folders can be written all the same.
    for (const QString& installed : {u"/usr"_s, u"/usr/lib"_s, u"/usr/local/lib"_s}) {
        EXPECT_EQ(settingsPath(installed), user) << installed.toStdString();
    }
    // A portable copy elsewhere keeps its file beside it, whatever its folders are called.
    test::TempFolder portable;
    for (const QString& name : {u"usr"_s, u"usr2"_s}) {
        const QString folder = portable.path() + name;
        ASSERT_TRUE(QDir().mkpath(folder));
        EXPECT_EQ(settingsPath(folder), folder + u"/id3.ini"_s);
    }
}
