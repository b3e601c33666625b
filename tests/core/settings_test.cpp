// The settings file id3.ini, read and written as real files.
#include "core/settings.h"
#include "core/scripted_settings.h"
#include "platform/names.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace sorvel;
using namespace sorvel::core;
using Calls = std::vector<std::string>;
using namespace Qt::StringLiterals;

namespace {

platform::PosixFileSystem disk;

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
                         "height 7200"};  // in that order

}  // namespace

// Each line is applied in order until one is refused or wrong, and what was applied stays; a bad
// last line is found before anything is applied.
TEST(SettingsFile, LoadAppliesInOrderAndStopsAtTheFirstFailure) {
    const test::TempFolder dir;
    const QString ini = dir.file(u"id3.ini"_s);
    test::ScriptedSettings target;
    const auto load = [&](const QByteArray& bytes, const std::string& refuse = {}) {
        test::writeAll(ini, bytes);
        target = test::ScriptedSettings();
        target.refuse = refuse;
        return loadSettings(disk, ini, target);
    };
    const auto with = [](const char* from, const QByteArray& to) {
        return QByteArray(kOriginal).replace(from, to);
    };
    struct Load {
        const char* name;
        QByteArray bytes;
        std::string refuse;  // the step the target refuses
        int split;           // what the load gives
        int applied;         // how many steps it applies
    };
    const Load cases[] = {
        {"the original", kOriginal, {}, 3, 7},
        {"other line ends",
         with("\r\n 2 \r\n", "\r 2 \n").replace(0, 5, "Annan").chopped(2),
         {},
         3,
         7},
        {"empty", {}, {}, 0, 0},
        {"no split", kOriginal.left(kOriginal.lastIndexOf(" 3 ")), {}, 0, 0},
        {"split a word", with(" 3 \r\n", "tre\r\n"), {}, 0, 0},
        {"split too large", with(" 3 \r\n", "70000\r\n"), {}, 0, 0},
        {"state a word", with(" 2 ", "2x"), {}, 0, 2},
        {"width a word", with(" 9600,5", "1e3"), {}, 0, 5},
        {"drive refused", kOriginal, "drive", 0, 1},
        {"state refused", kOriginal, "state", 0, 3},
        {"height refused", kOriginal, "height", 0, 7},
    };
    for (const Load& c : cases) {
        EXPECT_EQ(load(c.bytes, c.refuse), c.split) << c.name;
        EXPECT_EQ(target.calls, Calls(kAllCalls.begin(), kAllCalls.begin() + c.applied)) << c.name;
    }
    // No folder has a NUL in its name; the system would read the path only up to it.
    EXPECT_EQ(load(with("Musik", QByteArray("Mu\0sik", 7))), 0);
    EXPECT_EQ(target.calls.size(), 1u);  // the drive only
}

// Over any old file, in the old format; every folder comes back byte for byte. What killed saves
// left is removed, but not the user's files that only look alike.
TEST(SettingsFile, SaveWritesTheOldFormatAndEveryFolderComesBack) {
    const test::TempFolder dir;
    const QString ini = dir.write(u"id3.ini"_s, QByteArray(2000, 'g'));
    dir.write(u"id3.ini.tmp1k2j3h"_s, "Denna filen");
    dir.write(u"id3.ini.tmp-kopia"_s, "egen");
    ASSERT_EQ(saveSettings(ini, {u"/musik/Åsa"_s, 2, 1200, -45, 9600.5, 7200, 3}), code::kOk);
    EXPECT_EQ(test::readAll(ini),
              kOriginal.left(kOriginal.indexOf("\r\n") + 2) +
                  "/musik/\xc5sa\r\n2\r\n1200\r\n-45\r\n9600.5\r\n7200\r\n3\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{u"id3.ini"_s, u"id3.ini.tmp-kopia"_s}));

    // "Ã¥" reads as UTF-8; then "Łódź/音".
    for (const std::string bytes :
         {"/", "/musik/\xc3\x83\xc2\xa5", "/musik/\xc5\x81\xc3\xb3\x64\xc5\xba/\xe9\x9f\xb3",
          "/musik/\xe5\xff-latin1", "/musik/rad\nbrytning%0A"}) {
        ASSERT_EQ(saveSettings(ini, {platform::decodeName(bytes), 1, 15, 30, 11000, 8000.25, 4}),
                  code::kOk);
        test::ScriptedSettings target;
        EXPECT_EQ(loadSettings(disk, ini, target), 4) << bytes;
        EXPECT_EQ(platform::encodeName(target.folder).toStdString(), bytes);
        EXPECT_EQ(target.calls.back(), "height 8000.25");
    }
}

// Beside the program where it may write there, else in the user's configuration; never beside a
// program installed under /usr. Where nothing can be written, the old file stays whole.
TEST(SettingsPath, AnUnwritableOrInstalledProgramFolderSendsTheFileToTheUsersConfiguration) {
    const test::TempFolder program, config;
    const QString folder = program.path().chopped(1);
    const QString local = program.write(u"id3.ini"_s, "gammal");
    EXPECT_EQ(settingsPath(folder), local);
    test::Environment env;
    env.set("XDG_CONFIG_HOME", config.path() + u"xdg"_s);
    env.set("HOME", config.path() + u"hem"_s);
    EXPECT_EQ(settingsPath(u"/usr/lib"_s), config.path() + u"xdg/sorvel/id3.ini"_s);
    const test::ReadOnly readOnly(folder);
    ASSERT_TRUE(readOnly.effective());
    EXPECT_EQ(saveSettings(local, Settings{}), code::kAccess);
    EXPECT_EQ(test::readAll(local), "gammal");
    EXPECT_EQ(settingsPath(folder), config.path() + u"xdg/sorvel/id3.ini"_s);
    EXPECT_EQ(saveSettings(settingsPath(folder), Settings{}), code::kOk);
    env.set("XDG_CONFIG_HOME", u"relativ"_s);
    EXPECT_EQ(settingsPath(folder), config.path() + u"hem/.config/sorvel/id3.ini"_s);
}
