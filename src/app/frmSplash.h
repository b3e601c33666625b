#pragma once

#include <QWidget>

class QFrame;
class QLabel;

namespace sorvel::app {

/// The window shown while the program starts: the picture, the version and the rights notice.
/// A click on it closes it; a key press only moves it to the middle of the screen.
class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* owner);

public Q_SLOTS:
    void Frame1_Click();
    void imgLogo_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_KeyPress();

    QFrame* Frame1 = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblCopyright = nullptr;
};

}  // namespace sorvel::app
