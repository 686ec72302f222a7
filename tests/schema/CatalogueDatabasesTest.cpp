// Databases made from the catalogue: the main database, company databases of both layouts with
// their version mark and dictionary users, and the merge set-up tables made on demand.
#include "schema/Catalogue.h"
#include "schema/MakeDatabases.h"
#include "startup/MERGEMAKEDB.h"

#include "TestSupport.h"
#include "db/Db.h"
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/PasswordUTIL.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace peltorn::schema {
namespace {

using test::TempDir;

int Count(db::TDbConnection& conn, const std::string& table) {
    db::TDbTable t;
    t.SetConnection(&conn);
    t.SetTableName(table);
    t.Open();
    return t.RecordCount();
}

TEST(CreateMainDatabaseTest, MakesTheFolderAndThreeTablesWithUniquePrimaryIndexes) {
    TempDir dir;
    std::string path = (dir / "new" / "main").string();
    CreateMainDatabase(path);

    db::TDbConnection conn;
    conn.SetConnectPath(path);
    EXPECT_EQ(db::ListTables(conn), (std::vector<std::string>{"MCOMPANY", "MERGEDTL", "MERGRHD"}));

    db::TDbTable groups;
    groups.SetConnection(&conn);
    groups.SetTableName("MERGRHD");
    groups.SetIndexFieldNames("NO");
    groups.Open();
    groups.Append();
    groups.FieldByName("NO").SetAsInteger(1);
    groups.FieldByName("CODE").SetAsString("#GRP");
    groups.Post();
    groups.Append();
    groups.FieldByName("NO").SetAsInteger(1);
    EXPECT_THROW(groups.Post(), db::EDbDatabaseError);  // a second group with the same NO
    groups.Cancel();
    EXPECT_EQ(groups.RecordCount(), 1);
}

TEST(CreateMainDatabaseTest, RefusesAFolderThatHoldsOneOfTheTablesAndCreatesNothing) {
    TempDir dir;
    db::TDbConnection conn;
    conn.SetConnectPath(dir.Str());
    db::CreateTable(conn, *FindCatalogueTable("MERGRHD"));
    conn.Disconnect();

    try {
        CreateMainDatabase(dir.Str());
        FAIL() << "no error";
    } catch (const db::EDbDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("MERGRHD"), std::string::npos) << e.what();
    }
    EXPECT_EQ(db::ListTables(conn), (std::vector<std::string>{"MERGRHD"}));
}

TEST(CreateCompanyDatabaseTest, FolderHoldsEveryCompanyTableEmptyButPaypara) {
    TempDir dir;
    std::string path = (dir / "COMPANY" / "A01").string();
    CreateCompanyDatabase(path, "@2018");

    db::TDbConnection conn;
    conn.SetConnectPath(path);
    auto tables = db::ListTables(conn);
    ASSERT_EQ(tables.size(), CompanyTables().size());
    for (const auto& def : CompanyTables()) {
        int expected = def.Name == "PAYPARA" ? 1 : 0;
        EXPECT_EQ(Count(conn, def.Name), expected) << def.Name;
    }
    db::TDbTable para;
    para.SetConnection(&conn);
    para.SetTableName("PAYPARA");
    para.Open();
    EXPECT_EQ(para.FieldByName("DBVERSION").AsString(), "@2018");
}

// The stored tables keep the catalogue's column order, types and indexes, and every index opens
// as a field list, as the merge opens them.
TEST(CreateCompanyDatabaseTest, StoredTablesMatchTheCatalogue) {
    TempDir dir;
    CreateCompanyDatabase(dir.Str());
    db::TDbConnection conn;
    conn.SetConnectPath(dir.Str());
    for (const auto& def : CompanyTables()) {
        db::TTableDef stored = db::ReadTableDef(conn, def.Name);
        ASSERT_EQ(stored.Fields.size(), def.Fields.size()) << def.Name;
        for (std::size_t i = 0; i < def.Fields.size(); ++i) {
            EXPECT_EQ(stored.Fields[i].Name, def.Fields[i].Name) << def.Name;
            EXPECT_EQ(stored.Fields[i].Type, def.Fields[i].Type) << def.Name;
            EXPECT_EQ(stored.Fields[i].Size, def.Fields[i].Size) << def.Name;
        }
        ASSERT_EQ(stored.Indexes.size(), def.Indexes.size()) << def.Name;
        for (const auto& idx : def.Indexes) {
            std::string list;
            for (const auto& f : idx.Fields) list += (list.empty() ? "" : ";") + f;
            db::TDbTable t;
            t.SetConnection(&conn);
            t.SetTableName(def.Name);
            t.SetIndexFieldNames(list);
            EXPECT_NO_THROW(t.Open()) << def.Name << " " << list;
        }
    }
    db::TDbTable leave;
    leave.SetConnection(&conn);
    leave.SetTableName("EMPLEAVE");
    leave.SetIndexName("EMPCODE");
    leave.Open();
    leave.Append();
    leave.FieldByName("EMPCODE").SetAsString("E001");
    leave.FieldByName("START_DATE").SetAsDateTime(db::EncodeDate(2024, 3, 1));
    leave.FieldByName("LEAVE_CODE").SetAsString("AL");
    leave.FieldByName("ID").SetAsInteger(1);
    leave.Post();
    std::string start = leave.FieldByName("START_DATE").AsString();
    leave.First();
    EXPECT_TRUE(leave.FindKey({"E001", start, "AL", "1"}));  // four values on the named index
    EXPECT_FALSE(leave.FindKey({"E001", start, "AL", "2"}));
}

TEST(CreateCompanyDatabaseTest, DictionarySignsOnWithThePasswordsOfItsMark) {
    for (const char* mark : {"@2019", "@2018"}) {
        TempDir dir;
        std::string path = dir.Str() + "/COMPANY/B01/B01.ADD";
        CreateCompanyDatabase(path, mark);

        // The login choice reads the mark as the maintenance user and picks ADSSYS's password,
        // which the new dictionary accepts.
        db::TDbConnection conn;
        conn.SetConnectPath(path);
        db::TDbTable para;
        para.SetConnection(&conn);
        std::string password;
        signon::SelectAdminLogin(conn, para, "T", password);
        EXPECT_EQ(password, signon::AdminPasswordForMark(std::string(mark))) << mark;
        conn.Connect();
        EXPECT_EQ(db::ListTables(conn).size(), CompanyTables().size());
        EXPECT_EQ(Count(conn, "PAYPARA"), 1);
        conn.Disconnect();

        conn.Password = "wrong";
        EXPECT_THROW(conn.Connect(), db::EDbDatabaseError);
    }
}

TEST(CreateCompanyDatabaseTest, RefusesAnExistingDatabase) {
    TempDir dir;
    std::string path = dir.Str() + "/C.ADD";
    CreateCompanyDatabase(path);
    EXPECT_THROW(CreateCompanyDatabase(path), db::EDbDatabaseError);

    CreateCompanyDatabase(dir.Str() + "/free");
    EXPECT_THROW(CreateCompanyDatabase(dir.Str() + "/free"), db::EDbDatabaseError);
    db::TDbConnection conn;
    conn.SetConnectPath(dir.Str() + "/free");
    EXPECT_EQ(Count(conn, "PAYPARA"), 1);  // not written a second time
}

// A creation that fails part-way (here a folder stands where the P_HTRX table file would go)
// takes back the tables it made, and the folders it made for them.
TEST(CreateCompanyDatabaseTest, FailurePartWayLeavesNothingBehind) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::path co = fs::path(dir.Str()) / "CO";
    fs::create_directories(co / "P_HTRX.ADT");
    EXPECT_THROW(CreateCompanyDatabase(co.string()), db::EDbDatabaseError);
    std::vector<std::string> tableFiles;
    for (const auto& entry : fs::directory_iterator(co))
        if (entry.path().extension() == ".ADT" && entry.is_regular_file())
            tableFiles.push_back(entry.path().filename());
    EXPECT_EQ(tableFiles, std::vector<std::string>{});
    EXPECT_TRUE(fs::is_directory(co / "P_HTRX.ADT"));  // what was there before stays

    fs::path main = fs::path(dir.Str()) / "NEW" / "MAIN";
    fs::create_directories(main / "MERGRHD.ADT");
    EXPECT_THROW(CreateMainDatabase(main.string()), db::EDbDatabaseError);
    EXPECT_FALSE(fs::exists(main / "MCOMPANY.ADT"));
    EXPECT_FALSE(fs::exists(main / "MERGEDTL.ADT"));
}

TEST(MakeMergeTablesTest, CreatesOnlyTheMissingSetupTables) {
    TempDir dir;
    db::TDbConnection conn;
    conn.SetConnectPath(dir.Str());
    db::CreateTable(conn, *FindCatalogueTable("MCOMPANY"));
    db::CreateTable(conn, *FindCatalogueTable("MERGRHD"));
    {
        db::TDbTable t;
        t.SetConnection(&conn);
        t.SetTableName("MERGRHD");
        t.Open();
        t.Append();
        t.FieldByName("NO").SetAsInteger(7);
        t.Post();
    }
    conn.Disconnect();

    MakeMergeTables(dir.Str());
    EXPECT_EQ(db::ListTables(conn), (std::vector<std::string>{"MCOMPANY", "MERGEDTL", "MERGRHD"}));
    EXPECT_EQ(Count(conn, "MERGRHD"), 1);  // the existing table keeps its group
    conn.Disconnect();

    MakeMergeTables(dir.Str());  // nothing missing: nothing changes
    EXPECT_EQ(db::ListTables(conn).size(), 3u);
}

TEST(MakeMergeTablesTest, MakesNothingWhereThereIsNoCompanyMaster) {
    namespace fs = std::filesystem;
    TempDir dir;
    // An empty folder, a missing one, one whose MCOMPANY.ADT is a folder.
    const fs::path empty = dir / "EMPTY";
    const fs::path missing = dir / "MISSING";
    const fs::path odd = dir / "ODD";
    fs::create_directories(empty);
    fs::create_directories(odd / "MCOMPANY.ADT");
    for (const fs::path& folder : {empty, missing, odd}) {
        try {
            MakeMergeTables(folder.string());
            ADD_FAILURE() << "made set-up tables in " << folder;
        } catch (const db::EDbDatabaseError& e) {
            EXPECT_EQ(std::string(e.what()), std::string(kNoCompanyMaster) + folder.string());
        }
        EXPECT_FALSE(fs::exists(folder / "MERGRHD.ADT")) << folder;
        EXPECT_FALSE(fs::exists(folder / "MERGEDTL.ADT")) << folder;
    }
    EXPECT_FALSE(fs::exists(missing));

    // The company master in another letter case is found.
    const fs::path lower = dir / "LOWER";
    {
        db::TDbConnection conn;
        conn.SetConnectPath(lower.string());
        fs::create_directories(lower);
        db::CreateTable(conn, *FindCatalogueTable("MCOMPANY"));
        conn.Disconnect();
    }
    fs::rename(lower / "MCOMPANY.ADT", lower / "mcompany.adt");
    MakeMergeTables(lower.string());
    EXPECT_TRUE(fs::exists(lower / "MERGRHD.ADT"));
    EXPECT_TRUE(fs::exists(lower / "MERGEDTL.ADT"));
}

}  // namespace
}  // namespace peltorn::schema
