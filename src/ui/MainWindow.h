// The main window of peltorn-merge: a fixed-size dialog with the pages "Process" (period,
// options, the merge button, progress and run log) and "Setup" (the merge groups and their
// sources in two data-aware grids). The window only shows and feeds the engine's state
// (TFormMerge::Controls and the set-up tables); every rule lives in the engine.
#pragma once

#include "startup/FormMerge.h"
#include "support/ProgBar.h"
#include "ui/DbTableModel.h"

#include <QDialog>
#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace peltorn::ui {

// A grid of the "Setup" page. Its events go to the page's handlers in the engine.
class TResultsWindow;

class TDbGrid : public QTableView {
    Q_OBJECT
public:
    TDbGrid(TDbTableModel& model, QWidget* parent = nullptr);
    TDbTableModel& Model() { return m_model; }
    std::function<void()> OnEnter;           // the focus entered the grid
    std::function<void()> OnExit;            // the focus left the grid (and its editors)
    std::function<void(int key)> OnKeyDown;  // a key the grid does not handle itself
    std::function<void()> OnRowChanged;      // the table moved to another row

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    TDbTableModel& m_model;
    bool m_inside = false;
};

// The company drop-down of a grid's CODE column ("Code" and "Name" columns). Entering it runs
// the page's enter handler, which sets the company filter, then lists TableMCompany.
class TCompanyDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    TCompanyDelegate(TFormMerge& form, bool destination, QObject* parent = nullptr)
        : QStyledItemDelegate(parent), m_form(form), m_destination(destination) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

private:
    TFormMerge& m_form;
    bool m_destination;
};

// The progress window TFormMsg: caption "Progress Bar", 436 x 53, message and bar; Esc asks
// whether to stop.
class TProgressWindow : public QDialog, public support::IProgressView {
    Q_OBJECT
public:
    TProgressWindow(support::TFormMsg& state, QWidget* parent = nullptr);
    void Shown(const support::TFormMsg& form) override;
    void Changed(const support::TFormMsg& form) override;
    void Hidden(const support::TFormMsg& form) override;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

private:
    support::TFormMsg& m_state;
};

class TMainWindow : public QDialog {
    Q_OBJECT
public:
    TMainWindow(TFormMerge& form, support::IOperator& op, QWidget* parent = nullptr);

    // Shows the state of the controls (after every engine step the window is told of).
    void ShowControls();
    // Reads the set-up tables again into both grids.
    void ReloadGrids();
    // What "&Merge Database" does; the "Setup" page, the period and the options are locked
    // while the run lasts.
    void MergeDatabase();

    TFormMerge& Form() { return m_form; }

    // Controls, named as the window names them.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet2 = nullptr;  // "Process"
    QWidget* TabSheet1 = nullptr;  // "Setup"
    QLineEdit* Edit1 = nullptr;
    QLineEdit* edit2 = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QCheckBox* CheckBoxLeave = nullptr;
    QCheckBox* CheckBoxGL = nullptr;
    QCheckBox* chkSPE = nullptr;
    QCheckBox* chkMERGE = nullptr;
    QCheckBox* chkPreview = nullptr;  // "Preview only, change nothing" (TFormMerge::DryRun)
    QComboBox* EditPeriod = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    TDbGrid* DBGrid1 = nullptr;
    TDbGrid* DBGrid2 = nullptr;
    QRadioButton* CheckAll = nullptr;
    QRadioButton* UncheckAll = nullptr;
    TProgressWindow* FormMsg = nullptr;
    // The "Results" view of the last run, shown when a run ends.
    TResultsWindow* Results = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QWidget* MakeProcessPage();
    QWidget* MakeSetupPage();
    void RadioGroup1Clicked(int item);
    void ShowPeriodList();
    void SetRunning(bool running);

    TFormMerge& m_form;
    std::unique_ptr<TDbTableModel> m_groups;
    std::unique_ptr<TDbTableModel> m_sources;
    std::size_t m_memoLines = 0;
    std::vector<std::string> m_periodItems;  // the items EditPeriod shows
    QButtonGroup* m_radioGroup = nullptr;
    bool m_running = false;
};

}  // namespace peltorn::ui
