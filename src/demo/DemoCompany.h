// The contents of one company database of the demo installation: who works there, what they are
// paid month by month, and the master, parameter, report and general-ledger rows around that.
// Demo.cpp lays out the installation and calls these for each company database it creates.
#pragma once

#include "db/Db.h"
#include "demo/Demo.h"

#include <cstdint>
#include <string>

namespace peltorn::demo {

// One source company of the installation. Index counts from 0 in the order of the company codes.
struct TSourceCompany {
    int Index = 0;
    std::string Code;
    std::string Name;
    bool Dictionary = false;
};

// Deterministic numbers for the demo data: splitmix64 over a seed and up to three keys, so that
// an employee's data depends only on the seed, the company, the employee and the month, never
// on the size of the installation or the order in which rows are written.
class TDemoRandom {
public:
    TDemoRandom(std::uint64_t seed, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0);
    std::uint64_t Next();
    // 0 <= value < n (n > 0).
    int Below(int n);
    // lo <= value <= hi.
    int Between(int lo, int hi);
    bool Chance(int percent);

private:
    std::uint64_t m_state;
};

// The employee number of employee index (0-based) of company: "E" + company number (two digits)
// + index + 1 (five digits). Employees shared with the previous company carry that company's
// number (see SharedWithPrevious).
std::string EmployeeCode(const TSourceCompany& company, int index, const TDemoOptions& options);
// Whether employee index of company is the same person as employee index of the company before
// it (each company after the first shares a block of its employees with the one before).
bool SharedWithPrevious(int companyIndex, int index, const TDemoOptions& options);
// The employee who left (STOP_IND "E"): the last of each company.
bool IsStoppedEmployee(int index, const TDemoOptions& options);
// The currency an employee is paid in: "MYR", "SGD" or "USD".
std::string EmployeeCurrency(int index);
// The rate of currency into "MYR" for month (1..12): 1 for "MYR".
double DemoRate(const std::string& currency, int month);

// Fills the tables of a source company database (already created, connection connected) with
// the masters, twelve months of payroll of options.Year, the leave, bank, medical, cost-centre,
// exchange-rate, parameter, report and general-ledger rows. Free tables of the payroll periods
// are encrypted with the free-table password afterwards (not for a dictionary).
void FillSourceCompany(db::TDbConnection& connection, const TSourceCompany& company,
                       const TDemoOptions& options);

// Fills what a consolidated database keeps of its own between merges: the year parameters, the
// report columns that are not allowance columns, the rest-day parameters and the counter.
void FillDestinationCompany(db::TDbConnection& connection, const TDemoOptions& options);

// The period tables that a free-table source keeps encrypted.
const std::vector<std::string>& EncryptedPeriodTables();

}  // namespace peltorn::demo
