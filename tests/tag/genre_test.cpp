#include "tag/genre.h"

#include <gtest/gtest.h>

using namespace sorvel::tag;

TEST(Genre, NumbersToNamesCoverExactlyTheTable) {
    EXPECT_EQ(tal_genre(0), QStringLiteral("Blues"));
    EXPECT_EQ(tal_genre(67), QStringLiteral("Psychadelic"));
    EXPECT_EQ(tal_genre(93), QStringLiteral("Psychedelic Rock"));
    EXPECT_EQ(tal_genre(115), QStringLiteral("Folklore"));
    EXPECT_TRUE(tal_genre(116).isEmpty());
    EXPECT_TRUE(tal_genre(255).isEmpty());
    EXPECT_TRUE(tal_genre(-1).isEmpty());
}

TEST(Genre, NameToStoredValueIsExact) {
    EXPECT_EQ(genre_tal(QString()), 256);
    EXPECT_EQ(genre_tal(QStringLiteral("Blues")), 1);
    EXPECT_EQ(genre_tal(QStringLiteral("Folklore")), 116);
    // Case and blanks matter; anything unknown is stored as no genre.
    EXPECT_EQ(genre_tal(QStringLiteral("blues")), 256);
    EXPECT_EQ(genre_tal(QStringLiteral("Blues ")), 256);
    for (int n = 0; n < kGenreCount; ++n)
        EXPECT_EQ(genre_tal(tal_genre(n)), n + 1);
}

TEST(Genre, ChooserOrderIsByCharacterCode) {
    const std::pair<int, const char*> telling[] = {
        {1, "Acid"},         {5, "AlternRock"}, {6, "Alternative"}, {13, "Blues"},
        {35, "Euro-Techno"}, {36, "Eurodance"}, {38, "Folk"},       {39, "Folk/Rock"},
        {40, "Folklore"},    {74, "Pop"},       {75, "Pop-Folk"},   {76, "Pop/Funk"},
        {84, "R&B"},         {85, "Rap"},       {90, "Rock"},       {91, "Rock & Roll"},
        {116, "Vocal"}};
    for (const auto& [position, name] : telling) {
        EXPECT_EQ(genre_tal2(QString::fromLatin1(name)), position) << name;
    }
    EXPECT_EQ(genre_tal2(QString()), 0);
    EXPECT_EQ(genre_tal2(QStringLiteral("acid")), 0);
    for (int n = 0; n < kGenreCount; ++n) {
        const QString name = tal_genre(n);
        EXPECT_EQ(chooserOrder()[static_cast<std::size_t>(genre_tal2(name) - 1)], name);
    }
}
