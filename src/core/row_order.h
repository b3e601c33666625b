#pragma once

#include "browse/scan.h"

#include <QCollator>
#include <array>
#include <cstdint>
#include <vector>

namespace sorvel::core {

/// How the window compares the texts people read in it, names and tag texts alike: Swedish (å, ä,
/// ö after z), letter case aside, numbers in text as text.
QCollator swedishCollator();

/// Sorts names as the folder tree lists them, in swedishCollator()'s order; names that compare
/// alike ("abba", "ABBA") keep the order of their code units, so that every listing agrees.
void sortNames(std::vector<QString>& names);

/// The order of a folder's rows: which column they are sorted by, which way, and the collation
/// ranks that make a sort of 100,000 rows take a moment rather than seconds.
class RowOrder {
public:
    static constexpr int kColumns = 7;

    RowOrder();

    /// The text a column shows for a row: the name as shownName(), the tag texts up to a NUL.
    static QString shown(const browse::Row& row, int column);

    bool sorted() const { return sorted_; }
    int column() const { return column_; }
    bool ascending() const { return ascending_; }

    /// Sorts `rows` by `column` (0 to 6), the other way round from last time; stable, so equal
    /// rows keep their order. Returns the new place of each row by its old one.
    std::vector<int> sortBy(std::vector<browse::Row>& rows, int column);
    /// Puts `rows` in the order last chosen, if one was.
    void keepSorted(std::vector<browse::Row>& rows);

    /// The rows' texts have changed, or rows came or went.
    void forget();
    /// Row `r` now shows `after` instead of `before`.
    void changed(std::size_t r, const browse::Row& before, const browse::Row& after);
    /// Row `r` is gone; the others keep their order among themselves, so their ranks stay true.
    void removed(std::size_t r);

private:
    const std::vector<std::uint32_t>& ranks(const std::vector<browse::Row>& rows, int column);
    std::vector<int> sortRows(std::vector<browse::Row>& rows);

    std::array<std::vector<std::uint32_t>, kColumns> ranks_;
    std::array<std::uint32_t, kColumns> rankCount_{};
    bool sorted_ = false;
    int column_ = 0;
    bool ascending_ = false;
    QCollator collator_;
};

}  // namespace sorvel::core
