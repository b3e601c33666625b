#include "platform/filesystem.h"
#include "platform/folder_entries.h"
#include "platform/folders.h"
#include "platform/names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace sorvel::platform {
namespace {

bool endsWithMp3(std::string_view name) {
    if (name.size() < 4)
        return false;
    const char* e = name.data() + name.size() - 4;
    return e[0] == '.' && (e[1] == 'm' || e[1] == 'M') && (e[2] == 'p' || e[2] == 'P') &&
           e[3] == '3';
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the folder lists an entry of exactly this name. A file system that ignores case finds a
// file under every case of its name but lists it under one; FUSE daemons that number files by
// name (exfat-fuse) even give each spelling an inode of its own, so the numbers cannot tell.
bool listedAs(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : path.left(slash + 1);
    const QByteArray name = path.mid(slash + 1);
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return true;  // unknown, so taken: nothing is renamed over it
    bool listed = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (name == entry->d_name) {
            listed = true;
            break;
        }
    }
    ::closedir(dir);
    return listed;
}

// Whether link() answered that the file system keeps no hard links at all (exFAT and FAT through
// FUSE answer EPERM), rather than refusing this one move as a rename would too.
bool noHardLinks(int err) {
    return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK;
}

// For file systems with neither a no-replace rename nor hard links: the new name is taken first by
// an empty file of our own, which succeeds only while the name is free, and the rename then
// replaces nothing but that file. Answers 0 or an errno value.
int moveOverReservation(const char* from, const char* to) {
    const int fd = ::open(to, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errno;
    struct stat reserved {};
    const bool known = ::fstat(fd, &reserved) == 0;
    ::close(fd);
    if (::rename(from, to) == 0)
        return 0;
    const int err = errno;
    // Only our own file goes, and only while it is still empty: should the rename have been made
    // after all, or anyone have written there, what stands under the name is kept.
    struct stat now {};
    if (known && ::lstat(to, &now) == 0 && sameFile(now, reserved) && S_ISREG(now.st_mode) &&
        now.st_size == 0) {
        ::unlink(to);
    }
    return err;
}

}  // namespace

Code PosixFileSystem::listMp3(const QString& folder, std::vector<QString>* names,
                              std::size_t& count) {
    count = 0;
    return forEachEntry(encodeName(folder).constData(), S_IFREG, endsWithMp3,
                        [&](std::string_view name) {
                            ++count;
                            if (names != nullptr) {
                                names->push_back(decodeName(name));
                            }
                        });
}

Code FileSystem::probeFolder(const QString&) {
    return code::kOk;
}

Code PosixFileSystem::probeFolder(const QString& folder) {
    return checkFolder(folder);
}

Code PosixFileSystem::open(const QString& path, Access access, int& fd, std::uint64_t& size) {
    fd = -1;
    size = 0;
    QByteArray native = encodeName(path);
    // O_NONBLOCK: a FIFO or device that took a listed name must not stall the program.
    const int flags =
        (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int f = ::open(native.constData(), flags);
    if (f < 0)
        return codeFromErrno(errno);
    struct stat st {};
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(f);
        return code::kAccess;
    }
    fd = f;
    size = static_cast<std::uint64_t>(st.st_size);
    return code::kOk;
}

Code PosixFileSystem::readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) {
    std::size_t done = 0;
    while (done < buf.size()) {
        const ssize_t n =
            ::pread(fd, buf.data() + done, buf.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return codeFromErrno(errno);
        }
        if (n == 0)
            return code::kDeviceIo;  // the file became shorter under us
        done += static_cast<std::size_t>(n);
    }
    return code::kOk;
}

Code PosixFileSystem::writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return codeFromErrno(errno);
        }
        if (n == 0)
            return code::kDiskFull;
        done += static_cast<std::size_t>(n);
    }
    return code::kOk;
}

Code PosixFileSystem::truncate(int fd, std::uint64_t size) {
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR)
            return codeFromErrno(errno);
    }
    return code::kOk;
}

Code PosixFileSystem::close(int fd) {
    if (fd < 0)
        return code::kOk;
    // Linux frees the descriptor even when close reports EINTR, so it is never closed twice.
    if (::close(fd) != 0 && errno != EINTR)
        return codeFromErrno(errno);
    return code::kOk;
}

int PosixFileSystem::renameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0 ? 0 : errno;
}

Code PosixFileSystem::rename(const QString& from, const QString& to) {
    const QByteArray src = encodeName(from);
    const QByteArray dst = encodeName(to);
    struct stat srcStat {};
    if (::lstat(src.constData(), &srcStat) != 0)
        return codeFromErrno(errno);
    if (from == to)
        return code::kOk;  // a file renamed to its own name is already done

    struct stat dstStat {};
    if (::lstat(dst.constData(), &dstStat) == 0) {
        // The source itself under a name that differs only in letter case: a file system that
        // ignores case. Go through a temporary name so that nothing is replaced. Anything else of
        // that name is in the way. exfat-fuse gives each spelling of a name an inode number of
        // its own; that the folder does not list the exact name tells it is the source.
        const bool itself = sameFile(srcStat, dstStat) || !listedAs(dst);
        if (!itself || QString::compare(from, to, Qt::CaseInsensitive) != 0)
            return code::kFileExists;
        return codeFromErrno(moveThroughTemporary(src, dst));
    }

    return codeFromErrno(moveNoReplace(src.constData(), dst.constData()));
}

int PosixFileSystem::moveThroughTemporary(const QByteArray& src, const QByteArray& dst) {
    // The middle name is short, so that a name near the length limit still has room, and it is
    // one the list shows: should both later steps fail, the file is still there after a rescan.
    const qsizetype slash = src.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : src.left(slash + 1);
    const QByteArray stem = folder + "sorvel-byt-" + QByteArray::number(::getpid()) + '-';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray tmp = stem + QByteArray::number(attempt) + ".mp3";
        int err = moveNoReplace(src.constData(), tmp.constData());
        if (err == EEXIST)
            continue;
        if (err != 0)
            return err;
        err = moveNoReplace(tmp.constData(), dst.constData());
        if (err != 0)
            moveNoReplace(tmp.constData(), src.constData());  // the old name was ours
        return err;
    }
    return EEXIST;
}

int PosixFileSystem::moveNoReplace(const char* from, const char* to) {
    const int err = renameNoReplace(from, to);
    if (err != EINVAL && err != ENOSYS)
        return err;
    // Some file systems (NFS, FUSE) know no RENAME_NOREPLACE; a hard link cannot replace anything
    // either, and the old name goes only once the new one stands.
    if (::link(from, to) != 0)
        return noHardLinks(errno) ? moveOverReservation(from, to) : errno;
    if (::unlink(from) != 0) {
        const int unlinkErr = errno;
        ::unlink(to);
        return unlinkErr;
    }
    return 0;
}

Code PosixFileSystem::remove(const QString& path) {
    const QByteArray native = encodeName(path);
    return ::unlink(native.constData()) == 0 ? code::kOk : codeFromErrno(errno);
}

bool PosixFileSystem::exists(const QString& path) {
    struct stat st {};
    return ::lstat(encodeName(path).constData(), &st) == 0;
}

Code PosixFileSystem::openToRead(const QString& path, int& fd, std::uint64_t& size) {
    const Code c = open(path, Access::Read, fd, size);
    // open() refuses what is no regular file as it refuses a file it may not read.
    struct stat st {};
    if (c == code::kAccess && ::stat(encodeName(path).constData(), &st) == 0 &&
        !S_ISREG(st.st_mode))
        return code::kNotRegularFile;
    return c;
}

Code PosixFileSystem::listFolders(const QString& folder, std::vector<QString>& names) {
    return platform::listFolders(folder, names);
}

Code PosixFileSystem::checkFolder(const QString& path) {
    return platform::checkFolder(path);
}

}  // namespace sorvel::platform
