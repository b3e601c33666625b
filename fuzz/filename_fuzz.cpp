// Names both ways. From a file name to a tag (every fil2tagNr the menu offers, and out-of-range
// values a hand-edited id3.ini may hold): the fields fit a trailer, and text the code page cannot
// hold is refused, never stored in part. From a tag (read as Windows-1252, a character a byte) to
// a file name: a name the rename accepts is one the file system takes as a single plain entry,
// and the rename really makes that entry, listed under that name. The file starts hidden, under a
// name no accepted one can be.

#include "fileops/fileops.h"
#include "fuzz_check.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "tag/cp1252.h"
#include "tag/tag.h"
#include "write/engine.h"

using namespace sorvel;
using namespace sorvel::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int fil2tagNr = static_cast<int>(data[0] % 9) - 2;  // -2..6; the menu sets 0..4
    const auto rest = std::as_bytes(std::span(data + 2, size - 2));
    const auto at = write::splitFileName(
        decodeName({reinterpret_cast<const char*>(data + 2), size - 2}), fil2tagNr);
    FUZZ_CHECK(at.artist.size() <= tag::kTextWidth && at.title.size() <= tag::kTextWidth);
    const auto trailer = tag::renderTrailer({.title = at.title, .artist = at.artist});
    FUZZ_CHECK(trailer.has_value() == (tag::fits1252(at.artist) && tag::fits1252(at.title)));

    const std::size_t split = std::min<std::size_t>(data[1], size - 2);
    const std::optional<QString> name = fileops::nameFromTag(tag::decode1252(rest.first(split)),
                                                             tag::decode1252(rest.subspan(split)));
    if (!name)
        return 0;
    for (const QChar c : kRefusedInName)
        FUZZ_CHECK(!name->contains(c));
    if (checkNewName(*name) != code::kOk)
        return 0;
    FUZZ_CHECK(!name->startsWith(u'.') && std::all_of(name->begin(), name->end(), allowedInName));
    static const QString katalog = fuzz::scratchFile(QStringLiteral(".x.mp3"), {}).chopped(6);
    static PosixFileSystem fs;
    const QString file = mp3Name(*name);
    fuzz::scratchFile(QStringLiteral(".x.mp3"), {});
    FUZZ_CHECK(renameMp3(fs, katalog, QStringLiteral(".x.mp3"), *name) == code::kOk);
    std::vector<QString> listed;
    std::size_t count = 0;
    FUZZ_CHECK(fs.listMp3(katalog, &listed, count) == code::kOk);
    FUZZ_CHECK(listed == std::vector{file} && fs.remove(katalog + file) == code::kOk);
    return 0;
}
