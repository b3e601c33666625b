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
QString field(std::span<const std::byte, kTrailerSize> trailer, const TextField& f) {
    std::size_t begin = f.at;
    std::size_t end = f.at + static_cast<std::size_t>(f.width);
    while (begin < end && trailer[begin] == std::byte{' '})
        ++begin;
    while (end > begin && trailer[end - 1] == std::byte{' '})
        --end;
    return decode1252(trailer.subspan(begin, end - begin));
}

bool put(Trailer& out, const TextField& f, const QString& text) {
    if (text.size() > f.width)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = encode1252(text.at(i));
        if (b < 0)
            return false;
        out[f.at + static_cast<std::size_t>(i)] = static_cast<std::byte>(b);
    }
    return true;
}

bool readsAsNoGenre(std::byte b) {
    const auto v = std::to_integer<int>(b);
    return v == 0 || v >= kGenreCount;
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
        tag.*f.text = field(trailer, f);
    const std::byte g = trailer[kGenreAt];
    tag.genre = readsAsNoGenre(g) ? -1 : std::to_integer<int>(g);
    return tag;
}

std::optional<TagRecord> readTrailer(std::span<const std::byte> tail, std::uint64_t fileSize) {
    if (!hasTrailer(tail, fileSize))
        return std::nullopt;
    return parseTrailer(tail.last<kTrailerSize>());
}

std::optional<Trailer> renderTrailer(const TagRecord& tag) {
    if (tag.genre > 255)
        return std::nullopt;
    Trailer out;
    out.fill(std::byte{' '});
    std::memcpy(out.data(), "TAG", 3);
    for (const TextField& f : kTextFields) {
        if (!put(out, f, tag.*f.text))
            return std::nullopt;
    }
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
                                      const TagRecord& tag, NoGenre noGenre) {
    auto rendered = renderTrailer(tag);
    if (!rendered)
        return std::nullopt;
    Placement p;
    p.out = *rendered;
    p.size = fileSize;
    p.overwrite = hasTrailer(tail, fileSize);
    const auto before = p.overwrite ? tail.first(tail.size() - kTrailerSize) : tail;
    std::array<std::byte, kTailSize> next{};
    // "APE" just in front and a title beginning with "EX" spell "APETAGEX": the new trailer would
    // read as hidden by an APEv2 header, the row would lose its tag and the next write would
    // append a second one. The reader trims a leading blank, so the title shows the same with one.
    if (before.size() >= kBeforeTrailer && startsWith(joined(before, p.out, next), "APETAGEX")) {
        TagRecord shifted = tag;
        shifted.title.prepend(u' ');
        rendered = renderTrailer(shifted);
        if (!rendered)
            return std::nullopt;  // a title of the full width has no room for the blank
        p.out = *rendered;
    }
    if (p.overwrite) {
        const auto old = tail.last<kTrailerSize>();
        std::copy(old.begin(), old.end(), p.old.begin());
        if ((tag.genre < 0 || tag.genre == kNoGenreByte) && noGenre == NoGenre::KeepFileByte &&
            readsAsNoGenre(old[kGenreAt])) {
            p.out[kGenreAt] = old[kGenreAt];
        }
    }
    p.after = fingerprintOf(joined(before, p.out, next), p.newLength());
    return p;
}

}  // namespace sorvel::tag
