// The merge run end to end, in both layouts: groups and sources walked in order, the period lock,
// the run's messages and button states, what a second run of the same period leaves, and the
// options of the Process page, and the database an error report names.
#include "RunFixture.h"

#include "db/DbSchema.h"
#include "schema/Catalogue.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace peltorn::test {
namespace {

constexpr const char* kDone = "Merge database completed";

class MergeRun : public RunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { MakeInstallation(GetParam()); }

    // A source company with one employee paid in the standard currency and a little of every
    // kind of table: a payroll header and allowance row of 202406 and of 202405, an allowance
    // setup row, a day parameter, a medical claim, a general-ledger code.
    void FillSource(const std::string& code, const std::string& emp, const std::string& name,
                    const std::string& rate) {
        PutIn(
            code, "EMPLOYEE",
            {{"EMP_NO", emp}, {"NAME", name}, {"FCURR_CODE", "MYR"}, {"JOIN_DATE", "2020-01-15"}});
        PutIn(code, "EMP_ALW",
              {{"EMP_NO", emp}, {"ALLOW_CODE", "TRV"}, {"ID", "1"}, {"AMOUNT", "50"}});
        PutIn(code, "PPARA_DR", {{"YEAR", "2024"}, {"DAY_DESC", "HOLIDAY"}, {"RATE", rate}});
        for (const char* period : {"202405", "202406"}) {
            PutIn(code, "P_HTRX",
                  {{"PERIOD", period}, {"CYCLE", "1"}, {"EMPCODE", emp}, {"BASIC", "1000"}});
            PutIn(code, "P_DTRXAW",
                  {{"PERIOD", period},
                   {"CYCLE", "1"},
                   {"EMPCODE", emp},
                   {"ALLW_DED_CODE", "TRV"},
                   {"AMOUNT", "50"}});
        }
        PutIn(code, "MEDICAL",
              {{"EMPCODE", emp},
               {"CLAIM_DATE", "2024-06-03"},
               {"PERIOD_TO_TRANSFER", "202406"},
               {"AMOUNT", "30"}});
        PutIn(code, "GLCODE", {{"ACCOUNT", "1000-" + code}, {"DESC", "Cash"}});
    }

    // Destination #GRP with sources A01 and A02 (same employee number, different names).
    void TwoSourceGroup() {
        AddCompany("#GRP");
        AddCompany("A01");
        AddCompany("A02");
        FillSource("A01", "E001", "First", "1.5");
        FillSource("A02", "E001", "Second", "2.5");
        AddGroup(1, "#GRP");
        AddSource(1, "A01");
        AddSource(1, "A02");
    }

    // Every catalogue table of a company database, row by row.
    std::string Dump(const std::string& code) {
        std::ostringstream out;
        for (const auto& def : schema::CompanyTables()) {
            out << "[" << def.Name << "]\n";
            auto rows = RowsOf(code, def.Name);
            std::vector<std::string> lines;
            for (auto& row : rows) {
                std::string line;
                for (auto& [k, v] : row) line += k + "=" + v + ";";
                lines.push_back(line);
            }
            std::sort(lines.begin(), lines.end());
            for (auto& l : lines) out << l << "\n";
        }
        return out.str();
    }
};

TEST_P(MergeRun, TwoSourcesWithTheSameKeysLastWinsForUpdatesBothKeptForAppends) {
    TwoSourceGroup();
    MakeForm("202406");
    ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());

    EXPECT_EQ(Column("#GRP", "EMPLOYEE", "NAME"), std::vector<std::string>{"Second"});
    EXPECT_EQ(Column("#GRP", "EMP_ALW", "EMP_NO"), (std::vector<std::string>{"E001", "E001"}));
    EXPECT_EQ(Column("#GRP", "PPARA_DR", "RATE"), std::vector<std::string>{"2.5"});
    // Only the period: one header (same key, updated), two always-added allowance rows.
    EXPECT_EQ(Column("#GRP", "P_HTRX", "PERIOD"), std::vector<std::string>{"202406"});
    EXPECT_EQ(Column("#GRP", "P_DTRXAW", "PERIOD"), (std::vector<std::string>{"202406", "202406"}));
    EXPECT_EQ(RowsOf("#GRP", "MEDICAL").size(), 2u);
    EXPECT_EQ(RowsOf("#GRP", "GLCODE").size(), 2u);

    ASSERT_FALSE(Op.Messages.empty());
    EXPECT_EQ(Op.Messages.back(), kDone);
    EXPECT_TRUE(Form->Controls.BitBtn1Enabled);
    EXPECT_TRUE(Form->Controls.BitBtn2Enabled);
    EXPECT_EQ(Form->Controls.Gauge1Progress, 25);
    if (GetParam())
        EXPECT_EQ(Form->Controls.Edit1, Dir.Str(false) + "\\COMPANY\\#GRP\\#GRP.ADD");
    else
        EXPECT_EQ(Form->Controls.Edit1, Base() + "COMPANY\\#GRP");
    EXPECT_EQ(Form->SourceDbPath,
              GetParam() ? Dir.Str(false) + "\\COMPANY\\A02\\A02.ADD" : Base() + "COMPANY\\A02");
}

TEST_P(MergeRun, SecondRunOfTheSamePeriodGivesIdenticalDestinationTables) {
    TwoSourceGroup();
    MakeForm("202406");
    ASSERT_TRUE(Run());
    const std::string first = Dump("#GRP");
    MakeForm("202406");
    ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());
    EXPECT_EQ(Dump("#GRP"), first);
}

TEST_P(MergeRun, LockedPeriodSkipsTheGroupWithItsMessage) {
    TwoSourceGroup();
    PutIn("#GRP", "PAYPARA1", {{"YEAR", "2024"}, {"LOCK", "T"}, {"LOCKPERIOD", "202406"}});
    for (const char* period : {"202401", "202406"}) {
        Op.Messages.clear();
        MakeForm(period);
        ASSERT_TRUE(Run());
        EXPECT_EQ(Op.Messages, (std::vector<std::string>{
                                   "Merged database is locked and skipped. Database# #GRP", kDone}))
            << period;
        EXPECT_TRUE(RowsOf("#GRP", "EMPLOYEE").empty());
    }
    Op.Messages.clear();
    MakeForm("202407");
    ASSERT_TRUE(Run());
    EXPECT_EQ(Op.Messages, std::vector<std::string>{kDone});
    EXPECT_EQ(RowsOf("#GRP", "EMPLOYEE").size(), 1u);
}

TEST_P(MergeRun, LockFlagOtherThanTNeverSkips) {
    TwoSourceGroup();
    PutIn("#GRP", "PAYPARA1", {{"YEAR", "2024"}, {"LOCK", "F"}, {"LOCKPERIOD", "202412"}});
    MakeForm("202406");
    ASSERT_TRUE(Run());
    EXPECT_EQ(Op.Messages, std::vector<std::string>{kDone});
    EXPECT_EQ(RowsOf("#GRP", "EMPLOYEE").size(), 1u);
}

TEST_P(MergeRun, GroupWithoutHashEndsTheRunAfterACompleteFirstGroup) {
    TwoSourceGroup();
    AddCompany("B");
    AddGroup(2, "B", "F");
    MakeForm("202406");
    Form->Controls.chkMERGE = true;  // B is not selected: the code is checked first all the same
    EXPECT_FALSE(Run());
    ASSERT_EQ(Op.Errors.size(), 1u);
    EXPECT_EQ(Op.Errors[0], "Invalid merge database selected! (merge group B)");
    EXPECT_EQ(std::count(Op.Messages.begin(), Op.Messages.end(), kDone), 0);
    EXPECT_FALSE(Form->Controls.BitBtn1Enabled);
    EXPECT_FALSE(Form->Controls.BitBtn2Enabled);
    EXPECT_EQ(Column("#GRP", "EMPLOYEE", "NAME"), std::vector<std::string>{"Second"});
    EXPECT_EQ(RowsOf("#GRP", "P_DTRXAW").size(), 2u);
}

TEST_P(MergeRun, UnselectedGroupsAreSkippedWithSelectedOnly) {
    TwoSourceGroup();
    AddCompany("#OFF");
    AddGroup(2, "#OFF", "F");
    AddSource(2, "A01");
    MakeForm("202406");
    Form->Controls.chkMERGE = true;
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowsOf("#GRP", "EMPLOYEE").size(), 1u);
    EXPECT_TRUE(RowsOf("#OFF", "EMPLOYEE").empty());
}

TEST_P(MergeRun, EmptyMergeHeaderOnlyCompletes) {
    MakeForm("202406");
    ASSERT_TRUE(Run());
    EXPECT_EQ(Op.Messages, std::vector<std::string>{kDone});
    EXPECT_TRUE(Op.Errors.empty());
}

TEST_P(MergeRun, GroupWithoutSourcesIsClearedAndFinished) {
    TwoSourceGroup();
    AddCompany("#NONE");
    PutIn("#NONE", "P_HTRX", {{"PERIOD", "202406"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    PutIn("#NONE", "P_HTRX", {{"PERIOD", "202405"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    PutIn("#NONE", "RTPHD", {{"RPTCODE", "R1"}});
    AddGroup(2, "#NONE");
    MakeForm("202406");
    ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());
    EXPECT_EQ(Column("#NONE", "P_HTRX", "PERIOD"), std::vector<std::string>{"202405"});
    EXPECT_TRUE(RowsOf("#NONE", "RTPHD").empty());
    EXPECT_TRUE(RowsOf("#NONE", "EMPLOYEE").empty());
    EXPECT_EQ(Op.Messages, std::vector<std::string>{kDone});
}

// Every period is transferred again, so every period of the destination is cleared first: the
// destination's own 202301 row goes.
TEST_P(MergeRun, AllPeriodsClearsEveryPeriodAndCopiesEveryPeriod) {
    TwoSourceGroup();
    PutIn("#GRP", "P_HTRX", {{"PERIOD", "202301"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    PutIn("A01", "MEDICAL", {{"EMPCODE", "E001"}, {"PERIOD_TO_TRANSFER", "999999"}});
    MakeForm("999999");
    ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());
    auto periods = Column("#GRP", "P_HTRX", "PERIOD");
    std::sort(periods.begin(), periods.end());
    EXPECT_EQ(periods, (std::vector<std::string>{"202405", "202406"}));
    // MEDICAL still selects by its transfer period, "999999" only.
    EXPECT_EQ(Column("#GRP", "MEDICAL", "PERIOD_TO_TRANSFER"), std::vector<std::string>{"999999"});
}

TEST_P(MergeRun, ExcludeSpecialKeepsCycleSOfThePeriod) {
    TwoSourceGroup();
    PutIn("#GRP", "P_DTRXOT", {{"PERIOD", "202406"}, {"CYCLE", "S"}, {"EMPCODE", "X9"}});
    PutIn("#GRP", "P_DTRXOT", {{"PERIOD", "202406"}, {"CYCLE", "2"}, {"EMPCODE", "X9"}});
    MakeForm("202406");
    Form->Controls.chkSPE = true;
    ASSERT_TRUE(Run());
    EXPECT_EQ(Column("#GRP", "P_DTRXOT", "CYCLE"), std::vector<std::string>{"S"});

    MakeForm("202406");
    ASSERT_TRUE(Run());
    EXPECT_TRUE(RowsOf("#GRP", "P_DTRXOT").empty());
}

TEST_P(MergeRun, LeaveTablesOnlyWithTheLeaveOption) {
    TwoSourceGroup();
    PutIn("A01", "EMPENT", {{"EMPCODE", "E001"}, {"FIN_PERIOD", "2024"}, {"LEAVE_CODE", "AL"}});
    PutIn("A01", "LEAV_TRX", {{"EMPCODE", "E001"}, {"LEAVE_CODE", "AL"}, {"DATE", "2024-06-02"}});
    MakeForm("202406");
    ASSERT_TRUE(Run());
    EXPECT_TRUE(RowsOf("#GRP", "EMPENT").empty());
    EXPECT_TRUE(RowsOf("#GRP", "LEAV_TRX").empty());

    MakeForm("202406");
    Form->Controls.CheckBoxLeave = true;
    ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());
    EXPECT_EQ(RowsOf("#GRP", "EMPENT").size(), 1u);
    EXPECT_EQ(RowsOf("#GRP", "LEAV_TRX").size(), 1u);
}

// LEAV_TRX is never cleared: a leave transaction merged before must be found again and updated.
TEST_P(MergeRun, RepeatedRunsWithLeaveKeepOneLeaveTransactionPerSourceTransaction) {
    TwoSourceGroup();
    PutIn("A01", "LEAV_TRX",
          {{"EMPCODE", "E001"},
           {"LEAVE_CODE", "AL"},
           {"DATE", "2024-06-02"},
           {"DAYS", "1.5"},
           {"REMARK", "trip"}});
    const TRow expected{{"EMPCODE", "E001"},
                        {"LEAVE_CODE", "AL"},
                        {"DATE", "02/06/2024"},
                        {"DAYS", "1.5"},
                        {"REMARK", "trip"}};
    for (int run = 1; run <= 3; ++run) {
        MakeForm("202406");
        Form->Controls.CheckBoxLeave = true;
        ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());
        EXPECT_EQ(RowsOf("#GRP", "LEAV_TRX"), std::vector<TRow>{expected}) << "run " << run;
    }
}

TEST_P(MergeRun, GeneralLedgerOnlyWithMergeGL) {
    TwoSourceGroup();
    PutIn("#GRP", "GLCODE", {{"ACCOUNT", "OWN"}});
    MakeForm("202406");
    Form->Controls.CheckBoxGL = false;
    ASSERT_TRUE(Run());
    EXPECT_EQ(Column("#GRP", "GLCODE", "ACCOUNT"), std::vector<std::string>{"OWN"});

    MakeForm("202406");
    ASSERT_TRUE(Run());
    auto accounts = Column("#GRP", "GLCODE", "ACCOUNT");
    std::sort(accounts.begin(), accounts.end());
    EXPECT_EQ(accounts, (std::vector<std::string>{"1000-A01", "1000-A02"}));
}

TEST_P(MergeRun, PeriodThatIsNotAMonthChangesNothing) {
    TwoSourceGroup();
    PutIn("#GRP", "RTPHD", {{"RPTCODE", "R1"}});
    for (const char* period : {"", "2024", "20246a", "202413", "202400", "000000"}) {
        MakeForm(period);
        Form->Controls.Memo1 = {"old line"};
        EXPECT_FALSE(Run());
        EXPECT_EQ(Op.Errors.back(), "Invalid Period!");
        EXPECT_TRUE(Form->Controls.Memo1.empty());
        EXPECT_TRUE(Form->Controls.BitBtn1Enabled);
        EXPECT_TRUE(Form->Controls.BitBtn2Enabled);
    }
    EXPECT_EQ(RowsOf("#GRP", "RTPHD").size(), 1u);
}

TEST_P(MergeRun, MissingSourceEndsTheRunNamingItAndKeepsEarlierGroups) {
    TwoSourceGroup();
    AddCompany("#TWO");
    AddGroup(2, "#TWO");
    AddSource(2, "GONE");
    MakeForm("202406");
    EXPECT_FALSE(Run());
    ASSERT_EQ(Op.Errors.size(), 1u);
    EXPECT_NE(Op.Errors[0].find("merge group #TWO"), std::string::npos) << Op.Errors[0];
    EXPECT_NE(Op.Errors[0].find("GONE"), std::string::npos) << Op.Errors[0];
    EXPECT_EQ(RowsOf("#GRP", "EMPLOYEE").size(), 1u);
    EXPECT_FALSE(Form->Controls.BitBtn1Enabled);
}

// A source's transfer reads the source and writes the destination: the error report names the
// database in which the failing step worked, as the run forms its path.
class MergeRunFailures : public MergeRun {
protected:
    std::string PathAsFormed(const std::string& code) const {
        return GetParam() ? Dir.Str(false) + "\\COMPANY\\" + code + "\\" + code + ".ADD"
                          : Base() + "COMPANY\\" + code;
    }
    // Takes a table out of a company database, or puts it back made from def.
    void DropTable(const std::string& code, const std::string& table) {
        if (!GetParam()) {
            ASSERT_TRUE(std::filesystem::remove(CompanyPath(code) + "/" + table + ".ADT"));
            return;
        }
        db::TDbConnection conn("drop");
        Connect(conn, CompanyPath(code));
        db::TDbQuery q("drop");
        q.SetConnection(&conn);
        q.SQL().Add("DROP TABLE " + table);
        q.ExecSQL();
        conn.Disconnect();
    }
    void CreateTable(const std::string& code, const db::TTableDef& def) {
        db::TDbConnection conn("create");
        Connect(conn, CompanyPath(code));
        db::CreateTable(conn, def);
        conn.Disconnect();
    }
    // Group #GRP with the one source A01 and its employee E001.
    void OneSourceGroup() {
        AddCompany("#GRP");
        AddCompany("A01");
        AddGroup(1, "#GRP");
        AddSource(1, "A01");
        PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E001"}, {"IC_NO", "800101"}, {"FCURR_CODE", "MYR"}});
        PutIn("A01", "EMPLOYMT", {{"EMP_NO", "E001"}, {"POSITION", "Clerk"}});
    }
    std::string RunError() {
        MakeForm("202406");
        if (Run()) return "the run completed";
        EXPECT_EQ(Op.Errors.size(), 1u);
        return Op.Errors.empty() ? "no error reported" : Op.Errors.front();
    }
    // Where the error happened, and then that the destination was put back from its snapshot.
    static std::string Where(const std::string& database, const std::string& table) {
        return " (merge group #GRP, database " + database + ", table " + table +
               "). The destination #GRP was restored to its state before the run.";
    }
    static bool EndsWith(const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() &&
               text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }
};

TEST_P(MergeRunFailures, DestinationTableMissingNamesTheDestination) {
    OneSourceGroup();
    DropTable("#GRP", "EMPLOYMT");
    const std::string error = RunError();
    EXPECT_TRUE(EndsWith(error, " Table EMPLOYMT" + Where(PathAsFormed("#GRP"), "EMPLOYMT")))
        << error;
}

TEST_P(MergeRunFailures, KeyViolationInTheDestinationNamesTheDestination) {
    OneSourceGroup();
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E002"}, {"IC_NO", "800101"}, {"FCURR_CODE", "MYR"}});
    db::TTableDef def = *schema::FindCatalogueTable("EMPLOYEE");
    def.Indexes.push_back({"IC", {"IC_NO"}, true});
    DropTable("#GRP", "EMPLOYEE");
    CreateTable("#GRP", def);
    const std::string error = RunError();
    EXPECT_EQ(error.rfind("Employee#E002 ", 0), 0u) << error;
    EXPECT_TRUE(EndsWith(error, Where(PathAsFormed("#GRP"), "EMPLOYEE"))) << error;
    // E001 was posted before the violation; the destination is back as it was before the run.
    EXPECT_TRUE(RowsOf("#GRP", "EMPLOYEE").empty());
}

TEST_P(MergeRunFailures, SourceTableMissingNamesTheSource) {
    OneSourceGroup();
    DropTable("A01", "EMPLOYMT");
    const std::string error = RunError();
    EXPECT_TRUE(EndsWith(error, Where(PathAsFormed("A01"), "EMPLOYMT"))) << error;
}

TEST_P(MergeRunFailures, SourceValueItsFieldCannotHoldNamesTheSource) {
    OneSourceGroup();
    PutIn("A01", "P_HTRX",
          {{"PERIOD", "202406"}, {"CYCLE", "1"}, {"EMPCODE", "E001"}, {"GROSS_WAGE", "1000"}});
    {
        db::TDbConnection conn("damage");
        Connect(conn, CompanyPath("A01"));
        db::TDbQuery q("damage");
        q.SetConnection(&conn);
        if (!conn.IsDictionaryConn()) q.EnableEncryption(signon::kFreeTablePassword);
        q.SQL().Add("UPDATE P_HTRX SET GROSS_WAGE = 1e15");
        q.ExecSQL();
        conn.Disconnect();
    }
    const std::string error = RunError();
    EXPECT_NE(error.find("GROSS_WAGE"), std::string::npos) << error;
    EXPECT_TRUE(EndsWith(error, Where(PathAsFormed("A01"), "P_HTRX"))) << error;
}

INSTANTIATE_TEST_SUITE_P(Layouts, MergeRunFailures, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

TEST_P(MergeRun, StopIndicatorESkipsTheEmployeeOnly) {
    AddCompany("#GRP");
    AddCompany("A01");
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E1"}, {"STOP_IND", "E"}, {"FCURR_CODE", "MYR"}});
    PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E2"}, {"STOP_IND", "e"}, {"FCURR_CODE", "MYR"}});
    PutIn("A01", "EMP_OTH", {{"EMP_NO", "E1"}, {"YEAR", "2024"}});
    AddGroup(1, "#GRP");
    AddSource(1, "A01");
    MakeForm("202406");
    ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors.front());
    EXPECT_EQ(Column("#GRP", "EMPLOYEE", "EMP_NO"), std::vector<std::string>{"E2"});
    EXPECT_EQ(Column("#GRP", "EMP_OTH", "EMP_NO"), std::vector<std::string>{"E1"});
}

TEST_P(MergeRun, ProgressTextsOfClearingAndTransfer) {
    TwoSourceGroup();
    std::vector<std::string> seen;
    Op.OnProcessMessages = [&] {
        if (seen.empty() || seen.back() != Form->Controls.edit2)
            seen.push_back(Form->Controls.edit2);
    };
    MakeForm("202406");
    ASSERT_TRUE(Run());
    const std::string src =
        GetParam() ? Dir.Str(false) + "\\COMPANY\\A01\\A01.ADD" : Base() + "COMPANY\\A01";
    auto has = [&](const std::string& text) {
        return std::find(seen.begin(), seen.end(), text) != seen.end();
    };
    EXPECT_TRUE(has("Clear Record : RTPHD"));
    EXPECT_TRUE(has("Clear Record : P_HTRX"));
    EXPECT_TRUE(has(src + "\\EMPLOYEE Updating : E001"));  // form A
    EXPECT_TRUE(has(src + "\\P_HTRX Updating : E001"));
    EXPECT_TRUE(has("Updating : " + src + "\\MEDICAL"));  // form B
    EXPECT_TRUE(has("Updating : " + src + "\\GLCODE"));
}

// A period table that cannot be cleared would get the period's rows beside its old ones, and the
// conversion would convert the old ones again: the table is reported and the run ends there.
// With snapshots the destination cannot even be snapshotted while the table is open elsewhere:
// the run ends before the clearing starts.
TEST_P(MergeRun, LockedPeriodTableIsReportedAndEndsTheRunBeforeAnythingIsAdded) {
    TwoSourceGroup();
    PutIn("#GRP", "P_DTRXAW", {{"PERIOD", "202406"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    PutIn("#GRP", "P_DTRXAS", {{"PERIOD", "202406"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    PutIn("#GRP", "P_DTRXND", {{"PERIOD", "202406"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    db::TDbConnection other("other");
    Connect(other, CompanyPath("#GRP"));
    db::TDbTable held("held");
    OpenTable(held, other, "P_DTRXAS");
    MakeForm("202406");
    EXPECT_FALSE(Run());
    EXPECT_TRUE(Op.Messages.empty());
    ASSERT_EQ(Op.Errors.size(), 1u);
    EXPECT_EQ(Op.Errors[0].rfind("The snapshot of #GRP cannot be taken: a table of ", 0), 0u)
        << Op.Errors[0];
    const std::string heldFile = GetParam() ? "#GRP.ADD" : "P_DTRXAS.ADT";
    EXPECT_NE(Op.Errors[0].find(heldFile + " is in use by another user"), std::string::npos)
        << Op.Errors[0];
    EXPECT_EQ(RowsOf("#GRP", "P_DTRXAW").size(), 1u);  // not cleared

    // Without a snapshot the clearing meets the table.
    Op.Errors.clear();
    MakeForm("202406");
    Form->TakeSnapshots = false;
    EXPECT_FALSE(Run());
    held.Close();
    other.Disconnect();
    ASSERT_EQ(Op.Messages.size(), 1u);
    const std::string& msg = Op.Messages[0];
    EXPECT_EQ(msg.substr(msg.size() - std::string(" Tablename P_DTRXAS").size()),
              " Tablename P_DTRXAS")
        << msg;
    ASSERT_EQ(Op.Errors.size(), 1u);
    EXPECT_NE(Op.Errors[0].find("P_DTRXAS"), std::string::npos) << Op.Errors[0];
    EXPECT_EQ(RowsOf("#GRP", "P_DTRXAS").size(), 1u);  // kept its period record
    EXPECT_TRUE(RowsOf("#GRP", "P_HTRX").empty());     // no source was transferred
    EXPECT_TRUE(RowsOf("#GRP", "EMPLOYEE").empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, MergeRun, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
