// The real window under Wayland, served by weston without a screen: a client there can neither
// learn nor choose where its window stands, so the place loaded is the place saved.
#include "../window/window_fixture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

using namespace sorvel::test;
using namespace Qt::StringLiterals;

namespace {

/// Starts weston with its headless back end, for as long as the process lives; says what kept it
/// from starting, or nothing.
QString startWeston(QProcess& weston, const QTemporaryDir& runtime) {
    if (QStandardPaths::findExecutable(u"weston"_s).isEmpty())
        return u"weston is not installed"_s;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.start(u"weston"_s,
                 u"--backend=headless-backend.so --socket=sorvel-0 --idle-time=0 "
                 u"--width=1024 --height=768"_s.split(u' '));
    const QString socket = runtime.filePath(u"sorvel-0"_s);
    for (int i = 0; i < 100 && !QFile::exists(socket) && weston.state() != QProcess::NotRunning;
         ++i)
        QThread::msleep(50);
    if (!QFile::exists(socket))
        return u"weston did not start: "_s + QString::fromLocal8Bit(weston.readAll());
    qputenv("WAYLAND_DISPLAY", "sorvel-0");
    return {};
}

QString whyNoWayland;

}  // namespace

class WaylandTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void thePlaceLoadedIsThePlaceSaved() {
        if (!whyNoWayland.isEmpty())
            QSKIP(qPrintable(whyNoWayland));
        QCOMPARE(QGuiApplication::platformName(), u"wayland"_s);
        WindowFixture f;
        f.start();
        QVERIFY(QTest::qWaitForWindowExposed(f.w));
        f.w->close();
        QCOMPARE(f.saved().at(3) + ' ' + f.saved().at(4), "top 1500 left 750");
    }
};

int main(int argc, char** argv) {
    QTemporaryDir runtime;
    QProcess weston;
    whyNoWayland = startWeston(weston, runtime);
    qputenv("QT_QPA_PLATFORM", whyNoWayland.isEmpty() ? "wayland" : "offscreen");
    const int result = [&] {
        QApplication app(argc, argv);
        WaylandTest test;
        return QTest::qExec(&test, argc, argv);
    }();
    weston.terminate();
    weston.waitForFinished(3000);
    return result;
}

#include "wayland_test.moc"
