#include "CommandLine.h"

#include "Failure.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>

namespace qtool {
namespace {

const char kDescription[] =
    "quorlin: read live volumes as they were at one instant. It snapshots the volumes of "
    "the paths you name, lets you read them through the snapshot, and deletes the "
    "snapshot when you are done.";

const char kSnapshotFooter[] =
    "After the PATHs: -- COMMAND [ARGS...]\n"
    "Takes one snapshot set for the PATHs and prints \"PATH<TAB>SNAPSHOT-PATH\" for each\n"
    "(a path with a control character, or a leading \", is quoted as C quotes a string),\n"
    "then runs COMMAND: {} or {1}, wherever it stands in an argument, stands for the first\n"
    "snapshot path, {2} for the second, and so on ({{}} is passed as {}). QUORLIN_SNAPSHOT_1,\n"
    "QUORLIN_SNAPSHOT_2, ... hold every snapshot path of the set, the nested volumes' after\n"
    "the PATHs', each with QUORLIN_PATH_<n> beside it, and QUORLIN_SNAPSHOT_COUNT.\n"
    "Without COMMAND it holds the snapshot until Enter or Ctrl-C. The snapshot is\n"
    "deleted at the end, also on Ctrl-C or SIGTERM. Exits with COMMAND's status.\n"
    "Btrfs subvolumes and btrfs volumes mounted below a PATH join the set (one line\n"
    "each after the PATHs'); what cannot join (another file system, a folder bound\n"
    "from elsewhere) is named on standard error. --one-file-system keeps to each PATH's\n"
    "own volume and names the nested ones it leaves out.\n"
    "With --in-place (Linux), COMMAND runs in a mount namespace of its own in which\n"
    "each PATH and each nested volume is its read-only snapshot bound over its own\n"
    "place, and {} stands for the PATH itself; other processes see the live files.\n"
    "With --json one line of JSON replaces the PATH lines.\n"
    "Standard output is COMMAND's alone: with a COMMAND the PATH lines (or the JSON)\n"
    "go to standard error, or to the descriptor that --output-fd names.\n"
    "\n"
    "  quorlin snapshot /srv/db -- tar -C {} -cf /backup/db.tar .\n"
    "  quorlin snapshot /srv/db -- rsync -a {}/ /backup/db/\n"
    "  quorlin snapshot --in-place /srv/db -- tar -cf /backup/db.tar /srv/db";

const char kCopyFooter[] =
    "Copies SOURCE as it was at one instant, even while programs write to it, keeping\n"
    "times and permissions (on Linux also owners, extended attributes, links, hard links,\n"
    "holes and special files); shows progress on a terminal. Nothing in DEST is followed\n"
    "or written through, and a file replaces its earlier copy only once complete. The\n"
    "snapshot is deleted at the end, also when the copy fails. Btrfs subvolumes below\n"
    "SOURCE are copied into their places (one instant for all) unless --one-file-system\n"
    "is given; what cannot be copied so (another file system mounted below) is named.\n"
    "\n"
    "  quorlin copy /srv/db/live.sqlite /backup/";

const char kListFooter[] =
    "Shows the snapshots that outlive a backup on the volume of PATH (without PATH: on\n"
    "every volume), one line each: SET-ID, VOLUME, CONTEXT (persistent, or auto-release:\n"
    "it goes with its owner), OWNER (process id, running or gone) and AGE. On Windows it\n"
    "shows the persistent sets of quorlin's own context that VSS keeps.\n"
    "\n"
    "  quorlin list /srv";

const char kDeleteFooter[] =
    "Deletes the snapshot set SET-ID (as \"quorlin list\" shows it), or with --orphans the\n"
    "auto-release snapshots whose owner process is gone, on the volume of PATH (without\n"
    "PATH: wherever they are); the deletion is made durable. A set whose owner still runs\n"
    "is never deleted. Only snapshots that quorlin made are touched.\n"
    "\n"
    "  quorlin delete --orphans";

const char kFooter[] =
    "Run \"quorlin COMMAND --help\" for a command's details.\n"
    "\n"
    "Exit codes:\n"
    "  0    success\n"
    "  1    the snapshot or its completion failed, or the output could not be written\n"
    "  2    usage error: bad options or arguments, or a path that does not exist\n"
    "  3    copy could not read the snapshot or write DEST\n"
    "  4    copy is complete, but could not keep something (named by its source path)\n"
    "  99   the library refused: a backup is already in progress\n"
    "  100  the library refused before any snapshot work (unsupported system)\n"
    "  127  the command after -- could not be started\n"
    "  130  stopped by Ctrl-C or a signal; the snapshots were deleted\n"
    "  snapshot -- COMMAND exits with COMMAND's own status.\n"
    "\n"
    "Examples:\n"
    "  quorlin snapshot /srv/db -- tar -C {} -cf /backup/db.tar .\n"
    "  quorlin snapshot /srv/db /home -- sh -c 'ls \"$QUORLIN_SNAPSHOT_2\"'\n"
    "  quorlin copy /srv/db/live.sqlite /backup/live.sqlite\n"
    "  quorlin --retry 3 snapshot /srv/db -- tar -C {} -cf /backup/db.tar .\n"
    "  quorlin list\n"
    "  quorlin delete --orphans\n"
    "  quorlin --timings snapshot /srv/db -- tar -C {} -cf /backup/db.tar .\n"
    "  quorlin snapshot --json /srv/db /home";

// Splits off the command after the first "--".
std::vector<std::string> SplitProgram(std::vector<std::string> arguments,
                                      std::vector<std::string>& program) {
    auto separator = std::find(arguments.begin(), arguments.end(), "--");
    if (separator != arguments.end()) {
        program.assign(separator + 1, arguments.end());
        arguments.erase(separator, arguments.end());
    }
    return arguments;
}

[[noreturn]] void Usage(const std::string& problem) {
    throw Failure(kExitUsage, problem + "; run \"quorlin --help\" for usage.");
}

// The longest --timeout: its milliseconds fit the library's int.
const int kLongestTimeoutSeconds = 2147483;
const int kLongestDescriptor = 1 << 20;

// The options of both commands; they may also come before the command's name.
void AddBackupOptions(CLI::App& app, Invocation& invocation, bool& noWriters) {
    app.add_flag("-v,--verbose", invocation.options.verbosity,
                 "Show the library's report lines on standard error; -vv: every step");
    app.add_flag("--incremental", invocation.options.incremental,
                 "Make an incremental backup instead of a full one");
    app.add_flag("--no-writers", noWriters, "Snapshot one path without the writers");
    app.add_flag("--one-file-system", invocation.oneFileSystem,
                 "Keep to each PATH's own volume; name the nested ones left out");
    app.add_option("--timeout", invocation.options.timeoutSeconds,
                   "Give up when a step of taking or deleting the snapshot (the writers, the "
                   "snapshot itself) takes longer than SECONDS; 0: wait for ever")
        ->type_name("SECONDS")
        ->default_str("600")
        ->check(CLI::Range(0, kLongestTimeoutSeconds));
    app.add_option("--retry", invocation.options.retries,
                   "Try N more times, after 1 s, 2 s, 4 s..., while another snapshot is "
                   "being taken or a writer asks for a retry")
        ->type_name("N")
        ->check(CLI::Range(0, 1000));
    app.add_flag("--timings", invocation.options.timings,
                 "At the end, the milliseconds of each phase on standard error");
    app.add_flag("--json", invocation.json,
                 "Print the set, or the failure, as one JSON line (where the PATH lines go)");
    app.add_option("--output-fd", invocation.outputFd,
                   "Write the PATH lines, or the JSON, to the open descriptor N instead of "
                   "standard output (standard error with a COMMAND)")
        ->type_name("N")
        ->check(CLI::Range(0, kLongestDescriptor));
}

}  // namespace

bool JsonRequested(const std::vector<std::string>& arguments) {
    auto end = std::find(arguments.begin(), arguments.end(), "--");
    return std::find(arguments.begin(), end, "--json") != end;
}

int OutputFdRequested(const std::vector<std::string>& arguments) {
    const std::string option = "--output-fd";
    auto end = std::find(arguments.begin(), arguments.end(), "--");
    std::string value;
    for (auto it = arguments.begin(); it != end; ++it) {
        if (*it == option && it + 1 != end)
            value = *(it + 1);
        else if (it->compare(0, option.size() + 1, option + "=") == 0)
            value = it->substr(option.size() + 1);
    }
    if (value.empty() || value.size() > 7 || value.find_first_not_of("0123456789") != value.npos)
        return -1;
    return std::stoi(value);
}

bool CommandRequested(const std::vector<std::string>& arguments) {
    auto separator = std::find(arguments.begin(), arguments.end(), "--");
    return separator != arguments.end() && separator + 1 != arguments.end();
}

std::optional<Invocation> ParseCommandLine(const std::vector<std::string>& arguments) {
    Invocation invocation;
    std::vector<std::string> options = SplitProgram(arguments, invocation.program);
    std::string source;
    std::string destination;
    bool noWriters = false;

    CLI::App app(kDescription, "quorlin");
    app.set_version_flag("--version", "quorlin " QUORLIN_TOOL_VERSION);
    app.require_subcommand(1);
    app.allow_windows_style_options(false);  // "/data" is a path, not an option
    AddBackupOptions(app, invocation, noWriters);

    CLI::App* snapshot = app.add_subcommand("snapshot", "Snapshot PATHs, run a command on them");
    snapshot->footer(kSnapshotFooter);
    AddBackupOptions(*snapshot, invocation, noWriters);
    snapshot->add_flag("--in-place", invocation.inPlace,
                       "Run COMMAND where each PATH shows its snapshot (Linux)");
    snapshot->add_option("PATH", invocation.paths, "Files or folders to snapshot")->required();

    CLI::App* copy = app.add_subcommand("copy", "Copy a file or folder in use, from a snapshot");
    copy->footer(kCopyFooter);
    AddBackupOptions(*copy, invocation, noWriters);
    copy->add_option("SOURCE", source, "File or folder to copy")->required();
    copy->add_option("DEST", destination, "Where the copy goes (a folder: into it)")->required();

    std::string listPath;
    CLI::App* list = app.add_subcommand("list", "Show the snapshots held on the volumes");
    list->footer(kListFooter);
    list->add_option("PATH", listPath, "A file or folder on the volume to look at");

    std::string deleteFirst;
    std::string deleteSecond;
    bool orphans = false;
    CLI::App* remove =
        app.add_subcommand("delete", "Delete a held snapshot set, or the orphaned snapshots");
    remove->footer(kDeleteFooter);
    remove->add_flag("--orphans", orphans,
                     "Delete the auto-release snapshots whose owner process is gone");
    remove->add_option("SET-ID", deleteFirst, "The set, as list shows it (with --orphans: PATH)");
    remove->add_option("PATH", deleteSecond, "A file or folder on the volume to look at");
    app.footer(kFooter);

    std::vector<std::string> reversed(options.rbegin(), options.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& help) {
        app.exit(help, std::cout, std::cerr);
        return std::nullopt;
    } catch (const CLI::CallForAllHelp& help) {
        app.exit(help, std::cout, std::cerr);
        return std::nullopt;
    } catch (const CLI::CallForVersion&) {
        std::cout << "quorlin " QUORLIN_TOOL_VERSION "\n";
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        std::string problem = error.what();
        if (!problem.empty() && problem.back() == '.')
            problem.pop_back();
        if (app.get_subcommands().empty())
            problem = "name a command: snapshot, copy, list or delete";
        Usage(problem);
    }

    invocation.options.withWriters = !noWriters;
    if (list->parsed()) {
        invocation.command = Command::kList;
        if (!listPath.empty())
            invocation.paths = {listPath};
    }
    if (remove->parsed()) {
        invocation.command = Command::kDelete;
        if (!orphans && deleteFirst.empty())
            Usage("delete takes a SET-ID or --orphans");
        if (orphans && !deleteSecond.empty())
            Usage("delete --orphans takes at most one PATH");
        if (!orphans)
            invocation.setId = deleteFirst;
        const std::string& path = orphans ? deleteFirst : deleteSecond;
        if (!path.empty())
            invocation.paths = {path};
    }
    if ((list->parsed() || remove->parsed()) && !invocation.program.empty())
        Usage("list and delete take no command after --");
    if (copy->parsed()) {
        invocation.command = Command::kCopy;
        invocation.paths = {source, destination};
        if (!invocation.program.empty())
            Usage("copy takes no command after --");
    }
    if (noWriters && invocation.paths.size() > 1 && invocation.command == Command::kSnapshot)
        Usage("--no-writers takes one PATH");
    if (invocation.inPlace && invocation.program.empty())
        Usage("--in-place needs a command after --");
    return invocation;
}

}  // namespace qtool
