// The tag writer with many files in flight against the same writer one file after the other.
#include "support/files.h"
#include "support/recorder.h"
#include "write/engine.h"
#include "write/journal.h"

#include <gtest/gtest.h>

using namespace sorvel;
using namespace sorvel::test;
using write::Typ;
using namespace Qt::StringLiterals;

namespace {

class Overlap : public ::testing::Test, public Recorder {
protected:
    void scan() {
        platform::PosixFileSystem fs(platform::PosixFileSystem::TailReads::Sequential);
        ASSERT_EQ(Recorder::scan(fs, dir.path()), code::kOk);
        byName();
    }
    TempFolder dir;
};

// What a run did, as text: how many files it wrote, which failed why, and what its record holds.
QString describe(const write::WriteResult& r, const write::Command& c) {
    const auto hex = [](const auto& bytes) {
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(bytes.data()), 128).toHex());
    };
    QString text = QString::number(r.written) + u'\n';
    for (const write::Failure& f : r.failures)
        text += u"%1 %2\n"_s.arg(f.file).arg(f.code);
    for (const write::FileChange& f : c.files) {
        text += u"%1 %2 %3 %4 %5 "_s.arg(f.nameBefore, f.nameAfter)
                    .arg(f.hadTrailer)
                    .arg(f.oldLength)
                    .arg(f.newLength) +
                hex(f.oldTrailer) + hex(f.newTail) + u'\n';
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
    write::EditorValues editor;
    editor.title = u"EXakt"_s;
    struct Outcome {
        write::WriteResult result;
        Recorder reported;
        std::map<QString, QByteArray> files;
        QString record;
    };
    const auto run = [&](platform::FileSystem& fs) {
        for (int i = 0; i < 400; ++i) {
            dir.write(u"fil %1.mp3"_s.arg(i, 3, 10, QChar(u'0')),
                      audio(200 + i) + (i % 3 == 0 ? "" : trailer("T", "A", "", "", "", i % 256)));
        }
        dir.write(u"ape.mp3"_s, audio(100) + "APE" + trailer("T", "A", "", "", "", 1));
        dir.write(u"tom.mp3"_s, QByteArray());
        layMeddled(dir, tagged);
        dir.write(u"Stor.MP3"_s, tagged);
        dir.write(u"låst.mp3"_s, tagged);
        scan();
        std::vector<bool> selected(rows.size(), true);
        for (std::size_t i = 0; i < selected.size(); i += 7)
            selected[i] = !rows[i].name.startsWith(u"fil"_s);
        meddle(dir);
        Outcome o;
        write::Command record;
        {
            const ReadOnly locked(dir.file(u"låst.mp3"_s));
            EXPECT_TRUE(locked.effective());
            o.result = write::spara_tag(fs, Typ::Titel, rows, selected, dir.path(), editor, 1,
                                        *this, &record);
        }
        o.reported = *this;
        o.files = snapshot(dir.path());
        o.record = describe(o.result, record);
        return o;
    };
    const Outcome many = run(overlapped);
    const Outcome single = run(sequential);

    EXPECT_GT(single.result.written, 300u);
    EXPECT_EQ(write::failureText(single.result.failures),
              u"Följande filer kunde inte skrivas:\n"
              u"borta.mp3 (finns inte)\n"
              u"fifo.mp3 (skrivskyddad eller låst)\n"
              u"krymper.mp3 (ändrad sedan listan lästes)\n"
              u"låst.mp3 (skrivskyddad eller låst)\n"
              u"mapp.mp3 (skrivskyddad eller låst)"_s);
    EXPECT_TRUE(many.reported.seen == single.reported.seen);
    EXPECT_TRUE(many.reported.rows == single.reported.rows);
    EXPECT_TRUE(many.files == single.files);
    EXPECT_EQ(many.record, single.record);  // with the counts and failures
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
    FewDescriptors few(64);
    for (const int spare : {-1, 1}) {
        few.leaveFree(-1);
        platform::PosixFileSystem fs;
        fs.overlapsReads();  // the ring takes its descriptor before the others are taken
        few.leaveFree(spare);
        write::EditorValues editor;
        editor.artist = u"Runda %1"_s.arg(spare);
        const auto result =
            write::spara_tag(fs, Typ::Artist, rows, all, dir.path(), editor, 1, *this);
        EXPECT_EQ(result.written, 1000u) << spare << " descriptors to spare";
        EXPECT_TRUE(result.failures.empty()) << spare;
        EXPECT_EQ(readAll(dir.file(u"fil 999.mp3"_s)),
                  withField(before, kArtistAt, 30, editor.artist.toUtf8()));
    }
}
