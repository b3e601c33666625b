// Any bytes as a whole file: only its last 131 bytes are looked at, a trailer found there reads
// without going outside them, and writing the record back changes no byte but the blanks the
// reader trims from the front of a field and a genre byte that reads as none. Then the same
// bytes as a real file: las_tag() reads what the buffer said, and skriv_tag() of the record read
// changes the trailer alone, or appends one and nothing else.

#include "fuzz_check.h"
#include "platform/filesystem.h"
#include "tag/tag.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace sorvel;
using namespace sorvel::tag;

namespace {

struct Field {
    std::size_t at;
    std::size_t width;
};
constexpr Field kFields[] = {{3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, 30}};
constexpr std::size_t kGenreAt = 127;

QString writeFile(const std::uint8_t* data, std::size_t size) {
    static const auto dir = std::make_unique<QTemporaryDir>();
    FUZZ_CHECK(dir->isValid());
    static const QString path = dir->path() + QStringLiteral("/fil.mp3");
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
               static_cast<qint64>(size));
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// The file on disk, read and written back through the program's own reader and writer.
void checkFile(const std::uint8_t* data, std::size_t size, bool found) {
    const QString path = writeFile(data, size);
    platform::PosixFileSystem fs;
    const std::optional<TagRecord> read = las_tag(fs, path);
    FUZZ_CHECK(read.has_value() == found);
    TagRecord record = read.value_or(TagRecord{});
    if (!found && size > 0)
        record.title = QStringLiteral("Ny");  // something to append
    FUZZ_CHECK(skriv_tag(fs, path, record, NoGenre::KeepFileByte) == code::kOk);

    const QByteArray after = readFile(path);
    const std::size_t kept = found ? size - kTrailerSize : size;
    FUZZ_CHECK(static_cast<std::size_t>(after.size()) == kept + kTrailerSize);
    FUZZ_CHECK(kept == 0 || std::memcmp(after.constData(), data, kept) == 0);
    auto expected = *renderTrailer(record);
    // A title that would spell "APETAGEX" with the audio's last bytes is moved by one blank.
    if (kept >= 3 && std::memcmp(data + kept - 3, "APE", 3) == 0 &&
        std::memcmp(expected.data(), "TAGEX", 5) == 0) {
        TagRecord shifted = record;
        shifted.title.prepend(u' ');
        const auto room = renderTrailer(shifted);
        FUZZ_CHECK(room.has_value());
        expected = *room;
    }
    if (found && record.genre < 0)
        expected[kGenreAt] = std::byte{data[size - 1]};  // a file's own "no genre" byte stays
    FUZZ_CHECK(std::memcmp(after.constData() + kept, expected.data(), kTrailerSize) == 0);
    // A file of under two bytes stays too short to count as tagged even with its trailer.
    if (after.size() >= static_cast<qsizetype>(kMinTaggedSize))
        FUZZ_CHECK(las_tag(fs, path) == std::optional<TagRecord>(record));
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
    const bool marker = size >= kMinTaggedSize && std::memcmp(tail.get() + n - 128, "TAG", 3) == 0;
    const bool found = hasTrailer(view, size);
    FUZZ_CHECK(found == (marker && !ape));
    checkFile(data, size, found);
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
