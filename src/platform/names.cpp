#include "platform/names.h"

#include "platform/utf8.h"

#include <QDir>

namespace sorvel::platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

}  // namespace

// Both conversions write through a pointer into a buffer sized for the worst case: the folder
// scan converts every name and path, and appending one character at a time cost more than the
// system calls around it.

QString decodeName(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    // Never more UTF-16 units than bytes: four bytes make at most two units.
    QString out(static_cast<qsizetype>(n), Qt::Uninitialized);
    QChar* const begin = out.data();
    QChar* d = begin;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            *d++ = QChar(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const auto at = [q = p + i](std::size_t k) { return int{q[k]}; };
        const std::size_t len = platform::utf8Sequence(at, n - i, cp);
        if (len == 0) {
            *d++ = QChar(static_cast<char16_t>(kEscapeBase + b));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            *d++ = QChar(QChar::highSurrogate(cp));
            *d++ = QChar(QChar::lowSurrogate(cp));
        } else {
            *d++ = QChar(static_cast<char16_t>(cp));
        }
        i += len;
    }
    out.truncate(d - begin);
    return out;
}

QByteArray encodeName(const QString& name) {
    const qsizetype n = name.size();
    // At most three bytes a unit: a surrogate pair (two units) makes four.
    QByteArray out(n * 3, Qt::Uninitialized);
    char* const begin = out.data();
    char* d = begin;
    const QChar* s = name.constData();
    auto put = [&d](unsigned v) { *d++ = static_cast<char>(v); };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i].unicode();
        if (u < 0x80) {
            put(u);
            continue;
        }
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(u, s[i + 1].unicode());
            ++i;
        } else if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) {
            put(u - kEscapeBase);
            continue;
        }
        // Any other lone surrogate cannot come from decodeName(); it is written as UTF-8 of its
        // value, which no file system will match, rather than dropped.
        platform::putUtf8(cp, put);
    }
    out.truncate(d - begin);
    return out;
}

bool allowedInName(QChar c) {
    const char16_t u = c.unicode();
    return u >= 0x20 && !(u >= 0x7F && u <= 0x9F) &&
           kRefusedInName.find(u) == std::u16string_view::npos;
}

QString mp3Name(const QString& base) {
    return base + QStringLiteral(".mp3");
}

QChar nativeSeparator() {
    return QDir::separator();
}

}  // namespace sorvel::platform
