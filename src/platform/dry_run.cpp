#include "platform/dry_run.h"

#include "platform/names.h"

#include <unistd.h>
#include <cerrno>
#include <utility>

namespace sorvel::platform {

Code DryRunFileSystem::listMp3(const QString& folder, std::vector<QString>* names,
                               std::size_t& count) {
    // Listed as the disk has it: what a pretended rename did is seen through exists() alone.
    const bool tidies = std::exchange(real_.tidies_, false);
    const Code c = real_.listMp3(folder, names, count);
    real_.tidies_ = tidies;
    return c;
}

bool DryRunFileSystem::exists(const QString& path) {
    if (taken_.contains(path))
        return true;
    return !freed_.contains(path) && real_.exists(path);
}

Code DryRunFileSystem::rename(const QString& from, const QString& to) {
    if (!exists(from))
        return code::kFileNotFound;
    if (from == to)
        return code::kOk;
    // A rename changes the folders, not the file: one the user may not write refuses it.
    for (const QString* path : {&from, &to}) {
        const QString folder = path->left(path->lastIndexOf(u'/') + 1);
        if (::access(encodeName(folder.isEmpty() ? QStringLiteral(".") : folder), W_OK) != 0)
            return codeFromErrno(errno);
    }
    // A change of letter case alone may find the file itself under the new name, on a medium that
    // ignores case; it is not in its own way there.
    if (from.compare(to, Qt::CaseInsensitive) != 0 && exists(to))
        return code::kFileExists;
    taken_.remove(from);
    freed_.insert(from);
    freed_.remove(to);
    taken_.insert(to);
    return code::kOk;
}

Code DryRunFileSystem::remove(const QString& path) {
    if (!exists(path))
        return code::kFileNotFound;
    taken_.remove(path);
    freed_.insert(path);
    return code::kOk;
}

void DryRunFileSystem::writeAll(std::span<Write> writes) {
    for (Write& w : writes)
        w.code = code::kOk;
}

}  // namespace sorvel::platform
