#include "platform/filesystem.h"
#include "platform/tail_ring.h"

#include <algorithm>

namespace sorvel::platform {
namespace {

// The most files in flight. On a cold local disk 64 took two thirds longer than this, and 256
// gained little over it; each file in flight holds a descriptor.
constexpr unsigned kWindow = 128;

}  // namespace

void FileSystem::readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                           std::uint64_t minSize, std::span<FileTail> tails) {
    bytes = std::min(bytes, FileTail::kCapacity);
    QString path = folder;
    for (std::size_t i = 0; i < names.size(); ++i) {
        FileTail& t = tails[i];
        t = FileTail{};
        path.truncate(folder.size());
        path += names[i];
        int fd = -1;
        std::uint64_t size = 0;
        t.code = open(path, Access::Read, fd, size);
        if (t.code != code::kOk) {
            continue;
        }
        FileGuard guard(*this, fd);
        t.size = size;
        if (size < minSize) {
            continue;
        }
        const std::size_t n = size >= bytes ? bytes : static_cast<std::size_t>(size);
        t.code = readAt(fd, size - n, std::span<std::byte>(t.bytes.data(), n));
        if (t.code == code::kOk) {
            t.length = n;
        }
    }
}

PosixFileSystem::PosixFileSystem(TailReads reads) : reads_(reads) {}

PosixFileSystem::~PosixFileSystem() = default;

bool PosixFileSystem::overlapsReads() {
    if (reads_ == TailReads::Sequential || ringRefused_) {
        return false;
    }
    if (ring_ == nullptr) {
        TailRing::Setup outcome = TailRing::Setup::Refused;
        ring_ = TailRing::create(kWindow, outcome);
        ringRefused_ = outcome == TailRing::Setup::Refused;
    }
    return ring_ != nullptr;
}

void PosixFileSystem::readTails(const QString& folder, std::span<const QString> names,
                                std::size_t bytes, std::uint64_t minSize,
                                std::span<FileTail> tails) {
    if (!overlapsReads()) {
        FileSystem::readTails(folder, names, bytes, minSize, tails);
        return;
    }
    std::vector<std::size_t> redo;
    if (!ring_->read(folder, names, bytes, minSize, tails, redo)) {
        ring_.reset();
        ringRefused_ = true;
    }
    bool short_ = false;
    for (const std::size_t i : redo) {
        FileSystem::readTails(folder, names.subspan(i, 1), bytes, minSize, tails.subspan(i, 1));
        short_ = short_ || tails[i].code == code::kTooManyFiles;
    }
    if (short_ && ring_ != nullptr) {
        // The ring's own descriptor may be the one missing: without the ring the files are read
        // as they would have been without it; the next call sets it up anew.
        ring_.reset();
        for (const std::size_t i : redo) {
            if (tails[i].code == code::kTooManyFiles) {
                FileSystem::readTails(folder, names.subspan(i, 1), bytes, minSize,
                                      tails.subspan(i, 1));
            }
        }
    }
}

}  // namespace sorvel::platform
