#pragma once

#include "core/folder.h"
#include "core/rules.h"

#include <QAbstractTableModel>

namespace sorvel::app {

/// The file list's rows as the list view reads them: a view of the folder on show, told of
/// every change to its rows as it happens.
class FileListModel : public QAbstractTableModel, public core::RowListener {
    Q_OBJECT
public:
    static constexpr int kColumns = core::RowOrder::kColumns;

    explicit FileListModel(core::Folder& folder, QObject* parent = nullptr);
    ~FileListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const core::Row& row(int r) const { return folder_.row(static_cast<std::size_t>(r)); }

    // core::RowListener
    void rowsAboutToBeReplaced() override;
    void rowsReplaced() override;
    void rowsChanged(std::size_t first, std::size_t last) override;
    void rowAboutToBeRemoved(std::size_t row) override;
    void rowRemoved() override;
    void rowsAboutToMove() override;
    void rowsMoved(const std::vector<int>& newPlace) override;

private:
    core::Folder& folder_;
    QModelIndexList moving_;
};

}  // namespace sorvel::app
