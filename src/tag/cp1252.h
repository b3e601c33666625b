#pragma once

#include <QString>
#include <cstddef>
#include <span>

namespace sorvel::tag {

/// Windows-1252, made total: the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
/// 0x9D) stand for the C1 control characters of the same value, so every byte is exactly one
/// character and back. NUL is a character like any other.
QString decode1252(std::span<const std::byte> bytes);

/// The byte for `c`, or -1 when Windows-1252 cannot hold it.
int encode1252(QChar c);

/// Whether every character of `text` has a byte in Windows-1252.
bool fits1252(const QString& text);

}  // namespace sorvel::tag
