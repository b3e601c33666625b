// The desktop's real trash, in a home of the test's own.
#include "platform/gio_trash.h"
#include "platform/names.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <filesystem>

using namespace sorvel;
using namespace sorvel::platform;
using namespace Qt::StringLiterals;

namespace {

struct Trashing : ::testing::Test {
    void TearDown() override { std::filesystem::remove_all(home.toStdString()); }
    // The trash at `trash` holds `name` and its .trashinfo: `original` as "Path=", escaped as in a
    // URI (every byte outside what a URI path may hold as %XX), and the date. Then the desktop's
    // own tools (trash-cli), where installed, list the file by its original path and restore it
    // (they ask which of the trashed files: the first).
    void expectTrashed(const QString& bin, const QString& name, const QByteArray& original,
                       const QString& path) {
        EXPECT_EQ(test::readAll(bin + u"/files/"_s + name), "ljud");
        static const QRegularExpression info(
            u"^\\[Trash Info\\]\nPath=(([A-Za-z0-9._~!$&'()*+,;=:@/-]|%[0-9A-F]{2})*)\nDeletionDate=.+\n$"_s);
        const auto found = info.match(
            QString::fromLatin1(test::readAll(bin + u"/info/"_s + name + u".trashinfo"_s)));
        ASSERT_TRUE(found.hasMatch());
        EXPECT_EQ(QByteArray::fromPercentEncoding(found.captured(1).toLatin1()), original);
        // trash-cli shows a name that is not UTF-8 in a way of its own.
        if (!path.isValidUtf16() || QStandardPaths::findExecutable(u"trash-restore"_s).isEmpty())
            return;
        QProcess list;
        list.start(u"trash-list"_s, {});
        ASSERT_TRUE(list.waitForFinished(60000));
        EXPECT_TRUE(QString::fromUtf8(list.readAllStandardOutput()).contains(u' ' + path + u'\n'));
        QProcess::execute(u"sh"_s, {u"-c"_s, u"echo 0 | trash-restore \"$0\" >/dev/null"_s, path});
        EXPECT_EQ(test::readAll(path), "ljud");
    }
    const QString home = test::desktopHome() + u"data/Trash"_s;
    test::TempFolder dir;
    GioTrash trash;
};

}  // namespace

TEST_F(Trashing, KeepsTheFileAndItsOriginalPathAndTheDesktopRestoresIt) {
    for (const QString& name : {decodeName("lat\xe5 #.mp3"), u"a b %41 #x å.mp3"_s}) {
        const QString path = dir.write(name, "ljud");
        ASSERT_EQ(trash.moveToTrash(path), code::kOk);
        EXPECT_FALSE(test::present(path));
        expectTrashed(home, name, encodeName(path), path);
    }
    EXPECT_EQ(trash.moveToTrash(dir.file(u"saknas.mp3"_s)), code::kFileNotFound);
}

// In a child with an alarm clock, so that a loop fails the test instead of stopping the run.
TEST_F(Trashing, ABrokenTrashNeitherHangsNorLosesTheFile) {
    ASSERT_TRUE(QDir().mkpath(home + u"/files"_s));
    test::writeAll(home + u"/info"_s, "not a folder");
    const QString path = dir.write(u"kvar.mp3"_s, "ljud");
    const auto moveWithinAnAlarm = [&] {
        ::alarm(20);
        return trash.moveToTrash(path);
    };
    EXPECT_EXIT(::_exit(moveWithinAnAlarm() == code::kOk), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(test::readAll(path), "ljud");
    EXPECT_TRUE(QDir(home + u"/files"_s).isEmpty());
}

// A small ext2 file system mounted in the temporary folder is removable media, as far as the
// trash can tell: the file goes to the trash of its volume, with its path relative to the
// volume, which may be mounted elsewhere.
TEST_F(Trashing, AFileOnRemovableMediaGoesToTheTrashOfItsVolume) {
    const QString image = dir.file(u"bild.ext2"_s), root = dir.file(u"volym"_s);
    if (::geteuid() != 0 || !QDir().mkpath(root) ||
        QProcess::execute(u"truncate"_s, {u"-s8M"_s, image}) != 0 ||
        QProcess::execute(u"mkfs.ext2"_s, {u"-qF"_s, image}) != 0 ||
        QProcess::execute(u"mount"_s, {u"-oloop"_s, image, root}) != 0)
        GTEST_SKIP() << "no loop-mounted file system here (needs root)";
    const QString name = u"v å #.mp3"_s, path = root + u'/' + name;
    test::writeAll(path, "ljud");
    EXPECT_EQ(trash.moveToTrash(path), code::kOk);
    expectTrashed(root + u"/.Trash-"_s + QString::number(::geteuid()), name, encodeName(name),
                  path);
    ::umount2(encodeName(root).constData(), MNT_DETACH);
}
