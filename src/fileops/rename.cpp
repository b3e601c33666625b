#include "fileops/fileops.h"

#include "platform/names.h"

namespace sorvel::fileops {

platform::Message renameMessage(Code failure) {
    switch (failure) {
        case code::kBadFileName:
            return {QStringLiteral("Felaktigt filnamn"),
                    QStringLiteral("Det filnamnet var inte bra! Filnamn får inte vara längre än "
                                   "255 tecken, måste börja med en bokstav eller siffra, och får "
                                   "inte inehålla några av följande tecken: ") +
                        u'"' + QStringLiteral(" ? * / \\ : < > |")};
        case code::kFileExists:
            return {QStringLiteral("Fel"),
                    QStringLiteral("Det filnamnet finns redan! Det går inte att ha två filer med "
                                   "samma namn.")};
        case code::kAccess:
        case code::kReservedName:
            return {QStringLiteral("Fil/mapp åtkomstfel"),
                    QStringLiteral("Kunde inte byta filnamn. Kontrollera att filen/mappen finns. "
                                   "Du får inte använda CON, AUX, COM1, COM2, COM3, COM4, LPT1, "
                                   "LPT2, LPT3, PRN, eller NUL som filnamn.")};
        default:
            return {QStringLiteral("Fel!"), QStringLiteral("Ett ") +
                                                reason(failure, Naming::Number) +
                                                QStringLiteral(" inträffade.")};
    }
}

bool Byt_Filnamn(platform::FileSystem& fs, const QString& katalog, const QString& gammalt,
                 const QString& nytt, platform::Messages& messages) {
    const Code result = platform::renameMp3(fs, katalog, gammalt, nytt);
    if (result == code::kOk)
        return true;
    messages.push_back(renameMessage(result));
    return false;
}

std::optional<QString> nameFromTag(const QString& artist, const QString& title) {
    const QString a = browse::shownText(artist);
    const QString t = browse::shownText(title);
    QString name;
    if (a.isEmpty() && t.isEmpty())
        return std::nullopt;
    if (a.isEmpty()) {
        name = t;
    } else if (t.isEmpty()) {
        name = a;
    } else {
        name = a + QStringLiteral(" - ") + t;
    }
    for (const char16_t c : platform::kRefusedInName)
        name.remove(QChar(c));
    return name;
}

std::vector<std::size_t> cmdTag2Filnamn_Click(platform::FileSystem& fs, const QString& katalog,
                                              std::vector<browse::Row>& rows,
                                              const std::vector<bool>& selected,
                                              platform::Messages& messages,
                                              std::vector<std::pair<std::size_t, Code>>* refused) {
    std::vector<std::size_t> renamed;
    for (std::size_t i = 0; i < rows.size() && i < selected.size(); ++i) {
        if (!selected[i])
            continue;
        browse::Row& row = rows[i];
        const std::optional<QString> name = nameFromTag(row.artist, row.title);
        if (!name)
            continue;
        const Code c = platform::renameMp3(fs, katalog, browse::fileName(row), *name);
        if (c == code::kOk) {
            browse::setFileName(row, platform::mp3Name(*name));
            renamed.push_back(i);
            continue;
        }
        messages.push_back(renameMessage(c));
        if (refused != nullptr)
            refused->emplace_back(i, c);
    }
    return renamed;
}

}  // namespace sorvel::fileops
