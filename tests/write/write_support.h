#pragma once

#include "browse/scan.h"
#include "support/files.h"
#include "write/engine.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <ostream>
#include <vector>

// Readable failure output for texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace sorvel::test {

/// The rows a scan of `katalog` gives, sorted by name so that tests know the list order.
inline std::vector<browse::Row> scanRows(platform::FileSystem& fs, const QString& katalog) {
    struct Collect : browse::ScanObserver {
        std::vector<browse::Row> rows;
        void setStatus(const QString&) override {}
        void setProgressMax(int) override {}
        void setProgress(int) override {}
        void addRow(browse::Row&& row) override { rows.push_back(std::move(row)); }
    } collect;
    std::size_t n = 0;
    EXPECT_EQ(browse::scanFolder(fs, katalog, collect, n), code::kOk);
    std::sort(collect.rows.begin(), collect.rows.end(),
              [](const browse::Row& a, const browse::Row& b) { return a.name < b.name; });
    return collect.rows;
}

}  // namespace sorvel::test
