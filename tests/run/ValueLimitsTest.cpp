// A source company whose tables hold what the destination's fields cannot (money beyond its
// range, an integer beyond 32 bits): the merge ends with an error that names the employee, the
// field and the table, and the record is not written.
#include "RunFixture.h"

#include "signon/Credentials.h"

namespace peltorn::test {
namespace {

class MergeValueLimits : public RunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        MakeInstallation(GetParam());
        AddCompany("#GRP");
        AddCompany("A01");
        AddGroup(1, "#GRP");
        AddSource(1, "A01");
        PutIn("A01", "EMPLOYEE", {{"EMP_NO", "E001"}, {"NAME", "Ann"}, {"FCURR_CODE", "MYR"}});
    }
    // Runs a statement on a company's database as a foreign program would, past the layer's
    // checks of the values it writes.
    void Damage(const std::string& code, const std::string& statement) {
        db::TDbConnection conn("damage");
        Connect(conn, CompanyPath(code));
        db::TDbQuery q("damage");
        q.SetConnection(&conn);
        if (!conn.IsDictionaryConn()) q.EnableEncryption(signon::kFreeTablePassword);
        q.SQL().Add(statement);
        q.ExecSQL();
        conn.Disconnect();
    }
    // The error the run reported; "" when it completed.
    std::string RunError() {
        MakeForm("202406");
        if (Run()) return "";
        EXPECT_EQ(Op.Errors.size(), 1u);
        return Op.Errors.empty() ? "no error reported" : Op.Errors.front();
    }
};

TEST_P(MergeValueLimits, MoneyBeyondItsRangeEndsTheRunNamingEmployeeFieldAndTable) {
    PutIn("A01", "P_HTRX",
          {{"PERIOD", "202406"},
           {"CYCLE", "1"},
           {"EMPCODE", "E001"},
           {"BASIC", "1000"},
           {"GROSS_WAGE", "1000"}});
    Damage("A01", "UPDATE P_HTRX SET GROSS_WAGE = 1e15");
    const std::string error = RunError();
    EXPECT_EQ(error.rfind("Employee#E001 field GROSS_WAGE of table P_HTRX: 1e+15 is outside the "
                          "range of money (-922337203685477.5808 to 922337203685477.5807)",
                          0),
              0u)
        << error;
    EXPECT_NE(error.find("table P_HTRX)"), std::string::npos) << error;  // the run's context
    EXPECT_TRUE(RowsOf("#GRP", "P_HTRX").empty());
    EXPECT_TRUE(Op.Messages.empty() || Op.Messages.back() != "Merge database completed");
}

TEST_P(MergeValueLimits, TrxidBeyond32BitsEndsTheRunNamingEmployeeFieldAndTable) {
    PutIn("A01", "EMP_BNK", {{"EMP_CODE", "E001"}, {"BANK_ID", "MBB"}, {"BANK_AC_NO", "111"}});
    Damage("A01", "UPDATE EMP_BNK SET TRXID = 5000000000");
    const std::string error = RunError();
    EXPECT_EQ(error.rfind("Employee#E001 field TRXID of table EMP_BNK: 5000000000 is outside the "
                          "range of an integer field (-2147483648 to 2147483647)",
                          0),
              0u)
        << error;
    EXPECT_TRUE(RowsOf("#GRP", "EMP_BNK").empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, MergeValueLimits, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Dictionary" : "FreeTables";
                         });

}  // namespace
}  // namespace peltorn::test
