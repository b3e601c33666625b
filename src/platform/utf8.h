#pragma once

#include <cstddef>

namespace sorvel::platform {

/// The one UTF-8 sequence at the start of `left` bytes, each given by `byteAt(k)` as 0..255 (or
/// -1 for a position that stands for no byte): its length, with its code point in `cp`, or 0 when
/// the bytes begin no valid sequence. RFC 3629: no overlong forms, no surrogates, nothing above
/// U+10FFFF; the narrower bounds of the first continuation byte after E0, ED, F0 and F4 say
/// exactly that. File names and stored fields are both read through this.
template <class ByteAt>
constexpr std::size_t utf8Sequence(ByteAt byteAt, std::size_t left, char32_t& cp) {
    const int lead = byteAt(std::size_t{0});
    std::size_t length = 1;
    int low = 0x80;
    int high = 0xBF;
    if (lead < 0) {
        return 0;
    } else if (lead < 0x80) {
        cp = static_cast<char32_t>(lead);
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = static_cast<char32_t>(lead & 0x1F);
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = static_cast<char32_t>(lead & 0x0F);
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = static_cast<char32_t>(lead & 0x07);
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const int b = byteAt(k);
        if (b < low || b > high)
            return 0;
        low = 0x80;
        high = 0xBF;
        cp = (cp << 6) | static_cast<char32_t>(b & 0x3F);
    }
    return length;
}

/// Writes code point `cp` as its UTF-8 bytes, each given to `put` as 0..255: the encoding that
/// utf8Sequence() reads, in one place for file names and for text shown in a terminal.
template <class Put>
constexpr void putUtf8(char32_t cp, Put put) {
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | (cp >> 6));
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | (cp >> 12));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | (cp >> 18));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

}  // namespace sorvel::platform
