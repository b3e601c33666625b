#include "platform/message_boxes_qt.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace sorvel::platform {

MessageBoxes::Answer QtMessageBoxes::show(const QString& title, const QString& text, Icon icon,
                                          Buttons buttons) {
    QMessageBox box(owner_);
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Sorvel") : title);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);  // file names are shown as they are, never as markup
    switch (icon) {
        case Icon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case Icon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    switch (buttons) {
        case Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case Buttons::RetryCancel:
            box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Retry);
            break;
    }
    // Qt's Swedish catalogue has no texts for the standard buttons; the program's own are Swedish.
    if (QAbstractButton* cancel = box.button(QMessageBox::Cancel)) {
        cancel->setText(QStringLiteral("Avbryt"));
    }
    if (QAbstractButton* retry = box.button(QMessageBox::Retry)) {
        retry->setText(QStringLiteral("&Försök igen"));
    }
    // exec() answers the standard button that closed the box: the one clicked, the default one
    // for Enter, the escape one (Cancel, or OK alone) for Escape and the close box.
    switch (box.exec()) {
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Retry:
            return Answer::Retry;
        default:
            return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

}  // namespace sorvel::platform
