// peltorn groups: not yet available in this build.
#include "cli/Commands.h"

#include <iostream>

namespace peltorn::cli {

void RegisterGroupsCommands(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("groups", "not yet available");
    cmd->allow_extras();
    cmd->callback([&exitCode] {
        std::cerr << "error: peltorn groups is not yet available" << std::endl;
        exitCode = 1;
    });
}

}  // namespace peltorn::cli
