// merge_bench: the whole merge run of one consolidated company, timed stage by stage, against the
// floor of copying the same source rows with one INSERT ... SELECT per table.
//
//   build/merge_bench [--sizes 1000,4000] [--companies 4] [--period P] [--best N] [--leave]
//                     [--dir DIR] [--keep] [--dictionaries [--repeat 2]]
//
// --keep keeps the installations in DIR (default: a temporary folder), each also as it was
// generated, and a later run with the same --dir merges a copy of that instead of generating
// it again.
//
// For each size (employees per source company) it writes a demo installation with that many
// source companies (the last a data dictionary, the others folders of free tables, twelve months
// of payroll) and merges the selected group #GRP1 (every source company) for one period of the
// generated year (its June: the merge a payroll officer runs every month) and for "999999"
// (every period), or only for --period P. Each merge runs three times from the same generated
// state: as the operator runs it (the safety net's snapshot before the clearing, the run
// account's checks after the group), the same without the checks, and with both off (the side
// by side columns). After the operator's run it copies the rows the
// merge transferred into an empty company database of the same layout and encryption (the raw
// copy: one transaction per table), and then puts the destination back from the run's snapshot,
// timed. It reports, per size and period, side by side: records transferred, the wall time of
// the snapshot, of every stage and of the whole run, the raw copy and the ratio whole merge /
// raw copy, the peak memory of the merging process, the longest interval between two "process
// pending messages" calls (merge, snapshot included, and restore), the snapshot and restore
// times against the destination's merge time, and the cost of the run account's checks against
// the run without them. At
// the end it compares the sizes (first period). --best N runs every merge N times and keeps the
// fastest (the longest message gap is the worst of them).
//
// The installation is written by a child process and every merge runs in a child of its own,
// so the peak memory reported is the merge's own (generation holds nothing of it).
//
// --dictionaries also merges the dictionary layout of each installation (#GRPD: a dictionary
// destination, a dictionary source and a folder source) twice from the same generated state:
// with its dictionaries encrypted, as they are made, and with plain copies of them. Each is run
// --repeat times, alternately, and the best whole-merge time of each is compared.
#include "db/Db.h"
#include "db/DictionaryKeys.h"
#include "db/Sqlite.h"
#include "demo/Demo.h"
#include "run/MergeRun.h"
#include "run/Snapshots.h"
#include "run/TransferTables.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "startup/StartUp.h"

#ifndef SQLITE_HAS_CODEC
#define SQLITE_HAS_CODEC  // sqlite3_key, for plain copies of encrypted dictionaries
#endif
#include <sqlcipher/sqlite3.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace peltorn;
using peltorn::demo::TDemoOptions;
using peltorn::demo::WriteDemoInstallation;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process (user and system), which other work on the machine disturbs
// less than the wall time.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

struct TOptions {
    std::vector<int> Sizes = {1000, 4000};
    int Companies = 4;
    std::string Period = "999999";
    bool Leave = false;
    fs::path Dir;
    bool Keep = false;
    bool Dictionaries = false;
    int Repeat = 2;
};

// The operator of the benchmark: answers every question No, as the command-line tool does by
// default, counts the messages and measures the intervals between message processing.
class TBenchOperator : public support::IOperator {
public:
    void Inform(const std::string& text) override {
        Touch();
        ++Messages;
        if (Messages <= 5) std::fprintf(stderr, "  message: %s\n", text.c_str());
    }
    bool Ask(const std::string& question) override {
        Touch();
        std::fprintf(stderr, "  question (answered No): %s\n", question.c_str());
        return false;
    }
    void ReportError(const std::string& text) override {
        Touch();
        std::fprintf(stderr, "  error: %s\n", text.c_str());
        ++Errors;
    }
    void ProcessMessages() override { Touch(); }

    void Start() {
        m_last = Clock::now();
        LongestGap = 0;
        Calls = 0;
    }
    void Touch() {
        auto now = Clock::now();
        const double gap = std::chrono::duration<double>(now - m_last).count();
        if (gap > LongestGap) {
            LongestGap = gap;
            if (Where) LongestGapWhere = Where();
        }
        m_last = now;
        ++Calls;
    }
    // What the run was doing, for the report of the longest interval.
    std::function<std::string()> Where;
    std::string LongestGapWhere;

    int Messages = 0;
    int Errors = 0;
    long long Calls = 0;
    double LongestGap = 0;

private:
    Clock::time_point m_last = Clock::now();
};

struct TStageTimes {
    Clock::time_point FirstStage{};  // when the first stage began
    Clock::time_point RunBegan{};
    std::vector<std::string> Order;
    std::map<std::string, double> Seconds;
    std::string Current;
    Clock::time_point Since;

    void Enter(const std::string& stage) {
        auto now = Clock::now();
        if (Order.empty() && !stage.empty()) FirstStage = now;
        if (!Current.empty())
            Seconds[Current] += std::chrono::duration<double>(now - Since).count();
        Current = stage;
        Since = now;
        if (!stage.empty() && !Seconds.count(stage)) {
            Order.push_back(stage);
            Seconds[stage] = 0;
        }
    }
};

// What one size's measurement hands back to the parent process.
struct TSizeResult {
    double MergeSeconds = 0;
    double RawSeconds = 0;
    double MergeCpu = 0;
    double RawCpu = 0;
    double PeakMb = 0;
    double LongestGapMs = 0;
    long long Records = 0;
    bool Ok = false;
};

// ---- raw copy ----

void Check(sqlite3* db, int rc, const std::string& what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(sql + ": " + text);
    }
}

bool IsDictionaryFile(const std::string& file) {
    std::string upper = file;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    return upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".ADD") == 0;
}

// The raw key of an encrypted dictionary of the demo installation, for its administrator;
// unwrapped once per file, as a connection does, not once per table copied.
std::string DictionaryKey(const std::string& file) {
    static std::map<std::string, std::string> keys;
    auto found = keys.find(file);
    if (found != keys.end()) return found->second;
    const std::string key =
        db::detail::UnlockDictionary(file, file, signon::kAdminUser,
                                     signon::AdminPasswordForMark(std::string("@2019")))
            .RawKey();
    return keys.emplace(file, key).first->second;
}

void Attach(sqlite3* db, const std::string& file, const std::string& name) {
    const std::string key = db::detail::IsPlainDatabaseFile(file) ? std::string()
                            : IsDictionaryFile(file)
                                ? DictionaryKey(file)
                                : db::detail::RawKeyFor(signon::kFreeTablePassword);
    sqlite3_stmt* stmt = nullptr;
    Check(db, sqlite3_prepare_v2(db, "ATTACH DATABASE ?1 AS ?2 KEY ?3", -1, &stmt, nullptr),
          "attach");
    sqlite3_bind_text(stmt, 1, file.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 3, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    Check(db, rc, "attach " + file);
    Exec(db, "PRAGMA " + name + ".synchronous=NORMAL");
}

std::vector<std::string> Columns(sqlite3* db, const std::string& schema, const std::string& table) {
    std::vector<std::string> cols;
    sqlite3_stmt* stmt = nullptr;
    Check(db,
          sqlite3_prepare_v2(db, ("PRAGMA " + schema + ".table_info(\"" + table + "\")").c_str(),
                             -1, &stmt, nullptr),
          "table_info");
    while (sqlite3_step(stmt) == SQLITE_ROW)
        cols.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
    sqlite3_finalize(stmt);
    return cols;
}

// The rows of a table the merge selects for the period (the same conditions as the run's
// source selections).
std::string WhereFor(const std::string& table, const std::string& period) {
    static const std::set<std::string> periodTables = {
        "P_HTRX",   "P_DTRXSF", "P_DTRXND", "P_DTRXAS", "P_DTRXRD", "P_DTRXNH",
        "P_DTRXAW", "P_DTRXOT", "YTDEMPL",  "P_DTRXLV", "COSTCTR"};
    if (table == "MEDICAL") return " WHERE PERIOD_TO_TRANSFER='" + period + "'";
    if (table == "EMPLOYEE") return " WHERE COALESCE(STOP_IND,'')<>'E'";
    if (table == "COSTCTR")
        return period == "999999" ? " WHERE COALESCE(EMPCODE,'')<>''"
                                  : " WHERE PERIOD='" + period + "' AND COALESCE(EMPCODE,'')<>''";
    if (periodTables.count(table) && period != "999999") return " WHERE PERIOD='" + period + "'";
    return "";
}

struct TSource {
    std::string Path;  // folder of free tables or .ADD file
    bool Dictionary = false;
    std::string FileOf(const std::string& table) const {
        return Dictionary ? Path : (fs::path(Path) / (table + ".ADT")).string();
    }
};

// Copies the rows the merge transfers from every source into an empty database dest (a folder
// of free tables whose encrypted tables match the merged destination's); one transaction per
// table over all sources. Returns the rows copied.
long long RawCopy(const std::vector<TSource>& sources, const fs::path& dest,
                  const std::vector<std::string>& tables, const std::string& period) {
    // The storage engine attaches at most ten databases to one connection: the destination and
    // nine sources at a time, each batch in one transaction.
    constexpr std::size_t kSourcesPerBatch = 9;
    long long rows = 0;
    for (const auto& table : tables) {
        for (std::size_t first = 0; first < sources.size(); first += kSourcesPerBatch) {
            const std::size_t last = std::min(sources.size(), first + kSourcesPerBatch);
            sqlite3* db = nullptr;
            if (sqlite3_open(":memory:", &db) != SQLITE_OK)
                throw std::runtime_error("sqlite3_open");
            try {
                Attach(db, (dest / (table + ".ADT")).string(), "d");
                for (std::size_t i = first; i < last; ++i)
                    Attach(db, sources[i].FileOf(table), "s" + std::to_string(i));
                const auto destCols = Columns(db, "d", table);
                Exec(db, "BEGIN");
                for (std::size_t i = first; i < last; ++i) {
                    const std::string schema = "s" + std::to_string(i);
                    const auto srcCols = Columns(db, schema, table);
                    std::string list;
                    for (const auto& c : destCols) {
                        if (std::find(srcCols.begin(), srcCols.end(), c) == srcCols.end()) continue;
                        if (!list.empty()) list += ",";
                        list += "\"" + c + "\"";
                    }
                    Exec(db, "INSERT INTO d.\"" + table + "\"(" + list + ") SELECT " + list +
                                 " FROM " + schema + ".\"" + table + "\"" +
                                 WhereFor(table, period));
                    rows += sqlite3_changes(db);
                }
                Exec(db, "COMMIT");
            } catch (...) {
                sqlite3_close(db);
                throw;
            }
            sqlite3_close(db);
        }
    }
    return rows;
}

// ---- one merge ----

// Starts the installation of the settings file ini and merges its selected groups for the
// period, timed; raises when the run does not complete.
void TimedMerge(const TOptions& opt, const std::string& ini, TFormMerge& form, TBenchOperator& op,
                TStageTimes& stages, TSizeResult& result) {
    form.OnStage = [&stages](const char* stage) { stages.Enter(stage); };
    op.Where = [&form, &stages] {
        return stages.Current + ": " + form.Controls.edit2 + " / " + form.FormMsg.Message;
    };

    TStartOptions start;
    start.IniFile = ini;
    start.Today = [] { return db::EncodeDate(2026, 6, 15); };
    FormCreate(form, start);
    if (op.Errors > 0) throw std::runtime_error("start-up failed");

    TMergeControls& c = form.Controls;
    c.EditPeriod = opt.Period;
    c.chkMERGE = true;  // the selected group: #GRP1 (every source company), or #GRPD
    c.CheckBoxLeave = opt.Leave;
    c.CheckBoxGL = true;

    op.Start();
    auto begin = Clock::now();
    stages.RunBegan = begin;
    double cpu = CpuSeconds();
    const bool ok = run::RunMerge(form) == run::TMergeResult::Completed;
    db::FlushPendingWrites();
    op.Touch();  // the window repaints once the run returns
    result.MergeSeconds = Seconds(begin);
    result.MergeCpu = CpuSeconds() - cpu;
    stages.Enter("");
    result.PeakMb = PeakMegabytes();
    result.LongestGapMs = op.LongestGap * 1000.0;
    result.Records = static_cast<long long>(form.RecordsTransferred);
    if (!ok) throw std::runtime_error("the merge run failed");
}

// The stages of a group, in the order the run passes them, as the benchmark reports them.
constexpr const char* kStages[] = {"clearing",    "transfer",          "currency",       "bank",
                                   "cost-centre", "allowance columns", "employee stamp", "checks"};
constexpr int kStageCount = static_cast<int>(sizeof kStages / sizeof kStages[0]);

// What one merge hands back to the parent process (plain data, through a pipe).
struct TRunResult {
    double MergeSeconds = 0;
    double MergeCpu = 0;
    double StageSeconds[kStageCount] = {};
    double SnapshotSeconds = -1;  // -1: no snapshot taken
    double BeforeClearing = 0;    // from the start to the clearing: the snapshot with its sync
    double RestoreSeconds = -1;   // -1: not restored
    double RawSeconds = -1;       // -1: no raw copy made
    double RawCpu = 0;
    long long RawRows = 0;
    double PeakMb = 0;
    double LongestGapMs = 0;  // the merge, its snapshot included
    double RestoreGapMs = 0;  // the restore after it
    long long Calls = 0;
    long long Records = 0;
    char GapWhere[160] = {};
    bool Ok = false;
};

// The tables the raw copy copies: those the merge transfers.
std::vector<std::string> RawCopyTables(const TOptions& opt) {
    std::vector<std::string> tables;
    for (const auto& t : run::MergeTables()) {
        if (t == "EMP_CLD") continue;
        if (!opt.Leave && (t == "EMPENT" || t == "EMPLEAVE" || t == "EMP_LVTX" || t == "LEAV_TRX"))
            continue;
        tables.push_back(t);
    }
    for (const auto& t : run::GLTables()) tables.push_back(t);
    for (const char* t : {"RTPHD", "RTPDETL", "PPARA_DR", "PPARA_OT", "PPARA_SF"})
        tables.emplace_back(t);
    return tables;
}

// Copies the rows the merge of form transferred, from its sources, into an empty company
// database of the same layout whose tables are encrypted where the merged destination's are.
// Returns the rows copied and the seconds it took (wall and processor).
long long TimedRawCopy(const TOptions& opt, const fs::path& dir, TFormMerge& form,
                       const std::string& period, double& seconds, double& cpuSeconds) {
    std::vector<TSource> sources;
    form.TableMerge.First();
    const std::string destination = db::NormalizePath(run::DestinationPath(
        form.BaseFolder, form.DictionarySetting, form.TableMerge.FieldByName("CODE").AsString()));
    for (form.TableMergeDTL.First(); !form.TableMergeDTL.Eof(); form.TableMergeDTL.Next()) {
        TSource s;
        s.Path =
            db::NormalizePath(run::SourcePath(form.BaseFolder, form.DictionarySetting,
                                              form.TableMergeDTL.FieldByName("CODE").AsString(),
                                              form.TableMergeDTL.FieldByName("PATH").AsString()));
        std::string upper = s.Path;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        s.Dictionary = upper.find(".ADD") != std::string::npos;
        sources.push_back(s);
    }
    const std::vector<std::string> tables = RawCopyTables(opt);

    const fs::path raw = dir / "raw-copy";
    fs::remove_all(raw);
    schema::CreateCompanyDatabase(raw.string(), schema::kDefaultVersionMark);
    {
        db::TDbConnection conn("raw");
        conn.SetConnectPath(raw.string());
        conn.Connect();
        for (const auto& t : tables) {
            if (db::detail::IsPlainDatabaseFile((fs::path(destination) / (t + ".ADT")).string()))
                continue;
            db::TDbTable table("raw");
            table.SetConnection(&conn);
            table.SetTableName(t);
            table.Open();
            table.EnableEncryption(signon::kFreeTablePassword);
            table.EncryptTable();
            table.Close();
        }
        conn.Disconnect();
    }
    const auto begin = Clock::now();
    const double cpu = CpuSeconds();
    const long long copied = RawCopy(sources, raw, tables, period);
    seconds = Seconds(begin);
    cpuSeconds = CpuSeconds() - cpu;
    fs::remove_all(raw);
    return copied;
}

// The merges of one size and period: as the operator runs it (the safety net's snapshot and the
// run account's checks), the same without the checks, and without both.
enum class TVariant { Operator, WithoutChecks, WithoutBoth };

// A copy of the installation to merge, on the disk before the merge begins: its pages on their way
// to the disk would otherwise be written by the merge's first syncs (a run without a snapshot
// found them in its clearing, seconds of it at 16 x 4,000).
void CopyInstallation(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive);
    ::sync();
}

// Merges #GRP1 of the installation in dir for the period. The operator's run is followed by the
// raw copy of the same rows, and the destination put back from the snapshot, timed; the others
// are the merge only.
TRunResult MeasureRun(const TOptions& opt, const fs::path& dir, const std::string& period,
                      TVariant variant) {
    const bool operatorRun = variant == TVariant::Operator;
    TRunResult result;
    TBenchOperator op;
    TFormMerge form(op);
    form.TakeSnapshots = variant != TVariant::WithoutBoth;
    form.CheckGroups = operatorRun;
    TStageTimes stages;
    TSizeResult merged;
    TOptions runOptions = opt;
    runOptions.Period = period;
    TimedMerge(runOptions, (dir / "ORVEX.ini").string(), form, op, stages, merged);
    result.MergeSeconds = merged.MergeSeconds;
    result.MergeCpu = merged.MergeCpu;
    result.PeakMb = merged.PeakMb;
    result.LongestGapMs = merged.LongestGapMs;
    result.Calls = op.Calls;
    result.Records = merged.Records;
    std::snprintf(result.GapWhere, sizeof result.GapWhere, "%s", op.LongestGapWhere.c_str());
    for (int i = 0; i < kStageCount; ++i) {
        auto found = stages.Seconds.find(kStages[i]);
        result.StageSeconds[i] = found == stages.Seconds.end() ? 0 : found->second;
    }
    result.BeforeClearing =
        std::chrono::duration<double>(stages.FirstStage - stages.RunBegan).count();
    if (operatorRun) {
        if (form.GroupSnapshots.empty()) throw std::runtime_error("the run took no snapshot");
        const TGroupSnapshot taken = form.GroupSnapshots.front();
        result.SnapshotSeconds = taken.Seconds;

        result.RawRows = TimedRawCopy(opt, dir, form, period, result.RawSeconds, result.RawCpu);

        // The destination put back from the snapshot the run took of it, as a failed run does.
        const auto snapshots = run::ListSnapshots(run::SnapshotRoot(form), taken.Group);
        if (snapshots.empty())
            throw std::runtime_error("the snapshot of " + taken.Group + " is gone");
        form.dbDest.Disconnect();
        form.dbSource.Disconnect();
        op.Where = [] { return std::string("restore"); };
        op.Start();
        const auto begin = Clock::now();
        run::RestoreSnapshot(snapshots.back(), taken.Destination, [&op] { op.ProcessMessages(); });
        result.RestoreSeconds = Seconds(begin);
        op.Touch();
        result.RestoreGapMs = op.LongestGap * 1000.0;
    }
    result.Ok = true;
    return result;
}

// The merge of the dictionary layout (#GRPD) of the installation in dir.
TSizeResult MeasureDictionaryLayout(const TOptions& opt, const fs::path& dir) {
    TSizeResult result;
    TBenchOperator op;
    TFormMerge form(op);
    TStageTimes stages;
    TimedMerge(opt, (dir / "dictionary-layout" / "ORVEX.ini").string(), form, op, stages, result);
    result.Ok = true;
    return result;
}

// Replaces every encrypted dictionary under dir by a plain copy of it (and drops its keys).
void DecryptDictionaries(const fs::path& dir) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && IsDictionaryFile(e.path().string()) &&
            !db::detail::IsPlainDatabaseFile(e.path().string()))
            files.push_back(e.path().string());
    for (const auto& file : files) {
        const std::string key = DictionaryKey(file);
        const std::string plain = file + ".plain";
        sqlite3* db = nullptr;
        Check(db, sqlite3_open(file.c_str(), &db), "open " + file);
        sqlite3_key(db, key.data(), static_cast<int>(key.size()));
        try {
            Exec(db, "ATTACH DATABASE '" + plain + "' AS plain KEY ''");
            Exec(db, "SELECT sqlcipher_export('plain')");
            Exec(db, "DETACH DATABASE plain");
        } catch (...) {
            sqlite3_close(db);
            throw;
        }
        sqlite3_close(db);
        fs::rename(plain, file);
        for (const char* suffix : {"-wal", "-shm", ".keys"}) fs::remove(file + suffix);
        if (!db::detail::IsPlainDatabaseFile(file))
            throw std::runtime_error("not decrypted: " + file);
    }
    if (files.empty()) throw std::runtime_error("no encrypted dictionary in " + dir.string());
}

// Runs fn in a child process; returns its result through a pipe.
template <class Fn>
auto InChild(Fn fn) -> decltype(fn()) {
    using TResult = decltype(fn());
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        TResult r;
        try {
            r = fn();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "merge_bench: %s\n", e.what());
            r.Ok = false;
        }
        std::fflush(stdout);
        ssize_t n = write(fds[1], &r, sizeof r);
        _exit(n == static_cast<ssize_t>(sizeof r) && r.Ok ? 0 : 1);
    }
    close(fds[1]);
    TResult r;
    ssize_t n = read(fds[0], &r, sizeof r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (n != static_cast<ssize_t>(sizeof r)) r.Ok = false;
    return r;
}

std::vector<int> ParseSizes(const std::string& text) {
    std::vector<int> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) sizes.push_back(std::stoi(item));
    return sizes;
}

}  // namespace

namespace {

void PrintRow(const char* label, double a, double b, const char* unit) {
    auto cell = [unit](double v) {
        char text[32];
        if (v < 0)
            std::snprintf(text, sizeof text, "%12s", "-");
        else
            std::snprintf(text, sizeof text, "%10.2f %s", v, unit);
        return std::string(text);
    };
    std::printf("  %-32s %14s %14s\n", label, cell(a).c_str(), cell(b).c_str());
}

// Prints the operator's run and the run without both side by side, with what they compare to,
// and the run account's cost against the run without the checks.
void PrintPeriod(const TOptions& opt, int employees, const std::string& period,
                 const TRunResult& on, const TRunResult& noChecks, const TRunResult& off,
                 int best) {
    std::printf("size %d companies x %d employees, period %s%s%s\n", opt.Companies, employees,
                period.c_str(), opt.Leave ? ", leave" : "",
                best > 1 ? (", best of " + std::to_string(best)).c_str() : "");
    std::printf("  %-32s %14s %14s\n", "", "operator's run", "without both");
    std::printf("  %-32s %14s %14s\n", "", "(snapshot,", "(no snapshot,");
    std::printf("  %-32s %14s %14s\n", "", " account)", " no checks)");
    std::printf("  %-32s %14lld %14lld\n", "records transferred", on.Records, off.Records);
    PrintRow("snapshot (its copy)", on.SnapshotSeconds, -1, "s");
    PrintRow("start to clearing (+ its sync)", on.BeforeClearing, off.BeforeClearing, "s");
    for (int i = 0; i < kStageCount; ++i) {
        const std::string label = std::string("stage ") + kStages[i];
        PrintRow(label.c_str(), on.StageSeconds[i], off.StageSeconds[i], "s");
    }
    PrintRow("whole merge", on.MergeSeconds, off.MergeSeconds, "s");
    PrintRow("  processor time", on.MergeCpu, off.MergeCpu, "s");
    std::printf("  %-32s %10.2f s   (%lld rows, processor %.2f s)\n", "raw copy of the same rows",
                on.RawSeconds, on.RawRows, on.RawCpu);
    PrintRow("whole merge / raw copy", on.MergeSeconds / on.RawSeconds,
             off.MergeSeconds / on.RawSeconds, " ");
    PrintRow("  processor time ratio", on.MergeCpu / on.RawCpu, off.MergeCpu / on.RawCpu, " ");
    PrintRow("peak memory", on.PeakMb, off.PeakMb, "MB");
    PrintRow("longest message gap, merge", on.LongestGapMs, off.LongestGapMs, "ms");
    std::printf("  %-32s %s | %s\n", "  ending at", on.GapWhere, off.GapWhere);
    PrintRow("longest message gap, restore", on.RestoreGapMs, -1, "ms");
    std::printf("  %-32s %14lld %14lld\n", "message processing calls", on.Calls, off.Calls);
    // The snapshot's own time leaves out its final sync; the time to the clearing, against the
    // run without a snapshot, holds it.
    const double snapshot = std::max(on.SnapshotSeconds, on.BeforeClearing - off.BeforeClearing);
    std::printf(
        "  safety net: snapshot %.2f s = %.1f%%, restore %.2f s = %.1f%% of the "
        "destination's merge time (%.2f s)\n",
        snapshot, 100.0 * snapshot / on.MergeSeconds, on.RestoreSeconds,
        100.0 * on.RestoreSeconds / on.MergeSeconds, on.MergeSeconds);
    // The run account against the same run with the snapshot and without the checks; the
    // checks' own stage is the cost measured directly (the whole runs differ also by what the
    // disk does at each sync).
    const double checks = on.StageSeconds[kStageCount - 1];
    std::printf(
        "  run account: the operator's run %.2f s, without the checks %.2f s: %+.1f%%; "
        "processor %.2f s against %.2f s: %+.1f%%; the checks' stage %.2f s = %.1f%%\n",
        on.MergeSeconds, noChecks.MergeSeconds,
        100.0 * (on.MergeSeconds / noChecks.MergeSeconds - 1.0), on.MergeCpu, noChecks.MergeCpu,
        100.0 * (on.MergeCpu / noChecks.MergeCpu - 1.0), checks,
        100.0 * checks / noChecks.MergeSeconds);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    TOptions opt;
    bool periodGiven = false;
    int best = 1;
    const char* usage =
        "usage: merge_bench [--sizes 1000,4000] [--companies 4] [--period P] [--best N] "
        "[--leave] [--dir DIR] [--keep] [--dictionaries [--repeat 2]]\n"
        "  Without --period, each size is merged for one period of the generated year (its\n"
        "  June) and for \"999999\"; each merge once as the operator runs it (snapshot and run\n"
        "  account on) and once with both off. --best N keeps the best of N runs of each.\n";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--sizes")
            opt.Sizes = ParseSizes(next());
        else if (a == "--companies")
            opt.Companies = std::stoi(next());
        else if (a == "--period") {
            opt.Period = next();
            periodGiven = true;
        } else if (a == "--best")
            best = std::max(1, std::stoi(next()));
        else if (a == "--leave")
            opt.Leave = true;
        else if (a == "--dir")
            opt.Dir = next();
        else if (a == "--keep")
            opt.Keep = true;
        else if (a == "--dictionaries")
            opt.Dictionaries = true;
        else if (a == "--repeat")
            opt.Repeat = std::max(1, std::stoi(next()));
        else {
            std::fprintf(a == "--help" ? stdout : stderr, "%s", usage);
            return a == "--help" ? 0 : 2;
        }
    }
    if (opt.Dir.empty())
        opt.Dir = fs::temp_directory_path() / ("peltorn-merge-bench-" + std::to_string(getpid()));

    TDemoOptions demo;
    demo.Companies = opt.Companies;
    demo.Year = 2026;
    demo.Month = 6;
    std::vector<std::string> periods;
    if (periodGiven)
        periods.push_back(opt.Period);
    else
        periods = {peltorn::demo::DemoPeriod(demo), "999999"};

    // The whole merge of the first period, per size, for the growth at the end.
    std::vector<std::pair<int, TRunResult>> results;
    for (int employees : opt.Sizes) {
        const fs::path dir = opt.Dir / ("s" + std::to_string(employees));
        const fs::path kept = opt.Dir / ("s" + std::to_string(employees) + ".generated");
        fs::remove_all(dir);
        auto begin = Clock::now();
        if (opt.Keep && fs::exists(kept / "ORVEX.ini")) {
            // A kept installation is merged again from the state it was generated in.
            fs::copy(kept, dir, fs::copy_options::recursive);
            std::printf("copied the kept installation %s\n", kept.c_str());
        } else {
            TSizeResult generated = InChild([&] {
                demo.Employees = employees;
                WriteDemoInstallation(dir.string(), demo);
                TSizeResult r;
                r.Ok = true;
                return r;
            });
            if (!generated.Ok) return 1;
            std::printf("generated %d x %d employees in %.1f s\n", opt.Companies, employees,
                        Seconds(begin));
            if (opt.Keep) fs::copy(dir, kept, fs::copy_options::recursive);
        }
        if (opt.Dictionaries) {
            // Both variants start from the same generated state, each in a copy of its own.
            const fs::path encrypted = opt.Dir / ("s" + std::to_string(employees) + ".encrypted");
            const fs::path plain = opt.Dir / ("s" + std::to_string(employees) + ".plain");
            TSizeResult bestOf[2];
            for (int round = 0; round < opt.Repeat; ++round) {
                for (int variant = 0; variant < 2; ++variant) {
                    const fs::path& copy = variant == 0 ? encrypted : plain;
                    fs::remove_all(copy);
                    CopyInstallation(dir, copy);
                    if (variant == 1) DecryptDictionaries(copy);
                    TSizeResult d = InChild([&] { return MeasureDictionaryLayout(opt, copy); });
                    fs::remove_all(copy);
                    if (!d.Ok) return 1;
                    std::printf(
                        "  dictionary layout, %s dictionaries: %.2f s (processor %.2f s), "
                        "%lld records\n",
                        variant == 0 ? "encrypted" : "plain", d.MergeSeconds, d.MergeCpu,
                        d.Records);
                    if (round == 0 || d.MergeSeconds < bestOf[variant].MergeSeconds)
                        bestOf[variant].MergeSeconds = d.MergeSeconds;
                    if (round == 0 || d.MergeCpu < bestOf[variant].MergeCpu)
                        bestOf[variant].MergeCpu = d.MergeCpu;
                }
            }
            std::printf(
                "dictionary layout #GRPD, %d employees: whole merge encrypted %.2f s, "
                "plain %.2f s, encrypted / plain %.3f (processor time %.2f s / %.2f s = "
                "%.3f), best of %d\n",
                employees, bestOf[0].MergeSeconds, bestOf[1].MergeSeconds,
                bestOf[0].MergeSeconds / bestOf[1].MergeSeconds, bestOf[0].MergeCpu,
                bestOf[1].MergeCpu, bestOf[0].MergeCpu / bestOf[1].MergeCpu, opt.Repeat);
            std::fflush(stdout);
        }
        // Every merge starts from the generated state, in a copy of its own.
        const fs::path work = opt.Dir / ("s" + std::to_string(employees) + ".run");
        for (std::size_t p = 0; p < periods.size(); ++p) {
            TRunResult measured[3];
            const TVariant variants[] = {TVariant::Operator, TVariant::WithoutChecks,
                                         TVariant::WithoutBoth};
            for (int round = 0; round < best; ++round) {
                for (int variant = 0; variant < 3; ++variant) {
                    fs::remove_all(work);
                    CopyInstallation(dir, work);
                    TRunResult r = InChild(
                        [&] { return MeasureRun(opt, work, periods[p], variants[variant]); });
                    fs::remove_all(work);
                    if (!r.Ok) return 1;
                    TRunResult& fastest = measured[variant];
                    if (round == 0 || r.MergeSeconds < fastest.MergeSeconds) {
                        // The longest gaps are the worst seen in any round.
                        const double gap = std::max(fastest.LongestGapMs, r.LongestGapMs);
                        const double restoreGap = std::max(fastest.RestoreGapMs, r.RestoreGapMs);
                        fastest = r;
                        fastest.LongestGapMs = gap;
                        fastest.RestoreGapMs = restoreGap;
                    }
                }
            }
            PrintPeriod(opt, employees, periods[p], measured[0], measured[1], measured[2], best);
            if (p == 0) results.emplace_back(employees, measured[0]);
        }
        if (!opt.Keep) fs::remove_all(dir);
    }
    if (!opt.Keep) fs::remove_all(opt.Dir);

    if (results.size() >= 2) {
        const auto& [small, a] = results.front();
        const auto& [large, b] = results.back();
        std::printf(
            "larger / smaller size, period %s: %d / %d employees: time x%.2f, records "
            "x%.2f, peak memory %.1f MB / %.1f MB\n",
            periods.front().c_str(), large, small, b.MergeSeconds / a.MergeSeconds,
            static_cast<double>(b.Records) / static_cast<double>(a.Records), b.PeakMb, a.PeakMb);
    }
    return 0;
}
