// Bank transaction conversion: the destination's BANKTRX rows of the period, rebuilt from the
// source companies' rows so that each employee's transactions pay the recomputed nett wage.
#include "currency/BankTransactions.h"

#include "currency/ConversionState.h"
#include "currency/CurrencyTexts.h"
#include "currency/ExchangeRate.h"
#include "run/MergeRun.h"
#include "signon/Credentials.h"

#include <set>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace peltorn::currency {

namespace {

using Key = std::tuple<std::string, std::string, std::string>;  // EMPCODE, PERIOD, CYCLE

Key HeaderKey(TFormMerge& form) {
    auto& h = form.DbQueryPHTRX;
    return {h.FieldByName(kFieldEmpCode).AsString(), h.FieldByName(kFieldPeriod).AsString(),
            h.FieldByName(kFieldCycle).AsString()};
}

void SetKeyParams(db::TDbQuery& query, const Key& key) {
    query.ParamByName(kParamEmpCode).SetAsString(std::get<0>(key));
    query.ParamByName(kParamPeriodUpper).SetAsString(std::get<1>(key));
    query.ParamByName(kParamCycle).SetAsString(std::get<2>(key));
}

// Gives query the statement text unless it holds it already: setting the text again would make
// the layer parse its parameters and tables once more for every payroll header.
void SetStatement(db::TDbQuery& query, const char* text) {
    if (query.SQL().Count() == 1 && query.SQL().Text() == text) return;
    query.SQL().Clear();
    query.SQL().Add(text);
}

// The key of the row an error message names: the current source row's, or the header row's
// when the source rows could not be read.
Key ErrorKey(TFormMerge& form, db::TDbQuery& source) {
    Key key = HeaderKey(form);
    if (source.Active() && source.HasCurrentRecord()) {
        if (auto* f = source.FindField(kFieldEmpCode)) std::get<0>(key) = f->AsString();
        if (auto* f = source.FindField(kFieldPeriod)) std::get<1>(key) = f->AsString();
        if (auto* f = source.FindField(kFieldCycle)) std::get<2>(key) = f->AsString();
    }
    return key;
}

int CopyBankRowsFrom(TFormMerge& form, db::TDbQuery& source) {
    auto& dest = form.tblDest;
    const Key key = HeaderKey(form);
    int found = 0;
    try {
        if (!source.Connection()->IsDictionaryConn()) {
            source.SetTablePassword(kTableBankTrxLower, signon::kFreeTablePassword);
        }
        const db::TCurrency nettWage = form.DbQueryPHTRX.FieldByName(kFieldNettWage).AsCurrency();
        db::TCurrency stdBankSum;
        bool hasTTRow = false;
        source.Close();
        // The statement stays prepared from one header to the next; only its values change.
        SetStatement(source, kSqlSourceBankRows);
        SetKeyParams(source, key);
        source.Open();

        for (; !source.Eof(); source.Next()) {
            ++found;
            if (source.FieldByName(kFieldBankId).AsString() == kBankTT) {
                hasTTRow = true;
            } else if (source.FieldByName(kFieldCurrCode).AsString() == form.StdCurr) {
                stdBankSum += source.FieldByName(kFieldBankAmt).AsCurrency();
            }
        }
        source.First();

        // The employee's payroll stayed in its own currency: so do the bank rows.
        const bool asCopied = IsUnconvertedEmployee(form, std::get<0>(key), std::get<1>(key));
        int ttRows = 0;
        int copiedRows = 0;
        while (!source.Eof() && form.FormMsg.StepProgress()) {
            form.FormMsg.ShowProgress(source.RecordCount(), kProgressMessage);
            dest.Append();
            for (int i = 0; i < source.FieldCount(); ++i) {
                db::TField& field = source.Fields(i);
                dest.FieldByName(field.FieldName()).SetAsString(field.AsString());
            }
            db::TField& bankAmt = dest.FieldByName(kFieldBankAmt);
            db::TField& tranAmt = dest.FieldByName(kFieldTranAmt);
            if (asCopied) {
                // amounts and currency as the source holds them
            } else if (hasTTRow) {
                // The "TT" transfer pays what the standard-currency banks leave of the nett wage;
                // the other rows keep their amounts and currencies.
                dest.FieldByName(kFieldSplitAmt).SetAsCurrency(db::TCurrency{});
                if (source.FieldByName(kFieldBankId).AsString() == kBankTT &&
                    source.FieldByName(kFieldBankAmt).AsCurrency() != db::TCurrency{}) {
                    ++ttRows;
                    const db::TCurrency pay = ttRows == 1 ? nettWage - stdBankSum : db::TCurrency{};
                    bankAmt.SetAsCurrency(pay);
                    tranAmt.SetAsCurrency(pay);
                }
            } else {
                const std::string currCode = source.FieldByName(kFieldCurrCode).AsString();
                // Only checked and reported: the whole nett wage is already in the standard
                // currency, so the rate does not enter the amounts.
                if (!FindExchangeRate(form, currCode, std::get<1>(key), form.StdCurr)) {
                    form.Operator().Inform(source.FieldByName(kFieldEmpCode).AsString() +
                                           kMsgError1004 + currCode + " To " + form.StdCurr);
                }
                ++copiedRows;
                const db::TCurrency pay = copiedRows == 1 ? nettWage : db::TCurrency{};
                bankAmt.SetAsCurrency(pay);
                tranAmt.SetAsCurrency(pay);
                dest.FieldByName(kFieldCurrCode).SetAsString(form.StdCurr);
            }
            dest.Post();
            if (run::TGroupAccount* group = form.GroupBeingMerged()) ++group->Currency.BankRows;
            source.Next();
        }
    } catch (const std::exception& e) {
        // A half-filled row is discarded rather than written incomplete.
        if (dest.State() == db::TDataSetState::dsInsert) dest.Cancel();
        const Key at = ErrorKey(form, source);
        form.Operator().Inform(std::string(e.what()) + " Employee# " + std::get<0>(at) +
                               " Period # " + std::get<1>(at) + " cycle# " + std::get<2>(at));
    }
    return found;
}

// The keys of the payroll headers of the conversion that the source behind query holds, read in
// one pass rather than asked for one header at a time: each source would otherwise be asked
// about every header of the group still without its source.
std::set<Key> SourceHeaderKeys(TFormMerge& form, db::TDbQuery& query) {
    if (!query.Connection()->IsDictionaryConn()) {
        query.SetTablePassword(kTableHtrx, signon::kFreeTablePassword);
    }
    query.Close();
    query.SQL().Clear();
    query.SQL().Add(kSqlSourceHeaderKeys + PayrollRowsCondition(form));
    SetPayrollRowsParams(form, query);
    std::set<Key> keys;
    for (query.Open(); !query.Eof(); query.Next())
        keys.insert({query.FieldByName(kFieldEmpCode).AsString(),
                     query.FieldByName(kFieldPeriod).AsString(),
                     query.FieldByName(kFieldCycle).AsString()});
    query.Close();
    return keys;
}

// The database of the current MERGEDTL source, formed as the run forms it (in a preview, its
// scratch copy).
std::string SourcePath(TFormMerge& form) {
    return form.DatabasePath(run::SourcePath(form.BaseFolder, form.DictionarySetting,
                                             form.TableMergeDTL.FieldByName("CODE").AsString(),
                                             form.TableMergeDTL.FieldByName("PATH").AsString()));
}

// The group's sources before the last one (the one dbSource stands on), last first. Empty when
// the group's sources are not at hand (TableMergeDTL closed). Leaves TableMergeDTL where it was.
std::vector<std::string> EarlierSourcePaths(TFormMerge& form) {
    std::vector<std::string> paths;
    auto& sources = form.TableMergeDTL;
    if (!sources.Active()) return paths;
    const bool wasEof = sources.Eof();
    std::vector<std::string> position;
    if (!wasEof && sources.HasCurrentRecord()) {
        position = {sources.FieldByName("NO").AsString(), sources.FieldByName("CODE").AsString()};
    }
    const std::string last = db::NormalizePath(form.dbSource.ConnectPath());
    for (sources.First(); !sources.Eof(); sources.Next()) {
        std::string path = SourcePath(form);
        if (db::NormalizePath(path) != last) paths.insert(paths.begin(), path);
    }
    if (!position.empty()) sources.FindKey(position);
    return paths;
}

// Copies, from one earlier source, the bank rows of the header rows that came from it.
void CopyFromEarlierSource(TFormMerge& form, const std::string& path,
                           const std::vector<Key>& headerKeys, std::set<Key>& served) {
    db::TDbConnection conn("BankSource");
    conn.SetConnectPath(path);
    conn.Username = form.dbSource.Username;
    conn.Password = form.dbSource.Password;
    conn.ServerTypes = form.dbSource.ServerTypes;
    db::TDbQuery rows("BankSourceRows");
    db::TDbQuery headers("BankSourceHeaders");
    rows.SetConnection(&conn);
    headers.SetConnection(&conn);
    try {
        conn.Connect();
    } catch (const std::exception& e) {
        form.Operator().Inform(kMsgBankSourceUnread + path + ". " + e.what());
        return;
    }
    std::set<Key> held;
    try {
        held = SourceHeaderKeys(form, headers);
    } catch (const std::exception& e) {
        form.Operator().Inform(kMsgBankSourceUnread + path + ". " + e.what());
        return;
    }
    // The header rows are visited in their order, as the first pass read them; the selection
    // moves on only to those this source is to serve, without reading the rows between. Should
    // the selection not give the rows as the first pass did, it is walked row by row.
    auto& headerRows = form.DbQueryPHTRX;
    std::size_t at = headerKeys.size();  // the row the selection stands on; none yet
    bool walk = false;
    for (std::size_t i = 0; i < headerKeys.size() && !walk; ++i) {
        const Key& key = headerKeys[i];
        if (served.count(key) || !held.count(key)) continue;
        if (at > i) {
            headerRows.First();
            at = 0;
        }
        headerRows.MoveBy(static_cast<int>(i - at));
        at = i;
        if (headerRows.Eof() || HeaderKey(form) != key) {
            walk = true;
            break;
        }
        served.insert(key);
        CopyBankRowsFrom(form, rows);
    }
    if (walk) {
        for (headerRows.First(); !headerRows.Eof(); headerRows.Next()) {
            const Key key = HeaderKey(form);
            if (served.count(key) || !held.count(key)) continue;
            served.insert(key);
            CopyBankRowsFrom(form, rows);
        }
    }
    rows.Close();
    conn.Disconnect();
}

}  // namespace

int CopyBankRows(TFormMerge& form) { return CopyBankRowsFrom(form, form.tblSource); }

void ConvertBankTransactions(TFormMerge& form) {
    const std::string& pw = signon::kFreeTablePassword;
    auto& headerRows = form.DbQueryPHTRX;
    if (!form.dbDest.IsDictionaryConn()) headerRows.SetTablePassword(kTableHtrxLower, pw);

    auto& dest = form.tblDest;
    try {
        dest.Close();
        dest.SetTableName(kTableBankTrx);
        // Rows are only appended; an index left by the table transfer must not stand in the way.
        dest.SetIndexFieldNames("");
        dest.Open();
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(e.what()) + " Table " + kTableBankTrx);
    }
    if (!dest.Connection()->IsDictionaryConn()) dest.EnableEncryption(pw);

    headerRows.Close();
    headerRows.SQL().Clear();
    // The rows the conversion converted: a kept special cycle keeps the bank rows it has.
    headerRows.SQL().Add(kSqlHeaderRows + PayrollRowsCondition(form));
    SetPayrollRowsParams(form, headerRows);
    headerRows.Open();

    // The last source first: every header row it holds (or has bank rows for) is its own.
    std::set<Key> served;
    db::TDbQuery lastHeaders("BankLastSourceHeaders");
    lastHeaders.SetConnection(&form.dbSource);
    const bool groupAtHand = form.TableMergeDTL.Active();
    const std::set<Key> lastHeld =
        groupAtHand ? SourceHeaderKeys(form, lastHeaders) : std::set<Key>{};
    std::vector<Key> headerKeys;  // in the order of the selection
    for (; !headerRows.Eof(); headerRows.Next()) {
        const int found = CopyBankRows(form);
        if (!groupAtHand) continue;
        headerKeys.push_back(HeaderKey(form));
        if (found > 0 || lastHeld.count(headerKeys.back())) served.insert(headerKeys.back());
    }

    // Then the earlier sources, last first, for the header rows still without their source.
    for (const auto& path : EarlierSourcePaths(form)) {
        if (form.FormMsg.StopRequested) break;  // a stop request holds for the whole step
        CopyFromEarlierSource(form, path, headerKeys, served);
    }
}

}  // namespace peltorn::currency
