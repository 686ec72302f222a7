#include "run/RunSummary.h"

#include "support/PrivateFiles.h"

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace peltorn::run {

namespace {

using nlohmann::json;

// Amounts go out with their cents and no binary noise ("1234.5" not "1234.4999999").
double Cents(double amount) { return std::round(amount * 100.0) / 100.0; }
// A rate as the officer knows it: 3.08, not the 3.0799999999999996 its arithmetic may carry.
double Rate(double rate) { return std::round(rate * 1e10) / 1e10; }

json Group(const TGroupAccount& g) {
    json group = {{"no", g.No},
                  {"code", g.Code},
                  {"destination", g.Destination},
                  {"result", g.Result.empty() ? kResultFailed : g.Result},
                  {"error", g.Error},
                  {"plain_dictionaries", g.PlainDictionaries}};
    json stages = json::array();
    for (const auto& s : g.Stages)
        stages.push_back({{"name", s.Name}, {"elapsed_s", std::max(0.0, s.ElapsedS)}});
    group["stages"] = stages;
    json cleared = json::array();
    for (const auto& c : g.Cleared) cleared.push_back({{"table", c.Table}, {"deleted", c.Deleted}});
    group["cleared"] = cleared;
    json transfers = json::array();
    for (const auto& t : g.Transfers)
        transfers.push_back({{"source", t.Source},
                             {"table", t.Table},
                             {"read", t.Read},
                             {"updated", t.Updated},
                             {"added", t.Added},
                             {"skipped", t.Skipped},
                             {"skip_reason", t.SkipReason}});
    group["transfers"] = transfers;
    json converted = json::array();
    for (const auto& c : g.Currency.Converted)
        converted.push_back({{"currency", c.Currency},
                             {"rate", Rate(c.Rate)},
                             {"period", c.Period},
                             {"employees", c.Employees}});
    json notConverted = json::array();
    for (const auto& n : g.Currency.NotConverted)
        notConverted.push_back({{"employee", n.Employee},
                                {"currency", n.Currency},
                                {"period", n.Period},
                                {"reason", n.Reason}});
    json missing = json::array();
    for (const auto& m : g.Currency.MissingRates)
        missing.push_back({{"period", m.Period}, {"currency", m.Currency}});
    group["currency"] = {{"converted", converted},
                         {"not_converted", notConverted},
                         {"missing_rates", missing},
                         {"headers", g.Currency.Headers},
                         {"bank_rows", g.Currency.BankRows}};
    group["rebuilds"] = {{"cost_centre_rows", g.Rebuilds.CostCentreRows},
                         {"allowance_columns", g.Rebuilds.AllowanceColumns}};
    json checks = json::array();
    for (const auto& c : g.Checks)
        checks.push_back({{"name", c.Name}, {"passed", c.Passed}, {"detail", c.Detail}});
    group["checks"] = checks;
    json reconciliation = json::array();
    for (const auto& r : g.Reconciliation)
        reconciliation.push_back({{"source", r.Source},
                                  {"currency", r.Currency},
                                  {"headers", r.Headers},
                                  {"basic", Cents(r.Basic)},
                                  {"gross_wage", Cents(r.GrossWage)},
                                  {"nett_wage", Cents(r.NettWage)},
                                  {"rate", r.Rate ? json(Rate(*r.Rate)) : json(nullptr)},
                                  {"basic_converted", Cents(r.BasicConverted)},
                                  {"gross_wage_converted", Cents(r.GrossWageConverted)},
                                  {"nett_wage_converted", Cents(r.NettWageConverted)}});
    group["reconciliation"] = reconciliation;
    if (g.Snapshot)
        group["snapshot"] = {{"folder", g.Snapshot->Folder},
                             {"bytes", g.Snapshot->Bytes},
                             {"seconds", g.Snapshot->Seconds},
                             {"restored", g.Snapshot->Restored},
                             {"restore_seconds", g.Snapshot->RestoreSeconds},
                             {"restore_failure", g.Snapshot->RestoreFailure}};
    else
        group["snapshot"] = nullptr;
    return group;
}

json ReportWithoutMessages(const TRunAccount& account) {
    json report = {{"version", 1},
                   {"period", account.Period},
                   {"started", account.Started},
                   {"elapsed_s", account.ElapsedS},
                   {"result", account.Result.empty() ? kResultFailed : account.Result}};
    report["options"] = {{"leave", account.Options.Leave},
                         {"gl", account.Options.GL},
                         {"exclude_special", account.Options.ExcludeSpecial},
                         {"selected_only", account.Options.SelectedOnly},
                         {"dry_run", account.Options.DryRun},
                         {"snapshots", account.Options.Snapshots}};
    json groups = json::array();
    for (const auto& g : account.Groups) groups.push_back(Group(g));
    report["groups"] = groups;
    report["messages"] = json::array();
    return report;
}

json Message(const std::string& time, const std::string& text) {
    return {{"time", time}, {"text", text}};
}

}  // namespace

json RunReport(const TRunAccount& account, const TRunLog& runLog) {
    json report = ReportWithoutMessages(account);
    account.EachMessage(runLog, [&](const std::string& time, const std::string& text) {
        report["messages"].push_back(Message(time, text));
    });
    return report;
}

void WriteRunReport(const TRunAccount& account, const TRunLog& runLog, const std::string& path) {
    support::CreatePrivateFile(path);
    std::ofstream out(path, std::ios::trunc);
    // Texts of the databases are not always valid UTF-8; they are kept, never refused.
    const auto dump = [](const json& value, int indent) {
        return value.dump(indent, ' ', false, json::error_handler_t::replace);
    };
    // The messages of a large group's run are hundreds of thousands: the document is written
    // with an empty list, and the list's place filled with one message after another. A text
    // never holds a line break of its own (it is escaped), so the key at the start of a line
    // of the first level is the list's only place.
    const std::string text = dump(ReportWithoutMessages(account), 2);
    const std::string empty = "\n  \"messages\": []";
    const std::size_t at = text.find(empty);
    if (at == std::string::npos) throw std::logic_error("the run report has no messages");
    out << text.substr(0, at) << "\n  \"messages\": [";
    bool first = true;
    account.EachMessage(runLog, [&](const std::string& time, const std::string& line) {
        out << (first ? "\n    " : ",\n    ") << dump(Message(time, line), -1);
        first = false;
    });
    out << (first ? "]" : "\n  ]") << text.substr(at + empty.size()) << "\n";
    out.flush();
    if (!out) throw std::runtime_error("Cannot write the run report " + path);
}

}  // namespace peltorn::run
