#pragma once

// The trailer codec put to work on files: reading a file's trailer and writing one into it.

#include "platform/errors.h"
#include "platform/filesystem.h"
#include "tag/trailer.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace sorvel::tag {

/// Reads the trailer of the file at `path`: the record, or nothing when the file has no trailer or
/// cannot be opened or read.
std::optional<TagRecord> las_tag(platform::FileSystem& fs, const QString& path);

/// What las_tag() makes of a file's end, read with FileSystem::readTails() for kTailSize bytes
/// and files of kMinTaggedSize bytes or more.
std::optional<TagRecord> tagOfTail(const platform::FileTail& tail);

/// A writer answers code::kChangedOnDisk for a file that no longer holds what its caller read
/// from it: nothing was written.

/// The check a writer makes, on the bytes it reads before it writes, that the file still holds
/// what the caller's copy of its fields was read from.
struct Check {
    Fingerprint expected;  ///< in: what the caller read; not known checks nothing
    /// out: the file's fingerprint after a write, or as found when it changed (kChangedOnDisk)
    Fingerprint now;
    /// out, with kChangedOnDisk: the tag the file holds now, or none
    std::optional<TagRecord> found;
    /// out: the trailer was written, but the file system refused it at the close (a network or
    /// FUSE file system gone): whether the file holds it is not known, and `now` is kUnreadable.
    bool unconfirmed = false;
};

/// What a successful skriv_tag() replaced and what it left, for a caller that may want to put the
/// file back: the old length and trailer (or none, when the trailer was appended), and the new.
struct Replaced {
    std::uint64_t oldLength = 0;
    bool hadTrailer = false;
    Trailer oldTrailer{};
    Trailer newTrailer{};
    std::uint64_t newLength = 0;
    Fingerprint oldPrint;  ///< the file's fingerprint before the write
};

/// Writes `tag` as the trailer of the existing file at `path`: its `fields` over the old trailer
/// when there is one (see placeTrailer()), else the whole record appended. Only those 128 bytes
/// change; a write that fails part-way puts the file back as it was, and one the file system
/// refuses only when the file is closed (NFS) is reported too. Never creates a file. Answers
/// code::kBadArgument for a record renderTrailer() refuses (before the file is opened) or
/// placeTrailer() refuses for this file's end, kChangedOnDisk when `check` expects other bytes than
/// the file holds, and the file-system code of any other failure. `replaced`, when given, is filled
/// on success only.
Code skriv_tag(platform::FileSystem& fs, const QString& path, const TagRecord& tag,
               Fields fields = field::kAll, Replaced* replaced = nullptr, Check* check = nullptr);

/// One file of skriv_tags().
struct WriteJob {
    QString name;  ///< the file's name in the folder
    TagRecord tag;
    Fields fields = field::kAll;  ///< what of `tag` goes into a trailer the file has
    Code result = code::kOk;      ///< the answer skriv_tag() gives
    Replaced replaced;            ///< filled when `result` is code::kOk
    Check check;                  ///< as skriv_tag() takes and fills it
    /// For a file whose tag the caller never read: makes the record from the tag the writer finds
    /// in the file (none for a file without one), read under its lock, in place of `tag`.
    std::function<TagRecord(const std::optional<TagRecord>& found)> replan;
};

/// Files a batch write hands to the file system at a time: enough to keep a slow medium busy, few
/// enough that the progress moves on smoothly and the descriptors they hold (each from its open to
/// its close) stay well within a process's share.
inline constexpr std::size_t kBatch = 128;

/// What writeBatch() asks of its caller, each step by the file's position among the names.
struct BatchSteps {
    using Write = platform::FileSystem::Write;
    /// Decides on the file's end, read through the descriptor that writes (`write.fd`): code::kOk
    /// with the bytes to write and where in `write` (none for a file the step changed itself),
    /// or why the file is left. `tail.code` is not code::kOk for a file that could not be opened
    /// or read, which has no descriptor.
    std::function<Code(std::size_t k, const platform::FileTail& tail, Write& write)> plan;
    /// Puts the file back after its write failed part-way.
    std::function<void(std::size_t k, const Write& write)> rollBack;
    /// Learns the answer of the close of a file its plan passed and its write did not fail;
    /// may be left empty.
    std::function<void(std::size_t k, const platform::FileTail& tail, Code closed)> closed;
    /// Does one file's work alone: for a file refused for want of descriptors, once the batch has
    /// given its own back.
    std::function<Code(std::size_t k)> alone;
};

/// The one protocol of every batch write, tags written and tags put back: opens `katalog` + each
/// of `names` (at most kBatch) for writing and reads its last `tailBytes`, plans each file, makes
/// every write together, rolls back each that failed, then closes all together, since a file
/// system may refuse what was written only at the close (NFS). `codes` gets each file's answer
/// at its position.
void writeBatch(platform::FileSystem& fs, const QString& katalog, std::span<const QString> names,
                std::size_t tailBytes, const BatchSteps& steps, std::vector<Code>& codes);

/// skriv_tag() into the files `katalog` + name of each job, with the same answers and the same
/// bytes written, but with many files in flight at a time where the file system keeps them so:
/// they are opened and read together, written together and closed together. `katalog` ends in
/// the separator.
void skriv_tags(platform::FileSystem& fs, const QString& katalog, std::span<WriteJob> jobs);

}  // namespace sorvel::tag
