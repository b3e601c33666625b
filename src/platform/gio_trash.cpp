#include "platform/gio_trash.h"

#include "platform/names.h"

#include <gio/gio.h>

namespace sorvel::platform {
namespace {

Code codeFromGioError(const GError* error) {
    if (error == nullptr || error->domain != G_IO_ERROR)
        return code::kAccess;
    switch (error->code) {
        case G_IO_ERROR_NOT_FOUND:
            return code::kFileNotFound;
        case G_IO_ERROR_EXISTS:
            return code::kFileExists;
        case G_IO_ERROR_NO_SPACE:
            return code::kDiskFull;
        case G_IO_ERROR_NOT_DIRECTORY:
            return code::kPathNotFound;
        case G_IO_ERROR_FILENAME_TOO_LONG:
        case G_IO_ERROR_INVALID_FILENAME:
            return code::kBadFileName;
        default:
            // Refused: no permission, a read-only medium, a file system without a trash.
            return code::kAccess;
    }
}

}  // namespace

Code GioTrash::moveToTrash(const QString& path) {
    // GIO takes the path as the bytes the file system holds, so the file is reached by its own
    // name.
    GFile* file = g_file_new_for_path(encodeName(path).constData());
    GError* error = nullptr;
    const gboolean trashed = g_file_trash(file, nullptr, &error);
    const Code result = trashed ? code::kOk : codeFromGioError(error);
    if (error != nullptr)
        g_error_free(error);
    g_object_unref(file);
    return result;
}

}  // namespace sorvel::platform
