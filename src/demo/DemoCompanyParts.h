// What the files that fill a demo company database share: the names of the payroll database the
// rows are written with, the staff of a source company, and what each file writes. DemoCompany.cpp
// holds the entry points of DemoCompany.h and calls the others in turn; DemoPayroll.cpp writes the
// employees, their masters and twelve months of payroll; DemoParameters.cpp writes the parameter,
// report and general-ledger tables. Internal to the demo installation.
#pragma once

#include "demo/DemoCompany.h"
#include "demo/DemoTableWriter.h"

#include <cstdio>
#include <string>
#include <vector>

namespace peltorn::demo {

// ---- names of the payroll database ---------------------------------------------------------

inline constexpr const char* kStdCurr = "MYR";
inline constexpr const char* kCycle = "1";
inline constexpr const char* kTT = "TT";
inline constexpr const char* kPayGroup = "MONTHLY";

// Allowance and deduction codes of every company, in code order; IS_TAX "0" or blank marks a
// credit as non-taxable, is_absent "X" keeps a code out of every sum.
struct TAllowanceCode {
    const char* Code;
    const char* Desc;
    const char* IsTax;
    const char* IsAbsent;
};
inline constexpr TAllowanceCode kAllowanceCodes[] = {
    {"$LOAN", "Staff loan repayment", "0", ""},
    {"@$CLAIM", "Claims reimbursed", "1", ""},
    {"@$PETROL", "Petrol claim (non-taxable)", "0", ""},
    {"ADVANCE", "Salary advance recovery", "0", ""},
    {"BONUS", "Bonus", "1", ""},
    {"MEAL", "Meal allowance", "1", ""},
    {"PCB", "Monthly tax deduction", "0", ""},
    {"TRANSP", "Transport allowance", "1", ""},
    {"UNIFORM", "Uniform issue (memo)", "0", "X"},
    {"ZAKAT", "Zakat", "0", ""},
};
// One code of each company's own: even companies pay housing, odd ones sales incentives.
inline constexpr TAllowanceCode kHousing = {"HOUSING", "Housing allowance", "1", ""};
inline constexpr TAllowanceCode kIncentive = {"INCENT", "Sales incentive", "1", ""};

inline constexpr const char* kCostCentres[] = {"HQ", "KL01", "PG01", "JB01"};
inline constexpr const char* kDepartments[] = {"ADM", "FIN", "SAL", "OPS", "IT"};
inline constexpr const char* kBanks[] = {"MBB", "CIMB", "PBB"};

inline std::string Period(int year, int month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d", year, month);
    return text;
}

inline std::string Year(int year) { return std::to_string(year); }

// ---- the people of a company -----------------------------------------------------------------

enum class TPayMode { Bank, Telegraphic, Cheque, Cash };

struct TEmployee {
    int Index = 0;
    std::string Code;
    std::string Name;
    std::string Currency;
    Cents Basic = 0;  // monthly, in Currency, before the July raise
    bool RaiseInJuly = false;
    bool Stopped = false;
    TPayMode Pay = TPayMode::Bank;
    std::string Bank;
    std::string Account;
    std::string CostCentre;
    std::string Department;
    std::string SplitCostCentre;  // second cost centre (40 %), empty for most
    bool PaysZakat = false;
    bool HasLoan = false;
    bool Voluntary = false;
    bool OnShift = false;
    int JoinYear = 0;
};

// The employee index (0-based) of company, with the personal data that follows the person and
// the pay and placement that belong to the company (DemoPayroll.cpp).
TEmployee MakeEmployee(const TSourceCompany& company, int index, const TDemoOptions& options);

// EMPLOYEE, EMPLOYMT, EMPMISC, EMP_ALW, EMP_BNK, EMP_OTH, EMP_PROS, EMP_CLD and EMPENT for the
// staff (DemoPayroll.cpp).
void WriteMasters(db::TDbConnection& conn, const std::vector<TEmployee>& staff,
                  const TDemoOptions& options);

// Twelve months of payroll of options.Year for the staff: P_HTRX with its detail tables, YTDEMPL,
// BANKTRX, COSTCTR, MEDICAL and the leave records (DemoPayroll.cpp).
void WritePayroll(db::TDbConnection& conn, const TSourceCompany& company,
                  const std::vector<TEmployee>& staff, const TDemoOptions& options);

// The year, pay-group, cycle, code, bank, exchange-rate, allowance and PPARA parameters, the report
// columns and layout, and the general-ledger tables of a source company (DemoParameters.cpp).
void WriteParameterTables(db::TDbConnection& conn, const TSourceCompany& company,
                          const TDemoOptions& options);

}  // namespace peltorn::demo
