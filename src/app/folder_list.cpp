#include "app/folder_list.h"

#include "platform/names.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace sorvel::app {

FolderList::FolderList(platform::FileSystem& fs, QWidget* parent)
    : QTreeView(parent), fs_(fs), model_(fs) {
    setModel(&model_);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(false);  // a double click opens the folder, which expands it anyway
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIndentation(12);
    connect(this, &QTreeView::doubleClicked, this,
            [this](const QModelIndex&) { openHighlighted(); });
}

namespace {
QString withoutEndSeparator(QString p) {
    while (p.size() > 1 && p.endsWith(platform::nativeSeparator())) {
        p.chop(1);
    }
    return p;
}
}  // namespace

Code FolderList::setPath(const QString& driveRoot, const QString& path) {
    const QString target = withoutEndSeparator(path);
    if (const Code c = fs_.checkFolder(target); c != code::kOk) {
        return c;
    }
    if (model_.root() != driveRoot) {
        model_.setRoot(driveRoot);
    }
    const QModelIndex idx = model_.indexOfPath(target);
    if (!idx.isValid()) {
        return code::kPathNotFound;
    }

    for (QModelIndex p = idx.parent(); p.isValid(); p = p.parent()) {
        expand(p);
    }
    model_.reload(idx);  // an opened folder shows its subfolders as they are now
    expand(idx);
    setCurrentIndex(idx);
    scrollTo(idx);
    model_.setOpenPath(target);
    if (target == path_) {
        return code::kOk;
    }
    path_ = target;
    Q_EMIT pathChanged();
    return code::kOk;
}

void FolderList::openHighlighted() {
    const QString p = model_.pathOf(currentIndex());
    if (p.isEmpty()) {
        return;
    }
    if (const Code c = openInTree(p); c != code::kOk) {
        Q_EMIT openFailed(p, c);
    }
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openHighlighted();
        return;
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace sorvel::app
