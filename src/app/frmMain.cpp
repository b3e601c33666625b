#include "app/frmMain.h"

#include "app/drive_chooser.h"
#include "app/file_list_model.h"
#include "app/file_list_view.h"
#include "app/fitting_font.h"
#include "app/folder_list.h"
#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "app/resources.h"
#include "app/tag_text_validator.h"
#include "app/undo_accessible.h"
#include "browse/scan.h"
#include "platform/names.h"
#include "tag/genre.h"
#include "write/editor.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sorvel::app {
namespace {

using Answer = platform::MessageBoxes::Answer;
using Buttons = platform::MessageBoxes::Buttons;
using Icon = platform::MessageBoxes::Icon;

// Design figures of the window, in twips.
constexpr double kMinWidth = 10590;
constexpr double kMinHeight = 6360;
constexpr double kListTop = 2640;
constexpr double kListWidthLess = 120;       // the list is this much narrower than the window
constexpr double kListHeightLess = 3580;     // and this much lower
constexpr double kFixedColumns = 1980;       // what the year and genre columns leave the others
constexpr double kProgressFromRight = 2230;  // progress bar's left edge from the status bar's right

// How long the splash stays up at least, counted from the start of loading.
constexpr double kSplashSeconds = 3.0;
// The status bar is painted at most this often while a command runs.
constexpr qint64 kPaintEveryMs = 20;

QString errorText(Code c) {
    return QStringLiteral("Fel av typen %1.").arg(c);
}

QString homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0'
               ? platform::decodeName(std::string_view(home, std::strlen(home)))
               : QStringLiteral("/");
}

/// Collects the scan's rows and passes its status and progress on to the window.
class RowSink : public browse::ScanObserver {
public:
    explicit RowSink(frmMain& w) : w_(w) {}
    void setStatus(const QString& text) override { w_.setStatus(text); }
    void setProgressMax(int max) override {
        rows.reserve(static_cast<std::size_t>(max));
        w_.setProgressMax(max);
    }
    void setProgress(int value) override { w_.setProgress(value); }
    void addRow(browse::Row&& row) override { rows.push_back(std::move(row)); }

    std::vector<browse::Row> rows;

private:
    frmMain& w_;
};

}  // namespace

frmMain::frmMain(Services services, QWidget* parent)
    : QMainWindow(parent), s_(services), tw_(Twips::of(QGuiApplication::primaryScreen())) {
    initResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Sorvel"));
    QIcon icon(QStringLiteral(":/sorvel/icon-48.png"));
    icon.addFile(QStringLiteral(":/sorvel/icon-256.png"));
    setWindowIcon(icon);

    createControls();
    describeUndoForScreenReaders();
    createMenus();
    createStatusBar();
    nameForScreenReaders();
    setTabOrderOfControls();
    connectHandlers();
    fillDrives();
    showHomeFolder();

    // The design's client area holds everything below the menu bar.
    resize(tw_.x(11790), tw_.y(7080) + menuBar()->sizeHint().height());
    move(tw_.x(kFirstLeft), tw_.y(kFirstTop));

    // Key preview: the window sees every key before the control that has the focus.
    qApp->installEventFilter(this);
}

frmMain::~frmMain() {
    qApp->removeEventFilter(this);
}

// ---- Building the window ----

void frmMain::place(QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(tw_.rect(left, top, width, height));
}

void frmMain::createControls() {
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(area);

    Drive1 = new DriveChooser(area);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setToolTip(QStringLiteral("Välj en enhet."));
    Drive1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    place(Drive1, 120, 120, 2655, 315);
    // A screen reader on this platform names a chooser by the label that is its buddy, and
    // otherwise by its current value; the drive chooser's label is heard, not seen.
    auto* driveLabel = new QLabel(QStringLiteral("Enhet:"), area);
    driveLabel->setObjectName(QStringLiteral("lblEnhet"));
    driveLabel->setBuddy(Drive1);
    driveLabel->hide();

    Dir1 = new FolderList(area);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setToolTip(QStringLiteral("Välj en katalog."));
    place(Dir1, 120, 480, 4215, 1890);

    createEditor(area);
    createCommandButtons(area);
    createList(area);
    area->setFont(
        fittingFont(area->font(), {Label9, Label2, Label3, Label4, Label7, Label1, Label8}));
}

void frmMain::nameForScreenReaders() {
    // Controls without a caption of their own are otherwise announced by their content (the
    // chooser by its current genre) or not at all.
    const std::pair<QWidget*, const char*> names[] = {
        {Drive1, "Enhet"},
        {Dir1, "Katalog"},
        {ListView1, "Filer"},
        {Combo1, "Genre"},
        {statusPanel1_, "Status"},
        {statusPanel2_, "ID3v2-tagg"},
        {ProgressBar1, "Förlopp"},
        {cmdArtist, "Spara artist i markerade filer"},
        {cmdTitel, "Spara titel i markerade filer"},
        {cmdAlbum, "Spara album i markerade filer"},
        {cmdAr, "Spara årtal i markerade filer"},
        {cmdGenre, "Spara genre i markerade filer"},
        {cmdKommentarer, "Spara kommentarer i markerade filer"},
    };
    for (const auto& [widget, name] : names) {
        widget->setAccessibleName(QString::fromUtf8(name));
        widget->setAccessibleDescription(widget->toolTip());
    }
}

void frmMain::createEditor(QWidget* area) {
    auto label = [&](const char* name, const QString& caption, QWidget* buddy, double left,
                     double top, double width) {
        auto* l = new QLabel(caption, area);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setBuddy(buddy);
        place(l, left, top, width, 255);
        return l;
    };
    auto field = [&](const char* name, const QString& tip, int maxLength, double left, double top,
                     double width) {
        auto* e = new QLineEdit(area);
        e->setObjectName(QString::fromLatin1(name));
        e->setToolTip(tip);
        if (maxLength > 0) {  // a tag field
            e->setMaxLength(maxLength);
            e->setValidator(new TagTextValidator(e));
        }
        place(e, left, top, width, 285);
        return e;
    };
    auto sButton = [&](const char* name, const QString& tip, double left, double top) {
        auto* b = new QPushButton(QStringLiteral("S"), area);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setAutoDefault(false);
        place(b, left, top, 255, 255);
        return b;
    };

    txtFilnamn = field("txtFilnamn",
                       QStringLiteral("Här skriver du in ett nytt filnamn om du vill byta till ett "
                                      "annat."),
                       0, 4080, 120, 4335);
    Label9 = label("Label9", QStringLiteral("Filnamn(.mp3):"), txtFilnamn, 2880, 120, 1095);
    cmdFilnamn = sButton("cmdFilnamn", QString(), 8520, 120);
    cmdFilnamn->setAccessibleName(QStringLiteral("Byt filnamn"));

    txtArtist =
        field("txtArtist", QStringLiteral("Här skriver du in artistnamnet."), 30, 5520, 480, 2895);
    Label2 = label("Label2", QStringLiteral("Artist:"), txtArtist, 4800, 480, 615);
    cmdArtist = sButton("cmdArtist",
                        QStringLiteral("Spara det inskrivna artistnamnet i samtliga markerade "
                                       "filer."),
                        8520, 480);

    txtTitel = field("txtTitel", QStringLiteral("Här skriver du in titel."), 30, 5520, 840, 2895);
    Label3 = label("Label3", QStringLiteral("Titel:"), txtTitel, 4800, 840, 615);
    cmdTitel = sButton("cmdTitel",
                       QStringLiteral("Spara den inskrivna Titeln i samtliga markerade filer."),
                       8520, 840);

    txtAlbum =
        field("txtAlbum", QStringLiteral("Här skriver du in albumnamnet."), 30, 5520, 1200, 2895);
    Label4 = label("Label4", QStringLiteral("Album:"), txtAlbum, 4800, 1200, 615);
    cmdAlbum = sButton("cmdAlbum",
                       QStringLiteral("Spara det inskrivna albumnamet i samtliga markerade filer."),
                       8520, 1200);

    txtAr = field("txtAr", QStringLiteral("Här skriver du in ett årtal."), 4, 5520, 1560, 855);
    Label7 = label("Label7", QStringLiteral("Årtal:"), txtAr, 4800, 1560, 615);
    cmdAr =
        sButton("cmdAr", QStringLiteral("Spara det inskrivna årtalet i smatliga markerade filer."),
                6480, 1560);

    Combo1 = new QComboBox(area);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setToolTip(QStringLiteral("Här väljer du en genre."));
    Combo1->setEditable(false);
    place(Combo1, 5520, 1920, 1695, 315);
    Label1 = label("Label1", QStringLiteral("Genre:"), Combo1, 4560, 1920, 855);
    cmdGenre =
        sButton("cmdGenre", QStringLiteral("Spara den valda genren i samtliga markerade filer."),
                7320, 1920);

    txtKommentarer = field("txtKommentarer", QStringLiteral("Här kan du skriva in kommentarer."),
                           30, 5520, 2280, 2895);
    Label8 = label("Label8", QStringLiteral("Kommentarer:"), txtKommentarer, 4440, 2280, 975);
    cmdKommentarer = sButton("cmdKommentarer",
                             QStringLiteral("Spara inskrivna kommentarer i samtliga markerade "
                                            "filer."),
                             8520, 2280);

    // The six field buttons wait hidden until the selection asks for them.
    for (QPushButton* b : {cmdArtist, cmdTitel, cmdAlbum, cmdAr, cmdGenre, cmdKommentarer}) {
        b->hide();
    }
}

void frmMain::createCommandButtons(QWidget* area) {
    auto button = [&](const char* name, const QString& caption, const QString& tip, double top,
                      double height) {
        auto* b = new QPushButton(caption, area);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setAutoDefault(false);
        place(b, 8880, top, 1455, height);
        return b;
    };
    cmdFilnamn2Tag = button("cmdFilnamn2Tag", QStringLiteral("&Filnamn --> tag"),
                            QStringLiteral("Skapar artist och titel från filnamnet. Högerklicka "
                                           "för inställningar."),
                            600, 495);
    cmdTag2Filnamn = button("cmdTag2Filnamn", QStringLiteral("Filnamn <-- &tag"),
                            QStringLiteral("Skapar filnamn av typen artist - titel"), 1200, 495);
    cmdSpara =
        button("cmdSpara", QStringLiteral("&Spara tag"),
               QStringLiteral("Spara den inskrivna tag-texten i den markerade filen."), 1800, 735);
    cmdSpara->setIcon(QIcon(QStringLiteral(":/sorvel/spara.png")));
    cmdSpara->setIconSize(QSize(24, 23));
}

void frmMain::createList(QWidget* area) {
    model_ = new FileListModel(this);
    ListView1 = new FileListView(area);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(model_);
    ListView1->move(0, tw_.y(kListTop));
    ListView1->setColumnWidth(4, tw_.x(540));
    ListView1->setColumnWidth(5, tw_.x(1125));
}

void frmMain::createMenus() {
    auto name = [](QObject* o, const char* n) { o->setObjectName(QString::fromLatin1(n)); };
    QMenuBar* bar = menuBar();
    mnuAvsluta = bar->addAction(QStringLiteral("&Avsluta"));
    name(mnuAvsluta, "mnuAvsluta");
    mnuUppdatera = bar->addAction(QStringLiteral("&Uppdatera F5"));
    name(mnuUppdatera, "mnuUppdatera");
    mnuAngra = bar->addAction(QStringLiteral("&Ångra"));
    name(mnuAngra, "mnuAngra");
    mnuAngra->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    mnuAngra->setEnabled(false);
    mnuAngra->setToolTip(QStringLiteral("Inget att ångra"));
    mnuId3v2 = bar->addAction(QStringLiteral("Tag från ID3v&2"));
    name(mnuId3v2, "mnuId3v2");
    mnuId3v2->setStatusTip(
        QStringLiteral("Skriver titel, artist, album, årtal, kommentar och genre från filernas "
                       "ID3v2-tag (eller APEv2-tag) i de markerade filernas tag"));

    mnuInstallningar = bar->addMenu(QStringLiteral("&Inställningar"));
    name(mnuInstallningar, "mnuInstallningar");
    mnuFilnamn2tag = mnuInstallningar->addMenu(QStringLiteral("&Filnamn till tag"));
    name(mnuFilnamn2tag, "mnuFilnamn2tag");
    const std::array<QString, 4> splits = {
        QStringLiteral("Skilj vid &1:a - tecknet"), QStringLiteral("Skilj vid &2:e - tecknet"),
        QStringLiteral("Skilj vid &3:e - tecknet"), QStringLiteral("Skilj vid &4:e - tecknet")};
    for (int i = 0; i < 4; ++i) {
        QAction* a = mnuFilnamn2tag->addAction(splits[static_cast<std::size_t>(i)]);
        a->setObjectName(QStringLiteral("mnuFilnamn2tagNr%1").arg(i + 1));
        a->setProperty("index", i + 1);
        a->setCheckable(true);
        a->setChecked(i == 0);
        mnuFilnamn2tagNr[static_cast<std::size_t>(i)] = a;
    }

    mnuHjalp = bar->addMenu(QStringLiteral("&Hjälp"));
    name(mnuHjalp, "mnuHjalp");
    mnuHjalpHjalp = mnuHjalp->addAction(QStringLiteral("&Hjälp"));
    name(mnuHjalpHjalp, "mnuHjalpHjalp");
    name(mnuHjalp->addSeparator(), "mnuStreck");
    mnuOm = mnuHjalp->addAction(QStringLiteral("&Om..."));
    name(mnuOm, "mnuOm");

    // The list's pop-up menu, not on the menu bar.
    mnuHoger = new QMenu(QStringLiteral("högerklicksmeny"), this);
    name(mnuHoger, "mnuHoger");
    mnuHogerSpela = mnuHoger->addAction(QStringLiteral("Spela upp"));
    name(mnuHogerSpela, "mnuHogerSpela");
    mnuHogerId3v2 = mnuHoger->addAction(QStringLiteral("Tag från ID3v&2"));
    name(mnuHogerId3v2, "mnuHogerId3v2");
    name(mnuHoger->addSeparator(), "mnuHogerHm");
    mnuHogerRadera = mnuHoger->addAction(QStringLiteral("Radera filen"));
    name(mnuHogerRadera, "mnuHogerRadera");
}

void frmMain::createStatusBar() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);
    StatusBar1->setFixedHeight(std::max(tw_.y(270), StatusBar1->fontMetrics().height() + 4));
    statusPanel1_ = new QLabel(StatusBar1);
    statusPanel1_->setObjectName(QStringLiteral("StatusBar1Panel1"));
    // A long folder name is cut off at the edge rather than widening the window.
    statusPanel1_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusPanel1_->setMinimumWidth(1);
    StatusBar1->addWidget(statusPanel1_, 1);
    statusPanel2_ = new QLabel(StatusBar1);
    statusPanel2_->setObjectName(QStringLiteral("StatusBar1Panel2"));
    statusPanel2_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusPanel2_->setMinimumWidth(1);
    StatusBar1->addWidget(statusPanel2_, 1);
    // Keeps the second panel clear of the progress bar, which lies over the bar's right end.
    auto* underProgress = new QWidget(StatusBar1);
    underProgress->setFixedWidth(tw_.x(kProgressFromRight));
    StatusBar1->addWidget(underProgress, 0);

    // Not part of the status bar's own layout: it lies over the bar's right-hand part.
    ProgressBar1 = new QProgressBar(StatusBar1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, progressMax_);
    ProgressBar1->setValue(0);
    ProgressBar1->resize(tw_.x(1950), tw_.y(210));
    ProgressBar1->raise();
}

void frmMain::setTabOrderOfControls() {
    const std::array<QWidget*, 20> order = {
        Drive1,         Dir1,       txtArtist, txtTitel,       txtAlbum,       txtAr,     Combo1,
        txtKommentarer, cmdSpara,   cmdArtist, cmdTitel,       cmdAlbum,       cmdAr,     cmdGenre,
        cmdKommentarer, txtFilnamn, ListView1, cmdFilnamn2Tag, cmdTag2Filnamn, cmdFilnamn};
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void frmMain::connectHandlers() {
    connect(Drive1, &QComboBox::currentIndexChanged, this, &frmMain::Drive1_Change);
    connect(Drive1, &DriveChooser::aboutToShowPopup, this, &frmMain::fillDrives);
    connect(Dir1, &FolderList::pathChanged, this, &frmMain::Dir1_Change);
    connect(Dir1, &FolderList::openFailed, this, [this](const QString& path, int c) {
        while (c == code::kDeviceUnavailable) {
            if (!retryDrive(s_.drives.driveOf(path).root)) {
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
    connect(mnuAvsluta, &QAction::triggered, this, &frmMain::mnuAvsluta_Click);
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
    const QString home = homeFolder();
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

// ---- Start-up and shutdown ----

void frmMain::Form_Load() {
    starttid = s_.clock.seconds();

    splash_ = new frmSplash(this);
    splash_->show();
    splash_->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    Combo1->clear();
    for (const QString& genre : tag::chooserOrder()) {
        Combo1->addItem(genre);
    }
    Combo1->setCurrentIndex(-1);

    fil2tagNr = loadSettings(settingsPath(s_.programFolder.path()), *this);
    applyRestoredGeometry();
}

Code frmMain::applyDrive(const QString& folder) {
    const platform::Drives::Drive drive = s_.drives.driveOf(folder);
    if (const Code c = s_.drives.check(drive); c != code::kOk) {
        return c;
    }
    const int index = selectDrive(drive.root);
    return index < 0 ? code::kDeviceUnavailable : code::kOk;
}

Code frmMain::applyFolder(const QString& folder) {
    const QString before = Dir1->path();
    if (const Code c = openFolder(folder); c != code::kOk) {
        return c;
    }
    // Restoring the folder always lists it, even when the chooser already showed it.
    if (Dir1->path() == before) {
        Dir1_Change();
    }
    return code::kOk;
}

Code frmMain::applyWindowState(int state) {
    if (state < 0 || state > 2) {
        return code::kBadArgument;
    }
    restored_.state = true;
    restored_.windowState = state;
    return code::kOk;
}

namespace {

// Keeps a restored figure for when the window is placed: a finite number that a screen can
// hold, and for a size a positive one; anything else is refused as a failed step.
Code keep(double twips, bool size, bool& given, double& value) {
    if (!std::isfinite(twips) || std::abs(twips) >= 1e7 || (size && twips <= 0)) {
        return code::kBadArgument;
    }
    given = true;
    value = twips;
    return code::kOk;
}

}  // namespace

Code frmMain::applyTop(double twips) {
    return keep(twips, false, restored_.top, restored_.topTw);
}

Code frmMain::applyLeft(double twips) {
    return keep(twips, false, restored_.left, restored_.leftTw);
}

Code frmMain::applyWidth(double twips) {
    return keep(twips, true, restored_.width, restored_.widthTw);
}

Code frmMain::applyHeight(double twips) {
    return keep(twips, true, restored_.height, restored_.heightTw);
}

void frmMain::applyRestoredGeometry() {
    if (restored_.top || restored_.left || restored_.width || restored_.height) {
        applyRestoredPlace();
    }
    if (restored_.state) {
        const Qt::WindowStates states[] = {Qt::WindowNoState, Qt::WindowMinimized,
                                           Qt::WindowMaximized};
        setWindowState(states[restored_.windowState]);
    }
}

void frmMain::applyRestoredPlace() {
    // Position and size go to the normal window first, so that a maximised window returns to
    // them when it is restored.
    const QSize frame = frameGeometry().size() - size();
    QRect outer = frameGeometry();
    if (restored_.top) {
        outer.moveTop(tw_.y(restored_.topTw));
    }
    if (restored_.left) {
        outer.moveLeft(tw_.x(restored_.leftTw));
    }
    if (restored_.width) {
        outer.setWidth(tw_.x(restored_.widthTw));
    }
    if (restored_.height) {
        outer.setHeight(tw_.y(restored_.heightTw));
    }
    outer = onScreen(outer);
    move(outer.topLeft());
    resize(outer.size() - frame);
    restoredOuter_ = outer;
}

namespace {

// How far a rectangle lies from a screen's area: 0 when they overlap, less the more they do.
qint64 distance(const QRect& r, const QRect& area) {
    const QRect common = r.intersected(area);
    if (!common.isEmpty())
        return -qint64{common.width()} * common.height();
    const qint64 dx = std::max({area.left() - r.right(), r.left() - area.right(), 0});
    const qint64 dy = std::max({area.top() - r.bottom(), r.top() - area.bottom(), 0});
    return dx * dx + dy * dy;
}

}  // namespace

QRect frmMain::onScreen(QRect outer) const {
    // A monitor unplugged since, or a size from a larger one, would bring the window up where
    // the user can neither see nor reach it, and it would be saved there again.
    QRect area;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect available = screen->availableGeometry();
        if (area.isNull() || distance(outer, available) < distance(outer, area))
            area = available;
    }
    if (area.isEmpty())
        return outer;
    outer.setWidth(std::min(outer.width(), area.width()));
    outer.setHeight(std::min(outer.height(), area.height()));
    outer.moveLeft(std::clamp(outer.left(), area.left(), area.right() - outer.width() + 1));
    outer.moveTop(std::clamp(outer.top(), area.top(), area.bottom() - outer.height() + 1));
    return outer;
}

bool frmMain::positionKnown() {
    // A Wayland client can neither learn nor choose where its window stands.
    return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Some window systems tell the frame's size only once the window is on screen, and some
    // then place the window itself where its frame was asked for.
    fitRestoredFrameSoon();
}

void frmMain::fitRestoredFrameSoon() {
    if (restoredOuter_.isValid()) {
        QTimer::singleShot(0, this, [this] { fitRestoredFrame(false); });
        QTimer::singleShot(300, this, [this] { fitRestoredFrame(true); });
    }
}

void frmMain::fitRestoredFrame(bool last) {
    if (!restoredOuter_.isValid() || windowState() != Qt::WindowNoState) {
        return;
    }
    const QSize frame = frameGeometry().size() - size();
    if (frame == QSize(0, 0)) {
        if (last) {
            restoredOuter_ = QRect();  // no frame: the window stands where it was put
        }
        return;  // not known yet
    }
    // Put back where it was saved: a window that came up lower by its title bar would otherwise
    // creep up the screen by as much at every start.
    if (frameGeometry().topLeft() != restoredOuter_.topLeft()) {
        move(restoredOuter_.topLeft());
    }
    if (frameGeometry().size() != restoredOuter_.size()) {
        resize(restoredOuter_.size() - frame);
    }
    restoredOuter_ = QRect();
}

void frmMain::saveSettingsOnce() {
    if (settingsSaved_) {
        return;
    }
    settingsSaved_ = true;
    Settings st;
    st.folder = Dir1->path();
    st.windowState = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    // A minimised or maximised window keeps the place it returns to; one never yet shown in its
    // normal state keeps the place it was given, which its frame was not known for.
    const QMargins frame(geometry().left() - frameGeometry().left(),
                         geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    const QRect outer = st.windowState == 0 || normalGeometry().isEmpty() ? frameGeometry()
                        : restoredOuter_.isValid()                        ? restoredOuter_
                                                   : normalGeometry().marginsAdded(frame);
    st.top = std::round(tw_.fromY(outer.top()));
    st.left = std::round(tw_.fromX(outer.left()));
    if (!positionKnown()) {
        // Where the place cannot be told, the one loaded stands, or the first-start place.
        st.top = restored_.top ? restored_.topTw : kFirstTop;
        st.left = restored_.left ? restored_.leftTw : kFirstLeft;
    }
    st.width = std::round(tw_.fromX(outer.width()));
    st.height = std::round(tw_.fromY(outer.height()));
    st.fil2tagNr = fil2tagNr;
    const QString path = settingsPath(s_.programFolder.path());
    if (const Code c = saveSettings(path, st); c != code::kOk) {
        // Shutdown goes on; the user learns why the next start will not look like this one.
        s_.boxes.show(QStringLiteral("Fel"),
                      QStringLiteral("Inställningarna kunde inte sparas i %1 (fel av typen %2).")
                          .arg(path)
                          .arg(c),
                      Icon::Critical, Buttons::Ok);
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    saveSettingsOnce();
    if (splash_ != nullptr) {
        splash_->close();
    }
    event->accept();
}

void frmMain::mnuAvsluta_Click() {
    saveSettingsOnce();
    close();  // the close handling finds the settings already written
}

// ---- Layout ----

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        Form_Resize();
        if (windowState() == Qt::WindowNoState) {
            fitRestoredFrameSoon();  // first shown in its normal state now
        }
    }
}

void frmMain::Form_Resize() {
    if (isMinimized()) {
        return;
    }
    const QSize frame = frameGeometry().size() - size();
    QSize outer = frameGeometry().size();
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        const QSize minimum(tw_.x(kMinWidth), tw_.y(kMinHeight));
        if (outer.width() < minimum.width() || outer.height() < minimum.height()) {
            outer = outer.expandedTo(minimum);
            resize(outer - frame);  // the window system may apply it later: lay out for it now
        }
    }
    const double widthTw = tw_.fromX(outer.width());
    const double heightTw = tw_.fromY(outer.height());
    const QSize client = outer - frame;

    // The list never reaches under the status bar, whatever the window frame takes.
    const int below = client.height() - menuBar()->height() - StatusBar1->height() - ListView1->y();
    const int listHeight = std::clamp(tw_.y(heightTw - kListHeightLess), 0, std::max(0, below));
    ListView1->resize(std::max(0, tw_.x(widthTw - kListWidthLess)), listHeight);
    const int column = std::max(0, tw_.x((widthTw - kListWidthLess - kFixedColumns) / 5));
    for (const int c : {0, 1, 2, 3, 6}) {
        ListView1->setColumnWidth(c, column);
    }

    const int barWidth = client.width();
    ProgressBar1->move(barWidth - tw_.x(kProgressFromRight),
                       (StatusBar1->height() - ProgressBar1->height()) / 2);
}

// ---- Keys ----

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // A field claims Ctrl+Z for its own typing. With none left to take back, the press is
        // the user asking to undo the last command, so it goes on to "&Ångra".
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit != nullptr && edit->window() == this && !edit->isUndoAvailable() &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) {
            return true;
        }
        return false;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
        return false;
    }
    auto* target = static_cast<QWidget*>(watched);
    if (target->window() != this) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    // A key the focused control leaves alone travels on to its parents as the same press;
    // the window previews each press once.
    const bool travelling = keyTarget_ != nullptr && target->isAncestorOf(keyTarget_) &&
                            keyCode_ == key->key() && keyStamp_ == key->timestamp();
    keyTarget_ = target;
    keyCode_ = key->key();
    keyStamp_ = key->timestamp();
    if (!travelling) {
        Form_KeyDown(key->key(), FileListView::shiftState(key->modifiers()));
    }
    return false;  // never consumed: the control gets the key afterwards
}

void frmMain::Form_KeyDown(int keyCode, int /*shift*/) {
    if (keyCode == Qt::Key_F5) {
        Dir1_Change();
    }
}

// ---- Drives and folders ----

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
    for (;;) {
        Code c = s_.drives.check(drive);
        if (c == code::kOk) {
            // The drive's folder of last time, or its root when that has gone.
            const auto it = driveFolders_.find(drive.root);
            c = it != driveFolders_.end() ? Dir1->setPath(drive.root, it->second)
                                          : code::kPathNotFound;
            if (c != code::kOk) {
                c = Dir1->setPath(drive.root, drive.root);
            }
        }
        if (c == code::kOk) {
            return;
        }
        if (c != code::kDeviceUnavailable) {
            s_.boxes.show(QStringLiteral("Fel"), errorText(c), Icon::Critical, Buttons::Ok);
            return;
        }
        if (retryDrive(drive.root)) {
            continue;
        }
        // Both choosers agree again on the folder on show.
        selectDrive(s_.drives.driveOf(Dir1->path()).root);
        return;
    }
}

bool frmMain::retryDrive(const QString& root) {
    return s_.boxes.show(
               QStringLiteral("Fel"),
               QStringLiteral("Enhet ") + root + QStringLiteral(" går inte att komma åt."),
               Icon::None, Buttons::RetryCancel) == Answer::Retry;
}

QString frmMain::dir1Path() const {
    return Dir1->path();
}

// ---- The folder scan ----

void frmMain::mnuUppdatera_Click() {
    Dir1_Change();
}

void frmMain::Dir1_Change() {
    model_->clear();
    const QString shown = katalog;
    katalog = browse::katalogFor(Dir1->path());
    // What undo remembers is of the folder it was done in; a rescan of that folder keeps it.
    if (katalog != shown) {
        journal_.clear();
        showUndoState();
    }
    const QString root = s_.drives.driveOf(Dir1->path()).root;
    driveFolders_[root] = Dir1->path();

    RowSink sink(*this);
    std::size_t found = 0;
    Code c = browse::scanFolder(s_.fs, katalog, sink, found);
    while (c == code::kDeviceUnavailable && retryDrive(root)) {
        c = browse::scanFolder(s_.fs, katalog, sink, found);
    }
    model_->append(std::move(sink.rows));
    flushStatus();
    if (c != code::kOk) {
        // The folder went away or became unreadable while it was shown.
        clearEditor();
        const QString text =
            QStringLiteral("Katalogen %1 går inte att läsa (fel av typen %2).").arg(katalog).arg(c);
        setStatus(text);
        flushStatus();
        if (c != code::kDeviceUnavailable) {
            s_.boxes.show(QStringLiteral("Fel"), text, Icon::Critical, Buttons::Ok);
        }
        return;
    }
    if (found == 0) {
        clearEditor();
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
    while (s_.clock.seconds() - starttid <= kSplashSeconds) {
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

// ---- Selection and the editor ----

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

write::EditorValues frmMain::editorValues() const {
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
        const browse::Row& r = model_->row(current);
        auto fill = [](QLineEdit* e, const QString& t) {
            TagTextValidator::fill(*e, write::shownText(t));
        };
        fill(txtArtist, r.artist);
        fill(txtTitel, r.title);
        fill(txtAlbum, r.album);
        fill(txtAr, r.year);
        Combo1->setCurrentIndex(tag::genre_tal2(write::shownText(r.genre)) - 1);
        fill(txtKommentarer, r.comment);
        txtFilnamn->setText(browse::shownName(r));
        showOtherTag();
    }
    showButtonsFor(selected);
}

void frmMain::ListView1_ColumnClick(int column) {
    model_->sortByColumn(column - 1);
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSortIndicator(model_->sortColumn(), model_->sortOrder());
}

void frmMain::ListView1_KeyDown(int keyCode, int shift) {
    if (keyCode == Qt::Key_Delete) {
        // 1 (Shift alone) deletes for good, else to the trash; the menu's "Radera filen" keeps
        // using the mode the last press left.
        ingenpapperskorg = shift;
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

// ---- Help and About ----

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

}  // namespace sorvel::app
