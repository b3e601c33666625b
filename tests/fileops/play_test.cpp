// Play through the desktop's real open command (xdg-open), with a player of the test's own.
#include "fileops/fileops.h"
#include "platform/desktop_posix.h"
#include "support/fake_desktop.h"
#include "support/test_desktop.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

using namespace sorvel;

TEST(Play, TheDesktopsOpenCommandStartsItsPlayerWithTheFilesPath) {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        GTEST_SKIP() << "xdg-open is not installed";
    }
    test::TestDesktop desktop("audio/mpeg");
    test::TempFolder music;
    platform::PosixFileSystem fs;
    test::FakeMessageBoxes boxes;
    platform::XdgOpener opener;
    // An ID3v2 header and an MPEG frame header: audio/mpeg by content as well as by name.
    const QByteArray mpeg =
        QByteArray("ID3\x03\0\0\0\0\0\0\xff\xfb\x90\0", 14) + QByteArray(400, '\0');
    for (const QString& base :
         {QStringLiteral("Låt med blanksteg #1 $x"), platform::decodeName("lat\xe5 'x'")}) {
        if (!base.isValidUtf16())
            desktop.withoutMimeInfoTool();
        const QString path = music.write(base + QStringLiteral(".MP3"), mpeg);
        browse::Row row;
        row.name = base;
        fileops::ListView1_DblClick(fs, boxes, opener, music.path(), &row);
        EXPECT_EQ(desktop.waitForProgram(), platform::encodeName(path));
    }
    EXPECT_TRUE(boxes.shown.empty());
}
