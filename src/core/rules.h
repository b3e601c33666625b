#pragma once

// What a front end needs of the layers beneath the core: the types of a row and of the editor's
// values, the fields' widths, the genre table, the text checks and the words for a failure. The
// window and the command line include the core alone, so that a rule has one home and neither
// front end learns it by heart.

#include "browse/scan.h"
#include "fileops/fileops.h"
#include "tag/cp1252.h"
#include "tag/genre.h"
#include "tag/trailer.h"
#include "write/editor.h"
#include "write/engine.h"

namespace sorvel::core {

// A row of the file list, and how its texts show.
using browse::fileName;
using browse::Row;
using browse::setFileName;
using browse::shownName;
using browse::shownText;
using browse::StatusObserver;

// The editor's fields, the commands that write them and what a command leaves undone.
using write::addFailures;
using write::addImportOutcome;
using write::dropUnholdable;
using write::EditorValues;
using write::Failure;
using write::Typ;

/// How many characters the title, artist, album and comment fields hold, and the year's.
inline constexpr qsizetype kTextWidth = tag::kTextWidth;
inline constexpr qsizetype kYearWidth = tag::kYearWidth;

// The genre table: its names by number, numbers by name, and the chooser's order.
inline constexpr int kGenreCount = tag::kGenreCount;
using tag::chooserOrder;
using tag::genre_tal;
using tag::genre_tal2;
using tag::tal_genre;

/// Whether a text fits a field's code page.
using tag::fits1252;

/// The message for a rename refused with a code.
using fileops::renameMessage;

}  // namespace sorvel::core
