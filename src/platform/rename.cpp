#include "platform/filesystem.h"
#include "platform/names.h"

#include <array>

namespace sorvel::platform {

Code checkNewName(const QString& base) {
    // A name without a visible stem would leave a hidden file that the list never shows again.
    if (base.isEmpty() || base.startsWith(u'.'))
        return code::kBadFileName;
    for (const QChar c : base) {
        switch (c.unicode()) {
            case u'"':
            case u'?':
            case u'*':
            case u'/':
            case u'\\':
            case u':':
            case u'<':
            case u'>':
            case u'|':
                return code::kBadFileName;
            default:
                // Control characters, DEL and the C1 range included (a tag's undefined
                // Windows-1252 bytes read as C1), make a name that file managers and terminals
                // show as something else or not at all.
                if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                    return code::kBadFileName;
        }
    }
    if (encodeName(base + QStringLiteral(".mp3")).size() > 255)
        return code::kBadFileName;
    static const std::array<QString, 11> kReserved = {
        QStringLiteral("CON"),  QStringLiteral("AUX"),  QStringLiteral("COM1"),
        QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
        QStringLiteral("LPT1"), QStringLiteral("LPT2"), QStringLiteral("LPT3"),
        QStringLiteral("PRN"),  QStringLiteral("NUL")};
    for (const QString& reserved : kReserved) {
        if (base.compare(reserved, Qt::CaseInsensitive) == 0)
            return code::kAccess;
    }
    return code::kOk;
}

Code renameMp3(FileSystem& fs, const QString& katalog, const QString& oldFile,
               const QString& newBase) {
    if (const Code c = checkNewName(newBase); c != code::kOk)
        return c;
    // A file whose name differs from the new one only in the letter case of its ending would be
    // listed under the same name: it is in the way too, unless it may be the file itself on a
    // medium that ignores case (the file system tells those apart).
    for (const char* ending : {".MP3", ".Mp3", ".mP3"}) {
        const QString other = newBase + QLatin1StringView(ending);
        if (other.compare(oldFile, Qt::CaseInsensitive) != 0 && fs.exists(katalog + other))
            return code::kFileExists;
    }
    return fs.rename(katalog + oldFile, katalog + newBase + QStringLiteral(".mp3"));
}

}  // namespace sorvel::platform
