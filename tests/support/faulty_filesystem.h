#pragma once

#include "platform/filesystem.h"

#include <cerrno>

namespace sorvel::test {

/// The real file system with failures to order: the Nth write, every close, or a no-replace
/// rename that the file system does not know (as NFS and FUSE answer); for readers, the opening
/// of one path or the Nth read.
class FaultyFileSystem : public platform::PosixFileSystem {
public:
    int failWriteNumber = 0;  ///< 1 = the first writeAt() fails; 0 = none
    Code writeFailure = code::kDiskFull;
    bool partialWriteFirst = true;  ///< the failing write still puts part of its bytes down
    bool renameAnswersEinval = false;
    int writes = 0;
    QString failOpenPath;  ///< open() of exactly this path fails with openFailure
    Code openFailure = code::kAccess;
    int failReadNumber = 0;  ///< 1 = the first readAt() fails with code::kDeviceIo; 0 = none
    int reads = 0;
    /// What close() answers, as NFS reports there a write the server refused; the descriptor is
    /// closed all the same.
    Code closeFailure = code::kOk;

    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override {
        if (!failOpenPath.isEmpty() && path == failOpenPath) {
            fd = -1;
            size = 0;
            return openFailure;
        }
        return PosixFileSystem::open(path, access, fd, size);
    }

    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override {
        ++reads;
        if (reads == failReadNumber) {
            return code::kDeviceIo;
        }
        return PosixFileSystem::readAt(fd, offset, buf);
    }

    Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) override {
        ++writes;
        if (writes == failWriteNumber) {
            if (partialWriteFirst && data.size() > 1) {
                PosixFileSystem::writeAt(fd, offset, data.first(data.size() / 2));
            }
            return writeFailure;
        }
        return PosixFileSystem::writeAt(fd, offset, data);
    }

    Code close(int fd) override {
        const Code c = PosixFileSystem::close(fd);
        return closeFailure != code::kOk ? closeFailure : c;
    }

protected:
    int renameNoReplace(const char* from, const char* to) override {
        if (renameAnswersEinval)
            return EINVAL;
        return PosixFileSystem::renameNoReplace(from, to);
    }
};

}  // namespace sorvel::test
