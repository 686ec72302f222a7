#include "ui/MainWindow.h"

#include "ui/ResultsWindow.h"

#include "run/MergeRun.h"
#include "setup/SetupPage.h"
#include "startup/MERGEMAKEDB.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <exception>
#include <initializer_list>

namespace peltorn::ui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A grid cell is edited on a double click, F2, any typed key or a click on the current cell.
constexpr QAbstractItemView::EditTriggers kGridEditTriggers =
    QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked;

int CharsToPixels(const QWidget& widget, int chars) {
    return widget.fontMetrics().averageCharWidth() * chars + 12;
}

// Runs an engine handler; what it raises goes to the standard error report.
bool Report(TFormMerge& form, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        form.Operator().ReportError(e.what());
        return false;
    }
}

}  // namespace

// ---- grid ----

TDbGrid::TDbGrid(TDbTableModel& model, QWidget* parent) : QTableView(parent), m_model(model) {
    setModel(&model);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(kGridEditTriggers);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(14);
    horizontalHeader()->setMinimumHeight(2 * fontMetrics().height() + 8);  // two-line titles
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < model.columnCount(); ++c)
        setColumnWidth(c, CharsToPixels(*this, model.Columns()[static_cast<std::size_t>(c)].Width));
    // The focus leaving the grid or any of its cell editors for another control of the window
    // is the grid's exit; message boxes and other windows do not count.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const bool wasInside = old && (old == this || isAncestorOf(old));
        const bool isInside = now && (now == this || isAncestorOf(now));
        if (!isInside && now && now->window() == window() && wasInside && OnExit) OnExit();
        if (isInside && !m_inside && OnEnter) OnEnter();
        if (now && now->window() == window()) m_inside = isInside;
    });
}

void TDbGrid::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    switch (event->key()) {
        case Qt::Key_F4:
            if (OnKeyDown) OnKeyDown(setup::kKeyF4);
            return;
        case Qt::Key_Delete:
            // The grid's own row deletion goes through the same question as F4.
            if ((event->modifiers() & Qt::ControlModifier) && OnKeyDown) {
                OnKeyDown(setup::kKeyF4);
                return;
            }
            break;
        case Qt::Key_Insert:
            if (m_model.AppendRow()) setCurrentIndex(m_model.index(m_model.CurrentRow(), 0));
            return;
        case Qt::Key_Down:
            // Past the last row the grid inserts a new one.
            if (current.isValid() && current.row() == m_model.rowCount() - 1 &&
                !m_model.Editing()) {
                if (m_model.AppendRow())
                    setCurrentIndex(m_model.index(m_model.CurrentRow(), current.column()));
                return;
            }
            break;
        case Qt::Key_Escape:
            // Esc drops the row being edited or inserted (a cell editor reverts itself first).
            if (m_model.CancelPending()) {
                const int row = m_model.CurrentRow();
                if (row >= 0)
                    setCurrentIndex(m_model.index(row, current.isValid() ? current.column() : 0));
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter moves to the next column.
            if (current.isValid() && current.column() + 1 < m_model.columnCount()) {
                setCurrentIndex(current.sibling(current.row(), current.column() + 1));
                return;
            }
            break;
        default: break;
    }
    QTableView::keyPressEvent(event);
}

void TDbGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (current.isValid() && (!previous.isValid() || current.row() != previous.row())) {
        if (!m_model.MoveTo(current.row())) {
            // The pending row could not be written: the cursor stays on it.
            const int back = m_model.CurrentRow();
            if (back >= 0 && back != current.row()) {
                QMetaObject::invokeMethod(
                    this,
                    [this, back, column = current.column()] {
                        setCurrentIndex(m_model.index(back, column));
                    },
                    Qt::QueuedConnection);
            }
        } else {
            // Posting the row left put the rows in index order again: follow the record.
            const int moved = m_model.CurrentRow();
            if (moved >= 0 && moved != current.row()) {
                QMetaObject::invokeMethod(
                    this,
                    [this, moved, column = current.column()] {
                        setCurrentIndex(m_model.index(moved, column));
                    },
                    Qt::QueuedConnection);
            }
            if (OnRowChanged) OnRowChanged();
        }
    }
    QTableView::currentChanged(current, previous);
}

// ---- company drop-down ----

QWidget* TCompanyDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                        const QModelIndex&) const {
    Report(m_form, [this] {
        if (m_destination)
            setup::DBLookupCombo1Enter(m_form);
        else
            setup::DBLookupCombo2Enter(m_form);
    });
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    auto* list = new QStandardItemModel(0, 2, combo);
    list->setHorizontalHeaderLabels({"Code", "Name"});
    Report(m_form, [this, list] {
        db::TDbTable& companies = m_form.TableMCompany;
        for (companies.First(); !companies.Eof(); companies.Next()) {
            list->appendRow(
                {new QStandardItem(Q(companies.FieldByName(setup::kFieldCompanyCode).AsString())),
                 new QStandardItem(Q(companies.FieldByName(setup::kFieldCompanyName).AsString()))});
        }
    });
    auto* view = new QTreeView(combo);
    view->setRootIsDecorated(false);
    view->setAllColumnsShowFocus(true);
    view->setAlternatingRowColors(true);  // row lines
    combo->setModel(list);
    combo->setView(view);
    combo->setModelColumn(0);
    view->setColumnWidth(0, CharsToPixels(*view, 10));
    view->setColumnWidth(1, CharsToPixels(*view, 40));
    view->setMinimumWidth(CharsToPixels(*view, 52));
    return combo;
}

void TCompanyDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* combo = static_cast<QComboBox*>(editor);
    const QString code = index.data(Qt::EditRole).toString();
    const int found = combo->findText(code);
    if (found >= 0)
        combo->setCurrentIndex(found);
    else
        combo->setEditText(code);
}

void TCompanyDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
    model->setData(index, static_cast<QComboBox*>(editor)->currentText(), Qt::EditRole);
}

// ---- progress window ----

TProgressWindow::TProgressWindow(support::TFormMsg& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_state(state) {
    setWindowTitle(Q(state.Caption));
    setModal(false);
    setFixedSize(436, 53);
    Label1 = new QLabel(this);
    Label1->setGeometry(8, 0, 428, 33);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(0, 33, 436, 20);
    ProgressBar1->setTextVisible(false);
}

void TProgressWindow::Shown(const support::TFormMsg& form) {
    Changed(form);
    if (!isVisible()) {
        if (auto* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        show();
    }
    raise();
    activateWindow();
}

void TProgressWindow::Changed(const support::TFormMsg& form) {
    setWindowTitle(Q(form.Caption));
    Label1->setText(Q(form.Message));
    ProgressBar1->setRange(form.BarMin, std::max(form.BarMin, form.BarMax));
    ProgressBar1->setValue(form.BarPosition);
}

void TProgressWindow::Hidden(const support::TFormMsg&) { hide(); }

void TProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) m_state.FormKeyDown(support::TFormMsg::KeyEscape);
}

void TProgressWindow::closeEvent(QCloseEvent* event) {
    m_state.FormClose();
    event->accept();
}

// ---- main window ----

TMainWindow::TMainWindow(TFormMerge& form, support::IOperator& op, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_form(form) {
    setWindowTitle(Q(form.Controls.Caption.empty() ? kApplicationTitle : form.Controls.Caption));

    m_groups = std::make_unique<TDbTableModel>(
        form.TableMerge,
        std::vector<TGridColumn>{{"Selected", setup::kFieldMaster, 8, true, false},
                                 {"NO", setup::kFieldNo, 3, false, false},
                                 {"CODE", setup::kFieldCode, 11, false, false},
                                 {"DESC", setup::kFieldDesc, 60, false, true}},
        std::vector<std::string>{setup::kFieldNo}, op);
    m_sources = std::make_unique<TDbTableModel>(
        form.TableMergeDTL,
        std::vector<TGridColumn>{{"CODE", setup::kFieldCode, 8, false, false},
                                 {"DESC", setup::kFieldDesc, 37, false, true},
                                 {"PATH", setup::kFieldPath, 150, false, false}},
        std::vector<std::string>{setup::kFieldNo, setup::kFieldCode}, op);

    PageControl1 = new QTabWidget(this);
    TabSheet2 = MakeProcessPage();
    TabSheet1 = MakeSetupPage();
    PageControl1->addTab(TabSheet2, "Process");
    PageControl1->addTab(TabSheet1, "Setup");
    PageControl1->setCurrentIndex(form.Controls.ActivePage == 1 ? 1 : 0);
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this](int page) { m_form.Controls.ActivePage = page; });

    BitBtn2 = new QPushButton(QIcon::fromTheme("window-close"), "Close", this);
    connect(BitBtn2, &QPushButton::clicked, this, [this] { close(); });
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(bottom);

    FormMsg = new TProgressWindow(form.FormMsg, this);
    form.FormMsg.SetView(FormMsg);

    ShowControls();
    setFixedSize(720, 540);
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QWidget* TMainWindow::MakeProcessPage() {
    TMergeControls& c = m_form.Controls;
    auto* page = new QWidget;

    auto* destination = new QGroupBox("Destination Database ", page);
    Edit1 = new QLineEdit(destination);
    Edit1->setReadOnly(true);
    (new QVBoxLayout(destination))->addWidget(Edit1);

    auto* source = new QGroupBox("Source Database ", page);
    edit2 = new QLineEdit(source);
    edit2->setReadOnly(true);
    Gauge1 = new QProgressBar(source);
    auto* sourceLayout = new QVBoxLayout(source);
    sourceLayout->addWidget(edit2);
    sourceLayout->addWidget(Gauge1);

    CheckBoxLeave = new QCheckBox("Transfer Leave Record ?", page);
    CheckBoxGL = new QCheckBox("Merge GL?", page);
    chkSPE = new QCheckBox("Exclude Special record", page);
    chkMERGE = new QCheckBox("Merge selected  database?", page);
    CheckBoxLeave->setChecked(c.CheckBoxLeave);
    CheckBoxGL->setChecked(c.CheckBoxGL);
    chkSPE->setChecked(c.chkSPE);
    chkMERGE->setChecked(c.chkMERGE);
    connect(CheckBoxLeave, &QCheckBox::toggled, this,
            [this](bool on) { m_form.Controls.CheckBoxLeave = on; });
    connect(CheckBoxGL, &QCheckBox::toggled, this,
            [this](bool on) { m_form.Controls.CheckBoxGL = on; });
    connect(chkSPE, &QCheckBox::toggled, this, [this](bool on) { m_form.Controls.chkSPE = on; });
    connect(chkMERGE, &QCheckBox::toggled, this,
            [this](bool on) { m_form.Controls.chkMERGE = on; });
    // The preview merges scratch copies of every database: the run account without a change.
    chkPreview = new QCheckBox("Preview only, change nothing", page);
    chkPreview->setChecked(m_form.DryRun);
    connect(chkPreview, &QCheckBox::toggled, this, [this](bool on) { m_form.DryRun = on; });

    auto* label4 = new QLabel("Period Selection", page);
    EditPeriod = new QComboBox(page);
    EditPeriod->setEditable(true);
    EditPeriod->setInsertPolicy(QComboBox::NoInsert);
    connect(EditPeriod, &QComboBox::editTextChanged, this,
            [this](const QString& text) { m_form.Controls.EditPeriod = text.toStdString(); });

    BitBtn1 = new QPushButton(QIcon::fromTheme("system-run"), "&Merge Database", page);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { MergeDatabase(); });

    Memo1 = new QPlainTextEdit(page);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* options = new QGridLayout;
    options->addWidget(CheckBoxLeave, 0, 0);
    options->addWidget(CheckBoxGL, 0, 1);
    options->addWidget(chkSPE, 1, 0);
    options->addWidget(chkMERGE, 1, 1);
    options->addWidget(chkPreview, 2, 0);

    auto* period = new QHBoxLayout;
    period->addWidget(label4);
    period->addWidget(EditPeriod);
    period->addStretch();
    period->addWidget(BitBtn1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(destination);
    layout->addWidget(source);
    layout->addLayout(options);
    layout->addLayout(period);
    layout->addWidget(Memo1, 1);
    return page;
}

QWidget* TMainWindow::MakeSetupPage() {
    auto* page = new QWidget;
    auto* label1 = new QLabel("Destination Database", page);
    DBGrid1 = new TDbGrid(*m_groups, page);
    DBGrid1->setItemDelegateForColumn(2, new TCompanyDelegate(m_form, true, DBGrid1));
    auto* label2 = new QLabel("Source Database", page);
    DBGrid2 = new TDbGrid(*m_sources, page);
    DBGrid2->setItemDelegateForColumn(0, new TCompanyDelegate(m_form, false, DBGrid2));

    DBGrid1->OnExit = [this] {
        m_groups->Guard([this] { setup::DBGrid1Exit(m_form); });
        m_sources->Reload();
    };
    DBGrid1->OnKeyDown = [this](int key) {
        m_groups->Guard([this, key] { setup::DBGrid1KeyDown(m_form, key); });
        m_sources->Reload();
    };
    DBGrid1->OnRowChanged = [this] { m_sources->Reload(); };
    DBGrid2->OnEnter = [this] {
        m_sources->Guard([this] { setup::DBGrid2Enter(m_form); });
        const bool readOnly = m_form.Controls.DBGrid2ReadOnly;
        m_sources->SetReadOnly(readOnly);
        DBGrid2->setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers : kGridEditTriggers);
    };
    DBGrid2->OnExit = [this] { m_sources->Guard([this] { setup::DBGrid2Exit(m_form); }); };
    DBGrid2->OnKeyDown = [this](int key) {
        m_sources->Guard([this, key] { setup::DBGrid2KeyDown(m_form, key); });
    };

    auto* radioGroup = new QGroupBox("Select Company to merge", page);
    CheckAll = new QRadioButton("Check All", radioGroup);
    UncheckAll = new QRadioButton("Uncheck All", radioGroup);
    m_radioGroup = new QButtonGroup(radioGroup);
    m_radioGroup->addButton(CheckAll, setup::kCheckAll);
    m_radioGroup->addButton(UncheckAll, setup::kUncheckAll);
    auto* radioLayout = new QHBoxLayout(radioGroup);
    radioLayout->addWidget(CheckAll);
    radioLayout->addWidget(UncheckAll);
    radioLayout->addStretch();
    // Only a change of the selection runs the handler: choosing the chosen item again does not.
    connect(m_radioGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) RadioGroup1Clicked(id);
    });

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(label1);
    layout->addWidget(DBGrid1, 3);
    layout->addWidget(label2);
    layout->addWidget(DBGrid2, 2);
    layout->addWidget(radioGroup);
    return page;
}

void TMainWindow::RadioGroup1Clicked(int item) {
    m_form.Controls.RadioGroup1ItemIndex = item;
    m_groups->Guard([this] { setup::RadioGroup1Click(m_form); });
    m_sources->Reload();
}

void TMainWindow::ReloadGrids() {
    m_groups->Reload();
    m_sources->Reload();
}

void TMainWindow::ShowControls() {
    const TMergeControls& c = m_form.Controls;
    if (Edit1->text().toStdString() != c.Edit1) Edit1->setText(Q(c.Edit1));
    if (edit2->text().toStdString() != c.edit2) edit2->setText(Q(c.edit2));
    Gauge1->setRange(c.Gauge1Min, std::max(c.Gauge1Min, c.Gauge1Max));
    Gauge1->setValue(c.Gauge1Progress);
    if (c.Memo1.size() < m_memoLines) {
        Memo1->clear();
        m_memoLines = 0;
    }
    for (; m_memoLines < c.Memo1.size(); ++m_memoLines)
        Memo1->appendPlainText(Q(c.Memo1[m_memoLines]));
    BitBtn1->setEnabled(c.BitBtn1Enabled);
    BitBtn2->setEnabled(c.BitBtn2Enabled);

    // The operator's own controls show the state too; the state is already what they show
    // unless the engine changed it, and showing it again must not feed it back.
    const auto showCheck = [](QCheckBox* box, bool on) {
        if (box->isChecked() == on) return;
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    };
    showCheck(CheckBoxLeave, c.CheckBoxLeave);
    showCheck(CheckBoxGL, c.CheckBoxGL);
    showCheck(chkSPE, c.chkSPE);
    showCheck(chkMERGE, c.chkMERGE);
    showCheck(chkPreview, m_form.DryRun);
    ShowPeriodList();
    if (CheckAll->isChecked() != (c.RadioGroup1ItemIndex == setup::kCheckAll) ||
        UncheckAll->isChecked() != (c.RadioGroup1ItemIndex == setup::kUncheckAll)) {
        const QSignalBlocker quietAll(CheckAll), quietNone(UncheckAll), quietGroup(m_radioGroup);
        m_radioGroup->setExclusive(false);
        CheckAll->setChecked(c.RadioGroup1ItemIndex == setup::kCheckAll);
        UncheckAll->setChecked(c.RadioGroup1ItemIndex == setup::kUncheckAll);
        m_radioGroup->setExclusive(true);
    }
    const int page = c.ActivePage == 1 ? 1 : 0;
    if (PageControl1->currentIndex() != page) {
        const QSignalBlocker quiet(PageControl1);
        PageControl1->setCurrentIndex(page);
    }
}

void TMainWindow::ShowPeriodList() {
    const TMergeControls& c = m_form.Controls;
    const QSignalBlocker quiet(EditPeriod);
    if (m_periodItems != c.EditPeriodItems) {
        m_periodItems = c.EditPeriodItems;
        EditPeriod->clear();
        // Each item holds the period twice around a tab; the box shows it once.
        for (const auto& item : m_periodItems) {
            const QString text = Q(item);
            EditPeriod->addItem(text.section('\t', 0, 0), text.section('\t', 1));
        }
        if (c.EditPeriodItemIndex >= 0 && c.EditPeriodItemIndex < EditPeriod->count())
            EditPeriod->setCurrentIndex(c.EditPeriodItemIndex);
    }
    if (EditPeriod->currentText().toStdString() != c.EditPeriod)
        EditPeriod->setEditText(Q(c.EditPeriod));
}

// While a run lasts, nothing the run reads may change under it: the merge groups (the "Setup"
// page), the period and the options, which every stage reads again as it starts.
void TMainWindow::SetRunning(bool running) {
    m_running = running;
    TabSheet1->setEnabled(!running);
    for (QWidget* input : std::initializer_list<QWidget*>{EditPeriod, CheckBoxLeave, CheckBoxGL,
                                                          chkSPE, chkMERGE, chkPreview})
        input->setEnabled(!running);
}

void TMainWindow::MergeDatabase() {
    if (m_running) return;
    m_form.Controls.EditPeriod = EditPeriod->currentText().toStdString();
    SetRunning(true);
    run::RunMerge(m_form);
    SetRunning(false);
    ShowControls();
    ReloadGrids();
    // Also after a stop or a failure: what was done before it is the operator's to see.
    if (!Results) Results = new TResultsWindow(this);
    Results->ShowAccount(m_form.Account, m_form.Controls.Memo1);
    Results->show();
    Results->raise();
}

void TMainWindow::keyPressEvent(QKeyEvent* event) {
    // F5 counts only when it reaches the window itself, i.e. while no control holds the focus
    // (keys a control leaves unhandled are passed on to the window too).
    QWidget* focused = QApplication::focusWidget();
    if (event->key() == Qt::Key_F5 && (!focused || focused == this)) {
        Report(m_form, [this] { MakeMergeTables(m_form.BaseFolder); });
        return;
    }
    if (event->key() == Qt::Key_Escape) return;  // the window closes only by Close or its close box
    QDialog::keyPressEvent(event);
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    // A run lets the window process its messages; it cannot be closed under the run.
    if (m_running) {
        event->ignore();
        return;
    }
    // A row still in editing (the close box needs no focus change, so no grid exit ran) is
    // written like on leaving its grid; one that cannot be written keeps the window open with
    // the error shown, so the operator can correct it or drop it with Esc.
    if (!m_groups->PostPending() || !m_sources->PostPending()) {
        event->ignore();
        return;
    }
    event->accept();
}

void TMainWindow::reject() { close(); }

}  // namespace peltorn::ui
