// The table cursor: order, navigation, FindKey, filters, master links, editing and the null
// rules, on both kinds of database.
#include "DbFixture.h"

#include <cmath>
#include <filesystem>

using namespace peltorn;
using namespace peltorn::test;
using db::TDbTable;

namespace {

class TableTest : public DbTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        MakeLayout(GetParam());
        db::CreateTable(Conn, PeopleTable());
        Table.SetConnection(&Conn);
        Table.SetTableName("PEOPLE");
    }
    TDbTable Table{"Table"};
};

TEST_P(TableTest, WalksInIndexOrderWithRowidBreakingTies) {
    Table.Open();
    AddRow(Table, "E2", "202401", "1", 1);
    AddRow(Table, "E1", "202402", "1", 2);
    AddRow(Table, "E1", "202401", "1", 3);
    AddRow(Table, "E1", "202401", "1", 4);                   // duplicate key of 3
    EXPECT_EQ(Seqs(Table), (std::vector<int>{1, 2, 3, 4}));  // natural order
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    EXPECT_EQ(Seqs(Table), (std::vector<int>{3, 4, 2, 1}));
    Table.SetIndexName("PERIOD");
    EXPECT_EQ(Seqs(Table), (std::vector<int>{1, 3, 4, 2}));
    EXPECT_EQ(Table.RecordCount(), 4);
}

TEST_P(TableTest, RecordsReadAheadNeverHideAChangeMadeMeanwhile) {
    // A long run of Next reads ahead; what another dataset posts meanwhile, and what this one
    // changes of the order, is still seen exactly as a fresh read sees it.
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    Table.Open();
    for (int i = 1; i <= 20; ++i) AddRow(Table, "E" + std::to_string(100 + i), "202401", "1", i);
    TDbTable other("other");
    other.SetConnection(&Conn);
    other.SetTableName("PEOPLE");
    other.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    other.Open();

    std::vector<int> seen;
    std::vector<double> amounts;
    for (Table.First(); !Table.Eof(); Table.Next()) {
        const int seq = Table.FieldByName("SEQ").AsInteger();
        seen.push_back(seq);
        amounts.push_back(Table.FieldByName("AMOUNT").AsFloat());
        if (seq == 5) {
            // Just ahead of the walk: one record changed, one added, one removed by the other.
            ASSERT_TRUE(other.FindKey({"E107"}));
            other.Edit();
            other.FieldByName("AMOUNT").SetAsFloat(55);
            other.Post();
            AddRow(other, "E107", "202402", "1", 99);
            ASSERT_TRUE(other.FindKey({"E108"}));
            other.Delete();
        }
        if (seq == 10) {
            Table.Edit();
            Table.FieldByName("AMOUNT").SetAsFloat(7);  // not a key field: the walk goes on
            Table.Post();
        }
        if (seq == 12) {
            // This one's own record moves to the end of the order: the walk goes on from there.
            Table.Edit();
            Table.FieldByName("EMPCODE").SetAsString("E999");
            Table.Post();
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 99, 9, 10, 11, 12}));
    EXPECT_EQ(amounts[6], 55.0);
    EXPECT_EQ(Seqs(Table), (std::vector<int>{1,  2,  3,  4,  5,  6,  7,  99, 9,  10,
                                             11, 13, 14, 15, 16, 17, 18, 19, 20, 12}));
    ASSERT_TRUE(Table.FindKey({"E110"}));
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsFloat(), 7.0);
}

TEST_P(TableTest, KeySearchesFollowedByNextFindTheSameAsAnyOther) {
    // A cursor whose key searches are followed by Next searches from the key onwards; what it
    // finds, fails to find and walks must be what a plain key search gives.
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    Table.Open();
    AddRow(Table, "E2", "202401", "1", 1);
    AddRow(Table, "E1", "202401", "2", 2);
    AddRow(Table, "E1", "202401", "1", 3);
    AddRow(Table, "E1", "202401", "1", 4);
    AddRow(Table, "E3", "202402", "1", 5);
    TDbTable other("other");
    other.SetConnection(&Conn);
    other.SetTableName("PEOPLE");
    other.SetIndexFieldNames("EMPCODE");
    other.Open();
    auto walk = [&](const std::vector<std::string>& key) {
        std::vector<int> seqs;
        if (!Table.FindKey(key)) return seqs;
        for (; !Table.Eof() && Table.FieldByName("EMPCODE").AsString() == key[0]; Table.Next())
            seqs.push_back(Table.FieldByName("SEQ").AsInteger());
        return seqs;
    };
    // Within a transaction of the table's own, as a run converting rows is.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(walk({"E1", "202401", "1"}), (std::vector<int>{3, 4, 2}));
        EXPECT_EQ(walk({"E1", "202401"}), (std::vector<int>{3, 4, 2}));
        ASSERT_TRUE(Table.FindKey({"E2"}));
        Table.Edit();
        Table.FieldByName("AMOUNT").SetAsFloat(1);
        Table.Post();
        EXPECT_FALSE(Table.FindKey({"E1", "202401", "3"}));  // E2 follows: not found, stays
        EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 1);
        EXPECT_FALSE(Table.FindKey({"E4"}));
        EXPECT_FALSE(Table.FindKey({"E0"}));
        EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 1);
        ASSERT_TRUE(Table.FindKey({"E2", "202401", "1"}));
        // The record after the one found is changed by another dataset before Next reads it.
        ASSERT_TRUE(other.FindKey({"E3"}));
        other.Edit();
        other.FieldByName("SEQ").SetAsInteger(50 + round);
        other.Post();
        Table.Next();
        EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 50 + round);
    }
}

TEST_P(TableTest, EofOnEmptyAndAfterLastKeepsLastRecordCurrent) {
    Table.Open();
    EXPECT_TRUE(Table.Eof());
    EXPECT_EQ(Table.RecordCount(), 0);
    AddRow(Table, "E1", "202401", "1", 1);
    AddRow(Table, "E2", "202401", "1", 2);
    Table.First();
    EXPECT_FALSE(Table.Eof());
    Table.Next();
    EXPECT_FALSE(Table.Eof());
    Table.Next();
    EXPECT_TRUE(Table.Eof());
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 2);
}

TEST_P(TableTest, FindKeyMatchesLeadingFieldsAndStaysWhenNotFound) {
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    Table.Open();
    AddRow(Table, "E1", "202401", "1", 1);
    AddRow(Table, "E1", "202402", "1", 2);
    AddRow(Table, "E2", "202401", "S", 3);
    EXPECT_TRUE(Table.FindKey({"E1", "202402"}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 2);
    EXPECT_TRUE(Table.FindKey({"E2"}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 3);
    EXPECT_FALSE(Table.FindKey({"E1", "202403"}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 3);  // the cursor stays
    EXPECT_FALSE(Table.FindKey({"e2"}));                 // exact, with case
    EXPECT_TRUE(Table.FindKey({"E1", "202401", "1"}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 1);
    // Trailing blanks of a key value do not count, as character fields do not keep them.
    EXPECT_TRUE(Table.FindKey({"E2  "}));
}

TEST_P(TableTest, FindKeyErrorsWithoutIndexAndWithTooManyValues) {
    Table.Open();
    AddRow(Table, "E1", "202401", "1", 1);
    try {
        Table.FindKey({"E1"});
        FAIL() << "no error";
    } catch (const db::EDbDatasetError& e) {
        EXPECT_STREQ(
            e.what(),
            "An index must be active to perform this operation. Set the IndexName property.");
    }
    Table.SetIndexFieldNames("EMPCODE;PERIOD");  // leading fields of the index EPC
    try {
        Table.FindKey({"E1", "202401", "1"});
        FAIL() << "no error";
    } catch (const db::EDbDatasetError& e) {
        EXPECT_STREQ(e.what(), "Too many values given for current index");
    }
    EXPECT_TRUE(Table.FindKey({"E1", "202401"}));
}

TEST_P(TableTest, IndexFieldNamesWithoutMatchingIndexFailsNamingTheFields) {
    Table.SetIndexFieldNames("CYCLE;EMPCODE");
    try {
        Table.Open();
        FAIL() << "no error";
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("CYCLE;EMPCODE"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("PEOPLE"), std::string::npos);
    }
    EXPECT_FALSE(Table.Active());
}

TEST_P(TableTest, FilterIsSeenByNavigationCountAndFindKey) {
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    Table.Open();
    AddRow(Table, "#A", "202401", "1", 1);
    AddRow(Table, "B", "202401", "1", 2);
    AddRow(Table, "#C", "202401", "1", 3);
    Table.OnFilterRecord = [](TDbTable& t) {
        return t.FieldByName("EMPCODE").AsString()[0] == '#';
    };
    Table.SetFiltered(true);
    EXPECT_EQ(Seqs(Table), (std::vector<int>{1, 3}));
    EXPECT_EQ(Table.RecordCount(), 2);
    EXPECT_FALSE(Table.FindKey({"B"}));
    EXPECT_TRUE(Table.FindKey({"#C"}));
    Table.SetFiltered(false);
    EXPECT_EQ(Seqs(Table), (std::vector<int>{1, 3, 2}));  // "#" sorts before letters
    Table.OnFilterRecord = nullptr;
    Table.SetFilter("SEQ >= 2");
    Table.SetFiltered(true);
    EXPECT_EQ(Seqs(Table), (std::vector<int>{3, 2}));
    EXPECT_FALSE(Table.FindKey({"#A"}));
}

TEST_P(TableTest, MasterLinkRestrictsDetailAndFollowsMasterMoves) {
    db::TTableDef groups;
    groups.Name = "GROUPS";
    groups.Fields = {{"NO", db::TFieldType::ftInteger, 0, ""},
                     {"CODE", db::TFieldType::ftString, 8, ""}};
    groups.Indexes = {{"NO", {"NO"}, true}};
    db::CreateTable(Conn, groups);
    db::TTableDef sources = groups;
    sources.Name = "SOURCES";
    sources.Indexes = {{"NOCODE", {"NO", "CODE"}, true}};
    db::CreateTable(Conn, sources);

    TDbTable master("master"), detail("detail");
    master.SetConnection(&Conn);
    master.SetTableName("GROUPS");
    master.SetIndexFieldNames("NO");
    detail.SetConnection(&Conn);
    detail.SetTableName("SOURCES");
    detail.SetIndexFieldNames("NO;CODE");
    detail.SetMasterSource(&master, "NO");
    master.Open();
    detail.Open();
    for (int no : {1, 2}) {
        master.Append();
        master.FieldByName("NO").SetAsInteger(no);
        master.Post();
    }
    master.First();
    for (const char* code : {"B", "A"}) {
        detail.Append();  // NO taken from the master
        detail.FieldByName("CODE").SetAsString(code);
        detail.Post();
    }
    master.Next();
    detail.Append();
    detail.FieldByName("CODE").SetAsString("C");
    detail.Post();

    master.First();
    std::vector<std::string> seen;
    for (detail.First(); !detail.Eof(); detail.Next())
        seen.push_back(detail.FieldByName("CODE").AsString());
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(detail.RecordCount(), 2);
    EXPECT_FALSE(detail.FindKey({"2", "C"}));  // another group's row is not visible
    master.Next();
    EXPECT_EQ(detail.FieldByName("CODE").AsString(), "C");
    EXPECT_EQ(detail.FieldByName("NO").AsInteger(), 2);
    EXPECT_EQ(detail.RecordCount(), 1);
}

TEST_P(TableTest, PostUpdatesInPlaceAndKeyViolationLeavesRecordInEditing) {
    db::TTableDef def;
    def.Name = "UNIQ";
    def.Fields = {{"NO", db::TFieldType::ftInteger, 0, ""},
                  {"NAME", db::TFieldType::ftString, 10, ""}};
    def.Indexes = {{"NO", {"NO"}, true}};
    db::CreateTable(Conn, def);
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("UNIQ");
    t.SetIndexFieldNames("NO");
    t.Open();
    t.Append();
    t.FieldByName("NO").SetAsInteger(1);
    t.FieldByName("NAME").SetAsString("one");
    t.Post();
    t.Append();
    t.FieldByName("NO").SetAsInteger(1);
    EXPECT_THROW(t.Post(), db::EDbDatabaseError);
    EXPECT_EQ(t.State(), db::TDataSetState::dsInsert);
    t.FieldByName("NO").SetAsInteger(2);
    t.Post();
    EXPECT_EQ(t.RecordCount(), 2);
    ASSERT_TRUE(t.FindKey({"1"}));
    t.Edit();
    t.FieldByName("NAME").SetAsString("uno");
    t.Post();
    EXPECT_EQ(t.RecordCount(), 2);
    ASSERT_TRUE(t.FindKey({"1"}));
    EXPECT_EQ(t.FieldByName("NAME").AsString(), "uno");
    EXPECT_THROW(t.FieldByName("NAME").SetAsString("x"), db::EDbDatasetError);  // not editing
}

TEST_P(TableTest, DeleteMovesToNextAndEmptiesToEof) {
    Table.Open();
    for (int i = 1; i <= 3; ++i) AddRow(Table, "E", "202401", "1", i);
    Table.First();
    Table.Delete();
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 2);
    int deleted = 0;
    for (Table.First(); !Table.Eof();) {
        Table.Delete();
        ++deleted;
    }
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(Table.RecordCount(), 0);
}

TEST_P(TableTest, NullAndTypeRoundTrips) {
    Table.Open();
    Table.Append();
    Table.FieldByName("EMPCODE").SetAsString("E1   ");
    Table.FieldByName("AMOUNT").SetAsFloat(12.34567);
    Table.FieldByName("HIRED").SetAsString("31/01/2024");
    Table.Post();
    Table.First();
    EXPECT_EQ(Table.FieldByName("EMPCODE").AsString(), "E1");
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsCurrency().Units, 123457);  // four decimals kept
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsString(), "12.3457");
    EXPECT_EQ(Table.FieldByName("HIRED").AsString(), "31/01/2024");
    EXPECT_EQ(Table.FieldByName("HIRED").AsDateTime(), db::EncodeDate(2024, 1, 31));
    // Nulls read as empty text, 0 and the zero date.
    EXPECT_TRUE(Table.FieldByName("RATE").IsNull());
    EXPECT_EQ(Table.FieldByName("RATE").AsFloat(), 0.0);
    EXPECT_EQ(Table.FieldByName("SEQ").AsString(), "");
    EXPECT_EQ(Table.FieldByName("NOTE").AsString(), "");
    Table.Edit();
    Table.FieldByName("HIRED").SetAsString("");  // empty text writes null
    Table.FieldByName("AMOUNT").SetAsString("");
    Table.FieldByName("SEQ").SetAsString("");
    Table.Post();
    EXPECT_TRUE(Table.FieldByName("HIRED").IsNull());
    EXPECT_TRUE(Table.FieldByName("AMOUNT").IsNull());
    EXPECT_TRUE(Table.FieldByName("SEQ").IsNull());
    EXPECT_EQ(Table.FieldByName("HIRED").AsDateTime(), 0.0);
    Table.Edit();
    EXPECT_THROW(Table.FieldByName("SEQ").SetAsString("abc"), db::EDbDatasetError);
    EXPECT_THROW(Table.FieldByName("HIRED").SetAsString("31/02/2024"), db::EDbDatasetError);
    Table.FieldByName("EMPCODE").SetAsString("ABCDEFGHIJKLMNOP");  // cut to 12
    Table.FieldByName("HIRED").SetAsDateTime(0);                   // the zero date is null
    Table.Post();
    EXPECT_EQ(Table.FieldByName("EMPCODE").AsString(), "ABCDEFGHIJKL");
    EXPECT_TRUE(Table.FieldByName("HIRED").IsNull());
}

TEST_P(TableTest, FieldsByNameInAnyCaseOrByPosition) {
    Table.Open();
    EXPECT_EQ(Table.FieldCount(), 8);
    EXPECT_EQ(&Table.FieldByName("empcode"), &Table.Fields(0));
    EXPECT_EQ(Table.FindField("nope"), nullptr);
    try {
        Table.FieldByName("NOPE");
        FAIL();
    } catch (const db::EDbDatasetError& e) {
        EXPECT_STREQ(e.what(), "Field 'NOPE' not found");
    }
    EXPECT_EQ(Table.FieldByName("AMOUNT").DataType(), db::TFieldType::ftCurrency);
    EXPECT_EQ(Table.FieldByName("PERIOD").Size(), 6);
}

TEST_P(TableTest, ExclusiveOpenRefusedWhileAnotherDatasetHoldsTheTable) {
    Table.Open();
    TDbTable other("other");
    other.SetConnection(&Conn);
    other.SetTableName("PEOPLE");
    other.SetExclusive(true);
    EXPECT_THROW(other.Open(), db::EDbDatabaseError);
    {
        TDbTable shared("shared");
        shared.SetConnection(&Conn);
        shared.SetTableName("PEOPLE");
        shared.Open();
        EXPECT_THROW(Table.PackTable(), db::EDbDatabaseError) << "packing needs the table alone";
    }
    Table.PackTable();
    Table.Close();
    other.Open();
    EXPECT_THROW(Table.Open(), db::EDbDatabaseError);  // held exclusively
    db::TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT * FROM PEOPLE");
    EXPECT_THROW(q.Open(), db::EDbDatabaseError);
    other.PackTable();
    other.Close();
    Table.Open();
}

TEST_P(TableTest, BeforeAndAfterOpenHandlersRunInOrder) {
    std::vector<std::string> calls;
    Table.BeforeOpen = [&](db::TDataSet& d) {
        calls.push_back(d.Active() ? "before-open" : "before");
    };
    Table.AfterOpen = [&](db::TDataSet& d) {
        calls.push_back(d.Active() ? "after" : "after-closed");
    };
    Table.Open();
    EXPECT_EQ(calls, (std::vector<std::string>{"before", "after"}));
}

TEST_P(TableTest, LookupFieldShowsResultOfAnotherTable) {
    db::TTableDef companies;
    companies.Name = "COMPANIES";
    companies.Fields = {{"COMPANY_CODE", db::TFieldType::ftString, 8, ""},
                        {"COMPANY_NAME", db::TFieldType::ftString, 40, ""}};
    companies.Indexes = {{"CODE", {"COMPANY_CODE"}, true}};
    db::CreateTable(Conn, companies);
    TDbTable comp("comp");
    comp.SetConnection(&Conn);
    comp.SetTableName("COMPANIES");
    comp.Open();
    comp.Append();
    comp.FieldByName("COMPANY_CODE").SetAsString("E1");
    comp.FieldByName("COMPANY_NAME").SetAsString("A rather long company name here");
    comp.Post();
    Table.AddLookupField("DESC", "EMPCODE", comp, "COMPANY_CODE", "COMPANY_NAME", 10);
    Table.Open();
    AddRow(Table, "E1", "202401", "1", 1);
    AddRow(Table, "E9", "202401", "1", 2);
    Table.First();
    EXPECT_EQ(Table.FieldByName("DESC").AsString(), "A rather l");
    Table.Next();
    EXPECT_EQ(Table.FieldByName("DESC").AsString(), "");
    EXPECT_EQ(comp.FieldByName("COMPANY_CODE").AsString(), "E1");  // lookup does not move it
}

TEST_P(TableTest, MissingTableIsAnErrorNamingTableAndDatabase) {
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("NOSUCH");
    try {
        t.Open();
        FAIL();
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_EQ(e.Code(), db::TDbErrorCode::TableNotFound);
        EXPECT_NE(std::string(e.what()).find("NOSUCH"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find(Dir.Str()), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(BothKinds, TableTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Dictionary" : "FreeTables"; });

}  // namespace

namespace {

class CursorEdgeTest : public DbTest {
protected:
    void SetUp() override { MakeFreePeople(Table, false); }
    TDbTable Table{"Table"};
};

TEST_F(CursorEdgeTest, NullKeysSortFirstAndAreWalkedOnceEach) {
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    Table.Open();
    AddRow(Table, "B", "202401", "1", 1);
    Table.Append();  // EMPCODE and PERIOD left null
    Table.FieldByName("SEQ").SetAsInteger(2);
    Table.Post();
    Table.Append();
    Table.FieldByName("EMPCODE").SetAsString("A");
    Table.FieldByName("SEQ").SetAsInteger(3);
    Table.Post();
    Table.Append();
    Table.FieldByName("SEQ").SetAsInteger(4);
    Table.Post();
    EXPECT_EQ(Seqs(Table), (std::vector<int>{2, 4, 3, 1}));
    // Backwards as well.
    std::vector<int> back;
    for (Table.Last(); !Table.Bof(); Table.Prior())
        back.push_back(Table.FieldByName("SEQ").AsInteger());
    EXPECT_EQ(back, (std::vector<int>{1, 3, 4, 2}));
}

TEST_F(CursorEdgeTest, IndexByNameTakesAllItsFieldsAsKey) {
    db::TTableDef def;
    def.Name = "LEAVE";
    def.Fields = {{"EMPCODE", db::TFieldType::ftString, 12, ""},
                  {"START_DATE", db::TFieldType::ftDate, 0, ""},
                  {"LEAVE_CODE", db::TFieldType::ftString, 8, ""},
                  {"ID", db::TFieldType::ftInteger, 0, ""}};
    def.Indexes = {{"EMPCODE", {"EMPCODE", "START_DATE", "LEAVE_CODE", "ID"}, false}};
    db::CreateTable(Conn, def);
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("LEAVE");
    t.SetIndexName("EMPCODE");
    t.Open();
    t.Append();
    t.FieldByName("EMPCODE").SetAsString("E1");
    t.FieldByName("START_DATE").SetAsDateTime(db::EncodeDate(2024, 3, 5));
    t.FieldByName("LEAVE_CODE").SetAsString("AL");
    t.FieldByName("ID").SetAsInteger(7);
    t.Post();
    // Key values are texts, converted to the fields' types (the date by the date format).
    EXPECT_TRUE(t.FindKey({"E1", "05/03/2024", "AL", "7"}));
    EXPECT_FALSE(t.FindKey({"E1", "06/03/2024", "AL", "7"}));
    EXPECT_THROW(t.FindKey({"E1", "05/03/2024", "AL", "7", "x"}), db::EDbDatasetError);
    EXPECT_THROW(t.FindKey({"E1", "05/03/2024", "AL", "seven"}), db::EDbDatasetError);
}

TEST_F(CursorEdgeTest, AutoIncrementIsNumberedWhenLeftEmpty) {
    db::TTableDef def;
    def.Name = "BNK";
    def.Fields = {{"NAME", db::TFieldType::ftString, 8, ""},
                  {"TRXID", db::TFieldType::ftAutoInc, 0, ""}};
    db::CreateTable(Conn, def);
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("BNK");
    t.Open();
    t.Append();
    t.FieldByName("NAME").SetAsString("a");
    t.Post();
    EXPECT_EQ(t.FieldByName("TRXID").AsInteger(), 1);
    t.Append();
    t.FieldByName("TRXID").SetAsInteger(40);
    t.Post();
    t.Append();
    t.Post();
    EXPECT_EQ(t.FieldByName("TRXID").AsInteger(), 41);
}

TEST_F(CursorEdgeTest, CancelRestoresTheStoredRecord) {
    Table.Open();
    AddRow(Table, "E1", "202401", "1", 1, 10);
    Table.Edit();
    Table.FieldByName("AMOUNT").SetAsFloat(99);
    Table.Cancel();
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsFloat(), 10.0);
    Table.Append();
    Table.FieldByName("SEQ").SetAsInteger(5);
    Table.Cancel();
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 1);
    EXPECT_EQ(Table.RecordCount(), 1);
}

TEST_F(CursorEdgeTest, PostsWithChangingAssignedFieldsWriteEachRecordAsAssigned) {
    // Consecutive posts reuse the statement of the previous post only while the same fields are
    // assigned; a different set must not write the earlier set's values or miss its own.
    Table.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");
    Table.Open();
    AddRow(Table, "E1", "202401", "1", 1, 10);
    Table.Append();
    Table.FieldByName("EMPCODE").SetAsString("E2");
    Table.FieldByName("RATE").SetAsFloat(2.5);
    Table.Post();
    ASSERT_TRUE(Table.FindKey({"E1"}));
    Table.Edit();
    Table.FieldByName("SEQ").SetAsInteger(7);
    Table.Post();
    ASSERT_TRUE(Table.FindKey({"E1"}));
    Table.Edit();
    Table.FieldByName("AMOUNT").SetAsFloat(11);
    Table.Post();
    ASSERT_TRUE(Table.FindKey({"E1"}));
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), 7);
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsFloat(), 11.0);
    ASSERT_TRUE(Table.FindKey({"E2"}));
    EXPECT_TRUE(Table.FieldByName("SEQ").IsNull());
    EXPECT_EQ(Table.FieldByName("RATE").AsFloat(), 2.5);
}

TEST_F(DbTest, PostedRecordIsWhatTheTableStored) {
    // After a post the current record is the stored one, also where the table stores more than
    // was posted (a default, a trigger) or other than was posted (a real zero's sign).
    MakeDictionary();
    db::TTableDef def;
    def.Name = "PAID";
    def.Fields = {{"EMPCODE", db::TFieldType::ftString, 12, ""},
                  {"AMOUNT", db::TFieldType::ftCurrency, 0, ""},
                  {"STATUS", db::TFieldType::ftString, 1, "'A'"},
                  {"NOTE", db::TFieldType::ftString, 20, ""}};
    db::CreateTable(Conn, def);
    TDbTable t("t");
    t.SetConnection(&Conn);
    t.SetTableName("PAID");
    t.Open();
    t.Append();
    t.FieldByName("EMPCODE").SetAsString("E1");
    t.FieldByName("AMOUNT").SetAsFloat(-0.0);
    t.Post();
    EXPECT_EQ(t.FieldByName("STATUS").AsString(), "A");
    EXPECT_FALSE(std::signbit(t.FieldByName("AMOUNT").AsFloat()));
    t.Close();

    db::TDbQuery trigger("trigger");
    trigger.SetConnection(&Conn);
    trigger.SQL().Add(
        "CREATE TRIGGER PAID_NOTE AFTER UPDATE OF AMOUNT ON PAID BEGIN "
        "UPDATE PAID SET NOTE = 'changed' WHERE rowid = new.rowid; END");
    trigger.ExecSQL();
    t.Open();
    t.Edit();
    t.FieldByName("AMOUNT").SetAsFloat(12.5);
    t.Post();
    EXPECT_EQ(t.FieldByName("NOTE").AsString(), "changed");
    EXPECT_EQ(t.FieldByName("AMOUNT").AsFloat(), 12.5);
}

TEST_F(DbTest, TableThatCannotBeMadeLeavesNoFileBehind) {
    MakeFree();
    db::TTableDef def = PeopleTable("BROKEN");
    def.Indexes.push_back({"BAD", {"NO_SUCH_FIELD"}, false});
    try {
        db::CreateTable(Conn, def);
        ADD_FAILURE() << "an index on an unknown field was made";
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_FIELD"), std::string::npos);
    }
    def = PeopleTable("BROKEN");
    def.Fields.push_back(def.Fields.front());  // the storage engine refuses a repeated field
    EXPECT_THROW(db::CreateTable(Conn, def), db::EDbError);
    for (const auto& entry : std::filesystem::directory_iterator(Dir.Str()))
        ADD_FAILURE() << "left behind: " << entry.path();
    db::CreateTable(Conn, PeopleTable("BROKEN"));  // the name is free for a sound definition
}

}  // namespace
