// peltorn: the command-line tool of the consolidation utility. Administrators use it to run the
// merge without a window, to edit merge groups, to create and inspect databases, and to write
// the demo installation.
#include "cli/Commands.h"

#include <iostream>

namespace peltorn::cli {

int Guarded(const std::function<void()>& body) {
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << std::endl;
        return 1;
    }
}

}  // namespace peltorn::cli

int main(int argc, char** argv) {
    CLI::App app{"peltorn: consolidation of payroll company databases", "peltorn"};
    app.set_version_flag("--version", std::string("peltorn ") + PELTORN_VERSION);
    app.footer(
        "Exit status: 0 done; 1 the command failed (\"error: ...\" on standard error); "
        "2 wrong usage.");
    app.require_subcommand(1);
    int exitCode = 0;
    peltorn::cli::RegisterDbCommands(app, exitCode);
    peltorn::cli::RegisterGroupsCommands(app, exitCode);
    peltorn::cli::RegisterMergeCommand(app, exitCode);
    peltorn::cli::RegisterRestoreCommand(app, exitCode);
    peltorn::cli::RegisterDemoCommand(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << std::endl;
        return 1;
    }
    return exitCode;
}
