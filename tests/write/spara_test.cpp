// "&Spara tag" and the text rules of the editor fields.
#include "write/spara.h"
#include "fileops/fileops.h"
#include "support/fake_desktop.h"
#include "support/files.h"
#include "write/editor.h"
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

class Save : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write(u"Gammal.mp3"_s, before);
        row = scanRows(fs, dir.path()).at(0);
        // The editor as a click on the row fills it, with the title changed by the user.
        editor = {write::shownText(row.artist), u"Ny titel"_s, write::shownText(row.album),
                  write::shownText(row.year),   row.genre,     write::shownText(row.comment)};
    }
    SaveOutcome save(const QString& txtFilnamn) {
        return write::cmdSpara_Click(fs, boxes, dir.path(), row, editor, txtFilnamn);
    }
    QByteArray file(const char* name) const { return readAll(dir.file(QString::fromUtf8(name))); }
    QByteArray saved() const { return withField(before, kTitleAt, 30, "Ny titel"); }

    // Fields as another tagger writes them: NUL padding, a track number at the end of the
    // comment, and genre byte 0, which the list shows as no genre.
    const QByteArray before =
        audio(500) + trailer("Titel", "Artist", "Album", "1999",
                             QByteArray("Kom") + QByteArray(26, '\0') + '\x05', 0, '\0');
    TempFolder dir;
    RenameFails fs;
    FakeMessageBoxes boxes;
    browse::Row row;
    write::EditorValues editor;
};

}  // namespace

TEST_F(Save, WritesTheChangedFieldPaddedAndEveryUnchangedOneAsTheFileHadIt) {
    EXPECT_EQ(save(u"Gammal"_s), SaveOutcome::Saved);
    EXPECT_TRUE(boxes.shown.empty());
    // Only the title differs: NUL padding, the track number and genre byte 0 survive.
    EXPECT_EQ(file("Gammal.mp3"), saved());
    EXPECT_EQ(row.title, u"Ny titel"_s);

    // A genre the user changed is written as chosen, an emptied one as 255.
    editor.genre = u"Rock"_s;
    save(u"Gammal"_s);
    EXPECT_EQ(file("Gammal.mp3").back(), '\x11');
    editor.genre.clear();
    save(u"Gammal"_s);
    EXPECT_EQ(file("Gammal.mp3").back(), '\xff');
}

TEST_F(Save, AsksBeforeRenamingAndRenamesOnlyOnOk) {
    boxes.answers = {Boxes::Answer::Cancel};
    EXPECT_EQ(save(u"Ny"_s), SaveOutcome::Saved);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, u"Ändra filnamn?"_s);
    EXPECT_EQ(boxes.shown[0].text, u"Vill du ändra filnamnet från Gammal.mp3 till Ny.mp3 ?"_s);
    EXPECT_EQ(boxes.shown[0].icon, Boxes::Icon::None);
    EXPECT_EQ(boxes.shown[0].buttons, Boxes::Buttons::OkCancel);
    EXPECT_EQ(file("Gammal.mp3"), saved());
    EXPECT_EQ(row.name, u"Gammal"_s);

    boxes.answers = {Boxes::Answer::Ok};
    EXPECT_EQ(save(u"Ny"_s), SaveOutcome::SavedAndRenamed);
    EXPECT_FALSE(QFile::exists(dir.file(u"Gammal.mp3"_s)));
    EXPECT_EQ(file("Ny.mp3"), saved());
    EXPECT_EQ(row.name, u"Ny"_s);

    // A change of letter case alone is a new name too.
    EXPECT_EQ(save(u"ny"_s), SaveOutcome::SavedAndRenamed);
    EXPECT_EQ(scanRows(fs, dir.path()).at(0).name, u"ny"_s);
    EXPECT_EQ(row.name, u"ny"_s);
}

TEST_F(Save, ARefusedRenameSaysWhyAndKeepsTheNameButTheRowFollowsTheWrittenTag) {
    dir.write(u"Finns.mp3"_s, "F");
    const std::tuple<QString, Code, fileops::Message> cases[] = {
        {u"Finns"_s, code::kOk, fileops::renameMessage(code::kFileExists)},
        {u"a?b"_s, code::kOk, fileops::renameMessage(code::kBadFileName)},
        {u"CON"_s, code::kOk, fileops::renameMessage(code::kAccess)},
        {u"Ny"_s, code::kAccess, {u"Fel"_s, u"Filen är skrivskyddad!"_s}},
        {u"Ny"_s, code::kCrossDevice, {u"Fel!"_s, u"Ett fel av typen 74 inträffade."_s}},
    };
    for (const auto& [name, fsAnswer, message] : cases) {
        fs.answer = fsAnswer;
        boxes.shown.clear();
        EXPECT_EQ(save(name), SaveOutcome::Saved) << name.toStdString();
        ASSERT_EQ(boxes.shown.size(), 2u) << name.toStdString();
        EXPECT_EQ(fileops::Message({boxes.shown[1].title, boxes.shown[1].text}), message);
        EXPECT_EQ(boxes.shown[1].icon, Boxes::Icon::Critical);
        EXPECT_EQ(file("Gammal.mp3"), saved());
        EXPECT_EQ(file("Finns.mp3"), "F");
        EXPECT_EQ(row.name, u"Gammal"_s);
        EXPECT_EQ(row.title, u"Ny titel"_s);
    }
}

TEST_F(Save, AFileThatCannotBeWrittenIsReportedAndLeavesFileAndRowAlone) {
    const browse::Row scanned = row;
    {
        ReadOnly readOnly(dir.file(u"Gammal.mp3"_s));
        ASSERT_TRUE(readOnly.effective());
        EXPECT_EQ(save(u"Ny"_s), SaveOutcome::NotSaved);
    }
    ASSERT_EQ(boxes.shown.size(), 1u);  // no rename question after a failed write
    EXPECT_EQ(boxes.shown[0].title, u"Fel"_s);
    EXPECT_EQ(boxes.shown[0].text, u"Filen är skrivskyddad!"_s);
    EXPECT_EQ(boxes.shown[0].icon, Boxes::Icon::Critical);
    EXPECT_EQ(file("Gammal.mp3"), before);
    EXPECT_EQ(row, scanned);

    // Any other failure is named too instead of passing as done.
    QFile::remove(dir.file(u"Gammal.mp3"_s));
    EXPECT_EQ(save(u"Gammal"_s), SaveOutcome::NotSaved);
    EXPECT_EQ(boxes.shown.back().text,
              u"Följande filer kunde inte skrivas:\nGammal.mp3 (finns inte)"_s);
    EXPECT_FALSE(QFile::exists(dir.file(u"Gammal.mp3"_s)));
    EXPECT_EQ(row, scanned);
}

TEST(EditorText, ShowsUpToTheFirstNulAndDropsWhatATagCannotHold) {
    EXPECT_EQ(write::shownText(u"Abba"_s), u"Abba"_s);
    EXPECT_EQ(write::shownText(QString::fromUtf16(u"Abba\0\0x", 7)), u"Abba"_s);
    EXPECT_EQ(write::shownText(QString::fromUtf16(u"\0x", 2)), QString());

    // Ω and the emoji (two UTF-16 units) have no byte in Windows-1252; é and € have. The cursor
    // stays on its character.
    for (const auto& [before, after] : {std::pair{2, 1}, std::pair{7, 4}, std::pair{0, 0}}) {
        QString text = QString::fromUtf16(u"aΩbé€😀c");
        int cursor = before;
        EXPECT_EQ(write::dropUnholdable(text, cursor), 3);
        EXPECT_EQ(text, QString::fromUtf16(u"abé€c"));
        EXPECT_EQ(cursor, after);
    }
    QString clean = u"Åsa"_s;
    int at = 1;
    EXPECT_EQ(write::dropUnholdable(clean, at), 0);
    EXPECT_EQ(clean, u"Åsa"_s);
}
