#pragma once

#include "browse/scan.h"

#include <QStringList>
#include <algorithm>
#include <vector>

namespace sorvel::test {

/// Records what a scan or a writer reports, in order, one line a call: the status text itself,
/// "max N", "value N" and "row NAME"; the rows are kept too.
struct Recorder : browse::ScanObserver {
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << QStringLiteral("max %1").arg(max); }
    void setProgress(int value) override { seen << QStringLiteral("value %1").arg(value); }
    void addRow(browse::Row&& row) override {
        seen << QStringLiteral("row ") + row.name;
        rows.push_back(std::move(row));
    }

    /// Scans `folder` afresh: `rows` in listing order, `seen` what the scan reported, `count` the
    /// number it gives.
    Code scan(platform::FileSystem& fs, const QString& folder) {
        *this = Recorder();
        return browse::scanFolder(fs, folder, *this, count);
    }
    /// The rows in the order the list shows them, and nothing seen yet: the state a command
    /// starts from.
    void byName() {
        std::ranges::sort(rows, {}, &browse::Row::name);
        seen.clear();
    }

    QStringList seen;
    std::vector<browse::Row> rows;
    std::size_t count = 0;
};

}  // namespace sorvel::test
