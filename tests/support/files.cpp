#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sorvel::test {

using platform::encodeName;

namespace {

__user_cap_header_struct capHeader{_LINUX_CAPABILITY_VERSION_3, 0};

bool setImmutable(const QByteArray& path, bool on) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

TempFolder::TempFolder() {
    EXPECT_TRUE(dir_.isValid());
}

TempFolder::TempFolder(const QString& parent) : dir_(parent + QStringLiteral("/XXXXXX")) {
    EXPECT_TRUE(dir_.isValid()) << parent.toStdString();
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(encodeName(dir_.path()).toStdString(), ignored);
}

QString TempFolder::write(const QString& name, const QByteArray& bytes) const {
    return writeAll(file(name), bytes), file(name);
}

QByteArray readAll(const QString& path) {
    std::ifstream in(encodeName(path).toStdString(), std::ios::binary);
    return QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
}

void writeAll(const QString& path, const QByteArray& bytes) {
    std::ofstream out(encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    EXPECT_TRUE(out.write(bytes.constData(), bytes.size()).good()) << path.toStdString();
}

bool present(const QString& path) {
    return ::access(encodeName(path).constData(), F_OK) == 0;
}

Environment::~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        it->second ? qputenv(it->first, *it->second) : qunsetenv(it->first);
}

void Environment::set(const char* name, const std::optional<QString>& value) {
    saved_.emplace_back(
        name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    value ? qputenv(name, encodeName(*value)) : qunsetenv(name);
}

QByteArray trailer(const QByteArray& title, const QByteArray& artist, const QByteArray& album,
                   const QByteArray& year, const QByteArray& comment, unsigned char genre,
                   char pad) {
    const auto padded = [pad](const QByteArray& s, int width) {
        return s.left(width).leftJustified(width, pad);
    };
    return "TAG" + padded(title, 30) + padded(artist, 30) + padded(album, 30) + padded(year, 4) +
           padded(comment, 30) + char(genre);
}

QByteArray withField(QByteArray file, int at, int width, const QByteArray& text) {
    return file.replace(file.size() - 128 + at, width, text.leftJustified(width));
}

QByteArray audio(int n) {
    QByteArray a(n, '\0');
    for (int i = 0; i < n; ++i)
        a[i] = static_cast<char>((i * 131 + 7) % 251);
    return a;
}

ReadOnly::ReadOnly(const QString& path) : path_(encodeName(path)) {
    struct stat st {};
    if (::stat(path_.constData(), &st) == 0)
        mode_ = st.st_mode & 07777;
    // A folder keeps its search bit, so that its files can still be read.
    ::chmod(path_.constData(), S_ISDIR(st.st_mode) ? 0555 : 0444);
    immutable_ = ::geteuid() == 0 && setImmutable(path_, true);
}

ReadOnly::~ReadOnly() {
    if (immutable_)
        setImmutable(path_, false);
    ::chmod(path_.constData(), mode_);
}

std::map<QString, QByteArray> snapshot(const QString& folder) {
    namespace fs = std::filesystem;
    std::map<QString, QByteArray> out;
    const std::string root =
        encodeName(folder.endsWith(u'/') ? folder : folder + u'/').toStdString();
    std::error_code e;
    for (fs::recursive_directory_iterator
             it(root, fs::directory_options::skip_permission_denied, e),
         end;
         it != end; it.increment(e)) {
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

void layMeddled(const TempFolder& dir, const QByteArray& bytes) {
    // The FIFO goes first: a write to it would wait for a reader.
    ::unlink(encodeName(dir.file(QStringLiteral("fifo.mp3"))));
    ::rmdir(encodeName(dir.file(QStringLiteral("mapp.mp3"))));
    for (const char* name : {"borta.mp3", "fifo.mp3", "krymper.mp3", "mapp.mp3"})
        dir.write(QString::fromLatin1(name), bytes);
}

void meddle(const TempFolder& dir) {
    const auto at = [&](const char* name) {
        return encodeName(dir.file(QString::fromLatin1(name)));
    };
    EXPECT_EQ(::unlink(at("borta.mp3")), 0);
    EXPECT_EQ(::unlink(at("fifo.mp3")) + ::mkfifo(at("fifo.mp3"), 0644), 0);
    EXPECT_EQ(::unlink(at("mapp.mp3")) + ::mkdir(at("mapp.mp3"), 0755), 0);
    EXPECT_EQ(::truncate(at("krymper.mp3"), 100), 0);
}

AsUser::AsUser() {
    if (::syscall(SYS_capget, &capHeader, saved_) != 0)
        return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        lowered[cap / 32].effective &= ~(1u << (cap % 32));
    dropped_ = ::syscall(SYS_capset, &capHeader, lowered) == 0;
}

AsUser::~AsUser() {
    if (dropped_)
        ::syscall(SYS_capset, &capHeader, saved_);
}

bool AsUser::refused(const QString& path) {
    const int fd = ::open(encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    return ::close(fd) != 0;
}

QString desktopHome() {
    static const TempFolder home;
    static const bool set =
        qputenv("XDG_DATA_HOME", encodeName(home.file(QStringLiteral("data")))) &&
        qputenv("XDG_CONFIG_HOME", encodeName(home.file(QStringLiteral("config"))));
    return set ? home.path() : QString();
}

}  // namespace sorvel::test
