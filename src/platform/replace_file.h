#pragma once

// Small files the program keeps for itself (its settings), written whole so that no failure ever
// leaves half a file.

#include "platform/errors.h"

#include <QByteArray>
#include <QString>

namespace sorvel::platform {

/// Writes `text` to `target` through a temporary file in the same folder (made, with the folders
/// above it, where missing) that replaces the old file only once it is complete and on disk.
/// Temporary files that saves killed on the way left behind are removed first.
Code replaceFile(const QString& target, const QByteArray& text);

/// Whether files can be made in `folder`.
bool writableFolder(const QString& folder);

/// Whether `folder` belongs to the system's installed programs (/usr and below): a hierarchy that
/// holds no files written at run time, whether or not it can be written.
bool holdsInstalledPrograms(const QString& folder);

/// Where the user's programs keep their settings: $XDG_CONFIG_HOME, by default ~/.config.
QString configFolder();

}  // namespace sorvel::platform
