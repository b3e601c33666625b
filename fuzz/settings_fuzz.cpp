// Any bytes as id3.ini, through the real loader into a target that takes every value: the steps
// come in their order and stop at the first failure, no folder holding a NUL is ever applied,
// nothing after the eighth line is read, a line over the limit stops the load before anything is
// applied, and what a full load gave is saved and loads back the same.

#include "app/settings.h"
#include "fuzz_check.h"

#include <bit>
#include <tuple>

using namespace sorvel;

namespace {

// What the loader handed over, step by step, and what it answered. The geometry comes in its
// order: the `at`th value is taken, any other refused; it is kept as bits, so that -0.0 and 0.0
// differ.
struct Applied : app::SettingsTarget {
    std::optional<QString> drive, folder;
    std::optional<int> state;
    std::vector<std::uint64_t> geometry;
    int fil2tagNr = 0;

    Code applyDrive(const QString& f) override { return FUZZ_CHECK(!drive), drive = f, code::kOk; }
    Code applyFolder(const QString& f) override {
        FUZZ_CHECK(drive && *drive == f && !folder && !f.contains(QChar(u'\0')));
        return folder = f, code::kOk;
    }
    Code applyWindowState(int s) override {
        return FUZZ_CHECK(folder && !state), state = s, code::kOk;
    }
    Code add(std::size_t at, double v) {
        if (geometry.size() != at)
            return code::kBadArgument;
        FUZZ_CHECK(state && at < 4);
        return geometry.push_back(std::bit_cast<std::uint64_t>(v)), code::kOk;
    }
    Code applyTop(double v) override { return add(0, v); }
    Code applyLeft(double v) override { return add(1, v); }
    Code applyWidth(double v) override { return add(2, v); }
    Code applyHeight(double v) override { return add(3, v); }
    double at(std::size_t i) const { return std::bit_cast<double>(geometry.at(i)); }
    auto all() const { return std::tie(drive, folder, state, geometry, fil2tagNr); }
};

Applied load(const QByteArray& bytes) {
    Applied out;
    out.fil2tagNr = app::loadSettings(fuzz::scratchFile(QStringLiteral("id3.ini"), bytes), out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Lines near the length limit are out of reach of short inputs: a first byte of 0xFF stands
    // for a run of letters around the limit at the front of the file.
    if (size >= 2 && data[0] == 0xFF)
        bytes = QByteArray(app::kMaxLineBytes - 128 + data[1], 'x') + bytes.mid(2);
    const Applied first = load(bytes);
    // The first eight lines as a plain reader sees them (CR LF, LF and a lone CR end a line).
    const QList<QByteArray> lines =
        QByteArray(bytes).replace("\r\n", "\n").replace('\r', '\n').split('\n');
    qsizetype longest = 0;
    for (const QByteArray& line : lines.mid(0, 8))
        longest = std::max(longest, line.size());
    FUZZ_CHECK(longest <= app::kMaxLineBytes || (!first.drive && first.fil2tagNr == 0));
    FUZZ_CHECK(first.geometry.empty() || first.geometry.size() == 4 || first.fil2tagNr == 0);
    // Whatever follows the eighth line is never read. (A lone CR followed by LF is one line end,
    // so what is added starts with neither.)
    FUZZ_CHECK(lines.size() <= 8 ||
               load(bytes + QByteArray("x\r\n\0\xFF more", 10)).all() == first.all());
    if (first.geometry.size() == 4) {
        const Applied& a = first;
        const QString path = fuzz::scratchPath(QStringLiteral("saved.ini"));
        FUZZ_CHECK(app::saveSettings(path, {*a.folder, *a.state, a.at(0), a.at(1), a.at(2), a.at(3),
                                            a.fil2tagNr}) == code::kOk);
        FUZZ_CHECK(load(fuzz::readAll(path)).all() == first.all());
    }
    return 0;
}
