#include "app/frmAbout.h"

#include "app/clickable_label.h"
#include "app/project_texts.h"
#include "app/resources.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace sorvel::app {
namespace {

QFrame* line(QWidget* parent, const char* name) {
    auto* l = new QFrame(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFrameShape(QFrame::HLine);
    l->setFrameShadow(QFrame::Sunken);
    return l;
}

}  // namespace

frmAbout::frmAbout(Services services, QWidget* owner) : QDialog(owner), s_(services) {
    initResources();
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Om ") + QStringLiteral("Sorvel"));
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap(QStringLiteral(":/sorvel/icon-48.png")));
    Image1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    lblVersion = new QLabel(versionText(), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    lblDescription = new QLabel(
        QStringLiteral("Den senaste versionen av Sorvel finns alltid på hemsidan nedan. Frågor, "
                       "idéer och felrapporter är mycket välkomna med e-post till %1.")
            .arg(mailAddress()),
        this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setWordWrap(true);
    lblDescription->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Label1 = new QLabel(QStringLiteral("Besök Dalvors hemsida:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));

    auto* link = new ClickableLabel(homePage(), this);
    link->setObjectName(QStringLiteral("Label2"));
    link->setToolTip(QStringLiteral("Klicka här för att komma till Dalvors Hemsida!"));
    link->setCursor(Qt::PointingHandCursor);
    QFont f = link->font();
    f.setUnderline(true);
    link->setFont(f);
    link->setStyleSheet(QStringLiteral("color: palette(link);"));
    Label2 = link;
    connect(link, &ClickableLabel::clicked, this, &frmAbout::Label2_Click);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setAutoDefault(false);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    auto* text = new QVBoxLayout;
    text->addWidget(lblVersion);
    text->addSpacing(6);
    text->addWidget(lblDescription);
    text->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addSpacing(10);
    top->addLayout(text, 1);

    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(Label1);
    linkRow->addWidget(Label2);
    linkRow->addStretch(1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(linkRow, 1);
    bottom->addLayout(buttons);

    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addWidget(line(this, "Line1"));
    all->addWidget(line(this, "Line1b"));
    all->addLayout(bottom);
    setMinimumWidth(380);
}

void frmAbout::cmdOK_Click() {
    accept();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::Label2_Click() {
    (void)s_.opener.open(homePage());
}

bool frmAbout::GetKeyValue(platform::Registry::Root keyRoot, const QString& keyName,
                           const QString& subKeyRef, QString& keyVal) {
    return s_.registry.value(keyRoot, keyName, subKeyRef, keyVal);
}

void frmAbout::StartSysInfo() {
    using Root = platform::Registry::Root;
    QString program;
    if (!GetKeyValue(Root::LocalMachine,
                     QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                     QStringLiteral("PATH"), program)) {
        QString folder;
        if (GetKeyValue(Root::LocalMachine,
                        QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                        QStringLiteral("MSINFO"), folder)) {
            const QString candidate = folder + QStringLiteral("\\MSINFO32.EXE");
            if (s_.fs.exists(candidate)) {
                program = candidate;
            }
        }
    }
    if (!program.isEmpty() && s_.opener.startProgram(program)) {
        return;
    }
    s_.boxes.show(QStringLiteral("Sorvel"),
                  QStringLiteral("System Information Is Unavailable At This Time"),
                  platform::MessageBoxes::Icon::None, platform::MessageBoxes::Buttons::Ok);
}

}  // namespace sorvel::app
