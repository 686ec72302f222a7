// The demo installation: every database opens with the credentials the merge would use and every
// table reads; the period tables of free-table sources are encrypted and the others are not; the
// data holds the cases the merge has rules for (a stopped employee, employees of two companies,
// foreign employees with a rate for every month, every class of allowance code, bank rows with
// and without "TT"); the payroll headers agree with their detail rows by the merge's own
// recomputation rules; the same options give the same data.
#include "TestSupport.h"

#include "db/Db.h"
#include "demo/Demo.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

using namespace peltorn;
using namespace peltorn::demo;
namespace fs = std::filesystem;

namespace {

constexpr int kYear = 2024;
constexpr int kMonth = 5;

TDemoOptions SmallOptions() {
    TDemoOptions o;
    o.Companies = 3;
    o.Employees = 12;
    o.Year = kYear;
    o.Month = kMonth;
    return o;
}

std::string Period(int month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d", kYear, month);
    return text;
}

// A company database opened as the merge opens it: the version mark of PAYPARA chooses the
// ADSSYS password (it matters for dictionaries only).
std::unique_ptr<db::TDbConnection> OpenCompany(const fs::path& path) {
    auto conn = std::make_unique<db::TDbConnection>("demoTest");
    conn->SetConnectPath(path.string());
    db::TDbTable para("PAYPARA");
    para.SetConnection(conn.get());
    std::string password;
    signon::SelectAdminLogin(*conn, para, "T", password);
    para.Close();
    conn->Password = password;
    conn->Connect();
    return conn;
}

std::unique_ptr<db::TDbTable> OpenTable(db::TDbConnection& conn, const std::string& table,
                                        const std::string& index = {}) {
    auto t = std::make_unique<db::TDbTable>(table);
    t->SetConnection(&conn);
    t->SetTableName(table);
    t->EncryptionPassword = signon::kFreeTablePassword;
    if (!index.empty()) t->SetIndexFieldNames(index);
    t->Open();
    return t;
}

// Every row of a table as text, one line per row, fields separated by "|".
std::vector<std::string> Export(db::TDbConnection& conn, const std::string& table) {
    auto t = OpenTable(conn, table);
    std::vector<std::string> rows;
    for (t->First(); !t->Eof(); t->Next()) {
        std::string line;
        for (int i = 0; i < t->FieldCount(); ++i) line += t->Fields(i).AsString() + "|";
        rows.push_back(line);
    }
    return rows;
}

// The installation every test of this file reads; written once.
class DemoInstallationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<test::TempDir>();
        WriteDemoInstallation(s_dir->Str(), SmallOptions());
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static fs::path Dir() { return s_dir->Path(); }
    static fs::path FreeSource(const std::string& code) { return Dir() / "COMPANY" / code; }
    static fs::path DictionarySource() {
        return Dir() / "dictionary-layout" / "COMPANY" / "CO03" / "CO03.ADD";
    }
    static std::vector<fs::path> Sources() {
        return {FreeSource("CO01"), FreeSource("CO02"), DictionarySource()};
    }
    static std::vector<fs::path> Destinations() {
        return {Dir() / "COMPANY" / "#GRP1", Dir() / "COMPANY" / "#GRP2",
                Dir() / "dictionary-layout" / "COMPANY" / "#GRPD" / "#GRPD.ADD"};
    }

    static std::unique_ptr<test::TempDir> s_dir;
};
std::unique_ptr<test::TempDir> DemoInstallationTest::s_dir;

TEST_F(DemoInstallationTest, EveryTableOfEveryCompanyReadsAndEverySourceTableHoldsData) {
    for (const auto& path : Sources()) {
        auto conn = OpenCompany(path);
        auto tables = db::ListTables(*conn);
        EXPECT_GE(tables.size(), 45u) << path;
        for (const auto& table : tables) {
            auto t = OpenTable(*conn, table);
            t->First();
            EXPECT_GT(t->RecordCount(), 0) << path << " " << table;
        }
    }
    for (const auto& path : Destinations()) {
        auto conn = OpenCompany(path);
        for (const auto& table : db::ListTables(*conn)) {
            auto t = OpenTable(*conn, table);
            t->First();
            EXPECT_GE(t->RecordCount(), 0);
        }
        // What a consolidated database keeps of its own: the year parameters and report columns.
        EXPECT_EQ(OpenTable(*conn, "PAYPARA1")->RecordCount(), 2) << path;
        EXPECT_GT(OpenTable(*conn, "RTABLE")->RecordCount(), 0) << path;
    }
}

TEST_F(DemoInstallationTest, DictionariesAreEncryptedAndRefuseWrongCredentials) {
    EXPECT_TRUE(db::IsEncryptedDictionary(DictionarySource().string()));
    EXPECT_TRUE(db::IsEncryptedDictionary(Destinations().back().string()));
    db::TDbConnection conn("wrong");
    conn.SetConnectPath(DictionarySource().string());
    conn.Username = signon::kAdminUser;
    conn.Password = signon::kFreeTablePassword;  // the password of an "@2018" database
    EXPECT_THROW(conn.Connect(), db::EDbDatabaseError);
}

TEST_F(DemoInstallationTest, PeriodTablesOfFreeTableSourcesAreEncryptedAndTheOthersPlain) {
    const std::vector<std::string> period = {"P_HTRX",   "P_DTRXAW", "P_DTRXAS", "P_DTRXNH",
                                             "P_DTRXND", "P_DTRXSF", "P_DTRXLV", "P_DTRXOT",
                                             "P_DTRXRD", "YTDEMPL",  "BANKTRX"};
    // The merge reads these without a password, so they must stay plain.
    const std::vector<std::string> plain = {"EMPLOYEE", "COSTCTR", "ALLOWNCE",
                                            "RTPDETL",  "EXRATE",  "PPARA_DR"};
    for (const char* code : {"CO01", "CO02"}) {
        db::TDbConnection conn("enc");
        conn.SetConnectPath(FreeSource(code).string());
        for (const auto& table : period) {
            db::TDbTable t(table);
            t.SetConnection(&conn);
            t.SetTableName(table);
            t.Open();
            EXPECT_TRUE(t.IsTableEncrypted()) << code << " " << table;
            EXPECT_THROW(t.First(), db::EDbDatabaseError) << code << " " << table;
            t.EnableEncryption(signon::kFreeTablePassword);
            t.First();
            EXPECT_FALSE(t.Eof()) << code << " " << table;
        }
        for (const auto& table : plain) {
            db::TDbTable t(table);
            t.SetConnection(&conn);
            t.SetTableName(table);
            t.Open();
            EXPECT_FALSE(t.IsTableEncrypted()) << code << " " << table;
        }
    }
}

TEST_F(DemoInstallationTest, EachSourceHasAStoppedEmployeePaidUpToTheCurrentMonth) {
    for (const auto& path : Sources()) {
        auto conn = OpenCompany(path);
        auto emp = OpenTable(*conn, "EMPLOYEE", "EMP_NO");
        std::vector<std::string> stopped;
        for (emp->First(); !emp->Eof(); emp->Next())
            if (emp->FieldByName("STOP_IND").AsString() == "E")
                stopped.push_back(emp->FieldByName("EMP_NO").AsString());
        ASSERT_EQ(stopped.size(), 1u) << path;
        auto htrx = OpenTable(*conn, "P_HTRX", "PERIOD;CYCLE;EMPCODE");
        EXPECT_TRUE(htrx->FindKey({Period(kMonth), "1", stopped[0]})) << path;
        EXPECT_FALSE(htrx->FindKey({Period(kMonth + 1), "1", stopped[0]})) << path;
    }
}

TEST_F(DemoInstallationTest, SomeEmployeesArePaidByTwoCompanies) {
    auto codes = [](const fs::path& path) {
        auto conn = OpenCompany(path);
        std::set<std::string> out;
        auto emp = OpenTable(*conn, "EMPLOYEE");
        for (emp->First(); !emp->Eof(); emp->Next())
            out.insert(emp->FieldByName("EMP_NO").AsString());
        return out;
    };
    auto first = codes(FreeSource("CO01")), second = codes(FreeSource("CO02")),
         third = codes(DictionarySource());
    std::vector<std::string> shared12, shared23;
    for (const auto& c : second) {
        if (first.count(c)) shared12.push_back(c);
        if (third.count(c)) shared23.push_back(c);
    }
    EXPECT_FALSE(shared12.empty());
    EXPECT_FALSE(shared23.empty());
    // Each group of the free-table layout merges at least one of them twice.
    EXPECT_EQ(first.size(), 12u);
}

TEST_F(DemoInstallationTest, EveryCurrencyInUseHasARateIntoMyrForEveryMonth) {
    for (const auto& path : Sources()) {
        auto conn = OpenCompany(path);
        std::set<std::string> currencies;
        auto emp = OpenTable(*conn, "EMPLOYEE");
        for (emp->First(); !emp->Eof(); emp->Next())
            currencies.insert(emp->FieldByName("FCURR_CODE").AsString());
        for (const char* table : {"P_DTRXAW", "BANKTRX"}) {
            auto t = OpenTable(*conn, table);
            for (t->First(); !t->Eof(); t->Next())
                if (!t->FieldByName("CURR_CODE").AsString().empty())
                    currencies.insert(t->FieldByName("CURR_CODE").AsString());
        }
        EXPECT_EQ(currencies, (std::set<std::string>{"MYR", "SGD", "USD"})) << path;
        auto rate = OpenTable(*conn, "EXRATE", "CURR;EXCODE;PERIOD");
        for (const auto& c : currencies)
            for (int m = 1; m <= 12; ++m) {
                ASSERT_TRUE(rate->FindKey({c, "MYR", Period(m)})) << path << " " << c << " " << m;
                double r = rate->FieldByName("EX_RATE").AsFloat();
                if (c == "MYR") {
                    EXPECT_EQ(r, 1.0);
                } else {
                    EXPECT_GT(r, 1.0);
                }
            }
    }
}

TEST_F(DemoInstallationTest, AllowanceCodesOfEveryClassAndBankRowsWithAndWithoutTT) {
    auto conn = OpenCompany(FreeSource("CO01"));
    std::set<std::string> codes;
    bool foreignStatutoryWithAmount2 = false, claimInOtherCurrency = false;
    auto aw = OpenTable(*conn, "P_DTRXAW");
    for (aw->First(); !aw->Eof(); aw->Next()) {
        std::string code = aw->FieldByName("ALLW_DED_CODE").AsString();
        codes.insert(code);
        if ((code == "PCB" || code == "ZAKAT") && aw->FieldByName("AMOUNT2").AsFloat() != 0)
            foreignStatutoryWithAmount2 = true;
        if (!aw->FieldByName("CURR_CODE").AsString().empty() &&
            aw->FieldByName("FAMOUNT").AsFloat() != 0)
            claimInOtherCurrency = true;
    }
    for (const char* c :
         {"PCB", "ZAKAT", "BONUS", "@$PETROL", "@$CLAIM", "$LOAN", "TRANSP", "UNIFORM"})
        EXPECT_TRUE(codes.count(c)) << c;
    EXPECT_TRUE(foreignStatutoryWithAmount2);
    EXPECT_TRUE(claimInOtherCurrency);

    auto allow = OpenTable(*conn, "ALLOWNCE", "ALLOW_CODE;YEAR");
    ASSERT_TRUE(allow->FindKey({"@$PETROL", std::to_string(kYear)}));
    EXPECT_EQ(allow->FieldByName("IS_TAX").AsString(), "0");
    ASSERT_TRUE(allow->FindKey({"UNIFORM", std::to_string(kYear)}));
    EXPECT_EQ(allow->FieldByName("IS_ABSENT").AsString(), "X");

    int tt = 0, other = 0;
    auto bank = OpenTable(*conn, "BANKTRX");
    for (bank->First(); !bank->Eof(); bank->Next())
        (bank->FieldByName("BANK_ID").AsString() == "TT" ? tt : other)++;
    EXPECT_GT(tt, 0);
    EXPECT_GT(other, 0);

    auto medical = OpenTable(*conn, "MEDICAL");
    ASSERT_GT(medical->RecordCount(), 0);
    for (medical->First(); !medical->Eof(); medical->Next())
        EXPECT_EQ(medical->FieldByName("PERIOD_TO_TRANSFER").AsString().substr(0, 4),
                  std::to_string(kYear));

    auto para1 = OpenTable(*conn, "PAYPARA1", "YEAR");
    ASSERT_TRUE(para1->FindKey({std::to_string(kYear)}));
    EXPECT_NE(para1->FieldByName("LOCK").AsString(), "T");
}

// The merge's sorting of one allowance row into the header sums, written out independently.
struct TSums {
    double Allowance = 0, Deduction = 0, Bonus = 0, GrossOnly = 0, NettOnly = 0;
};
void Sort(TSums& s, const std::string& code, double amount, const std::string& isTax,
          const std::string& isAbsent) {
    if (code.rfind("BONU", 0) == 0) {
        s.Bonus += amount;
        return;
    }
    bool nonTaxableCredit = code.rfind("@$", 0) == 0 && (isTax.empty() || isTax == "0");
    if (amount > 0 && nonTaxableCredit) {
        s.GrossOnly -= amount;
        return;
    }
    if (isAbsent == "X") return;
    if (code.rfind("@$", 0) == 0) {
        s.NettOnly += amount;
        return;
    }
    if (amount > 0) {
        s.Allowance += amount;
        return;
    }
    if (code != "PCB") s.Deduction += amount;
    if (code[0] == '$') s.GrossOnly += amount;
}

TEST_F(DemoInstallationTest, HeadersAgreeWithTheirDetailRowsAndBankRows) {
    for (const auto& path : Sources()) {
        auto conn = OpenCompany(path);
        using Key = std::pair<std::string, std::string>;  // employee, period
        std::map<Key, double> ot, shift, rest, npl, bank;
        std::map<Key, TSums> sums;
        auto sumInto = [&](const char* table, const char* field, std::map<Key, double>& into) {
            auto t = OpenTable(*conn, table);
            for (t->First(); !t->Eof(); t->Next())
                into[{t->FieldByName("EMPCODE").AsString(), t->FieldByName("PERIOD").AsString()}] +=
                    t->FieldByName(field).AsFloat();
        };
        sumInto("P_DTRXOT", "OTAMT", ot);
        sumInto("P_DTRXSF", "SHIFTAMT", shift);
        sumInto("P_DTRXRD", "AMOUNT", rest);
        for (const char* t : {"P_DTRXNH", "P_DTRXND", "P_DTRXAS"}) sumInto(t, "AMOUNT", npl);
        sumInto("BANKTRX", "BANK_AMT", bank);
        auto allow = OpenTable(*conn, "ALLOWNCE", "ALLOW_CODE;YEAR");
        auto aw = OpenTable(*conn, "P_DTRXAW");
        for (aw->First(); !aw->Eof(); aw->Next()) {
            std::string code = aw->FieldByName("ALLW_DED_CODE").AsString();
            std::string period = aw->FieldByName("PERIOD").AsString();
            ASSERT_TRUE(allow->FindKey({code, period.substr(0, 4)})) << code;
            Sort(sums[{aw->FieldByName("EMPCODE").AsString(), period}], code,
                 aw->FieldByName("AMOUNT").AsFloat(), allow->FieldByName("IS_TAX").AsString(),
                 allow->FieldByName("IS_ABSENT").AsString());
        }
        std::map<std::string, std::string> currency;
        auto emp = OpenTable(*conn, "EMPLOYEE");
        for (emp->First(); !emp->Eof(); emp->Next())
            currency[emp->FieldByName("EMP_NO").AsString()] =
                emp->FieldByName("FCURR_CODE").AsString();

        auto h = OpenTable(*conn, "P_HTRX");
        int headers = 0, paidByBank = 0;
        for (h->First(); !h->Eof(); h->Next(), ++headers) {
            Key k{h->FieldByName("EMPCODE").AsString(), h->FieldByName("PERIOD").AsString()};
            auto f = [&](const char* name) { return h->FieldByName(name).AsFloat(); };
            const std::string where = path.string() + " " + k.first + " " + k.second;
            EXPECT_NEAR(f("OTAMT"), ot[k], 0.005) << where;
            EXPECT_NEAR(f("SHIFTAMT"), shift[k], 0.005) << where;
            EXPECT_NEAR(f("RESTAMT"), rest[k], 0.005) << where;
            EXPECT_NEAR(f("TOTAL_NPL"), npl[k], 0.005) << where;
            const TSums& s = sums[k];
            EXPECT_NEAR(f("TOTAL_ALLOWANCE"), s.Allowance, 0.005) << where;
            EXPECT_NEAR(f("TOTAL_DEDUCTION"), s.Deduction, 0.005) << where;
            double base = f("BASIC") + f("TOTAL_NPL") + f("OTAMT") + f("SHIFTAMT") + s.Bonus +
                          f("TOTAL_ALLOWANCE") + f("RESTAMT");
            EXPECT_NEAR(f("GROSS_WAGE"), base + s.GrossOnly, 0.005) << where;
            double nett = base + s.NettOnly + f("TOTAL_DEDUCTION") + f("CPFEMPEE") + f("SOCSO") +
                          f("EIS") + f("VOLUN");
            EXPECT_NEAR(f("NETT_WAGE"), nett, 0.005) << where;
            EXPECT_GT(f("NETT_WAGE"), 0) << where;
            // Exactly one way of payment carries the nett wage.
            int ways = (f("BANKAMT") != 0) + (f("CHEQAMT") != 0) + (f("CASHAMT") != 0);
            EXPECT_EQ(ways, 1) << where;
            EXPECT_NEAR(f("BANKAMT") + f("CHEQAMT") + f("CASHAMT"), f("NETT_WAGE"), 0.005) << where;
            // Bank rows pay the nett wage (all in the employee's currency for ringgit staff).
            if (f("BANKAMT") != 0 && currency[k.first] == "MYR") {
                EXPECT_NEAR(bank[k], f("NETT_WAGE"), 0.005) << where;
                ++paidByBank;
            }
            if (f("BANKAMT") == 0) {
                EXPECT_EQ(bank.count(k), 0u) << where;
            }
            EXPECT_NEAR(f("TOTAL_CPF"), std::fabs(f("CPFEMPEE")) + std::fabs(f("CPFEMPER")), 0.005)
                << where;
            if (currency[k.first] == "MYR") {
                EXPECT_EQ(f("S_CPFEMPEE"), f("CPFEMPEE")) << where;
            }
        }
        EXPECT_GE(headers, 12 * 11) << path;
        EXPECT_GT(paidByBank, 0) << path;
    }
}

TEST_F(DemoInstallationTest, MergeGroupsNameExistingDatabasesOfBothLayouts) {
    // Free-table layout: sources by code are folders, the dictionary source comes by PATH.
    db::TDbConnection main("main");
    main.SetConnectPath(Dir().string());
    auto groups = OpenTable(main, "MERGRHD", "NO");
    ASSERT_EQ(groups->RecordCount(), 2);
    groups->First();
    EXPECT_EQ(groups->FieldByName("CODE").AsString(), "#GRP1");
    EXPECT_EQ(groups->FieldByName("MASTER").AsString(), "T");
    auto detail = OpenTable(main, "MERGEDTL", "NO;CODE");
    int byPath = 0;
    for (detail->First(); !detail->Eof(); detail->Next()) {
        std::string pathText = detail->FieldByName("PATH").AsString();
        if (pathText.empty()) {
            EXPECT_TRUE(
                fs::is_directory(Dir() / "COMPANY" / detail->FieldByName("CODE").AsString()));
        } else {
            ++byPath;
            EXPECT_NE(pathText.find(".ADD"), std::string::npos);
            EXPECT_TRUE(fs::is_regular_file(pathText)) << pathText;
        }
    }
    EXPECT_EQ(detail->RecordCount(), 5);  // #GRP1: CO01, CO02, CO03; #GRP2: CO02, CO03
    EXPECT_EQ(byPath, 2);

    // Dictionary layout: the free-table source comes by PATH.
    db::TDbConnection dictMain("dictMain");
    dictMain.SetConnectPath((Dir() / "dictionary-layout").string());
    auto dictDetail = OpenTable(dictMain, "MERGEDTL", "NO;CODE");
    ASSERT_EQ(dictDetail->RecordCount(), 2);
    dictDetail->First();
    EXPECT_EQ(dictDetail->FieldByName("CODE").AsString(), "CO01");
    EXPECT_TRUE(fs::is_directory(dictDetail->FieldByName("PATH").AsString()));
    auto company = OpenTable(dictMain, "MCOMPANY", "COMPANY_CODE");
    EXPECT_TRUE(company->FindKey({"#GRPD"}));
    EXPECT_TRUE(company->FindKey({"CO01"}));

    auto settings = DemoSettingsFiles(Dir().string());
    ASSERT_EQ(settings.size(), 2u);
    for (const auto& s : settings) EXPECT_TRUE(fs::is_regular_file(s)) << s;
}

TEST(DemoGeneration, SameOptionsGiveTheSameDataAndAnotherSeedOther) {
    test::TempDir a, b, c;
    TDemoOptions options = SmallOptions();
    options.Employees = 6;
    WriteDemoInstallation(a.Str(), options);
    WriteDemoInstallation(b.Str(), options);
    options.Seed = 2;
    WriteDemoInstallation(c.Str(), options);
    auto exportOf = [](const test::TempDir& dir, const fs::path& company,
                       const std::string& table) {
        auto conn = OpenCompany(dir.Path() / company);
        return Export(*conn, table);
    };
    const fs::path co01 = fs::path("COMPANY") / "CO01";
    const fs::path co03 = fs::path("dictionary-layout") / "COMPANY" / "CO03" / "CO03.ADD";
    for (const auto& [company, table] :
         std::vector<std::pair<fs::path, std::string>>{{co01, "EMPLOYEE"},
                                                       {co01, "P_HTRX"},
                                                       {co01, "P_DTRXAW"},
                                                       {co01, "BANKTRX"},
                                                       {co03, "P_DTRXAW"}}) {
        auto first = exportOf(a, company, table);
        EXPECT_FALSE(first.empty()) << table;
        EXPECT_EQ(first, exportOf(b, company, table)) << company << " " << table;
    }
    EXPECT_NE(exportOf(a, co01, "P_HTRX"), exportOf(c, co01, "P_HTRX"));
}

TEST(DemoGeneration, RefusesBadOptionsAndAnExistingInstallation) {
    test::TempDir dir;
    TDemoOptions options = SmallOptions();
    options.Companies = 2;
    EXPECT_THROW(WriteDemoInstallation(dir.Str(), options), std::invalid_argument);
    options = SmallOptions();
    options.Month = 13;
    EXPECT_THROW(WriteDemoInstallation(dir.Str(), options), std::invalid_argument);
    EXPECT_FALSE(fs::exists(dir.Path() / "ORVEX.ini"));

    // Year and month 0 stand for today: the rates cover the machine's year.
    options = SmallOptions();
    options.Employees = 2;
    options.Year = 0;
    options.Month = 0;
    WriteDemoInstallation(dir.Str(), options);
    EXPECT_THROW(WriteDemoInstallation(dir.Str(), options), std::runtime_error);
    const std::string period = DemoPeriod(options);
    EXPECT_EQ(period, DemoPeriod(DemoOptionsForToday()));
    auto conn = OpenCompany(dir.Path() / "COMPANY" / "CO01");
    auto rate = OpenTable(*conn, "EXRATE", "CURR;EXCODE;PERIOD");
    EXPECT_TRUE(rate->FindKey({"SGD", "MYR", period}));
}

TEST(DemoCommand, WritesTheInstallationPrintsTheMergeCommandsAndSummarises) {
    test::TempDir dir;
    auto target = (dir.Path() / "inst").string();
    auto r = test::RunCli({"demo", target, "--employees", "3", "--today", "2024-05-10"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("peltorn merge --ini " + target + "/ORVEX.ini --period 202405"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("dictionary-layout/ORVEX.ini --period 202405"), std::string::npos)
        << r.Out;

    auto summary = test::RunCli({"demo", target, "--summary"});
    ASSERT_EQ(summary.ExitCode, 0) << summary.Err;
    for (const char* code : {"#GRP1", "#GRP2", "#GRPD"})
        EXPECT_NE(summary.Out.find(code), std::string::npos) << code;
    EXPECT_NE(summary.Out.find("PAYPARA1"), std::string::npos);

    auto again = test::RunCli({"demo", target});
    EXPECT_EQ(again.ExitCode, 1);
    EXPECT_NE(again.Err.find("already holds an installation"), std::string::npos) << again.Err;
    auto bad = test::RunCli({"demo", (dir.Path() / "x").string(), "--today", "2024/05/10"});
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_NE(bad.Err.find("--today"), std::string::npos) << bad.Err;
}

}  // namespace
