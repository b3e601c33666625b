// What the window does for each command: read the controls, hand the folder on show the plain
// values, and show what it left to show. The commands themselves are the folder's.
#include "app/drive_chooser.h"
#include "app/file_list_model.h"
#include "app/file_list_view.h"
#include "app/folder_list.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/tag_text_validator.h"
#include "platform/folders.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <utility>

namespace sorvel::app {
namespace {

using Buttons = platform::MessageBoxes::Buttons;
using Icon = platform::MessageBoxes::Icon;

// How long the splash stays up at least, counted from the start of loading.
constexpr double kSplashSeconds = 3.0;
// The status bar is painted at most this often while a command runs.
constexpr qint64 kPaintEveryMs = 20;

const QString kNotWritten = QStringLiteral("Följande filer kunde inte skrivas:");
const QString kNotRenamed = QStringLiteral("Följande filer kunde inte byta namn:");

QString errorText(Code c) {
    QString text = reason(c, Naming::Number);
    text[0] = text[0].toUpper();
    return text + u'.';
}

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

void frmMain::connectHandlers() {
    connect(Drive1, &QComboBox::currentIndexChanged, this, &frmMain::Drive1_Change);
    connect(Drive1, &DriveChooser::aboutToShowPopup, this, &frmMain::fillDrives);
    connect(Dir1, &FolderList::pathChanged, this, &frmMain::Dir1_Change);
    connect(Dir1, &FolderList::openFailed, this, [this](const QString& path, int c) {
        while (c == code::kDeviceUnavailable) {
            if (!folder_.retryDrive(s_.drives.driveOf(path).root)) {
                return;
            }
            c = Dir1->openInTree(path);
        }
        if (c != code::kOk) {
            s_.boxes.show(QStringLiteral("Fel"), errorText(c), Icon::Critical, Buttons::Ok);
        }
    });
    connect(ListView1, &FileListView::listClicked, this, &frmMain::ListView1_Click);
    connect(ListView1, &FileListView::keyDown, this, &frmMain::ListView1_KeyDown);
    connect(ListView1, &FileListView::mouseDown, this, &frmMain::ListView1_MouseDown);
    connect(ListView1, &FileListView::menuKey, this, [this] {
        // At the current row, as the right button opens it at the pointer.
        const QModelIndex current = ListView1->currentIndex();
        const QPoint at = current.isValid() ? ListView1->visualRect(current).center() : QPoint();
        ListView1_MouseDown(2, 0, at);
    });
    connect(ListView1->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { ListView1_ColumnClick(section + 1); });
    connect(mnuUppdatera, &QAction::triggered, this, &frmMain::mnuUppdatera_Click);
    connect(mnuAngra, &QAction::triggered, this, &frmMain::mnuAngra_Click);
    connect(mnuHjalpHjalp, &QAction::triggered, this, &frmMain::mnuHjalpHjalp_Click);
    connect(mnuOm, &QAction::triggered, this, &frmMain::mnuOm_Click);
    connectWriteCommands();
    connectFileCommands();
}

void frmMain::fillDrives() {
    const int index = Drive1->currentIndex();
    const QString shown = index >= 0 && index < static_cast<int>(drives_.size())
                              ? drives_[static_cast<std::size_t>(index)].root
                              : QString();
    drives_ = s_.drives.list();
    const QSignalBlocker block(Drive1);
    Drive1->clear();
    for (const auto& d : drives_) {
        Drive1->addItem(d.label.isEmpty() ? d.root
                                          : d.root + QStringLiteral(" [") + d.label + u']');
    }
    const auto it = std::find_if(drives_.begin(), drives_.end(),
                                 [&](const auto& d) { return d.root == shown; });
    if (it != drives_.end()) {
        Drive1->setCurrentIndex(static_cast<int>(it - drives_.begin()));
    }
}

void frmMain::showHomeFolder() {
    // Until the settings say otherwise the choosers show the user's home folder, unscanned.
    const QString home = platform::homeFolder();
    const platform::Drives::Drive drive = s_.drives.driveOf(home);
    const auto it = std::find_if(drives_.begin(), drives_.end(),
                                 [&](const auto& d) { return d.root == drive.root; });
    const QSignalBlocker blockDrive(Drive1);
    if (it != drives_.end()) {
        Drive1->setCurrentIndex(static_cast<int>(it - drives_.begin()));
    }
    const QSignalBlocker blockDir(Dir1);
    if (Dir1->setPath(drive.root, home) != code::kOk) {
        (void)Dir1->setPath(drive.root, drive.root);
    }
}

int frmMain::selectDrive(const QString& root) {
    auto it =
        std::find_if(drives_.begin(), drives_.end(), [&](const auto& d) { return d.root == root; });
    if (it == drives_.end()) {
        // Mounted since the window was built: take the drives afresh.
        fillDrives();
        it = std::find_if(drives_.begin(), drives_.end(),
                          [&](const auto& d) { return d.root == root; });
        if (it == drives_.end()) {
            return -1;
        }
    }
    const int index = static_cast<int>(it - drives_.begin());
    Drive1->setCurrentIndex(index);  // a change runs Drive1_Change
    return index;
}

Code frmMain::openFolder(const QString& folder) {
    return Dir1->setPath(s_.drives.driveOf(folder).root, folder);
}

void frmMain::Drive1_Change() {
    const int index = Drive1->currentIndex();
    if (index < 0 || index >= static_cast<int>(drives_.size())) {
        return;
    }
    const platform::Drives::Drive drive = drives_[static_cast<std::size_t>(index)];
    const Code c = folder_.chooseDrive(
        drive, [&](const QString& folder) { return Dir1->setPath(drive.root, folder); });
    if (c == code::kDeviceUnavailable) {
        // Both choosers agree again on the folder on show.
        selectDrive(s_.drives.driveOf(Dir1->path()).root);
    } else if (c != code::kOk) {
        s_.boxes.show(QStringLiteral("Fel"), errorText(c), Icon::Critical, Buttons::Ok);
    }
}

QString frmMain::dir1Path() const {
    return Dir1->path();
}

void frmMain::mnuUppdatera_Click() {
    Dir1_Change();
}

void frmMain::Dir1_Change() {
    watched_.tryAgain();
    const core::Outcome outcome = folder_.list(Dir1->path(), *this);
    flushStatus();
    showUndoState();
    if (outcome.failed || folder_.size() == 0) {
        clearEditor();
        showOutcome(outcome);
        return;
    }
    setEditorEnabled(true);
    waitForSplash();
    ListView1->selectionModel()->setCurrentIndex(
        model_->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView1->scrollToTop();
    ListView1_Click();
}

void frmMain::waitForSplash() {
    if (splash_ == nullptr || !splash_->isVisible()) {
        return;
    }
    // The window takes no input meanwhile, but everything keeps being painted.
    while (s_.clock.seconds() - starttid_ <= kSplashSeconds) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(10);
    }
    splash_->hide();
}

void frmMain::setStatus(const QString& text) {
    statusText_ = text;
    paintStatus(false);
}

void frmMain::setProgressMax(int max) {
    progressMax_ = max;
    paintStatus(false);
}

void frmMain::setProgress(int value) {
    progressValue_ = value;
    paintStatus(false);
}

void frmMain::paintStatus(bool now) {
    if (!now && lastPaint_.isValid() && lastPaint_.elapsed() < kPaintEveryMs) {
        // Whatever is set last is shown when the command returns to the event loop.
        if (!flushPending_) {
            flushPending_ = true;
            QTimer::singleShot(0, this, [this] {
                if (flushPending_) {
                    flushStatus();
                }
            });
        }
        return;
    }
    flushStatus();
    if (StatusBar1->isVisible()) {
        StatusBar1->repaint();  // painted now, no input handled
    }
    lastPaint_.start();
}

void frmMain::flushStatus() {
    flushPending_ = false;
    statusPanel1_->setText(statusText_);
    ProgressBar1->setMaximum(progressMax_);
    ProgressBar1->setValue(progressValue_);
}

std::vector<int> frmMain::selectedRows() const {
    return ListView1->selectedRowNumbers();
}

std::vector<bool> frmMain::selectedFlags() const {
    std::vector<bool> flags(static_cast<std::size_t>(model_->rowCount()), false);
    for (const int r : selectedRows()) {
        flags[static_cast<std::size_t>(r)] = true;
    }
    return flags;
}

core::EditorValues frmMain::editorValues() const {
    return {txtArtist->text(), txtTitel->text(),      txtAlbum->text(),
            txtAr->text(),     Combo1->currentText(), txtKommentarer->text()};
}

int frmMain::currentRow() const {
    const QModelIndex c = ListView1->selectionModel()->currentIndex();
    return c.isValid() ? c.row() : -1;
}

void frmMain::setEditorEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{txtFilnamn, txtArtist, txtTitel, txtAlbum,
                                                      txtAr, Combo1, txtKommentarer, cmdSpara}) {
        w->setEnabled(enabled);
    }
}

void frmMain::clearEditor() {
    for (QLineEdit* e : {txtFilnamn, txtArtist, txtTitel, txtAlbum, txtAr}) {
        e->clear();
        e->setEnabled(false);
    }
    Combo1->setCurrentIndex(-1);
    Combo1->setEnabled(false);
    txtKommentarer->clear();
    txtKommentarer->setEnabled(false);
    cmdSpara->setEnabled(false);
    statusPanel2_->clear();
}

void frmMain::showButtonsFor(int selectedCount) {
    const bool one = selectedCount == 1;
    cmdFilnamn->setVisible(one);
    cmdSpara->setVisible(one);
    for (QPushButton* b : {cmdArtist, cmdTitel, cmdAlbum, cmdAr, cmdGenre, cmdKommentarer}) {
        b->setVisible(!one);
    }
}

void frmMain::forgetTyping() {
    // A field's own undo would otherwise take back typing that a command has already written,
    // leaving it showing what neither the file nor the row holds.
    for (QLineEdit* field : {txtArtist, txtTitel, txtAlbum, txtAr, txtKommentarer}) {
        TagTextValidator::fill(*field, field->text());
    }
    txtFilnamn->setText(txtFilnamn->text());
}

void frmMain::ListView1_Click() {
    if (model_->rowCount() == 0) {
        return;
    }
    const int selected = ListView1->selectedRowCount();
    setEditorEnabled(true);
    // With rows but none current (every row deselected) the editor keeps what it shows.
    if (const int current = currentRow(); current >= 0) {
        const core::Row& r = model_->row(current);
        auto fill = [](QLineEdit* e, const QString& t) {
            TagTextValidator::fill(*e, core::shownText(t));
        };
        fill(txtArtist, r.artist);
        fill(txtTitel, r.title);
        fill(txtAlbum, r.album);
        fill(txtAr, r.year);
        Combo1->setCurrentIndex(core::genre_tal2(core::shownText(r.genre)) - 1);
        fill(txtKommentarer, r.comment);
        txtFilnamn->setText(core::shownName(r));
        showOtherTag();
    }
    showButtonsFor(selected);
}

void frmMain::ListView1_ColumnClick(int column) {
    folder_.sortBy(column - 1);
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSortIndicator(folder_.order().column(), folder_.order().ascending()
                                                                        ? Qt::AscendingOrder
                                                                        : Qt::DescendingOrder);
}

void frmMain::ListView1_KeyDown(int keyCode, int shift) {
    if (keyCode == Qt::Key_Delete) {
        // The menu's "Radera filen" keeps using the mode the last press left.
        folder_.setDeleteMode(core::deleteModeFor(shift));
        mnuHogerRadera_Click();
        return;
    }
    ListView1_Click();
    // Enter plays the row, as a double click does, so that a keyboard reaches "Spela upp" too.
    if (keyCode == Qt::Key_Return || keyCode == Qt::Key_Enter) {
        ListView1_DblClick();
    }
}

void frmMain::ListView1_MouseDown(int button, int /*shift*/, QPoint pos) {
    if (button != 2) {
        return;
    }
    // The press has made the row under the pointer current; the editor shows the row the
    // menu's commands act on.
    ListView1_Click();
    mnuHoger->popup(ListView1->viewport()->mapToGlobal(pos));
}

void frmMain::mnuHjalpHjalp_Click() {
    const QString page = s_.programFolder.path() + QStringLiteral("/hjälp/index.html");
    if (!s_.fs.exists(page) || !s_.opener.open(page)) {
        s_.boxes.show(QStringLiteral("Fel"),
                      QStringLiteral("Hjälpsidan %1 kunde inte öppnas.").arg(page), Icon::Critical,
                      Buttons::Ok);
    }
}

void frmMain::mnuOm_Click() {
    frmAbout about({s_.boxes, s_.opener, s_.registry, s_.fs}, this);
    about.exec();
}

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

void frmMain::connectFileCommands() {
    connect(cmdFilnamn, &QPushButton::clicked, this, &frmMain::cmdFilnamn_Click);
    connect(cmdTag2Filnamn, &QPushButton::clicked, this, &frmMain::cmdTag2Filnamn_Click);
    connect(mnuHogerRadera, &QAction::triggered, this, &frmMain::mnuHogerRadera_Click);
    connect(mnuHogerSpela, &QAction::triggered, this, &frmMain::mnuHogerSpela_Click);
    // Only a double click on a row plays; one on the empty space below the rows does not.
    connect(ListView1, &QAbstractItemView::doubleClicked, this, &frmMain::ListView1_DblClick);
}

void frmMain::showOutcome(const core::Outcome& outcome) {
    // "Klar" and the empty bar are on screen before any message waits for an answer.
    flushStatus();
    if (outcome.typingWritten)
        forgetTyping();
    showUndoState();
    for (const platform::Message& m : outcome.messages)
        s_.boxes.show(m.title, m.text, m.icon, Buttons::Ok);
    if (outcome.listAgain)
        Dir1_Change();
}

core::Outcome frmMain::watch(const std::function<core::Outcome()>& command, const QString& heading,
                             int row) {
    watched_.tryAgain();
    core::Outcome outcome = command();
    if (!watched_.gaveUp())
        return outcome;
    // What the command says of its files is what it saw before the drive went silent; what it
    // could not finish is all that is known now.
    std::vector<write::Failure> unknown = std::move(outcome.notHandled);
    const auto r = static_cast<std::size_t>(row);
    if (row >= 0 && r < folder_.size() &&
        std::none_of(unknown.begin(), unknown.end(), [&](const auto& f) { return f.row == r; })) {
        unknown.push_back({browse::shownName(folder_.row(r)) + QStringLiteral(".mp3"),
                           code::kDeviceUnavailable, r});
    }
    std::vector<std::size_t> unread;
    for (const write::Failure& f : unknown)
        if (f.code == code::kDeviceUnavailable)
            unread.push_back(f.row);
    folder_.markUnread(unread);
    // The drive as the listing named it: asking the drives now would wait for this one again.
    outcome.messages.clear();
    outcome.messages.push_back(platform::error(
        QStringLiteral("Enhet %1 går inte att komma åt.").arg(folder_.driveRoot()) +
        (unknown.empty() ? QString() : u'\n' + write::failureText(unknown, heading))));
    outcome.notHandled = std::move(unknown);
    return outcome;
}

void frmMain::spara_tag(int typ) {
    if (typ < static_cast<int>(core::Typ::Artist) || typ > static_cast<int>(core::Typ::Filnamn)) {
        return;
    }
    showOutcome(watch(
        [&] {
            return folder_.writeField(static_cast<core::Typ>(typ), selectedFlags(), editorValues(),
                                      *this);
        },
        kNotWritten));
}

void frmMain::mnuId3v2_Click() {
    const core::Outcome outcome =
        watch([&] { return folder_.importOtherTags(selectedFlags(), *this); }, kNotWritten);
    ListView1_Click();  // the editor and the second panel show what was written
    showOutcome(outcome);
}

void frmMain::showOtherTag() {
    const int current = currentRow();
    const QString text =
        current < 0 ? QString() : folder_.otherTagText(static_cast<std::size_t>(current));
    statusPanel2_->setText(text);
    statusPanel2_->setToolTip(text);
}

void frmMain::showUndoState() {
    const QString text = folder_.undoText();
    mnuAngra->setEnabled(!text.isEmpty());
    mnuAngra->setToolTip(text.isEmpty() ? QStringLiteral("Inget att ångra") : text);
    mnuAngra->setStatusTip(text);
    // A screen reader hears the tip as the command's description (see accessible.h).
    QAccessibleEvent changed(mnuAngra, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
}

void frmMain::mnuAngra_Click() {
    const core::Outcome outcome = watch([&] { return folder_.undo(*this); },
                                        QStringLiteral("Följande filer kunde inte återställas:"));
    ListView1_Click();
    showOutcome(outcome);
}

void frmMain::cmdArtist_Click() {
    spara_tag(static_cast<int>(core::Typ::Artist));
}

void frmMain::cmdTitel_Click() {
    spara_tag(static_cast<int>(core::Typ::Titel));
}

void frmMain::cmdAlbum_Click() {
    spara_tag(static_cast<int>(core::Typ::Album));
}

void frmMain::cmdAr_Click() {
    spara_tag(static_cast<int>(core::Typ::Ar));
}

void frmMain::cmdGenre_Click() {
    spara_tag(static_cast<int>(core::Typ::Genre));
}

void frmMain::cmdKommentarer_Click() {
    spara_tag(static_cast<int>(core::Typ::Kommentarer));
}

void frmMain::cmdFilnamn2Tag_Click() {
    spara_tag(static_cast<int>(core::Typ::Filnamn));
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
    folder_.setSplit(Index);
}

void frmMain::cmdSpara_Click() {
    if (const int current = currentRow(); current >= 0) {
        showOutcome(watch(
            [&] {
                return folder_.save(static_cast<std::size_t>(current), editorValues(),
                                    txtFilnamn->text());
            },
            kNotWritten, current));
    }
}

void frmMain::cmdFilnamn_Click() {
    if (const int current = currentRow(); current >= 0) {
        showOutcome(watch(
            [&] { return folder_.rename(static_cast<std::size_t>(current), txtFilnamn->text()); },
            kNotRenamed, current));
    }
}

void frmMain::cmdTag2Filnamn_Click() {
    showOutcome(watch([&] { return folder_.namesFromTags(selectedFlags()); }, kNotRenamed));
}

void frmMain::mnuHogerRadera_Click() {
    const int current = currentRow();
    const std::size_t before = folder_.size();
    watched_.tryAgain();
    const core::Outcome outcome = folder_.remove(
        current >= 0 ? std::optional(static_cast<std::size_t>(current)) : std::nullopt);
    if (folder_.size() < before)
        showRowAfterRemoval(current);
    showOutcome(outcome);
}

void frmMain::showRowAfterRemoval(int removed) {
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
    const QModelIndex next = model_->index(std::min(removed, count - 1), 0);
    selection->setCurrentIndex(
        next, selection->hasSelection()
                  ? QItemSelectionModel::NoUpdate
                  : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView1->scrollTo(next);
    ListView1_Click();
}

void frmMain::ListView1_DblClick() {
    const int current = currentRow();
    watched_.tryAgain();
    showOutcome(folder_.play(current >= 0 ? std::optional(static_cast<std::size_t>(current))
                                          : std::nullopt));
}

void frmMain::mnuHogerSpela_Click() {
    ListView1_DblClick();
}

}  // namespace sorvel::app
