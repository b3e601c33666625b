#include "tag/trailer.h"

#include "tag/cp1252.h"
#include "tag/genre.h"

#include <algorithm>
#include <cstring>

namespace sorvel::tag {
namespace {

constexpr std::size_t kBeforeTrailer = kTailSize - kTrailerSize;

template <std::size_t N>
bool startsWith(std::span<const std::byte> bytes, const char (&text)[N]) {
    return bytes.size() >= N - 1 && std::memcmp(bytes.data(), text, N - 1) == 0;
}

// Only the blank (0x20) is trimmed: other programs pad with NUL, and those bytes must survive.
QString textAt(std::span<const std::byte, kTrailerSize> trailer, std::size_t at, qsizetype width) {
    std::size_t begin = at;
    std::size_t end = at + static_cast<std::size_t>(width);
    while (begin < end && trailer[begin] == std::byte{' '})
        ++begin;
    while (end > begin && trailer[end - 1] == std::byte{' '})
        --end;
    return decode1252(trailer.subspan(begin, end - begin));
}

// ID3v1.1: a NUL before a byte that is not one marks that byte as the track, as every reader
// takes it.
int trackOf(std::span<const std::byte, kTrailerSize> trailer) {
    const std::byte number = trailer[kTrackAt];
    return trailer[kTrackAt - 1] == std::byte{0} && number != std::byte{0}
               ? std::to_integer<int>(number)
               : 0;
}

qsizetype widthOf(const TextField& f, int track) {
    return f.bit == field::kComment && track != 0 ? kCommentWidthWithTrack : f.width;
}

QString textOf(std::span<const std::byte, kTrailerSize> trailer, const TextField& f) {
    return textAt(trailer, f.at, widthOf(f, trackOf(trailer)));
}

// Puts `text` into its field, padded with blanks to `width`.
bool put(Trailer& out, std::size_t at, qsizetype width, const QString& text) {
    if (text.size() > width)
        return false;
    for (qsizetype i = 0; i < width; ++i) {
        const int b = i < text.size() ? encode1252(text.at(i)) : ' ';
        if (b < 0)
            return false;
        out[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(b);
    }
    return true;
}

// The comment and the track: the track keeps its bytes while the comment leaves them free.
bool putCommentAndTrack(Trailer& out, const QString& comment, int track) {
    if (track == 0 || comment.size() > kCommentWidthWithTrack)
        return put(out, kCommentAt, kTextWidth, comment);
    out[kTrackAt - 1] = std::byte{0};
    out[kTrackAt] = static_cast<std::byte>(track);
    return put(out, kCommentAt, kCommentWidthWithTrack, comment);
}

bool readsAsNoGenre(std::byte b) {
    return std::to_integer<int>(b) >= kGenreCount;
}

// The last kTailSize bytes of the file once `out` follows the `before` bytes it keeps.
std::span<const std::byte> joined(std::span<const std::byte> before, const Trailer& out,
                                  std::array<std::byte, kTailSize>& buf) {
    const std::size_t k = std::min(before.size(), kBeforeTrailer);
    std::copy(before.end() - static_cast<std::ptrdiff_t>(k), before.end(), buf.begin());
    std::copy(out.begin(), out.end(), buf.begin() + static_cast<std::ptrdiff_t>(k));
    return {buf.data(), k + kTrailerSize};
}

}  // namespace

bool hasTrailer(std::span<const std::byte> tail, std::uint64_t fileSize) {
    if (fileSize < kMinTaggedSize || tail.size() < kTrailerSize)
        return false;
    if (!startsWith(tail.last(kTrailerSize), "TAG"))
        return false;
    // Only the whole APEv2 preamble counts: audio may end in "APE" by chance before a real
    // trailer, and taking that for an APE header would hide the trailer and make the next save
    // append a second one.
    return !(tail.size() >= kTailSize && startsWith(tail.last(kTailSize), "APETAGEX"));
}

TagRecord parseTrailer(std::span<const std::byte, kTrailerSize> trailer) {
    TagRecord tag;
    for (const TextField& f : kTextFields)
        tag.*f.text = textOf(trailer, f);
    const std::byte g = trailer[kGenreAt];
    tag.genre = readsAsNoGenre(g) ? -1 : std::to_integer<int>(g);
    tag.track = trackOf(trailer);
    return tag;
}

std::optional<TagRecord> readTrailer(std::span<const std::byte> tail, std::uint64_t fileSize) {
    if (!hasTrailer(tail, fileSize))
        return std::nullopt;
    return parseTrailer(tail.last<kTrailerSize>());
}

std::optional<Trailer> renderTrailer(const TagRecord& tag) {
    if (tag.genre > 255 || tag.track < 0 || tag.track > 255)
        return std::nullopt;
    Trailer out;
    out.fill(std::byte{' '});
    std::memcpy(out.data(), "TAG", 3);
    for (const TextField& f : kTextFields) {
        if (f.bit != field::kComment && !put(out, f.at, f.width, tag.*f.text))
            return std::nullopt;
    }
    if (!putCommentAndTrack(out, tag.comment, tag.track))
        return std::nullopt;
    out[kGenreAt] = static_cast<std::byte>(tag.genre < 0 ? kNoGenreByte : tag.genre);
    return out;
}

Fingerprint fingerprintOf(std::span<const std::byte> tail, std::uint64_t fileSize) {
    if (fileSize < kMinTaggedSize)
        tail = {};
    else if (tail.size() > kTailSize)
        tail = tail.last(kTailSize);
    // FNV-1a, seeded with the length: a change of either gives another hash.
    std::uint64_t h = 0xcbf29ce484222325ULL ^ fileSize;
    for (const std::byte b : tail) {
        h ^= static_cast<std::uint64_t>(b);
        h *= 0x100000001b3ULL;
    }
    return {fileSize, h == 0 ? 1 : h};
}

std::optional<Placement> placeTrailer(std::span<const std::byte> tail, std::uint64_t fileSize,
                                      const TagRecord& tag, Fields fields) {
    auto rendered = renderTrailer(tag);
    if (!rendered)
        return std::nullopt;
    Placement p;
    p.size = fileSize;
    p.overwrite = hasTrailer(tail, fileSize);
    TagRecord wanted = tag;
    if (p.overwrite) {
        const auto old = tail.last<kTrailerSize>();
        std::copy(old.begin(), old.end(), p.old.begin());
        // A field is written only where it is to read otherwise than it does: the bytes of one
        // that reads the same, a leading blank or padding of another program's, are kept.
        const TagRecord was = parseTrailer(old);
        p.out = p.old;
        for (const TextField& f : kTextFields) {
            if ((fields & f.bit) == 0)
                wanted.*f.text = was.*f.text;
            else if (f.bit != field::kComment && tag.*f.text != was.*f.text)
                put(p.out, f.at, f.width, tag.*f.text);
        }
        if ((fields & field::kGenre) != 0)
            p.out[kGenreAt] = rendered->at(kGenreAt);
        if ((fields & field::kTrack) == 0)
            wanted.track = was.track;
        if (wanted.comment != was.comment) {
            if (!putCommentAndTrack(p.out, wanted.comment, wanted.track))
                return std::nullopt;
        } else if (wanted.track != was.track) {
            // The comment's own bytes stay; a track asked for by name takes the last two bytes of
            // a long one, and none leaves blanks there.
            const bool none = wanted.track == 0;
            p.out[kTrackAt - 1] = none ? std::byte{' '} : std::byte{0};
            p.out[kTrackAt] = none ? std::byte{' '} : static_cast<std::byte>(wanted.track);
        }
    } else {
        p.out = *rendered;
    }
    const auto before = p.overwrite ? tail.first(tail.size() - kTrailerSize) : tail;
    std::array<std::byte, kTailSize> next{};
    // "APE" just in front and a title beginning with "EX" spell "APETAGEX": the new trailer would
    // read as hidden by an APEv2 header, the row would lose its tag and the next write would
    // append a second one. The reader trims a leading blank, so the title shows the same with one.
    if (before.size() >= kBeforeTrailer && startsWith(joined(before, p.out, next), "APETAGEX")) {
        if (!put(p.out, kTitleAt, kTextWidth, QLatin1Char(' ') + wanted.title))
            return std::nullopt;  // a title of the full width has no room for the blank
    }
    p.after = fingerprintOf(joined(before, p.out, next), p.newLength());
    return p;
}

}  // namespace sorvel::tag
