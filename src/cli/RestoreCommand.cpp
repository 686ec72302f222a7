// peltorn restore: a destination put back from the snapshot a merge run took of it before it
// cleared it. After a run that was killed (or lost its machine) while it merged a destination,
// the marker in that snapshot makes every later run refuse the destination until it is put back.
//
//   peltorn restore [--ini FILE] [--snapshots DIR] [--group NO | --destination CODE]
//                   [--snapshot ID]
//       without --group and --destination: every destination whose last run was interrupted,
//       each from the snapshot with the marker; with one of them: that destination, from the
//       snapshot with the marker, else its last one; --snapshot ID names the snapshot.
//   peltorn restore --list [--ini FILE] [--snapshots DIR]
//       one line per snapshot: destination, id, when taken, bytes, and its state.
//
// Standard output: one line per destination put back. Exit 0; 1 with "error: ..." when a
// destination could not be put back (the others are still tried) or nothing matched.
#include "cli/Commands.h"

#include "db/Db.h"
#include "run/MergeRun.h"
#include "run/Snapshots.h"
#include "setup/MergeGroups.h"
#include "startup/StartUp.h"
#include "support/StrUtil.h"

#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>

namespace peltorn::cli {

namespace {

struct TRestoreArgs {
    std::string Ini;
    std::string Snapshots;
    int Group = -1;
    std::string Destination;
    std::string Snapshot;
    bool List = false;
};

void PrintList(const std::vector<run::TSnapshot>& snapshots) {
    std::cout << std::left << std::setw(10) << "DEST" << std::setw(26) << "SNAPSHOT"
              << std::setw(21) << "TAKEN" << std::right << std::setw(14) << "BYTES"
              << "  STATE" << std::endl;
    for (const auto& s : snapshots) {
        const char* state = s.Interrupted ? "interrupted run" : s.Complete ? "" : "incomplete";
        std::cout << std::left << std::setw(10) << s.Code << std::setw(26) << s.Id << std::setw(21)
                  << (s.Taken.empty() ? "-" : s.Taken) << std::right << std::setw(14) << s.Bytes
                  << "  " << state << std::endl;
    }
}

// The snapshot a destination is put back from: the one named, else the last one with the marker,
// else (for a destination named) its last complete one.
const run::TSnapshot* Choose(const std::vector<run::TSnapshot>& of, const std::string& id) {
    const run::TSnapshot* chosen = nullptr;
    for (const auto& s : of) {
        if (!id.empty()) {
            if (s.Id == id) chosen = &s;
        } else if (s.Interrupted && s.Complete) {
            chosen = &s;
        }
    }
    if (chosen || !id.empty()) return chosen;
    for (const auto& s : of)
        if (s.Complete) chosen = &s;
    return chosen;
}

void RestoreOne(TFormMerge& form, const std::string& code, const run::TSnapshot& snapshot) {
    const std::string database =
        run::DestinationPath(form.BaseFolder, form.DictionarySetting, code);
    // The same hold a merge run takes: no run merges the destination while it is put back.
    auto hold = db::TDatabaseRunLock::TryAcquire(database);
    if (!hold)
        throw std::runtime_error("The destination database " + database +
                                 " is being merged by another run");
    run::RestoreSnapshot(snapshot, database, {});
    // Every marker of the destination goes: it is as it was before the run that left them.
    for (const auto& s : run::ListSnapshots(run::SnapshotRoot(form), code))
        if (s.Interrupted) run::RemoveMarker(s);
    std::cout << "The destination " << code << " was restored from its snapshot " << snapshot.Id
              << " (taken " << snapshot.Taken << ", " << snapshot.Folder << ")." << std::endl;
}

int RunRestore(const TRestoreArgs& args) {
    TCommandOperator op;
    TFormMerge form(op);
    FormCreate(form, StartOptionsFor("/proc/self/exe", args.Ini));
    if (!op.FirstError.empty()) throw std::runtime_error(op.FirstError);
    if (!args.Snapshots.empty()) form.SnapshotFolder = args.Snapshots;
    const std::string root = run::SnapshotRoot(form);
    const auto all = run::ListSnapshots(root);
    if (args.List) {
        PrintList(all);
        return 0;
    }

    std::string code = support::TrimSpaces(args.Destination);
    if (args.Group >= 0) {
        for (const auto& group : setup::ListGroups(form))
            if (group.No == args.Group) code = support::TrimSpaces(group.Code);
        if (code.empty())
            throw std::runtime_error("There is no merge group " + std::to_string(args.Group));
    }
    // The destinations to put back, each with its snapshots.
    std::map<std::string, std::vector<run::TSnapshot>> byCode;
    for (const auto& s : all) byCode[s.Code].push_back(s);
    std::vector<std::string> codes;
    if (!code.empty()) {
        codes.push_back(code);
    } else {
        for (const auto& [c, snapshots] : byCode) {
            for (const auto& s : snapshots) {
                if ((!args.Snapshot.empty() && s.Id == args.Snapshot) ||
                    (args.Snapshot.empty() && s.Interrupted)) {
                    codes.push_back(c);
                    break;
                }
            }
        }
        if (codes.empty()) {
            if (!args.Snapshot.empty())
                throw std::runtime_error("There is no snapshot " + args.Snapshot + " in " + root);
            std::cout << "No run was interrupted: nothing to put back (" << root << ")."
                      << std::endl;
            return 0;
        }
    }
    int failed = 0;
    for (const auto& c : codes) {
        const run::TSnapshot* snapshot = Choose(byCode[c], args.Snapshot);
        try {
            if (!snapshot)
                throw std::runtime_error("There is no " +
                                         (args.Snapshot.empty() ? "" : args.Snapshot + " ") +
                                         "snapshot of " + c + " in " + root);
            RestoreOne(form, c, *snapshot);
        } catch (const std::exception& e) {
            std::cerr << "error: " << e.what() << std::endl;
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace

void RegisterRestoreCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<TRestoreArgs>();
    auto* cmd = app.add_subcommand(
        "restore", "put destinations back from the snapshots merge runs took before clearing them");
    AddIniOption(*cmd, args->Ini);
    cmd->add_option("--snapshots", args->Snapshots,
                    "the snapshot folder (default: [MERGE] SNAPSHOTS, else MERGE-SNAPSHOTS beside "
                    "the company folder)");
    auto* group = cmd->add_option("--group", args->Group, "the destination of merge group NO")
                      ->check(CLI::NonNegativeNumber);
    cmd->add_option("--destination", args->Destination, "the destination CODE (e.g. '#GRP1')")
        ->excludes(group);
    cmd->add_option("--snapshot", args->Snapshot, "the snapshot ID (see --list)");
    cmd->add_flag("--list", args->List, "list the snapshots and change nothing");
    cmd->callback([args, &exitCode] {
        int code = 0;
        exitCode = Guarded([&] { code = RunRestore(*args); });
        if (exitCode == 0) exitCode = code;
    });
}

}  // namespace peltorn::cli
