// Any bytes as a whole file: only its last 131 bytes are looked at, a trailer found there reads
// without going outside them, writing the record back changes no text byte, and writing one field
// changes that field's bytes alone. What is written reads back as the record written, wherever it
// lands.

#include "fuzz_check.h"
#include "tag/genre.h"
#include "tag/tag.h"

#include <cstring>
#include <memory>

using namespace sorvel;
using namespace sorvel::tag;

static QByteArray bytes(const Trailer& t) {
    return {reinterpret_cast<const char*>(t.data()), qsizetype(kTrailerSize)};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, kTailSize);
    // A buffer of exactly the tail's size, so that any read past it is caught.
    const auto tail = std::make_unique<std::byte[]>(n);
    std::memcpy(tail.get(), data + size - n, n);
    const std::span<const std::byte> view(tail.get(), n);
    const bool ape = n == kTailSize && std::memcmp(tail.get(), "APETAGEX", 8) == 0;
    const bool marker =
        size >= kMinTaggedSize && std::memcmp(&tail[n - kTrailerSize], "TAG", 3) == 0;
    const std::optional<TagRecord> found = readTrailer(view, size);
    FUZZ_CHECK(found.has_value() == (marker && !ape));

    TagRecord record = found.value_or(TagRecord{.title = QStringLiteral("Ny")});
    const auto p = placeTrailer(view, size, record);
    FUZZ_CHECK(p && p->overwrite == found.has_value() && p->size == size);
    FUZZ_CHECK(parseTrailer(p->out) == record);
    // The file's end once written: the bytes kept before the trailer, then the trailer.
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray after = file.left(qsizetype(p->offset())) + bytes(p->out);
    const auto end =
        std::as_bytes(std::span(after)).last(std::min(std::size_t(after.size()), kTailSize));
    FUZZ_CHECK(p->newLength() < kMinTaggedSize || readTrailer(end, p->newLength()) == record);
    FUZZ_CHECK(p->after == fingerprintOf(end, p->newLength()));

    if (!found)
        return 0;

    // A record read and written back whole changes no byte but a genre byte that reads as none,
    // which becomes 255: every text reads as it did.
    const QByteArray old = file.right(kTrailerSize);
    FUZZ_CHECK(bytes(p->out).chopped(1) == old.chopped(1));
    FUZZ_CHECK(p->out[kGenreAt] == (record.genre < 0 ? std::byte{255} : std::byte(old[kGenreAt])));
    // A new title changes the title's bytes and nothing else.
    record.title = QStringLiteral("Ny");
    const auto titled = placeTrailer(view, size, record, field::kTitle);
    FUZZ_CHECK(titled && parseTrailer(titled->out) == record);
    const QByteArray t = bytes(titled->out);
    FUZZ_CHECK(t.left(qsizetype(kTitleAt)) == old.left(qsizetype(kTitleAt)));
    FUZZ_CHECK(t.mid(qsizetype(kArtistAt)) == old.mid(qsizetype(kArtistAt)));
    // Genres of the table read as themselves, any other byte as none.
    const int oldGenre = static_cast<unsigned char>(old[kGenreAt]);
    FUZZ_CHECK(record.genre == (oldGenre < kGenreCount ? oldGenre : -1));
    return 0;
}
