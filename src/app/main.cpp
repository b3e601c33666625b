#include "app/frmMain.h"
#include "app/resources.h"
#include "platform/desktop_posix.h"
#include "platform/drives_posix.h"
#include "platform/filesystem.h"
#include "platform/gio_trash.h"
#include "platform/message_boxes_qt.h"

#include <QApplication>
#include <QIcon>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sorvel"));
    QApplication::setDesktopFileName(QStringLiteral("sorvel"));
    sorvel::app::installQtTexts();

    using namespace sorvel;
    platform::PosixFileSystem fs;
    platform::QtMessageBoxes boxes;
    platform::XdgOpener opener;
    platform::SteadyClock clock;
    platform::NoRegistry registry;
    platform::ExecutableFolder programFolder;
    platform::PosixDrives drives;
    platform::GioTrash trash;

    app::frmMain window({fs, boxes, opener, clock, registry, programFolder, drives, trash});
    boxes.setOwner(&window);
    window.Form_Load();
    window.show();
    const int status = QApplication::exec();
    // The settings are saved. A call still waiting for a drive that stopped answering would
    // hold the destructors, and with them the end of the program, for as long as the drive.
    if (window.leftWaiting())
        std::quick_exit(status);
    return status;
}
