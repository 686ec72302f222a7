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
    std::string LocalCurrCode;  // LOCAL_CURR_CODE of the destination's EMPLOYEE row
};

// The list of the form's group being converted.
std::vector<TUnconvertedEmployee>& UnconvertedEmployees(const TFormMerge& form);
bool IsUnconvertedEmployee(const TFormMerge& form, const std::string& empNo);
// Distinct employees of the list.
std::size_t CountUnconvertedEmployees(const TFormMerge& form);

}  // namespace peltorn::currency
