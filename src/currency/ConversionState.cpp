// The per-form list of employees left unconverted (see ConversionState.h). Kept beside the form
// rather than in it, since the form's members are shared by every step of the run.
#include "currency/ConversionState.h"

#include "currency/CurrencyTexts.h"

#include <algorithm>
#include <map>
#include <set>

namespace peltorn::currency {

std::vector<TUnconvertedEmployee>& UnconvertedEmployees(const TFormMerge& form) {
    static std::map<const TFormMerge*, std::vector<TUnconvertedEmployee>> lists;
    return lists[&form];
}

bool IsUnconvertedEmployee(const TFormMerge& form, const std::string& empNo,
                           const std::string& period) {
    const auto& list = UnconvertedEmployees(form);
    return std::any_of(list.begin(), list.end(), [&](const TUnconvertedEmployee& e) {
        return e.EmpNo == empNo && e.Period == period;
    });
}

bool IsAllPeriods(const TFormMerge& form) { return form.Controls.EditPeriod == kAllPeriods; }

std::string PayrollRowsCondition(const TFormMerge& form) {
    const bool keepSpecial = form.Controls.chkSPE;
    if (IsAllPeriods(form)) return keepSpecial ? kSqlWhereNotSpecial : "";
    return keepSpecial ? std::string(kSqlWherePeriod) + kSqlAndNotSpecial : kSqlWherePeriod;
}

void SetPayrollRowsParams(const TFormMerge& form, db::TDbQuery& query) {
    if (!IsAllPeriods(form)) query.ParamByName(kParamPeriod).SetAsString(form.Controls.EditPeriod);
}

std::size_t CountUnconvertedEmployees(const TFormMerge& form) {
    std::set<std::string> employees;
    for (const auto& e : UnconvertedEmployees(form)) employees.insert(e.EmpNo);
    return employees.size();
}

}  // namespace peltorn::currency
