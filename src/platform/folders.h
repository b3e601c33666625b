#pragma once

#include "platform/errors.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace sorvel::platform {

/// Names (not paths) of the folders directly inside `folder`, links to folders included, in the
/// order the system lists them. Hidden folders (a name beginning with ".") are left out. Names are
/// decoded with decodeName(), so every one of them reaches its folder again. A folder whose file
/// system does not answer within kAnswerTime (probe.h) is code::kDeviceUnavailable.
Code listFolders(const QString& folder, std::vector<QString>& names);

/// Whether `path` names a folder that can be listed now; code::kOk or the failure's code, which is
/// code::kDeviceUnavailable where the file system does not answer within kAnswerTime.
Code checkFolder(const QString& path);

/// A folder as a walk through a tree meets it: which folder it is, so that a walk enters each once
/// however links lead back, and the names of the folders directly in it, except hidden ones and
/// links to folders, which would lead the walk out of its tree.
struct WalkedFolder {
    Code code = code::kOk;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::vector<QString> names;
};
WalkedFolder walkFolder(const QString& folder);

/// Whether `path` leads to a folder (links followed): code::kOk and `isFolder`, or why it cannot
/// be reached.
Code reachPath(const QString& path, bool& isFolder);

/// The user's home folder: $HOME, else the account's, else the root.
QString homeFolder();

/// `path` from the root: a relative path is taken from the folder the program runs in (the
/// desktop's open command gets the same file whatever folder it runs in).
QString absolutePath(const QString& path);

/// `folder` and `name` joined by one separator.
QString joinPath(const QString& folder, const QString& name);

}  // namespace sorvel::platform
