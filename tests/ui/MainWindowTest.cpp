// The main window on a small demo installation: captions and start state, the "Setup" page's
// grids and drop-downs driven through the keyboard and the focus as an officer would, and the
// merge button. Questions and error reports go to a scripted operator instead of message boxes.
#include "TestSupport.h"
#include "demo/Demo.h"
#include "signon/Credentials.h"
#include "startup/StartUp.h"
#include "ui/MainWindow.h"
#include "ui/QtOperator.h"
#include "ui/ResultsWindow.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace peltorn::test {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        demo::TDemoOptions options;
        options.Companies = 3;
        options.Employees = 4;
        options.Year = 2026;
        options.Month = 3;
        demo::WriteDemoInstallation(Dir.Str(), options);
        Op = std::make_unique<ui::TWindowOperator>(Dialogs);
        Form = std::make_unique<TFormMerge>(*Op);
        TStartOptions start;
        start.IniFile = (Dir / "ORVEX.ini").string();
        start.Today = [] { return db::EncodeDate(2026, 3, 15); };
        FormCreate(*Form, start);
        ASSERT_TRUE(Dialogs.Errors.empty()) << Dialogs.Errors.front();
        ShowWindow();
    }
    void TearDown() override {
        Window.reset();
        Form.reset();
    }

    // The window over Form, shown and active as after the program's start.
    void ShowWindow() {
        Window = std::make_unique<ui::TMainWindow>(*Form, *Op);
        Op->SetWindow(Window.get());
        Window->show();
        Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    }
    void DeleteAllGroups() {
        while (!Form->TableMerge.IsEmpty()) {
            Form->TableMerge.First();
            Form->TableMerge.Delete();
        }
        Window->ReloadGrids();
    }
    // A set-up table as another program sees it, through a connection of its own.
    struct OutsideTable {
        db::TDbConnection Conn{"outside"};
        db::TDbTable Table{"outside"};
    };
    std::unique_ptr<OutsideTable> OpenOutside(const char* name, const char* index) {
        auto outside = std::make_unique<OutsideTable>();
        outside->Conn.SetConnectPath(Dir.Str());
        outside->Table.SetConnection(&outside->Conn);
        outside->Table.SetTableName(name);
        outside->Table.SetIndexFieldNames(index);
        outside->Table.Open();
        return outside;
    }
    void OnSetupPage() {
        Window->PageControl1->setCurrentIndex(1);
        QApplication::processEvents();
    }
    // Moves the focus as a click would, and lets the window see it.
    static void Focus(QWidget* widget) {
        widget->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
    }
    std::vector<std::string> Column(db::TDbTable& table, const char* field) {
        std::vector<std::string> values;
        for (table.First(); !table.Eof(); table.Next())
            values.push_back(table.FieldByName(field).AsString());
        return values;
    }
    // The codes a grid's CODE drop-down offers when it opens.
    std::vector<std::string> DropDownCodes(ui::TDbGrid* grid, int column) {
        QAbstractItemDelegate* delegate = grid->itemDelegateForColumn(column);
        const QModelIndex index = grid->model()->index(0, column);
        std::unique_ptr<QWidget> editor(
            delegate->createEditor(grid->viewport(), QStyleOptionViewItem(), index));
        auto* combo = dynamic_cast<QComboBox*>(editor.get());
        std::vector<std::string> codes;
        if (!combo) return codes;
        for (int i = 0; i < combo->count(); ++i) codes.push_back(combo->itemText(i).toStdString());
        return codes;
    }

    TempDir Dir;
    ScriptedOperator Dialogs;
    std::unique_ptr<ui::TWindowOperator> Op;
    std::unique_ptr<TFormMerge> Form;
    std::unique_ptr<ui::TMainWindow> Window;
};

TEST_F(MainWindowTest, OpensOnProcessWithItsCaptionsAndTheCurrentPeriod) {
    EXPECT_EQ(Window->windowTitle(), "PELTORN VER 9.7.18");
    ASSERT_EQ(Window->PageControl1->count(), 2);
    EXPECT_EQ(Window->PageControl1->tabText(0), "Process");
    EXPECT_EQ(Window->PageControl1->tabText(1), "Setup");
    EXPECT_EQ(Window->PageControl1->currentIndex(), 0);
    EXPECT_EQ(Window->BitBtn1->text(), "&Merge Database");
    EXPECT_EQ(Window->CheckBoxLeave->text(), "Transfer Leave Record ?");
    EXPECT_FALSE(Window->CheckBoxLeave->isChecked());
    EXPECT_EQ(Window->CheckBoxGL->text(), "Merge GL?");
    EXPECT_TRUE(Window->CheckBoxGL->isChecked());
    EXPECT_EQ(Window->chkSPE->text(), "Exclude Special record");
    EXPECT_EQ(Window->chkMERGE->text(), "Merge selected  database?");
    EXPECT_EQ(Window->chkPreview->text(), "Preview only, change nothing");
    EXPECT_FALSE(Window->chkPreview->isChecked());
    // Each period shown once, the current month chosen; typed text is the period.
    ASSERT_EQ(Window->EditPeriod->count(), 12);
    EXPECT_EQ(Window->EditPeriod->itemText(0), "202601");
    EXPECT_EQ(Window->EditPeriod->currentText(), "202603");
    QTest::keyClicks(Window->EditPeriod->lineEdit(), "X");
    EXPECT_EQ(Form->Controls.EditPeriod, Window->EditPeriod->currentText().toStdString());
}

TEST_F(MainWindowTest, DestinationDropDownOffersOnlyConsolidatedCompaniesAndSourceOffersAll) {
    OnSetupPage();
    const auto destinations = DropDownCodes(Window->DBGrid1, 2);
    ASSERT_FALSE(destinations.empty());
    for (const auto& code : destinations) EXPECT_EQ(code.substr(0, 1), "#") << code;
    EXPECT_TRUE(Form->TableMCompany.Filtered());
    const auto sources = DropDownCodes(Window->DBGrid2, 0);
    EXPECT_NE(std::find(sources.begin(), sources.end(), "CO01"), sources.end());
    EXPECT_NE(std::find(sources.begin(), sources.end(), "#GRP1"), sources.end());
    EXPECT_FALSE(Form->TableMCompany.Filtered());
}

TEST_F(MainWindowTest, F4AsksAndDeletesOnlyOnYesOnlyInTheGridWithTheFocus) {
    OnSetupPage();
    const auto groups = Column(Form->TableMerge, "NO");
    Window->ReloadGrids();
    const int sources = Window->DBGrid2->model()->rowCount();
    ASSERT_GT(sources, 1);

    Focus(Window->DBGrid2);
    Dialogs.Answers = {false};
    QTest::keyClick(Window->DBGrid2, Qt::Key_F4);
    ASSERT_EQ(Dialogs.Questions, std::vector<std::string>{"Delete record ?"});
    EXPECT_EQ(Window->DBGrid2->model()->rowCount(), sources);

    Dialogs.Answers = {true};
    QTest::keyClick(Window->DBGrid2, Qt::Key_F4);
    EXPECT_EQ(Window->DBGrid2->model()->rowCount(), sources - 1);
    EXPECT_EQ(Column(Form->TableMerge, "NO"), groups);  // the groups are untouched
    Window->ReloadGrids();

    Focus(Window->DBGrid1);
    Dialogs.Answers = {false};
    QTest::keyClick(Window->DBGrid1, Qt::Key_F4);
    EXPECT_EQ(Column(Form->TableMerge, "NO"), groups);
    Dialogs.Answers = {true};
    QTest::keyClick(Window->DBGrid1, Qt::Key_F4);
    EXPECT_EQ(Column(Form->TableMerge, "NO").size(), groups.size() - 1);
    EXPECT_EQ(Window->DBGrid1->model()->rowCount(), static_cast<int>(groups.size()) - 1);
    EXPECT_EQ(Dialogs.Questions.size(), 4u);
}

TEST_F(MainWindowTest, CheckAllAfterUncheckAllMarksEveryGroupAgain) {
    OnSetupPage();
    QTest::mouseClick(Window->UncheckAll, Qt::LeftButton);
    for (const auto& mark : Column(Form->TableMerge, "MASTER")) EXPECT_EQ(mark, "N");
    QTest::mouseClick(Window->CheckAll, Qt::LeftButton);
    for (const auto& mark : Column(Form->TableMerge, "MASTER")) EXPECT_EQ(mark, "T");
    // Choosing the chosen item again is no change of the selection: nothing is marked.
    Form->TableMerge.First();
    Form->TableMerge.Edit();
    Form->TableMerge.FieldByName("MASTER").SetAsString("N");
    Form->TableMerge.Post();
    QTest::mouseClick(Window->CheckAll, Qt::LeftButton);
    EXPECT_EQ(Column(Form->TableMerge, "MASTER").front(), "N");
    // The grid shows the marks as check boxes.
    Window->ReloadGrids();
    EXPECT_EQ(Window->DBGrid1->model()->index(0, 0).data(Qt::CheckStateRole).toInt(),
              Qt::Unchecked);
    EXPECT_EQ(Window->DBGrid1->model()->index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST_F(MainWindowTest, SourceGridIsReadOnlyWithoutAGroup) {
    OnSetupPage();
    Focus(Window->DBGrid2);
    EXPECT_FALSE(Form->Controls.DBGrid2ReadOnly);
    EXPECT_TRUE(Window->DBGrid2->model()->flags(Window->DBGrid2->model()->index(0, 0)) &
                Qt::ItemIsEditable);

    Focus(Window->EditPeriod);
    DeleteAllGroups();
    OnSetupPage();
    Focus(Window->DBGrid2);
    EXPECT_TRUE(Form->Controls.DBGrid2ReadOnly);
    EXPECT_EQ(Window->DBGrid2->editTriggers(), QAbstractItemView::NoEditTriggers);
    QTest::keyClick(Window->DBGrid2, Qt::Key_Insert);  // no row can be inserted either
    EXPECT_NE(Form->TableMergeDTL.State(), db::TDataSetState::dsInsert);
}

TEST_F(MainWindowTest, EditedGroupIsPostedWhenTheFocusLeavesTheGrid) {
    OnSetupPage();
    Focus(Window->DBGrid1);
    auto* model = Window->DBGrid1->model();
    ASSERT_TRUE(model->setData(model->index(1, 2), "#GRP1", Qt::EditRole));
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsEdit);
    Focus(Window->DBGrid2);
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsBrowse);
    EXPECT_TRUE(Dialogs.Errors.empty());

    // Another program sees the change: read through a connection of its own.
    auto groups = OpenOutside("MERGRHD", "NO");
    ASSERT_TRUE(groups->Table.FindKey({"2"}));
    EXPECT_EQ(groups->Table.FieldByName("CODE").AsString(), "#GRP1");
}

TEST_F(MainWindowTest, DuplicateGroupNumberIsReportedAndTheRowStaysInEditing) {
    OnSetupPage();
    Focus(Window->DBGrid1);
    QTest::keyClick(Window->DBGrid1, Qt::Key_Insert);
    ASSERT_EQ(Form->TableMerge.State(), db::TDataSetState::dsInsert);
    auto* model = Window->DBGrid1->model();
    const int row = model->rowCount() - 1;
    ASSERT_TRUE(model->setData(model->index(row, 1), "1", Qt::EditRole));
    ASSERT_TRUE(model->setData(model->index(row, 2), "#GRP2", Qt::EditRole));
    Focus(Window->DBGrid2);
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsInsert);
    EXPECT_EQ(model->index(row, 1).data().toString(), "1");
    // Corrected, it is written on the next exit.
    ASSERT_TRUE(model->setData(model->index(row, 1), "7", Qt::EditRole));
    Focus(Window->DBGrid1);
    Focus(Window->DBGrid2);
    EXPECT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_EQ(Column(Form->TableMerge, "NO"), (std::vector<std::string>{"1", "2", "7"}));
}

TEST_F(MainWindowTest, EscDropsTheRowInEditingSoTheOperatorIsNotStuckOnAKeyViolation) {
    OnSetupPage();
    Focus(Window->DBGrid1);
    QTest::keyClick(Window->DBGrid1, Qt::Key_Insert);
    auto* model = Window->DBGrid1->model();
    const int row = model->rowCount() - 1;
    ASSERT_TRUE(model->setData(model->index(row, 1), "2", Qt::EditRole));
    Focus(Window->DBGrid2);
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    Focus(Window->DBGrid1);
    QTest::keyClick(Window->DBGrid1, Qt::Key_Escape);
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsBrowse);
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(Column(Form->TableMerge, "NO"), (std::vector<std::string>{"1", "2"}));

    // An edit of a stored row goes back to the row as stored.
    Window->ReloadGrids();
    ASSERT_TRUE(model->setData(model->index(0, 2), "#OTHER", Qt::EditRole));
    QTest::keyClick(Window->DBGrid1, Qt::Key_Escape);
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsBrowse);
    EXPECT_EQ(Column(Form->TableMerge, "CODE"), (std::vector<std::string>{"#GRP1", "#GRP2"}));
    EXPECT_EQ(model->index(0, 2).data().toString(), "#GRP1");
    EXPECT_EQ(Dialogs.Errors.size(), 1u);
}

TEST_F(MainWindowTest, RowTypedIntoIsPostedWhenTheCurrentRowChangesAndTheGridFollowsIt) {
    OnSetupPage();
    Focus(Window->DBGrid1);
    auto* model = Window->DBGrid1->model();
    Window->DBGrid1->setCurrentIndex(model->index(0, 1));
    QTest::keyClicks(Window->DBGrid1, "5");  // a key opens the cell editor with it
    QWidget* editor = QApplication::focusWidget();
    ASSERT_NE(editor, Window->DBGrid1);
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsEdit);
    EXPECT_EQ(model->index(0, 1).data().toString(), "5");

    // Down to the other group writes the row; the rows go back into NO order and the grid
    // stays on the group it moved to, now the first row.
    QTest::keyClick(Window->DBGrid1, Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_TRUE(Dialogs.Errors.empty());
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsBrowse);
    EXPECT_EQ(Form->TableMerge.FieldByName("NO").AsString(), "2");
    EXPECT_EQ(Window->DBGrid1->currentIndex().row(), 0);
    EXPECT_EQ(model->index(0, 1).data().toString(), "2");
    EXPECT_EQ(model->index(1, 1).data().toString(), "5");
    EXPECT_EQ(Column(Form->TableMerge, "NO"), (std::vector<std::string>{"2", "5"}));
}

TEST_F(MainWindowTest, SourceAddedInTheGridTakesTheGroupsNoAndIsPostedOnExit) {
    OnSetupPage();
    Focus(Window->DBGrid1);
    Window->DBGrid1->setCurrentIndex(Window->DBGrid1->model()->index(1, 1));  // group 2
    Focus(Window->DBGrid2);
    ASSERT_FALSE(Form->Controls.DBGrid2ReadOnly);
    QTest::keyClick(Window->DBGrid2, Qt::Key_Insert);
    ASSERT_EQ(Form->TableMergeDTL.State(), db::TDataSetState::dsInsert);
    auto* sources = Window->DBGrid2->model();
    const int row = sources->rowCount() - 1;
    ASSERT_TRUE(sources->setData(sources->index(row, 0), "CO01", Qt::EditRole));
    ASSERT_TRUE(sources->setData(sources->index(row, 2), "D:\\PAYDATA\\CO01", Qt::EditRole));
    EXPECT_EQ(Form->TableMergeDTL.State(),
              db::TDataSetState::dsInsert);  // one new row, not yet written
    EXPECT_EQ(sources->index(row, 1).data().toString(),
              "Orvex Trading Sdn Bhd");  // the DESC lookup

    Focus(Window->CheckAll);
    EXPECT_TRUE(Dialogs.Errors.empty());
    EXPECT_EQ(Form->TableMergeDTL.State(), db::TDataSetState::dsBrowse);
    auto detail = OpenOutside("MERGEDTL", "NO;CODE");
    ASSERT_TRUE(detail->Table.FindKey({"2", "CO01"}));
    EXPECT_EQ(detail->Table.FieldByName("PATH").AsString(), "D:\\PAYDATA\\CO01");
}

TEST_F(MainWindowTest, FirstGroupOfAnEmptyTableStaysOneNewRowUntilTheGridIsLeft) {
    DeleteAllGroups();
    OnSetupPage();
    Focus(Window->DBGrid1);
    QTest::keyClick(Window->DBGrid1, Qt::Key_Insert);
    auto* model = Window->DBGrid1->model();
    ASSERT_EQ(model->rowCount(), 1);
    ASSERT_TRUE(model->setData(model->index(0, 1), "3", Qt::EditRole));
    ASSERT_TRUE(model->setData(model->index(0, 2), "#GRP2", Qt::EditRole));
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsInsert);
    EXPECT_EQ(model->rowCount(), 1);
    Focus(Window->CheckAll);
    EXPECT_TRUE(Dialogs.Errors.empty());
    EXPECT_EQ(Column(Form->TableMerge, "NO"), std::vector<std::string>{"3"});
    EXPECT_EQ(Column(Form->TableMerge, "CODE"), std::vector<std::string>{"#GRP2"});
}

TEST_F(MainWindowTest, ClosingWritesTheRowInEditingOrStaysOpenWhenItCannotBeWritten) {
    OnSetupPage();
    Focus(Window->DBGrid1);
    QTest::keyClick(Window->DBGrid1, Qt::Key_Insert);
    auto* model = Window->DBGrid1->model();
    const int row = model->rowCount() - 1;
    ASSERT_TRUE(model->setData(model->index(row, 1), "1", Qt::EditRole));
    EXPECT_FALSE(Window->close());  // the close box: no focus change, no grid exit
    EXPECT_TRUE(Window->isVisible());
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_EQ(Form->TableMerge.State(), db::TDataSetState::dsInsert);

    ASSERT_TRUE(model->setData(model->index(row, 1), "9", Qt::EditRole));
    EXPECT_TRUE(Window->close());
    EXPECT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_EQ(Column(Form->TableMerge, "NO"), (std::vector<std::string>{"1", "2", "9"}));
}

TEST_F(MainWindowTest, MergeButtonRunsTheMergeWithTheSetupPageLocked) {
    bool setupEnabledDuringRun = true;
    Dialogs.OnInform = [this, &setupEnabledDuringRun](const std::string&) {
        setupEnabledDuringRun = Window->TabSheet1->isEnabled();
    };
    QTest::mouseClick(Window->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(Dialogs.Errors.empty()) << Dialogs.Errors.front();
    ASSERT_FALSE(Dialogs.Messages.empty());
    EXPECT_EQ(Dialogs.Messages.back(), "Merge database completed");
    EXPECT_FALSE(setupEnabledDuringRun);
    EXPECT_TRUE(Window->TabSheet1->isEnabled());
    EXPECT_TRUE(Window->BitBtn1->isEnabled());
    EXPECT_TRUE(
        Window->Memo1->toPlainText().contains("Employee#E0100001 Currency : MYR EX RATE : 1"))
        << Window->Memo1->toPlainText().left(600).toStdString();
    EXPECT_FALSE(Window->Edit1->text().isEmpty());
}

// When the run ends the "Results" view shows its account: a check that failed is marked, the
// reconciliation has a row per source and currency, and the saved report and run log are the
// owner's files.
TEST_F(MainWindowTest, ResultsViewShowsTheRunsChecksWithAFailedOneMarked) {
    // The allowance rows of one employee get a currency back as the checks begin.
    Form->OnStage = [this](const char* stage) {
        if (std::string(stage) != "checks") return;
        db::FlushPendingWrites();
        db::TDbQuery update("break");
        update.SetConnection(&Form->dbDest);
        update.EnableEncryption(signon::kFreeTablePassword);
        update.SQL().Add(
            "UPDATE P_DTRXAW SET CURR_CODE = 'SGD' WHERE EMPCODE = "
            "(SELECT MIN(EMPCODE) FROM P_DTRXAW)");
        update.ExecSQL();
    };
    QTest::mouseClick(Window->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(Dialogs.Errors.empty()) << Dialogs.Errors.front();
    ui::TResultsWindow* results = Window->Results;
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(results->isVisible());
    EXPECT_EQ(results->windowTitle(), "Results");
    EXPECT_TRUE(results->Result->text().endsWith("completed with failed checks"))
        << results->Result->text().toStdString();
    int failed = 0;
    for (int row = 0; row < results->Checks->rowCount(); ++row) {
        if (results->Checks->item(row, 2)->text() != "FAILED") continue;
        ++failed;
        EXPECT_EQ(results->Checks->item(row, 1)->text(), "no allowance row keeps a currency code");
        EXPECT_EQ(results->Checks->item(row, 2)->foreground().color(), QColor(0xb0, 0, 0));
    }
    EXPECT_GE(failed, 1);
    EXPECT_GT(results->Reconciliation->rowCount(), 0);
    EXPECT_TRUE(results->Summary->toPlainText().contains("check failed: "));
    EXPECT_EQ(results->SaveReportButton->text(), "Save report...");
    EXPECT_EQ(results->SaveRunLogButton->text(), "Save run log...");

    TempDir saved;
    results->SaveRunLog((saved / "run.log").string());
    results->SaveReport((saved / "report.json").string());
    std::ifstream log(saved / "run.log");
    std::string first;
    std::getline(log, first);
    EXPECT_EQ(first, Form->Controls.Memo1.front());
    EXPECT_EQ(std::filesystem::status(saved / "report.json").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Ticked, the preview box makes the merge button merge scratch copies: the run ends saying so
// and the destinations' files are as they were.
TEST_F(MainWindowTest, PreviewBoxRunsTheMergeWithoutChangingTheDestinations) {
    const auto contents = [this] {
        std::string all;
        for (const auto& e : std::filesystem::directory_iterator(Dir / "COMPANY" / "#GRP1")) {
            std::ifstream in(e.path(), std::ios::binary);
            all += e.path().filename().string() + ":" +
                   std::string(std::istreambuf_iterator<char>(in), {}) + "\n";
        }
        return all;
    };
    const std::string before = contents();
    QTest::mouseClick(Window->chkPreview, Qt::LeftButton);
    QTest::mouseClick(Window->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(Dialogs.Errors.empty()) << Dialogs.Errors.front();
    EXPECT_EQ(Dialogs.Messages.back(),
              "Merge database completed (preview only: nothing in the installation was changed)");
    EXPECT_TRUE(Window->Memo1->toPlainText().startsWith(
        "Preview only: nothing in the installation is changed\n"));
    EXPECT_TRUE(contents() == before) << "a destination file changed";
}

TEST_F(MainWindowTest, PeriodAndOptionsCannotChangeWhileTheRunReadsThem) {
    // Every stage reads the period and the options again: typing or ticking while the run lets
    // the window process its messages must not reach them.
    bool inputsEnabled = true;
    QTimer::singleShot(0, Window.get(), [this, &inputsEnabled] {
        inputsEnabled = Window->EditPeriod->isEnabled() || Window->chkSPE->isEnabled() ||
                        Window->CheckBoxGL->isEnabled() || Window->chkPreview->isEnabled() ||
                        Window->TabSheet1->isEnabled();
        QTest::keyClicks(Window->EditPeriod->lineEdit(), "99");
        QTest::mouseClick(Window->chkSPE, Qt::LeftButton);
    });
    QTest::mouseClick(Window->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(Dialogs.Errors.empty()) << Dialogs.Errors.front();
    EXPECT_EQ(Dialogs.Messages.back(), "Merge database completed");
    EXPECT_FALSE(inputsEnabled);
    EXPECT_EQ(Form->Controls.EditPeriod, "202603");
    EXPECT_FALSE(Form->Controls.chkSPE);
    // Afterwards the operator may change them again.
    EXPECT_TRUE(Window->EditPeriod->isEnabled());
    EXPECT_TRUE(Window->TabSheet1->isEnabled());
    Focus(Window->chkSPE);
    QTest::keyClick(Window->chkSPE, Qt::Key_Space);
    EXPECT_TRUE(Form->Controls.chkSPE);
}

TEST_F(MainWindowTest, ControlsShowWhatTheEngineLeavesWhenItProcessesMessages) {
    TMergeControls& c = Form->Controls;
    c.Edit1 = "COMPANY\\#GRP1";
    c.edit2 = "Transfer P_HTRX";
    c.Gauge1Max = 32;
    c.Gauge1Progress = 8;
    c.Memo1 = {"first line", "second line"};
    c.chkSPE = true;
    c.CheckBoxGL = false;
    c.BitBtn1Enabled = false;
    c.BitBtn2Enabled = false;
    QTest::qWait(25);  // the window looks at the state at most every 20 ms
    Op->ProcessMessages();
    EXPECT_EQ(Window->Edit1->text(), "COMPANY\\#GRP1");
    EXPECT_EQ(Window->edit2->text(), "Transfer P_HTRX");
    EXPECT_EQ(Window->Gauge1->maximum(), 32);
    EXPECT_EQ(Window->Gauge1->value(), 8);
    EXPECT_EQ(Window->Memo1->toPlainText(), "first line\nsecond line");
    EXPECT_TRUE(Window->chkSPE->isChecked());
    EXPECT_FALSE(Window->CheckBoxGL->isChecked());
    EXPECT_FALSE(Window->BitBtn1->isEnabled());
    EXPECT_FALSE(Window->BitBtn2->isEnabled());
    // A new run empties the log: the window starts it again.
    c.Memo1 = {"new run"};
    QTest::qWait(25);
    Op->ProcessMessages();
    EXPECT_EQ(Window->Memo1->toPlainText(), "new run");
}

TEST_F(MainWindowTest, RefusedPeriodGoesToTheErrorReportAndLeavesTheButtonsEnabled) {
    Window->EditPeriod->setEditText("");
    QTest::mouseClick(Window->BitBtn1, Qt::LeftButton);
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_EQ(Dialogs.Errors.front(), "Invalid Period!");
    EXPECT_TRUE(Window->BitBtn1->isEnabled());
    EXPECT_TRUE(Window->BitBtn2->isEnabled());
}

TEST_F(MainWindowTest, F5MakesMissingSetUpTablesOnlyWhenNoControlHasTheFocus) {
    const auto header = Dir / "MERGRHD.ADT";
    const auto detail = Dir / "MERGEDTL.ADT";
    Window.reset();
    Form.reset();
    std::filesystem::remove(header);
    std::filesystem::remove(detail);
    // A window whose start-up has not made the set-up tables (none of its tables is open).
    Form = std::make_unique<TFormMerge>(*Op);
    Form->BaseFolder = Dir.Str(true);
    ShowWindow();

    Focus(Window->Memo1);
    QTest::keyClick(Window->Memo1, Qt::Key_F5);
    EXPECT_FALSE(std::filesystem::exists(header));
    Window->Memo1->clearFocus();
    Window->setFocus();
    QApplication::processEvents();
    QTest::keyClick(Window.get(), Qt::Key_F5);
    EXPECT_TRUE(std::filesystem::exists(header));
    EXPECT_TRUE(std::filesystem::exists(detail));
}

TEST_F(MainWindowTest, F5MakesNoFolderAndNoSetUpTablesWhereThereIsNoMainDatabase) {
    const auto missing = Dir / "NO-SUCH-BASE";
    const auto empty = Dir / "EMPTY-BASE";
    std::filesystem::create_directories(empty);
    for (const auto& base : {missing, empty}) {
        Dialogs.Errors.clear();
        Form->BaseFolder = base.string() + "/";
        Window->setFocus();
        QApplication::processEvents();
        QTest::keyClick(Window.get(), Qt::Key_F5);
        ASSERT_EQ(Dialogs.Errors.size(), 1u) << base;
        EXPECT_NE(Dialogs.Errors[0].find("MCOMPANY.ADT"), std::string::npos) << Dialogs.Errors[0];
        EXPECT_FALSE(std::filesystem::exists(base / "MERGRHD.ADT")) << base;
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(std::filesystem::is_empty(empty));
}

TEST(StartUpWindowTest, MainDatabaseThatCannotBeConnectedStillOpensTheWindow) {
    TempDir dir;
    {
        std::ofstream ini(dir / "ORVEX.ini");
        ini << "[PATH]\nDIR=" << (dir / "no-such-folder").string() << "\n";
    }
    ScriptedOperator dialogs;
    ui::TWindowOperator op(dialogs);
    TFormMerge form(op);
    TStartOptions start;
    start.IniFile = (dir / "ORVEX.ini").string();
    start.Today = [] { return db::EncodeDate(2026, 3, 15); };
    FormCreate(form, start);
    ASSERT_EQ(dialogs.Errors.size(), 1u);
    ui::TMainWindow window(form, op);
    op.SetWindow(&window);
    window.show();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.EditPeriod->count(), 0);
    EXPECT_EQ(window.DBGrid1->model()->rowCount(), 0);
    EXPECT_EQ(window.DBGrid2->model()->rowCount(), 0);
    EXPECT_EQ(dialogs.Errors.size(), 1u);  // the closed tables are not reported again
}

TEST(ProgressWindowTest, CaptionSizeAndEscAskBeforeStopping) {
    ScriptedOperator op;
    support::TFormMsg state(op);
    ui::TProgressWindow window(state);
    state.SetView(&window);
    state.ShowProgress(4, "Process Currency conversion.");
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Progress Bar");
    EXPECT_EQ(window.size(), QSize(436, 53));
    EXPECT_EQ(window.Label1->text(), "Process Currency conversion.");
    EXPECT_EQ(window.ProgressBar1->maximum(), 4);

    op.Answers = {false, true};
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(op.Questions, std::vector<std::string>{"Terminate processing ?"});
    EXPECT_TRUE(state.StepProgress());
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(state.StepProgress());
    EXPECT_EQ(window.ProgressBar1->value(), 2);
    state.CloseProgress();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(state.StepProgress());
}

}  // namespace
}  // namespace peltorn::test
