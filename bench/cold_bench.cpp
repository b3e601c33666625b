// Times the folder scan on a folder whose files are not in the page cache, as on the first look at
// a USB stick or after a reboot, against two floors: the bare system calls of the scan one file
// after the other (open, fstat, pread of the last 131 bytes, close), and the same calls with 32
// files in flight on 32 threads. The scan runs both ways it can: through io_uring, and one file
// after the other as where io_uring is refused. The folders (small MP3 files, one in ten without a
// trailer) are made in a temporary folder on the disk and removed at the end. Before each timed
// run the folder's pages are evicted. Then the tag writer puts one field into every file of the
// cold folder, both ways too. The last two lines are the scan's ratios at 10,000 files.
//
//   cold_bench [repetitions [files...]]   (by default 3 repetitions of 10000 and 1 of 100000 files)

#include "browse/scan.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "sample_folder.h"
#include "write/engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace sorvel;
using bench::evict;
using bench::generate;
using bench::KeepRows;
using bench::listNames;
using bench::median;

namespace {

constexpr std::size_t kTail = 131;
constexpr int kThreads = 32;

// What one file costs at least: its four system calls. Answers whether it has a trailer.
bool readTail(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    std::array<char, kTail> buf{};
    struct stat st {};
    const bool tagged = ::fstat(fd, &st) == 0 && st.st_size >= 130 &&
                        ::pread(fd, buf.data(), kTail, st.st_size - static_cast<off_t>(kTail)) ==
                            static_cast<ssize_t>(kTail) &&
                        std::memcmp(buf.data() + 3, "TAG", 3) == 0;
    ::close(fd);
    return tagged;
}

std::size_t sequentialFloor(const std::string& folder) {
    std::size_t tagged = 0;
    for (const std::string& name : listNames(folder)) {
        tagged += readTail(folder + name) ? 1 : 0;
    }
    return tagged;
}

std::size_t concurrentFloor(const std::string& folder) {
    const std::vector<std::string> names = listNames(folder);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> tagged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::size_t mine = 0;
            for (std::size_t i = next++; i < names.size(); i = next++) {
                mine += readTail(folder + names[i]) ? 1 : 0;
            }
            tagged += mine;
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    return tagged;
}

// One field into every file of the folder, as "Artist" with the whole list selected does.
std::size_t writeAll(platform::FileSystem& fs, std::vector<browse::Row>& rows,
                     const std::string& folder, int round) {
    write::EditorValues editor;
    editor.artist = QStringLiteral("Artist %1").arg(round);
    KeepRows sink;
    const auto result =
        write::spara_tag(fs, write::Typ::Artist, rows, std::vector<bool>(rows.size(), true),
                         platform::decodeName(folder), editor, 1, sink);
    return result.written;
}

std::size_t scan(platform::FileSystem& fs, const std::string& folder) {
    KeepRows keep;
    std::size_t rows = 0;
    if (browse::scanFolder(fs, platform::decodeName(folder), keep, rows) != code::kOk) {
        return 0;
    }
    return static_cast<std::size_t>(
        std::count_if(keep.rows.begin(), keep.rows.end(),
                      [](const browse::Row& r) { return !r.title.isEmpty(); }));
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<int> sizes = {10000, 100000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) {
            sizes.push_back(std::max(1, std::atoi(argv[i])));
        }
    }
    // On the disk: a tmpfs /tmp keeps every page in memory, and nothing would be cold.
    const QByteArray base = qEnvironmentVariableIsSet("TMPDIR") ? qgetenv("TMPDIR") : "/var/tmp";
    QTemporaryDir temp(QString::fromLocal8Bit(base) + QStringLiteral("/cold_bench-XXXXXX"));
    if (!temp.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string root = platform::encodeName(temp.path()).toStdString() + '/';

    platform::PosixFileSystem overlapped;
    platform::PosixFileSystem sequential(platform::PosixFileSystem::TailReads::Sequential);
    std::printf("io_uring: %s\n",
                overlapped.overlapsReads()
                    ? "in use"
                    : "refused by this kernel, the scan reads one file at a time");

    double ratio = 0;
    double speedup = 0;
    int reported = 0;
    bool told = false;
    for (const int files : sizes) {
        const std::string folder = root + std::to_string(files) + '/';
        if (::mkdir(folder.c_str(), 0755) != 0 || !generate(folder, files)) {
            std::fprintf(stderr, "could not generate %s\n", folder.c_str());
            return 1;
        }
        const auto expected = static_cast<std::size_t>(files - (files + 9) / 10);
        struct Run {
            const char* name;
            std::function<std::size_t()> run;
            std::vector<double> times;
        };
        std::vector<Run> runs = {
            {"sequential floor", [&] { return sequentialFloor(folder); }, {}},
            {"concurrent floor (32 threads)", [&] { return concurrentFloor(folder); }, {}},
            {"scan (io_uring)", [&] { return scan(overlapped, folder); }, {}},
            {"scan (sequential fallback)", [&] { return scan(sequential, folder); }, {}},
        };
        // The largest folder once: each sequential run of it takes many seconds.
        const int reps = files > 10000 ? 1 : repetitions;
        for (int r = 0; r < reps; ++r) {
            for (Run& run : runs) {
                const std::string how = evict(folder);
                if (!told) {
                    std::printf("eviction: %s\n", how.c_str());
                    told = true;
                }
                const auto start = std::chrono::steady_clock::now();
                const std::size_t got = run.run();
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                if (got != expected) {
                    std::fprintf(stderr, "%s: expected %zu tagged files, got %zu\n", run.name,
                                 expected, got);
                    return 1;
                }
                run.times.push_back(took.count());
            }
        }
        std::printf("%6d files, cold, median of %d:", files, reps);
        for (const Run& run : runs) {
            std::printf(" %s %.3f s;", run.name, median(run.times));
        }
        std::printf("\n");
        const double seq = median(runs[0].times);
        const double conc = median(runs[1].times);
        const double ring = median(runs[2].times);
        const double fallback = median(runs[3].times);
        std::printf(
            "%6d files: scan/concurrent floor %.2f (fallback %.2f), speedup over "
            "sequential floor %.2f (fallback %.2f)\n",
            files, ring / conc, fallback / conc, seq / ring, seq / fallback);

        // The writer, on the same folder gone cold again: every round writes another artist.
        KeepRows listed;
        std::size_t n = 0;
        browse::scanFolder(sequential, platform::decodeName(folder), listed, n);
        std::vector<double> writes[2];
        int round = 0;
        for (int r = 0; r < reps; ++r) {
            for (int way = 0; way < 2; ++way) {
                evict(folder);
                const auto start = std::chrono::steady_clock::now();
                const std::size_t got =
                    writeAll(way == 0 ? overlapped : sequential, listed.rows, folder, ++round);
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                if (got != listed.rows.size()) {
                    std::fprintf(stderr, "write: %zu of %zu files written\n", got,
                                 listed.rows.size());
                    return 1;
                }
                writes[way].push_back(took.count());
            }
        }
        std::printf(
            "%6d files, cold, one field into every file, median of %d: writer (io_uring) "
            "%.3f s; writer (sequential fallback) %.3f s; speedup %.2f\n",
            files, reps, median(writes[0]), median(writes[1]),
            median(writes[1]) / median(writes[0]));
        if (reported == 0 || files == 10000) {
            ratio = ring / conc;
            speedup = seq / ring;
            reported = files;
        }
        std::fflush(stdout);
    }
    std::printf("cold scan/concurrent floor ratio at %d files: %.2f\n", reported, ratio);
    std::printf("cold scan speedup over sequential floor at %d files: %.2f\n", reported, speedup);
    return 0;
}
