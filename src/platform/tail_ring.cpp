#include "platform/tail_ring.h"

#include "platform/names.h"
#include "platform/write_lock.h"

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace sorvel::platform {
namespace {

enum Op : std::uint64_t { kOpen = 0, kRead = 1, kClose = 2 };

std::uint64_t tagOf(std::size_t slot, Op op) {
    return (static_cast<std::uint64_t>(slot) << 2) | op;
}

// The smallest ring worth the trouble; below it the sequential loop is as good.
constexpr unsigned kMinWindow = 4;

}  // namespace

bool waitsOnServer(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x65735546:  // FUSE: sshfs, and any daemon
        case 0x6969:      // NFS
        case 0xFF534D42:  // CIFS
        case 0xFE534D42:  // SMB2
        case 0x01021997:  // 9P
        case 0x00C36400:  // Ceph
            return true;
        default:
            return false;
    }
}

namespace {

// From this many files on, a read-only batch is shared with a second thread (see read()); a
// batch opened for writing, or of plain calls, from fewer, as a write batch holds at most 128.
constexpr std::size_t kShareFrom = 512;
constexpr std::size_t kShareWritesFrom = 64;

}  // namespace

// The positions of one batch, which the ring takes from the front and the second thread from the
// back: each exactly once.
class TailRing::Positions {
public:
    explicit Positions(std::size_t count) : back_(count) {}
    bool takeFront(std::size_t& i) {
        const std::lock_guard lock(mutex_);
        if (front_ == back_)
            return false;
        i = front_++;
        return true;
    }
    bool takeBack(std::size_t& i) {
        const std::lock_guard lock(mutex_);
        if (front_ == back_)
            return false;
        i = --back_;
        return true;
    }
    std::size_t left() {
        const std::lock_guard lock(mutex_);
        return back_ - front_;
    }

private:
    std::mutex mutex_;
    std::size_t front_ = 0;
    std::size_t back_;
};

// A thread kept for the life of the ring, which takes a shared batch from the far end. Started
// anew for every batch of 128 files a write opens, a thread would cost about what it saves.
class TailRing::SecondThread {
public:
    ~SecondThread() {
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    // Runs `job` there. False when no thread can be had, or one processor would run both.
    bool start(std::function<void()> job) {
        if (std::thread::hardware_concurrency() < 2)
            return false;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { serve(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        {
            const std::lock_guard lock(mutex_);
            job_ = std::move(job);
        }
        wake_.notify_one();
        return true;
    }

    void wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return !job_; });
    }

private:
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || job_; });
            if (stop_)
                return;
            lock.unlock();
            job_();
            lock.lock();
            job_ = nullptr;
            done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::function<void()> job_;
    bool stop_ = false;
    std::thread thread_;
};

namespace {

// What the ring does for one file, with plain calls: false where the ring would leave the file
// to be read again one by one (a failed open, a short read, a lock another writer holds). With
// `keep`, the file is opened for writing, locked, and left open there once its tail is read.
bool readPlain(int dir, const QByteArray& name, std::size_t bytes, std::uint64_t minSize,
               FileTail& t, int* keep) {
    t = FileTail{};
    const int access = keep == nullptr ? O_RDONLY : O_RDWR | O_NOFOLLOW;
    const int fd = ::openat(dir, name.constData(), access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    if (keep != nullptr && !lockForWriting(fd, false)) {
        ::close(fd);
        return false;
    }
    bool whole = true;
    bool kept = false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        t.code = code::kNotRegularFile;
    } else {
        t.size = static_cast<std::uint64_t>(st.st_size);
        if (t.size >= minSize) {
            const std::size_t want = t.size >= bytes ? bytes : static_cast<std::size_t>(t.size);
            const ssize_t n =
                want == 0 ? 0
                          : ::pread(fd, t.bytes.data(), want, static_cast<off_t>(t.size - want));
            whole = n >= 0 && static_cast<std::size_t>(n) == want;
            t.length = whole ? want : 0;
            kept = whole && keep != nullptr;
        }
    }
    if (kept)
        *keep = fd;
    else
        ::close(fd);
    return whole;
}

}  // namespace

struct TailRing::State {
    struct Slot {
        std::size_t index = 0;
        int fd = -1;
        std::size_t want = 0;
        bool redo = false;
        // The read lands here, not in the caller's tails: should the ring fail, nothing the
        // kernel still finishes can reach memory the caller has moved on from.
        std::array<std::byte, FileTail::kCapacity> buf{};
    };

    io_uring ring{};
    std::vector<Slot> slots;
    std::vector<std::size_t> free;
    std::vector<QByteArray> names;

    ~State() { ::io_uring_queue_exit(&ring); }

    // Hands the kernel what is queued, waits for one completion at least, and gives every
    // completion there is to `take` (its user data and result). False when the ring failed.
    template <typename Take>
    bool submitAndTake(Take take) {
        const int submitted = ::io_uring_submit_and_wait(&ring, 1);
        if (submitted < 0 && submitted != -EINTR && submitted != -EAGAIN && submitted != -EBUSY) {
            return false;
        }
        std::array<io_uring_cqe*, 64> batch{};
        for (;;) {
            const unsigned got = ::io_uring_peek_batch_cqe(&ring, batch.data(), batch.size());
            if (got == 0) {
                return true;
            }
            for (unsigned k = 0; k < got; ++k) {
                take(::io_uring_cqe_get_data64(batch[k]), batch[k]->res);
            }
            ::io_uring_cq_advance(&ring, got);
        }
    }

    io_uring_sqe* sqe() {
        io_uring_sqe* e = ::io_uring_get_sqe(&ring);
        if (e == nullptr) {
            // The queue holds one entry per slot, and each slot has one request out at a time,
            // so this only happens if the kernel took none of the last ones.
            ::io_uring_submit(&ring);
            e = ::io_uring_get_sqe(&ring);
        }
        return e;
    }
};

std::unique_ptr<TailRing::State> TailRing::makeState(unsigned window, Setup& outcome) {
    auto state = std::make_unique<State>();
    // A kernel that knows these flags spares the program the interruptions of completions it is
    // not waiting for; an older one refuses them with EINVAL and gets a plain ring.
    const unsigned flagSets[] = {IORING_SETUP_SUBMIT_ALL | IORING_SETUP_COOP_TASKRUN, 0};
    int err = 0;
    for (unsigned entries = window; entries >= kMinWindow; entries /= 2) {
        for (const unsigned flags : flagSets) {
            io_uring_params params{};
            params.flags = flags;
            err = -::io_uring_queue_init_params(entries, &state->ring, &params);
            if (err == 0) {
                window = entries;
                break;
            }
            if (err != EINVAL) {
                break;
            }
        }
        // ENOMEM: locked memory or the kernel's own limit; a smaller ring may still fit.
        if (err != ENOMEM && err != EINVAL) {
            break;
        }
    }
    if (err != 0) {
        // EMFILE, ENFILE: the ring needs a descriptor, and one may be free next time.
        outcome = err == EMFILE || err == ENFILE || err == ENOMEM ? Setup::Later : Setup::Refused;
        state->ring.ring_fd = -1;
        return nullptr;
    }

    io_uring_probe* probe = ::io_uring_get_probe_ring(&state->ring);
    const bool able = probe != nullptr && ::io_uring_opcode_supported(probe, IORING_OP_OPENAT) &&
                      ::io_uring_opcode_supported(probe, IORING_OP_READ) &&
                      ::io_uring_opcode_supported(probe, IORING_OP_CLOSE);
    if (probe != nullptr) {
        ::io_uring_free_probe(probe);
    }
    if (!able) {
        outcome = Setup::Refused;
        return nullptr;
    }
    // An open that misses the caches goes to the kernel's workers, of which it would otherwise
    // allow only four per processor: as many as the window, so that every file in flight
    // waits on the medium at the same time.
    unsigned workers[2] = {window, 0};
    ::io_uring_register_iowq_max_workers(&state->ring, workers);

    state->slots.resize(window);
    state->free.reserve(window);
    for (std::size_t i = window; i > 0; --i) {
        state->free.push_back(i - 1);
    }
    outcome = Setup::Ready;
    return state;
}

std::unique_ptr<TailRing> TailRing::create(unsigned window, Setup& outcome) {
    std::unique_ptr<State> state = makeState(window, outcome);
    if (!state)
        return nullptr;
    const auto granted = static_cast<unsigned>(state->slots.size());
    return std::unique_ptr<TailRing>(new TailRing(std::move(state), granted));
}

TailRing::TailRing(std::unique_ptr<State> state, unsigned window)
    : s_(std::move(state)),
      second_(std::make_unique<SecondThread>()),
      window_(window),
      limit_(window) {}

TailRing::~TailRing() = default;

// What both rings of a shared batch read from, and where the answers go.
struct TailRing::Batch {
    int dir;
    int access;
    unsigned openFlags;
    std::span<const QString> names;
    std::size_t bytes;
    std::uint64_t minSize;
    std::span<FileTail> tails;
    std::span<int> keep;
};

bool TailRing::read(const QString& folder, std::span<const QString> names, std::size_t bytes,
                    std::uint64_t minSize, std::span<FileTail> tails,
                    std::vector<std::size_t>& redo, std::span<int> keep) {
    bytes = std::min(bytes, FileTail::kCapacity);
    // A shortage of descriptors may have passed since the last call.
    limit_ = window_;
    // The names are opened relative to the folder, which is looked up once.
    const int dir = ::open(encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            redo.push_back(i);
        }
        return true;
    }
    // A server answers an open itself (FUSE's open request, NFS's and SMB's open calls) even when
    // the name is cached, and io_uring makes a cached open at once in the submitting thread: one
    // open at a time, each a round trip. Sent straight to the kernel's workers instead, they wait
    // on the server together.
    const bool served = waitsOnServer(dir);
    // To write, a link's target must be checked first, which open() does: O_NOFOLLOW sends links
    // back to it.
    const Batch batch{dir,
                      keep.empty() ? O_RDONLY : O_RDWR | O_NOFOLLOW,
                      served ? IOSQE_ASYNC : 0u,
                      names,
                      bytes,
                      minSize,
                      tails,
                      keep};

    // A large batch is shared with a second thread, which takes its files from the far end.
    // Warm, every file is a few system calls either way, and two processors make them in about
    // half the time; cold, both keep the medium busy. To read, that thread has a ring of its own:
    // a ring makes a warm file's open, read and close without a system call each, about a quarter
    // less than plain calls cost. To write, it makes plain calls, since a write batch is no
    // larger than the window. A server is left to the ring.
    Positions positions(names.size());
    std::vector<std::size_t> theirRedo;
    bool shared = false;
    if (!served && names.size() >= (keep.empty() ? kShareFrom : kShareWritesFrom)) {
        makeRoomForBoth();
        shared = second_->start([&] {
            if (State* other = keep.empty() ? secondRing() : nullptr) {
                unsigned limit = static_cast<unsigned>(other->slots.size());
                if (!turn(*other, limit, batch, positions, false, false, theirRedo)) {
                    // As for the first ring: the kernel may still write into its slots.
                    static_cast<void>(s2_.release());
                    s2Refused_ = true;
                }
                return;
            }
            std::size_t i = 0;
            while (positions.takeBack(i)) {
                if (!readPlain(dir, encodeName(names[i]), bytes, minSize, tails[i],
                               keep.empty() ? nullptr : &keep[i]))
                    theirRedo.push_back(i);
            }
        });
    }
    // A batch to write is no larger than the window, which the ring would otherwise take whole
    // before the second thread is awake: it takes no more than it leaves, as long as every open
    // it asks for is answered at once. One that waits on the medium means a cold folder, where
    // the ring's whole window in flight is worth more than a second thread.
    const bool ok = turn(*s_, limit_, batch, positions, true, shared && !keep.empty(), redo);
    // The second thread reads what the ring did not take, in the folder still open.
    if (shared)
        second_->wait();
    ::close(dir);
    // What no ring took, once one failed.
    std::size_t untaken = 0;
    while (positions.takeFront(untaken)) {
        redo.push_back(untaken);
    }
    redo.insert(redo.end(), theirRedo.begin(), theirRedo.end());
    if (!ok) {
        // Requests may still be in the kernel, writing into the slots: the state is never freed.
        static_cast<void>(s_.release());
        return false;
    }
    return true;
}

void TailRing::makeRoomForBoth() {
    if (roomMade_)
        return;
    roomMade_ = true;
    // The table of descriptors grows as files are opened, and while threads share it every growth
    // waits until each processor has passed through the scheduler, which takes milliseconds. Grown
    // once to hold both windows before the second thread first shares it (in a program of one
    // thread, at no cost), it does not grow in the middle of a batch. Beyond the process's limit
    // of descriptors this fails, and the table grows as it needs.
    constexpr int kOthers = 64;  // the program's own descriptors
    const int reach =
        ::fcntl(s_->ring.ring_fd, F_DUPFD_CLOEXEC, static_cast<int>(2 * window_) + kOthers);
    if (reach >= 0)
        ::close(reach);
}

TailRing::State* TailRing::secondRing() {
    if (!s2_ && !s2Refused_) {
        Setup outcome = Setup::Refused;
        s2_ = makeState(window_, outcome);
        // A passing shortage (of descriptors, of locked memory) may be over next time.
        s2Refused_ = !s2_ && outcome == Setup::Refused;
    }
    return s2_.get();
}

bool TailRing::turn(State& s, unsigned& limit, const Batch& b, Positions& positions, bool front,
                    bool halve, std::vector<std::size_t>& redo) {
    s.names.resize(b.names.size());
    unsigned opensAsked = 0;
    unsigned opensAnswered = 0;
    std::deque<std::size_t> requeued;
    unsigned active = 0;
    // The next position for the ring: one given back for want of descriptors first.
    const auto take = [&](std::size_t& index) {
        if (requeued.empty())
            return (!halve || active < positions.left()) &&
                   (front ? positions.takeFront(index) : positions.takeBack(index));
        index = requeued.front();
        requeued.pop_front();
        return true;
    };

    auto close = [&](std::size_t slot) {
        io_uring_sqe* e = s.sqe();
        ::io_uring_prep_close(e, s.slots[slot].fd);
        ::io_uring_sqe_set_data64(e, tagOf(slot, kClose));
    };
    auto release = [&](std::size_t slot) {
        s.slots[slot].fd = -1;
        s.free.push_back(slot);
        --active;
    };

    for (;;) {
        std::size_t index = 0;
        while (active < limit && take(index)) {
            s.names[index] = encodeName(b.names[index]);
            const std::size_t slot = s.free.back();
            s.free.pop_back();
            State::Slot& sl = s.slots[slot];
            sl.index = index;
            sl.fd = -1;
            sl.redo = false;
            b.tails[index] = FileTail{};
            io_uring_sqe* e = s.sqe();
            // As open() does: never a terminal, never stalled by a FIFO.
            ::io_uring_prep_openat(e, b.dir, s.names[index].constData(),
                                   b.access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
            ::io_uring_sqe_set_flags(e, b.openFlags);
            ::io_uring_sqe_set_data64(e, tagOf(slot, kOpen));
            ++active;
            ++opensAsked;
        }
        if (active == 0) {
            return true;
        }
        const bool ok = s.submitAndTake([&](std::uint64_t data, int res) {
            const std::size_t slot = static_cast<std::size_t>(data >> 2);
            State::Slot& sl = s.slots[slot];
            FileTail& t = b.tails[sl.index];
            switch (static_cast<Op>(data & 3)) {
                case kOpen: {
                    ++opensAnswered;
                    if (res == -EMFILE || res == -ENFILE) {
                        if (active > 1) {
                            // The files of this window hold the descriptors the process
                            // lacks: fewer at a time, and this one again when one is free.
                            limit = std::max(1u, std::min(limit, active - 1));
                            requeued.push_front(sl.index);
                            release(slot);
                            break;
                        }
                    }
                    if (res < 0) {
                        redo.push_back(sl.index);
                        release(slot);
                        break;
                    }
                    sl.fd = res;
                    // A file another writer holds is not waited for here, with others held:
                    // the caller decides. Its length is known only once the lock is held.
                    if (!b.keep.empty() && !lockForWriting(sl.fd, false)) {
                        sl.redo = true;
                        close(slot);
                        break;
                    }
                    // The open brought the inode in, so this never waits on the medium;
                    // anything but a regular file is refused as open() refuses it.
                    struct stat st {};
                    if (::fstat(sl.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                        t.code = code::kNotRegularFile;
                        close(slot);
                        break;
                    }
                    t.size = static_cast<std::uint64_t>(st.st_size);
                    if (t.size < b.minSize) {
                        close(slot);
                        break;
                    }
                    if (t.size == 0 && !b.keep.empty()) {
                        b.keep[sl.index] = sl.fd;
                        release(slot);
                        break;
                    }
                    sl.want = t.size >= b.bytes ? b.bytes : static_cast<std::size_t>(t.size);
                    io_uring_sqe* e = s.sqe();
                    ::io_uring_prep_read(e, sl.fd, sl.buf.data(), static_cast<unsigned>(sl.want),
                                         t.size - sl.want);
                    ::io_uring_sqe_set_data64(e, tagOf(slot, kRead));
                    break;
                }
                case kRead:
                    if (res >= 0 && static_cast<std::size_t>(res) == sl.want) {
                        std::copy_n(sl.buf.begin(), sl.want, t.bytes.begin());
                        t.length = sl.want;
                        if (!b.keep.empty()) {
                            b.keep[sl.index] = sl.fd;
                            release(slot);
                            break;
                        }
                    } else {
                        // A short read (the file shrank) or an interrupted one: readAt()
                        // goes on reading, so this file is read again that way.
                        sl.redo = true;
                    }
                    close(slot);
                    break;
                case kClose:
                    // A close failure does not change what was read.
                    if (sl.redo) {
                        redo.push_back(sl.index);
                    }
                    release(slot);
                    break;
            }
        });
        if (!ok) {
            // Every file this ring took and did not finish is read again one by one.
            redo.insert(redo.end(), requeued.begin(), requeued.end());
            for (std::size_t slot = 0; slot < s.slots.size(); ++slot) {
                if (std::find(s.free.begin(), s.free.end(), slot) == s.free.end()) {
                    redo.push_back(s.slots[slot].index);
                }
            }
            return false;
        }
        halve = halve && opensAnswered == opensAsked;
    }
}

void TailRing::onBothEnds(std::size_t count, const std::function<void(std::size_t)>& each) {
    Positions positions(count);
    const bool shared = count >= kShareWritesFrom && second_->start([&] {
        std::size_t i = 0;
        while (positions.takeBack(i))
            each(i);
    });
    std::size_t i = 0;
    while (positions.takeFront(i))
        each(i);
    if (shared)
        second_->wait();
}

template <typename Prep, typename Done>
bool TailRing::each(std::size_t count, Prep prep, Done done, std::vector<std::size_t>& redo) {
    State& s = *s_;
    std::vector<bool> finished(count, false);
    std::size_t next = 0;
    std::size_t active = 0;
    while (next < count || active > 0) {
        while (active < window_ && next < count) {
            io_uring_sqe* e = s.sqe();
            prep(next, e);
            ::io_uring_sqe_set_data64(e, next);
            ++next;
            ++active;
        }
        const bool ok = s.submitAndTake([&](std::uint64_t data, int res) {
            const auto i = static_cast<std::size_t>(data);
            finished[i] = true;
            --active;
            done(i, res);
        });
        if (!ok) {
            for (std::size_t i = 0; i < count; ++i) {
                if (!finished[i]) {
                    redo.push_back(i);
                }
            }
            inFlight_ = next;
            static_cast<void>(s_.release());  // requests may still be in the kernel
            return false;
        }
    }
    return true;
}

bool TailRing::write(std::span<FileSystem::Write> writes, std::vector<std::size_t>& redo) {
    return each(
        writes.size(),
        [&](std::size_t i, io_uring_sqe* e) {
            const FileSystem::Write& w = writes[i];
            ::io_uring_prep_write(e, w.fd, w.data.data(), static_cast<unsigned>(w.data.size()),
                                  w.offset);
        },
        [&](std::size_t i, int res) {
            // A short or refused write (EAGAIN on a file opened without blocking, EINTR) is
            // made again by writeAt(), which goes on until all is written or gives the reason.
            if (res < 0 || static_cast<std::size_t>(res) != writes[i].data.size()) {
                redo.push_back(i);
            } else {
                writes[i].code = code::kOk;
            }
        },
        redo);
}

bool TailRing::close(std::span<const int> fds, std::span<Code> codes,
                     std::vector<std::size_t>& redo) {
    const bool ok = each(
        fds.size(), [&](std::size_t i, io_uring_sqe* e) { ::io_uring_prep_close(e, fds[i]); },
        [&](std::size_t i, int res) {
            // As close(): the descriptor is gone even after EINTR.
            codes[i] = res < 0 && res != -EINTR ? codeFromErrno(-res) : code::kOk;
        },
        redo);
    if (!ok) {
        // A descriptor whose close was handed to the kernel may be closed already and its number
        // given to another file: it is not closed again, and what became of it is unknown.
        std::erase_if(redo, [&](std::size_t i) {
            if (i >= inFlight_) {
                return false;
            }
            codes[i] = code::kDeviceIo;
            return true;
        });
    }
    return ok;
}

}  // namespace sorvel::platform
