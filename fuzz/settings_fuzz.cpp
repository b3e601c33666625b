// Any bytes as id3.ini, through the real loader into a target that takes every value: the steps
// come in their order, no folder holding a NUL is ever applied, a split is given only once every
// step is, nothing after the eighth line is read, a line over the limit stops the load before
// anything is applied, and what a full load gave is saved and loads back the same.

#include "core/settings.h"
#include "fuzz_check.h"

#include <QVariant>
#include <bit>

using namespace sorvel;

namespace {

platform::PosixFileSystem disk;

// What the loader handed over, in the order it must come: drive, folder, state, top, left, width,
// height; a number as its bits, so that -0.0 and 0.0 differ. Then the split the load gave.
struct Applied : core::SettingsTarget {
    QVariantList steps;
    Code take(qsizetype step, const QVariant& v) {
        FUZZ_CHECK(steps.size() == step && (step != 1 || !v.toString().contains(u'\0')));
        return steps.append(v), code::kOk;
    }
    Code applyDrive(const QString& f) override { return take(0, f); }
    Code applyFolder(const QString& f) override { return take(1, f); }
    Code applyWindowState(int s) override { return take(2, s); }
    Code applyTop(double v) override { return take(3, std::bit_cast<qulonglong>(v)); }
    Code applyLeft(double v) override { return take(4, std::bit_cast<qulonglong>(v)); }
    Code applyWidth(double v) override { return take(5, std::bit_cast<qulonglong>(v)); }
    Code applyHeight(double v) override { return take(6, std::bit_cast<qulonglong>(v)); }
    double at(int i) const { return std::bit_cast<double>(steps.at(i).toULongLong()); }
};

QVariantList load(const QByteArray& bytes) {
    Applied a;
    const int split =
        core::loadSettings(disk, fuzz::scratchFile(QStringLiteral("id3.ini"), bytes), a);
    FUZZ_CHECK(split == 0 || a.steps.size() == 7);
    if (a.steps.size() == 7) {
        const QString path = fuzz::scratchFile(QStringLiteral("saved.ini"), {});
        const core::Settings s{
            a.steps[1].toString(), a.steps[2].toInt(), a.at(3), a.at(4), a.at(5), a.at(6), split};
        FUZZ_CHECK(core::saveSettings(path, s) == code::kOk);
        Applied back;
        FUZZ_CHECK(core::loadSettings(disk, path, back) == split && back.steps == a.steps);
    }
    return a.steps << split;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Lines near the length limit are out of reach of short inputs: a first byte of 0xFF stands
    // for a run of letters around the limit at the front of the file.
    if (size >= 2 && data[0] == 0xFF)
        bytes = QByteArray(core::kMaxLineBytes - 128 + data[1], 'x') + bytes.mid(2);
    const QVariantList first = load(bytes);
    // The first eight lines as a plain reader sees them (CR LF, LF and a lone CR end a line).
    const QList<QByteArray> lines =
        QByteArray(bytes).replace("\r\n", "\n").replace('\r', '\n').split('\n');
    const bool tooLong = std::ranges::any_of(
        lines.mid(0, 8), [](const QByteArray& line) { return line.size() > core::kMaxLineBytes; });
    FUZZ_CHECK(!tooLong || first == QVariantList{0});
    // Whatever follows the eighth line is never read. (A lone CR followed by LF is one line end,
    // so what is added starts with neither.)
    FUZZ_CHECK(lines.size() <= 8 || load(bytes + QByteArray("x\r\n\0\xFF more", 10)) == first);
    return 0;
}
