#include "cli/escape.h"

namespace sorvel::cli {
namespace {

enum class Form { Column, Json, Message };

void hex(QByteArray& out, const char* prefix, char32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 0xF];
}

void utf8(QByteArray& out, char32_t c) {
    const auto byte = [&](char32_t b) { out += static_cast<char>(b); };
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xC0 | (c >> 6));
        byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        byte(0xE0 | (c >> 12));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    } else {
        byte(0xF0 | (c >> 18));
        byte(0x80 | ((c >> 12) & 0x3F));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    }
}

// Characters a terminal may act on although they are valid text.
bool controlling(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

void escape(QByteArray& out, char32_t c, bool lone, Form form) {
    const bool json = form == Form::Json;
    if (form == Form::Message && (c == u'\\' || c == u'\n'))
        out += static_cast<char>(c);
    else if (c == u'\\')
        out += "\\\\";
    else if (json && c == u'"')
        out += "\\\"";
    else if (c == u'\t')
        out += "\\t";
    else if (c == u'\n')
        out += "\\n";
    else if (c == u'\r')
        out += "\\r";
    else if (!json && lone && c >= 0xDC80 && c <= 0xDCFF)
        hex(out, "\\x", c - 0xDC00, 2);
    else if (!json && (c < 0x20 || c == 0x7F))
        hex(out, "\\x", c, 2);
    else if (lone || controlling(c))
        hex(out, "\\u", c, 4);
    else
        utf8(out, c);
}

void append(QByteArray& out, const QString& text, Form form) {
    const qsizetype n = text.size();
    const QChar* s = text.constData();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i].unicode();
        // Most of what a tag or a name holds is plain ASCII, taken as it is.
        if (c >= 0x20 && c < 0x7F && c != u'\\' && c != u'"') {
            out += static_cast<char>(c);
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            escape(out, QChar::surrogateToUcs4(c, s[i + 1].unicode()), false, form);
            ++i;
        } else {
            escape(out, c, QChar::isSurrogate(c), form);
        }
    }
}

}  // namespace

void appendText(QByteArray& out, const QString& text) {
    append(out, text, Form::Column);
}

void appendJson(QByteArray& out, const QString& text) {
    out += '"';
    append(out, text, Form::Json);
    out += '"';
}

QByteArray messageText(const QString& text) {
    QByteArray out;
    append(out, text, Form::Message);
    return out;
}

}  // namespace sorvel::cli
