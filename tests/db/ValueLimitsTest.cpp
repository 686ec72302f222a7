// Values the field types cannot hold (money beyond its range, numbers that are not finite,
// integers beyond 32 bits), text cut to a character field's width, and the write batch that
// keeps posts back until it is committed.
#include "DbFixture.h"

#include <sqlcipher/sqlite3.h>

#include <chrono>
#include <limits>
#include <thread>

using namespace peltorn;
using namespace peltorn::test;
using db::TCurrency;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kMinUnits = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxUnits = std::numeric_limits<std::int64_t>::max();
const std::string kMoneyRange = " (-922337203685477.5808 to 922337203685477.5807)";
const std::string kIntegerRange = " (-2147483648 to 2147483647)";

// The message of the EDbDatasetError that body raises ("" when it raises none).
template <class Body>
std::string DatasetError(Body body) {
    try {
        body();
    } catch (const db::EDbDatasetError& e) {
        return e.what();
    }
    return "";
}

TEST(CurrencyLimits, ConversionRefusesWhatMoneyCannotHold) {
    for (double v : {kNaN, kInf, -kInf, 1e15, -9.3e14, 1e300}) {
        EXPECT_THROW(TCurrency::FromDouble(v), db::ECurrencyRange) << v;
        EXPECT_FALSE(TCurrency::Fits(v)) << v;
    }
    try {
        TCurrency::FromDouble(1e15);
    } catch (const db::ECurrencyRange& e) {
        EXPECT_EQ(e.what(), "1e+15 is outside the range of money" + kMoneyRange);
    }
    // The largest amounts a double carries below the limits convert exactly.
    EXPECT_EQ(TCurrency::FromDouble(922337203685477.5).Units, 9223372036854775000);
    EXPECT_EQ(TCurrency::FromDouble(-922337203685477.5).Units, -9223372036854775000);
}

TEST(CurrencyLimits, TextOfEveryUnitsValueAndSumsBeyondTheRange) {
    EXPECT_EQ(TCurrency::FromUnits(kMinUnits).ToString(), "-922337203685477.5808");
    EXPECT_EQ(TCurrency::FromUnits(kMaxUnits).ToString(), "922337203685477.5807");
    EXPECT_EQ(TCurrency::FromUnits(-1).ToString(), "-0.0001");

    const TCurrency max = TCurrency::FromUnits(kMaxUnits), min = TCurrency::FromUnits(kMinUnits);
    const TCurrency unit = TCurrency::FromUnits(1);
    EXPECT_THROW(max + unit, db::ECurrencyRange);
    EXPECT_THROW(min - unit, db::ECurrencyRange);
    EXPECT_THROW(unit - min, db::ECurrencyRange);
    TCurrency sum = max;
    EXPECT_THROW(sum += unit, db::ECurrencyRange);
    EXPECT_EQ(sum, max);  // a refused sum leaves the amount as it was
    EXPECT_EQ((min + max).Units, -1);
}

TEST(CutToWidthTest, NeverSplitsACharacter) {
    const std::string word =
        "Gr\xC3\xBC\xC3\x9F"
        "e";  // G r ü(2 bytes) ß(2) e
    EXPECT_EQ(db::CutToWidth(word, 3), "Gr");
    EXPECT_EQ(db::CutToWidth(word, 4), "Gr\xC3\xBC");
    EXPECT_EQ(db::CutToWidth(word, 5), "Gr\xC3\xBC");
    EXPECT_EQ(db::CutToWidth(word, 7), word);
    EXPECT_EQ(db::CutToWidth("a\xE2\x82\xAC", 3), "a");  // € has 3
    EXPECT_EQ(db::CutToWidth("\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 7), "\xF0\x9F\x98\x80");  // 4
    // Text that is not UTF-8 (a single-byte code page) is cut at the width.
    EXPECT_EQ(db::CutToWidth("ab\xA9\xA9\xA9\xA9", 4), "ab\xA9\xA9");
    EXPECT_EQ(db::CutToWidth("\xE9t\xE9t", 3), "\xE9t\xE9");
}

class ValueLimits : public DbTest {
protected:
    void SetUp() override {
        MakeFreePeople(Table, true);
        AddRow(Table, "E1", "202401", "1", 1, 10);
        Table.Close();
    }
    // Stores values the layer itself refuses, as a damaged or foreign table holds them.
    void Damage(const std::string& assignments) {
        db::TDbQuery q("damage");
        q.SetConnection(&Conn);
        q.SQL().Add("UPDATE PEOPLE SET " + assignments);
        q.ExecSQL();
    }
    db::TDbTable Table{"Table"};
};

TEST_F(ValueLimits, ValuesBeyondTheFieldTypesAreNamedWhenReadAndShownAsStoredText) {
    Damage("AMOUNT = 1e15, RATE = 9e999, SEQ = 5000000000");
    Table.Open();
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsString(), "1e+15");
    EXPECT_EQ(DatasetError([&] { Table.FieldByName("AMOUNT").AsCurrency(); }),
              "field AMOUNT of table PEOPLE: 1e+15 is outside the range of money" + kMoneyRange);
    EXPECT_EQ(Table.FieldByName("RATE").AsString(), "INF");
    EXPECT_EQ(DatasetError([&] { Table.FieldByName("RATE").AsCurrency(); }),
              "field RATE of table PEOPLE: INF is not a finite number");
    EXPECT_EQ(Table.FieldByName("SEQ").AsString(), "5000000000");
    EXPECT_EQ(DatasetError([&] { Table.FieldByName("SEQ").AsInteger(); }),
              "field SEQ of table PEOPLE: 5000000000 is outside the range of an integer field" +
                  kIntegerRange);
    Table.Close();

    // A statement's column names the table it selects from; a computed column names none.
    db::TDbQuery q("q");
    q.SetConnection(&Conn);
    q.SQL().Add("SELECT SEQ, SEQ * 2 AS TWICE FROM PEOPLE");
    q.Open();
    EXPECT_EQ(DatasetError([&] {
                  q.FieldByName("SEQ").AsInteger();
              }).rfind("field SEQ of table PEOPLE: 5000000000 is outside", 0),
              0u);
    EXPECT_EQ(DatasetError([&] {
                  q.FieldByName("TWICE").AsInteger();
              }).rfind("field TWICE: 10000000000 is outside", 0),
              0u);
    q.Close();

    // A number where an integer belongs, beyond any integer; a NaN, which the file keeps as null.
    Damage("SEQ = 1e300, AMOUNT = 9e999 - 9e999");
    Table.Open();
    EXPECT_EQ(Table.FieldByName("SEQ").AsString(), "1e+300");
    EXPECT_NE(DatasetError([&] { Table.FieldByName("SEQ").AsInteger(); }), "");
    EXPECT_TRUE(Table.FieldByName("AMOUNT").IsNull());
}

TEST_F(ValueLimits, WritingWhatTheFieldCannotHoldRaisesNamingFieldAndTable) {
    Table.Open();
    Table.Edit();
    auto error = [&](const char* field, auto assign) {
        return DatasetError([&] { assign(Table.FieldByName(field)); });
    };
    const std::string seqRange =
        "field SEQ of table PEOPLE: 5000000000 is outside the range of an integer field" +
        kIntegerRange;
    EXPECT_EQ(error("AMOUNT", [](db::TField& f) { f.SetAsFloat(1e15); }),
              "field AMOUNT of table PEOPLE: 1e+15 is outside the range of money" + kMoneyRange);
    EXPECT_EQ(error("AMOUNT", [](db::TField& f) { f.SetAsFloat(kNaN); }),
              "field AMOUNT of table PEOPLE: NAN is not a finite number");
    EXPECT_EQ(error("RATE", [](db::TField& f) { f.SetAsVariant(db::TDbValue(kInf)); }),
              "field RATE of table PEOPLE: INF is not a finite number");
    EXPECT_EQ(error("SEQ", [](db::TField& f) { f.SetAsVariant(db::TDbValue(5000000000)); }),
              seqRange);
    EXPECT_EQ(error("SEQ", [](db::TField& f) { f.SetAsFloat(5e9); }), seqRange);
    EXPECT_NE(error("SEQ", [](db::TField& f) { f.SetAsFloat(2147483647.5); }), "");  // rounds up
    EXPECT_EQ(error("SEQ", [](db::TField& f) { f.SetAsString("5000000000"); }), seqRange);
    EXPECT_EQ(error("HIRED", [](db::TField& f) { f.SetAsFloat(kNaN); }),
              "field HIRED of table PEOPLE: NAN is not a finite number");
    // The limits themselves are taken, and the refused values left the record as it was.
    Table.FieldByName("SEQ").SetAsVariant(db::TDbValue(std::int64_t{-2147483648}));
    Table.Post();
    EXPECT_EQ(Table.FieldByName("SEQ").AsInteger(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(Table.FieldByName("AMOUNT").AsString(), "10");
    EXPECT_TRUE(Table.FieldByName("RATE").IsNull());
}

TEST_F(ValueLimits, CharacterFieldIsCutAtACharacterBoundary) {
    Table.Open();
    Table.Edit();
    // EMPCODE is 12 bytes wide: eleven letters and a two-byte letter do not fit, ten and it do.
    Table.FieldByName("EMPCODE").SetAsString("ABCDEFGHIJK\xC3\xA9");
    Table.FieldByName("PERIOD").SetAsString(
        "20\xE2\x82\xAC\xE2\x82\xAC");  // 6 wide: 20€ and a cut €
    Table.Post();
    EXPECT_EQ(Table.FieldByName("EMPCODE").AsString(), "ABCDEFGHIJK");
    EXPECT_EQ(Table.FieldByName("PERIOD").AsString(), "20\xE2\x82\xAC");
    Table.Edit();
    Table.FieldByName("EMPCODE").SetAsString("ABCDEFGHIJ\xC3\xA9xyz");
    Table.Post();
    EXPECT_EQ(Table.FieldByName("EMPCODE").AsString(), "ABCDEFGHIJ\xC3\xA9");
}

// ---- the write batch ----

class WriteBatchTest : public ValueLimits {
protected:
    int CommittedRows() { return CommittedRowsIn(Dir.Str() + "/PEOPLE.ADT", "PEOPLE"); }
    // More posts than a commit group holds, for longer than a group lives, with a layer error
    // and a flush (each of which commits the groups otherwise) in between.
    void PostMany() {
        for (int i = 0; i < 2500; ++i) AddRow(Table, "B", "202402", "1", i);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        AddRow(Table, "B", "202402", "1", 2500);
        EXPECT_THROW(Table.FieldByName("NOSUCH"), db::EDbDatasetError);
        db::FlushPendingWrites();
    }
};

TEST_F(WriteBatchTest, PostsStayBackUntilCommittedAndAreTakenBackWithoutCommit) {
    Table.Open();
    {
        db::TWriteBatch batch;
        PostMany();
        EXPECT_EQ(CommittedRows(), 1);
        EXPECT_EQ(Table.RecordCount(), 2502);  // the posting table sees its own rows
    }
    EXPECT_EQ(CommittedRows(), 1);
    Table.Close();
    {
        db::TWriteBatch batch;  // closing the table before the batch ends takes its rows back
        Table.Open();
        AddRow(Table, "C", "202402", "1", 1);
        Table.Close();
    }
    EXPECT_EQ(CommittedRows(), 1);
    Table.Open();
    {
        db::TWriteBatch batch;
        PostMany();
        batch.Commit();
        EXPECT_EQ(CommittedRows(), 2502);
    }
    AddRow(Table, "D", "202402", "1", 1);  // after the batch, posts are grouped as always
    Table.Close();
    EXPECT_EQ(CommittedRows(), 2503);
}

}  // namespace
