// peltorn demo: writes the demo installation into a folder and prints the command that merges
// it; with --summary, shows the rows per table of every consolidated database of an installation
// written earlier (what a merge has left there).
//
//   peltorn demo DIR [--companies N] [--employees M] [--today YYYY-MM-DD] [--seed S]
//   peltorn demo DIR --summary
#include "cli/Commands.h"

#include "demo/Demo.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <stdexcept>

namespace peltorn::cli {

namespace {

struct TDemoArgs {
    std::string Dir;
    int Companies = demo::TDemoOptions{}.Companies;
    int Employees = demo::TDemoOptions{}.Employees;
    std::string Today;
    unsigned Seed = demo::TDemoOptions{}.Seed;
    bool Summary = false;
};

// "YYYY-MM-DD" into the options' year and month.
void ApplyToday(const std::string& today, demo::TDemoOptions& options) {
    static const std::regex kDate(R"((\d{4})-(\d{2})-(\d{2}))");
    std::smatch m;
    if (!std::regex_match(today, m, kDate))
        throw std::invalid_argument("--today must be a date YYYY-MM-DD, not " + today);
    options.Year = std::stoi(m[1]);
    options.Month = std::stoi(m[2]);
}

void PrintSummary(const std::string& dir) {
    for (const auto& db : demo::SummariseDemoDestinations(dir)) {
        std::cout << db.Code << "  " << db.Path << "\n";
        for (const auto& t : db.Tables) {
            char line[64];
            std::snprintf(line, sizeof line, "  %-10s %9d\n", t.Table.c_str(), t.Rows);
            std::cout << line;
        }
    }
}

void Generate(const TDemoArgs& args) {
    demo::TDemoOptions options = demo::DemoOptionsForToday();
    if (!args.Today.empty()) ApplyToday(args.Today, options);
    options.Companies = args.Companies;
    options.Employees = args.Employees;
    options.Seed = args.Seed;
    demo::WriteDemoInstallation(args.Dir, options);
    const auto settings = demo::DemoSettingsFiles(args.Dir);
    std::cout << "Demo installation written to " << std::filesystem::absolute(args.Dir).string()
              << "\n"
              << "Merge it with:\n";
    for (const auto& ini : settings)
        std::cout << "  peltorn merge --ini " << ini << " --period " << demo::DemoPeriod(options)
                  << "\n";
}

}  // namespace

void RegisterDemoCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<TDemoArgs>();
    auto* cmd =
        app.add_subcommand("demo", "write a demo installation (or summarise one with --summary)");
    cmd->add_option("DIR", args->Dir, "folder of the installation")->required();
    cmd->add_option("--companies", args->Companies, "source companies (at least 3; default 3)");
    cmd->add_option("--employees", args->Employees, "employees per company (default 25)");
    cmd->add_option("--today", args->Today,
                    "the date whose year the payroll covers (YYYY-MM-DD; default today)");
    cmd->add_option("--seed", args->Seed, "seed of the generated data (default 1)");
    cmd->add_flag("--summary", args->Summary,
                  "show the rows per table of every consolidated database");
    cmd->callback([args, &exitCode] {
        exitCode = Guarded([&] {
            if (args->Summary)
                PrintSummary(args->Dir);
            else
                Generate(*args);
        });
    });
}

}  // namespace peltorn::cli
