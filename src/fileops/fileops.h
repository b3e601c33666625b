#pragma once

#include "browse/scan.h"
#include "platform/desktop.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QString>
#include <cstddef>
#include <optional>
#include <vector>

/// The file operations of the main window: rename, tag to file name, delete and play. Each takes
/// the folder on show (`katalog`, ending in the separator), the rows it needs and the platform
/// services, shows its own messages, and tells the window what to change in the list.
namespace sorvel::fileops {

/// A message of the program's: title and text.
struct Message {
    QString title;
    QString text;
    friend bool operator==(const Message&, const Message&) = default;
};

/// The message shown (critical icon, OK) when a rename fails with `failure`: 52, 58 and 75 have
/// their own; any other code is told by its number.
Message renameMessage(Code failure);

/// `Byt_Filnamn`: renames katalog + gammalt (the old file's name with its ending as listed,
/// browse::fileName()) to katalog + nytt + ".mp3", never replacing anything. On failure shows
/// renameMessage() and sets `ajfan` to 1; on success leaves `ajfan` alone. Returns whether the
/// file was renamed; a caller that passed klick = 1 then puts the text of txtFilnamn into the
/// current row.
bool Byt_Filnamn(platform::FileSystem& fs, platform::MessageBoxes& boxes, const QString& katalog,
                 const QString& gammalt, const QString& nytt, int& ajfan);

/// The base name a row's tag gives: artist + " - " + title, or the one that is not empty alone,
/// each as the list shows it (up to a first NUL), with " \ / : * ? < > | deleted. Nothing when
/// both are empty.
std::optional<QString> nameFromTag(const QString& artist, const QString& title);

/// `cmdTag2Filnamn_Click`: for each selected row, in list order, renames its file to
/// nameFromTag() of the row (rows without one are skipped), clearing `ajfan` around each rename,
/// and gives the row its new name on success. A failed rename shows its message and the run goes
/// on with the next row. `selected` runs parallel to `rows` (missing entries are not selected).
/// Returns the indexes of the rows renamed.
std::vector<std::size_t> cmdTag2Filnamn_Click(platform::FileSystem& fs,
                                              platform::MessageBoxes& boxes, const QString& katalog,
                                              std::vector<browse::Row>& rows,
                                              const std::vector<bool>& selected, int& ajfan);

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
DeleteOutcome mnuHogerRadera_Click(platform::FileSystem& fs, platform::MessageBoxes& boxes,
                                   platform::Trash& trash, const QString& katalog,
                                   const browse::Row* current, int ingenpapperskorg);

/// `Recycle`: moves the file at the path `FileName` to the trash.
/// RemoveRow on success; on failure "Det gick inte att radera filen." and Nothing.
DeleteOutcome Recycle(platform::MessageBoxes& boxes, platform::Trash& trash,
                      const QString& FileName);

/// `ListView1_DblClick` (and `mnuHogerSpela_Click`): opens the current row's file, by its
/// absolute path, with the desktop's program for it, without waiting. Nothing without a current
/// row; "Filen hittades inte." for a file that is gone; "Det gick inte att spela upp filen." when
/// the open command cannot be started.
void ListView1_DblClick(platform::FileSystem& fs, platform::MessageBoxes& boxes,
                        platform::Opener& opener, const QString& katalog,
                        const browse::Row* current);

}  // namespace sorvel::fileops
