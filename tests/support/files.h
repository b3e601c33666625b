#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvel::test {

/// A temporary folder, removed with everything in it when the test ends.
class TempFolder {
public:
    TempFolder();
    /// A temporary folder inside `parent` (a file system of the test's own, say).
    explicit TempFolder(const QString& parent);
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    /// Removes names that are not UTF-8 too, which QTemporaryDir alone would leave behind.
    ~TempFolder();
    /// The folder's path, ending in "/".
    QString path() const { return dir_.path() + u'/'; }
    QString file(const QString& name) const { return path() + name; }
    /// Creates (or replaces) `name` with `bytes` and gives its path.
    QString write(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir dir_;
};

QByteArray readAll(const QString& path);
void writeAll(const QString& path, const QByteArray& bytes);
/// Whether anything has that name, reached by its own bytes (QFile would turn odd bytes into
/// look-alikes).
bool present(const QString& path);

/// A 128-byte trailer: "TAG" and the fields padded with `pad`, then the genre byte.
QByteArray trailer(const QByteArray& title, const QByteArray& artist, const QByteArray& album,
                   const QByteArray& year, const QByteArray& comment, unsigned char genre,
                   char pad = ' ');

/// `file` with the trailer field at `at` (its offset in the trailer: kTitleAt...) set to `text`
/// padded with blanks to `width`, as a changed field is written.
QByteArray withField(QByteArray file, int at, int width, const QByteArray& text);
inline constexpr int kTitleAt = 3;
inline constexpr int kArtistAt = 33;
inline constexpr int kAlbumAt = 63;
inline constexpr int kGenreAt = 127;

/// `n` bytes of audio-like filler that differs from position to position.
QByteArray audio(int n);

/// Environment variables set (or, given nothing, unset) for as long as the object lives.
class Environment {
public:
    Environment() = default;
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;
    ~Environment();
    void set(const char* name, const std::optional<QString>& value);

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

/// Makes a file or folder read-only for as long as the object lives: no write bits and, when the
/// tests run as root (as CI does, and root ignores modes), the immutable attribute as well. The
/// mode it had comes back at the end.
class ReadOnly {
public:
    explicit ReadOnly(const QString& path);
    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;
    ~ReadOnly();
    /// False where the file system has no immutable attribute and the tests run as root.
    bool effective() const { return effective_; }

private:
    QByteArray path_;
    unsigned mode_ = 0644;
    bool immutable_ = false;
    bool effective_ = false;
};

}  // namespace sorvel::test
