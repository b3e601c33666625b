// "&Ångra" of a one-field write to 10,000 files against that write itself, recording included.
// Each round writes the artist into every file and takes it back; the fastest of each is kept, so
// that a busy machine weighs on both alike. The last line is the ratio of undo to write.

#include "browse/scan.h"
#include "platform/filesystem.h"
#include "sample_folder.h"
#include "tag/tag.h"
#include "write/engine.h"
#include "write/journal.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace sorvel;
using bench::seconds;

namespace {

constexpr std::size_t kFiles = 10000;
constexpr int kRounds = 5;

struct Sink : write::Observer {
    QString status;
    int value = 0;
    void setStatus(const QString& text) override { status = text; }
    void setProgressMax(int) override {}
    void setProgress(int v) override { value = v; }
};

}  // namespace

int main() {
    QTemporaryDir dir;
    const QString katalog = dir.path() + u'/';
    QByteArray bytes(4096, '\x55');
    QByteArray trailer(128, ' ');
    trailer.replace(0, 3, "TAG");
    trailer[127] = 17;
    bytes += trailer;
    std::vector<browse::Row> rows(kFiles);
    for (std::size_t i = 0; i < kFiles; ++i) {
        rows[i].name = QStringLiteral("Spår %1 - Artist - Titel").arg(i, 5, 10, QChar(u'0'));
        rows[i].genre = QStringLiteral("Rock");
        QFile f(katalog + rows[i].name + QStringLiteral(".mp3"));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::perror("undo_bench: creating files");
            return 1;
        }
    }

    platform::PosixFileSystem fs;
    const std::vector<bool> selected(kFiles, true);
    write::Journal journal;
    Sink sink;
    double writing = 1e9;
    double undoing = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        write::EditorValues editor;
        editor.artist = QStringLiteral("Artist %1").arg(round);
        writing = std::min(writing, seconds([&] {
                               write::Command c{write::commandLabel(write::Typ::Artist), {}};
                               const auto r =
                                   write::spara_tag(fs, write::Typ::Artist, rows, selected, katalog,
                                                    editor, 1, sink, &c);
                               journal.push(std::move(c));
                               if (r.written != kFiles)
                                   std::exit(1);
                           }));
        undoing = std::min(undoing, seconds([&] {
                               if (journal.undo(fs, katalog, rows, sink).restored != kFiles)
                                   std::exit(1);
                           }));
    }
    // Every file must be as it was made.
    QFile last(katalog + rows.back().name + QStringLiteral(".mp3"));
    if (!last.open(QIODevice::ReadOnly) || last.readAll() != bytes) {
        std::fprintf(stderr, "undo_bench: a file was not put back\n");
        return 1;
    }
    std::printf("write %.1f ms, undo %.1f ms for %zu files\n", writing * 1e3, undoing * 1e3,
                kFiles);
    std::printf("undo/write ratio at %zu files: %.2f\n", kFiles, undoing / writing);
    return 0;
}
