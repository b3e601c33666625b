#pragma once

// The folder on show and every command on it, apart from any window: the rows and their order,
// the undo journal, the split of file names, the delete mode and the rename failure flag. A
// command takes plain values (the editor's texts, the selection), asks its questions through
// MessageBoxes, reports status and progress to an observer, tells a RowListener how the rows
// change while they change, and returns what the window is left to do.

#include "browse/scan.h"
#include "core/row_order.h"
#include "platform/desktop.h"
#include "platform/filesystem.h"
#include "write/editor.h"
#include "write/engine.h"
#include "write/journal.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace sorvel::core {

/// What a command leaves for the window.
struct Outcome {
    /// Shown one after the other once the command is done.
    platform::Messages messages;
    /// What the editor shows is in the files now: its fields can no longer take typing back.
    bool typingWritten = false;
    /// The rows may no longer be what the folder holds: list it again.
    bool listAgain = false;
    /// The command could not do what it was asked (a listing: the folder could not be read).
    bool failed = false;
    /// The selected files a command left as they were, in list order, each with its row and its
    /// reason. A rename failure's message is the one at the same place among the messages.
    std::vector<write::Failure> notHandled;
    /// Selected files the command had nothing for (an import: no ID3v2 or APEv2 tag).
    std::size_t nothingToWrite = 0;
};

/// Hears of the rows' changes, as a list model must: before and after each.
class RowListener {
public:
    virtual ~RowListener() = default;
    virtual void rowsAboutToBeReplaced() = 0;
    virtual void rowsReplaced() = 0;
    /// The rows `first` to `last` (both included) are changed in place.
    virtual void rowsChanged(std::size_t first, std::size_t last) = 0;
    virtual void rowAboutToBeRemoved(std::size_t row) = 0;
    virtual void rowRemoved() = 0;
    virtual void rowsAboutToMove() = 0;
    /// `newPlace[old]` is where the row that stood at `old` stands now.
    virtual void rowsMoved(const std::vector<int>& newPlace) = 0;
};

/// Where a delete sends a file.
enum class DeleteMode { ToTrash, ForGood };

/// The delete mode of a Delete press with the modifier state `shift` (Shift 1, Ctrl 2, Alt 4):
/// Shift alone deletes for good, anything else sends to the trash.
inline DeleteMode deleteModeFor(int shift) {
    return shift == 1 ? DeleteMode::ForGood : DeleteMode::ToTrash;
}

/// The folder on show.
class Folder {
public:
    /// The platform services the commands work through; they outlive the folder.
    struct Services {
        platform::FileSystem& fs;
        platform::MessageBoxes& asker;
        platform::Opener& opener;
        platform::Drives& drives;
        platform::Trash& trash;
    };
    /// Which rows a command acts on: one flag per row, in list order.
    using Selection = std::vector<bool>;

    explicit Folder(Services services);

    void setListener(RowListener* listener) { listener_ = listener; }
    /// Whether the field commands and the import remember what they wrote, for undo: a front end
    /// without undo saves the copies (many, for a large folder).
    void setUndoable(bool undoable) { undoable_ = undoable; }
    /// The folder listed last, ending in the separator; empty before the first listing.
    const QString& katalog() const { return katalog_; }
    /// The root of the drive that holds it, as the drives named it when it was listed.
    const QString& driveRoot() const { return driveRoot_; }
    const std::vector<browse::Row>& rows() const { return rows_; }
    const browse::Row& row(std::size_t r) const { return rows_[r]; }
    std::size_t size() const { return rows_.size(); }
    const RowOrder& order() const { return order_; }

    /// Lists the MP3 files of `folder` (`Dir1_Change`), in the order last chosen. Another folder
    /// than the one on show forgets what undo remembers. A drive that cannot be reached is asked
    /// about, and tried again for as long as the user asks to.
    Outcome list(const QString& folder, browse::StatusObserver& observer);
    /// Lists `folder` as list() does, but hands each row to `each` as it is read and keeps none:
    /// for a front end that shows every row once, so that a large folder never sits in memory.
    Outcome list(const QString& folder, browse::StatusObserver& observer,
                 const std::function<void(browse::Row&&)>& each);
    /// The folder listed last on the drive of `root`, or nothing.
    std::optional<QString> lastFolderOn(const QString& root) const;
    /// Asks whether to try the drive of `root` again: true when the user asks to.
    bool retryDrive(const QString& root);
    /// Goes to the drive the user chose (`Drive1_Change`): to its folder of last time, or to its
    /// root when that has gone, each shown through `show` (which answers as a listing does). A
    /// drive that does not answer is asked about and tried again for as long as the user asks to.
    /// code::kOk once a folder is shown; code::kDeviceUnavailable when the user gave up.
    Code chooseDrive(const platform::Drives::Drive& drive,
                     const std::function<Code(const QString& folder)>& show);

    /// Sorts by `column` (0 to 6), the other way round from last time (`ListView1_ColumnClick`).
    void sortBy(int column);

    /// Writes field `typ` into every selected row's file (`spara_tag`).
    Outcome writeField(write::Typ typ, const Selection& selected, const write::EditorValues& editor,
                       browse::StatusObserver& observer) {
        return writeFields(std::span(&typ, 1), selected, editor, observer);
    }
    /// Writes the fields `typs` into every selected row's file, each file once; undone as one.
    Outcome writeFields(std::span<const write::Typ> typs, const Selection& selected,
                        const write::EditorValues& editor, browse::StatusObserver& observer);
    /// Fills the trailer of every selected file from its ID3v2 (else APEv2) tag.
    Outcome importOtherTags(const Selection& selected, browse::StatusObserver& observer);
    /// Writes the editor's whole tag into row `r`'s file and, when `newBase` differs from its
    /// name and the user agrees, renames it (`cmdSpara_Click`).
    Outcome save(std::size_t r, const write::EditorValues& editor, const QString& newBase);
    /// Takes back the newest command (`mnuAngra_Click`); the files it could not put back are
    /// named in `notHandled`, with their rows where the list shows them.
    Outcome undo(browse::StatusObserver& observer);
    /// What "&Ångra" takes back, as its menu names it; empty when there is nothing.
    QString undoText() const { return journal_.undoText(); }

    /// At which hyphen file names split into artist and title (`fil2tagNr`, 1 to 4).
    int split() const { return split_; }
    void setSplit(int fil2tagNr) { split_ = fil2tagNr; }
    /// Whether list() leaves each file's tag unread until a write reads it under its lock, for a
    /// front end that writes at once and shows no rows first: a file is then opened once.
    void setTagsReadByWriter(bool later) {
        tails_ = later ? browse::Tails::Unread : browse::Tails::Read;
    }
    /// Whether list() makes its rows only to be shown and let go, by a front end that writes
    /// nothing from them: they then carry no fingerprint (a write would read its file anew).
    void setRowsOnlyShown(bool shown) {
        tails_ = shown ? browse::Tails::Shown : browse::Tails::Read;
    }

    /// Renames row `r`'s file to `newBase` + ".mp3" (`cmdFilnamn_Click`).
    Outcome rename(std::size_t r, const QString& newBase);
    /// Names every selected file from its tag (`cmdTag2Filnamn_Click`).
    Outcome namesFromTags(const Selection& selected);
    /// Whether a rename() has failed since the folder was made or namesFromTags() last ran
    /// (`ajfan`): a rename that succeeds leaves it as it was.
    bool renameFailed() const { return renameFailed_; }

    /// How a delete goes (`ingenpapperskorg`), as the last Delete press chose it.
    DeleteMode deleteMode() const { return deleteMode_; }
    void setDeleteMode(DeleteMode mode) { deleteMode_ = mode; }
    /// Deletes row `r`'s file as the delete mode says (`mnuHogerRadera_Click`); with no row, the
    /// list is listed again.
    Outcome remove(std::optional<std::size_t> r);
    /// Opens row `r`'s file with the desktop's program for it (`ListView1_DblClick`).
    Outcome play(std::optional<std::size_t> r);

    /// Rows whose files a command may or may not have changed: a later write looks at each file
    /// again first, and refuses it if it is not what the row shows.
    void markUnread(std::span<const std::size_t> rows);

    /// What the second status panel says of row `r`: its ID3v2 (else APEv2) artist, title and
    /// album, marked when an import would change the trailer; empty when it has neither.
    QString otherTagText(std::size_t r) const;

private:
    void replaceRows(std::vector<browse::Row> rows);
    template <class Change>
    void changeRows(Change&& change);
    void changeRow(std::size_t r, browse::Row row);
    void removeRow(std::size_t r);

    Services s_;
    RowListener* listener_ = nullptr;
    QString katalog_;
    QString driveRoot_;
    std::vector<browse::Row> rows_;
    RowOrder order_;
    write::Journal journal_;
    // The folder last listed on each drive, by root: a drive change returns there.
    std::map<QString, QString> driveFolders_;
    int split_ = 0;
    browse::Tails tails_ = browse::Tails::Read;
    DeleteMode deleteMode_ = DeleteMode::ToTrash;
    bool undoable_ = true;
    bool renameFailed_ = false;
};

}  // namespace sorvel::core
