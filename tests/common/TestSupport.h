// Fixtures shared by the test programs: a temporary folder that removes itself, and a scripted
// operator that records every message and answers questions from a script.
#pragma once

#include "support/Operator.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace peltorn::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    // The folder as text, with a trailing separator when withSlash.
    std::string Str(bool withSlash = false) const;
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

class ScriptedOperator : public support::IOperator {
public:
    void Inform(const std::string& text) override;
    bool Ask(const std::string& question) override;
    void ReportError(const std::string& text) override;
    void ProcessMessages() override;

    // Answers for the next questions, in order; when none is left the answer is DefaultAnswer.
    std::deque<bool> Answers;
    bool DefaultAnswer = false;
    // Called on every ProcessMessages (to press keys, count calls, ...).
    std::function<void()> OnProcessMessages;
    // Called on every Inform, after it is recorded (to look at the windows while a box is up).
    std::function<void(const std::string&)> OnInform;

    std::vector<std::string> Messages;   // Inform
    std::vector<std::string> Questions;  // Ask
    std::vector<std::string> Errors;     // ReportError
    long ProcessMessagesCalls = 0;
};

// Runs the peltorn command-line tool with the arguments; captures standard output and error.
struct CliResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};
CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinText = {});

}  // namespace peltorn::test
