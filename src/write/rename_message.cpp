#include "write/rename_message.h"

namespace sorvel::write {

Message bytFilnamnMessage(Code c) {
    switch (c) {
        case code::kBadFileName:
            return {
                QStringLiteral("Felaktigt filnamn"),
                QStringLiteral("Det filnamnet var inte bra! Filnamn får inte vara längre än 255 "
                               "tecken, måste börja med en bokstav eller siffra, och får inte "
                               "inehålla några av följande tecken: \" ? * / \\ : < > |")};
        case code::kFileExists:
            return {QStringLiteral("Fel"),
                    QStringLiteral("Det filnamnet finns redan! Det går inte att ha två filer med "
                                   "samma namn.")};
        case code::kAccess:
            return {
                QStringLiteral("Fil/mapp åtkomstfel"),
                QStringLiteral("Kunde inte byta filnamn. Kontrollera att filen/mappen finns. Du "
                               "får inte använda CON, AUX, COM1, COM2, COM3, COM4, LPT1, LPT2, "
                               "LPT3, PRN, eller NUL som filnamn.")};
        default:
            return {QStringLiteral("Fel!"),
                    QStringLiteral("Ett fel av typen %1 inträffade.").arg(c)};
    }
}

}  // namespace sorvel::write
