// The run's account: its counts against what the databases hold afterwards, its checks against
// destinations broken on purpose, and the account of a stopped and of a failed run. In both
// layouts.
#include "RunFixture.h"

#include "run/RunChecks.h"
#include "run/RunSummary.h"

#include <algorithm>
#include <fstream>
#include <numeric>

namespace peltorn::test {
namespace {

class RunAccount : public RunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        MakeInstallation(GetParam());
        AddCompany("#GRP");
        AddCompany("A01");
        AddCompany("A02");
        AddGroup(1, "#GRP");
        AddSource(1, "A01");
        AddSource(1, "A02");
        // A01: E1 in SGD, E2 in MYR, E9 resigned (its master record stays behind); A02: E2
        // again (its records update A01's) and E3 in SGD.
        Paid("A01", "E1", "SGD", "1000");
        Paid("A01", "E2", "MYR", "2000");
        Paid("A01", "E9", "SGD", "500", "E");
        Paid("A02", "E2", "MYR", "2100");
        Paid("A02", "E3", "SGD", "3000");
        for (const char* code : {"A01", "A02"})
            PutIn(code, "EXRATE",
                  {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", "202406"}, {"EX_RATE", "3.08"}});
        // A distribution row without an employee is left out.
        PutIn("A01", "COSTCTR", {{"EMPCODE", ""}, {"PERIOD", "202406"}, {"PERCENT", "100"}});
        MakeForm("202406");
    }
    void Paid(const std::string& code, const std::string& emp, const std::string& cur,
              const std::string& basic, const std::string& stopInd = "") {
        PutIn(code, "EMPLOYEE",
              {{"EMP_NO", emp},
               {"FCURR_CODE", cur},
               {"LOCAL_CURR_CODE", cur},
               {"STOP_IND", stopInd}});
        PutIn(code, "P_HTRX",
              {{"PERIOD", "202406"},
               {"CYCLE", "1"},
               {"EMPCODE", emp},
               {"BASIC", basic},
               {"BANKAMT", basic}});
        PutIn(code, "P_DTRXAW",
              {{"PERIOD", "202406"},
               {"CYCLE", "1"},
               {"EMPCODE", emp},
               {"ALLW_DED_CODE", "MEMO"},
               {"CURR_CODE", cur},
               {"AMOUNT", "10"}});
        PutIn(code, "BANKTRX",
              {{"EMPCODE", emp},
               {"PERIOD", "202406"},
               {"CYCLE", "1"},
               {"BANK_ID", "B1"},
               {"CURR_CODE", cur},
               {"BANK_AMT", basic}});
    }

    const run::TGroupAccount& Group() {
        EXPECT_EQ(Form->Account.Groups.size(), 1u);
        return Form->Account.Groups.front();
    }
    std::int64_t Sum(const std::string& table, std::int64_t run::TTransferCount::*count) {
        std::int64_t total = 0;
        for (const auto& t : Group().Transfers)
            if (t.Table == table) total += t.*count;
        return total;
    }
    std::vector<std::string> FailedChecks() {
        std::vector<std::string> names;
        for (const auto& c : Group().Checks)
            if (!c.Passed) names.push_back(c.Name);
        return names;
    }
    std::string FirstError() const { return Op.Errors.empty() ? "" : Op.Errors.front(); }

    // Runs the merge and, as the checks begin, breaks the destination with one statement of
    // another connection.
    run::TMergeResult RunBreaking(const std::string& sql) {
        Form->OnStage = [this, sql](const char* stage) {
            if (std::string(stage) != "checks") return;
            db::FlushPendingWrites();
            db::TDbConnection conn("break");
            Connect(conn, CompanyPath("#GRP"));
            db::TDbQuery q("break");
            q.SetConnection(&conn);
            if (!conn.IsDictionaryConn()) q.EnableEncryption(signon::kFreeTablePassword);
            q.SQL().Add(sql);
            q.ExecSQL();
            ASSERT_GT(q.RowsAffected(), 0) << sql;
            conn.Disconnect();
        };
        return RunFor();
    }
};

TEST_P(RunAccount, CountsEqualWhatTheDestinationAndTheSourcesHold) {
    ASSERT_EQ(RunFor(), run::TMergeResult::Completed) << FirstError();
    const run::TGroupAccount& g = Group();
    EXPECT_EQ(g.Result, "completed");
    EXPECT_EQ(Form->Account.Result, "completed");
    EXPECT_TRUE(FailedChecks().empty()) << FailedChecks().front();

    // Every record read was updated, added or skipped; the destination holds the added ones
    // (the updates fell on records added earlier in the run).
    for (const char* table : {"EMPLOYEE", "P_HTRX", "P_DTRXAW", "EMP_BNK", "COSTCTR", "EXRATE"}) {
        SCOPED_TRACE(table);
        EXPECT_EQ(Sum(table, &run::TTransferCount::Read),
                  Sum(table, &run::TTransferCount::Updated) +
                      Sum(table, &run::TTransferCount::Added) +
                      Sum(table, &run::TTransferCount::Skipped));
    }
    EXPECT_EQ(Sum("P_HTRX", &run::TTransferCount::Read), 5);
    EXPECT_EQ(Sum("P_HTRX", &run::TTransferCount::Updated), 1);  // E2 of A02
    EXPECT_EQ(static_cast<std::int64_t>(RowsOf("#GRP", "P_HTRX").size()),
              Sum("P_HTRX", &run::TTransferCount::Added));
    EXPECT_EQ(static_cast<std::int64_t>(RowsOf("#GRP", "P_DTRXAW").size()),
              Sum("P_DTRXAW", &run::TTransferCount::Added));       // always added: 5
    EXPECT_EQ(Sum("EMPLOYEE", &run::TTransferCount::Skipped), 1);  // E9
    EXPECT_EQ(static_cast<std::int64_t>(RowsOf("#GRP", "EMPLOYEE").size()),
              Sum("EMPLOYEE", &run::TTransferCount::Added));
    EXPECT_EQ(Sum("COSTCTR", &run::TTransferCount::Skipped), 1);

    // Conversion: E1, E3 and the resigned E9 at 3.08; the bank rows are the destination's.
    std::int64_t sgd = 0;
    for (const auto& c : g.Currency.Converted)
        if (c.Currency == "SGD") {
            EXPECT_DOUBLE_EQ(c.Rate, 3.08);
            sgd += c.Employees;
        }
    EXPECT_EQ(sgd, 3);
    EXPECT_TRUE(g.Currency.NotConverted.empty());
    EXPECT_EQ(g.Currency.Headers, 4);
    EXPECT_EQ(g.Currency.BankRows, static_cast<std::int64_t>(RowsOf("#GRP", "BANKTRX").size()));
    EXPECT_EQ(g.Rebuilds.CostCentreRows, 12 * 3);  // E1, E2, E3

    // Reconciliation of A02's SGD payroll: E3 alone, 3000 SGD = 9240 MYR.
    auto a02 = std::find_if(g.Reconciliation.begin(), g.Reconciliation.end(), [&](const auto& r) {
        return r.Source.find("A02") != std::string::npos && r.Currency == "SGD";
    });
    ASSERT_NE(a02, g.Reconciliation.end());
    EXPECT_EQ(a02->Headers, 1);
    EXPECT_DOUBLE_EQ(a02->Basic, 3000);
    ASSERT_TRUE(a02->Rate.has_value());
    EXPECT_DOUBLE_EQ(*a02->Rate, 3.08);
    EXPECT_DOUBLE_EQ(a02->BasicConverted, 9240);

    // The report carries the account in its documented shape, every message included.
    const nlohmann::json report =
        nlohmann::json::parse(run::RunReport(Form->Account, Form->Controls.Memo1).dump());
    EXPECT_EQ(report["version"], 1);
    EXPECT_EQ(report["period"], "202406");
    EXPECT_EQ(report["result"], "completed");
    const auto& group = report["groups"][0];
    for (const char* key : {"no", "code", "destination", "result", "error", "stages", "cleared",
                            "transfers", "currency", "rebuilds", "checks", "reconciliation"})
        EXPECT_TRUE(group.contains(key)) << key;
    for (const char* key : {"source", "table", "read", "updated", "added", "skipped"})
        EXPECT_TRUE(group["transfers"][0].contains(key)) << key;
    for (const char* key : {"converted", "not_converted", "headers", "bank_rows"})
        EXPECT_TRUE(group["currency"].contains(key)) << key;
    EXPECT_EQ(report["messages"].back()["text"], "Merge database completed");
    // Every line of the run log is among the messages, in its order, before the last message.
    const auto& memo = Form->Controls.Memo1;
    ASSERT_FALSE(memo.empty());
    std::size_t line = 0;
    for (const auto& m : report["messages"])
        if (line < memo.size() && m["text"] == memo[line]) ++line;
    EXPECT_EQ(line, memo.size());
    EXPECT_GT(report["messages"].size(), memo.size());

    // The file, written message by message, is the same document.
    const std::string file = Dir.Str(true) + "report.json";
    run::WriteRunReport(Form->Account, memo, file);
    std::ifstream in(file);
    EXPECT_EQ(nlohmann::json::parse(in), report);
}

TEST_P(RunAccount, EachCheckFailsOnADestinationBrokenOnPurpose) {
    struct TBreak {
        const char* Sql;
        const char* Check;
    };
    const TBreak breaks[] = {
        {"UPDATE P_DTRXAW SET CURR_CODE = 'SGD' WHERE EMPCODE = 'E1'",
         run::kCheckAllowanceCurrency},
        {"UPDATE BANKTRX SET BANK_AMT = BANK_AMT + 0.01 WHERE EMPCODE = 'E3'", run::kCheckBank},
        {"DELETE FROM COSTCTR WHERE EMPCODE = 'E2' AND PERIOD = '202403'", run::kCheckCostCentre},
        {"UPDATE EMPLOYEE SET FCURR_CODE = 'SGD' WHERE EMP_NO = 'E3'", run::kCheckHeaders},
        {"DELETE FROM P_DTRXAW WHERE EMPCODE = 'E2'", "rows of P_DTRXAW equal the sources' rows"},
    };
    for (const auto& b : breaks) {
        SCOPED_TRACE(b.Sql);
        MakeForm("202406");
        Op.Errors.clear();
        ASSERT_EQ(RunBreaking(b.Sql), run::TMergeResult::CompletedWithFailedChecks) << FirstError();
        EXPECT_EQ(FailedChecks(), std::vector<std::string>{b.Check});
        EXPECT_EQ(Form->Account.Result, "completed with failed checks");
        // A failed check changes nothing: the run still says it completed.
        EXPECT_EQ(Op.Messages.back(), "Merge database completed");
        EXPECT_NE(
            run::RunSummaryText(Form->Account, false).find(std::string("check failed: ") + b.Check),
            std::string::npos);
    }
}

TEST_P(RunAccount, StoppedAndFailedRunsLeaveTheirAccount) {
    Op.Answers = {true};
    bool pressed = false;
    Op.OnProcessMessages = [&] {
        if (pressed || Form->Controls.Memo1.empty()) return;
        pressed = true;  // Esc at the conversion's first run-log line
        Form->FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);
    };
    ASSERT_EQ(RunFor(), run::TMergeResult::Stopped) << FirstError();
    EXPECT_EQ(Group().Result, "stopped");
    EXPECT_EQ(Form->Account.Result, "stopped");
    EXPECT_TRUE(Group().Checks.empty());
    EXPECT_FALSE(Group().Currency.NotConverted.empty());
    for (const auto& n : Group().Currency.NotConverted) EXPECT_EQ(n.Reason, "stopped");

    // A source that is not there ends the run in the middle of the group.
    Op.OnProcessMessages = nullptr;
    AddSource(1, "A03", Base() + "NOWHERE/A03");
    MakeForm("202406");
    ASSERT_EQ(RunFor(), run::TMergeResult::Failed);
    EXPECT_EQ(Group().Result, "failed");
    EXPECT_EQ(Group().Error, FirstError());
    EXPECT_NE(Group().Error.find("NOWHERE"), std::string::npos);
    EXPECT_EQ(Form->Account.Result, "failed");
    ASSERT_FALSE(Group().Stages.empty());
    EXPECT_EQ(Group().Stages.back().Name, "transfer");
    EXPECT_GE(Group().Stages.back().ElapsedS, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RunAccount, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
