#pragma once

#include "browse/scan.h"
#include "support/files.h"
#include "write/engine.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <ostream>
#include <vector>

// Readable failure output for texts and lists of texts.
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

/// Every report of the writer as one line: "max 3", "value 1", "Sparar a.mp3".
struct Recorder : write::Observer {
    QStringList seen;
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << QStringLiteral("max %1").arg(max); }
    void setProgress(int value) override { seen << QStringLiteral("value %1").arg(value); }
};

/// `file` with the trailer field at `at` (offset in the trailer) set to `text` padded with
/// blanks to `width`, as a changed field is written.
inline QByteArray withField(QByteArray file, int at, int width, const QByteArray& text) {
    return file.replace(file.size() - 128 + at, width, text + QByteArray(width - text.size(), ' '));
}

inline constexpr int kTitleAt = 3;
inline constexpr int kArtistAt = 33;
inline constexpr int kGenreAt = 127;

}  // namespace sorvel::test
