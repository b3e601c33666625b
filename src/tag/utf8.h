#pragma once

#include "platform/utf8.h"

#include <QString>
#include <optional>

namespace sorvel::tag {

/// The UTF-8 reading of a stored field, or nothing when the field is to be read as
/// Windows-1252. `stored` holds one character per byte, as decode1252() gives them. Command-line
/// taggers running under a UTF-8 locale store their fields so ("Å" as C3 85); a field whose bytes
/// are all valid UTF-8 and hold at least one multi-byte sequence is taken for such a field.
/// Plain ASCII reads the same either way and answers nothing.
std::optional<QString> utf8Reading(const QString& stored);

}  // namespace sorvel::tag
