#pragma once

// Real files for the tests, reached by their own bytes (QFile would turn odd bytes into
// look-alikes), and the process's rights and environment as a test needs them for a while.

#include "platform/names.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

namespace sorvel::test {

using platform::encodeName;

inline QByteArray readAll(const QString& path) {
    std::ifstream in(encodeName(path).toStdString(), std::ios::binary);
    return QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    std::ofstream out(encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    EXPECT_TRUE(out.write(bytes.constData(), bytes.size()).good()) << path.toStdString();
}

/// Whether anything has that name.
inline bool present(const QString& path) {
    return ::access(encodeName(path).constData(), F_OK) == 0;
}

/// A temporary folder, removed with everything in it (names that are not UTF-8 too, which
/// QTemporaryDir alone would leave behind) when the test ends; inside `parent` if given (a file
/// system of the test's own, say).
struct TempFolder {
    explicit TempFolder(const QString& parent = QDir::tempPath())
        : dir_(parent + QStringLiteral("/XXXXXX")) {
        EXPECT_TRUE(dir_.isValid()) << parent.toStdString();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(encodeName(dir_.path()).toStdString(), ignored);
    }
    /// The folder's path, ending in "/".
    QString path() const { return dir_.path() + u'/'; }
    QString file(const QString& name) const { return path() + name; }
    /// Creates (or replaces) `name` with `bytes` and gives its path.
    QString write(const QString& name, const QByteArray& bytes) const {
        writeAll(file(name), bytes);
        return file(name);
    }

    QTemporaryDir dir_;
};

/// A 128-byte trailer: "TAG" and the fields padded with `pad`, then the genre byte.
inline QByteArray trailer(const QByteArray& title, const QByteArray& artist,
                          const QByteArray& album, const QByteArray& year,
                          const QByteArray& comment, unsigned char genre, char pad = ' ') {
    const auto padded = [pad](const QByteArray& s, int width) {
        return s.left(width).leftJustified(width, pad);
    };
    return "TAG" + padded(title, 30) + padded(artist, 30) + padded(album, 30) + padded(year, 4) +
           padded(comment, 30) + char(genre);
}

/// `file` with the trailer field at `at` (its offset in the trailer: kTitleAt...) set to `text`
/// padded with blanks to `width`, as a changed field is written.
inline QByteArray withField(QByteArray file, int at, int width, const QByteArray& text) {
    return file.replace(file.size() - 128 + at, width, text.leftJustified(width));
}
inline constexpr int kTitleAt = 3, kArtistAt = 33, kAlbumAt = 63, kCommentAt = 97, kGenreAt = 127;

/// `n` bytes of audio-like filler that differs from position to position.
inline QByteArray audio(int n) {
    QByteArray a(n, '\0');
    for (int i = 0; i < n; ++i)
        a[i] = static_cast<char>((i * 131 + 7) % 251);
    return a;
}

/// Environment variables set (or, given nothing, unset) for as long as the object lives.
struct Environment {
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            it->second ? qputenv(it->first, *it->second) : qunsetenv(it->first);
    }
    void set(const char* name, const std::optional<QString>& value) {
        saved_.emplace_back(
            name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        value ? qputenv(name, encodeName(*value)) : qunsetenv(name);
    }

    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

/// Makes a file or folder read-only for as long as the object lives: no write bits and, when the
/// tests run as root (as CI does, and root ignores modes), the immutable attribute as well. The
/// mode it had comes back at the end. effective() is false where the file system has no
/// immutable attribute and the tests run as root.
struct ReadOnly {
    explicit ReadOnly(const QString& path) : path_(encodeName(path)) {
        struct stat st {};
        if (::stat(path_.constData(), &st) == 0)
            mode_ = st.st_mode & 07777;
        // A folder keeps its search bit, so that its files can still be read.
        ::chmod(path_.constData(), S_ISDIR(st.st_mode) ? 0555 : 0444);
        immutable_ = ::geteuid() == 0 && setImmutable(true);
    }
    ~ReadOnly() {
        if (immutable_)
            setImmutable(false);
        ::chmod(path_.constData(), mode_);
    }
    bool effective() const { return immutable_ || ::geteuid() != 0; }

    bool setImmutable(bool on) const {
        const int fd = ::open(path_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int flags = 0;
        bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }

    QByteArray path_;
    unsigned mode_ = 0644;
    bool immutable_ = false;
};

/// Every entry of `folder` and of the folders in it ("sub/name"), hidden ones too, with its bytes;
/// a folder as "<folder>", a FIFO as "<fifo>" (never opened), a symbolic link as "-> " and where it
/// points. For checks that nothing changed, or only what should.
inline std::map<QString, QByteArray> snapshot(const QString& folder) {
    namespace fs = std::filesystem;
    std::map<QString, QByteArray> out;
    const std::string root =
        encodeName(folder.endsWith(u'/') ? folder : folder + u'/').toStdString();
    std::error_code e;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, e);
    for (; it != fs::recursive_directory_iterator(); it.increment(e)) {
        const std::string path = it->path().string();
        const auto type = it->symlink_status(e).type();
        out[platform::decodeName(path.substr(root.size()))] =
            type == fs::file_type::directory ? "<folder>"
            : type == fs::file_type::fifo    ? "<fifo>"
            : type == fs::file_type::symlink
                ? "-> " + QByteArray::fromStdString(fs::read_symlink(path, e))
                : readAll(platform::decodeName(path));
    }
    return out;
}

/// Lays borta.mp3, fifo.mp3, krymper.mp3 and mapp.mp3 in `dir` as plain files of `bytes`, in
/// place of what meddle() made of them.
inline void layMeddled(const TempFolder& dir, const QByteArray& bytes) {
    for (const char* name : {"borta.mp3", "fifo.mp3", "krymper.mp3", "mapp.mp3"}) {
        const QString at = dir.file(QString::fromLatin1(name));
        // The FIFO goes first: a write to it would wait for a reader.
        ::unlink(encodeName(at));
        ::rmdir(encodeName(at));
        writeAll(at, bytes);
    }
}
/// What another program does to those files between a listing and the reading or writing:
/// removes borta.mp3, puts a FIFO in the place of fifo.mp3 and a folder in that of mapp.mp3, and
/// cuts krymper.mp3 to 100 bytes.
inline void meddle(const TempFolder& dir) {
    const auto at = [&](const char* name) {
        return encodeName(dir.file(QString::fromLatin1(name)));
    };
    EXPECT_EQ(::unlink(at("borta.mp3")), 0);
    for (const char* name : {"fifo.mp3", "mapp.mp3"})
        EXPECT_EQ(::unlink(at(name)), 0) << name;
    EXPECT_EQ(::mkfifo(at("fifo.mp3"), 0644), 0);
    EXPECT_EQ(::mkdir(at("mapp.mp3"), 0755), 0);
    EXPECT_EQ(::truncate(at("krymper.mp3"), 100), 0);
}

/// Takes from this thread, for as long as the object lives, root's power to read and write what a
/// mode forbids (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH), so that a mode refuses the test as it
/// refuses a user. refused() tells whether `path` may not be opened for reading now: false where
/// the test runs with a power it cannot give up, and a test of what the mode refuses then skips.
struct AsUser {
    AsUser() {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            lowered[cap / 32].effective &= ~(1u << (cap % 32));
        dropped_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~AsUser() {
        if (dropped_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    static bool refused(const QString& path) {
        return ::close(::open(encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) != 0;
    }

    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

/// The desktop's data and configuration folders, with the real trash, in a temporary folder for
/// the whole process (ending in "/"): GLib reads XDG_DATA_HOME once and keeps what it found, so
/// every case must see the same one. Take it before the trash is first used.
inline QString desktopHome() {
    static const TempFolder home;
    static const bool set =
        qputenv("XDG_DATA_HOME", encodeName(home.file(QStringLiteral("data")))) &&
        qputenv("XDG_CONFIG_HOME", encodeName(home.file(QStringLiteral("config"))));
    return set ? home.path() : QString();
}

}  // namespace sorvel::test
