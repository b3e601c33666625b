#include "fileops/fileops.h"
#include "platform/names.h"
#include "support/fake_desktop.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <unistd.h>
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

bool present(const QString& path) {
    return ::access(platform::encodeName(path).constData(), F_OK) == 0;
}

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
    /// The MP3 files of the folder, by their own names (QDir would turn odd bytes into
    /// look-alikes).
    QStringList files() {
        std::vector<QString> names;
        std::size_t count = 0;
        EXPECT_EQ(fs.listMp3(dir.path(), &names, count), code::kOk);
        QStringList sorted(names.begin(), names.end());
        sorted.sort();
        return sorted;
    }

    test::TempFolder dir;
    platform::PosixFileSystem fs;
    test::FakeMessageBoxes boxes;
    test::FakeTrash trash;
    test::FakeOpener opener;
    int ajfan = 0;
};

const QString kBadName =
    s("Det filnamnet var inte bra! Filnamn får inte vara längre än 255 tecken, "
      "måste börja med en bokstav eller siffra, och får inte inehålla några "
      "av följande tecken: \" ? * / \\ : < > |");
const QString kExists =
    s("Det filnamnet finns redan! Det går inte att ha två filer med samma namn.");
const QString kAccess =
    s("Kunde inte byta filnamn. Kontrollera att filen/mappen finns. Du får inte "
      "använda CON, AUX, COM1, COM2, COM3, COM4, LPT1, LPT2, LPT3, PRN, eller "
      "NUL som filnamn.");

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
    {
        test::ReadOnly folder(dir.path());
        if (folder.effective()) {
            EXPECT_FALSE(Byt_Filnamn(fs, boxes, dir.path(), s("gammal"), s("ny"), ajfan));
            expectError(s("Fil/mapp åtkomstfel"), kAccess);
        }
    }
    EXPECT_EQ(files(), QStringList({s("finns.mp3"), s("gammal.mp3")}));
    EXPECT_EQ(test::readAll(dir.file(s("gammal.mp3"))), "G");
    EXPECT_EQ(test::readAll(dir.file(s("finns.mp3"))), "F");
}

TEST_F(FileOps, TheRenameButtonRenamesTheCurrentRow) {
    dir.write(s("Gammal.MP3"), "G");
    browse::Row row = makeRow(s("Gammal"), s("A"));
    ajfan = 1;  // left by an earlier failure: a success does not clear it
    EXPECT_TRUE(cmdFilnamn_Click(fs, boxes, dir.path(), &row, s("Ny"), ajfan));
    EXPECT_EQ(row, makeRow(s("Ny"), s("A")));
    EXPECT_EQ(ajfan, 1);
    EXPECT_EQ(files(), QStringList{s("Ny.mp3")});
    EXPECT_EQ(test::readAll(dir.file(s("Ny.mp3"))), "G");
    EXPECT_FALSE(cmdFilnamn_Click(fs, boxes, dir.path(), nullptr, s("X"), ajfan));
    EXPECT_TRUE(boxes.shown.empty());

    // A name that is not UTF-8 is renamed as itself, and keeps its odd byte in the new name.
    const QString odd = platform::decodeName("lat\xe5");
    mp3(odd, "L");
    mp3(s("lat\xef\xbf\xbd"), "look-alike");
    row.name = odd;
    EXPECT_TRUE(cmdFilnamn_Click(fs, boxes, dir.path(), &row, odd + s(" ny"), ajfan));
    EXPECT_EQ(test::readAll(dir.path() + platform::decodeName("lat\xe5 ny.mp3")), "L");
    EXPECT_EQ(test::readAll(dir.file(s("lat\xef\xbf\xbd.mp3"))), "look-alike");
}

TEST_F(FileOps, NoRenameReplacesAFileWhereTheFileSystemRefusesNoReplace) {
    test::FaultyFileSystem einval;
    einval.renameAnswersEinval = true;
    mp3(s("a"), "A");
    mp3(s("b"), "B");
    EXPECT_FALSE(Byt_Filnamn(einval, boxes, dir.path(), s("a"), s("b"), ajfan));
    expectError(s("Fel"), kExists);
    EXPECT_EQ(test::readAll(dir.file(s("b.mp3"))), "B");
    EXPECT_TRUE(Byt_Filnamn(einval, boxes, dir.path(), s("a"), s("c"), ajfan));
    EXPECT_EQ(files(), QStringList({s("b.mp3"), s("c.mp3")}));
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
    const std::vector<bool> selected = {true, true, true, false, true, true, true};
    ajfan = 1;
    EXPECT_EQ(cmdTag2Filnamn_Click(fs, boxes, dir.path(), rows, selected, ajfan),
              (std::vector<std::size_t>{0, 1, 6}));
    EXPECT_EQ(ajfan, 0);
    QStringList names;
    for (const browse::Row& r : rows)
        names << r.name;
    EXPECT_EQ(names, QStringList({s("ACDC - Back in Black"), s("Intro"), s("r2"), s("r3"), s("r4"),
                                  s("r5"), s("Z - W")}));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, kExists);
    EXPECT_EQ(boxes.shown[1].text, kBadName);
    // Each row still names its own file.
    EXPECT_EQ(static_cast<std::size_t>(files().size()), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(test::readAll(dir.file(rows[i].name + s(".mp3"))), "r" + QByteArray::number(i));
    }
}

TEST_F(FileOps, DeleteForGoodAsksFirstAndRemovesTheFileItself) {
    const QString odd = platform::decodeName("lat\xe5");
    dir.write(odd + s(".MP3"), "L");
    mp3(s("lat\xef\xbf\xbd"), "look-alike");
    const browse::Row row = makeRow(odd);
    boxes.answers = {Boxes::Answer::Cancel, Boxes::Answer::Ok};
    EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), &row, 1), DeleteOutcome::Nothing);
    EXPECT_EQ(files().size(), 2);
    EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), &row, 1),
              DeleteOutcome::RemoveRow);
    EXPECT_EQ(files(), QStringList{s("lat\xef\xbf\xbd.mp3")});
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].title, s("Bekräfta borttagning av fil"));
    EXPECT_EQ(boxes.shown[0].text, s("Är du säker på att du vill radera \"") + odd + s(".mp3\" ?"));
    EXPECT_EQ(boxes.shown[0].icon, Boxes::Icon::None);
    EXPECT_EQ(boxes.shown[0].buttons, Boxes::Buttons::OkCancel);
    EXPECT_TRUE(trash.trashed.empty());
}

TEST_F(FileOps, AFailedDeleteForGoodAsksForARescan) {
    const browse::Row gone = makeRow(s("borta"));
    EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), &gone, 1), DeleteOutcome::Rescan);
    boxes.shown.erase(boxes.shown.begin());  // the question
    expectError(s("Fel"), s("Filen hittades inte."));

    const browse::Row locked = makeRow(s("låst"));
    mp3(locked.name);
    {
        test::ReadOnly folder(dir.path());
        if (folder.effective()) {
            EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), &locked, 1),
                      DeleteOutcome::Rescan);
            EXPECT_EQ(boxes.shown.size(), 1u);  // only the question
        }
    }
    EXPECT_TRUE(present(dir.file(s("låst.mp3"))));
    boxes.shown.clear();
    EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), nullptr, 1),
              DeleteOutcome::Rescan);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(FileOps, AnyOtherModeSendsTheRealFileToTheTrash) {
    const QString real = dir.write(s("Låt.MP3"), "L");
    const browse::Row row = makeRow(s("Låt"));
    for (int mode : {0, 2, 3, 4}) {  // no mode yet, Ctrl, Shift+Ctrl, Alt
        EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), &row, mode),
                  DeleteOutcome::RemoveRow);
    }
    EXPECT_EQ(trash.trashed, std::vector<QString>(4, real));
    EXPECT_TRUE(boxes.shown.empty());
    trash.answer = code::kAccess;
    EXPECT_EQ(mnuHogerRadera_Click(fs, boxes, trash, dir.path(), &row, 0), DeleteOutcome::Nothing);
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
    EXPECT_EQ(opener.opened.size(), 2u);
}
