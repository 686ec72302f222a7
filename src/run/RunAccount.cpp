#include "run/RunAccount.h"

#include "run/RunSummary.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>

namespace peltorn::run {

std::string AccountTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

void TRunAccount::EachMessage(
    const TRunLog& runLog,
    const std::function<void(const std::string& time, const std::string& text)>& message) const {
    for (const auto& entry : Shown) {
        if (entry.Lines == 0) {
            message(entry.Time, entry.Text);
            continue;
        }
        // A run log emptied since (a new run in the same window) has no lines left to name.
        for (std::size_t i = entry.FirstLine;
             i < entry.FirstLine + entry.Lines && i < runLog.size(); ++i)
            message(entry.Time, runLog[i]);
    }
}

void TRunAccount::NoteRunLog(const TRunLog& runLog, std::size_t firstLine,
                             std::chrono::system_clock::time_point when) {
    if (firstLine >= runLog.size()) return;
    const std::size_t lines = runLog.size() - firstLine;
    std::string time = AccountTime(when);
    if (!Shown.empty()) {
        TShownEntry& last = Shown.back();
        // Lines written in the same millisecond as the lines before them share their entry.
        if (last.Lines > 0 && last.FirstLine + last.Lines == firstLine && last.Time == time) {
            last.Lines += lines;
            return;
        }
    }
    Shown.push_back({std::move(time), {}, firstLine, lines});
}

void TRunAccount::NoteMessage(const std::string& text, std::chrono::system_clock::time_point when) {
    Shown.push_back({AccountTime(when), text, 0, 0});
}

namespace {

// The summary counts the transferred tables in the groups an officer thinks in.
const char* TableGroupOf(const std::string& table) {
    static const std::map<std::string, const char*> groups = {{"EMPLOYEE", "employees"},
                                                              {"EMPLOYMT", "employees"},
                                                              {"EMPMISC", "employees"},
                                                              {"EMP_ALW", "employees"},
                                                              {"EMP_BNK", "employees"},
                                                              {"EMP_OTH", "employees"},
                                                              {"EMP_PROS", "employees"},
                                                              {"EMP_CLD", "employees"},
                                                              {"P_HTRX", "payroll"},
                                                              {"P_DTRXSF", "payroll"},
                                                              {"P_DTRXND", "payroll"},
                                                              {"P_DTRXAS", "payroll"},
                                                              {"P_DTRXRD", "payroll"},
                                                              {"P_DTRXNH", "payroll"},
                                                              {"P_DTRXAW", "payroll"},
                                                              {"P_DTRXOT", "payroll"},
                                                              {"YTDEMPL", "payroll"},
                                                              {"P_DTRXLV", "payroll"},
                                                              {"MEDICAL", "payroll"},
                                                              {"COSTCTR", "payroll"},
                                                              {"EMPENT", "leave"},
                                                              {"EMPLEAVE", "leave"},
                                                              {"EMP_LVTX", "leave"},
                                                              {"LEAV_TRX", "leave"},
                                                              {"RTPHD", "reports"},
                                                              {"RTPDETL", "reports"},
                                                              {"GLBODY", "general ledger"},
                                                              {"GLCODE", "general ledger"},
                                                              {"GLDETAIL", "general ledger"},
                                                              {"GLLINE", "general ledger"},
                                                              {"GLMAP", "general ledger"},
                                                              {"GLTYPE", "general ledger"},
                                                              {"GLHEADER", "general ledger"},
                                                              {"GLPARA", "general ledger"}};
    auto found = groups.find(table);
    return found == groups.end() ? "parameters and codes" : found->second;
}

const char* const kTableGroupOrder[] = {
    "employees", "payroll", "leave", "parameters and codes", "reports", "general ledger"};

std::string Money(double amount) {
    char text[40];
    std::snprintf(text, sizeof text, "%.2f", amount);
    return text;
}

std::string Rate(const std::optional<double>& rate) {
    if (!rate) return "-";
    char text[40];
    std::snprintf(text, sizeof text, "%g", *rate);
    return text;
}

class TPainter {
public:
    explicit TPainter(bool colour) : m_colour(colour) {}
    std::string Red(const std::string& text) const { return Paint("\033[31m", text); }
    std::string Green(const std::string& text) const { return Paint("\033[32m", text); }
    std::string Bold(const std::string& text) const { return Paint("\033[1m", text); }
    std::string Result(const std::string& result) const {
        return result == kResultCompleted ? Green(result) : Red(result);
    }

private:
    std::string Paint(const char* code, const std::string& text) const {
        return m_colour ? code + text + "\033[0m" : text;
    }
    bool m_colour;
};

void Row(std::ostringstream& out, const std::vector<std::string>& cells,
         const std::vector<std::size_t>& widths) {
    out << " ";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::size_t pad = widths[i] > cells[i].size() ? widths[i] - cells[i].size() : 0;
        // Text columns (source, currency) left, figures right.
        if (i < 2)
            out << " " << cells[i] << std::string(pad, ' ');
        else
            out << " " << std::string(pad, ' ') << cells[i];
    }
    out << "\n";
}

// A source as the summary's table names it: its folder, or its dictionary's file name.
std::string ShortName(const std::string& path) {
    std::string name = path;
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    const auto cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name = name.substr(cut + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ADD") == 0)
        name.resize(name.size() - 4);
    return name;
}

}  // namespace

std::string RunSummaryText(const TRunAccount& account, bool colour) {
    const TPainter paint(colour);
    std::ostringstream out;
    out << paint.Bold("Summary of the merge of period " + account.Period) << ": "
        << paint.Result(account.Result.empty() ? kResultFailed : account.Result) << "\n";
    for (const auto& group : account.Groups) {
        out << "  Group " << group.No << " " << group.Code;
        if (!group.Destination.empty()) out << " (" << group.Destination << ")";
        out << ": " << paint.Result(group.Result.empty() ? kResultFailed : group.Result) << "\n";
        if (!group.Error.empty()) out << "    " << group.Error << "\n";
        if (group.Result == kResultSkipped) continue;
        for (const auto& plain : group.PlainDictionaries)
            out << "    " << paint.Red("not encrypted: " + plain) << "\n";

        std::map<std::string, std::pair<std::int64_t, std::int64_t>> rows;  // added, updated
        for (const auto& t : group.Transfers) {
            auto& r = rows[TableGroupOf(t.Table)];
            r.first += t.Added;
            r.second += t.Updated;
        }
        for (const char* name : kTableGroupOrder) {
            auto found = rows.find(name);
            if (found == rows.end() || (found->second.first == 0 && found->second.second == 0))
                continue;
            out << "    " << name << ": " << found->second.first << " rows added, "
                << found->second.second << " updated\n";
        }
        std::map<std::string, std::int64_t> employees;
        for (const auto& c : group.Currency.Converted) employees[c.Currency] += c.Employees;
        if (!employees.empty()) {
            out << "    employees converted:";
            bool first = true;
            for (const auto& [currency, count] : employees) {
                out << (first ? " " : ", ") << count << " " << (currency.empty() ? "-" : currency);
                first = false;
            }
            out << "\n";
        }
        if (!group.Currency.NotConverted.empty())
            out << "    "
                << paint.Red(std::to_string(group.Currency.NotConverted.size()) +
                             " employees not converted")
                << "\n";
        for (const auto& missing : group.Currency.MissingRates)
            out << "    missing rate: " << missing.Currency << " for " << missing.Period << "\n";
        if (group.Snapshot) {
            char taken[96];
            std::snprintf(taken, sizeof taken, " (%.1f MB in %.1f s)",
                          static_cast<double>(group.Snapshot->Bytes) / 1e6,
                          group.Snapshot->Seconds);
            out << "    snapshot: " << group.Snapshot->Folder << taken << "\n";
            if (group.Snapshot->Restored)
                out << "    " << paint.Red("restored from the snapshot") << "\n";
            if (!group.Snapshot->RestoreFailure.empty())
                out << "    "
                    << paint.Red("could not be restored: " + group.Snapshot->RestoreFailure)
                    << "\n";
        }
        for (const auto& check : group.Checks)
            if (!check.Passed)
                out << "    " << paint.Red("check failed: " + check.Name) << ": " << check.Detail
                    << "\n";
    }

    std::vector<std::vector<std::string>> table;
    for (const auto& group : account.Groups)
        for (const auto& r : group.Reconciliation)
            table.push_back({group.Code + " " + ShortName(r.Source),
                             r.Currency.empty() ? "-" : r.Currency, std::to_string(r.Headers),
                             Money(r.Basic), Money(r.GrossWage), Money(r.NettWage), Rate(r.Rate),
                             Money(r.BasicConverted), Money(r.GrossWageConverted),
                             Money(r.NettWageConverted)});
    if (!table.empty()) {
        const std::vector<std::string> heading = {"source",     "currency",  "headers", "basic",
                                                  "gross wage", "nett wage", "rate",    "basic *",
                                                  "gross *",    "nett *"};
        std::vector<std::size_t> widths;
        for (const auto& h : heading) widths.push_back(h.size());
        for (const auto& row : table)
            for (std::size_t i = 0; i < row.size(); ++i)
                widths[i] = std::max(widths[i], row[i].size());
        out << paint.Bold("Reconciliation") << " (* in the destination after the conversion)\n";
        Row(out, heading, widths);
        for (const auto& row : table) Row(out, row, widths);
    }
    return out.str();
}

}  // namespace peltorn::run
