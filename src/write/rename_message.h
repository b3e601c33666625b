#pragma once

// The messages of the rename procedure Byt_Filnamn, one per failure code.
//
// For the caller: show the message with the critical icon and an OK button after a rename that
// failed with that code. Kept here until the file-operations library carries the same texts;
// then one of the two goes.

#include "platform/errors.h"

#include <QString>

namespace sorvel::write {

struct Message {
    QString title;
    QString text;
};

/// The message for a failed rename: codes 52, 58 and 75 have their own, any other code the
/// generic one that names it.
Message bytFilnamnMessage(Code c);

}  // namespace sorvel::write
