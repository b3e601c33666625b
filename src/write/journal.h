#pragma once

// What the writing commands replaced, so that "&Ångra" can put it back byte for byte.
//
// For the window: each covered command fills a Command (spara_tag() and cmdSpara_Click() take one,
// recordRename() adds a rename) and hands it to Journal::push(). Journal::undo() takes back the
// newest command over the list's rows, reporting as the writer does; addUndoFailures() names the
// files it left alone. Clear the journal when another folder is shown; a rescan of the same one
// keeps it, since undo checks every file before it touches it.

#include "browse/scan.h"
#include "platform/filesystem.h"
#include "tag/tag.h"
#include "write/engine.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sorvel::write {

/// The most commands kept, and the most bytes of records in all; the oldest go first.
inline constexpr std::size_t kMostCommands = 20;
inline constexpr std::size_t kMostJournalBytes = std::size_t{64} << 20;

/// One file a command changed: its file names (endings as they were) before and after, what its
/// tag write replaced, and what the command left, which undo checks before it touches the file.
struct FileChange {
    QString nameBefore;
    QString nameAfter;
    bool wrote = false;  ///< the trailer was written; otherwise only the name changed
    bool hadTrailer = false;
    std::uint64_t oldLength = 0;
    tag::Trailer oldTrailer{};
    tag::Fingerprint oldPrint;  ///< the file's fingerprint before the write
    /// The file as the command left it: its length and last min(length, 128) bytes.
    std::uint64_t newLength = 0;
    std::size_t newTailSize = 0;
    tag::Trailer newTail{};
};

struct Command {
    QString label;  ///< what the menu names, as "Artist" or "Spara tag"
    std::vector<FileChange> files;
};

/// The label of a field command.
QString commandLabel(Typ typ);

/// Adds a tag write that succeeded (and the rename that may have followed it).
void recordWrite(Command& command, const QString& before, const QString& after,
                 const tag::Replaced& replaced);

/// Adds the rename of katalog + before to katalog + after (file names), which has just succeeded,
/// with the file as it is now. A file that cannot be read now is not recorded (undo could not
/// check it).
void recordRename(platform::FileSystem& fs, Command& command, const QString& katalog,
                  const QString& before, const QString& after);

struct UndoResult {
    std::size_t restored = 0;
    std::vector<Failure> failures;  ///< in the command's order, named as the command left them
};

class Journal {
public:
    explicit Journal(std::size_t mostBytes = kMostJournalBytes) : mostBytes_(mostBytes) {}

    /// Keeps a command that changed something, dropping the oldest beyond the bounds.
    void push(Command command);
    void clear();
    bool empty() const { return commands_.empty(); }
    std::size_t size() const { return commands_.size(); }
    std::size_t bytes() const { return bytes_; }
    /// "Ångra: Artist till 500 filer" for the newest command; empty when there is none.
    QString undoText() const;

    /// Takes back the newest command and drops it. Each file is put back only when its length,
    /// last bytes and name are still what the command left; an appended trailer is cut off, a
    /// name put back through the rename that never replaces. A file changed since, gone,
    /// unwritable or whose old name is taken keeps its bytes and is named; the others are
    /// restored all the same. Rows found by the name the command left follow the file. Reports
    /// "Återställer " + name per file with progress, then "Klar".
    UndoResult undo(platform::FileSystem& fs, const QString& katalog,
                    std::vector<browse::Row>& rows, Observer& observer);

private:
    std::deque<Command> commands_;
    std::deque<std::size_t> sizes_;
    std::size_t bytes_ = 0;
    std::size_t mostBytes_;
};

/// The failure message of undo: the writer's, headed for files not restored.
void addUndoFailures(platform::Messages& messages, const std::vector<Failure>& failures);

}  // namespace sorvel::write
