// Fixture of the currency conversion tests: a destination and a source company database made
// from the schema catalogue in a temporary folder, a main window with a scripted operator whose
// dbDest and dbSource stand on them, and small helpers to write and read rows.
#pragma once

#include "TestSupport.h"
#include "db/Db.h"
#include "schema/Catalogue.h"
#include "schema/MakeDatabases.h"
#include "startup/FormMerge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::test {

using FieldValues = std::vector<std::pair<std::string, std::string>>;

// Appends one row; values are given as text, an empty text leaves the field null.
inline void Insert(db::TDbConnection& conn, const std::string& table, const FieldValues& values) {
    db::TDbTable t("insert");
    t.SetConnection(&conn);
    t.SetTableName(table);
    t.Open();
    t.Append();
    for (const auto& [name, value] : values) t.FieldByName(name).SetAsString(value);
    t.Post();
    t.Close();
}

// A table read through an index, positioned by Find.
class Reader {
public:
    Reader(db::TDbConnection& conn, const std::string& table, const std::string& index) {
        m_table.SetConnection(&conn);
        m_table.SetTableName(table);
        m_table.SetIndexFieldNames(index);
        m_table.Open();
    }
    bool Find(const std::vector<std::string>& keys) { return m_table.FindKey(keys); }
    double F(const std::string& name) { return m_table.FieldByName(name).AsFloat(); }
    std::string S(const std::string& name) { return m_table.FieldByName(name).AsString(); }
    bool Null(const std::string& name) { return m_table.FieldByName(name).IsNull(); }
    db::TDbTable& Table() { return m_table; }

private:
    db::TDbTable m_table{"reader"};
};

inline int CountRows(db::TDbConnection& conn, const std::string& table) {
    db::TDbTable t("count");
    t.SetConnection(&conn);
    t.SetTableName(table);
    t.Open();
    return t.RecordCount();
}

// Replaces a catalogue table of the database at path by def (the database must not be
// connected by anyone).
inline void ReplaceTable(const std::string& path, const db::TTableDef& def) {
    std::filesystem::remove(std::filesystem::path(path) / (def.Name + ".ADT"));
    db::TDbConnection conn("replace");
    conn.SetConnectPath(path);
    db::CreateTable(conn, def);
    conn.Disconnect();
}

// The catalogue's definition of table without the fields for which drop is true.
template <class Pred>
db::TTableDef CatalogueTableWithout(const std::string& table, Pred drop) {
    db::TTableDef def = *schema::FindCatalogueTable(table);
    def.Fields.erase(std::remove_if(def.Fields.begin(), def.Fields.end(),
                                    [&](const db::TFieldDef& f) { return drop(f.Name); }),
                     def.Fields.end());
    return def;
}

class CurrencyTest : public ::testing::Test {
protected:
    static constexpr const char* kPeriod = "202403";

    CurrencyTest() {
        m_destPath = (m_dir / "COMPANY" / "#GRP").string();
        m_srcPath = (m_dir / "COMPANY" / "CO1").string();
    }

    void SetUp() override {
        schema::CreateCompanyDatabase(m_destPath);
        schema::CreateCompanyDatabase(m_srcPath);
        PrepareTables();
        form.StdCurr = "MYR";
        form.Controls.EditPeriod = kPeriod;
        form.SourceDbPath = m_srcPath;
        form.dbDest.SetConnectPath(m_destPath);
        form.dbDest.Connect();
        form.dbSource.SetConnectPath(m_srcPath);
        form.dbSource.Connect();
    }

    // Tests that change table layouts do it here, before anything is connected.
    virtual void PrepareTables() {}

    // An employee of the destination with the pay currency.
    void Employee(const std::string& empNo, const std::string& fcurr,
                  const std::string& localCurr = "MYR") {
        Insert(form.dbDest, "EMPLOYEE",
               {{"EMP_NO", empNo}, {"FCURR_CODE", fcurr}, {"LOCAL_CURR_CODE", localCurr}});
    }
    void Rate(const std::string& curr, const std::string& rate,
              const std::string& period = kPeriod) {
        Insert(form.dbSource, "EXRATE",
               {{"CURR", curr}, {"EXCODE", "MYR"}, {"PERIOD", period}, {"EX_RATE", rate}});
    }
    void Header(const std::string& empNo, const std::string& cycle, FieldValues values) {
        values.insert(values.begin(), {{"EMPCODE", empNo}, {"PERIOD", kPeriod}, {"CYCLE", cycle}});
        Insert(form.dbDest, "P_HTRX", values);
    }
    void Detail(const std::string& table, const std::string& empNo, const std::string& cycle,
                FieldValues values) {
        values.insert(values.begin(), {{"EMPCODE", empNo}, {"PERIOD", kPeriod}, {"CYCLE", cycle}});
        Insert(form.dbDest, table, values);
    }
    void Allowance(const std::string& empNo, const std::string& cycle, FieldValues values) {
        Detail("P_DTRXAW", empNo, cycle, std::move(values));
    }
    void AllowanceCode(const std::string& code, const std::string& isTax,
                       const std::string& isAbsent = "") {
        Insert(
            form.dbDest, "ALLOWNCE",
            {{"ALLOW_CODE", code}, {"YEAR", "2024"}, {"IS_TAX", isTax}, {"IS_ABSENT", isAbsent}});
    }

    Reader HeaderReader() { return Reader(form.dbDest, "P_HTRX", "EMPCODE;PERIOD;CYCLE;PAYDAY"); }
    Reader AllowanceReader() {
        return Reader(form.dbDest, "P_DTRXAW", "EMPCODE;PERIOD;CYCLE;ALLW_DED_CODE");
    }

    bool HasMessage(const std::string& text) const {
        return std::find(op.Messages.begin(), op.Messages.end(), text) != op.Messages.end();
    }
    bool HasLogLine(const std::string& text) const {
        const auto& log = form.Controls.Memo1;
        return std::find(log.begin(), log.end(), text) != log.end();
    }

    TempDir m_dir;
    std::string m_destPath;
    std::string m_srcPath;
    ScriptedOperator op;
    TFormMerge form{op};
};

}  // namespace peltorn::test
