// Any bytes as a whole file: only its last 131 bytes are looked at, a trailer found there reads
// without going outside them, and writing the record back changes no byte but the blanks the
// reader trims from the front of a field, and a genre byte that reads as none. What is written
// reads back as the record written, wherever it lands.

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
    const auto p = placeTrailer(view, size, record, NoGenre::KeepFileByte);
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

    // A record read renders as the trailer it came from, each text field moved to the front.
    // Genres of the table read as themselves, any other byte as none, which renders as 255; written
    // back, the file's own byte stays.
    QByteArray expected = file.right(kTrailerSize);
    for (const TextField& f : kTextFields) {
        QByteArray field = expected.mid(qsizetype(f.at), f.width);
        while (field.startsWith(' '))
            field.remove(0, 1);
        expected.replace(qsizetype(f.at), f.width, field.leftJustified(f.width));
    }
    const int oldGenre = static_cast<unsigned char>(expected[kGenreAt]);
    FUZZ_CHECK(record.genre == (oldGenre >= 1 && oldGenre < kGenreCount ? oldGenre : -1) &&
               after.endsWith(char(oldGenre)));
    expected[kGenreAt] = char(record.genre < 0 ? kNoGenreByte : oldGenre);
    FUZZ_CHECK(bytes(renderTrailer(record).value_or(Trailer{})) == expected);
    return 0;
}
