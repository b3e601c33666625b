#include "platform/folders.h"

#include "platform/folder_entries.h"
#include "platform/names.h"
#include "platform/probe.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sorvel::platform {

Code listFolders(const QString& folder, std::vector<QString>& names) {
    std::string native = encodeName(folder).toStdString();
    std::string key = "list " + native;
    const std::optional<Finding> found = ask(std::move(key), [native = std::move(native)] {
        Finding f;
        f.code = forEachEntry(
            native.c_str(), S_IFDIR, [](std::string_view) { return true; },
            [&](std::string_view name) { f.names.emplace_back(name); });
        return f;
    });
    if (!found) {
        return code::kDeviceUnavailable;
    }
    for (const std::string& name : found->names) {
        names.push_back(decodeName(name));
    }
    return found->code;
}

Code checkFolder(const QString& path) {
    std::string native = encodeName(path).toStdString();
    std::string key = "open " + native;
    const std::optional<Finding> found = ask(std::move(key), [native = std::move(native)] {
        Finding f;
        DIR* dir = ::opendir(native.c_str());
        if (dir == nullptr) {
            f.code = codeFromErrno(errno);
        } else {
            ::closedir(dir);
        }
        return f;
    });
    return found ? found->code : code::kDeviceUnavailable;
}

WalkedFolder walkFolder(const QString& folder) {
    WalkedFolder w;
    DIR* dir = ::opendir(encodeName(folder).constData());
    if (dir == nullptr) {
        w.code = codeFromErrno(errno);
        return w;
    }
    struct stat st {};
    if (::fstat(::dirfd(dir), &st) == 0) {
        w.device = st.st_dev;
        w.inode = st.st_ino;
    }
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        // The type the directory gives is the entry's own, never a link's target.
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat entry {};
            isFolder = ::fstatat(::dirfd(dir), e->d_name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(entry.st_mode);
        }
        if (isFolder)
            w.names.push_back(decodeName(e->d_name));
        errno = 0;
    }
    if (errno != 0)
        w.code = codeFromErrno(errno);
    ::closedir(dir);
    return w;
}

Code reachPath(const QString& path, bool& isFolder) {
    struct stat st {};
    if (::stat(encodeName(path).constData(), &st) != 0)
        return codeFromErrno(errno);
    isFolder = S_ISDIR(st.st_mode);
    return code::kOk;
}

QString homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return decodeName(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return decodeName(pw->pw_dir);
    return QString(nativeSeparator());
}

QString joinPath(const QString& folder, const QString& name) {
    const QChar sep = nativeSeparator();
    return folder.endsWith(sep) ? folder + name : folder + sep + name;
}

QString absolutePath(const QString& path) {
    if (path.startsWith(nativeSeparator()))
        return path;
    std::array<char, 4096> cwd{};
    if (::getcwd(cwd.data(), cwd.size()) == nullptr)
        return path;
    return joinPath(decodeName(cwd.data()), path);
}

}  // namespace sorvel::platform
