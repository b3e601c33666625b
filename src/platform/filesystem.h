#pragma once

#include "platform/errors.h"

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace sorvel::platform {

/// The end of one file as readTails() finds it.
struct FileTail {
    /// The most bytes a tail holds.
    static constexpr std::size_t kCapacity = 131;

    /// code::kOk, or why the file could not be opened (as FileSystem::open() answers) or read
    /// (as readAt() answers: a file that became shorter is code::kDeviceIo).
    Code code = code::kOk;
    /// The file's length in bytes, once it was opened.
    std::uint64_t size = 0;
    /// How many of `bytes` were read: the file's last bytes, none for a file too short to be read.
    std::size_t length = 0;
    std::array<std::byte, kCapacity> bytes{};

    std::span<const std::byte> tail() const { return {bytes.data(), length}; }

    friend bool operator==(const FileTail&, const FileTail&) = default;
};

/// The file-system operations the logic needs, as an interface so that tests can make any step
/// fail. Every operation answers with a failure code (code::kOk on success). Paths are the
/// program's own strings; names that are not valid UTF-8 are kept as described in names.h.
class FileSystem {
public:
    enum class Access { Read, ReadWrite };

    virtual ~FileSystem() = default;

    /// Names (not paths) of the entries of `folder` that are regular files, or links to regular
    /// files, whose names end in ".mp3" in any letter case and do not begin with "." (hidden).
    /// Appends to `names` in the order the system lists them; with `names` null only counts.
    virtual Code listMp3(const QString& folder, std::vector<QString>* names,
                         std::size_t& count) = 0;
    /// Whether `folder` can be listed, asked so that a file system that never answers (a server
    /// gone, a stopped FUSE daemon) cannot hold the caller: code::kDeviceUnavailable when there is
    /// no answer within kAnswerTime (probe.h), else as listMp3() would begin. Costs a thread: ask
    /// once before a listing, not per file. Here code::kOk, for file systems that always answer.
    virtual Code probeFolder(const QString& folder);

    /// Opens an existing regular file and gives its length in bytes; never creates a file and never
    /// blocks on a FIFO or device (anything but a regular file is code::kNotRegularFile). The path
    /// is taken as it is: where "x.mp3" and "x.MP3" are two files, each is reached only by its own
    /// name. For writing, a symbolic link is followed only to a regular file whose name ends in
    /// ".mp3" (else code::kLinkNotMp3), and the file is locked against other writers until it is
    /// closed: this waits while another holds it, so a caller holding other files open for
    /// writing uses openTails() instead.
    virtual Code open(const QString& path, Access access, int& fd, std::uint64_t& size) = 0;
    /// Reads exactly buf.size() bytes at `offset`; a short file is code::kDeviceIo.
    virtual Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) = 0;
    /// Writes all of `data` at `offset`, going on after interrupted or partial writes.
    virtual Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) = 0;
    virtual Code truncate(int fd, std::uint64_t size) = 0;
    /// Closes the descriptor in any case. Network file systems (NFS, FUSE) may report a write
    /// that did not reach the file only here.
    virtual Code close(int fd) = 0;

    /// Renames within the file system and never replaces anything: an existing target of either
    /// kind gives code::kFileExists. A rename that changes only the letter case of a name works on
    /// file systems that ignore case too. Where the file system has neither a no-replace rename
    /// nor hard links (exFAT, FAT), the new name is held by an empty file until the file takes it;
    /// a process killed in between leaves that file and a hidden note, which the next listMp3()
    /// of the folder removes.
    virtual Code rename(const QString& from, const QString& to) = 0;
    /// Removes a file for good.
    virtual Code remove(const QString& path) = 0;
    /// Whether `path` names something.
    virtual bool exists(const QString& path) = 0;

    /// For each of `names` in `folder` (which ends in the separator), into the element of `tails`
    /// at the same position: opens the file as open() does for reading, and reads its last
    /// min(size, `bytes`) bytes (at most FileTail::kCapacity) unless it is shorter than
    /// `minSize`. The results are those of open(), readAt() and close() one file after the
    /// other, which is what this does; a file system may keep several files in flight instead.
    virtual void readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                           std::uint64_t minSize, std::span<FileTail> tails);
    /// Whether readTails() may be called from another thread than the last call's, one call at a
    /// time, while the caller goes on with work of its own: then a scan reads the next files'
    /// tails while it makes the rows of these.
    virtual bool readsTailsAhead() { return false; }

    /// As readTails() with no smallest size, but opens each file as open() does for writing and
    /// leaves it open: `fds` gets the descriptor at the file's position exactly where its tail
    /// reads code::kOk (-1 elsewhere), for writeAll() and closeAll(). Each tail is read once the
    /// file's lock is held.
    virtual void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                           std::span<FileTail> tails, std::span<int> fds);

    /// One write of writeAll().
    struct Write {
        int fd = -1;
        std::uint64_t offset = 0;
        std::span<const std::byte> data;
        Code code = code::kOk;  ///< the answer
    };
    /// Makes every write, each answered as writeAt() answers it.
    virtual void writeAll(std::span<Write> writes);
    /// Closes every descriptor, each answered as close() answers it.
    virtual void closeAll(std::span<const int> fds, std::span<Code> codes);

    /// As open() for reading, but a folder, FIFO or device is code::kNotRegularFile rather than
    /// code::kAccess: for a reader that says why a file had nothing to read.
    virtual Code openToRead(const QString& path, int& fd, std::uint64_t& size) = 0;
    /// Names (not paths) of the folders directly inside `folder`, as platform::listFolders().
    virtual Code listFolders(const QString& folder, std::vector<QString>& names) = 0;
    /// Whether `path` names a folder that can be listed now, as platform::checkFolder().
    virtual Code checkFolder(const QString& path) = 0;

protected:
    /// Whether listMp3() may remove what a rename of this program left behind when it was killed
    /// half-way (see PosixFileSystem::rename()); a dry run, which changes nothing, lists without.
    bool tidies_ = true;
    friend class DryRunFileSystem;
};

class TailRing;

/// The real file system (POSIX).
class PosixFileSystem : public FileSystem {
public:
    /// How readTails() reaches the files.
    enum class TailReads {
        /// Many at a time through io_uring where the kernel allows it, else one after the other.
        Overlapped,
        /// One after the other, as where io_uring is missing or forbidden.
        Sequential,
    };

    explicit PosixFileSystem(TailReads reads = TailReads::Overlapped);
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override;
    Code probeFolder(const QString& folder) override;
    /// open(), readAt() and close() are plain system calls: safe from several threads at once.
    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override;
    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override;
    Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) override;
    Code truncate(int fd, std::uint64_t size) override;
    Code close(int fd) override;
    Code rename(const QString& from, const QString& to) override;
    Code remove(const QString& path) override;
    bool exists(const QString& path) override;
    /// Not for use from several threads at once.
    void readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::uint64_t minSize, std::span<FileTail> tails) override;
    bool readsTailsAhead() override { return true; }
    void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::span<FileTail> tails, std::span<int> fds) override;
    void writeAll(std::span<Write> writes) override;
    void closeAll(std::span<const int> fds, std::span<Code> codes) override;
    Code openToRead(const QString& path, int& fd, std::uint64_t& size) override;
    Code listFolders(const QString& folder, std::vector<QString>& names) override;
    Code checkFolder(const QString& path) override;

    /// Whether readTails() keeps several files in flight: asked for and granted by the kernel.
    /// Sets the ring up if that has not happened yet.
    bool overlapsReads();

protected:
    /// The system's no-replace rename; a seam so that tests can play a file system (NFS, FUSE)
    /// that answers EINVAL. Returns 0 or an errno value.
    virtual int renameNoReplace(const char* from, const char* to);

private:
    /// How open() for writing takes the file's lock: waiting for it, trying it once (busy_ tells
    /// of a file another holds, which is then open without the lock), or not at all.
    enum class Locking { Wait, Try, Later };
    void openTailsInOrder(const QString& folder, std::span<const QString> names, std::size_t bytes,
                          std::span<FileTail> tails, std::span<int> fds);
    int moveNoReplace(const char* from, const char* to);
    int moveThroughTemporary(const QByteArray& src, const QByteArray& dst);

    TailReads reads_;
    std::unique_ptr<TailRing> ring_;
    /// Set once the kernel refused io_uring for good; a refusal that may pass (no descriptor
    /// free) is tried again on the next call.
    bool ringRefused_ = false;
    Locking locking_ = Locking::Wait;
    bool busy_ = false;
};

/// Closes a descriptor when it goes out of scope.
class FileGuard {
public:
    FileGuard(FileSystem& fs, int fd) : fs_(fs), fd_(fd) {}
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    ~FileGuard() {
        if (fd_ >= 0)
            fs_.close(fd_);
    }
    int fd() const { return fd_; }
    /// Closes now, for a caller that must know whether what it wrote was kept.
    Code close() {
        const int fd = std::exchange(fd_, -1);
        return fs_.close(fd);
    }

private:
    FileSystem& fs_;
    int fd_;
};

}  // namespace sorvel::platform

namespace sorvel::platform {

/// Checks a new base name (without ".mp3") before a rename: code::kBadFileName for an empty name,
/// a name beginning with "." (this platform would hide the file), one holding any of
/// " ? * / \ : < > | or a control character (C0, DEL or C1), or one whose file name (with ".mp3")
/// exceeds 255 bytes as the file system stores it; code::kReservedName for the device names CON,
/// AUX, COM1-COM4, LPT1-LPT3, PRN and NUL, which other systems refuse. code::kOk otherwise.
Code checkNewName(const QString& base);

/// Renames the file `katalog` + `oldFile` (its name with its ending as listed) to `katalog` +
/// `newBase` + ".mp3" after checkNewName(), never replacing anything; a file named `newBase` with
/// ".mp3" in other letter case counts as taking the name (code::kFileExists).
Code renameMp3(FileSystem& fs, const QString& katalog, const QString& oldFile,
               const QString& newBase);

}  // namespace sorvel::platform
