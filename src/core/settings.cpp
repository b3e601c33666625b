#include "core/settings.h"

#include "platform/filesystem.h"
#include "platform/folders.h"
#include "platform/names.h"
#include "platform/replace_file.h"
#include "tag/cp1252.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sorvel::core {
namespace {

constexpr std::size_t kLineCount = 8;
constexpr std::size_t kChunk = 4096;

// The marker of a folder line that holds the path's bytes as the file system stores them: names
// that are not valid UTF-8 (or hold a line break) could otherwise not come back byte for byte.
// No path begins with it, and no other line 2 is written with it.
constexpr std::string_view kRawMarker = "\xEF\xBB\xBF";

QString firstLine() {
    return QStringLiteral(
        u"Denna filen innehåller alla inställningar som id3 editorn sparar. Redigera den inte! "
        u"Men om den tas bort så skapas en ny nästa gång programmet avslutas.");
}

QByteArray to1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        out.append(static_cast<char>(tag::encode1252(c)));
    }
    return out;
}

QString from1252(const QByteArray& bytes) {
    return tag::decode1252(
        std::as_bytes(std::span(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

QString fromNative(const QByteArray& bytes) {
    return platform::decodeName(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// Whether the bytes are UTF-8 by the same rule as the file names are: decodeName() keeps every
// byte that is not part of valid UTF-8 as a lone low surrogate.
bool isUtf8(const QString& decoded) {
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded.at(i);
        if (c.isLowSurrogate() && (i == 0 || !decoded.at(i - 1).isHighSurrogate())) {
            return false;
        }
    }
    return true;
}

bool isAscii(const QByteArray& bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char b) { return static_cast<unsigned char>(b) < 0x80; });
}

// Line 2 as written. Windows-1252 where the path fits it, as the file has always been written, but
// not when those bytes would read back as other UTF-8 text; UTF-8 for any other name that is
// UTF-8; the raw form for the rest.
QByteArray encodeFolder(const QString& folder) {
    const bool lineBreak = folder.contains(u'\r') || folder.contains(u'\n');
    if (!lineBreak && tag::fits1252(folder)) {
        QByteArray cp = to1252(folder);
        if (isAscii(cp) || !isUtf8(fromNative(cp))) {
            return cp;
        }
    }
    QByteArray native = platform::encodeName(folder);
    if (!lineBreak && isUtf8(folder)) {
        return native;
    }
    QByteArray raw(kRawMarker.data(), static_cast<qsizetype>(kRawMarker.size()));
    for (const char b : native) {
        if (b == '%') {
            raw.append("%25");
        } else if (b == '\r') {
            raw.append("%0D");
        } else if (b == '\n') {
            raw.append("%0A");
        } else {
            raw.append(b);
        }
    }
    return raw;
}

QString decodeFolder(const QByteArray& line) {
    if (line.startsWith(QByteArray::fromRawData(kRawMarker.data(), kRawMarker.size()))) {
        QByteArray native = line.mid(static_cast<qsizetype>(kRawMarker.size()));
        native.replace("%0D", "\r").replace("%0A", "\n").replace("%25", "%");
        return fromNative(native);
    }
    const QString utf8 = fromNative(line);
    return isUtf8(utf8) ? utf8 : from1252(line);
}

std::string_view trimmed(const QByteArray& line) {
    std::string_view s(line.constData(), static_cast<std::size_t>(line.size()));
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<int> parseInt16(const QByteArray& line) {
    std::string_view s = trimmed(line);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    if (value < INT16_MIN || value > INT16_MAX) {
        return std::nullopt;
    }
    return value;
}

// A decimal number in single precision: sign, digits and a fraction after "." or "," (files
// written under a Swedish locale use the comma). No exponents, no "inf" or "nan".
std::optional<double> parseSingle(const QByteArray& line) {
    std::string_view s = trimmed(line);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
    }
    std::string text(s);
    bool digits = false;
    bool point = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
            text[i] = '.';
        } else if (!(c == '-' && i == 0)) {
            return std::nullopt;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (std::fabs(value) > FLT_MAX) {
        return std::nullopt;
    }
    return static_cast<double>(static_cast<float>(value));
}

// The first eight lines of the file, ending in CR LF, LF or a lone CR. Reads no further than the
// eighth line, and gives up on a line longer than kMaxLineBytes.
std::optional<std::vector<QByteArray>> readLines(platform::FileSystem& fs, const QString& path) {
    int fd = -1;
    std::uint64_t size = 0;
    if (fs.open(path, platform::FileSystem::Access::Read, fd, size) != code::kOk) {
        return std::nullopt;
    }
    platform::FileGuard guard(fs, fd);

    std::vector<QByteArray> lines;
    QByteArray line;
    bool afterCr = false;
    std::array<std::byte, kChunk> buf{};
    std::uint64_t offset = 0;
    while (lines.size() < kLineCount && offset < size) {
        const std::size_t n =
            size - offset < kChunk ? static_cast<std::size_t>(size - offset) : kChunk;
        if (fs.readAt(fd, offset, std::span(buf.data(), n)) != code::kOk) {
            return std::nullopt;
        }
        offset += n;
        for (std::size_t i = 0; i < n && lines.size() < kLineCount; ++i) {
            const char c = static_cast<char>(buf[i]);
            if (afterCr) {
                afterCr = false;
                if (c == '\n') {
                    continue;
                }
            }
            if (c == '\r' || c == '\n') {
                lines.push_back(std::exchange(line, {}));
                afterCr = c == '\r';
            } else if (line.size() == kMaxLineBytes) {
                return std::nullopt;
            } else {
                line.append(c);
            }
        }
    }
    if (lines.size() < kLineCount && !line.isEmpty()) {
        lines.push_back(std::move(line));
    }
    if (lines.size() < kLineCount) {
        return std::nullopt;
    }
    return lines;
}

QByteArray formatNumber(double value) {
    if (!std::isfinite(value)) {
        value = 0;
    }
    std::array<char, 400> buf{};
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
    if (ec != std::errc()) {
        return QByteArrayLiteral("0");
    }
    return QByteArray(buf.data(), end - buf.data());
}

}  // namespace

int loadSettings(platform::FileSystem& fs, const QString& iniPath, SettingsTarget& target) {
    const auto lines = readLines(fs, iniPath);
    if (!lines) {
        return 0;
    }
    // Line 8 is converted while the file is read, so a bad one stops the load before anything is
    // applied; lines 3 to 7 are converted only when their turn comes.
    const auto fil2tagNr = parseInt16((*lines)[7]);
    if (!fil2tagNr) {
        return 0;
    }

    const QString folder = decodeFolder((*lines)[1]);
    if (target.applyDrive(folder) != code::kOk) {
        return 0;
    }
    // No folder's name holds a NUL, and every system call would take a path only up to it: the
    // list would show the folder named by the part before it, and every row's path would name
    // that folder itself, which Delete would then send to the trash.
    if (folder.contains(QChar(u'\0')) || target.applyFolder(folder) != code::kOk) {
        return 0;
    }
    const auto state = parseInt16((*lines)[2]);
    if (!state || target.applyWindowState(*state) != code::kOk) {
        return 0;
    }
    const std::array<Code (SettingsTarget::*)(double), 4> geometry = {
        &SettingsTarget::applyTop, &SettingsTarget::applyLeft, &SettingsTarget::applyWidth,
        &SettingsTarget::applyHeight};
    for (std::size_t i = 0; i < geometry.size(); ++i) {
        const auto value = parseSingle((*lines)[3 + i]);
        if (!value || (target.*geometry[i])(*value) != code::kOk) {
            return 0;
        }
    }
    return *fil2tagNr;
}

Code saveSettings(const QString& iniPath, const Settings& settings) {
    const QByteArray crlf = QByteArrayLiteral("\r\n");
    QByteArray text = to1252(firstLine()) + crlf + encodeFolder(settings.folder) + crlf;
    text += QByteArray::number(settings.windowState) + crlf;
    for (const double v : {settings.top, settings.left, settings.width, settings.height}) {
        text += formatNumber(v) + crlf;
    }
    text += QByteArray::number(settings.fil2tagNr) + crlf;

    return platform::replaceFile(iniPath, text);
}

QString settingsPath(const QString& programFolder) {
    const QString ini = QStringLiteral("id3.ini");
    if (!programFolder.isEmpty() && !platform::holdsInstalledPrograms(programFolder) &&
        platform::writableFolder(programFolder)) {
        return platform::joinPath(programFolder, ini);
    }
    return platform::joinPath(
        platform::joinPath(platform::configFolder(), QStringLiteral("sorvel")), ini);
}

}  // namespace sorvel::core
