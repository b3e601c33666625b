#include "fileops/fileops.h"
#include "platform/desktop_posix.h"
#include "platform/names.h"
#include "support/fake_desktop.h"
#include "support/files.h"
#include "support/test_desktop.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>

using namespace sorvel;
using namespace sorvel::fileops;
using Boxes = platform::MessageBoxes;
using Shown = test::FakeMessageBoxes::Shown;
using namespace Qt::StringLiterals;

namespace {

QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}

/// A row of the file `name`, or of `name` + ".mp3" where it has no such ending.
browse::Row makeRow(const QString& name, const QString& artist = {}, const QString& title = {}) {
    browse::Row row{{}, artist, title, {}, {}, {}, {}, 0, {}};
    browse::setFileName(row,
                        name.endsWith(u".mp3"_s, Qt::CaseInsensitive) ? name : name + u".mp3"_s);
    return row;
}

const QString kBadName =
    s("Det filnamnet var inte bra! Filnamn får inte vara längre än 255 tecken, måste börja med en "
      "bokstav eller siffra, och får inte inehålla några av följande tecken: \" ? * / \\ : < > |");
const QString kExists =
    u"Det filnamnet finns redan! Det går inte att ha två filer med samma namn."_s;
const QString kAccess =
    s("Kunde inte byta filnamn. Kontrollera att filen/mappen finns. Du får inte använda CON, AUX, "
      "COM1, COM2, COM3, COM4, LPT1, LPT2, LPT3, PRN, eller NUL som filnamn.");
const QString kOddName = platform::decodeName("lat\xe5");
const QString kLookAlike = u"lat\xef\xbf\xbd"_s;  // what a lossy conversion makes of it

class FileOps : public ::testing::Test {
protected:
    QString mp3(const QString& base, const QByteArray& bytes = "ljud") {
        return dir.write(base + u".mp3"_s, bytes);
    }
    /// Checks that exactly one error was shown, and which.
    void expectError(const QString& title, const QString& text) {
        EXPECT_EQ(boxes.shown, (std::vector<Shown>{{title, text}}));
        boxes.shown.clear();
    }
    DeleteOutcome remove(const browse::Row* row, int mode) {
        return mnuHogerRadera_Click(fs, boxes, trash, dir.path(), row, mode);
    }

    test::TempFolder dir;
    platform::PosixFileSystem fs;
    test::FakeMessageBoxes boxes;
    test::FakeTrash trash;
    test::FakeOpener opener;
    int ajfan = 0;
};

}  // namespace

TEST_F(FileOps, EachRefusedRenameShowsItsMessageAndKeepsTheFile) {
    mp3(u"gammal"_s, "G");
    mp3(u"finns"_s, "F");
    const struct {
        const char* old;
        const char* nytt;
        const char* title;
        QString text;
    } cases[] = {
        {"gammal", "a?b", "Felaktigt filnamn", kBadName},
        {"gammal", "", "Felaktigt filnamn", kBadName},  // would be the hidden file ".mp3"
        {"gammal", ".dold", "Felaktigt filnamn", kBadName},
        {"gammal", "finns", "Fel", kExists},
        {"gammal", "con", "Fil/mapp åtkomstfel", kAccess},
        {"saknas", "ny", "Fel!", u"Ett fel av typen 53 inträffade."_s},
    };
    for (const auto& c : cases) {
        ajfan = 0;
        EXPECT_FALSE(Byt_Filnamn(fs, boxes, dir.path(), s(c.old) + u".mp3"_s, s(c.nytt), ajfan))
            << c.nytt;
        EXPECT_EQ(ajfan, 1);
        expectError(s(c.title), c.text);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList({u"finns.mp3"_s, u"gammal.mp3"_s}));
    EXPECT_EQ(test::readAll(dir.file(u"finns.mp3"_s)), "F");
}

TEST_F(FileOps, ARenameFindsTheOldFileAsItselfAndLeavesTheFlagAlone) {
    dir.write(u"Gammal.MP3"_s, "G");
    dir.write(u"Gammal.mp3"_s, "g");
    ajfan = 1;  // left by an earlier failure: a success does not clear it
    EXPECT_TRUE(Byt_Filnamn(fs, boxes, dir.path(), u"Gammal.MP3"_s, u"Ny"_s, ajfan));
    EXPECT_EQ(ajfan, 1);
    EXPECT_EQ(test::readAll(dir.file(u"Ny.mp3"_s)), "G");
    EXPECT_EQ(test::readAll(dir.file(u"Gammal.mp3"_s)), "g");

    // A name that is not UTF-8 is renamed as itself, and keeps its odd byte in the new name.
    mp3(kOddName, "L");
    mp3(kLookAlike, "look-alike");
    EXPECT_TRUE(
        Byt_Filnamn(fs, boxes, dir.path(), kOddName + u".mp3"_s, kOddName + u" ny"_s, ajfan));
    EXPECT_EQ(test::readAll(dir.path() + platform::decodeName("lat\xe5 ny.mp3")), "L");
    EXPECT_EQ(test::readAll(dir.file(kLookAlike + u".mp3"_s)), "look-alike");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(NameFromTag, ArtistDashTitleWithoutTheNineCharacters) {
    EXPECT_EQ(nameFromTag(u"AC/DC"_s, u"Back in Black"_s), u"ACDC - Back in Black"_s);
    EXPECT_EQ(nameFromTag(u""_s, u"Intro"_s), u"Intro"_s);
    EXPECT_EQ(nameFromTag(u"Solo"_s, u""_s), u"Solo"_s);
    EXPECT_EQ(nameFromTag(u" "_s, u"T"_s), u"  - T"_s);  // blanks are not empty
    EXPECT_EQ(nameFromTag(u"a\"b\\c/d:e*f?g<h>i|j"_s, u""_s), u"abcdefghij"_s);
    EXPECT_EQ(nameFromTag(u""_s, u""_s), std::nullopt);
    // The list shows a field up to its first NUL.
    const QChar nul(u'\0');
    EXPECT_EQ(nameFromTag(u"A"_s + nul + u"skräp"_s, u"T"_s), u"A - T"_s);
    EXPECT_EQ(nameFromTag(nul + u"x"_s, nul + u"y"_s), std::nullopt);
}

TEST_F(FileOps, TagToFileNameRenamesTheSelectedRowsAndGoesOnAfterAFailure) {
    std::vector<browse::Row> rows = {
        makeRow(u"r0"_s, u"AC/DC"_s, u"Back in Black"_s),
        makeRow(u"r1"_s, u""_s, u"Intro"_s),
        makeRow(u"r2"_s),                                  // both empty
        makeRow(u"r3"_s, u"Ej"_s, u"vald"_s),              // not selected
        makeRow(u"r4"_s, u"AC/DC"_s, u"Back in Black"_s),  // name taken
        makeRow(u"r5"_s, u"??"_s, u""_s),                  // nothing left
        makeRow(u"r6"_s, u"Z"_s, u"W"_s),
    };
    for (const browse::Row& r : rows)
        mp3(r.name, r.name.toUtf8());
    dir.write(u"r4.MP3"_s, "other");  // alike but for its ending: left alone
    ajfan = 1;
    EXPECT_EQ(cmdTag2Filnamn_Click(fs, boxes, dir.path(), rows,
                                   {true, true, true, false, true, true, true}, ajfan),
              (std::vector<std::size_t>{0, 1, 6}));
    EXPECT_EQ(ajfan, 0);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, kExists);
    EXPECT_EQ(boxes.shown[1].text, kBadName);
    // Each row names its own file.
    QStringList names;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        names << rows[i].name;
        EXPECT_EQ(test::readAll(dir.file(rows[i].name + u".mp3"_s)), "r" + QByteArray::number(i));
    }
    EXPECT_EQ(test::readAll(dir.file(u"r4.MP3"_s)), "other");
    EXPECT_EQ(names, QStringList({u"ACDC - Back in Black"_s, u"Intro"_s, u"r2"_s, u"r3"_s, u"r4"_s,
                                  u"r5"_s, u"Z - W"_s}));
}

TEST_F(FileOps, DeleteForGoodAsksFirstRemovesTheFileItselfOrAsksForARescan) {
    dir.write(kOddName + u".MP3"_s, "L");
    mp3(kOddName, "alike but for its ending");
    mp3(kLookAlike, "look-alike");
    const browse::Row row = makeRow(kOddName + u".MP3"_s);
    boxes.answers = {Boxes::Answer::Cancel, Boxes::Answer::Ok};
    EXPECT_EQ(remove(&row, 1), DeleteOutcome::Nothing);
    EXPECT_TRUE(test::present(dir.path() + kOddName + u".MP3"_s));
    EXPECT_EQ(remove(&row, 1), DeleteOutcome::RemoveRow);
    EXPECT_FALSE(test::present(dir.path() + kOddName + u".MP3"_s));
    EXPECT_TRUE(test::present(dir.file(kLookAlike + u".mp3"_s)));
    EXPECT_TRUE(test::present(dir.file(kOddName + u".mp3"_s)));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0],
              (Shown{u"Bekräfta borttagning av fil"_s,
                     u"Är du säker på att du vill radera \""_s + kOddName + u".mp3\" ?"_s,
                     Boxes::Icon::None, Boxes::Buttons::OkCancel}));
    EXPECT_TRUE(trash.trashed.empty());

    // A file already gone is told, and the list is to be rescanned; so it is without a row.
    boxes.shown.clear();
    const browse::Row gone = makeRow(u"borta"_s);
    EXPECT_EQ(remove(&gone, 1), DeleteOutcome::Rescan);
    boxes.shown.erase(boxes.shown.begin());  // the question
    expectError(u"Fel"_s, u"Filen hittades inte."_s);
    EXPECT_EQ(remove(nullptr, 1), DeleteOutcome::Rescan);
    EXPECT_TRUE(boxes.shown.empty());
    const browse::Row locked = makeRow(u"låst"_s);
    mp3(locked.name);
    {
        test::ReadOnly folder(dir.path());
        ASSERT_TRUE(folder.effective());
        EXPECT_EQ(remove(&locked, 1), DeleteOutcome::Rescan);
    }
    EXPECT_EQ(boxes.shown.size(), 1u);  // only the question
    EXPECT_TRUE(test::present(dir.file(u"låst.mp3"_s)));
}

TEST_F(FileOps, AnyOtherModeSendsTheRealFileToTheTrash) {
    const QString real = dir.write(u"Låt.MP3"_s, "L");
    dir.write(u"Låt.mp3"_s, "l");
    const browse::Row row = makeRow(u"Låt.MP3"_s);
    for (int mode : {0, 2, 3, 4})  // no mode yet, Ctrl, Shift+Ctrl, Alt
        EXPECT_EQ(remove(&row, mode), DeleteOutcome::RemoveRow);
    EXPECT_EQ(trash.trashed, std::vector<QString>(4, real));
    EXPECT_TRUE(boxes.shown.empty());
    trash.answer = code::kAccess;
    EXPECT_EQ(remove(&row, 0), DeleteOutcome::Nothing);
    expectError(u"Fel"_s, u"Det gick inte att radera filen."_s);
}

TEST_F(FileOps, PlayOpensTheRealFileByItsPath) {
    const QString real = dir.write(u"Låt.MP3"_s, "L");
    const browse::Row row = makeRow(u"Låt.MP3"_s);
    ListView1_DblClick(fs, boxes, opener, dir.path(), &row);
    EXPECT_EQ(opener.opened, std::vector<QString>{real});

    const browse::Row gone = makeRow(u"borta"_s);
    ListView1_DblClick(fs, boxes, opener, dir.path(), &gone);
    expectError(u"Fel"_s, u"Filen hittades inte."_s);
    opener.succeed = false;
    ListView1_DblClick(fs, boxes, opener, dir.path(), &row);
    expectError(u"Fel"_s, u"Det gick inte att spela upp filen."_s);
}

// Through the desktop's real open command (xdg-open), to a player of the test's own.
TEST_F(FileOps, PlayThroughTheDesktopsOpenCommandStartsItsPlayerWithTheFilesPath) {
    if (QStandardPaths::findExecutable(u"xdg-open"_s).isEmpty())
        GTEST_SKIP() << "xdg-open is not installed";
    test::TestDesktop desktop("audio/mpeg");
    platform::XdgOpener xdgOpen;
    // An ID3v2 header and an MPEG frame header: audio/mpeg by content as well as by name.
    const QByteArray mpeg =
        QByteArray("ID3\x03\0\0\0\0\0\0\xff\xfb\x90\0", 14) + QByteArray(400, '\0');
    for (const QString& base :
         {u"Låt med blanksteg #1 $x"_s, platform::decodeName("lat\xe5 'x'")}) {
        if (!base.isValidUtf16())
            desktop.withoutMimeInfoTool();
        const QString path = dir.write(base + u".MP3"_s, mpeg);
        const browse::Row row = makeRow(base + u".MP3"_s);
        ListView1_DblClick(fs, boxes, xdgOpen, dir.path(), &row);
        EXPECT_EQ(desktop.waitForProgram(), platform::encodeName(path));
    }
    EXPECT_TRUE(boxes.shown.empty());
}
