#pragma once

#include <QComboBox>

namespace sorvel::app {

/// The drive chooser: says when its list is about to open, so that the drives can be taken
/// afresh (a medium put in since shows up).
class DriveChooser : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        Q_EMIT aboutToShowPopup();
        QComboBox::showPopup();
    }

Q_SIGNALS:
    void aboutToShowPopup();
};

}  // namespace sorvel::app
