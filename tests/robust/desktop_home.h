#pragma once

#include "support/files.h"

#include <QString>

namespace sorvel::test {

/// The desktop's data and configuration folders, with the real trash, in a temporary folder for
/// the whole process: GLib reads XDG_DATA_HOME once and keeps what it found, so every case of a
/// process must see the same one. Take it before the trash is first used.
class DesktopHome {
public:
    static const DesktopHome& get() {
        static const DesktopHome home;
        return home;
    }
    /// Ends in "/".
    QString path() const { return dir_.path(); }
    /// Where the trash keeps a file of that name from the home file system.
    QString trashed(const QString& name) const {
        return dir_.path() + QStringLiteral("data/Trash/files/") + name;
    }

private:
    DesktopHome() {
        env_.set("XDG_DATA_HOME", dir_.path() + QStringLiteral("data"));
        env_.set("XDG_CONFIG_HOME", dir_.path() + QStringLiteral("config"));
    }

    TempFolder dir_;
    Environment env_;
};

}  // namespace sorvel::test
