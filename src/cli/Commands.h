// The subcommands of the peltorn tool. Each group of subcommands lives in its own file and
// registers itself on the application here; main() only builds the application and runs it.
//
// Conventions of every subcommand: an error prints one line "error: <text>" on standard error and
// exits 1; wrong usage exits 2 with the usage text (CLI11 does that); success exits 0.
#pragma once

#include "support/Operator.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <string>

namespace peltorn::cli {

// Each registers its subcommands on app; the callback of a subcommand sets the exit code.
void RegisterDbCommands(CLI::App& app, int& exitCode);      // peltorn db ...
void RegisterGroupsCommands(CLI::App& app, int& exitCode);  // peltorn groups ...
void RegisterMergeCommand(CLI::App& app, int& exitCode);    // peltorn merge ...
void RegisterRestoreCommand(CLI::App& app, int& exitCode);  // peltorn restore ...
void RegisterDemoCommand(CLI::App& app, int& exitCode);     // peltorn demo ...

// The terminal as the operator of a command that asks nothing (groups, restore): messages go to
// standard error, questions are answered No, the first error report is kept for the command to
// end with.
class TCommandOperator : public support::IOperator {
public:
    void Inform(const std::string& text) override { std::cerr << text << std::endl; }
    bool Ask(const std::string&) override { return false; }
    void ReportError(const std::string& text) override {
        if (FirstError.empty()) FirstError = text;
    }
    void ProcessMessages() override {}
    std::string FirstError;
};

// Runs body; an exception becomes "error: <text>" on standard error and exit code 1.
int Guarded(const std::function<void()>& body);

// The option --ini FILE (the settings file; default: ORVEX.ini beside the program) on command and
// on every subcommand below it, all writing into ini, so that it may stand before or after a
// subcommand's name (peltorn groups --ini FILE list, peltorn groups list --ini FILE). Call it
// after the subcommands are added. Two different files named so are wrong usage.
void AddIniOption(CLI::App& command, std::string& ini);

}  // namespace peltorn::cli
