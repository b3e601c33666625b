#include "tag/cp1252.h"

#include <array>

namespace sorvel::tag {
namespace {

// 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char16_t, 256> makeDecodeTable() {
    std::array<char16_t, 256> t{};
    for (std::size_t b = 0; b < 256; ++b) {
        t[b] = (b >= 0x80 && b < 0xA0) ? kHigh[b - 0x80] : static_cast<char16_t>(b);
    }
    return t;
}

constexpr std::array<char16_t, 256> kDecode = makeDecodeTable();

}  // namespace

QString decode1252(std::span<const std::byte> bytes) {
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* dst = out.data();
    for (const std::byte b : bytes)
        *dst++ = QChar(kDecode[static_cast<unsigned char>(b)]);
    return out;
}

int encode1252(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == u)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

bool fits1252(const QString& text) {
    for (const QChar c : text) {
        if (encode1252(c) < 0)
            return false;
    }
    return true;
}

}  // namespace sorvel::tag
