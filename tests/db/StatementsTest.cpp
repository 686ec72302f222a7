// Every statement text the merge issues, run verbatim through the layer on tables shaped as the
// merge uses them, on both kinds of database; and the query contract (parameters, Prepare and
// ExecSQL on an open query, RecordCount, First again).
#include "DbFixture.h"

using namespace peltorn;
using namespace peltorn::test;
using db::TDbQuery;
using db::TDbTable;
using db::TFieldType;

namespace {

db::TTableDef Def(const std::string& name, std::vector<db::TFieldDef> fields,
                  std::vector<db::TIndexDef> indexes = {}) {
    db::TTableDef d;
    d.Name = name;
    d.Fields = std::move(fields);
    d.Indexes = std::move(indexes);
    return d;
}

class StatementsTest : public DbTest, public ::testing::WithParamInterface<bool> {
protected:
    bool Dictionary() const { return GetParam(); }

    void SetUp() override {
        if (Dictionary())
            MakeDictionary();
        else
            MakeFree();
        db::CreateTable(Conn, Def("P_HTRX",
                                  {{"EMPCODE", TFieldType::ftString, 12, ""},
                                   {"PERIOD", TFieldType::ftString, 6, ""},
                                   {"CYCLE", TFieldType::ftString, 1, ""},
                                   {"NETT_WAGE", TFieldType::ftCurrency, 0, ""}},
                                  {{"EPC", {"EMPCODE", "PERIOD", "CYCLE"}, false}}));
        db::CreateTable(Conn, Def("EMPLOYEE",
                                  {{"EMP_NO", TFieldType::ftString, 12, ""},
                                   {"FCURR_CODE", TFieldType::ftString, 8, ""},
                                   {"LOCAL_CURR_CODE", TFieldType::ftString, 8, ""}},
                                  {{"EMP_NO", {"EMP_NO"}, false}}));
        db::CreateTable(Conn, Def("EMP_BNK",
                                  {{"EMP_CODE", TFieldType::ftString, 12, ""},
                                   {"BANK_ID", TFieldType::ftString, 8, ""},
                                   {"BANK_AC_NO", TFieldType::ftString, 20, ""},
                                   {"TRXID", TFieldType::ftAutoInc, 0, ""}},
                                  {{"KEY", {"EMP_CODE", "BANK_ID", "BANK_AC_NO"}, false},
                                   {"TRXID", {"TRXID"}, false}}));
        db::CreateTable(Conn, Def("BANKTRX", {{"EMPCODE", TFieldType::ftString, 12, ""},
                                              {"PERIOD", TFieldType::ftString, 6, ""},
                                              {"CYCLE", TFieldType::ftString, 1, ""},
                                              {"BANK_ID", TFieldType::ftString, 8, ""},
                                              {"bank_amt", TFieldType::ftCurrency, 0, ""}}));
        db::CreateTable(Conn, Def("EXRATE", {{"CURR", TFieldType::ftString, 8, ""},
                                             {"EXCODE", TFieldType::ftString, 8, ""},
                                             {"PERIOD", TFieldType::ftString, 6, ""},
                                             {"EX_RATE", TFieldType::ftFloat, 0, ""}}));
        db::CreateTable(Conn, Def("COSTCTR", {{"EMPCODE", TFieldType::ftString, 12, ""},
                                              {"PERIOD", TFieldType::ftString, 6, ""}}));
        db::CreateTable(Conn,
                        Def("MEDICAL", {{"EMPCODE", TFieldType::ftString, 12, ""},
                                        {"PERIOD_TO_TRANSFER", TFieldType::ftString, 6, ""}}));

        Exec(
            "INSERT INTO P_HTRX VALUES ('E1','202403','1',100),('E1','202403','S',5),"
            "('E2','202403','1',200),('E1','202402','1',90)");
        Exec(
            "INSERT INTO EMPLOYEE VALUES ('E1','SGD','SGD'),('E2','MYR','MYR'),('E3','USD','USD')");
        Exec("INSERT INTO EMP_BNK VALUES ('E1','B1','111',7),('E2','B2','222',9)");
        Exec(
            "INSERT INTO BANKTRX VALUES ('E1','202403','1','TT',50),('E1','202403','1','B1',50),"
            "('E1','202403','2','B1',1)");
        Exec("INSERT INTO EXRATE VALUES ('SGD','MYR','202403',3.1),('USD','MYR','202403',4.4)");
        Exec("INSERT INTO COSTCTR VALUES ('E1','200612'),('E1','200701'),('E1','202403')");
        Exec("INSERT INTO MEDICAL VALUES ('E1','202403'),('E2','999999')");
    }

    int Exec(const std::string& sql,
             const std::vector<std::pair<std::string, std::string>>& params = {}) {
        TDbQuery q("exec");
        q.SetConnection(&Conn);
        q.SQL().Add(sql);
        for (const auto& [name, value] : params) q.ParamByName(name).SetAsString(value);
        q.ExecSQL();
        return q.RowsAffected();
    }

    int Count(const std::string& table, const std::string& where = "1=1") {
        TDbQuery q("count");
        q.SetConnection(&Conn);
        q.SQL().Add("SELECT count(*) AS N FROM " + table + " WHERE " + where);
        q.Open();
        return q.FieldByName("N").AsInteger();
    }
};

TEST_P(StatementsTest, ClearingStatementsKeepTheirMeaning) {
    EXPECT_EQ(Exec("DELETE FROM \"COSTCTR\"  "), 3);
    EXPECT_EQ(Count("COSTCTR"), 0);
    // Period statement without and with the special cycle kept.
    EXPECT_EQ(
        Exec("DELETE FROM \"P_HTRX\" WHERE PERIOD=:PERIOD AND CYCLE<>'S' ", {{"PERIOD", "202403"}}),
        2);
    EXPECT_EQ(Count("P_HTRX", "CYCLE='S'"), 1);
    EXPECT_EQ(Exec("DELETE FROM \"P_HTRX\" WHERE PERIOD=:PERIOD ", {{"PERIOD", "202403"}}), 1);
    EXPECT_EQ(Count("P_HTRX"), 1);  // 202402 stays
}

TEST_P(StatementsTest, TrxidRepairMakesAutoIncrementAPlainIntegerKeepingValuesAndIndexes) {
    auto before = db::ReadTableDef(Conn, "EMP_BNK");
    ASSERT_EQ(before.FindField("TRXID")->Type, TFieldType::ftAutoInc);
    if (Dictionary()) {
        Conn.ExecuteStatement(
            "IF EXISTS (SELECT * FROM SYSTEM.COLUMNS WHERE PARENT = 'EMP_BNK' and Name = 'TRXID' "
            "AND "
            "Field_Type=15 ) THEN ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID INTEGER;  END IF ");
    } else {
        TDbQuery q("sql");
        q.SetConnection(&Conn);
        q.SQL().Add("SELECT * FROM EMP_BNK");
        q.Open();
        ASSERT_EQ(q.FieldByName("TRXID").DataType(), TFieldType::ftAutoInc);
        q.Close();
        q.SQL().Clear();
        q.SQL().Add("ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID INTEGER");
        q.ExecSQL();
    }
    auto after = db::ReadTableDef(Conn, "EMP_BNK");
    EXPECT_EQ(after.FindField("TRXID")->Type, TFieldType::ftInteger);
    ASSERT_EQ(after.Indexes.size(), 2u);
    EXPECT_EQ(after.Indexes[0].Fields,
              (std::vector<std::string>{"EMP_CODE", "BANK_ID", "BANK_AC_NO"}));
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("EMP_BNK");
    t.Open();
    EXPECT_EQ(t.FieldByName("TRXID").AsInteger(), 7);
    t.Next();
    EXPECT_EQ(t.FieldByName("TRXID").AsInteger(), 9);
    // A second repair finds nothing to do.
    if (Dictionary()) {
        EXPECT_EQ(
            Conn.ExecuteStatement(
                "IF EXISTS (SELECT * FROM SYSTEM.COLUMNS WHERE PARENT = 'EMP_BNK' and Name = "
                "'TRXID' AND Field_Type=15 ) THEN ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID "
                "INTEGER;  END IF "),
            0);
    }
}

TEST_P(StatementsTest, SystemColumnsReportsAutoIncrementAs15) {
    TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT Field_Type FROM SYSTEM.COLUMNS WHERE PARENT = 'EMP_BNK' AND Name = :N");
    q.ParamByName("N").SetAsString("TRXID");
    q.Open();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.Fields(0).AsInteger(), 15);
    q.Close();
    q.ParamByName("N").SetAsString("BANK_ID");
    q.Open();
    EXPECT_NE(q.Fields(0).AsInteger(), 15);
}

TEST_P(StatementsTest, TransferSelectionsOfTheCopy) {
    TDbQuery q("src");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT EMPLOYEE.* FROM EMPLOYEE");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(q.FieldCount(), 3);
    q.Close();
    q.SQL().Clear();
    q.SQL().Add("SELECT * FROM P_HTRX");
    q.SQL().Add("WHERE PERIOD = :PERIOD ");
    q.ParamByName("PERIOD").SetAsString("202403");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
    q.Close();
    q.SQL().Clear();
    q.SQL().Add("SELECT * FROM MEDICAL");
    q.SQL().Add("WHERE  PERIOD_TO_TRANSFER=:PERIOD");
    q.ParamByName("PERIOD").SetAsString("999999");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("EMPCODE").AsString(), "E2");
}

TEST_P(StatementsTest, CurrencyStatements) {
    TDbQuery sel("sel");
    sel.SetConnection(&Conn);
    sel.SQL().Add(
        "SELECT EMPLOYEE.EMP_NO,FCURR_CODE FROM P_HTRX,EMPLOYEE WHERE PERIOD = :PERIOD AND "
        "EMPLOYEE.EMP_NO=P_HTRX.EMPCODE");
    sel.SQL().Add("GROUP BY EMPLOYEE.EMP_NO,FCURR_CODE ");
    sel.SQL().Add("ORDER BY EMPLOYEE.EMP_NO,FCURR_CODE ");
    sel.ParamByName("period").SetAsString("202403");
    sel.Prepare();
    sel.Open();
    EXPECT_EQ(sel.RecordCount(), 2);  // E1 (two cycles) once, E2
    EXPECT_EQ(sel.FieldByName("EMP_NO").AsString(), "E1");
    EXPECT_EQ(sel.FieldByName("FCURR_CODE").AsString(), "SGD");
    sel.Next();
    EXPECT_EQ(sel.FieldByName("EMP_NO").AsString(), "E2");
    sel.Next();
    EXPECT_TRUE(sel.Eof());
    EXPECT_THROW(sel.Prepare(), db::EDbDatasetError);
    EXPECT_THROW(sel.ExecSQL(), db::EDbDatasetError);
    sel.First();  // runs again from the first row
    EXPECT_EQ(sel.FieldByName("EMP_NO").AsString(), "E1");

    TDbQuery heads("heads");
    heads.SetConnection(&Conn);
    heads.SQL().Add("SELECT EMPCODE,PERIOD,CYCLE,NETT_WAGE FROM P_HTRX WHERE PERIOD=:PERIOD");
    heads.ParamByName("period").SetAsString("202403");
    heads.Open();
    EXPECT_EQ(heads.RecordCount(), 3);
    // Moving on by rows lands where as many Next calls land, and at the end the query is at its
    // end.
    std::vector<std::string> walked;
    for (heads.First(); !heads.Eof(); heads.Next())
        walked.push_back(heads.FieldByName("EMPCODE").AsString() +
                         heads.FieldByName("CYCLE").AsString());
    heads.First();
    heads.MoveBy(2);
    ASSERT_FALSE(heads.Eof());
    EXPECT_EQ(heads.FieldByName("EMPCODE").AsString() + heads.FieldByName("CYCLE").AsString(),
              walked[2]);
    heads.MoveBy(2);
    EXPECT_TRUE(heads.Eof());

    TDbQuery bank("bank");
    bank.SetConnection(&Conn);
    bank.SQL().Add(
        "SELECT * FROM BANKTRX WHERE CYCLE = :CYCLE AND PERIOD=:PERIOD AND EMPCODE=:EMPCODE ");
    bank.ParamByName("EMPCODE").SetAsString("E1");
    bank.ParamByName("PERIOD").SetAsString("202403");
    bank.ParamByName("CYCLE").SetAsString("1");
    bank.Open();
    EXPECT_EQ(bank.RecordCount(), 2);

    EXPECT_EQ(Exec("UPDATE EXRATE SET EX_RATE=1"), 2);
    EXPECT_EQ(Count("EXRATE", "EX_RATE=1"), 2);

    TDbQuery stamp("stamp");
    stamp.SetConnection(&Conn);
    stamp.SQL().Add("update EMPLOYEE set FCURR_CODE=:FCURR_CODE,LOCAL_CURR_CODE=:FCURR_CODE");
    stamp.ParamByName("FCURR_CODE").SetAsString("MYR");
    stamp.Prepare();
    stamp.ExecSQL();
    EXPECT_EQ(stamp.RowsAffected(), 3);
    EXPECT_EQ(Count("EMPLOYEE", "FCURR_CODE='MYR' AND LOCAL_CURR_CODE='MYR'"), 3);
}

TEST_P(StatementsTest, CostCentreCutOffComparesAsText) {
    EXPECT_EQ(Exec("DELETE FROM COSTCTR WHERE PERIOD>='200701' "), 2);
    EXPECT_EQ(Count("COSTCTR"), 1);
}

TEST_P(StatementsTest, MissingParameterValueIsEmptyTextAndUnknownNamesAreErrors) {
    TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT count(*) AS N FROM P_HTRX WHERE PERIOD = :PERIOD OR :PERIOD = ''");
    q.Open();
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 4);
    q.Close();
    EXPECT_THROW(q.ParamByName("NOPE"), db::EDbDatasetError);
    q.SQL().Clear();
    q.SQL().Add("SELECT * FROM NOSUCHTABLE");
    try {
        q.Open();
        FAIL();
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("NOSUCHTABLE"), std::string::npos);
    }
}

TEST_P(StatementsTest, ConnectionRules) {
    EXPECT_TRUE(Conn.IsConnected());
    try {
        Conn.SetConnectPath("/elsewhere");
        FAIL();
    } catch (const db::EDbConnectionError& e) {
        EXPECT_STREQ(e.what(),
                     "The TDbConnection.ConnectPath may not be changed when IsConnected is TRUE");
    }
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("EMPLOYEE");
    t.Open();
    Conn.Disconnect();
    EXPECT_FALSE(t.Active());  // disconnecting closes the datasets
    t.Open();                  // and opening connects again
    EXPECT_TRUE(Conn.IsConnected());
    EXPECT_EQ(Conn.IsDictionaryConn(), Dictionary());
}

INSTANTIATE_TEST_SUITE_P(BothKinds, StatementsTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Dictionary" : "FreeTables"; });

TEST(ConnectionTest, PathRulesAndRefusals) {
    db::TDbConnection c("c");
    EXPECT_FALSE(c.IsDictionaryConn());
    try {
        c.Connect();
        FAIL();
    } catch (const db::EDbConnectionError& e) {
        EXPECT_STREQ(e.what(),
                     "Must specify connection string before getting a server connection.");
    }
    c.SetConnectPath("C:\\PAY\\COMPANY\\#GRP\\#grp.add");
    EXPECT_TRUE(c.IsDictionaryConn());
    c.SetConnectPath("C:\\PAY\\COMPANY\\#GRP");
    EXPECT_FALSE(c.IsDictionaryConn());
    EXPECT_EQ(db::NormalizePath("D:\\DATA\\\\COMPANY//#A\\"), "D:/DATA/COMPANY/#A");

    TempDir dir;
    c.SetConnectPath(dir.Str() + "\\missing");
    try {
        c.Connect();
        FAIL();
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
    }
    std::string dict = dir.Str() + "\\\\X.ADD";
    db::CreateDictionary(dict, {{"ADSSYS", "right"}});
    c.SetConnectPath(dict);
    c.Username = "ADSSYS";
    c.Password = "wrong";
    try {
        c.Connect();
        FAIL();
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_EQ(e.Code(), db::TDbErrorCode::LoginRefused);
        EXPECT_NE(std::string(e.what()).find("ADSSYS"), std::string::npos);
    }
    c.Password = "right";
    c.Connect();
    EXPECT_TRUE(c.IsConnected());
}

}  // namespace
