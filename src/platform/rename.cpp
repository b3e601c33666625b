#include "platform/filesystem.h"
#include "platform/names.h"

#include <algorithm>
#include <array>

namespace sorvel::platform {

Code checkNewName(const QString& base) {
    // A name without a visible stem would leave a hidden file that the list never shows again.
    if (base.isEmpty() || base.startsWith(u'.'))
        return code::kBadFileName;
    if (!std::all_of(base.begin(), base.end(), allowedInName))
        return code::kBadFileName;
    if (encodeName(mp3Name(base)).size() > 255)
        return code::kBadFileName;
    static const std::array<QString, 11> kReserved = {
        QStringLiteral("CON"),  QStringLiteral("AUX"),  QStringLiteral("COM1"),
        QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
        QStringLiteral("LPT1"), QStringLiteral("LPT2"), QStringLiteral("LPT3"),
        QStringLiteral("PRN"),  QStringLiteral("NUL")};
    for (const QString& reserved : kReserved) {
        if (base.compare(reserved, Qt::CaseInsensitive) == 0)
            return code::kReservedName;
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
    return fs.rename(katalog + oldFile, katalog + mp3Name(newBase));
}

}  // namespace sorvel::platform
