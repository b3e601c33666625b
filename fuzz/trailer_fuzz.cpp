// Any bytes as a whole file: only its last 131 bytes are looked at, a trailer found there reads
// without going outside them, and writing the record back changes no byte but the blanks the
// reader trims from the front of a field and a genre byte that reads as none. What is written
// reads back as the record written, wherever it lands. Then the same bytes as a real file: the
// file layer reads and writes exactly what the codec decides.

#include "fuzz_check.h"
#include "platform/filesystem.h"
#include "tag/genre.h"
#include "tag/tag.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace sorvel;
using namespace sorvel::tag;

namespace {

void checkFile(const QByteArray& data, const std::optional<TagRecord>& found,
               const TagRecord& record, const Placement& p) {
    const QString path = fuzz::scratchFile(QStringLiteral("fil.mp3"), data);
    platform::PosixFileSystem fs;
    FUZZ_CHECK(las_tag(fs, path) == found);
    FUZZ_CHECK(skriv_tag(fs, path, record, NoGenre::KeepFileByte) == code::kOk);
    const QByteArray after = fuzz::readAll(path);
    FUZZ_CHECK(static_cast<std::uint64_t>(after.size()) == p.newLength());
    FUZZ_CHECK(after.left(qsizetype(p.offset())) == data.left(qsizetype(p.offset())));
    FUZZ_CHECK(std::memcmp(after.constData() + p.offset(), p.out.data(), kTrailerSize) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, kTailSize);
    // A buffer of exactly the tail's size, so that any read past it is caught.
    auto tail = std::make_unique<std::byte[]>(n);
    if (n > 0)
        std::memcpy(tail.get(), data + size - n, n);
    const std::span<const std::byte> view(tail.get(), n);

    const bool ape = n == kTailSize && std::memcmp(tail.get(), "APETAGEX", 8) == 0;
    const bool marker =
        size >= kMinTaggedSize && std::memcmp(tail.get() + n - kTrailerSize, "TAG", 3) == 0;
    const std::optional<TagRecord> found = readTrailer(view, size);
    FUZZ_CHECK(found.has_value() == (marker && !ape));

    TagRecord record = found.value_or(TagRecord{});
    if (!found)
        record.title = QStringLiteral("Ny");  // something to append
    const auto p = placeTrailer(view, size, record, NoGenre::KeepFileByte);
    FUZZ_CHECK(p.has_value() && p->overwrite == found.has_value() && p->size == size);
    FUZZ_CHECK(parseTrailer(p->out) == record);
    // The file's end once written: the bytes kept before the trailer, then the trailer.
    const auto before = view.first(p->overwrite ? n - kTrailerSize : n);
    const std::size_t k = std::min(before.size(), kTailSize - kTrailerSize);
    std::array<std::byte, kTailSize> next{};
    std::copy(before.end() - static_cast<std::ptrdiff_t>(k), before.end(), next.begin());
    std::copy(p->out.begin(), p->out.end(), next.begin() + static_cast<std::ptrdiff_t>(k));
    const std::span<const std::byte> end(next.data(), k + kTrailerSize);
    if (p->newLength() >= kMinTaggedSize)
        FUZZ_CHECK(readTrailer(end, p->newLength()) == record);
    FUZZ_CHECK(p->after == fingerprintOf(end, p->newLength()));
    checkFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), found, record, *p);
    if (!found)
        return 0;

    // A record read renders as the trailer it came from, its fields moved to the front.
    const std::span<const std::byte, kTrailerSize> old(view.last<kTrailerSize>());
    const auto rendered = renderTrailer(record);
    FUZZ_CHECK(rendered.has_value());
    FUZZ_CHECK(std::memcmp(rendered->data(), "TAG", 3) == 0);
    for (const TextField& f : kTextFields) {
        QByteArray field(reinterpret_cast<const char*>(old.data()) + f.at, f.width);
        while (field.startsWith(' '))
            field.remove(0, 1);
        FUZZ_CHECK(std::memcmp(rendered->data() + f.at, field.leftJustified(f.width).data(),
                               std::size_t(f.width)) == 0);
    }
    // Genres of the table read as themselves; any other byte reads as none and stays as it was.
    const int oldGenre = std::to_integer<int>(old[kGenreAt]);
    FUZZ_CHECK(record.genre == (oldGenre >= 1 && oldGenre < kGenreCount ? oldGenre : -1));
    FUZZ_CHECK(std::to_integer<int>((*rendered)[kGenreAt]) ==
               (record.genre < 0 ? kNoGenreByte : oldGenre));
    FUZZ_CHECK(p->out[kGenreAt] == old[kGenreAt]);
    return 0;
}
