// The run's safety net, in both layouts: a run that fails or is stopped while it merges a
// destination puts that destination back as it was before the run, the groups merged before it
// stay merged, and the snapshot folder keeps only the last snapshots, readable by their owner
// only.
#include "RunFixture.h"

#include "db/DbSchema.h"
#include "run/Snapshots.h"

#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace peltorn::test {
namespace {

class SafetyNet : public RunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { MakeInstallation(GetParam()); }

    // Every row of every table of the company, sorted per table, as text.
    std::string Census(const std::string& code) {
        db::TDbConnection conn("census");
        Connect(conn, CompanyPath(code));
        std::vector<std::string> tables = db::ListTables(conn);
        conn.Disconnect();
        std::ostringstream out;
        for (const auto& table : tables) {
            std::vector<std::string> lines;
            for (auto& row : RowsOf(code, table)) {
                std::string line;
                for (auto& [field, value] : row) line += field + "=" + value + ";";
                lines.push_back(line);
            }
            std::sort(lines.begin(), lines.end());
            out << "[" << table << "] " << lines.size() << "\n";
            for (const auto& line : lines) out << line << "\n";
        }
        return out.str();
    }
    void Employee(const std::string& code, const std::string& emp, const std::string& cur) {
        PutIn(code, "EMPLOYEE", {{"EMP_NO", emp}, {"FCURR_CODE", cur}, {"LOCAL_CURR_CODE", cur}});
        PutIn(code, "P_HTRX",
              {{"PERIOD", "202406"},
               {"CYCLE", "1"},
               {"EMPCODE", emp},
               {"BASIC", "1000"},
               {"BANKAMT", "1000"}});
        PutIn(code, "EMPLOYMT", {{"EMP_NO", emp}, {"POSITION", "Clerk"}});
    }
    // A destination that holds what an earlier run left: the rows the clearing removes.
    void Merged(const std::string& code) {
        PutIn(code, "EMPLOYEE", {{"EMP_NO", "OLD"}, {"FCURR_CODE", "MYR"}});
        PutIn(code, "P_HTRX", {{"PERIOD", "202406"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
        PutIn(code, "EXRATE",
              {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", "202406"}, {"EX_RATE", "1"}});
        PutIn(code, "RTPHD", {{"RPTCODE", "R1"}});
    }
    std::string Root() const {
        return run::DefaultSnapshotFolder(Form->BaseFolder, Form->DictionarySetting);
    }
};

// #TWO's second source lacks a table: the run fails in the middle of #TWO's transfer, after the
// first source's rows were written into it. #TWO is put back row for row, #ONE (merged before)
// stays merged, and no marker is left to refuse the next run.
TEST_P(SafetyNet, FailureInTheMiddleOfATransferPutsTheDestinationBackAndKeepsEarlierOnesMerged) {
    for (const char* code : {"#ONE", "#TWO", "A01", "B01"}) AddCompany(code);
    AddGroup(1, "#ONE");
    AddSource(1, "A01");
    AddGroup(2, "#TWO");
    AddSource(2, "A01");
    AddSource(2, "B01");
    Employee("A01", "E1", "MYR");
    Employee("B01", "E2", "MYR");
    {
        db::TDbConnection conn("drop");
        Connect(conn, CompanyPath("B01"));
        db::TDbQuery q("drop");
        q.SetConnection(&conn);
        q.SQL().Add("DROP TABLE EMPLOYMT");
        q.ExecSQL();
        conn.Disconnect();
    }
    Merged("#TWO");
    const std::string before = Census("#TWO");

    MakeForm("202406");
    EXPECT_EQ(RunFor(), run::TMergeResult::Failed);
    ASSERT_EQ(Op.Errors.size(), 1u);
    const std::string& error = Op.Errors[0];
    EXPECT_NE(error.find("EMPLOYMT"), std::string::npos) << error;
    const std::string restored = ". The destination #TWO was restored to its state before the run.";
    ASSERT_GE(error.size(), restored.size());
    EXPECT_EQ(error.substr(error.size() - restored.size()), restored) << error;

    EXPECT_EQ(Census("#TWO"), before);
    EXPECT_EQ(Column("#ONE", "EMPLOYEE", "EMP_NO"), std::vector<std::string>{"E1"});
    ASSERT_EQ(Form->GroupSnapshots.size(), 2u);
    EXPECT_FALSE(Form->GroupSnapshots[0].Restored);
    EXPECT_TRUE(Form->GroupSnapshots[1].Restored);
    EXPECT_GT(Form->GroupSnapshots[1].Bytes, 0u);
    for (const auto& s : run::ListSnapshots(Root())) EXPECT_FALSE(s.Interrupted) << s.Folder;
}

// With a snapshot, the group the operator stopped is put back instead of being left with its
// unconverted employees, and the stopped line says so.
TEST_P(SafetyNet, StoppedGroupIsPutBackAndTheStoppedLineSaysSo) {
    AddCompany("#GRP");
    AddCompany("A01");
    AddGroup(1, "#GRP");
    AddSource(1, "A01");
    for (const char* emp : {"E1", "E2"}) Employee("A01", emp, "SGD");
    PutIn("A01", "EXRATE",
          {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", "202406"}, {"EX_RATE", "3"}});
    Merged("#GRP");
    const std::string before = Census("#GRP");
    MakeForm("202406");
    Op.Answers = {true};
    Op.OnProcessMessages = [this] {
        if (Form->Controls.edit2.find("P_HTRX") != std::string::npos &&
            !Form->FormMsg.StopRequested)
            Form->FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);
    };
    EXPECT_EQ(RunFor(), run::TMergeResult::Stopped) << (Op.Errors.empty() ? "" : Op.Errors[0]);
    ASSERT_FALSE(Op.Messages.empty());
    EXPECT_EQ(Op.Messages.back(),
              "Merge stopped by the operator: 2 employees not converted. The destination #GRP "
              "was restored to its state before the run.");
    EXPECT_EQ(Census("#GRP"), before);
}

// Every run adds a snapshot of each destination; the oldest beyond the kept number go. The
// snapshots hold payroll figures: folders 0700, files 0600.
TEST_P(SafetyNet, SnapshotsBeyondTheKeptNumberAreRemovedAndAreTheOwnersAlone) {
    AddCompany("#GRP");
    AddCompany("A01");
    AddGroup(1, "#GRP");
    AddSource(1, "A01");
    Employee("A01", "E1", "MYR");
    std::vector<std::string> taken;
    for (int run = 0; run < 3; ++run) {
        MakeForm("202406");
        Form->KeepSnapshots = 2;
        ASSERT_TRUE(Run()) << (Op.Errors.empty() ? "" : Op.Errors[0]);
        ASSERT_EQ(Form->GroupSnapshots.size(), 1u);
        taken.push_back(Form->GroupSnapshots[0].Folder);
    }
    std::vector<std::string> kept;
    for (const auto& s : run::ListSnapshots(Root(), "#GRP")) kept.push_back(s.Folder);
    EXPECT_EQ(kept, (std::vector<std::string>{taken[1], taken[2]}));

    int entries = 0;
    namespace fs = std::filesystem;
    for (const auto& e : fs::recursive_directory_iterator(db::NormalizePath(Root()))) {
        struct stat st {};
        ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, e.is_directory() ? 0700u : 0600u) << e.path();
        ++entries;
    }
    EXPECT_GT(entries, 4);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SafetyNet, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
