#pragma once

// Desktop services that answer as a test tells them, for what the real ones cannot be made to do
// on demand: a user's answer, a drive that fails, a clock that jumps.

#include "platform/desktop.h"
#include "platform/drives_posix.h"

#include <QList>
#include <map>
#include <vector>

namespace sorvel::test {

/// Records every message and answers from a queue (OK when the queue is empty).
struct FakeMessageBoxes : platform::MessageBoxes {
    struct Shown {
        QString title, text;
        Icon icon = Icon::Critical;
        Buttons buttons = Buttons::Ok;
        friend bool operator==(const Shown&, const Shown&) = default;
    };
    std::vector<Shown> shown;
    QList<Answer> answers;

    Answer show(const QString& title, const QString& text, Icon icon, Buttons buttons) override {
        shown.push_back({title.isEmpty() ? QStringLiteral("Sorvel") : title, text, icon, buttons});
        return answers.isEmpty() ? Answer::Ok : answers.takeFirst();
    }
};

struct FakeOpener : platform::Opener {
    std::vector<QString> opened;
    bool open(const QString& path) override {
        opened.push_back(path);
        return true;
    }
    bool startProgram(const QString&) override { return true; }
};

struct FakeTrash : platform::Trash {
    std::vector<QString> trashed;
    Code moveToTrash(const QString& path) override {
        trashed.push_back(path);
        return code::kOk;
    }
};

/// A clock that moves only when told, or by `step` on every reading.
struct FakeClock : platform::Clock {
    double now = 0, step = 0;
    int readings = 0;
    double seconds() override {
        ++readings;
        now += step;
        return now - step;
    }
};

struct FakeProgramFolder : platform::ProgramFolder {
    QString folder;
    QString path() override { return folder; }
};

struct FakeDrives : platform::Drives {
    std::vector<Drive> drives;
    std::map<QString, QList<Code>> checks;  // root -> answers, then kOk
    std::vector<Drive> list() override { return drives; }
    Drive driveOf(const QString& path) override { return platform::driveOfPath(drives, path); }
    Code check(const Drive& d) override {
        return checks[d.root].isEmpty() ? code::kOk : checks[d.root].takeFirst();
    }
};

}  // namespace sorvel::test
