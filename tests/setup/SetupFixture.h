// A small installation for the tests of the "Setup" page and the windows: a program folder that
// is also the base folder, with ORVEX.ini (no DIR), the main database, four companies (two of
// them consolidated) and two merge groups:
//   NO 1 #GRP1 "T": CO01, CO02        NO 2 #GRP2 "N": CO02
// Main() creates the main window on it with FormCreate and a scripted operator.
#pragma once

#include "TestSupport.h"
#include "db/Db.h"
#include "schema/MakeDatabases.h"
#include "startup/FormMerge.h"
#include "startup/StartUp.h"

#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::test {

struct TCompanyRow {
    std::string Code, Name;
};
struct TGroupRow {
    int No;
    std::string Code, Master;
    std::vector<std::string> Sources;
};

inline const std::vector<TCompanyRow>& FixtureCompanies() {
    static const std::vector<TCompanyRow> rows = {{"#GRP1", "Group One"},
                                                  {"#GRP2", "Group Two"},
                                                  {"CO01", "Alpha Sdn Bhd"},
                                                  {"CO02", "Beta Sdn Bhd"}};
    return rows;
}

inline const std::vector<TGroupRow>& FixtureGroups() {
    static const std::vector<TGroupRow> rows = {{1, "#GRP1", "T", {"CO01", "CO02"}},
                                                {2, "#GRP2", "N", {"CO02"}}};
    return rows;
}

// Writes the main database and ORVEX.ini into folder.
inline void WriteSetupInstallation(const std::string& folder, bool withGroups = true) {
    schema::CreateMainDatabase(folder);
    {
        std::ofstream ini(folder + "/" + kSettingsFileName);
        ini << "[PATH]\nDICTIONARY=\n[SETTING]\nSERVERTYPE=\n";
    }
    db::TDbConnection conn("fixture");
    conn.SetConnectPath(folder);
    db::TDbTable company("company");
    company.SetConnection(&conn);
    company.SetTableName("MCOMPANY");
    company.Open();
    for (const auto& row : FixtureCompanies()) {
        company.Append();
        company.FieldByName("COMPANY_CODE").SetAsString(row.Code);
        company.FieldByName("COMPANY_NAME").SetAsString(row.Name);
        company.Post();
    }
    if (!withGroups) return;
    db::TDbTable header("header"), detail("detail");
    header.SetConnection(&conn);
    header.SetTableName("MERGRHD");
    header.Open();
    detail.SetConnection(&conn);
    detail.SetTableName("MERGEDTL");
    detail.Open();
    for (const auto& group : FixtureGroups()) {
        header.Append();
        header.FieldByName("NO").SetAsInteger(group.No);
        header.FieldByName("CODE").SetAsString(group.Code);
        header.FieldByName("MASTER").SetAsString(group.Master);
        header.Post();
        for (const auto& source : group.Sources) {
            detail.Append();
            detail.FieldByName("NO").SetAsInteger(group.No);
            detail.FieldByName("CODE").SetAsString(source);
            detail.Post();
        }
    }
    conn.Disconnect();
}

// The installation and a main window created on it.
class SetupInstallation {
public:
    explicit SetupInstallation(bool withGroups = true) {
        WriteSetupInstallation(Dir.Str(), withGroups);
        Form = std::make_unique<TFormMerge>(Operator);
        TStartOptions options;
        options.ProgramFolder = Dir.Str(true);
        options.Today = [] { return db::EncodeDate(2026, 3, 15); };
        FormCreate(*Form, options);
    }
    ~SetupInstallation() {
        if (Form) Form->DatabaseMain.Disconnect();
    }

    // The values of field in every row of table, in index order (moves the cursor).
    static std::vector<std::string> Column(db::TDbTable& table, const std::string& field) {
        std::vector<std::string> out;
        for (table.First(); !table.Eof(); table.Next()) {
            out.push_back(table.FieldByName(field).AsString());
        }
        return out;
    }

    TempDir Dir;
    ScriptedOperator Operator;
    std::unique_ptr<TFormMerge> Form;
};

}  // namespace peltorn::test
