#pragma once

#include "platform/filesystem.h"

#include <QString>

namespace sorvel::core {

/// What the settings file restores, applied in this order; the first failure stops the load.
/// The main window implements it.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    /// Selects the drive that holds `folder` (which may start a scan of that drive).
    virtual Code applyDrive(const QString& folder) = 0;
    /// Shows `folder` in the folder chooser (which starts a scan).
    virtual Code applyFolder(const QString& folder) = 0;
    /// 0 normal, 1 minimised, 2 maximised.
    virtual Code applyWindowState(int state) = 0;
    /// Outer geometry in twips.
    virtual Code applyTop(double twips) = 0;
    virtual Code applyLeft(double twips) = 0;
    virtual Code applyWidth(double twips) = 0;
    virtual Code applyHeight(double twips) = 0;
};

/// The values the settings file keeps.
struct Settings {
    QString folder;
    int windowState = 0;
    double top = 0;
    double left = 0;
    double width = 0;
    double height = 0;
    int fil2tagNr = 0;
};

/// The longest line loadSettings() reads. No line of a file this program writes comes near it; a
/// longer one means the file is not ours, and reading on would only cost memory.
inline constexpr qsizetype kMaxLineBytes = qsizetype{64} * 1024;

/// Reads `iniPath` through `fs` and applies it to `target`: drive, folder, window state, then top,
/// left, width and height. Any failure (no file, fewer than eight lines, a value that is no number,
/// a step the target refuses) stops at once, keeps what was applied and reports nothing. Returns
/// fil2tagNr: the eighth line's value, or 0 after a failure.
int loadSettings(platform::FileSystem& fs, const QString& iniPath, SettingsTarget& target);

/// Writes the eight lines to `iniPath` through a temporary file in the same folder that then
/// replaces the old file, so a failure never leaves half a file. Returns the failure's code.
Code saveSettings(const QString& iniPath, const Settings& settings);

/// Where id3.ini lives: in `programFolder` when that folder can be written and is not part of the
/// system's installed programs (under /usr), otherwise in the user's configuration folder
/// ($XDG_CONFIG_HOME/sorvel, by default ~/.config/sorvel).
QString settingsPath(const QString& programFolder);

}  // namespace sorvel::core
