#include "app/file_list_model.h"

#include "write/editor.h"

#include <QLocale>
#include <algorithm>
#include <numeric>

namespace sorvel::app {

FileListModel::FileListModel(QObject* parent)
    : QAbstractTableModel(parent), collator_(QLocale(QLocale::Swedish, QLocale::Sweden)) {
    // A file list is read by people: "abba" and "ABBA" sort together, and å, ä, ö come after z
    // as the Swedish alphabet has them. Numbers in text stay text (the year column included).
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    collator_.setNumericMode(false);
    collator_.setIgnorePunctuation(false);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

const QString& FileListModel::field(const browse::Row& row, int column) {
    switch (column) {
        case 1:
            return row.artist;
        case 2:
            return row.title;
        case 3:
            return row.album;
        case 4:
            return row.year;
        case 5:
            return row.genre;
        case 6:
            return row.comment;
        default:
            return row.name;
    }
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) {
        return {};
    }
    return shown(row(index.row()), index.column());
}

QString FileListModel::shown(const browse::Row& row, int column) {
    // A file name is shown as the file system gives it; only tag texts have a stored form.
    return column == 0 ? row.name : write::shownText(field(row, column));
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case 0:
            return QStringLiteral("Filnamn (.mp3)");
        case 1:
            return QStringLiteral("Artist");
        case 2:
            return QStringLiteral("Titel");
        case 3:
            return QStringLiteral("Album");
        case 4:
            return QStringLiteral("Årtal");
        case 5:
            return QStringLiteral("Genre");
        case 6:
            return QStringLiteral("Kommentarer");
        default:
            return {};
    }
}

void FileListModel::setRow(int r, browse::Row row) {
    rows_[static_cast<std::size_t>(r)] = std::move(row);
    Q_EMIT dataChanged(index(r, 0), index(r, kColumns - 1));
}

void FileListModel::removeRowAt(int r) {
    beginRemoveRows({}, r, r);
    rows_.erase(rows_.begin() + r);
    endRemoveRows();
}

void FileListModel::clear() {
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

void FileListModel::append(std::vector<browse::Row>&& rows) {
    if (rows.empty()) {
        return;
    }
    if (!sorted_) {
        const int first = static_cast<int>(rows_.size());
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        if (rows_.empty()) {
            rows_ = std::move(rows);
        } else {
            rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                         std::make_move_iterator(rows.end()));
        }
        endInsertRows();
        return;
    }
    // Sorted: the new rows go where the order puts them, after equal rows already listed.
    beginResetModel();
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    sortRows();
    endResetModel();
}

std::vector<std::size_t> FileListModel::sortedOrder(const std::vector<browse::Row>& rows) const {
    // One key per row, made once: comparing keys is far cheaper than collating pairs of texts.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(rows.size());
    for (const browse::Row& r : rows) {
        keys.push_back(collator_.sortKey(shown(r, sortColumn_)));
    }
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const bool ascending = order_ == Qt::AscendingOrder;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int c = keys[a].compare(keys[b]);
        return ascending ? c < 0 : c > 0;
    });
    return order;
}

std::vector<int> FileListModel::sortRows() {
    const std::vector<std::size_t> order = sortedOrder(rows_);
    std::vector<browse::Row> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newRowOf(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[order[i]]));
    }
    rows_ = std::move(sorted);
    return newRowOf;
}

void FileListModel::sortByColumn(int column) {
    sortColumn_ = std::clamp(column, 0, kColumns - 1);
    order_ = order_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    sorted_ = true;
    if (rows_.empty()) {
        return;
    }

    // Sorting moves rows but changes neither the selection nor the current row.
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    const std::vector<int> newRowOf = sortRows();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before) {
        after.push_back(index(newRowOf[static_cast<std::size_t>(idx.row())], idx.column()));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace sorvel::app
