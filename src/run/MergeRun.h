// The merge run: what "&Merge Database" starts. For the period in EditPeriod it walks the merge
// groups, connects each destination, honours its period lock, clears the period, transfers every
// source company of the group and then lets the currency conversion and the rebuilds finish the
// destination. The order of the steps is described once, at the top of MergeRun.cpp.
#pragma once

#include "startup/FormMerge.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace peltorn::run {

// An error raised by the run itself, with a text composed from the engine's message and what
// failed (" Table " and the table, "Employee#" and the employee code).
class EMergeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the run was working on when an error ended it: the group's code, the database being
// connected or merged, the table being cleared or transferred. Empty where not known (an error
// before the first group). Kept by the stages as they go; reset when a run starts.
struct TRunContext {
    std::string Group;
    std::string Database;
    std::string Table;
};
TRunContext& CurrentRunContext();

// A source's transfer works in two databases: it reads the source through tblSource (dbSource)
// and writes the destination through tblDest (dbDest). The context names the source while a
// source is transferred; a step on the destination runs through OnDestination, so that its
// failure names the destination (dbDest's path) as the database it happened in.
void FailedInDestination(TFormMerge& form);
template <class Step>
decltype(auto) OnDestination(TFormMerge& form, Step&& step) {
    try {
        return std::forward<Step>(step)();
    } catch (...) {
        FailedInDestination(form);
        throw;
    }
}

// Database paths as the system forms them, backslashes included (the database layer accepts both
// separators and folds repeated ones). dictionarySetting "YES" gives the data-dictionary layout.
// code is the group's CODE already trimmed.
std::string DestinationPath(const std::string& baseFolder, const std::string& dictionarySetting,
                            const std::string& code);
// code is the source's CODE as read, path its PATH: a PATH that is not empty wins.
std::string SourcePath(const std::string& baseFolder, const std::string& dictionarySetting,
                       const std::string& code, const std::string& path);

// A period text the run accepts: "999999" (all periods) or six digits yyyyMM whose month MM is
// 01 to 12.
bool IsValidPeriod(const std::string& period);

// The destination's period lock: locked when the PAYPARA1 record of the period's year has lock
// "T" and lockPeriod >= the period as a number. Expects DbTablePaypara1 open on the destination.
bool IsDestinationLocked(TFormMerge& form, const std::string& period);

// How a run ended: every group merged, every group merged but a check of the run's account found
// the figures wrong, stopped by the operator (the group being merged when the stop came is
// finished, later groups are not started), or ended by an error.
enum class TMergeResult { Completed, CompletedWithFailedChecks, Stopped, Failed };

// The line a stopped run ends with: "Merge stopped by the operator: N employees not converted".
std::string StoppedMessage(std::size_t employeesNotConverted);

// The click handler of BitBtn1. Expects the main database open (TableMerge, TableMergeDTL,
// TableMCompany) and BaseFolder, DictionarySetting and StdCurr set. Runs every merge group for
// the period of Controls.EditPeriod and ends with "Merge database completed", the buttons enabled
// again and the company connections closed. A stop request of the operator (Esc in the progress
// window, Ctrl-C in the terminal) ends it the same way after the group it came in, but with
// StoppedMessage instead; EmployeesNotConverted holds the count. Returns Completed or Stopped.
// Raises: "Invalid Period!" (EMergeError) before anything changes when IsValidPeriod refuses the
// period (an empty one too); the buttons stay enabled then. Any other failure ends the run at
// once and is raised unchanged: the buttons stay disabled, the connections and the progress
// window as they were, the destination being merged as the failure left it (its marker stays, so
// the next run refuses it until it is put back). With TakeSnapshots a stopped group is put back
// from its snapshot and the stopped line says so; with DryRun the run works on scratch copies.
TMergeResult BitBtn1Click(TFormMerge& form);

// BitBtn1Click for the front ends: an error that ends the run goes to the standard error report
// (Operator().ReportError) as RunErrorReport() words it, and the result is Failed. Before the
// report, the destination being merged is put back from its snapshot, and the report ends with
// " The destination <code> was restored to its state before the run." (or says plainly why it
// could not be, and where its snapshot is kept).
TMergeResult RunMerge(TFormMerge& form);

// The text the standard error report shows for an error that ended the run: the error's own text,
// then, where known, the merge group, the database and the table it happened in.
std::string RunErrorReport(const std::string& errorText, const TRunContext& context);

}  // namespace peltorn::run
