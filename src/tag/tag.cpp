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

namespace {

// What a write of a trailer into one file is to do, decided from the file's end.
struct Plan {
    Trailer out{};
    Trailer old{};  ///< the trailer replaced, when `overwrite`
    bool overwrite = false;
    std::uint64_t size = 0;

    std::uint64_t offset() const { return overwrite ? size - kTrailerSize : size; }
};

// `out` holds the rendered record. code::kBadArgument when the record has no room for what the
// file's end asks of it.
Code plan(std::span<const std::byte> tail, std::uint64_t size, const TagRecord& tag,
          NoGenre noGenre, Plan& p) {
    p.size = size;
    p.overwrite = hasTrailer(tail, size);
    // "APE" just in front and a title beginning with "EX" spell "APETAGEX": the new trailer would
    // read as hidden by an APEv2 header, the row would lose its tag and the next write would
    // append a second one. The reader trims a leading blank, so the title shows the same with one.
    if (spellsApeHeader(p.overwrite ? tail.first(tail.size() - kTrailerSize) : tail, p.out)) {
        TagRecord shifted = tag;
        shifted.title.prepend(u' ');
        const auto room = renderTrailer(shifted);
        if (!room)
            return code::kBadArgument;  // a title of the full width has no room for the blank
        p.out = *room;
    }
    if (!p.overwrite)
        return code::kOk;
    const auto old = tail.last<kTrailerSize>();
    std::copy(old.begin(), old.end(), p.old.begin());
    if (tag.genre < 0 || tag.genre == kNoGenreByte) {
        if (noGenre == NoGenre::KeepFileByte && readsAsNoGenre(old[kGenreAt])) {
            p.out[kGenreAt] = old[kGenreAt];
        }
    }
    return code::kOk;
}

// After a write that failed part-way: a partial append must not leave stray bytes behind, and an
// overwrite puts the old trailer back.
void rollBack(platform::FileSystem& fs, int fd, const Plan& p) {
    if (p.overwrite) {
        fs.writeAt(fd, p.offset(), p.old);
    } else {
        fs.truncate(fd, p.size);
    }
}

// Whether the file, whose end `tail` was just read, still holds what the caller read from it. When
// it does not, `check` learns what it holds now.
bool unchanged(std::span<const std::byte> tail, std::uint64_t size, Check* check) {
    if (check == nullptr || !check->expected.known())
        return true;
    const Fingerprint now = fingerprintOf(tail, size);
    if (now == check->expected)
        return true;
    check->now = now;
    check->found.reset();
    if (hasTrailer(tail, size))
        check->found =
            parseTrailer(std::span<const std::byte, kTrailerSize>(tail.last<kTrailerSize>()));
    return false;
}

// The fingerprint of the file once `p` is written: the bytes before the trailer it read, then the
// new trailer.
Fingerprint printAfter(std::span<const std::byte> tail, const Plan& p) {
    constexpr std::size_t kBefore = kTailSize - kTrailerSize;
    const auto before = p.overwrite ? tail.first(tail.size() - kTrailerSize) : tail;
    const std::size_t k = std::min(before.size(), kBefore);
    std::array<std::byte, kTailSize> next{};
    std::copy(before.end() - static_cast<std::ptrdiff_t>(k), before.end(), next.begin());
    std::copy(p.out.begin(), p.out.end(), next.begin() + static_cast<std::ptrdiff_t>(k));
    return fingerprintOf(std::span(next.data(), k + kTrailerSize), p.offset() + kTrailerSize);
}

void fill(Replaced* replaced, Check* check, std::span<const std::byte> tail, const Plan& p) {
    if (check != nullptr) {
        check->now = printAfter(tail, p);
        check->found.reset();
    }
    if (replaced == nullptr)
        return;
    replaced->oldPrint = fingerprintOf(tail, p.size);
    replaced->oldLength = p.size;
    replaced->hadTrailer = p.overwrite;
    if (p.overwrite)
        replaced->oldTrailer = p.old;
    replaced->newTrailer = p.out;
    replaced->newLength = p.overwrite ? p.size : p.size + kTrailerSize;
}

// Files written at a time by skriv_tags(): each holds a descriptor from its open to its close.
constexpr std::size_t kBatch = 128;

}  // namespace

Code skriv_tag(platform::FileSystem& fs, const QString& path, const TagRecord& tag, NoGenre noGenre,
               Replaced* replaced, Check* check) {
    auto rendered = renderTrailer(tag);
    if (!rendered)
        return code::kBadArgument;
    Plan p;
    p.out = *rendered;

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
    if (!unchanged(tail, size, check))
        return kChangedOnDisk;
    if (const Code c = plan(tail, size, tag, noGenre, p); c != code::kOk)
        return c;
    if (const Code c = fs.writeAt(fd, p.offset(), p.out); c != code::kOk) {
        rollBack(fs, fd, p);
        return c;
    }
    const Code closed = guard.close();
    if (closed == code::kOk)
        fill(replaced, check, tail, p);
    return closed;
}

void skriv_tags(platform::FileSystem& fs, const QString& katalog, std::span<WriteJob> jobs) {
    std::vector<QString> names;
    std::vector<std::size_t> which;  // the job of each name
    std::vector<Plan> plans;
    std::vector<platform::FileTail> tails;
    std::vector<int> fds;
    std::vector<platform::FileSystem::Write> writes;
    std::vector<std::size_t> written;  // the name of each write
    std::vector<Code> closed;
    std::vector<std::size_t> again;
    for (std::size_t from = 0; from < jobs.size();) {
        names.clear();
        which.clear();
        plans.clear();
        for (; from < jobs.size() && names.size() < kBatch; ++from) {
            WriteJob& job = jobs[from];
            auto rendered = renderTrailer(job.tag);
            if (!rendered) {
                job.result = code::kBadArgument;
                continue;
            }
            names.push_back(job.name);
            which.push_back(from);
            plans.emplace_back().out = *rendered;
        }
        tails.resize(names.size());
        fds.resize(names.size());
        // As in skriv_tag(), each file is read through the descriptor that writes it.
        fs.openTails(katalog, names, kTailSize, tails, fds);
        writes.clear();
        written.clear();
        for (std::size_t k = 0; k < names.size(); ++k) {
            WriteJob& job = jobs[which[k]];
            job.result = tails[k].code;
            if (job.result == code::kTooManyFiles) {
                again.push_back(which[k]);  // once this batch has given its descriptors back
                continue;
            }
            if (job.result != code::kOk)
                continue;
            if (!unchanged(tails[k].tail(), tails[k].size, &job.check)) {
                job.result = kChangedOnDisk;
                continue;
            }
            job.result = plan(tails[k].tail(), tails[k].size, job.tag, job.noGenre, plans[k]);
            if (job.result != code::kOk)
                continue;
            writes.push_back({fds[k], plans[k].offset(), plans[k].out});
            written.push_back(k);
        }
        fs.writeAll(writes);
        for (std::size_t w = 0; w < writes.size(); ++w) {
            if (writes[w].code != code::kOk) {
                jobs[which[written[w]]].result = writes[w].code;
                rollBack(fs, writes[w].fd, plans[written[w]]);
            }
        }
        // Closed only now: a file system may refuse what was written only at the close (NFS).
        std::erase(fds, -1);
        closed.resize(fds.size());
        fs.closeAll(fds, closed);
        std::size_t c = 0;
        for (std::size_t k = 0; k < names.size(); ++k) {
            if (tails[k].code != code::kOk)
                continue;
            WriteJob& job = jobs[which[k]];
            if (job.result == code::kOk) {
                job.result = closed[c];
                if (job.result == code::kOk)
                    fill(&job.replaced, &job.check, tails[k].tail(), plans[k]);
            }
            ++c;
        }
    }
    for (const std::size_t j : again) {
        WriteJob& job = jobs[j];
        job.result =
            skriv_tag(fs, katalog + job.name, job.tag, job.noGenre, &job.replaced, &job.check);
    }
}

}  // namespace sorvel::tag
