#pragma once

#include "platform/filesystem.h"

#include <QSet>
#include <QString>

namespace sorvel::platform {

/// A file system that reads through another and changes nothing: every command runs on it as on
/// the real one, with the same checks and failures, so that its outcome says what the command
/// would do. Files are opened as the command opens them (a file that cannot be opened for writing
/// fails here too); writes and truncations answer success without reaching the file; renames are
/// checked (the source there, the target free) and remembered, so that later names see them as
/// made: two files named alike by one command collide here as they would for real.
class DryRunFileSystem : public FileSystem {
public:
    explicit DryRunFileSystem(FileSystem& real) : real_(real) {}

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override;
    Code probeFolder(const QString& folder) override { return real_.probeFolder(folder); }
    Code openToRead(const QString& path, int& fd, std::uint64_t& size) override {
        return real_.openToRead(path, fd, size);
    }
    Code listFolders(const QString& folder, std::vector<QString>& names) override {
        return real_.listFolders(folder, names);
    }
    Code checkFolder(const QString& path) override { return real_.checkFolder(path); }
    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override {
        return real_.open(path, access, fd, size);
    }
    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override {
        return real_.readAt(fd, offset, buf);
    }
    Code writeAt(int, std::uint64_t, std::span<const std::byte>) override { return code::kOk; }
    Code truncate(int, std::uint64_t) override { return code::kOk; }
    Code close(int fd) override { return real_.close(fd); }
    Code rename(const QString& from, const QString& to) override;
    Code remove(const QString& path) override;
    bool exists(const QString& path) override;
    void readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::uint64_t minSize, std::span<FileTail> tails) override {
        real_.readTails(folder, names, bytes, minSize, tails);
    }
    void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::span<FileTail> tails, std::span<int> fds) override {
        real_.openTails(folder, names, bytes, tails, fds);
    }
    void writeAll(std::span<Write> writes) override;
    void closeAll(std::span<const int> fds, std::span<Code> codes) override {
        real_.closeAll(fds, codes);
    }

private:
    FileSystem& real_;
    // Paths the pretended renames and removals took and freed.
    QSet<QString> taken_;
    QSet<QString> freed_;
};

}  // namespace sorvel::platform
