// The real window under Wayland, served by weston without a screen: a client there can neither
// learn nor choose where its window stands, so the place loaded is the place saved.
#include "../window/window_fixture.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

using namespace sorvel;
using namespace sorvel::test;
using Calls = std::vector<std::string>;
using namespace Qt::StringLiterals;

namespace {

/// weston with its headless back end, for as long as the object lives; `whyNot()` says what
/// kept it from starting.
class Weston {
public:
    Weston() {
        if (QStandardPaths::findExecutable(u"weston"_s).isEmpty()) {
            why_ = u"weston is not installed"_s;
            return;
        }
        QFile::setPermissions(runtime_.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime_.path());
        weston_.setProcessEnvironment(env);
        weston_.setProcessChannelMode(QProcess::MergedChannels);
        weston_.start(u"weston"_s, {u"--backend=headless-backend.so"_s, u"--socket=sorvel-0"_s,
                                    u"--idle-time=0"_s, u"--width=1024"_s, u"--height=768"_s});
        for (int i = 0; i < 100 && !QFile::exists(runtime_.filePath(u"sorvel-0"_s)); ++i) {
            if (weston_.state() == QProcess::NotRunning)
                break;
            QThread::msleep(50);
        }
        if (!QFile::exists(runtime_.filePath(u"sorvel-0"_s))) {
            why_ = u"weston did not start: "_s + QString::fromLocal8Bit(weston_.readAll());
            return;
        }
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        qputenv("WAYLAND_DISPLAY", "sorvel-0");
    }
    ~Weston() {
        weston_.terminate();
        weston_.waitForFinished(3000);
    }
    QString whyNot() const { return why_; }

private:
    QTemporaryDir runtime_;
    QProcess weston_;
    QString why_;
};

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
        ScriptedSettings back;
        QCOMPARE(app::loadSettings(f.iniPath(), back), 1);
        QCOMPARE(Calls(back.calls.end() - 4, back.calls.end() - 2),
                 (Calls{"top 1500", "left 750"}));
    }
};

int main(int argc, char** argv) {
    Weston weston;
    whyNoWayland = weston.whyNot();
    qputenv("QT_QPA_PLATFORM", whyNoWayland.isEmpty() ? "wayland" : "offscreen");
    QApplication app(argc, argv);
    WaylandTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "wayland_test.moc"
