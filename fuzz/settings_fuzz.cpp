// Any bytes as id3.ini, through the real loader into a target that takes every value: the steps
// come in their order and stop at the first failure, no folder holding a NUL is ever applied,
// nothing after the eighth line is read, a line over the limit stops the load before anything is
// applied, and what a full load gave is saved and loads back the same.

#include "app/settings.h"
#include "fuzz_check.h"

#include <QByteArray>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

using namespace sorvel;

namespace {

// What the loader handed over, step by step.
struct Applied : app::SettingsTarget {
    std::optional<QString> drive;
    std::optional<QString> folder;
    std::optional<int> state;
    std::vector<double> geometry;

    Code applyDrive(const QString& f) override {
        FUZZ_CHECK(!drive);
        drive = f;
        return code::kOk;
    }
    Code applyFolder(const QString& f) override {
        FUZZ_CHECK(drive && *drive == f && !folder);
        FUZZ_CHECK(!f.contains(QChar(u'\0')));
        folder = f;
        return code::kOk;
    }
    Code applyWindowState(int s) override {
        FUZZ_CHECK(folder && !state);
        state = s;
        return code::kOk;
    }
    // The geometry comes in its order: the `at`th value is taken, any other refused.
    Code add(std::size_t at, double v) {
        if (geometry.size() != at)
            return code::kBadArgument;
        FUZZ_CHECK(state && at < 4);
        geometry.push_back(v);
        return code::kOk;
    }
    Code applyTop(double v) override { return add(0, v); }
    Code applyLeft(double v) override { return add(1, v); }
    Code applyWidth(double v) override { return add(2, v); }
    Code applyHeight(double v) override { return add(3, v); }

    bool nothing() const { return !drive; }
    bool operator==(const Applied& o) const {
        return drive == o.drive && folder == o.folder && state == o.state &&
               geometry.size() == o.geometry.size() &&
               std::equal(
                   geometry.begin(), geometry.end(), o.geometry.begin(),
                   [](double a, double b) { return a == b && std::signbit(a) == std::signbit(b); });
    }
};

struct Loaded {
    Applied applied;
    int fil2tagNr = 0;
};

Loaded load(const QByteArray& bytes) {
    const QString path = fuzz::scratchFile(QStringLiteral("id3.ini"), bytes);
    Loaded out;
    out.fil2tagNr = app::loadSettings(path, out.applied);
    return out;
}

// The first eight lines as a plain reader sees them (CR LF, LF and a lone CR end a line), and the
// length of the longest; nothing when the bytes hold fewer than eight whole lines.
struct Lines {
    bool eightWhole = false;
    qsizetype longest = 0;
};

Lines lines(const QByteArray& bytes) {
    Lines out;
    qsizetype count = 0;
    qsizetype length = 0;
    for (qsizetype i = 0; i < bytes.size() && count < 8; ++i) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            ++count;
            length = 0;
            if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
                ++i;
        } else {
            out.longest = std::max(out.longest, ++length);
        }
    }
    out.eightWhole = count == 8;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Lines near the length limit are out of reach of short inputs: a first byte of 0xFF stands
    // for a run of letters around the limit at the front of the file.
    if (size >= 2 && data[0] == 0xFF) {
        bytes = QByteArray(app::kMaxLineBytes - 128 + data[1], 'x') + bytes.mid(2);
    }
    const Loaded first = load(bytes);
    const Lines seen = lines(bytes);
    if (seen.longest > app::kMaxLineBytes)
        FUZZ_CHECK(first.applied.nothing() && first.fil2tagNr == 0);
    if (!first.applied.geometry.empty() && first.applied.geometry.size() < 4)
        FUZZ_CHECK(first.fil2tagNr == 0);

    // Whatever follows the eighth line is never read. (A lone CR followed by LF is one line end,
    // so what is added starts with neither.)
    if (seen.eightWhole) {
        const Loaded more = load(bytes + QByteArray("x\r\n\0\xFF more", 10));
        FUZZ_CHECK(more.applied == first.applied && more.fil2tagNr == first.fil2tagNr);
    }

    if (first.applied.geometry.size() == 4) {
        const Applied& a = first.applied;
        app::Settings s;
        s.folder = *a.folder;
        s.windowState = *a.state;
        s.top = a.geometry[0];
        s.left = a.geometry[1];
        s.width = a.geometry[2];
        s.height = a.geometry[3];
        s.fil2tagNr = first.fil2tagNr;
        const QString path = fuzz::scratchPath(QStringLiteral("saved.ini"));
        FUZZ_CHECK(app::saveSettings(path, s) == code::kOk);
        const Loaded again = load(fuzz::readAll(path));
        FUZZ_CHECK(again.applied == first.applied && again.fil2tagNr == first.fil2tagNr);
    }
    return 0;
}
