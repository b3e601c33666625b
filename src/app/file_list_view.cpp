#include "app/file_list_view.h"

#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <optional>
#include <utility>

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

void FileListView::selectAll() {
    QAbstractItemModel* m = model();
    QItemSelectionModel* selection = selectionModel();
    if (m == nullptr || selection == nullptr || m->rowCount() == 0 ||
        selectionMode() == SingleSelection || selectionMode() == NoSelection) {
        return;
    }
    const QItemSelection all(m->index(0, 0), m->index(m->rowCount() - 1, m->columnCount() - 1));
    selection->select(all, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

namespace {

// The selected rows as sorted, disjoint [first, last] spans, or nothing when some range leaves
// out a column: then only Qt's own row-by-row test says which rows are whole.
std::optional<std::vector<std::pair<int, int>>> rowSpans(const QItemSelection& selection,
                                                         int columns) {
    std::vector<std::pair<int, int>> spans;
    spans.reserve(static_cast<std::size_t>(selection.size()));
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid()) {
            continue;
        }
        if (range.left() != 0 || range.right() != columns - 1) {
            return std::nullopt;
        }
        spans.emplace_back(range.top(), range.bottom());
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int, int>> merged;
    for (const auto& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, s.second);
        } else {
            merged.push_back(s);
        }
    }
    return merged;
}

}  // namespace

int FileListView::selectedRowCount() const {
    if (model() == nullptr || selectionModel() == nullptr) {
        return 0;
    }
    const auto spans = rowSpans(selectionModel()->selection(), model()->columnCount());
    if (!spans) {
        return static_cast<int>(selectionModel()->selectedRows().size());
    }
    int count = 0;
    for (const auto& [first, last] : *spans) {
        count += last - first + 1;
    }
    return count;
}

std::vector<int> FileListView::selectedRowNumbers() const {
    std::vector<int> rows;
    if (model() == nullptr || selectionModel() == nullptr) {
        return rows;
    }
    const auto spans = rowSpans(selectionModel()->selection(), model()->columnCount());
    if (!spans) {
        for (const QModelIndex& i : selectionModel()->selectedRows()) {
            rows.push_back(i.row());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    for (const auto& [first, last] : *spans) {
        for (int r = first; r <= last; ++r) {
            rows.push_back(r);
        }
    }
    return rows;
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
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        event->accept();
        Q_EMIT menuKey();
        return;
    }
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
