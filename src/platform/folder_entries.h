#pragma once

#include "platform/errors.h"

#include <dirent.h>
#include <sys/stat.h>
#include <cerrno>
#include <string_view>

namespace sorvel::platform {

/// Walks the entries of `folder` (as the system names it) whose names do not begin with "." (hidden
/// ones, "." and ".."), in the order the system lists them. `wanted(name)` picks names by their
/// text; for each of those that is of file type `kind` (S_IFREG or S_IFDIR, links followed)
/// `found(name)` is called. Only entries the directory does not type are looked at with a stat.
/// `hidden(name)` sees the names that begin with ".".
template <class Wanted, class Found, class Hidden>
Code forEachEntry(const char* folder, mode_t kind, Wanted&& wanted, Found&& found,
                  Hidden&& hidden) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return codeFromErrno(errno);
    }
    const int dfd = ::dirfd(dir);
    const unsigned char direct = kind == S_IFDIR ? DT_DIR : DT_REG;
    Code result = code::kOk;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            result = codeFromErrno(errno);
            break;
        }
        const std::string_view name(entry->d_name);
        if (name.front() == '.') {
            hidden(name);
            continue;
        }
        if (!wanted(name)) {
            continue;
        }
        bool typed = entry->d_type == direct;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            typed = ::fstatat(dfd, entry->d_name, &st, 0) == 0 && (st.st_mode & S_IFMT) == kind;
        }
        if (typed) {
            found(name);
        }
    }
    ::closedir(dir);
    return result;
}

template <class Wanted, class Found>
Code forEachEntry(const char* folder, mode_t kind, Wanted&& wanted, Found&& found) {
    return forEachEntry(folder, kind, wanted, found, [](std::string_view) {});
}

}  // namespace sorvel::platform
