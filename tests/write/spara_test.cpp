#include "write/spara.h"
#include "support/fake_desktop.h"
#include "support/files.h"
#include "write_support.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace sorvel;
using namespace sorvel::test;
using Boxes = platform::MessageBoxes;
using write::SaveOutcome;
using namespace Qt::StringLiterals;

namespace {

/// The real file system, with a rename that fails with a code of the test's choosing.
class RenameFails : public platform::PosixFileSystem {
public:
    Code answer = code::kOk;
    Code rename(const QString& from, const QString& to) override {
        return answer != code::kOk ? answer : PosixFileSystem::rename(from, to);
    }
};

// Fields as another tagger writes them: NUL padding, a track number at the end of the comment,
// and genre byte 0, which the list shows as no genre.
const QByteArray kOld = trailer("Titel", "Artist", "Album", "1999",
                                QByteArray("Kom") + QByteArray(26, '\0') + '\x05', 0, '\0');

class Save : public ::testing::Test {
protected:
    TempFolder dir;
    RenameFails fs;
    FakeMessageBoxes boxes;
    QByteArray before;
    browse::Row row;
    write::EditorValues editor;

    void SetUp() override {
        before = audio(500) + kOld;
        dir.write(QStringLiteral("Gammal.mp3"), before);
        row = scanRows(fs, dir.path()).at(0);
        // The editor as a click on the row fills it, with the title changed by the user.
        editor = {write::shownText(row.artist),
                  QStringLiteral("Ny titel"),
                  write::shownText(row.album),
                  write::shownText(row.year),
                  row.genre,
                  write::shownText(row.comment)};
    }
    SaveOutcome save(const QString& txtFilnamn) {
        return write::cmdSpara_Click(fs, boxes, dir.path(), row, editor, txtFilnamn);
    }
    QByteArray file(const char* name) const { return readAll(dir.file(QString::fromUtf8(name))); }
    QByteArray saved() const { return withField(before, kTitleAt, 30, "Ny titel"); }
};

}  // namespace

TEST_F(Save, WritesTheChangedFieldPaddedAndEveryUnchangedOneAsTheFileHadIt) {
    EXPECT_EQ(save(QStringLiteral("Gammal")), SaveOutcome::Saved);
    EXPECT_TRUE(boxes.shown.empty());
    // Only the title differs: NUL padding, the track number and genre byte 0 survive.
    EXPECT_EQ(file("Gammal.mp3"), saved());
    EXPECT_EQ(row.title, QStringLiteral("Ny titel"));
    EXPECT_EQ(row.comment, scanRows(fs, dir.path()).at(0).comment);

    // A genre the user changed is written as chosen, an emptied one as 255.
    editor.genre = QStringLiteral("Rock");
    save(QStringLiteral("Gammal"));
    EXPECT_EQ(file("Gammal.mp3").back(), '\x11');
    editor.genre.clear();
    save(QStringLiteral("Gammal"));
    EXPECT_EQ(file("Gammal.mp3").back(), '\xff');
}

TEST_F(Save, AsksBeforeRenamingAndRenamesOnlyOnOk) {
    boxes.answers = {Boxes::Answer::Cancel};
    EXPECT_EQ(save(QStringLiteral("Ny")), SaveOutcome::Saved);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Ändra filnamn?"));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Vill du ändra filnamnet från Gammal.mp3 till Ny.mp3 ?"));
    EXPECT_EQ(boxes.shown[0].icon, Boxes::Icon::None);
    EXPECT_EQ(boxes.shown[0].buttons, Boxes::Buttons::OkCancel);
    EXPECT_EQ(file("Gammal.mp3"), saved());
    EXPECT_EQ(row.name, QStringLiteral("Gammal"));
    EXPECT_EQ(row.title, QStringLiteral("Ny titel"));

    boxes.answers = {Boxes::Answer::Ok};
    EXPECT_EQ(save(QStringLiteral("Ny")), SaveOutcome::SavedAndRenamed);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("Gammal.mp3"))));
    EXPECT_EQ(file("Ny.mp3"), saved());
    EXPECT_EQ(row.name, QStringLiteral("Ny"));

    // A change of letter case alone is a new name too.
    EXPECT_EQ(save(QStringLiteral("ny")), SaveOutcome::SavedAndRenamed);
    EXPECT_EQ(boxes.shown.back().text,
              QStringLiteral("Vill du ändra filnamnet från Ny.mp3 till ny.mp3 ?"));
    EXPECT_EQ(scanRows(fs, dir.path()).at(0).name, QStringLiteral("ny"));
    EXPECT_EQ(row.name, QStringLiteral("ny"));
}

TEST_F(Save, ARefusedRenameSaysWhyAndKeepsTheNameButTheRowFollowsTheWrittenTag) {
    const QByteArray other = audio(7);
    dir.write(QStringLiteral("Finns.mp3"), other);
    struct Case {
        QString name;
        Code fsAnswer;
        QString title;
        QString textStart;
    };
    const Case cases[] = {
        {u"Finns"_s, code::kOk, u"Fel"_s, u"Det filnamnet finns redan! Det går inte"_s},
        {u"a?b"_s, code::kOk, u"Felaktigt filnamn"_s,
         u"Det filnamnet var inte bra! Filnamn får inte vara längre än 255 tecken, måste börja "
         u"med en bokstav eller siffra, och får inte inehålla några av följande tecken: \" ? * / "
         u"\\ : < > |"_s},
        {u"CON"_s, code::kOk, u"Fil/mapp åtkomstfel"_s, u"Kunde inte byta filnamn. Kontrollera"_s},
        {u"Ny"_s, code::kAccess, u"Fel"_s, u"Filen är skrivskyddad!"_s},
        {u"Ny"_s, code::kCrossDevice, u"Fel!"_s, u"Ett fel av typen 74 inträffade."_s},
    };
    for (const Case& c : cases) {
        fs.answer = c.fsAnswer;
        boxes.shown.clear();
        EXPECT_EQ(save(c.name), SaveOutcome::Saved) << c.name.toStdString();
        ASSERT_EQ(boxes.shown.size(), 2u) << c.name.toStdString();
        EXPECT_EQ(boxes.shown[1].title, c.title);
        EXPECT_TRUE(boxes.shown[1].text.startsWith(c.textStart))
            << boxes.shown[1].text.toStdString();
        EXPECT_EQ(boxes.shown[1].icon, Boxes::Icon::Critical);
        EXPECT_EQ(file("Gammal.mp3"), saved());
        EXPECT_EQ(file("Finns.mp3"), other);
        EXPECT_EQ(row.name, QStringLiteral("Gammal"));
        EXPECT_EQ(row.title, QStringLiteral("Ny titel"));
    }
}

TEST_F(Save, AFileThatCannotBeWrittenIsReportedAndLeavesFileAndRowAlone) {
    const browse::Row scanned = row;
    {
        ReadOnly readOnly(dir.file(QStringLiteral("Gammal.mp3")));
        ASSERT_TRUE(readOnly.effective());
        EXPECT_EQ(save(QStringLiteral("Ny")), SaveOutcome::NotSaved);
    }
    ASSERT_EQ(boxes.shown.size(), 1u);  // no rename question after a failed write
    EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Fel"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Filen är skrivskyddad!"));
    EXPECT_EQ(boxes.shown[0].icon, Boxes::Icon::Critical);
    EXPECT_EQ(file("Gammal.mp3"), before);
    EXPECT_EQ(row, scanned);

    // Any other failure is named too instead of passing as done.
    QFile::remove(dir.file(QStringLiteral("Gammal.mp3")));
    EXPECT_EQ(save(QStringLiteral("Gammal")), SaveOutcome::NotSaved);
    EXPECT_EQ(boxes.shown.back().text,
              QStringLiteral("Följande filer kunde inte skrivas:\nGammal.mp3 (finns inte)"));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("Gammal.mp3"))));
    EXPECT_EQ(row, scanned);
}
