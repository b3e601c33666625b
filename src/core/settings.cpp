#include "core/settings.h"

#include "platform/filesystem.h"
#include "platform/folders.h"
#include "platform/names.h"
#include "tag/cp1252.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <cerrno>
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
std::optional<std::vector<QByteArray>> readLines(const QString& path) {
    platform::PosixFileSystem fs;
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

// Writes all of `data`, going on after interrupted or partial writes. Returns 0 or an errno value.
int writeAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::write(fd, data.constData() + done, static_cast<std::size_t>(data.size() - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;
        }
        done += n;
    }
    return 0;
}

// Creates `folder` and the folders above it that are missing. Returns 0 or an errno value.
int makeFolders(const QByteArray& folder) {
    for (qsizetype at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder.at(at) != '/') {
            continue;
        }
        const QByteArray part = folder.left(at);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
    }
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0) {
        return errno;
    }
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// The temporary files of saves that never finished (the program was killed, the machine lost
// power) would otherwise pile up beside id3.ini, one per such save. A save holds a lock on its
// temporary file for as long as it exists, so a file whose lock can be taken belongs to a save
// that is over; one that is locked belongs to another instance saving right now and stays.
void removeStaleTemporaries(const QByteArray& folder, const QByteArray& prefix) {
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr) {
        return;
    }
    const int dfd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= static_cast<std::size_t>(prefix.size()) ||
            name.substr(0, prefix.size()) != std::string_view(prefix.constData(), prefix.size()) ||
            !std::all_of(name.begin() + prefix.size(), name.end(),
                         [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); })) {
            continue;
        }
        const int fd = ::openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat held {};
        struct stat named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
            S_ISREG(held.st_mode) &&
            ::fstatat(dfd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            ::unlinkat(dfd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

// Programs under /usr were put there by a package or by an install into /usr/local: that
// hierarchy holds no files written at run time, and removing the package would leave id3.ini
// behind. Root can write there all the same, so being writable does not tell.
bool isInstalledFolder(const QString& folder) {
    return folder == u"/usr" || folder.startsWith(u"/usr/");
}

}  // namespace

int loadSettings(const QString& iniPath, SettingsTarget& target) {
    const auto lines = readLines(iniPath);
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

    const QByteArray path = platform::encodeName(iniPath);
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArrayLiteral(".")
                              : slash == 0 ? "/"
                                           : path.left(slash);
    if (const int err = makeFolders(folder); err != 0) {
        return codeFromErrno(err);
    }

    const QByteArray tempPrefix = path.mid(slash + 1) + ".tmp";
    removeStaleTemporaries(folder, tempPrefix);

    // A new file beside the old one that replaces it only once it is complete and on disk.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = path + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return codeFromErrno(errno);
        }
    }
    if (fd < 0) {
        return code::kFileExists;
    }
    // Held until the file is renamed or removed, through a second descriptor that outlives the
    // checked close: it tells a save in progress from a dead one's leftover
    // (removeStaleTemporaries). A file system without locks only loses that clean-up.
    ::flock(fd, LOCK_EX);
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    int err = writeAll(fd, text);
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0 && errno != EINTR) {
        err = errno;
    }
    if (err == 0 && ::rename(temp.constData(), path.constData()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temp.constData());
    }
    if (held >= 0) {
        ::close(held);
    }
    if (err != 0) {
        return codeFromErrno(err);
    }
    // The rename itself is made durable too; a failure here leaves a complete file either way.
    if (const int dfd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return code::kOk;
}

QString settingsPath(const QString& programFolder) {
    const QString ini = QStringLiteral("id3.ini");
    if (!programFolder.isEmpty() && !isInstalledFolder(programFolder) &&
        ::access(platform::encodeName(programFolder).constData(), W_OK | X_OK) == 0) {
        return platform::joinPath(programFolder, ini);
    }
    // Relative values are to be ignored, as the XDG base directory rules say.
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    const QString config =
        xdg.startsWith('/') ? fromNative(xdg)
                            : platform::joinPath(platform::homeFolder(), QStringLiteral(".config"));
    return platform::joinPath(platform::joinPath(config, QStringLiteral("sorvel")), ini);
}

}  // namespace sorvel::core
