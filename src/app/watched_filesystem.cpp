#include "app/watched_filesystem.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>
#include <utility>

namespace sorvel::app {

using platform::FileTail;

/// One thread that makes the calls handed to it, one after the other. Once retired it makes the
/// calls still waiting and ends; a call whose caller stopped waiting before it began is skipped.
class WatchedFileSystem::Helper {
public:
    struct Job {
        std::function<void()> work, late;
        std::atomic<bool> done = false;
        bool abandoned = false;
    };

    Helper() : thread_([this] { loop(); }) {}
    ~Helper() {
        retire();
        thread_.join();
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    void post(std::shared_ptr<Job> job) {
        {
            const std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
            ++posted_;
        }
        wake_.notify_one();
    }
    /// Whether `job` was done by `deadline`; if not, its answer is no longer taken.
    bool await(Job& job, std::chrono::steady_clock::time_point deadline) {
        if (soon([&] { return job.done.load(); }))
            return true;
        std::unique_lock lock(mutex_);
        if (answered_.wait_until(lock, deadline, [&] { return job.done.load(); }))
            return true;
        job.abandoned = true;
        return false;
    }
    void retire() {
        {
            const std::lock_guard lock(mutex_);
            retired_ = true;
        }
        wake_.notify_one();
    }
    bool finished() const { return finished_; }

private:
    // Most calls take a few microseconds, and a command makes them one after the other: each side
    // looks for the other's answer a little while before it sleeps, as waking a thread costs more
    // than the call.
    template <class Ready>
    static bool soon(Ready ready) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (!ready()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (jobs_.empty() && !retired_) {
                const std::size_t seen = posted_;
                lock.unlock();
                soon([&] { return posted_ != seen; });
                lock.lock();
            }
            wake_.wait(lock, [&] { return retired_ || !jobs_.empty(); });
            if (jobs_.empty())
                break;
            const std::shared_ptr<Job> job = std::move(jobs_.front());
            jobs_.pop_front();
            if (job->abandoned)
                continue;
            lock.unlock();
            job->work();
            lock.lock();
            job->done = true;
            answered_.notify_all();
            if (job->abandoned && job->late) {
                lock.unlock();
                job->late();
                lock.lock();
            }
        }
        finished_ = true;
    }

    std::mutex mutex_;
    std::condition_variable wake_, answered_;
    std::deque<std::shared_ptr<Job>> jobs_;
    bool retired_ = false;
    std::atomic<std::size_t> posted_ = 0;
    std::atomic<bool> finished_ = false;
    std::thread thread_;  // last: it starts once the rest is made
};

WatchedFileSystem::WatchedFileSystem(platform::FileSystem& real, std::chrono::milliseconds limit)
    : real_(real), limit_(limit) {}

WatchedFileSystem::~WatchedFileSystem() = default;  // the helpers' destructors wait for them

bool WatchedFileSystem::stuck() const {
    const std::lock_guard lock(mutex_);
    return std::any_of(left_.begin(), left_.end(), [](const auto& h) { return !h->finished(); });
}

bool WatchedFileSystem::run(std::function<void()> work, std::function<void()> late) {
    if (gaveUp_)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit_;
    const auto job = std::make_shared<Helper::Job>();
    job->work = std::move(work);
    job->late = std::move(late);
    std::shared_ptr<Helper> helper;
    {
        const std::lock_guard lock(mutex_);
        // Helpers that are through are let go; those still in a call stay until the end.
        std::erase_if(left_, [](const auto& h) { return h->finished(); });
        try {
            std::shared_ptr<Helper>& mine = own() ? helper_ : side_;
            if (mine == nullptr)
                mine = std::make_shared<Helper>();
            helper = mine;
        } catch (const std::system_error&) {
            // No thread to be had: the call is made here, as it was before there were helpers.
        }
    }
    if (helper == nullptr) {
        job->work();
        return true;
    }
    helper->post(job);
    if (helper->await(*job, deadline))
        return true;
    gaveUp_ = true;
    const std::lock_guard lock(mutex_);
    if (std::shared_ptr<Helper>& mine = own() ? helper_ : side_; mine == helper) {
        helper->retire();
        left_.push_back(std::move(mine));
    }
    return false;
}

void WatchedFileSystem::leave(std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    try {
        auto helper = std::make_shared<Helper>();
        auto job = std::make_shared<Helper::Job>();
        job->work = std::move(work);
        helper->post(std::move(job));
        helper->retire();
        left_.push_back(std::move(helper));
    } catch (const std::system_error&) {
        // Without a thread the descriptors stay open: closing them here could hold the window.
    }
}

Code WatchedFileSystem::listMp3(const QString& folder, std::vector<QString>* names,
                                std::size_t& count) {
    struct Call {
        std::vector<QString> names;
        std::size_t count = 0;
        Code c = code::kOk;
    };
    auto call = std::make_shared<Call>();
    const bool wantNames = names != nullptr;
    platform::FileSystem& real = real_;
    if (!run([call, &real, folder, wantNames] {
            call->c = real.listMp3(folder, wantNames ? &call->names : nullptr, call->count);
        }))
        return code::kDeviceUnavailable;
    count += call->count;
    if (names != nullptr)
        std::move(call->names.begin(), call->names.end(), std::back_inserter(*names));
    return call->c;
}

Code WatchedFileSystem::probeFolder(const QString& folder) {
    const Code c = real_.probeFolder(folder);
    if (c == code::kOk)
        tryAgain();
    return c;
}

Code WatchedFileSystem::openThrough(const Opening& how, int& fd, std::uint64_t& size) {
    fd = -1;
    size = 0;
    struct Call {
        int fd = -1;
        std::uint64_t size = 0;
        Code c = code::kOk;
    };
    auto call = std::make_shared<Call>();
    platform::FileSystem& real = real_;
    // A descriptor that comes after the caller gave up is closed on the helper.
    if (!run([call, &real, how] { call->c = how(real, call->fd, call->size); },
             [call, &real] {
                 if (call->fd >= 0)
                     real.close(call->fd);
             }))
        return code::kDeviceUnavailable;
    fd = call->fd;
    size = call->size;
    return call->c;
}

Code WatchedFileSystem::open(const QString& path, Access access, int& fd, std::uint64_t& size) {
    return openThrough([path, access](platform::FileSystem& real, int& f,
                                      std::uint64_t& s) { return real.open(path, access, f, s); },
                       fd, size);
}

Code WatchedFileSystem::openToRead(const QString& path, int& fd, std::uint64_t& size) {
    return openThrough([path](platform::FileSystem& real, int& f,
                              std::uint64_t& s) { return real.openToRead(path, f, s); },
                       fd, size);
}

Code WatchedFileSystem::listFolders(const QString& folder, std::vector<QString>& names) {
    struct Call {
        std::vector<QString> names;
        Code c = code::kOk;
    };
    auto call = std::make_shared<Call>();
    platform::FileSystem& real = real_;
    if (!run([call, &real, folder] { call->c = real.listFolders(folder, call->names); }))
        return code::kDeviceUnavailable;
    names.insert(names.end(), call->names.begin(), call->names.end());
    return call->c;
}

Code WatchedFileSystem::answerOf(const CodeCall& call) {
    auto c = std::make_shared<Code>(code::kOk);
    platform::FileSystem& real = real_;
    if (!run([c, &real, call] { *c = call(real); }))
        return code::kDeviceUnavailable;
    return *c;
}

Code WatchedFileSystem::checkFolder(const QString& path) {
    return answerOf([path](platform::FileSystem& real) { return real.checkFolder(path); });
}

Code WatchedFileSystem::readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) {
    auto read = std::make_shared<std::vector<std::byte>>(buf.size());
    auto c = std::make_shared<Code>(code::kOk);
    platform::FileSystem& real = real_;
    if (!run([read, c, &real, fd, offset] { *c = real.readAt(fd, offset, *read); }))
        return code::kDeviceUnavailable;
    std::copy(read->begin(), read->end(), buf.begin());
    return *c;
}

Code WatchedFileSystem::writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) {
    // The helper writes its own copy: the caller's bytes may be gone by the time it gets to them.
    auto bytes = std::make_shared<std::vector<std::byte>>(data.begin(), data.end());
    return answerOf([bytes, fd, offset](platform::FileSystem& real) {
        return real.writeAt(fd, offset, *bytes);
    });
}

Code WatchedFileSystem::truncate(int fd, std::uint64_t size) {
    return answerOf([fd, size](platform::FileSystem& real) { return real.truncate(fd, size); });
}

Code WatchedFileSystem::close(int fd) {
    platform::FileSystem& real = real_;
    if (gaveUp_) {
        leave([&real, fd] { real.close(fd); });
        return code::kDeviceUnavailable;
    }
    // A close given up on still closes, on the helper, once the file system answers.
    return answerOf([fd](platform::FileSystem& fs) { return fs.close(fd); });
}

Code WatchedFileSystem::rename(const QString& from, const QString& to) {
    return answerOf([from, to](platform::FileSystem& real) { return real.rename(from, to); });
}

Code WatchedFileSystem::remove(const QString& path) {
    return answerOf([path](platform::FileSystem& real) { return real.remove(path); });
}

bool WatchedFileSystem::exists(const QString& path) {
    auto found = std::make_shared<bool>(false);
    platform::FileSystem& real = real_;
    return run([found, &real, path] { *found = real.exists(path); }) && *found;
}

namespace {

void unreachable(std::span<FileTail> tails) {
    for (FileTail& t : tails)
        t = FileTail{code::kDeviceUnavailable};
}

}  // namespace

void WatchedFileSystem::readTails(const QString& folder, std::span<const QString> names,
                                  std::size_t bytes, std::uint64_t minSize,
                                  std::span<FileTail> tails) {
    struct Call {
        std::vector<QString> names;
        std::vector<FileTail> tails;
    };
    auto call = std::make_shared<Call>(
        Call{{names.begin(), names.end()}, std::vector<FileTail>(tails.size())});
    // A helper left in a batch call may still hold what the file system keeps for those calls:
    // meanwhile they go one file after the other.
    const bool oneByOne = stuck();
    platform::FileSystem& real = real_;
    if (!run([call, &real, folder, bytes, minSize, oneByOne] {
            if (oneByOne)
                real.FileSystem::readTails(folder, call->names, bytes, minSize, call->tails);
            else
                real.readTails(folder, call->names, bytes, minSize, call->tails);
        }))
        return unreachable(tails);
    std::copy(call->tails.begin(), call->tails.end(), tails.begin());
}

void WatchedFileSystem::openTails(const QString& folder, std::span<const QString> names,
                                  std::size_t bytes, std::span<FileTail> tails,
                                  std::span<int> fds) {
    struct Call {
        std::vector<QString> names;
        std::vector<FileTail> tails;
        std::vector<int> fds;
    };
    auto call = std::make_shared<Call>(Call{{names.begin(), names.end()},
                                            std::vector<FileTail>(tails.size()),
                                            std::vector<int>(fds.size(), -1)});
    const bool oneByOne = stuck();
    platform::FileSystem& real = real_;
    if (!run(
            [call, &real, folder, bytes, oneByOne] {
                if (oneByOne)
                    real.FileSystem::openTails(folder, call->names, bytes, call->tails, call->fds);
                else
                    real.openTails(folder, call->names, bytes, call->tails, call->fds);
            },
            [call, &real] {
                for (const int fd : call->fds)
                    if (fd >= 0)
                        real.close(fd);
            })) {
        std::fill(fds.begin(), fds.end(), -1);
        return unreachable(tails);
    }
    std::copy(call->tails.begin(), call->tails.end(), tails.begin());
    std::copy(call->fds.begin(), call->fds.end(), fds.begin());
}

void WatchedFileSystem::writeAll(std::span<Write> writes) {
    struct Call {
        std::vector<std::vector<std::byte>> data;
        std::vector<Write> writes;
    };
    auto call = std::make_shared<Call>();
    call->data.reserve(writes.size());
    call->writes.reserve(writes.size());
    for (const Write& w : writes) {
        call->data.emplace_back(w.data.begin(), w.data.end());
        call->writes.push_back({w.fd, w.offset, call->data.back(), code::kOk});
    }
    const bool oneByOne = stuck();
    platform::FileSystem& real = real_;
    if (!run([call, &real, oneByOne] {
            if (oneByOne)
                real.FileSystem::writeAll(call->writes);
            else
                real.writeAll(call->writes);
        })) {
        for (Write& w : writes)
            w.code = code::kDeviceUnavailable;
        return;
    }
    for (std::size_t i = 0; i < writes.size(); ++i)
        writes[i].code = call->writes[i].code;
}

void WatchedFileSystem::closeAll(std::span<const int> fds, std::span<Code> codes) {
    auto open = std::make_shared<std::vector<int>>(fds.begin(), fds.end());
    platform::FileSystem& real = real_;
    if (gaveUp_) {
        leave([open, &real] {
            for (const int fd : *open)
                if (fd >= 0)
                    real.close(fd);
        });
        std::fill(codes.begin(), codes.end(), code::kDeviceUnavailable);
        return;
    }
    auto closed = std::make_shared<std::vector<Code>>(codes.size(), code::kOk);
    const bool oneByOne = stuck();
    if (!run([open, closed, &real, oneByOne] {
            if (oneByOne)
                real.FileSystem::closeAll(*open, *closed);
            else
                real.closeAll(*open, *closed);
        }))
        return std::fill(codes.begin(), codes.end(), code::kDeviceUnavailable);
    std::copy(closed->begin(), closed->end(), codes.begin());
}

}  // namespace sorvel::app
