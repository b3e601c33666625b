// Writing one field into 10,000 selected files with the tag writer, against a bare loop that makes
// the same system calls per file (open, fstat, pread of the last 128 bytes, pwrite of 128 bytes,
// close). The same pair with fdatasync before each close measures what syncing every file costs.
// The writer records what it replaces, as the window has it do for "&Ångra"; a line tells what
// that recording costs. The last line is the ratio of writer to floor, from interleaved rounds.

#include "browse/scan.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "tag/tag.h"
#include "write/engine.h"
#include "write/journal.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace sorvel;

namespace {

constexpr std::size_t kFiles = 10000;
constexpr std::size_t kSyncedFiles = 1000;  // fdatasync is slow enough that fewer files tell it
constexpr std::size_t kAudioBytes = 4096;

/// What a window does with the reports: keeps the last of each.
struct Sink : write::Observer {
    QString status;
    int max = 0;
    int value = 0;
    void setStatus(const QString& text) override { status = text; }
    void setProgressMax(int m) override { max = m; }
    void setProgress(int v) override { value = v; }
};

/// The real file system, syncing each file's data before it is closed.
class SyncingFileSystem : public platform::PosixFileSystem {
public:
    Code close(int fd) override {
        ::fdatasync(fd);
        return PosixFileSystem::close(fd);
    }
    void closeAll(std::span<const int> fds, std::span<Code> codes) override {
        for (const int fd : fds)
            ::fdatasync(fd);
        PosixFileSystem::closeAll(fds, codes);
    }
};

/// The fingerprint of a file of the bench: its audio, then `trailer`.
tag::Fingerprint printOf(const std::array<char, 128>& trailer) {
    std::array<std::byte, tag::kTailSize> tail{};
    std::fill_n(tail.begin(), tail.size() - trailer.size(), std::byte{0x55});
    std::memcpy(tail.data() + tail.size() - trailer.size(), trailer.data(), trailer.size());
    return tag::fingerprintOf(tail, kAudioBytes + trailer.size());
}

struct Folder {
    QTemporaryDir dir;
    QString katalog;
    std::vector<browse::Row> rows;
    std::vector<std::string> paths;  // for the floor: built once, as the system takes them

    Folder() {
        katalog = dir.path() + u'/';
        std::array<char, 128> trailer{};
        std::fill(trailer.begin(), trailer.end(), ' ');
        std::copy_n("TAG", 3, trailer.begin());
        trailer[127] = 17;
        const std::string audio(kAudioBytes, '\x55');
        const tag::Fingerprint print = printOf(trailer);
        rows.reserve(kFiles);
        for (std::size_t i = 0; i < kFiles; ++i) {
            browse::Row row;
            row.name = QStringLiteral("Spår %1 - Artist - Titel").arg(i, 5, 10, QChar(u'0'));
            row.title = QStringLiteral("Titel");
            row.album = QStringLiteral("Album");
            row.year = QStringLiteral("1999");
            row.genre = QStringLiteral("Rock");
            row.print = print;  // as a scan of the folder finds it
            const QByteArray path =
                platform::encodeName(katalog + row.name + QStringLiteral(".mp3"));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, audio.data(), audio.size()) < 0 ||
                ::write(fd, trailer.data(), trailer.size()) < 0) {
                std::perror("write_bench: creating files");
                std::exit(1);
            }
            ::close(fd);
            paths.emplace_back(path.constData(), static_cast<std::size_t>(path.size()));
            rows.push_back(std::move(row));
        }
    }
};

Folder& folder() {
    static Folder f;
    return f;
}

int round = 0;  // every round writes another value, so that every write changes the bytes

void writeWithEngine(platform::FileSystem& fs, std::size_t files, bool record = true) {
    Folder& f = folder();
    std::vector<bool> selected(f.rows.size(), false);
    std::fill_n(selected.begin(), files, true);
    write::EditorValues editor;
    editor.artist = QStringLiteral("Artist %1").arg(++round);
    Sink sink;
    write::Command command{write::commandLabel(write::Typ::Artist), {}};
    const auto result = write::spara_tag(fs, write::Typ::Artist, f.rows, selected, f.katalog,
                                         editor, 1, sink, record ? &command : nullptr);
    if (result.written != files) {
        std::cerr << "write_bench: " << result.failures.size() << " files not written\n";
        std::exit(1);
    }
}

void writeFloor(std::size_t files, bool sync) {
    Folder& f = folder();
    const std::string artist = "Artist " + std::to_string(++round);
    std::array<char, 128> last{};
    for (std::size_t i = 0; i < files; ++i) {
        const int fd = ::open(f.paths[i].c_str(), O_RDWR | O_CLOEXEC);
        struct stat st {};
        std::array<char, 128> buf{};
        if (fd < 0 || ::fstat(fd, &st) != 0 ||
            ::pread(fd, buf.data(), buf.size(), st.st_size - 128) != 128) {
            std::perror("write_bench: floor");
            std::exit(1);
        }
        std::fill_n(buf.begin() + 33, 30, ' ');
        std::copy(artist.begin(), artist.end(), buf.begin() + 33);
        if (::pwrite(fd, buf.data(), buf.size(), st.st_size - 128) != 128)
            std::exit(1);
        if (sync)
            ::fdatasync(fd);
        ::close(fd);
        last = buf;
    }
    // The rows learn of the floor's writes as a rescan would tell them, so that the writer's
    // next round finds every file as its row knows it. Every file got the same bytes.
    const tag::Fingerprint print = printOf(last);
    for (std::size_t i = 0; i < files; ++i)
        f.rows[i].print = print;
}

void BM_Write(benchmark::State& state, bool sync) {
    platform::PosixFileSystem plain;
    SyncingFileSystem syncing;
    platform::FileSystem& fs = sync ? syncing : static_cast<platform::FileSystem&>(plain);
    const auto files = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
        writeWithEngine(fs, files);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Floor(benchmark::State& state, bool sync) {
    const auto files = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
        writeFloor(files, sync);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

constexpr auto kFilesArg = static_cast<std::int64_t>(kFiles);
constexpr auto kSyncedArg = static_cast<std::int64_t>(kSyncedFiles);
BENCHMARK_CAPTURE(BM_Write, plain, false)
    ->Arg(kFilesArg)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Floor, plain, false)
    ->Arg(kFilesArg)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, fdatasync, true)
    ->Arg(kSyncedArg)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_Floor, fdatasync, true)
    ->Arg(kSyncedArg)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

double seconds(auto&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    folder();  // the files are made before any timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Interleaved rounds, the fastest of each, so that a busy machine weighs on both alike.
    platform::PosixFileSystem fs;
    double engine = 1e9;
    double bare = 1e9;
    double floor = 1e9;
    for (int i = 0; i < 7; ++i) {
        floor = std::min(floor, seconds([] { writeFloor(kFiles, false); }));
        engine = std::min(engine, seconds([&] { writeWithEngine(fs, kFiles); }));
        bare = std::min(bare, seconds([&] { writeWithEngine(fs, kFiles, false); }));
    }
    std::printf(
        "writer %.1f ms (%.1f ms without recording for undo, %+.1f%%), floor %.1f ms for "
        "%zu files\n",
        engine * 1e3, bare * 1e3, (engine / bare - 1) * 100, floor * 1e3, kFiles);
    std::printf("write/floor ratio at %zu files: %.2f\n", kFiles, engine / floor);
    return 0;
}
