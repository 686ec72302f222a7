// The demo installation: a complete, self-consistent installation written into one folder, with
// settings files, main databases, source companies of both database layouts, consolidated
// destinations and merge groups, and a year of payroll in every table the merge run reads. The
// command-line tool writes it for a first look at the program (`peltorn demo`), the tests and the
// benchmarks build their installations with it. What the installation holds is described at the
// top of Demo.cpp.
#pragma once

#include <string>
#include <vector>

namespace peltorn::demo {

// Size, year and seed of a demo installation. Companies counts the source companies (at least 3:
// the last one is a data dictionary, the others folders of free tables); Employees the employees
// of each. Year and Month are "today" (the payroll covers the twelve months of Year; Month names
// the period the printed merge command uses); 0 takes them from the machine's date. The same
// options always give the same data.
struct TDemoOptions {
    int Companies = 3;
    int Employees = 25;
    int Year = 0;
    int Month = 0;
    unsigned Seed = 1;
};

// Options with Year and Month taken from the machine's date.
TDemoOptions DemoOptionsForToday();

// Writes the installation into dir (created when missing; it must not hold an installation
// already, i.e. no ORVEX.ini). Raises std::invalid_argument for options out of range (fewer than
// 3 companies or 1 employee, more than 99 companies or 99999 employees, a month outside 1..12, a
// year outside 1900..9999, after 0 has been replaced by today's) and std::runtime_error when dir
// already holds an installation; database errors pass through. A failure leaves the part written so
// far.
void WriteDemoInstallation(const std::string& dir, const TDemoOptions& options);

// The settings files of an installation written by WriteDemoInstallation: the free-table layout
// (dir/ORVEX.ini) first, then the data-dictionary layout (dir/dictionary-layout/ORVEX.ini).
std::vector<std::string> DemoSettingsFiles(const std::string& dir);

// The period text (yyyyMM) of the options' Year and Month (0: today's).
std::string DemoPeriod(const TDemoOptions& options);

// Rows per table of one database of an installation.
struct TDemoTableCount {
    std::string Table;
    int Rows = 0;
};
struct TDemoDatabaseSummary {
    std::string Code;  // company code, e.g. "#GRP1"
    std::string Path;  // the database's path (folder of free tables or .ADD file)
    std::vector<TDemoTableCount> Tables;  // every table of the database, sorted by name
};

// The consolidated (destination) databases of the installation in dir, in the order of the
// settings files and then of the group numbers, with the rows of each table. Opens encrypted free
// tables with the free-table password and dictionaries as ADSSYS with the password their version
// mark calls for. Raises the database layer's errors (a missing database, a refused sign-on).
std::vector<TDemoDatabaseSummary> SummariseDemoDestinations(const std::string& dir);

}  // namespace peltorn::demo
