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

}  // namespace

// Many files at a time or one after the other, the files end up with the same bytes and the user
// sees the same reports, rows, failures and undo record: over several batches with rows left out
// of the selection, files with and without trailers, an empty one, a file whose new title would
// spell an APEv2 header, one stored as .MP3, one that is read-only, and files another program
// removes, turns into a FIFO or a folder or cuts short after the listing.
TEST_F(Overlap, ManyFilesInFlightWriteWhatOneFileAfterTheOtherWrites) {
    platform::PosixFileSystem overlapped,
        sequential(platform::PosixFileSystem::TailReads::Sequential);
    if (!overlapped.overlapsReads())
        GTEST_SKIP() << "the kernel refuses io_uring here; the writer then goes one by one";
    const QByteArray tagged = audio(300) + trailer("T", "A", "Album", "2001", "", 0);
    // What the undo record keeps of a file, but its fingerprint, which holds the time of the
    // change.
    struct Change {
        QString nameBefore, nameAfter;
        bool hadTrailer;
        std::uint64_t oldLength;
        tag::Trailer oldTrailer;
        std::uint64_t newLength;
        std::size_t newTailSize;
        tag::Trailer newTail;
        bool operator==(const Change&) const = default;
    };
    struct Run {
        std::size_t written;
        QString failures;
        QStringList reported;
        std::vector<browse::Row> listed;
        std::map<QString, QByteArray> files;
        std::vector<Change> changes;
        bool operator==(const Run&) const = default;
    };
    write::EditorValues editor;
    editor.title = u"EXakt"_s;
    const auto run = [&](platform::FileSystem& fs) {
        for (int i = 0; i < 400; ++i)
            dir.write(u"fil %1.mp3"_s.arg(i, 3, 10, QChar(u'0')),
                      audio(200 + i) + (i % 3 == 0 ? "" : trailer("T", "A", "", "", "", i % 256)));
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
        write::Command record;
        const ReadOnly locked(dir.file(u"låst.mp3"_s));
        EXPECT_TRUE(locked.effective());
        const write::WriteResult r =
            write::spara_tag(fs, Typ::Titel, rows, selected, dir.path(), editor, 1, *this, &record);
        Run out{r.written, write::failureText(r.failures), seen, rows, snapshot(dir.path()), {}};
        for (const write::FileChange& f : record.files)
            out.changes.push_back({f.nameBefore, f.nameAfter, f.hadTrailer, f.oldLength,
                                   f.oldTrailer, f.newLength, f.newTailSize, f.newTail});
        return out;
    };
    const Run many = run(overlapped);
    const Run single = run(sequential);
    EXPECT_TRUE(many == single) << "the same run either way";
    const std::map<QString, QByteArray>& files = single.files;
    EXPECT_GT(single.written, 300u);
    EXPECT_EQ(single.failures,
              u"Följande filer kunde inte skrivas:\n"
              u"borta.mp3 (finns inte)\n"
              u"fifo.mp3 (ingen vanlig fil)\n"
              u"krymper.mp3 (ändrad sedan listan lästes)\n"
              u"låst.mp3 (skrivskyddad eller låst)\n"
              u"mapp.mp3 (ingen vanlig fil)"_s);
    // The title that would spell "APETAGEX" went in with its leading blank.
    EXPECT_EQ(files.at(u"ape.mp3"_s).right(125).left(6), QByteArray(" EXakt"));
    EXPECT_EQ(files.at(u"Stor.MP3"_s), withField(tagged, kTitleAt, 30, "EXakt"));
    EXPECT_EQ(files.at(u"tom.mp3"_s).size(), 128);
}
