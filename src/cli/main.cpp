// peltorn: the command-line tool of the consolidation utility. Administrators use it to run the
// merge without a window, to edit merge groups, to create and inspect databases, and to write
// the demo installation.
#include "cli/Commands.h"

#include "startup/FormMerge.h"

#include <fcntl.h>
#include <unistd.h>
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

void AddIniOption(CLI::App& command, std::string& ini) {
    command.add_option_function<std::string>(
        "--ini",
        [&ini](const std::string& file) {
            if (!ini.empty() && ini != file)
                throw CLI::ValidationError("--ini",
                                           "two settings files named: " + ini + ", " + file);
            ini = file;
        },
        "settings file (default: ORVEX.ini beside the program)");
    for (CLI::App* sub : command.get_subcommands({})) AddIniOption(*sub, ini);
}

namespace {

// A program started with standard input, output or error closed (`peltorn merge >&-`) would
// get that descriptor number for the first file it opens, a table file among them, and every
// line meant for the terminal would then be written into that table. They are opened on
// /dev/null first.
void OpenStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0) ::close(opened);  // fd was open after all
    }
}

}  // namespace

}  // namespace peltorn::cli

int main(int argc, char** argv) {
    peltorn::cli::OpenStandardDescriptors();
    CLI::App app{"peltorn: consolidation of payroll company databases", "peltorn"};
    app.set_version_flag("--version", std::string(peltorn::kApplicationTitle));
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
