#include "app/file_list_model.h"

#include "write/editor.h"

#include <QHash>
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
    return column == 0 ? browse::shownName(row) : write::shownText(field(row, column));
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
    browse::Row& old = rows_[static_cast<std::size_t>(r)];
    for (int c = 0; c < kColumns; ++c) {
        if (!ranks_[static_cast<std::size_t>(c)].empty() && shown(old, c) != shown(row, c)) {
            ranks_[static_cast<std::size_t>(c)].clear();
        }
    }
    old = std::move(row);
    Q_EMIT dataChanged(index(r, 0), index(r, kColumns - 1));
}

void FileListModel::removeRowAt(int r) {
    beginRemoveRows({}, r, r);
    rows_.erase(rows_.begin() + r);
    // The other rows keep their order among themselves, so their ranks stay true.
    for (std::vector<std::uint32_t>& ranks : ranks_) {
        if (!ranks.empty()) {
            ranks.erase(ranks.begin() + r);
        }
    }
    endRemoveRows();
}

void FileListModel::clear() {
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    forgetRanks();
    endResetModel();
}

void FileListModel::forgetRanks() {
    for (std::vector<std::uint32_t>& ranks : ranks_) {
        ranks.clear();
        ranks.shrink_to_fit();
    }
}

void FileListModel::append(std::vector<browse::Row>&& rows) {
    if (rows.empty()) {
        return;
    }
    forgetRanks();
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

const std::vector<std::uint32_t>& FileListModel::ranks(int column) {
    const auto c = static_cast<std::size_t>(column);
    std::vector<std::uint32_t>& ranks = ranks_[c];
    if (!ranks.empty() || rows_.empty()) {
        return ranks;
    }
    // A folder repeats its artists, albums and years: each distinct text is collated once. Its
    // file names are its own, so looking for repeats there would only cost.
    std::vector<QString> texts;
    ranks.resize(rows_.size());
    if (column == 0) {
        texts.reserve(rows_.size());
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            texts.push_back(browse::shownName(rows_[r]));
            ranks[r] = static_cast<std::uint32_t>(r);
        }
    } else {
        QHash<QString, std::uint32_t> distinctOf;
        distinctOf.reserve(static_cast<qsizetype>(rows_.size()));
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            const QString text = shown(rows_[r], column);
            auto it = distinctOf.constFind(text);
            if (it == distinctOf.constEnd()) {
                it = distinctOf.insert(text, static_cast<std::uint32_t>(texts.size()));
                texts.push_back(text);
            }
            ranks[r] = *it;
        }
    }
    std::vector<QCollatorSortKey> keys;
    keys.reserve(texts.size());
    for (const QString& t : texts) {
        keys.push_back(collator_.sortKey(t));
    }
    texts.clear();
    std::vector<std::uint32_t> byKey(keys.size());
    std::iota(byKey.begin(), byKey.end(), std::uint32_t{0});
    std::sort(byKey.begin(), byKey.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; });
    // Texts that collate equal ("abba", "ABBA") share a rank, so that a stable sort keeps them
    // in the order they were in.
    std::vector<std::uint32_t> rankOf(keys.size());
    std::uint32_t rank = 0;
    for (std::size_t i = 0; i < byKey.size(); ++i) {
        if (i > 0 && keys[byKey[i - 1]].compare(keys[byKey[i]]) != 0) {
            ++rank;
        }
        rankOf[byKey[i]] = rank;
    }
    for (std::uint32_t& r : ranks) {
        r = rankOf[r];
    }
    rankCount_[c] = rank + 1;
    return ranks;
}

std::vector<std::size_t> FileListModel::sortedOrder() {
    const std::vector<std::uint32_t>& key = ranks(sortColumn_);
    const std::uint32_t count = rankCount_[static_cast<std::size_t>(sortColumn_)];
    const bool ascending = order_ == Qt::AscendingOrder;
    // A counting sort by rank: stable, and linear in the rows.
    std::vector<std::size_t> start(static_cast<std::size_t>(count) + 1, 0);
    auto slot = [&](std::uint32_t rank) {
        return static_cast<std::size_t>(ascending ? rank : count - 1 - rank);
    };
    for (const std::uint32_t rank : key) {
        ++start[slot(rank) + 1];
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<std::size_t> order(key.size());
    for (std::size_t r = 0; r < key.size(); ++r) {
        order[start[slot(key[r])]++] = r;
    }
    return order;
}

std::vector<int> FileListModel::sortRows() {
    const std::vector<std::size_t> order = sortedOrder();
    std::vector<browse::Row> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newRowOf(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[order[i]]));
    }
    rows_ = std::move(sorted);
    for (std::vector<std::uint32_t>& ranks : ranks_) {
        if (!ranks.empty()) {
            std::vector<std::uint32_t> moved(ranks.size());
            for (std::size_t i = 0; i < order.size(); ++i) {
                moved[i] = ranks[order[i]];
            }
            ranks = std::move(moved);
        }
    }
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
