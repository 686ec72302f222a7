#include "run/RunChecks.h"

#include "run/MergeRun.h"
#include "run/RunTexts.h"
#include "run/TransferTables.h"
#include "signon/Credentials.h"

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace peltorn::run {

namespace {

// At most this many offenders are named in a check's detail; the count says how many there are.
constexpr std::size_t kNamedOffenders = 5;

// The always-added tables whose rows are counted against the sources'. The rebuilt report and
// cost-centre tables and the rate table (whose rows the rate lookup adds to a source after the
// transfer) are not among them.
const char* const kCountedTables[] = {"P_DTRXAW", "P_DTRXLV", "EMP_ALW", "MEDICAL"};

std::int64_t Cents(double amount) { return std::llround(amount * 100.0); }

class TReader {
public:
    TReader(db::TDbConnection& connection, const std::string& sql, const std::string& period,
            const std::string& standardCurrency = {})
        : m_query("AccountCheck") {
        m_query.SetConnection(&connection);
        if (!connection.IsDictionaryConn()) m_query.EnableEncryption(signon::kFreeTablePassword);
        m_query.SQL().Add(sql);
        if (sql.find(":PERIOD") != std::string::npos)
            m_query.ParamByName("PERIOD").SetAsString(period);
        if (sql.find(":STDCURR") != std::string::npos)
            m_query.ParamByName("STDCURR").SetAsString(standardCurrency);
        m_query.Open();
    }
    ~TReader() { m_query.Close(); }
    TReader(const TReader&) = delete;
    TReader& operator=(const TReader&) = delete;

    bool Eof() { return m_query.Eof(); }
    void Next() { m_query.Next(); }
    std::string Text(const char* field) { return m_query.FieldByName(field).AsString(); }
    double Number(const char* field) { return m_query.FieldByName(field).AsFloat(); }

private:
    db::TDbQuery m_query;
};

// The condition on the period tables that the run cleared and filled: the period, or every
// period for "999999", the kept special cycle left out.
std::string PeriodCondition(TFormMerge& form, const std::string& table) {
    std::string condition;
    if (form.Controls.EditPeriod != kAllPeriods) condition = table + ".PERIOD = :PERIOD";
    if (form.Controls.chkSPE) {
        condition += condition.empty() ? "" : " AND ";
        condition += table + ".CYCLE <> 'S'";
    }
    return condition.empty() ? "" : " WHERE " + condition;
}

std::string CountedCondition(TFormMerge& form, const std::string& table) {
    if (table == "MEDICAL") return " WHERE PERIOD_TO_TRANSFER = :PERIOD";
    if (table == "P_DTRXAW" || table == "P_DTRXLV") return PeriodCondition(form, table);
    return "";
}

// The N of a statement "SELECT COUNT(*) AS N ...".
std::int64_t Count(db::TDbConnection& connection, TFormMerge& form, const std::string& sql) {
    TReader rows(connection, sql, form.Controls.EditPeriod);
    return static_cast<std::int64_t>(rows.Number("N"));
}

std::int64_t CountRows(db::TDbConnection& connection, TFormMerge& form, const std::string& table) {
    return Count(connection, form,
                 "SELECT COUNT(*) AS N FROM " + table + CountedCondition(form, table));
}

// Adds condition to a WHERE clause that may be empty.
std::string And(std::string where, const std::string& condition) {
    return where + (where.empty() ? " WHERE " : " AND ") + condition;
}

struct TOffenders {
    std::size_t Count = 0;
    std::string Named;
    void Add(const std::string& what) {
        if (Count++ < kNamedOffenders) Named += (Named.empty() ? "" : ", ") + what;
    }
    TCheck Result(const char* name, const std::string& passedDetail,
                  const std::string& failedWhat) const {
        if (Count == 0) return {name, true, passedDetail};
        return {name, false,
                std::to_string(Count) + " " + failedWhat + ": " + Named +
                    (Count > kNamedOffenders ? ", ..." : "")};
    }
};

// Employee and period pairs the conversion left in their own currency.
std::set<std::pair<std::string, std::string>> NotConverted(const TGroupAccount& group) {
    std::set<std::pair<std::string, std::string>> pairs;
    for (const auto& n : group.Currency.NotConverted) pairs.insert({n.Employee, n.Period});
    return pairs;
}

// The statements of the headers and the cost centres leave out what is plainly right (a header of
// an employee marked in the standard currency, twelve months) and the rows they do return are
// judged here, so that thousands of employees are not walked one by one.
TCheck CheckHeaders(TFormMerge& form, const TGroupAccount& group) {
    const auto notConverted = NotConverted(group);
    const std::set<std::string> converted(group.Currency.ConvertedEmployees.begin(),
                                          group.Currency.ConvertedEmployees.end());
    const std::int64_t headers = Count(
        form.dbDest, form, "SELECT COUNT(*) AS N FROM P_HTRX" + PeriodCondition(form, "P_HTRX"));
    TReader rows(form.dbDest,
                 "SELECT P_HTRX.EMPCODE AS EMPCODE, P_HTRX.PERIOD AS PERIOD, EMPLOYEE.EMP_NO AS "
                 "EMP_NO, EMPLOYEE.FCURR_CODE AS FCURR_CODE FROM P_HTRX LEFT JOIN EMPLOYEE ON "
                 "EMPLOYEE.EMP_NO = P_HTRX.EMPCODE" +
                     And(PeriodCondition(form, "P_HTRX"),
                         "NOT (COALESCE(EMPLOYEE.EMP_NO, '') <> '' AND "
                         "RTRIM(EMPLOYEE.FCURR_CODE) = :STDCURR)") +
                     " ORDER BY P_HTRX.EMPCODE",
                 form.Controls.EditPeriod, form.StdCurr);
    TOffenders offenders;
    for (; !rows.Eof(); rows.Next()) {
        const std::string emp = rows.Text("EMPCODE");
        if (notConverted.count({emp, rows.Text("PERIOD")})) continue;
        // An employee whose master record stayed behind (resigned) has no mark to carry; the
        // conversion must have reached it.
        const bool ok = rows.Text("EMP_NO").empty() ? converted.count(emp) > 0
                                                    : rows.Text("FCURR_CODE") == form.StdCurr;
        if (!ok) offenders.Add(emp);
    }
    return offenders.Result(kCheckHeaders, std::to_string(headers) + " headers",
                            "headers of employees neither converted nor reported");
}

TCheck CheckAllowanceCurrency(TFormMerge& form, const TGroupAccount& group) {
    const auto notConverted = NotConverted(group);
    const std::string where = And(PeriodCondition(form, "P_DTRXAW"),
                                  "P_DTRXAW.CURR_CODE IS NOT NULL AND P_DTRXAW.CURR_CODE <> ''");
    TReader rows(form.dbDest,
                 "SELECT EMPCODE, PERIOD, CURR_CODE FROM P_DTRXAW" + where + " ORDER BY EMPCODE",
                 form.Controls.EditPeriod);
    TOffenders offenders;
    for (; !rows.Eof(); rows.Next()) {
        if (notConverted.count({rows.Text("EMPCODE"), rows.Text("PERIOD")})) continue;
        offenders.Add(rows.Text("EMPCODE") + " " + rows.Text("CURR_CODE"));
    }
    return offenders.Result(kCheckAllowanceCurrency, "none", "allowance rows keep a currency");
}

TCheck CheckBank(TFormMerge& form, const TGroupAccount& group) {
    const auto notConverted = NotConverted(group);
    std::string where = PeriodCondition(form, "BANKTRX");
    TReader rows(form.dbDest,
                 "SELECT BANKTRX.EMPCODE AS EMPCODE, BANKTRX.PERIOD AS PERIOD, BANKTRX.CYCLE AS "
                 "CYCLE, SUM(BANKTRX.bank_amt) AS PAID, MAX(CASE WHEN BANKTRX.BANK_ID = 'TT' THEN "
                 "1 ELSE 0 END) AS TT, MAX(P_HTRX.NETT_WAGE) AS NETT FROM BANKTRX JOIN P_HTRX ON "
                 "P_HTRX.EMPCODE = BANKTRX.EMPCODE AND P_HTRX.PERIOD = BANKTRX.PERIOD AND "
                 "P_HTRX.CYCLE = BANKTRX.CYCLE" +
                     where +
                     " GROUP BY BANKTRX.EMPCODE, BANKTRX.PERIOD, BANKTRX.CYCLE ORDER BY "
                     "BANKTRX.EMPCODE",
                 form.Controls.EditPeriod);
    TOffenders offenders;
    std::int64_t employees = 0;
    for (; !rows.Eof(); rows.Next()) {
        if (rows.Number("TT") != 0) continue;
        if (notConverted.count({rows.Text("EMPCODE"), rows.Text("PERIOD")})) continue;
        ++employees;
        if (Cents(rows.Number("PAID")) != Cents(rows.Number("NETT"))) {
            char amounts[96];
            std::snprintf(amounts, sizeof amounts, " (%.2f paid, nett %.2f)", rows.Number("PAID"),
                          rows.Number("NETT"));
            offenders.Add(rows.Text("EMPCODE") + amounts);
        }
    }
    return offenders.Result(kCheckBank, std::to_string(employees) + " employees' bank rows",
                            "employees paid other than their nett wage");
}

TCheck CheckCostCentres(TFormMerge& form) {
    const std::string year = form.Controls.EditPeriod.substr(0, 4);
    const std::int64_t employees = Count(form.dbDest, form, "SELECT COUNT(*) AS N FROM EMPLOYEE");
    TReader rows(form.dbDest,
                 "SELECT EMP_NO, MONTHS FROM (SELECT EMPLOYEE.EMP_NO AS EMP_NO, (SELECT "
                 "COUNT(DISTINCT COSTCTR.PERIOD) FROM COSTCTR WHERE COSTCTR.EMPCODE = "
                 "EMPLOYEE.EMP_NO AND COSTCTR.PERIOD BETWEEN '" +
                     year + "01' AND '" + year +
                     "12' AND COSTCTR.percent = 100) AS MONTHS FROM EMPLOYEE) WHERE MONTHS <> 12 "
                     "ORDER BY EMP_NO",
                 form.Controls.EditPeriod);
    TOffenders offenders;
    for (; !rows.Eof(); rows.Next()) {
        const auto months = static_cast<long>(rows.Number("MONTHS"));
        offenders.Add(rows.Text("EMP_NO") + " (" + std::to_string(months) + ")");
    }
    return offenders.Result(kCheckCostCentre, std::to_string(employees) + " employees",
                            "employees without twelve months of " + year);
}

// What one source holds of the group's payroll: its headers per pay currency, and its rows of
// the counted tables.
struct TSourceFigures {
    std::string Path;
    struct TCurrencyFigures {
        std::int64_t Headers = 0;
        double Basic = 0, GrossWage = 0, NettWage = 0;
        std::set<std::string> Employees;
    };
    std::map<std::string, TCurrencyFigures> ByCurrency;
    std::map<std::string, std::int64_t> Rows;
};

TSourceFigures ReadSource(TFormMerge& form, const std::string& path,
                          const std::vector<std::string>& tables) {
    TSourceFigures figures;
    figures.Path = path;
    db::TDbConnection conn("AccountSource");
    conn.SetConnectPath(form.DatabasePath(path));  // a preview reads its scratch copies
    conn.Username = form.dbSource.Username;
    conn.Password = form.dbSource.Password;
    conn.ServerTypes = form.dbSource.ServerTypes;
    conn.Connect();
    {
        TReader rows(conn,
                     "SELECT P_HTRX.EMPCODE AS EMPCODE, EMPLOYEE.FCURR_CODE AS FCURR_CODE, "
                     "P_HTRX.basic AS BASIC, P_HTRX.gross_wage AS GROSS, P_HTRX.NETT_WAGE AS NETT "
                     "FROM P_HTRX LEFT JOIN EMPLOYEE ON EMPLOYEE.EMP_NO = P_HTRX.EMPCODE" +
                         PeriodCondition(form, "P_HTRX"),
                     form.Controls.EditPeriod);
        for (; !rows.Eof(); rows.Next()) {
            auto& c = figures.ByCurrency[rows.Text("FCURR_CODE")];
            ++c.Headers;
            c.Basic += rows.Number("BASIC");
            c.GrossWage += rows.Number("GROSS");
            c.NettWage += rows.Number("NETT");
            c.Employees.insert(rows.Text("EMPCODE"));
        }
    }
    for (const auto& table : tables) figures.Rows[table] = CountRows(conn, form, table);
    conn.Disconnect();
    return figures;
}

std::vector<std::string> GroupSourcePaths(TFormMerge& form) {
    std::vector<std::string> paths;
    auto& sources = form.TableMergeDTL;
    for (sources.First(); !sources.Eof(); sources.Next())
        paths.push_back(SourcePath(form.BaseFolder, form.DictionarySetting,
                                   sources.FieldByName(kMergeGroupCode).AsString(),
                                   sources.FieldByName(kMergeSourcePath).AsString()));
    return paths;
}

std::optional<double> RateOf(const TGroupAccount& group, const std::string& currency) {
    std::optional<double> rate;
    for (const auto& c : group.Currency.Converted) {
        if (c.Currency != currency) continue;
        if (rate && *rate != c.Rate) return std::nullopt;
        rate = c.Rate;
    }
    return rate;
}

double Round2(double value) { return std::round(value * 100.0) / 100.0; }

}  // namespace

void CheckGroup(TFormMerge& form, TGroupAccount& group) {
    group.Checks.clear();
    group.Reconciliation.clear();
    group.Checks.push_back(CheckHeaders(form, group));
    group.Checks.push_back(CheckAllowanceCurrency(form, group));
    group.Checks.push_back(CheckBank(form, group));
    if (form.Controls.EditPeriod != kAllPeriods) group.Checks.push_back(CheckCostCentres(form));

    std::vector<std::string> tables(std::begin(kCountedTables), std::end(kCountedTables));
    if (form.Controls.CheckBoxGL)
        for (const auto& table : GLTables()) tables.push_back(table);

    std::vector<TSourceFigures> sources;
    for (const auto& path : GroupSourcePaths(form)) {
        sources.push_back(ReadSource(form, path, tables));
        form.ProcessMessages();
    }

    for (const auto& table : tables) {
        std::int64_t read = 0;
        for (const auto& source : sources) read += source.Rows.at(table);
        const std::int64_t held = CountRows(form.dbDest, form, table);
        const std::string name = kCheckRowsPrefix + table + kCheckRowsSuffix;
        group.Checks.push_back({name, held == read,
                                std::to_string(held) + " rows in the destination, " +
                                    std::to_string(read) + " in the sources"});
    }

    // The destination's figures per employee of the period, for the reconciliation.
    struct TSums {
        double Basic = 0, GrossWage = 0, NettWage = 0;
    };
    std::map<std::string, TSums> destination;
    {
        TReader rows(form.dbDest,
                     "SELECT EMPCODE, basic AS BASIC, gross_wage AS GROSS, NETT_WAGE AS NETT FROM "
                     "P_HTRX" +
                         PeriodCondition(form, "P_HTRX"),
                     form.Controls.EditPeriod);
        for (; !rows.Eof(); rows.Next()) {
            TSums& s = destination[rows.Text("EMPCODE")];
            s.Basic += rows.Number("BASIC");
            s.GrossWage += rows.Number("GROSS");
            s.NettWage += rows.Number("NETT");
        }
    }
    for (const auto& source : sources) {
        for (const auto& [currency, c] : source.ByCurrency) {
            TReconciliation r;
            r.Source = source.Path;
            r.Currency = currency;
            r.Headers = c.Headers;
            r.Basic = Round2(c.Basic);
            r.GrossWage = Round2(c.GrossWage);
            r.NettWage = Round2(c.NettWage);
            r.Rate = RateOf(group, currency);
            TSums converted;
            for (const auto& emp : c.Employees) {
                auto found = destination.find(emp);
                if (found == destination.end()) continue;
                converted.Basic += found->second.Basic;
                converted.GrossWage += found->second.GrossWage;
                converted.NettWage += found->second.NettWage;
            }
            r.BasicConverted = Round2(converted.Basic);
            r.GrossWageConverted = Round2(converted.GrossWage);
            r.NettWageConverted = Round2(converted.NettWage);
            group.Reconciliation.push_back(r);
        }
    }
}

}  // namespace peltorn::run
