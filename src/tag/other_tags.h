#pragma once

// The tags other programs put in an MP3 file beside the trailer: the ID3v2 tag at its start and
// the APEv2 tag before its end. Only ever read; Sorvel writes nothing but the trailer.

#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QString>
#include <cstddef>
#include <optional>
#include <span>

namespace sorvel::tag {

/// The fields of the trailer that another tag holds. A field the tag lacks, or holds as empty
/// text, is absent; present texts are whole, neither cut nor checked against Windows-1252.
struct OtherTag {
    enum class Kind { Id3v2, Ape };
    Kind kind = Kind::Id3v2;
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> album;
    /// The recording time as written, "2004-05-01" say; else the year, the release time or the
    /// original release time.
    std::optional<QString> year;
    std::optional<QString> comment;  ///< the first comment without a description
    std::optional<QString> genre;    ///< as written: "(17)", "17", "(17)Rock", "Rock"
    int track = 0;                   ///< 1..255 from "7" or "7/12"; 0 for none or anything else

    bool empty() const {
        return !title && !artist && !album && !year && !comment && !genre && track == 0;
    }
};

/// The ID3v2 tag of the file at `path` (versions 2.2 to 2.4), or else its APEv2 tag, when one of
/// them holds any of the six fields or a track, read through `fs` (from several threads at once
/// where `fs` allows it). Nothing for a file without either, one that cannot be read, and
/// anything that is not a regular file (a FIFO would block). Reads the tags only, never the audio.
/// `failure`, when given, tells which: code::kOk for a file read whole (with or without a tag),
/// code::kNotRegularFile, or the code of the call that failed; a read that ends before the length
/// the file claims is a failure too.
std::optional<OtherTag> readOtherTag(platform::FileSystem& fs, const QString& path,
                                     Code* failure = nullptr);

/// The same for a whole file held in memory.
std::optional<OtherTag> readOtherTag(std::span<const std::byte> file);

/// The genre number (0..115) that a genre text of another tag stands for: "(17)", "17",
/// "(17)Rock" whatever name follows the number, or a name in any letter case, of the genre table
/// or as TagLib spells it ("Alternative Rock" for "AlternRock"); -1 for anything else.
int genreNumberOf(const QString& text);

}  // namespace sorvel::tag
