#include "platform/filesystem.h"
#include "platform/folder_entries.h"
#include "platform/folders.h"
#include "platform/names.h"
#include "platform/write_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <sys/file.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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

// The descriptor `f` that ::open() answered, kept only for a regular file; else -1, with `c` the
// reason. Only a folder refuses to be opened for writing as such.
int keepRegular(int f, Code& c) {
    if (f < 0) {
        c = errno == EISDIR ? code::kNotRegularFile : codeFromErrno(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
        c = code::kNotRegularFile;
        ::close(f);
        return -1;
    }
    return f;
}

// Opens a file to be written. A link is followed only to a regular file whose own name ends in
// ".mp3": a link in a music folder must not get a tag written into a document, a system file or
// anything else it leads to. The target is judged by its resolved path before it is opened, and
// the descriptor must then be that very file, so that a link changed in between cannot slip
// another file in.
int openToWrite(const char* path, int flags, Code& c) {
    const int f = ::open(path, flags | O_NOFOLLOW);
    if (f >= 0 || errno != ELOOP)
        return keepRegular(f, c);
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path, nullptr), &std::free);
    struct stat target {};
    c = code::kLinkNotMp3;
    if (real == nullptr || !endsWithMp3(real.get()) || ::stat(real.get(), &target) != 0 ||
        !S_ISREG(target.st_mode)) {
        return -1;
    }
    const int g = keepRegular(::open(real.get(), flags | O_NOFOLLOW), c);
    struct stat st {};
    if (g >= 0 && (::fstat(g, &st) != 0 || !sameFile(st, target))) {
        ::close(g);
        c = code::kLinkNotMp3;
        return -1;
    }
    return g;
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

// The hidden note beside a reservation (see moveOverReservation()): its name begins with this,
// then the process number; it holds the source's absolute path and the reserved name, each ended
// by a NUL.
constexpr std::string_view kNote = ".sorvel-reserve-";

// Written before a reservation is made, removed once it is done with, and locked meanwhile: a kill
// at any moment in between leaves the note, by which the next listing of the folder
// (clearReservations()) knows the empty file as this program's and removes it.
class ReservationNote {
public:
    ReservationNote(const char* from, const char* to) {
        const std::string_view target(to);
        const std::size_t slash = target.rfind('/');
        const std::string folder(target.substr(0, slash + 1));
        std::string text;
        if (*from != '/') {
            const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
            if (cwd == nullptr) {
                err_ = errno;
                return;
            }
            text = std::string(cwd.get()) + '/';
        }
        text.append(from).append(1, '\0').append(target.substr(slash + 1)).append(1, '\0');
        const std::string stem = folder + std::string(kNote) + std::to_string(::getpid()) + '-';
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            path_ = stem + std::to_string(attempt);
            fd_ = ::open(path_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd_ < 0 && errno != EEXIST) {
                err_ = errno;
                return;
            }
        }
        if (fd_ < 0) {
            err_ = EEXIST;
            return;
        }
        lockForWriting(fd_, true);
        const ssize_t n = ::write(fd_, text.data(), text.size());
        if (n != static_cast<ssize_t>(text.size())) {
            err_ = n < 0 ? errno : ENOSPC;
            drop();
        }
    }
    ~ReservationNote() { drop(); }
    ReservationNote(const ReservationNote&) = delete;
    ReservationNote& operator=(const ReservationNote&) = delete;
    /// 0, or why the note could not be written.
    int error() const { return err_; }

private:
    // Unlinked while still locked, so that no listing can take it for a stale one.
    void drop() {
        if (fd_ >= 0) {
            ::unlink(path_.c_str());
            ::close(std::exchange(fd_, -1));
        }
    }
    std::string path_;
    int fd_ = -1;
    int err_ = 0;
};

// For file systems with neither a no-replace rename nor hard links: the new name is taken first by
// an empty file of our own, which succeeds only while the name is free, and the rename then
// replaces nothing but that file. A note beside it tells a later run that the empty file is ours,
// should this process be killed before the rename. Answers 0 or an errno value.
int moveOverReservation(const char* from, const char* to) {
    const ReservationNote note(from, to);
    if (note.error() != 0)
        return note.error();
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

// Removes the notes that processes killed during moveOverReservation() left in `folder`, and each
// one's reservation: the empty file under the new name, while the source is still there (else
// the rename was made, and the file under the new name is the one moved). A note whose process
// lives or which is locked belongs to a rename going on now.
void clearReservations(const char* folder) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr)
        return;
    const int dfd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(kNote))
            continue;
        const long pid = std::strtol(entry->d_name + kNote.size(), nullptr, 10);
        if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
            continue;
        const int fd = ::openat(dfd, entry->d_name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (!lockForWriting(fd, false)) {
            ::close(fd);
            continue;
        }
        std::array<char, 8192> text{};
        const ssize_t n = ::pread(fd, text.data(), text.size() - 1, 0);
        const std::string_view written(text.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::size_t end = written.find('\0');
        struct stat source {
        }, reserved{};
        if (end != std::string_view::npos && written.back() == '\0' && end + 1 < written.size()) {
            const char* target = text.data() + end + 1;
            if (::fstatat(dfd, target, &reserved, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(reserved.st_mode) && reserved.st_size == 0 &&
                ::lstat(text.data(), &source) == 0) {
                ::unlinkat(dfd, target, 0);
            }
        }
        ::unlinkat(dfd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace

bool lockForWriting(int fd, bool wait) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;  // from 0 to the end, however far the file grows
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &whole) == 0)
            return true;
        if (errno == EAGAIN || errno == EACCES)
            return false;
        if (errno != EINTR)
            break;  // EINVAL, ENOLCK, EOPNOTSUPP: a file system without such locks
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0)
            return true;
        if (errno != EINTR)
            return errno != EWOULDBLOCK;  // nor these: written without a lock, as before
    }
}

Code PosixFileSystem::listMp3(const QString& folder, std::vector<QString>* names,
                              std::size_t& count) {
    const QByteArray native = encodeName(folder);
    const std::size_t had = names != nullptr ? names->size() : 0;
    bool notes = false;
    const auto list = [&] {
        count = 0;
        if (names != nullptr)
            names->resize(had);
        return forEachEntry(
            native.constData(), S_IFREG, endsWithMp3,
            [&](std::string_view name) {
                ++count;
                if (names != nullptr) {
                    names->push_back(decodeName(name));
                }
            },
            [&](std::string_view hidden) { notes = notes || hidden.starts_with(kNote); });
    };
    Code c = list();
    if (notes && tidies_) {
        clearReservations(native.constData());
        // The empty files it removed were listed already: the folder is read again without them.
        c = list();
    }
    return c;
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
    const QByteArray native = encodeName(path);
    // O_NONBLOCK: a FIFO or device that took a listed name must not stall the program.
    const int flags =
        (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    Code c = code::kOk;
    const int f = access == Access::Read ? keepRegular(::open(native.constData(), flags), c)
                                         : openToWrite(native.constData(), flags, c);
    if (f < 0)
        return c;
    if (access == Access::ReadWrite && locking_ != Locking::Later &&
        !lockForWriting(f, locking_ == Locking::Wait)) {
        busy_ = true;
    }
    // The length once the lock is held: the writer that held it before may have appended a tag.
    struct stat st {};
    if (::fstat(f, &st) != 0) {
        c = codeFromErrno(errno);
        ::close(f);
        return c;
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
