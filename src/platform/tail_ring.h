#pragma once

#include "platform/filesystem.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace sorvel::platform {

/// Whether calls on the file or folder `fd` wait on a server (FUSE, NFS, SMB, 9P, Ceph) rather
/// than on a local medium or the page cache.
bool waitsOnServer(int fd);

/// An io_uring of the calling thread that reads the ends of many files with a window of them in
/// flight: the opens, the reads, the writes and the closes go to the kernel in batches, and a file
/// whose open blocks on the medium does not hold up the others. A large batch is shared with a
/// second thread, which reads with a ring of its own. Internal to PosixFileSystem.
class TailRing {
public:
    /// What setting a ring up came to.
    enum class Setup {
        Ready,
        Refused,  ///< the kernel has no io_uring or forbids it (seccomp, io_uring_disabled)
        Later,    ///< refused for a passing reason, such as no descriptor free
    };

    /// Sets up a ring for `window` files in flight, or for fewer where the kernel grants less.
    static std::unique_ptr<TailRing> create(unsigned window, Setup& outcome);
    ~TailRing();
    TailRing(const TailRing&) = delete;
    TailRing& operator=(const TailRing&) = delete;

    /// As FileSystem::readTails(), but leaves alone the positions it puts in `redo`: those its
    /// answer could differ from open() and readAt() on (a failed open, which open() retries
    /// under the other spellings of ".mp3"; a read that came short), for the caller to read one by
    /// one. Answers false when the ring itself failed, which leaves every unfinished position
    /// in `redo`; the ring is then not to be used again.
    /// With `keep` not empty, opens for writing too and leaves each file whose tail was read in
    /// full open and locked, its descriptor in `keep` at its position (as
    /// FileSystem::openTails()); a link, and a file whose lock another holds, go to `redo`.
    bool read(const QString& folder, std::span<const QString> names, std::size_t bytes,
              std::uint64_t minSize, std::span<FileTail> tails, std::vector<std::size_t>& redo,
              std::span<int> keep = {});

    /// As FileSystem::writeAll(), but leaves alone the positions it puts in `redo`: every write
    /// that did not go through whole, which writeAt() would have gone on with. Answers false when
    /// the ring itself failed (every unfinished write in `redo`); the ring is then not to be used
    /// again.
    bool write(std::span<FileSystem::Write> writes, std::vector<std::size_t>& redo);

    /// As FileSystem::closeAll(). Answers false when the ring itself failed, which leaves the
    /// positions not yet closed in `redo`.
    bool close(std::span<const int> fds, std::span<Code> codes, std::vector<std::size_t>& redo);

    /// Runs `each` for every position below `count`, this thread from the front and a second
    /// one from the back: for plain calls on a local file system (small writes, closes), which
    /// two processors make in about half the time.
    void onBothEnds(std::size_t count, const std::function<void(std::size_t)>& each);

private:
    struct State;
    struct Batch;
    class Positions;
    class SecondThread;
    /// A ring for `window` files in flight, or for fewer where the kernel grants less.
    static std::unique_ptr<State> makeState(unsigned window, Setup& outcome);
    /// The second thread's own ring, set up on its first use; null where none can be had.
    State* secondRing();
    /// Grows the table of descriptors, once, to hold both windows in flight.
    void makeRoomForBoth();
    /// Keeps up to `limit` files of the batch in flight on the ring `s`, taking their positions
    /// from the front or the back; false when the ring failed, with every file it took and did
    /// not finish in `redo`. With `halve`, takes no more than it leaves while every open it asks
    /// for is answered at once.
    static bool turn(State& s, unsigned& limit, const Batch& b, Positions& positions, bool front,
                     bool halve, std::vector<std::size_t>& redo);
    /// Keeps up to the window of single requests in flight, one per position: `prep` fills the
    /// request for a position, `done` takes its result. False when the ring failed; the positions
    /// whose result never came are then in `redo`.
    template <typename Prep, typename Done>
    bool each(std::size_t count, Prep prep, Done done, std::vector<std::size_t>& redo);
    explicit TailRing(std::unique_ptr<State> state, unsigned window);

    std::unique_ptr<State> s_;
    /// The second thread's ring, which outlives the thread; refused for good once it failed.
    std::unique_ptr<State> s2_;
    bool s2Refused_ = false;
    bool roomMade_ = false;
    std::unique_ptr<SecondThread> second_;
    unsigned window_;
    unsigned limit_;  ///< fewer than window_ while the process is short of descriptors
    /// After a failure of each(): how many of its positions went to the kernel.
    std::size_t inFlight_ = 0;
};

}  // namespace sorvel::platform
