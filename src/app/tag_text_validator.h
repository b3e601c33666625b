#pragma once

#include "write/editor.h"

#include <QValidator>

namespace sorvel::app {

/// Keeps out of a tag field every character a tag cannot hold, whether typed or pasted.
class TagTextValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        write::dropUnholdable(input, pos);
        return Acceptable;
    }
};

}  // namespace sorvel::app
