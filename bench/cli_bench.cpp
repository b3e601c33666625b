// Times `sorvel-cli list` against the small ID3v1 tools a script would otherwise run, id3tool and
// `id3 -l`, on the same files: 10,000 files warm and cold (evicted before each run), and 2,000
// files reached through sshfs over loopback, mounted afresh and cold before each run. The sshfs
// mount goes through an sshd of the benchmark's own on 127.0.0.1, with its own host key,
// authorized key, port and configuration in a temporary folder, stopped at the end. Each tool
// gets the names as a shell glob would give them, listed before the clock starts, and writes to
// /dev/null. Then a library of 200 artists x 5 albums x 12 files, listed whole by `sorvel-cli
// list -r` and by each tool through `find -exec`, warm and cold. A warm case starts after one
// untimed run of each and a sync. The last lines are the ratios to the fastest tool of each case.
// First, alone, `sorvel-cli set` over `sorvel-cli list` on a folder of 50,000 files.
//
//   [SORVEL_CLI=path] cli_bench [repetitions [files [sshfs-files]]]   (by default 5, 10000, 2000)

#include "sample_folder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace sorvel;

namespace {

using Args = std::vector<std::string>;

// Where PATH finds `program`, or nothing.
std::string which(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string full = dirs.substr(at, end - at) + '/' + program;
        if (::access(full.c_str(), X_OK) == 0)
            return full;
        at = end + 1;
    }
    return {};
}

// Starts `args` in `cwd` with its output to /dev/null (standard error to `log` when given).
pid_t start(const Args& args, const std::string& cwd, const std::string& log = {}) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
        ::_exit(126);
    const int null = ::open("/dev/null", O_RDWR);
    const int err = log.empty() ? null : ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Runs `args` to its end: its exit status, and how long it took in `took`.
int run(const Args& args, const std::string& cwd, double* took = nullptr) {
    int status = 0;
    const double t = bench::seconds([&] { ::waitpid(start(args, cwd), &status, 0); });
    if (took != nullptr)
        *took = t;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// A port on 127.0.0.1 that nothing listens on now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

bool listening(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

bool writeText(const std::string& path, const std::string& text) {
    return bench::writeFile(path, text);
}

// An sshd of our own on 127.0.0.1 and the sshfs mount of `data` through it.
class Loopback {
public:
    Loopback(const std::string& home, const std::string& data, const std::string& mount)
        : home_(home), data_(data), mount_(mount) {}
    ~Loopback() {
        unmount();
        if (sshd_ > 0) {
            ::kill(sshd_, SIGTERM);
            ::waitpid(sshd_, nullptr, 0);
        }
    }
    /// Empty when the server runs; else why not.
    std::string begin() {
        for (const char* tool : {"sshd", "sshfs", "ssh-keygen", "fusermount3"}) {
            tools_.push_back(which(tool));
            // sshd lies outside an ordinary user's PATH.
            if (const std::string sbin = std::string("/usr/sbin/") + tool;
                tools_.back().empty() && ::access(sbin.c_str(), X_OK) == 0)
                tools_.back() = sbin;
            if (tools_.back().empty())
                return std::string(tool) + " is not installed";
        }
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            return "/dev/fuse cannot be opened";
        for (const char* key : {"host", "user"}) {
            if (run({tools_[2], "-q", "-t", "ed25519", "-N", "", "-f", home_ + key}, {}) != 0)
                return "ssh-keygen failed";
        }
        // Root logs in with a key only; the files live in a temporary folder, which the strict
        // checks of ownership along the path would refuse.
        ::mkdir("/run/sshd", 0755);  // sshd's privilege separation needs it
        port_ = freePort();
        const std::string config =
            "ListenAddress 127.0.0.1\nPort " + std::to_string(port_) + "\nHostKey " + home_ +
            "host\nAuthorizedKeysFile " + home_ +
            "user.pub\nPermitRootLogin prohibit-password\n"
            "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
            "StrictModes no\nSubsystem sftp internal-sftp\n";
        if (!writeText(home_ + "sshd_config", config))
            return "cannot write the sshd configuration";
        sshd_ = start({tools_[0], "-D", "-e", "-f", home_ + "sshd_config"}, {}, home_ + "sshd.log");
        for (int i = 0; i < 100 && !listening(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!listening(port_))
            return "sshd did not start (see " + home_ + "sshd.log)";
        ::mkdir(mount_.c_str(), 0755);
        if (!mount())
            return "sshfs could not mount through it";
        return {};
    }
    bool mount() {
        unmount();
        mounted_ =
            run({tools_[1], "root@127.0.0.1:" + data_, mount_, "-p", std::to_string(port_), "-o",
                 "IdentityFile=" + home_ +
                     "user,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,"
                     "BatchMode=yes"},
                {}) == 0;
        return mounted_;
    }
    void unmount() {
        if (mounted_)
            run({tools_[3], "-u", mount_}, {});
        mounted_ = false;
    }
    int port() const { return port_; }

private:
    std::string home_, data_, mount_;
    std::vector<std::string> tools_;
    pid_t sshd_ = -1;
    int port_ = 0;
    bool mounted_ = false;
};

struct Tool {
    std::string name;
    Args command;  // the names follow
};

// For a warm case: every command once, untimed, and then the file system synced. The first
// reads of a folder just written or evicted set the files' access times, and the kernel writes
// those inodes out a few seconds later, on one of the processors the timed runs use.
bool warmUp(const std::vector<Args>& commands, const std::string& cwd, const std::string& folder) {
    for (const Args& c : commands) {
        if (run(c, cwd) != 0)
            return false;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
    return true;
}

// Times the program and each tool on one case, taking turns so that what else the machine does
// falls on all alike; prints the medians and answers the ratio of the program to the fastest
// tool (negative when one failed). `before` runs before each run; without one, the case is warm.
double compare(const char* what, const std::string& cli, const std::vector<Tool>& tools,
               const std::vector<std::string>& names, const std::string& folder, int reps,
               const std::function<void()>& before) {
    std::vector<Args> commands = {{cli, "list", "."}};
    for (const Tool& t : tools) {
        commands.push_back(t.command);
        commands.back().insert(commands.back().end(), names.begin(), names.end());
    }
    if (!before && !warmUp(commands, folder, folder))
        return -1;
    std::vector<std::vector<double>> times(commands.size());
    for (int r = 0; r < reps; ++r) {
        for (std::size_t c = 0; c < commands.size(); ++c) {
            if (before)
                before();
            double t = 0;
            if (run(commands[c], folder, &t) != 0)
                return -1;
            times[c].push_back(t);
        }
    }
    double fastest = 0;
    std::string which;
    for (std::size_t k = 0; k < tools.size(); ++k) {
        const double theirs = bench::median(times[k + 1]);
        std::printf("%s: %s %.3f s\n", what, tools[k].name.c_str(), theirs);
        if (fastest == 0 || theirs < fastest) {
            fastest = theirs;
            which = tools[k].name;
        }
    }
    const double mine = bench::median(times[0]);
    std::printf("%s: sorvel-cli list %.3f s; fastest peer measured: %s\n", what, mine,
                which.c_str());
    std::fflush(stdout);
    return mine / fastest;
}

// `sorvel-cli set album=X -- <every file>` over `sorvel-cli list` of the same folder, the medians
// of three rounds once the folder is warm, each set writing another album into every file: a write
// reads what a listing reads and writes one trailer more per file, so anything far beyond a small
// multiple is time spent on matching names to rows.
double setOverList(const std::string& cli, const std::string& folder, int files) {
    if (::mkdir(folder.c_str(), 0755) != 0 || !bench::generate(folder, files))
        return -1;
    std::vector<std::string> names = bench::listNames(folder);
    std::sort(names.begin(), names.end());
    if (run({cli, "list", "."}, folder) != 0)
        return -1;
    std::vector<double> lists, writes;
    for (int round = 0; round < 3; ++round) {
        Args set = {cli, "set", "album=X" + std::to_string(round), "--"};
        set.insert(set.end(), names.begin(), names.end());
        double list = 0, write = 0;
        if (run({cli, "list", "."}, folder, &list) != 0 || run(set, folder, &write) != 0)
            return -1;
        lists.push_back(list);
        writes.push_back(write);
    }
    const double list = bench::median(lists), write = bench::median(writes);
    std::printf("cli set %.3f s, list %.3f s at %d files\n", write, list, files);
    return write / list;
}

// A library as people keep it, Artist/Album/NN.mp3, of `artists` x 5 albums x 12 files.
bool generateLibrary(const std::string& root, int artists) {
    if (::mkdir(root.c_str(), 0755) != 0)
        return false;
    for (int a = 0; a < artists; ++a) {
        const std::string artist = root + "Artist " + std::to_string(a) + '/';
        if (::mkdir(artist.c_str(), 0755) != 0)
            return false;
        for (int b = 0; b < 5; ++b) {
            const std::string album = artist + "Album " + std::to_string(b) + '/';
            if (::mkdir(album.c_str(), 0755) != 0 || !bench::generate(album, 12))
                return false;
        }
    }
    return true;
}

// `sorvel-cli list -r` of the whole library against each tool run by `find` over the same tree,
// as a script without a recursive lister runs it; the ratio to the fastest tool, negative when
// one failed.
double compareLibrary(const char* what, const std::string& cli, const std::vector<Tool>& tools,
                      const std::string& library, int reps, const std::function<void()>& before) {
    std::vector<Args> commands = {{cli, "list", "-r", library}};
    const std::string find = which("find");
    for (const Tool& t : tools) {
        commands.push_back({find, library, "-type", "f", "-iname", "*.mp3", "-exec"});
        commands.back().insert(commands.back().end(), t.command.begin(), t.command.end());
        commands.back().insert(commands.back().end(), {"{}", "+"});
    }
    if (!before && !warmUp(commands, {}, library))
        return -1;
    std::vector<std::vector<double>> times(commands.size());
    for (int r = 0; r < reps; ++r) {
        for (std::size_t c = 0; c < commands.size(); ++c) {
            if (before)
                before();
            double t = 0;
            if (run(commands[c], {}, &t) != 0)
                return -1;
            times[c].push_back(t);
        }
    }
    double fastest = 0;
    for (std::size_t k = 0; k < tools.size(); ++k) {
        const double theirs = bench::median(times[k + 1]);
        std::printf("library %s: find -exec %s %.3f s\n", what, tools[k].name.c_str(), theirs);
        fastest = fastest == 0 ? theirs : std::min(fastest, theirs);
    }
    const double mine = bench::median(times[0]);
    std::printf("library %s: sorvel-cli list -r %.3f s\n", what, mine);
    std::fflush(stdout);
    return mine / fastest;
}

}  // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int files = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    const int remote = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2000;

    // Another build of the program (an older one, say) through SORVEL_CLI.
    const char* other = std::getenv("SORVEL_CLI");
    const std::string cli = other != nullptr ? other : SORVEL_CLI;
    // The names of 50,000 files exceed the arguments' default room, a quarter of the stack limit.
    const rlimit stack{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_STACK, &stack);
    {
        const QByteArray base =
            qEnvironmentVariableIsSet("TMPDIR") ? qgetenv("TMPDIR") : "/var/tmp";
        QTemporaryDir many(QString::fromLocal8Bit(base) + QStringLiteral("/cli_bench-XXXXXX"));
        constexpr int kMany = 50000;
        const double ratio =
            many.isValid() ? setOverList(cli, many.path().toStdString() + "/set/", kMany) : -1;
        std::printf("cli set / list ratio at %d files: %.2f\n", kMany, ratio);
    }

    std::vector<Tool> tools;
    if (const std::string p = which("id3tool"); !p.empty())
        tools.push_back({"id3tool", {p}});
    if (const std::string p = which("id3"); !p.empty())
        tools.push_back({"id3 -l", {p, "-l"}});
    if (tools.empty()) {
        std::printf(
            "cli_bench skipped: neither id3tool nor id3 is installed (scripts/setup "
            "installs both)\n");
        return 0;
    }
    // On the disk: a tmpfs /tmp keeps every page in memory, and nothing would be cold.
    const QByteArray base = qEnvironmentVariableIsSet("TMPDIR") ? qgetenv("TMPDIR") : "/var/tmp";
    QTemporaryDir temp(QString::fromLocal8Bit(base) + QStringLiteral("/cli_bench-XXXXXX"));
    if (!temp.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string root = temp.path().toStdString() + '/';
    const std::string local = root + "local/";
    const std::string data = root + "data/";
    if (::mkdir(local.c_str(), 0755) != 0 || !bench::generate(local, files) ||
        ::mkdir(data.c_str(), 0755) != 0 || !bench::generate(data, remote)) {
        std::fprintf(stderr, "could not generate the folders\n");
        return 1;
    }
    const auto sorted = [](std::vector<std::string> n) {
        std::sort(n.begin(), n.end());  // as a shell's glob gives them
        return n;
    };
    const std::vector<std::string> names = sorted(bench::listNames(local));
    std::printf("%d files, median of %d runs; eviction: %s\n", files, reps,
                bench::evict(local).c_str());

    // Warm runs are short, and what else the machine does moves each by a good part: more of them.
    const double warm = compare("warm", cli, tools, names, local, 3 * reps, {});
    const double cold =
        compare("cold", cli, tools, names, local, reps, [&] { bench::evict(local); });

    double remoteRatio = -1;
    Loopback link(root, data, root + "mnt");
    if (const std::string why = link.begin(); !why.empty()) {
        std::printf("sshfs skipped: %s\n", why.c_str());
    } else {
        std::printf("sshfs: %d files through sshd on 127.0.0.1:%d, remounted before each run\n",
                    remote, link.port());
        const std::string mount = root + "mnt/";
        remoteRatio =
            compare("sshfs cold", cli, tools, sorted(bench::listNames(data)), mount, reps, [&] {
                bench::evict(data);
                link.mount();
            });
        link.unmount();
    }
    // The library, apart from the folders above so that its caches are its own.
    constexpr int kArtists = 200;
    const std::string library = root + "library/";
    double libraryWarm = -1, libraryCold = -1;
    if (!generateLibrary(library, kArtists)) {
        std::fprintf(stderr, "could not generate the library\n");
    } else {
        libraryWarm = compareLibrary("warm", cli, tools, library, 3 * reps, {});
        libraryCold =
            compareLibrary("cold", cli, tools, library, reps, [&] { bench::evict(library); });
    }
    std::printf("cli list / fastest peer ratio at %d files, warm: %.2f\n", files, warm);
    std::printf("cli list / fastest peer ratio at %d files, cold: %.2f\n", files, cold);
    // The folders of the artists and of their albums.
    constexpr int kLibraryFiles = kArtists * 5 * 12, kLibraryFolders = kArtists * 6;
    std::printf("cli list -r / fastest peer ratio at %d files in %d folders, cold: %.2f\n",
                kLibraryFiles, kLibraryFolders, libraryCold);
    std::printf("cli list -r / fastest peer ratio at %d files in %d folders, warm: %.2f\n",
                kLibraryFiles, kLibraryFolders, libraryWarm);
    if (remoteRatio > 0)
        std::printf("cli list / fastest peer ratio at %d files on sshfs, cold: %.2f\n", remote,
                    remoteRatio);
    return 0;
}
