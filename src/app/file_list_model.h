#pragma once

#include "app/folder.h"

#include <QAbstractTableModel>

namespace sorvel::app {

/// The file list's rows as the list view reads them: a view of the folder on show, told of
/// every change to its rows as it happens.
class FileListModel : public QAbstractTableModel, public RowListener {
    Q_OBJECT
public:
    static constexpr int kColumns = RowOrder::kColumns;

    explicit FileListModel(Folder& folder, QObject* parent = nullptr);
    ~FileListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const browse::Row& row(int r) const { return folder_.row(static_cast<std::size_t>(r)); }

    // RowListener
    void rowsAboutToBeReplaced() override;
    void rowsReplaced() override;
    void rowsChanged(std::size_t first, std::size_t last) override;
    void rowAboutToBeRemoved(std::size_t row) override;
    void rowRemoved() override;
    void rowsAboutToMove() override;
    void rowsMoved(const std::vector<int>& newPlace) override;

private:
    Folder& folder_;
    QModelIndexList moving_;
};

}  // namespace sorvel::app
