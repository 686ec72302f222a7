// The handlers of the "Setup" page, driven without a screen: the company filter of the two
// drop-downs, F4 deletion in each grid, posting when a grid loses the focus, the read-only source
// grid without a group, and the marking of all groups.
#include "setup/SetupFixture.h"
#include "setup/SetupPage.h"

#include <gtest/gtest.h>

namespace peltorn::test {
namespace {

using setup::kKeyF4;
using Codes = std::vector<std::string>;

class SetupPageTest : public ::testing::Test {
protected:
    SetupInstallation Inst;
    TFormMerge& Form = *Inst.Form;

    Codes Groups() { return SetupInstallation::Column(Form.TableMerge, "CODE"); }
    Codes Marks() { return SetupInstallation::Column(Form.TableMerge, "MASTER"); }
    Codes SourcesOf(int no) {
        EXPECT_TRUE(Form.TableMerge.FindKey({std::to_string(no)}));
        return SetupInstallation::Column(Form.TableMergeDTL, "CODE");
    }
};

TEST_F(SetupPageTest, StartsWithTheTablesOpenAndTheFilterOff) {
    ASSERT_TRUE(Inst.Operator.Errors.empty()) << Inst.Operator.Errors.front();
    EXPECT_FALSE(Form.TableMCompany.Filtered());
    EXPECT_EQ(Groups(), (Codes{"#GRP1", "#GRP2"}));
}

TEST_F(SetupPageTest, DestinationDropDownOffersOnlyConsolidatedCompaniesSourceDropDownAll) {
    setup::DBLookupCombo1Enter(Form);
    EXPECT_TRUE(Form.TableMCompany.Filtered());
    EXPECT_EQ(SetupInstallation::Column(Form.TableMCompany, "COMPANY_CODE"),
              (Codes{"#GRP1", "#GRP2"}));
    // The filter also decides what FindKey sees.
    EXPECT_FALSE(Form.TableMCompany.FindKey({"CO01"}));

    setup::DBLookupCombo2Enter(Form);
    EXPECT_FALSE(Form.TableMCompany.Filtered());
    EXPECT_EQ(SetupInstallation::Column(Form.TableMCompany, "COMPANY_CODE"),
              (Codes{"#GRP1", "#GRP2", "CO01", "CO02"}));

    // Entering the destination drop-down again switches it back on.
    setup::DBLookupCombo1Enter(Form);
    EXPECT_EQ(SetupInstallation::Column(Form.TableMCompany, "COMPANY_CODE").size(), 2u);
}

TEST_F(SetupPageTest, FilterLooksAtTheFirstCharacterOnly) {
    Form.TableMCompany.Append();
    Form.TableMCompany.FieldByName("COMPANY_CODE").SetAsString("X#1");
    Form.TableMCompany.Post();
    setup::DBLookupCombo1Enter(Form);
    EXPECT_EQ(SetupInstallation::Column(Form.TableMCompany, "COMPANY_CODE"),
              (Codes{"#GRP1", "#GRP2"}));
}

TEST_F(SetupPageTest, F4InTheGroupGridDeletesOnlyTheGroupOnYes) {
    ASSERT_TRUE(Form.TableMerge.FindKey({"1"}));
    Inst.Operator.Answers = {false};
    setup::DBGrid1KeyDown(Form, kKeyF4);
    EXPECT_EQ(Inst.Operator.Questions, (Codes{"Delete record ?"}));
    EXPECT_EQ(Groups(), (Codes{"#GRP1", "#GRP2"}));

    ASSERT_TRUE(Form.TableMerge.FindKey({"1"}));
    Inst.Operator.Answers = {true};
    setup::DBGrid1KeyDown(Form, kKeyF4);
    EXPECT_EQ(Groups(), (Codes{"#GRP2"}));

    // The sources of the deleted group stay and come back under a new group 1.
    Form.TableMerge.Append();
    Form.TableMerge.FieldByName("NO").SetAsInteger(1);
    Form.TableMerge.FieldByName("CODE").SetAsString("#GRP1");
    Form.TableMerge.Post();
    EXPECT_EQ(SourcesOf(1), (Codes{"CO01", "CO02"}));
}

TEST_F(SetupPageTest, F4InTheSourceGridDeletesOnlyTheCurrentSourceOnYes) {
    ASSERT_TRUE(Form.TableMerge.FindKey({"1"}));
    ASSERT_TRUE(Form.TableMergeDTL.FindKey({"1", "CO02"}));
    Inst.Operator.Answers = {false};
    setup::DBGrid2KeyDown(Form, kKeyF4);
    EXPECT_EQ(SourcesOf(1), (Codes{"CO01", "CO02"}));

    ASSERT_TRUE(Form.TableMergeDTL.FindKey({"1", "CO02"}));
    Inst.Operator.Answers = {true};
    setup::DBGrid2KeyDown(Form, kKeyF4);
    EXPECT_EQ(SourcesOf(1), (Codes{"CO01"}));
    EXPECT_EQ(SourcesOf(2), (Codes{"CO02"}));  // the same code in another group is untouched
    EXPECT_EQ(Groups(), (Codes{"#GRP1", "#GRP2"}));
}

TEST_F(SetupPageTest, OtherKeysAndEmptyGridsAskNothing) {
    setup::DBGrid1KeyDown(Form, 0x74);  // F5
    setup::DBGrid2KeyDown(Form, 13);
    Inst.Operator.DefaultAnswer = true;
    while (!Form.TableMerge.IsEmpty()) setup::DBGrid1KeyDown(Form, kKeyF4);
    const auto asked = Inst.Operator.Questions.size();
    EXPECT_EQ(asked, 2u);
    setup::DBGrid1KeyDown(Form, kKeyF4);
    EXPECT_EQ(Inst.Operator.Questions.size(), asked);
}

TEST_F(SetupPageTest, F4OnANewRowDiscardsIt) {
    Form.TableMerge.Append();
    Form.TableMerge.FieldByName("NO").SetAsInteger(7);
    Inst.Operator.Answers = {true};
    setup::DBGrid1KeyDown(Form, kKeyF4);
    EXPECT_EQ(Form.TableMerge.State(), db::TDataSetState::dsBrowse);
    EXPECT_EQ(Groups(), (Codes{"#GRP1", "#GRP2"}));
}

TEST_F(SetupPageTest, LeavingAGridPostsItsRow) {
    Form.TableMerge.Append();
    Form.TableMerge.FieldByName("NO").SetAsInteger(3);
    Form.TableMerge.FieldByName("CODE").SetAsString("#GRP2");
    setup::DBGrid1Exit(Form);
    EXPECT_EQ(Form.TableMerge.State(), db::TDataSetState::dsBrowse);

    ASSERT_TRUE(Form.TableMerge.FindKey({"3"}));
    Form.TableMergeDTL.Append();
    EXPECT_EQ(Form.TableMergeDTL.FieldByName("NO").AsInteger(), 3);  // from the current group
    Form.TableMergeDTL.FieldByName("CODE").SetAsString("CO01");
    setup::DBGrid2Exit(Form);
    EXPECT_EQ(Form.TableMergeDTL.State(), db::TDataSetState::dsBrowse);
    EXPECT_EQ(SourcesOf(3), (Codes{"CO01"}));

    // Browsing rows are left alone.
    EXPECT_NO_THROW(setup::DBGrid1Exit(Form));
}

TEST_F(SetupPageTest, ADuplicateGroupNumberFailsAndStaysInEditing) {
    Form.TableMerge.Append();
    Form.TableMerge.FieldByName("NO").SetAsInteger(2);
    Form.TableMerge.FieldByName("CODE").SetAsString("#GRP1");
    EXPECT_THROW(setup::DBGrid1Exit(Form), db::EDbDatabaseError);
    EXPECT_EQ(Form.TableMerge.State(), db::TDataSetState::dsInsert);
    Form.TableMerge.FieldByName("NO").SetAsInteger(4);
    setup::DBGrid1Exit(Form);
    EXPECT_EQ(Groups(), (Codes{"#GRP1", "#GRP2", "#GRP1"}));
}

TEST_F(SetupPageTest, SourceGridIsReadOnlyWhileTheGroupNumberReadsAsZero) {
    setup::DBGrid2Enter(Form);
    EXPECT_FALSE(Form.Controls.DBGrid2ReadOnly);

    Form.TableMerge.Append();  // a new group whose NO is still empty
    setup::DBGrid2Enter(Form);
    EXPECT_TRUE(Form.Controls.DBGrid2ReadOnly);
    Form.TableMerge.Cancel();

    Inst.Operator.DefaultAnswer = true;
    while (!Form.TableMerge.IsEmpty()) setup::DBGrid1KeyDown(Form, kKeyF4);
    Form.Controls.DBGrid2ReadOnly = false;
    setup::DBGrid2Enter(Form);
    EXPECT_TRUE(Form.Controls.DBGrid2ReadOnly);
}

TEST_F(SetupPageTest, SourceGridIsReadOnlyWithTheTablesClosed) {
    Form.DatabaseMain.Disconnect();
    setup::DBGrid2Enter(Form);
    EXPECT_TRUE(Form.Controls.DBGrid2ReadOnly);
}

TEST_F(SetupPageTest, UncheckAllThenCheckAllMarksEveryGroup) {
    Form.Controls.RadioGroup1ItemIndex = setup::kUncheckAll;
    setup::RadioGroup1Click(Form);
    EXPECT_TRUE(Form.TableMerge.Eof());
    EXPECT_EQ(Marks(), (Codes{"N", "N"}));

    Form.Controls.RadioGroup1ItemIndex = setup::kCheckAll;
    setup::RadioGroup1Click(Form);
    EXPECT_TRUE(Form.TableMerge.Eof());
    EXPECT_EQ(Marks(), (Codes{"T", "T"}));
}

TEST_F(SetupPageTest, MarkingAllPostsARowBeingEditedFirst) {
    ASSERT_TRUE(Form.TableMerge.FindKey({"2"}));
    Form.TableMerge.Edit();
    Form.TableMerge.FieldByName("CODE").SetAsString("#GRP9");
    Form.Controls.RadioGroup1ItemIndex = setup::kCheckAll;
    setup::RadioGroup1Click(Form);
    EXPECT_EQ(Groups(), (Codes{"#GRP1", "#GRP9"}));
    EXPECT_EQ(Marks(), (Codes{"T", "T"}));
}

TEST_F(SetupPageTest, BothGridsShowTheCompanyNameAsDesc) {
    ASSERT_TRUE(Form.TableMerge.FindKey({"2"}));
    EXPECT_EQ(Form.TableMerge.FieldByName("DESC").AsString(), "Group Two");
    EXPECT_EQ(Form.TableMergeDTL.FieldByName("DESC").AsString(), "Beta Sdn Bhd");
    Form.TableMerge.Edit();
    Form.TableMerge.FieldByName("CODE").SetAsString("NOPE");
    EXPECT_EQ(Form.TableMerge.FieldByName("DESC").AsString(), "");
    Form.TableMerge.Cancel();
}

}  // namespace
}  // namespace peltorn::test
