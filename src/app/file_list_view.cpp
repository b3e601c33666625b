#include "app/file_list_view.h"

#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace sorvel::app {

FileListView::FileListView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);  // a hundred thousand rows lay out in no time
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
}

int FileListView::shiftState(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) +
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) +
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

int FileListView::buttonCode(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
    }
}

namespace {
// Only these buttons pick rows. Any other would move the current row without the click that
// refills the editor, and "Spara tag" would then write one file's fields into another file.
bool picksRows(Qt::MouseButton button) {
    return button == Qt::LeftButton || button == Qt::RightButton;
}
}  // namespace

void FileListView::mousePressEvent(QMouseEvent* event) {
    if (picksRows(event->button())) {
        QTreeView::mousePressEvent(event);
    }
    Q_EMIT mouseDown(buttonCode(event->button()), shiftState(event->modifiers()),
                     event->position().toPoint());
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (picksRows(event->button())) {
        QTreeView::mouseDoubleClickEvent(event);
    }
}

void FileListView::mouseReleaseEvent(QMouseEvent* event) {
    if (picksRows(event->button())) {
        QTreeView::mouseReleaseEvent(event);
    }
    if (event->button() == Qt::LeftButton) {
        Q_EMIT listClicked();
    }
}

void FileListView::keyPressEvent(QKeyEvent* event) {
    QTreeView::keyPressEvent(event);
    Q_EMIT keyDown(event->key(), shiftState(event->modifiers()));
}

void FileListView::inputMethodEvent(QInputMethodEvent* event) {
    // A letter typed through an input method finds a row as a key press does, and is told as one.
    QTreeView::inputMethodEvent(event);
    if (!event->commitString().isEmpty()) {
        Q_EMIT keyDown(Qt::Key_unknown, 0);
    }
}

}  // namespace sorvel::app
