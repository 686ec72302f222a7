// Merge-group editing without the window (what `peltorn groups` does): the checks on entered
// codes, the rows written, and the command's output and exit codes.
#include "setup/MergeGroups.h"
#include "setup/SetupFixture.h"

#include <gtest/gtest.h>

namespace peltorn::test {
namespace {

using Codes = std::vector<std::string>;

class MergeGroupsTest : public ::testing::Test {
protected:
    SetupInstallation Inst;
    TFormMerge& Form = *Inst.Form;
};

TEST_F(MergeGroupsTest, ListsGroupsInNumberOrderWithTheirSources) {
    auto lines = setup::FormatGroups(setup::ListGroups(Form));
    EXPECT_EQ(lines, (Codes{"1 #GRP1 selected Group One", "    CO01 Alpha Sdn Bhd",
                            "    CO02 Beta Sdn Bhd", "2 #GRP2 not selected Group Two",
                            "    CO02 Beta Sdn Bhd"}));
}

TEST_F(MergeGroupsTest, AddGroupAcceptsOnlyConsolidatedCompaniesAndNewNumbers) {
    EXPECT_THROW(setup::AddGroup(Form, 3, "CO01"), setup::EGroupError);
    EXPECT_THROW(setup::AddGroup(Form, 3, "#NONE"), setup::EGroupError);
    EXPECT_THROW(setup::AddGroup(Form, 0, "#GRP1"), setup::EGroupError);
    EXPECT_THROW(setup::AddGroup(Form, 2, "#GRP1"), db::EDbDatabaseError);
    EXPECT_EQ(Form.TableMerge.State(), db::TDataSetState::dsBrowse);
    EXPECT_FALSE(Form.TableMCompany.Filtered());

    setup::AddGroup(Form, 5, "#GRP1");
    auto groups = setup::ListGroups(Form);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[2].No, 5);
    EXPECT_EQ(groups[2].Master, "N");
    EXPECT_TRUE(groups[2].Sources.empty());
}

TEST_F(MergeGroupsTest, AddSourceChecksTheGroupTheCodeAndDuplicates) {
    try {
        setup::AddSource(Form, 1, "CO99", "");
        FAIL() << "an unknown company was accepted";
    } catch (const setup::EGroupError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid Company Code  ! (CO99)");
    }
    EXPECT_THROW(setup::AddSource(Form, 9, "CO01", ""), setup::EGroupError);
    EXPECT_THROW(setup::AddSource(Form, 1, "#GRP1", ""), setup::EGroupError);
    EXPECT_THROW(setup::AddSource(Form, 1, "CO01", ""), db::EDbDatabaseError);

    setup::AddSource(Form, 2, "CO01", "/data/alpha");
    auto groups = setup::ListGroups(Form);
    ASSERT_EQ(groups[1].Sources.size(), 2u);
    EXPECT_EQ(groups[1].Sources[0].Code, "CO01");
    EXPECT_EQ(groups[1].Sources[0].Path, "/data/alpha");
    EXPECT_EQ(groups[0].Sources.size(), 2u);
}

TEST_F(MergeGroupsTest, RemovingAGroupKeepsItsSourcesUnderItsNumber) {
    EXPECT_EQ(setup::RemoveGroup(Form, 1), 2);
    EXPECT_THROW(setup::RemoveGroup(Form, 1), setup::EGroupError);
    setup::AddGroup(Form, 1, "#GRP2");
    EXPECT_EQ(setup::ListGroups(Form)[0].Sources.size(), 2u);
}

TEST_F(MergeGroupsTest, AddGroupRefusesADestinationThatIsASourceUnderItsNumber) {
    setup::AddSource(Form, 2, "#GRP1", "");
    EXPECT_EQ(setup::RemoveGroup(Form, 2), 2);  // CO02 and #GRP1 stay under NO 2
    try {
        setup::AddGroup(Form, 2, "#GRP1");
        FAIL() << "a source of NO 2 was made its destination";
    } catch (const setup::EGroupError& e) {
        EXPECT_EQ(std::string(e.what()), "Duplicated Code found in detail record ! (#GRP1)");
    }
    auto groups = setup::ListGroups(Form);
    ASSERT_EQ(groups.size(), 1u);  // nothing written
    EXPECT_EQ(groups[0].No, 1);

    setup::AddGroup(Form, 3, "#GRP1");  // not a source under NO 3
    setup::AddGroup(Form, 2, "#GRP2");  // not a source under NO 2
    groups = setup::ListGroups(Form);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[1].Code, "#GRP2");
    EXPECT_EQ(groups[1].Sources.size(), 2u);
}

TEST_F(MergeGroupsTest, RemoveSourceNeedsAnExistingSource) {
    EXPECT_THROW(setup::RemoveSource(Form, 2, "CO01"), setup::EGroupError);
    setup::RemoveSource(Form, 1, "CO01");
    auto groups = setup::ListGroups(Form);
    ASSERT_EQ(groups[0].Sources.size(), 1u);
    EXPECT_EQ(groups[0].Sources[0].Code, "CO02");
    EXPECT_EQ(groups[1].Sources.size(), 1u);
}

TEST_F(MergeGroupsTest, CheckAllAndUncheckAll) {
    setup::UncheckAll(Form);
    for (const auto& g : setup::ListGroups(Form)) EXPECT_EQ(g.Master, "N");
    setup::CheckAll(Form);
    for (const auto& g : setup::ListGroups(Form)) EXPECT_EQ(g.Master, "T");
}

TEST(GroupsCommandTest, EditsAndListsThroughTheSettingsFile) {
    TempDir dir;
    WriteSetupInstallation(dir.Str());
    const std::string ini = (dir / "ORVEX.ini").string();

    auto added = RunCli({"groups", "add", "3", "#GRP2", "--ini", ini});
    EXPECT_EQ(added.ExitCode, 0) << added.Err;
    auto source = RunCli({"groups", "add-source", "3", "CO01", "--path", "C:\\X;1", "--ini", ini});
    EXPECT_EQ(source.ExitCode, 0) << source.Err;
    EXPECT_EQ(RunCli({"groups", "uncheck-all", "--ini", ini}).ExitCode, 0);

    auto list = RunCli({"groups", "list", "--ini", ini});
    EXPECT_EQ(list.ExitCode, 0) << list.Err;
    EXPECT_EQ(list.Out,
              "1 #GRP1 not selected Group One\n    CO01 Alpha Sdn Bhd\n    CO02 Beta Sdn Bhd\n"
              "2 #GRP2 not selected Group Two\n    CO02 Beta Sdn Bhd\n"
              "3 #GRP2 not selected Group Two\n    CO01 Alpha Sdn Bhd PATH=C:\\X;1\n");

    auto bad = RunCli({"groups", "add", "4", "CO02", "--ini", ini});
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_EQ(bad.Err, "error: Invalid Company Code  ! (CO02)\n");
}

TEST(GroupsCommandTest, AddRefusesADestinationThatIsASourceUnderItsNumber) {
    TempDir dir;
    WriteSetupInstallation(dir.Str());
    const std::string ini = (dir / "ORVEX.ini").string();
    ASSERT_EQ(RunCli({"groups", "add-source", "2", "#GRP1", "--ini", ini}).ExitCode, 0);
    ASSERT_EQ(RunCli({"groups", "remove", "2", "--ini", ini}).ExitCode, 0);

    auto refused = RunCli({"groups", "add", "2", "#GRP1", "--ini", ini});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err, "error: Duplicated Code found in detail record ! (#GRP1)\n");
    auto list = RunCli({"groups", "list", "--ini", ini});
    EXPECT_EQ(list.Out,
              "1 #GRP1 selected Group One\n    CO01 Alpha Sdn Bhd\n    CO02 Beta Sdn Bhd\n");
}

TEST(GroupsCommandTest, AMissingSettingsFileIsAnErrorNamingIt) {
    TempDir dir;
    WriteSetupInstallation(dir.Str());
    const std::string missing = (dir / "missing.ini").string();
    for (const auto& args : {std::vector<std::string>{"groups", "--ini", missing, "list"},
                             std::vector<std::string>{"groups", "list", "--ini", missing}}) {
        auto r = RunCli(args);
        EXPECT_EQ(r.ExitCode, 1) << r.Err;
        EXPECT_EQ(r.Err, "error: Settings file not found: " + missing + "\n");
        EXPECT_EQ(r.Out, "");
    }
}

TEST(GroupsCommandTest, ADeviceAsSettingsFileGetsNoSetUpTables) {
    // /dev/zero reads as an empty settings file: its folder would be the base folder.
    const bool before = std::filesystem::exists("/dev/MERGRHD.ADT");
    auto r = RunCli({"groups", "--ini", "/dev/zero", "list"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("MCOMPANY.ADT"), std::string::npos) << r.Err;
    if (!before) {
        EXPECT_FALSE(std::filesystem::exists("/dev/MERGRHD.ADT"));
        EXPECT_FALSE(std::filesystem::exists("/dev/MERGEDTL.ADT"));
    }
}

TEST(GroupsCommandTest, AMissingMainDatabaseIsAnError) {
    TempDir dir;
    {
        std::ofstream ini(dir / "ORVEX.ini");
        ini << "[PATH]\nDIR=" << (dir / "nowhere").string() << "\n";
    }
    auto list = RunCli({"groups", "list", "--ini", (dir / "ORVEX.ini").string()});
    EXPECT_EQ(list.ExitCode, 1);
    EXPECT_NE(list.Err.find("nowhere"), std::string::npos) << list.Err;
}

}  // namespace
}  // namespace peltorn::test
