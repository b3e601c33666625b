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
#include "app/folder.h"
#include "app/settings.h"
#include "platform/drives_posix.h"
#include "support/fake_desktop.h"
#include "support/recorder.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>

using namespace sorvel;

namespace {

void say(char c) {
    // Unbuffered: a kill right after must not swallow it.
    if (::write(STDOUT_FILENO, &c, 1) != 1)
        std::_Exit(3);
}

// Runs the command; false when it reports a failure.
bool run(const QString& mode, const QString& where, int saves) {
    platform::PosixFileSystem fs;
    test::FakeMessageBoxes boxes;  // answers OK to the rename question
    if (mode == QStringLiteral("settings")) {
        say('R');
        for (int i = 1; i <= saves; ++i) {
            if (app::saveSettings(where, {QStringLiteral("/musik/%1").arg(i), 0, 1500, 3000, 12000,
                                          8250, i % 4 + 1}) != code::kOk)
                return false;
        }
        return true;
    }
    test::FakeOpener opener;
    platform::PosixDrives drives;
    test::FakeTrash trash;
    app::Folder folder({fs, boxes, opener, drives, trash});
    test::Recorder status;
    app::Outcome outcome = folder.list(where, status);
    if (outcome.failed)
        return false;
    const std::vector<bool> all(folder.size(), true);
    say('R');
    if (mode == QStringLiteral("write")) {
        write::EditorValues editor;
        editor.artist = QStringLiteral("Nytt namn");
        outcome = folder.writeField(write::Typ::Artist, all, editor, status);
    } else if (mode == QStringLiteral("spara")) {
        for (std::size_t r = 0; r < folder.size() && outcome.messages.empty(); ++r) {
            const browse::Row row = folder.row(r);
            const write::EditorValues editor{QStringLiteral("Ny artist"),
                                             row.title,
                                             row.album,
                                             row.year,
                                             row.genre,
                                             row.comment};
            const QString renamed = browse::shownName(row) + QStringLiteral(" ny");
            outcome = folder.save(r, editor, renamed);
            if (browse::shownName(folder.row(r)) != renamed)
                return false;
        }
    } else if (mode == QStringLiteral("tag2name")) {
        outcome = folder.namesFromTags(all);
    } else {
        return false;
    }
    // Only the rename question may be asked; anything else said is a failure.
    for (const auto& shown : boxes.shown) {
        if (shown.title != QStringLiteral("Ändra filnamn?"))
            outcome.messages.push_back({shown.title, shown.text});
    }
    for (const platform::Message& m : outcome.messages)
        return std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text)), false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s write|spara|tag2name FOLDER | settings INI N\n", argv[0]);
        return 2;
    }
    if (!run(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
             argc > 3 ? std::atoi(argv[3]) : 1))
        return 1;
    say('D');
    return 0;
}
