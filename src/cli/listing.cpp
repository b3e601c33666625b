#include "cli/listing.h"

#include "app/row_order.h"
#include "cli/escape.h"
#include "platform/names.h"
#include "write/engine.h"

// sorvel-cli is a POSIX program (its desktop and drives are the POSIX ones): the walk below uses
// the directory calls directly, to tell a link to a folder from a folder without a second look.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <numeric>
#include <set>
#include <utility>

namespace sorvel::cli {

void appendListLine(std::string& out, const QString& path, const browse::Row& row, bool json,
                    const QString* file) {
    static constexpr const char* kKeys[] = {"\"name\":", "\"artist\":", "\"title\":",  "\"album\":",
                                            "\"year\":", "\"genre\":",  "\"comment\":"};
    if (json) {
        out += '{';
        if (file != nullptr) {
            out += "\"file\":";
            appendJson(out, *file);
            out += ',';
        }
        out += "\"path\":";
        appendJson(out, path);
        for (int c = 0; c < app::RowOrder::kColumns; ++c) {
            out += ',';
            out += kKeys[c];
            appendJson(out, app::RowOrder::shown(row, c));
        }
        out += ",\"track\":";
        out += row.track != 0 ? std::to_string(row.track) : "null";
        out += "}\n";
        return;
    }
    if (file != nullptr) {
        appendText(out, *file);
        out += '\t';
    }
    appendText(out, path);
    for (int c = 1; c < app::RowOrder::kColumns; ++c) {
        out += '\t';
        appendText(out, app::RowOrder::shown(row, c));
    }
    out += '\t';
    if (row.track != 0)
        out += std::to_string(row.track);
    out += '\n';
}

namespace {

// Status and progress are for a window.
class Quiet : public browse::StatusObserver {
public:
    void setStatus(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgress(int) override {}
};

// The window's order of names: Swedish, letter case aside (as its file list and folder tree sort).
class SwedishOrder {
public:
    SwedishOrder() : collator_(QLocale(QLocale::Swedish, QLocale::Sweden)) {
        collator_.setCaseSensitivity(Qt::CaseInsensitive);
        collator_.setNumericMode(false);
        collator_.setIgnorePunctuation(false);
    }
    /// Sorts `names` by `shown(name)`; names that collate alike keep the order of their bytes,
    /// so that every run lists them alike.
    template <class Shown>
    void sort(std::vector<QString>& names, Shown&& shown) {
        std::vector<QCollatorSortKey> keys;
        keys.reserve(names.size());
        for (const QString& n : names)
            keys.push_back(collator_.sortKey(shown(n)));
        std::vector<std::size_t> order(names.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const int c = keys[a].compare(keys[b]);
            return c != 0 ? c < 0 : names[a] < names[b];
        });
        std::vector<QString> sorted;
        sorted.reserve(names.size());
        for (const std::size_t i : order)
            sorted.push_back(std::move(names[i]));
        names = std::move(sorted);
    }

private:
    QCollator collator_;
};

// The file system as a listing sees it: a folder's MP3 files in the window's order, or only the
// files a command named, in their order; and why each file that could not be read was not.
class ListingFileSystem : public platform::FileSystem {
public:
    explicit ListingFileSystem(platform::FileSystem& real) : real_(real) {}

    /// Lists only these names, in this order (those the folder has), or the whole folder when
    /// null; kept() then says which of them it had.
    void only(const std::vector<QString>* names) { only_ = names; }
    const std::vector<std::size_t>& kept() const { return kept_; }
    Code listed() const { return listed_; }
    /// Why the file of that name in the folder listed last could not be read; kOk when it was.
    Code unread(const QString& name) const { return unread_.value(name, code::kOk); }

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override {
        std::vector<QString> found;
        std::size_t n = 0;
        unread_.clear();
        kept_.clear();
        listed_ = real_.listMp3(folder, &found, n);
        count = 0;
        if (listed_ != code::kOk || names == nullptr)
            return listed_;
        if (only_ != nullptr) {
            const QSet<QString> there(found.begin(), found.end());
            for (std::size_t i = 0; i < only_->size(); ++i) {
                if (there.contains((*only_)[i])) {
                    names->push_back((*only_)[i]);
                    kept_.push_back(i);
                }
            }
        } else {
            order_.sort(found, [](const QString& file) {
                browse::Row row;
                browse::setFileName(row, file);
                return browse::shownName(row);
            });
            names->insert(names->end(), std::make_move_iterator(found.begin()),
                          std::make_move_iterator(found.end()));
        }
        count = names->size();
        return listed_;
    }
    Code probeFolder(const QString& folder) override { return real_.probeFolder(folder); }
    Code open(const QString& path, Access access, int& fd, std::uint64_t& size) override {
        return real_.open(path, access, fd, size);
    }
    Code readAt(int fd, std::uint64_t offset, std::span<std::byte> buf) override {
        return real_.readAt(fd, offset, buf);
    }
    Code writeAt(int fd, std::uint64_t offset, std::span<const std::byte> data) override {
        return real_.writeAt(fd, offset, data);
    }
    Code truncate(int fd, std::uint64_t size) override { return real_.truncate(fd, size); }
    Code close(int fd) override { return real_.close(fd); }
    Code rename(const QString& from, const QString& to) override { return real_.rename(from, to); }
    Code remove(const QString& path) override { return real_.remove(path); }
    bool exists(const QString& path) override { return real_.exists(path); }
    void readTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::uint64_t minSize, std::span<platform::FileTail> tails) override {
        real_.readTails(folder, names, bytes, minSize, tails);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (tails[i].code != code::kOk)
                unread_.insert(names[i], tails[i].code);
        }
    }
    void openTails(const QString& folder, std::span<const QString> names, std::size_t bytes,
                   std::span<platform::FileTail> tails, std::span<int> fds) override {
        real_.openTails(folder, names, bytes, tails, fds);
    }
    void writeAll(std::span<Write> writes) override { real_.writeAll(writes); }
    void closeAll(std::span<const int> fds, std::span<Code> codes) override {
        real_.closeAll(fds, codes);
    }

private:
    platform::FileSystem& real_;
    SwedishOrder order_;
    const std::vector<QString>* only_ = nullptr;
    std::vector<std::size_t> kept_;
    Code listed_ = code::kOk;
    QHash<QString, Code> unread_;
};

// A folder as the walk knows it: which one it is, and the names of the folders in it that are
// neither hidden (as the window's tree leaves them out) nor links.
struct Subfolders {
    Code code = code::kOk;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<QString> names;
};

Subfolders subfolders(const QString& folder) {
    Subfolders s;
    DIR* dir = ::opendir(platform::encodeName(folder).constData());
    if (dir == nullptr) {
        s.code = codeFromErrno(errno);
        return s;
    }
    struct stat st {};
    if (::fstat(::dirfd(dir), &st) == 0) {
        s.device = st.st_dev;
        s.inode = st.st_ino;
    }
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat entry {};
            isFolder = ::fstatat(::dirfd(dir), e->d_name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(entry.st_mode);
        }
        if (isFolder)
            s.names.push_back(platform::decodeName(e->d_name));
        errno = 0;
    }
    if (errno != 0)
        s.code = codeFromErrno(errno);
    ::closedir(dir);
    return s;
}

// What a path names: a folder, something else, or nothing that can be reached (its code).
Code kindOf(const QString& path, bool& isFolder) {
    struct stat st {};
    if (::stat(platform::encodeName(path).constData(), &st) != 0)
        return codeFromErrno(errno);
    isFolder = S_ISDIR(st.st_mode);
    return code::kOk;
}

class Lister {
public:
    Lister(bool json, const app::Folder::Services& services, Report& report)
        : json_(json),
          fs_(services.fs),
          folder_({fs_, services.asker, services.opener, services.drives, services.trash}),
          report_(report) {}
    ~Lister() { flush(); }

    // The MP3 files of the folder `path`; false when it could not be listed.
    bool listFolder(const QString& path) {
        const QString prefix = path.endsWith(u'/') ? path : path + u'/';
        fs_.only(nullptr);
        const app::Outcome o = folder_.list(path, quiet_, [&](browse::Row&& row) {
            const QString file = browse::fileName(row);
            take(prefix + file, fs_.unread(file), row);
        });
        if (o.failed)
            report_.file(path, readReason(fs_.listed()));
        return !o.failed;
    }

    // The files of one folder named by `paths`, each of which is `folder` + a name.
    void listFiles(const QString& folder, const std::vector<QString>& paths) {
        std::vector<QString> names;
        names.reserve(paths.size());
        for (const QString& p : paths)
            names.push_back(p.mid(p.lastIndexOf(u'/') + 1));
        fs_.only(&names);
        std::size_t next = 0;
        const app::Outcome o = folder_.list(folder, quiet_, [&](browse::Row&& row) {
            const std::size_t i = fs_.kept()[next++];
            take(paths[i], fs_.unread(names[i]), row);
        });
        fs_.only(nullptr);
        if (o.failed) {
            for (const QString& p : paths)
                report_.file(p, readReason(fs_.listed()));
            return;
        }
        std::vector<bool> found(paths.size(), false);
        for (const std::size_t i : fs_.kept())
            found[i] = true;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (!found[i])
                report_.file(paths[i], writeReason(write::kNotMp3));
        }
    }

    // `top` and, depth first in the window's order, every folder below it, each once.
    void walk(const QString& top) {
        struct Level {
            QString path;
            std::vector<QString> subs;
            std::size_t next = 0;
        };
        std::vector<Level> stack;
        const auto enter = [&](const QString& path) {
            Subfolders s = subfolders(path);
            if (s.code == code::kOk && !seen_.insert({s.device, s.inode}).second)
                return;
            if (!listFolder(path))
                return;
            if (s.code != code::kOk) {
                report_.file(path, readReason(s.code));
                return;
            }
            order_.sort(s.names, [](const QString& n) { return n; });
            stack.push_back({path.endsWith(u'/') ? path : path + u'/', std::move(s.names)});
        };
        enter(top);
        while (!stack.empty()) {
            Level& level = stack.back();
            if (level.next == level.subs.size()) {
                stack.pop_back();
                continue;
            }
            enter(level.path + level.subs[level.next++]);
        }
    }

private:
    void take(const QString& path, Code unread, const browse::Row& row) {
        if (unread != code::kOk) {
            report_.file(path, readReason(unread));
            return;
        }
        appendListLine(out_, path, row, json_);
        if (out_.size() > (std::size_t{1} << 16))
            flush();
    }
    void flush() {
        std::fwrite(out_.data(), 1, out_.size(), stdout);
        out_.clear();
    }

    bool json_;
    ListingFileSystem fs_;
    app::Folder folder_;
    Report& report_;
    Quiet quiet_;
    SwedishOrder order_;
    std::set<std::pair<dev_t, ino_t>> seen_;
    std::string out_;
};

}  // namespace

void list(const std::vector<QString>& paths, bool recursive, bool json,
          const app::Folder::Services& services, Report& report) {
    // Files named one by one are listed a folder at a time, where the first of them was named.
    std::vector<bool> isFolder(paths.size(), false);
    std::vector<Code> reached(paths.size(), code::kOk);
    QHash<QString, std::vector<std::size_t>> byFolder;
    std::vector<QString> firstOf(paths.size());
    for (std::size_t a = 0; a < paths.size(); ++a) {
        bool folder = false;
        reached[a] = kindOf(paths[a], folder);
        isFolder[a] = folder;
        if (reached[a] != code::kOk || folder)
            continue;
        const qsizetype slash = paths[a].lastIndexOf(u'/');
        const QString where = slash < 0 ? QStringLiteral("./") : paths[a].left(slash + 1);
        std::vector<std::size_t>& group = byFolder[where];
        if (group.empty())
            firstOf[a] = where;
        group.push_back(a);
    }
    Lister lister(json, services, report);
    for (std::size_t a = 0; a < paths.size(); ++a) {
        if (reached[a] != code::kOk) {
            report.file(paths[a], readReason(reached[a]));
        } else if (isFolder[a]) {
            if (recursive)
                lister.walk(paths[a]);
            else
                lister.listFolder(paths[a]);
        } else if (!firstOf[a].isEmpty()) {
            std::vector<QString> files;
            for (const std::size_t i : byFolder.value(firstOf[a]))
                files.push_back(paths[i]);
            lister.listFiles(firstOf[a], files);
        }
    }
}

}  // namespace sorvel::cli
