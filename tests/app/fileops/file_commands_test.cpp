// The file commands of the main window on real files: rename, names from tags, delete and play.
#include "window/window_fixture.h"

#include "app/file_list_view.h"
#include "platform/names.h"

#include <unistd.h>
#include <QAction>
#include <QLineEdit>
#include <QPushButton>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;

namespace {

bool present(const QString& path) {
    return ::access(platform::encodeName(path).constData(), F_OK) == 0;
}

/// A folder of a.mp3 (Abba), b.mp3 (AC/DC), c.mp3 (no tag) and one whose name is not UTF-8,
/// listed and sorted by name.
struct FileWindow : WindowFixture {
    TempFolder music;
    const QString odd = platform::decodeName("d\xe5");
    app::frmMain* w = nullptr;
    app::FileListView* list = nullptr;

    FileWindow() {
        mp3(music, QStringLiteral("a.mp3"), "Abba", "Waterloo", "", "", 255, '\0');
        mp3(music, QStringLiteral("b.mp3"), "AC/DC", "Back in Black", "", "", 255, '\0');
        mp3(music, QStringLiteral("c.mp3"));
        mp3(music, odd + QStringLiteral(".mp3"), "Abba", "Waterloo", "", "", 255, '\0');
        saveIni(music.path().chopped(1), 0, 1500, 3000, 12000, 8250, 1);
        w = &make();
        w->Form_Load();
        w->show();
        list = child<app::FileListView>("ListView1");
        w->ListView1_ColumnClick(1);
    }
    QStringList names() const {
        QStringList out;
        for (const browse::Row& r : rows().rows())
            out << r.name;
        return out;
    }
    QPoint at(int row) const { return list->visualRect(rows().index(row, 0)).center(); }
    void click(int row, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, at(row));
    }
    /// As a real double click comes: press, release, double click, release.
    void doubleClick(QPoint p) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, p);
    }
    QString filnamn() const { return child<QLineEdit>("txtFilnamn")->text(); }
    void expectMessage(const QString& title, const QString& text) {
        QCOMPARE(boxes.shown.size(), std::size_t{1});
        QCOMPARE(boxes.shown[0].title, title);
        QCOMPARE(boxes.shown[0].text, text);
        boxes.shown.clear();
    }
};

}  // namespace

class FileCommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void renameButtonRenamesInPlaceOrRefusesWithItsMessage() {
        FileWindow t;
        t.click(0);
        t.child<QLineEdit>("txtFilnamn")->setText(QStringLiteral("zz"));
        QTest::mouseClick(t.child<QPushButton>("cmdFilnamn"), Qt::LeftButton);
        QVERIFY(!present(t.music.file(QStringLiteral("a.mp3"))));
        QVERIFY(present(t.music.file(QStringLiteral("zz.mp3"))));
        // Not re-sorted, and the tag columns stay.
        QCOMPARE(t.names(), (QStringList{QStringLiteral("zz"), QStringLiteral("b"),
                                         QStringLiteral("c"), t.odd}));
        QCOMPARE(t.rows().data(t.rows().index(0, 1), Qt::DisplayRole),
                 QVariant(QStringLiteral("Abba")));
        QVERIFY(t.boxes.shown.empty());

        t.click(3);
        t.child<QLineEdit>("txtFilnamn")->setText(QStringLiteral("a?b"));
        QTest::mouseClick(t.child<QPushButton>("cmdFilnamn"), Qt::LeftButton);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].title, QStringLiteral("Felaktigt filnamn"));
        QCOMPARE(t.w->ajfan, 1);
        QCOMPARE(t.filnamn(), QStringLiteral("a?b"));
        QCOMPARE(t.rows().row(3).name, t.odd);
        QVERIFY(present(t.music.file(t.odd + QStringLiteral(".mp3"))));

        t.list->selectionModel()->clear();  // no current row: nothing to rename
        t.w->cmdFilnamn_Click();
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
    }

    void tagToFileNameRenamesTheSelectedRowsOnly() {
        FileWindow t;
        t.click(1);
        t.click(3, Qt::ControlModifier);  // same tag as a.mp3, which is not selected
        t.click(0, Qt::ControlModifier);
        QTest::mouseClick(t.child<QPushButton>("cmdTag2Filnamn"), Qt::LeftButton);
        QCOMPARE(t.names(),
                 (QStringList{QStringLiteral("Abba - Waterloo"),
                              QStringLiteral("ACDC - Back in Black"), QStringLiteral("c"), t.odd}));
        t.expectMessage(QStringLiteral("Fel"), QStringLiteral("Det filnamnet finns redan! Det går "
                                                              "inte att ha två filer med samma "
                                                              "namn."));
        QVERIFY(present(t.music.file(QStringLiteral("ACDC - Back in Black.mp3"))));
        QCOMPARE(t.w->ajfan, 0);
        QCOMPARE(t.filnamn(), QStringLiteral("a"));  // the editor is left alone
    }

    void deleteSendsTheCurrentFileToTheTrashAndRemovesItsRow() {
        FileWindow t;
        t.click(1);
        QTest::keyClick(t.list, Qt::Key_Delete);
        QCOMPARE(t.trash.trashed, (std::vector<QString>{t.music.file(QStringLiteral("b.mp3"))}));
        QCOMPARE(t.names(), (QStringList{QStringLiteral("a"), QStringLiteral("c"), t.odd}));
        // The row that took its place is the one the editor shows and the next Delete takes.
        QCOMPARE(t.w->selectedRows(), std::vector<int>{1});
        QCOMPARE(t.filnamn(), QStringLiteral("c"));

        t.trash.answer = code::kAccess;
        QTest::keyClick(t.list, Qt::Key_Delete);
        t.expectMessage(QStringLiteral("Fel"), QStringLiteral("Det gick inte att radera filen."));
        QCOMPARE(t.rows().rowCount(), 3);
    }

    void shiftDeleteAsksAndDeletesForGoodUntilAPlainDelete() {
        FileWindow t;
        t.click(3);
        t.boxes.answers = {Answer::Cancel};
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        t.expectMessage(QStringLiteral("Bekräfta borttagning av fil"),
                        QStringLiteral("Är du säker på att du vill radera \"") + t.odd +
                            QStringLiteral(".mp3\" ?"));
        QCOMPARE(t.rows().rowCount(), 4);

        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(!present(t.music.file(t.odd + QStringLiteral(".mp3"))));
        QCOMPARE(t.rows().rowCount(), 3);

        t.child<QAction>("mnuHogerRadera")->trigger();  // the mode of the last press
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QVERIFY(!present(t.music.file(QStringLiteral("c.mp3"))));
        QVERIFY(t.trash.trashed.empty());

        QTest::keyClick(t.list, Qt::Key_Delete);
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QCOMPARE(t.trash.trashed, (std::vector<QString>{t.music.file(QStringLiteral("b.mp3"))}));
        QCOMPARE(t.names(), QStringList{QStringLiteral("a")});
    }

    void aFileAlreadyGoneIsToldAndTheListRescanned() {
        FileWindow t;
        t.click(1);
        QVERIFY(::unlink(platform::encodeName(t.music.file(QStringLiteral("b.mp3"))).constData()) ==
                0);
        WindowFixture::mp3(t.music, QStringLiteral("d.mp3"));
        QTest::keyClick(t.list, Qt::Key_Delete, Qt::ShiftModifier);
        t.boxes.shown.erase(t.boxes.shown.begin());  // the question
        t.expectMessage(QStringLiteral("Fel"), QStringLiteral("Filen hittades inte."));
        QVERIFY(!t.names().contains(QStringLiteral("b")));
        QVERIFY(t.names().contains(QStringLiteral("d")));
    }

    void doubleClickAndSpelaUppOpenTheFileByItsAbsolutePath() {
        FileWindow t;
        t.doubleClick(t.at(3));
        t.child<QAction>("mnuHogerSpela")->trigger();
        const QString path = t.music.file(t.odd + QStringLiteral(".mp3"));
        QCOMPARE(t.opener.opened, (std::vector<QString>{path, path}));

        // Neither below the rows nor without a current row.
        t.doubleClick(QPoint(5, t.list->viewport()->height() - 3));
        t.list->selectionModel()->clear();
        t.child<QAction>("mnuHogerSpela")->trigger();
        QCOMPARE(t.opener.opened.size(), std::size_t{2});
    }
};

SORVEL_WIDGET_TEST_MAIN(FileCommandsTest)
#include "file_commands_test.moc"
