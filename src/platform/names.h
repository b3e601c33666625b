#pragma once

#include <QByteArray>
#include <QString>
#include <string_view>

namespace sorvel::platform {

/// Decodes a file name (or path) as the system gives it. Valid UTF-8 becomes its characters; every
/// byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 + byte, so that
/// encodeName() gives back the very same bytes and the program reaches the same file.
QString decodeName(std::string_view bytes);

/// The inverse of decodeName(): lone surrogates U+DC80..U+DCFF become the raw bytes 0x80..0xFF,
/// everything else is written as UTF-8.
QByteArray encodeName(const QString& name);

/// The characters that no new file name may hold, as other systems give them a meaning.
inline constexpr std::u16string_view kRefusedInName = u"\"\\/:*?<>|";

/// Whether a new file name may hold `c`: none of kRefusedInName, and no control character (C0, DEL
/// or C1; a tag's undefined Windows-1252 bytes read as C1), which file managers and terminals show
/// as something else or not at all.
bool allowedInName(QChar c);

/// The name of the MP3 file `base` (a name without its ending), as the program makes new ones.
QString mp3Name(const QString& base);

/// The folder separator of this platform, which ends every folder path the program keeps.
QChar nativeSeparator();

}  // namespace sorvel::platform
