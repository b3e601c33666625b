#include "tag/other_tags.h"

#include "tag/genre.h"

#include <apetag.h>
#include <commentsframe.h>
#include <fcntl.h>
#include <id3v2frame.h>
#include <id3v2synchdata.h>
#include <id3v2tag.h>
#include <sys/stat.h>
#include <tbytevectorstream.h>
#include <textidentificationframe.h>
#include <tfile.h>
#include <tfilestream.h>
#include <unistd.h>
#include <QByteArray>
#include <QFile>

#include <algorithm>

namespace sorvel::tag {
namespace {

// TagLib's tag readers want a File; MPEG::File would also hunt the whole file for a tag that
// does not start it (and could take "ID3" in the audio for one), so the tags are read from the
// two places they belong and nowhere else.
class TagsOnly : public TagLib::File {
public:
    explicit TagsOnly(TagLib::IOStream* stream) : TagLib::File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

QString toQString(const TagLib::String& s) {
    const std::string utf8 = s.to8Bit(true);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void put(std::optional<QString>& field, const TagLib::String& s) {
    if (!s.isEmpty())
        field = toQString(s);
}

void fromId3v2(const TagLib::ID3v2::Tag& id3, OtherTag& out) {
    const TagLib::ID3v2::FrameListMap& frames = id3.frameListMap();
    auto first = [&](const char* id) -> TagLib::String {
        const auto it = frames.find(id);
        if (it == frames.end() || it->second.isEmpty())
            return {};
        return it->second.front()->toString();
    };
    put(out.title, first("TIT2"));
    put(out.artist, first("TPE1"));
    put(out.album, first("TALB"));
    // Version 2.4 names the recording time TDRC; 2.2 and 2.3 files carry TYER (TYE).
    put(out.year, first("TDRC"));
    if (!out.year)
        put(out.year, first("TYER"));
    if (const auto it = frames.find("COMM"); it != frames.end()) {
        for (const TagLib::ID3v2::Frame* f : it->second) {
            const auto* c = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(f);
            if (c != nullptr && c->description().isEmpty()) {
                put(out.comment, c->text());
                break;
            }
        }
    }
    if (const auto it = frames.find("TCON"); it != frames.end() && !it->second.isEmpty()) {
        // TagLib splits a 2.3 genre such as "(17)Rock" into "17" and "Rock"; the first tells.
        const auto* f =
            dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(it->second.front());
        if (f != nullptr && !f->fieldList().isEmpty())
            put(out.genre, f->fieldList().front());
    }
}

void fromApe(const TagLib::APE::Tag& ape, OtherTag& out) {
    const TagLib::APE::ItemListMap& items = ape.itemListMap();
    auto item = [&](const char* key) -> TagLib::String {
        const auto it = items.find(key);
        if (it == items.end() || it->second.type() != TagLib::APE::Item::Text)
            return {};
        const TagLib::StringList values = it->second.values();
        return values.isEmpty() ? TagLib::String() : values.front();
    };
    put(out.title, item("TITLE"));
    put(out.artist, item("ARTIST"));
    put(out.album, item("ALBUM"));
    put(out.year, item("YEAR"));
    put(out.comment, item("COMMENT"));
    put(out.genre, item("GENRE"));
}

quint32 bigEndian(const TagLib::ByteVector& b, unsigned at, unsigned n, bool syncsafe) {
    quint32 v = 0;
    for (unsigned i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(b[static_cast<int>(at + i)]);
        v = syncsafe ? (v << 7) | (byte & 0x7Fu) : (v << 8) | byte;
    }
    return v;
}

// TagLib keeps a frame that runs past the end of its tag (cut short, or a tag that claims more
// than the file holds) with the text that is there, which would put a truncated artist into the
// trailer. Walks the frame headers as TagLib does to see whether its last frame was whole.
bool lastFrameCut(TagLib::File& file, const TagLib::ID3v2::Header& h) {
    const unsigned version = h.majorVersion();
    const unsigned headerSize = version == 2 ? 6 : 10;
    TagLib::ByteVector data;
    const long available = std::max(0L, file.length() - 10);
    const unsigned length = std::min<unsigned>(h.tagSize(), static_cast<unsigned>(available));
    const bool whole = h.unsynchronisation() && version <= 3;
    if (whole) {
        file.seek(10);
        data = TagLib::ID3v2::SynchData::decode(file.readBlock(length));
    }
    const unsigned end = whole ? data.size() : length;
    auto at = [&](unsigned pos, unsigned n) -> TagLib::ByteVector {
        if (whole)
            return data.mid(pos, n);
        file.seek(10 + static_cast<long>(pos));
        return file.readBlock(n);
    };
    unsigned pos = 0;
    if (h.extendedHeader() && version >= 3) {
        const TagLib::ByteVector ext = at(0, 4);
        if (ext.size() < 4)
            return false;
        pos = version == 3 ? 4 + bigEndian(ext, 0, 4, false) : bigEndian(ext, 0, 4, true);
    }
    bool cut = false;
    while (pos < end && end - pos > headerSize) {
        const TagLib::ByteVector fh = at(pos, headerSize);
        if (fh.size() < headerSize)
            break;
        // TagLib stops, keeping nothing of it, at a frame whose name is not a frame's name.
        const unsigned idSize = version == 2 ? 3 : 4;
        bool named = true;
        for (unsigned i = 0; i < idSize; ++i) {
            const char c = fh[static_cast<int>(i)];
            named = named && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
        }
        if (!named)
            break;
        const quint32 size = version == 2   ? bigEndian(fh, 3, 3, false)
                             : version == 3 ? bigEndian(fh, 4, 4, false)
                                            : bigEndian(fh, 4, 4, true);
        if (size == 0)
            break;
        cut = size > end - pos - headerSize;
        if (cut)
            break;
        pos += headerSize + size;
    }
    return cut;
}

std::optional<OtherTag> read(TagLib::IOStream& stream) {
    TagsOnly file(&stream);
    if (!file.isOpen())
        return std::nullopt;
    const long length = file.length();
    file.seek(0);
    if (length >= 10 && file.readBlock(3) == TagLib::ByteVector("ID3", 3)) {
        TagLib::ID3v2::Tag id3(&file, 0);
        if (!id3.frameList().isEmpty() && lastFrameCut(file, *id3.header()))
            id3.removeFrame(id3.frameList().back());
        OtherTag out;
        out.kind = OtherTag::Kind::Id3v2;
        fromId3v2(id3, out);
        if (!out.empty())
            return out;
    }
    // The APEv2 footer ends where the trailer begins, or at the end of a file without one.
    long footer = length - 32;
    if (length >= 128 + 32) {
        file.seek(length - 128);
        if (file.readBlock(3) == TagLib::ByteVector("TAG", 3))
            footer = length - 128 - 32;
    }
    if (footer < 0)
        return std::nullopt;
    file.seek(footer);
    if (file.readBlock(8) != TagLib::ByteVector("APETAGEX", 8))
        return std::nullopt;
    const TagLib::APE::Tag ape(&file, footer);
    OtherTag out;
    out.kind = OtherTag::Kind::Ape;
    fromApe(ape, out);
    if (out.empty())
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<OtherTag> readOtherTag(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Without O_NONBLOCK a FIFO named *.mp3 would hold the window until someone writes to it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    TagLib::FileStream stream(fd, true);  // closes the descriptor
    return read(stream);
}

std::optional<OtherTag> readOtherTag(std::span<const std::byte> file) {
    TagLib::ByteVector data(reinterpret_cast<const char*>(file.data()),
                            static_cast<unsigned>(file.size()));
    TagLib::ByteVectorStream stream(data);
    return read(stream);
}

int genreNumberOf(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(u'(')) {
        const qsizetype close = t.indexOf(u')');
        if (close > 1) {
            const int n = t.mid(1, close - 1).toInt(&ok);
            if (ok && n >= 0 && n < kGenreCount)
                return n;
        }
        return -1;
    }
    if (!t.isEmpty() && t.front().isDigit()) {
        const int n = t.toInt(&ok);
        return ok && n >= 0 && n < kGenreCount ? n : -1;
    }
    for (int n = 0; n < kGenreCount; ++n) {
        if (t.compare(tal_genre(n), Qt::CaseInsensitive) == 0)
            return n;
    }
    return -1;
}

}  // namespace sorvel::tag
