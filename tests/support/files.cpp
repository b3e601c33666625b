#include "support/files.h"

#include "platform/names.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sorvel::test {

TempFolder::TempFolder() {
    EXPECT_TRUE(dir_.isValid());
}

TempFolder::TempFolder(const QString& parent) : dir_(parent + QStringLiteral("/XXXXXX")) {
    EXPECT_TRUE(dir_.isValid()) << parent.toStdString();
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(platform::encodeName(dir_.path()).toStdString(), ignored);
}

QString TempFolder::write(const QString& name, const QByteArray& bytes) const {
    const QString p = file(name);
    writeAll(p, bytes);
    return p;
}

QByteArray readAll(const QString& path) {
    std::ifstream in(platform::encodeName(path).toStdString(), std::ios::binary);
    const std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

void writeAll(const QString& path, const QByteArray& bytes) {
    std::ofstream out(platform::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
    ASSERT_TRUE(out.good()) << path.toStdString();
}

bool present(const QString& path) {
    return ::access(platform::encodeName(path).constData(), F_OK) == 0;
}

Environment::~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        it->second ? qputenv(it->first, *it->second) : qunsetenv(it->first);
}

void Environment::set(const char* name, const std::optional<QString>& value) {
    saved_.emplace_back(
        name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    value ? qputenv(name, platform::encodeName(*value)) : qunsetenv(name);
}

QByteArray trailer(const QByteArray& title, const QByteArray& artist, const QByteArray& album,
                   const QByteArray& year, const QByteArray& comment, unsigned char genre,
                   char pad) {
    auto padded = [pad](QByteArray s, int width) {
        s.truncate(width);
        return s + QByteArray(width - s.size(), pad);
    };
    QByteArray t = "TAG" + padded(title, 30) + padded(artist, 30) + padded(album, 30) +
                   padded(year, 4) + padded(comment, 30);
    t.append(static_cast<char>(genre));
    return t;
}

QByteArray withField(QByteArray file, int at, int width, const QByteArray& text) {
    return file.replace(file.size() - 128 + at, width, text + QByteArray(width - text.size(), ' '));
}

QByteArray audio(int n) {
    QByteArray a(n, '\0');
    for (int i = 0; i < n; ++i)
        a[i] = static_cast<char>((i * 131 + 7) % 251);
    return a;
}

namespace {

bool setImmutable(const QByteArray& path, bool on) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace

ReadOnly::ReadOnly(const QString& path) : path_(platform::encodeName(path)) {
    struct stat st {};
    if (::stat(path_.constData(), &st) == 0)
        mode_ = st.st_mode & 07777;
    // A folder keeps its search bit, so that its files can still be read.
    ::chmod(path_.constData(), S_ISDIR(st.st_mode) ? 0555 : 0444);
    immutable_ = ::geteuid() == 0 && setImmutable(path_, true);
    effective_ = immutable_ || ::geteuid() != 0;
}

ReadOnly::~ReadOnly() {
    if (immutable_)
        setImmutable(path_, false);
    ::chmod(path_.constData(), mode_);
}

}  // namespace sorvel::test
