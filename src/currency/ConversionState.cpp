// The per-form list of employees left unconverted (see ConversionState.h). Kept beside the form
// rather than in it, since the form's members are shared by every step of the run.
#include "currency/ConversionState.h"

#include <algorithm>
#include <map>
#include <set>

namespace peltorn::currency {

std::vector<TUnconvertedEmployee>& UnconvertedEmployees(const TFormMerge& form) {
    static std::map<const TFormMerge*, std::vector<TUnconvertedEmployee>> lists;
    return lists[&form];
}

bool IsUnconvertedEmployee(const TFormMerge& form, const std::string& empNo) {
    const auto& list = UnconvertedEmployees(form);
    return std::any_of(list.begin(), list.end(),
                       [&](const TUnconvertedEmployee& e) { return e.EmpNo == empNo; });
}

std::size_t CountUnconvertedEmployees(const TFormMerge& form) {
    std::set<std::string> employees;
    for (const auto& e : UnconvertedEmployees(form)) employees.insert(e.EmpNo);
    return employees.size();
}

}  // namespace peltorn::currency
