#pragma once

#include "platform/desktop.h"

class QWidget;

namespace sorvel::platform {

/// Message boxes as QMessageBox shows them, modal over `owner`.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }
    Answer show(const QString& title, const QString& text, Icon icon, Buttons buttons) override;

private:
    QWidget* owner_;
};

}  // namespace sorvel::platform
