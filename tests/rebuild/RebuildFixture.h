// Fixture of the rebuild tests: a destination company database made from the schema catalogue in
// a temporary folder, a main window whose dbDest points at it, and small helpers that put rows
// into its tables and read them back through a connection of their own, so that what the tests
// see is what the rebuild wrote to the files.
#pragma once

#include "TestSupport.h"

#include "db/Db.h"
#include "schema/MakeDatabases.h"
#include "startup/FormMerge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::test {

using Row = std::vector<std::string>;
using Values = std::vector<std::pair<std::string, std::string>>;

class RebuildFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = (m_dir / "#GRP").string();
        schema::CreateCompanyDatabase(m_path);
        form.dbDest.SetConnectPath(m_path);
        m_check.SetConnectPath(m_path);
        form.Controls.EditPeriod = "200903";
    }

    // Appends one row; fields not named keep their defaults.
    void AddRow(const std::string& table, const Values& values, const std::string& password = {}) {
        db::TDbTable t("add");
        Bind(t, table, password);
        t.Append();
        for (const auto& [field, value] : values) t.FieldByName(field).SetAsString(value);
        t.Post();
    }

    // Every row of the table, the named fields as text, sorted.
    std::vector<Row> Rows(const std::string& table, const std::vector<std::string>& fields,
                          const std::string& password = {}) {
        db::TDbTable t("read");
        Bind(t, table, password);
        std::vector<Row> rows;
        for (t.First(); !t.Eof(); t.Next()) {
            Row row;
            for (const auto& f : fields) row.push_back(t.FieldByName(f).AsString());
            rows.push_back(std::move(row));
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // Every field of every row, for comparing whole tables.
    std::vector<Row> Dump(const std::string& table, const std::string& password = {}) {
        db::TDbTable t("dump");
        Bind(t, table, password);
        std::vector<std::string> fields;
        for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(t.Fields(i).FieldName());
        t.Close();
        return Rows(table, fields, password);
    }

    // Rewrites a table of the destination encrypted with password, as free-table installations
    // keep their payroll tables.
    void EncryptTable(const std::string& table, const std::string& password) {
        db::TDbTable t("encrypt");
        Bind(t, table, {});
        t.EnableEncryption(password);
        t.EncryptTable();
        ASSERT_TRUE(t.IsTableEncrypted());
    }

    TempDir m_dir;
    ScriptedOperator op;
    TFormMerge form{op};
    std::string m_path;

private:
    void Bind(db::TDbTable& t, const std::string& table, const std::string& password) {
        t.SetConnection(&m_check);
        t.SetTableName(table);
        t.EncryptionPassword = password;
        t.Open();
    }

    db::TDbConnection m_check{"check"};
};

}  // namespace peltorn::test
