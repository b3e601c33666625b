#pragma once

#include "platform/filesystem.h"

#include <algorithm>
#include <cerrno>
#include <functional>

namespace sorvel::test {

/// The real file system with failures to order: the Nth write, every close, or a no-replace rename
/// that the file system does not know (as NFS and FUSE answer); for readers, the opening of one
/// path, the Nth read, or another program's work between the listing of a folder and the reading.
class FaultyFileSystem : public platform::PosixFileSystem {
public:
    using PosixFileSystem::PosixFileSystem;

    /// 1 = the first writeAt() fails for lack of space, after putting half its bytes down.
    int failWriteNumber = 0;
    bool renameAnswersEinval = false;
    int writes = 0;
    QString failOpenPath;    ///< open() of exactly this path fails as for no permission
    int failReadNumber = 0;  ///< 1 = the first readAt() fails with code::kDeviceIo; 0 = none
    int reads = 0;
    std::function<void()> afterListing;
    /// What close() answers, as NFS reports there a write the server refused; the descriptor is
    /// closed all the same.
    Code closeFailure = code::kOk;
    /// openTails() finds no descriptor free for any file, so that a batched caller falls back to
    /// taking each one by one.
    bool batchesFindNoDescriptor = false;

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override {
        const Code c = PosixFileSystem::listMp3(folder, names, count);
        if (names != nullptr && afterListing)
            afterListing();
        return c;
    }
    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override {
        if (failOpenPath.isEmpty() || path != failOpenPath)
            return PosixFileSystem::open(path, access, fd, size);
        fd = -1;
        size = 0;
        return code::kAccess;
    }
    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override {
        return ++reads == failReadNumber ? code::kDeviceIo
                                         : PosixFileSystem::readAt(fd, offset, buf);
    }

    /// Many files at a time as the real one reads them, unless a fault of open() or readAt() is
    /// asked for: those are met one file after the other. Writes and closes likewise.
    void readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::uint64_t minSize, std::span<platform::FileTail> tails) override {
        if (!failOpenPath.isEmpty() || failReadNumber != 0)
            return FileSystem::readTails(folder, names, bytes, minSize, tails);
        PosixFileSystem::readTails(folder, names, bytes, minSize, tails);
    }
    void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::span<platform::FileTail> tails, std::span<int> fds) override {
        if (batchesFindNoDescriptor) {
            std::fill(tails.begin(), tails.end(), platform::FileTail{code::kTooManyFiles});
            std::fill(fds.begin(), fds.end(), -1);
        } else if (!failOpenPath.isEmpty() || failReadNumber != 0) {
            FileSystem::openTails(folder, names, bytes, tails, fds);
        } else {
            PosixFileSystem::openTails(folder, names, bytes, tails, fds);
        }
    }
    void writeAll(std::span<Write> batch) override {
        if (failWriteNumber != 0)
            return FileSystem::writeAll(batch);
        PosixFileSystem::writeAll(batch);
    }
    void closeAll(std::span<const int> fds, std::span<Code> codes) override {
        if (closeFailure != code::kOk)
            return FileSystem::closeAll(fds, codes);
        PosixFileSystem::closeAll(fds, codes);
    }
    Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) override {
        if (++writes != failWriteNumber)
            return PosixFileSystem::writeAt(fd, offset, data);
        PosixFileSystem::writeAt(fd, offset, data.first(data.size() / 2));
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
