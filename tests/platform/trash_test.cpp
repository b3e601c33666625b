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
#include <cstdlib>
#include <filesystem>

using namespace sorvel;
using namespace sorvel::platform;

namespace {

QString dataHome() {
    return qEnvironmentVariable("XDG_DATA_HOME");
}

// QDir::removeRecursively() cannot reach names that are not UTF-8.
void removeAll(const QString& path) {
    std::error_code ignored;
    std::filesystem::remove_all(encodeName(path).toStdString(), ignored);
}

bool present(const QString& path) {
    return ::access(encodeName(path).constData(), F_OK) == 0;
}

/// The three lines of the .trashinfo file of `name` in the trash at `trash`.
QList<QByteArray> trashInfo(const QString& trash, const QString& name) {
    return test::readAll(trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"))
        .split('\n');
}

/// Checks that `line` is "Path=" with `original` escaped as in a URI: every byte outside the
/// characters a URI path may hold is written as %XX, and decoding gives the bytes back.
void expectEscapedPath(const QByteArray& line, const QByteArray& original) {
    ASSERT_TRUE(line.startsWith("Path=")) << line.constData();
    const QByteArray value = line.mid(5);
    static const QRegularExpression uriPath(
        QStringLiteral("^([A-Za-z0-9._~!$&'()*+,;=:@/-]|%[0-9A-F]{2})*$"));
    EXPECT_TRUE(uriPath.match(QString::fromLatin1(value)).hasMatch()) << value.constData();
    EXPECT_EQ(QByteArray::fromPercentEncoding(value), original);
}

QString run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool have(const char* program) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

class Trashing : public ::testing::Test {
protected:
    void TearDown() override { removeAll(dataHome() + QStringLiteral("/Trash")); }
    test::TempFolder dir;
    GioTrash trash;
};

}  // namespace

TEST_F(Trashing, KeepsTheFileAndItsOriginalPathByteForByte) {
    const QString home = dataHome() + QStringLiteral("/Trash");
    for (const QString& name : {QStringLiteral("a b %41 #x å.mp3"), decodeName("lat\xe5 #.mp3")}) {
        const QString path = dir.write(name, "ljud");
        ASSERT_EQ(trash.moveToTrash(path), code::kOk);
        EXPECT_FALSE(present(path));
        EXPECT_EQ(test::readAll(home + QStringLiteral("/files/") + name), "ljud");
        const QList<QByteArray> info = trashInfo(home, name);
        ASSERT_GE(info.size(), 3);
        EXPECT_EQ(info[0], "[Trash Info]");
        expectEscapedPath(info[1], encodeName(path));
        EXPECT_TRUE(QRegularExpression(
                        QStringLiteral("^DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                        .match(QString::fromLatin1(info[2]))
                        .hasMatch());
    }
    EXPECT_EQ(trash.moveToTrash(dir.file(QStringLiteral("saknas.mp3"))), code::kFileNotFound);
}

TEST_F(Trashing, TheDesktopsToolsListAndRestoreTheFile) {
    if (!have("trash-list") || !have("trash-restore"))
        GTEST_SKIP() << "trash-cli is not installed";
    const QString path = dir.write(QStringLiteral("a b %41 #x å.mp3"), "ljud");
    ASSERT_EQ(trash.moveToTrash(path), code::kOk);
    EXPECT_TRUE(run(QStringLiteral("trash-list"), {}).contains(u' ' + path + u'\n'));
    run(QStringLiteral("trash-restore"), {path}, "0\n");
    EXPECT_EQ(test::readAll(path), "ljud");
}

TEST_F(Trashing, ABrokenTrashNeitherHangsNorLosesTheFile) {
    const QString home = dataHome() + QStringLiteral("/Trash");
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/files")));
    test::writeAll(home + QStringLiteral("/info"), "not a folder");
    const QString path = dir.write(QStringLiteral("kvar.mp3"), "ljud");
    // In a child with an alarm clock, so that a loop fails the test instead of stopping the run.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(20);
        ::_exit(trash.moveToTrash(path) == code::kOk ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the trash did not answer";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(test::readAll(path), "ljud");
    EXPECT_TRUE(QDir(home + QStringLiteral("/files")).isEmpty());
}

namespace {

/// A small ext2 file system mounted in a temporary folder: removable media, as far as the trash
/// can tell.
class Volume {
public:
    Volume() {
        const QString image = dir_.file(QStringLiteral("bild.ext2"));
        root_ = dir_.file(QStringLiteral("volym"));
        QFile f(image);
        if (::geteuid() != 0 || !QDir().mkpath(root_) || !f.open(QIODevice::WriteOnly) ||
            !f.resize(8 << 20)) {
            return;
        }
        f.close();
        mounted_ =
            QProcess::execute(QStringLiteral("mkfs.ext2"),
                              {QStringLiteral("-q"), QStringLiteral("-F"), image}) == 0 &&
            QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-o"), QStringLiteral("loop"), image, root_}) == 0;
    }
    ~Volume() {
        if (mounted_)
            ::umount2(encodeName(root_).constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    QString root() const { return root_; }

private:
    test::TempFolder dir_;
    QString root_;
    bool mounted_ = false;
};

}  // namespace

TEST_F(Trashing, AFileOnRemovableMediaGoesToTheTrashOfItsVolume) {
    Volume volume;
    if (!volume.mounted())
        GTEST_SKIP() << "no loop-mounted file system here (needs root)";
    const QString name = QStringLiteral("v å #.mp3");
    const QString path = volume.root() + u'/' + name;
    test::writeAll(path, "ljud");
    ASSERT_EQ(trash.moveToTrash(path), code::kOk);
    const QString volumeTrash =
        volume.root() + QStringLiteral("/.Trash-") + QString::number(::geteuid());
    EXPECT_EQ(test::readAll(volumeTrash + QStringLiteral("/files/") + name), "ljud");
    // On removable media the path is kept relative to the volume, which may be mounted elsewhere.
    expectEscapedPath(trashInfo(volumeTrash, name).value(1), encodeName(name));
    if (have("trash-list") && have("trash-restore")) {
        EXPECT_TRUE(run(QStringLiteral("trash-list"), {}).contains(u' ' + path + u'\n'));
        run(QStringLiteral("trash-restore"), {path}, "0\n");
        EXPECT_EQ(test::readAll(path), "ljud");
    }
}

// GLib reads HOME and XDG_DATA_HOME once, at its first use in the process: both point into a
// temporary folder before any test runs. (This main takes the place of gtest_main's.)
int main(int argc, char** argv) {
    QTemporaryDir home;
    home.setAutoRemove(false);  // removeAll() below also reaches names that are not UTF-8
    const QString data = home.path() + QStringLiteral("/.local/share");
    if (!home.isValid() || !QDir().mkpath(data))
        return 2;
    qputenv("HOME", encodeName(home.path()));
    qputenv("XDG_DATA_HOME", encodeName(data));
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    removeAll(home.path());
    return failed;
}
