// The tag-writing commands as the user reaches them: the six field buttons, "&Spara tag",
// "&Filnamn --> tag" with its split menu, and the text rules of the editor fields.
#include "../window/window_fixture.h"

#include "app/file_list_view.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

using namespace sorvel;
using namespace sorvel::test;
using Answer = platform::MessageBoxes::Answer;
using Buttons = platform::MessageBoxes::Buttons;
using Icon = platform::MessageBoxes::Icon;

namespace {

/// The trailer field at `at` of `file` set to `text` padded with blanks, as a changed field is
/// written; the genre byte when `width` is 1.
QByteArray withField(QByteArray file, int at, int width, const QByteArray& text) {
    return file.replace(file.size() - 128 + at, width, text + QByteArray(width - text.size(), ' '));
}

/// A window showing a.mp3 (Abba, Pop), b.mp3 (no trailer), c.mp3 (Cher, Rock, its fields padded
/// with NUL bytes) and "01 - Artist - Title.mp3", scanned from a settings file
/// that asks for the third hyphen.
struct WriteWindow : WindowFixture {
    TempFolder music;
    app::frmMain* w = nullptr;
    app::FileListView* list = nullptr;

    WriteWindow() {
        mp3(music, QStringLiteral("a.mp3"), "Abba", "Waterloo", "Waterloo", "1974", 13);
        mp3(music, QStringLiteral("b.mp3"));
        mp3(music, QStringLiteral("c.mp3"), "Cher", "Believe", "Believe", "1998", 17, '\0');
        mp3(music, QStringLiteral("01 - Artist - Title.mp3"), "X", "Y", "Album", "2001", 13);
        saveIni(music.path().chopped(1), 0, 0, 0, 12000, 8250, 3);
        w = &make();
        w->Form_Load();
        w->show();
        list = child<app::FileListView>("ListView1");
    }

    QString path(const char* base) const {
        return music.file(QString::fromUtf8(base) + QStringLiteral(".mp3"));
    }
    QByteArray bytes(const char* base) const { return readAll(path(base)); }
    int row(const char* base) const {
        for (int r = 0; r < rows().rowCount(); ++r) {
            if (rows().row(r).name == QString::fromUtf8(base)) {
                return r;
            }
        }
        return -1;
    }
    /// Selects the rows of `bases` as a user does: a click on the first, Ctrl+clicks on the rest.
    void select(std::initializer_list<const char*> bases) {
        Qt::KeyboardModifiers mods;
        for (const char* base : bases) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, mods,
                              list->visualRect(rows().index(row(base), 0)).center());
            mods = Qt::ControlModifier;
        }
    }
    void click(const char* button) const {
        auto* b = child<QPushButton>(button);
        QVERIFY2(b->isVisible(), button);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void type(const char* field, const QString& text) const {
        auto* e = child<QLineEdit>(field);
        e->setFocus();
        e->selectAll();
        // Key by key as a keyboard sends them, letters outside ASCII included.
        for (const QChar ch : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(e, &press);
        }
    }
    QString shownStatus() const { return child<QLabel>("StatusBar1Panel1")->text(); }
};

}  // namespace

class WriteTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachFieldButtonWritesItsFieldIntoTheSelectedFilesOnly() {
        WriteWindow t;
        t.select({"a", "c"});
        const QByteArray b = t.bytes("b");
        QByteArray a = t.bytes("a"), c = t.bytes("c");
        const browse::Row rowB = t.rows().row(t.row("b"));

        struct Step {
            const char* field;
            const char* button;
            int at, width;
            QByteArray text;
        };
        const Step steps[] = {{"txtArtist", "cmdArtist", 33, 30, "Nytt namn"},
                              {"txtTitel", "cmdTitel", 3, 30, "Ny titel"},
                              {"txtAlbum", "cmdAlbum", 63, 30, "Nytt album"},
                              {"txtAr", "cmdAr", 93, 4, "2024"},
                              {"txtKommentarer", "cmdKommentarer", 97, 30, "Bra"}};
        for (const Step& s : steps) {
            t.type(s.field, QString::fromLatin1(s.text));
            t.click(s.button);
            // Only this field changes; c keeps the NUL padding of the fields it was not given.
            a = withField(a, s.at, s.width, s.text);
            c = withField(c, s.at, s.width, s.text);
            QCOMPARE(t.bytes("a"), a);
            QCOMPARE(t.bytes("c"), c);
            QCOMPARE(t.bytes("b"), b);
        }
        auto* combo = t.child<QComboBox>("Combo1");
        combo->setCurrentIndex(combo->findText(QStringLiteral("Jazz")));
        t.click("cmdGenre");
        QCOMPARE(t.bytes("a"), withField(a, 127, 1, QByteArray(1, 8)));
        QCOMPARE(t.bytes("c"), withField(c, 127, 1, QByteArray(1, 8)));

        // The rows of the written files show it; the others are as they were.
        for (const char* base : {"a", "c"}) {
            const browse::Row& r = t.rows().row(t.row(base));
            QCOMPARE(r.artist, QStringLiteral("Nytt namn"));
            QCOMPARE(r.genre, QStringLiteral("Jazz"));
        }
        QCOMPARE(t.rows().row(t.row("b")), rowB);
        QVERIFY(t.boxes.shown.empty());

        // Every row counted, the end on screen at once.
        QCOMPARE(t.shownStatus(), QStringLiteral("Klar"));
        QCOMPARE(t.w->progressValue(), 0);
        QCOMPARE(t.w->progressMax(), 4);
        QCOMPARE(t.child<QProgressBar>("ProgressBar1")->value(), 0);
        // The editor keeps its text for the next selection.
        QCOMPARE(t.child<QLineEdit>("txtArtist")->text(), QStringLiteral("Nytt namn"));
    }

    void unwritableFileIsNamedOnceAndTheOthersAreWritten() {
        WriteWindow t;
        t.select({"a", "b", "c"});
        const QByteArray before = t.bytes("b");
        const browse::Row rowB = t.rows().row(t.row("b"));
        const ReadOnly locked(t.path("b"));
        if (!locked.effective()) {
            QSKIP("no way to make a file read-only here");
        }
        t.type("txtAlbum", QStringLiteral("Samling"));
        QString statusWhileAsked;
        int barWhileAsked = -1;
        t.boxes.whileShown = [&](const auto&) {
            statusWhileAsked = t.shownStatus();
            barWhileAsked = t.child<QProgressBar>("ProgressBar1")->value();
        };
        // The bar shows something else, painted long enough ago that the command's first
        // report is painted at once and the rest wait.
        t.w->setStatus(QStringLiteral("Före"));
        QTest::qWait(30);
        t.click("cmdAlbum");

        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        const auto& m = t.boxes.shown[0];
        QCOMPARE(m.title, QStringLiteral("Fel"));
        QCOMPARE(m.icon, Icon::Critical);
        QCOMPARE(m.buttons, Buttons::Ok);
        QVERIFY(m.text.contains(QStringLiteral("b.mp3")));
        QVERIFY(!m.text.contains(QStringLiteral("a.mp3")) &&
                !m.text.contains(QStringLiteral("c.mp3")));
        QCOMPARE(t.bytes("b"), before);
        QCOMPARE(t.rows().row(t.row("b")), rowB);
        for (const char* base : {"a", "c"}) {
            QCOMPARE(t.bytes(base).sliced(t.bytes(base).size() - 128 + 63, 7), "Samling");
            QCOMPARE(t.rows().row(t.row(base)).album, QStringLiteral("Samling"));
        }
        // The end is on screen before the message waits for its answer.
        QCOMPARE(statusWhileAsked, QStringLiteral("Klar"));
        QCOMPARE(barWhileAsked, 0);
    }

    void saveWritesTheEditorAndAsksBeforeARename() {
        WriteWindow t;
        t.select({"a"});
        const QByteArray a = t.bytes("a");
        auto expectTitle = [&](const char* file, const QByteArray& title) {
            QCOMPARE(t.bytes(file), withField(a, 3, 30, title));
        };

        // The name unchanged: saved without a question.
        t.type("txtTitel", QStringLiteral("SOS"));
        t.click("cmdSpara");
        QVERIFY(t.boxes.shown.empty());
        expectTitle("a", "SOS");
        QCOMPARE(t.rows().row(t.row("a")).title, QStringLiteral("SOS"));

        // Cancel: the tag is saved, the name kept.
        t.type("txtTitel", QStringLiteral("Fernando"));
        t.type("txtFilnamn", QStringLiteral("A"));  // letter case counts
        t.boxes.answers = {Answer::Cancel};
        t.click("cmdSpara");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QCOMPARE(t.boxes.shown[0].title, QStringLiteral("Ändra filnamn?"));
        QCOMPARE(t.boxes.shown[0].text,
                 QStringLiteral("Vill du ändra filnamnet från a.mp3 till A.mp3 ?"));
        QCOMPARE(t.boxes.shown[0].buttons, Buttons::OkCancel);
        QCOMPARE(t.boxes.shown[0].icon, Icon::None);
        expectTitle("a", "Fernando");
        QCOMPARE(t.rows().row(t.row("a")).title, QStringLiteral("Fernando"));

        // A name another file has: the rename's own message; both files stay.
        const QByteArray c = t.bytes("c");
        t.type("txtFilnamn", QStringLiteral("c"));
        t.boxes.shown.clear();
        t.click("cmdSpara");  // answered OK
        QCOMPARE(t.boxes.shown.size(), std::size_t{2});
        QCOMPARE(t.boxes.shown[1].title, QStringLiteral("Fel"));
        QCOMPARE(t.boxes.shown[1].text,
                 QStringLiteral("Det filnamnet finns redan! Det går inte att ha två filer med "
                                "samma namn."));
        QCOMPARE(t.boxes.shown[1].icon, Icon::Critical);
        QCOMPARE(t.bytes("c"), c);
        expectTitle("a", "Fernando");
        QCOMPARE(t.rows().row(t.row("a")).name, QStringLiteral("a"));

        // OK: renamed, and the row shows the new name.
        const int r = t.row("a");
        t.type("txtTitel", QStringLiteral("Mamma Mia"));
        t.type("txtFilnamn", QStringLiteral("Abba - Mamma Mia"));
        t.boxes.shown.clear();
        t.click("cmdSpara");
        QCOMPARE(t.boxes.shown.size(), std::size_t{1});
        QVERIFY(!QFileInfo::exists(t.path("a")));
        expectTitle("Abba - Mamma Mia", "Mamma Mia");
        QCOMPARE(t.rows().data(t.rows().index(r, 0), Qt::DisplayRole).toString(),
                 QStringLiteral("Abba - Mamma Mia"));
        QCOMPARE(t.rows().row(r).title, QStringLiteral("Mamma Mia"));
    }

    void fileNameToTagSplitsAtTheChosenHyphen() {
        WriteWindow t;
        // The loaded setting does not move the check mark from the first item.
        QCOMPARE(t.w->fil2tagNr, 3);
        auto items = t.child<QMenu>("mnuFilnamn2tag")->actions();
        auto checked = [&] {
            QList<bool> marks;
            for (const QAction* item : items) {
                marks << item->isChecked();
            }
            return marks;
        };
        QCOMPARE(checked(), (QList<bool>{true, false, false, false}));
        items[1]->trigger();
        QCOMPARE(checked(), (QList<bool>{false, true, false, false}));
        QCOMPARE(t.w->fil2tagNr, 2);
        items[1]->trigger();  // choosing the checked item again keeps its mark
        QCOMPARE(checked(), (QList<bool>{false, true, false, false}));

        const char* name = "01 - Artist - Title";
        t.select({name, "a"});
        const QByteArray a = t.bytes("a");
        const QByteArray before = t.bytes(name);
        t.click("cmdFilnamn2Tag");
        QCOMPARE(t.bytes(name), withField(withField(before, 33, 30, "Artist"), 3, 30, "Title"));
        QCOMPARE(t.bytes("a"), withField(withField(a, 33, 30, ""), 3, 30, "a"));
        // The editor shows the current row's new artist and title at once.
        QCOMPARE(t.w->currentRow(), t.row("a"));
        QCOMPARE(t.child<QLineEdit>("txtTitel")->text(), QStringLiteral("a"));
        t.select({name});
        QCOMPARE(t.child<QLineEdit>("txtArtist")->text(), QStringLiteral("Artist"));
        QCOMPARE(t.child<QLineEdit>("txtTitel")->text(), QStringLiteral("Title"));
        QVERIFY(QFileInfo::exists(t.path(name)));
    }

    void rightClickOnFileNameToTagOnlyOpensTheMenu() {
        WriteWindow t;
        t.select({"a", "c"});
        const QByteArray a = t.bytes("a"), c = t.bytes("c");
        auto* button = t.child<QPushButton>("cmdFilnamn2Tag");
        auto* menu = t.child<QMenu>("mnuFilnamn2tag");
        QSignalSpy clicked(button, &QPushButton::clicked);
        const QPoint at(10, 8);
        QTest::mouseClick(button, Qt::RightButton, {}, at);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->pos(), button->mapToGlobal(at));  // the window leaves it room
        QCOMPARE(clicked.count(), 0);
        QVERIFY(!button->isDown());
        QCOMPARE(t.bytes("a"), a);
        QCOMPARE(t.bytes("c"), c);
        menu->close();
        // The left button still writes.
        QTest::mouseClick(button, Qt::LeftButton, {}, at);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(t.bytes("c") != c);
    }

    void tagFieldsRefuseWhatATagCannotHoldButTheNameFieldDoesNot() {
        WriteWindow t;
        for (const char* field : {"txtArtist", "txtTitel", "txtAlbum", "txtAr", "txtKommentarer"}) {
            t.type(field, QStringLiteral("ł"));
            QCOMPARE(t.child<QLineEdit>(field)->text(), QString());
            t.type(field, QStringLiteral("é"));  // Windows-1252 holds this one
            QCOMPARE(t.child<QLineEdit>(field)->text(), QStringLiteral("é"));
        }
        t.type("txtFilnamn", QStringLiteral("Łódź"));
        QCOMPARE(t.child<QLineEdit>("txtFilnamn")->text(), QStringLiteral("Łódź"));
    }
};

SORVEL_WIDGET_TEST_MAIN(WriteTest)
#include "write_test.moc"
