#include "tag/tag.h"

#include "tag/cp1252.h"

#include <algorithm>
#include <cstring>

namespace sorvel::tag {
namespace {

constexpr std::size_t kTitleAt = 3;
constexpr std::size_t kArtistAt = 33;
constexpr std::size_t kAlbumAt = 63;
constexpr std::size_t kYearAt = 93;
constexpr std::size_t kCommentAt = 97;
constexpr std::size_t kGenreAt = 127;

template <std::size_t N>
bool startsWith(std::span<const std::byte> bytes, const char (&text)[N]) {
    return bytes.size() >= N - 1 && std::memcmp(bytes.data(), text, N - 1) == 0;
}

// Only the blank (0x20) is trimmed: other programs pad with NUL, and those bytes must survive.
QString field(std::span<const std::byte, kTrailerSize> trailer, std::size_t at, std::size_t width) {
    std::size_t begin = at;
    std::size_t end = at + width;
    while (begin < end && trailer[begin] == std::byte{' '})
        ++begin;
    while (end > begin && trailer[end - 1] == std::byte{' '})
        --end;
    return decode1252(trailer.subspan(begin, end - begin));
}

bool put(Trailer& out, std::size_t at, qsizetype width, const QString& text) {
    if (text.size() > width)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = encode1252(text.at(i));
        if (b < 0)
            return false;
        out[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(b);
    }
    return true;
}

bool readsAsNoGenre(std::byte b) {
    const auto v = static_cast<unsigned>(b);
    return v == 0 || v > 115;
}

}  // namespace

bool hasTrailer(std::span<const std::byte> tail, std::uint64_t fileSize) {
    if (fileSize < kMinTaggedSize || tail.size() < kTrailerSize)
        return false;
    const auto trailer = tail.last(kTrailerSize);
    if (!startsWith(trailer, "TAG"))
        return false;
    // Only the whole APEv2 preamble counts: audio may end in "APE" by chance before a real
    // trailer, and taking that for an APE header would hide the trailer and make the next save
    // append a second one.
    if (tail.size() >= kTailSize && startsWith(tail.last(kTailSize), "APETAGEX"))
        return false;
    return true;
}

TagRecord parseTrailer(std::span<const std::byte, kTrailerSize> trailer) {
    TagRecord tag;
    tag.title = field(trailer, kTitleAt, 30);
    tag.artist = field(trailer, kArtistAt, 30);
    tag.album = field(trailer, kAlbumAt, 30);
    tag.year = field(trailer, kYearAt, 4);
    tag.comment = field(trailer, kCommentAt, 30);
    const auto g = static_cast<int>(trailer[kGenreAt]);
    tag.genre = (g == 0 || g > 115) ? -1 : g;
    return tag;
}

std::optional<Trailer> renderTrailer(const TagRecord& tag) {
    Trailer out;
    out.fill(std::byte{' '});
    out[0] = std::byte{'T'};
    out[1] = std::byte{'A'};
    out[2] = std::byte{'G'};
    if (!put(out, kTitleAt, kTextWidth, tag.title) ||
        !put(out, kArtistAt, kTextWidth, tag.artist) ||
        !put(out, kAlbumAt, kTextWidth, tag.album) || !put(out, kYearAt, kYearWidth, tag.year) ||
        !put(out, kCommentAt, kTextWidth, tag.comment)) {
        return std::nullopt;
    }
    if (tag.genre > 255)
        return std::nullopt;
    out[kGenreAt] = static_cast<std::byte>(tag.genre < 0 ? kNoGenreByte : tag.genre);
    return out;
}

std::optional<TagRecord> las_tag(platform::FileSystem& fs, const QString& path) {
    int fd = -1;
    std::uint64_t size = 0;
    if (fs.open(path, platform::FileSystem::Access::Read, fd, size) != code::kOk) {
        return std::nullopt;
    }
    platform::FileGuard guard(fs, fd);
    if (size < kMinTaggedSize)
        return std::nullopt;
    std::array<std::byte, kTailSize> buf{};
    const std::size_t n = size >= kTailSize ? kTailSize : static_cast<std::size_t>(size);
    const std::span<std::byte> tail(buf.data(), n);
    if (fs.readAt(fd, size - n, tail) != code::kOk)
        return std::nullopt;
    if (!hasTrailer(tail, size))
        return std::nullopt;
    return parseTrailer(std::span<const std::byte, kTrailerSize>(tail.last<kTrailerSize>()));
}

std::optional<TagRecord> tagOfTail(const platform::FileTail& tail) {
    static_assert(kTailSize <= platform::FileTail::kCapacity);
    if (tail.code != code::kOk || !hasTrailer(tail.tail(), tail.size))
        return std::nullopt;
    return parseTrailer(std::span<const std::byte, kTrailerSize>(tail.tail().last<kTrailerSize>()));
}

namespace {

// Whether the file's last bytes `before` and the `trailer` written after them spell the
// "APETAGEX" that hides a trailer (see hasTrailer()).
bool spellsApeHeader(std::span<const std::byte> before, const Trailer& trailer) {
    constexpr std::size_t k = kTailSize - kTrailerSize;
    if (before.size() < k)
        return false;
    std::array<std::byte, kTailSize> next{};
    std::copy(before.end() - k, before.end(), next.begin());
    std::copy(trailer.begin(), trailer.end(), next.begin() + k);
    return std::memcmp(next.data(), "APETAGEX", 8) == 0;
}

}  // namespace

Code skriv_tag(platform::FileSystem& fs, const QString& path, const TagRecord& tag, NoGenre noGenre,
               Replaced* replaced) {
    auto rendered = renderTrailer(tag);
    if (!rendered)
        return code::kBadArgument;
    Trailer& out = *rendered;

    int fd = -1;
    std::uint64_t size = 0;
    if (const Code c = fs.open(path, platform::FileSystem::Access::ReadWrite, fd, size);
        c != code::kOk) {
        return c;
    }
    platform::FileGuard guard(fs, fd);

    // The decision between overwrite and append is made on the descriptor that writes, so the
    // file cannot change between the look and the write through another name.
    std::array<std::byte, kTailSize> buf{};
    const std::size_t n = size >= kTailSize ? kTailSize : static_cast<std::size_t>(size);
    const std::span<std::byte> tail(buf.data(), n);
    if (n > 0) {
        if (const Code c = fs.readAt(fd, size - n, tail); c != code::kOk)
            return c;
    }
    const bool overwrite = hasTrailer(tail, size);
    // "APE" just in front and a title beginning with "EX" spell "APETAGEX": the new trailer would
    // read as hidden by an APEv2 header, the row would lose its tag and the next write would
    // append a second one. The reader trims a leading blank, so the title shows the same with one.
    if (spellsApeHeader(overwrite ? tail.first(n - kTrailerSize) : tail, out)) {
        TagRecord shifted = tag;
        shifted.title.prepend(u' ');
        const auto room = renderTrailer(shifted);
        if (!room)
            return code::kBadArgument;  // a title of the full width has no room for the blank
        out = *room;
    }
    if (!overwrite) {
        if (const Code c = fs.writeAt(fd, size, out); c != code::kOk) {
            fs.truncate(fd, size);  // a partial append must not leave stray bytes behind
            return c;
        }
        const Code closed = guard.close();
        if (closed == code::kOk && replaced != nullptr) {
            replaced->oldLength = size;
            replaced->hadTrailer = false;
            replaced->newTrailer = out;
            replaced->newLength = size + kTrailerSize;
        }
        return closed;
    }

    const auto old = tail.last<kTrailerSize>();
    if (tag.genre < 0 || tag.genre == kNoGenreByte) {
        if (noGenre == NoGenre::KeepFileByte && readsAsNoGenre(old[kGenreAt])) {
            out[kGenreAt] = old[kGenreAt];
        }
    }
    if (const Code c = fs.writeAt(fd, size - kTrailerSize, out); c != code::kOk) {
        fs.writeAt(fd, size - kTrailerSize, old);  // put the old trailer back
        return c;
    }
    const Code closed = guard.close();
    if (closed == code::kOk && replaced != nullptr) {
        replaced->oldLength = size;
        replaced->hadTrailer = true;
        std::copy(old.begin(), old.end(), replaced->oldTrailer.begin());
        replaced->newTrailer = out;
        replaced->newLength = size;
    }
    return closed;
}

}  // namespace sorvel::tag
