// peltorn merge: the merge run without a window. The options are the window's check boxes; the
// run is the same engine operation the "&Merge Database" button starts.
//
//   peltorn merge [--ini FILE] --period YYYYMM [--leave] [--no-gl] [--exclude-special]
//                 [--selected-only] [--yes] [--log FILE]
//                 [--snapshots DIR] [--keep-snapshots N] [--no-snapshot] [--dry-run]
//
// Standard output: the progress texts and the run log, ending with "Merge database completed"
// (exit 0), or, when Ctrl-C stopped the run, with "Merge stopped by the operator: N employees not
// converted" (exit 3), each followed by what the safety net did (a destination put back, a
// preview).
// Standard error: the run's messages and questions; "error: <text>" when the run fails (exit 1).
#include "cli/Commands.h"

#include "cli/MergeTerminal.h"
#include "run/MergeRun.h"
#include "run/RunTexts.h"
#include "run/Snapshots.h"
#include "startup/StartUp.h"
#include "support/PrivateFiles.h"

#include <fstream>
#include <iostream>
#include <memory>

namespace peltorn::cli {

namespace {

struct TMergeArgs {
    std::string Ini;
    std::string Period;
    bool Leave = false;
    bool NoGL = false;
    bool ExcludeSpecial = false;
    bool SelectedOnly = false;
    bool Yes = false;
    std::string Log;
    std::string Snapshots;
    int KeepSnapshots = 3;
    bool NoSnapshot = false;
    bool DryRun = false;
};

int RunMergeCommand(const TMergeArgs& args) {
    std::unique_ptr<std::ofstream> log;
    if (!args.Log.empty()) {
        try {
            support::CreatePrivateFile(args.Log);  // the run log names employees and amounts
        } catch (const std::exception& e) {
            std::cerr << "error: " << e.what() << std::endl;
            return 1;
        }
        log = std::make_unique<std::ofstream>(args.Log, std::ios::trunc);
        if (!*log) {
            std::cerr << "error: cannot write the run log " << args.Log << std::endl;
            return 1;
        }
    }
    TTerminalOperator terminal(std::cout, std::cerr, args.Yes, log.get());
    TFormMerge form(terminal);
    terminal.Attach(form);

    FormCreate(form, StartOptionsFor("/proc/self/exe", args.Ini));
    if (terminal.ErrorsReported() > 0) return 1;  // start-up reported its error already

    TMergeControls& c = form.Controls;
    c.EditPeriod = args.Period;
    c.CheckBoxLeave = args.Leave;
    c.CheckBoxGL = !args.NoGL;
    c.chkSPE = args.ExcludeSpecial;
    c.chkMERGE = args.SelectedOnly;
    if (!args.Snapshots.empty()) form.SnapshotFolder = args.Snapshots;
    form.KeepSnapshots = args.KeepSnapshots;
    form.TakeSnapshots = !args.NoSnapshot;
    form.DryRun = args.DryRun;

    TTerminalOperator::CatchInterrupt();
    run::TMergeResult result = run::RunMerge(form);
    if (result != run::TMergeResult::Failed) {
        // The run committed everything before it said so; anything still held is written now,
        // and a failure to write it turns the result into a failure.
        try {
            db::FlushPendingWrites();
        } catch (const std::exception& e) {
            form.Operator().ReportError(e.what());
            result = run::TMergeResult::Failed;
        }
    }
    if (log) log->flush();
    if (result == run::TMergeResult::Failed) return 1;
    if (result == run::TMergeResult::Stopped) {
        // Scripts tell a stopped run from a completed one by the status and the last line.
        std::cout << run::EndOfRunLine(form, true) << std::endl;
        return 3;
    }
    std::cout << run::EndOfRunLine(form, false) << std::endl;
    return result == run::TMergeResult::CompletedWithFailedChecks ? 4 : 0;
}

}  // namespace

void RegisterMergeCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<TMergeArgs>();
    auto* cmd = app.add_subcommand("merge",
                                   "merge the company databases of every merge group for a period");
    cmd->add_option("--ini", args->Ini, "settings file (default: ORVEX.ini beside the program)");
    cmd->add_option("--period", args->Period, "period YYYYMM (999999: all periods)")->required();
    cmd->add_flag("--leave", args->Leave, "transfer leave records");
    cmd->add_flag("--no-gl", args->NoGL, "do not merge the general-ledger tables");
    cmd->add_flag("--exclude-special", args->ExcludeSpecial,
                  "keep records of cycle S when clearing");
    cmd->add_flag("--selected-only", args->SelectedOnly, "merge only groups marked T");
    cmd->add_flag("--yes", args->Yes, "answer Yes to every question (default: No)");
    cmd->add_option("--log", args->Log, "write the run log to FILE as well");
    cmd->add_option("--snapshots", args->Snapshots,
                    "keep the destinations' snapshots in DIR (default: [MERGE] SNAPSHOTS, else "
                    "MERGE-SNAPSHOTS beside the company folder)");
    cmd->add_option("--keep-snapshots", args->KeepSnapshots,
                    "snapshots kept per destination (default: 3)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_flag("--no-snapshot", args->NoSnapshot,
                  "take no snapshot: a failed or stopped run leaves its destination as it is");
    cmd->add_flag("--dry-run", args->DryRun,
                  "merge scratch copies of the databases: preview the run, change nothing");
    cmd->callback([args, &exitCode] { exitCode = RunMergeCommand(*args); });
}

}  // namespace peltorn::cli
