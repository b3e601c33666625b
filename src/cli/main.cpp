// sorvel-cli: the folder's commands for scripts, over the same core as the window.

#include "cli/escape.h"
#include "core/folder.h"
#include "core/row_order.h"
#include "core/rules.h"
#include "platform/desktop_posix.h"
#include "platform/drives_posix.h"
#include "platform/dry_run.h"
#include "platform/names.h"

#include <QFile>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

using namespace sorvel;

namespace {

constexpr int kSomeNotHandled = 1;
constexpr int kWrongUsage = 2;

constexpr const char* kUsage =
    "Usage: sorvel-cli list [--json] FOLDER\n"
    "       sorvel-cli set [--dry-run] [--json] FIELD=VALUE... [--] FILE...\n"
    "       sorvel-cli names-to-tags [--dry-run] [--json] [--split N] FILE...\n"
    "       sorvel-cli tags-to-names [--dry-run] [--json] FILE...\n"
    "       sorvel-cli from-v2 [--dry-run] [--json] FILE...\n"
    "FIELD is artist, title, album, year, genre, comment or track. N is 1 to 4 (default 1).\n"
    "Exit status: 0 every file handled, 1 some not (each named), 2 wrong usage.\n"
    "See sorvel-cli(1).\n";

enum class Command { List, Set, NamesToTags, TagsToNames, FromV2 };

struct Options {
    Command command = Command::List;
    bool json = false;
    bool dryRun = false;
    int split = 1;
    std::vector<core::Typ> fields;
    core::EditorValues editor;
    std::vector<QString> paths;
};

// Status and progress are for a window; a script hears only of the outcome.
class Quiet : public core::StatusObserver {
public:
    void setStatus(const QString&) override {}
    void setProgressMax(int) override {}
    void setProgress(int) override {}
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
    Drive driveOf(const QString& path) override { return platform::driveOfPath(list(), path); }
    Code check(const Drive&) override { return code::kOk; }
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
    tell(QStringLiteral("sorvel-cli: ") + why);
    std::fputs(kUsage, stderr);
    return kWrongUsage;
}

// The value a field is set to, checked as the editor's fields limit what can be typed: no longer
// than the field, only Windows-1252, and a genre by its name. Empty when it may be written.
QString refusal(core::Typ typ, const QString& value) {
    if (typ == core::Typ::Genre) {
        return value.isEmpty() || core::genre_tal(value) != 256
                   ? QString()
                   : QStringLiteral("Okänd genre: ") + value;
    }
    const qsizetype width = typ == core::Typ::Ar ? core::kYearWidth : core::kTextWidth;
    if (value.size() <= width && core::fits1252(value))
        return {};
    return QStringLiteral("Fältet rymmer högst %1 tecken, alla ur Windows-1252: ").arg(width) +
           value;
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
            why = QStringLiteral("Spåret är ett tal från 0 till 255: ") + value;
        if (std::find(o.fields.begin(), o.fields.end(), core::Typ::Track) == o.fields.end())
            o.fields.push_back(core::Typ::Track);
        return true;
    }
    for (const auto& [prefix, typ, field] : kFields) {
        if (arg.starts_with(prefix)) {
            o.editor.*field = platform::decodeName(arg.substr(prefix.size()));
            why = refusal(typ, o.editor.*field);
            // A field named twice is written once, with its last value.
            if (std::find(o.fields.begin(), o.fields.end(), typ) == o.fields.end())
                o.fields.push_back(typ);
            return true;
        }
    }
    return false;
}

// Appends the line of one row: its columns as the list shows them, after `file` when given.
void appendRow(std::string& out, const core::Row& row, bool json, const QString* file) {
    static constexpr const char* kKeys[] = {"\"name\":", "\"artist\":", "\"title\":",  "\"album\":",
                                            "\"year\":", "\"genre\":",  "\"comment\":"};
    if (json) {
        out += '{';
        if (file != nullptr) {
            out += "\"file\":";
            cli::appendJson(out, *file);
            out += ',';
        }
        for (int c = 0; c < core::RowOrder::kColumns; ++c) {
            out += c == 0 ? "" : ",";
            out += kKeys[c];
            cli::appendJson(out, core::RowOrder::shown(row, c));
        }
        out += ",\"track\":";
        out += row.track != 0 ? std::to_string(row.track) : "null";
        out += "}\n";
        return;
    }
    if (file != nullptr) {
        cli::appendText(out, *file);
        out += '\t';
    }
    for (int c = 0; c < core::RowOrder::kColumns; ++c) {
        out += c == 0 ? "" : "\t";
        cli::appendText(out, core::RowOrder::shown(row, c));
    }
    out += '\t';
    if (row.track != 0)
        out += std::to_string(row.track);
    out += '\n';
}

// Names as messages show them: escaped as columns are.
QString shownPath(const QString& path) {
    std::string out;
    cli::appendText(out, path);
    return QString::fromStdString(out);
}

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int list(const Options& o, core::Folder::Services services) {
    core::Folder folder(services);
    Quiet quiet;
    std::string out;
    const core::Outcome outcome = folder.list(o.paths.front(), quiet, [&](core::Row&& row) {
        appendRow(out, row, o.json, nullptr);
        if (out.size() > (std::size_t{1} << 16)) {
            print(out);
            out.clear();
        }
    });
    print(out);
    for (const platform::Message& m : outcome.messages)
        tell(m.text);
    return outcome.failed ? kSomeNotHandled : 0;
}

// The files named on the command line (their places among the arguments), by the folder that
// lists them.
struct Group {
    QString folder;
    std::vector<std::size_t> args;
};

std::vector<Group> byFolder(const std::vector<QString>& paths) {
    std::vector<Group> groups;
    for (std::size_t a = 0; a < paths.size(); ++a) {
        const QString& path = paths[a];
        const qsizetype slash = path.lastIndexOf(platform::nativeSeparator());
        const QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash + 1);
        auto g = std::find_if(groups.begin(), groups.end(),
                              [&](const Group& x) { return x.folder == folder; });
        if (g == groups.end())
            g = groups.insert(groups.end(), Group{folder, {}});
        g->args.push_back(a);
    }
    return groups;
}

int change(const Options& o, core::Folder::Services services, platform::FileSystem& fs) {
    // Each with its place among the arguments as its row, so that they are named in that order.
    std::vector<core::Failure> failures;
    std::size_t nothingToWrite = 0;
    bool renameFailed = false;
    Quiet quiet;
    std::string out;
    for (const Group& g : byFolder(o.paths)) {
        core::Folder folder(services);
        folder.setSplit(o.split);
        folder.setUndoable(false);
        const core::Outcome listed = folder.list(g.folder, quiet);
        for (const platform::Message& m : listed.messages)
            tell(m.text);
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
                failures.push_back(
                    {shownPath(path), fs.exists(path) ? code::kNotMp3 : code::kFileNotFound, a});
                continue;
            }
            const std::size_t i = *r;
            selected[i] = true;
            argOf[i] = a;
        }
        const std::vector<core::Row> before = folder.rows();
        std::vector<bool> failed(folder.size(), false);
        auto take = [&](const core::Outcome& done) {
            nothingToWrite += done.nothingToWrite;
            for (const core::Failure& f : done.notHandled) {
                failed[f.row] = true;
                const std::size_t a = argOf[f.row];
                const QString shown = shownPath(o.paths[a]);
                if (o.command == Command::TagsToNames) {
                    tell(shown + QStringLiteral(": ") + core::renameMessage(f.code).text);
                    renameFailed = true;
                } else {
                    failures.push_back({shown, f.code, a, f.unconfirmed});
                }
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
                break;
        }
        // A line for every file whose bytes or name would change, showing the row as a listing
        // will show it then.
        for (std::size_t r = 0; o.dryRun && r < folder.size(); ++r) {
            const core::Row& row = folder.row(r);
            if (selected[r] && !failed[r] && (!(row == before[r]) || row.print != before[r].print))
                appendRow(out, row, o.json, &o.paths[argOf[r]]);
        }
    }
    print(out);
    std::stable_sort(failures.begin(), failures.end(),
                     [](const core::Failure& x, const core::Failure& y) { return x.row < y.row; });
    platform::Messages messages;
    constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
    if (o.command == Command::FromV2)
        core::addImportOutcome(messages, {0, failures, nothingToWrite}, kAll);
    else
        core::addFailures(messages, failures, QStringLiteral("Följande filer kunde inte skrivas:"),
                          kAll);
    for (const platform::Message& m : messages)
        tell(m.text);
    return failures.empty() && !renameFailed ? 0 : kSomeNotHandled;
}

}  // namespace

int main(int argc, char** argv) {
    static constexpr std::pair<std::string_view, Command> kCommands[] = {
        {"list", Command::List},
        {"set", Command::Set},
        {"names-to-tags", Command::NamesToTags},
        {"tags-to-names", Command::TagsToNames},
        {"from-v2", Command::FromV2}};
    Options o;
    const std::string_view first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [&](const auto& c) { return c.first == first; });
    if (found == std::end(kCommands))
        return wrongUsage(QStringLiteral("okänt kommando: ") + platform::decodeName(first));
    o.command = found->second;
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        QString why;
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (options && a == "--json") {
            o.json = true;
        } else if (options && a == "--dry-run" && o.command != Command::List) {
            o.dryRun = true;
        } else if (options && a == "--split" && o.command == Command::NamesToTags) {
            const std::string_view n = i + 1 < argc ? argv[++i] : "";
            if (n.size() != 1 || n[0] < '1' || n[0] > '4')
                return wrongUsage(QStringLiteral("--split tar 1, 2, 3 eller 4"));
            o.split = n[0] - '0';
        } else if (options && a.starts_with('-') && a.size() > 1) {
            return wrongUsage(QStringLiteral("okänd flagga: ") + platform::decodeName(a));
        } else if (o.command == Command::Set && options && o.paths.empty() &&
                   parseField(a, o, why)) {
            if (!why.isEmpty())
                return wrongUsage(why);
        } else {
            o.paths.push_back(platform::decodeName(a));
        }
    }
    if (o.command == Command::List ? o.paths.size() != 1 : o.paths.empty())
        return wrongUsage(o.command == Command::List ? QStringLiteral("en mapp, tack")
                                                     : QStringLiteral("inga filer"));
    if (o.command == Command::Set && o.fields.empty()) {
        // A mistyped field name reads as a file; saying which word was not a field helps more.
        const QString& word = o.paths.front();
        return wrongUsage(word.contains(u'=')
                              ? QStringLiteral("okänt fält: ") + word.section(u'=', 0, 0)
                              : QStringLiteral("inget FÄLT=VÄRDE"));
    }

    Patient disk;
    platform::DryRunFileSystem unchanged(disk);
    platform::FileSystem& fs = o.dryRun ? static_cast<platform::FileSystem&>(unchanged) : disk;
    NoQuestions asker;
    platform::XdgOpener opener;
    MountTable drives;
    NoTrash trash;
    const core::Folder::Services services{fs, asker, opener, drives, trash};
    int status = o.command == Command::List ? list(o, services) : change(o, services, fs);
    // Lines lost to a full disk or a closed pipe are not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "sorvel-cli: standard output: %s\n", std::strerror(errno));
        status = kSomeNotHandled;
    }
    // The rows of a large folder are many small allocations, which the system takes back at once
    // and the destructors would give back one by one.
    std::_Exit(status);
}
