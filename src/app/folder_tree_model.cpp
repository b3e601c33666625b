#include "app/folder_tree_model.h"

#include "core/row_order.h"
#include "platform/folders.h"
#include "platform/names.h"

#include <QApplication>
#include <QFont>
#include <QStyle>
#include <algorithm>
#include <utility>

namespace sorvel::app {

struct FolderTreeModel::Node {
    QString name;
    QString path;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    int row = 0;  // position among the parent's children, which only ever grow at the end
    bool loaded = false;
};

namespace {

QString childPath(const QString& parent, const QString& name) {
    return platform::joinPath(parent, name);
}

}  // namespace

FolderTreeModel::FolderTreeModel(platform::FileSystem& fs, QObject* parent)
    : QAbstractItemModel(parent), fs_(fs), top_(std::make_unique<Node>()) {
    top_->loaded = true;
}

FolderTreeModel::~FolderTreeModel() = default;

void FolderTreeModel::setRoot(const QString& root) {
    beginResetModel();
    top_->children.clear();
    auto node = std::make_unique<Node>();
    node->name = root;
    node->path = root;
    node->parent = top_.get();
    top_->children.push_back(std::move(node));
    endResetModel();
}

QString FolderTreeModel::root() const {
    return top_->children.empty() ? QString() : top_->children.front()->path;
}

FolderTreeModel::Node* FolderTreeModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : top_.get();
}

QModelIndex FolderTreeModel::indexOfNode(const Node* node) const {
    if (node == nullptr || node == top_.get()) {
        return {};
    }
    return createIndex(node->row, 0, const_cast<Node*>(node));
}

void FolderTreeModel::load(Node* node) {
    if (node->loaded) {
        return;
    }
    node->loaded = true;
    std::vector<QString> names;
    // A folder that cannot be listed simply shows no subfolders.
    (void)fs_.listFolders(node->path, names);
    core::sortNames(names);
    if (names.empty()) {
        // The expand mark goes away now that the folder is known to be empty.
        const QModelIndex idx = indexOfNode(node);
        Q_EMIT dataChanged(idx, idx);
        return;
    }
    beginInsertRows(indexOfNode(node), 0, static_cast<int>(names.size()) - 1);
    for (QString& name : names) {
        auto child = std::make_unique<Node>();
        child->path = childPath(node->path, name);
        child->name = std::move(name);
        child->parent = node;
        child->row = static_cast<int>(node->children.size());
        node->children.push_back(std::move(child));
    }
    endInsertRows();
}

QModelIndex FolderTreeModel::indexOfPath(const QString& path) {
    const QString rootPath = root();
    if (rootPath.isEmpty()) {
        return {};
    }
    if (path != rootPath && !path.startsWith(platform::joinPath(rootPath, {}))) {
        return {};
    }
    Node* node = top_->children.front().get();
    const QStringList parts =
        path.mid(rootPath.size()).split(platform::nativeSeparator(), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        load(node);
        auto it = std::find_if(node->children.begin(), node->children.end(),
                               [&](const auto& n) { return n->name == part; });
        if (it == node->children.end()) {
            // A hidden folder is not listed, but it may still be asked for by its path.
            const QString p = childPath(node->path, part);
            if (fs_.checkFolder(p) != code::kOk) {
                return {};
            }
            beginInsertRows(indexOfNode(node), static_cast<int>(node->children.size()),
                            static_cast<int>(node->children.size()));
            auto child = std::make_unique<Node>();
            child->name = part;
            child->path = p;
            child->parent = node;
            child->row = static_cast<int>(node->children.size());
            node->children.push_back(std::move(child));
            endInsertRows();
            it = node->children.end() - 1;
        }
        node = it->get();
    }
    return indexOfNode(node);
}

void FolderTreeModel::reload(const QModelIndex& index) {
    Node* node = nodeOf(index);
    if (!node->loaded) {
        return;  // listed when first needed anyway
    }
    if (!node->children.empty()) {
        beginRemoveRows(index, 0, static_cast<int>(node->children.size()) - 1);
        node->children.clear();
        endRemoveRows();
    }
    node->loaded = false;
    load(node);
}

QString FolderTreeModel::pathOf(const QModelIndex& index) const {
    return index.isValid() ? nodeOf(index)->path : QString();
}

void FolderTreeModel::setOpenPath(const QString& path) {
    const QString old = std::exchange(openPath_, path);
    // The open folder and the folders above it change look.
    for (const QString& p : {old, path}) {
        for (QModelIndex idx = p.isEmpty() ? QModelIndex() : indexOfPath(p); idx.isValid();
             idx = idx.parent()) {
            Q_EMIT dataChanged(idx, idx);
        }
    }
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Node* p = nodeOf(parent);
    if (column != 0 || row < 0 || row >= static_cast<int>(p->children.size())) {
        return {};
    }
    return createIndex(row, 0, p->children[static_cast<std::size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    return indexOfNode(nodeOf(child)->parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
    return static_cast<int>(nodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant FolderTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Mappar");
    return QAbstractItemModel::headerData(section, orientation, role);
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const Node* node = nodeOf(index);
    const bool open =
        !openPath_.isEmpty() &&
        (openPath_ == node->path || openPath_.startsWith(platform::joinPath(node->path, {})));
    switch (role) {
        case Qt::DisplayRole:
            return node->name;
        case Qt::DecorationRole:
            return QApplication::style()->standardIcon(open ? QStyle::SP_DirOpenIcon
                                                            : QStyle::SP_DirClosedIcon);
        case Qt::FontRole:
            if (node->path == openPath_) {
                QFont f;
                f.setBold(true);
                return f;
            }
            return {};
        default:
            return {};
    }
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    return !node->loaded || !node->children.empty();
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const {
    return !nodeOf(parent)->loaded;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent) {
    load(nodeOf(parent));
}

}  // namespace sorvel::app
