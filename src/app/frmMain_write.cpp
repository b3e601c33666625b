// The main window's tag-writing commands: the six field buttons, file name to tag with its split
// menu, and the save of the current row's whole tag. The writing itself is the write library's.
#include "app/file_list_model.h"
#include "app/file_list_view.h"
#include "app/frmMain.h"
#include "tag/other_tags.h"
#include "write/engine.h"
#include "write/spara.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <functional>
#include <utility>

namespace sorvel::app {
namespace {

/// Passes the writer's status and progress on to the window, which paints them.
class WriterStatus : public write::Observer {
public:
    explicit WriterStatus(frmMain& w) : w_(w) {}
    void setStatus(const QString& text) override { w_.setStatus(text); }
    void setProgressMax(int max) override { w_.setProgressMax(max); }
    void setProgress(int value) override { w_.setProgress(value); }

private:
    frmMain& w_;
};

/// Reports every press of a mouse button on a widget. A right press goes no further: a button
/// answers it with a menu, and must neither look pressed nor be clicked by it.
class MouseDownFilter : public QObject {
public:
    using Handler = std::function<void(int button, int shift, QPoint pos)>;
    MouseDownFilter(QObject* parent, Handler handler)
        : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress &&
            event->type() != QEvent::MouseButtonDblClick) {
            return QObject::eventFilter(watched, event);
        }
        const auto* press = static_cast<QMouseEvent*>(event);
        const int button = FileListView::buttonCode(press->button());
        handler_(button, FileListView::shiftState(press->modifiers()), press->position().toPoint());
        return button == 2;
    }

private:
    Handler handler_;
};

}  // namespace

void frmMain::connectWriteCommands() {
    const std::pair<QPushButton*, void (frmMain::*)()> fieldButtons[] = {
        {cmdArtist, &frmMain::cmdArtist_Click},
        {cmdTitel, &frmMain::cmdTitel_Click},
        {cmdAlbum, &frmMain::cmdAlbum_Click},
        {cmdAr, &frmMain::cmdAr_Click},
        {cmdGenre, &frmMain::cmdGenre_Click},
        {cmdKommentarer, &frmMain::cmdKommentarer_Click},
        {cmdFilnamn2Tag, &frmMain::cmdFilnamn2Tag_Click},
        {cmdSpara, &frmMain::cmdSpara_Click}};
    for (const auto& [button, handler] : fieldButtons) {
        connect(button, &QPushButton::clicked, this, handler);
    }
    // The menu opens on the press, as the button's own pop-up; no context menu follows it.
    cmdFilnamn2Tag->setContextMenuPolicy(Qt::PreventContextMenu);
    cmdFilnamn2Tag->installEventFilter(
        new MouseDownFilter(cmdFilnamn2Tag, [this](int button, int shift, QPoint pos) {
            cmdFilnamn2Tag_MouseDown(button, shift, pos);
        }));
    connect(mnuId3v2, &QAction::triggered, this, &frmMain::mnuId3v2_Click);
    connect(mnuHogerId3v2, &QAction::triggered, this, &frmMain::mnuId3v2_Click);
    for (QAction* item : mnuFilnamn2tagNr) {
        const int index = item->property("index").toInt();
        connect(item, &QAction::triggered, this, [this, index] { mnuFilnamn2tagNr_Click(index); });
    }
}

void frmMain::spara_tag(int typ) {
    if (typ < static_cast<int>(write::Typ::Artist) || typ > static_cast<int>(write::Typ::Filnamn)) {
        return;
    }
    const write::EditorValues editor = editorValues();
    const std::vector<bool> selected = selectedFlags();
    WriterStatus status(*this);
    write::WriteResult result;
    write::Command command{write::commandLabel(static_cast<write::Typ>(typ)), {}};
    model_->changeRows([&](std::vector<browse::Row>& rows) {
        result = write::spara_tag(s_.fs, static_cast<write::Typ>(typ), rows, selected, katalog,
                                  editor, fil2tagNr, status, &command);
    });
    keepForUndo(std::move(command));
    forgetTyping();
    // "Klar" and the empty bar are on screen before any failure message waits for an answer.
    flushStatus();
    write::showFailures(s_.boxes, result.failures);
}

void frmMain::mnuId3v2_Click() {
    const std::vector<bool> selected = selectedFlags();
    WriterStatus status(*this);
    write::WriteResult result;
    write::Command command{QStringLiteral("Tag från ID3v2"), {}};
    model_->changeRows([&](std::vector<browse::Row>& rows) {
        result = write::importOtherTags(s_.fs, rows, selected, katalog, status, &command);
    });
    keepForUndo(std::move(command));
    ListView1_Click();  // the editor and the second panel show what was written
    forgetTyping();
    flushStatus();
    write::showImportOutcome(s_.boxes, result);
}

void frmMain::showOtherTag() {
    const int current = currentRow();
    if (current < 0) {
        statusPanel2_->clear();
        return;
    }
    const browse::Row& r = model_->row(current);
    const std::optional<tag::OtherTag> other = tag::readOtherTag(katalog + browse::fileName(r));
    if (!other) {
        statusPanel2_->clear();
        return;
    }
    QStringList shown;
    bool differs = false;
    const std::pair<const std::optional<QString>&, const QString&> fields[] = {
        {other->artist, r.artist}, {other->title, r.title}, {other->album, r.album}};
    for (const auto& [value, stored] : fields) {
        if (!value)
            continue;
        shown << *value;
        // What an import would write, against what the tag shows.
        differs = differs || value->left(tag::kTextWidth) != write::shownText(stored);
    }
    const QString kind = other->kind == tag::OtherTag::Kind::Id3v2 ? QStringLiteral("ID3v2")
                                                                   : QStringLiteral("APEv2");
    // The mark comes first, so that a narrow window cuts off the fields rather than it.
    const QString text =
        kind + (differs ? QStringLiteral(" (skiljer sig från tag): ") : QStringLiteral(": ")) +
        shown.join(QStringLiteral(" – "));
    statusPanel2_->setText(text);
    statusPanel2_->setToolTip(text);
}

void frmMain::keepForUndo(write::Command command) {
    journal_.push(std::move(command));
    showUndoState();
}

void frmMain::showUndoState() {
    const QString text = journal_.undoText();
    mnuAngra->setEnabled(!text.isEmpty());
    mnuAngra->setToolTip(text.isEmpty() ? QStringLiteral("Inget att ångra") : text);
    mnuAngra->setStatusTip(text);
    // A screen reader hears the tip as the command's description (see undo_accessible.h).
    QAccessibleEvent changed(mnuAngra, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
}

void frmMain::mnuAngra_Click() {
    if (journal_.empty()) {
        return;
    }
    WriterStatus status(*this);
    write::UndoResult result;
    model_->changeRows([&](std::vector<browse::Row>& rows) {
        result = journal_.undo(s_.fs, katalog, rows, status);
    });
    showUndoState();
    ListView1_Click();
    forgetTyping();
    flushStatus();
    write::showUndoFailures(s_.boxes, result.failures);
}

void frmMain::cmdArtist_Click() {
    spara_tag(static_cast<int>(write::Typ::Artist));
}

void frmMain::cmdTitel_Click() {
    spara_tag(static_cast<int>(write::Typ::Titel));
}

void frmMain::cmdAlbum_Click() {
    spara_tag(static_cast<int>(write::Typ::Album));
}

void frmMain::cmdAr_Click() {
    spara_tag(static_cast<int>(write::Typ::Ar));
}

void frmMain::cmdGenre_Click() {
    spara_tag(static_cast<int>(write::Typ::Genre));
}

void frmMain::cmdKommentarer_Click() {
    spara_tag(static_cast<int>(write::Typ::Kommentarer));
}

void frmMain::cmdFilnamn2Tag_Click() {
    spara_tag(static_cast<int>(write::Typ::Filnamn));
    ListView1_Click();  // the new artist and title show in the editor at once
}

void frmMain::cmdFilnamn2Tag_MouseDown(int button, int /*shift*/, QPoint pos) {
    if (button == 2) {
        mnuFilnamn2tag->popup(cmdFilnamn2Tag->mapToGlobal(pos));
    }
}

void frmMain::mnuFilnamn2tagNr_Click(int Index) {
    for (QAction* item : mnuFilnamn2tagNr) {
        item->setChecked(item->property("index").toInt() == Index);
    }
    fil2tagNr = Index;
}

void frmMain::cmdSpara_Click() {
    const int current = currentRow();
    if (current < 0) {
        return;
    }
    browse::Row row = model_->row(current);
    write::Command command{QStringLiteral("Spara tag"), {}};
    const write::SaveOutcome outcome = write::cmdSpara_Click(
        s_.fs, s_.boxes, katalog, row, editorValues(), txtFilnamn->text(), &command);
    if (outcome != write::SaveOutcome::NotSaved) {
        model_->setRow(current, std::move(row));
    }
    keepForUndo(std::move(command));
    if (outcome == write::SaveOutcome::Saved || outcome == write::SaveOutcome::SavedAndRenamed)
        forgetTyping();
}

}  // namespace sorvel::app
