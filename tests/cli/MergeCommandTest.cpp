// peltorn merge on a small demo installation: what administrators' scripts rely on (exit status,
// the last line of standard output, "error: " on standard error, the run log file).
#include "MergeRunSupport.h"
#include "TestSupport.h"
#include "db/Db.h"
#include "demo/Demo.h"
#include "signon/Credentials.h"

#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace peltorn::test {
namespace {

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
    const auto pos = trimmed.rfind('\n');
    return pos == std::string::npos ? trimmed : trimmed.substr(pos + 1);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class MergeCliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        demo::TDemoOptions options;
        options.Companies = 3;
        options.Employees = 6;
        options.Year = 2026;
        options.Month = 3;
        demo::WriteDemoInstallation(s_dir->Str(), options);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static std::string Ini() { return (s_dir->Path() / "ORVEX.ini").string(); }
    static TempDir* s_dir;
};
TempDir* MergeCliTest::s_dir = nullptr;

TEST_F(MergeCliTest, CompletedRunEndsWithItsLineAndWritesTheRunLog) {
    TempDir logDir;
    const auto log = logDir / "run.log";
    CliResult r = RunCli({"merge", "--ini", Ini(), "--period", "202603", "--log", log.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(LastLine(r.Out), "Merge database completed");
    // Standard output begins with the run log, the same as the file; no progress text reaches
    // either stream when neither is a terminal.
    const std::string runLog = ReadFile(log);
    EXPECT_NE(runLog.find("Currency : SGD"), std::string::npos) << runLog.substr(0, 400);
    EXPECT_EQ(r.Out.substr(0, runLog.size()), runLog);
    for (const std::string* stream : {&r.Out, &r.Err}) {
        EXPECT_EQ(stream->find("Clear Record : "), std::string::npos) << stream->substr(0, 400);
        EXPECT_EQ(stream->find("Process Currency conversion."), std::string::npos);
    }
    EXPECT_EQ(r.Err.find("error: "), std::string::npos) << r.Err;
}

// An allowance row whose payroll header is missing in the source is never reached by the
// conversion and keeps its currency: the run completes, its check fails, the status is 4, and the
// summary and the report (the owner's alone, like the run log) say which check.
TEST_F(MergeCliTest, AFigureLeftUnconvertedFailsACheckAndExitsFour) {
    TempDir dir;
    WriteDemo(dir.Str());
    {
        db::TDbConnection conn("source");
        Connect(conn, (dir.Path() / "COMPANY" / "CO01").string());
        db::TDbTable rows("P_DTRXAW");
        rows.SetConnection(&conn);
        rows.SetTableName("P_DTRXAW");
        rows.Open();
        rows.EnableEncryption(signon::kFreeTablePassword);
        rows.Append();
        for (auto [field, value] : {std::pair{"PERIOD", "202603"},
                                    {"CYCLE", "1"},
                                    {"EMPCODE", "NOHEADER"},
                                    {"ALLW_DED_CODE", "MEMO"},
                                    {"CURR_CODE", "SGD"},
                                    {"AMOUNT", "10"}})
            rows.FieldByName(field).SetAsString(value);
        rows.Post();
        rows.Close();
        conn.Disconnect();
        db::FlushPendingWrites();
    }
    const auto report = dir / "report.json";
    const auto log = dir / "run.log";
    CliResult r = RunCli({"merge", "--ini", peltorn::test::Ini(dir.Str(), false), "--period",
                          kPeriod, "--report", report.string(), "--log", log.string()});
    EXPECT_EQ(r.ExitCode, 4) << r.Err;
    EXPECT_EQ(LastLine(r.Out), "Merge database completed");
    EXPECT_NE(r.Out.find("check failed: no allowance row keeps a currency code: 1 allowance rows "
                         "keep a currency: NOHEADER SGD"),
              std::string::npos)
        << r.Out;
    const nlohmann::json account = nlohmann::json::parse(ReadFile(report));
    EXPECT_EQ(account["result"], "completed with failed checks");
    int failed = 0;
    for (const auto& group : account["groups"])
        for (const auto& check : group["checks"]) failed += check["passed"] ? 0 : 1;
    EXPECT_EQ(failed, 1);  // CO01 is merged into one group only
    for (const auto& file : {report, log}) {
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
}

// peltorn restore --list names each destination's snapshots by the folders the runs made.
TEST_F(MergeCliTest, RestoreListsTheSnapshotsTheRunsKept) {
    TempDir dir;
    WriteDemo(dir.Str());
    const std::string ini = peltorn::test::Ini(dir.Str(), false);
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(
            RunCli({"merge", "--ini", ini, "--period", kPeriod, "--keep-snapshots", "1"}).ExitCode,
            0);
    CliResult list = RunCli({"restore", "--list", "--ini", ini});
    ASSERT_EQ(list.ExitCode, 0) << list.Err;
    int rows = 0;
    for (const auto& group : std::filesystem::directory_iterator(dir / "MERGE-SNAPSHOTS")) {
        for (const auto& snapshot : std::filesystem::directory_iterator(group.path())) {
            ++rows;
            EXPECT_NE(list.Out.find(group.path().filename().string() + " "), std::string::npos);
            EXPECT_NE(list.Out.find(snapshot.path().filename().string()), std::string::npos)
                << list.Out;
        }
    }
    EXPECT_EQ(rows, 2);  // one kept of each destination's two
    EXPECT_EQ(std::count(list.Out.begin(), list.Out.end(), '\n'), rows + 1) << list.Out;
}

// For logs: --progress lines writes the progress texts one per line on standard error, and
// --quiet leaves the run log out of standard output only.
TEST_F(MergeCliTest, ProgressLinesGoToStandardErrorAndQuietKeepsTheRunLogFile) {
    TempDir logDir;
    const auto log = logDir / "run.log";
    CliResult r = RunCli({"merge", "--ini", Ini(), "--period", "202603", "--progress", "lines",
                          "--quiet", "--log", log.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Err.find("\nClear Record : P_HTRX\n"), std::string::npos) << r.Err.substr(0, 400);
    EXPECT_NE(r.Err.find("\nProcess Currency conversion.\n"), std::string::npos);
    EXPECT_EQ(r.Err.find('\r'), std::string::npos);
    EXPECT_EQ(r.Out.find("Clear Record : "), std::string::npos);
    EXPECT_EQ(r.Out.find("Currency : SGD"), std::string::npos) << r.Out.substr(0, 400);
    EXPECT_EQ(LastLine(r.Out), "Merge database completed");
    EXPECT_NE(ReadFile(log).find("Currency : SGD"), std::string::npos);
}

TEST_F(MergeCliTest, RefusedPeriodIsAnErrorWithStatusOne) {
    CliResult r = RunCli({"merge", "--ini", Ini(), "--period", "2026-3"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("error: Invalid Period!"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("Merge database completed"), std::string::npos);
}

TEST_F(MergeCliTest, PeriodsOfNoMonthAreRefusedWithStatusOne) {
    for (const char* period : {"202613", "202600", "000000"}) {
        CliResult r = RunCli({"merge", "--ini", Ini(), "--period", period});
        EXPECT_EQ(r.ExitCode, 1) << period;
        EXPECT_NE(r.Err.find("error: Invalid Period!"), std::string::npos)
            << period << ": " << r.Err;
        EXPECT_EQ(r.Out.find("Clear Record : "), std::string::npos) << period;
    }
}

TEST_F(MergeCliTest, MissingSettingsFolderIsReportedAndNothingRuns) {
    TempDir empty;
    CliResult r = RunCli({"merge", "--ini", (empty / "ORVEX.ini").string(), "--period", "202603"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("error: "), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("Merge database completed"), std::string::npos);
}

TEST_F(MergeCliTest, AMissingSettingsFileIsAnErrorNamingItAndNothingIsMade) {
    TempDir folder;
    const std::string missing = (folder / "missing.ini").string();
    CliResult r = RunCli({"merge", "--ini", missing, "--period", "202603"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("error: Settings file not found: " + missing), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("Merge database completed"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

TEST_F(MergeCliTest, PeriodIsRequiredAndWrongUsageExitsTwo) {
    CliResult r = RunCli({"merge", "--ini", Ini()});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("--period"), std::string::npos) << r.Err;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"merge", "--ini", Ini(), "--period", "202603", "--progress",
                                   "fancy"},
          {"merge", "--period", "202603", "--ini", Ini(), "--ini", Ini() + ".other"},
          {"groups", "--ini", Ini(), "add", "one", "#GRP9"},
          {"groups", "--ini", Ini(), "list", "--ini", Ini() + ".other"},
          {"groups", "--ini", Ini()}}) {
        CliResult wrong = RunCli(args);
        EXPECT_EQ(wrong.ExitCode, 2) << args[0] << " " << args.back() << ": " << wrong.Err;
        EXPECT_EQ(wrong.Out.find("Merge database completed"), std::string::npos);
    }
}

// The settings file may be named before or after the subcommand of groups.
TEST_F(MergeCliTest, SettingsFileIsTakenBeforeOrAfterTheGroupsSubcommand) {
    CliResult before = RunCli({"groups", "--ini", Ini(), "list"});
    CliResult after = RunCli({"groups", "list", "--ini", Ini()});
    ASSERT_EQ(before.ExitCode, 0) << before.Err;
    EXPECT_NE(before.Out.find("#GRP1"), std::string::npos) << before.Out;
    EXPECT_EQ(before.Out, after.Out);
    EXPECT_EQ(RunCli({"--version"}).Out, "PELTORN VER 9.7.18\n");
}

}  // namespace
}  // namespace peltorn::test
