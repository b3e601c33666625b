// The tag writer with many files in flight against the same writer one file after the other.
#include "browse/scan.h"
#include "support/files.h"
#include "write/engine.h"
#include "write/journal.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>

#include <algorithm>
#include <map>

using namespace sorvel;
using namespace sorvel::test;
using write::Typ;
using namespace Qt::StringLiterals;

namespace {

class Overlap : public ::testing::Test, public browse::ScanObserver {
protected:
    void setStatus(const QString& text) override { seen << text; }
    void setProgressMax(int max) override { seen << u"max %1"_s.arg(max); }
    void setProgress(int value) override { seen << u"value %1"_s.arg(value); }
    void addRow(browse::Row&& r) override { rows.push_back(std::move(r)); }

    void scan() {
        rows.clear();
        std::size_t n = 0;
        platform::PosixFileSystem fs(platform::PosixFileSystem::TailReads::Sequential);
        ASSERT_EQ(browse::scanFolder(fs, dir.path(), *this, n), code::kOk);
        std::sort(rows.begin(), rows.end(), [](auto& x, auto& y) { return x.name < y.name; });
        seen.clear();
    }

    /// Every entry of the folder with its bytes ("<folder>" for a folder, "<fifo>" for a FIFO).
    std::map<QString, QByteArray> contents() const {
        std::map<QString, QByteArray> all;
        const QDir d(dir.path());
        for (const QString& name :
             d.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            ::lstat(dir.file(name).toUtf8().constData(), &st);
            all[name] = S_ISDIR(st.st_mode)    ? QByteArray("<folder>")
                        : S_ISFIFO(st.st_mode) ? QByteArray("<fifo>")
                                               : readAll(dir.file(name));
        }
        return all;
    }

    TempFolder dir;
    QStringList seen;
    std::vector<browse::Row> rows;
};

QString describe(const write::Command& c) {
    QString text;
    for (const write::FileChange& f : c.files) {
        text += u"%1 %2 %3 %4 %5 "_s.arg(f.nameBefore, f.nameAfter)
                    .arg(f.hadTrailer)
                    .arg(f.oldLength)
                    .arg(f.newLength);
        text += QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(f.oldTrailer.data()), 128).toHex());
        text += QString::fromLatin1(
                    QByteArray(reinterpret_cast<const char*>(f.newTail.data()), 128).toHex()) +
                u'\n';
    }
    return text;
}

}  // namespace

// Many files at a time or one after the other, the files end up with the same bytes and the user
// sees the same reports, rows and failures: over several batches with rows left out of the
// selection, files with and without trailers, a file whose new title would spell an APEv2 header,
// one the list shows as .mp3 that is stored as .MP3, one that is read-only, and files another
// program removes, turns into a FIFO or a folder or cuts short after the listing.
TEST_F(Overlap, ManyFilesInFlightWriteWhatOneFileAfterTheOtherWrites) {
    platform::PosixFileSystem overlapped;
    if (!overlapped.overlapsReads())
        GTEST_SKIP() << "the kernel refuses io_uring here; the writer then goes one by one";
    platform::PosixFileSystem sequential(platform::PosixFileSystem::TailReads::Sequential);

    const QByteArray tagged = audio(300) + trailer("T", "A", "Album", "2001", "", 0);
    const auto lay = [&] {
        for (int i = 0; i < 400; ++i) {
            dir.write(u"fil %1.mp3"_s.arg(i, 3, 10, QChar(u'0')),
                      i % 3 == 0 ? audio(200 + i)
                                 : audio(200 + i) + trailer("T", "A", "", "", "", i % 256));
        }
        dir.write(u"ape.mp3"_s, audio(100) + "APE" + trailer("T", "A", "", "", "", 1));
        dir.write(u"Stor.MP3"_s, tagged);
        dir.write(u"tom.mp3"_s, QByteArray());
        for (const char* n : {"borta.mp3", "fifo.mp3", "krymper.mp3", "mapp.mp3", "låst.mp3"})
            dir.write(QString::fromUtf8(n), tagged);
    };
    const auto meddle = [&] {
        const auto at = [&](const char* n) { return dir.file(QString::fromUtf8(n)).toUtf8(); };
        ::unlink(at("borta.mp3"));
        ::unlink(at("fifo.mp3"));
        EXPECT_EQ(::mkfifo(at("fifo.mp3"), 0644), 0);
        ::unlink(at("mapp.mp3"));
        EXPECT_EQ(::mkdir(at("mapp.mp3"), 0755), 0);
        EXPECT_EQ(::truncate(at("krymper.mp3"), 100), 0);
    };
    const auto clear = [&] {
        const auto at = [&](const char* n) { return dir.file(QString::fromUtf8(n)).toUtf8(); };
        ::unlink(at("fifo.mp3"));
        ::rmdir(at("mapp.mp3"));
    };

    write::EditorValues editor;
    editor.title = u"EXakt"_s;
    struct Outcome {
        write::WriteResult result;
        QStringList seen;
        std::vector<browse::Row> rows;
        std::map<QString, QByteArray> files;
        QString record;
    };
    const auto run = [&](platform::FileSystem& fs) {
        lay();
        scan();
        std::vector<bool> selected(rows.size(), true);
        for (std::size_t i = 0; i < selected.size(); i += 7)
            selected[i] = !rows[i].name.startsWith(u"fil"_s);
        meddle();
        Outcome o;
        write::Command record;
        {
            ReadOnly locked(dir.file(u"låst.mp3"_s));
            EXPECT_TRUE(locked.effective());
            o.result = write::spara_tag(fs, Typ::Titel, rows, selected, dir.path(), editor, 1,
                                        *this, &record);
        }
        o.seen = seen;
        o.rows = rows;
        o.files = contents();
        o.record = describe(record);
        clear();
        return o;
    };
    const Outcome many = run(overlapped);
    const Outcome single = run(sequential);

    EXPECT_EQ(many.result.written, single.result.written);
    EXPECT_GT(single.result.written, 300u);
    ASSERT_EQ(many.result.failures.size(), single.result.failures.size());
    for (std::size_t i = 0; i < single.result.failures.size(); ++i) {
        EXPECT_EQ(many.result.failures[i].file, single.result.failures[i].file);
        EXPECT_EQ(many.result.failures[i].code, single.result.failures[i].code)
            << single.result.failures[i].file.toStdString();
    }
    EXPECT_EQ(write::failureText(single.result.failures),
              u"Följande filer kunde inte skrivas:\n"
              u"borta.mp3 (finns inte)\n"
              u"fifo.mp3 (skrivskyddad eller låst)\n"
              u"krymper.mp3 (ändrad sedan listan lästes)\n"
              u"låst.mp3 (skrivskyddad eller låst)\n"
              u"mapp.mp3 (skrivskyddad eller låst)"_s);
    EXPECT_TRUE(many.seen == single.seen);
    EXPECT_TRUE(many.rows == single.rows);
    EXPECT_TRUE(many.files == single.files);
    EXPECT_EQ(many.record, single.record);
    // The title that would spell "APETAGEX" went in with its leading blank.
    EXPECT_EQ(many.files.at(u"ape.mp3"_s).right(125).left(6), QByteArray(" EXakt"));
    EXPECT_EQ(many.files.at(u"Stor.MP3"_s), withField(tagged, kTitleAt, 30, "EXakt"));
    EXPECT_EQ(many.files.at(u"tom.mp3"_s).size(), 128);
}

// A batch holds a descriptor for each of its files. With fewer to spare than a batch needs
// (ulimit -n 64, and then a single one free), the files that find none are written once the
// others have given theirs back: none fails.
TEST_F(Overlap, FilesThatFindNoDescriptorFreeAreWrittenAfterTheRestOfTheirBatch) {
    const QByteArray before = audio(200) + trailer("T", "A", "", "", "", 17);
    for (int i = 0; i < 1000; ++i)
        dir.write(u"fil %1.mp3"_s.arg(i), before);
    scan();
    const std::vector<bool> all(rows.size(), true);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(64, saved.rlim_cur);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> held;
    int round = 0;
    for (const int spare : {-1, 1}) {
        for (const int fd : held)
            ::close(fd);
        held.clear();
        platform::PosixFileSystem fs;
        fs.overlapsReads();  // the ring takes its descriptor before the others are taken
        if (spare >= 0) {
            for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
                held.push_back(fd);
            for (int i = 0; i < spare && !held.empty(); ++i) {
                ::close(held.back());
                held.pop_back();
            }
        }
        write::EditorValues editor;
        editor.artist = u"Runda %1"_s.arg(++round);
        const auto result =
            write::spara_tag(fs, Typ::Artist, rows, all, dir.path(), editor, 1, *this);
        EXPECT_EQ(result.written, 1000u) << spare << " descriptors to spare";
        EXPECT_TRUE(result.failures.empty()) << spare;
        EXPECT_EQ(readAll(dir.file(u"fil 999.mp3"_s)),
                  withField(before, kArtistAt, 30, editor.artist.toUtf8()));
    }
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
}
