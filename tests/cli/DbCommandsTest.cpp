// peltorn db, run as the built tool: databases created from the catalogue, CSV in and out of
// both database layouts and of encrypted free tables, the statements the merge runs, and the
// error paths (exit codes, messages, nothing written).
#include "DbCliFixture.h"
#include "TestSupport.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/EncryptionUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace peltorn {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

constexpr const char* kTablePassword = "KQZLV4862";

class DbCliTest : public test::DbCliFixture {
protected:
    std::string Company(const std::string& name = "CO") {
        std::string path = (dir / name).string();
        Ok({"db", "create-company", path});
        return path;
    }
    std::vector<std::string> WithArgs(std::vector<std::string> args,
                                      const std::vector<std::string>& extra) {
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::string Import(const std::string& db, const std::string& table, const std::string& csv,
                       const std::vector<std::string>& extra = {}) {
        return Ok(WithArgs({"db", "import", db, table, File(table + ".csv", csv)}, extra));
    }
    std::string Export(const std::string& db, const std::string& table,
                       const std::vector<std::string>& extra = {}) {
        return Ok(WithArgs({"db", "export", db, table}, extra));
    }
    std::string Sql(const std::string& db, const std::string& statement,
                    const std::vector<std::string>& extra = {}) {
        return Ok(WithArgs({"db", "sql", db, statement}, extra));
    }
};

// ---- creating and listing ----

TEST_F(DbCliTest, CreatesAndListsBothKindsOfDatabase) {
    std::string main = (dir / "MAIN").string();
    Ok({"db", "create-main", main});
    EXPECT_EQ(Ok({"db", "tables", main}), "MCOMPANY\nMERGEDTL\nMERGRHD\n");
    EXPECT_EQ(Ok({"db", "fields", main, "MERGEDTL"}),
              "NO ftInteger 0\nCODE ftString 8\nTYPE ftString 8\nPATH ftString 150\n"
              "INDEX NOCODE NO;CODE UNIQUE\n");

    std::string dict = (dir / "D" / "D.ADD").string();
    Ok({"db", "create-company", dict, "--version-mark", "@2018"});
    // "@2018": ADSSYS signs on with the free-table password.
    std::string tables = Ok({"db", "tables", dict, "--password", kTablePassword});
    EXPECT_NE(tables.find("\nP_HTRX\n"), std::string::npos);
    EXPECT_EQ(Export(dict, "PAYPARA", {"--password", kTablePassword}),
              "COMPANY_NAME,DBVERSION,CURR_CODE\r\n,@2018,\r\n");
    std::string err = Fails({"db", "tables", dict, "--password", "nope"});
    EXPECT_NE(err.find("ADSSYS"), std::string::npos) << err;
}

// ---- CSV round trips ----

const char* kAllowanceCsv =
    "REMARK,AMOUNT,EMPCODE,PERIOD,CYCLE,ALLW_DED_CODE,EX_RATE,FAMOUNT\r\n"
    "\"comma, \"\"quote\"\"\nand line\",1234.5678,E001,202403,1,BONUS,3.25,\n"
    ",-10,E002,202403,1,PCB,,0.5\n"
    "plain,0,E003,202403,S,$ADV,0.000001,-99999.9999";
const char* kAllowanceExport =
    "PERIOD,CYCLE,EMPCODE,ALLW_DED_CODE,AMOUNT,AMOUNT2,CURR_CODE,FAMOUNT,EX_RATE,FREQUENCY,"
    "CPFOWWAGE,CPFAWWAGE,REMARK\r\n"
    "202403,1,E001,BONUS,1234.5678,,,,3.25,,,,\"comma, \"\"quote\"\"\nand line\"\r\n"
    "202403,1,E002,PCB,-10,,,0.5,,,,,\r\n"
    "202403,S,E003,$ADV,0,,,-99999.9999,0.000001,,,,plain\r\n";

TEST_F(DbCliTest, FolderRoundTripKeepsEveryValueAndLeavesOmittedColumnsNull) {
    std::string co = Company();
    EXPECT_EQ(Import(co, "P_DTRXAW", kAllowanceCsv), "3 rows imported\n");
    std::string exported = Export(co, "P_DTRXAW");
    EXPECT_EQ(exported, kAllowanceExport);

    // What was exported imports into another database as the same rows, also when a spreadsheet
    // program saved it with a byte-order mark.
    std::string other = Company("OTHER");
    Import(other, "P_DTRXAW", "\xEF\xBB\xBF" + exported);
    EXPECT_EQ(Export(other, "P_DTRXAW"), exported);
}

TEST_F(DbCliTest, DatesIntegersAndAutoNumbersRoundTrip) {
    std::string co = Company();
    Import(co, "EMP_PROS",
           "EMP_CODE,PAY_EFFECTIVE_DATE,ID,NEW_BASIC\nE001,2024-02-29,3,2500.5\n"
           "E002,,4,\n");
    EXPECT_EQ(Export(co, "EMP_PROS"),
              "EMP_CODE,PAY_EFFECTIVE_DATE,ID,OLD_BASIC,NEW_BASIC,REASON\r\n"
              "E001,2024-02-29,3,,2500.5,\r\n"
              "E002,,4,,,\r\n");
    // TRXID numbered by the table when left out, kept when given.
    Import(co, "EMP_BNK", "EMP_CODE,BANK_ID,BANK_AC_NO,TRXID\nE001,MBB,111,40\n");
    Import(co, "EMP_BNK", "EMP_CODE,BANK_ID,BANK_AC_NO\nE002,CIMB,222\n");
    std::string bank = Export(co, "EMP_BNK");
    EXPECT_NE(bank.find("E001,MBB,111,40,"), std::string::npos) << bank;
    EXPECT_NE(bank.find("E002,CIMB,222,41,"), std::string::npos) << bank;
}

TEST_F(DbCliTest, DictionaryRoundTrip) {
    std::string dict = (dir / "C.ADD").string();
    Ok({"db", "create-company", dict});
    std::vector<std::string> login = {"--password",
                                      signon::AdminPasswordForMark(std::string("@2019"))};
    Import(dict, "P_DTRXAW", kAllowanceCsv, login);
    EXPECT_EQ(Export(dict, "P_DTRXAW", login), kAllowanceExport);
    Fails({"db", "export", dict, "P_DTRXAW"});  // no password: refused
    Fails({"db", "export", dict, "P_DTRXAW", "--user", "ORVEXSYS8", "--password", login[1]});
}

TEST_F(DbCliTest, EncryptedTableNeedsItsPasswordForEveryRowInAndOut) {
    std::string co = Company();
    Import(co, "EMPLOYEE", "EMP_NO,NAME\nE001,Ann\n");
    EXPECT_EQ(Ok({"db", "is-encrypted", co, "EMPLOYEE"}), "no\n");
    Ok({"db", "encrypt", co, "EMPLOYEE", "--table-password", kTablePassword});
    EXPECT_EQ(Ok({"db", "is-encrypted", co, "EMPLOYEE"}), "yes\n");

    std::vector<std::string> pw = {"--table-password", kTablePassword};
    Import(co, "EMPLOYEE", "NAME,EMP_NO,JOIN_DATE\nBob,E002,2020-01-31\n", pw);
    std::string rows = Export(co, "EMPLOYEE", pw);
    EXPECT_NE(rows.find("\r\nE001,Ann,"), std::string::npos) << rows;
    EXPECT_NE(rows.find("\r\nE002,Bob,,,2020-01-31,"), std::string::npos) << rows;

    // Without the password nothing is read or written.
    CliResult r = RunCli({"db", "export", co, "EMPLOYEE"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    Fails({"db", "import", co, "EMPLOYEE", File("c.csv", "EMP_NO\nE003\n")});
    Fails({"db", "export", co, "EMPLOYEE", "--table-password", "WRONG"});
    EXPECT_EQ(Export(co, "EMPLOYEE", pw), rows);
    Fails({"db", "encrypt", co, "EMPLOYEE", "--table-password", kTablePassword});  // already
    Fails({"db", "encrypt", co, "P_HTRX"});  // no password given
}

// ---- import refusals: the row, the column and the value are named; nothing is written ----

TEST_F(DbCliTest, ImportRefusesAFileWithAnyBadValueAndWritesNothing) {
    std::string co = Company();
    struct Case {
        const char* csv;
        std::vector<const char*> named;
    } cases[] = {
        {"EMPCODE,PERIOD,SALARY\nE1,202403,5\n", {"row 1", "SALARY"}},
        {"EMPCODE,PERIOD,AMOUNT\nE1,202403,5\nE2,202403,abc\n", {"row 3", "AMOUNT", "abc"}},
        {"EMPCODE,PERIOD,AMOUNT\nE1,202403,1.23456\n", {"row 2", "AMOUNT", "1.23456"}},
        {"EMPCODE,PERIOD,EX_RATE\nE1,202403,1,5\n", {"row 2"}},
        {"EMPCODE,PERIOD\nE1,202403\nE2\n", {"row 3"}},
        {"EMPCODE,PERIOD\nE1,2024031\n", {"row 2", "PERIOD", "2024031"}},
        {"EMPCODE,PERIOD,REMARK\n\"E1,202403,x\n", {"row 2"}},
    };
    for (const auto& c : cases) {
        std::string err = Fails({"db", "import", co, "P_DTRXAW", File("bad.csv", c.csv)});
        for (const char* n : c.named) EXPECT_NE(err.find(n), std::string::npos) << c.csv << err;
    }
    std::string err = Fails({"db", "import", co, "EMP_PROS",
                             File("d.csv", "EMP_CODE,PAY_EFFECTIVE_DATE\nE1,2023-02-29\n")});
    EXPECT_NE(err.find("2023-02-29"), std::string::npos) << err;
    err = Fails({"db", "import", co, "EMP_PROS", File("i.csv", "EMP_CODE,ID\nE1,1.5\n")});
    EXPECT_NE(err.find("ID"), std::string::npos) << err;
    for (const char* table : {"P_DTRXAW", "EMP_PROS"}) {
        std::string out = Export(co, table);
        EXPECT_EQ(out.find("\r\n"), out.size() - 2) << table << ": " << out;  // header only
    }
}

// A row the database refuses (a second group with the same NO) takes back the rows added before.
TEST_F(DbCliTest, ImportRefusedByTheDatabaseTakesBackItsRows) {
    std::string main = (dir / "MAIN").string();
    Ok({"db", "create-main", main});
    Import(main, "MERGRHD", "NO,CODE\n9,#OLD\n");
    std::string err =
        Fails({"db", "import", main, "MERGRHD", File("g.csv", "NO,CODE\n1,#A\n2,#B\n1,#C\n")});
    EXPECT_NE(err.find("row 4"), std::string::npos) << err;
    EXPECT_EQ(Export(main, "MERGRHD"), "NO,CODE,MASTER,PATH\r\n9,#OLD,,\r\n");
}

// ---- the statements of the merge ----

class DbCliStatementsTest : public DbCliTest {
protected:
    std::string co;
    void SetUp() override {
        co = Company();
        Import(co, "EMPLOYEE",
               "EMP_NO,FCURR_CODE,LOCAL_CURR_CODE\nE002,MYR,MYR\nE001,USD,USD\nE003,SGD,SGD\n");
        Import(co, "P_HTRX",
               "EMPCODE,PERIOD,CYCLE,NETT_WAGE\nE001,202403,1,100\nE001,202403,S,50\n"
               "E002,202403,1,200\nE001,202404,1,300\n");
    }
};

TEST_F(DbCliStatementsTest, ClearingDeletesWholeTablesAndThePeriod) {
    Import(co, "RTPHD", "RPTCODE\nR1\nR2\n");
    EXPECT_EQ(Sql(co, "DELETE FROM \"RTPHD\"  "), "2\n");
    EXPECT_EQ(Sql(co, "DELETE FROM \"P_HTRX\" WHERE PERIOD=:PERIOD AND CYCLE<>'S' ",
                  {"--param", "PERIOD=202403"}),
              "2\n");
    EXPECT_EQ(Sql(co, "DELETE FROM \"P_HTRX\" WHERE PERIOD=:PERIOD ", {"--param", "PERIOD=202403"}),
              "1\n");
    EXPECT_EQ(Sql(co, "SELECT EMPCODE,PERIOD,CYCLE FROM P_HTRX"),
              "EMPCODE,PERIOD,CYCLE\r\nE001,202404,1\r\n");
}

TEST_F(DbCliStatementsTest, TrxidRepairOfFreeTablesKeepsTheNumbers) {
    Import(co, "EMP_BNK", "EMP_CODE,BANK_ID,BANK_AC_NO,TRXID\nE001,MBB,111,7\n");
    EXPECT_EQ(
        Sql(co, "SELECT * FROM EMP_BNK"),
        "EMP_CODE,BANK_ID,BANK_AC_NO,TRXID,BANK_BRANCH,PERCENT,AMOUNT\r\nE001,MBB,111,7,,,\r\n");
    Sql(co, "ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID INTEGER");
    EXPECT_NE(Ok({"db", "fields", co, "EMP_BNK"}).find("TRXID ftInteger 0\n"), std::string::npos);
    EXPECT_NE(Export(co, "EMP_BNK").find("E001,MBB,111,7,"), std::string::npos);
}

TEST_F(DbCliStatementsTest, TrxidRepairOfADictionaryRunsOnceOnly) {
    std::string dict = (dir / "C.ADD").string();
    Ok({"db", "create-company", dict});
    std::vector<std::string> login = {"--password",
                                      signon::AdminPasswordForMark(std::string("@2019"))};
    Import(dict, "EMP_BNK", "EMP_CODE,BANK_ID,BANK_AC_NO,TRXID\nE001,MBB,111,7\n", login);
    const std::string repair =
        "IF EXISTS (SELECT * FROM SYSTEM.COLUMNS WHERE PARENT = 'EMP_BNK' and Name = 'TRXID' AND "
        "Field_Type=15 ) THEN ALTER TABLE EMP_BNK ALTER COLUMN TRXID TRXID INTEGER;  END IF ";
    EXPECT_EQ(Sql(dict,
                  "SELECT Name, Field_Type FROM SYSTEM.COLUMNS WHERE PARENT = 'EMP_BNK' "
                  "and Name = 'TRXID'",
                  login),
              "Name,Field_Type\r\nTRXID,15\r\n");
    Sql(dict, repair, login);
    EXPECT_NE(Ok(WithArgs({"db", "fields", dict, "EMP_BNK"}, login)).find("TRXID ftInteger 0\n"),
              std::string::npos);
    EXPECT_EQ(Sql(dict, repair, login), "0\n");  // nothing left to repair
    EXPECT_NE(Export(dict, "EMP_BNK", login).find("E001,MBB,111,7,"), std::string::npos);
}

TEST_F(DbCliStatementsTest, CurrencyConversionSelectsAndUpdates) {
    const std::string selection =
        "SELECT EMPLOYEE.EMP_NO,FCURR_CODE FROM P_HTRX,EMPLOYEE WHERE PERIOD = :PERIOD AND "
        "EMPLOYEE.EMP_NO=P_HTRX.EMPCODE\nGROUP BY EMPLOYEE.EMP_NO,FCURR_CODE \n"
        "ORDER BY EMPLOYEE.EMP_NO,FCURR_CODE ";
    EXPECT_EQ(Sql(co, selection, {"--param", "period=202403"}),
              "EMP_NO,FCURR_CODE\r\nE001,USD\r\nE002,MYR\r\n");
    EXPECT_EQ(Sql(co, "SELECT EMPCODE,PERIOD,CYCLE,NETT_WAGE FROM P_HTRX WHERE PERIOD=:PERIOD",
                  {"--param", "PERIOD=202404"}),
              "EMPCODE,PERIOD,CYCLE,NETT_WAGE\r\nE001,202404,1,300\r\n");

    Import(co, "EXRATE", "CURR,EXCODE,PERIOD,EX_RATE\nUSD,MYR,202403,4.7\nSGD,MYR,202403,3.5\n");
    EXPECT_EQ(Sql(co, "UPDATE EXRATE SET EX_RATE=1"), "2\n");
    EXPECT_EQ(Sql(co, "SELECT CURR,EX_RATE FROM EXRATE ORDER BY CURR"),
              "CURR,EX_RATE\r\nSGD,1\r\nUSD,1\r\n");
    EXPECT_EQ(Sql(co, "update EMPLOYEE set FCURR_CODE=:FCURR_CODE,LOCAL_CURR_CODE=:FCURR_CODE",
                  {"--param", "FCURR_CODE=MYR"}),
              "3\n");
    EXPECT_EQ(Sql(co, "SELECT DISTINCT FCURR_CODE, LOCAL_CURR_CODE FROM EMPLOYEE"),
              "FCURR_CODE,LOCAL_CURR_CODE\r\nMYR,MYR\r\n");
}

// The source selections of the transfer (S, E, P and M lines) and of the bank transactions.
TEST_F(DbCliStatementsTest, TransferAndBankSelectionsPickThePeriod) {
    std::string header = Sql(co, "SELECT P_HTRX.* FROM P_HTRX\nWHERE PERIOD = :PERIOD ",
                             {"--param", "PERIOD=202404"});
    EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), 2) << header;
    EXPECT_EQ(header.rfind("PERIOD,CYCLE,EMPCODE,", 0), 0u) << header;
    EXPECT_NE(header.find("\r\n202404,1,E001,"), std::string::npos) << header;
    std::string rows = Sql(co, "SELECT EMPLOYEE.* FROM EMPLOYEE");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 4) << rows;  // header and 3 employees

    Import(co, "MEDICAL", "EMPCODE,PERIOD_TO_TRANSFER,AMOUNT\nE001,202403,10\nE002,999999,20\n");
    EXPECT_EQ(Sql(co, "SELECT EMPCODE,AMOUNT FROM MEDICAL\nWHERE  PERIOD_TO_TRANSFER=:PERIOD",
                  {"--param", "PERIOD=999999"}),
              "EMPCODE,AMOUNT\r\nE002,20\r\n");

    Import(co, "BANKTRX",
           "EMPCODE,PERIOD,CYCLE,BANK_ID,CURR_CODE,BANK_AMT\n"
           "E001,202403,1,TT,USD,60\nE001,202403,1,MBB,MYR,40\n"
           "E001,202403,S,MBB,MYR,5\nE002,202403,1,MBB,MYR,200\n");
    std::string bank =
        Sql(co,
            "SELECT * FROM BANKTRX WHERE CYCLE = :CYCLE AND PERIOD=:PERIOD AND "
            "EMPCODE=:EMPCODE ",
            {"--param", "EMPCODE=E001", "--param", "PERIOD=202403", "--param", "CYCLE=1"});
    EXPECT_EQ(std::count(bank.begin(), bank.end(), '\n'), 3) << bank;
    EXPECT_NE(bank.find("E001,202403,1,TT,,,USD,60,"), std::string::npos) << bank;
    EXPECT_NE(bank.find("E001,202403,1,MBB,,,MYR,40,"), std::string::npos) << bank;

    Import(co, "GLTYPE", "GL_TYPE,DESC\nA,Assets\n");
    EXPECT_EQ(Sql(co, "SELECT * FROM GLTYPE"), "GL_TYPE,DESC\r\nA,Assets\r\n");
}

TEST_F(DbCliStatementsTest, CostCentreCutOffDeletesFrom200701On) {
    Import(co, "COSTCTR",
           "EMPCODE,PERIOD,COST_CENTRE,PERCENT\nE001,200612,CC1,100\n"
           "E001,200701,CC1,100\nE001,202403,CC2,50\n");
    EXPECT_EQ(Sql(co, "DELETE FROM COSTCTR WHERE PERIOD>='200701' "), "2\n");
    EXPECT_EQ(Export(co, "COSTCTR"),
              "EMPCODE,PERIOD,COST_CENTRE,DEPARTMENT,PERCENT\r\nE001,200612,CC1,,100\r\n");
}

TEST_F(DbCliStatementsTest, StatementsOnEncryptedTablesNeedThePassword) {
    Ok({"db", "encrypt", co, "P_HTRX", "--table-password", kTablePassword});
    Fails({"db", "sql", co, "SELECT COUNT(*) AS N FROM P_HTRX"});
    EXPECT_EQ(Sql(co, "SELECT COUNT(*) AS N FROM P_HTRX", {"--table-password", kTablePassword}),
              "N\r\n4\r\n");
}

// ---- other errors and usage ----

TEST_F(DbCliTest, ErrorsAndWrongUsage) {
    std::string co = Company();
    std::string err = Fails({"db", "export", co, "NOSUCH"});
    EXPECT_NE(err.find("NOSUCH"), std::string::npos) << err;
    Fails({"db", "sql", co, "SELECT * FROM NOSUCH"});
    Fails({"db", "sql", co, "DELETE FROM P_HTRX WHERE", "--param", "PERIOD"});
    err = Fails({"db", "create-company", co});
    EXPECT_NE(err.find("exists already"), std::string::npos) << err;
    err = Fails({"db", "import", co, "P_HTRX", (dir / "missing.csv").string()});
    EXPECT_NE(err.find("missing.csv"), std::string::npos) << err;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"db"},
                                                 {"db", "fields", co},
                                                 {"db", "export"},
                                                 {"db", "frobnicate", co},
                                                 {"db", "tables", co, "--bogus"}}) {
        CliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, 2) << args.back();
        EXPECT_NE(r.Err.find("Usage:"), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
    CliResult r = RunCli({"db", "import", co, "P_HTRX"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("FILE is required"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("Usage: peltorn db import [OPTIONS] PATH TABLE FILE"), std::string::npos)
        << r.Err;
}

TEST_F(DbCliTest, CipherPasswordGivesTheStoredCiphertextOfAPassword) {
    std::string out = Ok({"db", "cipher-password", "NewSecret", "%&7382)"});
    ASSERT_FALSE(out.empty());
    out.pop_back();  // line break
    EXPECT_EQ(out, signon::EncryptHexString("NewSecret", "%&7382)"));
    EXPECT_EQ(signon::DecryptHexString(out, "%&7382)"), "NewSecret");
}

}  // namespace
}  // namespace peltorn
