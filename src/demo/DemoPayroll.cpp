// The employees of a demo source company and what they are paid. Every employee gets twelve
// months of payroll whose header totals follow from the detail rows by the same rules with which
// the merge recomputes them, so that merging an employee paid in the standard currency leaves the
// header as it was; employees paid in other currencies carry their amounts in that currency, the
// statutory amounts (AMOUNT2, the S_ fields of the header) in the standard currency, and claims in
// a third currency where the conversion has to look up another rate. The masters and the leave
// records get their named key fields set and every other field filled with plain, deterministic
// values by type.
#include "demo/DemoCompanyParts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace peltorn::demo {

using db::TDbConnection;

namespace {

constexpr const char* kStopped = "E";
constexpr const char* kClinics[] = {"Klinik Kesihatan Bangsar", "Poliklinik Damansara",
                                    "Klinik Medivest"};
constexpr const char* kFirstNames[] = {"Aisyah", "Ahmad",   "Mei Ling", "Ravi",
                                       "Siti",   "Wei Jie", "Priya",    "Hafiz",
                                       "Nurul",  "Kok Wai", "Lakshmi",  "Daniel"};
constexpr const char* kLastNames[] = {"Abdullah", "Tan",    "Lim", "Kumar", "Ismail", "Wong",
                                      "Nair",     "Rahman", "Lee", "Chong", "Hassan", "Fernandez"};

Cents Percent(Cents amount, double percent) {
    return std::llround(static_cast<double>(amount) * percent / 100.0);
}

std::string Month2(int month) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", month);
    return text;
}

// FNV-1a of a text: a key that is the same on every machine, unlike std::hash.
std::uint64_t TextKey(std::string_view text) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
    return h;
}

}  // namespace

// ---- the people of a company -----------------------------------------------------------------

TEmployee MakeEmployee(const TSourceCompany& company, int index, const TDemoOptions& options) {
    TEmployee e;
    e.Index = index;
    e.Code = EmployeeCode(company, index, options);
    // Personal data follows the person (the code), so an employee of two companies keeps them.
    TDemoRandom person(options.Seed, TextKey(e.Code), 1);
    e.Name = std::string(kFirstNames[person.Below(12)]) + " " + kLastNames[person.Below(12)];
    e.Currency = EmployeeCurrency(index);
    e.PaysZakat = index % 4 == 2;
    e.JoinYear = options.Year - 1 - person.Below(12);
    // Pay and placement belong to the company.
    TDemoRandom r(options.Seed, static_cast<std::uint64_t>(company.Index) + 1,
                  static_cast<std::uint64_t>(index) + 1, 2);
    if (e.Currency == "SGD")
        e.Basic = 100 * r.Between(3000, 9000);
    else if (e.Currency == "USD")
        e.Basic = 100 * r.Between(2500, 7000);
    else
        e.Basic = 100 * r.Between(2200, 12000);
    e.RaiseInJuly = index % 3 == 0;
    e.Stopped = IsStoppedEmployee(index, options);
    if (index % 11 == 10)
        e.Pay = TPayMode::Cash;
    else if (index % 13 == 12)
        e.Pay = TPayMode::Cheque;
    else if (index % 6 == 5)
        e.Pay = TPayMode::Telegraphic;
    e.Bank = kBanks[r.Below(3)];
    char account[24];
    std::snprintf(account, sizeof account, "%02d%010d", company.Index + 1,
                  r.Between(1000000, 999999999));
    e.Account = account;
    e.CostCentre = kCostCentres[(index + company.Index) % 4];
    e.Department = kDepartments[r.Below(5)];
    if (index % 8 == 6) e.SplitCostCentre = kCostCentres[(index + company.Index + 1) % 4];
    e.HasLoan = index % 5 == 1;
    e.Voluntary = index % 9 == 4;
    e.OnShift = index % 4 == 1;
    return e;
}

namespace {

Cents BasicFor(const TEmployee& e, int month) {
    return e.RaiseInJuly && month >= 7 ? Percent(e.Basic, 105) : e.Basic;
}

// Whether the employee is paid in month: the one who left is paid up to the current month.
bool PaidIn(const TEmployee& e, int month, const TDemoOptions& options) {
    return !e.Stopped || month <= options.Month;
}

// ---- one month's payslip ---------------------------------------------------------------------

struct TAllowanceRow {
    std::string Code;
    Cents Amount = 0;      // in the employee's currency
    Cents Amount2 = 0;     // statutory codes of a foreign employee: the amount in MYR
    std::string CurrCode;  // currency of FAmount; empty = the employee's own
    Cents FAmount = 0;
    double ExRate = 0;
};

struct TDetailRow {
    std::string Type;
    int Count = 0;  // hours or days
    Cents Amount = 0;
};

struct TBankRow {
    std::string BankId;
    std::string Currency;
    Cents Amount = 0;
    Cents Split = 0;
};

struct TPayslip {
    Cents Basic = 0;
    std::vector<TAllowanceRow> Allowances;
    std::vector<TDetailRow> Overtime, Shift, RestDay, NoPayHours, NoPayDays, Absent, Leave;
    double OtFactor = 1.5;
    double NoPayDayCount = 0;
    double LeaveDays = 0;
    // Sums as the merge forms them from the allowance rows.
    Cents AllowanceSum = 0, DeductionSum = 0, BonusSum = 0, GrossOnlySum = 0, NettOnlySum = 0;
    Cents NoPay = 0, OtAmt = 0, ShiftAmt = 0, RestAmt = 0;
    Cents CpfWage = 0, CpfEe = 0, CpfEr = 0, SocsoWage = 0, Socso = 0, ErSocso = 0;
    Cents EisWage = 0, Eis = 0, ErEis = 0, Volun = 0, Sdf = 0, Fwl = 0;
    Cents Gross = 0, Nett = 0;
    std::vector<TBankRow> BankRows;
};

bool IsNonTaxableCredit(const std::string& code) {
    if (code.rfind("@$", 0) != 0) return false;
    for (const auto& a : kAllowanceCodes)
        if (code == a.Code) return std::string(a.IsTax).empty() || std::string(a.IsTax) == "0";
    return false;
}

bool IsAbsentCode(const std::string& code) {
    for (const auto& a : kAllowanceCodes)
        if (code == a.Code) return std::string(a.IsAbsent) == "X";
    return false;
}

// Sorts the allowance rows into the sums exactly as the merge's recomputation does.
void SortAllowances(TPayslip& p) {
    for (const auto& row : p.Allowances) {
        const std::string& code = row.Code;
        Cents amount = row.Amount;
        if (code.rfind("BONU", 0) == 0)
            p.BonusSum += amount;
        else if (amount > 0 && IsNonTaxableCredit(code))
            p.GrossOnlySum -= amount;
        else if (IsAbsentCode(code))
            continue;
        else if (code.rfind("@$", 0) == 0)
            p.NettOnlySum += amount;
        else if (amount > 0)
            p.AllowanceSum += amount;
        else {
            if (code != "PCB") p.DeductionSum += amount;
            if (code[0] == '$') p.GrossOnlySum += amount;
        }
    }
}

Cents ToMyr(Cents amount, const std::string& currency, int month) {
    return std::llround(static_cast<double>(amount) * DemoRate(currency, month));
}

TPayslip MakePayslip(const TEmployee& e, const TSourceCompany& company, int month,
                     const TDemoOptions& options) {
    TPayslip p;
    TDemoRandom r(options.Seed, static_cast<std::uint64_t>(company.Index) + 1,
                  static_cast<std::uint64_t>(e.Index) + 1, 100 + static_cast<std::uint64_t>(month));
    const bool foreign = e.Currency != kStdCurr;
    p.Basic = BasicFor(e, month);
    const Cents daily = p.Basic / 26;
    const Cents hourly = daily / 8;

    if (r.Chance(50)) {
        int hours = r.Between(2, 20);
        p.Overtime.push_back(
            {"OT15", hours, std::llround(static_cast<double>(hourly) * 1.5 * hours)});
    }
    if (e.OnShift) {
        int days = r.Between(5, 20);
        p.Shift.push_back({"N", days, 1000LL * days});
    }
    if (r.Chance(20)) {
        int days = r.Between(1, 2);
        p.RestDay.push_back({"RD", days, 2 * daily * days});
    }
    if (r.Chance(10)) {
        int hours = r.Between(1, 8);
        p.NoPayHours.push_back({"NPH", hours, -hourly * hours});
    }
    if (r.Chance(8)) {
        int days = r.Between(1, 3);
        p.NoPayDays.push_back({"NPL", days, -daily * days});
        p.NoPayDayCount = days;
    }
    if (r.Chance(5)) p.Absent.push_back({"ABS", 1, -daily});
    if (r.Chance(15)) {
        int days = r.Between(1, 3);
        p.Leave.push_back({"AL", days, daily * days});
        p.LeaveDays = days;
    }

    auto add = [&p](TAllowanceRow row) { p.Allowances.push_back(std::move(row)); };
    add({"TRANSP", 20000, 0, "", 0, 0});
    if (r.Chance(50)) add({"MEAL", 100LL * r.Between(80, 150), 0, "", 0, 0});
    if (r.Chance(30))
        add({company.Index % 2 == 0 ? kHousing.Code : kIncentive.Code, 100LL * r.Between(200, 800),
             0, "", 0, 0});
    if (month == 12)
        add({"BONUS", p.Basic, 0, "", 0, 0});
    else if (month == 6 && r.Chance(50))
        add({"BONUS", p.Basic / 2, 0, "", 0, 0});
    if (r.Chance(40)) add({"@$PETROL", 100LL * r.Between(50, 300), 0, "", 0, 0});
    if (r.Chance(25)) {
        // Claims: foreign staff claim in ringgit, local staff now and then in Singapore dollars,
        // and staff paid in SGD also in US dollars (a third currency for the conversion).
        Cents claim = 100LL * r.Between(20, 500);
        if (foreign && e.Currency == "SGD" && r.Chance(50)) {
            double rate = DemoRate("USD", month) / DemoRate("SGD", month);
            add({"@$CLAIM", std::llround(static_cast<double>(claim) * rate), 0, "USD", claim, 0});
        } else if (foreign) {
            double rate = DemoRate(e.Currency, month);
            add({"@$CLAIM", std::llround(static_cast<double>(claim) / rate), 0, kStdCurr, claim,
                 rate});
        } else if (r.Chance(30)) {
            add({"@$CLAIM", ToMyr(claim, "SGD", month), 0, "SGD", claim, DemoRate("SGD", month)});
        } else {
            add({"@$CLAIM", claim, 0, "", 0, 0});
        }
    }
    if (e.HasLoan) add({"$LOAN", -30000, 0, "", 0, 0});
    if (r.Chance(10)) add({"ADVANCE", -100LL * r.Between(100, 500), 0, "", 0, 0});
    if (month == 1) add({"UNIFORM", -5000, 0, "", 0, 0});

    for (const auto* rows : {&p.NoPayHours, &p.NoPayDays, &p.Absent})
        for (const auto& d : *rows) p.NoPay += d.Amount;
    for (const auto& d : p.Overtime) p.OtAmt += d.Amount;
    for (const auto& d : p.Shift) p.ShiftAmt += d.Amount;
    for (const auto& d : p.RestDay) p.RestAmt += d.Amount;

    // Statutory contributions on the ordinary pay, in the employee's currency.
    Cents ordinary = p.Basic + p.NoPay + p.OtAmt + p.ShiftAmt + p.RestAmt;
    for (const auto& a : p.Allowances)
        if (a.Amount > 0 && a.Code.rfind("@$", 0) != 0 && a.Code != "BONUS" &&
            !IsAbsentCode(a.Code))
            ordinary += a.Amount;
    p.CpfWage = ordinary;
    p.CpfEe = -Percent(ordinary, 11);
    p.CpfEr = Percent(ordinary, 13);
    p.SocsoWage = std::min<Cents>(ordinary, 600000);
    p.Socso = -Percent(p.SocsoWage, 0.5);
    p.ErSocso = Percent(p.SocsoWage, 1.75);
    p.EisWage = p.SocsoWage;
    p.Eis = -Percent(p.EisWage, 0.2);
    p.ErEis = Percent(p.EisWage, 0.2);
    p.Volun = e.Voluntary ? -20000 : 0;
    if (foreign) {
        p.Fwl = std::llround(41000.0 / DemoRate(e.Currency, month));
        if (e.Currency == "SGD") p.Sdf = Percent(std::min<Cents>(p.Basic, 450000), 0.25);
    }

    // Tax and zakat: a foreign employee's statutory amount is fixed in ringgit (AMOUNT2).
    Cents taxable = ordinary + (month == 12 ? p.Basic : 0);
    Cents pcb = taxable > 300000 ? -Percent(taxable - 300000, 8) : 0;
    if (pcb != 0) add({"PCB", pcb, foreign ? ToMyr(pcb, e.Currency, month) : 0, "", 0, 0});
    if (e.PaysZakat) add({"ZAKAT", -5000, foreign ? ToMyr(-5000, e.Currency, month) : 0, "", 0, 0});

    SortAllowances(p);
    p.Gross = p.Basic + p.NoPay + p.OtAmt + p.ShiftAmt + p.GrossOnlySum + p.BonusSum +
              p.AllowanceSum + p.RestAmt;
    p.Nett = p.Basic + p.NoPay + p.OtAmt + p.ShiftAmt + p.BonusSum + p.AllowanceSum + p.RestAmt +
             p.NettOnlySum + p.DeductionSum + p.CpfEe + p.Socso + p.Eis + p.Volun;

    switch (e.Pay) {
        case TPayMode::Bank: p.BankRows.push_back({e.Bank, e.Currency, p.Nett, 0}); break;
        case TPayMode::Telegraphic: {
            // A fixed part stays in a local account in ringgit; the rest is remitted by "TT".
            Cents local = foreign ? std::llround(50000.0 / DemoRate(e.Currency, month)) : 50000;
            p.BankRows.push_back({e.Bank, kStdCurr, 50000, 50000});
            p.BankRows.push_back({kTT, e.Currency, p.Nett - local, 0});
            break;
        }
        case TPayMode::Cheque:
        case TPayMode::Cash: break;
    }
    return p;
}

// ---- the tables --------------------------------------------------------------------------------

void WriteHeader(TTableWriter& t, const TEmployee& e, const TPayslip& p, const std::string& period,
                 int year, int month) {
    const bool foreign = e.Currency != kStdCurr;
    auto myr = [&](Cents c) { return foreign ? ToMyr(c, e.Currency, month) : c; };
    t.Row()
        .Text("EMPCODE", e.Code)
        .Text("PERIOD", period)
        .Text("CYCLE", kCycle)
        .Float("PAYDAY", 26)
        .Float("WORKDAY", 26)
        .Date("PAY_DATE", year, month, 25)
        .Float("NPL_DAY", p.NoPayDayCount)
        .Float("ABSENT_DAY", static_cast<double>(p.Absent.size()))
        .Float("ANLV_CUR", p.LeaveDays)
        .Money("BASIC", p.Basic)
        .Money("TOTAL_NPL", p.NoPay)
        .Money("OTAMT", p.OtAmt)
        .Money("SHIFTAMT", p.ShiftAmt)
        .Money("RESTAMT", p.RestAmt)
        .Money("TOTAL_ALLOWANCE", p.AllowanceSum)
        .Money("TOTAL_DEDUCTION", p.DeductionSum)
        .Money("GROSS_WAGE", p.Gross)
        .Money("NETT_WAGE", p.Nett)
        .Money("BANKAMT", e.Pay == TPayMode::Bank || e.Pay == TPayMode::Telegraphic ? p.Nett : 0)
        .Money("CHEQAMT", e.Pay == TPayMode::Cheque ? p.Nett : 0)
        .Money("CASHAMT", e.Pay == TPayMode::Cash ? p.Nett : 0)
        .Money("CPF_WAGE", p.CpfWage)
        .Money("CPFEMPEE", p.CpfEe)
        .Money("CPFEMPER", p.CpfEr)
        .Money("TOTAL_CPF", std::llabs(p.CpfEe) + std::llabs(p.CpfEr))
        .Money("SOCSO_WAGE", p.SocsoWage)
        .Money("SOCSO", p.Socso)
        .Money("ERSOCSO", p.ErSocso)
        .Money("EIS_WAGE", p.EisWage)
        .Money("EIS", p.Eis)
        .Money("EREIS", p.ErEis)
        .Money("TOTAL_EIS", std::llabs(p.Eis) + p.ErEis)
        .Money("VOLUN", p.Volun)
        .Money("ERVOLUN", 0)
        .Money("SCP_WAGE", 0)
        .Money("SCP_ER", 0)
        .Money("SCP_EE", 0)
        .Money("TOTAL_SCP", 0)
        .Money("SDF", p.Sdf)
        .Money("FWL", p.Fwl)
        // The statutory amounts in ringgit, which the merge takes instead of converting.
        .Money("S_CPFWAGE", myr(p.CpfWage))
        .Money("S_CPFEMPEE", myr(p.CpfEe))
        .Money("S_CPFEMPER", myr(p.CpfEr))
        .Money("S_SOCSO", myr(p.Socso))
        .Money("S_ERSOCSO", myr(p.ErSocso))
        .Money("S_EIS_WAGE", myr(p.EisWage))
        .Money("S_EIS", myr(p.Eis))
        .Money("S_EREIS", myr(p.ErEis))
        .Money("S_VOLUN", myr(p.Volun))
        .Money("S_ERVOLUN", 0)
        .Money("S_SCP_ER", 0)
        .Money("S_SCP_EE", 0)
        .Money("S_SDF", myr(p.Sdf))
        .Money("S_FWL", myr(p.Fwl))
        .Post();
}

struct TCompanyTables {
    TCompanyTables(TDbConnection& c, int year)
        : Htrx(c, "P_HTRX", year),
          Aw(c, "P_DTRXAW", year),
          Ot(c, "P_DTRXOT", year),
          Sf(c, "P_DTRXSF", year),
          Rd(c, "P_DTRXRD", year),
          Nh(c, "P_DTRXNH", year),
          Nd(c, "P_DTRXND", year),
          As(c, "P_DTRXAS", year),
          Lv(c, "P_DTRXLV", year),
          Ytd(c, "YTDEMPL", year),
          Bank(c, "BANKTRX", year),
          Cost(c, "COSTCTR", year),
          Medical(c, "MEDICAL", year),
          EmpLeave(c, "EMPLEAVE", year),
          LvTx(c, "EMP_LVTX", year),
          LeavTrx(c, "LEAV_TRX", year) {}
    TTableWriter Htrx, Aw, Ot, Sf, Rd, Nh, Nd, As, Lv, Ytd, Bank, Cost, Medical, EmpLeave, LvTx,
        LeavTrx;
};

void WriteDetail(TTableWriter& t, const TEmployee& e, const std::string& period,
                 const std::vector<TDetailRow>& rows, const char* typeField, const char* countField,
                 const char* amountField) {
    for (const auto& d : rows) {
        t.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("CYCLE", kCycle)
            .Text(typeField, d.Type)
            .Float(countField, d.Count)
            .Money(amountField, d.Amount)
            .Money("RATE", d.Count == 0 ? 0 : std::llabs(d.Amount) / d.Count);
        t.Post();
    }
}

struct TYearToDate {
    Cents Gross = 0, Cpf = 0, Socso = 0, Eis = 0, Tax = 0;
};

void WriteMonth(TCompanyTables& t, const TEmployee& e, const TPayslip& p, int year, int month,
                TYearToDate& ytd, int& leaveId) {
    const std::string period = Period(year, month);
    WriteHeader(t.Htrx, e, p, period, year, month);
    for (const auto& a : p.Allowances) {
        t.Aw.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("CYCLE", kCycle)
            .Text("ALLW_DED_CODE", a.Code)
            .Money("AMOUNT", a.Amount);
        if (a.Amount2 != 0) t.Aw.Money("AMOUNT2", a.Amount2);
        if (!a.CurrCode.empty()) t.Aw.Text("CURR_CODE", a.CurrCode).Money("FAMOUNT", a.FAmount);
        if (a.ExRate != 0) t.Aw.Float("EX_RATE", a.ExRate);
        t.Aw.Post();
    }
    for (const auto& d : p.Overtime) {
        t.Ot.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("CYCLE", kCycle)
            .Text("OTTYPE", d.Type)
            .Float("OTHRS", d.Count)
            .Float("OTFACTOR", p.OtFactor)
            .Money("RATE", d.Count == 0 ? 0 : d.Amount / d.Count)
            .Money("OTAMT", d.Amount);
        t.Ot.Post();
    }
    for (const auto& d : p.Shift) {
        t.Sf.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("CYCLE", kCycle)
            .Text("SHIFT_STATUS", d.Type)
            .Float("SHIFT_NO", 1)
            .Float("DAY", d.Count)
            .Money("RATE", 1000)
            .Money("SHIFTAMT", d.Amount);
        t.Sf.Post();
    }
    WriteDetail(t.Rd, e, period, p.RestDay, "RESTDAY_TYPE", "DAY", "AMOUNT");
    WriteDetail(t.Nh, e, period, p.NoPayHours, "NPL_HOUR_TYPE", "HOUR", "AMOUNT");
    WriteDetail(t.Nd, e, period, p.NoPayDays, "NPL_DAY_TYPE", "DAY", "AMOUNT");
    WriteDetail(t.As, e, period, p.Absent, "ABSENT_TYPE", "DAY", "AMOUNT");
    for (const auto& d : p.Leave) {
        t.Lv.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("CYCLE", kCycle)
            .Text("ALLW_DED_CODE", d.Type)
            .Text("LEAVE_CODE", d.Type)
            .Float("DAY", d.Count)
            .Float("FREQUENCY", 1)
            .Money("AMOUNT", d.Amount);
        t.Lv.Post();
        // The same leave in the leave records: the application, the month's total, the days.
        t.EmpLeave.Row(true)
            .Text("EMPCODE", e.Code)
            .Date("START_DATE", year, month, 3)
            .Text("LEAVE_CODE", d.Type)
            .Int("ID", ++leaveId)
            .Date("END_DATE", year, month, 2 + d.Count)
            .Float("DAYS", d.Count)
            .Text("REMARK", "Annual leave");
        t.EmpLeave.Post();
        t.LvTx.Row(true)
            .Text("FIN_PERIOD", Year(year))
            .Text("EMPCODE", e.Code)
            .Text("LEAVE_CODE", d.Type)
            .Text("YEAR", Year(year))
            .Text("MONTH", Month2(month))
            .Float("DAYS", d.Count);
        t.LvTx.Post();
        for (int day = 0; day < d.Count; ++day) {
            t.LeavTrx.Row(true)
                .Text("LEAVE_CODE", d.Type)
                .Text("EMPCODE", e.Code)
                .Date("DATE", year, month, 3 + day)
                .Float("DAYS", 1);
            t.LeavTrx.Post();
        }
    }
    ytd.Gross += p.Gross;
    ytd.Cpf += p.CpfEe;
    ytd.Socso += p.Socso;
    ytd.Eis += p.Eis;
    for (const auto& a : p.Allowances)
        if (a.Code == "PCB") ytd.Tax += a.Amount;
    t.Ytd.Row()
        .Text("EMPCODE", e.Code)
        .Text("PERIOD", period)
        .Text("CYCLE", kCycle)
        .Money("YTD_GROSS", ytd.Gross)
        .Money("YTD_CPF", ytd.Cpf)
        .Money("YTD_SOCSO", ytd.Socso)
        .Money("YTD_EIS", ytd.Eis)
        .Money("YTD_TAX", ytd.Tax);
    t.Ytd.Post();
    for (const auto& b : p.BankRows) {
        t.Bank.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("CYCLE", kCycle)
            .Text("BANK_ID", b.BankId)
            .Text("BANK_BRANCH", b.BankId == kTT ? "REMIT" : "KL MAIN")
            .Text("BANK_AC_NO", b.BankId == kTT ? "TT" + e.Account : e.Account)
            .Text("CURR_CODE", b.Currency)
            .Money("BANK_AMT", b.Amount)
            .Money("TRAN_AMT", b.Amount)
            .Money("SPLIT_AMT", b.Split)
            .Date("PAY_DATE", year, month, 25);
        t.Bank.Post();
    }
    auto cost = [&](const std::string& centre, double percent) {
        t.Cost.Row()
            .Text("EMPCODE", e.Code)
            .Text("PERIOD", period)
            .Text("COST_CENTRE", centre)
            .Text("DEPARTMENT", e.Department)
            .Float("PERCENT", percent);
        t.Cost.Post();
    };
    if (e.SplitCostCentre.empty()) {
        cost(e.CostCentre, 100);
    } else {
        cost(e.CostCentre, 60);
        cost(e.SplitCostCentre, 40);
    }
}

}  // namespace

void WriteMasters(TDbConnection& conn, const std::vector<TEmployee>& staff,
                  const TDemoOptions& options) {
    const int year = options.Year;
    TTableWriter emp(conn, "EMPLOYEE", year), employmt(conn, "EMPLOYMT", year),
        misc(conn, "EMPMISC", year), alw(conn, "EMP_ALW", year), bnk(conn, "EMP_BNK", year),
        oth(conn, "EMP_OTH", year), pros(conn, "EMP_PROS", year), cld(conn, "EMP_CLD", year),
        ent(conn, "EMPENT", year);
    for (const auto& e : staff) {
        emp.Row(true)
            .Text("EMP_NO", e.Code)
            .Text("NAME", e.Name)
            .Text("PAY_GROUP", kPayGroup)
            .Money("BASIC_RATE", e.Basic)
            .Text("STOP_IND", e.Stopped ? kStopped : "")
            .Text("FCURR_CODE", e.Currency)
            .Text("LOCAL_CURR_CODE", e.Currency)
            .Text("COST_CENTRE_CODE", e.CostCentre)
            .Text("DEPARTMENT_CODE", e.Department)
            .Date("JOIN_DATE", e.JoinYear, 1 + e.Index % 12, 1);
        if (e.Stopped)
            emp.Date("RESIGN_DATE", year, options.Month, 28);
        else
            emp.Null("RESIGN_DATE");
        emp.Post();
        employmt.Row(true).Text("EMP_NO", e.Code).Post();
        misc.Row(true).Text("EMP_NO", e.Code).Post();
        alw.Row(true)
            .Text("EMP_NO", e.Code)
            .Text("ALLOW_CODE", "TRANSP")
            .Int("ID", 1)
            .Money("AMOUNT", 20000)
            .Date("START_DATE", e.JoinYear, 1 + e.Index % 12, 1)
            .Null("END_DATE")
            .Post();
        if (e.Pay == TPayMode::Bank || e.Pay == TPayMode::Telegraphic) {
            bnk.Row(true)
                .Text("EMP_CODE", e.Code)
                .Text("BANK_ID", e.Bank)
                .Text("BANK_AC_NO", e.Account)
                .Text("BANK_BRANCH", "KL MAIN")
                .Float("PERCENT", 100)
                .Post();
            if (e.Pay == TPayMode::Telegraphic)
                bnk.Row(true)
                    .Text("EMP_CODE", e.Code)
                    .Text("BANK_ID", kTT)
                    .Text("BANK_AC_NO", "TT" + e.Account)
                    .Text("BANK_BRANCH", "REMIT")
                    .Float("PERCENT", 0)
                    .Post();
        }
        for (int y : {year - 1, year})
            oth.Row(true).Text("EMP_NO", e.Code).Text("YEAR", Year(y)).Post();
        pros.Row(true)
            .Text("EMP_CODE", e.Code)
            .Date("PAY_EFFECTIVE_DATE", e.JoinYear, 1 + e.Index % 12, 1)
            .Int("ID", 1)
            .Money("OLD_BASIC", 0)
            .Money("NEW_BASIC", e.Basic)
            .Text("REASON", "Joined")
            .Post();
        if (e.RaiseInJuly)
            pros.Row(true)
                .Text("EMP_CODE", e.Code)
                .Date("PAY_EFFECTIVE_DATE", year, 7, 1)
                .Int("ID", 2)
                .Money("OLD_BASIC", e.Basic)
                .Money("NEW_BASIC", BasicFor(e, 7))
                .Text("REASON", "Annual increment")
                .Post();
        if (e.Index % 3 == 0)
            cld.Row(true)
                .Text("EMP_NO", e.Code)
                .Int("CHILD_NO", 1)
                .Text("CHILD_NAME", "Child of " + e.Name)
                .Post();
        for (const char* leave : {"AL", "MC"})
            ent.Row(true)
                .Text("EMPCODE", e.Code)
                .Text("FIN_PERIOD", Year(year))
                .Text("LEAVE_CODE", leave)
                .Float("ENTITLE", leave[0] == 'A' ? 16 : 14)
                .Post();
    }
}

void WritePayroll(TDbConnection& conn, const TSourceCompany& company,
                  const std::vector<TEmployee>& staff, const TDemoOptions& options) {
    TCompanyTables tables(conn, options.Year);
    for (const auto& e : staff) {
        TYearToDate ytd;
        int leaveId = 0;
        for (int month = 1; month <= 12; ++month) {
            if (!PaidIn(e, month, options)) continue;
            TPayslip p = MakePayslip(e, company, month, options);
            WriteMonth(tables, e, p, options.Year, month, ytd, leaveId);
            TDemoRandom r(options.Seed, static_cast<std::uint64_t>(company.Index) + 1,
                          static_cast<std::uint64_t>(e.Index) + 1,
                          300 + static_cast<std::uint64_t>(month));
            if (r.Chance(10)) {
                // A clinic bill, paid with the next month's payroll.
                int payMonth = std::min(month + 1, 12);
                tables.Medical.Row(true)
                    .Text("EMPCODE", e.Code)
                    .Date("CLAIM_DATE", options.Year, month, r.Between(1, 28))
                    .Text("PERIOD_TO_TRANSFER", Period(options.Year, payMonth))
                    .Text("CLINIC", kClinics[r.Below(3)])
                    .Money("AMOUNT", 100LL * r.Between(30, 400));
                tables.Medical.Post();
            }
        }
    }
    // A distribution row left without an employee by an old import; the merge skips it.
    tables.Cost.Row()
        .Text("EMPCODE", "")
        .Text("PERIOD", Period(options.Year, options.Month))
        .Text("COST_CENTRE", kCostCentres[0])
        .Text("DEPARTMENT", kDepartments[0])
        .Float("PERCENT", 100);
    tables.Cost.Post();
}

}  // namespace peltorn::demo
