// The cost-centre rebuild of a destination. Once the sources of a merge group are transferred and
// converted, the destination's distribution table COSTCTR no longer matches the merged employee
// master; it is made afresh from EMPLOYEE: every employee gets one row for each month of the
// merged year that charges 100 percent of the employee to the cost centre and department
// recorded on the employee.
//
// The run calls it once per group, after the currency conversion and before the allowance
// report columns. It works on the destination connection only, shows one progress message per
// employee and stops before the next employee when the operator confirms Esc in the progress
// window; the employees not yet reached then get no rows for the year.
#include "rebuild/Rebuilds.h"

#include "signon/Credentials.h"
#include "support/StrUtil.h"

#include <cctype>
#include <stdexcept>
#include <string>

namespace peltorn::rebuild {

namespace {

// Deliberately a fixed cut-off, whatever year is merged: every distribution row from January
// 2007 on is dropped and only the merged year is written back. Rows before 2007 are kept, so
// merging a year before 2007 only updates the matching rows of that year.
constexpr const char* kDeleteStatement = "DELETE FROM COSTCTR WHERE PERIOD>='200701' ";
constexpr const char* kCostTable = "COSTCTR";
constexpr const char* kProgressMessage = "Process Emp# ";
constexpr int kProgressRange = 10;
constexpr int kMonthsPerYear = 12;
constexpr double kFullShare = 100.0;

// EMPLOYEE.
constexpr const char* kEmpNo = "EMP_NO";
constexpr const char* kEmpCostCentre = "COST_CENTRE_CODE";
constexpr const char* kEmpDepartment = "DEPARTMENT_CODE";
// COSTCTR; the cost centre and the share are addressed as the payroll programs write them.
constexpr const char* kCostEmpCode = "EMPCODE";
constexpr const char* kCostPeriod = "PERIOD";
constexpr const char* kCostCentre = "cost_CENTRE";
constexpr const char* kCostDepartment = "DEPARTMENT";
constexpr const char* kCostPercent = "percent";

constexpr const char* kAllPeriods = "999999";
constexpr const char* kAllPeriodsSkipped = "Cost centres are not rebuilt for all periods";
constexpr const char* kInvalidYear = "Invalid period for the cost-centre rebuild: ";

bool IsFourDigitYear(const std::string& year) {
    if (year.size() != 4) return false;
    for (unsigned char c : year) {
        if (!std::isdigit(c)) return false;
    }
    return true;
}

// The merged year: the first four characters of the period text.
std::string MergedYear(const TFormMerge& form) {
    return support::SubStr(form.Controls.EditPeriod, 1, 4);
}

// Period of month 1..12 of year: months 1 to 9 with a leading zero.
std::string PeriodOfMonth(const std::string& year, int month) {
    return year + (month < 10 ? "0" : "") + std::to_string(month);
}

// Writes the twelve rows of the current employee of TableEmp.
// The employee is held in edit state and none of its fields changes meanwhile, so its cost centre
// and department are read once for its twelve rows.
void WriteEmployeeYear(TFormMerge& form, const std::string& empNo) {
    db::TDbTable& cost = form.DbTableCost;
    db::TDbTable& emp = form.TableEmp;
    const std::string year = MergedYear(form);
    const std::string costCentre = emp.FieldByName(kEmpCostCentre).AsString();
    const std::string department = emp.FieldByName(kEmpDepartment).AsString();
    run::TGroupAccount* group = form.GroupBeingMerged();
    for (int month = 1; month <= kMonthsPerYear; ++month) {
        const std::string period = PeriodOfMonth(year, month);
        if (cost.FindKey({empNo, period, costCentre})) {
            // A row of this employee, month and cost centre survives only for years before the
            // cut-off; it keeps its department.
            cost.Edit();
        } else {
            cost.Append();
            cost.FieldByName(kCostEmpCode).SetAsString(empNo);
            cost.FieldByName(kCostPeriod).SetAsString(period);
            cost.FieldByName(kCostCentre).SetAsString(costCentre);
            cost.FieldByName(kCostDepartment).SetAsString(department);
        }
        cost.FieldByName(kCostPercent).SetAsFloat(kFullShare);
        cost.Post();
        if (group) ++group->Rebuilds.CostCentreRows;
    }
}

}  // namespace

// Contract: dbDest names the destination of the current group and Controls.EditPeriod holds the
// merged period. Leaves COSTCTR and EMPLOYEE open (at their end, or at the employee where a stop
// request ended the loop) and DbQueryCost holding the delete statement. Raises the database
// layer's error for a failing statement, edit or post (rows written before it stay), and
// std::runtime_error, before anything is changed, when the period does not begin with a year.
void RebuildCostCentres(TFormMerge& form) {
    // "999999" merges every period: there is no one year to rebuild, and the distribution rows
    // the sources hold for their periods were transferred as they are.
    if (form.Controls.EditPeriod == kAllPeriods) {
        form.Controls.Memo1.push_back(kAllPeriodsSkipped);
        return;
    }
    // A period whose front is not a year would fill the table with rows of nonsense periods after
    // the delete has emptied it, so it is refused before anything changes.
    if (!IsFourDigitYear(MergedYear(form))) {
        throw std::runtime_error(kInvalidYear + form.Controls.EditPeriod);
    }

    // COSTCTR of a folder of free tables is normally plain; should an installation keep it
    // encrypted, it carries the free-table password like the other payroll tables. A password
    // given for a plain table is not used, so plain tables stay plain.
    const bool freeTables = !form.dbDest.IsDictionaryConn();

    db::TDbQuery& query = form.DbQueryCost;
    query.Close();
    query.SQL().Clear();
    query.SQL().Add(kDeleteStatement);
    if (freeTables) query.SetTablePassword(kCostTable, signon::kFreeTablePassword);
    query.ExecSQL();

    db::TDbTable& cost = form.DbTableCost;
    cost.Close();
    cost.EncryptionPassword = freeTables ? signon::kFreeTablePassword : "";
    cost.Open();

    // The after-open handler of TableEmp enables the free-table password on EMPLOYEE.
    db::TDbTable& emp = form.TableEmp;
    emp.Close();
    emp.Open();

    while (!emp.Eof() && form.FormMsg.StepProgress()) {
        // The employee is held in edit state while its rows are written, so that nobody changes
        // its cost centre meanwhile; none of its fields is changed, and nothing of it is written.
        emp.Edit();
        const std::string empNo = emp.FieldByName(kEmpNo).AsString();
        WriteEmployeeYear(form, empNo);
        emp.Cancel();
        emp.Next();
        form.FormMsg.ShowProgress(kProgressRange, kProgressMessage + empNo);
    }
}

}  // namespace peltorn::rebuild
