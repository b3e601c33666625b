#include "cli/escape.h"
#include "platform/utf8.h"

namespace sorvel::cli {
namespace {

enum class Form { Column, Json, Message };

void hex(std::string& out, const char* prefix, char32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 0xF];
}

void utf8(std::string& out, char32_t c) {
    platform::putUtf8(c, [&](char32_t b) { out += static_cast<char>(b); });
}

// Characters a terminal may act on although they are valid text.
bool controlling(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

void escape(std::string& out, char32_t c, bool lone, Form form) {
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

bool plain(char16_t c) {
    return c >= 0x20 && c < 0x7F && c != u'\\' && c != u'"';
}

void append(std::string& out, const QString& text, Form form) {
    const qsizetype n = text.size();
    const QChar* s = text.constData();
    for (qsizetype i = 0; i < n;) {
        // Most of what a tag or a name holds is plain ASCII, copied a run at a time.
        qsizetype j = i;
        while (j < n && plain(s[j].unicode()))
            ++j;
        if (j > i) {
            const std::size_t at = out.size();
            out.resize(at + static_cast<std::size_t>(j - i));
            char* d = out.data() + at;
            for (; i < j; ++i)
                *d++ = static_cast<char>(s[i].unicode());
            continue;
        }
        const char16_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            escape(out, QChar::surrogateToUcs4(c, s[i + 1].unicode()), false, form);
            i += 2;
        } else {
            escape(out, c, QChar::isSurrogate(c), form);
            ++i;
        }
    }
}

}  // namespace

void appendText(std::string& out, const QString& text) {
    append(out, text, Form::Column);
}

void appendJson(std::string& out, const QString& text) {
    out += '"';
    append(out, text, Form::Json);
    out += '"';
}

std::string messageText(const QString& text) {
    std::string out;
    append(out, text, Form::Message);
    return out;
}

}  // namespace sorvel::cli
