#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace sorvel::app {

/// A label that reports a click of the left button.
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            Q_EMIT clicked();
        }
        QLabel::mouseReleaseEvent(event);
    }
};

}  // namespace sorvel::app
