#pragma once

#include "platform/filesystem.h"

#include <cerrno>

namespace sorvel::test {

/// The real file system with failures to order: the Nth write, every truncate, or a no-replace
/// rename that the file system does not know (as NFS and FUSE answer).
class FaultyFileSystem : public platform::PosixFileSystem {
public:
    int failWriteNumber = 0;        ///< 1 = the first writeAt() fails; 0 = none
    Code writeFailure = code::kDiskFull;
    bool partialWriteFirst = true;  ///< the failing write still puts part of its bytes down
    bool renameAnswersEinval = false;
    int writes = 0;

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

protected:
    int renameNoReplace(const char* from, const char* to) override {
        if (renameAnswersEinval) return EINVAL;
        return PosixFileSystem::renameNoReplace(from, to);
    }
};

}  // namespace sorvel::test
