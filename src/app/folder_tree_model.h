#pragma once

#include "platform/filesystem.h"

#include <QAbstractItemModel>
#include <QString>
#include <memory>
#include <vector>

namespace sorvel::app {

/// The folders of one drive as a tree, each folder's subfolders listed when first needed.
/// Names come from the system as bytes and are decoded losslessly, so every path built from
/// them reaches its folder, whatever its name's encoding.
class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    /// Folders are listed and checked through `fs`, which outlives the model.
    explicit FolderTreeModel(platform::FileSystem& fs, QObject* parent = nullptr);
    ~FolderTreeModel() override;

    /// Shows the tree of the drive whose root is `root` (the one top-level item).
    void setRoot(const QString& root);
    QString root() const;
    /// The item of `path`, listing the folders on the way; invalid when `path` is not a folder
    /// under the root.
    QModelIndex indexOfPath(const QString& path);
    QString pathOf(const QModelIndex& index) const;
    /// Lists the subfolders of `index` afresh (folders made or removed since).
    void reload(const QModelIndex& index);
    /// The folder shown as open (bold, with an open folder).
    void setOpenPath(const QString& path);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    /// The one column's heading, which the tree does not show but a screen reader says.
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Node;
    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOfNode(const Node* node) const;
    void load(Node* node);

    platform::FileSystem& fs_;
    std::unique_ptr<Node> top_;  // holds the drive's root as its one child
    QString openPath_;
};

}  // namespace sorvel::app
