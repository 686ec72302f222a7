// peltorn merge: not yet available in this build.
#include "cli/Commands.h"

#include <iostream>

namespace peltorn::cli {

void RegisterMergeCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("merge", "not yet available");
    cmd->allow_extras();
    cmd->callback([&exitCode] {
        std::cerr << "error: peltorn merge is not yet available" << std::endl;
        exitCode = 1;
    });
}

}  // namespace peltorn::cli
