// A posted record stays written: posts are committed in groups, but always before an error
// leaves the layer, before anybody else reads the table, and when the table is closed.
#include "DbFixture.h"

#include <sqlcipher/sqlite3.h>

using namespace peltorn;
using namespace peltorn::test;
using db::TDbTable;

namespace {

class CommitTest : public DbTest {
protected:
    void SetUp() override { MakeFreePeople(Table, true, "EMPCODE;PERIOD;CYCLE"); }
    // Rows as another program sees them (its own connection to the file).
    int CommittedRows() { return CommittedRowsIn(Dir.Str() + "/PEOPLE.ADT", "PEOPLE"); }
    TDbTable Table{"t"};
};

TEST_F(CommitTest, ErrorLeavingTheLayerCommitsEarlierPosts) {
    for (int i = 0; i < 5; ++i) AddRow(Table, "E", "202401", "1", i);
    EXPECT_THROW(Table.FindKey({"a", "b", "c", "d"}), db::EDbDatasetError);
    EXPECT_EQ(CommittedRows(), 5);
}

TEST_F(CommitTest, FailedPostLeavesEarlierPostsWrittenAndItselfUnwritten) {
    db::TTableDef def;
    def.Name = "UNIQ";
    def.Fields = {{"NO", db::TFieldType::ftInteger, 0, ""}};
    def.Indexes = {{"NO", {"NO"}, true}};
    db::CreateTable(Conn, def);
    TDbTable u("u");
    u.SetConnection(&Conn);
    u.SetTableName("UNIQ");
    u.Open();
    for (int no : {1, 2, 3}) {
        u.Append();
        u.FieldByName("NO").SetAsInteger(no);
        u.Post();
    }
    u.Append();
    u.FieldByName("NO").SetAsInteger(2);
    EXPECT_THROW(u.Post(), db::EDbDatabaseError);
    u.Cancel();
    sqlite3* db = nullptr;
    sqlite3_open_v2((Dir.Str() + "/UNIQ.ADT").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM UNIQ", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 3);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

TEST_F(CommitTest, AnotherDatasetOrStatementSeesEveryPostedRecord) {
    for (int i = 0; i < 5; ++i) AddRow(Table, "E", "202401", "1", i);
    TDbTable other("other");
    other.SetConnection(&Conn);
    other.SetTableName("PEOPLE");
    other.Open();
    EXPECT_EQ(other.RecordCount(), 5);
    AddRow(Table, "F", "202401", "1", 9);
    db::TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT count(*) AS N FROM PEOPLE");
    q.Open();
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 6);
    // And the first table, writing again after the other one read, is not held up.
    AddRow(Table, "G", "202401", "1", 10);
    other.First();
    EXPECT_EQ(other.RecordCount(), 7);
}

TEST_F(CommitTest, ClosingTheTableOrFlushingCommits) {
    AddRow(Table, "E", "202401", "1", 1);
    Table.FlushFileBuffers();
    EXPECT_EQ(CommittedRows(), 1);
    AddRow(Table, "E", "202401", "1", 2);
    Table.Close();
    EXPECT_EQ(CommittedRows(), 2);
    Table.Open();
    AddRow(Table, "E", "202401", "1", 3);
    db::FlushPendingWrites();
    EXPECT_EQ(CommittedRows(), 3);
}

}  // namespace

namespace {

class HeartbeatTest : public CommitTest {
protected:
    void TearDown() override { db::SetStatementHeartbeat({}); }
    void FillRows(int rows) {
        db::TDbQuery fill("fill");
        fill.SetConnection(&Conn);
        fill.SQL().Add("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                       std::to_string(rows) +
                       ") INSERT INTO PEOPLE (EMPCODE, PERIOD, CYCLE, SEQ) SELECT 'F', '202401', "
                       "'1', i FROM n");
        fill.ExecSQL();
    }
};

TEST_F(HeartbeatTest, LongStatementCallsItAndNeitherAFlushNorAFailureInsideHarmsTheStatement) {
    FillRows(200000);
    AddRow(Table, "E", "202402", "1", 1);  // a commit group stays open on the table's connection
    int calls = 0;
    db::SetStatementHeartbeat(
        [&calls] {
            ++calls;
            db::FlushPendingWrites();  // what a question to the operator does
            throw std::runtime_error("a window's failure does not end the statement");
        },
        0);
    // A count that has to look at every row, on the connection holding the group.
    Table.SetFilter("SEQ >= 0");
    Table.SetFiltered(true);
    EXPECT_EQ(Table.RecordCount(), 200001);
    EXPECT_GT(calls, 0);
    db::SetStatementHeartbeat({});
    Table.SetFiltered(false);
    AddRow(Table, "E", "202403", "1", 2);
    db::FlushPendingWrites();
    EXPECT_EQ(CommittedRows(), 200002);
}

}  // namespace
