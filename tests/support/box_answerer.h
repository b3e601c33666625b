#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTest>
#include <deque>
#include <vector>

namespace sorvel::test {

/// Answers the real message boxes as a user does: every QMessageBox that opens while it lives is
/// recorded and then answered with the next action of `acts` (Enter, the default button, when
/// none is left), from within the box's own event loop.
class BoxAnswerer : public QObject {
public:
    enum class Act { Ok, Cancel, Retry, Enter, Escape, CloseBox };
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
    };

    BoxAnswerer() { qApp->installEventFilter(this); }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }

    std::deque<Act> acts;
    std::vector<Seen> seen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box == nullptr || event->type() != QEvent::Show || box->property("answered").toBool())
            return false;
        box->setProperty("answered", true);
        seen.push_back({box->windowTitle(), box->text(), box->icon(), {}});
        for (QAbstractButton* b : box->buttons())
            seen.back().buttons << b->text();
        const Act act = acts.empty() ? Act::Enter : acts.front();
        if (!acts.empty())
            acts.pop_front();
        QMetaObject::invokeMethod(
            this, [box, act] { answer(box, act); }, Qt::QueuedConnection);
        return false;
    }

private:
    static void answer(QMessageBox* box, Act act) {
        const auto button = act == Act::Ok       ? QMessageBox::Ok
                            : act == Act::Cancel ? QMessageBox::Cancel
                                                 : QMessageBox::Retry;
        if (act == Act::CloseBox)
            box->close();
        else if (act == Act::Enter || act == Act::Escape)
            QTest::keyClick(box, act == Act::Enter ? Qt::Key_Return : Qt::Key_Escape);
        else if (QAbstractButton* b = box->button(button))
            QTest::mouseClick(b, Qt::LeftButton);
        else
            box->done(-1);  // a box without that button must not leave the test waiting
    }
};

}  // namespace sorvel::test
