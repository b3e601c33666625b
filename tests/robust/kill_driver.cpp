// The program's writers, run on a real folder in a process of their own, so that a test can kill
// it with SIGKILL at any moment and look at what the files hold.
//
//   kill_driver write FOLDER      "Nytt namn" as the artist of every file (the field command)
//   kill_driver spara FOLDER      "&Spara tag" on every file in turn, each with a new artist and
//                                 renamed to its name + " ny" (the question answered OK)
//   kill_driver tag2name FOLDER   "Filnamn <-- &tag" over every file
//   kill_driver settings INI N    id3.ini saved N times, save i with the folder "/musik/i"
//
// Writes "R" to its standard output once the folder is read and the writing begins, and "D" when
// all is written, so that the test can place its kills inside the work.
#include "app/settings.h"
#include "browse/scan.h"
#include "fileops/fileops.h"
#include "write/engine.h"
#include "write/spara.h"

#include <unistd.h>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace sorvel;

namespace {

class Rows : public browse::ScanObserver {
public:
    std::vector<browse::Row> rows;
    void addRow(browse::Row&& row) override { rows.push_back(std::move(row)); }
    void setStatus(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgress(int) override {}
};

class AnswerOk : public platform::MessageBoxes {
public:
    int shown = 0;
    Answer show(const QString& title, const QString& text, Icon, Buttons) override {
        // A rename question is expected; anything else is a failure the test must hear of.
        if (title != QStringLiteral("Ändra filnamn?")) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
            ++shown;
        }
        return Answer::Ok;
    }
};

void say(char c) {
    // Unbuffered: a kill right after must not swallow it.
    if (::write(STDOUT_FILENO, &c, 1) != 1)
        std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s write|spara|tag2name FOLDER | settings INI N\n", argv[0]);
        return 2;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString where = QString::fromLocal8Bit(argv[2]);
    platform::PosixFileSystem fs;
    AnswerOk boxes;

    if (mode == QStringLiteral("settings")) {
        const int n = argc > 3 ? std::atoi(argv[3]) : 1;
        say('R');
        for (int i = 1; i <= n; ++i) {
            const app::Settings s{
                QStringLiteral("/musik/%1").arg(i), 0, 1500, 3000, 12000, 8250, i % 4 + 1};
            if (app::saveSettings(where, s) != code::kOk)
                return 1;
        }
        say('D');
        return 0;
    }

    const QString katalog = browse::katalogFor(where);
    Rows scanned;
    std::size_t count = 0;
    if (browse::scanFolder(fs, katalog, scanned, count) != code::kOk)
        return 1;
    std::vector<browse::Row>& rows = scanned.rows;
    const std::vector<bool> all(rows.size(), true);
    say('R');
    if (mode == QStringLiteral("write")) {
        write::EditorValues editor;
        editor.artist = QStringLiteral("Nytt namn");
        const write::WriteResult r =
            write::spara_tag(fs, write::Typ::Artist, rows, all, katalog, editor, 1, scanned);
        if (!r.failures.empty())
            return 1;
    } else if (mode == QStringLiteral("spara")) {
        for (browse::Row& row : rows) {
            const write::EditorValues editor{QStringLiteral("Ny artist"),
                                             row.title,
                                             row.album,
                                             row.year,
                                             row.genre,
                                             row.comment};
            if (write::cmdSpara_Click(fs, boxes, katalog, row, editor,
                                      row.name + QStringLiteral(" ny")) !=
                write::SaveOutcome::SavedAndRenamed) {
                return 1;
            }
        }
    } else if (mode == QStringLiteral("tag2name")) {
        int ajfan = 0;
        if (fileops::cmdTag2Filnamn_Click(fs, boxes, katalog, rows, all, ajfan).size() !=
            rows.size()) {
            return 1;
        }
    } else {
        return 2;
    }
    say('D');
    return boxes.shown == 0 ? 0 : 1;
}
