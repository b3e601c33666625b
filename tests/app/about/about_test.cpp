// The About window as the user meets it: its texts, the link to the home page and its buttons.
#include "../window/window_fixture.h"
#include "app/frmAbout.h"
#include "app/project_texts.h"

#include <QLabel>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;

class AboutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The version is the release's; the link opens the home page; "System Info" says there is no
    // such program where the platform has none; Enter gives OK, which closes the window.
    void aboutShowsTheReleaseAndItsButtonsAnswer() {
        WindowFixture f;  // for its desktop services
        app::frmAbout about({f.boxes, f.opener, f.registry, f.fs}, nullptr);
        about.show();
        const auto label = [&](const char* name) {
            return about.findChild<QLabel*>(QString::fromLatin1(name));
        };
        QCOMPARE(about.windowTitle(), u"Om Sorvel"_s);
        QCOMPARE(label("lblVersion")->text(), u"Version 1.0.5"_s);
        QVERIFY2(label("lblDescription")->text().contains(app::mailAddress()), "mail");
        QCOMPARE(label("Label2")->text(), app::homePage());
        QTest::mouseClick(label("Label2"), Qt::LeftButton);
        QCOMPARE(f.opener.opened, std::vector{app::homePage()});

        QTest::mouseClick(about.findChild<QPushButton*>(u"cmdSysInfo"_s), Qt::LeftButton);
        const FakeMessageBoxes::Shown none{u"Sorvel"_s,
                                           u"System Information Is Unavailable At This Time"_s,
                                           platform::MessageBoxes::Icon::None};
        QCOMPARE(f.boxes.shown, std::vector{none});

        QCOMPARE(about.findChild<QPushButton*>(u"cmdOK"_s)->text(), u"OK"_s);
        QTest::keyClick(&about, Qt::Key_Return);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY2(!about.isVisible(), "closed by OK");
    }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
