#pragma once

// The tag editor's fields as plain values, and the text rules the window applies to them.
//
// For the window: read txtArtist, txtTitel, txtAlbum, txtAr, Combo1 and txtKommentarer into an
// EditorValues exactly as they show (the genre as Combo1's text, empty when no entry is selected)
// and hand it to spara_tag() or cmdSpara_Click(). Fill the fields from a row with shownText() of
// each column. A QValidator on the five text fields calls dropUnholdable() from validate() and
// answers Acceptable, so that typed or pasted characters a tag cannot hold never reach a field.

#include "browse/scan.h"

#include <QString>

namespace sorvel::write {

/// What the editor fields show when a command starts.
struct EditorValues {
    QString artist;   ///< txtArtist
    QString title;    ///< txtTitel
    QString album;    ///< txtAlbum
    QString year;     ///< txtAr
    QString genre;    ///< the text of Combo1: a genre name, or empty
    QString comment;  ///< txtKommentarer
};

using browse::shownText;

/// Removes from `text` every character that Windows-1252 cannot hold (and so no tag can store)
/// and moves `cursor`, a position in `text`, back by the number removed before it. Returns how
/// many were removed.
int dropUnholdable(QString& text, int& cursor);

}  // namespace sorvel::write
