#pragma once

#include "platform/filesystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>

namespace sorvel::test {

/// The real file system with failures to order: the Nth write, every close, or a no-replace rename
/// that the file system does not know (as NFS and FUSE answer); for readers, the opening of one
/// path, the Nth read, or another program's work between the listing of a folder and the reading.
/// A fault of reading or closing is met only one file after the other: construct it Sequential for
/// those. A failing write makes writeAll() go one file after the other.
struct FaultyFileSystem : platform::PosixFileSystem {
    using PosixFileSystem::PosixFileSystem;

    /// 1 = the first writeAt() fails for lack of space, after putting half its bytes down.
    int failWriteNumber = 0;
    std::atomic<int> writes = 0;
    bool renameAnswersEinval = false;
    QString failOpenPath;  ///< open() of exactly this path fails as for no permission
    /// 1 = the first readAt() fails with code::kDeviceIo; 0 = none
    int failReadNumber = 0;
    /// Counted from both threads of an import's read-ahead, which reads through readAt().
    std::atomic<int> reads = 0;
    std::function<void()> afterListing;
    /// What close() answers, as NFS reports there a write the server refused; the descriptor is
    /// closed all the same.
    Code closeFailure = code::kOk;
    /// openTails() finds no descriptor free for any file.
    bool batchesFindNoDescriptor = false;
    /// Whether a scan may read ahead on a thread of its own, as the window's file system may not.
    bool readsAhead = true;

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override {
        const Code c = PosixFileSystem::listMp3(folder, names, count);
        if (names != nullptr && afterListing)
            afterListing();
        return c;
    }
    bool readsTailsAhead() override { return readsAhead; }
    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override {
        if (path != failOpenPath)
            return PosixFileSystem::open(path, access, fd, size);
        fd = -1;
        size = 0;
        return code::kAccess;
    }
    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override {
        return ++reads == failReadNumber ? code::kDeviceIo
                                         : PosixFileSystem::readAt(fd, offset, buf);
    }
    void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::span<platform::FileTail> tails, std::span<int> fds) override {
        if (!batchesFindNoDescriptor)
            return PosixFileSystem::openTails(folder, names, bytes, tails, fds);
        std::ranges::fill(fds, -1);
        std::ranges::fill(tails, platform::FileTail{code::kTooManyFiles});
    }
    void writeAll(std::span<Write> batch) override {
        failWriteNumber != 0 ? FileSystem::writeAll(batch) : PosixFileSystem::writeAll(batch);
    }
    Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) override {
        if (++writes != failWriteNumber)
            return PosixFileSystem::writeAt(fd, offset, data);
        (void)PosixFileSystem::writeAt(fd, offset, data.first(data.size() / 2));
        return code::kDiskFull;
    }
    Code close(int fd) override {
        const Code c = PosixFileSystem::close(fd);
        return closeFailure != code::kOk ? closeFailure : c;
    }

protected:
    int renameNoReplace(const char* from, const char* to) override {
        return renameAnswersEinval ? EINVAL : PosixFileSystem::renameNoReplace(from, to);
    }
};

}  // namespace sorvel::test
