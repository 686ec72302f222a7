// An installation in a temporary folder for the merge run's tests: a main database, company
// databases made from the schema catalogue (folders of free tables or data dictionaries), merge
// groups and their sources, rows put into and read back from any table, and the main window set
// up as start-up leaves it.
#pragma once

#include "TestSupport.h"
#include "db/Db.h"
#include "run/MergeRun.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "startup/FormMerge.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::test {

using TValues = std::vector<std::pair<std::string, std::string>>;
using TRow = std::map<std::string, std::string>;

class RunTest : public ::testing::Test {
protected:
    TempDir Dir;
    ScriptedOperator Op;
    std::unique_ptr<TFormMerge> Form;
    bool DictionaryLayout = false;

    std::string Base() const { return Dir.Str(true); }

    // Where a company's database lies on disk in the layout of the installation.
    std::string CompanyPath(const std::string& code) const {
        if (DictionaryLayout) return Base() + "COMPANY/" + code + "/" + code + ".ADD";
        return Base() + "COMPANY/" + code;
    }

    void MakeInstallation(bool dictionary) {
        DictionaryLayout = dictionary;
        schema::CreateMainDatabase(Base());
    }
    void AddCompany(const std::string& code, const std::string& path = {}) {
        std::string p = path.empty() ? CompanyPath(code) : path;
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        schema::CreateCompanyDatabase(p);
    }
    void AddGroup(int no, const std::string& code, const std::string& master = "T") {
        Put(Base(), "MERGRHD", {{"NO", std::to_string(no)}, {"CODE", code}, {"MASTER", master}});
    }
    void AddSource(int no, const std::string& code, const std::string& path = {}) {
        Put(Base(), "MERGEDTL", {{"NO", std::to_string(no)}, {"CODE", code}, {"PATH", path}});
    }

    // A connection to the database at path (a folder or a .ADD file), signed on as ADSSYS.
    static void Connect(db::TDbConnection& conn, const std::string& path) {
        conn.SetConnectPath(path);
        conn.Username = signon::kAdminUser;
        conn.Password = signon::AdminPasswordForMark(std::string(schema::kDefaultVersionMark));
        conn.Connect();
    }
    static void OpenTable(db::TDbTable& t, db::TDbConnection& conn, const std::string& table) {
        t.SetConnection(&conn);
        t.SetTableName(table);
        t.Open();
        if (!conn.IsDictionaryConn() && t.IsTableEncrypted())
            t.EnableEncryption(signon::kFreeTablePassword);
    }

    // Appends one row; values are texts (empty text in a date or number field is null).
    static void Put(const std::string& path, const std::string& table, const TValues& values) {
        db::TDbConnection conn("put");
        Connect(conn, path);
        db::TDbTable t("put");
        OpenTable(t, conn, table);
        t.Append();
        for (const auto& [field, value] : values) t.FieldByName(field).SetAsString(value);
        t.Post();
        t.Close();
        conn.Disconnect();
    }
    void PutIn(const std::string& code, const std::string& table, const TValues& values) {
        Put(CompanyPath(code), table, values);
    }

    // Every row of a table in natural order, each field as text; null fields are marked "<null>".
    static std::vector<TRow> Rows(const std::string& path, const std::string& table) {
        db::TDbConnection conn("rows");
        Connect(conn, path);
        db::TDbTable t("rows");
        OpenTable(t, conn, table);
        std::vector<TRow> rows;
        for (t.First(); !t.Eof(); t.Next()) {
            TRow row;
            for (int i = 0; i < t.FieldCount(); ++i)
                row[t.Fields(i).FieldName()] =
                    t.Fields(i).IsNull() ? "<null>" : t.Fields(i).AsString();
            rows.push_back(std::move(row));
        }
        t.Close();
        conn.Disconnect();
        return rows;
    }
    std::vector<TRow> RowsOf(const std::string& code, const std::string& table) {
        return Rows(CompanyPath(code), table);
    }
    // One field of every row, in natural order.
    std::vector<std::string> Column(const std::string& code, const std::string& table,
                                    const std::string& field) {
        std::vector<std::string> out;
        for (auto& row : RowsOf(code, table)) out.push_back(row[field]);
        return out;
    }

    // The main window as start-up leaves it, for the period.
    void MakeForm(const std::string& period) {
        Form = std::make_unique<TFormMerge>(Op);
        Form->DatabaseMain.SetConnectPath(Base());
        Form->DatabaseMain.Connect();
        Form->TableMCompany.Open();
        Form->TableMerge.Open();
        Form->TableMergeDTL.Open();
        // The dictionary layout's base folder has no trailing separator in ORVEX.ini files that
        // use it; the free-table layout's does. Both are formed as the run forms them.
        Form->BaseFolder = DictionaryLayout ? Dir.Str(false) : Base();
        Form->DictionarySetting = DictionaryLayout ? "YES" : "NO";
        Form->StdCurr = "MYR";
        for (auto* c : {&Form->dbDest, &Form->dbSource}) {
            c->Username = signon::kAdminUser;
            c->Password = signon::kAdminPassword;
        }
        Form->Controls.EditPeriod = period;
    }

    // Runs the merge; true when it completed. The form's connections are closed afterwards so
    // that the tests read the databases as another program would.
    bool Run() { return RunFor() == run::TMergeResult::Completed; }
    run::TMergeResult RunFor() {
        const run::TMergeResult result = run::RunMerge(*Form);
        db::FlushPendingWrites();
        Form->dbDest.Disconnect();
        Form->dbSource.Disconnect();
        return result;
    }
};

}  // namespace peltorn::test
