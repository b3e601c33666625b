#pragma once

#include "app/folder_tree_model.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QTreeView>

namespace sorvel::app {

/// The folder chooser: the folder tree of one drive, with one folder open. Opening a folder
/// (double click, or Enter on the highlighted one) makes it the path; moving the highlight with
/// the arrow keys only highlights.
class FolderList : public QTreeView {
    Q_OBJECT
public:
    /// Folders are listed and checked through `fs`, which outlives the list.
    explicit FolderList(platform::FileSystem& fs, QWidget* parent = nullptr);

    /// The open folder, without a separator at the end (except for the root "/").
    QString path() const { return path_; }
    /// Opens `path` in the tree of the drive whose root is `driveRoot`. Emits pathChanged() when
    /// the path differs from the one open. A path that is no folder that can be listed fails with
    /// its code and changes nothing.
    Code setPath(const QString& driveRoot, const QString& path);
    /// Opens `path` in the tree on show, as a double click on it does.
    Code openInTree(const QString& path) { return setPath(model_.root(), path); }

Q_SIGNALS:
    void pathChanged();
    /// The user opened a folder that can no longer be listed.
    void openFailed(const QString& path, int code);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openHighlighted();

    platform::FileSystem& fs_;
    FolderTreeModel model_;
    QString path_;
};

}  // namespace sorvel::app
