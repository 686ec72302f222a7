// What the currency conversion of one group remembers between its steps, beyond the main
// window's own fields: the employees whose pay currency had no rate for the period. Their
// payroll is left in that currency (header, detail rows and bank transactions as copied), and the
// final stamp leaves their pay currency on them, so that nothing in the destination claims they
// are paid in the standard currency.
//
// ConvertCurrency starts the list afresh for every group; StampEmployeeCurrency uses it and
// empties it.
#pragma once

#include "startup/FormMerge.h"

#include <cstddef>
#include <string>
#include <vector>

namespace peltorn::currency {

struct TUnconvertedEmployee {
    std::string EmpNo;
    std::string FcurrCode;      // the pay currency that had no rate
    std::string LocalCurrCode;  // LOCAL_CURR_CODE of the employee's record
    std::string Period;         // the period whose payroll stayed unconverted
};

// The list of the form's group being converted.
std::vector<TUnconvertedEmployee>& UnconvertedEmployees(const TFormMerge& form);
bool IsUnconvertedEmployee(const TFormMerge& form, const std::string& empNo,
                           const std::string& period);

// The payroll rows the conversion and the bank rebuild work on, as the tail of a statement on
// P_HTRX: the period of EditPeriod (its parameter "period"), or every period for "999999";
// without cycle "S" when "Exclude Special record" keeps that cycle out of the run.
std::string PayrollRowsCondition(const TFormMerge& form);
void SetPayrollRowsParams(const TFormMerge& form, db::TDbQuery& query);
bool IsAllPeriods(const TFormMerge& form);
// Distinct employees of the list.
std::size_t CountUnconvertedEmployees(const TFormMerge& form);

}  // namespace peltorn::currency
