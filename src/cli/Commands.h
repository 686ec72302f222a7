// The subcommands of the peltorn tool. Each group of subcommands lives in its own file and
// registers itself on the application here; main() only builds the application and runs it.
//
// Conventions of every subcommand: an error prints one line "error: <text>" on standard error and
// exits 1; wrong usage exits 2 with the usage text (CLI11 does that); success exits 0.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace peltorn::cli {

// Each registers its subcommands on app; the callback of a subcommand sets the exit code.
void RegisterDbCommands(CLI::App& app, int& exitCode);      // peltorn db ...
void RegisterGroupsCommands(CLI::App& app, int& exitCode);  // peltorn groups ...
void RegisterMergeCommand(CLI::App& app, int& exitCode);    // peltorn merge ...
void RegisterRestoreCommand(CLI::App& app, int& exitCode);  // peltorn restore ...
void RegisterDemoCommand(CLI::App& app, int& exitCode);     // peltorn demo ...

// Runs body; an exception becomes "error: <text>" on standard error and exit code 1.
int Guarded(const std::function<void()>& body);

}  // namespace peltorn::cli
