#pragma once

// The tag editor's fields as plain values, and the text rules the window applies to them.
//
// For the window: read txtArtist, txtTitel, txtAlbum, txtAr, Combo1 and txtKommentarer into an
// EditorValues exactly as they show (the genre as Combo1's text, empty when no entry is selected)
// and hand it to spara_tag() or cmdSpara_Click(). Fill the fields from a row with shownText() of
// each column. A QValidator on the five text fields calls dropUnholdable() from validate() and
// answers Acceptable, so that typed or pasted characters a tag cannot hold never reach a field;
// it keeps those of the text filled in from the row (a UTF-8 field may show them), so that
// showing a row never changes what a save writes.

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
    int track = 0;    ///< no field of the window's: sorvel-cli's track, 0 for none
};

using browse::shownText;

/// What a command writes for a field that is to read `shown` where the row stores `stored`: the
/// stored text itself while `shown` is what it shows (shownText()), so that a field left alone
/// keeps its bytes; otherwise `shown`, which the writer stores in Windows-1252.
QString storedFor(const QString& shown, const QString& stored);

/// Removes from `text` every character that Windows-1252 cannot hold (and so no tag can store),
/// except those that also occur in `kept`, and moves `cursor`, a position in `text`, back by the
/// number removed before it. Returns how many were removed.
int dropUnholdable(QString& text, int& cursor, QStringView kept = {});

}  // namespace sorvel::write
