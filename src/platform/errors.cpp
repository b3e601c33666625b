#include "platform/errors.h"

#include <cerrno>

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

}  // namespace sorvel
