#include "write/editor.h"

#include <gtest/gtest.h>

#include <utility>

using namespace sorvel::write;

TEST(EditorText, ShowsUpToTheFirstNul) {
    EXPECT_EQ(shownText(QStringLiteral("Abba")), QStringLiteral("Abba"));
    EXPECT_EQ(shownText(QString::fromUtf16(u"Abba\0\0x", 7)), QStringLiteral("Abba"));
    EXPECT_EQ(shownText(QString::fromUtf16(u"\0x", 2)), QString());
}

TEST(EditorText, DropsWhatATagCannotHoldAndKeepsTheCursorOnItsCharacter) {
    // Ω and the emoji (two UTF-16 units) have no byte in Windows-1252; é and € have.
    for (const auto& [before, after] : {std::pair{2, 1}, std::pair{7, 4}}) {
        QString text = QString::fromUtf16(u"aΩbé€😀c");
        int cursor = before;
        EXPECT_EQ(dropUnholdable(text, cursor), 3);
        EXPECT_EQ(text, QString::fromUtf16(u"abé€c"));
        EXPECT_EQ(cursor, after);
    }

    QString clean = QStringLiteral("Åsa");
    int at = 1;
    EXPECT_EQ(dropUnholdable(clean, at), 0);
    EXPECT_EQ(at, 1);
}
