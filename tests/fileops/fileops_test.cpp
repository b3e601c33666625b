#include "fileops/fileops.h"
#include "platform/names.h"
#include "support/fake_desktop.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace sorvel;
using namespace sorvel::fileops;
using Boxes = platform::MessageBoxes;

namespace {

QString s(const char* utf8) {
    return QString::fromUtf8(utf8);
}

browse::Row makeRow(const QString& name, const QString& artist = {}, const QString& title = {}) {
    browse::Row r;
    r.name = name;
    r.artist = artist;
    r.title = title;
    return r;
}

const QString kBadName =
    s("Det filnamnet var inte bra! Filnamn får inte vara längre än 255 tecken, måste börja med en "
      "bokstav eller siffra, och får inte inehålla några av följande tecken: \" ? * / \\ : < > |");
const QString kExists =
    s("Det filnamnet finns redan! Det går inte att ha två filer med samma namn.");
const QString kAccess =
    s("Kunde inte byta filnamn. Kontrollera att filen/mappen finns. Du får inte använda CON, AUX, "
      "COM1, COM2, COM3, COM4, LPT1, LPT2, LPT3, PRN, eller NUL som filnamn.");
const QString kOddName = platform::decodeName("lat\xe5");
const QString kLookAlike = s("lat\xef\xbf\xbd");  // what a lossy conversion makes of it

class FileOps : public ::testing::Test {
protected:
    QString mp3(const QString& base, const QByteArray& bytes = "ljud") {
        return dir.write(base + s(".mp3"), bytes);
    }
    /// Checks that exactly one error was shown, and which.
    void expectError(const QString& title, const QString& text) {
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].title, title);
        EXPECT_EQ(boxes.shown[0].text, text);
        EXPECT_EQ(boxes.shown[0].icon, Boxes::Icon::Critical);
        EXPECT_EQ(boxes.shown[0].buttons, Boxes::Buttons::Ok);
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
    mp3(s("gammal"), "G");
    mp3(s("finns"), "F");
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
        {"saknas", "ny", "Fel!", s("Ett fel av typen 53 inträffade.")},
    };
    for (const auto& c : cases) {
        ajfan = 0;
        EXPECT_FALSE(Byt_Filnamn(fs, boxes, dir.path(), s(c.old), s(c.nytt), ajfan)) << c.nytt;
        EXPECT_EQ(ajfan, 1);
        expectError(s(c.title), c.text);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList({s("finns.mp3"), s("gammal.mp3")}));
    EXPECT_EQ(test::readAll(dir.file(s("finns.mp3"))), "F");
}

TEST_F(FileOps, TheRenameButtonRenamesTheCurrentRowAsItself) {
    dir.write(s("Gammal.MP3"), "G");
    browse::Row row = makeRow(s("Gammal"), s("A"));
    ajfan = 1;  // left by an earlier failure: a success does not clear it
    EXPECT_TRUE(cmdFilnamn_Click(fs, boxes, dir.path(), &row, s("Ny"), ajfan));
    EXPECT_EQ(row, makeRow(s("Ny"), s("A")));
    EXPECT_EQ(ajfan, 1);
    EXPECT_EQ(test::readAll(dir.file(s("Ny.mp3"))), "G");
    EXPECT_FALSE(cmdFilnamn_Click(fs, boxes, dir.path(), nullptr, s("X"), ajfan));

    // A name that is not UTF-8 is renamed as itself, and keeps its odd byte in the new name.
    mp3(kOddName, "L");
    mp3(kLookAlike, "look-alike");
    row.name = kOddName;
    EXPECT_TRUE(cmdFilnamn_Click(fs, boxes, dir.path(), &row, kOddName + s(" ny"), ajfan));
    EXPECT_EQ(test::readAll(dir.path() + platform::decodeName("lat\xe5 ny.mp3")), "L");
    EXPECT_EQ(test::readAll(dir.file(kLookAlike + s(".mp3"))), "look-alike");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(NameFromTag, ArtistDashTitleWithoutTheNineCharacters) {
    EXPECT_EQ(nameFromTag(s("AC/DC"), s("Back in Black")), s("ACDC - Back in Black"));
    EXPECT_EQ(nameFromTag(s(""), s("Intro")), s("Intro"));
    EXPECT_EQ(nameFromTag(s("Solo"), s("")), s("Solo"));
    EXPECT_EQ(nameFromTag(s(" "), s("T")), s("  - T"));  // blanks are not empty
    EXPECT_EQ(nameFromTag(s("a\"b\\c/d:e*f?g<h>i|j"), s("")), s("abcdefghij"));
    EXPECT_EQ(nameFromTag(s(""), s("")), std::nullopt);
    // The list shows a field up to its first NUL.
    const QChar nul(u'\0');
    EXPECT_EQ(nameFromTag(s("A") + nul + s("skräp"), s("T")), s("A - T"));
    EXPECT_EQ(nameFromTag(nul + s("x"), nul + s("y")), std::nullopt);
}

TEST_F(FileOps, TagToFileNameRenamesTheSelectedRowsAndGoesOnAfterAFailure) {
    std::vector<browse::Row> rows = {
        makeRow(s("r0"), s("AC/DC"), s("Back in Black")),
        makeRow(s("r1"), s(""), s("Intro")),
        makeRow(s("r2")),                                  // both empty
        makeRow(s("r3"), s("Ej"), s("vald")),              // not selected
        makeRow(s("r4"), s("AC/DC"), s("Back in Black")),  // name taken
        makeRow(s("r5"), s("??"), s("")),                  // nothing left
        makeRow(s("r6"), s("Z"), s("W")),
    };
    for (const browse::Row& r : rows)
        mp3(r.name, r.name.toUtf8());
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
        EXPECT_EQ(test::readAll(dir.file(rows[i].name + s(".mp3"))), "r" + QByteArray::number(i));
    }
    EXPECT_EQ(names, QStringList({s("ACDC - Back in Black"), s("Intro"), s("r2"), s("r3"), s("r4"),
                                  s("r5"), s("Z - W")}));
}

TEST_F(FileOps, DeleteForGoodAsksFirstRemovesTheFileItselfOrAsksForARescan) {
    dir.write(kOddName + s(".MP3"), "L");
    mp3(kLookAlike, "look-alike");
    const browse::Row row = makeRow(kOddName);
    boxes.answers = {Boxes::Answer::Cancel, Boxes::Answer::Ok};
    EXPECT_EQ(remove(&row, 1), DeleteOutcome::Nothing);
    EXPECT_TRUE(test::present(dir.path() + kOddName + s(".MP3")));
    EXPECT_EQ(remove(&row, 1), DeleteOutcome::RemoveRow);
    EXPECT_FALSE(test::present(dir.path() + kOddName + s(".MP3")));
    EXPECT_TRUE(test::present(dir.file(kLookAlike + s(".mp3"))));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].title, s("Bekräfta borttagning av fil"));
    EXPECT_EQ(boxes.shown[0].text,
              s("Är du säker på att du vill radera \"") + kOddName + s(".mp3\" ?"));
    EXPECT_EQ(boxes.shown[0].buttons, Boxes::Buttons::OkCancel);
    EXPECT_TRUE(trash.trashed.empty());

    // A file already gone is told, and the list is to be rescanned; so it is without a row.
    boxes.shown.clear();
    const browse::Row gone = makeRow(s("borta"));
    EXPECT_EQ(remove(&gone, 1), DeleteOutcome::Rescan);
    boxes.shown.erase(boxes.shown.begin());  // the question
    expectError(s("Fel"), s("Filen hittades inte."));
    EXPECT_EQ(remove(nullptr, 1), DeleteOutcome::Rescan);
    EXPECT_TRUE(boxes.shown.empty());
    const browse::Row locked = makeRow(s("låst"));
    mp3(locked.name);
    {
        test::ReadOnly folder(dir.path());
        ASSERT_TRUE(folder.effective());
        EXPECT_EQ(remove(&locked, 1), DeleteOutcome::Rescan);
    }
    EXPECT_EQ(boxes.shown.size(), 1u);  // only the question
    EXPECT_TRUE(test::present(dir.file(s("låst.mp3"))));
}

TEST_F(FileOps, AnyOtherModeSendsTheRealFileToTheTrash) {
    const QString real = dir.write(s("Låt.MP3"), "L");
    const browse::Row row = makeRow(s("Låt"));
    for (int mode : {0, 2, 3, 4}) {  // no mode yet, Ctrl, Shift+Ctrl, Alt
        EXPECT_EQ(remove(&row, mode), DeleteOutcome::RemoveRow);
    }
    EXPECT_EQ(trash.trashed, std::vector<QString>(4, real));
    EXPECT_TRUE(boxes.shown.empty());
    trash.answer = code::kAccess;
    EXPECT_EQ(remove(&row, 0), DeleteOutcome::Nothing);
    expectError(s("Fel"), s("Det gick inte att radera filen."));
}

TEST_F(FileOps, PlayOpensTheRealFileByItsPath) {
    const QString real = dir.write(s("Låt.MP3"), "L");
    const browse::Row row = makeRow(s("Låt"));
    ListView1_DblClick(fs, boxes, opener, dir.path(), &row);
    ListView1_DblClick(fs, boxes, opener, dir.path(), nullptr);
    EXPECT_EQ(opener.opened, std::vector<QString>{real});
    EXPECT_TRUE(boxes.shown.empty());

    const browse::Row gone = makeRow(s("borta"));
    ListView1_DblClick(fs, boxes, opener, dir.path(), &gone);
    expectError(s("Fel"), s("Filen hittades inte."));
    opener.succeed = false;
    ListView1_DblClick(fs, boxes, opener, dir.path(), &row);
    expectError(s("Fel"), s("Det gick inte att spela upp filen."));
}
