// Times the folder scan against the least a scan can do: the same system calls and seven kept
// strings per file. Generates folders of small MP3 files (one in ten without a trailer) in a
// temporary folder, removed at the end. Warm cache; the median of several runs.
//
//   scan_bench [repetitions [files...]]   (by default 7 repetitions of 10000 and 100000 files)

#include "browse/scan.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "sample_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using namespace sorvel;
using bench::generate;
using bench::KeepRows;
using bench::median;

namespace {

constexpr std::size_t kTail = 131;  // what the scan reads: the trailer and three bytes before it

bool endsWithMp3(std::string_view n) {
    if (n.size() < 4) {
        return false;
    }
    const char* e = n.data() + n.size() - 4;
    return e[0] == '.' && (e[1] | 0x20) == 'm' && (e[2] | 0x20) == 'p' && e[3] == '3';
}

std::size_t listNames(const std::string& folder, std::vector<std::string>* names) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    std::size_t count = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n(e->d_name);
        if (n.front() == '.' || e->d_type != DT_REG || !endsWithMp3(n)) {
            continue;
        }
        ++count;
        if (names != nullptr) {
            names->emplace_back(n);
        }
    }
    ::closedir(dir);
    return count;
}

struct FloorRow {
    std::string name, artist, title, album, year, genre, comment;
};

std::string text(const char* p, std::size_t width) {
    std::size_t n = width;
    while (n > 0 && p[n - 1] == ' ') {
        --n;
    }
    return std::string(p, n);
}

// The floor: the system calls the scan cannot do without, and seven strings per file.
std::size_t floorScan(const std::string& folder, std::vector<FloorRow>& rows) {
    rows.reserve(listNames(folder, nullptr));
    std::vector<std::string> names;
    listNames(folder, &names);
    std::string path = folder;
    std::array<char, kTail> buf{};
    for (const std::string& name : names) {
        path.resize(folder.size());
        path += name;
        FloorRow row;
        row.name = name.substr(0, name.size() - 4);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && st.st_size >= 130 &&
                ::pread(fd, buf.data(), kTail, st.st_size - static_cast<off_t>(kTail)) ==
                    static_cast<ssize_t>(kTail) &&
                std::memcmp(buf.data() + 3, "TAG", 3) == 0) {
                const char* t = buf.data() + 3;
                row.title = text(t + 3, 30);
                row.artist = text(t + 33, 30);
                row.album = text(t + 63, 30);
                row.year = text(t + 93, 4);
                row.comment = text(t + 97, 30);
                row.genre = std::to_string(static_cast<unsigned char>(t[127]));
            }
            ::close(fd);
        }
        rows.push_back(std::move(row));
    }
    return rows.size();
}

// What the window's model will do with the rows.
double seconds(const std::function<std::size_t()>& run, std::size_t expected) {
    const auto start = std::chrono::steady_clock::now();
    const std::size_t got = run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (got != expected) {
        std::fprintf(stderr, "expected %zu rows, got %zu\n", expected, got);
        std::exit(1);
    }
    return took.count();
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir temp;
    if (!temp.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string root = platform::encodeName(temp.path()).toStdString() + '/';
    platform::PosixFileSystem fs;
    // The same scan one file after the other, as where the kernel refuses io_uring.
    platform::PosixFileSystem sequential(platform::PosixFileSystem::TailReads::Sequential);
    double ratio = 0;
    double fallbackRatio = 0;
    int lastSize = 0;
    int status = 0;

    std::vector<int> sizes = {10000, 100000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) {
            sizes.push_back(std::max(1, std::atoi(argv[i])));
        }
    }
    for (const int files : sizes) {
        const std::string folder = root + std::to_string(files) + '/';
        if (::mkdir(folder.c_str(), 0755) != 0 || !generate(folder, files)) {
            std::fprintf(stderr, "could not generate %s\n", folder.c_str());
            status = 1;
            break;
        }
        const QString katalog = platform::decodeName(folder);
        const auto expected = static_cast<std::size_t>(files);
        // Each run starts from empty results; freeing the last run's rows is not timed.
        std::vector<FloorRow> floorRows;
        KeepRows keep;
        auto floorRun = [&] { return floorScan(folder, floorRows); };
        auto scanRun = [&] {
            std::size_t rows = 0;
            browse::scanFolder(fs, katalog, keep, rows);
            return keep.rows.size();
        };
        auto fallbackRun = [&] {
            std::size_t rows = 0;
            browse::scanFolder(sequential, katalog, keep, rows);
            return keep.rows.size();
        };
        std::vector<double> floorTimes;
        std::vector<double> scanTimes;
        std::vector<double> fallbackTimes;
        for (int r = -1; r < repetitions; ++r) {  // the first run of each only warms the cache
            floorRows = {};
            const double floorTime = seconds(floorRun, expected);
            keep.rows = {};
            const double scanTime = seconds(scanRun, expected);
            keep.rows = {};
            const double fallbackTime = seconds(fallbackRun, expected);
            if (r >= 0) {
                floorTimes.push_back(floorTime);
                scanTimes.push_back(scanTime);
                fallbackTimes.push_back(fallbackTime);
            }
        }
        const double floorUs = median(floorTimes) * 1e6 / files;
        const double scanUs = median(scanTimes) * 1e6 / files;
        const double fallbackUs = median(fallbackTimes) * 1e6 / files;
        std::printf(
            "%6d files: floor %.2f us/file, scan %.2f us/file, sequential fallback %.2f us/file "
            "(median of %d)\n",
            files, floorUs, scanUs, fallbackUs, repetitions);
        ratio = scanUs / floorUs;
        fallbackRatio = fallbackUs / floorUs;
        lastSize = files;
    }

    if (status != 0) {
        return status;
    }
    std::printf("sequential fallback scan/floor ratio at %d files: %.2f\n", lastSize,
                fallbackRatio);
    std::printf("scan/floor ratio at %d files: %.2f\n", lastSize, ratio);
    return 0;
}
