// Names both ways. From a file name to a tag (every fil2tagNr the menu offers, and out-of-range
// values a hand-edited id3.ini may hold): the fields fit a trailer. From a tag to a file name: a
// name the rename accepts is one the file system takes as a single plain entry, and the rename
// really makes that entry.

#include "fileops/fileops.h"
#include "fuzz_check.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "tag/cp1252.h"
#include "tag/tag.h"
#include "write/engine.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

using namespace sorvel;

namespace {

void checkFileNameToTag(const QString& name, int fil2tagNr) {
    const write::ArtistTitle at = write::splitFileName(name, fil2tagNr);
    FUZZ_CHECK(at.artist.size() <= tag::kTextWidth);
    FUZZ_CHECK(at.title.size() <= tag::kTextWidth);
    tag::TagRecord record;
    record.artist = at.artist;
    record.title = at.title;
    const auto trailer = tag::renderTrailer(record);
    // Text the code page cannot hold is refused, never stored in part.
    FUZZ_CHECK(trailer.has_value() == (tag::fits1252(at.artist) && tag::fits1252(at.title)));
}

void checkTagToFileName(const QString& artist, const QString& title) {
    const std::optional<QString> name = fileops::nameFromTag(artist, title);
    if (!name)
        return;
    for (const QChar c : platform::kRefusedInName)
        FUZZ_CHECK(!name->contains(c));
    if (platform::checkNewName(*name) != code::kOk)
        return;
    FUZZ_CHECK(!name->isEmpty() && !name->startsWith(u'.'));
    FUZZ_CHECK(std::all_of(name->begin(), name->end(), platform::allowedInName));
    const QString file = platform::mp3Name(*name);
    FUZZ_CHECK(platform::encodeName(file).size() <= 255);

    // The file system agrees: the rename makes exactly that one entry, listed under that name.
    // The file starts hidden, under a name no accepted one can be.
    static const QString katalog = fuzz::scratchPath({});
    static platform::PosixFileSystem fs;
    const QString hidden = platform::mp3Name(QStringLiteral(".x"));
    if (FILE* f = std::fopen(platform::encodeName(katalog + hidden).constData(), "wb"))
        std::fclose(f);
    FUZZ_CHECK(platform::renameMp3(fs, katalog, hidden, *name) == code::kOk);
    std::vector<QString> listed;
    std::size_t count = 0;
    FUZZ_CHECK(fs.listMp3(katalog, &listed, count) == code::kOk);
    FUZZ_CHECK(listed.size() == 1 && listed.front() == file);
    FUZZ_CHECK(fs.remove(katalog + file) == code::kOk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int fil2tagNr = static_cast<int>(data[0] % 9) - 2;  // -2..6; the menu sets 0..4
    const std::size_t split = std::min<std::size_t>(data[1], size - 2);
    const auto rest = std::as_bytes(std::span(data + 2, size - 2));

    checkFileNameToTag(
        platform::decodeName(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2)),
        fil2tagNr);
    // Tags are read as Windows-1252, a character a byte.
    checkTagToFileName(tag::decode1252(rest.first(split)), tag::decode1252(rest.subspan(split)));
    return 0;
}
