#pragma once

#include "platform/errors.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace sorvel::cli {

/// Appends the paths listed in the file `source` (standard input for "-"), one a line, or with
/// `nul` separated by NUL bytes as `find -print0` writes them. Empty entries are no paths. The
/// bytes of each path are kept, as a name from the command line is.
Code readFileList(const QString& source, bool nul, std::vector<QString>& paths);

/// The genre a value of genre= stands for, as the window's genre list names it: a name in any
/// letter case or a number from 0 to 115; empty for no genre; nothing for anything else.
std::optional<QString> genreOf(const QString& value);

/// The genre table, one "number TAB name" line for each genre.
std::string genreTable();

}  // namespace sorvel::cli
