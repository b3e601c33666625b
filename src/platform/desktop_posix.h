#pragma once

#include "platform/desktop.h"

namespace sorvel::platform {

/// Opens documents and addresses with the desktop's own open command (xdg-open here).
class XdgOpener : public Opener {
public:
    bool open(const QString& pathOrAddress) override;
    bool startProgram(const QString& program) override;
};

/// The monotonic clock of the system.
class SteadyClock : public Clock {
public:
    double seconds() override;
};

/// This platform has no registry: every value is missing.
class NoRegistry : public Registry {
public:
    bool value(Root root, const QString& key, const QString& name, QString& value) override;
};

/// The folder of the running executable.
class ExecutableFolder : public ProgramFolder {
public:
    QString path() override;
};

}  // namespace sorvel::platform
