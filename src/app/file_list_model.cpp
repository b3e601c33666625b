#include "app/file_list_model.h"

namespace sorvel::app {

FileListModel::FileListModel(core::Folder& folder, QObject* parent)
    : QAbstractTableModel(parent), folder_(folder) {
    folder_.setListener(this);
}

FileListModel::~FileListModel() {
    folder_.setListener(nullptr);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(folder_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) {
        return {};
    }
    return core::RowOrder::shown(row(index.row()), index.column());
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case 0:
            return QStringLiteral("Filnamn (.mp3)");
        case 1:
            return QStringLiteral("Artist");
        case 2:
            return QStringLiteral("Titel");
        case 3:
            return QStringLiteral("Album");
        case 4:
            return QStringLiteral("Årtal");
        case 5:
            return QStringLiteral("Genre");
        case 6:
            return QStringLiteral("Kommentarer");
        default:
            return {};
    }
}

void FileListModel::rowsAboutToBeReplaced() {
    beginResetModel();
}

void FileListModel::rowsReplaced() {
    endResetModel();
}

void FileListModel::rowsChanged(std::size_t first, std::size_t last) {
    Q_EMIT dataChanged(index(static_cast<int>(first), 0),
                       index(static_cast<int>(last), kColumns - 1));
}

void FileListModel::rowAboutToBeRemoved(std::size_t row) {
    beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row));
}

void FileListModel::rowRemoved() {
    endRemoveRows();
}

void FileListModel::rowsAboutToMove() {
    // Sorting moves rows but changes neither the selection nor the current row.
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    moving_ = persistentIndexList();
}

void FileListModel::rowsMoved(const std::vector<int>& newPlace) {
    QModelIndexList after;
    after.reserve(moving_.size());
    for (const QModelIndex& idx : moving_) {
        after.push_back(index(newPlace[static_cast<std::size_t>(idx.row())], idx.column()));
    }
    if (!newPlace.empty())
        changePersistentIndexList(moving_, after);
    moving_.clear();
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace sorvel::app
