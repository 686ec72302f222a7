// The parameter, report and general-ledger tables of a demo company database: the year
// parameters (last year locked, this year open), pay groups and cycles, codes, banks, exchange
// rates, allowance codes and the PPARA tables of a source company; the report columns, among them
// the allowance columns numbered from 1500, and a report layout that points at them; the
// general-ledger tables, whose columns carry no rule of the merge and so hold plain values by
// type. A consolidated company keeps only what it holds of its own between merges.
#include "demo/DemoCompanyParts.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::demo {

using db::TDbConnection;

namespace {

constexpr const char* kAllowanceColumns = "ALLW";
constexpr int kFirstAllowanceColumn = 1500;

// Standard report columns kept by every company (the allowance columns follow from 1500).
struct TReportColumn {
    int No;
    const char* Heading;
    const char* Database1;
    const char* Field;
    const char* Code;
};
constexpr TReportColumn kReportColumns[] = {
    {1, "Employee No", "EMPLOYEE", "EMP_NO", "TEXT"},
    {2, "Name", "EMPLOYEE", "NAME", "TEXT"},
    {3, "Basic Pay", "P_HTRX", "BASIC", "AMOUNT"},
    {4, "Gross Wage", "P_HTRX", "GROSS_WAGE", "AMOUNT"},
    {5, "EPF Employee", "P_HTRX", "CPFEMPEE", "AMOUNT"},
    {6, "Nett Wage", "P_HTRX", "NETT_WAGE", "AMOUNT"},
};

// The fixed report columns (employee, pay and wage fields), the same in every company.
void WriteReportColumns(TTableWriter& rtable) {
    for (const auto& c : kReportColumns)
        rtable.Row(true)
            .Int("NO", c.No)
            .Text("HEADING", c.Heading)
            .Text("DATABASE1", c.Database1)
            .Text("FIELD", c.Field)
            .Text("CODE", c.Code)
            .Int("WIDTH", 12)
            .Text("TYPE1", "N")
            .Text("HIDE_WAGE", "F")
            .Post();
}

const std::vector<std::string> kGLTables = {"GLBODY", "GLCODE", "GLDETAIL", "GLLINE",
                                            "GLMAP",  "GLTYPE", "GLHEADER", "GLPARA"};

std::vector<TAllowanceCode> CompanyAllowanceCodes(const TSourceCompany& company) {
    std::vector<TAllowanceCode> codes(std::begin(kAllowanceCodes), std::end(kAllowanceCodes));
    codes.push_back(company.Index % 2 == 0 ? kHousing : kIncentive);
    std::sort(codes.begin(), codes.end(), [](const TAllowanceCode& a, const TAllowanceCode& b) {
        return std::string(a.Code) < b.Code;
    });
    return codes;
}

// Last year is closed (locked up to its December); the current year is open for merging.
void WriteYearParameters(TTableWriter& para1, const TDemoOptions& options) {
    const int year = options.Year;
    para1.Row()
        .Text("YEAR", Year(year - 1))
        .Text("LOCK", "T")
        .Int("LOCKPERIOD", (year - 1) * 100 + 12)
        .Text("CUR_PERIOD", Period(year - 1, 12))
        .Float("WORKDAYS", 26)
        .Post();
    para1.Row()
        .Text("YEAR", Year(year))
        .Text("LOCK", "F")
        .Int("LOCKPERIOD", 0)
        .Text("CUR_PERIOD", Period(year, options.Month))
        .Float("WORKDAYS", 26)
        .Post();
}

void WriteParameters(TDbConnection& conn, const TSourceCompany& company,
                     const TDemoOptions& options) {
    const int year = options.Year;
    {
        TTableWriter para1(conn, "PAYPARA1", year);
        // Last year is closed; the current year is open for merging.
        WriteYearParameters(para1, options);
    }
    {
        TTableWriter hdr(conn, "PGRP_HDR", year), trx(conn, "PGRP_TRX", year),
            cycle(conn, "CYCLE", year);
        hdr.Row(true)
            .Text("PAY_GROUP", kPayGroup)
            .Text("YEAR", Year(year))
            .Text("DESC", "Monthly staff")
            .Post();
        for (int m = 1; m <= 12; ++m) {
            trx.Row(true)
                .Text("PAY_GROUP", kPayGroup)
                .Text("YEAR", Year(year))
                .Text("PERIOD", Period(year, m))
                .Text("CYCLE", kCycle)
                .Date("START_DATE", year, m, 1)
                .Date("END_DATE", year, m, 28)
                .Date("PAY_DATE", year, m, 25)
                .Post();
            cycle.Row(true)
                .Text("PERIOD", Period(year, m))
                .Text("CYCLE", kCycle)
                .Date("START_DATE", year, m, 1)
                .Date("END_DATE", year, m, 28)
                .Date("PAY_DATE", year, m, 25)
                .Text("DESC", "Monthly payroll")
                .Post();
        }
    }
    {
        TTableWriter code(conn, "CODE", year), bank(conn, "PAY_BANK", year);
        for (const char* c : kCostCentres)
            code.Row(true).Text("CATEGORY", "COSTCTR").Text("CODE", c).Post();
        for (const char* d : kDepartments)
            code.Row(true).Text("CATEGORY", "DEPT").Text("CODE", d).Post();
        for (const char* b : kBanks)
            bank.Row(true)
                .Text("BANK_ID", b)
                .Text("BANK_BRANCH", "KL MAIN")
                .Text("BANK_NAME", std::string(b) + " Kuala Lumpur")
                .Post();
        bank.Row(true)
            .Text("BANK_ID", kTT)
            .Text("BANK_BRANCH", "REMIT")
            .Text("BANK_NAME", "Telegraphic transfer")
            .Post();
    }
    {
        TTableWriter rate(conn, "EXRATE", year);
        for (int m = 1; m <= 12; ++m)
            for (const char* c : {"MYR", "SGD", "USD"}) {
                rate.Row()
                    .Text("CURR", c)
                    .Text("EXCODE", kStdCurr)
                    .Text("PERIOD", Period(year, m))
                    .Float("EX_RATE", DemoRate(c, m));
                rate.Post();
            }
    }
    {
        TTableWriter alw(conn, "ALLOWNCE", year);
        int number = kFirstAllowanceColumn;
        for (const auto& a : CompanyAllowanceCodes(company)) {
            for (int y : {year - 1, year}) {
                alw.Row(true)
                    .Text("ALLOW_CODE", a.Code)
                    .Text("YEAR", Year(y))
                    .Text("DESC", a.Desc)
                    .Int("TRNNO", number)
                    .Text("IS_TAX", a.IsTax)
                    .Text("IS_ABSENT", a.IsAbsent);
                alw.Post();
            }
            ++number;
        }
    }
    {
        // Day, overtime, rest-day and shift parameters: the same keys in every company, the
        // rates of each company's own (the merge keeps those of the company merged last).
        TTableWriter dr(conn, "PPARA_DR", year), ot(conn, "PPARA_OT", year),
            rd(conn, "PPARA_RD", year), sf(conn, "PPARA_SF", year);
        const double bump = 0.05 * company.Index;
        for (const char* day : {"NORMAL", "REST", "PUBLIC"})
            dr.Row(true)
                .Text("YEAR", Year(year))
                .Text("DAY_DESC", day)
                .Float("RATE", 1.0 + bump)
                .Post();
        for (const auto& [type, factor] : {std::pair{"OT15", 1.5}, {"OT20", 2.0}, {"OT30", 3.0}})
            ot.Row(true)
                .Text("YEAR", Year(year))
                .Text("OTTYPE", type)
                .Float("OTFACTOR", factor + bump)
                .Post();
        rd.Row(true)
            .Text("YEAR", Year(year))
            .Text("RESTDAY_TYPE", "RD")
            .Float("FACTOR", 2.0)
            .Post();
        for (const char* status : {"A", "N"})
            sf.Row(true)
                .Text("YEAR", Year(year))
                .Text("SHIFT_STATUS", status)
                .Money("RATE", 1000 + 100 * company.Index)
                .Post();
        for (int i = 0; i < company.Index; ++i)
            dr.Row(true).Text("YEAR", Year(year - 1 - i)).Text("DAY_DESC", "NORMAL").Post();
    }
}

// Report columns, the allowance columns numbered from 1500 in code order, and one report whose
// layout points at them.
void WriteReports(TDbConnection& conn, const std::vector<TAllowanceCode>& codes, int year) {
    TTableWriter rtable(conn, "RTABLE", year), rtphd(conn, "RTPHD", year),
        rtpdetl(conn, "RTPDETL", year), trnno(conn, "TRNNO", year);
    WriteReportColumns(rtable);
    int number = kFirstAllowanceColumn;
    for (const auto& a : codes)
        rtable.Row(true)
            .Int("NO", number++)
            .Text("HEADING", a.Desc)
            .Text("DATABASE1", kAllowanceColumns)
            .Text("FIELD", a.Code)
            .Text("CODE", "AMOUNT")
            .Int("WIDTH", 12)
            .Text("TYPE1", "N")
            .Text("HIDE_WAGE", "T")
            .Post();
    if (!codes.empty()) trnno.Row(true).Int("TRNNO", number - 1).Post();
    rtphd.Row(true).Text("RPTCODE", "PAYSUM").Text("DESC", "Payroll summary").Post();
    int id = 0;
    for (const auto& c : kReportColumns)
        rtpdetl.Row(true)
            .Text("RPTCODE", "PAYSUM")
            .Int("ID", ++id)
            .Text("DATABASE1", c.Database1)
            .Text("FIELD", c.Field)
            .Text("CODE", c.Code)
            .Text("COL", std::to_string(c.No))
            .Text("HEADING", c.Heading)
            .Post();
    number = kFirstAllowanceColumn;
    for (const auto& a : codes)
        rtpdetl.Row(true)
            .Text("RPTCODE", "PAYSUM")
            .Int("ID", ++id)
            .Text("DATABASE1", kAllowanceColumns)
            .Text("FIELD", a.Code)
            .Text("CODE", "AMOUNT")
            .Text("COL", std::to_string(number++))
            .Text("HEADING", a.Desc)
            .Post();
}

void WriteGeneralLedger(TDbConnection& conn, const TSourceCompany& company, int year) {
    for (const auto& table : kGLTables) {
        TTableWriter gl(conn, table, year);
        for (int i = 0; i < 4 + company.Index; ++i) gl.Row(true).Post();
    }
}

}  // namespace

void WriteParameterTables(TDbConnection& conn, const TSourceCompany& company,
                          const TDemoOptions& options) {
    WriteParameters(conn, company, options);
    WriteReports(conn, CompanyAllowanceCodes(company), options.Year);
    WriteGeneralLedger(conn, company, options.Year);
}

void FillDestinationCompany(TDbConnection& conn, const TDemoOptions& options) {
    const int year = options.Year;
    TTableWriter para1(conn, "PAYPARA1", year), rd(conn, "PPARA_RD", year),
        rtable(conn, "RTABLE", year), trnno(conn, "TRNNO", year);
    WriteYearParameters(para1, options);
    rd.Row(true).Text("YEAR", Year(year)).Text("RESTDAY_TYPE", "RD").Float("FACTOR", 2.0).Post();
    WriteReportColumns(rtable);
    trnno.Row(true).Int("TRNNO", kFirstAllowanceColumn).Post();
}

}  // namespace peltorn::demo
