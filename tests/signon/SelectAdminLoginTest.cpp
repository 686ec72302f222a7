// The login choice on real dictionary databases: the maintenance user opens PAYPARA, the
// version mark chooses the ADSSYS password, and the connection is left prepared for ADSSYS.
#include "signon/Credentials.h"
#include "signon/DB_UTIL.h"
#include "signon/PasswordUTIL.h"

#include "common/TestSupport.h"
#include "db/Db.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace peltorn::signon {
namespace {

using test::TempDir;

// A company dictionary whose ADSSYS password is adminPassword, with a PAYPARA table holding one
// record; mark std::nullopt makes a PAYPARA without DBVERSION.
std::string MakeCompany(const TempDir& dir, const std::string& adminPassword,
                        const std::optional<std::string>& mark,
                        const std::string& maintenancePassword = MaintenancePassword()) {
    const std::string path = (dir / "COMPANY.ADD").string();
    db::CreateDictionary(path,
                         {{kMaintenanceUser, maintenancePassword}, {kAdminUser, adminPassword}});

    db::TDbConnection conn("setup");
    conn.SetConnectPath(path);
    conn.Username = kAdminUser;
    conn.Password = adminPassword;
    db::TTableDef def{"PAYPARA", {{"COMPANY_NAME", db::TFieldType::ftString, 40, {}}}, {}};
    if (mark) def.Fields.push_back({"DBVERSION", db::TFieldType::ftString, 10, {}});
    def.Fields.push_back({"LOCKED", db::TFieldType::ftString, 1, {}});
    db::CreateTable(conn, def);

    db::TDbTable table("PAYPARA");
    table.SetConnection(&conn);
    table.SetTableName("PAYPARA");
    table.Open();
    table.Append();
    table.FieldByName("COMPANY_NAME").SetAsString("#GROUP");
    if (mark) table.FieldByName("DBVERSION").SetAsString(*mark);
    table.Post();
    table.Close();
    conn.Disconnect();
    return path;
}

class SelectAdminLoginTest : public ::testing::Test {
protected:
    // Signs on to a company prepared with mark whose ADSSYS password is the one expected for it,
    // and checks that the connection really opens with what SelectAdminLogin leaves behind.
    std::string SignOn(const std::optional<std::string>& mark, const std::string& expected) {
        const std::string path = MakeCompany(dir, expected, mark);
        conn.SetConnectPath(path);
        paraTable.SetConnection(&conn);
        std::string password = "unset";
        SelectAdminLogin(conn, paraTable, "T", password);

        EXPECT_FALSE(conn.IsConnected());
        EXPECT_EQ(conn.Username, kAdminUser);
        EXPECT_EQ(conn.Password, password);
        EXPECT_EQ(paraTable.TableName(), "PAYPARA");
        EXPECT_FALSE(paraTable.Exclusive());
        conn.Connect();  // the chosen credentials are accepted by the dictionary
        EXPECT_TRUE(conn.IsConnected());
        return password;
    }

    TempDir dir;
    db::TDbConnection conn{"dbDest"};
    db::TDbTable paraTable{"TablePara"};
};

TEST_F(SelectAdminLoginTest, Mark2018GivesTheFreeTablePassword) {
    EXPECT_EQ(SignOn("@2018", kFreeTablePassword), kFreeTablePassword);
}

TEST_F(SelectAdminLoginTest, Mark2019GivesTheAdministratorPassword) {
    EXPECT_EQ(SignOn("@2019", kAdminPassword), kAdminPassword);
}

TEST_F(SelectAdminLoginTest, EmptyMarkGivesTheAdministratorPassword) {
    EXPECT_EQ(SignOn("", kAdminPassword), kAdminPassword);
}

TEST_F(SelectAdminLoginTest, PayparaWithoutDbversionGivesTheFreeTablePassword) {
    EXPECT_EQ(SignOn(std::nullopt, kFreeTablePassword), kFreeTablePassword);
}

TEST_F(SelectAdminLoginTest, ExclusiveUseOfTheTableIsTurnedOff) {
    paraTable.SetExclusive(true);
    EXPECT_EQ(SignOn("@2019", kAdminPassword), kAdminPassword);
}

TEST_F(SelectAdminLoginTest, FlagOtherThanTLeavesConnectionAndTableUntouched) {
    const std::string path = MakeCompany(dir, kAdminPassword, "@2019");
    conn.SetConnectPath(path);
    conn.Username = kAdminUser;
    conn.Password = kAdminPassword;
    paraTable.SetConnection(&conn);
    paraTable.SetTableName("PAYPARA");
    paraTable.SetExclusive(true);
    paraTable.Open();

    for (const char* flag : {"t", "", "TRUE", "F", " T"}) {
        std::string password = "unset";
        SelectAdminLogin(conn, paraTable, flag, password);
        EXPECT_EQ(password, kFreeTablePassword) << flag;
        EXPECT_TRUE(conn.IsConnected()) << flag;
        EXPECT_EQ(conn.Username, kAdminUser) << flag;
        EXPECT_EQ(conn.Password, kAdminPassword) << flag;
        EXPECT_TRUE(paraTable.Active()) << flag;
        EXPECT_TRUE(paraTable.Exclusive()) << flag;
    }
}

// When PAYPARA cannot be opened the error reaches the caller; the connection keeps the
// maintenance credentials and the output holds the free-table password.
void ExpectFailedSignOn(db::TDbConnection& conn, db::TDbTable& paraTable) {
    std::string password = "unset";
    EXPECT_THROW(SelectAdminLogin(conn, paraTable, "T", password), db::EDbDatabaseError);
    EXPECT_EQ(password, kFreeTablePassword);
    EXPECT_EQ(conn.Username, kMaintenanceUser);
    EXPECT_EQ(conn.Password, MaintenancePassword());
    EXPECT_FALSE(paraTable.Active());
}

TEST_F(SelectAdminLoginTest, MissingDatabaseErrorPassesAndConnectionStaysDisconnected) {
    conn.SetConnectPath((dir / "NOWHERE.ADD").string());
    paraTable.SetConnection(&conn);
    ExpectFailedSignOn(conn, paraTable);
    EXPECT_FALSE(conn.IsConnected());
}

TEST_F(SelectAdminLoginTest, RefusedMaintenanceLoginPassesAndConnectionStaysDisconnected) {
    conn.SetConnectPath(MakeCompany(dir, kAdminPassword, "@2019", "another password"));
    paraTable.SetConnection(&conn);
    ExpectFailedSignOn(conn, paraTable);
    EXPECT_FALSE(conn.IsConnected());
}

TEST_F(SelectAdminLoginTest, MissingPayparaTableErrorPassesAndConnectionIsDisconnected) {
    const std::string path = (dir / "EMPTY.ADD").string();
    db::CreateDictionary(path,
                         {{kMaintenanceUser, MaintenancePassword()}, {kAdminUser, kAdminPassword}});
    conn.SetConnectPath(path);
    paraTable.SetConnection(&conn);
    ExpectFailedSignOn(conn, paraTable);
    // The open had connected the database as the maintenance user; that session is closed.
    EXPECT_FALSE(conn.IsConnected());
}

TEST(AdminPasswordForMarkTest, OnlyMark2018AndNoMarkKeepTheFreeTablePassword) {
    EXPECT_EQ(AdminPasswordForMark(std::nullopt), kFreeTablePassword);
    EXPECT_EQ(AdminPasswordForMark("@2018"), kFreeTablePassword);
    EXPECT_EQ(AdminPasswordForMark("@2019"), kAdminPassword);
    EXPECT_EQ(AdminPasswordForMark(""), kAdminPassword);
    EXPECT_EQ(AdminPasswordForMark("@2018 "), kAdminPassword);  // compared exactly
    EXPECT_EQ(AdminPasswordForMark("@2020"), kAdminPassword);
}

}  // namespace
}  // namespace peltorn::signon
