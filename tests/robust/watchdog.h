#pragma once

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace sorvel::test {

/// Ends the process with a message when a case runs longer than it may, so that a hang fails the
/// run instead of holding it.
class Watchdog {
public:
    Watchdog(QByteArray what, std::chrono::seconds limit)
        : thread_([this, what = std::move(what), limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return over_; })) {
                  std::fprintf(stderr, "%s hangs: still running after %lld s\n", what.constData(),
                               static_cast<long long>(limit.count()));
                  std::_Exit(124);
              }
          }) {}
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            over_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;
};

}  // namespace sorvel::test
