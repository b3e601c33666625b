#pragma once

// Builds the ID3v2 and APEv2 tags other programs write, byte by byte, for files the tests make.

#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <utility>
#include <vector>

namespace sorvel::test::id3 {

/// `n` in `bytes` bytes of `bits` bits each, the most significant first unless `littleEndian`.
inline QByteArray number(quint32 n, int bytes, int bits = 8, bool littleEndian = false) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += char((n >> (bits * (littleEndian ? bytes - 1 - i : i))) & ((1u << bits) - 1));
    return out;
}

/// One frame of a tag of `version` (2, 3 or 4): a three-letter id for 2.2, four otherwise.
inline QByteArray frame(int version, const char* id, const QByteArray& body) {
    const auto n = quint32(body.size());
    return version == 2 ? QByteArray(id, 3) + number(n, 3) + body
                        : QByteArray(id, 4) + number(n, 4, version == 4 ? 7 : 8) +
                              QByteArray(2, '\0') + body;
}

enum class Enc { Latin1 = 0, Utf16Bom = 1, Utf8 = 3 };

inline QByteArray encoded(Enc enc, const QString& s) {
    return enc == Enc::Latin1 ? s.toLatin1()
           : enc == Enc::Utf8 ? s.toUtf8()
                              : "\xFF\xFE" + QStringEncoder(QStringConverter::Utf16LE).encode(s);
}

inline QByteArray text(Enc enc, const QString& s) {
    return char(enc) + encoded(enc, s);
}

/// A comment body: encoding, language, description and text.
inline QByteArray comment(Enc enc, const QString& description, const QString& s) {
    const QByteArray end(enc == Enc::Utf16Bom ? 2 : 1, '\0');
    return char(enc) + QByteArray("eng") + encoded(enc, description) + end + encoded(enc, s);
}

/// A whole tag of version `v` holding `body` (frames, then any padding), its size syncsafe.
inline QByteArray id3v2(int v, const QByteArray& body) {
    return QByteArray("ID3") + char(v) + '\0' + '\0' + number(quint32(body.size()), 4, 7) + body;
}

/// An APEv2 tag with a header and a footer, holding text items.
inline QByteArray ape(const std::vector<std::pair<QByteArray, QString>>& items) {
    const auto le32 = [](qsizetype n) { return number(quint32(n), 4, 8, true); };
    QByteArray body;
    for (const auto& [key, value] : items)
        body += le32(value.toUtf8().size()) + le32(0) + key + '\0' + value.toUtf8();
    const auto frame32 = [&](quint32 flags) {
        return "APETAGEX" + le32(2000) + le32(body.size() + 32) + le32(qsizetype(items.size())) +
               le32(flags) + QByteArray(8, '\0');
    };
    return frame32(0xA0000000) + body + frame32(0x80000000);
}

}  // namespace sorvel::test::id3
