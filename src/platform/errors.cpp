#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace sorvel {

Code codeFromErrno(int err) {
    switch (err) {
        case 0:
            return code::kOk;
        case ENOENT:
            return code::kFileNotFound;
        case ENOTDIR:
        case ELOOP:
            return code::kPathNotFound;
        case EEXIST:
        case ENOTEMPTY:
            return code::kFileExists;
        case ENAMETOOLONG:
        case EILSEQ:
            return code::kBadFileName;
        case EACCES:
        case EPERM:
        case EROFS:
        case EBUSY:
        case ETXTBSY:
        case EISDIR:
            return code::kAccess;
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
        case ESTALE:
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case ENOTCONN:
        case ECONNABORTED:
        case ECONNRESET:
        case ECONNREFUSED:
        case ETIMEDOUT:
        case ENETDOWN:
        case ENETUNREACH:
        case ENETRESET:
            return code::kDeviceUnavailable;
        case EIO:
            return code::kDeviceIo;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return code::kDiskFull;
        case EMFILE:
        case ENFILE:
            return code::kTooManyFiles;
        case EXDEV:
            return code::kCrossDevice;
        default:
            return code::kOtherBase + err;
    }
}

QString reason(Code c, Naming naming) {
    if (naming == Naming::Number)
        return QStringLiteral("fel av typen %1").arg(c);
    switch (c) {
        case code::kAccess:
            return QStringLiteral("skrivskyddad eller låst");
        case code::kFileNotFound:
        case code::kPathNotFound:
            return QStringLiteral("finns inte");
        case code::kBadArgument:
            return QStringLiteral("tecken som en tagg inte kan lagra");
        case code::kDiskFull:
            return QStringLiteral("disken är full");
        case code::kFileExists:
            return QStringLiteral("namnet är upptaget");
        case code::kChangedSince:
            return QStringLiteral("ändrad sedan dess");
        case code::kChangedOnDisk:
            return QStringLiteral("ändrad sedan listan lästes");
        case code::kNotMp3:
            return QStringLiteral("ingen MP3-fil");
        case code::kBadFileName:
            return QStringLiteral("ogiltigt filnamn");
        case code::kDeviceIo:
            return QStringLiteral("läs- eller skrivfel på enheten");
        case code::kTooManyFiles:
            return QStringLiteral("för många öppna filer");
        case code::kDeviceUnavailable:
            return QStringLiteral("enheten går inte att komma åt");
        case code::kCrossDevice:
            return QStringLiteral("på en annan enhet");
        case code::kNotRegularFile:
            return QStringLiteral("ingen vanlig fil");
        case code::kLinkNotMp3:
            return QStringLiteral("länken pekar inte på en MP3-fil");
        default:
            // What the system calls the failure, in the user's language where it has one.
            if (c > code::kOtherBase)
                return QString::fromLocal8Bit(std::strerror(c - code::kOtherBase));
            return reason(c, Naming::Number);
    }
}

}  // namespace sorvel
