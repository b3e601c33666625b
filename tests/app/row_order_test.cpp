#include "app/row_order.h"

#include <gtest/gtest.h>

#include <QCollator>
#include <algorithm>

using namespace sorvel;
using namespace Qt::StringLiterals;

namespace {

std::vector<browse::Row> rowsOf(const QStringList& artists) {
    std::vector<browse::Row> rows;
    for (const QString& artist : artists)
        rows.push_back({u"#%1"_s.arg(rows.size()), artist, {}, {}, {}, {}, {}, 0, {}});
    return rows;
}

QStringList column(const std::vector<browse::Row>& rows, int c) {
    QStringList out;
    for (const browse::Row& r : rows)
        out << app::RowOrder::shown(r, c);
    return out;
}

}  // namespace

TEST(RowOrder, SortsTheSwedishWayKeepingEqualTextsInTheirOrderAndFlipsEveryTime) {
    auto rows =
        rowsOf({u"Ö"_s, u"abba"_s, u"z"_s, u"ABBA"_s, u"å"_s, u"Abba\0zz"_s, u"ä"_s, u""_s});
    const std::vector<browse::Row> listed = rows;
    app::RowOrder order;
    const std::vector<int> moved = order.sortBy(rows, 1);
    EXPECT_TRUE(order.sorted() && order.ascending());
    EXPECT_EQ(column(rows, 1), (QStringList{u""_s, u"abba"_s, u"ABBA"_s, u"Abba"_s, u"z"_s, u"å"_s,
                                            u"ä"_s, u"Ö"_s}));
    for (std::size_t r = 0; r < listed.size(); ++r)  // where each row went
        EXPECT_EQ(rows[static_cast<std::size_t>(moved[r])], listed[r]);
    order.sortBy(rows, 1);
    EXPECT_FALSE(order.ascending());
    EXPECT_EQ(column(rows, 1), (QStringList{u"Ö"_s, u"ä"_s, u"å"_s, u"z"_s, u"abba"_s, u"ABBA"_s,
                                            u"Abba"_s, u""_s}));
    order.sortBy(rows, 0);  // another column: the direction flips all the same
    EXPECT_TRUE(order.ascending() && order.column() == 0);
}

// Sorting collates once per column and sorts by rank. The order must be exactly what a stable
// sort with the collator's own comparison of the shown texts gives, across rows changed and
// removed between sorts and rows listed again in the order last chosen.
TEST(RowOrder, IsTheStableCollatorOrderOfTheShownTexts) {
    QCollator collator(QLocale(QLocale::Swedish, QLocale::Sweden));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    collator.setIgnorePunctuation(false);
    const QStringList pieces = {u""_s,    u"abba"_s, u"ABBA"_s,         u"Abba\0zz"_s, u"åsa"_s,
                                u"Ö"_s,   u"z"_s,    u"10"_s,           u"9"_s,        u"a b"_s,
                                u"a-b"_s, u"é"_s,    u"\u00c3\u00a5"_s, u"å\0Ö"_s};
    std::uint32_t seed = 7;
    auto pick = [&] {
        seed = seed * 1103515245u + 12345u;
        return pieces.at(
            static_cast<qsizetype>((seed >> 16) % static_cast<std::uint32_t>(pieces.size())));
    };
    std::vector<browse::Row> rows;
    for (int i = 0; i < 400; ++i)
        rows.push_back({pick(), pick(), pick(), pick(), pick(), pick(), u"#%1"_s.arg(i), 0, {}});
    std::vector<browse::Row> expected = rows;
    app::RowOrder order;
    auto resort = [&](int c, bool sort = true) {
        if (sort)
            order.sortBy(rows, c);
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
            const int cmp =
                collator.compare(app::RowOrder::shown(a, c), app::RowOrder::shown(b, c));
            return order.ascending() ? cmp < 0 : cmp > 0;
        });
        return rows == expected;
    };
    for (const int c : {1, 1, 2, 0, 0, 3, 1, 4, 5, 5, 6})
        EXPECT_TRUE(resort(c)) << c;
    // A changed row and a removed one: the ranks kept still hold.
    browse::Row changed = rows[10];
    changed.artist = u"Ärlig"_s;
    order.changed(10, rows[10], changed);
    rows[10] = expected[10] = changed;
    EXPECT_TRUE(resort(1));
    order.removed(3);
    rows.erase(rows.begin() + 3);
    expected.erase(expected.begin() + 3);
    EXPECT_TRUE(resort(2));
    // Listed again: the rows come in the order last chosen.
    std::reverse(rows.begin(), rows.end());
    std::reverse(expected.begin(), expected.end());
    order.forget();
    order.keepSorted(rows);
    EXPECT_TRUE(resort(2, false));
}
