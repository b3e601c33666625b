#pragma once

#include "browse/scan.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <array>
#include <cstdint>
#include <vector>

namespace sorvel::app {

/// The rows of the file list, one per MP3 file of the folder on show, kept in list order.
/// Column 0 is the file name, columns 1 to 6 the tag fields (artist, title, album, year, genre,
/// comment). Tag texts are shown and sorted as shownText() reads them; the rows keep them as
/// stored.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 7;

    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// The text of `column` (0..6) of a row, as stored.
    static const QString& field(const browse::Row& row, int column);
    /// The text of `column` (0..6) of a row as the list shows and sorts it.
    static QString shown(const browse::Row& row, int column);

    const browse::Row& row(int r) const { return rows_[static_cast<std::size_t>(r)]; }
    const std::vector<browse::Row>& rows() const { return rows_; }
    /// Lets a command change the rows in place (their texts and names, not their number or
    /// order), then shows the change.
    template <class Change>
    void changeRows(Change&& change) {
        change(rows_);
        forgetRanks();
        if (!rows_.empty()) {
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
        }
    }
    /// Replaces a row in place (its position in the list stays).
    void setRow(int r, browse::Row row);
    void removeRowAt(int r);
    void clear();
    /// Adds rows at the end, or in sort order once the list has been sorted.
    void append(std::vector<browse::Row>&& rows);

    /// Sorts by `column` (0..6) in the direction opposite to the last one. There is one direction
    /// for the whole list; from then on the list stays sorted.
    void sortByColumn(int column);
    bool isSorted() const { return sorted_; }
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return order_; }

private:
    /// The rank of each row's text in `column` (0..6) under the list's collation, by position:
    /// rows whose texts collate equal share a rank, and a lower rank sorts first.
    const std::vector<std::uint32_t>& ranks(int column);
    /// The rows' positions in sort order (stable: equal rows keep their order).
    std::vector<std::size_t> sortedOrder();
    /// Puts rows_ in sort order; gives each old position's new row.
    std::vector<int> sortRows();
    void forgetRanks();

    std::vector<browse::Row> rows_;
    // Collating is what a sort costs; the ranks let every later sort by the same column, in
    // either direction, do without it. Kept by position beside rows_; empty when not made or
    // no longer true of the rows.
    std::array<std::vector<std::uint32_t>, kColumns> ranks_;
    std::array<std::uint32_t, kColumns> rankCount_{};
    bool sorted_ = false;
    int sortColumn_ = 0;
    // The first header click flips this to ascending, which is what a user expects of it.
    Qt::SortOrder order_ = Qt::DescendingOrder;
    QCollator collator_;
};

}  // namespace sorvel::app
