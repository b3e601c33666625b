// Any byte string as a file name: decoded to text and encoded back it is the same bytes, so the
// program always reaches the file the system listed. Only bytes that are not UTF-8 become lone
// surrogates, and only those of U+DC80..U+DCFF, so text typed by a user (which never holds them)
// cannot collide with a decoded raw byte.

#include "fuzz_check.h"
#include "platform/names.h"

#include <cstdint>

using namespace sorvel::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const QString name = decodeName(bytes);
    FUZZ_CHECK(encodeName(name).toStdString() == bytes);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isHighSurrogate())
            FUZZ_CHECK(i + 1 < name.size() && name.at(++i).isLowSurrogate());
        else if (c.isLowSurrogate())
            FUZZ_CHECK(c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF);
    }
    const QString utf8 = QString::fromUtf8(bytes.data(), qsizetype(size));
    FUZZ_CHECK(utf8.toUtf8().toStdString() != bytes || name == utf8);
    return 0;
}
