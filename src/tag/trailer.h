#pragma once

// The trailer on its own: the last bytes of a file in, a record or the bytes to write out. Nothing
// here opens a file, so that every rule of the layout can be read and tested on buffers; tag.h
// puts it to work on files.

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace sorvel::tag {

inline constexpr std::size_t kTrailerSize = 128;
/// A file shorter than this never counts as having a trailer, even when its last 128 bytes would
/// form one; reader and writer agree on it.
inline constexpr std::uint64_t kMinTaggedSize = 130;
/// The most that is ever looked at: the trailer and the three bytes before it, where an APEv2
/// header that hides it would begin (see hasTrailer()).
inline constexpr std::size_t kTailSize = 131;
inline constexpr qsizetype kTextWidth = 30;
inline constexpr qsizetype kYearWidth = 4;
/// The genre byte written for no genre.
inline constexpr int kNoGenreByte = 255;

/// Where each part lies in the trailer.
inline constexpr std::size_t kTitleAt = 3;
inline constexpr std::size_t kArtistAt = 33;
inline constexpr std::size_t kAlbumAt = 63;
inline constexpr std::size_t kYearAt = 93;
inline constexpr std::size_t kCommentAt = 97;
inline constexpr std::size_t kGenreAt = 127;

/// One ID3v1 tag. Texts hold one character per byte of the trailer (Windows-1252), trimmed of
/// leading and trailing spaces only; NUL bytes written by other programs stay part of the text.
/// A text stored as UTF-8 is held so too; utf8Reading() gives what it says.
struct TagRecord {
    QString title;
    QString artist;
    QString album;
    QString year;
    /// Without the track's two bytes when the trailer holds a track (ID3v1.1).
    QString comment;
    /// From a read: 0..115, or -1 for no genre. For a write: the byte to store, 0..255; -1 means
    /// no genre and is stored as 255.
    int genre = -1;
    /// The ID3v1.1 track number, 1..255; 0 for none.
    int track = 0;

    friend bool operator==(const TagRecord&, const TagRecord&) = default;
};

/// Which parts of a record a write puts into a trailer the file already has; every other byte of
/// that trailer stays as it is. A new trailer is written whole.
using Fields = unsigned;
namespace field {
inline constexpr Fields kTitle = 1U << 0U;
inline constexpr Fields kArtist = 1U << 1U;
inline constexpr Fields kAlbum = 1U << 2U;
inline constexpr Fields kYear = 1U << 3U;
inline constexpr Fields kComment = 1U << 4U;
inline constexpr Fields kGenre = 1U << 5U;
inline constexpr Fields kTrack = 1U << 6U;
inline constexpr Fields kAll = (1U << 7U) - 1;
}  // namespace field

/// A text field of the record and its place in the trailer.
struct TextField {
    QString TagRecord::*text;
    std::size_t at;
    qsizetype width;
    Fields bit;
};
/// The five text fields in trailer order.
inline constexpr std::array<TextField, 5> kTextFields{{
    {&TagRecord::title, kTitleAt, kTextWidth, field::kTitle},
    {&TagRecord::artist, kArtistAt, kTextWidth, field::kArtist},
    {&TagRecord::album, kAlbumAt, kTextWidth, field::kAlbum},
    {&TagRecord::year, kYearAt, kYearWidth, field::kYear},
    {&TagRecord::comment, kCommentAt, kTextWidth, field::kComment},
}};

/// The comment's width beside a track: the track takes its last two bytes, a NUL and the number.
inline constexpr qsizetype kCommentWidthWithTrack = kTextWidth - 2;
inline constexpr std::size_t kTrackAt = kCommentAt + kCommentWidthWithTrack + 1;

using Trailer = std::array<std::byte, kTrailerSize>;

/// Whether the last bytes of a file of `fileSize` bytes hold a trailer. `tail` is the file's last
/// min(fileSize, 131) bytes. An APEv2 header that begins 131 bytes from the end puts the "TAG" of
/// its "APETAGEX" where the trailer's marker would be; such a file has no ID3v1 trailer. Any other
/// bytes before the marker, "APE" alone included, leave the trailer a trailer.
bool hasTrailer(std::span<const std::byte> tail, std::uint64_t fileSize);

/// Reads the fields of a trailer whose marker has been checked.
TagRecord parseTrailer(std::span<const std::byte, kTrailerSize> trailer);

/// The record of a file's end (as for hasTrailer()), or nothing when it has no trailer.
std::optional<TagRecord> readTrailer(std::span<const std::byte> tail, std::uint64_t fileSize);

/// Lays a record out as a trailer, each text padded with spaces to its width; a track goes into
/// the comment's last two bytes when the comment leaves them free. Fails when a text is longer
/// than its width or holds a character that Windows-1252 cannot hold, or the genre or track is
/// out of range.
std::optional<Trailer> renderTrailer(const TagRecord& tag);

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

/// Where and what a write of a record puts into a file, decided from the file's end alone.
struct Placement {
    Trailer out{};           ///< the bytes to write
    bool overwrite = false;  ///< over the file's trailer; else appended at its end
    Trailer old{};           ///< the trailer written over, when `overwrite`
    std::uint64_t size = 0;  ///< the file's length before
    Fingerprint after;       ///< the file's fingerprint once `out` is written

    std::uint64_t offset() const { return overwrite ? size - kTrailerSize : size; }
    std::uint64_t newLength() const { return offset() + kTrailerSize; }
};

/// Decides how `tag` is written into a file of `fileSize` bytes whose last min(fileSize, 131)
/// bytes are `tail`: over its trailer when hasTrailer() finds one, else appended. Over a trailer,
/// only the `fields` are written, and of those only the ones whose text reads otherwise than the
/// record's: other programs' bytes (a leading blank, NUL padding, a genre the table does not name)
/// stay. A comment of at most 28 characters keeps the file's track, a longer one takes its bytes.
/// Nothing when renderTrailer() refuses the record, or when its title would spell an APEv2 header
/// with the bytes before it and has no room for the blank that keeps it from doing so.
std::optional<Placement> placeTrailer(std::span<const std::byte> tail, std::uint64_t fileSize,
                                      const TagRecord& tag, Fields fields = field::kAll);

}  // namespace sorvel::tag
