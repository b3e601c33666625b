#include "write/journal.h"

#include "tag/genre.h"

#include <QHash>
#include <algorithm>
#include <climits>
#include <cstring>

namespace sorvel::write {
namespace {

// A file name as the failure lists and the status name it: the shown name and ".mp3".
QString shown(const QString& file) {
    browse::Row row;
    browse::setFileName(row, file);
    return browse::shownName(row) + QStringLiteral(".mp3");
}

// What a record costs beyond its own size: the text of its two names. QString shares the data of
// equal names, but counting them twice keeps the bound on the safe side.
std::size_t bytesOf(const Command& c) {
    std::size_t n = sizeof(Command) + static_cast<std::size_t>(c.label.size()) * 2;
    n += c.files.capacity() * sizeof(FileChange);
    for (const FileChange& f : c.files) {
        n += static_cast<std::size_t>(f.nameBefore.size() + f.nameAfter.size()) * 2;
    }
    return n;
}

int clampToInt(std::size_t n) {
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// Whether the open file is still as the command left it.
Code checkUnchanged(platform::FileSystem& fs, int fd, std::uint64_t size, const FileChange& f) {
    if (size != f.newLength)
        return kChangedSince;
    tag::Trailer now{};
    const std::span<std::byte> tail(now.data(), f.newTailSize);
    if (const Code c = fs.readAt(fd, size - f.newTailSize, tail); c != code::kOk)
        return c;
    if (std::memcmp(now.data(), f.newTail.data(), f.newTailSize) != 0)
        return kChangedSince;
    return code::kOk;
}

// Puts one file back. The descriptor opened under the name the command left stays on the same
// file through the rename, so the check and the restore cannot reach two different files.
Code restore(platform::FileSystem& fs, const QString& katalog, const FileChange& f) {
    const QString path = katalog + f.nameAfter;
    int fd = -1;
    std::uint64_t size = 0;
    const auto access =
        f.wrote ? platform::FileSystem::Access::ReadWrite : platform::FileSystem::Access::Read;
    if (const Code c = fs.open(path, access, fd, size); c != code::kOk)
        return c;
    platform::FileGuard guard(fs, fd);
    if (const Code c = checkUnchanged(fs, fd, size, f); c != code::kOk)
        return c;

    // The old name may hold what platform::checkNewName() refuses: the file came with it, so the
    // rename goes straight to the file system, which never replaces either.
    const bool renamed = f.nameBefore != f.nameAfter;
    const QString oldPath = katalog + f.nameBefore;
    if (renamed) {
        if (const Code c = fs.rename(path, oldPath); c != code::kOk)
            return c;
    }
    if (!f.wrote)
        return guard.close();

    Code c = f.hadTrailer ? fs.writeAt(fd, size - tag::kTrailerSize, f.oldTrailer)
                          : fs.truncate(fd, f.oldLength);
    if (c != code::kOk) {
        // The file keeps what the command left, under that name, and may be tried again.
        if (f.hadTrailer)
            fs.writeAt(fd, size - tag::kTrailerSize, f.newTail);
        guard.close();
        if (renamed)
            fs.rename(oldPath, path);
        return c;
    }
    return guard.close();
}

void showRestored(browse::Row& row, const FileChange& f) {
    browse::setFileName(row, f.nameBefore);
    if (!f.wrote)
        return;
    // As a scan of the restored file reads it.
    browse::setTagColumns(
        row, f.hadTrailer ? std::optional(tag::parseTrailer(f.oldTrailer)) : std::nullopt);
    row.print = f.oldPrint;
}

}  // namespace

QString commandLabel(Typ typ) {
    switch (typ) {
        case Typ::Artist:
            return QStringLiteral("Artist");
        case Typ::Titel:
            return QStringLiteral("Titel");
        case Typ::Album:
            return QStringLiteral("Album");
        case Typ::Ar:
            return QStringLiteral("År");
        case Typ::Genre:
            return QStringLiteral("Genre");
        case Typ::Kommentarer:
            return QStringLiteral("Kommentarer");
        case Typ::Filnamn:
            return QStringLiteral("Filnamn --> tag");
    }
    return {};
}

void recordWrite(Command& command, const QString& before, const QString& after,
                 const tag::Replaced& replaced) {
    FileChange& f = command.files.emplace_back();
    f.nameBefore = before;
    f.nameAfter = after;
    f.wrote = true;
    f.hadTrailer = replaced.hadTrailer;
    f.oldLength = replaced.oldLength;
    f.oldTrailer = replaced.oldTrailer;
    f.oldPrint = replaced.oldPrint;
    f.newLength = replaced.newLength;
    f.newTailSize = tag::kTrailerSize;
    f.newTail = replaced.newTrailer;
}

void recordRename(platform::FileSystem& fs, Command& command, const QString& katalog,
                  const QString& before, const QString& after) {
    if (before == after)
        return;  // nothing to take back
    // A rename following a write of the same file in the same command ("&Spara tag") joins it.
    for (FileChange& f : command.files) {
        if (f.nameAfter == before) {
            f.nameAfter = after;
            return;
        }
    }
    int fd = -1;
    std::uint64_t size = 0;
    if (fs.open(katalog + after, platform::FileSystem::Access::Read, fd, size) != code::kOk) {
        return;
    }
    platform::FileGuard guard(fs, fd);
    FileChange f;
    f.nameBefore = before;
    f.nameAfter = after;
    f.newLength = size;
    f.newTailSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, tag::kTrailerSize));
    if (fs.readAt(fd, size - f.newTailSize, std::span(f.newTail.data(), f.newTailSize)) !=
        code::kOk) {
        return;
    }
    command.files.push_back(std::move(f));
}

void Journal::push(Command command) {
    if (command.files.empty())
        return;
    const std::size_t n = bytesOf(command);
    commands_.push_back(std::move(command));
    sizes_.push_back(n);
    bytes_ += n;
    while (!commands_.empty() && (commands_.size() > kMostCommands || bytes_ > mostBytes_)) {
        bytes_ -= sizes_.front();
        commands_.pop_front();
        sizes_.pop_front();
    }
}

void Journal::clear() {
    commands_.clear();
    sizes_.clear();
    bytes_ = 0;
}

QString Journal::undoText() const {
    if (commands_.empty())
        return {};
    const Command& c = commands_.back();
    const std::size_t n = c.files.size();
    return QStringLiteral("Ångra: ") + c.label +
           (n == 1 ? QStringLiteral(" till 1 fil") : QStringLiteral(" till %1 filer").arg(n));
}

UndoResult Journal::undo(platform::FileSystem& fs, const QString& katalog,
                         std::vector<browse::Row>& rows, Observer& observer) {
    UndoResult result;
    if (commands_.empty())
        return result;
    const Command command = std::move(commands_.back());
    bytes_ -= sizes_.back();
    commands_.pop_back();
    sizes_.pop_back();

    QHash<QString, std::size_t> rowOf;
    rowOf.reserve(static_cast<qsizetype>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rowOf.insert(browse::fileName(rows[i]), i);

    const std::size_t n = command.files.size();
    observer.setProgressMax(clampToInt(n));
    observer.setProgress(0);
    const QString aterstaller = QStringLiteral("Återställer ");
    // Newest first: a name one file gave up within the command may be another's old name.
    for (std::size_t k = n; k-- > 0;) {
        const FileChange& f = command.files[k];
        observer.setProgress(clampToInt(n - k));
        if (const Code c = restore(fs, katalog, f); c != code::kOk) {
            result.failures.push_back({shown(f.nameAfter), c});
            continue;
        }
        ++result.restored;
        observer.setStatus(aterstaller + shown(f.nameBefore));
        if (const auto it = rowOf.find(f.nameAfter); it != rowOf.end()) {
            const std::size_t i = it.value();
            rowOf.erase(it);
            showRestored(rows[i], f);
            rowOf.insert(f.nameBefore, i);
        }
    }
    std::reverse(result.failures.begin(), result.failures.end());
    observer.setProgress(0);
    observer.setStatus(QStringLiteral("Klar"));
    return result;
}

void showUndoFailures(platform::MessageBoxes& boxes, const std::vector<Failure>& failures) {
    showFailures(boxes, failures, QStringLiteral("Följande filer kunde inte återställas:"));
}

}  // namespace sorvel::write
