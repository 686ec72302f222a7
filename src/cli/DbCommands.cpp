// peltorn db: not yet available in this build.
#include "cli/Commands.h"

#include <iostream>

namespace peltorn::cli {

void RegisterDbCommands(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("db", "not yet available");
    cmd->allow_extras();
    cmd->callback([&exitCode] {
        std::cerr << "error: peltorn db is not yet available" << std::endl;
        exitCode = 1;
    });
}

}  // namespace peltorn::cli
