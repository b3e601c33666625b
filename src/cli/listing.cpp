#include "cli/listing.h"

#include "cli/escape.h"
#include "core/row_order.h"
#include "core/rules.h"
#include "platform/folders.h"
#include "platform/names.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace sorvel::cli {

void appendListLine(std::string& out, const QString& path, const core::Row& row, bool json,
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
        for (int c = 0; c < core::RowOrder::kColumns; ++c) {
            out += ',';
            out += kKeys[c];
            appendJson(out, core::RowOrder::shown(row, c));
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
    for (int c = 1; c < core::RowOrder::kColumns; ++c) {
        out += '\t';
        appendText(out, core::RowOrder::shown(row, c));
    }
    out += '\t';
    if (row.track != 0)
        out += std::to_string(row.track);
    out += '\n';
}

namespace {

// The file system as a listing sees it: a folder's MP3 files as the window lists them (in the
// folder's own order), or only the files a command named, in their order; and why each file that
// could not be read was not.
class ListingFileSystem : public platform::FileSystem {
public:
    explicit ListingFileSystem(platform::FileSystem& real) : real_(real) {}

    /// Lists only these names, in this order (those the folder has), or the whole folder when
    /// null; kept() then says which of them it had.
    void only(const std::vector<QString>* names) { only_ = names; }
    const std::vector<std::size_t>& kept() const { return kept_; }
    Code listed() const { return listed_; }
    /// Why the file of that name in the folder listed last could not be read; kOk when it was.
    Code unread(const QString& name) const {
        const std::lock_guard lock(unreadMutex_);
        return unread_.value(name, code::kOk);
    }

    Code listMp3(const QString& folder, std::vector<QString>* names, std::size_t& count) override {
        std::vector<QString> found;
        std::size_t n = 0;
        {
            const std::lock_guard lock(unreadMutex_);
            unread_.clear();
        }
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
    Code openToRead(const QString& path, int& fd, std::uint64_t& size) override {
        return real_.openToRead(path, fd, size);
    }
    Code listFolders(const QString& folder, std::vector<QString>& names) override {
        return real_.listFolders(folder, names);
    }
    Code checkFolder(const QString& path) override { return real_.checkFolder(path); }
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
        const std::lock_guard lock(unreadMutex_);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (tails[i].code != code::kOk)
                unread_.insert(names[i], tails[i].code);
        }
    }
    // The reads of a scan run ahead on a thread of their own, while the rows ask unread().
    bool readsTailsAhead() override { return real_.readsTailsAhead(); }
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
    const std::vector<QString>* only_ = nullptr;
    std::vector<std::size_t> kept_;
    Code listed_ = code::kOk;
    mutable std::mutex unreadMutex_;
    QHash<QString, Code> unread_;
};

// What the listing of one folder prints: its lines, and its messages.
struct Sink {
    std::string out;
    std::string err;
    /// Where the lines go as they come, for a listing that holds nothing back; else they wait.
    std::FILE* direct = nullptr;

    void line(std::string_view text) {
        out += text;
        if (direct != nullptr && out.size() > (std::size_t{1} << 16))
            flush();
    }
    // The lines only: the messages go through the report, which keeps the status.
    void flush() {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
};

// Lists folders and files through a folder of its own: one for each thread.
class Reader {
public:
    Reader(platform::FileSystem& disk, const core::Folder::Services& services, bool json,
           const Report& report)
        : json_(json),
          fs_(disk),
          folder_({fs_, services.asker, services.opener, services.drives, services.trash}),
          report_(report) {
        folder_.setRowsOnlyShown(true);
    }

    // The MP3 files of the folder `path`; false when it could not be listed.
    bool listFolder(const QString& path, Sink& sink) {
        // Each row's path is made in one string, which stops growing after the first rows.
        QString rowPath = platform::joinPath(path, {});
        const qsizetype prefix = rowPath.size();
        fs_.only(nullptr);
        const core::Outcome o = folder_.list(path, quiet_, [&](core::Row&& row) {
            const QString file = core::fileName(row);
            rowPath.truncate(prefix);
            rowPath += file;
            take(rowPath, fs_.unread(file), row, sink);
        });
        if (o.failed)
            sink.err += report_.fileLine(path, readReason(fs_.listed()));
        return !o.failed;
    }

    // The files of one folder named by `paths`, each of which is `folder` + a name.
    void listFiles(const QString& folder, const std::vector<QString>& paths, Sink& sink) {
        std::vector<QString> names;
        names.reserve(paths.size());
        for (const QString& p : paths)
            names.push_back(p.mid(p.lastIndexOf(platform::nativeSeparator()) + 1));
        fs_.only(&names);
        std::size_t next = 0;
        const core::Outcome o = folder_.list(folder, quiet_, [&](core::Row&& row) {
            const std::size_t i = fs_.kept()[next++];
            take(paths[i], fs_.unread(names[i]), row, sink);
        });
        fs_.only(nullptr);
        if (o.failed) {
            for (const QString& p : paths)
                sink.err += report_.fileLine(p, readReason(fs_.listed()));
            return;
        }
        std::vector<bool> found(paths.size(), false);
        for (const std::size_t i : fs_.kept())
            found[i] = true;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (!found[i])
                sink.err += report_.fileLine(paths[i], writeReason(code::kNotMp3));
        }
    }

private:
    void take(const QString& path, Code unread, const core::Row& row, Sink& sink) {
        if (unread != code::kOk) {
            sink.err += report_.fileLine(path, readReason(unread));
            return;
        }
        line_.clear();
        appendListLine(line_, path, row, json_);
        sink.line(line_);
    }

    bool json_;
    ListingFileSystem fs_;
    core::Folder folder_;
    const Report& report_;
    Quiet quiet_;
    std::string line_;
};

// A folder of the walk: what its listing printed, and the folders in it.
struct Node {
    enum class State { Waiting, Taken, Done };
    /// Its place in the walk: the places of the folders down to it among their siblings, which
    /// compare as the walk prints (a folder before what is in it, and all of it before the next).
    std::vector<std::uint32_t> place;
    QString path;
    Sink sink;
    std::vector<std::unique_ptr<Node>> children;
    State state = State::Waiting;
};

// `list -r`: folders are listed by several threads at once, so that a cold library keeps the disk
// busy with many folders rather than one, and printed in the walk's order by the calling thread,
// which lists a folder itself when it comes to one no other thread has taken. The others take the
// folders in the order they are to be printed, so that the printing rarely waits, and stop taking
// them while the text waiting to be printed is large, so that memory stays flat.
class Walk {
public:
    Walk(bool json, const core::Folder::Services& services, const DiskMaker& makeDisk,
         Report& report)
        : json_(json), services_(services), makeDisk_(makeDisk), report_(report) {}

    void run(const QString& top) {
        auto root = std::make_unique<Node>();
        root->path = top;
        pending_.insert(root.get());
        std::vector<std::thread> helpers;
        for (int t = 0; t < kHelpers; ++t)
            helpers.emplace_back([this] { help(); });
        const std::unique_ptr<platform::FileSystem> disk = makeDisk_();
        Reader reader(*disk, services_, json_, report_);
        printTree(*root, reader);
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        work_.notify_all();
        for (std::thread& t : helpers)
            t.join();
    }

private:
    static constexpr int kHelpers = 8;
    static constexpr std::size_t kWaitingText = std::size_t{1} << 20;

    void help() {
        const std::unique_ptr<platform::FileSystem> disk = makeDisk_();
        Reader reader(*disk, services_, json_, report_);
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock,
                       [&] { return done_ || (!pending_.empty() && waitingText_ < kWaitingText); });
            if (done_)
                return;
            Node* node = *pending_.begin();
            pending_.erase(pending_.begin());
            node->state = Node::State::Taken;
            lock.unlock();
            list(*node, reader);
            lock.lock();
            node->state = Node::State::Done;
            waitingText_ += node->sink.out.size() + node->sink.err.size();
            if (node == printing_)
                printed_.notify_one();
        }
    }

    // Lists `node` and makes its children, which wait for a thread in the walk's order.
    void list(Node& node, Reader& reader) {
        platform::WalkedFolder s = platform::walkFolder(node.path);
        if (s.code == code::kOk) {
            const std::lock_guard lock(mutex_);
            if (!seen_.insert({s.device, s.inode}).second)
                return;
        }
        if (!reader.listFolder(node.path, node.sink))
            return;
        if (s.code != code::kOk) {
            node.sink.err += report_.fileLine(node.path, readReason(s.code));
            return;
        }
        core::sortNames(s.names);
        for (QString& name : s.names) {
            node.children.push_back(std::make_unique<Node>());
            Node& child = *node.children.back();
            child.path = platform::joinPath(node.path, name);
            child.place = node.place;
            child.place.push_back(static_cast<std::uint32_t>(node.children.size()));
        }
        {
            const std::lock_guard lock(mutex_);
            for (const std::unique_ptr<Node>& child : node.children)
                pending_.insert(child.get());
        }
        work_.notify_all();
    }

    void printTree(Node& root, Reader& reader) {
        struct Level {
            Node* node;
            std::size_t next = 0;
        };
        std::vector<Level> stack;
        const auto print = [&](Node& node) {
            std::unique_lock lock(mutex_);
            if (node.state == Node::State::Waiting) {
                pending_.erase(&node);
                node.state = Node::State::Taken;
                lock.unlock();
                list(node, reader);
                lock.lock();
                node.state = Node::State::Done;
            } else {
                printing_ = &node;
                printed_.wait(lock, [&] { return node.state == Node::State::Done; });
                printing_ = nullptr;
                waitingText_ -= node.sink.out.size() + node.sink.err.size();
            }
            lock.unlock();
            work_.notify_all();
            if (!node.sink.err.empty())
                report_.lines(node.sink.err);
            std::fwrite(node.sink.out.data(), 1, node.sink.out.size(), stdout);
            node.sink = {};
            stack.push_back({&node});
        };
        print(root);
        while (!stack.empty()) {
            Level& level = stack.back();
            if (level.next == level.node->children.size()) {
                level.node->children.clear();
                stack.pop_back();
                continue;
            }
            print(*level.node->children[level.next++]);
        }
    }

    bool json_;
    const core::Folder::Services& services_;
    const DiskMaker& makeDisk_;
    Report& report_;
    std::mutex mutex_;
    // Helpers wait for folders to list; the printing thread for the one it is to print.
    std::condition_variable work_;
    std::condition_variable printed_;
    Node* printing_ = nullptr;
    // Folders to list, the next to be printed first: the helpers work just ahead of the printing.
    struct Earlier {
        bool operator()(const Node* a, const Node* b) const { return a->place < b->place; }
    };
    std::set<Node*, Earlier> pending_;
    std::size_t waitingText_ = 0;
    bool done_ = false;
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;
};

}  // namespace

void list(const std::vector<QString>& paths, bool recursive, bool json,
          const core::Folder::Services& services, const DiskMaker& makeDisk, Report& report) {
    // Files named one by one are listed a folder at a time, where the first of them was named.
    std::vector<bool> isFolder(paths.size(), false);
    std::vector<Code> reached(paths.size(), code::kOk);
    QHash<QString, std::vector<std::size_t>> byFolder;
    std::vector<QString> firstOf(paths.size());
    for (std::size_t a = 0; a < paths.size(); ++a) {
        bool folder = false;
        reached[a] = platform::reachPath(paths[a], folder);
        isFolder[a] = folder;
        if (reached[a] != code::kOk || folder)
            continue;
        const qsizetype slash = paths[a].lastIndexOf(platform::nativeSeparator());
        const QString where =
            slash < 0 ? platform::joinPath(QStringLiteral("."), {}) : paths[a].left(slash + 1);
        std::vector<std::size_t>& group = byFolder[where];
        if (group.empty())
            firstOf[a] = where;
        group.push_back(a);
    }
    const std::unique_ptr<platform::FileSystem> disk = makeDisk();
    Reader reader(*disk, services, json, report);
    Sink sink;
    sink.direct = stdout;
    for (std::size_t a = 0; a < paths.size(); ++a) {
        if (reached[a] != code::kOk) {
            sink.err += report.fileLine(paths[a], readReason(reached[a]));
        } else if (isFolder[a] && recursive) {
            sink.flush();
            Walk(json, services, makeDisk, report).run(paths[a]);
        } else if (isFolder[a]) {
            reader.listFolder(paths[a], sink);
        } else if (!firstOf[a].isEmpty()) {
            std::vector<QString> files;
            for (const std::size_t i : byFolder.value(firstOf[a]))
                files.push_back(paths[i]);
            reader.listFiles(firstOf[a], files, sink);
        }
        if (!sink.err.empty())
            report.lines(std::exchange(sink.err, {}));
    }
    sink.flush();
}

}  // namespace sorvel::cli
