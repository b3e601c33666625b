#pragma once

#include "core/rules.h"

#include <QLineEdit>
#include <QValidator>

namespace sorvel::app {

/// Keeps out of a tag field every character a tag cannot hold, whether typed or pasted, but
/// those of the text the program filled in: a field stored as UTF-8 may show such characters,
/// and merely showing it must not change it.
class TagTextValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        core::dropUnholdable(input, pos, filled_);
        return Acceptable;
    }
    /// Sets `text` into `field`, with the field's validator (its child) letting it through.
    static void fill(QLineEdit& field, const QString& text) {
        if (auto* v = field.findChild<TagTextValidator*>(QString(), Qt::FindDirectChildrenOnly))
            v->filled_ = text;
        field.setText(text);
    }

private:
    QString filled_;
};

}  // namespace sorvel::app
