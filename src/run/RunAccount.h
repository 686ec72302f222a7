// The account of a merge run: what the run did to each destination, what the checks after each
// group found and how the payroll figures of every source reconcile with the destination's. It
// is kept while the run goes (counters the stages add to) and completed after each group (the
// checks and the reconciliation, read back from the databases). It never changes what the run
// does; the front ends show it when the run ends and `peltorn merge --report` writes it out.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace peltorn::run {

struct TStageTime {
    std::string Name;
    double ElapsedS = 0;
};

struct TClearCount {
    std::string Table;
    std::int64_t Deleted = 0;
};

// One table of one source: every record read from the source's selection is either updated (a
// destination record with its key was found), added, or skipped (SkipReason says why).
struct TTransferCount {
    std::string Source;
    std::string Table;
    std::int64_t Read = 0;
    std::int64_t Updated = 0;
    std::int64_t Added = 0;
    std::int64_t Skipped = 0;
    std::string SkipReason;
};

struct TConvertedCurrency {
    std::string Currency;
    double Rate = 0;
    std::string Period;
    std::int64_t Employees = 0;
};

struct TNotConverted {
    std::string Employee;
    std::string Currency;
    std::string Period;
    std::string Reason;
};

struct TMissingRate {
    std::string Period;
    std::string Currency;
};

struct TCurrencyAccount {
    std::vector<TConvertedCurrency> Converted;
    std::vector<TNotConverted> NotConverted;
    std::vector<TMissingRate> MissingRates;
    std::int64_t Headers = 0;   // payroll header rows recomputed
    std::int64_t BankRows = 0;  // bank transaction rows written
    // The employees converted, for the checks (not reported one by one).
    std::vector<std::string> ConvertedEmployees;
};

struct TRebuildAccount {
    std::int64_t CostCentreRows = 0;
    std::int64_t AllowanceColumns = 0;
};

struct TCheck {
    std::string Name;
    bool Passed = false;
    std::string Detail;
};

// Per source company and pay currency: the payroll headers of the period as the source holds
// them and as the destination holds the same employees after the conversion.
struct TReconciliation {
    std::string Source;
    std::string Currency;
    std::int64_t Headers = 0;
    double Basic = 0;
    double GrossWage = 0;
    double NettWage = 0;
    std::optional<double> Rate;  // none when the employees were not converted at one rate
    double BasicConverted = 0;
    double GrossWageConverted = 0;
    double NettWageConverted = 0;
};

// The safety net's copy of a destination, when one was taken.
struct TSnapshotAccount {
    std::string Folder;
    std::int64_t Bytes = 0;
    double Seconds = 0;
    bool Restored = false;
    double RestoreSeconds = 0;
    std::string RestoreFailure;  // why it could not be put back (the snapshot is kept)
};

// Results of a group: "completed", "skipped" (Error holds the reason), "failed" (Error holds
// the error text), "stopped"; "" while the group is being merged.
struct TGroupAccount {
    int No = 0;
    std::string Code;
    std::string Destination;
    std::string Result;
    std::string Error;
    std::vector<TStageTime> Stages;
    std::vector<TClearCount> Cleared;
    std::vector<TTransferCount> Transfers;
    TCurrencyAccount Currency;
    TRebuildAccount Rebuilds;
    std::vector<TCheck> Checks;
    std::vector<TReconciliation> Reconciliation;
    std::optional<TSnapshotAccount> Snapshot;
    // The data dictionaries of the group (destination and sources) kept in plain form: anybody
    // who can read the file reads every salary in it.
    std::vector<std::string> PlainDictionaries;

    bool FailedChecks() const {
        for (const auto& check : Checks)
            if (!check.Passed) return true;
        return false;
    }
};

// The run log (Memo1), a line per entry. Not one block of memory: a large group's run log runs to
// hundreds of thousands of lines, and a block grown to hold them would for a moment be held
// twice over.
using TRunLog = std::deque<std::string>;

// One entry of what a run showed: Lines > 0, that many lines of the run log from FirstLine, all
// written by the time Time (the lines themselves stay in the run log, not copied); otherwise the
// message Text (a message, a question or an error).
struct TShownEntry {
    std::string Time;
    std::string Text;
    std::size_t FirstLine = 0;
    std::size_t Lines = 0;
};

struct TRunOptions {
    bool Leave = false;
    bool GL = true;
    bool ExcludeSpecial = false;
    bool SelectedOnly = false;
    bool DryRun = false;
    bool Snapshots = false;
};

// Results of a run: "completed", "completed with failed checks", "stopped", "failed".
struct TRunAccount {
    std::string Period;
    std::string Started;
    double ElapsedS = 0;
    std::string Result;
    TRunOptions Options;
    std::vector<TGroupAccount> Groups;
    std::vector<TShownEntry> Shown;

    // Every run-log line and message in order, with its time; runLog is the run's log (Memo1).
    void EachMessage(
        const TRunLog& runLog,
        const std::function<void(const std::string& time, const std::string& text)>& message) const;
    // Notes the run log's lines from firstLine to its end as written by the time given.
    void NoteRunLog(const TRunLog& runLog, std::size_t firstLine,
                    std::chrono::system_clock::time_point when);
    void NoteMessage(const std::string& text, std::chrono::system_clock::time_point when);

    bool FailedChecks() const {
        for (const auto& group : Groups)
            if (group.FailedChecks()) return true;
        return false;
    }
};

inline constexpr const char* kResultCompleted = "completed";
inline constexpr const char* kResultFailedChecks = "completed with failed checks";
inline constexpr const char* kResultSkipped = "skipped";
inline constexpr const char* kResultStopped = "stopped";
inline constexpr const char* kResultFailed = "failed";

// The local time as the account writes it: "2026-12-10T08:30:01.123".
std::string AccountTime(std::chrono::system_clock::time_point when);

}  // namespace peltorn::run
