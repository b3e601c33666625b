#include "browse/scan.h"

#include "platform/names.h"
#include "tag/genre.h"
#include "tag/tag.h"

#include <climits>
#include <vector>

namespace sorvel::browse {
namespace {

int clampToInt(std::size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

}  // namespace

QString katalogFor(const QString& folder) {
    const QChar sep = platform::nativeSeparator();
    return folder.endsWith(sep) ? folder : folder + sep;
}

Code scanFolder(platform::FileSystem& fs, const QString& katalog, ScanObserver& observer,
                std::size_t& rows) {
    rows = 0;
    std::size_t count = 0;
    if (const Code c = fs.listMp3(katalog, nullptr, count); c != code::kOk) return c;
    if (count != 0) observer.setProgressMax(clampToInt(count));

    // The second listing may differ from the count if the folder changed in between; the rows
    // follow the second one.
    std::vector<QString> names;
    names.reserve(count);
    std::size_t listed = 0;
    if (const Code c = fs.listMp3(katalog, &names, listed); c != code::kOk) return c;
    if (names.empty()) {
        observer.setStatus(QStringLiteral("Inga MP3 filer funna i katalogen ") + katalog + u'.');
        return code::kOk;
    }

    const QString laddar = QStringLiteral("Laddar ");
    std::size_t done = 0;
    for (;;) {
        // Until the next name is taken, the status still names the file read last.
        observer.setStatus(laddar + names[done == 0 ? 0 : done - 1]);
        observer.setProgress(clampToInt(done));
        if (done == names.size()) break;
        QString& fileName = names[done];
        ++done;
        Row row;
        if (const auto tag = tag::las_tag(fs, katalog + fileName)) {
            row.artist = tag->artist;
            row.title = tag->title;
            row.album = tag->album;
            row.year = tag->year;
            row.genre = tag::tal_genre(tag->genre);
            row.comment = tag->comment;
        }
        row.name = fileName.left(fileName.size() - 4);
        observer.addRow(std::move(row));
    }
    observer.setProgress(0);
    observer.setStatus(QStringLiteral("Klar"));
    rows = done;
    return code::kOk;
}

}  // namespace sorvel::browse
