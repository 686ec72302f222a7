// Start-up of the main window: the settings file and its reading rules, BaseFolder, the server
// types, the start credentials, the merge set-up tables, the period list, and a main database
// that cannot be connected.
#include "TestSupport.h"
#include "db/Db.h"
#include "schema/MakeDatabases.h"
#include "signon/Credentials.h"
#include "startup/FormMerge.h"
#include "startup/StartUp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace peltorn::test {
namespace {

namespace fs = std::filesystem;
using Servers = std::set<db::TServerType>;

class StartUpTest : public ::testing::Test {
protected:
    TempDir Program;  // the program folder, where ORVEX.ini lies
    TempDir Data;     // a base folder elsewhere
    ScriptedOperator Operator;
    TFormMerge Form{Operator};
    db::TDateTime Today = db::EncodeDate(2026, 3, 15);

    void WriteIni(const fs::path& file, const std::string& text) {
        std::ofstream out(file, std::ios::binary);
        out << text;
    }
    void Start() {
        TStartOptions options;
        options.ProgramFolder = Program.Str();  // without a separator: FormCreate adds one
        options.Today = [this] { return Today; };
        FormCreate(Form, options);
    }
    void ExpectStartedCleanly() {
        ASSERT_TRUE(Operator.Errors.empty()) << Operator.Errors.front();
        EXPECT_TRUE(Form.DatabaseMain.IsConnected());
        for (db::TDbTable* t :
             {&Form.TableMCompany, &Form.TableMCompany1, &Form.TableMerge, &Form.TableMergeDTL}) {
            EXPECT_TRUE(t->Active()) << t->Name();
        }
        EXPECT_EQ(Form.TableMergeDTL.IndexFieldNames(), "NO;CODE");
    }
};

TEST_F(StartUpTest, DirWithATrailingSeparatorIsTakenAsWritten) {
    schema::CreateMainDatabase(Data.Str());
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=" + Data.Str(true) + "\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_EQ(Form.BaseFolder, Data.Str(true));
    EXPECT_EQ(Form.DatabaseMain.ConnectPath(), Data.Str(true));
}

TEST_F(StartUpTest, DirWithoutATrailingSeparatorGetsNoneAdded) {
    schema::CreateMainDatabase(Data.Str());
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=" + Data.Str() + "\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_EQ(Form.BaseFolder, Data.Str());
}

TEST_F(StartUpTest, NoDirMeansTheProgramFolderWithItsSeparator) {
    schema::CreateMainDatabase(Program.Str());
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDICTIONARY=YES\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_EQ(Form.BaseFolder, Program.Str(true));
    EXPECT_EQ(Form.DictionarySetting, "YES");
}

TEST_F(StartUpTest, TheSettingsFileIsReadFromTheProgramFolderWhateverDirSays) {
    schema::CreateMainDatabase(Data.Str());
    WriteIni(Program / "ORVEX.ini",
             "[PATH]\nDICTIONARY=FROM-PROGRAM\nDIR=" + Data.Str(true) + "\n");
    WriteIni(Data / "ORVEX.ini", "[PATH]\nDICTIONARY=FROM-DIR\nDIR=elsewhere\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_EQ(Form.DictionarySetting, "FROM-PROGRAM");
    EXPECT_EQ(Form.SettingsFile, Program.Str(true) + "ORVEX.ini");
}

TEST_F(StartUpTest, OnlyUpperCaseRemoteRestrictsTheServerTypes) {
    schema::CreateMainDatabase(Program.Str());
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDICTIONARY=yes\n[SETTING]\nSERVERTYPE=remote\n");
    Start();
    ExpectStartedCleanly();
    const Servers both{db::TServerType::stREMOTE, db::TServerType::stLOCAL};
    EXPECT_EQ(Form.DatabaseMain.ServerTypes, both);
    EXPECT_EQ(Form.dbDest.ServerTypes, both);
    EXPECT_EQ(Form.DictionarySetting, "yes");  // kept as read; only "YES" selects dictionaries

    ScriptedOperator other;
    TFormMerge remote(other);
    WriteIni(Program / "ORVEX.ini", "[SETTING]\nSERVERTYPE=REMOTE\n");
    TStartOptions options;
    options.ProgramFolder = Program.Str(true);
    FormCreate(remote, options);
    const Servers remoteOnly{db::TServerType::stREMOTE};
    EXPECT_EQ(remote.DatabaseMain.ServerTypes, remoteOnly);
    EXPECT_EQ(remote.dbDest.ServerTypes, remoteOnly);
    EXPECT_EQ(remote.dbSource.ServerTypes, remoteOnly);
}

TEST_F(StartUpTest, SettingsFollowTheWindowsReadingRules) {
    WriteIni(Program / "ORVEX.ini",
             "; comment line\r\n"
             "[path]\r\n"
             "  dictionary =  C:\\PAY\\DATA;X \\  \r\n"
             "Dir=first\r\n"
             "DIR=second\r\n"
             "[Setting]\r\n"
             "ServerType=REMOTE\r\n");
    TSettings settings = ReadSettingsFile((Program / "ORVEX.ini").string());
    EXPECT_EQ(settings.Dictionary, "C:\\PAY\\DATA;X \\");
    EXPECT_EQ(settings.Dir, "first");
    EXPECT_EQ(settings.ServerType, "REMOTE");

    TSettings missing = ReadSettingsFile((Program / "absent.ini").string());
    EXPECT_EQ(missing.Dictionary, "");
    EXPECT_EQ(missing.Dir, "");
    EXPECT_EQ(missing.ServerType, "");
}

TEST_F(StartUpTest, OnePairOfDoubleQuotesAroundAWholeValueIsDropped) {
    WriteIni(Program / "ORVEX.ini",
             "[PATH]\r\n"
             "DICTIONARY = \"YES\"  \r\n"
             "DIR=\"  C:\\PAY DATA\\  \"\r\n"
             "[SETTING]\r\n"
             "SERVERTYPE=\"\"REMOTE\"\"\r\n");
    TSettings settings = ReadSettingsFile((Program / "ORVEX.ini").string());
    EXPECT_EQ(settings.Dictionary, "YES");
    EXPECT_EQ(settings.Dir, "  C:\\PAY DATA\\  ");  // the blanks inside the quotes stay
    EXPECT_EQ(settings.ServerType, "\"REMOTE\"");   // one pair only

    WriteIni(Program / "ORVEX.ini",
             "[PATH]\nDICTIONARY=a\"b\"c\nDIR=\"open\n[SETTING]\nSERVERTYPE=\"\n");
    settings = ReadSettingsFile((Program / "ORVEX.ini").string());
    EXPECT_EQ(settings.Dictionary, "a\"b\"c");  // quotes inside a value are kept
    EXPECT_EQ(settings.Dir, "\"open");          // not around the whole value: kept
    EXPECT_EQ(settings.ServerType, "\"");

    // A quoted DIR names the base folder without its quotes.
    schema::CreateMainDatabase(Data.Str());
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=\"" + Data.Str(true) + "\"\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_EQ(Form.BaseFolder, Data.Str(true));
}

TEST_F(StartUpTest, TheSettingsFileBesideTheProgramIsFoundInAnyLetterCase) {
    schema::CreateMainDatabase(Data.Str());
    WriteIni(Program / "orvex.INI", "[PATH]\nDICTIONARY=FOUND\nDIR=" + Data.Str(true) + "\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_EQ(Form.DictionarySetting, "FOUND");
    EXPECT_EQ(Form.BaseFolder, Data.Str(true));
    EXPECT_EQ(Form.SettingsFile, Program.Str(true) + "orvex.INI");
    EXPECT_EQ(FindFileNoCase(Program.Str(true) + "ORVEX.ini"), Program.Str(true) + "orvex.INI");
    EXPECT_EQ(FindFileNoCase(Program.Str(true) + "ORVEX.ini.bak"), "");
}

TEST_F(StartUpTest, AGivenSettingsFileThatIsMissingIsReportedAndNothingIsMade) {
    const std::string missing = (Data / "missing.ini").string();
    TStartOptions options = StartOptionsFor("/usr/bin/peltorn", missing);
    options.Today = [this] { return Today; };
    FormCreate(Form, options);
    ASSERT_EQ(Operator.Errors.size(), 1u);
    EXPECT_EQ(Operator.Errors[0], "Settings file not found: " + missing);
    EXPECT_FALSE(Form.DatabaseMain.IsConnected());
    EXPECT_FALSE(Form.TableMerge.Active());
    EXPECT_TRUE(fs::is_empty(Data.Path()));  // no set-up tables made in the file's folder
}

TEST_F(StartUpTest, SetUpTablesAreMadeOnlyBesideTheCompanyMaster) {
    // A base folder that is no main database: the set-up tables would make it look like one.
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=" + Data.Str(true) + "\n");
    Start();
    ASSERT_EQ(Operator.Errors.size(), 1u);
    EXPECT_NE(Operator.Errors[0].find("MCOMPANY.ADT"), std::string::npos) << Operator.Errors[0];
    EXPECT_TRUE(fs::is_empty(Data.Path()));
    EXPECT_FALSE(Form.TableMerge.Active());
    EXPECT_TRUE(Form.Controls.EditPeriodItems.empty());
}

TEST_F(StartUpTest, SetsTheFixedStateOfTheWindow) {
    schema::CreateMainDatabase(Program.Str());
    Form.Controls.ActivePage = 1;
    Start();  // no settings file at all: every value empty
    ExpectStartedCleanly();
    EXPECT_EQ(Form.StdCurr, "MYR");
    EXPECT_EQ(Form.Controls.Caption, "PELTORN VER 9.7.18");
    EXPECT_EQ(Form.Controls.ActivePage, 0);
    EXPECT_EQ(Form.dbDest.Username, "ADSSYS");
    EXPECT_EQ(Form.dbSource.Username, "ADSSYS");
    EXPECT_EQ(Form.dbDest.Password, signon::kAdminPassword);
    EXPECT_EQ(Form.dbSource.Password, signon::kAdminPassword);
    EXPECT_EQ(Form.DatabaseMain.Username, "");
    EXPECT_FALSE(Form.dbDest.IsConnected());
    EXPECT_FALSE(Form.dbSource.IsConnected());
    EXPECT_FALSE(Form.TableMCompany.Filtered());
}

TEST_F(StartUpTest, PeriodListInMarchHoldsTheYearAndShowsMonth03) {
    BuildPeriodList(Form, db::EncodeDate(2026, 3, 15));
    const auto& items = Form.Controls.EditPeriodItems;
    ASSERT_EQ(items.size(), 12u);
    EXPECT_EQ(items.front(), "202601\t202601");
    EXPECT_EQ(items[8], "202609\t202609");
    EXPECT_EQ(items[9], "202610\t202610");
    EXPECT_EQ(items.back(), "202612\t202612");
    EXPECT_EQ(Form.Controls.EditPeriodItemIndex, 2);
    EXPECT_EQ(Form.Controls.EditPeriod, "202603");
}

TEST_F(StartUpTest, PeriodListInDecemberShowsMonth12AndRebuildsFromScratch) {
    BuildPeriodList(Form, db::EncodeDate(2026, 3, 15));
    BuildPeriodList(Form, db::EncodeDate(2027, 12, 2) + 0.75);  // evening of 2 December
    ASSERT_EQ(Form.Controls.EditPeriodItems.size(), 12u);
    EXPECT_EQ(Form.Controls.EditPeriodItems.front(), "202701\t202701");
    EXPECT_EQ(Form.Controls.EditPeriodItemIndex, 11);
    EXPECT_EQ(Form.Controls.EditPeriod, "202712");
}

TEST_F(StartUpTest, AMainDatabaseThatCannotBeConnectedIsReportedAndStopsStartUp) {
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=" + (Data / "missing").string() + "\n");
    Start();
    ASSERT_EQ(Operator.Errors.size(), 1u);
    EXPECT_NE(Operator.Errors[0].find("missing"), std::string::npos) << Operator.Errors[0];
    EXPECT_FALSE(Form.DatabaseMain.IsConnected());
    EXPECT_FALSE(Form.TableMCompany.Active());
    EXPECT_FALSE(Form.TableMerge.Active());
    EXPECT_TRUE(Form.Controls.EditPeriodItems.empty());
    EXPECT_EQ(Form.Controls.EditPeriod, "");
    // The steps before the failure were done: the window can still open.
    EXPECT_EQ(Form.Controls.Caption, "PELTORN VER 9.7.18");
    EXPECT_EQ(Form.StdCurr, "MYR");
}

TEST_F(StartUpTest, MissingSetUpTablesAreMadeInTheBaseFolder) {
    // A main database with the company master only.
    schema::CreateMainDatabase(Data.Str());
    fs::remove(Data / "MERGRHD.ADT");
    fs::remove(Data / "MERGEDTL.ADT");
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=" + Data.Str(true) + "\n");
    Start();
    ExpectStartedCleanly();
    EXPECT_TRUE(fs::exists(Data / "MERGRHD.ADT"));
    EXPECT_TRUE(fs::exists(Data / "MERGEDTL.ADT"));
    EXPECT_TRUE(Form.TableMerge.IsEmpty());
}

TEST_F(StartUpTest, TheSetUpTableTestLooksInTheProgramFolder) {
    // MERGRHD.ADT beside the program hides that the base folder lacks the set-up tables: opening
    // them then fails with the standard error report and the period list stays empty.
    schema::CreateMainDatabase(Data.Str());
    fs::remove(Data / "MERGRHD.ADT");
    std::ofstream(Program / "MERGRHD.ADT") << "";
    WriteIni(Program / "ORVEX.ini", "[PATH]\nDIR=" + Data.Str(true) + "\n");
    Start();
    ASSERT_EQ(Operator.Errors.size(), 1u);
    EXPECT_NE(Operator.Errors[0].find("MERGRHD"), std::string::npos) << Operator.Errors[0];
    EXPECT_TRUE(Form.TableMCompany1.Active());
    EXPECT_FALSE(Form.TableMerge.Active());
    EXPECT_TRUE(Form.Controls.EditPeriodItems.empty());
}

TEST_F(StartUpTest, AnIniOptionMakesItsFolderTheProgramFolder) {
    schema::CreateMainDatabase(Data.Str());
    WriteIni(Data / "custom.ini", "[PATH]\nDICTIONARY=X\n");
    TStartOptions options = StartOptionsFor("/usr/bin/peltorn", (Data / "custom.ini").string());
    EXPECT_EQ(options.IniFile, (Data / "custom.ini").string());
    EXPECT_EQ(options.ProgramFolder, "");
    options.Today = [this] { return Today; };
    FormCreate(Form, options);
    ExpectStartedCleanly();
    EXPECT_EQ(Form.ProgramFolder, Data.Str(true));
    EXPECT_EQ(Form.BaseFolder, Data.Str(true));
    EXPECT_EQ(Form.DictionarySetting, "X");
}

TEST(StartOptionsTest, WithoutIniTheProgramFolderIsTheExecutablesFolder) {
    TStartOptions options = StartOptionsFor("ignored", "");
    EXPECT_EQ(options.IniFile, "");
    ASSERT_FALSE(options.ProgramFolder.empty());
    EXPECT_EQ(options.ProgramFolder.back(), '/');
    EXPECT_TRUE(fs::exists(options.ProgramFolder + "test_startup"));
    EXPECT_EQ(FolderOf("C:\\PAY\\merge.exe"), "C:\\PAY\\");
    EXPECT_EQ(FolderOf("merge"), "./");
}

}  // namespace
}  // namespace peltorn::test

namespace peltorn::test {
namespace {

// An installed program (in a system folder) without ORVEX.ini beside it reads the user's, then
// the machine's settings file; a program anywhere else, or one with its own file, keeps its own.
TEST(StartOptionsTest, InstalledProgramReadsTheUsersThenTheMachinesSettings) {
    TempDir config, etc, program;
    const std::string user = config.Str() + "/peltorn/ORVEX.ini";
    const std::string machine = etc.Str() + "/orvex.ini";  // found in any letter case
    fs::create_directories(config.Path() / "peltorn");
    std::ofstream(machine) << "[PATH]\n";
    EXPECT_EQ(InstalledSettingsFile("/usr/bin/", config.Str(), etc.Str()), machine);
    std::ofstream(user) << "[PATH]\n";
    EXPECT_EQ(InstalledSettingsFile("/usr/bin/", config.Str(), etc.Str()), user);
    EXPECT_EQ(InstalledSettingsFile("/usr/local/bin", config.Str(), etc.Str()), user);
    // Not a system folder: the file beside the program, as always.
    EXPECT_EQ(InstalledSettingsFile(program.Str(true), config.Str(), etc.Str()), "");
    fs::remove(user);
    fs::remove(machine);
    EXPECT_EQ(InstalledSettingsFile("/usr/bin/", config.Str(), etc.Str()), "");
}

TEST(StartOptionsTest, SystemFoldersAreTheInstallationFoldersOnly) {
    EXPECT_TRUE(IsSystemFolder("/usr/bin"));
    EXPECT_TRUE(IsSystemFolder("/opt/peltorn/"));
    EXPECT_FALSE(IsSystemFolder("/usrdata/pay"));
    EXPECT_FALSE(IsSystemFolder("/srv/pay/"));
}

}  // namespace
}  // namespace peltorn::test
