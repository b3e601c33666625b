// The desktop's real trash, in a home of the test's own (see main below).
#include "platform/gio_trash.h"
#include "platform/names.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>

using namespace sorvel;
using namespace sorvel::platform;
using namespace Qt::StringLiterals;

namespace {

// QDir::removeRecursively() cannot reach names that are not UTF-8.
void removeAll(const QString& path) {
    std::error_code ignored;
    std::filesystem::remove_all(encodeName(path).toStdString(), ignored);
}

const bool kTrashCli = !QStandardPaths::findExecutable(u"trash-restore"_s).isEmpty();

/// Checks that the trash at `trash` holds `name` and its .trashinfo: `original` as "Path=",
/// escaped as in a URI (every byte outside what a URI path may hold as %XX), and the date.
void expectTrashed(const QString& trash, const QString& name, const QByteArray& original) {
    EXPECT_EQ(test::readAll(trash + u"/files/"_s + name), "ljud");
    const QList<QByteArray> info =
        test::readAll(trash + u"/info/"_s + name + u".trashinfo"_s).split('\n');
    ASSERT_GE(info.size(), 3);
    EXPECT_TRUE(info[0] == "[Trash Info]" && info[2].startsWith("DeletionDate=")) << info[2].data();
    static const QRegularExpression uriPath(
        u"^Path=(([A-Za-z0-9._~!$&'()*+,;=:@/-]|%[0-9A-F]{2})*)$"_s);
    const auto path = uriPath.match(QString::fromLatin1(info[1]));
    ASSERT_TRUE(path.hasMatch()) << info[1].constData();
    EXPECT_EQ(QByteArray::fromPercentEncoding(path.captured(1).toLatin1()), original);
}

/// The desktop's own tools (trash-cli) list the file by its original path and restore it.
void expectRestoredByTrashCli(const QString& path) {
    QProcess list;
    list.start(u"trash-list"_s, {});
    ASSERT_TRUE(list.waitForFinished(60000));
    EXPECT_TRUE(QString::fromUtf8(list.readAllStandardOutput()).contains(u' ' + path + u'\n'));
    // It asks which of the trashed files to restore: the first.
    QProcess::execute(u"sh"_s, {u"-c"_s, u"echo 0 | trash-restore \"$0\" >/dev/null"_s, path});
    EXPECT_EQ(test::readAll(path), "ljud");
}

struct Trashing : ::testing::Test {
    void TearDown() override { removeAll(home); }
    const QString home = qEnvironmentVariable("XDG_DATA_HOME") + u"/Trash"_s;
    test::TempFolder dir;
    GioTrash trash;
};

}  // namespace

TEST_F(Trashing, KeepsTheFileAndItsOriginalPathAndTheDesktopRestoresIt) {
    for (const QString& name : {u"a b %41 #x å.mp3"_s, decodeName("lat\xe5 #.mp3")}) {
        const QString path = dir.write(name, "ljud");
        ASSERT_EQ(trash.moveToTrash(path), code::kOk);
        EXPECT_FALSE(test::present(path));
        expectTrashed(home, name, encodeName(path));
    }
    EXPECT_EQ(trash.moveToTrash(dir.file(u"saknas.mp3"_s)), code::kFileNotFound);
    if (!kTrashCli)
        GTEST_SKIP() << "trash-cli is not installed";
    expectRestoredByTrashCli(dir.file(u"a b %41 #x å.mp3"_s));
}

TEST_F(Trashing, ABrokenTrashNeitherHangsNorLosesTheFile) {
    ASSERT_TRUE(QDir().mkpath(home + u"/files"_s));
    test::writeAll(home + u"/info"_s, "not a folder");
    const QString path = dir.write(u"kvar.mp3"_s, "ljud");
    // In a child with an alarm clock, so that a loop fails the test instead of stopping the run.
    const auto trashIn20s = [&] {
        ::alarm(20);
        ::_exit(trash.moveToTrash(path) == code::kOk ? 0 : 1);
    };
    EXPECT_EXIT(trashIn20s(), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(test::readAll(path), "ljud");
    EXPECT_TRUE(QDir(home + u"/files"_s).isEmpty());
}

TEST_F(Trashing, AFileOnRemovableMediaGoesToTheTrashOfItsVolume) {
    // A small ext2 file system mounted in the temporary folder: removable media, as far as the
    // trash can tell.
    const QString image = dir.file(u"bild.ext2"_s);
    const QString root = dir.file(u"volym"_s);
    if (::geteuid() != 0 || !QDir().mkpath(root) ||
        QProcess::execute(u"truncate"_s, {u"-s8M"_s, image}) != 0 ||
        QProcess::execute(u"mkfs.ext2"_s, {u"-qF"_s, image}) != 0 ||
        QProcess::execute(u"mount"_s, {u"-oloop"_s, image, root}) != 0) {
        GTEST_SKIP() << "no loop-mounted file system here (needs root)";
    }
    const QString name = u"v å #.mp3"_s;
    const QString path = root + u'/' + name;
    test::writeAll(path, "ljud");
    EXPECT_EQ(trash.moveToTrash(path), code::kOk);
    // On removable media the path is kept relative to the volume, which may be mounted elsewhere.
    expectTrashed(root + u"/.Trash-"_s + QString::number(::geteuid()), name, encodeName(name));
    if (kTrashCli)
        expectRestoredByTrashCli(path);
    ::umount2(encodeName(root).constData(), MNT_DETACH);
}

// GLib reads HOME and XDG_DATA_HOME once, at its first use in the process: both point into a
// temporary folder before any test runs. (This main takes the place of gtest_main's.)
int main(int argc, char** argv) {
    QTemporaryDir home;
    home.setAutoRemove(false);  // removeAll() below also reaches names that are not UTF-8
    const QString data = home.path() + u"/.local/share"_s;
    if (!home.isValid() || !QDir().mkpath(data))
        return 2;
    qputenv("HOME", encodeName(home.path()));
    qputenv("XDG_DATA_HOME", encodeName(data));
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    removeAll(home.path());
    return failed;
}
