#pragma once

#include "platform/desktop.h"

namespace sorvel::platform {

/// The desktop's trash as freedesktop.org defines it and as GIO keeps it for the file
/// managers: $XDG_DATA_HOME/Trash for files on the home file system, $topdir/.Trash/$uid or
/// $topdir/.Trash-$uid on other file systems. The original path goes into the .trashinfo file
/// percent-encoded byte for byte, so any name (spaces, "%", "#", bytes that are not UTF-8) is
/// listed and restored as itself. A file that cannot be trashed stays where it is; nothing is
/// ever deleted for good instead.
///
/// Not QFile::moveToTrash: in Qt 6.4 it writes the original path without percent-encoding (a
/// name holding "%41" is listed and restored as "A"), makes "files" and "info" in the working
/// folder when the home trash does not exist yet, loops for ever when "info" is not a writable
/// folder, and cannot reach a name that is not UTF-8.
class GioTrash : public Trash {
public:
    Code moveToTrash(const QString& path) override;
};

}  // namespace sorvel::platform
