#include "platform/folders.h"

#include "platform/folder_entries.h"
#include "platform/names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>

namespace sorvel::platform {

Code listFolders(const QString& folder, std::vector<QString>& names) {
    return forEachEntry(
        folder, S_IFDIR, [](std::string_view) { return true; },
        [&](std::string_view name) { names.push_back(decodeName(name)); });
}

Code checkFolder(const QString& path) {
    const QByteArray p = encodeName(path);
    DIR* dir = ::opendir(p.constData());
    if (dir == nullptr) {
        return codeFromErrno(errno);
    }
    ::closedir(dir);
    return code::kOk;
}

}  // namespace sorvel::platform
