// The exchange-rate lookup: finds the rate row of a currency, target currency and period in the
// rate table of the group's last source company, adding the rate-1 row of the standard currency
// when a period has none, so that standard-currency amounts always find a rate.
#include "currency/ExchangeRate.h"

#include "currency/CurrencyTexts.h"

namespace peltorn::currency {

namespace {

bool HasCurrentRateRow(db::TDbTable& rates) { return rates.Active() && rates.HasCurrentRecord(); }

}  // namespace

std::string CurrentRateText(TFormMerge& form) {
    auto& rates = form.DbTableExrate;
    if (!HasCurrentRateRow(rates)) return {};
    return rates.FieldByName(kFieldExRate).AsString();
}

double CurrentRate(TFormMerge& form) {
    auto& rates = form.DbTableExrate;
    if (!HasCurrentRateRow(rates)) return 0;
    return rates.FieldByName(kFieldExRate).AsFloat();
}

bool FindExchangeRate(TFormMerge& form, const std::string& currency, const std::string& period,
                      const std::string& target) {
    auto& op = form.Operator();
    // Blank codes are only reported: the search still runs, so the operator sees which lookup
    // failed in the message that follows.
    if (currency.empty()) op.Inform(kMsgCurrencyBlank);
    if (form.StdCurr.empty()) op.Inform(kMsgStdCurrBlank);
    if (target.empty()) op.Inform(kMsgExcodeBlank);

    auto& rates = form.DbTableExrate;
    rates.SetIndexFieldNames(kRateIndex);

    // The standard currency converts into itself at 1; the row is written into the rate table
    // being read (the source company's), so later lookups of the period find it directly.
    if (currency == form.StdCurr && !rates.FindKey({currency, form.StdCurr, period})) {
        rates.Append();
        rates.FieldByName(kFieldCurr).SetAsString(currency);
        rates.FieldByName(kFieldExcode).SetAsString(currency);
        rates.FieldByName(kFieldPeriod).SetAsString(period);
        rates.FieldByName(kFieldExRate).SetAsString("1");
        rates.Post();
    }

    if (rates.FindKey({currency, target, period})) return true;

    op.Inform(std::string(kMsgUndefinedRate) + CurrentRateText(form) + "STDCURR " + form.StdCurr +
              " CURR_CODE " + currency + " PERIOD " + period);
    return false;
}

}  // namespace peltorn::currency
