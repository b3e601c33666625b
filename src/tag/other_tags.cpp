#include "tag/other_tags.h"

#include "platform/names.h"
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
#include <unistd.h>
#include <QByteArray>

#include <algorithm>
#include <functional>

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

bool wanted(const TagLib::ByteVector& id) {
    static const char* const kIds[] = {"TIT2", "TPE1", "TALB", "TDRC", "TYER", "COMM", "TCON",
                                       "TT2",  "TP1",  "TAL",  "TYE",  "COM",  "TCO"};
    for (const char* k : kIds) {
        if (id == TagLib::ByteVector(k))
            return true;
    }
    return false;
}

// A file's bytes, read where asked. TagLib's own file stream asks the system for the length and
// seeks three times for every read, which cost more than all the rest of an import; this reads
// each piece once, 4 KB at a time around the frame headers.
class Bytes {
public:
    using ReadAt = std::function<TagLib::ByteVector(long pos, unsigned n)>;
    Bytes(long length, ReadAt readAt) : length_(length), readAt_(std::move(readAt)) {}
    long length() const { return length_; }

    TagLib::ByteVector at(long pos, unsigned n) {
        if (pos < 0 || pos >= length_)
            return {};
        if (pos < chunkAt_ || pos + static_cast<long>(n) > chunkAt_ + chunk_.size()) {
            if (n > kChunk)
                return readAt_(pos, n);
            chunkAt_ = pos;
            chunk_ = readAt_(pos, kChunk);
        }
        return chunk_.mid(static_cast<unsigned>(pos - chunkAt_), n);
    }

private:
    static constexpr unsigned kChunk = 4096;
    long length_;
    ReadAt readAt_;
    long chunkAt_ = 0;
    TagLib::ByteVector chunk_;
};

// The tag at the start of the file rebuilt with only the frames the trailer's fields come from,
// for TagLib to parse. Handing it the whole tag would have it read and copy every picture; here
// only frame headers and the wanted frames are read. A frame that runs past the end of its tag
// (cut short, or a tag that claims more than the file holds) is left out: TagLib would keep its
// truncated text.
TagLib::ByteVector wantedFrames(Bytes& file) {
    const TagLib::ID3v2::Header h(file.at(0, 10));
    const unsigned version = h.majorVersion();
    if (version < 2 || version > 4)
        return {};
    const unsigned headerSize = version == 2 ? 6 : 10;
    const long available = std::max(0L, file.length() - 10);
    const unsigned length = std::min<unsigned>(h.tagSize(), static_cast<unsigned>(available));
    // A tag unsynchronised as a whole (2.3 and before) is read whole and decoded first.
    const bool whole = h.unsynchronisation() && version <= 3;
    TagLib::ByteVector data;
    if (whole)
        data = TagLib::ID3v2::SynchData::decode(file.at(10, length));
    const unsigned end = whole ? data.size() : length;
    auto at = [&](unsigned pos, unsigned n) -> TagLib::ByteVector {
        return whole ? data.mid(pos, n) : file.at(10 + static_cast<long>(pos), n);
    };
    unsigned pos = 0;
    if (h.extendedHeader() && version >= 3) {
        const TagLib::ByteVector ext = at(0, 4);
        if (ext.size() < 4)
            return {};
        pos = version == 3 ? 4 + bigEndian(ext, 0, 4, false) : bigEndian(ext, 0, 4, true);
    }
    const unsigned idSize = version == 2 ? 3 : 4;
    TagLib::ByteVector frames;
    while (pos < end && end - pos > headerSize) {
        const TagLib::ByteVector fh = at(pos, headerSize);
        if (fh.size() < headerSize)
            break;
        // Padding, or bytes that are no frame: TagLib stops there too.
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
        if (size == 0 || size > end - pos - headerSize)
            break;
        if (wanted(fh.mid(0, idSize)))
            frames.append(fh).append(at(pos + headerSize, size));
        pos += headerSize + size;
    }
    if (frames.isEmpty())
        return {};
    TagLib::ByteVector out("ID3", 3);
    out.append(static_cast<char>(version)).append('\0').append('\0');
    for (int i = 3; i >= 0; --i)
        out.append(static_cast<char>((frames.size() >> (7 * i)) & 0x7F));
    return out.append(frames);
}

std::optional<OtherTag> read(Bytes& file) {
    const long length = file.length();
    if (length >= 10 && file.at(0, 3) == TagLib::ByteVector("ID3", 3)) {
        TagLib::ByteVectorStream stream(wantedFrames(file));
        TagsOnly parsed(&stream);
        const TagLib::ID3v2::Tag id3(&parsed, 0);
        OtherTag out;
        out.kind = OtherTag::Kind::Id3v2;
        fromId3v2(id3, out);
        if (!out.empty())
            return out;
    }
    // The APEv2 footer ends where the trailer begins, or at the end of a file without one.
    long footer = length - 32;
    if (length >= 128 + 32 && file.at(length - 128, 3) == TagLib::ByteVector("TAG", 3))
        footer = length - 128 - 32;
    if (footer < 0)
        return std::nullopt;
    const TagLib::ByteVector foot = file.at(footer, 32);
    if (foot.size() < 32 || !foot.startsWith("APETAGEX"))
        return std::nullopt;
    // The tag's items and footer, and its header where it has one: TagLib reads them from there.
    const quint32 tagSize = foot.toUInt(12, false);
    if (tagSize <= 32 || tagSize > static_cast<quint32>(footer + 32))
        return std::nullopt;
    const long start = footer + 32 - static_cast<long>(tagSize);
    TagLib::ByteVectorStream stream(file.at(start, tagSize));
    TagsOnly parsed(&stream);
    const TagLib::APE::Tag ape(&parsed, static_cast<long>(tagSize) - 32);
    OtherTag out;
    out.kind = OtherTag::Kind::Ape;
    fromApe(ape, out);
    if (out.empty())
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<OtherTag> readOtherTag(const QString& path) {
    // The name's own bytes, those that are not UTF-8 included (see platform/names.h).
    const QByteArray name = platform::encodeName(path);
    // Without O_NONBLOCK a FIFO named *.mp3 would hold the window until someone writes to it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes file(static_cast<long>(st.st_size), [fd](long pos, unsigned n) {
        TagLib::ByteVector b(n, '\0');
        const ssize_t got = ::pread(fd, b.data(), n, pos);
        b.resize(got > 0 ? static_cast<unsigned>(got) : 0);
        return b;
    });
    std::optional<OtherTag> out = read(file);
    ::close(fd);
    return out;
}

std::optional<OtherTag> readOtherTag(std::span<const std::byte> file) {
    Bytes bytes(static_cast<long>(file.size()), [file](long pos, unsigned n) {
        const auto from = static_cast<std::size_t>(pos);
        const std::size_t count = std::min<std::size_t>(n, file.size() - from);
        return TagLib::ByteVector(reinterpret_cast<const char*>(file.data()) + from,
                                  static_cast<unsigned>(count));
    });
    return read(bytes);
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
