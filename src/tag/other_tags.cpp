#include "tag/other_tags.h"

#include "tag/genre.h"
#include "tag/trailer.h"

#include <apetag.h>
#include <commentsframe.h>
#include <id3v1genres.h>
#include <id3v2frame.h>
#include <id3v2framefactory.h>
#include <id3v2header.h>
#include <id3v2synchdata.h>
#include <tbytevectorstream.h>
#include <textidentificationframe.h>
#include <tfile.h>
#include <QByteArray>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

namespace sorvel::tag {
namespace {

using Size = std::int64_t;

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

// Only the first of several values counts: a NUL ends it, as it separates values in 2.4 frames
// and in APEv2 items, and ends the text in 2.3 ones.
void put(std::optional<QString>& field, const TagLib::String& s) {
    if (field)
        return;
    QString text = toQString(s);
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0)
        text.truncate(nul);
    if (!text.isEmpty())
        field = std::move(text);
}

int trackOf(const TagLib::String& s) {
    const QString text = toQString(s).trimmed();
    const qsizetype slash = text.indexOf(u'/');
    bool ok = false;
    const int n = (slash < 0 ? text : text.left(slash)).trimmed().toInt(&ok);
    return ok && n >= 1 && n <= 255 ? n : 0;
}

quint32 bigEndian(std::string_view b, std::size_t at, std::size_t n, bool syncsafe) {
    quint32 v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(b[at + i]);
        v = syncsafe ? (v << 7) | (byte & 0x7Fu) : (v << 8) | byte;
    }
    return v;
}

quint32 littleEndian(std::string_view b, std::size_t at) {
    quint32 v = 0;
    for (std::size_t i = 4; i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

bool frameName(std::string_view id) {
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// A file's bytes, read where asked. TagLib's own file stream asks the system for the length and
// seeks three times for every read, which cost more than all the rest of an import; this reads
// each piece once, 4 KB at a time around the frame headers. A read that gets less than the file
// claims to hold marks the whole read failed.
class Bytes {
public:
    /// Reads up to `n` bytes at `pos` into `to`: the count read, or -1.
    using ReadAt = std::function<Size(Size pos, char* to, Size n)>;
    Bytes(Size length, ReadAt readAt) : length_(length), readAt_(std::move(readAt)) {}
    Size length() const { return length_; }
    bool failed() const { return failed_; }

    /// Up to `n` bytes (at most kChunk) from `pos`, fewer only where the file ends; valid until
    /// the next call.
    std::string_view peek(Size pos, Size n) {
        if (pos < 0 || pos >= length_ || n <= 0 || failed_)
            return {};
        n = std::min({n, kChunk, length_ - pos});
        if (pos < chunkAt_ || pos + n > chunkAt_ + chunkSize_) {
            chunkAt_ = pos;
            chunkSize_ = fill(pos, chunk_.data(), std::min(kChunk, length_ - pos));
        }
        const Size from = pos - chunkAt_;
        return {chunk_.data() + from, static_cast<std::size_t>(std::min(n, chunkSize_ - from))};
    }

    /// Up to `n` bytes from `pos`, fewer only where the file ends.
    TagLib::ByteVector at(Size pos, Size n) {
        if (pos < 0 || pos >= length_ || n <= 0)
            return {};
        n = std::min(n, length_ - pos);
        if (n <= kChunk) {
            const std::string_view v = peek(pos, n);
            return {v.data(), static_cast<unsigned>(v.size())};
        }
        TagLib::ByteVector b(static_cast<unsigned>(n), '\0');
        b.resize(static_cast<unsigned>(fill(pos, b.data(), n)));
        return b;
    }

    static constexpr Size kChunk = 4096;

private:
    Size fill(Size pos, char* to, Size n) {
        const Size got = failed_ ? -1 : readAt_(pos, to, n);
        if (got < n) {
            failed_ = true;
            return 0;
        }
        return got;
    }

    Size length_;
    ReadAt readAt_;
    bool failed_ = false;
    std::array<char, kChunk> chunk_{};
    Size chunkAt_ = 0;
    Size chunkSize_ = 0;
};

// The tag that starts the file from its frames on, read forward only, with the unsynchronisation
// of a whole 2.2 or 2.3 tag undone on the way: a tag of any size costs no more memory than the
// frames kept from it.
class Frames {
public:
    Frames(Bytes& file, Size begin, Size end, bool unsynchronised)
        : file_(file), pos_(begin), end_(end), unsynchronised_(unsynchronised) {}
    Size pos() const { return pos_; }

    /// The next `n` bytes of the tag into `to` (or past them when `to` is null); false where the
    /// tag ends first.
    bool read(char* to, Size n) {
        if (!unsynchronised_) {
            if (n > end_ - pos_)
                return false;
            for (Size done = 0; to != nullptr && done < n;) {
                const std::string_view v = file_.peek(pos_ + done, n - done);
                if (v.empty())
                    return false;
                std::memcpy(to + done, v.data(), v.size());
                done += static_cast<Size>(v.size());
            }
            pos_ += n;
            return true;
        }
        while (n > 0) {
            if (pos_ >= end_)
                return false;
            if (pos_ < bufferAt_ || pos_ >= bufferAt_ + buffer_.size()) {
                buffer_ = file_.at(pos_, std::min(kBuffer, end_ - pos_));
                bufferAt_ = pos_;
                if (buffer_.isEmpty())
                    return false;
            }
            const auto from = static_cast<std::size_t>(pos_ - bufferAt_);
            const std::string_view v(buffer_.data() + from, buffer_.size() - from);
            if (to == nullptr) {
                // Passed over whole where it all lies before the end of what is skipped: every
                // zero after an 0xFF is one byte less.
                std::size_t zeros = afterFF_ && v[0] == '\0' ? 1 : 0;
                for (std::size_t i = 1; i < v.size(); ++i)
                    zeros += v[i - 1] == '\xFF' && v[i] == '\0' ? 1 : 0;
                if (static_cast<Size>(v.size() - zeros) <= n) {
                    n -= static_cast<Size>(v.size() - zeros);
                    pos_ += static_cast<Size>(v.size());
                    afterFF_ = v.back() == '\xFF';
                    continue;
                }
            }
            std::size_t i = 0;
            while (i < v.size() && n > 0) {
                if (afterFF_ && v[i] == '\0') {
                    afterFF_ = false;
                    ++i;
                    continue;
                }
                // Up to the next 0xFF every byte stands for itself.
                const auto run = std::min<std::size_t>(v.size() - i, static_cast<std::size_t>(n));
                const void* ff = std::memchr(v.data() + i, '\xFF', run);
                const std::size_t plain =
                    ff == nullptr ? run : static_cast<const char*>(ff) - (v.data() + i) + 1;
                if (to != nullptr) {
                    std::memcpy(to, v.data() + i, plain);
                    to += plain;
                }
                i += plain;
                n -= static_cast<Size>(plain);
                afterFF_ = v[i - 1] == '\xFF';
            }
            pos_ += static_cast<Size>(i);
        }
        return true;
    }

private:
    Bytes& file_;
    Size pos_;
    Size end_;
    bool unsynchronised_;
    // Read in larger pieces than Bytes does: an unsynchronised tag is read from end to end.
    static constexpr Size kBuffer = 64 * 1024;
    TagLib::ByteVector buffer_;
    Size bufferAt_ = 0;
    bool afterFF_ = false;
};

// The frames the fields come from. Of each, the first in the tag counts; the years in this order.
enum Kind { kTitle, kArtist, kAlbum, kTdrc, kTyer, kTdrl, kTdor, kComment, kGenre, kTrack, kKinds };

int kindOf(std::string_view id) {
    static constexpr std::pair<std::string_view, Kind> kIds[] = {
        {"TIT2", kTitle}, {"TT2", kTitle}, {"TPE1", kArtist}, {"TP1", kArtist},   {"TALB", kAlbum},
        {"TAL", kAlbum},  {"TDRC", kTdrc}, {"TYER", kTyer},   {"TYE", kTyer},     {"TDRL", kTdrl},
        {"TDOR", kTdor},  {"TORY", kTdor}, {"TOR", kTdor},    {"COMM", kComment}, {"COM", kComment},
        {"TCON", kGenre}, {"TCO", kGenre}, {"TRCK", kTrack},  {"TRK", kTrack}};
    for (const auto& [name, kind] : kIds) {
        if (name == id)
            return kind;
    }
    return -1;
}

// A wanted frame longer than this is kept cut: its first value is all that counts, and a crafted
// tag cannot make the import hold more than kKinds of these.
constexpr Size kMaxKept = 256 * 1024;

// The size a 2.4 frame header gives. Some encoders write it as a plain integer instead of a
// syncsafe one; as TagLib does, the plain reading is taken where the syncsafe one leads to no
// frame, padding or end of the tag and the plain one does.
Size frameSize24(Bytes& file, std::string_view header, Size bodyAt, Size end) {
    const auto landsWell = [&](Size at) {
        if (at == end)
            return true;
        if (at > end)
            return false;
        const std::string_view next = file.peek(at, std::min<Size>(4, end - at));
        return !next.empty() && (next[0] == '\0' || (next.size() == 4 && frameName(next)));
    };
    const Size syncsafe = bigEndian(header, 4, 4, true);
    if (landsWell(bodyAt + syncsafe))
        return syncsafe;
    const Size plain = bigEndian(header, 4, 4, false);
    return landsWell(bodyAt + plain) ? plain : syncsafe;
}

// The room an extended header takes, or 0 where the flag promises one that is not there (its
// size bigger than the tag, or not what the version allows).
Size extendedHeaderSize(Bytes& file, unsigned version, Size length) {
    const std::string_view s = file.peek(10, 4);
    if (s.size() < 4)
        return 0;
    if (version == 4) {
        if (std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; }))
            return 0;
        const Size size = bigEndian(s, 0, 4, true);
        return size >= 6 && size <= length ? size : 0;
    }
    const Size size = bigEndian(s, 0, 4, false);
    return (size == 6 || size == 10) && size + 4 <= length ? size + 4 : 0;
}

// Whether a comment's body (encoding, language, description, text) has an empty description.
bool undescribed(const TagLib::ByteVector& body, unsigned from) {
    if (body.size() < from + 5)
        return false;
    const char encoding = body[static_cast<int>(from)];
    const std::string_view d(body.data() + from + 4, body.size() - from - 4);
    if (encoding == 0 || encoding == 3)
        return d[0] == '\0';
    if (d.size() >= 2 && d.substr(0, 2) == std::string_view("\0\0", 2))
        return true;
    return encoding == 1 && d.size() >= 4 &&
           (d.substr(0, 2) == "\xFF\xFE" || d.substr(0, 2) == "\xFE\xFF") &&
           d.substr(2, 2) == std::string_view("\0\0", 2);
}

// The first frame of each wanted kind of the tag that starts the file, its header rewritten to
// what TagLib reads as it is meant: the size its body has now, the unsynchronisation undone.
// Frame headers are the only other bytes read. A frame that runs past the end of its tag (cut
// short, or a tag that claims more than the file holds) is left out: TagLib would keep its
// truncated text.
std::array<TagLib::ByteVector, kKinds> wantedFrames(Bytes& file, unsigned& version) {
    std::array<TagLib::ByteVector, kKinds> kept;
    const TagLib::ByteVector head = file.at(0, 10);
    if (head.size() < 10 || !head.startsWith("ID3"))
        return kept;
    version = static_cast<unsigned char>(head[3]);
    if (version < 2 || version > 4)
        return kept;
    const auto flags = static_cast<unsigned char>(head[5]);
    const Size tagSize = bigEndian(std::string_view(head.data(), 10), 6, 4, true);
    const Size length = std::min(tagSize, std::max<Size>(0, file.length() - 10));
    const Size end = 10 + length;
    // A 2.4 tag marks its frames unsynchronised one by one (the tag's flag stands for all).
    const bool unsynchronised = (flags & 0x80) != 0;
    Frames frames(file, 10, end, unsynchronised && version <= 3);
    if ((flags & 0x40) != 0 && version >= 3 &&
        !frames.read(nullptr, extendedHeaderSize(file, version, length)))
        return kept;
    const std::size_t headerSize = version == 2 ? 6 : 10;
    const std::size_t idSize = version == 2 ? 3 : 4;
    int found = 0;
    char h[10];
    while (found < kKinds && frames.read(h, static_cast<Size>(headerSize))) {
        const std::string_view header(h, headerSize);
        const std::string_view id = header.substr(0, idSize);
        // Padding, or bytes that are no frame: TagLib stops there too.
        if (!frameName(id))
            break;
        const Size size = version == 2   ? bigEndian(header, 3, 3, false)
                          : version == 3 ? bigEndian(header, 4, 4, false)
                                         : frameSize24(file, header, frames.pos(), end);
        // A frame of no bytes is skipped, as mutagen does; TagLib would end the tag there and lose
        // every frame after it.
        if (size == 0)
            continue;
        const int kind = kindOf(id);
        if (kind < 0 || !kept[kind].isEmpty()) {
            if (!frames.read(nullptr, size))
                break;
            continue;
        }
        const Size n = std::min(size, kMaxKept);
        TagLib::ByteVector body(static_cast<unsigned>(n), '\0');
        if (!frames.read(body.data(), n) || !frames.read(nullptr, size - n))
            break;
        auto formatFlags = static_cast<unsigned char>(h[9]);
        if (version == 4 && (unsynchronised || (formatFlags & 0x02) != 0)) {
            body = TagLib::ID3v2::SynchData::decode(body);
            formatFlags &= ~0x02u;
        }
        if (kind == kComment) {
            // The description cannot be seen through compression, encryption or a group mark.
            const unsigned hidden = version == 4 ? 0x4Cu : version == 3 ? 0xE0u : 0u;
            const unsigned lengthMark = version == 4 ? formatFlags & 0x01u : 0u;
            if ((formatFlags & hidden) != 0 || !undescribed(body, lengthMark * 4))
                continue;
        }
        // TagLib rewrites a genre's text as it parses it ("(40)Alternative Rock" becomes its own
        // spelling of genre 40, the number gone); under the composer's name the text is left as
        // written.
        TagLib::ByteVector frame = kind != kGenre
                                       ? TagLib::ByteVector(h, static_cast<unsigned>(idSize))
                                   : version == 2 ? TagLib::ByteVector("TCM", 3)
                                                  : TagLib::ByteVector("TCOM", 4);
        const quint32 bodySize = body.size();
        for (int i = version == 2 ? 2 : 3; i >= 0; --i)
            frame.append(static_cast<char>(version == 4 ? (bodySize >> (7 * i)) & 0x7F
                                                        : (bodySize >> (8 * i)) & 0xFF));
        if (version >= 3)
            frame.append(h[8]).append(static_cast<char>(formatFlags));
        kept[kind] = frame.append(body);
        ++found;
    }
    return kept;
}

std::optional<OtherTag> fromId3v2(Bytes& file) {
    unsigned version = 0;
    const std::array<TagLib::ByteVector, kKinds> kept = wantedFrames(file, version);
    TagLib::ID3v2::Header header;
    header.setMajorVersion(version);
    std::array<TagLib::String, kKinds> values;
    for (int k = 0; k < kKinds; ++k) {
        if (kept[k].isEmpty())
            continue;
        const std::unique_ptr<TagLib::ID3v2::Frame> frame(
            TagLib::ID3v2::FrameFactory::instance()->createFrame(kept[k], &header));
        if (const auto* c = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(frame.get())) {
            values[k] = c->text();
        } else if (const auto* t =
                       dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame.get())) {
            // TagLib splits the values at the NULs and leaves out empty ones.
            if (!t->fieldList().isEmpty())
                values[k] = t->fieldList().front();
        }
    }
    OtherTag out;
    out.kind = OtherTag::Kind::Id3v2;
    put(out.title, values[kTitle]);
    put(out.artist, values[kArtist]);
    put(out.album, values[kAlbum]);
    for (const Kind year : {kTdrc, kTyer, kTdrl, kTdor})
        put(out.year, values[year]);
    put(out.comment, values[kComment]);
    put(out.genre, values[kGenre]);
    out.track = trackOf(values[kTrack]);
    if (out.empty())
        return std::nullopt;
    return out;
}

// The APEv2 tag before the trailer, or at the end of a file without one, rebuilt with only the
// items the fields come from, for TagLib to parse; as in TagLib, the last of two items of one key
// counts.
std::optional<OtherTag> fromApe(Bytes& file) {
    const Size length = file.length();
    const Size tailSize = std::min<Size>(length, static_cast<Size>(kTailSize));
    const TagLib::ByteVector tail = file.at(length - tailSize, tailSize);
    const std::span<const std::byte> tailBytes(reinterpret_cast<const std::byte*>(tail.data()),
                                               tail.size());
    const Size footer =
        length - 32 -
        (hasTrailer(tailBytes, static_cast<std::uint64_t>(length)) ? Size{kTrailerSize} : 0);
    if (footer < 0)
        return std::nullopt;
    const TagLib::ByteVector foot = file.at(footer, 32);
    if (foot.size() < 32 || !foot.startsWith("APETAGEX"))
        return std::nullopt;
    const std::string_view footView(foot.data(), 32);
    const Size tagSize = littleEndian(footView, 12);
    if (tagSize <= 32 || tagSize > footer + 32)
        return std::nullopt;
    static constexpr std::string_view kKeys[] = {"TITLE",   "ARTIST", "ALBUM", "YEAR",
                                                 "COMMENT", "GENRE",  "TRACK"};
    std::array<TagLib::ByteVector, std::size(kKeys)> items;
    const quint32 count = littleEndian(footView, 16);
    Size pos = footer + 32 - tagSize;
    for (quint32 i = 0; i < count && footer - pos >= 11; ++i) {
        const std::string_view head = file.peek(pos, 8 + 256);
        if (head.size() < 9)
            break;
        const std::size_t nul = head.find('\0', 8);
        if (nul == std::string_view::npos)
            break;
        const Size valueSize = littleEndian(head, 0);
        const Size itemSize = static_cast<Size>(nul) + 1 + valueSize;
        if (itemSize > footer - pos)
            break;
        QByteArray key(head.data() + 8, static_cast<qsizetype>(nul - 8));
        key = key.toUpper();
        const auto* k = std::find(std::begin(kKeys), std::end(kKeys),
                                  std::string_view(key.constData(), key.size()));
        if (k != std::end(kKeys)) {
            const Size n = std::min(valueSize, kMaxKept);
            TagLib::ByteVector item = file.at(pos, static_cast<Size>(nul) + 1 + n);
            for (int b = 0; b < 4; ++b)
                item[b] = static_cast<char>((n >> (8 * b)) & 0xFF);
            items[static_cast<std::size_t>(k - std::begin(kKeys))] = item;
        }
        pos += itemSize;
    }
    TagLib::ByteVector data;
    quint32 kept = 0;
    for (const TagLib::ByteVector& item : items) {
        if (!item.isEmpty()) {
            data.append(item);
            ++kept;
        }
    }
    if (kept == 0)
        return std::nullopt;
    // The footer, telling the rebuilt size and count and that no header is before the items.
    TagLib::ByteVector newFoot = foot;
    const auto setLe = [&](int at, quint32 v) {
        for (int b = 0; b < 4; ++b)
            newFoot[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    };
    setLe(12, data.size() + 32);
    setLe(16, kept);
    setLe(20, littleEndian(footView, 20) & ~0x80000000u);
    const long footerAt = static_cast<long>(data.size());
    TagLib::ByteVectorStream stream(data.append(newFoot));
    TagsOnly parsed(&stream);
    const TagLib::APE::Tag ape(&parsed, footerAt);
    const TagLib::APE::ItemListMap& map = ape.itemListMap();
    const auto item = [&](const char* key) -> TagLib::String {
        const auto it = map.find(key);
        if (it == map.end() || it->second.type() != TagLib::APE::Item::Text)
            return {};
        const TagLib::StringList values = it->second.values();
        return values.isEmpty() ? TagLib::String() : values.front();
    };
    OtherTag out;
    out.kind = OtherTag::Kind::Ape;
    put(out.title, item("TITLE"));
    put(out.artist, item("ARTIST"));
    put(out.album, item("ALBUM"));
    put(out.year, item("YEAR"));
    put(out.comment, item("COMMENT"));
    put(out.genre, item("GENRE"));
    out.track = trackOf(item("TRACK"));
    if (out.empty())
        return std::nullopt;
    return out;
}

std::optional<OtherTag> read(Bytes& file) {
    std::optional<OtherTag> out = fromId3v2(file);
    if (!out && !file.failed())
        out = fromApe(file);
    if (file.failed())
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<OtherTag> readOtherTag(platform::FileSystem& fs, const QString& path, Code* failure) {
    Code ignored = code::kOk;
    Code& result = failure != nullptr ? *failure : ignored;
    int fd = -1;
    std::uint64_t size = 0;
    // The file system opens a FIFO without waiting for a writer, and names it.
    result = fs.openToRead(path, fd, size);
    if (result != code::kOk)
        return std::nullopt;
    platform::FileGuard guard(fs, fd);
    Code readFailure = code::kOk;
    Bytes file(static_cast<Size>(size), [&fs, fd, &readFailure](Size pos, char* to, Size n) {
        // Short of what the file claims is a failure too: the medium failed or the file was cut.
        readFailure = fs.readAt(fd, static_cast<std::uint64_t>(pos),
                                {reinterpret_cast<std::byte*>(to), static_cast<std::size_t>(n)});
        return readFailure == code::kOk ? n : Size{-1};
    });
    std::optional<OtherTag> out = read(file);
    result = file.failed() ? readFailure : code::kOk;
    return out;
}

std::optional<OtherTag> readOtherTag(std::span<const std::byte> file) {
    Bytes bytes(static_cast<Size>(file.size()), [file](Size pos, char* to, Size n) {
        const auto from = static_cast<std::size_t>(pos);
        const std::size_t count =
            std::min<std::size_t>(static_cast<std::size_t>(n), file.size() - from);
        std::memcpy(to, file.data() + from, count);
        return static_cast<Size>(count);
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
    // TagLib writes its own spelling of seven names ("Alternative Rock", "Psychedelic"...).
    for (int n = 0; n < kGenreCount; ++n) {
        if (t.compare(toQString(TagLib::ID3v1::genre(n)), Qt::CaseInsensitive) == 0)
            return n;
    }
    return -1;
}

}  // namespace sorvel::tag
