// Times F5 in the real main window (offscreen) on generated folders, until "Klar" with every row
// in the list, against the bare system-call floor of the same work, in the same run. At 100,000
// rows it then times what a user does with the list: a header click in each direction, Ctrl+A,
// a click on one row, Delete on one row and F5 on the sorted list, each until the window has
// handled and painted it.
#include "app/file_list_model.h"
#include "app/frmMain.h"
#include "platform/desktop_posix.h"
#include "support/fake_desktop.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace sorvel;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Files of 600 bytes: three in four with a trailer, the rest without, as a real folder has.
void makeFolder(const std::string& dir, int n) {
    std::string tail(128, ' ');
    std::memcpy(tail.data(), "TAG", 3);
    std::string body(600 - 128, '\x55');
    for (int i = 0; i < n; ++i) {
        const std::string name = dir + "/Artist " + std::to_string(i % 97) + " - Titel nummer " +
                                 std::to_string(i) + ".mp3";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::abort();
        }
        std::string bytes = body;
        if (i % 4 != 3) {
            std::string t = tail;
            const std::string title = "Titel " + std::to_string(i);
            const std::string artist = "Artist " + std::to_string(i % 97);
            std::memcpy(t.data() + 3, title.data(), title.size());
            std::memcpy(t.data() + 33, artist.data(), artist.size());
            std::memcpy(t.data() + 63, "Album", 5);
            std::memcpy(t.data() + 93, "1999", 4);
            t[127] = static_cast<char>(i % 116);
            bytes += t;
        } else {
            bytes += std::string(128, '\x55');
        }
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
        ::close(fd);
    }
}

bool isMp3(const char* name) {
    const std::size_t len = std::strlen(name);
    return name[0] != '.' && len > 4 && strcasecmp(name + len - 4, ".mp3") == 0;
}

// The least any program can do: list twice, then open, fstat, read the last 128 bytes and close
// each file, keeping the name and six field texts.
std::size_t floorScan(const std::string& dir) {
    std::size_t count = 0;
    DIR* d = ::opendir(dir.c_str());
    while (const dirent* e = ::readdir(d)) {
        count += isMp3(e->d_name) ? 1 : 0;
    }
    ::closedir(d);
    std::vector<std::string> names;
    names.reserve(count);
    d = ::opendir(dir.c_str());
    while (const dirent* e = ::readdir(d)) {
        if (isMp3(e->d_name)) {
            names.emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    std::vector<std::array<std::string, 7>> rows;
    rows.reserve(names.size());
    char buf[128];
    for (const std::string& n : names) {
        const int fd = ::open((dir + '/' + n).c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        ::fstat(fd, &st);
        const ssize_t got = ::pread(fd, buf, sizeof buf, st.st_size - 128);
        ::close(fd);
        std::array<std::string, 7> row;
        row[0] = n.substr(0, n.size() - 4);
        if (got == 128 && std::memcmp(buf, "TAG", 3) == 0) {
            row[1].assign(buf + 33, 30);
            row[2].assign(buf + 3, 30);
            row[3].assign(buf + 63, 30);
            row[4].assign(buf + 93, 4);
            row[5] = std::to_string(static_cast<unsigned char>(buf[127]));
            row[6].assign(buf + 97, 30);
        }
        rows.push_back(std::move(row));
    }
    return rows.size();
}

long peakKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

struct Result {
    double floorSeconds;
    double windowSeconds;
};

Result measure(app::frmMain& w, const QString& folder, const std::string& dir, int n) {
    constexpr int kRounds = 3;
    double bestFloor = 1e9, bestWindow = 1e9;
    if (w.applyFolder(folder) != code::kOk) {
        std::abort();  // opens it (and warms the caches)
    }
    QWidget* list = w.findChild<QWidget*>(QStringLiteral("ListView1"));
    for (int r = 0; r < kRounds; ++r) {
        auto t0 = Clock::now();
        if (floorScan(dir) != static_cast<std::size_t>(n)) {
            std::abort();
        }
        bestFloor = std::min(bestFloor, secondsSince(t0));

        QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
        t0 = Clock::now();
        QApplication::sendEvent(list, &f5);
        const double s = secondsSince(t0);
        if (w.statusText() != QStringLiteral("Klar") || w.listModel().rowCount() != n) {
            std::abort();
        }
        bestWindow = std::min(bestWindow, s);
        QApplication::processEvents();  // paint what the scan left, as the user would see it
    }
    return {bestFloor, bestWindow};
}

// The window's handling of one input and the paints it leaves, in seconds.
template <class Input>
double timed(Input&& input) {
    const auto t0 = Clock::now();
    input();
    QApplication::processEvents();
    return secondsSince(t0);
}

void click(QWidget* target, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

void key(QWidget* target, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, k, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, k, modifiers);
    QApplication::sendEvent(target, &release);
}

struct Interactions {
    double sortFirst = 1e9;   // the first click on a column since the rows came
    double sortSecond = 1e9;  // the click after it on the same column: the other direction
    double selectAll = 1e9;
    double clickAfterAll = 1e9;    // a click on one row while every row is selected
    double shiftEnd = 1e9;         // Shift+End: from the current row to the last
    double clickAfterRange = 1e9;  // a click on one row after Shift+End
    double click = 1e9;            // a click on another row while one is selected
    double deleteRow = 1e9;
    double refreshSorted = 1e9;
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

Interactions interact(app::frmMain& w, int n) {
    auto* list = w.findChild<QTreeView*>(QStringLiteral("ListView1"));
    QWidget* header = list->header()->viewport();
    QWidget* rows = list->viewport();
    auto sectionAt = [&](int section) {
        return QPoint(list->header()->sectionViewportPosition(section) +
                          list->header()->sectionSize(section) / 2,
                      header->height() / 2);
    };
    auto rowAt = [&](int row) { return list->visualRect(w.listModel().index(row, 0)).center(); };
    Interactions best;
    constexpr int kRounds = 3;
    for (int r = 0; r < kRounds; ++r) {
        // Each round sorts by a column other than the one the last F5 sorted by, so that the
        // first click finds nothing made for it yet.
        const int section = r % 2 == 0 ? 2 : 0;
        best.sortFirst =
            std::min(best.sortFirst, timed([&] { click(header, sectionAt(section)); }));
        check(w.folder().order().sorted() && w.folder().order().column() == section);
        best.sortSecond =
            std::min(best.sortSecond, timed([&] { click(header, sectionAt(section)); }));

        best.selectAll =
            std::min(best.selectAll, timed([&] { key(list, Qt::Key_A, Qt::ControlModifier); }));
        check(static_cast<int>(w.selectedRows().size()) == n);
        best.clickAfterAll = std::min(best.clickAfterAll, timed([&] { click(rows, rowAt(3)); }));
        check(w.currentRow() == 3 && w.selectedRows().size() == 1);
        best.shiftEnd =
            std::min(best.shiftEnd, timed([&] { key(list, Qt::Key_End, Qt::ShiftModifier); }));
        check(static_cast<int>(w.selectedRows().size()) == n - 3 && w.currentRow() == n - 1);
        list->scrollToTop();
        QApplication::processEvents();
        best.clickAfterRange =
            std::min(best.clickAfterRange, timed([&] { click(rows, rowAt(5)); }));
        check(w.currentRow() == 5 && w.selectedRows().size() == 1);
        best.click = std::min(best.click, timed([&] { click(rows, rowAt(4)); }));
        check(w.currentRow() == 4 && w.selectedRows().size() == 1);

        best.deleteRow = std::min(best.deleteRow, timed([&] { key(list, Qt::Key_Delete); }));
        check(w.listModel().rowCount() == n - 1 && w.currentRow() == 4);

        best.refreshSorted = std::min(best.refreshSorted, timed([&] { key(list, Qt::Key_F5); }));
        check(w.statusText() == QStringLiteral("Klar") && w.listModel().rowCount() == n);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    platform::PosixFileSystem fs;
    test::FakeMessageBoxes boxes;
    test::FakeOpener opener;
    test::FakeClock clock;
    platform::NoRegistry registry;
    test::FakeProgramFolder programFolder;
    test::FakeDrives drives;
    test::FakeTrash trash;
    QTemporaryDir program;
    programFolder.folder = program.path();
    drives.drives = {{QStringLiteral("/"), QStringLiteral("rot")}};
    app::frmMain w({fs, boxes, opener, clock, registry, programFolder, drives, trash});
    w.show();

    double ratio = 0;
    double floor100k = 0;
    Interactions at100k;
    for (const int n : {10000, 100000}) {
        QTemporaryDir dir;
        const std::string path = dir.path().toStdString();
        makeFolder(path, n);
        const Result r = measure(w, dir.path(), path, n);
        ratio = r.windowSeconds / r.floorSeconds;
        std::printf(
            "%6d files: window %.2f us/file (%.3f s), floor %.2f us/file (%.3f s), ratio %.2f\n", n,
            r.windowSeconds * 1e6 / n, r.windowSeconds, r.floorSeconds * 1e6 / n, r.floorSeconds,
            ratio);
        if (n == 100000) {
            floor100k = r.floorSeconds;
            at100k = interact(w, n);
            std::printf("peak memory with %d rows listed: %.1f MB (VmHWM)\n", n,
                        static_cast<double>(peakKiB()) / 1024.0);
        }
        w.applyFolder(program.path());  // let go of the rows before the folder goes
    }
    std::printf("window/floor ratio at 100000 files: %.2f\n", ratio);
    const auto line = [&](const char* what, double s) {
        std::printf("%s at 100000 rows: %.2f ms, %.4f of the floor scan (%.1f ms)\n", what, s * 1e3,
                    s / floor100k, floor100k * 1e3);
    };
    line("header-click sort, first click on a column", at100k.sortFirst);
    line("header-click sort, second click (other direction)", at100k.sortSecond);
    line("Ctrl+A select all", at100k.selectAll);
    line("click on one row, every row selected", at100k.clickAfterAll);
    line("Shift+End from row 3", at100k.shiftEnd);
    line("click on one row after Shift+End", at100k.clickAfterRange);
    line("click on one row, one row selected", at100k.click);
    line("Delete on one row", at100k.deleteRow);
    line("F5 on the sorted list", at100k.refreshSorted);
    // The slower case of each interaction is the one that counts.
    std::printf("sort/floor ratio at 100000 rows: %.3f\n",
                std::max(at100k.sortFirst, at100k.sortSecond) / floor100k);
    std::printf("select-all/floor ratio at 100000 rows: %.3f\n", at100k.selectAll / floor100k);
    std::printf("click/floor ratio at 100000 rows: %.4f\n",
                std::max({at100k.click, at100k.clickAfterAll, at100k.clickAfterRange}) / floor100k);
    std::printf("delete-row/floor ratio at 100000 rows: %.3f\n", at100k.deleteRow / floor100k);
    return 0;
}
