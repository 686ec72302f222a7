// peltorn merge: the merge run without a window. The options are the window's check boxes; the
// run is the same engine operation the "&Merge Database" button starts.
//
//   peltorn merge [--ini FILE] --period YYYYMM [--leave] [--no-gl] [--exclude-special]
//                 [--selected-only] [--yes] [--log FILE] [--report FILE] [--quiet]
//                 [--progress none|bar|lines]
//                 [--snapshots DIR] [--keep-snapshots N] [--no-snapshot] [--dry-run]
//
// Standard output: the run log, then the summary of the run, then the last line: "Merge database
// completed" (exit 0, or 4 when checks of the run failed) or, when Ctrl-C stopped the run, "Merge
// stopped by the operator: N employees not converted" (exit 3), each followed by what the safety
// net did (a destination put back, a preview). A failed run (exit 1) has no last line there.
// Standard error: the run's messages and questions, "error: <text>" when the run fails, and the
// progress (see MergeTerminal.h).
// SIGPIPE is ignored: a reader that goes away (`| head`) never ends a run in the middle of a
// destination; what could not be written is lost and the run ends as it would have.
#include "cli/Commands.h"

#include "cli/MergeTerminal.h"
#include "run/MergeRun.h"
#include "run/RunSummary.h"
#include "run/RunTexts.h"
#include "run/Snapshots.h"
#include "startup/StartUp.h"
#include "support/PrivateFiles.h"

#include <unistd.h>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>

namespace peltorn::cli {

namespace {

constexpr const char* kExitCodes =
    "Exit status:\n"
    "  0  the run completed (last line \"Merge database completed\")\n"
    "  1  the run failed (\"error: ...\" on standard error)\n"
    "  2  wrong usage (an unknown option, a missing argument)\n"
    "  3  the run was stopped by the operator (Ctrl-C; last line \"Merge stopped by the "
    "operator: N employees not converted\")\n"
    "  4  the run completed with failed checks (last line \"Merge database completed\")\n"
    "Ctrl-C stops the run after the group being merged; a second Ctrl-C, or SIGTERM, ends it at "
    "once as failed.";

struct TMergeArgs {
    std::string Ini;
    std::string Period;
    bool Leave = false;
    bool NoGL = false;
    bool ExcludeSpecial = false;
    bool SelectedOnly = false;
    bool Yes = false;
    std::string Log;
    std::string Report;
    bool Quiet = false;
    std::string Progress;  // empty: bar on a terminal, none otherwise
    std::string Snapshots;
    int KeepSnapshots = 3;
    bool NoSnapshot = false;
    bool DryRun = false;
};

TProgressMode ProgressMode(const std::string& choice) {
    if (choice == "bar") return TProgressMode::Bar;
    if (choice == "lines") return TProgressMode::Lines;
    if (choice == "none") return TProgressMode::None;
    return IsTerminal(STDERR_FILENO) ? TProgressMode::Bar : TProgressMode::None;
}

// The last lines of standard output; a write that fails is not the run's failure.
void WriteOut(const std::string& line) {
    std::cout << line << '\n';
    std::cout.flush();
    std::cout.clear();
}

int RunMergeCommand(const TMergeArgs& args) {
    std::signal(SIGPIPE, SIG_IGN);
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
    TTerminalSetup setup;
    setup.Progress = ProgressMode(args.Progress);
    setup.BarColour = TerminalAllowsColour(STDERR_FILENO);
    setup.OutputOnTerminal = SameTerminal(STDOUT_FILENO, STDERR_FILENO);
    setup.ShowRunLog = !args.Quiet;
    setup.TerminalFd = STDERR_FILENO;
    TTerminalOperator terminal(std::cout, std::cerr, args.Yes, log.get(), setup);
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

    terminal.BeginRun();
    run::TMergeResult result = run::RunMerge(form);
    if (result != run::TMergeResult::Failed) {
        // The run committed everything before it said so; anything still held is written now,
        // and a failure to write it turns the result into a failure.
        try {
            db::FlushPendingWrites();
        } catch (const std::exception& e) {
            form.Operator().ReportError(e.what());
            result = run::TMergeResult::Failed;
            form.Account.Result = run::kResultFailed;
        }
    }
    terminal.EndRun();
    if (log) {
        log->flush();
        if (!*log) std::cerr << "warning: the run log " << args.Log << " is not complete\n";
    }
    if (!args.Report.empty()) {
        try {
            run::WriteRunReport(form.Account, form.Controls.Memo1, args.Report);
        } catch (const std::exception& e) {
            // The run's outcome stands in the report's place: a run asked for its report and
            // not given one has not done what it was asked.
            std::cerr << "error: " << e.what() << std::endl;
            result = run::TMergeResult::Failed;
        }
    }

    // The summary of the run, between the run log and the last line; printed also with --quiet,
    // which leaves out only the run log. Colour only on a terminal that has it (see
    // TerminalAllowsColour: NO_COLOR, TERM=dumb, not a terminal). A run refused before its
    // first group has nothing to sum up.
    if (!form.Account.Groups.empty()) {
        std::string summary =
            run::RunSummaryText(form.Account, TerminalAllowsColour(STDOUT_FILENO));
        if (!summary.empty() && summary.back() == '\n') summary.pop_back();
        WriteOut(summary);
    }

    switch (result) {
        case run::TMergeResult::Failed: return 1;
        case run::TMergeResult::Stopped:
            // Scripts tell a stopped run from a completed one by the status and the last line.
            WriteOut(run::EndOfRunLine(form, true));
            return 3;
        case run::TMergeResult::CompletedWithFailedChecks:
            WriteOut(run::EndOfRunLine(form, false));
            return 4;
        case run::TMergeResult::Completed: break;
    }
    WriteOut(run::EndOfRunLine(form, false));
    return 0;
}

}  // namespace

void RegisterMergeCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<TMergeArgs>();
    auto* cmd = app.add_subcommand("merge",
                                   "merge the company databases of every merge group for a period");
    AddIniOption(*cmd, args->Ini);
    cmd->add_option("--period", args->Period, "period YYYYMM (999999: all periods)")->required();
    cmd->add_flag("--leave", args->Leave, "transfer leave records");
    cmd->add_flag("--no-gl", args->NoGL, "do not merge the general-ledger tables");
    cmd->add_flag("--exclude-special", args->ExcludeSpecial,
                  "keep records of cycle S when clearing");
    cmd->add_flag("--selected-only", args->SelectedOnly, "merge only groups marked T");
    cmd->add_flag("--yes", args->Yes, "answer Yes to every question (default: No)");
    cmd->add_option("--log", args->Log, "write the run log to FILE as well");
    cmd->add_option("--report", args->Report,
                    "write the run's account (counts, checks, reconciliation) to FILE as JSON");
    cmd->add_flag("--quiet", args->Quiet,
                  "leave the run log out of standard output (--log still writes it)");
    cmd->add_option("--progress", args->Progress,
                    "progress on standard error: bar (one line updated in place), lines (the "
                    "progress texts, one per line) or none; default: bar on a terminal, else none")
        ->check(CLI::IsMember({"none", "bar", "lines"}));
    cmd->footer(kExitCodes);
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
