#include "cli/escape.h"

namespace sorvel::cli {
namespace {

// Characters a terminal may act on although they are valid text.
bool controlling(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

void hex(QByteArray& out, const char* prefix, unsigned value, int digits) {
    out += prefix;
    out += QByteArray::number(value, 16).toUpper().rightJustified(digits, '0');
}

void utf8(QByteArray& out, char32_t c) {
    const char32_t one[] = {c};
    out += QString::fromUcs4(one, 1).toUtf8();
}

// Calls `each(codePoint, lone)` for each code point of `text`; a lone surrogate comes as itself.
template <class Each>
void codePoints(const QString& text, Each each) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            each(QChar::surrogateToUcs4(c, text.at(i + 1)), false);
            ++i;
        } else {
            each(c.unicode(), c.isSurrogate());
        }
    }
}

QByteArray escaped(const QString& text, bool message) {
    QByteArray out;
    out.reserve(text.size());
    codePoints(text, [&](char32_t c, bool lone) {
        if (message && (c == u'\\' || c == u'\n'))
            utf8(out, c);
        else if (lone && c >= 0xDC80 && c <= 0xDCFF)
            hex(out, "\\x", c - 0xDC00, 2);
        else if (lone)
            hex(out, "\\u", c, 4);
        else if (c == u'\\')
            out += "\\\\";
        else if (c == u'\t')
            out += "\\t";
        else if (c == u'\n')
            out += "\\n";
        else if (c == u'\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F)
            hex(out, "\\x", c, 2);
        else if (controlling(c))
            hex(out, "\\u", c, 4);
        else
            utf8(out, c);
    });
    return out;
}

}  // namespace

QByteArray escapedText(const QString& text) {
    return escaped(text, false);
}

QByteArray messageText(const QString& text) {
    return escaped(text, true);
}

QByteArray jsonString(const QString& text) {
    QByteArray out = "\"";
    codePoints(text, [&](char32_t c, bool lone) {
        if (c == u'"')
            out += "\\\"";
        else if (c == u'\\')
            out += "\\\\";
        else if (c == u'\t')
            out += "\\t";
        else if (c == u'\n')
            out += "\\n";
        else if (c == u'\r')
            out += "\\r";
        else if (lone || controlling(c))
            hex(out, "\\u", c, 4);
        else
            utf8(out, c);
    });
    return out + '"';
}

}  // namespace sorvel::cli
