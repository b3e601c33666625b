// Any bytes as a whole file: only its last 131 bytes are looked at, a trailer found there reads
// without going outside them, and writing the record back changes no byte but the blanks the
// reader trims from the front of a field and a genre byte that reads as none.

#include "fuzz_check.h"
#include "tag/tag.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace sorvel::tag;

namespace {

struct Field {
    std::size_t at;
    std::size_t width;
};
constexpr Field kFields[] = {{3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, 30}};
constexpr std::size_t kGenreAt = 127;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, kTailSize);
    // A buffer of exactly the tail's size, so that any read past it is caught.
    auto tail = std::make_unique<std::byte[]>(n);
    if (n > 0)
        std::memcpy(tail.get(), data + size - n, n);
    const std::span<const std::byte> view(tail.get(), n);

    const bool ape = n == kTailSize && std::memcmp(tail.get(), "APETAGEX", 8) == 0;
    const bool marker = size >= kMinTaggedSize && std::memcmp(tail.get() + n - 128, "TAG", 3) == 0;
    const bool found = hasTrailer(view, size);
    FUZZ_CHECK(found == (marker && !ape));
    if (!found)
        return 0;

    const std::span<const std::byte, kTrailerSize> old(tail.get() + n - kTrailerSize, kTrailerSize);
    const TagRecord record = parseTrailer(old);
    const auto rendered = renderTrailer(record);
    FUZZ_CHECK(rendered.has_value());
    FUZZ_CHECK(parseTrailer(*rendered) == record);
    FUZZ_CHECK(std::memcmp(rendered->data(), "TAG", 3) == 0);
    for (const Field f : kFields) {
        std::size_t lead = 0;
        while (lead < f.width && old[f.at + lead] == std::byte{' '})
            ++lead;
        for (std::size_t i = 0; i < f.width; ++i) {
            const std::byte expected = i + lead < f.width ? old[f.at + i + lead] : std::byte{' '};
            FUZZ_CHECK((*rendered)[f.at + i] == expected);
        }
    }
    const auto genre = std::to_integer<int>(old[kGenreAt]);
    const bool named = genre >= 1 && genre <= 115;
    FUZZ_CHECK(std::to_integer<int>((*rendered)[kGenreAt]) == (named ? genre : kNoGenreByte));
    return 0;
}
