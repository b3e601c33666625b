#include "core/row_order.h"

#include <QHash>
#include <QLocale>
#include <algorithm>
#include <numeric>
#include <utility>

namespace sorvel::core {

QCollator swedishCollator() {
    QCollator collator(QLocale(QLocale::Swedish, QLocale::Sweden));
    // A file list is read by people: "abba" and "ABBA" sort together, and å, ä, ö come after z
    // as the Swedish alphabet has them. Numbers in text stay text (the year column included).
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    collator.setIgnorePunctuation(false);
    return collator;
}

void sortNames(std::vector<QString>& names) {
    const QCollator collator = swedishCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString& n : names)
        keys.push_back(collator.sortKey(n));
    std::vector<std::size_t> order(names.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int c = keys[a].compare(keys[b]);
        return c != 0 ? c < 0 : names[a] < names[b];
    });
    std::vector<QString> sorted;
    sorted.reserve(names.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(names[i]));
    names = std::move(sorted);
}

RowOrder::RowOrder() : collator_(swedishCollator()) {}

QString RowOrder::shown(const browse::Row& row, int column) {
    // The columns after the name, in the list's order.
    static constexpr QString browse::Row::*kTexts[] = {&browse::Row::artist, &browse::Row::title,
                                                       &browse::Row::album,  &browse::Row::year,
                                                       &browse::Row::genre,  &browse::Row::comment};
    if (column < 1 || column >= kColumns)
        return browse::shownName(row);
    return browse::shownText(row.*kTexts[column - 1]);
}

std::vector<int> RowOrder::sortBy(std::vector<browse::Row>& rows, int column) {
    column_ = std::clamp(column, 0, kColumns - 1);
    ascending_ = !ascending_;
    sorted_ = true;
    return rows.empty() ? std::vector<int>{} : sortRows(rows);
}

void RowOrder::keepSorted(std::vector<browse::Row>& rows) {
    if (sorted_ && !rows.empty())
        sortRows(rows);
}

void RowOrder::forget() {
    for (std::vector<std::uint32_t>& ranks : ranks_) {
        ranks.clear();
        ranks.shrink_to_fit();
    }
}

void RowOrder::changed(std::size_t /*r*/, const browse::Row& before, const browse::Row& after) {
    for (int c = 0; c < kColumns; ++c) {
        auto& ranks = ranks_[static_cast<std::size_t>(c)];
        if (!ranks.empty() && shown(before, c) != shown(after, c))
            ranks.clear();
    }
}

void RowOrder::removed(std::size_t r) {
    for (std::vector<std::uint32_t>& ranks : ranks_) {
        if (!ranks.empty())
            ranks.erase(ranks.begin() + static_cast<std::ptrdiff_t>(r));
    }
}

const std::vector<std::uint32_t>& RowOrder::ranks(const std::vector<browse::Row>& rows,
                                                  int column) {
    const auto c = static_cast<std::size_t>(column);
    std::vector<std::uint32_t>& ranks = ranks_[c];
    if (!ranks.empty() || rows.empty()) {
        return ranks;
    }
    // A folder repeats its artists, albums and years: each distinct text is collated once. Its
    // file names are its own, so looking for repeats there would only cost.
    std::vector<QString> texts;
    ranks.resize(rows.size());
    if (column == 0) {
        texts.reserve(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            texts.push_back(browse::shownName(rows[r]));
            ranks[r] = static_cast<std::uint32_t>(r);
        }
    } else {
        QHash<QString, std::uint32_t> distinctOf;
        distinctOf.reserve(static_cast<qsizetype>(rows.size()));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const QString text = shown(rows[r], column);
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

std::vector<int> RowOrder::sortRows(std::vector<browse::Row>& rows) {
    const std::vector<std::uint32_t>& key = ranks(rows, column_);
    const std::uint32_t count = rankCount_[static_cast<std::size_t>(column_)];
    const bool ascending = ascending_;
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
    std::vector<browse::Row> sorted;
    sorted.reserve(rows.size());
    std::vector<int> newRowOf(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows[order[i]]));
    }
    rows = std::move(sorted);
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

}  // namespace sorvel::core
