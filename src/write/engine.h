#pragma once

// The tag writer: one field into every selected file, or artist and title from the file names.
//
// The folder on show (core::Folder) calls spara_tag() below with its rows in list order, one
// selected flag per row, `katalog` and `fil2tagNr`. Every step of status and progress is
// reported to the Observer. The rows of the selected files that were written are updated in
// place. When the result holds failures, addFailures() makes the one message that names them.

#include "browse/scan.h"
#include "platform/desktop.h"
#include "platform/filesystem.h"
#include "tag/other_tags.h"
#include "tag/tag.h"
#include "write/editor.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace sorvel::write {

/// The field selector of spara_tag(): which field comes from the editor (or, for Filnamn,
/// artist and title from the file name). The numbers are the selectors 1 to 7.
enum class Typ {
    Artist = 1,
    Titel = 2,
    Album = 3,
    Ar = 4,
    Genre = 5,
    Kommentarer = 6,
    Filnamn = 7,
    /// The ID3v1.1 track number (EditorValues::track); sorvel-cli's alone.
    Track = 8,
};

/// What the writer reports while it runs: the same status and progress as a scan.
using Observer = browse::StatusObserver;

struct Command;

/// A selected file that was left as it was.
struct Failure {
    QString file;         ///< the row's name + ".mp3"
    Code code;            ///< code::kBadArgument for text a tag cannot hold
    std::size_t row = 0;  ///< the row's position in the list
    /// Written, but refused by the file system at the close: the file may hold the new tag.
    bool unconfirmed = false;
};

struct WriteResult {
    std::size_t written = 0;
    std::vector<Failure> failures;  ///< in list order
    /// Selected files the command had nothing for (importOtherTags(): neither an ID3v2 nor an
    /// APEv2 tag); left alone and not failures.
    std::size_t nothingToWrite = 0;
};

struct ArtistTitle {
    QString artist;
    QString title;
};

/// Artist and title from a file's base name: underscores read as blanks, the name split at the
/// dash that `fil2tagNr` chooses (at the last dash when there are fewer, or for 0 and below), the
/// text before the previous dash dropped; both trimmed of blanks and cut to 30 characters. A name
/// without a dash gives no artist and the whole name, untrimmed, as the title.
ArtistTitle splitFileName(const QString& name, int fil2tagNr);

/// The tag record a row stands for: its texts whole, NUL bytes included, and the byte of its
/// genre name (255 for none).
tag::TagRecord recordFor(const browse::Row& row);

/// Writes into the file of every selected row the record of that row with the selector's field
/// replaced (a file that already shows the new text keeps its bytes, see storedFor()), and then
/// updates the row. Reports the progress maximum (the number of rows; not
/// reported for an empty list), a step for every row selected or not, "Sparar " + name + ".mp3"
/// after each file written, and finally progress 0 and "Klar". A file that cannot be written
/// (or whose new text a tag cannot hold) keeps its bytes, its row stays as it was, and the
/// writer goes on. Into a file's trailer only the fields of the selectors go, and of those only the
/// ones that are to read otherwise (tag::placeTrailer()): every other byte, another program's genre
/// or track included, stays. `record`, when given, gets what each written file had before (see
/// journal.h). A written row reads as a listing of the file will read it.
/// With several selectors, each file is written once with all their fields replaced.
WriteResult spara_tag(platform::FileSystem& fs, std::span<const Typ> typs,
                      std::vector<browse::Row>& rows, const std::vector<bool>& selected,
                      const QString& katalog, const EditorValues& editor, int fil2tagNr,
                      Observer& observer, Command* record = nullptr);
inline WriteResult spara_tag(platform::FileSystem& fs, Typ typ, std::vector<browse::Row>& rows,
                             const std::vector<bool>& selected, const QString& katalog,
                             const EditorValues& editor, int fil2tagNr, Observer& observer,
                             Command* record = nullptr) {
    return spara_tag(fs, std::span(&typ, 1), rows, selected, katalog, editor, fil2tagNr, observer,
                     record);
}

/// The row as it reads once filled from another program's tag: each field the tag has, cut to
/// the trailer's width (the year to its first four characters, the year of a recording time),
/// replaces the row's; the genre only where genreNumberOf() knows it. Texts Windows-1252 cannot
/// hold are left in, for the writer to refuse.
browse::Row importedRow(const browse::Row& row, const tag::OtherTag& other);

/// Reads another program's tag of the file at a path, and says through `failure` why a file could
/// not be read (code::kOk when it could). Called from two threads at once. Without one, the import
/// reads through its file system (tag::readOtherTag()).
using OtherTagReader =
    std::function<std::optional<tag::OtherTag>(const QString& path, Code* failure)>;

/// "Tag från ID3v2": fills the trailer of every selected file from its ID3v2 tag (else its
/// APEv2 tag) through importedRow(), with the writer's reports, checks and row updates. A file
/// with neither tag is left alone and counted in `nothingToWrite`; one that cannot be read is
/// named with the reason, and one whose new fields a trailer cannot hold with code::kBadArgument.
WriteResult importOtherTags(platform::FileSystem& fs, std::vector<browse::Row>& rows,
                            const std::vector<bool>& selected, const QString& katalog,
                            Observer& observer, Command* record = nullptr,
                            const OtherTagReader& reader = {});

/// How many files a failure message names before it counts the rest: as many as a message box
/// shows well.
inline constexpr std::size_t kMostNamed = 20;

/// The text of the one message that names the files a command could not write, with the reason
/// for each; at most `mostNamed` are named, the rest counted. `heading` is the first line.
QString failureText(const std::vector<Failure>& failures,
                    const QString& heading = QStringLiteral("Följande filer kunde inte skrivas:"),
                    std::size_t mostNamed = kMostNamed);

/// Adds failureText() with the title "Fel" and the critical icon; nothing when there are no
/// failures.
void addFailures(platform::Messages& messages, const std::vector<Failure>& failures,
                 const QString& heading = QStringLiteral("Följande filer kunde inte skrivas:"),
                 std::size_t mostNamed = kMostNamed);

/// The end message of importOtherTags(): the files not written with their reasons (at most
/// `mostNamed` named), and how many had no tag to take from; nothing when every selected file was
/// written.
void addImportOutcome(platform::Messages& messages, const WriteResult& result,
                      std::size_t mostNamed = kMostNamed);

}  // namespace sorvel::write
