// What the tests of `peltorn merge` share: the small demo installation, a census of its
// destinations (every row of every table), and a way to run the program with its output on pipes
// or on a pseudo-terminal and act on it (a signal, Ctrl-C typed) when a chosen text appears.
#pragma once

#include "db/DbConnection.h"

#include <sys/types.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::test {

inline constexpr const char* kPeriod = "202603";

// The small demo installation of the merge command's tests, written anew into dir.
void WriteDemo(const std::string& dir);
// The settings file of the installation's free-table layout, or of its data-dictionary layout.
std::string Ini(const std::string& dir, bool dictionary);
// The consolidated databases of the layout (codes beginning with "#").
std::vector<std::string> Destinations(const std::string& dir, bool dictionary);

// Connects conn to the company database at path as the administrator.
void Connect(db::TDbConnection& conn, const std::string& path);

// Every row of every table of the database, sorted, as text: two databases with the same census
// hold the same figures.
std::string Census(const std::string& path);
std::string CensusOfAll(const std::string& dir, bool dictionary);
// The first line where two censuses differ, with the table it belongs to; empty when equal.
std::string FirstDifference(const std::string& actual, const std::string& expected);
// Every table file of the installation's destinations passes the storage engine's own check.
void ExpectSoundFiles(const std::string& dir, bool dictionary);

// Runs a shell command line (sh); its exit status.
int Shell(const std::string& command);
std::string Quote(const std::string& s);
// The shell words of `peltorn merge --ini ... --period 202603`.
std::string MergeCommand(const std::string& dir, bool dictionary);

// One step of a watched run: once Marker has appeared in the output (after the step before
// acted), Act is called with the child's process id and the terminal's master side (-1 on
// pipes).
struct TStep {
    std::string Marker;
    std::function<void(pid_t child, int terminal)> Act;
};
std::function<void(pid_t, int)> SendSignal(int signal);
std::function<void(pid_t, int)> TypeOnTerminal(std::string keys);

struct TRunSetup {
    bool Terminal = false;          // standard error (and input) on a pseudo-terminal
    bool OutputOnTerminal = false;  // standard output on the terminal too (else a pipe)
    int Columns = 80;
    std::vector<std::pair<std::string, std::string>> Env;  // set in the child; "" value: unset
    int TimeoutSeconds = 30;
};

struct TWatchedRun {
    int ExitCode = -1;  // 128 + the signal when the child was killed
    bool TimedOut = false;
    std::size_t StepsDone = 0;
    std::string Out;       // standard output, when not on the terminal
    std::string Err;       // standard error, when not on the terminal
    std::string Terminal;  // what the terminal received
};

// Runs `peltorn args...` as set up, taking the steps in order (markers are looked for in every
// stream), and waits for its end; a child still running at the timeout is killed.
TWatchedRun RunWatched(const std::vector<std::string>& args, const TRunSetup& setup,
                       const std::vector<TStep>& steps = {});

// The last non-empty line of text.
std::string LastLine(const std::string& text);

}  // namespace peltorn::test
