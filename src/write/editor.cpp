#include "write/editor.h"

#include "tag/cp1252.h"

namespace sorvel::write {

int dropUnholdable(QString& text, int& cursor) {
    const int oldCursor = cursor;
    int removed = 0;
    qsizetype kept = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (tag::encode1252(text.at(i)) < 0) {
            ++removed;
            if (i < oldCursor)
                --cursor;
            continue;
        }
        text[kept++] = text.at(i);
    }
    text.truncate(kept);
    return removed;
}

}  // namespace sorvel::write
