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
// of units, or -1 for bytes that are not UTF-8.
qsizetype decodeUtf8(const QChar* s, qsizetype n, QChar* out) {
    qsizetype units = 0;
    qsizetype i = 0;
    while (i < n) {
        char32_t code = 0;
        const auto at = [s = s + i](std::size_t k) { return byteOf(s[k]); };
        const std::size_t length =
            platform::utf8Sequence(at, static_cast<std::size_t>(n - i), code);
        if (length == 0)
            return -1;
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
        i += static_cast<qsizetype>(length);
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
