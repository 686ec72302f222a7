#include "TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace peltorn::test {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("peltorn-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::Str(bool withSlash) const {
    std::string s = m_path.string();
    if (withSlash) s += '/';
    return s;
}

void ScriptedOperator::Inform(const std::string& text) {
    Messages.push_back(text);
    if (OnInform) OnInform(text);
}

bool ScriptedOperator::Ask(const std::string& question) {
    Questions.push_back(question);
    if (Answers.empty()) return DefaultAnswer;
    bool answer = Answers.front();
    Answers.pop_front();
    return answer;
}

void ScriptedOperator::ReportError(const std::string& text) { Errors.push_back(text); }

void ScriptedOperator::ProcessMessages() {
    ++ProcessMessagesCalls;
    if (OnProcessMessages) OnProcessMessages();
}

static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

static std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinText) {
    TempDir io;
    std::string cmd = ShellQuote(PELTORN_CLI_PATH);
    for (const auto& a : args) cmd += " " + ShellQuote(a);
    auto inPath = io / "stdin";
    {
        std::ofstream in(inPath, std::ios::binary);
        in << stdinText;
    }
    cmd += " <" + ShellQuote(inPath.string()) + " >" + ShellQuote((io / "out").string()) + " 2>" +
           ShellQuote((io / "err").string());
    int status = std::system(cmd.c_str());
    CliResult r;
    r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = Slurp(io / "out");
    r.Err = Slurp(io / "err");
    return r;
}

}  // namespace peltorn::test
