#pragma once

#include "platform/errors.h"

#include <QString>
#include <vector>

namespace sorvel::platform {

/// Message boxes in the program's own words: no widgets and no toolkit numbers cross this line.
class MessageBoxes {
public:
    enum class Icon { None, Critical, Information };
    enum class Buttons { Ok, OkCancel, RetryCancel };
    enum class Answer { Ok, Cancel, Retry };

    virtual ~MessageBoxes() = default;
    /// Shows a modal message and waits for the answer. An empty title shows "Sorvel".
    virtual Answer show(const QString& title, const QString& text, Icon icon, Buttons buttons) = 0;
};

/// A message a command leaves for the window to show once it is done: it asks nothing.
struct Message {
    QString title;
    QString text;
    MessageBoxes::Icon icon = MessageBoxes::Icon::Critical;
    friend bool operator==(const Message&, const Message&) = default;
};
using Messages = std::vector<Message>;

/// The message "Fel" with `text`, as the commands report most failures.
inline Message error(const QString& text) {
    return {QStringLiteral("Fel"), text};
}

/// The desktop's open command: a document with the program the desktop associates with its type,
/// or a web address with the browser. Never waits for the program.
class Opener {
public:
    virtual ~Opener() = default;
    /// False when the open command could not be started at all.
    virtual bool open(const QString& pathOrAddress) = 0;
    /// Starts a program with a normal window, without waiting; false when it could not start.
    virtual bool startProgram(const QString& program) = 0;
};

/// The desktop's trash (the recycle bin), where a deleted file can be restored from.
class Trash {
public:
    virtual ~Trash() = default;
    /// Moves the file to the trash; code::kOk, or the failure's code. The file is never lost:
    /// on failure it stays where it was.
    virtual Code moveToTrash(const QString& path) = 0;
};

/// A clock that never runs backwards, in seconds from an arbitrary start.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double seconds() = 0;
};

/// String values of the system registry, where the platform has one.
class Registry {
public:
    enum class Root { LocalMachine };
    virtual ~Registry() = default;
    /// The string value `name` under `key`; false (and `value` empty) when there is none.
    virtual bool value(Root root, const QString& key, const QString& name, QString& value) = 0;
};

/// Where the program's own files are (the help page, the settings file when it may be written).
class ProgramFolder {
public:
    virtual ~ProgramFolder() = default;
    /// The folder of the executable, without a separator at the end.
    virtual QString path() = 0;
};

/// The drives of the drive chooser: on this platform the mounted file systems a user browses.
class Drives {
public:
    struct Drive {
        QString root;   ///< the mount point, e.g. "/" or "/media/usb"
        QString label;  ///< what the chooser shows beside the root
        friend bool operator==(const Drive&, const Drive&) = default;
    };
    virtual ~Drives() = default;
    virtual std::vector<Drive> list() = 0;
    /// The drive that holds `path` (the longest root that is a prefix of it).
    virtual Drive driveOf(const QString& path) = 0;
    /// code::kOk when the drive can be read now; code::kDeviceUnavailable when it cannot be
    /// reached, another code for other failures.
    virtual Code check(const Drive& drive) = 0;
};

}  // namespace sorvel::platform
