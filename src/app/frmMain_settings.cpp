// How the window is restored from the settings file at start-up and saved there at shutdown:
// the folder, the window's state, place and size, and the split of file names.
#include "app/folder_list.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace sorvel::app {

using Buttons = platform::MessageBoxes::Buttons;
using Icon = platform::MessageBoxes::Icon;
namespace {

// How far a rectangle lies from a screen's area: 0 when they overlap, less the more they do.
qint64 distance(const QRect& r, const QRect& area) {
    const QRect common = r.intersected(area);
    if (!common.isEmpty())
        return -qint64{common.width()} * common.height();
    const qint64 dx = std::max({area.left() - r.right(), r.left() - area.right(), 0});
    const qint64 dy = std::max({area.top() - r.bottom(), r.top() - area.bottom(), 0});
    return dx * dx + dy * dy;
}

// Keeps a restored figure for when the window is placed: a finite number that a screen can
// hold, and for a size a positive one; anything else is refused as a failed step.
Code keep(double twips, bool size, bool& given, double& value) {
    if (!std::isfinite(twips) || std::abs(twips) >= 1e7 || (size && twips <= 0)) {
        return code::kBadArgument;
    }
    given = true;
    value = twips;
    return code::kOk;
}

}  // namespace

void frmMain::Form_Load() {
    starttid_ = s_.clock.seconds();

    splash_ = new frmSplash(this);
    splash_->show();
    splash_->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    Combo1->clear();
    for (const QString& genre : core::chooserOrder()) {
        Combo1->addItem(genre);
    }
    Combo1->setCurrentIndex(-1);

    folder_.setSplit(
        core::loadSettings(watched_, core::settingsPath(s_.programFolder.path()), *this));
    applyRestoredGeometry();
    // A listing takes the splash down after its time; a first start, or a folder that cannot be
    // restored, lists nothing, and the splash would cover the window until the user chose one.
    waitForSplash();
}

Code frmMain::applyDrive(const QString& folder) {
    const platform::Drives::Drive drive = s_.drives.driveOf(folder);
    if (const Code c = s_.drives.check(drive); c != code::kOk) {
        return c;
    }
    const int index = selectDrive(drive.root);
    return index < 0 ? code::kDeviceUnavailable : code::kOk;
}

Code frmMain::applyFolder(const QString& folder) {
    const QString before = Dir1->path();
    if (const Code c = openFolder(folder); c != code::kOk) {
        return c;
    }
    // Restoring the folder always lists it, even when the chooser already showed it.
    if (Dir1->path() == before) {
        Dir1_Change();
    }
    return code::kOk;
}

Code frmMain::applyWindowState(int state) {
    if (state < 0 || state > 2) {
        return code::kBadArgument;
    }
    restored_.state = true;
    restored_.windowState = state;
    return code::kOk;
}

Code frmMain::applyTop(double twips) {
    return keep(twips, false, restored_.top, restored_.topTw);
}

Code frmMain::applyLeft(double twips) {
    return keep(twips, false, restored_.left, restored_.leftTw);
}

Code frmMain::applyWidth(double twips) {
    return keep(twips, true, restored_.width, restored_.widthTw);
}

Code frmMain::applyHeight(double twips) {
    return keep(twips, true, restored_.height, restored_.heightTw);
}

void frmMain::applyRestoredGeometry() {
    if (restored_.top || restored_.left || restored_.width || restored_.height) {
        applyRestoredPlace();
    }
    if (restored_.state) {
        const Qt::WindowStates states[] = {Qt::WindowNoState, Qt::WindowMinimized,
                                           Qt::WindowMaximized};
        setWindowState(states[restored_.windowState]);
    }
}

void frmMain::applyRestoredPlace() {
    // Position and size go to the normal window first, so that a maximised window returns to
    // them when it is restored.
    const QSize frame = frameGeometry().size() - size();
    QRect outer = frameGeometry();
    if (restored_.top) {
        outer.moveTop(tw_.y(restored_.topTw));
    }
    if (restored_.left) {
        outer.moveLeft(tw_.x(restored_.leftTw));
    }
    if (restored_.width) {
        outer.setWidth(tw_.x(restored_.widthTw));
    }
    if (restored_.height) {
        outer.setHeight(tw_.y(restored_.heightTw));
    }
    outer = onScreen(outer);
    move(outer.topLeft());
    resize(outer.size() - frame);
    restoredOuter_ = outer;
}

QRect frmMain::onScreen(QRect outer) const {
    // A monitor unplugged since, or a size from a larger one, would bring the window up where
    // the user can neither see nor reach it, and it would be saved there again.
    QRect area;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect available = screen->availableGeometry();
        if (area.isNull() || distance(outer, available) < distance(outer, area))
            area = available;
    }
    if (area.isEmpty())
        return outer;
    outer.setWidth(std::min(outer.width(), area.width()));
    outer.setHeight(std::min(outer.height(), area.height()));
    outer.moveLeft(std::clamp(outer.left(), area.left(), area.right() - outer.width() + 1));
    outer.moveTop(std::clamp(outer.top(), area.top(), area.bottom() - outer.height() + 1));
    return outer;
}

bool frmMain::positionKnown() {
    // A Wayland client can neither learn nor choose where its window stands.
    return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

void frmMain::fitRestoredFrameSoon() {
    if (restoredOuter_.isValid()) {
        QTimer::singleShot(0, this, [this] { fitRestoredFrame(false); });
        QTimer::singleShot(300, this, [this] { fitRestoredFrame(true); });
    }
}

void frmMain::fitRestoredFrame(bool last) {
    if (!restoredOuter_.isValid() || windowState() != Qt::WindowNoState) {
        return;
    }
    const QSize frame = frameGeometry().size() - size();
    if (frame == QSize(0, 0)) {
        if (last) {
            restoredOuter_ = QRect();  // no frame: the window stands where it was put
        }
        return;  // not known yet
    }
    // Put back where it was saved: a window that came up lower by its title bar would otherwise
    // creep up the screen by as much at every start.
    if (frameGeometry().topLeft() != restoredOuter_.topLeft()) {
        move(restoredOuter_.topLeft());
    }
    if (frameGeometry().size() != restoredOuter_.size()) {
        resize(restoredOuter_.size() - frame);
    }
    restoredOuter_ = QRect();
}

void frmMain::saveSettingsOnce() {
    if (settingsSaved_) {
        return;
    }
    settingsSaved_ = true;
    core::Settings st;
    st.folder = Dir1->path();
    st.windowState = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    // A minimised or maximised window keeps the place it returns to; one never yet shown in its
    // normal state keeps the place it was given, which its frame was not known for.
    const QMargins frame(geometry().left() - frameGeometry().left(),
                         geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    const QRect outer = st.windowState == 0 || normalGeometry().isEmpty() ? frameGeometry()
                        : restoredOuter_.isValid()                        ? restoredOuter_
                                                   : normalGeometry().marginsAdded(frame);
    st.top = std::round(tw_.fromY(outer.top()));
    st.left = std::round(tw_.fromX(outer.left()));
    if (!positionKnown()) {
        // Where the place cannot be told, the one loaded stands, or the first-start place.
        st.top = restored_.top ? restored_.topTw : kFirstTop;
        st.left = restored_.left ? restored_.leftTw : kFirstLeft;
    }
    st.width = std::round(tw_.fromX(outer.width()));
    st.height = std::round(tw_.fromY(outer.height()));
    st.fil2tagNr = folder_.split();
    const QString path = core::settingsPath(s_.programFolder.path());
    if (const Code c = core::saveSettings(path, st); c != code::kOk) {
        // Shutdown goes on; the user learns why the next start will not look like this one.
        s_.boxes.show(QStringLiteral("Fel"),
                      QStringLiteral("Inställningarna kunde inte sparas i %1 (%2).")
                          .arg(path, reason(c, Naming::Number)),
                      Icon::Critical, Buttons::Ok);
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    saveSettingsOnce();
    if (splash_ != nullptr) {
        splash_->close();
    }
    event->accept();
}

void frmMain::mnuAvsluta_Click() {
    saveSettingsOnce();
    close();  // the close handling finds the settings already written
}

}  // namespace sorvel::app
