#include "platform/probe.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace sorvel::platform {

struct Probe::State {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Finding> finding;
};

namespace {

// The questions still waiting for their answers, by key.
struct Waiting {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Probe::State>> byKey;
};

Waiting& waiting() {
    // Never destroyed: a helper thread that answers while the program exits still finds it.
    static auto* w = new Waiting;
    return *w;
}

void answer(Probe::State& state, Finding finding) {
    {
        const std::lock_guard lock(state.mutex);
        state.finding = std::move(finding);
    }
    state.answered.notify_all();
}

}  // namespace

Probe::Probe(std::string key, std::function<Finding()> question) {
    Waiting& w = waiting();
    std::unique_lock lock(w.mutex);
    if (const auto it = w.byKey.find(key); it != w.byKey.end()) {
        state_ = it->second;
        wasWaiting_ = true;
        return;
    }
    state_ = std::make_shared<State>();
    w.byKey.emplace(key, state_);
    try {
        std::thread([state = state_, key, question]() mutable {
            answer(*state, question());
            Waiting& all = waiting();
            const std::lock_guard done(all.mutex);
            if (const auto it = all.byKey.find(key); it != all.byKey.end() && it->second == state) {
                all.byKey.erase(it);
            }
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread to spare the question is asked here, as it was before there were
        // helper threads: a program that cannot start threads has worse trouble.
        w.byKey.erase(key);
        lock.unlock();
        answer(*state_, question());
    }
}

std::optional<Finding> Probe::answerBy(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(state_->mutex);
    state_->answered.wait_until(lock, deadline, [this] { return state_->finding.has_value(); });
    return state_->finding;
}

std::optional<Finding> ask(std::string key, std::function<Finding()> question,
                           std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    return Probe(std::move(key), std::move(question)).answerBy(deadline);
}

}  // namespace sorvel::platform
