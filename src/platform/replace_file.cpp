#include "platform/replace_file.h"

#include "platform/folders.h"
#include "platform/names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace sorvel::platform {
namespace {

// Writes all of `data`, going on after interrupted or partial writes. Returns 0 or an errno value.
int writeAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::write(fd, data.constData() + done, static_cast<std::size_t>(data.size() - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;
        }
        done += n;
    }
    return 0;
}

// Creates `folder` and the folders above it that are missing. Returns 0 or an errno value.
int makeFolders(const QByteArray& folder) {
    for (qsizetype at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder.at(at) != '/') {
            continue;
        }
        const QByteArray part = folder.left(at);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
    }
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0) {
        return errno;
    }
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// The temporary files of saves that never finished (the program was killed, the machine lost
// power) would otherwise pile up beside id3.ini, one per such save. A save holds a lock on its
// temporary file for as long as it exists, so a file whose lock can be taken belongs to a save
// that is over; one that is locked belongs to another instance saving right now and stays.
void removeStaleTemporaries(const QByteArray& folder, const QByteArray& prefix) {
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr) {
        return;
    }
    const int dfd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= static_cast<std::size_t>(prefix.size()) ||
            name.substr(0, prefix.size()) != std::string_view(prefix.constData(), prefix.size()) ||
            !std::all_of(name.begin() + prefix.size(), name.end(),
                         [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); })) {
            continue;
        }
        const int fd = ::openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat held {};
        struct stat named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
            S_ISREG(held.st_mode) &&
            ::fstatat(dfd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            ::unlinkat(dfd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace

Code replaceFile(const QString& target, const QByteArray& text) {
    const QByteArray path = encodeName(target);
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArrayLiteral(".")
                              : slash == 0 ? "/"
                                           : path.left(slash);
    if (const int err = makeFolders(folder); err != 0) {
        return codeFromErrno(err);
    }

    const QByteArray tempPrefix = path.mid(slash + 1) + ".tmp";
    removeStaleTemporaries(folder, tempPrefix);

    // A new file beside the old one that replaces it only once it is complete and on disk.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = path + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return codeFromErrno(errno);
        }
    }
    if (fd < 0) {
        return code::kFileExists;
    }
    // Held until the file is renamed or removed, through a second descriptor that outlives the
    // checked close: it tells a save in progress from a dead one's leftover
    // (removeStaleTemporaries). A file system without locks only loses that clean-up.
    ::flock(fd, LOCK_EX);
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    int err = writeAll(fd, text);
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0 && errno != EINTR) {
        err = errno;
    }
    if (err == 0 && ::rename(temp.constData(), path.constData()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temp.constData());
    }
    if (held >= 0) {
        ::close(held);
    }
    if (err != 0) {
        return codeFromErrno(err);
    }
    // The rename itself is made durable too; a failure here leaves a complete file either way.
    if (const int dfd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return code::kOk;
}

bool writableFolder(const QString& folder) {
    return ::access(encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool holdsInstalledPrograms(const QString& folder) {
    // Put there by a package or by an install into /usr/local: removing the package would leave
    // a file written there behind. Root can write there all the same.
    return folder == u"/usr" || folder.startsWith(u"/usr/");
}

QString configFolder() {
    // Relative values are to be ignored, as the XDG base directory rules say.
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    return xdg.startsWith('/')
               ? decodeName(std::string_view(xdg.constData(), static_cast<std::size_t>(xdg.size())))
               : joinPath(homeFolder(), QStringLiteral(".config"));
}

}  // namespace sorvel::platform
