#pragma once

#include "app/twips.h"
#include "app/watched_filesystem.h"
#include "core/folder.h"
#include "core/rules.h"
#include "core/settings.h"
#include "platform/desktop.h"
#include "platform/filesystem.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace sorvel::app {

class DriveChooser;
class FileListModel;
class FileListView;
class FolderList;
class frmSplash;

/// The program's one working window: drive and folder choosers, the file list, the tag editor,
/// the command buttons, menus, status bar and progress bar. Its commands are the folder's; the
/// window reads its controls for them and shows what they leave.
class frmMain : public QMainWindow, public core::SettingsTarget, public core::StatusObserver {
    Q_OBJECT
public:
    /// The platform services the window works through; they outlive the window.
    struct Services {
        platform::FileSystem& fs;
        platform::MessageBoxes& boxes;
        platform::Opener& opener;
        platform::Clock& clock;
        platform::Registry& registry;
        platform::ProgramFolder& programFolder;
        platform::Drives& drives;
        platform::Trash& trash;
    };

    explicit frmMain(Services services, QWidget* parent = nullptr);
    ~frmMain() override;

    /// Start-up: notes the start time, shows the splash, fills the genre chooser and restores the
    /// settings (which scans the saved folder). The caller shows the window afterwards.
    void Form_Load();

    /// Whether a call to a drive that stopped answering is still waiting: then the program must
    /// end without destructors, which would wait for it.
    bool leftWaiting() const { return watched_.stuck(); }

    /// The folder on show, for reading only: its commands are the window's to call.
    const core::Folder& folder() const { return folder_; }
    /// The rows of the file list, in list order.
    FileListModel& listModel() { return *model_; }
    /// The selected rows, in list order.
    std::vector<int> selectedRows() const;
    /// One flag per row, in list order: whether the row is selected.
    std::vector<bool> selectedFlags() const;
    /// The tag fields of the editor as they show now.
    core::EditorValues editorValues() const;
    /// The current row (the one the editor shows), or -1.
    int currentRow() const;
    /// The folder the folder chooser shows, without a separator at the end except for a root.
    QString dir1Path() const;

    /// The status text and the progress bar. Every value is kept at once; the bar is painted at
    /// most every 20 ms while a command runs, and with its last values when the command ends.
    void setStatus(const QString& text) override;
    QString statusText() const { return statusText_; }
    void setProgressMax(int max) override;
    void setProgress(int value) override;
    int progressValue() const { return progressValue_; }
    int progressMax() const { return progressMax_; }

    // SettingsTarget: how the settings file restores the window.
    Code applyDrive(const QString& folder) override;
    Code applyFolder(const QString& folder) override;
    Code applyWindowState(int state) override;
    Code applyTop(double twips) override;
    Code applyLeft(double twips) override;
    Code applyWidth(double twips) override;
    Code applyHeight(double twips) override;

public Q_SLOTS:
    /// The folder scan: lists the MP3 files of the folder chooser's folder.
    void Dir1_Change();
    void Drive1_Change();
    void mnuUppdatera_Click();
    void mnuAngra_Click();
    /// Fills the editor from the current row and shows the buttons that suit the selection.
    void ListView1_Click();
    /// `column` counts from 1 at the first column.
    void ListView1_ColumnClick(int column);
    void ListView1_KeyDown(int keyCode, int shift);
    void ListView1_MouseDown(int button, int shift, QPoint pos);
    void mnuAvsluta_Click();
    void mnuHjalpHjalp_Click();
    void mnuOm_Click();

    // Tag writing: one field into every selected file, artist and title
    // from the file names, and the whole tag of the current row's file.
    /// Writes field `typ` (1 artist, 2 title, 3 album, 4 year, 5 genre, 6 comment, 7 artist and
    /// title from the file names) into every selected file and repaints the rows written.
    void spara_tag(int typ);
    void cmdArtist_Click();
    void cmdTitel_Click();
    void cmdAlbum_Click();
    void cmdAr_Click();
    void cmdGenre_Click();
    void cmdKommentarer_Click();
    void cmdFilnamn2Tag_Click();
    /// `button` and `shift` as FileListView::mouseDown gives them; `pos` in the button.
    void cmdFilnamn2Tag_MouseDown(int button, int shift, QPoint pos);
    /// `Index` 1 to 4: the hyphen at which the next file name to tag splits.
    void mnuFilnamn2tagNr_Click(int Index);
    void cmdSpara_Click();
    /// "Tag från ID3v2": fills the trailer of every selected file from its ID3v2 (else APEv2)
    /// tag, through the same writer as the field buttons.
    void mnuId3v2_Click();

private:
    void connectWriteCommands();
    /// The second status panel: what the folder says of the current row's other tag.
    void showOtherTag();
    void showUndoState();
    /// Shows what a command left: its status painted, the editor's typing made part of what the
    /// fields show, the undo command, the messages one after the other, a new listing.
    void showOutcome(const core::Outcome& outcome);
    /// Runs a command that writes or renames. When the drive stops answering it leaves one
    /// message, which names the files not known to be done under `heading` (with `row`'s file, for
    /// a command on one row), and their rows are read again before any later write.
    core::Outcome watch(const std::function<core::Outcome()>& command, const QString& heading,
                        int row = -1);

    // File operations: rename, names from tags, delete and play.
public Q_SLOTS:
    void cmdFilnamn_Click();
    void cmdTag2Filnamn_Click();
    /// Deletes the current row's file: for good after Shift+Delete, else to the trash.
    void mnuHogerRadera_Click();
    void ListView1_DblClick();
    void mnuHogerSpela_Click();

private:
    void connectFileCommands();
    /// After the row at `removed` went: the row that takes its place becomes current and the
    /// editor shows it.
    void showRowAfterRemoval(int removed);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createEditor(QWidget* area);
    void createCommandButtons(QWidget* area);
    void createList(QWidget* area);
    void createMenus();
    void createStatusBar();
    void nameForScreenReaders();
    void setTabOrderOfControls();
    void connectHandlers();
    /// Takes the drive list afresh, keeping the drive shown.
    void fillDrives();
    void showHomeFolder();

    void Form_Resize();
    void Form_KeyDown(int keyCode, int shift);
    void saveSettingsOnce();
    void applyRestoredGeometry();
    void applyRestoredPlace();
    /// `outer` moved onto the available area of the nearest screen, and cut to fit it.
    QRect onScreen(QRect outer) const;
    /// Whether the window system tells (and lets the program choose) where the window stands.
    static bool positionKnown();
    /// Where the window first stands, in twips from the screen's top left corner.
    static constexpr double kFirstLeft = 2130;
    static constexpr double kFirstTop = 3270;
    void fitRestoredFrameSoon();
    /// Puts the window where the settings placed it once its frame is known; `last` gives up
    /// on a frame that never shows.
    void fitRestoredFrame(bool last);

    void place(QWidget* w, double left, double top, double width, double height);
    void setEditorEnabled(bool enabled);
    void clearEditor();
    /// Drops the editor fields' typing history, keeping what they show.
    void forgetTyping();
    void showButtonsFor(int selectedCount);
    void waitForSplash();
    void paintStatus(bool now);
    void flushStatus();
    int selectDrive(const QString& root);
    Code openFolder(const QString& folder);

    Services s_;
    WatchedFileSystem watched_;
    core::Folder folder_;
    // The clock's reading when the window began loading, in seconds.
    double starttid_ = 0;
    Twips tw_;

    // Controls, named as the handlers know them.
    DriveChooser* Drive1 = nullptr;
    FolderList* Dir1 = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* txtFilnamn = nullptr;
    QPushButton* cmdFilnamn = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtArtist = nullptr;
    QPushButton* cmdArtist = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtTitel = nullptr;
    QPushButton* cmdTitel = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtAlbum = nullptr;
    QPushButton* cmdAlbum = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* txtAr = nullptr;
    QPushButton* cmdAr = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* cmdGenre = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* txtKommentarer = nullptr;
    QPushButton* cmdKommentarer = nullptr;
    QPushButton* cmdFilnamn2Tag = nullptr;
    QPushButton* cmdTag2Filnamn = nullptr;
    QPushButton* cmdSpara = nullptr;
    FileListView* ListView1 = nullptr;
    FileListModel* model_ = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* statusPanel1_ = nullptr;
    QLabel* statusPanel2_ = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    // Menus.
    QAction* mnuAvsluta = nullptr;
    QAction* mnuUppdatera = nullptr;
    QAction* mnuAngra = nullptr;
    QAction* mnuId3v2 = nullptr;
    QMenu* mnuInstallningar = nullptr;
    QMenu* mnuFilnamn2tag = nullptr;
    std::array<QAction*, 4> mnuFilnamn2tagNr{};  // indexes 1 to 4 at positions 0 to 3
    QMenu* mnuHjalp = nullptr;
    QAction* mnuHjalpHjalp = nullptr;
    QAction* mnuOm = nullptr;
    QMenu* mnuHoger = nullptr;
    QAction* mnuHogerSpela = nullptr;
    QAction* mnuHogerRadera = nullptr;
    QAction* mnuHogerId3v2 = nullptr;

    frmSplash* splash_ = nullptr;

    std::vector<platform::Drives::Drive> drives_;

    QString statusText_;
    int progressMax_ = 100;
    int progressValue_ = 0;
    QElapsedTimer lastPaint_;
    bool flushPending_ = false;

    struct Restored {
        bool state = false;
        int windowState = 0;
        bool top = false, left = false, width = false, height = false;
        double topTw = 0, leftTw = 0, widthTw = 0, heightTw = 0;
    } restored_;
    // The outer place and size the settings asked for, until the window's frame is known.
    QRect restoredOuter_;

    bool settingsSaved_ = false;

    // The key press the window previewed last, to tell a new press from one travelling on.
    QPointer<QWidget> keyTarget_;
    int keyCode_ = 0;
    quint64 keyStamp_ = 0;
};

}  // namespace sorvel::app
