// The rate lookup: the rate-1 row of the standard currency, rates per period only, blank codes,
// and the current rate row a failed lookup leaves behind.
#include "CurrencyFixture.h"
#include "currency/DetailRows.h"
#include "currency/ExchangeRate.h"

namespace peltorn::test {
namespace {

using currency::CurrentRate;
using currency::FindExchangeRate;

class ExchangeRateTest : public CurrencyTest {
protected:
    void OpenRates() {
        form.DbTableExrate.Close();
        form.DbTableExrate.Open();
    }
};

TEST_F(ExchangeRateTest, StandardCurrencyWithoutRowGetsRateOneRowInTheSourceTable) {
    OpenRates();
    EXPECT_TRUE(FindExchangeRate(form, "MYR", kPeriod, "MYR"));
    EXPECT_DOUBLE_EQ(CurrentRate(form), 1.0);
    EXPECT_TRUE(op.Messages.empty());
    form.DbTableExrate.Close();

    Reader rates(form.dbSource, "EXRATE", "CURR;EXCODE;PERIOD");
    ASSERT_TRUE(rates.Find({"MYR", "MYR", kPeriod}));
    EXPECT_DOUBLE_EQ(rates.F("EX_RATE"), 1.0);
    EXPECT_EQ(rates.Table().RecordCount(), 1);
}

TEST_F(ExchangeRateTest, StandardCurrencyKeepsAnExistingRateAndAddsNothing) {
    Insert(form.dbSource, "EXRATE",
           {{"CURR", "MYR"}, {"EXCODE", "MYR"}, {"PERIOD", kPeriod}, {"EX_RATE", "1.25"}});
    OpenRates();
    EXPECT_TRUE(FindExchangeRate(form, "MYR", kPeriod, "MYR"));
    EXPECT_DOUBLE_EQ(CurrentRate(form), 1.25);
    EXPECT_EQ(CountRows(form.dbSource, "EXRATE"), 1);
}

TEST_F(ExchangeRateTest, RatesAreNotCarriedOverFromAnotherPeriod) {
    Rate("SGD", "3.4", "202402");
    OpenRates();
    EXPECT_FALSE(FindExchangeRate(form, "SGD", kPeriod, "MYR"));
    EXPECT_TRUE(
        HasMessage("Undefined Exrate Table. Rate : 3.4STDCURR MYR CURR_CODE SGD PERIOD 202403"))
        << "the first row in key order is the current rate row of a freshly opened table";
}

TEST_F(ExchangeRateTest, FailedLookupLeavesTheLastRowFoundCurrent) {
    Rate("SGD", "3.5");
    Rate("USD", "4.7", "202402");
    OpenRates();
    ASSERT_TRUE(FindExchangeRate(form, "SGD", kPeriod, "MYR"));
    EXPECT_FALSE(FindExchangeRate(form, "USD", kPeriod, "MYR"));
    EXPECT_DOUBLE_EQ(CurrentRate(form), 3.5);
    EXPECT_TRUE(
        HasMessage("Undefined Exrate Table. Rate : 3.5STDCURR MYR CURR_CODE USD PERIOD 202403"));
}

TEST_F(ExchangeRateTest, BlankCurrencyIsReportedAndTheSearchStillRuns) {
    Rate("SGD", "3.5");
    OpenRates();
    EXPECT_FALSE(FindExchangeRate(form, "", kPeriod, "MYR"));
    EXPECT_EQ(op.Messages,
              (std::vector<std::string>{
                  "CURRENCY code IS BLANK!",
                  "Undefined Exrate Table. Rate : 3.5STDCURR MYR CURR_CODE  PERIOD 202403"}));
}

TEST_F(ExchangeRateTest, BlankStandardAndTargetCodesAreReported) {
    Rate("SGD", "3.5");
    OpenRates();
    form.StdCurr = "";
    EXPECT_FALSE(FindExchangeRate(form, "SGD", kPeriod, ""));
    EXPECT_EQ(op.Messages,
              (std::vector<std::string>{
                  "STDCURR code IS BLANK!", "EXCODE code IS BLANK!",
                  "Undefined Exrate Table. Rate : 3.5STDCURR  CURR_CODE SGD PERIOD 202403"}));
}

TEST_F(ExchangeRateTest, StandardCurrencyComparisonIsExact) {
    OpenRates();
    EXPECT_FALSE(FindExchangeRate(form, "myr", kPeriod, "MYR"));
    EXPECT_EQ(CountRows(form.dbSource, "EXRATE"), 0);
    EXPECT_TRUE(
        HasMessage("Undefined Exrate Table. Rate : STDCURR MYR CURR_CODE myr PERIOD 202403"));
}

TEST(IsNonTaxableCreditTest, CreditCodesWithBlankOrZeroTaxMarkOnly) {
    using currency::IsNonTaxableCredit;
    EXPECT_TRUE(IsNonTaxableCredit("@$CR", ""));
    EXPECT_TRUE(IsNonTaxableCredit("@$CR", "   "));
    EXPECT_TRUE(IsNonTaxableCredit("@$CR", "0"));
    EXPECT_FALSE(IsNonTaxableCredit("@$CR", "1"));
    EXPECT_FALSE(IsNonTaxableCredit("@$CR", " 0"));  // only exactly "0" counts
    EXPECT_FALSE(IsNonTaxableCredit("$CR", ""));
    EXPECT_FALSE(IsNonTaxableCredit("@CR", ""));
}

}  // namespace
}  // namespace peltorn::test
