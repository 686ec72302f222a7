// The conversion of a group's payroll: header rows at the employee's rate with the "S_" rules,
// detail rows, allowance sums, recomputed totals and payment, two cycles, a missing rate, the
// stamp and a stop request. Expected figures are worked out by hand beside each number.
#include "CurrencyFixture.h"
#include "currency/ConvertCurrency.h"
#include "signon/Credentials.h"

namespace peltorn::test {
namespace {

using currency::ConvertCurrency;
using currency::StampEmployeeCurrency;

constexpr double kTol = 1e-6;

TEST_F(CurrencyTest, StandardCurrencyEmployeeIsRoundedAndRecomputed) {
    Employee("E1", "MYR");
    Insert(form.dbDest, "EXRATE",
           {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", kPeriod}, {"EX_RATE", "3.5"}});
    Header("E1", "1",
           {{"BASIC", "3000.125"},
            {"WORKDAY", "21.5"},
            {"ANLV_BAL", "7.25"},
            {"SOCSO_WAGE", "3000.567"},
            {"CPFEMPEE", "-1"},
            {"TOTAL_ALLOWANCE", "999"},
            {"S_CPFWAGE", "3000"},
            {"S_CPFEMPEE", "-330"},
            {"S_CPFEMPER", "-390"},
            {"S_SOCSO", "-19.75"},
            {"S_ERSOCSO", "69.05"},
            {"S_EIS_WAGE", "3000"},
            {"S_EIS", "-5.9"},
            {"S_EREIS", "5.9"},
            {"S_SDF", "15"},
            {"BANKAMT", "1"}});
    Detail("P_DTRXOT", "E1", "1",
           {{"OTTYPE", "OT1"},
            {"OTHRS", "10.5"},
            {"OTFACTOR", "1.5"},
            {"RATE", "12.345"},
            {"OTAMT", "194.4338"}});
    Detail("P_DTRXNH", "E1", "1",
           {{"NPL_HOUR_TYPE", "NH1"}, {"HOUR", "4"}, {"RATE", "12.501"}, {"AMOUNT", "-50.004"}});
    Detail("P_DTRXND", "E1", "1", {{"NPL_DAY_TYPE", "ND1"}, {"DAY", "1"}});  // AMOUNT null
    AllowanceCode("TRANS", "1");
    Allowance("E1", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "200"}});
    Allowance("E1", "1", {{"ALLW_DED_CODE", "LOAN"}, {"AMOUNT", "-100"}});

    ConvertCurrency(form);

    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 3000.13, kTol);  // 3000.125 x 1, half away from zero
    EXPECT_NEAR(h.F("WORKDAY"), 21.5, kTol);   // day counts never change
    EXPECT_NEAR(h.F("ANLV_BAL"), 7.25, kTol);
    EXPECT_NEAR(h.F("SOCSO_WAGE"), 3000.567, kTol);  // not multiplied, not rounded
    EXPECT_NEAR(h.F("CPF_WAGE"), 3000, kTol);        // = S_CPFWAGE
    EXPECT_NEAR(h.F("CPFEMPEE"), -330, kTol);        // = S_CPFEMPEE
    EXPECT_NEAR(h.F("CPFEMPER"), -390, kTol);
    EXPECT_NEAR(h.F("TOTAL_CPF"), 720, kTol);  // |-390| + |-330|
    EXPECT_NEAR(h.F("SOCSO"), -19.75, kTol);
    EXPECT_NEAR(h.F("ERSOCSO"), 69.05, kTol);
    EXPECT_NEAR(h.F("TOTAL_EIS"), 11.8, kTol);  // |-5.9| + 5.9
    EXPECT_NEAR(h.F("SDF"), 15, kTol);
    EXPECT_NEAR(h.F("TOTAL_NPL"), -50, kTol);  // NH -50.00 + ND 0 + AS none
    EXPECT_NEAR(h.F("OTAMT"), 194.43, kTol);   // 194.4338 rounded
    EXPECT_NEAR(h.F("TOTAL_ALLOWANCE"), 200, kTol);
    EXPECT_NEAR(h.F("TOTAL_DEDUCTION"), -100, kTol);
    EXPECT_NEAR(h.F("GROSS_WAGE"), 3344.56, kTol);  // 3000.13 - 50 + 194.43 + 200
    // 3000.13 - 50 + 194.43 + 200 - 100 - 330 = 2914.56; - 19.75 (SOCSO) - 5.9 (EIS) = 2888.91
    EXPECT_NEAR(h.F("NETT_WAGE"), 2888.91, kTol);
    EXPECT_NEAR(h.F("BANKAMT"), 2888.91, kTol);  // BANKAMT was not 0
    EXPECT_NEAR(h.F("CASHAMT"), 0, kTol);

    Reader ot(form.dbDest, "P_DTRXOT", "EMPCODE;PERIOD;CYCLE;OTTYPE");
    ASSERT_TRUE(ot.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(ot.F("OTHRS"), 10.5, kTol);
    EXPECT_NEAR(ot.F("OTFACTOR"), 1.5, kTol);
    EXPECT_NEAR(ot.F("RATE"), 12.35, kTol);  // 12.345 rounded
    Reader nh(form.dbDest, "P_DTRXNH", "EMPCODE;PERIOD;CYCLE;NPL_HOUR_TYPE");
    ASSERT_TRUE(nh.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(nh.F("RATE"), 12.5, kTol);  // 12.501 rounded
    EXPECT_NEAR(nh.F("HOUR"), 4, kTol);
    Reader nd(form.dbDest, "P_DTRXND", "EMPCODE;PERIOD;CYCLE;NPL_DAY_TYPE");
    ASSERT_TRUE(nd.Find({"E1", kPeriod, "1"}));
    EXPECT_FALSE(nd.Null("AMOUNT"));  // a null amount is written back as 0
    EXPECT_NEAR(nd.F("AMOUNT"), 0, kTol);

    EXPECT_TRUE(HasLogLine("UpdateHTRXField "));
    EXPECT_TRUE(HasLogLine("Employee#E1 Currency : MYR EX RATE : "));
    EXPECT_TRUE(HasLogLine("UpdateHTRXField emp_no :E1"));
    EXPECT_TRUE(HasLogLine("employee# E1 FCURR_CODE MYR STDCURR MYR RATE  Local$ 200 FAMT : "));
    EXPECT_EQ(form.Controls.edit2, m_srcPath + "\\P_HTRX Updating : E1");
    EXPECT_TRUE(op.Messages.empty());
    EXPECT_FALSE(form.FormMsg.Visible);

    Reader rates(form.dbDest, "EXRATE", "CURR;EXCODE;PERIOD");
    ASSERT_TRUE(rates.Find({"SGD", "MYR", kPeriod}));
    EXPECT_DOUBLE_EQ(rates.F("EX_RATE"), 1.0);  // every destination rate reset
}

TEST_F(CurrencyTest, ForeignEmployeeIsConvertedAtTheEmployeesRate) {
    Employee("E2", "SGD");
    Rate("SGD", "3.5");
    Rate("USD", "4.7");
    Header("E2", "1",
           {{"BASIC", "1000"},
            {"CPFEMPEE", "-110"},
            {"CPFEMPER", "-130"},
            {"TOTAL_CPF", "240"},
            {"CPF_WAGE", "800"},
            {"S_CPFWAGE", "0"},
            {"S_CPFEMPEE", "-999"},
            {"S_CPFEMPER", "-999"},
            {"S_SOCSO", "-20"},
            {"S_ERSOCSO", "30"},
            {"S_EIS_WAGE", "3500"},
            {"S_EIS", "-7"},
            {"S_EREIS", "7"},
            {"CHEQAMT", "500"}});
    Detail("P_DTRXOT", "E2", "1", {{"OTTYPE", "OT1"}, {"OTHRS", "2"}, {"OTAMT", "10.003"}});
    Detail("P_DTRXLV", "E2", "1",
           {{"ALLW_DED_CODE", "AL"}, {"DAY", "2"}, {"FREQUENCY", "1"}, {"AMOUNT", "100"}});
    // A currency without a rate: reported, AMOUNT kept as copied.
    Allowance(
        "E2", "1",
        {{"ALLW_DED_CODE", "CAR"}, {"AMOUNT", "12"}, {"CURR_CODE", "JPY"}, {"FAMOUNT", "1000"}});
    // In code order: HOUSE moves the rate table to USD before PCB and TRANS are converted.
    Allowance("E2", "1",
              {{"ALLW_DED_CODE", "HOUSE"},
               {"AMOUNT", "0"},
               {"CURR_CODE", "USD"},
               {"FAMOUNT", "100"},
               {"EX_RATE", "4.6"}});
    Allowance(
        "E2", "1",
        {{"ALLW_DED_CODE", "MEAL"}, {"AMOUNT", "1"}, {"CURR_CODE", "MYR"}, {"FAMOUNT", "45.6789"}});
    Allowance("E2", "1", {{"ALLW_DED_CODE", "PCB"}, {"AMOUNT", "-10"}, {"AMOUNT2", "-40"}});
    Allowance("E2", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "100"}});
    Allowance("E2", "1", {{"ALLW_DED_CODE", "ZAKAT"}, {"AMOUNT", "-5"}, {"AMOUNT2", "0"}});

    ConvertCurrency(form);

    Reader aw = AllowanceReader();
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "CAR"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 12, kTol);
    EXPECT_TRUE(aw.Null("FAMOUNT"));  // cleared all the same
    EXPECT_EQ(aw.S("CURR_CODE"), "");
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "HOUSE"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 470, kTol);  // FAMOUNT 100 x USD 4.7
    EXPECT_TRUE(aw.Null("FAMOUNT"));
    EXPECT_TRUE(aw.Null("EX_RATE"));
    EXPECT_EQ(aw.S("CURR_CODE"), "");
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "MEAL"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 45.6789, kTol);  // FAMOUNT taken as it is, not rounded
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "PCB"}));
    EXPECT_NEAR(aw.F("AMOUNT"), -40, kTol);  // AMOUNT2 replaces -10 x 3.5
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "TRANS"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 350, kTol);  // 100 x the employee's 3.5, not the USD 4.7
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "ZAKAT"}));
    EXPECT_NEAR(aw.F("AMOUNT"), -17.5, kTol);  // AMOUNT2 0: -5 x 3.5 stays

    Reader lv(form.dbDest, "P_DTRXLV", "EMPCODE;PERIOD;CYCLE;ALLW_DED_CODE");
    ASSERT_TRUE(lv.Find({"E2", kPeriod, "1", "AL"}));
    EXPECT_NEAR(lv.F("AMOUNT"), 350, kTol);  // 100 x 3.5
    EXPECT_NEAR(lv.F("DAY"), 2, kTol);
    EXPECT_NEAR(lv.F("FREQUENCY"), 1, kTol);

    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E2", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 3500, kTol);     // 1000 x 3.5
    EXPECT_NEAR(h.F("CPFEMPEE"), -385, kTol);  // S_CPFWAGE 0: -110 x 3.5 stands
    EXPECT_NEAR(h.F("CPFEMPER"), -455, kTol);  // -130 x 3.5
    EXPECT_NEAR(h.F("TOTAL_CPF"), 240, kTol);  // as copied
    EXPECT_NEAR(h.F("CPF_WAGE"), 800, kTol);   // as copied
    EXPECT_NEAR(h.F("SOCSO"), -20, kTol);
    EXPECT_NEAR(h.F("EIS"), -7, kTol);
    EXPECT_NEAR(h.F("TOTAL_EIS"), 14, kTol);  // |-7| + 7
    EXPECT_NEAR(h.F("OTAMT"), 35.01, kTol);   // 10.003 x 3.5 = 35.0105
    // 12 + 470 + 45.6789 + 350; PCB counts nowhere, ZAKAT is a deduction
    EXPECT_NEAR(h.F("TOTAL_ALLOWANCE"), 877.6789, kTol);
    EXPECT_NEAR(h.F("TOTAL_DEDUCTION"), -17.5, kTol);
    EXPECT_NEAR(h.F("GROSS_WAGE"), 4412.6889, kTol);  // 3500 + 35.01 + 877.6789
    // 3500 + 35.01 + 877.6789 - 17.5 - 385 = 4010.1889; - 20 (SOCSO) - 7 (EIS) = 3983.1889
    EXPECT_NEAR(h.F("NETT_WAGE"), 3983.1889, kTol);
    EXPECT_NEAR(h.F("CHEQAMT"), 3983.1889, kTol);  // BANKAMT 0, CHEQAMT not 0
    EXPECT_NEAR(h.F("BANKAMT"), 0, kTol);
    EXPECT_NEAR(h.F("CASHAMT"), 0, kTol);

    EXPECT_TRUE(HasLogLine("Employee#E2 Currency : SGD EX RATE : 3.5"));
    EXPECT_TRUE(
        HasLogLine("employee# E2 FCURR_CODE SGD STDCURR MYR RATE 4.7 Local$ 470 FAMT : 100"));
    // The failed JPY lookup leaves the employee's SGD row current.
    EXPECT_EQ(op.Messages,
              (std::vector<std::string>{
                  "Undefined Exrate Table. Rate : 3.5STDCURR MYR CURR_CODE JPY PERIOD 202403",
                  "Error 1000. Unable to locate Currency rate Table : JPY Employee# E2"}));
}

TEST_F(CurrencyTest, AllowanceRowsAreSortedByClass) {
    Employee("E5", "MYR");
    Header("E5", "1", {});
    AllowanceCode("@$CR", "");        // non-taxable credit
    AllowanceCode("@$TX", "1");       // taxable credit
    AllowanceCode("MEMO", "1", "X");  // counted nowhere
    const FieldValues rows[] = {
        {{"ALLW_DED_CODE", "@$CR"}, {"AMOUNT", "50"}},    // GrossOnly -50
        {{"ALLW_DED_CODE", "@$TX"}, {"AMOUNT", "40"}},    // NettOnly +40
        {{"ALLW_DED_CODE", "@$NF"}, {"AMOUNT", "20"}},    // no ALLOWNCE row: NettOnly +20
        {{"ALLW_DED_CODE", "$DED"}, {"AMOUNT", "-25"}},   // Deduction -25, GrossOnly -25
        {{"ALLW_DED_CODE", "$POS"}, {"AMOUNT", "15"}},    // Allowance +15
        {{"ALLW_DED_CODE", "$ZER"}, {"AMOUNT", "0"}},     // deduction branch, adds 0
        {{"ALLW_DED_CODE", "BONUS"}, {"AMOUNT", "300"}},  // Bonus +300
        {{"ALLW_DED_CODE", "BONUX"}, {"AMOUNT", "-5"}},   // Bonus -5, even negative
        {{"ALLW_DED_CODE", "MEMO"}, {"AMOUNT", "70"}},    // nowhere
        {{"ALLW_DED_CODE", "PCB"}, {"AMOUNT", "-30"}, {"AMOUNT2", "-99"}},  // nowhere
        {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "100"}},                    // Allowance +100
    };
    for (const auto& row : rows) Allowance("E5", "1", row);

    ConvertCurrency(form);

    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E5", kPeriod, "1"}));
    EXPECT_NEAR(h.F("TOTAL_ALLOWANCE"), 115, kTol);  // 15 + 100
    EXPECT_NEAR(h.F("TOTAL_DEDUCTION"), -25, kTol);  // -25 + 0; PCB left out
    // GrossOnly -50 - 25 = -75, Bonus 300 - 5 = 295: -75 + 295 + 115 = 335
    EXPECT_NEAR(h.F("GROSS_WAGE"), 335, kTol);
    // Bonus 295 + Allowance 115 + NettOnly 60 + Deduction -25 = 445
    EXPECT_NEAR(h.F("NETT_WAGE"), 445, kTol);
    EXPECT_NEAR(h.F("CASHAMT"), 445, kTol);

    Reader aw = AllowanceReader();
    ASSERT_TRUE(aw.Find({"E5", kPeriod, "1", "PCB"}));
    EXPECT_NEAR(aw.F("AMOUNT"), -30, kTol);  // AMOUNT2 only for a foreign-currency employee
}

TEST_F(CurrencyTest, TwoCyclesEachGetTheirOwnRowsAndSums) {
    Employee("E4", "MYR");
    Header("E4", "1",
           {{"BASIC", "1000"},
            {"S_CPFWAGE", "100"},
            {"S_CPFEMPEE", "-10"},
            {"S_CPFEMPER", "-12"},
            {"S_EIS_WAGE", "100"},
            {"S_EIS", "-10"},
            {"S_EREIS", "12"}});
    Header("E4", "2",
           {{"BASIC", "500"}, {"S_EIS_WAGE", "100"}, {"S_EIS", "-10"}, {"S_EREIS", "-12"}});
    Allowance("E4", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "100"}});
    Allowance("E4", "2", {{"ALLW_DED_CODE", "MEAL"}, {"AMOUNT", "30"}});
    Allowance("E4", "2", {{"ALLW_DED_CODE", "LOAN"}, {"AMOUNT", "-20"}});

    ConvertCurrency(form);

    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E4", kPeriod, "1"}));
    EXPECT_NEAR(h.F("TOTAL_CPF"), 22, kTol);  // |-12| + |-10|
    EXPECT_NEAR(h.F("TOTAL_EIS"), 22, kTol);  // |-10| + 12
    EXPECT_NEAR(h.F("TOTAL_ALLOWANCE"), 100, kTol);
    EXPECT_NEAR(h.F("GROSS_WAGE"), 1100, kTol);  // 1000 + 100
    EXPECT_NEAR(h.F("NETT_WAGE"), 1080, kTol);   // 1000 + 100 - 10 (CPFEMPEE) - 10 (EIS)
    EXPECT_NEAR(h.F("CASHAMT"), 1080, kTol);     // BANKAMT and CHEQAMT 0
    ASSERT_TRUE(h.Find({"E4", kPeriod, "2"}));
    EXPECT_NEAR(h.F("TOTAL_EIS"), -2, kTol);        // |-10| + -12: EREIS keeps its sign
    EXPECT_NEAR(h.F("TOTAL_ALLOWANCE"), 30, kTol);  // not 130: sums start again per cycle
    EXPECT_NEAR(h.F("TOTAL_DEDUCTION"), -20, kTol);
    EXPECT_NEAR(h.F("GROSS_WAGE"), 530, kTol);  // 500 + 30
    EXPECT_NEAR(h.F("NETT_WAGE"), 500, kTol);   // 500 + 30 - 20 - 10 (EIS)
    EXPECT_NEAR(h.F("CASHAMT"), 500, kTol);
    EXPECT_EQ(std::count(form.Controls.Memo1.begin(), form.Controls.Memo1.end(),
                         "UpdateHTRXField emp_no :E4"),
              2);
}

TEST_F(CurrencyTest, MissingRateLeavesTheEmployeeUnconvertedInItsOwnCurrency) {
    Employee("E1", "SGD");
    Employee("E2", "USD", "SGD");
    Rate("SGD", "3.5");
    Header("E1", "1", {{"BASIC", "100"}});
    Header("E2", "1", {{"BASIC", "1000.005"}, {"NETT_WAGE", "900"}, {"BANKAMT", "900"}});
    Allowance("E2", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "100"}});
    Insert(form.dbSource, "BANKTRX",
           {{"EMPCODE", "E2"},
            {"PERIOD", kPeriod},
            {"CYCLE", "1"},
            {"BANK_ID", "B1"},
            {"CURR_CODE", "USD"},
            {"BANK_AMT", "900"},
            {"TRAN_AMT", "900"}});

    ConvertCurrency(form);

    EXPECT_EQ(op.Messages,
              (std::vector<std::string>{
                  "Undefined Exrate Table. Rate : 3.5STDCURR MYR CURR_CODE USD PERIOD 202403",
                  "E2 Error 1003. Unable to locate Currency Table : USD"}));
    EXPECT_TRUE(HasLogLine("Employee#E2 Currency : USD EX RATE : 3.5"));
    EXPECT_FALSE(HasLogLine("UpdateHTRXField emp_no :E2"));

    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 350, kTol);  // 100 x 3.5
    ASSERT_TRUE(h.Find({"E2", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 1000.005, kTol);  // neither E1's 3.5 nor even rounded
    EXPECT_NEAR(h.F("NETT_WAGE"), 900, kTol);
    Reader aw = AllowanceReader();
    ASSERT_TRUE(aw.Find({"E2", kPeriod, "1", "TRANS"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 100, kTol);

    Reader bank(form.dbDest, "BANKTRX", "EMPCODE;PERIOD;CYCLE");
    ASSERT_TRUE(bank.Find({"E2", kPeriod, "1"}));
    EXPECT_EQ(bank.S("CURR_CODE"), "USD");  // paid as the source paid it
    EXPECT_NEAR(bank.F("BANK_AMT"), 900, kTol);

    StampEmployeeCurrency(form, "MYR");
    Reader emp(form.dbDest, "EMPLOYEE", "EMP_NO");
    ASSERT_TRUE(emp.Find({"E1"}));
    EXPECT_EQ(emp.S("FCURR_CODE"), "MYR");
    EXPECT_EQ(emp.S("LOCAL_CURR_CODE"), "MYR");
    ASSERT_TRUE(emp.Find({"E2"}));
    EXPECT_EQ(emp.S("FCURR_CODE"), "USD");  // its amounts are still in USD
    EXPECT_EQ(emp.S("LOCAL_CURR_CODE"), "SGD");
}

TEST_F(CurrencyTest, StampMarksEveryEmployeeWithTheCode) {
    Employee("E1", "SGD", "SGD");
    Employee("E2", "", "");
    StampEmployeeCurrency(form, "MYR");
    Reader emp(form.dbDest, "EMPLOYEE", "EMP_NO");
    for (const char* empNo : {"E1", "E2"}) {
        ASSERT_TRUE(emp.Find({empNo}));
        EXPECT_EQ(emp.S("FCURR_CODE"), "MYR");
        EXPECT_EQ(emp.S("LOCAL_CURR_CODE"), "MYR");
    }
}

TEST_F(CurrencyTest, StopRequestLeavesTheRemainingEmployeesAndBankRows) {
    for (const char* empNo : {"E1", "E2", "E3"}) {
        Employee(empNo, "MYR");
        Header(empNo, "1", {{"BASIC", "10.555"}});
        Insert(form.dbSource, "BANKTRX",
               {{"EMPCODE", empNo},
                {"PERIOD", kPeriod},
                {"CYCLE", "1"},
                {"BANK_ID", "B1"},
                {"CURR_CODE", "MYR"},
                {"BANK_AMT", "10"}});
    }
    Insert(form.dbDest, "EXRATE",
           {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", kPeriod}, {"EX_RATE", "3.5"}});
    op.Answers = {true};
    int calls = 0;
    op.OnProcessMessages = [&] {
        if (++calls == 2) form.FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);
    };

    ConvertCurrency(form);

    EXPECT_EQ(op.Questions, (std::vector<std::string>{"Terminate processing ?"}));
    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 10.56, kTol);  // converted before the stop
    for (const char* empNo : {"E2", "E3"}) {
        ASSERT_TRUE(h.Find({empNo, kPeriod, "1"}));
        EXPECT_NEAR(h.F("BASIC"), 10.555, kTol) << empNo;
    }
    EXPECT_EQ(CountRows(form.dbDest, "BANKTRX"), 0);  // the stop holds for the bank step
    Reader rates(form.dbDest, "EXRATE", "CURR;EXCODE;PERIOD");
    ASSERT_TRUE(rates.Find({"SGD", "MYR", kPeriod}));
    EXPECT_DOUBLE_EQ(rates.F("EX_RATE"), 1.0);  // the rate reset still runs
    EXPECT_FALSE(form.FormMsg.Visible);
    EXPECT_FALSE(form.FormMsg.StopRequested);  // cleared when the window closed
}

// The run log of an allowance row names the rate its amount was converted with: the employee's
// own for a row in the pay currency, even after a row in another currency moved the rate table.
TEST_F(CurrencyTest, AllowanceLogLineShowsTheRateThatWasApplied) {
    Employee("E1", "SGD");
    Rate("SGD", "3.08");
    Rate("USD", "4.445");
    Header("E1", "1", {{"BASIC", "1000"}});
    // Code order: HOUSE (USD) first moves the rate table to the USD row, then MEAL and TRANS.
    Allowance("E1", "1", {{"ALLW_DED_CODE", "HOUSE"}, {"CURR_CODE", "USD"}, {"FAMOUNT", "100"}});
    Allowance("E1", "1", {{"ALLW_DED_CODE", "MEAL"}, {"CURR_CODE", "MYR"}, {"FAMOUNT", "20"}});
    Allowance("E1", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "100"}});

    ConvertCurrency(form);

    Reader aw = AllowanceReader();
    ASSERT_TRUE(aw.Find({"E1", kPeriod, "1", "TRANS"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 308, kTol);  // 100 x 3.08
    // 100 x 4.445 = 444.5; 100 x 3.08 = 308; MYR 20 taken at 1.
    EXPECT_TRUE(
        HasLogLine("employee# E1 FCURR_CODE SGD STDCURR MYR RATE 4.445 Local$ 444.5 FAMT : 100"));
    EXPECT_TRUE(HasLogLine("employee# E1 FCURR_CODE SGD STDCURR MYR RATE 1 Local$ 20 FAMT : 20"));
    EXPECT_TRUE(HasLogLine("employee# E1 FCURR_CODE SGD STDCURR MYR RATE 3.08 Local$ 308 FAMT : "));
}

// Free tables of a live installation are encrypted: every statement and table of the
// conversion must be given the free-table password.
TEST_F(CurrencyTest, EncryptedFreeTablesAreReadAndWritten) {
    Employee("E1", "SGD");
    Rate("SGD", "2");
    Header("E1", "1", {{"BASIC", "100"}, {"BANKAMT", "1"}});
    Allowance("E1", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "10"}});
    Insert(form.dbSource, "BANKTRX",
           {{"EMPCODE", "E1"},
            {"PERIOD", kPeriod},
            {"CYCLE", "1"},
            {"BANK_ID", "B1"},
            {"CURR_CODE", "SGD"},
            {"BANK_AMT", "110"}});
    form.dbDest.Disconnect();
    form.dbSource.Disconnect();
    auto encrypt = [](const std::string& path, const std::string& table) {
        db::TDbConnection conn("encrypt");
        conn.SetConnectPath(path);
        db::TDbTable t("encrypt");
        t.SetConnection(&conn);
        t.SetTableName(table);
        t.Open();
        t.EnableEncryption(signon::kFreeTablePassword);
        t.EncryptTable();
        t.Close();
    };
    for (const char* table :
         {"EMPLOYEE", "P_HTRX", "P_DTRXAW", "P_DTRXNH", "P_DTRXND", "P_DTRXAS", "P_DTRXSF",
          "P_DTRXOT", "P_DTRXRD", "P_DTRXLV", "YTDEMPL", "BANKTRX"}) {
        encrypt(m_destPath, table);
    }
    encrypt(m_srcPath, "BANKTRX");
    form.dbDest.Connect();
    form.dbSource.Connect();

    ConvertCurrency(form);
    StampEmployeeCurrency(form, "MYR");
    EXPECT_TRUE(op.Messages.empty()) << op.Messages.front();

    Reader h = HeaderReader();
    h.Table().EnableEncryption(signon::kFreeTablePassword);
    ASSERT_TRUE(h.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 200, kTol);  // 100 x 2
    // 200 + 20 (TRANS 10 x 2)
    EXPECT_NEAR(h.F("NETT_WAGE"), 220, kTol);
    Reader bank(form.dbDest, "BANKTRX", "EMPCODE;PERIOD;CYCLE");
    bank.Table().EnableEncryption(signon::kFreeTablePassword);
    ASSERT_TRUE(bank.Find({"E1", kPeriod, "1"}));
    EXPECT_NEAR(bank.F("BANK_AMT"), 220, kTol);
    EXPECT_EQ(bank.S("CURR_CODE"), "MYR");
    Reader emp(form.dbDest, "EMPLOYEE", "EMP_NO");
    emp.Table().EnableEncryption(signon::kFreeTablePassword);
    ASSERT_TRUE(emp.Find({"E1"}));
    EXPECT_EQ(emp.S("FCURR_CODE"), "MYR");
}

// A destination whose P_HTRX has no "S_" field and whose P_DTRXAW has no row currency.
class PlainLayoutTest : public CurrencyTest {
protected:
    void PrepareTables() override {
        ReplaceTable(m_destPath, CatalogueTableWithout("P_HTRX", [](const std::string& name) {
                         return name.rfind("S_", 0) == 0;
                     }));
        ReplaceTable(m_destPath, CatalogueTableWithout("P_DTRXAW", [](const std::string& name) {
                         return name == "CURR_CODE" || name == "FAMOUNT" || name == "EX_RATE" ||
                                name == "AMOUNT2";
                     }));
    }
};

TEST_F(PlainLayoutTest, WithoutSFieldsContributionsAreMultipliedAndWageBasesKept) {
    Employee("E3", "SGD");
    Rate("SGD", "2");
    Header("E3", "1",
           {{"BASIC", "1000"},
            {"CPFEMPEE", "-100"},
            {"CPFEMPER", "-120"},
            {"TOTAL_CPF", "230"},
            {"CPF_WAGE", "1000"},
            {"SCP_WAGE", "500"},
            {"SOCSO_WAGE", "800"},
            {"SOCSO", "-10"},
            {"EIS", "-3"},
            {"TOTAL_EIS", "6"},
            {"SDF", "4"},
            {"BANKAMT", "10"},
            {"CHEQAMT", "40"}});
    Allowance("E3", "1", {{"ALLW_DED_CODE", "TRANS"}, {"AMOUNT", "100"}});

    ConvertCurrency(form);

    Reader h = HeaderReader();
    ASSERT_TRUE(h.Find({"E3", kPeriod, "1"}));
    EXPECT_NEAR(h.F("BASIC"), 2000, kTol);     // 1000 x 2
    EXPECT_NEAR(h.F("CPFEMPEE"), -200, kTol);  // -100 x 2
    EXPECT_NEAR(h.F("CPFEMPER"), -240, kTol);
    EXPECT_NEAR(h.F("SOCSO"), -20, kTol);
    EXPECT_NEAR(h.F("EIS"), -6, kTol);
    EXPECT_NEAR(h.F("TOTAL_EIS"), 12, kTol);  // an ordinary amount here: 6 x 2
    EXPECT_NEAR(h.F("SDF"), 8, kTol);
    EXPECT_NEAR(h.F("TOTAL_CPF"), 230, kTol);  // as copied
    EXPECT_NEAR(h.F("CPF_WAGE"), 1000, kTol);
    EXPECT_NEAR(h.F("SCP_WAGE"), 500, kTol);
    EXPECT_NEAR(h.F("SOCSO_WAGE"), 800, kTol);
    EXPECT_NEAR(h.F("CHEQAMT"), 40, kTol);  // BANKAMT takes the payment
    // Allowance rows without a currency of their own are not converted: TRANS stays 100.
    EXPECT_NEAR(h.F("TOTAL_ALLOWANCE"), 100, kTol);
    EXPECT_NEAR(h.F("GROSS_WAGE"), 2100, kTol);  // 2000 + 100
    // 2000 + 100 - 200 = 1900; - 20 (SOCSO) - 6 (EIS) = 1874
    EXPECT_NEAR(h.F("NETT_WAGE"), 1874, kTol);
    EXPECT_NEAR(h.F("BANKAMT"), 1874, kTol);
    Reader aw = AllowanceReader();
    ASSERT_TRUE(aw.Find({"E3", kPeriod, "1", "TRANS"}));
    EXPECT_NEAR(aw.F("AMOUNT"), 100, kTol);
    for (const auto& line : form.Controls.Memo1) EXPECT_NE(line.rfind("employee# ", 0), 0u) << line;
}

}  // namespace
}  // namespace peltorn::test
