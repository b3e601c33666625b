#include "core/folder.h"

#include "fileops/fileops.h"
#include "platform/names.h"
#include "tag/other_tags.h"
#include "write/spara.h"

#include <QStringList>
#include <algorithm>
#include <utility>

namespace sorvel::core {
namespace {

using Answer = platform::MessageBoxes::Answer;
using Buttons = platform::MessageBoxes::Buttons;
using Icon = platform::MessageBoxes::Icon;

/// Collects the scan's rows and passes its status and progress on.
class RowSink : public browse::ScanObserver {
public:
    RowSink(browse::StatusObserver& to, const std::function<void(browse::Row&&)>& each)
        : to_(to), each_(each) {}
    void setStatus(const QString& text) override { to_.setStatus(text); }
    void setProgressMax(int max) override {
        if (!each_)
            rows.reserve(static_cast<std::size_t>(max));
        to_.setProgressMax(max);
    }
    void setProgress(int value) override { to_.setProgress(value); }
    void addRow(browse::Row&& row) override {
        if (each_)
            each_(std::move(row));
        else
            rows.push_back(std::move(row));
    }

    std::vector<browse::Row> rows;

private:
    browse::StatusObserver& to_;
    const std::function<void(browse::Row&&)>& each_;
};

/// Stands in for a window that does not listen.
class NoListener : public RowListener {
public:
    void rowsAboutToBeReplaced() override {}
    void rowsReplaced() override {}
    void rowsChanged(std::size_t, std::size_t) override {}
    void rowAboutToBeRemoved(std::size_t) override {}
    void rowRemoved() override {}
    void rowsAboutToMove() override {}
    void rowsMoved(const std::vector<int>&) override {}
};

RowListener& orNone(RowListener* listener) {
    static NoListener none;
    return listener != nullptr ? *listener : none;
}

}  // namespace

Folder::Folder(Services services) : s_(services) {}

void Folder::replaceRows(std::vector<browse::Row> rows) {
    RowListener& l = orNone(listener_);
    l.rowsAboutToBeReplaced();
    rows_ = std::move(rows);
    order_.forget();
    order_.keepSorted(rows_);
    l.rowsReplaced();
}

template <class Change>
void Folder::changeRows(Change&& change) {
    std::forward<Change>(change)(rows_);
    order_.forget();
    if (!rows_.empty())
        orNone(listener_).rowsChanged(0, rows_.size() - 1);
}

void Folder::changeRow(std::size_t r, browse::Row row) {
    order_.changed(r, rows_[r], row);
    rows_[r] = std::move(row);
    orNone(listener_).rowsChanged(r, r);
}

void Folder::removeRow(std::size_t r) {
    RowListener& l = orNone(listener_);
    l.rowAboutToBeRemoved(r);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(r));
    order_.removed(r);
    l.rowRemoved();
}

Outcome Folder::list(const QString& folder, browse::StatusObserver& observer) {
    return list(folder, observer, {});
}

Outcome Folder::list(const QString& folder, browse::StatusObserver& observer,
                     const std::function<void(browse::Row&&)>& each) {
    Outcome outcome;
    replaceRows({});
    const QString shown = katalog_;
    katalog_ = browse::katalogFor(folder);
    // What undo remembers is of the folder it was done in; a rescan of that folder keeps it.
    if (katalog_ != shown)
        journal_.clear();
    const QString root = s_.drives.driveOf(folder).root;
    driveRoot_ = root;
    driveFolders_[root] = folder;

    RowSink sink(observer, each);
    std::size_t found = 0;
    Code c = browse::scanFolder(s_.fs, katalog_, sink, found, tails_);
    while (c == code::kDeviceUnavailable && retryDrive(root))
        c = browse::scanFolder(s_.fs, katalog_, sink, found, tails_);
    replaceRows(std::move(sink.rows));
    if (c == code::kOk)
        return outcome;
    // The folder went away or became unreadable while it was shown.
    const QString text = QStringLiteral("Katalogen %1 går inte att läsa (%2).")
                             .arg(katalog_, reason(c, Naming::Number));
    observer.setStatus(text);
    if (c != code::kDeviceUnavailable)
        outcome.messages.push_back(platform::error(text));
    outcome.failed = true;
    return outcome;
}

std::optional<QString> Folder::lastFolderOn(const QString& root) const {
    const auto it = driveFolders_.find(root);
    return it != driveFolders_.end() ? std::optional(it->second) : std::nullopt;
}

Code Folder::chooseDrive(const platform::Drives::Drive& drive,
                         const std::function<Code(const QString& folder)>& show) {
    for (;;) {
        Code c = s_.drives.check(drive);
        if (c == code::kOk) {
            const std::optional<QString> last = lastFolderOn(drive.root);
            c = last ? show(*last) : code::kPathNotFound;
            if (c != code::kOk)
                c = show(drive.root);
        }
        if (c != code::kDeviceUnavailable || !retryDrive(drive.root))
            return c;
    }
}

bool Folder::retryDrive(const QString& root) {
    return s_.asker.show(
               QStringLiteral("Fel"),
               QStringLiteral("Enhet ") + root + QStringLiteral(" går inte att komma åt."),
               Icon::None, Buttons::RetryCancel) == Answer::Retry;
}

void Folder::sortBy(int column) {
    RowListener& l = orNone(listener_);
    l.rowsAboutToMove();
    const std::vector<int> newPlace = order_.sortBy(rows_, column);
    l.rowsMoved(newPlace);
}

Outcome Folder::writeFields(std::span<const write::Typ> typs, const Selection& selected,
                            const write::EditorValues& editor, browse::StatusObserver& observer) {
    Outcome outcome;
    if (typs.empty())
        return outcome;
    write::WriteResult result;
    write::Command command{write::commandLabel(typs.front()), {}};
    changeRows([&](std::vector<browse::Row>& rows) {
        result = write::spara_tag(s_.fs, typs, rows, selected, katalog_, editor, split_, observer,
                                  undoable_ ? &command : nullptr);
    });
    journal_.push(std::move(command));
    outcome.typingWritten = true;
    write::addFailures(outcome.messages, result.failures);
    outcome.notHandled = std::move(result.failures);
    return outcome;
}

Outcome Folder::importOtherTags(const Selection& selected, browse::StatusObserver& observer) {
    Outcome outcome;
    write::WriteResult result;
    write::Command command{QStringLiteral("Tag från ID3v2"), {}};
    changeRows([&](std::vector<browse::Row>& rows) {
        result = write::importOtherTags(s_.fs, rows, selected, katalog_, observer,
                                        undoable_ ? &command : nullptr);
    });
    journal_.push(std::move(command));
    outcome.typingWritten = true;
    write::addImportOutcome(outcome.messages, result);
    outcome.notHandled = std::move(result.failures);
    outcome.nothingToWrite = result.nothingToWrite;
    return outcome;
}

Outcome Folder::save(std::size_t r, const write::EditorValues& editor, const QString& newBase) {
    Outcome outcome;
    if (r >= rows_.size())
        return outcome;
    browse::Row row = rows_[r];
    write::Command command{QStringLiteral("Spara tag"), {}};
    const write::SaveOutcome saved = write::cmdSpara_Click(s_.fs, s_.asker, katalog_, row, editor,
                                                           newBase, outcome.messages, &command);
    if (saved != write::SaveOutcome::NotSaved)
        changeRow(r, std::move(row));
    journal_.push(std::move(command));
    outcome.typingWritten =
        saved == write::SaveOutcome::Saved || saved == write::SaveOutcome::SavedAndRenamed;
    return outcome;
}

Outcome Folder::undo(browse::StatusObserver& observer) {
    Outcome outcome;
    if (journal_.empty())
        return outcome;
    write::UndoResult result;
    changeRows([&](std::vector<browse::Row>& rows) {
        result = journal_.undo(s_.fs, katalog_, rows, observer);
    });
    outcome.typingWritten = true;
    write::addUndoFailures(outcome.messages, result.failures);
    outcome.notHandled = std::move(result.failures);
    for (write::Failure& f : outcome.notHandled) {
        const auto shown = [&](const browse::Row& row) {
            return browse::shownName(row) + QStringLiteral(".mp3") == f.file;
        };
        f.row = static_cast<std::size_t>(std::find_if(rows_.begin(), rows_.end(), shown) -
                                         rows_.begin());
    }
    return outcome;
}

Outcome Folder::rename(std::size_t r, const QString& newBase) {
    Outcome outcome;
    if (r >= rows_.size())
        return outcome;
    const QString before = browse::fileName(rows_[r]);
    if (!fileops::Byt_Filnamn(s_.fs, katalog_, before, newBase, outcome.messages)) {
        renameFailed_ = true;
        return outcome;
    }
    const QString after = platform::mp3Name(newBase);
    write::Command command{QStringLiteral("Nytt filnamn"), {}};
    write::recordRename(s_.fs, command, katalog_, before, after);
    journal_.push(std::move(command));
    browse::Row row = rows_[r];
    browse::setFileName(row, after);
    changeRow(r, std::move(row));
    outcome.typingWritten = true;
    return outcome;
}

Outcome Folder::namesFromTags(const Selection& selected) {
    Outcome outcome;
    write::Command command{QStringLiteral("Filnamn <-- tag"), {}};
    renameFailed_ = false;
    changeRows([&](std::vector<browse::Row>& rows) {
        std::vector<QString> before;
        before.reserve(rows.size());
        for (const browse::Row& row : rows)
            before.push_back(browse::fileName(row));
        std::vector<std::pair<std::size_t, Code>> refused;
        for (const std::size_t i : fileops::cmdTag2Filnamn_Click(s_.fs, katalog_, rows, selected,
                                                                 outcome.messages, &refused)) {
            write::recordRename(s_.fs, command, katalog_, before[i], browse::fileName(rows[i]));
        }
        for (const auto& [i, c] : refused)
            outcome.notHandled.push_back({browse::fileName(rows[i]), c, i});
    });
    journal_.push(std::move(command));
    return outcome;
}

Outcome Folder::remove(std::optional<std::size_t> r) {
    Outcome outcome;
    const std::size_t at = r.value_or(rows_.size());
    // A copy: the question runs an event loop, and the row it names must stay what it was.
    const std::optional<browse::Row> current =
        at < rows_.size() ? std::optional(rows_[at]) : std::nullopt;
    switch (fileops::mnuHogerRadera_Click(
        s_.fs, s_.asker, s_.trash, katalog_, current ? &*current : nullptr,
        deleteMode_ == DeleteMode::ForGood ? 1 : 0, outcome.messages)) {
        case fileops::DeleteOutcome::RemoveRow:
            removeRow(at);
            break;
        case fileops::DeleteOutcome::Rescan:
            outcome.listAgain = true;
            break;
        case fileops::DeleteOutcome::Nothing:
            break;
    }
    return outcome;
}

Outcome Folder::play(std::optional<std::size_t> r) {
    Outcome outcome;
    if (r && *r < rows_.size())
        fileops::ListView1_DblClick(s_.fs, s_.opener, katalog_, &rows_[*r], outcome.messages);
    return outcome;
}

void Folder::markUnread(std::span<const std::size_t> rows) {
    for (const std::size_t r : rows)
        if (r < rows_.size())
            rows_[r].print = tag::kUnreadable;
}

QString Folder::otherTagText(std::size_t r) const {
    if (r >= rows_.size())
        return {};
    const browse::Row& row = rows_[r];
    const std::optional<tag::OtherTag> other =
        tag::readOtherTag(s_.fs, katalog_ + browse::fileName(row));
    if (!other)
        return {};
    QStringList shown;
    bool differs = false;
    const std::pair<const std::optional<QString>&, const QString&> fields[] = {
        {other->artist, row.artist}, {other->title, row.title}, {other->album, row.album}};
    for (const auto& [value, stored] : fields) {
        if (!value)
            continue;
        shown << *value;
        // What an import would write, against what the tag shows.
        differs = differs || value->left(tag::kTextWidth) != browse::shownText(stored);
    }
    const QString kind = other->kind == tag::OtherTag::Kind::Id3v2 ? QStringLiteral("ID3v2")
                                                                   : QStringLiteral("APEv2");
    // The mark comes first, so that a narrow window cuts off the fields rather than it.
    return kind + (differs ? QStringLiteral(" (skiljer sig från tag): ") : QStringLiteral(": ")) +
           shown.join(QStringLiteral(" – "));
}

}  // namespace sorvel::core
