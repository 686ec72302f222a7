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
        PutIn(code, "EMPLOYEE", {{"EMP_NO", emp}, {"FCURR_CODE", cur}, {"LOCAL_CURR_CODE", cur},
                                 {"STOP_IND", stopInd}});
        Payroll(code, emp, cur, period, basic, cycle);
    }
    void Payroll(const std::string& code, const std::string& emp, const std::string& cur,
                 const std::string& period, const std::string& basic,
                 const std::string& cycle = "1") {
        PutIn(code, "P_HTRX", {{"PERIOD", period}, {"CYCLE", cycle}, {"EMPCODE", emp},
                               {"BASIC", basic}, {"BANKAMT", basic}});
        PutIn(code, "P_DTRXAW", {{"PERIOD", period}, {"CYCLE", cycle}, {"EMPCODE", emp},
                                 {"ALLW_DED_CODE", "MEMO"}, {"AMOUNT", "10"}});
        PutIn(code, "BANKTRX", {{"EMPCODE", emp}, {"PERIOD", period}, {"CYCLE", cycle},
                                {"BANK_ID", "B1"}, {"CURR_CODE", cur}, {"BANK_AMT", basic}});
    }
    void Rate(const std::string& code, const std::string& period, const std::string& rate) {
        PutIn(code, "EXRATE", {{"CURR", "SGD"}, {"EXCODE", "MYR"}, {"PERIOD", period},
                               {"EX_RATE", rate}});
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
    double Basic(const std::string& emp, const std::string& period, const std::string& cycle = "1") {
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
        for (const char* table : {"EMPLOYEE", "P_HTRX", "P_DTRXAW", "P_DTRXLV", "BANKTRX",
                                  "COSTCTR", "EXRATE"}) {
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
    bool converting = false;
    int calls = 0;
    Form->OnStage = [&](const char* stage) { converting = std::string(stage) == "currency"; };
    Op.Answers = {true};
    Op.OnProcessMessages = [&] {
        // The conversion steps once per employee: Esc at the second step, after E1.
        if (converting && ++calls == 2) Form->FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);
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

INSTANTIATE_TEST_SUITE_P(Layouts, MergeConsistency, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
