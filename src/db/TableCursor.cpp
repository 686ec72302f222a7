// The cursor's conversion of key texts into stored values and its conditions of visibility
// (master link and record filter).
#include "db/TableCursor.h"

namespace peltorn::db::detail {

TDbValue TableCursor::ConvertByType(const TFieldDef& f, const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    while (!t.empty() && t.front() == ' ') t.erase(t.begin());
    if (t.empty()) return TDbValue();
    try {
        switch (f.Type) {
            case TFieldType::ftSmallint:
            case TFieldType::ftInteger:
            case TFieldType::ftAutoInc: {
                std::size_t used = 0;
                long long v = std::stoll(t, &used);
                if (used != t.size()) throw std::invalid_argument(t);
                return TDbValue(static_cast<std::int64_t>(v));
            }
            case TFieldType::ftFloat: {
                std::size_t used = 0;
                double v = std::stod(t, &used);
                if (used != t.size()) throw std::invalid_argument(t);
                return TDbValue(v);
            }
            case TFieldType::ftCurrency: {
                std::size_t used = 0;
                double v = std::stod(t, &used);
                if (used != t.size()) throw std::invalid_argument(t);
                return TDbValue(TCurrency::FromDouble(v).ToDouble());
            }
            case TFieldType::ftDate: return TDbValue(FormatIsoDate(ParseDate(t)));
            case TFieldType::ftBoolean: {
                std::string u = Upper(t);
                return TDbValue(u == "T" || u == "TRUE" || u == "Y" || u == "1" ? 1 : 0);
            }
            default: return TDbValue(t);
        }
    } catch (const std::exception&) {
        throw EDbDatasetError("'" + text + "' is not a valid value for field " + f.Name);
    }
}

void TableCursor::BaseWhere(std::vector<std::string>& conds, std::vector<TDbValue>& params) const {
    if (T.m_master) {
        auto masterFields = SplitFieldList(T.m_masterFields);
        if (!T.m_master->Active() || !T.m_master->HasCurrentRecord() ||
            T.m_master->State() == TDataSetState::dsInsert) {
            conds.push_back("0");
        } else {
            for (std::size_t i = 0; i < masterFields.size() && i < Order.size(); ++i) {
                TDbValue v = T.m_master->FieldByName(masterFields[i]).AsVariant();
                Equals(Order[i], v, conds, params);
            }
        }
    }
    if (T.m_filtered && !T.m_filter.empty()) conds.push_back("(" + T.m_filter + ")");
}

}  // namespace peltorn::db::detail
