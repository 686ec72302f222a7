// The schema catalogue against what the program needs of the payroll tables: every index that
// the transfer, the conversion and the rebuilds make current, the fields they address with the
// types they read and write, and the column order on which the transfer's key values by
// position rest. The expectations are written from the program's needs, not copied from the
// catalogue.
#include "schema/Catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace peltorn::schema {
namespace {

using db::TFieldType;

std::vector<std::string> Split(const std::string& list) { return db::SplitFieldList(list); }

const db::TTableDef& Table(const std::string& name) {
    const db::TTableDef* def = FindCatalogueTable(name);
    if (!def) throw std::runtime_error("no catalogue table " + name);
    return *def;
}

// An index usable with IndexFieldNames for that list: its leading fields are exactly those.
const db::TIndexDef* IndexFor(const db::TTableDef& def, const std::string& list) {
    auto want = Split(list);
    for (const auto& idx : def.Indexes) {
        if (idx.Fields.size() < want.size()) continue;
        if (std::equal(want.begin(), want.end(), idx.Fields.begin())) return &idx;
    }
    return nullptr;
}

TEST(CatalogueTest, HoldsEveryTableTheProgramTouches) {
    const char* transferList[] = {
        "PAYPARA1", "EMPLOYEE", "EMPLOYMT", "EMPMISC",  "EMP_ALW",  "EMP_BNK",  "EMP_OTH",
        "EMP_PROS", "EMP_CLD",  "P_HTRX",   "P_DTRXSF", "P_DTRXND", "P_DTRXAS", "P_DTRXRD",
        "P_DTRXNH", "P_DTRXAW", "P_DTRXOT", "YTDEMPL",  "P_DTRXLV", "PGRP_HDR", "PGRP_TRX",
        "ALLOWNCE", "EMPENT",   "EMPLEAVE", "EMP_LVTX", "LEAV_TRX", "CODE",     "CYCLE",
        "MEDICAL",  "COSTCTR",  "PAY_BANK", "EXRATE"};
    const char* others[] = {"BANKTRX",  "RTABLE",   "RTPHD",    "RTPDETL",  "TRNNO",  "PAYPARA",
                            "PPARA_DR", "PPARA_OT", "PPARA_RD", "PPARA_SF", "GLBODY", "GLCODE",
                            "GLDETAIL", "GLHEADER", "GLLINE",   "GLMAP",    "GLTYPE", "GLPARA"};
    std::set<std::string> company;
    for (const auto& def : CompanyTables()) company.insert(def.Name);
    for (const char* name : transferList) EXPECT_TRUE(company.count(name)) << name;
    for (const char* name : others) EXPECT_TRUE(company.count(name)) << name;
    EXPECT_EQ(company.size(), CompanyTables().size()) << "a company table is defined twice";

    std::set<std::string> main;
    for (const auto& def : MainTables()) main.insert(def.Name);
    EXPECT_EQ(main, (std::set<std::string>{"MCOMPANY", "MERGRHD", "MERGEDTL"}));
}

TEST(CatalogueTest, FindsTablesInAnyLetterCase) {
    ASSERT_NE(FindCatalogueTable("p_htrx"), nullptr);
    EXPECT_EQ(FindCatalogueTable("p_htrx")->Name, "P_HTRX");
    EXPECT_EQ(FindCatalogueTable("Mergedtl")->Name, "MERGEDTL");
    EXPECT_EQ(FindCatalogueTable("P_HTRX2"), nullptr);
    EXPECT_EQ(FindCatalogueTable(""), nullptr);
}

TEST(CatalogueTest, MainTablesHaveTheirUniquePrimaryIndexes) {
    struct Expect {
        const char* table;
        const char* index;
    } expects[] = {{"MCOMPANY", "COMPANY_CODE"}, {"MERGRHD", "NO"}, {"MERGEDTL", "NO;CODE"}};
    for (const auto& e : expects) {
        const auto* idx = IndexFor(Table(e.table), e.index);
        ASSERT_NE(idx, nullptr) << e.table;
        EXPECT_EQ(idx->Fields, Split(e.index)) << e.table;
        EXPECT_TRUE(idx->Unique) << e.table;
    }
}

TEST(CatalogueTest, MainTableFieldsHaveTheirTypesAndWidths) {
    struct Expect {
        const char* table;
        const char* field;
        TFieldType type;
        int size;
    } expects[] = {
        {"MCOMPANY", "COMPANY_CODE", TFieldType::ftString, 8},
        {"MCOMPANY", "COMPANY_NAME", TFieldType::ftString, 40},
        {"MCOMPANY", "TOTAL_STAFF", TFieldType::ftInteger, 0},
        {"MCOMPANY", "PAYROLL_ACCESS_NO", TFieldType::ftInteger, 0},
        {"MCOMPANY", "MERGE", TFieldType::ftString, 1},
        {"MCOMPANY", "BACKUPDATE2", TFieldType::ftDate, 0},
        {"MCOMPANY", "BACKUPDATE", TFieldType::ftDate, 0},
        {"MERGRHD", "NO", TFieldType::ftInteger, 0},
        {"MERGRHD", "CODE", TFieldType::ftString, 8},
        {"MERGRHD", "MASTER", TFieldType::ftString, 8},
        {"MERGRHD", "PATH", TFieldType::ftString, 150},
        {"MERGEDTL", "NO", TFieldType::ftInteger, 0},
        {"MERGEDTL", "CODE", TFieldType::ftString, 8},
        {"MERGEDTL", "TYPE", TFieldType::ftString, 8},
        {"MERGEDTL", "PATH", TFieldType::ftString, 150},
    };
    for (const auto& e : expects) {
        const auto* f = Table(e.table).FindField(e.field);
        ASSERT_NE(f, nullptr) << e.table << "." << e.field;
        EXPECT_EQ(f->Type, e.type) << e.table << "." << e.field;
        EXPECT_EQ(f->Size, e.size) << e.table << "." << e.field;
    }
    const auto* image = Table("MCOMPANY").FindField("IMAGE");
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(image->Type == TFieldType::ftGraphic || image->Type == TFieldType::ftBlob);
}

// Every index a step of the merge makes current, by field list.
TEST(CatalogueTest, CompanyTablesHaveEveryIndexTheMergeMakesCurrent) {
    struct Expect {
        const char* table;
        const char* index;
    } expects[] = {
        // Transfer of the payroll and employee tables.
        {"PAYPARA1", "YEAR"},
        {"EMPLOYEE", "EMP_NO"},
        {"EMPLOYMT", "EMP_NO"},
        {"EMPMISC", "EMP_NO"},
        {"EMP_ALW", "EMP_NO;ALLOW_CODE;ID"},
        {"EMP_BNK", "EMP_CODE;BANK_ID;BANK_AC_NO"},
        {"EMP_OTH", "EMP_NO;YEAR"},
        {"EMP_PROS", "EMP_CODE;PAY_EFFECTIVE_DATE;ID"},
        {"P_HTRX", "PERIOD;CYCLE;EMPCODE"},
        {"P_DTRXSF", "PERIOD;CYCLE;EMPCODE;SHIFT_STATUS"},
        {"P_DTRXND", "PERIOD;CYCLE;EMPCODE;NPL_DAY_TYPE"},
        {"P_DTRXAS", "PERIOD;CYCLE;EMPCODE;ABSENT_TYPE"},
        {"P_DTRXRD", "PERIOD;CYCLE;EMPCODE;RESTDAY_TYPE"},
        {"P_DTRXNH", "PERIOD;CYCLE;EMPCODE;NPL_HOUR_TYPE"},
        {"P_DTRXAW", "PERIOD;CYCLE;EMPCODE;ALLW_DED_CODE"},
        {"P_DTRXOT", "PERIOD;CYCLE;EMPCODE;OTTYPE"},
        {"YTDEMPL", "EMPCODE;PERIOD;CYCLE"},
        {"P_DTRXLV", "PERIOD;CYCLE;EMPCODE;ALLW_DED_CODE"},
        {"PGRP_HDR", "PAY_GROUP;YEAR"},
        {"PGRP_TRX", "PAY_GROUP;YEAR;PERIOD"},
        {"ALLOWNCE", "ALLOW_CODE;YEAR"},
        {"EMPENT", "EMPCODE;FIN_PERIOD;LEAVE_CODE"},
        {"EMP_LVTX", "FIN_PERIOD;EMPCODE;LEAVE_CODE;YEAR;MONTH"},
        {"LEAV_TRX", "LEAVE_CODE;EMPCODE;DATE"},
        {"CODE", "CATEGORY;CODE"},
        {"CYCLE", "PERIOD;CYCLE"},
        {"PAY_BANK", "BANK_ID;BANK_BRANCH"},
        // Parameter tables, matched by the record transfer itself.
        {"PPARA_DR", "YEAR;DAY_DESC"},
        {"PPARA_OT", "YEAR;OTTYPE"},
        {"PPARA_SF", "YEAR;SHIFT_STATUS"},
        // Currency conversion.
        {"EXRATE", "CURR;EXCODE;PERIOD"},
        {"P_HTRX", "EMPCODE;PERIOD;CYCLE;PAYDAY"},
        {"P_DTRXNH", "EMPCODE;PERIOD;CYCLE;NPL_HOUR_TYPE"},
        {"P_DTRXND", "EMPCODE;PERIOD;CYCLE;NPL_DAY_TYPE"},
        {"P_DTRXAS", "EMPCODE;PERIOD;CYCLE;ABSENT_TYPE"},
        {"P_DTRXSF", "EMPCODE;PERIOD;CYCLE;SHIFT_STATUS"},
        {"P_DTRXOT", "EMPCODE;PERIOD;CYCLE;OTTYPE"},
        {"P_DTRXRD", "EMPCODE;PERIOD;CYCLE;RESTDAY_TYPE"},
        {"P_DTRXAW", "EMPCODE;PERIOD;CYCLE;ALLW_DED_CODE"},
        {"P_DTRXLV", "EMPCODE;PERIOD;CYCLE;ALLW_DED_CODE"},
        // Cost-centre rebuild and allowance report columns.
        {"COSTCTR", "EMPCODE;PERIOD;COST_CENTRE"},
        {"RTABLE", "NO"},
        {"RTABLE", "DATABASE1;FIELD;CODE"},
        {"RTPDETL", "RPTCODE;ID"},
    };
    for (const auto& e : expects) {
        const auto* idx = IndexFor(Table(e.table), e.index);
        EXPECT_NE(idx, nullptr) << e.table << " lacks an index on " << e.index;
    }
}

TEST(CatalogueTest, EmpleaveIndexNamedEmpcodeCoversTheFourKeyFields) {
    const auto& def = Table("EMPLEAVE");
    auto it = std::find_if(def.Indexes.begin(), def.Indexes.end(),
                           [](const db::TIndexDef& i) { return i.Name == "EMPCODE"; });
    ASSERT_NE(it, def.Indexes.end());
    EXPECT_EQ(it->Fields, Split("EMPCODE;START_DATE;LEAVE_CODE;ID"));
}

TEST(CatalogueTest, CompanyIndexesAreNotUniqueAndNameExistingFields) {
    for (const auto& def : CompanyTables()) {
        std::set<std::string> tags;
        for (const auto& idx : def.Indexes) {
            EXPECT_FALSE(idx.Unique) << def.Name << " " << idx.Name;
            EXPECT_TRUE(tags.insert(idx.Name).second) << def.Name << " repeats tag " << idx.Name;
            for (const auto& f : idx.Fields)
                EXPECT_NE(def.FindField(f), nullptr)
                    << def.Name << " index " << idx.Name << ": " << f;
        }
    }
}

bool IsAmount(TFieldType t) { return t == TFieldType::ftFloat || t == TFieldType::ftCurrency; }

TEST(CatalogueTest, FieldsTheMergeAddressesHaveTheTypesItReadsAndWrites) {
    // Money: an amount of pay (fixed point, four decimals). Number: a count, rate or share held
    // as floating point. Amount: floating point or money, either serves.
    enum Kind { Text, Whole, Money, Number, Amount, Day, AutoNumber };
    struct Expect {
        const char* table;
        const char* fields;
        Kind kind;
    } expects[] = {
        {"PAYPARA", "DBVERSION", Text},
        {"PAYPARA1", "YEAR;LOCK", Text},
        {"PAYPARA1", "LOCKPERIOD", Whole},
        {"EMPLOYEE", "EMP_NO;STOP_IND;FCURR_CODE;LOCAL_CURR_CODE;COST_CENTRE_CODE;DEPARTMENT_CODE",
         Text},
        {"EMP_BNK", "TRXID", AutoNumber},
        {"EMP_PROS", "PAY_EFFECTIVE_DATE", Day},
        {"EMPLEAVE", "START_DATE", Day},
        {"LEAV_TRX", "DATE", Day},
        {"EXRATE", "CURR;EXCODE;PERIOD", Text},
        {"EXRATE", "EX_RATE", Number},
        {"P_HTRX",
         "PAYDAY;ANLV_CUR;ANLV_YTD;ANLV_BAL;NPL_DAY;ABSENT_DAY;WORKDAY;SICKLV_CUR;"
         "SICKLV_YTD;SICKLV_BAL",
         Number},
        {"P_HTRX",
         "BASIC;CHEQAMT;CPF_WAGE;SCP_WAGE;SOCSO_WAGE;TOTAL_CPF;S_CPFWAGE;S_SDF;"
         "S_FWL;S_SOCSO;S_ERSOCSO;S_CPFEMPEE;S_CPFEMPER;S_SCP_ER;S_SCP_EE;S_ERVOLUN;S_VOLUN;"
         "S_EIS;S_EREIS;S_EIS_WAGE;SDF;FWL;CPFEMPEE;CPFEMPER;SCP_ER;SCP_EE;TOTAL_SCP;ERVOLUN;"
         "VOLUN;SOCSO;ERSOCSO;EIS_WAGE;EIS;EREIS;TOTAL_EIS;TOTAL_NPL;SHIFTAMT;OTAMT;RESTAMT;"
         "TOTAL_ALLOWANCE;TOTAL_DEDUCTION;GROSS_WAGE;NETT_WAGE;BANKAMT;CASHAMT",
         Money},
        {"P_DTRXAW", "ALLW_DED_CODE;CURR_CODE", Text},
        {"P_DTRXAW", "AMOUNT;AMOUNT2;FAMOUNT", Money},
        {"P_DTRXAW", "EX_RATE", Amount},
        {"P_DTRXNH", "AMOUNT", Money},
        {"P_DTRXND", "AMOUNT", Money},
        {"P_DTRXAS", "AMOUNT", Money},
        {"P_DTRXRD", "AMOUNT", Money},
        {"P_DTRXLV", "AMOUNT", Money},
        {"P_DTRXSF", "SHIFTAMT", Money},
        {"P_DTRXOT", "OTAMT", Money},
        // Counts and factors that the conversion leaves alone, and the wage bases it excludes.
        {"P_DTRXAW", "FREQUENCY", Number},
        {"P_DTRXLV", "FREQUENCY;DAY", Number},
        {"P_DTRXSF", "SHIFT_NO;DAY", Number},
        {"P_DTRXOT", "OTHRS;OTFACTOR", Number},
        {"P_DTRXNH", "HOUR", Number},
        {"P_DTRXND", "DAY", Number},
        {"P_DTRXAS", "DAY", Number},
        {"P_DTRXRD", "DAY", Number},
        {"P_DTRXAW", "CPFOWWAGE;CPFAWWAGE", Money},
        {"P_DTRXLV", "CPFOWWAGE;CPFAWWAGE", Money},
        {"ALLOWNCE", "ALLOW_CODE;YEAR;DESC;IS_TAX;IS_ABSENT;EA_IRA", Text},
        {"ALLOWNCE", "TRNNO", Whole},
        {"BANKTRX", "EMPCODE;PERIOD;CYCLE;BANK_ID;CURR_CODE", Text},
        {"BANKTRX", "BANK_AMT;TRAN_AMT;SPLIT_AMT", Money},
        {"COSTCTR", "EMPCODE;PERIOD;COST_CENTRE;DEPARTMENT", Text},
        {"COSTCTR", "PERCENT", Number},
        {"MEDICAL", "EMPCODE;PERIOD_TO_TRANSFER", Text},
        {"RTABLE", "HEADING;DATABASE1;FIELD;CODE;TYPE1;HIDE_WAGE", Text},
        {"RTABLE", "NO;WIDTH", Whole},
        {"RTPDETL", "DATABASE1;FIELD;CODE;COL", Text},
        {"TRNNO", "TRNNO", Whole},
        {"PPARA_DR", "YEAR;DAY_DESC", Text},
        {"PPARA_OT", "YEAR;OTTYPE", Text},
        {"PPARA_SF", "YEAR;SHIFT_STATUS", Text},
        {"PAY_BANK", "BANK_ID;BANK_BRANCH", Text},
        {"CODE", "CATEGORY;CODE", Text},
    };
    for (const auto& e : expects) {
        for (const auto& name : Split(e.fields)) {
            const auto* f = Table(e.table).FindField(name);
            ASSERT_NE(f, nullptr) << e.table << "." << name;
            switch (e.kind) {
                case Text:
                    EXPECT_EQ(f->Type, TFieldType::ftString) << e.table << "." << name;
                    break;
                case Whole:
                    EXPECT_EQ(f->Type, TFieldType::ftInteger) << e.table << "." << name;
                    break;
                case Money:
                    EXPECT_EQ(f->Type, TFieldType::ftCurrency) << e.table << "." << name;
                    break;
                case Number:
                    EXPECT_EQ(f->Type, TFieldType::ftFloat) << e.table << "." << name;
                    break;
                case Amount: EXPECT_TRUE(IsAmount(f->Type)) << e.table << "." << name; break;
                case Day: EXPECT_EQ(f->Type, TFieldType::ftDate) << e.table << "." << name; break;
                case AutoNumber:
                    EXPECT_EQ(f->Type, TFieldType::ftAutoInc) << e.table << "." << name;
                    break;
            }
        }
    }
}

TEST(CatalogueTest, WidthsTheRebuildsRelyOn) {
    struct Expect {
        const char* table;
        const char* field;
        int size;
    } expects[] = {
        {"EMPLOYEE", "EMP_NO", 12},
        {"EMPLOYEE", "COST_CENTRE_CODE", 8},
        {"EMPLOYEE", "DEPARTMENT_CODE", 8},
        {"RTABLE", "HEADING", 30},
        {"RTABLE", "DATABASE1", 15},
        {"RTABLE", "FIELD", 25},
        {"RTABLE", "CODE", 30},
        {"RTABLE", "TYPE1", 1},
        {"RTABLE", "HIDE_WAGE", 1},
        {"ALLOWNCE", "ALLOW_CODE", 8},
        {"ALLOWNCE", "YEAR", 4},
        {"ALLOWNCE", "DESC", 30},
        {"RTPDETL", "DATABASE1", 15},
        {"RTPDETL", "FIELD", 25},
        {"RTPDETL", "CODE", 30},
        {"RTPDETL", "COL", 4},
        {"EXRATE", "CURR", 8},
        {"EXRATE", "PERIOD", 6},
        {"P_DTRXAW", "ALLW_DED_CODE", 8},
    };
    for (const auto& e : expects) {
        const auto* f = Table(e.table).FindField(e.field);
        ASSERT_NE(f, nullptr) << e.table << "." << e.field;
        EXPECT_EQ(f->Size, e.size) << e.table << "." << e.field;
    }
    // Every payroll row carries its employee, period and cycle with the same widths.
    for (const char* table : {"P_HTRX", "P_DTRXAW", "P_DTRXNH", "P_DTRXND", "P_DTRXAS", "P_DTRXSF",
                              "P_DTRXOT", "P_DTRXRD", "P_DTRXLV", "YTDEMPL", "BANKTRX"}) {
        EXPECT_EQ(Table(table).FindField("EMPCODE")->Size, 12) << table;
        EXPECT_EQ(Table(table).FindField("PERIOD")->Size, 6) << table;
        EXPECT_EQ(Table(table).FindField("CYCLE")->Size, 1) << table;
    }
}

// The record transfer hands over key values by position: "field n" is the n-th column of the
// source table, "employee code" the value of its employee-code field. Each value must meet, in
// the index the transfer makes current, the field it was taken from.
TEST(CatalogueTest, KeyValuesByPositionMeetTheirOwnIndexFields) {
    struct Rule {
        const char* table;
        const char* index;
        const char* empField;     // employee-code field, or empty
        std::vector<int> values;  // 0 = employee code, n = field n
    } rules[] = {
        {"PAYPARA1", "YEAR", "", {1}},
        {"ALLOWNCE", "ALLOW_CODE;YEAR", "", {1, 2}},
        {"PGRP_HDR", "PAY_GROUP;YEAR", "", {1, 2}},
        {"PGRP_TRX", "PAY_GROUP;YEAR;PERIOD", "", {1, 2, 3}},
        {"EMP_PROS", "EMP_CODE;PAY_EFFECTIVE_DATE;ID", "EMP_CODE", {0, 2, 3}},
        {"EMP_OTH", "EMP_NO;YEAR", "EMP_NO", {0, 2}},
        {"EMP_BNK", "EMP_CODE;BANK_ID;BANK_AC_NO", "EMP_CODE", {0, 2, 3}},
        {"EMPLOYEE", "EMP_NO", "EMP_NO", {0}},
        {"EMPMISC", "EMP_NO", "EMP_NO", {0}},
        {"EMPLOYMT", "EMP_NO", "EMP_NO", {0}},
        {"EMP_LVTX", "FIN_PERIOD;EMPCODE;LEAVE_CODE;YEAR;MONTH", "EMPCODE", {1, 0, 3, 4, 5}},
        {"EMPENT", "EMPCODE;FIN_PERIOD;LEAVE_CODE", "EMPCODE", {0, 2, 3}},
        {"YTDEMPL", "EMPCODE;PERIOD;CYCLE", "EMPCODE", {0, 2, 3}},
        {"P_DTRXAS", "PERIOD;CYCLE;EMPCODE;ABSENT_TYPE", "EMPCODE", {1, 2, 0, 4}},
        {"P_DTRXNH", "PERIOD;CYCLE;EMPCODE;NPL_HOUR_TYPE", "EMPCODE", {1, 2, 0, 4}},
        {"P_DTRXND", "PERIOD;CYCLE;EMPCODE;NPL_DAY_TYPE", "EMPCODE", {1, 2, 0, 4}},
        {"P_DTRXSF", "PERIOD;CYCLE;EMPCODE;SHIFT_STATUS", "EMPCODE", {1, 2, 0, 4}},
        {"P_DTRXRD", "PERIOD;CYCLE;EMPCODE;RESTDAY_TYPE", "EMPCODE", {1, 2, 0, 4}},
        {"P_DTRXOT", "PERIOD;CYCLE;EMPCODE;OTTYPE", "EMPCODE", {1, 2, 0, 4}},
        {"P_HTRX", "PERIOD;CYCLE;EMPCODE", "EMPCODE", {1, 2, 0}},
        {"LEAV_TRX", "LEAVE_CODE;EMPCODE;DATE", "EMPCODE", {2, 0, 3}},
    };
    for (const auto& r : rules) {
        const auto& def = Table(r.table);
        auto index = Split(r.index);
        ASSERT_LE(r.values.size(), index.size()) << r.table;
        for (std::size_t k = 0; k < r.values.size(); ++k) {
            int v = r.values[k];
            std::string source = v == 0 ? std::string(r.empField) : def.Fields.at(v - 1).Name;
            EXPECT_EQ(source, index[k]) << r.table << ": value " << k + 1;
        }
    }
}

// LEAV_TRX: the values (field 2, employee code, field 3) meet LEAVE_CODE, EMPCODE, DATE, each a
// field of the value's own type; the employee code comes first, as in EMPENT and EMPLEAVE.
TEST(CatalogueTest, LeaveTransactionsKeepTheColumnOrderOfTheirLookup) {
    const auto& def = Table("LEAV_TRX");
    ASSERT_GE(def.Fields.size(), 3u);
    EXPECT_EQ(def.Fields[0].Name, "EMPCODE");
    EXPECT_EQ(def.Fields[0].Type, TFieldType::ftString);
    EXPECT_EQ(def.Fields[1].Type, TFieldType::ftString);  // field 2 meets LEAVE_CODE
    EXPECT_EQ(def.Fields[2].Type, TFieldType::ftDate);    // field 3 meets DATE
    EXPECT_EQ(def.FindField("LEAVE_CODE")->Type, TFieldType::ftString);
}

// The conversion leaves some amounts alone by comparing field names exactly, as the table spells
// them; a field spelt in another letter case would be multiplied by the rate.
TEST(CatalogueTest, NamesTheConversionExcludesAreSpelledExactly) {
    for (const char* name :
         {"PAYDAY",    "ANLV_CUR",   "ANLV_YTD",   "ANLV_BAL",   "NPL_DAY",   "ABSENT_DAY",
          "WORKDAY",   "SICKLV_CUR", "SICKLV_YTD", "SICKLV_BAL", "CHEQAMT",   "CPF_WAGE",
          "SCP_WAGE",  "SOCSO_WAGE", "TOTAL_CPF",  "S_CPFWAGE",  "S_SDF",     "S_FWL",
          "S_SOCSO",   "S_ERSOCSO",  "S_CPFEMPEE", "S_CPFEMPER", "S_SCP_ER",  "S_SCP_EE",
          "S_ERVOLUN", "S_VOLUN",    "S_EIS",      "S_EREIS",    "S_EIS_WAGE"}) {
        const auto* f = Table("P_HTRX").FindField(name);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(f->Name, name);
    }
    for (const char* table :
         {"P_DTRXNH", "P_DTRXND", "P_DTRXAS", "P_DTRXSF", "P_DTRXOT", "P_DTRXRD", "P_DTRXLV"}) {
        for (const char* name : {"CPFOWWAGE", "CPFAWWAGE", "FREQUENCY", "DAY", "HOUR", "OTHRS",
                                 "OTFACTOR", "SHIFT_NO"}) {
            if (const auto* f = Table(table).FindField(name)) {
                EXPECT_EQ(f->Name, name) << table;
            }
        }
    }
}

TEST(CatalogueTest, ConversionJoinNamesEveryColumnOnce) {
    // SELECT EMPLOYEE.EMP_NO,FCURR_CODE FROM P_HTRX,EMPLOYEE WHERE PERIOD = :PERIOD ...
    EXPECT_EQ(Table("EMPLOYEE").FindField("PERIOD"), nullptr);
    EXPECT_EQ(Table("P_HTRX").FindField("FCURR_CODE"), nullptr);
}

TEST(CatalogueTest, WholeTableTransfersCarryNoEmployeeCodeField) {
    for (const char* table :
         {"PPARA_DR", "PPARA_OT", "PPARA_RD", "PPARA_SF", "RTPHD", "RTPDETL", "GLBODY", "GLCODE",
          "GLDETAIL", "GLHEADER", "GLLINE", "GLMAP", "GLTYPE", "GLPARA"}) {
        for (const char* f : {"EMPCODE", "EMP_NO", "EMP_CODE"})
            EXPECT_EQ(Table(table).FindField(f), nullptr) << table << "." << f;
    }
}

}  // namespace
}  // namespace peltorn::schema
