// Any bytes as the start and the end of a file, with audio between: the ID3v2 tag at the start
// or the APEv2 tag before the end is read without going outside the file, and what the import
// makes of it fits a trailer: texts no wider than their fields, a genre of the table or none.
// Where the trailer can hold the texts, it reads back as the row the import made: the reader
// trims blanks at either end of a field, and genre 0 (Blues) is stored as 0, which reads as none.

#include "fuzz_check.h"
#include "tag/genre.h"
#include "tag/other_tags.h"
#include "tag/tag.h"
#include "write/engine.h"

#include <QRegularExpression>

using namespace sorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte says how much of the rest is the file's start; the remainder is its end.
    if (size == 0)
        return 0;
    const std::size_t start = std::min<std::size_t>(data[0] * 4, size - 1);
    std::vector<std::byte> file(reinterpret_cast<const std::byte*>(data + 1),
                                reinterpret_cast<const std::byte*>(data + size));
    file.insert(file.begin() + std::ptrdiff_t(start), 64, std::byte{0x55});
    const std::optional<tag::OtherTag> other = tag::readOtherTag(file);
    if (!other)
        return 0;
    FUZZ_CHECK(!other->empty());
    const browse::Row row = write::importedRow(browse::Row{}, *other);
    const tag::TagRecord record = write::recordFor(row);
    for (const tag::TextField& f : tag::kTextFields)
        FUZZ_CHECK((record.*f.text).size() <= f.width);
    FUZZ_CHECK(row.genre.isEmpty() || record.genre < tag::kGenreCount);
    if (const auto trailer = tag::renderTrailer(record)) {
        const tag::TagRecord back = tag::parseTrailer(*trailer);
        static const QRegularExpression blanksAtEnds(QStringLiteral("^ +| +\\z"));
        for (const tag::TextField& f : tag::kTextFields)
            FUZZ_CHECK(back.*f.text == QString(record.*f.text).remove(blanksAtEnds));
        FUZZ_CHECK(back.genre ==
                   (record.genre >= 0 && record.genre < tag::kGenreCount ? record.genre : -1));
    }
    return 0;
}
