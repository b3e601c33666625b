#pragma once

// The window's way to the file system. A window that waits for a drive that never answers (a USB
// stick that hangs, a server gone behind sshfs) can neither be used nor closed; so every call is
// made on a helper thread, and the window waits for it at most the probe's time. A call with no
// answer by then is given up: it fails with code::kDeviceUnavailable, and so does every later
// call until the window tries the drive again, so that a command over many files waits once, not
// once per file. The helper is left in its call with copies of everything it touches: what it
// does when the drive wakes up reaches neither the caller nor the rows.

#include "platform/filesystem.h"
#include "platform/probe.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sorvel::app {

class WatchedFileSystem : public platform::FileSystem {
public:
    /// `real` outlives this object; so do the calls left behind in it, which the destructor waits
    /// for (a program that ends with some still waiting ends without destructors, see stuck()).
    explicit WatchedFileSystem(platform::FileSystem& real,
                               std::chrono::milliseconds limit = platform::kAnswerTime);
    ~WatchedFileSystem() override;
    WatchedFileSystem(const WatchedFileSystem&) = delete;
    WatchedFileSystem& operator=(const WatchedFileSystem&) = delete;

    /// Asks the file system again after a call was given up: at the start of each command.
    void tryAgain() { gaveUp_ = false; }
    /// Whether a call was given up since tryAgain().
    bool gaveUp() const { return gaveUp_; }
    /// Whether a call given up is still waiting for its answer.
    bool stuck() const;

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override;
    /// Asked here, as it waits only so long by itself; an answer tries the drive again.
    Code probeFolder(const QString& folder) override;
    /// May be called from several threads at once, as the import reads other tags on two.
    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override;
    Code openToRead(const QString& path, int& fd, std::uint64_t& size) override;
    Code listFolders(const QString& folder, std::vector<QString>& names) override;
    Code checkFolder(const QString& path) override;
    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override;
    Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) override;
    Code truncate(int fd, std::uint64_t size) override;
    /// Once given up, the descriptor is closed behind the caller's back and the answer is the
    /// failure: whether the file system kept what was written is not known.
    Code close(int fd) override;
    Code rename(const QString& from, const QString& to) override;
    Code remove(const QString& path) override;
    bool exists(const QString& path) override;
    void readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::uint64_t minSize, std::span<platform::FileTail> tails) override;
    void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::span<platform::FileTail> tails, std::span<int> fds) override;
    void writeAll(std::span<Write> writes) override;
    void closeAll(std::span<const int> fds, std::span<Code> codes) override;

    class Helper;

private:
    /// Runs `work` on the helper and waits for it; false when it was given up (or had been).
    /// `late` runs on the helper instead of the answer being taken, when one comes after all.
    bool run(std::function<void()> work, std::function<void()> late = {});
    bool own() const { return std::this_thread::get_id() == owner_; }
    /// An open of the real file system's, made through run().
    using Opening = std::function<Code(platform::FileSystem& real, int& fd, std::uint64_t& size)>;
    Code openThrough(const Opening& how, int& fd, std::uint64_t& size);
    /// A call of the real file system's that answers a code, made through run(); the code of a
    /// call given up is code::kDeviceUnavailable.
    using CodeCall = std::function<Code(platform::FileSystem& real)>;
    Code answerOf(const CodeCall& call);
    /// Runs `work` on a helper of its own and does not wait.
    void leave(std::function<void()> work);
    platform::FileSystem& real_;
    std::chrono::milliseconds limit_;
    std::atomic<bool> gaveUp_ = false;
    mutable std::mutex mutex_;
    // The helper of the thread that made this object, and one for calls from any other (the
    // import reads other tags on two threads at once).
    const std::thread::id owner_ = std::this_thread::get_id();
    std::shared_ptr<Helper> helper_, side_;
    std::vector<std::shared_ptr<Helper>> left_;
};

}  // namespace sorvel::app
