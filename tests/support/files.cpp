#include "support/files.h"

#include "platform/names.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
    int flags = 0;
    const bool got = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    const bool ok = got && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
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

std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> out;
    const QByteArray at = platform::encodeName(folder.endsWith(u'/') ? folder : folder + u'/');
    DIR* dir = ::opendir(at.constData());
    if (dir == nullptr)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QString path = platform::decodeName((at + name).toStdString());
        const QString key = platform::decodeName(name.toStdString());
        struct stat st {};
        ::lstat(at + name, &st);
        if (S_ISDIR(st.st_mode)) {
            out[key] = "<folder>";
            for (const auto& [n, bytes] : snapshot(path))
                out[key + u'/' + n] = bytes;
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(4096, '\0');
            target.truncate(std::max<ssize_t>(0, ::readlink(at + name, target.data(), 4096)));
            out[key] = "-> " + target;
        } else {
            out[key] = S_ISFIFO(st.st_mode) ? QByteArray("<fifo>") : readAll(path);
        }
    }
    ::closedir(dir);
    return out;
}

void layMeddled(const TempFolder& dir, const QByteArray& bytes) {
    // The FIFO goes first: a write to it would wait for a reader.
    ::unlink(platform::encodeName(dir.file(QStringLiteral("fifo.mp3"))).constData());
    ::rmdir(platform::encodeName(dir.file(QStringLiteral("mapp.mp3"))).constData());
    for (const char* name : {"borta.mp3", "fifo.mp3", "krymper.mp3", "mapp.mp3"})
        dir.write(QString::fromLatin1(name), bytes);
}

void meddle(const TempFolder& dir) {
    const auto at = [&](const char* name) {
        return platform::encodeName(dir.file(QString::fromLatin1(name)));
    };
    EXPECT_EQ(::unlink(at("borta.mp3")), 0);
    EXPECT_EQ(::unlink(at("fifo.mp3")) + ::mkfifo(at("fifo.mp3"), 0644), 0);
    EXPECT_EQ(::unlink(at("mapp.mp3")) + ::mkdir(at("mapp.mp3"), 0755), 0);
    EXPECT_EQ(::truncate(at("krymper.mp3"), 100), 0);
}

FewDescriptors::FewDescriptors(rlim_t limit) {
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &saved_), 0);
    rlimit low = saved_;
    low.rlim_cur = std::min(limit, saved_.rlim_cur);
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
}

FewDescriptors::~FewDescriptors() {
    leaveFree(-1);
    ::setrlimit(RLIMIT_NOFILE, &saved_);
}

void FewDescriptors::leaveFree(int n) {
    for (const int fd : held_)
        ::close(fd);
    held_.clear();
    if (n < 0)
        return;
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
        held_.push_back(fd);
    for (int i = 0; i < n && !held_.empty(); ++i) {
        ::close(held_.back());
        held_.pop_back();
    }
}

AsUser::AsUser() {
    if (::syscall(SYS_capget, &header_, saved_) != 0)
        return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        lowered[cap / 32].effective &= ~(1u << (cap % 32));
    dropped_ = ::syscall(SYS_capset, &header_, lowered) == 0;
}

AsUser::~AsUser() {
    if (dropped_)
        ::syscall(SYS_capset, &header_, saved_);
}

bool AsUser::refused(const QString& path) {
    const int fd = ::open(platform::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    return fd < 0;
}

}  // namespace sorvel::test
