// The allowance report columns: numbering from 1500 in code order, the recreated "ALLW" columns
// of RTABLE, the counter in TRNNO, the two passes that point RTPDETL rows at column numbers, and
// repeat runs.
#include "RebuildFixture.h"

#include "rebuild/Rebuilds.h"

namespace peltorn::test {
namespace {

using rebuild::RebuildAllowanceColumns;

const std::vector<std::string> kColumnFields = {"NO",   "HEADING", "DATABASE1", "FIELD",
                                                "CODE", "WIDTH",   "TYPE1",     "HIDE_WAGE"};
const std::vector<std::string> kAllowFields = {"ALLOW_CODE", "YEAR", "DESC", "TRNNO"};
const std::vector<std::string> kRepFields = {"RPTCODE", "ID", "COL"};

class AllowanceColumnsTest : public RebuildFixture {
protected:
    void AddAllowance(const std::string& code, const std::string& year, const std::string& desc,
                      const std::string& trnno = "") {
        AddRow("ALLOWNCE",
               {{"ALLOW_CODE", code}, {"YEAR", year}, {"DESC", desc}, {"TRNNO", trnno}});
    }
    void AddColumn(const Row& r) {
        Values v;
        for (std::size_t i = 0; i < kColumnFields.size(); ++i)
            v.push_back({kColumnFields[i], r[i]});
        AddRow("RTABLE", v);
    }
    void AddReportRow(const std::string& id, const std::string& source, const std::string& field,
                      const std::string& code, const std::string& col) {
        AddRow("RTPDETL", {{"RPTCODE", "R1"},
                           {"ID", id},
                           {"DATABASE1", source},
                           {"FIELD", field},
                           {"CODE", code},
                           {"COL", col}});
    }

    // Allowances A (two years) and B; an old allowance column, a column of another source and a
    // counter left by an earlier run of the payroll.
    void AddTypicalSetUp() {
        AddAllowance("B", "2009", "Meal", "1601");
        AddAllowance("A", "2009", "Transport 2009", "1600");
        AddAllowance("A", "2008", "Transport 2008", "1600");
        AddColumn({"1600", "Old transport", "ALLW", "A", "AMOUNT", "12", "N", "T"});
        AddColumn({"1602", "Gone allowance", "ALLW", "Z", "AMOUNT", "12", "N", "T"});
        AddColumn(kBasicColumn);
        AddRow("TRNNO", {{"TRNNO", "1777"}});
    }

    const Row kBasicColumn = {"10", "Basic", "EMPLOYEE", "BASIC_RATE", "", "14", "N", "F"};
};

TEST_F(AllowanceColumnsTest, NumbersCodesFrom1500AndRecreatesTheirColumns) {
    AddTypicalSetUp();

    RebuildAllowanceColumns(form);

    EXPECT_EQ(Rows("ALLOWNCE", kAllowFields),
              (std::vector<Row>{{"A", "2008", "Transport 2008", "1500"},
                                {"A", "2009", "Transport 2009", "1500"},
                                {"B", "2009", "Meal", "1501"}}));
    // One column per code; the heading of A is that of its last year row.
    EXPECT_EQ(Rows("RTABLE", kColumnFields),
              (std::vector<Row>{kBasicColumn,
                                {"1500", "Transport 2009", "ALLW", "A", "AMOUNT", "12", "N", "T"},
                                {"1501", "Meal", "ALLW", "B", "AMOUNT", "12", "N", "T"}}));
    EXPECT_EQ(Rows("TRNNO", {"TRNNO"}), std::vector<Row>{{"1501"}});

    // Left for the report grids: the "ALLW" columns in number order; the counter closed.
    EXPECT_TRUE(form.TableRtable.Filtered());
    EXPECT_EQ(form.TableRtable.IndexFieldNames(), "NO");
    EXPECT_EQ(form.TableRtable.RecordCount(), 2);
    EXPECT_FALSE(form.TableTrnno.Active());
}

TEST_F(AllowanceColumnsTest, EmptyAllowanceMasterDropsColumnsAndStartsCounter) {
    AddColumn({"1600", "Old transport", "ALLW", "A", "AMOUNT", "12", "N", "T"});
    AddColumn(kBasicColumn);
    AddReportRow("1", "EMPLOYEE", "BASIC_RATE", "", "3");
    AddReportRow("2", "ALLW", "A", "AMOUNT", "1600");

    RebuildAllowanceColumns(form);

    EXPECT_EQ(Rows("RTABLE", kColumnFields), std::vector<Row>{kBasicColumn});
    // The empty counter table gets its record.
    EXPECT_EQ(Rows("TRNNO", {"TRNNO"}), std::vector<Row>{{"1500"}});
    // The second pass still runs; a row of a vanished column keeps its number.
    EXPECT_EQ(Rows("RTPDETL", kRepFields),
              (std::vector<Row>{{"R1", "1", "10"}, {"R1", "2", "1600"}}));
}

TEST_F(AllowanceColumnsTest, ReportRowsPointAtNewNumbers) {
    AddTypicalSetUp();
    AddAllowance("TRANSPRT", "2009", "Full-width code");
    AddReportRow("1", "ALLW", "B", "AMOUNT", "1601");         // its column: 1501
    AddReportRow("2", "EMPLOYEE", "BASIC_RATE", "", "");      // another source's column: 10
    AddReportRow("3", "ALLW", "A", "RATE", "7");              // no such column: A's number, 1500
    AddReportRow("4", "EMPLOYEE", "NAME", "", "77");          // matches nothing: keeps 77
    AddReportRow("5", "PAYROLL", "TRANSPRT_DAYS", "", "55");  // begins with a code: keeps 55
    AddReportRow("6", "ALLW", "TRANSPRT", "AMOUNT", "");      // the full-width code: 1502

    RebuildAllowanceColumns(form);

    EXPECT_EQ(Rows("RTPDETL", kRepFields), (std::vector<Row>{{"R1", "1", "1501"},
                                                             {"R1", "2", "10"},
                                                             {"R1", "3", "1500"},
                                                             {"R1", "4", "77"},
                                                             {"R1", "5", "55"},
                                                             {"R1", "6", "1502"}}));
    EXPECT_EQ(Rows("TRNNO", {"TRNNO"}), std::vector<Row>{{"1502"}});
}

TEST_F(AllowanceColumnsTest, RepeatRunsGiveTheSameTables) {
    AddTypicalSetUp();
    AddReportRow("1", "ALLW", "B", "AMOUNT", "1601");
    AddReportRow("2", "EMPLOYEE", "BASIC_RATE", "", "");
    AddReportRow("3", "ALLW", "A", "RATE", "7");

    auto dumpAll = [this] {
        return std::vector<std::vector<Row>>{Dump("RTABLE"), Dump("ALLOWNCE"), Dump("TRNNO"),
                                             Dump("RTPDETL")};
    };
    RebuildAllowanceColumns(form);
    const auto once = dumpAll();

    // Same components, still open from the first run.
    RebuildAllowanceColumns(form);
    EXPECT_EQ(dumpAll(), once);

    // As for the next group: the connection closes every component in between.
    form.dbDest.Disconnect();
    RebuildAllowanceColumns(form);
    EXPECT_EQ(dumpAll(), once);
}

}  // namespace
}  // namespace peltorn::test
