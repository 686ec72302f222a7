// What a merge run leaves in its destination in the cases where it used to leave something else
// than it said: an operator's stop, resigned employees, the kept special cycle and the run over
// all periods. In both layouts; the figures are worked out by hand beside each number.
#include "RunFixture.h"

#include "db/DbSchema.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace peltorn::test {
namespace {

constexpr const char* kDone = "Merge database completed";

class MergeConsistency : public RunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { MakeInstallation(GetParam()); }

    // An employee of the source paid in cur, and the period's payroll: a header with BASIC
    // basic paid by bank, one allowance row and one bank row of the whole nett wage.
    void PaidEmployee(const std::string& code, const std::string& emp, const std::string& cur,
                      const std::string& period, const std::string& basic,
                      const std::string& cycle = "1", const std::string& stopInd = "") {
        PutIn(code, "EMPLOYEE",
              {{"EMP_NO", emp},
               {"FCURR_CODE", cur},
               {"LOCAL_CURR_CODE", cur},
               {"STOP_IND", stopInd}});
        Payroll(code, emp, cur, period, basic, cycle);
    }
    void Payroll(const std::string& code, const std::string& emp, const std::string& cur,
                 const std::string& period, const std::string& basic,
                 const std::string& cycle = "1") {
        PutIn(code, "P_HTRX",
              {{"PERIOD", period},
               {"CYCLE", cycle},
               {"EMPCODE", emp},
               {"BASIC", basic},
               {"BANKAMT", basic}});
        PutIn(code, "P_DTRXAW",
              {{"PERIOD", period},
               {"CYCLE", cycle},
               {"EMPCODE", emp},
               {"ALLW_DED_CODE", "MEMO"},
               {"AMOUNT", "10"}});
        PutIn(code, "BANKTRX",
              {{"EMPCODE", emp},
               {"PERIOD", period},
               {"CYCLE", cycle},
               {"BANK_ID", "B1"},
               {"CURR_CODE", cur},
               {"BANK_AMT", basic}});
    }
    void Rate(const std::string& code, const std::string& period, const std::string& rate) {
        PutIn(code, "EXRATE",
              {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", period}, {"EX_RATE", rate}});
    }
    void OneSourceGroup() {
        AddCompany("#GRP");
        AddCompany("A01");
        AddGroup(1, "#GRP");
        AddSource(1, "A01");
    }

    // The rows of table whose field equals value, each as "field=value;..." sorted.
    std::vector<TRow> Where(const std::string& table, const std::string& field,
                            const std::string& value) {
        std::vector<TRow> out;
        for (auto& row : RowsOf("#GRP", table))
            if (row[field] == value) out.push_back(row);
        return out;
    }
    double Basic(const std::string& emp, const std::string& period,
                 const std::string& cycle = "1") {
        for (auto& row : RowsOf("#GRP", "P_HTRX"))
            if (row["EMPCODE"] == emp && row["PERIOD"] == period && row["CYCLE"] == cycle)
                return std::stod(row["BASIC"]);
        ADD_FAILURE() << "no header " << emp << " " << period << " " << cycle;
        return NAN;
    }
    std::string Currency(const std::string& emp) {
        auto rows = Where("EMPLOYEE", "EMP_NO", emp);
        return rows.size() == 1 ? rows[0]["FCURR_CODE"] : "<" + std::to_string(rows.size()) + ">";
    }
    // Bank rows of an employee as "PERIOD CYCLE CURR_CODE BANK_AMT", sorted.
    std::vector<std::string> Bank(const std::string& emp) {
        std::vector<std::string> out;
        for (auto& row : Where("BANKTRX", "EMPCODE", emp))
            out.push_back(row["PERIOD"] + " " + row["CYCLE"] + " " + row["CURR_CODE"] + " " +
                          row["BANK_AMT"]);
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string Dump() {
        std::ostringstream out;
        for (const char* table :
             {"EMPLOYEE", "P_HTRX", "P_DTRXAW", "P_DTRXLV", "BANKTRX", "COSTCTR", "EXRATE"}) {
            std::vector<std::string> lines;
            for (auto& row : RowsOf("#GRP", table)) {
                std::string line;
                for (auto& [k, v] : row) line += k + "=" + v + ";";
                lines.push_back(line);
            }
            std::sort(lines.begin(), lines.end());
            out << "[" << table << "]\n";
            for (auto& l : lines) out << l << "\n";
        }
        return out.str();
    }
    std::string FirstError() const { return Op.Errors.empty() ? "" : Op.Errors.front(); }
};

// Esc during the conversion: the employees it had not reached keep their payroll and their
// currency, the run says it was stopped, and the next group is not started.
TEST_P(MergeConsistency, StopDuringTheConversionStampsOnlyTheConvertedEmployees) {
    OneSourceGroup();
    for (const char* emp : {"E1", "E2", "E3"}) PaidEmployee("A01", emp, "SGD", "202406", "1000");
    Rate("A01", "202406", "3.08");
    AddCompany("#TWO");
    AddGroup(2, "#TWO");
    AddSource(2, "A01");
    MakeForm("202406");
    // What a stop leaves without a snapshot to put the group back from.
    Form->TakeSnapshots = false;
    bool pressed = false;
    Op.Answers = {true};
    Op.OnProcessMessages = [&] {
        // Esc as soon as E1's header is recomputed (its run-log line is written): the conversion
        // stops before the next employee. Counting calls would not do: long statements process
        // messages too, more of them the slower the machine.
        if (pressed) return;
        const auto& log = Form->Controls.Memo1;
        if (std::any_of(log.begin(), log.end(), [](const std::string& line) {
                return line.find("emp_no :") != std::string::npos &&
                       line.find("E1") != std::string::npos;
            })) {
            pressed = true;
            Form->FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);
        }
    };
    EXPECT_EQ(RunFor(), run::TMergeResult::Stopped) << FirstError();

    EXPECT_NEAR(Basic("E1", "202406"), 3080, 1e-6);  // 1000 x 3.08
    EXPECT_NEAR(Basic("E2", "202406"), 1000, 1e-6);  // not reached: still SGD
    EXPECT_NEAR(Basic("E3", "202406"), 1000, 1e-6);
    EXPECT_EQ(Currency("E1"), "MYR");
    EXPECT_EQ(Currency("E2"), "SGD");
    EXPECT_EQ(Currency("E3"), "SGD");
    ASSERT_FALSE(Op.Messages.empty());
    EXPECT_EQ(Op.Messages.back(), "Merge stopped by the operator: 2 employees not converted");
    EXPECT_EQ(std::count(Op.Messages.begin(), Op.Messages.end(), kDone), 0);
    EXPECT_EQ(Form->EmployeesNotConverted, 2u);
    EXPECT_TRUE(Form->Controls.BitBtn1Enabled);
    EXPECT_TRUE(RowsOf("#TWO", "EMPLOYEE").empty());  // the run ended with the stopped group

    // The next run is not stopped: it completes and converts everybody.
    Op.Messages.clear();
    MakeForm("202406");
    EXPECT_EQ(RunFor(), run::TMergeResult::Completed) << FirstError();
    EXPECT_EQ(Op.Messages.back(), kDone);
    EXPECT_NEAR(Basic("E2", "202406"), 3080, 1e-6);  // 1000 x 3.08, from the source again
    EXPECT_EQ(Currency("E3"), "MYR");
}

// A resigned employee's record stays behind, the payroll comes: it is converted with the
// currency the source holds on the employee, in a new destination and in one that still has the
// employee's record of an earlier run, stamped "MYR" then.
TEST_P(MergeConsistency, ResignedEmployeesPayrollIsConvertedWithTheSourcesCurrency) {
    OneSourceGroup();
    PaidEmployee("A01", "E1", "SGD", "202406", "1000");
    PaidEmployee("A01", "R1", "SGD", "202406", "1000", "1", "E");
    PaidEmployee("A01", "R2", "SGD", "202406", "2000", "1", "E");
    Rate("A01", "202406", "3.08");
    // R2 was merged before it resigned: its old record carries the stamp of that run.
    PutIn("#GRP", "EMPLOYEE",
          {{"EMP_NO", "R2"}, {"FCURR_CODE", "MYR"}, {"LOCAL_CURR_CODE", "MYR"}});
    MakeForm("202406");
    ASSERT_TRUE(Run()) << FirstError();

    EXPECT_EQ(Currency("R1"), "<0>");                // not carried over
    EXPECT_NEAR(Basic("E1", "202406"), 3080, 1e-6);  // 1000 x 3.08
    EXPECT_NEAR(Basic("R1", "202406"), 3080, 1e-6);  // 1000 x 3.08, no record in the destination
    EXPECT_NEAR(Basic("R2", "202406"), 6160, 1e-6);  // 2000 x 3.08, not taken as MYR
    // Nett wage: BASIC 3080 + the allowance 30.8 (10 x 3.08) = 3110.8, all in MYR.
    EXPECT_EQ(Bank("R1"), std::vector<std::string>{"202406 1 MYR 3110.8"});
    EXPECT_EQ(Bank("R2"), std::vector<std::string>{"202406 1 MYR 6190.8"});  // 6160 + 30.8
    auto aw = Where("P_DTRXAW", "EMPCODE", "R1");
    ASSERT_EQ(aw.size(), 1u);
    EXPECT_EQ(aw[0]["AMOUNT"], "30.8");  // 10 x 3.08

    // Once more: the same figures, not converted twice.
    MakeForm("202406");
    ASSERT_TRUE(Run()) << FirstError();
    EXPECT_NEAR(Basic("R1", "202406"), 3080, 1e-6);
    EXPECT_NEAR(Basic("R2", "202406"), 6160, 1e-6);
    EXPECT_EQ(Bank("R2"), std::vector<std::string>{"202406 1 MYR 6190.8"});  // 6160 + 30.8
}

// "Exclude Special record" keeps the destination's cycle "S" out of the whole run: not read from
// the sources again, not converted again, its bank rows not rebuilt beside the kept ones.
TEST_P(MergeConsistency, KeptSpecialCycleStaysOneConvertedCopyOverRuns) {
    OneSourceGroup();
    PaidEmployee("A01", "E1", "SGD", "202406", "1000");
    Payroll("A01", "E1", "SGD", "202406", "500", "S");
    Rate("A01", "202406", "3.08");
    // The first run brings the special cycle and converts it.
    MakeForm("202406");
    ASSERT_TRUE(Run()) << FirstError();
    const std::string first = Dump();
    for (int run = 2; run <= 3; ++run) {
        MakeForm("202406");
        Form->Controls.chkSPE = true;
        ASSERT_TRUE(Run()) << FirstError();
        EXPECT_EQ(Dump(), first) << "run " << run;
    }
    EXPECT_NEAR(Basic("E1", "202406", "S"), 1540, 1e-6);  // 500 x 3.08, once
    EXPECT_NEAR(Basic("E1", "202406", "1"), 3080, 1e-6);  // 1000 x 3.08
    std::vector<std::string> special;
    for (auto& row : Where("P_DTRXAW", "CYCLE", "S")) special.push_back(row["AMOUNT"]);
    EXPECT_EQ(special, std::vector<std::string>{"30.8"});  // 10 x 3.08, one copy
    // Nett wages: 3080 + 30.8 = 3110.8 and 1540 + 30.8 = 1570.8, one bank row each.
    EXPECT_EQ(Bank("E1"), (std::vector<std::string>{"202406 1 MYR 3110.8", "202406 S MYR 1570.8"}));
}

// "999999": every period cleared and transferred again, each converted at its own rate, the
// period tables encrypted, no cost-centre rows made up; a second run leaves the same.
TEST_P(MergeConsistency, AllPeriodsConvertsEveryPeriodAtItsOwnRateAndRunsAgainAlike) {
    OneSourceGroup();
    PaidEmployee("A01", "E1", "SGD", "202405", "1000");
    Payroll("A01", "E1", "SGD", "202406", "2000");
    Rate("A01", "202405", "3.08");
    Rate("A01", "202406", "3.1");
    PutIn("A01", "COSTCTR",
          {{"EMPCODE", "E1"}, {"PERIOD", "202405"}, {"COST_CENTRE", "CC1"}, {"PERCENT", "100"}});
    PutIn("#GRP", "P_HTRX", {{"PERIOD", "202301"}, {"CYCLE", "1"}, {"EMPCODE", "OLD"}});
    PutIn("#GRP", "COSTCTR", {{"EMPCODE", "OLD"}, {"PERIOD", "200612"}, {"COST_CENTRE", "X"}});
    MakeForm("999999");
    ASSERT_TRUE(Run()) << FirstError();
    const std::string first = Dump();

    EXPECT_EQ(RowsOf("#GRP", "P_HTRX").size(), 2u);  // 202301 of OLD cleared
    EXPECT_NEAR(Basic("E1", "202405"), 3080, 1e-6);  // 1000 x 3.08
    EXPECT_NEAR(Basic("E1", "202406"), 6200, 1e-6);  // 2000 x 3.1
    std::vector<std::string> allowances;
    for (auto& row : RowsOf("#GRP", "P_DTRXAW")) allowances.push_back(row["AMOUNT"]);
    std::sort(allowances.begin(), allowances.end());
    EXPECT_EQ(allowances, (std::vector<std::string>{"30.8", "31"}));  // 10 x 3.08, 10 x 3.1
    // Nett wages: 3080 + 30.8 = 3110.8; 6200 + 31 = 6231.
    EXPECT_EQ(Bank("E1"), (std::vector<std::string>{"202405 1 MYR 3110.8", "202406 1 MYR 6231"}));
    EXPECT_EQ(Currency("E1"), "MYR");
    // The sources' distribution rows as they are; nothing for periods 999901 to 999912.
    EXPECT_EQ(Column("#GRP", "COSTCTR", "PERIOD"), std::vector<std::string>{"202405"});
    const auto& log = Form->Controls.Memo1;
    EXPECT_NE(std::find(log.begin(), log.end(), "Cost centres are not rebuilt for all periods"),
              log.end());
    if (!GetParam()) {
        for (const char* table : {"P_HTRX", "P_DTRXAW", "P_DTRXLV", "BANKTRX"}) {
            db::TDbConnection conn("check");
            Connect(conn, CompanyPath("#GRP"));
            db::TDbTable t("check");
            t.SetConnection(&conn);
            t.SetTableName(table);
            t.Open();
            EXPECT_TRUE(t.IsTableEncrypted()) << table;
            t.Close();
            conn.Disconnect();
        }
    }

    MakeForm("999999");
    ASSERT_TRUE(Run()) << FirstError();
    EXPECT_EQ(Dump(), first);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MergeConsistency, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
