// The window's operator commits what has been posted before a message box or a question waits for
// the operator: another program looking at the table meanwhile sees every posted record.
#include "TestSupport.h"
#include "db/Db.h"
#include "startup/FormMerge.h"

#include <gtest/gtest.h>
#include <sqlcipher/sqlite3.h>

namespace peltorn::test {
namespace {

// Rows of a free table counted by a separate program's own connection (not through the layer,
// which would commit first for its own readers).
int RowsSeenOutside(const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    int rows = -1;
    if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &stmt, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        rows = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

class LookingOperator : public ScriptedOperator {
public:
    std::string File;
    std::vector<int> Seen;
    void Inform(const std::string& text) override {
        Seen.push_back(RowsSeenOutside(File, "NOTES"));
        ScriptedOperator::Inform(text);
    }
    bool Ask(const std::string& question) override {
        Seen.push_back(RowsSeenOutside(File, "NOTES"));
        return ScriptedOperator::Ask(question);
    }
};

TEST(CommittingOperator, PostedRecordsAreCommittedBeforeEveryMessageAndQuestion) {
    TempDir dir;
    db::TDbConnection conn("conn");
    conn.SetConnectPath(dir.Str());
    conn.Connect();
    db::TTableDef def;
    def.Name = "NOTES";
    def.Fields = {{"TEXT", db::TFieldType::ftString, 20, ""}};
    db::CreateTable(conn, def);

    LookingOperator op;
    op.File = (dir / "NOTES.ADT").string();
    TFormMerge form(op);
    db::TDbTable notes("notes");
    notes.SetConnection(&conn);
    notes.SetTableName("NOTES");
    notes.Open();

    auto post = [&notes](const char* text) {
        notes.Append();
        notes.FieldByName("TEXT").SetAsString(text);
        notes.Post();
    };
    post("one");
    form.Operator().Inform("shown");
    post("two");
    form.Operator().Ask("asked");
    post("three");
    form.FormMsg.ShowProgress(10, "working");
    op.Answers = {false};
    form.FormMsg.FormKeyDown(support::TFormMsg::KeyEscape);  // "Terminate processing ?"
    EXPECT_EQ(op.Seen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(op.Questions.size(), 2u);
    EXPECT_EQ(op.Messages, std::vector<std::string>{"shown"});
}

}  // namespace
}  // namespace peltorn::test
