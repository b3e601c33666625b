#include "app/frmMain.h"

#include "app/accessible.h"
#include "app/drive_chooser.h"
#include "app/file_list_model.h"
#include "app/file_list_view.h"
#include "app/fitting_font.h"
#include "app/folder_list.h"
#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "app/resources.h"
#include "app/tag_text_validator.h"
#include "platform/names.h"

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

// Design figures of the window, in twips.
constexpr double kMinWidth = 10590;
constexpr double kMinHeight = 6360;
constexpr double kListTop = 2640;
constexpr double kListWidthLess = 120;       // the list is this much narrower than the window
constexpr double kListHeightLess = 3580;     // and this much lower
constexpr double kFixedColumns = 1980;       // what the year and genre columns leave the others
constexpr double kProgressFromRight = 2230;  // progress bar's left edge from the status bar's right

}  // namespace

frmMain::frmMain(Services services, QWidget* parent)
    : QMainWindow(parent),
      s_(services),
      watched_(services.fs),
      folder_({watched_, services.boxes, services.opener, services.drives, services.trash}),
      tw_(Twips::of(QGuiApplication::primaryScreen())) {
    initResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Sorvel"));
    QIcon icon(QStringLiteral(":/sorvel/icon-48.png"));
    icon.addFile(QStringLiteral(":/sorvel/icon-256.png"));
    setWindowIcon(icon);

    createControls();
    describeUndoForScreenReaders();
    nameChoosersForScreenReaders();
    createMenus();
    createStatusBar();
    nameForScreenReaders();
    setTabOrderOfControls();
    connectHandlers();
    connect(mnuAvsluta, &QAction::triggered, this, &frmMain::mnuAvsluta_Click);
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

    Dir1 = new FolderList(s_.fs, area);
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

    txtArtist = field("txtArtist", QStringLiteral("Här skriver du in artistnamnet."),
                      core::kTextWidth, 5520, 480, 2895);
    Label2 = label("Label2", QStringLiteral("Artist:"), txtArtist, 4800, 480, 615);
    cmdArtist = sButton("cmdArtist",
                        QStringLiteral("Spara det inskrivna artistnamnet i samtliga markerade "
                                       "filer."),
                        8520, 480);

    txtTitel = field("txtTitel", QStringLiteral("Här skriver du in titel."), core::kTextWidth, 5520,
                     840, 2895);
    Label3 = label("Label3", QStringLiteral("Titel:"), txtTitel, 4800, 840, 615);
    cmdTitel = sButton("cmdTitel",
                       QStringLiteral("Spara den inskrivna Titeln i samtliga markerade filer."),
                       8520, 840);

    txtAlbum = field("txtAlbum", QStringLiteral("Här skriver du in albumnamnet."), core::kTextWidth,
                     5520, 1200, 2895);
    Label4 = label("Label4", QStringLiteral("Album:"), txtAlbum, 4800, 1200, 615);
    cmdAlbum = sButton("cmdAlbum",
                       QStringLiteral("Spara det inskrivna albumnamet i samtliga markerade filer."),
                       8520, 1200);

    txtAr = field("txtAr", QStringLiteral("Här skriver du in ett årtal."), core::kYearWidth, 5520,
                  1560, 855);
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
                           core::kTextWidth, 5520, 2280, 2895);
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
    model_ = new FileListModel(folder_, this);
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

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Some window systems tell the frame's size only once the window is on screen, and some
    // then place the window itself where its frame was asked for.
    fitRestoredFrameSoon();
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

}  // namespace sorvel::app
