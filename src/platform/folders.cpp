#include "platform/folders.h"

#include "platform/names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>

namespace sorvel::platform {

Code listFolders(const QString& folder, std::vector<QString>& names) {
    const QByteArray path = encodeName(folder);
    DIR* dir = ::opendir(path.constData());
    if (dir == nullptr)
        return codeFromErrno(errno);
    const int dfd = ::dirfd(dir);
    Code result = code::kOk;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (e == nullptr) {
            result = codeFromErrno(errno);
            break;
        }
        if (e->d_name[0] == '.')
            continue;  // ".", ".." and hidden folders
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            isDir = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            names.push_back(decodeName(std::string_view(e->d_name, std::strlen(e->d_name))));
    }
    ::closedir(dir);
    return result;
}

Code checkFolder(const QString& path) {
    const QByteArray p = encodeName(path);
    DIR* dir = ::opendir(p.constData());
    if (dir == nullptr)
        return codeFromErrno(errno);
    ::closedir(dir);
    return code::kOk;
}

}  // namespace sorvel::platform
