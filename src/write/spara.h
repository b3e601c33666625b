#pragma once

// "&Spara tag": the whole tag of the editor into the current row's file, and its new name.
//
// The rename question is asked through the MessageBoxes handed in; the failures are left in
// `messages` for the caller to show. The row is updated in place unless the answer is NotSaved.

#include "browse/scan.h"
#include "platform/desktop.h"
#include "platform/filesystem.h"
#include "write/editor.h"
#include "write/engine.h"

#include <QString>

namespace sorvel::write {

enum class SaveOutcome {
    NotSaved,  ///< the tag could not be written; file and row are as they were
    /// another program changed the file since the row was read: nothing is written, and the row
    /// now shows what the file holds
    Refreshed,
    Saved,            ///< the tag is written; the name is unchanged (not asked, Cancel, or failed)
    SavedAndRenamed,  ///< the tag is written and the file has the name of txtFilnamn
};

/// Writes the editor's tag to the row's file (fileName()). A text field that still shows the
/// row's text (shownText()) is written as the row stores it, byte for byte (UTF-8 and NUL bytes
/// included); a changed one in Windows-1252, padded with blanks. A genre left as the row has it
/// keeps a no-genre byte of the file's own. When `txtFilnamn` differs from the row's name (case
/// counts; the name as shownName() gives it), asks whether to rename and on OK renames without
/// ever replacing a file. A file that no longer holds what the row was read from is not written:
/// the row is refreshed from it and the failure list names it. The row's tag
/// columns follow what was written, its name the rename. A file that cannot be written shows "Filen
/// är skrivskyddad!" for an access failure and the failure list otherwise; a failed rename shows
/// the rename procedure's message for its code, and "Filen är skrivskyddad!" when the file system
/// refused the access. `record`, when given, gets what the write and the rename replaced.
SaveOutcome cmdSpara_Click(platform::FileSystem& fs, platform::MessageBoxes& asker,
                           const QString& katalog, browse::Row& row, const EditorValues& editor,
                           const QString& txtFilnamn, platform::Messages& messages,
                           Command* record = nullptr);

}  // namespace sorvel::write
