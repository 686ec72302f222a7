// The cost-centre rebuild: which rows of COSTCTR survive the fixed cut-off, the twelve rows each
// employee gets for the merged year, repeat runs, the operator's stop request, and destinations
// whose tables are encrypted or kept in a data dictionary.
#include "RebuildFixture.h"

#include "rebuild/Rebuilds.h"
#include "signon/Credentials.h"
#include "support/ProgBar.h"

#include <stdexcept>

namespace peltorn::test {
namespace {

using rebuild::RebuildCostCentres;

const std::vector<std::string> kCostFields = {"EMPCODE", "PERIOD", "COST_CENTRE", "DEPARTMENT",
                                              "PERCENT"};

// The twelve rows of one employee for 2009, written out by hand (months 1 to 9 with a zero).
std::vector<Row> Year2009(const std::string& emp, const std::string& cc, const std::string& dept) {
    std::vector<Row> rows;
    for (const char* period : {"200901", "200902", "200903", "200904", "200905", "200906", "200907",
                               "200908", "200909", "200910", "200911", "200912"}) {
        rows.push_back({emp, period, cc, dept, "100"});
    }
    return rows;
}

std::vector<Row> Concat(std::vector<std::vector<Row>> parts) {
    std::vector<Row> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    std::sort(all.begin(), all.end());
    return all;
}

class CostCentreTest : public RebuildFixture {
protected:
    void AddEmployee(const std::string& no, const std::string& cc, const std::string& dept) {
        AddRow("EMPLOYEE", {{"EMP_NO", no}, {"COST_CENTRE_CODE", cc}, {"DEPARTMENT_CODE", dept}});
    }
    void AddCost(const std::string& emp, const std::string& period, const std::string& cc,
                 const std::string& dept, const std::string& percent) {
        AddRow("COSTCTR", {{"EMPCODE", emp},
                           {"PERIOD", period},
                           {"COST_CENTRE", cc},
                           {"DEPARTMENT", dept},
                           {"PERCENT", percent}});
    }
};

TEST_F(CostCentreTest, MarchMergeLeavesExactlyTheMergedYearFrom2007On) {
    AddEmployee("E1", "CC1", "D1");
    AddEmployee("E2", "CC2", "D2");
    AddCost("E1", "200612", "CC1", "D1", "50");   // before the cut-off: stays
    AddCost("E1", "200701", "CC1", "D1", "100");  // cut-off itself: gone
    AddCost("E1", "200712", "CCX", "DX", "30");   // December 2007: gone
    AddCost("E1", "200905", "CC9", "D9", "60");   // another cost centre in the merged year: gone
    AddCost("E2", "200903", "CC2", "OLD", "40");  // same key: deleted, then written afresh
    AddCost("E2", "201001", "CC2", "D2", "100");  // January of the next year: gone
    AddCost("E9", "200811", "CC1", "D1", "100");  // employee no longer in the master: gone

    RebuildCostCentres(form);

    EXPECT_EQ(Rows("COSTCTR", kCostFields), Concat({{{"E1", "200612", "CC1", "D1", "50"}},
                                                    Year2009("E1", "CC1", "D1"),
                                                    Year2009("E2", "CC2", "D2")}));
}

TEST_F(CostCentreTest, YearBeforeCutOffUpdatesMatchingRowsAndKeepsOthers) {
    // Deliberate: the cut-off does not follow the merged year, so a 2005 merge deletes nothing
    // of 2005 and only sets the share of the rows with the employee's own cost centre.
    form.Controls.EditPeriod = "200503";
    AddEmployee("E1", "CC1", "D1");
    AddCost("E1", "200503", "CC1", "OLD", "30");
    AddCost("E1", "200503", "CC7", "D7", "60");
    AddCost("E1", "200702", "CC1", "D1", "100");

    RebuildCostCentres(form);

    auto rows = Rows("COSTCTR", kCostFields);
    std::vector<Row> expected = {{"E1", "200503", "CC1", "OLD", "100"},
                                 {"E1", "200503", "CC7", "D7", "60"}};
    for (const char* month : {"01", "02", "04", "05", "06", "07", "08", "09", "10", "11", "12"}) {
        expected.push_back({"E1", std::string("2005") + month, "CC1", "D1", "100"});
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
}

TEST_F(CostCentreTest, EmptyCostCentreGivesTwelveRowsAndRepeatRunsChangeNothing) {
    AddEmployee("E1", "", "D1");
    AddRow("EMPLOYEE", {{"EMP_NO", "E2"}});  // cost centre and department never set (null)
    AddEmployee("E3", "CC3", "D3");

    RebuildCostCentres(form);
    const auto once = Dump("COSTCTR");
    const auto expected =
        Concat({Year2009("E1", "", "D1"), Year2009("E2", "", ""), Year2009("E3", "CC3", "D3")});
    EXPECT_EQ(Rows("COSTCTR", kCostFields), expected);

    RebuildCostCentres(form);
    EXPECT_EQ(Dump("COSTCTR"), once);

    // As the run does it for the next group: the connection is reopened in between.
    form.dbDest.Disconnect();
    RebuildCostCentres(form);
    EXPECT_EQ(Dump("COSTCTR"), once);
}

TEST_F(CostCentreTest, DestinationWithoutEmployeesOnlyLosesRowsFromCutOff) {
    AddCost("E1", "200612", "CC1", "D1", "50");
    AddCost("E1", "200901", "CC1", "D1", "100");

    RebuildCostCentres(form);

    EXPECT_EQ(Rows("COSTCTR", kCostFields),
              (std::vector<Row>{{"E1", "200612", "CC1", "D1", "50"}}));
    EXPECT_FALSE(form.FormMsg.Visible);
    EXPECT_EQ(form.DbQueryCost.SQL().Text(), "DELETE FROM COSTCTR WHERE PERIOD>='200701' ");
}

TEST_F(CostCentreTest, EmployeeRecordIsNotChanged) {
    AddRow("EMPLOYEE", {{"EMP_NO", "E1"},
                        {"NAME", "Lee Siew Ling"},
                        {"COST_CENTRE_CODE", "CC1"},
                        {"DEPARTMENT_CODE", "D1"},
                        {"BASIC_RATE", "2500.5"}});
    const auto before = Dump("EMPLOYEE");

    RebuildCostCentres(form);

    EXPECT_EQ(Dump("EMPLOYEE"), before);
    EXPECT_EQ(form.TableEmp.State(), db::TDataSetState::dsBrowse);
    EXPECT_TRUE(form.TableEmp.Eof());
    EXPECT_EQ(form.FormMsg.Message, "Process Emp# E1");
    EXPECT_EQ(form.FormMsg.ProgressMax, 10);
}

TEST_F(CostCentreTest, PeriodWithoutYearIsRefusedBeforeAnythingChanges) {
    AddEmployee("E1", "CC1", "D1");
    AddCost("E1", "200901", "CC1", "D1", "40");
    const auto before = Dump("COSTCTR");
    form.Controls.EditPeriod = "MAR09";

    EXPECT_THROW(RebuildCostCentres(form), std::runtime_error);
    EXPECT_EQ(Dump("COSTCTR"), before);
}

// The operator presses Esc in the progress window while the loop runs; the key reaches the
// window when the loop lets pending messages be processed (inside StepProgress).
class CostCentreStopTest : public CostCentreTest {
protected:
    void SetUp() override {
        CostCentreTest::SetUp();
        AddEmployee("E1", "CC1", "D1");
        AddEmployee("E2", "CC2", "D2");
        AddEmployee("E3", "CC3", "D3");
        // The second processing of messages comes before the second employee.
        op.OnProcessMessages = [this] {
            if (++m_calls == 2) form.FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);
        };
    }
    int m_calls = 0;
};

TEST_F(CostCentreStopTest, ConfirmedStopEndsLoopBeforeNextEmployee) {
    op.Answers = {true};

    RebuildCostCentres(form);

    EXPECT_EQ(op.Questions, std::vector<std::string>{"Terminate processing ?"});
    EXPECT_EQ(Rows("COSTCTR", kCostFields), Year2009("E1", "CC1", "D1"));
    EXPECT_EQ(form.TableEmp.FieldByName("EMP_NO").AsString(), "E2");
    // The request stays in force for the steps after this one until the window closes.
    EXPECT_TRUE(form.FormMsg.StopRequested);
    EXPECT_FALSE(form.FormMsg.StepProgress());
}

TEST_F(CostCentreStopTest, StopAnsweredNoLetsLoopFinish) {
    op.Answers = {false};

    RebuildCostCentres(form);

    EXPECT_EQ(op.Questions.size(), 1u);
    EXPECT_EQ(Rows("COSTCTR", kCostFields),
              Concat({Year2009("E1", "CC1", "D1"), Year2009("E2", "CC2", "D2"),
                      Year2009("E3", "CC3", "D3")}));
    EXPECT_EQ(form.FormMsg.Message, "Process Emp# E3");
}

TEST_F(CostCentreTest, EncryptedFreeTablesAreReadAndWrittenWithFreeTablePassword) {
    const std::string pw = signon::kFreeTablePassword;
    AddEmployee("E1", "CC1", "D1");
    AddCost("E1", "200612", "CC1", "D1", "50");
    AddCost("E1", "200902", "CC5", "D5", "20");
    EncryptTable("EMPLOYEE", pw);
    EncryptTable("COSTCTR", pw);

    RebuildCostCentres(form);

    EXPECT_EQ(Rows("COSTCTR", kCostFields, pw),
              Concat({{{"E1", "200612", "CC1", "D1", "50"}}, Year2009("E1", "CC1", "D1")}));
    // New rows are written encrypted, not beside the encrypted ones in plain.
    form.dbDest.Disconnect();
    db::TDbTable probe("probe");
    probe.SetConnection(&form.dbDest);
    probe.SetTableName("COSTCTR");
    probe.Open();
    EXPECT_TRUE(probe.IsTableEncrypted());
}

TEST(CostCentreDictionaryTest, DictionaryDestinationNeedsNoTablePassword) {
    TempDir dir;
    const std::string path = (dir / "#GRP.ADD").string();
    schema::CreateCompanyDatabase(path);
    ScriptedOperator op;
    TFormMerge form(op);
    form.dbDest.SetConnectPath(path);
    form.dbDest.Username = signon::kAdminUser;
    form.dbDest.Password = signon::kAdminPassword;  // the sign-on's choice for a "@2019" mark
    form.Controls.EditPeriod = "200911";

    db::TDbTable emp("emp");
    emp.SetConnection(&form.dbDest);
    emp.SetTableName("EMPLOYEE");
    emp.Open();
    emp.Append();
    emp.FieldByName("EMP_NO").SetAsString("D1");
    emp.FieldByName("COST_CENTRE_CODE").SetAsString("CCD");
    emp.Post();
    emp.Close();

    RebuildCostCentres(form);

    db::TDbTable cost("cost");
    cost.SetConnection(&form.dbDest);
    cost.SetTableName("COSTCTR");
    cost.SetIndexFieldNames("EMPCODE;PERIOD;COST_CENTRE");
    cost.Open();
    EXPECT_EQ(cost.RecordCount(), 12);
    ASSERT_TRUE(cost.FindKey({"D1", "200912", "CCD"}));
    EXPECT_EQ(cost.FieldByName("PERCENT").AsFloat(), 100.0);
}

}  // namespace
}  // namespace peltorn::test
