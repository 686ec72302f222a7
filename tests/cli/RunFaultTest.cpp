// The merge against the faults of a real installation, in both layouts of a demo installation:
// writes that fail past a file-size limit, two runs of one destination at once, a period table
// held open by another program, and a run killed part-way. Either the destinations are right, or
// the run says they are not; a killed run leaves sound files, and the next run repairs it.
#include "MergeRunSupport.h"
#include "TestSupport.h"
#include "db/Db.h"
#include "db/DbConnection.h"
#include "run/MergeRun.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "startup/FormMerge.h"
#include "startup/StartUp.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace peltorn::test {
namespace {

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
        second = RunCli({"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod,
                         "--progress", "lines"});
    };
    ASSERT_EQ(run::RunMerge(form), run::TMergeResult::Completed)
        << (op.Errors.empty() ? "" : op.Errors.front());
    db::FlushPendingWrites();
    form.dbDest.Disconnect();
    form.dbSource.Disconnect();
    ASSERT_TRUE(started);
    EXPECT_EQ(second.ExitCode, 1) << second.Out.substr(0, 300);
    EXPECT_NE(second.Err.find("is being merged by another run"), std::string::npos) << second.Err;
    EXPECT_EQ(second.Err.find("Clear Record"), std::string::npos)
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
    // Without a snapshot, which could not be taken while the table is open elsewhere.
    CliResult r = RunCli(
        {"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod, "--no-snapshot"});
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

// Starts the merge with its progress texts on standard error and sends it the signal when marker
// appears in what it writes.
TWatchedRun SignalMergeAt(const std::string& dir, bool dictionary, const std::string& marker,
                          int signal, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {
        "merge", "--ini", Ini(dir, dictionary), "--period", kPeriod, "--progress", "lines"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunWatched(args, {}, {{marker, SendSignal(signal)}});
}

// Killed while clearing, while transferring, and while converting: the files stay sound, and
// the next run gives what a clean run gives. Without snapshots, so that no marker makes the next
// run refuse the destination.
TEST_P(RunFaultTest, KilledRunLeavesSoundFilesAndTheRerunGivesTheCleanResult) {
    const std::string& clean = CleanCensus();
    for (const char* marker : {"Clear Record : P_DTRXND", "\\P_HTRX Updating", "Currency : "}) {
        TempDir dir;
        WriteDemo(dir.Str());
        ASSERT_EQ(
            SignalMergeAt(dir.Str(), Dictionary(), marker, SIGKILL, {"--no-snapshot"}).StepsDone,
            1u)
            << marker;
        ExpectSoundFiles(dir.Str(), Dictionary());
        ASSERT_EQ(Shell(MergeCommand(dir.Str(), Dictionary()) + " >/dev/null 2>&1"), 0) << marker;
        EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), clean), "")
            << "rerun after a kill at " << marker;
    }
}

// Ctrl-C during the clearing is the stop request: the conversion stops before its first
// employee, nobody unconverted is stamped with the standard currency, and the run ends as
// stopped (status 3) with the line that says how many employees were not converted. (Without a
// snapshot: with one, the stopped group is put back.)
TEST_P(RunFaultTest, InterruptedRunEndsAsStoppedAndStampsNoUnconvertedEmployee) {
    TempDir dir;
    WriteDemo(dir.Str());
    const TWatchedRun run =
        SignalMergeAt(dir.Str(), Dictionary(), "Clear Record : P_HTRX", SIGINT, {"--no-snapshot"});
    ASSERT_EQ(run.StepsDone, 1u);
    const std::string last = LastLine(run.Out);
    EXPECT_EQ(run.ExitCode, 3) << last;
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

// Killed during a transfer, the run leaves its marker: the next run refuses the destination and
// names the command that puts it back; that command, as printed, gives the destination as it
// was before the killed run, and a run after it completes as a clean run does.
TEST_P(RunFaultTest, KilledRunIsRefusedUntilItsDestinationIsPutBackAsItWas) {
    const std::string& clean = CleanCensus();
    TempDir dir;
    WriteDemo(dir.Str());
    const std::string before = CensusOfAll(dir.Str(), Dictionary());
    ASSERT_EQ(SignalMergeAt(dir.Str(), Dictionary(), "\\P_HTRX Updating", SIGKILL).StepsDone, 1u);
    const std::string killed = CensusOfAll(dir.Str(), Dictionary());
    ASSERT_NE(FirstDifference(killed, before), "") << "the kill left the destination as it was";

    CliResult refused =
        RunCli({"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod});
    EXPECT_EQ(refused.ExitCode, 1);
    const std::string put = "Put it back with: ";
    const auto at = refused.Err.find(put);
    ASSERT_NE(at, std::string::npos) << refused.Err;
    EXPECT_NE(refused.Err.find("was interrupted; its destination may be part-merged"),
              std::string::npos)
        << refused.Err;
    EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), killed), "")
        << "the refused run changed the destination";
    // The command up to the context the error report adds, run as the operator would paste it.
    std::string command = refused.Err.substr(at + put.size());
    command = command.substr(0, command.find(" (merge group"));
    ASSERT_EQ(command.rfind("peltorn restore --ini ", 0), 0u) << command;
    const std::string destination = Dictionary() ? "'#GRPD'" : "'#GRP1'";
    EXPECT_EQ(command.substr(command.size() - destination.size()), destination) << command;
    TempDir io;
    EXPECT_EQ(Shell(Quote(PELTORN_CLI_PATH) + command.substr(std::string("peltorn").size()) + " >" +
                    Quote((io / "out").string()) + " 2>&1"),
              0)
        << command;
    EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), before), "");
    ExpectSoundFiles(dir.Str(), Dictionary());

    ASSERT_EQ(Shell(MergeCommand(dir.Str(), Dictionary()) + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), Dictionary()), clean), "");
}

// Every file below the installation's folder, with a checksum of its bytes.
std::map<std::string, std::string> Checksums(const std::string& dir) {
    std::map<std::string, std::string> sums;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        sums[e.path().string()] =
            std::to_string(std::hash<std::string>{}(bytes)) + " " + std::to_string(bytes.size());
    }
    return sums;
}

// A preview changes no file of the installation, sources and main database included, and logs
// what the real run after it logs, after its own first line.
TEST_P(RunFaultTest, PreviewChangesNoFileAndLogsWhatTheRealRunLogs) {
    TempDir dir;
    WriteDemo(dir.Str());
    const auto before = Checksums(dir.Str());
    TempDir io;
    const std::string previewLog = (io / "preview.log").string();
    const std::string realLog = (io / "real.log").string();
    CliResult preview = RunCli({"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod,
                                "--dry-run", "--log", previewLog});
    ASSERT_EQ(preview.ExitCode, 0) << preview.Err;
    EXPECT_NE(preview.Out.find("Merge database completed (preview only: nothing in the "
                               "installation was changed)\n"),
              std::string::npos);
    const auto after = Checksums(dir.Str());
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [file, sum] : before) {
        auto it = after.find(file);
        EXPECT_TRUE(it != after.end() && it->second == sum) << file << " changed";
    }

    CliResult real = RunCli(
        {"merge", "--ini", Ini(dir.Str(), Dictionary()), "--period", kPeriod, "--log", realLog});
    ASSERT_EQ(real.ExitCode, 0) << real.Err;
    auto read = [](const std::string& file) {
        std::ifstream in(file);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    const std::string real_ = read(realLog);
    EXPECT_GT(real_.size(), 200u);
    EXPECT_EQ(read(previewLog), "Preview only: nothing in the installation is changed\n" + real_);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RunFaultTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
