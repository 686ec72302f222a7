// The clearing and transfer stages on their own, on a folder-of-free-tables destination and
// source connected as the run connects them: the record rules' edge cases, the employee-code and
// null rules of the field copy, TRXID, and the errors that name what failed.
#include "RunFixture.h"

#include "run/ClearDestination.h"
#include "run/TransferRecord.h"
#include "run/TransferTables.h"
#include "schema/Catalogue.h"

#include <filesystem>

namespace peltorn::test {
namespace {

class Transfer : public RunTest {
protected:
    void SetUp() override {
        MakeInstallation(false);
        AddCompany("#GRP");
        AddCompany("A01");
    }
    // The form connected to #GRP and A01 as a source's transfers find it.
    void Attach() {
        MakeForm("202406");
        Connect(Form->dbDest, CompanyPath("#GRP"));
        Connect(Form->dbSource, CompanyPath("A01"));
        Form->SourceDbPath = "S:\\A01";
        Form->tblSource.EnableEncryption(signon::kFreeTablePassword);
    }
    // Replaces a table of a company by the catalogue definition changed by edit.
    template <class Edit>
    void ReplaceTable(const std::string& code, const std::string& table, Edit edit) {
        std::filesystem::remove(CompanyPath(code) + "/" + table + ".ADT");
        db::TTableDef def = *schema::FindCatalogueTable(table);
        edit(def);
        db::TDbConnection conn("make");
        Connect(conn, CompanyPath(code));
        db::CreateTable(conn, def);
        conn.Disconnect();
    }
    std::string TransferError() {
        try {
            run::TransferCompanyTables(*Form);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    }
};

TEST_F(Transfer, CostCentreRecordWithoutEmployeeIsLeftOut) {
    PutIn("A01", "COSTCTR", {{"EMPCODE", ""}, {"PERIOD", "202406"}, {"COST_CENTRE", "C1"}});
    PutIn("A01", "COSTCTR", {{"EMPCODE", "E1"}, {"PERIOD", "202406"}, {"COST_CENTRE", "C2"}});
    Attach();
    run::TransferCompanyTables(*Form);
    EXPECT_EQ(Column("#GRP", "COSTCTR", "COST_CENTRE"), std::vector<std::string>{"C2"});
}

TEST_F(Transfer, AllowanceUpdateKeepsTheDestinationsEaIra) {
    PutIn("#GRP", "ALLOWNCE",
          {{"ALLOW_CODE", "A1"}, {"YEAR", "2024"}, {"DESC", "old"}, {"EA_IRA", "X1"}});
    PutIn("A01", "ALLOWNCE",
          {{"ALLOW_CODE", "A1"}, {"YEAR", "2024"}, {"DESC", "new"}, {"EA_IRA", "Y2"}});
    PutIn("A01", "ALLOWNCE", {{"ALLOW_CODE", "A2"}, {"YEAR", "2024"}, {"EA_IRA", "Y3"}});
    Attach();
    run::TransferCompanyTables(*Form);
    auto rows = RowsOf("#GRP", "ALLOWNCE");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["DESC"], "new");
    EXPECT_EQ(rows[0]["EA_IRA"], "X1");
    EXPECT_EQ(rows[1]["ALLOW_CODE"], "A2");
    EXPECT_EQ(rows[1]["EA_IRA"], "<null>");  // the table's default, not the source's value
}

TEST_F(Transfer, NullsGiveEmptyDatesZeroAmountsAndEmptyTextOnUpdate) {
    PutIn("#GRP", "EMPLOYEE",
          {{"EMP_NO", "E1"}, {"NAME", "Old"}, {"RESIGN_DATE", "2023-01-01"}, {"BASIC_RATE", "5"}});
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E1"}, {"JOIN_DATE", "2020-01-15"}});
    Attach();
    run::TransferCompanyTables(*Form);
    auto rows = RowsOf("#GRP", "EMPLOYEE");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["JOIN_DATE"], "15/01/2020");
    EXPECT_EQ(rows[0]["RESIGN_DATE"], "<null>");
    EXPECT_EQ(rows[0]["BASIC_RATE"], "0");
    EXPECT_TRUE(rows[0]["NAME"] == "" || rows[0]["NAME"] == "<null>") << rows[0]["NAME"];
}

TEST_F(Transfer, EmployeeCodeFieldsTakeTheCurrentEmployeeCode) {
    PutIn("A01", "EMP_ALW", {{"EMP_NO", "E1"}, {"ALLOW_CODE", "TRV"}, {"ID", "1"}});
    Attach();
    Form->tblSource.SQL().Add("SELECT * FROM EMP_ALW");
    Form->tblSource.Open();
    Form->tblDest.SetTableName("EMP_ALW");
    Form->tblDest.Open();
    Form->CurrentEmpCode = "ZZ9";
    run::TransferRecord(*Form);
    Form->tblDest.Close();
    EXPECT_EQ(Column("#GRP", "EMP_ALW", "EMP_NO"), std::vector<std::string>{"ZZ9"});
}

TEST_F(Transfer, FailedPostNamesTheEmployeeAndWritesNothing) {
    ReplaceTable("#GRP", "EMPLOYEE", [](db::TTableDef& def) {
        def.Indexes.push_back({"IC", {"IC_NO"}, true});
    });
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E1"}, {"IC_NO", "800101"}});
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E2"}, {"IC_NO", "800101"}});
    Attach();
    const std::string error = TransferError();
    EXPECT_EQ(error.rfind("Employee#E2 ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("Employee#E2 ").size());
    Form->dbDest.Disconnect();
    EXPECT_EQ(Column("#GRP", "EMPLOYEE", "EMP_NO"), std::vector<std::string>{"E1"});
}

TEST_F(Transfer, MissingDestinationTableIsNamed) {
    std::filesystem::remove(CompanyPath("#GRP") + "/PGRP_HDR.ADT");
    Attach();
    const std::string error = TransferError();
    const std::string suffix = " Table PGRP_HDR";
    ASSERT_GE(error.size(), suffix.size()) << error;
    EXPECT_EQ(error.substr(error.size() - suffix.size()), suffix);
}

TEST_F(Transfer, SourceEmployeeWithoutStopIndicatorFailsNamingTheField) {
    ReplaceTable("A01", "EMPLOYEE", [](db::TTableDef& def) {
        std::erase_if(def.Fields, [](const db::TFieldDef& f) { return f.Name == "STOP_IND"; });
    });
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E1"}});
    Attach();
    EXPECT_NE(TransferError().find("STOP_IND"), std::string::npos);
}

TEST_F(Transfer, ClearingEncryptsPeriodTablesAndMakesTrxidAnIntegerThatKeepsSourceNumbers) {
    // Source numbers 2 and 3: the destination would number its own rows from 1.
    for (const char* acc : {"111", "222", "333"})
        PutIn("A01", "EMP_BNK", {{"EMP_CODE", "E1"}, {"BANK_ID", "B"}, {"BANK_AC_NO", acc}});
    {
        db::TDbConnection conn("del");
        Connect(conn, CompanyPath("A01"));
        db::TDbTable t("del");
        OpenTable(t, conn, "EMP_BNK");
        t.First();
        t.Delete();
        t.Close();
        conn.Disconnect();
    }
    Attach();
    run::ClearDestination(*Form);
    run::TransferCompanyTables(*Form);
    Form->dbDest.Disconnect();

    EXPECT_EQ(Column("#GRP", "EMP_BNK", "TRXID"), (std::vector<std::string>{"2", "3"}));
    db::TDbConnection conn("check");
    Connect(conn, CompanyPath("#GRP"));
    auto def = db::ReadTableDef(conn, "EMP_BNK");
    EXPECT_EQ(def.FindField("TRXID")->Type, db::TFieldType::ftInteger);
    db::TDbTable htrx("htrx");
    htrx.SetConnection(&conn);
    htrx.SetTableName("P_HTRX");
    htrx.Open();
    EXPECT_TRUE(htrx.IsTableEncrypted());
    htrx.Close();
    conn.Disconnect();
}

TEST_F(Transfer, ParameterTablesMatchOnTheirKeysAndPparaRdIsNeverTouched) {
    PutIn("#GRP", "PPARA_OT", {{"YEAR", "2024"}, {"OTTYPE", "OT1"}, {"OTFACTOR", "1"}});
    PutIn("A01", "PPARA_OT", {{"YEAR", "2024"}, {"OTTYPE", "OT1"}, {"OTFACTOR", "1.5"}});
    PutIn("A01", "PPARA_OT", {{"YEAR", "2024"}, {"OTTYPE", "OT2"}, {"OTFACTOR", "2"}});
    PutIn("A01", "PPARA_RD", {{"YEAR", "2024"}, {"RESTDAY_TYPE", "R"}});
    Attach();
    for (const char* t : {"PPARA_OT", "PPARA_RD", "PPARA_OT"})
        run::TransferParameterTable(*Form, t);
    EXPECT_EQ(Column("#GRP", "PPARA_OT", "OTFACTOR"), (std::vector<std::string>{"1.5", "2"}));
    EXPECT_TRUE(RowsOf("#GRP", "PPARA_RD").empty());
    EXPECT_TRUE(Form->tblDest.TableName().empty());
}

}  // namespace
}  // namespace peltorn::test
