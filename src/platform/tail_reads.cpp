#include "platform/filesystem.h"
#include "platform/tail_ring.h"
#include "platform/write_lock.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

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

void FileSystem::openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                           std::span<FileTail> tails, std::span<int> fds) {
    bytes = std::min(bytes, FileTail::kCapacity);
    QString path = folder;
    for (std::size_t i = 0; i < names.size(); ++i) {
        FileTail& t = tails[i];
        t = FileTail{};
        fds[i] = -1;
        path.truncate(folder.size());
        path += names[i];
        int fd = -1;
        std::uint64_t size = 0;
        t.code = open(path, Access::ReadWrite, fd, size);
        if (t.code != code::kOk) {
            continue;
        }
        t.size = size;
        const std::size_t n = size >= bytes ? bytes : static_cast<std::size_t>(size);
        if (n > 0) {
            t.code = readAt(fd, size - n, std::span<std::byte>(t.bytes.data(), n));
        }
        if (t.code != code::kOk) {
            close(fd);
            continue;
        }
        t.length = n;
        fds[i] = fd;
    }
}

void FileSystem::writeAll(std::span<Write> writes) {
    for (Write& w : writes) {
        w.code = writeAt(w.fd, w.offset, w.data);
    }
}

void FileSystem::closeAll(std::span<const int> fds, std::span<Code> codes) {
    for (std::size_t i = 0; i < fds.size(); ++i) {
        codes[i] = close(fds[i]);
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

void PosixFileSystem::openTails(const QString& folder, std::span<const QString> names,
                                std::size_t bytes, std::span<FileTail> tails, std::span<int> fds) {
    std::fill(fds.begin(), fds.end(), -1);
    std::vector<std::size_t> redo;
    if (!overlapsReads()) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            redo.push_back(i);
        }
    } else if (!ring_->read(folder, names, bytes, 0, tails, redo, fds)) {
        ring_.reset();
        ringRefused_ = true;
    }
    // The files this call holds open may be what the process lacks descriptors for; the caller
    // learns it from code::kTooManyFiles and can try those files again once these are closed.
    // The ring gives back a file whose lock another holds; so do these, trying each lock once.
    locking_ = Locking::Try;
    busy_ = false;
    for (const std::size_t i : redo) {
        FileSystem::openTails(folder, names.subspan(i, 1), bytes, tails.subspan(i, 1),
                              fds.subspan(i, 1));
    }
    locking_ = Locking::Wait;
    if (!busy_) {
        return;
    }
    // Waiting for one file while holding the others could wait forever on a writer that waits for
    // one of ours: all are let go, and taken again in the one order every writer keeps.
    for (int& fd : fds) {
        close(std::exchange(fd, -1));
    }
    openTailsInOrder(folder, names, bytes, tails, fds);
}

void PosixFileSystem::openTailsInOrder(const QString& folder, std::span<const QString> names,
                                       std::size_t bytes, std::span<FileTail> tails,
                                       std::span<int> fds) {
    bytes = std::min(bytes, FileTail::kCapacity);
    struct Held {
        dev_t dev;
        ino_t ino;
        std::size_t i;
        auto operator<=>(const Held&) const = default;
    };
    std::vector<Held> order;
    QString path = folder;
    locking_ = Locking::Later;
    for (std::size_t i = 0; i < names.size(); ++i) {
        tails[i] = FileTail{};
        path.truncate(folder.size());
        path += names[i];
        std::uint64_t size = 0;
        tails[i].code = open(path, Access::ReadWrite, fds[i], size);
        struct stat st {};
        if (tails[i].code == code::kOk && ::fstat(fds[i], &st) == 0) {
            order.push_back({st.st_dev, st.st_ino, i});
        }
    }
    locking_ = Locking::Wait;
    std::sort(order.begin(), order.end());
    for (std::size_t k = 0; k < order.size(); ++k) {
        // The same file twice (under two names) is locked once: its other descriptor would wait
        // for this one.
        if (k == 0 || order[k].dev != order[k - 1].dev || order[k].ino != order[k - 1].ino) {
            lockForWriting(fds[order[k].i], true);
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        FileTail& t = tails[i];
        struct stat st {};
        if (fds[i] < 0) {
            continue;
        }
        if (::fstat(fds[i], &st) != 0) {
            t.code = codeFromErrno(errno);
        } else {
            t.size = static_cast<std::uint64_t>(st.st_size);
            const std::size_t n = t.size >= bytes ? bytes : static_cast<std::size_t>(t.size);
            t.code = n > 0 ? readAt(fds[i], t.size - n, std::span<std::byte>(t.bytes.data(), n))
                           : code::kOk;
            t.length = t.code == code::kOk ? n : 0;
        }
        if (t.code != code::kOk) {
            close(std::exchange(fds[i], -1));
        }
    }
}

void PosixFileSystem::writeAll(std::span<Write> writes) {
    // A local file system takes a small write into the page cache at once, but io_uring hands
    // each to a worker thread first (a write that might block is never made inline): there plain
    // calls take half the time. Overlapped writes pay where each waits on a server.
    if (!overlapsReads() || writes.empty()) {
        FileSystem::writeAll(writes);
        return;
    }
    if (!waitsOnServer(writes.front().fd)) {
        ring_->onBothEnds(writes.size(), [&](std::size_t i) {
            Write& w = writes[i];
            w.code = writeAt(w.fd, w.offset, w.data);
        });
        return;
    }
    std::vector<std::size_t> redo;
    if (!ring_->write(writes, redo)) {
        ring_.reset();
        ringRefused_ = true;
    }
    for (const std::size_t i : redo) {
        FileSystem::writeAll(writes.subspan(i, 1));
    }
}

void PosixFileSystem::closeAll(std::span<const int> fds, std::span<Code> codes) {
    if (!overlapsReads()) {
        FileSystem::closeAll(fds, codes);
        return;
    }
    if (!fds.empty() && !waitsOnServer(fds.front())) {
        ring_->onBothEnds(fds.size(), [&](std::size_t i) { codes[i] = close(fds[i]); });
        return;
    }
    std::vector<std::size_t> redo;
    if (!ring_->close(fds, codes, redo)) {
        ring_.reset();
        ringRefused_ = true;
    }
    for (const std::size_t i : redo) {
        FileSystem::closeAll(fds.subspan(i, 1), codes.subspan(i, 1));
    }
}

}  // namespace sorvel::platform
