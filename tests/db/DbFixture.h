// Small databases for the layer's own tests: a folder of free tables or a dictionary with one
// employee-like table keyed by three fields.
#pragma once

#include "TestSupport.h"
#include "db/Db.h"

#include <gtest/gtest.h>

#include <sqlcipher/sqlite3.h>

namespace peltorn::test {

inline db::TTableDef PeopleTable(const std::string& name = "PEOPLE") {
    using db::TFieldType;
    db::TTableDef def;
    def.Name = name;
    def.Fields = {
        {"EMPCODE", TFieldType::ftString, 12, ""}, {"PERIOD", TFieldType::ftString, 6, ""},
        {"CYCLE", TFieldType::ftString, 1, ""},    {"SEQ", TFieldType::ftInteger, 0, ""},
        {"AMOUNT", TFieldType::ftCurrency, 0, ""}, {"RATE", TFieldType::ftFloat, 0, ""},
        {"HIRED", TFieldType::ftDate, 0, ""},      {"NOTE", TFieldType::ftMemo, 0, ""}};
    def.Indexes = {{"EPC", {"EMPCODE", "PERIOD", "CYCLE"}, false}, {"PERIOD", {"PERIOD"}, false}};
    return def;
}

// Rows of the table in the file as another program sees them (its own connection); -1 when it
// cannot be read.
inline int CommittedRowsIn(const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &s, nullptr);
    int n = s && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
}

// A connection to a new folder of free tables (or a dictionary when dictionary is true) that
// holds PeopleTable.
class DbTest : public ::testing::Test {
protected:
    TempDir Dir;
    db::TDbConnection Conn{"conn"};

    void MakeFree() {
        Conn.SetConnectPath(Dir.Str());
        Conn.Connect();
    }
    // A new free-table folder holding PeopleTable, with table bound to it (opened when open,
    // ordered by index when given).
    void MakeFreePeople(db::TDbTable& table, bool open, const std::string& index = {}) {
        MakeFree();
        db::CreateTable(Conn, PeopleTable());
        table.SetConnection(&Conn);
        table.SetTableName("PEOPLE");
        if (!index.empty()) table.SetIndexFieldNames(index);
        if (open) table.Open();
    }
    // The layout a parameterised test runs in: a dictionary when dictionary is true.
    void MakeLayout(bool dictionary) {
        if (dictionary)
            MakeDictionary();
        else
            MakeFree();
    }
    void MakeDictionary(const std::string& user = "ADSSYS", const std::string& password = "pw") {
        std::string path = Dir.Str() + "/DATA.ADD";
        db::CreateDictionary(path, {{user, password}});
        Conn.SetConnectPath(path);
        Conn.Username = user;
        Conn.Password = password;
        Conn.Connect();
    }
    void AddRow(db::TDbTable& t, const std::string& emp, const std::string& period,
                const std::string& cycle, int seq, double amount = 0) {
        t.Append();
        t.FieldByName("EMPCODE").SetAsString(emp);
        t.FieldByName("PERIOD").SetAsString(period);
        t.FieldByName("CYCLE").SetAsString(cycle);
        t.FieldByName("SEQ").SetAsInteger(seq);
        t.FieldByName("AMOUNT").SetAsFloat(amount);
        t.Post();
    }
    std::vector<int> Seqs(db::TDbTable& t) {
        std::vector<int> out;
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("SEQ").AsInteger());
        return out;
    }
};

}  // namespace peltorn::test
