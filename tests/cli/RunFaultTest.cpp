// The merge against the faults of a real installation, in both layouts of a demo installation:
// writes that fail past a file-size limit, two runs of one destination at once, a period table
// held open by another program, and a run killed part-way. Either the destinations are right, or
// the run says they are not; a killed run leaves sound files, and the next run repairs it.
#include "TestSupport.h"
#include "db/Db.h"
#include "db/DictionaryKeys.h"
#include "db/Sqlite.h"
#include "demo/Demo.h"
#include "run/MergeRun.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "startup/FormMerge.h"
#include "startup/StartUp.h"

#include <gtest/gtest.h>

#ifndef SQLITE_HAS_CODEC
#define SQLITE_HAS_CODEC  // sqlite3_key, for reading encrypted tables in the check
#endif
#include <sqlcipher/sqlite3.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace peltorn::test {
namespace {

constexpr const char* kPeriod = "202603";

// The small demo installation of the merge command's tests, written anew into dir.
void WriteDemo(const std::string& dir) {
    demo::TDemoOptions options;
    options.Companies = 3;
    options.Employees = 6;
    options.Year = 2026;
    options.Month = 3;
    demo::WriteDemoInstallation(dir, options);
}

std::string Ini(const std::string& dir, bool dictionary) {
    return dictionary ? dir + "/dictionary-layout/ORVEX.ini" : dir + "/ORVEX.ini";
}

// The consolidated databases of the layout (codes beginning with "#").
std::vector<std::string> Destinations(const std::string& dir, bool dictionary) {
    std::vector<std::string> out;
    fs::path companies =
        dictionary ? fs::path(dir) / "dictionary-layout" / "COMPANY" : fs::path(dir) / "COMPANY";
    for (const auto& entry : fs::directory_iterator(companies)) {
        std::string code = entry.path().filename().string();
        if (code.empty() || code[0] != '#') continue;
        out.push_back(dictionary ? (entry.path() / (code + ".ADD")).string()
                                 : entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void Connect(db::TDbConnection& conn, const std::string& path) {
    conn.SetConnectPath(path);
    conn.Username = signon::kAdminUser;
    conn.Password = signon::AdminPasswordForMark(std::string(schema::kDefaultVersionMark));
    conn.Connect();
}

// Every row of every table of the database, sorted, as text: two databases with the same census
// hold the same figures.
std::string Census(const std::string& path) {
    db::TDbConnection conn("census");
    Connect(conn, path);
    std::ostringstream out;
    for (const auto& table : db::ListTables(conn)) {
        db::TDbTable t("census");
        t.SetConnection(&conn);
        t.SetTableName(table);
        t.Open();
        if (!conn.IsDictionaryConn() && t.IsTableEncrypted())
            t.EnableEncryption(signon::kFreeTablePassword);
        std::vector<std::string> lines;
        for (t.First(); !t.Eof(); t.Next()) {
            std::string line;
            for (int i = 0; i < t.FieldCount(); ++i) line += t.Fields(i).AsString() + "|";
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        out << "[" << table << "] " << lines.size() << "\n";
        for (const auto& l : lines) out << l << "\n";
        t.Close();
    }
    conn.Disconnect();
    return out.str();
}

std::string CensusOfAll(const std::string& dir, bool dictionary) {
    std::string all;
    for (const auto& d : Destinations(dir, dictionary))
        all += "== " + fs::path(d).filename().string() + "\n" + Census(d);
    return all;
}

// The first line where two censuses differ, with the table it belongs to; empty when equal.
std::string FirstDifference(const std::string& actual, const std::string& expected) {
    std::istringstream a(actual), e(expected);
    std::string la, le, table;
    while (true) {
        bool moreA = static_cast<bool>(std::getline(a, la));
        bool moreE = static_cast<bool>(std::getline(e, le));
        if (!moreA && !moreE) return {};
        if (!moreA || !moreE || la != le)
            return "in " + table + ": got \"" + (moreA ? la : "<end>") + "\", expected \"" +
                   (moreE ? le : "<end>") + "\"";
        if (!le.empty() && (le[0] == '[' || le[0] == '=')) table = le;
    }
}

// Runs a shell command line; its exit status.
int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string MergeCommand(const std::string& dir, bool dictionary) {
    return Quote(PELTORN_CLI_PATH) + " merge --ini " + Quote(Ini(dir, dictionary)) + " --period " +
           kPeriod;
}

class RunFaultTest : public ::testing::TestWithParam<bool> {
protected:
    bool Dictionary() const { return GetParam(); }
    // The census of a clean run of the demo installation, made once per layout.
    const std::string& CleanCensus() {
        static std::map<bool, std::string> census;
        auto it = census.find(Dictionary());
        if (it != census.end()) return it->second;
        TempDir dir;
        WriteDemo(dir.Str());
        EXPECT_EQ(Shell(MergeCommand(dir.Str(), Dictionary()) + " >/dev/null 2>&1"), 0);
        return census[Dictionary()] = CensusOfAll(dir.Str(), Dictionary());
    }
};

// Under a file-size limit, every write past it fails with EFBIG; wherever that happens, the run
// must fail or the destinations be what a clean run leaves.
TEST_P(RunFaultTest, WritesThatFailPastAFileSizeLimitNeverEndInSuccessOverWrongData) {
    const std::string& clean = CleanCensus();
    int failed = 0;
    for (int limitKb : {16, 24, 32, 40, 64, 160}) {
        TempDir dir;
        WriteDemo(dir.Str());
        TempDir io;
        const std::string err = (io / "err").string();
        int code = Shell("trap '' XFSZ; ulimit -f " + std::to_string(limitKb) + "; " +
                         MergeCommand(dir.Str(), Dictionary()) + " >" +
                         Quote((io / "out").string()) + " 2>" + Quote(err));
        if (code != 0) {
            ++failed;
            continue;
        }
        EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), clean), "")
            << "the run under a limit of " << limitKb << " KB reported success";
    }
    EXPECT_GT(failed, 0) << "no limit was low enough to make a write fail";
}

// While one run merges a destination, a second run that reaches it is refused and changes
// nothing; the first completes as if alone.
TEST_P(RunFaultTest, SecondRunOfTheSameDestinationIsRefusedAndChangesNothing) {
    const std::string& clean = CleanCensus();
    TempDir dir;
    WriteDemo(dir.Str());
    ScriptedOperator op;
    TFormMerge form(op);
    FormCreate(form, StartOptionsFor("/proc/self/exe", Ini(dir.Str(), Dictionary())));
    ASSERT_TRUE(op.Errors.empty());
    form.Controls.EditPeriod = kPeriod;
    CliResult second;
    bool started = false;
    op.OnProcessMessages = [&] {
        // Part-way through the first group's clearing.
        if (started || form.Controls.edit2.rfind("Clear Record : P_HTRX", 0) != 0) return;
        started = true;
        second = RunCli({"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod});
    };
    ASSERT_EQ(run::RunMerge(form), run::TMergeResult::Completed)
        << (op.Errors.empty() ? "" : op.Errors.front());
    db::FlushPendingWrites();
    form.dbDest.Disconnect();
    form.dbSource.Disconnect();
    ASSERT_TRUE(started);
    EXPECT_EQ(second.ExitCode, 1) << second.Out.substr(0, 300);
    EXPECT_NE(second.Err.find("is being merged by another run"), std::string::npos) << second.Err;
    EXPECT_EQ(second.Out.find("Clear Record"), std::string::npos)
        << "the second run changed the destination";
    EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), clean), "");
}

// A period table that another program holds open cannot be cleared: the run reports it and
// fails before it adds anything, so no amount is doubled.
TEST_P(RunFaultTest, PeriodTableHeldByAnotherProgramEndsTheRunBeforeAnythingIsAdded) {
    TempDir dir;
    WriteDemo(dir.Str());
    ASSERT_EQ(Shell(MergeCommand(dir.Str(), Dictionary()) + " >/dev/null 2>&1"), 0);
    const std::string dest = Destinations(dir.Str(), Dictionary()).front();
    const std::string before = Census(dest);
    // The other program: a child that opens the destination's P_DTRXAS and keeps it open until
    // the test is done with it.
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(done[1]);
        try {
            db::TDbConnection conn("holder");
            Connect(conn, dest);
            db::TDbTable t("held");
            t.SetConnection(&conn);
            t.SetTableName("P_DTRXAS");
            t.Open();
            (void)!::write(ready[1], "1", 1);
            char c;
            (void)!::read(done[0], &c, 1);
        } catch (...) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    CliResult r = RunCli({"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod});
    ::close(done[1]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Tablename P_DTRXAS"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("Merge database completed"), std::string::npos);
    // The tables cleared before P_DTRXAS lost their rows, but nothing was added anywhere and
    // P_DTRXAS and every later period table kept theirs.
    const std::string after = Census(dest);
    auto section = [](const std::string& census, const std::string& table) {
        auto from = census.find("[" + table + "]");
        auto to = census.find("\n[", from + 1);
        return census.substr(from, to - from);
    };
    for (const char* table : {"P_DTRXAS", "P_HTRX", "YTDEMPL", "BANKTRX", "EMPLOYEE"})
        EXPECT_EQ(section(after, table), section(before, table)) << table;
    EXPECT_EQ(section(after, "P_DTRXAW").substr(0, 12), "[P_DTRXAW] 0");
}

// Every table file of the installation's destinations passes the storage engine's own check.
void ExpectSoundFiles(const std::string& dir, bool dictionary) {
    std::vector<std::string> files;
    for (const auto& d : Destinations(dir, dictionary)) {
        if (dictionary) {
            files.push_back(d);
            continue;
        }
        for (const auto& e : fs::directory_iterator(d))
            if (e.path().extension() == ".ADT") files.push_back(e.path().string());
    }
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        if (!db::detail::IsPlainDatabaseFile(file)) {
            // An encrypted dictionary has a key of its own; a free table the table password's.
            const std::string key = dictionary
                                        ? db::detail::UnlockDictionary(
                                              file, file, signon::kAdminUser,
                                              signon::AdminPasswordForMark(std::string("@2019")))
                                              .RawKey()
                                        : db::detail::RawKeyFor(signon::kFreeTablePassword);
            sqlite3_key(db, key.data(), static_cast<int>(key.size()));
        }
        sqlite3_stmt* s = nullptr;
        std::string result = "no answer";
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        sqlite3_close(db);
        EXPECT_EQ(result, "ok") << file;
    }
}

// Starts the merge and sends it the signal when a line holding marker appears on its standard
// output. True when the line appeared before the run ended; exitCode and lastLine tell how the
// run ended.
bool SignalMergeAt(const std::string& dir, bool dictionary, const std::string& marker, int signal,
                   int& exitCode, std::string& lastLine) {
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        const std::string ini = Ini(dir, dictionary);
        ::execl(PELTORN_CLI_PATH, PELTORN_CLI_PATH, "merge", "--ini", ini.c_str(), "--period",
                kPeriod, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string pending;
    bool seen = false;
    char buf[4096];
    ssize_t n;
    while (!seen && (n = ::read(out[0], buf, sizeof buf)) > 0) {
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t pos;
        while (!seen && (pos = pending.find('\n')) != std::string::npos) {
            seen = pending.compare(0, marker.size(), marker) == 0 ||
                   pending.substr(0, pos).find(marker) != std::string::npos;
            pending.erase(0, pos + 1);
        }
    }
    if (seen) ::kill(pid, signal);
    // The rest of what it writes, for its last line.
    while ((n = ::read(out[0], buf, sizeof buf)) > 0)
        pending.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    while (!pending.empty() && pending.back() == '\n') pending.pop_back();
    lastLine =
        pending.substr(pending.rfind('\n') == std::string::npos ? 0 : pending.rfind('\n') + 1);
    return seen;
}

bool KillMergeAt(const std::string& dir, bool dictionary, const std::string& marker) {
    int code = 0;
    std::string last;
    return SignalMergeAt(dir, dictionary, marker, SIGKILL, code, last);
}

// Killed while clearing, while transferring, and while converting: the files stay sound, and
// the next run gives what a clean run gives.
TEST_P(RunFaultTest, KilledRunLeavesSoundFilesAndTheRerunGivesTheCleanResult) {
    const std::string& clean = CleanCensus();
    for (const char* marker : {"Clear Record : P_DTRXND", "\\P_HTRX Updating", "Currency : "}) {
        TempDir dir;
        WriteDemo(dir.Str());
        ASSERT_TRUE(KillMergeAt(dir.Str(), Dictionary(), marker)) << marker;
        ExpectSoundFiles(dir.Str(), Dictionary());
        ASSERT_EQ(Shell(MergeCommand(dir.Str(), Dictionary()) + " >/dev/null 2>&1"), 0) << marker;
        EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), clean), "")
            << "rerun after a kill at " << marker;
    }
}

// Ctrl-C during the clearing is the stop request: the conversion stops before its first
// employee, nobody unconverted is stamped with the standard currency, and the run ends as
// stopped (status 3) with the line that says how many employees were not converted.
TEST_P(RunFaultTest, InterruptedRunEndsAsStoppedAndStampsNoUnconvertedEmployee) {
    TempDir dir;
    WriteDemo(dir.Str());
    int code = 0;
    std::string last;
    ASSERT_TRUE(
        SignalMergeAt(dir.Str(), Dictionary(), "Clear Record : P_HTRX", SIGINT, code, last));
    EXPECT_EQ(code, 3) << last;
    EXPECT_EQ(last.rfind("Merge stopped by the operator: ", 0), 0u) << last;
    EXPECT_EQ(last.find(" 0 employees"), std::string::npos) << last;
    // The demo's foreign employees keep their own currency in the destination.
    auto foreign = [](const std::string& census) {
        const auto from = census.find("[EMPLOYEE]");
        const std::string employees = census.substr(from, census.find("\n[", from + 1) - from);
        return employees.find("|SGD|") != std::string::npos ||
               employees.find("|USD|") != std::string::npos;
    };
    EXPECT_TRUE(foreign(Census(Destinations(dir.Str(), Dictionary()).front())));
    // A completed run stamps every employee with the standard currency.
    EXPECT_FALSE(foreign(CleanCensus()));
}

INSTANTIATE_TEST_SUITE_P(Layouts, RunFaultTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
