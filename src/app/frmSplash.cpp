#include "app/frmSplash.h"

#include "app/project_texts.h"
#include "app/resources.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace sorvel::app {

frmSplash::frmSplash(QWidget* owner) : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint) {
    initResources();
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Sorvel"));
    setFocusPolicy(Qt::StrongFocus);

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Raised);

    imgLogo = new QLabel(Frame1);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setPixmap(QPixmap(QStringLiteral(":/sorvel/splash.png")));
    imgLogo->setAlignment(Qt::AlignCenter);

    lblVersion = new QLabel(versionText(), Frame1);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setAlignment(Qt::AlignRight);
    QFont big = lblVersion->font();
    big.setPointSizeF(big.pointSizeF() * 1.2);
    big.setBold(true);
    lblVersion->setFont(big);

    lblCopyright =
        new QLabel(QStringLiteral("© Sorvels utvecklare. Fri att använda och sprida."), Frame1);
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    lblCopyright->setAlignment(Qt::AlignRight);

    auto* inner = new QVBoxLayout(Frame1);
    inner->addWidget(imgLogo);
    inner->addWidget(lblVersion);
    inner->addWidget(lblCopyright);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Frame1);

    Frame1->installEventFilter(this);
    imgLogo->installEventFilter(this);

    adjustSize();
    if (const QScreen* s = owner != nullptr ? owner->screen() : screen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - rect().center());
    }
}

void frmSplash::Frame1_Click() {
    close();
}

void frmSplash::imgLogo_Click() {
    close();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == imgLogo) {
            imgLogo_Click();
            return true;
        }
        if (watched == Frame1) {
            Frame1_Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmSplash::keyPressEvent(QKeyEvent* event) {
    Form_KeyPress();
    event->accept();
}

void frmSplash::Form_KeyPress() {
    // Centred across the screen and on its upper nine tenths.
    if (const QScreen* s = screen()) {
        const QRect scr = s->geometry();
        move(scr.left() + scr.width() / 2 - width() / 2,
             scr.top() + static_cast<int>(scr.height() * 0.9 / 2) - height() / 2);
    }
    // The main window's own picture takes the logo's place.
    if (parentWidget() != nullptr) {
        imgLogo->setPixmap(
            parentWidget()->windowIcon().pixmap(imgLogo->size().boundedTo(QSize(256, 256))));
    }
}

}  // namespace sorvel::app
