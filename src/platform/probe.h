#pragma once

#include "platform/errors.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sorvel::platform {

/// How long a file system may take to answer before its drive counts as unreachable: long enough
/// for a disk to spin up or a busy server to answer, short enough that a user still waits for it.
inline constexpr std::chrono::milliseconds kAnswerTime{3000};

/// What a question to the file system found.
struct Finding {
    Code code = code::kOk;           ///< the call's failure code
    std::vector<std::string> names;  ///< what a listing found, as the system gives the names
};

/// A question to the file system asked on a thread of its own, so that a file system that never
/// answers (a server gone, a stopped FUSE daemon) holds that thread instead of the caller. A
/// thread in uninterruptible sleep cannot be ended, so it is left to itself: it owns all it
/// touches, and an answer that comes when no one waits any more is dropped.
class Probe {
public:
    /// Asks `question` under `key`, which names the call and its path. While a question of the
    /// same key is still unanswered, this one waits for that answer instead of asking again: a
    /// mount that never answers ties up one thread however often it is asked. `question` must own
    /// everything it uses (copy the path in), as it may run long after this object is gone.
    Probe(std::string key, std::function<Finding()> question);

    /// Whether the question was already waiting for its answer when this probe asked it.
    bool wasWaiting() const { return wasWaiting_; }
    /// The finding, or none when there is none by `deadline`.
    std::optional<Finding> answerBy(std::chrono::steady_clock::time_point deadline) const;

    struct State;

private:
    std::shared_ptr<State> state_;
    bool wasWaiting_ = false;
};

/// Asks and waits at most `limit`: the finding, or none when the file system did not answer.
std::optional<Finding> ask(std::string key, std::function<Finding()> question,
                           std::chrono::milliseconds limit = kAnswerTime);

}  // namespace sorvel::platform
