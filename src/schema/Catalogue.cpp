// The schema catalogue: the main tables and the company tables, as the program creates them.
//
// Column order of the company tables
// ----------------------------------
// The record transfer finds an existing destination record by key values, and for several tables
// those values are "field 1, field 2, ..." of the source record, counted in column order. A
// table's columns must therefore start with its key fields in the order of the index the
// transfer makes current, so that each value meets the field it came from:
//
//   PAYPARA1   YEAR first: "field 1" on index YEAR.
//   ALLOWNCE   ALLOW_CODE, YEAR: "field 1, field 2" on ALLOW_CODE;YEAR.
//   PGRP_HDR   PAY_GROUP, YEAR: "field 1, field 2" on PAY_GROUP;YEAR.
//   PGRP_TRX   PAY_GROUP, YEAR, PERIOD: "field 1..3" on PAY_GROUP;YEAR;PERIOD.
//   P_HTRX     PERIOD, CYCLE, EMPCODE: "field 1, field 2, employee code" on PERIOD;CYCLE;EMPCODE.
//   P_DTRXAS, P_DTRXNH, P_DTRXND, P_DTRXSF, P_DTRXRD, P_DTRXOT
//              PERIOD, CYCLE, EMPCODE, then the type field (ABSENT_TYPE, NPL_HOUR_TYPE,
//              NPL_DAY_TYPE, SHIFT_STATUS, RESTDAY_TYPE, OTTYPE): "field 1, field 2, employee
//              code, field 4" on PERIOD;CYCLE;EMPCODE;<type>. P_DTRXAW and P_DTRXLV are only
//              ever appended, but keep the same layout (PERIOD, CYCLE, EMPCODE, ALLW_DED_CODE).
//   EMP_LVTX   FIN_PERIOD, EMPCODE, LEAVE_CODE, YEAR, MONTH: "field 1, employee code,
//              field 3..5" on FIN_PERIOD;EMPCODE;LEAVE_CODE;YEAR;MONTH.
//   EMP_PROS   EMP_CODE, PAY_EFFECTIVE_DATE, ID: "employee code, field 2, field 3".
//   EMP_BNK    EMP_CODE, BANK_ID, BANK_AC_NO: "employee code, field 2, field 3".
//   EMP_OTH    EMP_NO, YEAR: "employee code, field 2" on EMP_NO;YEAR.
//   EMPENT     EMPCODE, FIN_PERIOD, LEAVE_CODE: "employee code, field 2, field 3".
//   YTDEMPL    EMPCODE, PERIOD, CYCLE: "employee code, field 2, field 3" on EMPCODE;PERIOD;CYCLE.
//   EMPLOYEE, EMPLOYMT, EMPMISC  EMP_NO first (looked up by the employee code alone).
//   EMPLEAVE, PAY_BANK, CODE, CYCLE are looked up by field name; their key fields still come
//              first, in index order.
//
//   LEAV_TRX   EMPCODE, LEAVE_CODE, DATE: "field 2, employee code, field 3" on
//              LEAVE_CODE;EMPCODE;DATE, so a leave transaction merged before is found by its
//              leave code, employee and date and updated; a repeated merge leaves one record per
//              source transaction. The employee code comes first, as in EMPENT and EMPLEAVE.
//
// Other choices a reader may look for:
//   - Field names are upper case as in the payroll database; the program addresses some in mixed
//     case ("percent", "cost_CENTRE", "lockPeriod"), which works because field lookup ignores
//     case. Names that the currency conversion excludes by exact comparison (CPF_WAGE, PAYDAY,
//     FREQUENCY, DAY, OTHRS, ...) are spelled exactly as it compares them.
//   - EMPLOYEE has no PERIOD or CYCLE column and P_HTRX no FCURR_CODE, so the conversion's join
//     of the two tables names each column unambiguously.
//   - EMP_BNK.TRXID is an auto-increment column; clearing a destination turns it into an
//     integer column so that the transfer can carry the source numbers into it.
//   - PAYDAY of P_HTRX is a count of days (floating point), one of the header's day counts that
//     the conversion leaves unchanged; it closes the header's conversion index.
//   - The tables of the parameter, report and general-ledger transfer carry no EMPCODE, EMP_NO or
//     EMP_CODE column: the transfer would write the current employee code into it.
#include "schema/Catalogue.h"

#include <algorithm>
#include <cctype>

namespace peltorn::schema {

namespace {

using db::TFieldDef;
using db::TFieldType;
using db::TIndexDef;
using db::TTableDef;

TFieldDef Chr(const char* name, int width) { return {name, TFieldType::ftString, width, {}}; }
TFieldDef Int(const char* name) { return {name, TFieldType::ftInteger, 0, {}}; }
TFieldDef AutoInc(const char* name) { return {name, TFieldType::ftAutoInc, 0, {}}; }
TFieldDef Dbl(const char* name) { return {name, TFieldType::ftFloat, 0, {}}; }
TFieldDef Money(const char* name) { return {name, TFieldType::ftCurrency, 0, {}}; }
TFieldDef Date(const char* name) { return {name, TFieldType::ftDate, 0, {}}; }
TFieldDef Image(const char* name) { return {name, TFieldType::ftGraphic, 0, {}}; }

// The three text fields that identify a payroll row: employee, period, cycle.
TFieldDef EmpCode() { return Chr("EMPCODE", 12); }
TFieldDef Period() { return Chr("PERIOD", 6); }
TFieldDef Cycle() { return Chr("CYCLE", 1); }

TIndexDef Index(const char* tag, std::string_view fields, bool unique = false) {
    return {tag, db::SplitFieldList(fields), unique};
}

// A detail table of a payroll header: PERIOD, CYCLE, EMPCODE, its type field, then the rest.
// Indexed for the transfer (period first) and for the currency conversion (employee first).
TTableDef DetailTable(const char* name, const char* typeField, std::vector<TFieldDef> rest) {
    TTableDef def;
    def.Name = name;
    def.Fields = {Period(), Cycle(), EmpCode(), Chr(typeField, 8)};
    def.Fields.insert(def.Fields.end(), rest.begin(), rest.end());
    std::string type(typeField);
    def.Indexes = {Index("PERIOD", "PERIOD;CYCLE;EMPCODE;" + type),
                   Index("EMPCODE", "EMPCODE;PERIOD;CYCLE;" + type)};
    return def;
}

// The field lists are laid out by hand, several fields a line, so that a table reads as one
// block in the order of its fields.
// clang-format off
std::vector<TTableDef> MakeMainTables() {
    return {
        {"MCOMPANY",
         {Chr("COMPANY_CODE", 8), Chr("COMPANY_NAME", 40), Int("TOTAL_STAFF"),
          Int("PAYROLL_ACCESS_NO"), Chr("MERGE", 1), Date("BACKUPDATE2"), Date("BACKUPDATE"),
          Image("image")},
         {Index("COMPANY_CODE", "COMPANY_CODE", true)}},
        {"MERGRHD",
         {Int("NO"), Chr("CODE", 8), Chr("MASTER", 8), Chr("PATH", 150)},
         {Index("NO", "NO", true)}},
        {"MERGEDTL",
         {Int("NO"), Chr("CODE", 8), Chr("TYPE", 8), Chr("PATH", 150)},
         {Index("NOCODE", "NO;CODE", true)}},
    };
}

std::vector<TTableDef> MakeCompanyTables() {
    std::vector<TTableDef> t;

    // Parameters and version.
    t.push_back({"PAYPARA",
                 {Chr("COMPANY_NAME", 40), Chr("DBVERSION", 10), Chr("CURR_CODE", 8)},
                 {}});
    t.push_back({"PAYPARA1",
                 {Chr("YEAR", 4), Chr("LOCK", 1), Int("LOCKPERIOD"), Chr("CUR_PERIOD", 6),
                  Dbl("WORKDAYS")},
                 {Index("YEAR", "YEAR")}});
    t.push_back({"PPARA_DR",
                 {Chr("YEAR", 4), Chr("DAY_DESC", 20), Chr("DAY_TYPE", 8), Dbl("RATE")},
                 {Index("YEARDAY", "YEAR;DAY_DESC")}});
    t.push_back({"PPARA_OT",
                 {Chr("YEAR", 4), Chr("OTTYPE", 8), Chr("DESC", 30), Dbl("OTFACTOR")},
                 {Index("YEAROT", "YEAR;OTTYPE")}});
    t.push_back({"PPARA_RD",
                 {Chr("YEAR", 4), Chr("RESTDAY_TYPE", 8), Chr("DESC", 30), Dbl("FACTOR")},
                 {Index("YEARRD", "YEAR;RESTDAY_TYPE")}});
    t.push_back({"PPARA_SF",
                 {Chr("YEAR", 4), Chr("SHIFT_STATUS", 8), Chr("DESC", 30), Money("RATE")},
                 {Index("YEARSF", "YEAR;SHIFT_STATUS")}});

    // Employee master.
    t.push_back({"EMPLOYEE",
                 {Chr("EMP_NO", 12), Chr("NAME", 40), Chr("IC_NO", 20), Chr("STOP_IND", 1),
                  Date("JOIN_DATE"), Date("RESIGN_DATE"), Chr("COST_CENTRE_CODE", 8),
                  Chr("DEPARTMENT_CODE", 8), Chr("PAY_GROUP", 8), Chr("FCURR_CODE", 8),
                  Chr("LOCAL_CURR_CODE", 8), Money("BASIC_RATE")},
                 {Index("EMP_NO", "EMP_NO")}});
    t.push_back({"EMPLOYMT",
                 {Chr("EMP_NO", 12), Chr("POSITION", 30), Chr("GRADE", 8), Chr("CATEGORY", 8),
                  Date("CONFIRM_DATE"), Date("CONTRACT_END")},
                 {Index("EMP_NO", "EMP_NO")}});
    t.push_back({"EMPMISC",
                 {Chr("EMP_NO", 12), Chr("ADDRESS1", 40), Chr("ADDRESS2", 40), Chr("PHONE", 20),
                  Date("BIRTH_DATE"), Chr("RACE", 8), Chr("RELIGION", 8)},
                 {Index("EMP_NO", "EMP_NO")}});
    t.push_back({"EMP_ALW",
                 {Chr("EMP_NO", 12), Chr("ALLOW_CODE", 8), Int("ID"), Money("AMOUNT"),
                  Date("START_DATE"), Date("END_DATE")},
                 {Index("EMPALW", "EMP_NO;ALLOW_CODE;ID")}});
    t.push_back({"EMP_BNK",
                 {Chr("EMP_CODE", 12), Chr("BANK_ID", 8), Chr("BANK_AC_NO", 20), AutoInc("TRXID"),
                  Chr("BANK_BRANCH", 8), Dbl("PERCENT"), Money("AMOUNT")},
                 {Index("EMPBNK", "EMP_CODE;BANK_ID;BANK_AC_NO")}});
    t.push_back({"EMP_OTH",
                 {Chr("EMP_NO", 12), Chr("YEAR", 4), Money("PREV_GROSS"), Money("PREV_TAX"),
                  Money("PREV_EPF")},
                 {Index("EMPYEAR", "EMP_NO;YEAR")}});
    t.push_back({"EMP_PROS",
                 {Chr("EMP_CODE", 12), Date("PAY_EFFECTIVE_DATE"), Int("ID"), Money("OLD_BASIC"),
                  Money("NEW_BASIC"), Chr("REASON", 30)},
                 {Index("EMPPROS", "EMP_CODE;PAY_EFFECTIVE_DATE;ID")}});
    t.push_back({"EMP_CLD",
                 {Chr("EMP_NO", 12), Int("CHILD_NO"), Chr("CHILD_NAME", 40), Date("BIRTH_DATE"),
                  Chr("IC_NO", 20)},
                 {Index("EMPCLD", "EMP_NO;CHILD_NO")}});

    // Payroll of a period: header, detail rows, year-to-date, bank transactions.
    t.push_back({"P_HTRX",
                 {Period(), Cycle(), EmpCode(), Dbl("PAYDAY"), Date("PAY_DATE"), Money("BASIC"),
                  Dbl("WORKDAY"), Dbl("NPL_DAY"), Dbl("ABSENT_DAY"), Dbl("ANLV_CUR"),
                  Dbl("ANLV_YTD"), Dbl("ANLV_BAL"), Dbl("SICKLV_CUR"), Dbl("SICKLV_YTD"),
                  Dbl("SICKLV_BAL"), Money("TOTAL_NPL"), Money("SHIFTAMT"), Money("OTAMT"),
                  Money("RESTAMT"), Money("TOTAL_ALLOWANCE"), Money("TOTAL_DEDUCTION"),
                  Money("GROSS_WAGE"), Money("CPF_WAGE"), Money("CPFEMPEE"), Money("CPFEMPER"),
                  Money("TOTAL_CPF"), Money("SCP_WAGE"), Money("SCP_EE"), Money("SCP_ER"),
                  Money("TOTAL_SCP"), Money("SOCSO_WAGE"), Money("SOCSO"), Money("ERSOCSO"),
                  Money("EIS_WAGE"), Money("EIS"), Money("EREIS"), Money("TOTAL_EIS"),
                  Money("VOLUN"), Money("ERVOLUN"), Money("SDF"), Money("FWL"),
                  Money("NETT_WAGE"), Money("BANKAMT"), Money("CHEQAMT"), Money("CASHAMT"),
                  Money("S_CPFWAGE"), Money("S_CPFEMPEE"), Money("S_CPFEMPER"), Money("S_SCP_EE"),
                  Money("S_SCP_ER"), Money("S_SOCSO"), Money("S_ERSOCSO"), Money("S_EIS_WAGE"),
                  Money("S_EIS"), Money("S_EREIS"), Money("S_VOLUN"), Money("S_ERVOLUN"),
                  Money("S_SDF"), Money("S_FWL")},
                 {Index("PERIOD", "PERIOD;CYCLE;EMPCODE"),
                  Index("EMPCODE", "EMPCODE;PERIOD;CYCLE;PAYDAY")}});
    t.push_back(DetailTable("P_DTRXSF", "SHIFT_STATUS",
                            {Dbl("SHIFT_NO"), Dbl("DAY"), Money("RATE"), Money("SHIFTAMT")}));
    t.push_back(DetailTable("P_DTRXND", "NPL_DAY_TYPE",
                            {Dbl("DAY"), Money("RATE"), Money("AMOUNT")}));
    t.push_back(DetailTable("P_DTRXAS", "ABSENT_TYPE",
                            {Dbl("DAY"), Money("RATE"), Money("AMOUNT")}));
    t.push_back(DetailTable("P_DTRXRD", "RESTDAY_TYPE",
                            {Dbl("DAY"), Money("RATE"), Money("AMOUNT")}));
    t.push_back(DetailTable("P_DTRXNH", "NPL_HOUR_TYPE",
                            {Dbl("HOUR"), Money("RATE"), Money("AMOUNT")}));
    t.push_back(DetailTable("P_DTRXOT", "OTTYPE",
                            {Dbl("OTHRS"), Dbl("OTFACTOR"), Money("RATE"), Money("OTAMT")}));
    t.push_back(DetailTable("P_DTRXAW", "ALLW_DED_CODE",
                            {Money("AMOUNT"), Money("AMOUNT2"), Chr("CURR_CODE", 8),
                             Money("FAMOUNT"), Dbl("EX_RATE"), Dbl("FREQUENCY"),
                             Money("CPFOWWAGE"), Money("CPFAWWAGE"), Chr("REMARK", 30)}));
    t.push_back(DetailTable("P_DTRXLV", "ALLW_DED_CODE",
                            {Chr("LEAVE_CODE", 8), Dbl("DAY"), Dbl("FREQUENCY"), Money("AMOUNT"),
                             Money("CPFOWWAGE"), Money("CPFAWWAGE")}));
    t.push_back({"YTDEMPL",
                 {EmpCode(), Period(), Cycle(), Money("YTD_GROSS"), Money("YTD_CPF"),
                  Money("YTD_SOCSO"), Money("YTD_EIS"), Money("YTD_TAX")},
                 {Index("EMPCODE", "EMPCODE;PERIOD;CYCLE")}});
    t.push_back({"BANKTRX",
                 {EmpCode(), Period(), Cycle(), Chr("BANK_ID", 8), Chr("BANK_BRANCH", 8),
                  Chr("BANK_AC_NO", 20), Chr("CURR_CODE", 8), Money("BANK_AMT"),
                  Money("TRAN_AMT"), Money("SPLIT_AMT"), Date("PAY_DATE")},
                 {Index("EMPCODE", "EMPCODE;PERIOD;CYCLE")}});

    // Pay groups, allowances, leave.
    t.push_back({"PGRP_HDR",
                 {Chr("PAY_GROUP", 8), Chr("YEAR", 4), Chr("DESC", 30)},
                 {Index("GRPYEAR", "PAY_GROUP;YEAR")}});
    t.push_back({"PGRP_TRX",
                 {Chr("PAY_GROUP", 8), Chr("YEAR", 4), Period(), Cycle(), Date("START_DATE"),
                  Date("END_DATE"), Date("PAY_DATE")},
                 {Index("GRPPERIOD", "PAY_GROUP;YEAR;PERIOD")}});
    t.push_back({"ALLOWNCE",
                 {Chr("ALLOW_CODE", 8), Chr("YEAR", 4), Chr("DESC", 30), Int("TRNNO"),
                  Chr("IS_TAX", 1), Chr("IS_ABSENT", 1), Chr("IS_EPF", 1), Chr("IS_SOCSO", 1),
                  Chr("EA_IRA", 8)},
                 {Index("ALLOWYEAR", "ALLOW_CODE;YEAR")}});
    t.push_back({"EMPENT",
                 {EmpCode(), Chr("FIN_PERIOD", 6), Chr("LEAVE_CODE", 8), Dbl("ENTITLE"),
                  Dbl("BF"), Dbl("TAKEN"), Dbl("BALANCE")},
                 {Index("EMPENT", "EMPCODE;FIN_PERIOD;LEAVE_CODE")}});
    // The transfer makes this index current by its name, "EMPCODE", and looks up four values.
    t.push_back({"EMPLEAVE",
                 {EmpCode(), Date("START_DATE"), Chr("LEAVE_CODE", 8), Int("ID"), Date("END_DATE"),
                  Dbl("DAYS"), Chr("REMARK", 40)},
                 {Index("EMPCODE", "EMPCODE;START_DATE;LEAVE_CODE;ID")}});
    t.push_back({"EMP_LVTX",
                 {Chr("FIN_PERIOD", 6), EmpCode(), Chr("LEAVE_CODE", 8), Chr("YEAR", 4),
                  Chr("MONTH", 2), Dbl("DAYS"), Chr("REMARK", 40)},
                 {Index("LVTX", "FIN_PERIOD;EMPCODE;LEAVE_CODE;YEAR;MONTH")}});
    // Column order chosen for the record transfer, see the top of this file.
    t.push_back({"LEAV_TRX",
                 {EmpCode(), Chr("LEAVE_CODE", 8), Date("DATE"), Dbl("DAYS"), Chr("REMARK", 40)},
                 {Index("LEAVEEMP", "LEAVE_CODE;EMPCODE;DATE")}});

    // Codes, cycles, medical claims, cost centres, banks, rates.
    t.push_back({"CODE",
                 {Chr("CATEGORY", 8), Chr("CODE", 8), Chr("DESC", 30)},
                 {Index("CATCODE", "CATEGORY;CODE")}});
    t.push_back({"CYCLE",
                 {Period(), Cycle(), Date("START_DATE"), Date("END_DATE"), Date("PAY_DATE"),
                  Chr("DESC", 30)},
                 {Index("PERIODCYCLE", "PERIOD;CYCLE")}});
    t.push_back({"MEDICAL",
                 {EmpCode(), Date("CLAIM_DATE"), Chr("PERIOD_TO_TRANSFER", 6), Chr("CLINIC", 30),
                  Money("AMOUNT")},
                 {Index("EMPCODE", "EMPCODE;CLAIM_DATE")}});
    t.push_back({"COSTCTR",
                 {EmpCode(), Period(), Chr("COST_CENTRE", 8), Chr("DEPARTMENT", 8),
                  Dbl("PERCENT")},
                 {Index("EMPCC", "EMPCODE;PERIOD;COST_CENTRE")}});
    t.push_back({"PAY_BANK",
                 {Chr("BANK_ID", 8), Chr("BANK_BRANCH", 8), Chr("BANK_NAME", 40),
                  Chr("ACCOUNT_NO", 20)},
                 {Index("BANKBRANCH", "BANK_ID;BANK_BRANCH")}});
    t.push_back({"EXRATE",
                 {Chr("CURR", 8), Chr("EXCODE", 8), Period(), Dbl("EX_RATE")},
                 {Index("CURRPERIOD", "CURR;EXCODE;PERIOD")}});

    // Report columns and layouts.
    t.push_back({"RTABLE",
                 {Int("NO"), Chr("HEADING", 30), Chr("DATABASE1", 15), Chr("FIELD", 25),
                  Chr("CODE", 30), Int("WIDTH"), Chr("TYPE1", 1), Chr("HIDE_WAGE", 1)},
                 {Index("NO", "NO"), Index("SOURCE", "DATABASE1;FIELD;CODE")}});
    t.push_back({"RTPHD",
                 {Chr("RPTCODE", 8), Chr("DESC", 40), Chr("ORIENT", 1)},
                 {Index("RPTCODE", "RPTCODE")}});
    t.push_back({"RTPDETL",
                 {Chr("RPTCODE", 8), Int("ID"), Chr("DATABASE1", 15), Chr("FIELD", 25),
                  Chr("CODE", 30), Chr("COL", 4), Chr("HEADING", 30)},
                 {Index("RPTID", "RPTCODE;ID")}});
    t.push_back({"TRNNO", {Int("TRNNO")}, {}});

    // General ledger.
    t.push_back({"GLBODY",
                 {Chr("GL_NO", 10), Int("LINE_NO"), Chr("ACCOUNT", 20), Chr("DESC", 40),
                  Money("DEBIT"), Money("CREDIT")},
                 {Index("GLNO", "GL_NO;LINE_NO")}});
    t.push_back({"GLCODE",
                 {Chr("ACCOUNT", 20), Chr("DESC", 40), Chr("GL_TYPE", 8)},
                 {Index("ACCOUNT", "ACCOUNT")}});
    t.push_back({"GLDETAIL",
                 {Chr("GL_NO", 10), Period(), Chr("ACCOUNT", 20), Chr("COST_CENTRE", 8),
                  Money("AMOUNT")},
                 {Index("GLNO", "GL_NO")}});
    t.push_back({"GLHEADER",
                 {Chr("GL_NO", 10), Period(), Date("GL_DATE"), Chr("DESC", 40), Money("TOTAL")},
                 {Index("GLNO", "GL_NO")}});
    t.push_back({"GLLINE",
                 {Int("LINE_NO"), Chr("DESC", 40), Chr("ACCOUNT", 20), Chr("SIGN", 1)},
                 {Index("LINENO", "LINE_NO")}});
    t.push_back({"GLMAP",
                 {Chr("ALLW_DED_CODE", 8), Chr("COST_CENTRE", 8), Chr("ACCOUNT", 20)},
                 {Index("CODE", "ALLW_DED_CODE;COST_CENTRE")}});
    t.push_back({"GLTYPE", {Chr("GL_TYPE", 8), Chr("DESC", 40)}, {Index("GLTYPE", "GL_TYPE")}});
    t.push_back({"GLPARA",
                 {Chr("YEAR", 4), Chr("COMPANY_ACC", 20), Chr("CLEARING_ACC", 20)},
                 {Index("YEAR", "YEAR")}});

    std::sort(t.begin(), t.end(),
              [](const TTableDef& a, const TTableDef& b) { return a.Name < b.Name; });
    return t;
}
// clang-format on

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

const std::vector<db::TTableDef>& MainTables() {
    static const std::vector<db::TTableDef> tables = MakeMainTables();
    return tables;
}

const std::vector<db::TTableDef>& CompanyTables() {
    static const std::vector<db::TTableDef> tables = MakeCompanyTables();
    return tables;
}

const db::TTableDef* FindCatalogueTable(std::string_view name) {
    for (const auto* list : {&MainTables(), &CompanyTables()})
        for (const auto& def : *list)
            if (SameName(def.Name, name)) return &def;
    return nullptr;
}

}  // namespace peltorn::schema
