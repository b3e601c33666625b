#pragma once

#include <QString>
#include <QStringView>

namespace sorvel::browse {

/// What a text control shows of a tag text: everything before its first NUL. Most taggers pad
/// fields with NUL bytes, which the row keeps so that a write gives back the same bytes.
inline QStringView shownText(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? QStringView(text) : QStringView(text).left(nul);
}

}  // namespace sorvel::browse
