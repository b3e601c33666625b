#pragma once

#include "platform/errors.h"
#include "platform/filesystem.h"
#include "tag/tag.h"

#include <QString>
#include <climits>
#include <cstddef>

namespace sorvel::browse {

/// One file of the folder on show. `name` is the file name without its last four characters, as
/// the file system gives it (shown through shownName()); `ending` remembers those four as listed,
/// so that every command reaches this very file where ".mp3" and ".MP3" are two files. The six
/// texts are the tag's as stored, one character per byte (trimmed of blanks only, NUL bytes
/// kept), with the genre as its name. They are never shown as they stand but through
/// shownText(). A file without a trailer has only its name.
struct Row {
    /// Bits of `ending`: which letters of ".mp3" the file name has in capitals.
    static constexpr std::uint8_t kCapitalM = 1;
    static constexpr std::uint8_t kCapitalP = 2;

    QString name;
    QString artist;
    QString title;
    QString album;
    QString year;
    QString genre;
    QString comment;
    /// The ID3v1.1 track number, 0 for none; not a column of the window's list.
    int track = 0;
    std::uint8_t ending = 0;
    /// What the file's end held when the row was read or last written; a writer that finds the
    /// file holding something else writes nothing and refreshes the row.
    tag::Fingerprint print;

    /// Rows are equal when they show the same file and fields; the fingerprint is bookkeeping.
    friend bool operator==(const Row& a, const Row& b) {
        return a.name == b.name && a.artist == b.artist && a.title == b.title &&
               a.album == b.album && a.year == b.year && a.genre == b.genre &&
               a.comment == b.comment && a.track == b.track && a.ending == b.ending;
    }
};

/// The row's file name in its folder: the name and its ending as listed.
QString fileName(const Row& row);
/// Gives the row the file name `file` (which ends in ".mp3" in any letter case).
void setFileName(Row& row, QString file);
/// The row's name as the list, the editor and every message show it, and as commands take text
/// from it: composed (NFC), so that a name written by a Mac ("A" and a combining ring) reads as
/// the letters it stands for. Names that are not UTF-8 are shown as they are.
QString shownName(const Row& row);

/// Puts the texts of `tag` in the row's six tag columns as a scan reads them, or empties them for
/// a file without a trailer (nothing).
void setTagColumns(Row& row, std::optional<tag::TagRecord> tag);

/// A row's tag text as the list, the editor, sorting and file names from tags see it: its UTF-8
/// reading where it has one (tag::utf8Reading()), up to its first NUL byte and without the blanks
/// before it (padding that goes on in NULs, as a track's comment is written). The row keeps the
/// stored text, so that a field left alone is written back byte for byte: UTF-8 stays UTF-8, and
/// bytes another program put after the NUL (padding, a track number) survive. Not for the row's
/// name, which is a file name already.
QString shownText(const QString& text);

/// The status text and progress a long command reports while it runs, in the order the user is
/// to see them.
class StatusObserver {
public:
    virtual ~StatusObserver() = default;
    virtual void setStatus(const QString& text) = 0;
    virtual void setProgressMax(int max) = 0;
    virtual void setProgress(int value) = 0;
};

/// A count as the progress takes it, held at the largest int.
inline int clampToInt(std::size_t n) {
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

/// What a scan reports: status, progress and every row as it is read.
class ScanObserver : public StatusObserver {
public:
    virtual void addRow(Row&& row) = 0;
};

/// The folder path the program keeps: `folder` ending in the native separator.
QString katalogFor(const QString& folder);

/// Whether a scan reads each file's end, or leaves that to a writer (see scanFolder()); Shown
/// reads it for rows that are only shown, which get no fingerprint (Row::print stays unknown).
enum class Tails { Read, Unread, Shown };

/// Lists the MP3 files of `katalog` (see katalogFor()) and builds a row for each from its trailer.
/// Lists the files first (their number is the progress maximum), then reports "Laddar " + name and
/// the running count for each file, and ends with progress 0 and "Klar"; a folder without MP3 files
/// reports only "Inga MP3 filer funna i katalogen " + katalog + ".". A file that cannot be opened
/// or read gets a row without tag fields. Returns the number of rows through `rows`; a folder that
/// cannot be listed, or whose file system does not answer (FileSystem::probeFolder()), answers its
/// failure code and reports nothing.
/// With `tails` Tails::Unread, no file is opened: each row has its name only and a fingerprint
/// not known, for a caller that writes the files at once and shows nothing first (a writer reads
/// each file's end under its lock anyway).
Code scanFolder(platform::FileSystem& fs, const QString& katalog, ScanObserver& observer,
                std::size_t& rows, Tails tails = Tails::Read);

}  // namespace sorvel::browse
