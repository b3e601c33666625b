// Renames on the exFAT and NTFS of USB sticks and memory cards, served by FUSE daemons that know
// no no-replace rename (and, for exFAT, no hard links and no letter case): the file moves, nothing
// is ever replaced, and a failure leaves the folder exactly as it was.
#include "mounts.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace sorvel;
using namespace sorvel::test;
using namespace Qt::StringLiterals;
using Kind = Medium::Kind;

namespace {

class FuseRename : public ::testing::TestWithParam<Kind> {};

TEST_P(FuseRename, MovesTheFileReplacesNothingAndLeavesNothingBehind) {
    const Medium medium(std::size_t{16} << 20, GetParam());
    if (!medium.mounted())
        GTEST_SKIP() << medium.whyNot().toStdString();
    platform::PosixFileSystem fs;
    struct Case {
        const char* what;
        QString oldBase;
        QString newBase;
        Code expected;
        bool readOnly = false;
    };
    const Case cases[] = {
        {"a plain new name", u"a"_s, u"Ny låt"_s, code::kOk},
        {"another file's name", u"a"_s, u"b"_s, code::kFileExists},
        {"the same name in capitals", u"a"_s, u"A"_s, code::kOk},
        {"a name that is not UTF-8, which the medium cannot hold", u"a"_s,
         platform::decodeName("\xe5r"), code::kBadFileName},
        {"a folder named like a song, which the rename itself refuses", u"m"_s, u"c"_s,
         code::kPathNotFound},
        {"any name on a read-only medium", u"a"_s, u"c"_s, code::kAccess, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempFolder dir(medium.path());
        dir.write(u"a.mp3"_s, audio(3000) + "a");
        dir.write(u"b.mp3"_s, audio(2000) + "b");
        QDir(dir.path()).mkdir(u"m.mp3"_s);
        const auto before = snapshot(dir.path());
        if (c.readOnly) {
            ASSERT_EQ(medium.remount(true), 0);
        }
        const Code result = platform::renameMp3(fs, dir.path(), c.oldBase + u".mp3"_s, c.newBase);
        if (c.readOnly) {
            ASSERT_EQ(medium.remount(false), 0);
        }
        EXPECT_EQ(result, c.expected);
        auto expected = before;
        if (c.expected == code::kOk)
            expected[c.newBase + u".mp3"_s] = expected.extract(c.oldBase + u".mp3"_s).mapped();
        EXPECT_EQ(snapshot(dir.path()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Media, FuseRename, ::testing::Values(Kind::Exfat, Kind::Ntfs),
                         [](const auto& medium) {
                             return medium.param == Kind::Exfat ? "exFAT" : "NTFS";
                         });

}  // namespace
