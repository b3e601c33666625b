#pragma once

// What the benchmarks share: the generated folder, the observer that keeps the rows, and a
// stopwatch.

#include "browse/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sorvel::bench {

/// How long `f` takes, in seconds.
double seconds(auto&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}

inline std::string field(const std::string& text, std::size_t width) {
    std::string f = text.substr(0, width);
    f.resize(width, ' ');
    return f;
}

// `files` files of 200 to 1000 bytes; every tenth has no trailer.
inline bool generate(const std::string& folder, int files) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int i = 0; i < files; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, "Artist %d - L\xc3\xa5t nummer %06d.mp3", i % 97, i);
        const std::size_t size = 200 + next() % 801;
        std::string bytes(size, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(next());
        }
        if (i % 10 != 0) {
            char title[32];
            std::snprintf(title, sizeof title, "L\xe5t %d", i);
            const std::string trailer = "TAG" + field(title, 30) + field("Artist", 30) +
                                        field("Album", 30) + field("2001", 4) +
                                        field("Kommentar", 30) + static_cast<char>(i % 116);
            bytes.replace(size - trailer.size(), trailer.size(), trailer);
        }
        if (!writeFile(folder + name, bytes)) {
            return false;
        }
    }
    return true;
}

/// The names of the regular files in `folder` (which ends in "/"), as the system lists them.
inline std::vector<std::string> listNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n(e->d_name);
        if (n.size() > 4 && n.front() != '.' && e->d_type == DT_REG) {
            names.emplace_back(n);
        }
    }
    ::closedir(dir);
    return names;
}

// Drops the folder's pages: its files' data and its own blocks, and where this process may, the
// kernel's caches of names and inodes too. Answers how.
inline std::string evict(const std::string& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::syncfs(dir);  // dirty pages would stay
    }
    for (const std::string& name : listNames(folder)) {
        const int fd = ::open((folder + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
    if (dir >= 0) {
        ::posix_fadvise(dir, 0, 0, POSIX_FADV_DONTNEED);
        ::close(dir);
    }
    std::string how = "posix_fadvise(POSIX_FADV_DONTNEED) on every file and the folder";
    const int drop = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (drop >= 0 && ::write(drop, "3\n", 2) == 2) {
        how += ", and 3 written to /proc/sys/vm/drop_caches";
    } else {
        how += " only: /proc/sys/vm/drop_caches is not writable, names and inodes stay cached";
    }
    if (drop >= 0) {
        ::close(drop);
    }
    return how;
}

class KeepRows : public browse::ScanObserver {
public:
    std::vector<browse::Row> rows;
    void setStatus(const QString& /*text*/) override {}
    void setProgressMax(int max) override { rows.reserve(static_cast<std::size_t>(max)); }
    void setProgress(int /*value*/) override {}
    void addRow(browse::Row&& row) override { rows.push_back(std::move(row)); }
};

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace sorvel::bench
