#include "browse/scan.h"

#include "platform/names.h"
#include "tag/genre.h"
#include "tag/tag.h"
#include "tag/utf8.h"

#include <algorithm>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

namespace sorvel::browse {

void setTagColumns(Row& row, std::optional<tag::TagRecord> tag) {
    if (!tag) {
        tag.emplace();
        row.genre = QString();
    } else {
        row.genre = tag::tal_genre(tag->genre);
    }
    row.artist = std::move(tag->artist);
    row.title = std::move(tag->title);
    row.album = std::move(tag->album);
    row.year = std::move(tag->year);
    row.comment = std::move(tag->comment);
    row.track = tag->track;
}
QString fileName(const Row& row) {
    QString file = platform::mp3Name(row.name);
    // The ending's letters, counted from its dot.
    const qsizetype dot = file.size() - 4;
    if ((row.ending & Row::kCapitalM) != 0)
        file[dot + 1] = u'M';
    if ((row.ending & Row::kCapitalP) != 0)
        file[dot + 2] = u'P';
    return file;
}

void setFileName(Row& row, QString file) {
    const qsizetype at = file.size() - 4;
    row.ending = 0;
    if (at >= 0 && file.at(at + 1) == u'M')
        row.ending |= Row::kCapitalM;
    if (at >= 0 && file.at(at + 2) == u'P')
        row.ending |= Row::kCapitalP;
    file.chop(4);
    row.name = std::move(file);
}

QString shownName(const Row& row) {
    // Below U+0300 nothing composes, and most names never get that far: they are shown as they are
    // without a copy. Lone surrogates carry bytes that are not UTF-8 and must stay as they are.
    bool composable = false;
    for (const QChar c : row.name) {
        if (c.isSurrogate())
            return row.name;
        composable = composable || c.unicode() >= 0x300;
    }
    return composable ? row.name.normalized(QString::NormalizationForm_C) : row.name;
}

namespace {

// Files whose ends are read in one go before their rows are made. Large enough that the reads
// in flight rarely run dry at the end of a chunk; small enough that the rows of a large folder
// start coming soon.
constexpr std::size_t kChunk = 2048;
// The first chunk where the next is read ahead: until it is read, nothing else goes on.
constexpr std::size_t kFirstChunk = 512;

}  // namespace

QString shownText(const QString& text) {
    const std::optional<QString> utf8 = tag::utf8Reading(text);
    const QString& read = utf8 ? *utf8 : text;
    const qsizetype nul = read.indexOf(QChar(u'\0'));
    if (nul < 0)
        return read;
    qsizetype end = nul;
    while (end > 0 && read.at(end - 1) == u' ')
        --end;
    return read.left(end);
}

QString katalogFor(const QString& folder) {
    const QChar sep = platform::nativeSeparator();
    return folder.endsWith(sep) ? folder : folder + sep;
}

Code scanFolder(platform::FileSystem& fs, const QString& katalog, ScanObserver& observer,
                std::size_t& rows, Tails tailsRead) {
    rows = 0;
    // Asked once, so that a folder whose server has gone ends the scan instead of holding it.
    if (const Code c = fs.probeFolder(katalog); c != code::kOk) {
        return c;
    }
    // Listed once: the names give the count too. A second pass would cost a whole folder listing
    // again, and on a network mount whose listing cache gives no file types (sshfs) a look at
    // every entry as well.
    std::vector<QString> names;
    std::size_t listed = 0;
    if (const Code c = fs.listMp3(katalog, &names, listed); c != code::kOk) {
        return c;
    }
    if (!names.empty()) {
        observer.setProgressMax(clampToInt(names.size()));
    }
    if (names.empty()) {
        observer.setStatus(QStringLiteral("Inga MP3 filer funna i katalogen ") + katalog + u'.');
        return code::kOk;
    }

    if (tailsRead == Tails::Unread) {
        for (QString& name : names) {
            Row row;
            setFileName(row, std::move(name));
            observer.addRow(std::move(row));
        }
        observer.setProgress(0);
        observer.setStatus(QStringLiteral("Klar"));
        rows = names.size();
        return code::kOk;
    }

    // The status text is rebuilt in place for each file: the scan's own cost per file is meant to
    // stay small beside its system calls.
    const QString laddar = QStringLiteral("Laddar ");
    QString status = laddar + names.front();
    std::vector<platform::FileTail> tails(std::min(kChunk, names.size()));
    const std::span<const QString> all(names);
    // Reads the ends of files [from, to) into the first places of `into`.
    const auto read = [&](std::size_t from, std::size_t to, std::vector<platform::FileTail>& into) {
        fs.readTails(katalog, all.subspan(from, to - from), tag::kTailSize, tag::kMinTaggedSize,
                     std::span(into).first(to - from));
    };
    // Where the file system allows it, the next chunk's ends are read while this chunk's rows
    // are made: in a warm folder the rows cost a good part of what the reads do, and the two
    // then take turns on two processors rather than one. The first chunk is read alone, so it
    // is small.
    const bool readAhead = names.size() > tails.size() && fs.readsTailsAhead();
    std::vector<platform::FileTail> ahead(readAhead ? tails.size() : 0);
    std::jthread reading;
    std::size_t chunkStart = 0;
    std::size_t chunkEnd = 0;
    std::size_t aheadEnd = 0;
    std::size_t done = 0;
    for (;;) {
        observer.setStatus(status);
        observer.setProgress(clampToInt(done));
        if (done == names.size()) {
            break;
        }
        if (done == chunkEnd) {
            chunkStart = done;
            if (reading.joinable()) {
                reading.join();
                std::swap(tails, ahead);
                chunkEnd = aheadEnd;
            } else {
                chunkEnd = std::min(names.size(),
                                    done + (done == 0 && readAhead ? kFirstChunk : tails.size()));
                read(done, chunkEnd, tails);
            }
            aheadEnd = std::min(names.size(), chunkEnd + ahead.size());
            if (readAhead && chunkEnd < names.size()) {
                try {
                    reading = std::jthread(
                        [&read, &ahead, from = chunkEnd, to = aheadEnd] { read(from, to, ahead); });
                } catch (const std::system_error&) {
                    // No thread to be had: that chunk is read when its turn comes.
                }
            }
        }
        const platform::FileTail& tail = tails[done - chunkStart];
        QString& listedName = names[done];
        ++done;
        Row row;
        setTagColumns(row, tag::tagOfTail(tail));
        if (tail.code != code::kOk)
            row.print = tag::kUnreadable;
        else if (tailsRead == Tails::Read)
            row.print = tag::fingerprintOf(tail.tail(), tail.size);
        // Until the next name is taken, the status still names the file read last.
        status.truncate(laddar.size());
        status += listedName;
        setFileName(row, std::move(listedName));
        observer.addRow(std::move(row));
    }
    observer.setProgress(0);
    observer.setStatus(QStringLiteral("Klar"));
    rows = done;
    return code::kOk;
}

}  // namespace sorvel::browse
