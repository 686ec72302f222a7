// Rebuilding the destination's bank transactions: the "TT" and non-"TT" cases, employees
// without source rows, a copy that fails for one employee, and bank rows read from the source
// company each header row came from.
#include "CurrencyFixture.h"
#include "currency/BankTransactions.h"
#include "signon/Credentials.h"

namespace peltorn::test {
namespace {

using currency::ConvertBankTransactions;

constexpr double kTol = 1e-6;

struct BankRow {
    std::string BankId, CurrCode;
    double BankAmt, TranAmt, SplitAmt;
};

class BankTest : public CurrencyTest {
protected:
    void HeaderNett(const std::string& empNo, const std::string& nett) {
        Header(empNo, "1", {{"NETT_WAGE", nett}});
    }
    void SourceBank(db::TDbConnection& conn, const std::string& empNo, const std::string& bankId,
                    const std::string& curr, const std::string& amount,
                    const std::string& tran = "", const std::string& split = "") {
        Insert(conn, "BANKTRX",
               {{"EMPCODE", empNo},
                {"PERIOD", kPeriod},
                {"CYCLE", "1"},
                {"BANK_ID", bankId},
                {"CURR_CODE", curr},
                {"BANK_AMT", amount},
                {"TRAN_AMT", tran.empty() ? amount : tran},
                {"SPLIT_AMT", split}});
    }
    void Run() {
        form.DbTableExrate.Close();
        form.DbTableExrate.Open();
        ConvertBankTransactions(form);
        form.tblDest.Close();
    }
    // The destination's rows of an employee, in the order they were written.
    std::vector<BankRow> DestRows(const std::string& empNo) {
        std::vector<BankRow> rows;
        Reader r(form.dbDest, "BANKTRX", "EMPCODE;PERIOD;CYCLE");
        if (!r.Find({empNo})) return rows;
        for (auto& t = r.Table(); !t.Eof() && r.S("EMPCODE") == empNo; t.Next()) {
            rows.push_back({r.S("BANK_ID"), r.S("CURR_CODE"), r.F("BANK_AMT"), r.F("TRAN_AMT"),
                            r.F("SPLIT_AMT")});
        }
        return rows;
    }
};

TEST_F(BankTest, WithoutTTTheFirstRowPaysTheNettWageInTheStandardCurrency) {
    HeaderNett("E1", "1000");
    SourceBank(form.dbSource, "E1", "B1", "MYR", "100", "", "9");
    SourceBank(form.dbSource, "E1", "B2", "SGD", "200");
    SourceBank(form.dbSource, "E1", "B3", "USD", "300");
    Rate("SGD", "3.5");

    Run();

    auto rows = DestRows("E1");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].BankId, "B1");
    EXPECT_NEAR(rows[0].BankAmt, 1000, kTol);  // the whole NETT_WAGE
    EXPECT_NEAR(rows[0].TranAmt, 1000, kTol);
    EXPECT_NEAR(rows[0].SplitAmt, 9, kTol);  // left as copied
    for (int i = 1; i < 3; ++i) {
        EXPECT_NEAR(rows[i].BankAmt, 0, kTol);
        EXPECT_NEAR(rows[i].TranAmt, 0, kTol);
    }
    for (const auto& row : rows) EXPECT_EQ(row.CurrCode, "MYR");
    // Only the USD row lacks a rate; MYR got its rate-1 row in the source.
    EXPECT_EQ(op.Messages,
              (std::vector<std::string>{
                  "Undefined Exrate Table. Rate : 3.5STDCURR MYR CURR_CODE USD PERIOD 202403",
                  "E1Error 1004. Unable to locate Source Currency : USD To MYR"}));
    Reader rates(form.dbSource, "EXRATE", "CURR;EXCODE;PERIOD");
    EXPECT_TRUE(rates.Find({"MYR", "MYR", kPeriod}));
}

TEST_F(BankTest, TTRowPaysWhatTheStandardCurrencyBanksLeave) {
    HeaderNett("E1", "1000");
    SourceBank(form.dbSource, "E1", "A", "MYR", "300", "", "1");
    SourceBank(form.dbSource, "E1", "TT", "SGD", "500", "", "2");
    SourceBank(form.dbSource, "E1", "C", "SGD", "200", "", "3");

    Run();

    auto rows = DestRows("E1");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].CurrCode, "MYR");
    EXPECT_NEAR(rows[0].BankAmt, 300, kTol);
    EXPECT_NEAR(rows[1].BankAmt, 700, kTol);  // 1000 - 300 (MYR rows only)
    EXPECT_NEAR(rows[1].TranAmt, 700, kTol);
    EXPECT_EQ(rows[2].CurrCode, "SGD");  // other rows keep amount and currency
    EXPECT_NEAR(rows[2].BankAmt, 200, kTol);
    for (const auto& row : rows) EXPECT_NEAR(row.SplitAmt, 0, kTol);
    EXPECT_TRUE(op.Messages.empty());
}

TEST_F(BankTest, OnlyTheFirstNonZeroTTRowGetsTheRemainder) {
    HeaderNett("E1", "1000");
    SourceBank(form.dbSource, "E1", "TT", "MYR", "400");
    SourceBank(form.dbSource, "E1", "TT", "MYR", "0", "5");
    SourceBank(form.dbSource, "E1", "TT", "MYR", "300");
    SourceBank(form.dbSource, "E1", "B1", "MYR", "100");

    Run();

    auto rows = DestRows("E1");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_NEAR(rows[0].BankAmt, 900, kTol);  // 1000 - 100 (B1, MYR)
    EXPECT_NEAR(rows[0].TranAmt, 900, kTol);
    EXPECT_NEAR(rows[1].BankAmt, 0, kTol);  // zero TT row: as copied, not counted
    EXPECT_NEAR(rows[1].TranAmt, 5, kTol);
    EXPECT_NEAR(rows[2].BankAmt, 0, kTol);  // second non-zero TT row
    EXPECT_NEAR(rows[2].TranAmt, 0, kTol);
    EXPECT_NEAR(rows[3].BankAmt, 100, kTol);
}

TEST_F(BankTest, EmployeeWithoutSourceRowsGetsNone) {
    HeaderNett("E1", "1000");
    HeaderNett("E2", "500");
    SourceBank(form.dbSource, "E2", "B1", "MYR", "500");
    Run();
    EXPECT_TRUE(DestRows("E1").empty());
    EXPECT_EQ(DestRows("E2").size(), 1u);
}

TEST_F(BankTest, FailedCopyIsReportedPerEmployeeAndWritesNoPartialRow) {
    HeaderNett("E1", "1000");
    HeaderNett("E2", "500");
    SourceBank(form.dbSource, "E1", "B1", "MYR", "100");
    SourceBank(form.dbSource, "E2", "B1", "MYR", "200");
    form.dbDest.Disconnect();
    ReplaceTable(m_destPath, CatalogueTableWithout("BANKTRX", [](const std::string& name) {
                     return name == "PAY_DATE";
                 }));

    Run();

    EXPECT_EQ(CountRows(form.dbDest, "BANKTRX"), 0);
    ASSERT_EQ(op.Messages.size(), 2u);
    const std::string tail1 = " Employee# E1 Period # 202403 cycle# 1";
    const std::string tail2 = " Employee# E2 Period # 202403 cycle# 1";
    EXPECT_NE(op.Messages[0].find("PAY_DATE"), std::string::npos) << op.Messages[0];
    EXPECT_EQ(op.Messages[0].substr(op.Messages[0].size() - tail1.size()), tail1);
    EXPECT_EQ(op.Messages[1].substr(op.Messages[1].size() - tail2.size()), tail2);
}

TEST_F(BankTest, MissingDestinationTableEndsTheStepNamingIt) {
    form.dbDest.Disconnect();
    std::filesystem::remove(std::filesystem::path(m_destPath) / "BANKTRX.ADT");
    form.DbTableExrate.Open();
    try {
        ConvertBankTransactions(form);
        FAIL() << "no error";
    } catch (const std::exception& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.substr(text.size() - 14), " Table BANKTRX") << text;
    }
}

// A group of two sources: CO0 (by PATH) and CO1 (by code, the last, where dbSource stands).
class GroupBankTest : public BankTest {
protected:
    void PrepareTables() override {
        m_firstPath = (m_dir / "COMPANY" / "CO0").string();
        schema::CreateCompanyDatabase(m_firstPath);
        m_mainPath = (m_dir / "main").string();
        schema::CreateMainDatabase(m_mainPath);
    }
    void OpenGroup() {
        form.BaseFolder = m_dir.Str(true);
        form.DatabaseMain.SetConnectPath(m_mainPath);
        Insert(form.DatabaseMain, "MERGRHD", {{"NO", "1"}, {"CODE", "#GRP"}, {"MASTER", "T"}});
        Insert(form.DatabaseMain, "MERGEDTL",
               {{"NO", "1"}, {"CODE", "CO0"}, {"PATH", m_firstPath}});
        Insert(form.DatabaseMain, "MERGEDTL", {{"NO", "1"}, {"CODE", "CO1"}});
        form.TableMerge.Open();
        form.TableMergeDTL.Open();
        // As the run leaves it: after the last source.
        while (!form.TableMergeDTL.Eof()) form.TableMergeDTL.Next();
    }
    static void Encrypt(const std::string& path, const std::string& table) {
        db::TDbConnection conn("encrypt");
        conn.SetConnectPath(path);
        db::TDbTable t("encrypt");
        t.SetConnection(&conn);
        t.SetTableName(table);
        t.Open();
        t.EnableEncryption(signon::kFreeTablePassword);
        t.EncryptTable();
        t.Close();
        conn.Disconnect();
    }
    std::string m_firstPath, m_mainPath;
};

TEST_F(GroupBankTest, EachHeaderRowTakesTheBankRowsOfTheSourceItCameFrom) {
    {
        db::TDbConnection first("first");
        first.SetConnectPath(m_firstPath);
        for (const char* empNo : {"E1", "E3"}) {
            Insert(first, "P_HTRX", {{"EMPCODE", empNo}, {"PERIOD", kPeriod}, {"CYCLE", "1"}});
        }
        SourceBank(first, "E1", "B1", "MYR", "500");
        SourceBank(first, "E3", "B1", "MYR", "700");
        first.Disconnect();
        // The earlier source's period tables are encrypted, as in a live installation.
        Encrypt(m_firstPath, "P_HTRX");
        Encrypt(m_firstPath, "BANKTRX");
    }
    // E3 is in both; its header came from CO1 (the later source), which pays it in cash.
    for (const char* empNo : {"E2", "E3"}) {
        Insert(form.dbSource, "P_HTRX", {{"EMPCODE", empNo}, {"PERIOD", kPeriod}, {"CYCLE", "1"}});
    }
    SourceBank(form.dbSource, "E2", "B2", "MYR", "800");
    HeaderNett("E1", "1000");
    HeaderNett("E2", "2000");
    HeaderNett("E3", "3000");
    OpenGroup();

    Run();

    auto e1 = DestRows("E1");
    ASSERT_EQ(e1.size(), 1u);  // from CO0, which only the last source would have lost
    EXPECT_EQ(e1[0].BankId, "B1");
    EXPECT_NEAR(e1[0].BankAmt, 1000, kTol);
    auto e2 = DestRows("E2");
    ASSERT_EQ(e2.size(), 1u);
    EXPECT_NEAR(e2[0].BankAmt, 2000, kTol);
    EXPECT_TRUE(DestRows("E3").empty());
    EXPECT_TRUE(op.Messages.empty()) << op.Messages.front();

    EXPECT_TRUE(form.TableMergeDTL.Eof());  // left as the run left it
    EXPECT_EQ(form.dbSource.ConnectPath(), m_srcPath);
    EXPECT_TRUE(form.dbSource.IsConnected());
}

}  // namespace
}  // namespace peltorn::test
