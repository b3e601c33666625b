#pragma once

#include "platform/names.h"

#include <linux/capability.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <map>
#include <optional>
#include <vector>

namespace sorvel::test {

/// A temporary folder, removed with everything in it (names that are not UTF-8 too, which
/// QTemporaryDir alone would leave behind) when the test ends; inside `parent` if given (a file
/// system of the test's own, say).
class TempFolder {
public:
    TempFolder();
    explicit TempFolder(const QString& parent);
    ~TempFolder();
    /// The folder's path, ending in "/".
    QString path() const { return dir_.path() + u'/'; }
    QString file(const QString& name) const { return path() + name; }
    /// Creates (or replaces) `name` with `bytes` and gives its path.
    QString write(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir dir_;
};

/// Files reached by their own bytes (QFile would turn odd bytes into look-alikes); present()
/// tells whether anything has that name.
QByteArray readAll(const QString& path);
void writeAll(const QString& path, const QByteArray& bytes);
bool present(const QString& path);

/// A 128-byte trailer: "TAG" and the fields padded with `pad`, then the genre byte.
QByteArray trailer(const QByteArray& title, const QByteArray& artist, const QByteArray& album,
                   const QByteArray& year, const QByteArray& comment, unsigned char genre,
                   char pad = ' ');

/// `file` with the trailer field at `at` (its offset in the trailer: kTitleAt...) set to `text`
/// padded with blanks to `width`, as a changed field is written.
QByteArray withField(QByteArray file, int at, int width, const QByteArray& text);
inline constexpr int kTitleAt = 3, kArtistAt = 33, kAlbumAt = 63, kGenreAt = 127;

/// `n` bytes of audio-like filler that differs from position to position.
QByteArray audio(int n);

/// Environment variables set (or, given nothing, unset) for as long as the object lives.
class Environment {
public:
    ~Environment();
    void set(const char* name, const std::optional<QString>& value);

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

/// Makes a file or folder read-only for as long as the object lives: no write bits and, when the
/// tests run as root (as CI does, and root ignores modes), the immutable attribute as well. The
/// mode it had comes back at the end. effective() is false where the file system has no
/// immutable attribute and the tests run as root.
class ReadOnly {
public:
    explicit ReadOnly(const QString& path);
    ~ReadOnly();
    bool effective() const { return immutable_ || ::geteuid() != 0; }

private:
    QByteArray path_;
    unsigned mode_ = 0644;
    bool immutable_ = false;
};

/// Every entry of `folder` and of the folders in it ("sub/name"), hidden ones too, with its bytes;
/// a folder as "<folder>", a FIFO as "<fifo>" (never opened), a symbolic link as "-> " and where it
/// points. For checks that nothing changed, or only what should.
std::map<QString, QByteArray> snapshot(const QString& folder);

/// Lays borta.mp3, fifo.mp3, krymper.mp3 and mapp.mp3 in `dir` as plain files of `bytes`, in
/// place of what meddle() made of them.
void layMeddled(const TempFolder& dir, const QByteArray& bytes);
/// What another program does to those files between a listing and the reading or writing:
/// removes borta.mp3, puts a FIFO in the place of fifo.mp3 and a folder in that of mapp.mp3, and
/// cuts krymper.mp3 to 100 bytes.
void meddle(const TempFolder& dir);

/// Takes from this thread, for as long as the object lives, root's power to read and write what a
/// mode forbids (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH), so that a mode refuses the test as it
/// refuses a user. refused() tells whether `path` may not be opened for reading now: false where
/// the test runs with a power it cannot give up, and a test of what the mode refuses then skips.
class AsUser {
public:
    AsUser();
    ~AsUser();
    static bool refused(const QString& path);

private:
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

/// The desktop's data and configuration folders, with the real trash, in a temporary folder for
/// the whole process (ending in "/"): GLib reads XDG_DATA_HOME once and keeps what it found, so
/// every case must see the same one. Take it before the trash is first used.
QString desktopHome();

}  // namespace sorvel::test
