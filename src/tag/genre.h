#pragma once

#include <QString>
#include <array>

namespace sorvel::tag {

inline constexpr int kGenreCount = 116;

/// The genre name for a number 0..115; the empty string for any other number.
QString tal_genre(int tal);

/// 1 + the genre number of a name (1..116); 256 for the empty string. Case-sensitive and exact.
/// Text that is neither empty nor a genre name also gives 256, so it is stored as no genre.
int genre_tal(const QString& t);

/// The position (1..116) of a name in the genre chooser's order; 0 for the empty string and for
/// text that is no genre name.
int genre_tal2(const QString& t);

/// The 116 genre names in the chooser's order: sorted by character code, character by character.
const std::array<QString, kGenreCount>& chooserOrder();

}  // namespace sorvel::tag
