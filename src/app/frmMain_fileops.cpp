// The file commands of the main window: rename, names from tags, delete and play. Each reads the
// list and the editor, lets the file operations do the work, and changes the list as they say.
#include "app/file_list_model.h"
#include "app/file_list_view.h"
#include "app/frmMain.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <optional>

namespace sorvel::app {

void frmMain::connectFileCommands() {
    connect(cmdFilnamn, &QPushButton::clicked, this, &frmMain::cmdFilnamn_Click);
    connect(cmdTag2Filnamn, &QPushButton::clicked, this, &frmMain::cmdTag2Filnamn_Click);
    connect(mnuHogerRadera, &QAction::triggered, this, &frmMain::mnuHogerRadera_Click);
    connect(mnuHogerSpela, &QAction::triggered, this, &frmMain::mnuHogerSpela_Click);
    // Only a double click on a row plays; one on the empty space below the rows does not.
    connect(ListView1, &QAbstractItemView::doubleClicked, this, &frmMain::ListView1_DblClick);
}

bool frmMain::Byt_Filnamn(const QString& gammalt, const QString& nytt, int klick) {
    if (!fileops::Byt_Filnamn(s_.fs, s_.boxes, katalog, gammalt, nytt, ajfan)) {
        return false;
    }
    write::Command command{QStringLiteral("Nytt filnamn"), {}};
    write::recordRename(s_.fs, command, katalog, gammalt, nytt + QStringLiteral(".mp3"));
    keepForUndo(std::move(command));
    if (const int current = currentRow(); klick == 1 && current >= 0) {
        browse::Row row = model_->row(current);
        browse::setFileName(row, txtFilnamn->text() + QStringLiteral(".mp3"));
        model_->setRow(current, std::move(row));
        forgetTyping();
    }
    return true;
}

void frmMain::cmdFilnamn_Click() {
    if (const int current = currentRow(); current >= 0) {
        const QString gammalt = browse::fileName(model_->row(current));
        Byt_Filnamn(gammalt, txtFilnamn->text(), 1);
    }
}

void frmMain::cmdTag2Filnamn_Click() {
    const std::vector<bool> selected = selectedFlags();
    write::Command command{QStringLiteral("Filnamn <-- tag"), {}};
    model_->changeRows([&](std::vector<browse::Row>& rows) {
        std::vector<QString> before;
        before.reserve(rows.size());
        for (const browse::Row& r : rows)
            before.push_back(browse::fileName(r));
        for (const std::size_t i :
             fileops::cmdTag2Filnamn_Click(s_.fs, s_.boxes, katalog, rows, selected, ajfan)) {
            write::recordRename(s_.fs, command, katalog, before[i], browse::fileName(rows[i]));
        }
    });
    keepForUndo(std::move(command));
}

namespace {

// A copy of the current row: a command's message boxes run an event loop, and the row it acts on
// must not depend on what the list does meanwhile.
std::optional<browse::Row> rowAt(const FileListModel& model, int r) {
    return r >= 0 ? std::optional(model.row(r)) : std::nullopt;
}

const browse::Row* orNull(const std::optional<browse::Row>& row) {
    return row ? &*row : nullptr;
}

}  // namespace

void frmMain::mnuHogerRadera_Click() {
    const std::optional<browse::Row> current = rowAt(*model_, currentRow());
    actOn(fileops::mnuHogerRadera_Click(s_.fs, s_.boxes, s_.trash, katalog, orNull(current),
                                        ingenpapperskorg));
}

void frmMain::Recycle(const QString& FileName) {
    actOn(fileops::Recycle(s_.boxes, s_.trash, FileName));
}

void frmMain::actOn(fileops::DeleteOutcome outcome) {
    switch (outcome) {
        case fileops::DeleteOutcome::RemoveRow:
            removeCurrentRow();
            break;
        case fileops::DeleteOutcome::Rescan:
            Dir1_Change();
            break;
        case fileops::DeleteOutcome::Nothing:
            break;
    }
}

void frmMain::removeCurrentRow() {
    const int current = currentRow();
    if (current < 0) {
        return;
    }
    model_->removeRowAt(current);
    const int count = model_->rowCount();
    if (count == 0) {
        clearEditor();
        return;
    }
    // The editor must not go on showing a file that is gone while another row is current: a save
    // would write its fields into that other file. The row that took the place of the deleted
    // one becomes current; it is selected too when nothing else is, so that the next Delete has
    // a row to act on, and other selected rows stay as the user chose them.
    QItemSelectionModel* selection = ListView1->selectionModel();
    const QModelIndex next = model_->index(std::min(current, count - 1), 0);
    selection->setCurrentIndex(
        next, selection->hasSelection()
                  ? QItemSelectionModel::NoUpdate
                  : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView1->scrollTo(next);
    ListView1_Click();
}

void frmMain::ListView1_DblClick() {
    const std::optional<browse::Row> current = rowAt(*model_, currentRow());
    fileops::ListView1_DblClick(s_.fs, s_.boxes, s_.opener, katalog, orNull(current));
}

void frmMain::mnuHogerSpela_Click() {
    ListView1_DblClick();
}

}  // namespace sorvel::app
