#include "tag/utf8.h"

#include "tag/cp1252.h"

#include <algorithm>

namespace sorvel::tag {
namespace {

// The byte a stored character stands for, or -1; Latin-1 without a table, as most are.
int byteOf(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x80 || (u >= 0xA0 && u <= 0xFF) ? u : encode1252(c);
}

// Decodes the bytes `s` stands for as UTF-8 into `out` (which has room for `n` units, as no
// sequence is longer than its bytes), or only checks them when `out` is null. Answers the number
// of units, or -1 for bytes that are not UTF-8. RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF; the narrower bounds of the first continuation byte after E0, ED, F0
// and F4 say exactly that.
qsizetype decodeUtf8(const QChar* s, qsizetype n, QChar* out) {
    qsizetype units = 0;
    qsizetype i = 0;
    while (i < n) {
        const int lead = byteOf(s[i]);
        if (lead < 0x80) {
            if (lead < 0)
                return -1;
            if (out != nullptr)
                out[units] = QChar(static_cast<char16_t>(lead));
            ++units;
            ++i;
            continue;
        }
        qsizetype length = 0;
        char32_t code = 0;
        int low = 0x80;
        int high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = static_cast<char32_t>(lead & 0x1F);
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = static_cast<char32_t>(lead & 0x0F);
            low = lead == 0xE0 ? 0xA0 : low;
            high = lead == 0xED ? 0x9F : high;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = static_cast<char32_t>(lead & 0x07);
            low = lead == 0xF0 ? 0x90 : low;
            high = lead == 0xF4 ? 0x8F : high;
        } else {
            return -1;
        }
        if (n - i < length)
            return -1;
        for (qsizetype k = 1; k < length; ++k) {
            const int b = byteOf(s[i + k]);
            if (b < low || b > high)
                return -1;
            low = 0x80;
            high = 0xBF;
            code = (code << 6) | static_cast<char32_t>(b & 0x3F);
        }
        if (QChar::requiresSurrogates(code)) {
            if (out != nullptr) {
                out[units] = QChar(QChar::highSurrogate(code));
                out[units + 1] = QChar(QChar::lowSurrogate(code));
            }
            units += 2;
        } else {
            if (out != nullptr)
                out[units] = QChar(static_cast<char16_t>(code));
            ++units;
        }
        i += length;
    }
    return units;
}

}  // namespace

std::optional<QString> utf8Reading(const QString& stored) {
    const QChar* s = stored.constData();
    const qsizetype n = stored.size();
    // Nearly every field is ASCII, and most others fail the check early: neither allocates.
    qsizetype ascii = 0;
    while (ascii < n && s[ascii].unicode() < 0x80)
        ++ascii;
    if (ascii == n || decodeUtf8(s + ascii, n - ascii, nullptr) < 0)
        return std::nullopt;
    QString out(n, Qt::Uninitialized);
    QChar* dst = out.data();
    std::copy(s, s + ascii, dst);
    out.truncate(ascii + decodeUtf8(s + ascii, n - ascii, dst + ascii));
    return out;
}

}  // namespace sorvel::tag
