// peltorn merge on a small demo installation: what administrators' scripts rely on (exit status,
// the last line of standard output, "error: " on standard error, the run log file).
#include "TestSupport.h"
#include "demo/Demo.h"

#include <gtest/gtest.h>

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
    // The progress texts reach standard output; the run log goes to the file as well.
    EXPECT_NE(r.Out.find("Clear Record : "), std::string::npos);
    const std::string runLog = ReadFile(log);
    EXPECT_NE(runLog.find("Currency : SGD"), std::string::npos) << runLog.substr(0, 400);
    EXPECT_NE(r.Out.find("Currency : SGD"), std::string::npos);
    EXPECT_EQ(r.Err.find("error: "), std::string::npos) << r.Err;
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
}

}  // namespace
}  // namespace peltorn::test
