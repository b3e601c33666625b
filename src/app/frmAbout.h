#pragma once

#include "platform/desktop.h"
#include "platform/filesystem.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace sorvel::app {

/// The About window: title, version, where the newest version is, and the system-information
/// program of the platform, where it has one.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    struct Services {
        platform::MessageBoxes& boxes;
        platform::Opener& opener;
        platform::Registry& registry;
        platform::FileSystem& fs;
    };

    frmAbout(Services services, QWidget* owner);

    /// A string value of the registry; false and `keyVal` empty when there is none.
    bool GetKeyValue(platform::Registry::Root keyRoot, const QString& keyName,
                     const QString& subKeyRef, QString& keyVal);
    /// Starts the system-information program, or says that there is none.
    void StartSysInfo();

public Q_SLOTS:
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Label2_Click();

private:
    Services s_;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblVersion = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
};

}  // namespace sorvel::app
