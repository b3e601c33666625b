// "Tag från ID3v2" into 10,000 selected files that each start with an ID3v2 tag holding a
// 200 KB picture, against the one-field write of the same files: the import reads each file's
// tag through TagLib before the same writer writes it. Warm cache; the last line is the ratio,
// from interleaved rounds. First, what one file whose tag is a million tiny title frames costs
// the reader: its time and how far it raises the process's peak memory.

#include "browse/scan.h"
#include "platform/filesystem.h"
#include "sample_folder.h"
#include "tag/other_tags.h"
#include "write/engine.h"
#include "write/journal.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace sorvel;
using bench::seconds;

namespace {

constexpr std::size_t kFiles = 10000;
constexpr int kPictureBytes = 200 * 1024;

struct Sink : write::Observer {
    void setStatus(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgress(int) override {}
};

QByteArray syncsafe(quint32 n) {
    QByteArray out;
    for (int i = 3; i >= 0; --i)
        out += static_cast<char>((n >> (7 * i)) & 0x7F);
    return out;
}

QByteArray frame(const char* id, const QByteArray& body) {
    return QByteArray(id, 4) + syncsafe(static_cast<quint32>(body.size())) + QByteArray(2, '\0') +
           body;
}

QByteArray fileBytes(std::size_t i) {
    const QByteArray n = QByteArray::number(static_cast<qulonglong>(i));
    QByteArray frames =
        frame("APIC", QByteArray("\0image/jpeg\0\x03\0", 14) + QByteArray(kPictureBytes, '\x5A'));
    frames += frame("TIT2", "\x03Titel " + n) +
              frame("TPE1",
                    "\x03"
                    "Artist " +
                        n) +
              frame("TALB",
                    "\x03"
                    "Album") +
              frame("TDRC",
                    "\x03"
                    "2004-05-01") +
              frame("COMM", QByteArray("\x03"
                                       "eng\0Kommentar",
                                       14)) +
              frame("TCON", "\x03(17)");
    QByteArray out = QByteArray("ID3\x04\0\0", 6) + syncsafe(static_cast<quint32>(frames.size()));
    out += frames;
    out += QByteArray(4096, '\x55');
    QByteArray trailer(128, ' ');
    trailer.replace(0, 3, "TAG");
    trailer[127] = 17;
    return out + trailer;
}

long peakKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Written a thousand frames at a time, so that making the file raises the peak by little.
bool craftedImport(const QString& path) {
    constexpr int kFrames = 1000000;
    QFile f(path);
    const QByteArray one = frame("TIT2", QByteArray("\0A", 2));
    QByteArray thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += one;
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(QByteArray("ID3\x04\0\0", 6) + syncsafe(one.size() * kFrames)) < 0)
        return false;
    for (int i = 0; i < kFrames / 1000; ++i) {
        if (f.write(thousand) < 0)
            return false;
    }
    f.close();
    platform::PosixFileSystem fs;
    const long before = peakKb();
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        best = std::min(best, seconds([&] {
                            if (!tag::readOtherTag(fs, path))
                                std::exit(1);
                        }));
    }
    std::printf("import of one crafted tag of %d frames: %.1f ms, %.1f MB\n", kFrames, best * 1e3,
                static_cast<double>(peakKb() - before) / 1024);
    return QFile::remove(path);
}

}  // namespace

int main() {
    QTemporaryDir dir;
    const QString katalog = dir.path() + u'/';
    if (!craftedImport(katalog + QStringLiteral("crafted.mp3"))) {
        std::perror("import_bench: crafted file");
        return 1;
    }
    for (std::size_t i = 0; i < kFiles; ++i) {
        QFile f(katalog + QStringLiteral("Spår %1.mp3").arg(i, 5, 10, QChar(u'0')));
        if (!f.open(QIODevice::WriteOnly) || f.write(fileBytes(i)) < 0) {
            std::perror("import_bench: creating files");
            return 1;
        }
    }
    struct Rows : browse::ScanObserver {
        std::vector<browse::Row> rows;
        void setStatus(const QString&) override {}
        void setProgressMax(int) override {}
        void setProgress(int) override {}
        void addRow(browse::Row&& r) override { rows.push_back(std::move(r)); }
    } scanned;
    platform::PosixFileSystem fs;
    std::size_t n = 0;
    if (browse::scanFolder(fs, katalog, scanned, n) != code::kOk || n != kFiles)
        return 1;
    std::vector<browse::Row>& rows = scanned.rows;
    const std::vector<bool> selected(rows.size(), true);
    Sink sink;
    int round = 0;
    auto oneField = [&] {
        write::EditorValues editor;
        editor.artist = QStringLiteral("Artist %1").arg(++round);
        write::Command command{write::commandLabel(write::Typ::Artist), {}};
        if (write::spara_tag(fs, write::Typ::Artist, rows, selected, katalog, editor, 1, sink,
                             &command)
                .written != kFiles)
            std::exit(1);
    };
    auto import = [&] {
        write::Command command{QStringLiteral("Tag från ID3v2"), {}};
        if (write::importOtherTags(fs, rows, selected, katalog, sink, &command).written != kFiles)
            std::exit(1);
    };
    import();  // warms the cache with every file's tag
    double write = 1e9;
    double imported = 1e9;
    for (int i = 0; i < 5; ++i) {
        write = std::min(write, seconds(oneField));
        imported = std::min(imported, seconds(import));
    }
    std::printf("import %.1f ms, one-field write %.1f ms for %zu files with a %d KB picture\n",
                imported * 1e3, write * 1e3, kFiles, kPictureBytes / 1024);
    std::printf("import from ID3v2 / one-field write at %zu files: %.2f\n", kFiles,
                imported / write);
    return 0;
}
