#include "write/journal.h"

#include "platform/names.h"
#include "tag/genre.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cstring>

namespace sorvel::write {
namespace {

// A file name as the failure lists and the status name it: the shown name and ".mp3".
QString shown(const QString& file) {
    browse::Row row;
    browse::setFileName(row, file);
    return platform::mp3Name(browse::shownName(row));
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

// Whether a file of `size` bytes whose last f.newTailSize bytes are `tail` is as the command left
// it.
bool asLeft(std::uint64_t size, std::span<const std::byte> tail, const FileChange& f) {
    return size == f.newLength && tail.size() == f.newTailSize &&
           std::memcmp(tail.data(), f.newTail.data(), f.newTailSize) == 0;
}

// Whether the open file is still as the command left it.
Code checkUnchanged(platform::FileSystem& fs, int fd, std::uint64_t size, const FileChange& f) {
    if (size != f.newLength)
        return code::kChangedSince;
    tag::Trailer now{};
    const std::span<std::byte> tail(now.data(), f.newTailSize);
    if (const Code c = fs.readAt(fd, size - f.newTailSize, tail); c != code::kOk)
        return c;
    return asLeft(size, tail, f) ? code::kOk : code::kChangedSince;
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

// Only a tag write under an unchanged name goes into a batch: a rename may free or take a name
// that another change of the command needs, so those keep their place one after the other.
bool batchable(const FileChange& f) {
    return f.wrote && f.nameBefore == f.nameAfter;
}

// What restore() needs for many files at a time, kept from batch to batch.
struct Batch {
    std::vector<const FileChange*> changes;
    std::vector<Code> codes;  // the answer restore() gives, at the change's position
    std::vector<QString> names;

    void clear() {
        changes.clear();
        names.clear();
    }
};

// restore() for each of b.changes, tag writes of distinct names, with the same answers and bytes,
// but with the files opened and read together, written together and closed together.
void restoreAll(platform::FileSystem& fs, const QString& katalog, Batch& b) {
    const tag::BatchSteps steps{
        // As in restore(), the check is made on bytes read through the descriptor that writes.
        .plan =
            [&](std::size_t k, const platform::FileTail& t, tag::BatchSteps::Write& write) {
                const FileChange& f = *b.changes[k];
                if (t.code != code::kOk) {
                    // A read that failed leaves the length the open found, and one by one a length
                    // other than the command left is found before any read is made.
                    const bool opened = t.size != 0;
                    return opened && t.size != f.newLength ? code::kChangedSince : t.code;
                }
                if (!asLeft(t.size, t.tail().last(std::min(t.length, f.newTailSize)), f))
                    return code::kChangedSince;
                if (!f.hadTrailer)
                    return fs.truncate(write.fd, f.oldLength);
                write.offset = t.size - tag::kTrailerSize;
                write.data = f.oldTrailer;
                return code::kOk;
            },
        // The file keeps what the command left and may be tried again.
        .rollBack =
            [&](std::size_t k, const tag::BatchSteps::Write& write) {
                fs.writeAt(write.fd, write.offset, b.changes[k]->newTail);
            },
        .closed = {},
        .alone = [&](std::size_t k) { return restore(fs, katalog, *b.changes[k]); },
    };
    tag::writeBatch(fs, katalog, b.names, tag::kTrailerSize, steps, b.codes);
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
        case Typ::Track:
            return QStringLiteral("Spår");
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
    // A rename right after a write of the same file ("&Spara tag") joins it. Joined to any earlier
    // change, it would be taken back out of its turn, while other changes may have taken or freed
    // the names since.
    if (!command.files.empty() && command.files.back().nameAfter == before) {
        command.files.back().nameAfter = after;
        return;
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
    observer.setProgressMax(browse::clampToInt(n));
    observer.setProgress(0);
    const QString restoring = QStringLiteral("Återställer ");
    auto report = [&](std::size_t k, Code c) {
        const FileChange& f = command.files[k];
        observer.setProgress(browse::clampToInt(n - k));
        if (c != code::kOk) {
            result.failures.push_back({shown(f.nameAfter), c});
            return;
        }
        ++result.restored;
        observer.setStatus(restoring + shown(f.nameBefore));
        if (const auto it = rowOf.find(f.nameAfter); it != rowOf.end()) {
            const std::size_t i = it.value();
            rowOf.erase(it);
            showRestored(rows[i], f);
            rowOf.insert(f.nameBefore, i);
        }
    };
    // Newest first: a name one file gave up within the command may be another's old name. Runs
    // of tag writes go to the file system a batch at a time; the reports come afterwards, file by
    // file, as they would one by one.
    Batch batch;
    QSet<QString> inBatch;
    for (std::size_t k = n; k > 0;) {
        if (!batchable(command.files[k - 1])) {
            --k;
            report(k, restore(fs, katalog, command.files[k]));
            continue;
        }
        batch.clear();
        inBatch.clear();
        // A name met twice is one file written twice: its older write is checked only once the
        // newer is put back, in the next batch.
        for (; k > 0 && batch.changes.size() < tag::kBatch && batchable(command.files[k - 1]) &&
               !inBatch.contains(command.files[k - 1].nameAfter);
             --k) {
            batch.changes.push_back(&command.files[k - 1]);
            batch.names.push_back(command.files[k - 1].nameAfter);
            inBatch.insert(command.files[k - 1].nameAfter);
        }
        restoreAll(fs, katalog, batch);
        for (std::size_t j = 0; j < batch.changes.size(); ++j)
            report(k + batch.changes.size() - 1 - j, batch.codes[j]);
    }
    std::reverse(result.failures.begin(), result.failures.end());
    observer.setProgress(0);
    observer.setStatus(QStringLiteral("Klar"));
    return result;
}

void addUndoFailures(platform::Messages& messages, const std::vector<Failure>& failures) {
    addFailures(messages, failures, QStringLiteral("Följande filer kunde inte återställas:"));
}

}  // namespace sorvel::write
