// sorvel-cli: the folder's commands for scripts, over the same core as the window.

#include "cli/arguments.h"
#include "cli/escape.h"
#include "cli/listing.h"
#include "cli/messages.h"
#include "core/folder.h"
#include "core/rules.h"
#include "platform/desktop_posix.h"
#include "platform/drives_posix.h"
#include "platform/dry_run.h"
#include "platform/folders.h"
#include "platform/names.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

using namespace sorvel;

namespace {

constexpr int kSomeNotHandled = 1;
constexpr int kWrongUsage = 2;

QByteArray usage() {
    return QCoreApplication::translate(
               "sorvel-cli",
               "Användning: sorvel-cli list [-r] [--json] SÖKVÄG...\n"
               "            sorvel-cli set [--dry-run] [--json] FÄLT=VÄRDE... [--] FIL...\n"
               "            sorvel-cli names-to-tags [--dry-run] [--json] [--split N] FIL...\n"
               "            sorvel-cli tags-to-names [--dry-run] [--json] FIL...\n"
               "            sorvel-cli from-v2 [--dry-run] [--json] FIL...\n"
               "            sorvel-cli genres\n"
               "            sorvel-cli --version\n"
               "Filerna kan också läsas ur en lista: --files-from LISTA (- för standard in), en "
               "per rad,\neller med -0 åtskilda av NUL. SÖKVÄG är en mapp eller en fil; -r tar med "
               "mapparna under.\nFÄLT är artist, title, album, year, genre, comment eller track. "
               "N är 1 till 4 (1 om inget ges).\nSlutstatus: 0 alla filer klara, 1 några inte "
               "(var och en nämnd), 2 fel användning.\nSe sorvel-cli(1).\n")
        .toUtf8();
}

enum class Command { List, Set, NamesToTags, TagsToNames, FromV2, Genres };

struct Options {
    Command command = Command::List;
    bool json = false;
    bool dryRun = false;
    bool recursive = false;
    bool nul = false;
    QString filesFrom;
    int split = 1;
    std::vector<core::Typ> fields;
    core::EditorValues editor;
    std::vector<QString> paths;
};

// No one is there to answer: a drive out of reach is not tried again.
class NoQuestions : public platform::MessageBoxes {
public:
    Answer show(const QString&, const QString&, Icon, Buttons) override { return Answer::Cancel; }
};

// Waits for a file system however long it takes to answer: a script runs without time limits,
// and a mount that hangs holds it as it holds any other program (until interrupted).
class Patient : public platform::PosixFileSystem {
public:
    Code probeFolder(const QString&) override { return code::kOk; }
};

// The drive of a path from the mount table alone: nothing here chooses drives, so none is asked
// whether it answers, which would cost a thread for each.
class MountTable : public platform::Drives {
public:
    std::vector<Drive> list() override {
        QFile table(QStringLiteral("/proc/self/mountinfo"));
        const QByteArray text = table.open(QIODevice::ReadOnly) ? table.readAll() : QByteArray();
        return platform::drivesFromMounts(platform::parseMountInfo(text.toStdString()), {});
    }
    // Read once: a listing of a library asks for each of its thousand folders, from several
    // threads.
    Drive driveOf(const QString& path) override {
        std::call_once(read_, [this] { drives_ = list(); });
        return platform::driveOfPath(drives_, path);
    }
    Code check(const Drive&) override { return code::kOk; }

private:
    std::vector<Drive> drives_;
    std::once_flag read_;
};

// No command here deletes.
class NoTrash : public platform::Trash {
public:
    Code moveToTrash(const QString&) override { return code::kAccess; }
};

// A message on standard error; the file names in it come escaped.
void tell(const QString& text) {
    std::fprintf(stderr, "%s\n", cli::messageText(text).c_str());
}

int wrongUsage(const QString& why) {
    if (!why.isEmpty())
        tell(QStringLiteral("sorvel-cli: ") + why);
    std::fputs(usage().constData(), stderr);
    return kWrongUsage;
}

// The value a field is set to, checked as the editor's fields limit what can be typed: no longer
// than the field, only Windows-1252, and a genre by its name. Empty when it may be written.
QString refusal(core::Typ typ, const QString& value) {
    const qsizetype width = typ == core::Typ::Ar ? core::kYearWidth : core::kTextWidth;
    if (value.size() <= width && core::fits1252(value))
        return {};
    return QCoreApplication::translate("sorvel-cli",
                                       "Fältet rymmer högst %1 tecken, alla ur Windows-1252: %2")
        .arg(width)
        .arg(value);
}

bool parseField(std::string_view arg, Options& o, QString& why) {
    using E = core::EditorValues;
    static constexpr std::tuple<std::string_view, core::Typ, QString E::*> kFields[] = {
        {"artist=", core::Typ::Artist, &E::artist},
        {"title=", core::Typ::Titel, &E::title},
        {"album=", core::Typ::Album, &E::album},
        {"year=", core::Typ::Ar, &E::year},
        {"genre=", core::Typ::Genre, &E::genre},
        {"comment=", core::Typ::Kommentarer, &E::comment}};
    if (arg.starts_with("track=")) {
        // A number alone, as the byte holds it; 0 takes the track away.
        const QString value = platform::decodeName(arg.substr(6));
        bool ok = false;
        o.editor.track = value.toInt(&ok);
        if (!ok || o.editor.track < 0 || o.editor.track > 255 || !value.front().isDigit())
            why = QCoreApplication::translate("sorvel-cli", "Spåret är ett tal från 0 till 255: %1")
                      .arg(value);
        if (std::find(o.fields.begin(), o.fields.end(), core::Typ::Track) == o.fields.end())
            o.fields.push_back(core::Typ::Track);
        return true;
    }
    for (const auto& [prefix, typ, field] : kFields) {
        if (arg.starts_with(prefix)) {
            o.editor.*field = platform::decodeName(arg.substr(prefix.size()));
            if (typ != core::Typ::Genre) {
                why = refusal(typ, o.editor.*field);
            } else if (const std::optional<QString> genre = cli::genreOf(o.editor.*field)) {
                o.editor.*field = *genre;
            } else {
                why = QCoreApplication::translate("sorvel-cli",
                                                  "Okänd genre: %1 (sorvel-cli genres visar dem)")
                          .arg(o.editor.*field);
            }
            // A field named twice is written once, with its last value.
            if (std::find(o.fields.begin(), o.fields.end(), typ) == o.fields.end())
                o.fields.push_back(typ);
            return true;
        }
    }
    return false;
}

// The files named on the command line (their places among the arguments), by the folder that
// lists them.
struct Group {
    QString folder;
    std::vector<std::size_t> args;
};

std::vector<Group> byFolder(const std::vector<QString>& paths) {
    std::vector<Group> groups;
    QHash<QString, std::size_t> groupOf;
    for (std::size_t a = 0; a < paths.size(); ++a) {
        const QString& path = paths[a];
        const qsizetype slash = path.lastIndexOf(platform::nativeSeparator());
        const QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash + 1);
        const auto g = groupOf.constFind(folder);
        if (g == groupOf.cend()) {
            groupOf.insert(folder, groups.size());
            groups.push_back({folder, {a}});
        } else {
            groups[*g].args.push_back(a);
        }
    }
    return groups;
}

// A line for one argument, printed once every folder is done so that lines follow the arguments.
struct Line {
    std::size_t arg;
    std::string text;
};

void printInOrder(std::vector<Line>& lines, std::FILE* to) {
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& x, const Line& y) { return x.arg < y.arg; });
    for (const Line& l : lines)
        std::fwrite(l.text.data(), 1, l.text.size(), to);
}

int change(const Options& o, core::Folder::Services services, platform::FileSystem& fs) {
    cli::Report report(o.json);
    std::vector<Line> failures;
    std::vector<Line> rows;
    std::size_t nothingToWrite = 0;
    cli::Quiet quiet;
    for (const Group& g : byFolder(o.paths)) {
        core::Folder folder(services);
        folder.setSplit(o.split);
        folder.setUndoable(false);
        // A write reads each file's tag under its lock; a dry run shows the rows it would leave.
        folder.setTagsReadByWriter(
            !o.dryRun && (o.command == Command::Set || o.command == Command::NamesToTags));
        if (folder.list(g.folder, quiet).failed) {
            const QString why = cli::readReason(platform::checkFolder(g.folder));
            for (const std::size_t a : g.args)
                failures.push_back({a, report.fileLine(o.paths[a], why)});
            continue;
        }
        // Which argument named each selected row, for its messages and lines. Found by name
        // through a table: a glob over a large folder names each of its thousands of rows.
        std::vector<std::size_t> argOf(folder.size());
        core::Folder::Selection selected(folder.size(), false);
        QHash<QString, std::size_t> rowOf;
        rowOf.reserve(static_cast<qsizetype>(folder.size()));
        for (std::size_t r = 0; r < folder.size(); ++r)
            rowOf.insert(core::fileName(folder.rows()[r]), r);
        for (const std::size_t a : g.args) {
            const QString& path = o.paths[a];
            const auto r =
                rowOf.constFind(path.mid(path.lastIndexOf(platform::nativeSeparator()) + 1));
            if (r == rowOf.cend()) {
                const Code c = fs.exists(path) ? code::kNotMp3 : code::kFileNotFound;
                failures.push_back({a, report.fileLine(path, cli::writeReason(c))});
                continue;
            }
            const std::size_t i = *r;
            selected[i] = true;
            argOf[i] = a;
        }
        const std::vector<core::Row> before = o.dryRun ? folder.rows() : std::vector<core::Row>();
        std::vector<bool> failed(folder.size(), false);
        auto take = [&](const core::Outcome& done) {
            nothingToWrite += done.nothingToWrite;
            for (const core::Failure& f : done.notHandled) {
                failed[f.row] = true;
                const QString maybe =
                    f.unconfirmed
                        ? cli::coreText(QStringLiteral("kanske skriven, inte bekräftad: "))
                        : QString();
                const std::size_t a = argOf[f.row];
                failures.push_back(
                    {a, report.fileLine(o.paths[a], maybe + cli::writeReason(f.code))});
            }
        };
        switch (o.command) {
            case Command::Set:
                take(folder.writeFields(o.fields, selected, o.editor, quiet));
                break;
            case Command::NamesToTags:
                take(folder.writeField(core::Typ::Filnamn, selected, {}, quiet));
                break;
            case Command::TagsToNames:
                take(folder.namesFromTags(selected));
                break;
            case Command::FromV2:
                take(folder.importOtherTags(selected, quiet));
                break;
            case Command::List:
            case Command::Genres:
                break;
        }
        // A line for every file whose bytes or name would change: the file as named, then the
        // line a listing will print for it then.
        for (std::size_t r = 0; o.dryRun && r < folder.size(); ++r) {
            const core::Row& row = folder.row(r);
            if (!selected[r] || failed[r] || (row == before[r] && row.print == before[r].print))
                continue;
            const QString& named = o.paths[argOf[r]];
            const QString path = named.left(named.lastIndexOf(platform::nativeSeparator()) + 1) +
                                 core::fileName(row);
            Line line{argOf[r], {}};
            cli::appendListLine(line.text, path, row, o.json, &named);
            rows.push_back(std::move(line));
        }
    }
    printInOrder(rows, stdout);
    printInOrder(failures, stderr);
    if (nothingToWrite == 1)
        report.note(cli::coreText(
            QStringLiteral("1 fil saknar ID3v2- och APEv2-tag och lämnades som den var.")));
    else if (nothingToWrite > 1)
        report.note(
            cli::coreText(
                QStringLiteral("%1 filer saknar ID3v2- och APEv2-tag och lämnades som de var."))
                .arg(nothingToWrite));
    return failures.empty() ? 0 : kSomeNotHandled;
}

}  // namespace

int main(int argc, char** argv) {
    static constexpr std::pair<std::string_view, Command> kCommands[] = {
        {"list", Command::List},
        {"set", Command::Set},
        {"names-to-tags", Command::NamesToTags},
        {"tags-to-names", Command::TagsToNames},
        {"from-v2", Command::FromV2},
        {"genres", Command::Genres}};
    // For the translation alone: nothing here runs an event loop.
    QCoreApplication application(argc, argv);
    cli::useUserLanguage();
    Options o;
    if (argc < 2)
        return wrongUsage({});
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        std::fputs(usage().constData(), stdout);
        return 0;
    }
    if (first == "--version") {
        std::puts("sorvel-cli " SORVEL_VERSION);
        return 0;
    }
    const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [&](const auto& c) { return c.first == first; });
    if (found == std::end(kCommands))
        return wrongUsage(QCoreApplication::translate("sorvel-cli", "okänt kommando: %1")
                              .arg(platform::decodeName(first)));
    o.command = found->second;
    const bool writes = o.command != Command::List && o.command != Command::Genres;
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        QString why;
        // The value of an option, given after "=" or as the next argument.
        const auto value = [&](std::string_view name) -> std::optional<std::string_view> {
            if (a.size() > name.size() && a.starts_with(name) && a[name.size()] == '=')
                return a.substr(name.size() + 1);
            if (a != name)
                return std::nullopt;
            return i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
        };
        std::optional<std::string_view> given;
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            std::fputs(usage().constData(), stdout);
            return 0;
        } else if (options && a == "--json" && o.command != Command::Genres) {
            o.json = true;
        } else if (options && a == "--dry-run" && writes) {
            o.dryRun = true;
        } else if (options && a == "-r" && o.command == Command::List) {
            o.recursive = true;
        } else if (options && a == "-0" && o.command != Command::Genres) {
            o.nul = true;
        } else if (options && o.command != Command::Genres && (given = value("--files-from"))) {
            if (given->empty())
                return wrongUsage(QCoreApplication::translate(
                    "sorvel-cli", "--files-from tar en lista, eller - för standard in"));
            o.filesFrom = platform::decodeName(*given);
        } else if (options && o.command == Command::NamesToTags && (given = value("--split"))) {
            if (given->size() != 1 || (*given)[0] < '1' || (*given)[0] > '4')
                return wrongUsage(
                    QCoreApplication::translate("sorvel-cli", "--split tar 1, 2, 3 eller 4"));
            o.split = (*given)[0] - '0';
        } else if (options && a.starts_with('-') && a.size() > 1) {
            return wrongUsage(QCoreApplication::translate("sorvel-cli", "okänd flagga: %1")
                                  .arg(platform::decodeName(a)));
        } else if (o.command == Command::Set && options && o.paths.empty() &&
                   parseField(a, o, why)) {
            if (!why.isEmpty())
                return wrongUsage(why);
        } else if (o.command == Command::Genres) {
            return wrongUsage(
                QCoreApplication::translate("sorvel-cli", "genres tar inga argument"));
        } else {
            o.paths.push_back(platform::decodeName(a));
        }
    }
    if (o.command == Command::Genres) {
        std::fputs(cli::genreTable().c_str(), stdout);
        return 0;
    }
    if (o.command == Command::Set && o.fields.empty()) {
        // A mistyped field name reads as a file; saying which word was not a field helps more.
        const QString word = o.paths.empty() ? QString() : o.paths.front();
        return wrongUsage(word.contains(u'=')
                              ? QCoreApplication::translate("sorvel-cli", "okänt fält: %1")
                                    .arg(word.section(u'=', 0, 0))
                              : QCoreApplication::translate("sorvel-cli", "inget FÄLT=VÄRDE"));
    }
    if (o.command == Command::List &&
        std::any_of(o.paths.begin(), o.paths.end(), [](const QString& p) { return p.isEmpty(); }))
        return wrongUsage(QCoreApplication::translate("sorvel-cli", "en tom sökväg"));
    if (!o.filesFrom.isEmpty()) {
        if (const Code c = cli::readFileList(o.filesFrom, o.nul, o.paths); c != code::kOk) {
            cli::Report(o.json).file(o.filesFrom, cli::readReason(c));
            return kWrongUsage;
        }
    }
    if (o.paths.empty() && o.filesFrom.isEmpty())
        return wrongUsage(o.command == Command::List
                              ? QCoreApplication::translate("sorvel-cli", "ingen mapp eller fil")
                              : QCoreApplication::translate("sorvel-cli", "inga filer"));

    Patient disk;
    platform::DryRunFileSystem unchanged(disk);
    platform::FileSystem& fs = o.dryRun ? static_cast<platform::FileSystem&>(unchanged) : disk;
    NoQuestions asker;
    platform::XdgOpener opener;
    MountTable drives;
    NoTrash trash;
    const core::Folder::Services services{fs, asker, opener, drives, trash};
    int status = 0;
    if (o.command == Command::List) {
        cli::Report report(o.json);
        cli::list(
            o.paths, o.recursive, o.json, services, [] { return std::make_unique<Patient>(); },
            report);
        status = report.failed() ? kSomeNotHandled : 0;
    } else {
        status = change(o, services, fs);
    }
    // Lines lost to a full disk or a closed pipe are not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        cli::Report(o.json).file(QCoreApplication::translate("sorvel-cli", "standard ut"),
                                 QString::fromLocal8Bit(std::strerror(errno)));
        status = kSomeNotHandled;
    }
    // The rows of a large folder are many small allocations, which the system takes back at once
    // and the destructors would give back one by one.
    std::_Exit(status);
}
