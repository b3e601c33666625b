#include "write/editor.h"

#include "tag/cp1252.h"

namespace sorvel::write {

QString storedFor(const QString& shown, const QString& stored) {
    return shown == shownText(stored) ? stored : shown;
}

int dropUnholdable(QString& text, int& cursor, QStringView kept) {
    const int oldCursor = cursor;
    int removed = 0;
    qsizetype at = 0;
    for (qsizetype i = 0; i < text.size();) {
        // A character beyond the BMP is two units; it is kept or dropped whole.
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const qsizetype units = pair ? 2 : 1;
        const QStringView c = QStringView(text).mid(i, units);
        const bool holdable = !pair && tag::encode1252(text.at(i)) >= 0;
        if (!holdable && !kept.contains(c)) {
            removed += static_cast<int>(units);
            for (qsizetype k = i; k < i + units; ++k) {
                if (k < oldCursor)
                    --cursor;
            }
        } else {
            for (qsizetype k = i; k < i + units; ++k)
                text[at++] = text.at(k);
        }
        i += units;
    }
    text.truncate(at);
    return removed;
}

}  // namespace sorvel::write
