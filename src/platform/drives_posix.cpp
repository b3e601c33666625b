#include "platform/drives_posix.h"

#include "platform/folders.h"
#include "platform/names.h"
#include "platform/probe.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace sorvel::platform {
namespace {

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string unescapeOctal(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() &&
            std::all_of(s.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        s.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out.push_back(static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) |
                                            (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::vector<std::string_view> splitSpaces(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') {
            ++i;
        }
        if (i > start) {
            parts.push_back(line.substr(start, i - start));
        }
    }
    return parts;
}

bool under(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder + u'/');
}

QByteArray realDevice(const QByteArray& device) {
    std::array<char, PATH_MAX> buf{};
    if (::realpath(device.constData(), buf.data()) == nullptr) {
        return device;
    }
    return QByteArray(buf.data());
}

// Device path -> label, from the links udev keeps.
std::map<QByteArray, QString> deviceLabels() {
    std::map<QByteArray, QString> labels;
    const char* folder = "/dev/disk/by-label";
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return labels;
    }
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') {
            continue;
        }
        const QByteArray link = QByteArray(folder) + '/' + e->d_name;
        labels[realDevice(link)] = labelOfLinkName(e->d_name);
    }
    ::closedir(dir);
    return labels;
}

std::string readMountInfo() {
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

QString labelOfLinkName(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            const std::string hex(s.substr(i + 2, 2));
            char* end = nullptr;
            const long v = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return decodeName(out);
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        // id parent major:minor root mount-point options [optional...] - type source super
        const auto parts = splitSpaces(line);
        const auto dash = std::find(parts.begin(), parts.end(), std::string_view("-"));
        if (parts.size() < 6 || dash == parts.end() || dash - parts.begin() < 6 ||
            parts.end() - dash < 3) {
            continue;
        }
        const std::string point = unescapeOctal(parts[4]);
        const std::string source = unescapeOctal(*(dash + 2));
        mounts.push_back(
            {decodeName(point),
             QByteArray((dash + 1)->data(), static_cast<qsizetype>((dash + 1)->size())),
             QByteArray(source.data(), static_cast<qsizetype>(source.size()))});
    }
    return mounts;
}

bool isBrowsable(const MountEntry& mount) {
    if (mount.mountPoint == u"/") {
        return true;
    }
    static const std::array<std::string_view, 27> pseudo = {
        "proc",        "sysfs",     "tmpfs",       "devtmpfs",  "devpts",
        "cgroup",      "cgroup2",   "securityfs",  "debugfs",   "tracefs",
        "pstore",      "bpf",       "mqueue",      "hugetlbfs", "configfs",
        "fusectl",     "autofs",    "binfmt_misc", "efivarfs",  "rpc_pipefs",
        "nsfs",        "ramfs",     "squashfs",    "selinuxfs", "fuse.gvfsd-fuse",
        "fuse.portal", "fuse.lxcfs"};
    const std::string_view type(mount.fsType.constData(),
                                static_cast<std::size_t>(mount.fsType.size()));
    if (std::find(pseudo.begin(), pseudo.end(), type) != pseudo.end()) {
        return false;
    }
    for (const auto* system : {u"/proc", u"/sys", u"/dev", u"/snap"}) {
        if (under(mount.mountPoint, QString::fromUtf16(system))) {
            return false;
        }
    }
    return !under(mount.mountPoint, QStringLiteral("/run")) ||
           under(mount.mountPoint, QStringLiteral("/run/media"));
}

std::vector<Drives::Drive> drivesFromMounts(const std::vector<MountEntry>& mounts,
                                            const std::map<QByteArray, QString>& labels) {
    std::vector<Drives::Drive> drives;
    for (const MountEntry& m : mounts) {
        if (!isBrowsable(m)) {
            continue;
        }
        QString label;
        if (const auto it = labels.find(m.source); it != labels.end()) {
            label = it->second;
        } else if (m.source.startsWith("/dev/")) {
            label = decodeName(m.source.mid(m.source.lastIndexOf('/') + 1).toStdString());
        } else {
            label = QString::fromLatin1(m.fsType);
        }
        const auto same = std::find_if(drives.begin(), drives.end(), [&](const Drives::Drive& d) {
            return d.root == m.mountPoint;
        });
        if (same != drives.end()) {
            drives.erase(same);  // mounted over: the later mount is seen
        }
        drives.push_back({m.mountPoint, label});
    }
    return drives;
}

Drives::Drive driveOfPath(const std::vector<Drives::Drive>& drives, const QString& path) {
    Drives::Drive best{QStringLiteral("/"), QString()};
    qsizetype bestLength = -1;
    for (const Drives::Drive& d : drives) {
        const bool holds = d.root == u"/" ? path.startsWith(u'/') : under(path, d.root);
        if (holds && d.root.size() > bestLength) {
            best = d;
            bestLength = d.root.size();
        }
    }
    return best;
}

std::vector<Drives::Drive> PosixDrives::list() {
    const std::string text = readMountInfo();
    std::vector<MountEntry> mounts = parseMountInfo(text);
    std::map<QByteArray, QString> labels;
    for (const auto& [device, label] : deviceLabels()) {
        labels[device] = label;
    }
    // Mounts name their device by any of its links; labels are keyed by the real device.
    for (MountEntry& m : mounts) {
        if (m.source.startsWith("/dev/")) {
            m.source = realDevice(m.source);
        }
    }
    std::vector<Drive> all = drivesFromMounts(mounts, labels);
    // Every root is asked at once, each on a thread of its own, so that mounts that do not answer
    // cost the list one wait together, and that only the first time: while a root's question is
    // still unanswered from before, the list does not wait for it again.
    std::vector<Probe> probes;
    probes.reserve(all.size());
    for (const Drive& d : all) {
        std::string native = encodeName(d.root).toStdString();
        std::string key = "stat " + native;
        probes.emplace_back(std::move(key), [native = std::move(native)] {
            Finding f;
            struct stat st {};
            if (::stat(native.c_str(), &st) != 0) {
                f.code = codeFromErrno(errno);
            } else if (!S_ISDIR(st.st_mode)) {
                f.code = code::kPathNotFound;
            }
            return f;
        });
    }
    const auto now = std::chrono::steady_clock::now();
    std::vector<Drive> drives;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::optional<Finding> found =
            probes[i].answerBy(probes[i].wasWaiting() ? now : now + kAnswerTime);
        // A root that does not answer stays in the list: choosing it says it cannot be reached.
        if (!found || found->code == code::kOk) {
            drives.push_back(std::move(all[i]));
        }
    }
    return drives;
}

Drives::Drive PosixDrives::driveOf(const QString& path) {
    return driveOfPath(list(), path);
}

Code PosixDrives::check(const Drive& drive) {
    const std::vector<Drive> now = list();
    if (std::none_of(now.begin(), now.end(),
                     [&](const Drive& d) { return d.root == drive.root; })) {
        return code::kDeviceUnavailable;  // unmounted or medium taken out
    }
    const Code c = checkFolder(drive.root);
    return c == code::kFileNotFound || c == code::kPathNotFound ? code::kDeviceUnavailable : c;
}

}  // namespace sorvel::platform
