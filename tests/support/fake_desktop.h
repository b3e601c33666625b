#pragma once

// Desktop services that answer as a test tells them, for what the real ones cannot be made to do
// on demand: a user's answer, a drive that fails, a clock that jumps.

#include "platform/desktop.h"
#include "platform/drives_posix.h"

#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace sorvel::test {

/// The front of `queue`, taken from it, or `otherwise` when it is empty.
template <class T>
T takeFront(std::deque<T>& queue, T otherwise) {
    if (queue.empty())
        return otherwise;
    const T front = queue.front();
    queue.pop_front();
    return front;
}

/// Records every message and answers from a queue (OK when the queue is empty).
class FakeMessageBoxes : public platform::MessageBoxes {
public:
    struct Shown {
        QString title, text;
        Icon icon = Icon::Critical;
        Buttons buttons = Buttons::Ok;
        friend bool operator==(const Shown&, const Shown&) = default;
    };
    std::vector<Shown> shown;
    std::deque<Answer> answers;
    /// Called while a message is up, as a user would act before answering.
    std::function<void(const Shown&)> whileShown;

    Answer show(const QString& title, const QString& text, Icon icon, Buttons buttons) override {
        shown.push_back({title.isEmpty() ? QStringLiteral("Sorvel") : title, text, icon, buttons});
        if (whileShown)
            whileShown(shown.back());
        return takeFront(answers, Answer::Ok);
    }
};

class FakeOpener : public platform::Opener {
public:
    std::vector<QString> opened, started;
    bool open(const QString& path) override { return opened.push_back(path), true; }
    bool startProgram(const QString& program) override { return started.push_back(program), true; }
};

class FakeTrash : public platform::Trash {
public:
    std::vector<QString> trashed;
    Code moveToTrash(const QString& path) override { return trashed.push_back(path), code::kOk; }
};

/// A clock that moves only when told, or by `step` on every reading.
class FakeClock : public platform::Clock {
public:
    double now = 0, step = 0;
    int readings = 0;
    double seconds() override { return ++readings, (now += step) - step; }
};

/// No registry, as on this platform.
class FakeRegistry : public platform::Registry {
public:
    bool value(Root, const QString&, const QString&, QString& value) override {
        return value.clear(), false;
    }
};

class FakeProgramFolder : public platform::ProgramFolder {
public:
    QString folder;
    QString path() override { return folder; }
};

class FakeDrives : public platform::Drives {
public:
    std::vector<Drive> drives;
    std::map<QString, std::deque<Code>> checks;  // root -> answers, then kOk
    std::vector<Drive> list() override { return drives; }
    Drive driveOf(const QString& path) override { return platform::driveOfPath(drives, path); }
    Code check(const Drive& drive) override { return takeFront(checks[drive.root], code::kOk); }
};

}  // namespace sorvel::test
