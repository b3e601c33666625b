#include "write/engine.h"

#include "platform/names.h"
#include "tag/genre.h"
#include "write/journal.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

namespace sorvel::write {
namespace {

QString trimBlanks(const QString& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == u' ')
        ++begin;
    while (end > begin && s.at(end - 1) == u' ')
        --end;
    return s.mid(begin, end - begin);
}

}  // namespace

ArtistTitle splitFileName(const QString& name, int fil2tagNr) {
    QString w = name;
    w.replace(u'_', u' ');
    // Positions count from 1, as the rule for choosing the dash is stated.
    qsizetype p = -1;
    qsizetype s = 1;
    int r = fil2tagNr;
    for (qsizetype i = 1; i <= w.size(); ++i) {
        if (w.at(i - 1) != u'-')
            continue;
        p = i;
        --r;
        if (r == 1)
            s = p + 1;
        if (r == 0)
            break;
    }
    if (p + 1 == s)
        s = 1;  // fewer dashes than asked for: split at the last one
    if (p == -1)
        return {QString(), w.left(tag::kTextWidth)};
    return {trimBlanks(w.mid(s - 1, p - s)).left(tag::kTextWidth),
            trimBlanks(w.mid(p)).left(tag::kTextWidth)};
}

tag::TagRecord recordFor(const browse::Row& row) {
    tag::TagRecord t;
    t.title = row.title;
    t.artist = row.artist;
    t.album = row.album;
    t.year = row.year;
    t.comment = row.comment;
    t.genre = tag::genre_tal(row.genre) - 1;
    t.track = row.track;
    return t;
}

namespace {

/// What a command makes of the selected row at position `i`: into `updated` (a copy of the row)
/// the fields it is to read, into `fields` those the command writes; or the reason the file is
/// left alone.
using Plan = std::function<Code(std::size_t i, const browse::Row& row, browse::Row& updated,
                                tag::Fields& fields)>;

/// The loop every writing command shares: plans each selected row, hands the files to the file
/// system a batch at a time, then reports and updates the rows in list order.
WriteResult writeRows(platform::FileSystem& fs, std::vector<browse::Row>& rows,
                      const std::vector<bool>& selected, const QString& katalog, const Plan& plan,
                      Observer& observer, Command* record) {
    WriteResult result;
    if (record != nullptr) {
        // One allocation for the whole run: growing the records as they come would copy them
        // and touch fresh memory again at each doubling, which a write of many files feels.
        record->files.reserve(record->files.size() + static_cast<std::size_t>(std::count(
                                                         selected.begin(), selected.end(), true)));
    }
    // A maximum of 0 would turn the progress bar into a busy indicator.
    if (!rows.empty())
        observer.setProgressMax(browse::clampToInt(rows.size()));
    observer.setProgress(0);
    const QString saving = QStringLiteral("Sparar ");

    // The files go to the file system a batch at a time so that it can keep them in flight
    // together; the reports come afterwards, row by row in list order, as they would one by one.
    std::vector<tag::WriteJob> jobs;
    std::vector<std::size_t> rowOf;
    // Rows the plan refused, in list order, with the reason; reported in their place.
    std::vector<std::pair<std::size_t, Code>> refused;
    std::size_t nextRefused = 0;
    std::size_t reported = 0;
    auto report = [&](std::size_t end) {
        std::size_t j = 0;
        for (; reported < end; ++reported) {
            observer.setProgress(browse::clampToInt(reported + 1));
            if (nextRefused < refused.size() && refused[nextRefused].first == reported) {
                const Code why = refused[nextRefused++].second;
                if (why == code::kNothingToWrite)
                    ++result.nothingToWrite;
                else
                    result.failures.push_back(
                        {platform::mp3Name(browse::shownName(rows[reported])), why, reported});
                continue;
            }
            if (j == rowOf.size() || rowOf[j] != reported)
                continue;
            tag::WriteJob& job = jobs[j];
            browse::Row& row = rows[reported];
            QString file = platform::mp3Name(browse::shownName(row));
            if (job.result == code::kChangedOnDisk) {
                // Another program wrote the file since it was listed: the row shows it as it is
                // now, and the next command writes from that.
                browse::setTagColumns(row, std::move(job.check.found));
                row.print = job.check.now;
                result.failures.push_back({std::move(file), job.result, reported});
            } else if (job.result != code::kOk) {
                // A write not confirmed leaves the row to be read again before the next one.
                if (job.check.unconfirmed)
                    row.print = job.check.now;
                result.failures.push_back(
                    {std::move(file), job.result, reported, job.check.unconfirmed});
            } else {
                if (record != nullptr)
                    recordWrite(*record, job.name, job.name, job.replaced);
                observer.setStatus(saving + file);
                // The row reads as a listing will read the file, whatever the command asked for
                // (a text cut at the field's width, another program's bytes kept).
                browse::setTagColumns(row, tag::parseTrailer(job.replaced.newTrailer));
                row.print = job.check.now;
                ++result.written;
            }
            ++j;
        }
        jobs.clear();
        rowOf.clear();
        refused.clear();
        nextRefused = 0;
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i >= selected.size() || !selected[i])
            continue;
        const browse::Row& row = rows[i];
        browse::Row updated = row;
        tag::Fields fields = 0;
        if (const Code c = plan(i, row, updated, fields); c != code::kOk) {
            refused.emplace_back(i, c);
            continue;
        }
        jobs.push_back({browse::fileName(row),
                        recordFor(updated),
                        fields,
                        code::kOk,
                        {},
                        {row.print, {}, {}},
                        {}});
        if (!row.print.known()) {
            // A row listed without its tag is planned again on the tag the writer finds, so that
            // a field that already shows the new text keeps its bytes there too.
            jobs.back().replan = [&plan, &rows, i](const std::optional<tag::TagRecord>& found) {
                browse::Row read = rows[i];
                browse::setTagColumns(read, found);
                browse::Row replanned = read;
                tag::Fields unused = 0;
                return plan(i, read, replanned, unused) == code::kOk ? recordFor(replanned)
                                                                     : recordFor(read);
            };
        }
        rowOf.push_back(i);
        if (jobs.size() == tag::kBatch) {
            tag::skriv_tags(fs, katalog, jobs);
            report(i + 1);
        }
    }
    tag::skriv_tags(fs, katalog, jobs);
    report(rows.size());
    observer.setProgress(0);
    observer.setStatus(QStringLiteral("Klar"));
    return result;
}

// Puts into `updated` the field or fields that the selector takes from elsewhere, and answers
// which they are.
tag::Fields replaceField(Typ typ, const browse::Row& row, browse::Row& updated,
                         const EditorValues& editor, int fil2tagNr) {
    switch (typ) {
        case Typ::Artist:
            updated.artist = storedFor(editor.artist, row.artist);
            return tag::field::kArtist;
        case Typ::Titel:
            updated.title = storedFor(editor.title, row.title);
            return tag::field::kTitle;
        case Typ::Album:
            updated.album = storedFor(editor.album, row.album);
            return tag::field::kAlbum;
        case Typ::Ar:
            updated.year = storedFor(editor.year, row.year);
            return tag::field::kYear;
        case Typ::Genre:
            updated.genre = editor.genre;
            return tag::field::kGenre;
        case Typ::Kommentarer:
            updated.comment = storedFor(editor.comment, row.comment);
            return tag::field::kComment;
        case Typ::Filnamn: {
            ArtistTitle at = splitFileName(browse::shownName(row), fil2tagNr);
            updated.artist = storedFor(at.artist, row.artist);
            updated.title = storedFor(at.title, row.title);
            return tag::field::kArtist | tag::field::kTitle;
        }
        case Typ::Track:
            updated.track = editor.track;
            return tag::field::kTrack;
    }
    return 0;
}

}  // namespace

WriteResult spara_tag(platform::FileSystem& fs, std::span<const Typ> typs,
                      std::vector<browse::Row>& rows, const std::vector<bool>& selected,
                      const QString& katalog, const EditorValues& editor, int fil2tagNr,
                      Observer& observer, Command* record) {
    const Plan plan = [&](std::size_t, const browse::Row& row, browse::Row& updated,
                          tag::Fields& fields) {
        for (const Typ typ : typs)
            fields |= replaceField(typ, row, updated, editor, fil2tagNr);
        return code::kOk;
    };
    return writeRows(fs, rows, selected, katalog, plan, observer, record);
}

browse::Row importedRow(const browse::Row& row, const tag::OtherTag& other) {
    browse::Row updated = row;
    auto take = [](QString& field, const std::optional<QString>& value, qsizetype width) {
        if (value)
            field = storedFor(value->left(width), field);
    };
    take(updated.title, other.title, tag::kTextWidth);
    take(updated.artist, other.artist, tag::kTextWidth);
    take(updated.album, other.album, tag::kTextWidth);
    take(updated.year, other.year, tag::kYearWidth);
    take(updated.comment, other.comment, tag::kTextWidth);
    if (other.genre) {
        if (const int n = tag::genreNumberOf(*other.genre); n >= 0)
            updated.genre = tag::tal_genre(n);
    }
    // Only where the comment leaves the track its two bytes: the comment is the user's text.
    if (other.track != 0 && updated.comment.size() <= tag::kCommentWidthWithTrack)
        updated.track = other.track;
    return updated;
}

namespace {

// The other tags of the selected rows, read a stretch ahead of the writer on two threads. Reading
// them (a few system calls and a parse each) is most of what an import costs, and no file's
// tag depends on another's; the writer still takes them one by one in list order.
class ReadAhead {
public:
    ReadAhead(const std::vector<browse::Row>& rows, const std::vector<bool>& selected,
              const QString& katalog, const OtherTagReader& reader)
        : rows_(rows),
          selected_(selected),
          katalog_(katalog),
          reader_(reader),
          tags_(rows.size()),
          failures_(rows.size(), code::kOk) {}

    /// The tag of row `i`, or why its file could not be read.
    const std::optional<tag::OtherTag>& at(std::size_t i, Code& failure) {
        if (i >= readUntil_)
            readFrom(i);
        failure = failures_[i];
        return tags_[i];
    }

private:
    static constexpr std::size_t kStretch = 256;

    void readFrom(std::size_t from) {
        std::vector<std::size_t> which;
        std::vector<QString> paths;
        std::size_t i = from;
        for (; i < rows_.size() && which.size() < kStretch; ++i) {
            if (i < selected_.size() && selected_[i]) {
                which.push_back(i);
                paths.push_back(katalog_ + browse::fileName(rows_[i]));
            }
        }
        readUntil_ = i;
        const auto readEvery = [&](std::size_t first) {
            for (std::size_t k = first; k < which.size(); k += 2)
                tags_[which[k]] = reader_(paths[k], &failures_[which[k]]);
        };
        if (which.size() < 2) {
            readEvery(0);
            return;
        }
        try {
            std::thread other(readEvery, 1);
            readEvery(0);
            other.join();
        } catch (const std::system_error&) {
            // No thread to be had: the rest is read here.
            readEvery(1);
        }
    }

    const std::vector<browse::Row>& rows_;
    const std::vector<bool>& selected_;
    const QString& katalog_;
    const OtherTagReader& reader_;
    std::vector<std::optional<tag::OtherTag>> tags_;
    std::vector<Code> failures_;
    std::size_t readUntil_ = 0;
};

}  // namespace

WriteResult importOtherTags(platform::FileSystem& fs, std::vector<browse::Row>& rows,
                            const std::vector<bool>& selected, const QString& katalog,
                            Observer& observer, Command* record, const OtherTagReader& reader) {
    const OtherTagReader throughFs = [&fs](const QString& path, Code* failure) {
        return tag::readOtherTag(fs, path, failure);
    };
    ReadAhead ahead(rows, selected, katalog, reader ? reader : throughFs);
    const Plan plan = [&](std::size_t i, const browse::Row& row, browse::Row& updated,
                          tag::Fields& fields) {
        Code failure = code::kOk;
        const std::optional<tag::OtherTag>& other = ahead.at(i, failure);
        // A file that could not be read is not one without a tag: it is named, with the reason.
        if (failure != code::kOk)
            return failure;
        if (!other)
            return code::kNothingToWrite;
        updated = importedRow(row, *other);
        // A text the other tag lacks is the row's own and reads as it did, so it keeps its bytes.
        fields = tag::field::kAll & ~(tag::field::kGenre | tag::field::kTrack);
        if (updated.genre != row.genre)
            fields |= tag::field::kGenre;
        if (updated.track != row.track)
            fields |= tag::field::kTrack;
        // Refused before the file is opened: nothing of a text Windows-1252 cannot hold is
        // written, not even the fields that could be.
        if (!tag::renderTrailer(recordFor(updated)))
            return code::kBadArgument;
        return code::kOk;
    };
    return writeRows(fs, rows, selected, katalog, plan, observer, record);
}

QString failureText(const std::vector<Failure>& failures, const QString& heading,
                    std::size_t mostNamed) {
    QString text = heading;
    const std::size_t named = std::min(failures.size(), mostNamed);
    for (std::size_t i = 0; i < named; ++i) {
        const Failure& f = failures[i];
        text += u'\n' + f.file + QStringLiteral(" (") +
                (f.unconfirmed ? QStringLiteral("kanske skriven, inte bekräftad: ") : QString()) +
                reason(f.code) + u')';
    }
    if (const std::size_t rest = failures.size() - named; rest == 1) {
        text += QStringLiteral("\n... och 1 fil till.");
    } else if (rest > 1) {
        text += QStringLiteral("\n... och %1 filer till.").arg(rest);
    }
    return text;
}

void addFailures(platform::Messages& messages, const std::vector<Failure>& failures,
                 const QString& heading, std::size_t mostNamed) {
    if (!failures.empty())
        messages.push_back(platform::error(failureText(failures, heading, mostNamed)));
}

void addImportOutcome(platform::Messages& messages, const WriteResult& result,
                      std::size_t mostNamed) {
    if (result.failures.empty() && result.nothingToWrite == 0)
        return;
    QStringList parts;
    if (!result.failures.empty())
        parts << failureText(result.failures, QStringLiteral("Följande filer kunde inte skrivas:"),
                             mostNamed);
    if (result.nothingToWrite == 1)
        parts << QStringLiteral("1 fil saknar ID3v2- och APEv2-tag och lämnades som den var.");
    else if (result.nothingToWrite > 1)
        parts << QStringLiteral("%1 filer saknar ID3v2- och APEv2-tag och lämnades som de var.")
                     .arg(result.nothingToWrite);
    const bool failed = !result.failures.empty();
    messages.push_back({failed ? QStringLiteral("Fel") : QStringLiteral("Tag från ID3v2"),
                        parts.join(QStringLiteral("\n\n")),
                        failed ? platform::MessageBoxes::Icon::Critical
                               : platform::MessageBoxes::Icon::Information});
}

}  // namespace sorvel::write
