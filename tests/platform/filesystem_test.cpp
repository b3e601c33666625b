#include "platform/filesystem.h"
#include "platform/names.h"
#include "support/faulty_filesystem.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <algorithm>
#include <cerrno>

using namespace sorvel;
using namespace sorvel::platform;

namespace {

QString name(const char* utf8) {
    return QString::fromUtf8(utf8);
}

std::vector<QString> sorted(std::vector<QString> v) {
    std::sort(v.begin(), v.end());
    return v;
}

class Files : public ::testing::Test {
protected:
    test::TempFolder dir;
    PosixFileSystem fs;
};

}  // namespace

TEST(Names, AnyByteSequenceSurvivesDecodingAndEncoding) {
    const std::string samples[] = {
        "plain.mp3",
        "\xc3\xa5\xc3\xa4\xc3\xb6.mp3",
        "latin1-\xe5\xe4\xf6.mp3",
        "\xff\xfe",
        "\xc0\xaf",
        "\xed\xa0\x80",
        "\xf4\x90\x80\x80",
        "\xe2\x82",
        "\xf0\x9f\x8e\xb5",
    };
    for (const std::string& s : samples) {
        const QString decoded = decodeName(s);
        EXPECT_EQ(encodeName(decoded).toStdString(), s);
    }
    EXPECT_EQ(decodeName("\xc3\xa5"), QStringLiteral(u"å"));
    EXPECT_EQ(decodeName("\xe5").at(0).unicode(), 0xDCE5);
}

TEST(Codes, ErrnoValuesMapToTheProgramsCodes) {
    EXPECT_EQ(codeFromErrno(0), code::kOk);
    EXPECT_EQ(codeFromErrno(ENOENT), 53);
    EXPECT_EQ(codeFromErrno(EEXIST), 58);
    EXPECT_EQ(codeFromErrno(ENAMETOOLONG), 52);
    for (int e : {EACCES, EPERM, EROFS, EBUSY, ETXTBSY})
        EXPECT_EQ(codeFromErrno(e), 75) << e;
    for (int e : {ENXIO, ENODEV, ENOMEDIUM})
        EXPECT_EQ(codeFromErrno(e), 68) << e;
    EXPECT_EQ(codeFromErrno(ENOSPC), 61);
    EXPECT_EQ(codeFromErrno(EIO), 57);
    EXPECT_EQ(codeFromErrno(EXDEV), 74);
    EXPECT_EQ(codeFromErrno(ENOTDIR), 76);
    EXPECT_EQ(codeFromErrno(EPROTO), 1000 + EPROTO);
}

TEST_F(Files, ListingKeepsRegularVisibleMp3FilesInAnyCase) {
    for (const char* n : {"a.mp3", "B.MP3", "c.Mp3", ".dold.mp3", "d.mp4", "e.mp3.txt", "mp3"}) {
        dir.write(name(n), "x");
    }
    QDir(dir.path()).mkdir(QStringLiteral("mapp.mp3"));
    ASSERT_EQ(::mkfifo(dir.file(QStringLiteral("fifo.mp3")).toUtf8().constData(), 0644), 0);
    ASSERT_EQ(::symlink("a.mp3", dir.file(QStringLiteral("länk.mp3")).toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("saknas", dir.file(QStringLiteral("trasig.mp3")).toUtf8().constData()), 0);
    const std::string odd = "\xe5-latin1.mp3";
    test::writeAll(dir.path() + decodeName(odd), "x");

    std::vector<QString> names;
    std::size_t count = 0;
    ASSERT_EQ(fs.listMp3(dir.path(), &names, count), code::kOk);
    EXPECT_EQ(count, names.size());
    EXPECT_EQ(sorted(names), sorted({name("B.MP3"), name("a.mp3"), name("c.Mp3"), name("länk.mp3"),
                                     decodeName(odd)}));
    std::size_t counted = 0;
    ASSERT_EQ(fs.listMp3(dir.path(), nullptr, counted), code::kOk);
    EXPECT_EQ(counted, 5u);
    EXPECT_EQ(fs.listMp3(dir.file(QStringLiteral("saknas")), &names, counted), code::kFileNotFound);
}

TEST_F(Files, RenameNeverReplacesAnythingAndARefusalIsAnAccessFailure) {
    for (bool einval : {false, true}) {  // also where the file system refuses RENAME_NOREPLACE
        test::FaultyFileSystem faulty;
        faulty.renameAnswersEinval = einval;
        const auto rename = [&](const char* from, const char* to) {
            return faulty.rename(dir.file(name(from)), dir.file(name(to)));
        };
        dir.write(QStringLiteral("a.mp3"), "A");
        dir.write(QStringLiteral("b.mp3"), "B");
        QDir(dir.path()).mkdir(QStringLiteral("m.mp3"));
        EXPECT_EQ(rename("a.mp3", "b.mp3"), code::kFileExists);
        EXPECT_EQ(rename("a.mp3", "m.mp3"), code::kFileExists);
        EXPECT_EQ(test::readAll(dir.file(QStringLiteral("b.mp3"))), "B");
        EXPECT_EQ(rename("a.mp3", "c.mp3"), code::kOk);
        EXPECT_EQ(test::readAll(dir.file(QStringLiteral("c.mp3"))), "A");
        EXPECT_EQ(rename("a.mp3", "d.mp3"), code::kFileNotFound);
        {
            test::ReadOnly folder(dir.path());
            ASSERT_TRUE(folder.effective());
            EXPECT_EQ(rename("c.mp3", "e.mp3"), code::kAccess);
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList({name("b.mp3"), name("c.mp3"), name("m.mp3")}));
        QDir(dir.path()).rmdir(QStringLiteral("m.mp3"));
        QFile::remove(dir.file(QStringLiteral("c.mp3")));
    }
}

TEST_F(Files, RenameFindsAnyCaseOfTheEndingAndChangesLetterCase) {
    dir.write(QStringLiteral("Gammal.MP3"), "G");
    ASSERT_EQ(renameMp3(fs, dir.path(), QStringLiteral("Gammal"), QStringLiteral("Ny")), code::kOk);
    EXPECT_EQ(test::readAll(dir.file(QStringLiteral("Ny.mp3"))), "G");
    ASSERT_EQ(renameMp3(fs, dir.path(), QStringLiteral("Ny"), QStringLiteral("NY")), code::kOk);
    EXPECT_EQ(test::readAll(dir.file(QStringLiteral("NY.mp3"))), "G");
    // A name that differs from another file only in the case of its ending is taken.
    dir.write(QStringLiteral("Annan.MP3"), "A");
    EXPECT_EQ(renameMp3(fs, dir.path(), QStringLiteral("NY"), QStringLiteral("Annan")),
              code::kFileExists);
    // Renaming to its own name is a quiet success.
    EXPECT_EQ(renameMp3(fs, dir.path(), QStringLiteral("NY"), QStringLiteral("NY")), code::kOk);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

TEST(NewNames, RefusedNamesGetTheirCodes) {
    for (const char* bad : {"", ".dold", "a\"b", "a?b", "a*b", "a/b", "a\\b", "a:b", "a<b", "a>b",
                            "a|b", "tab\there"}) {
        EXPECT_EQ(checkNewName(name(bad)), code::kBadFileName) << bad;
    }
    for (const char* reserved : {"CON", "aux", "COM1", "COM4", "LPT3", "PRN", "nul"}) {
        EXPECT_EQ(checkNewName(name(reserved)), code::kAccess) << reserved;
    }
    EXPECT_EQ(checkNewName(QString(251, u'a')), code::kOk);
    EXPECT_EQ(checkNewName(QString(252, u'a')), code::kBadFileName);
    EXPECT_EQ(checkNewName(QString(126, u'å')), code::kBadFileName);  // 252 bytes plus ".mp3"
    EXPECT_EQ(checkNewName(QStringLiteral("COM5 - ok")), code::kOk);
}

TEST_F(Files, ACaseOnlyRenameThatFailsKeepsTheOldName) {
    // Two links to one file, named alike but for letter case, are what a file system that ignores
    // case shows: the rename goes through a temporary name, and its second step finds the new
    // name taken. The names are long, so that the temporary name must be short to fit at all.
    const QString lower = QString(251, u'n');
    const QString upper = lower.toUpper();
    const QByteArray lowerPath = encodeName(dir.file(lower + QStringLiteral(".mp3")));
    test::writeAll(dir.file(lower + QStringLiteral(".mp3")), "N");
    const QByteArray upperPath = encodeName(dir.file(upper + QStringLiteral(".mp3")));
    ASSERT_EQ(::link(lowerPath.constData(), upperPath.constData()), 0);
    for (bool einval : {false, true}) {
        test::FaultyFileSystem faulty;
        faulty.renameAnswersEinval = einval;
        EXPECT_EQ(renameMp3(faulty, dir.path(), lower, upper), code::kFileExists);
        EXPECT_EQ(test::readAll(dir.file(lower + QStringLiteral(".mp3"))), "N");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}
