#include "write/spara.h"

#include "fileops/fileops.h"
#include "platform/names.h"
#include "tag/tag.h"
#include "write/engine.h"
#include "write/journal.h"

namespace sorvel::write {
namespace {

using Boxes = platform::MessageBoxes;

platform::Message readOnly() {
    return platform::error(QStringLiteral("Filen är skrivskyddad!"));
}

// A file the system would not rename is as good as read-only to the user; a reserved device name
// is the name's fault, and the rename procedure's message says so.
platform::Message renameFailure(Code c) {
    return c == code::kAccess ? readOnly() : fileops::renameMessage(c);
}

}  // namespace

SaveOutcome cmdSpara_Click(platform::FileSystem& fs, platform::MessageBoxes& asker,
                           const QString& katalog, browse::Row& row, const EditorValues& editor,
                           const QString& txtFilnamn, platform::Messages& messages,
                           Command* record) {
    browse::Row updated = row;
    updated.artist = storedFor(editor.artist, row.artist);
    updated.title = storedFor(editor.title, row.title);
    updated.album = storedFor(editor.album, row.album);
    updated.year = storedFor(editor.year, row.year);
    updated.genre = editor.genre;
    updated.comment = storedFor(editor.comment, row.comment);
    // The texts that read as before keep their bytes anyway; the genre byte is written only when
    // the chooser was changed, so that one the table does not name survives a save.
    tag::Fields fields = tag::field::kAll & ~(tag::field::kGenre | tag::field::kTrack);
    if (editor.genre != row.genre)
        fields |= tag::field::kGenre;

    const QString shown = browse::shownName(row);
    const QString file = browse::fileName(row);
    tag::Replaced replaced;
    tag::Check check{row.print, {}, {}};
    if (const Code c =
            tag::skriv_tag(fs, katalog + file, recordFor(updated), fields, &replaced, &check);
        c != code::kOk) {
        if (c == code::kChangedOnDisk) {
            browse::setTagColumns(row, std::move(check.found));
            row.print = check.now;
            addFailures(messages, {{platform::mp3Name(shown), c}});
            return SaveOutcome::Refreshed;
        }
        if (check.unconfirmed) {
            // The row keeps its texts, but must be read again before the file is written.
            row.print = check.now;
            addFailures(messages, {{platform::mp3Name(shown), c, 0, true}});
            return SaveOutcome::Refreshed;
        }
        if (c == code::kAccess) {
            messages.push_back(readOnly());
        } else {
            addFailures(messages, {{platform::mp3Name(shown), c}});
        }
        return SaveOutcome::NotSaved;
    }
    // As a listing will read the file.
    browse::setTagColumns(updated, tag::parseTrailer(replaced.newTrailer));
    updated.print = check.now;
    if (record != nullptr)
        recordWrite(*record, file, file, replaced);

    SaveOutcome outcome = SaveOutcome::Saved;
    if (txtFilnamn != shown) {
        const Boxes::Answer answer = asker.show(
            QStringLiteral("Ändra filnamn?"),
            QStringLiteral("Vill du ändra filnamnet från ") + platform::mp3Name(shown) +
                QStringLiteral(" till ") + platform::mp3Name(txtFilnamn) + QStringLiteral(" ?"),
            Boxes::Icon::None, Boxes::Buttons::OkCancel);
        if (answer == Boxes::Answer::Ok) {
            if (const Code c = platform::renameMp3(fs, katalog, file, txtFilnamn); c != code::kOk) {
                messages.push_back(renameFailure(c));
            } else {
                const QString renamed = platform::mp3Name(txtFilnamn);
                if (record != nullptr)
                    recordRename(fs, *record, katalog, file, renamed);
                browse::setFileName(updated, renamed);
                outcome = SaveOutcome::SavedAndRenamed;
            }
        }
    }
    // The file holds the new tag whatever became of the rename; a row left behind would feed
    // its old texts into the next field command.
    row = std::move(updated);
    return outcome;
}

}  // namespace sorvel::write
