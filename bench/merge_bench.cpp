// merge_bench: the whole merge run of one consolidated company, timed stage by stage, against the
// floor of copying the same source rows with one INSERT ... SELECT per table.
//
//   build/merge_bench [--sizes 1000,4000] [--companies 4] [--period 999999] [--leave]
//                     [--dir DIR] [--keep] [--dictionaries [--repeat 2]]
//
// --keep keeps the installations in DIR (default: a temporary folder), each also as it was
// generated, and a later run with the same --dir merges a copy of that instead of generating
// it again.
//
// For each size (employees per source company) it writes a demo installation with that many
// source companies (the last a data dictionary, the others folders of free tables, twelve months
// of payroll), merges the selected group #GRP1 (every source company) for the period, and then
// copies the rows the merge transferred into an empty company database of the same layout and
// encryption. It reports, per size: records transferred, the wall time of every stage and of the
// whole run, records per second, the peak memory of the merging process, the longest interval
// between two "process pending messages" calls, and the ratio whole merge / raw copy. At the end
// it compares the sizes.
//
// The installation is written by a child process and the merge and the copy run in another one,
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
    std::vector<std::string> Order;
    std::map<std::string, double> Seconds;
    std::string Current;
    Clock::time_point Since;

    void Enter(const std::string& stage) {
        auto now = Clock::now();
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

// The raw key of an encrypted dictionary of the demo installation, for its administrator.
std::string DictionaryKey(const std::string& file) {
    return db::detail::UnlockDictionary(file, file, signon::kAdminUser,
                                        signon::AdminPasswordForMark(std::string("@2019")))
        .RawKey();
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
    long long rows = 0;
    for (const auto& table : tables) {
        sqlite3* db = nullptr;
        if (sqlite3_open(":memory:", &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
        try {
            Attach(db, (dest / (table + ".ADT")).string(), "d");
            for (std::size_t i = 0; i < sources.size(); ++i)
                Attach(db, sources[i].FileOf(table), "s" + std::to_string(i));
            const auto destCols = Columns(db, "d", table);
            Exec(db, "BEGIN");
            for (std::size_t i = 0; i < sources.size(); ++i) {
                const std::string schema = "s" + std::to_string(i);
                const auto srcCols = Columns(db, schema, table);
                std::string list;
                for (const auto& c : destCols) {
                    if (std::find(srcCols.begin(), srcCols.end(), c) == srcCols.end()) continue;
                    if (!list.empty()) list += ",";
                    list += "\"" + c + "\"";
                }
                Exec(db, "INSERT INTO d.\"" + table + "\"(" + list + ") SELECT " + list + " FROM " +
                             schema + ".\"" + table + "\"" + WhereFor(table, period));
                rows += sqlite3_changes(db);
            }
            Exec(db, "COMMIT");
        } catch (...) {
            sqlite3_close(db);
            throw;
        }
        sqlite3_close(db);
    }
    return rows;
}

// ---- one size ----

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
    double cpu = CpuSeconds();
    const bool ok = run::RunMerge(form) == run::TMergeResult::Completed;
    db::FlushPendingWrites();
    result.MergeSeconds = Seconds(begin);
    result.MergeCpu = CpuSeconds() - cpu;
    stages.Enter("");
    result.PeakMb = PeakMegabytes();
    result.LongestGapMs = op.LongestGap * 1000.0;
    result.Records = static_cast<long long>(form.RecordsTransferred);
    if (!ok) throw std::runtime_error("the merge run failed");
}

TSizeResult MeasureSize(const TOptions& opt, const fs::path& dir, int employees) {
    TSizeResult result;
    TBenchOperator op;
    TFormMerge form(op);
    TStageTimes stages;
    TimedMerge(opt, (dir / "ORVEX.ini").string(), form, op, stages, result);
    auto begin = Clock::now();
    double cpu = CpuSeconds();

    // The sources of #GRP1 as the run found them.
    std::vector<TSource> sources;
    std::string destination;
    form.TableMerge.First();
    destination = db::NormalizePath(run::DestinationPath(
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

    // An empty destination of the same layout, its tables encrypted where the merged
    // destination's are.
    const fs::path raw = dir / "raw-copy";
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
    begin = Clock::now();
    cpu = CpuSeconds();
    const long long copied = RawCopy(sources, raw, tables, opt.Period);
    result.RawSeconds = Seconds(begin);
    result.RawCpu = CpuSeconds() - cpu;

    std::printf("size %d companies x %d employees, period %s%s\n", opt.Companies, employees,
                opt.Period.c_str(), opt.Leave ? ", leave" : "");
    std::printf("  records transferred      %12lld   (raw copy rows %lld)\n", result.Records,
                copied);
    for (const auto& name : stages.Order)
        std::printf("  stage %-18s %10.2f s\n", name.c_str(), stages.Seconds[name]);
    std::printf("  whole merge              %10.2f s   %10.0f records/s\n", result.MergeSeconds,
                result.Records / result.MergeSeconds);
    std::printf("  raw copy                 %10.2f s   %10.0f records/s\n", result.RawSeconds,
                copied / result.RawSeconds);
    std::printf("  merge / raw copy         %10.2f   (processor time %.2f s / %.2f s = %.2f)\n",
                result.MergeSeconds / result.RawSeconds, result.MergeCpu, result.RawCpu,
                result.MergeCpu / result.RawCpu);
    std::printf("  peak memory              %10.1f MB\n", result.PeakMb);
    std::printf("  longest message gap      %10.1f ms   (%lld calls), ending at %s\n",
                result.LongestGapMs, op.Calls, op.LongestGapWhere.c_str());
    std::printf("  messages shown           %10d\n", op.Messages);
    std::fflush(stdout);
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
TSizeResult InChild(Fn fn) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        TSizeResult r;
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
    TSizeResult r;
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

int main(int argc, char** argv) {
    TOptions opt;
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
        else if (a == "--period")
            opt.Period = next();
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
            std::fprintf(stderr,
                         "usage: merge_bench [--sizes 1000,4000] [--companies 4] [--period 999999] "
                         "[--leave] [--dir DIR] [--keep] [--dictionaries [--repeat 2]]\n");
            return 2;
        }
    }
    if (opt.Dir.empty())
        opt.Dir = fs::temp_directory_path() / ("peltorn-merge-bench-" + std::to_string(getpid()));

    std::vector<std::pair<int, TSizeResult>> results;
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
                TDemoOptions demo;
                demo.Companies = opt.Companies;
                demo.Employees = employees;
                demo.Year = 2026;
                demo.Month = 6;
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
            TSizeResult best[2];
            for (int round = 0; round < opt.Repeat; ++round) {
                for (int variant = 0; variant < 2; ++variant) {
                    const fs::path& copy = variant == 0 ? encrypted : plain;
                    fs::remove_all(copy);
                    fs::copy(dir, copy, fs::copy_options::recursive);
                    if (variant == 1) DecryptDictionaries(copy);
                    TSizeResult d = InChild([&] { return MeasureDictionaryLayout(opt, copy); });
                    fs::remove_all(copy);
                    if (!d.Ok) return 1;
                    std::printf(
                        "  dictionary layout, %s dictionaries: %.2f s (processor %.2f s), "
                        "%lld records\n",
                        variant == 0 ? "encrypted" : "plain", d.MergeSeconds, d.MergeCpu,
                        d.Records);
                    if (round == 0 || d.MergeSeconds < best[variant].MergeSeconds)
                        best[variant].MergeSeconds = d.MergeSeconds;
                    if (round == 0 || d.MergeCpu < best[variant].MergeCpu)
                        best[variant].MergeCpu = d.MergeCpu;
                }
            }
            std::printf(
                "dictionary layout #GRPD, %d employees: whole merge encrypted %.2f s, "
                "plain %.2f s, encrypted / plain %.3f (processor time %.2f s / %.2f s = "
                "%.3f), best of %d\n",
                employees, best[0].MergeSeconds, best[1].MergeSeconds,
                best[0].MergeSeconds / best[1].MergeSeconds, best[0].MergeCpu, best[1].MergeCpu,
                best[0].MergeCpu / best[1].MergeCpu, opt.Repeat);
            std::fflush(stdout);
        }
        TSizeResult r = InChild([&] { return MeasureSize(opt, dir, employees); });
        if (!r.Ok) return 1;
        results.emplace_back(employees, r);
        if (!opt.Keep) fs::remove_all(dir);
    }
    if (!opt.Keep) fs::remove_all(opt.Dir);

    if (results.size() >= 2) {
        const auto& [small, a] = results.front();
        const auto& [large, b] = results.back();
        std::printf("larger / smaller size: %d / %d employees: time x%.2f, records x%.2f\n", large,
                    small, b.MergeSeconds / a.MergeSeconds,
                    static_cast<double>(b.Records) / static_cast<double>(a.Records));
    }
    return 0;
}
