#pragma once

#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sorvel::tag {

inline constexpr std::size_t kTrailerSize = 128;
/// A file shorter than this never counts as having a trailer, even when its last 128 bytes would
/// form one; reader and writer agree on it.
inline constexpr std::uint64_t kMinTaggedSize = 130;
/// The most that is ever read: the trailer and the three bytes before it, where an APEv2 header
/// that hides it would begin (see hasTrailer()).
inline constexpr std::size_t kTailSize = 131;
inline constexpr qsizetype kTextWidth = 30;
inline constexpr qsizetype kYearWidth = 4;
/// The genre byte written for no genre.
inline constexpr int kNoGenreByte = 255;

/// One ID3v1 tag. Texts hold one character per byte of the trailer (Windows-1252), trimmed of
/// leading and trailing spaces only; NUL bytes written by other programs stay part of the text.
/// A text stored as UTF-8 is held so too; utf8Reading() gives what it says.
struct TagRecord {
    QString title;
    QString artist;
    QString album;
    QString year;
    QString comment;
    /// From a read: 1..115, or -1 for no genre. For a write: the byte to store, 0..255; -1 means
    /// no genre and is stored as 255.
    int genre = -1;

    friend bool operator==(const TagRecord&, const TagRecord&) = default;
};

using Trailer = std::array<std::byte, kTrailerSize>;

/// Whether the last bytes of a file of `fileSize` bytes hold a trailer. `tail` is the file's last
/// min(fileSize, 131) bytes. An APEv2 header that begins 131 bytes from the end puts the "TAG" of
/// its "APETAGEX" where the trailer's marker would be; such a file has no ID3v1 trailer. Any other
/// bytes before the marker, "APE" alone included, leave the trailer a trailer.
bool hasTrailer(std::span<const std::byte> tail, std::uint64_t fileSize);

/// Reads the fields of a trailer whose marker has been checked.
TagRecord parseTrailer(std::span<const std::byte, kTrailerSize> trailer);

/// Lays a record out as a trailer, each text padded with spaces to its width. Fails when a text
/// is longer than its width or holds a character that Windows-1252 cannot hold.
std::optional<Trailer> renderTrailer(const TagRecord& tag);

/// Reads the trailer of the file at `path`: the record, or nothing when the file has no trailer or
/// cannot be opened or read.
std::optional<TagRecord> las_tag(platform::FileSystem& fs, const QString& path);

/// What las_tag() makes of a file's end, read with FileSystem::readTails() for kTailSize bytes
/// and files of kMinTaggedSize bytes or more.
std::optional<TagRecord> tagOfTail(const platform::FileTail& tail);

/// What a file's end held when it was read: its length and a hash of the last bytes that
/// hasTrailer() looks at. Enough to tell that another program (or another window) changed the file
/// since, at no cost beyond the read a writer makes anyway.
struct Fingerprint {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;  ///< 0: not known, and nothing is checked against it

    bool known() const { return hash != 0; }
    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

/// The fingerprint of a file of `fileSize` bytes that ends in `tail` (its last bytes, as many as
/// were read; only the last kTailSize count, and none for a file shorter than kMinTaggedSize).
Fingerprint fingerprintOf(std::span<const std::byte> tail, std::uint64_t fileSize);

/// The fingerprint of a file that could not be read: it matches no file, so that a writer looks
/// at the file again before it writes anything taken from such a row.
inline constexpr Fingerprint kUnreadable{~std::uint64_t{0}, 1};

/// The answer of a writer for a file that no longer holds what its caller read from it: nothing
/// was written.
inline constexpr Code kChangedOnDisk = -2;

/// The check a writer makes, on the bytes it reads before it writes, that the file still holds
/// what the caller's copy of its fields was read from.
struct Check {
    Fingerprint expected;  ///< in: what the caller read; not known checks nothing
    /// out: the file's fingerprint after a write, or as found when it changed (kChangedOnDisk)
    Fingerprint now;
    /// out, with kChangedOnDisk: the tag the file holds now, or none
    std::optional<TagRecord> found;
};

/// What skriv_tag() writes for a record without genre.
enum class NoGenre {
    Write255,      ///< always 255
    KeepFileByte,  ///< the file's own genre byte when it already reads as no genre (0, 116..255)
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

/// Writes `tag` as the trailer of the existing file at `path`: over the old trailer when there is
/// one, else appended. Only those 128 bytes change; a write that fails part-way puts the file back
/// as it was, and one the file system refuses only when the file is closed (NFS) is reported too.
/// Never creates a file. Answers code::kBadArgument for a record renderTrailer() refuses,
/// kChangedOnDisk when `check` expects other bytes than the file holds, and the file-system code
/// of any other failure. `replaced`, when given, is filled on success only.
Code skriv_tag(platform::FileSystem& fs, const QString& path, const TagRecord& tag,
               NoGenre noGenre = NoGenre::Write255, Replaced* replaced = nullptr,
               Check* check = nullptr);

/// One file of skriv_tags().
struct WriteJob {
    QString name;  ///< the file's name in the folder
    TagRecord tag;
    NoGenre noGenre = NoGenre::Write255;
    Code result = code::kOk;  ///< the answer skriv_tag() gives
    Replaced replaced;        ///< filled when `result` is code::kOk
    Check check;              ///< as skriv_tag() takes and fills it
};

/// skriv_tag() into the files `katalog` + name of each job, with the same answers and the same
/// bytes written, but with many files in flight at a time where the file system keeps them so:
/// they are opened and read together, written together and closed together. `katalog` ends in
/// the separator.
void skriv_tags(platform::FileSystem& fs, const QString& katalog, std::span<WriteJob> jobs);

}  // namespace sorvel::tag
