#pragma once

#include "browse/scan.h"
#include "platform/desktop.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QString>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

/// The file operations of the main window: rename, tag to file name, delete and play. Each takes
/// the folder on show (`katalog`, ending in the separator), the rows it needs and the platform
/// services, leaves its messages for the window to show, and tells the window what to change in the
/// list.
namespace sorvel::fileops {

/// The message shown when a rename fails with `failure`: 52, 58 and 75 have
/// their own; any other code is told by its number.
platform::Message renameMessage(Code failure);

/// `Byt_Filnamn`: renames katalog + gammalt (the old file's name with its ending as listed,
/// browse::fileName()) to katalog + nytt + ".mp3", never replacing anything. On failure leaves
/// renameMessage() in `messages`. Returns whether the file was renamed.
bool Byt_Filnamn(platform::FileSystem& fs, const QString& katalog, const QString& gammalt,
                 const QString& nytt, platform::Messages& messages);

/// The base name a row's tag gives: artist + " - " + title, or the one that is not empty alone,
/// each as the list shows it (up to a first NUL), with " \ / : * ? < > | deleted. Nothing when
/// both are empty.
std::optional<QString> nameFromTag(const QString& artist, const QString& title);

/// `cmdTag2Filnamn_Click`: for each selected row, in list order, renames its file to
/// nameFromTag() of the row (rows without one are skipped), and gives the row its new name on
/// success. A failed rename leaves its message and the run goes on with the next row.
/// `selected` runs parallel to `rows` (missing entries are not selected). Returns the indexes
/// of the rows renamed; `refused`, when given, gets the index and failure code of each row whose
/// rename failed, in the order of their messages.
std::vector<std::size_t> cmdTag2Filnamn_Click(
    platform::FileSystem& fs, const QString& katalog, std::vector<browse::Row>& rows,
    const std::vector<bool>& selected, platform::Messages& messages,
    std::vector<std::pair<std::size_t, Code>>* refused = nullptr);

/// What the window does to its list after a delete.
enum class DeleteOutcome {
    Nothing,    ///< the file is still there, and so is its row
    RemoveRow,  ///< the file is gone: remove the current row
    Rescan,     ///< the list may be stale: rescan the folder (`Dir1_Change`)
};

/// `mnuHogerRadera_Click`: deletes the current row's file. With `ingenpapperskorg` = 1 for good,
/// after the question "Bekräfta borttagning av fil" (Cancel: Nothing); a missing file says
/// "Filen hittades inte." and any failure asks for a rescan. Otherwise through Recycle().
/// Without a current row: Rescan.
DeleteOutcome mnuHogerRadera_Click(platform::FileSystem& fs, platform::MessageBoxes& asker,
                                   platform::Trash& trash, const QString& katalog,
                                   const browse::Row* current, int ingenpapperskorg,
                                   platform::Messages& messages);

/// `Recycle`: moves the file at the path `FileName` to the trash.
/// RemoveRow on success; on failure "Det gick inte att radera filen." and Nothing.
DeleteOutcome Recycle(platform::Trash& trash, const QString& FileName,
                      platform::Messages& messages);

/// `ListView1_DblClick` (and `mnuHogerSpela_Click`): opens the current row's file, by its
/// absolute path, with the desktop's program for it, without waiting. Nothing without a current
/// row; "Filen hittades inte." for a file that is gone; "Det gick inte att spela upp filen." when
/// the open command cannot be started.
void ListView1_DblClick(platform::FileSystem& fs, platform::Opener& opener, const QString& katalog,
                        const browse::Row* current, platform::Messages& messages);

}  // namespace sorvel::fileops
