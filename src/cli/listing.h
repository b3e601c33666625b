#pragma once

#include "cli/messages.h"
#include "core/folder.h"
#include "core/rules.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sorvel::cli {

/// Status and progress are for a window; a script hears only of the outcome.
class Quiet : public core::StatusObserver {
public:
    void setStatus(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgress(int) override {}
};

/// Appends the line `list` prints for `row`, whose file is at `path`: the path, then artist,
/// title, album, year, genre and comment as the window shows them, then the track (empty for
/// none); with `json` one object that also has the name as the window shows it. A dry run gives
/// `file`, the file as it was named, first.
void appendListLine(std::string& out, const QString& path, const core::Row& row, bool json,
                    const QString* file = nullptr);

/// Makes a file system for one more thread: the real one, as `services` has it.
using DiskMaker = std::function<std::unique_ptr<platform::FileSystem>()>;

/// Lists the MP3 files of each path (a folder, or a file) as it comes, with `recursive` the
/// folders below each folder too. Rows are printed as they are read and none is kept. Every file
/// or folder that cannot be read is named to `report`. `services.drives` must answer from
/// several threads at once.
void list(const std::vector<QString>& paths, bool recursive, bool json,
          const core::Folder::Services& services, const DiskMaker& makeDisk, Report& report);

}  // namespace sorvel::cli
