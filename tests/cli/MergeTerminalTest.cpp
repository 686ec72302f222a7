// peltorn merge as a person at a terminal sees it and as scripts see it: the progress line on a
// pseudo-terminal, Ctrl-C typed on it, SIGTERM, and standard output that is closed or whose
// reader goes away part-way.
#include "MergeRunSupport.h"
#include "TestSupport.h"
#include "cli/MergeTerminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>

namespace peltorn::test {
namespace {

constexpr const char* kCtrlC = "\x03";
constexpr const char* kEraseToEnd = "\x1b[K";

std::vector<std::string> MergeArgs(const std::string& dir) {
    return {"merge", "--ini", Ini(dir, false), "--period", kPeriod};
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The progress lines drawn on the terminal, as text without colour: every stretch that a
// carriage return begins and an erase to the end of the line ends.
std::vector<std::string> DrawnLines(const std::string& terminal) {
    static const std::regex kEscape("\x1b\\[[0-9;]*[A-Za-z]");
    std::vector<std::string> lines;
    std::size_t from = 0;
    while ((from = terminal.find('\r', from)) != std::string::npos) {
        const auto end = terminal.find(kEraseToEnd, from);
        const auto next = terminal.find('\r', from + 1);
        if (end == std::string::npos) break;
        if (next == std::string::npos || end < next) {
            std::string text =
                std::regex_replace(terminal.substr(from + 1, end - from - 1), kEscape, "");
            if (!text.empty()) lines.push_back(text);
        }
        from += 1;
    }
    return lines;
}

class MergeTerminalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        WriteDemo(s_dir->Str());
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static std::string Dir() { return s_dir->Str(); }
    static TempDir* s_dir;
};
TempDir* MergeTerminalTest::s_dir = nullptr;

// On a terminal the progress is one line, drawn again and again in place: few line ends, every
// drawing within the terminal's width, erased at the end; colour only where allowed.
TEST_F(MergeTerminalTest, ProgressIsOneLineRewrittenInPlaceWithinTheWidth) {
    struct TCase {
        std::vector<std::pair<std::string, std::string>> Env;
        bool Colour;
    };
    for (const TCase& c : {TCase{{{"TERM", "xterm"}, {"NO_COLOR", ""}}, true},
                           TCase{{{"TERM", "xterm"}, {"NO_COLOR", "1"}}, false},
                           TCase{{{"TERM", "dumb"}, {"NO_COLOR", ""}}, false}}) {
        TRunSetup setup;
        setup.Terminal = true;
        setup.Columns = 60;
        setup.Env = c.Env;
        const TWatchedRun run = RunWatched(MergeArgs(Dir()), setup);
        const std::string where = c.Env[0].second + " NO_COLOR=" + c.Env[1].second;
        ASSERT_EQ(run.ExitCode, 0) << where << "\n" << run.Terminal;
        EXPECT_EQ(LastLine(run.Out), "Merge database completed");
        EXPECT_EQ(run.Out.find("Clear Record : "), std::string::npos);

        const auto lines = DrawnLines(run.Terminal);
        EXPECT_GE(lines.size(), 5u) << where << "\n" << run.Terminal;
        EXPECT_LE(Occurrences(run.Terminal, "\n"), 2u) << where << "\n" << run.Terminal;
        for (const auto& line : lines) {
            EXPECT_LE(line.size(), 59u) << line;
            EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d+:\d\d \[[#.]+\] )"))) << line;
        }
        // Group, source, table and its records while a source is transferred.
        static const std::regex kTransfer(R"(#GRP\d  CO\d\d  [A-Z_0-9]+  \d+ records?$)");
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return std::regex_search(l, kTransfer);
        })) << run.Terminal;
        // Nothing of the line is left behind for the next prompt.
        EXPECT_EQ(run.Terminal.substr(run.Terminal.size() - 4), std::string("\r") + kEraseToEnd)
            << where;
        EXPECT_EQ(run.Terminal.find("\x1b[32m") != std::string::npos, c.Colour) << where;
        if (!c.Colour) {
            std::string rest = run.Terminal;
            for (auto at = rest.find(kEraseToEnd); at != std::string::npos;
                 at = rest.find(kEraseToEnd))
                rest.erase(at, 3);
            EXPECT_EQ(rest.find('\x1b'), std::string::npos) << where;
        }
    }
}

// At the prompt standard output is the same terminal: every run-log line starts on a line of
// its own, never glued to the end of the progress line.
TEST_F(MergeTerminalTest, RunLogLinesAtThePromptNeverShareTheProgressLine) {
    TRunSetup setup;
    setup.Terminal = true;
    setup.OutputOnTerminal = true;
    setup.Env = {{"TERM", "xterm"}};
    const TWatchedRun run = RunWatched(MergeArgs(Dir()), setup);
    ASSERT_EQ(run.ExitCode, 0) << run.Terminal.substr(0, 2000);
    ASSERT_FALSE(DrawnLines(run.Terminal).empty());
    std::size_t logLines = 0;
    for (auto at = run.Terminal.find("Employee#"); at != std::string::npos;
         at = run.Terminal.find("Employee#", at + 1), ++logLines) {
        const bool ownLine =
            run.Terminal[at - 1] == '\n' || run.Terminal.compare(at - 4, 4, "\r\x1b[K") == 0;
        ASSERT_TRUE(ownLine) << run.Terminal.substr(at - 80, 100);
    }
    EXPECT_GT(logLines, 10u);
    // The progress line is erased for good before what follows the run log.
    const std::string rest = run.Terminal.substr(run.Terminal.rfind("\r\x1b[K") + 4);
    const std::string end = "Merge database completed\r\n";
    ASSERT_GE(rest.size(), end.size()) << rest;
    EXPECT_EQ(rest.substr(rest.size() - end.size()), end);
    EXPECT_EQ(rest.find("Employee#"), std::string::npos) << "the run log after the last erase";
}

// Ctrl-C once: the group being merged is finished, no later group is started, status 3.
TEST_F(MergeTerminalTest, CtrlCOnceStopsAfterTheGroupBeingMerged) {
    TRunSetup setup;
    setup.Terminal = true;
    setup.Env = {{"TERM", "xterm"}};
    const TWatchedRun run =
        RunWatched(MergeArgs(Dir()), setup, {{"#GRP1  clearing", TypeOnTerminal(kCtrlC)}});
    ASSERT_EQ(run.StepsDone, 1u);
    EXPECT_EQ(run.ExitCode, 3) << run.Terminal;
    const auto stop = run.Terminal.find(cli::kStopRequestedLine);
    ASSERT_NE(stop, std::string::npos) << run.Terminal;
    EXPECT_EQ(Occurrences(run.Terminal, cli::kStopRequestedLine), 1u);
    EXPECT_NE(run.Terminal.find("#GRP1  employee stamp", stop), std::string::npos)
        << "group 1 was not finished";
    EXPECT_EQ(run.Terminal.find("#GRP2", stop), std::string::npos) << "group 2 was started";
    EXPECT_EQ(LastLine(run.Out).rfind("Merge stopped by the operator: ", 0), 0u) << run.Out;
}

// A second Ctrl-C, or SIGTERM, ends the run at once as failed: the group being cleared gets no
// transfer, the run reports why and exits 1 with no last line of a finished run.
TEST_F(MergeTerminalTest, SecondCtrlCOrSigtermEndsTheRunAtOnce) {
    const std::vector<std::vector<TStep>> ways = {
        {{"#GRP1  clearing", TypeOnTerminal(kCtrlC)}, {"Stop requested", TypeOnTerminal(kCtrlC)}},
        {{"#GRP1  clearing", SendSignal(SIGTERM)}}};
    for (const auto& steps : ways) {
        TRunSetup setup;
        setup.Terminal = true;
        setup.Env = {{"TERM", "xterm"}};
        const TWatchedRun run = RunWatched(MergeArgs(Dir()), setup, steps);
        ASSERT_EQ(run.StepsDone, steps.size()) << run.Terminal;
        EXPECT_EQ(run.ExitCode, 1) << run.Terminal;
        EXPECT_NE(run.Terminal.find(std::string("error: ") + cli::kEndedByOperator),
                  std::string::npos)
            << run.Terminal;
        EXPECT_EQ(run.Terminal.find("#GRP1  CO02"), std::string::npos) << run.Terminal;
        EXPECT_EQ(run.Terminal.find("#GRP1  currency"), std::string::npos) << run.Terminal;
        EXPECT_EQ(run.Out.find("Merge "), std::string::npos) << run.Out;
    }
}

// A reader that goes away after the first line (`| head -1`), then a standard output and error
// closed from the start: each run completes with status 0 and leaves the destinations as a run
// with every line read does; nothing meant for the terminal lands in a database file.
TEST_F(MergeTerminalTest, ClosedOrVanishingOutputNeverEndsTheRun) {
    // Any number of completed runs gives the same destinations.
    ASSERT_EQ(Shell(MergeCommand(Dir(), false) + " >/dev/null 2>&1"), 0);
    const std::string clean = CensusOfAll(Dir(), false);
    TempDir dir;
    WriteDemo(dir.Str());
    const CliResult groupsBefore = RunCli({"groups", "list", "--ini", Ini(dir.Str(), false)});
    TempDir io;
    const std::string status = Quote((io / "status").string());
    const std::string err = Quote((io / "err").string());
    const std::string merge = "timeout 60 " + MergeCommand(dir.Str(), false);
    for (const std::string& line :
         {"{ " + merge + " 2>" + err + "; echo $? >" + status + "; } | head -1 >/dev/null",
          merge + " >&- 2>&-; echo $? >" + status}) {
        Shell(line);
        std::ifstream in((io / "status").string());
        int code = -1;
        in >> code;
        EXPECT_EQ(code, 0) << line;
        EXPECT_EQ(FirstDifference(CensusOfAll(dir.Str(), false), clean), "") << line;
        const CliResult groupsAfter = RunCli({"groups", "list", "--ini", Ini(dir.Str(), false)});
        EXPECT_EQ(groupsAfter.Out, groupsBefore.Out) << line << ": " << groupsAfter.Err;
    }
}

}  // namespace
}  // namespace peltorn::test
