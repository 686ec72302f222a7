#include "ui/ResultsWindow.h"

#include "run/RunSummary.h"
#include "support/PrivateFiles.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace peltorn::ui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString Money(double amount) { return QString::number(amount, 'f', 2); }

QTableWidgetItem* Item(const QString& text, bool number = false) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

}  // namespace

TResultsWindow::TResultsWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Results");
    resize(900, 600);
    Result = new QLabel(this);
    Summary = new QPlainTextEdit(this);
    Summary->setReadOnly(true);
    Summary->setLineWrapMode(QPlainTextEdit::NoWrap);
    Checks = new QTableWidget(0, 4, this);
    Checks->setHorizontalHeaderLabels({"Group", "Check", "Result", "Detail"});
    Checks->horizontalHeader()->setStretchLastSection(true);
    Checks->verticalHeader()->hide();
    Reconciliation = new QTableWidget(0, 11, this);
    Reconciliation->setHorizontalHeaderLabels({"Group", "Source", "Currency", "Headers", "Basic",
                                               "Gross wage", "Nett wage", "Rate", "Basic *",
                                               "Gross wage *", "Nett wage *"});
    Reconciliation->verticalHeader()->hide();
    SaveReportButton = new QPushButton("Save report...", this);
    SaveRunLogButton = new QPushButton("Save run log...", this);
    auto* close = new QPushButton("Close", this);
    connect(SaveReportButton, &QPushButton::clicked, this,
            [this] { Save("Save report", "Run report (*.json)", &TResultsWindow::SaveReport); });
    connect(SaveRunLogButton, &QPushButton::clicked, this,
            [this] { Save("Save run log", "Run log (*.log *.txt)", &TResultsWindow::SaveRunLog); });
    connect(close, &QPushButton::clicked, this, &QDialog::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SaveReportButton);
    buttons->addWidget(SaveRunLogButton);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Result);
    layout->addWidget(Summary, 2);
    layout->addWidget(new QLabel("Checks", this));
    layout->addWidget(Checks, 2);
    layout->addWidget(
        new QLabel("Reconciliation (* in the destination after the conversion)", this));
    layout->addWidget(Reconciliation, 2);
    layout->addLayout(buttons);
}

void TResultsWindow::ShowAccount(const run::TRunAccount& account, const run::TRunLog& runLog) {
    m_account = account;
    m_runLog = runLog;
    const std::string result = account.Result.empty() ? run::kResultFailed : account.Result;
    Result->setText(Q("Period " + account.Period + ": " + result));
    Result->setStyleSheet(result == run::kResultCompleted ? "font-weight: bold"
                                                          : "font-weight: bold; color: #b00000");
    Summary->setPlainText(Q(run::RunSummaryText(account, false)));

    Checks->setRowCount(0);
    Reconciliation->setRowCount(0);
    for (const auto& group : account.Groups) {
        for (const auto& check : group.Checks) {
            const int row = Checks->rowCount();
            Checks->insertRow(row);
            Checks->setItem(row, 0, Item(Q(group.Code)));
            Checks->setItem(row, 1, Item(Q(check.Name)));
            auto* mark = Item(check.Passed ? "passed" : "FAILED");
            if (!check.Passed) {
                mark->setForeground(QColor(0xb0, 0, 0));
                QFont bold = mark->font();
                bold.setBold(true);
                mark->setFont(bold);
            }
            Checks->setItem(row, 2, mark);
            Checks->setItem(row, 3, Item(Q(check.Detail)));
        }
        for (const auto& r : group.Reconciliation) {
            const int row = Reconciliation->rowCount();
            Reconciliation->insertRow(row);
            const QString cells[] = {Q(group.Code),
                                     Q(r.Source),
                                     Q(r.Currency),
                                     QString::number(r.Headers),
                                     Money(r.Basic),
                                     Money(r.GrossWage),
                                     Money(r.NettWage),
                                     r.Rate ? QString::number(*r.Rate) : QString("-"),
                                     Money(r.BasicConverted),
                                     Money(r.GrossWageConverted),
                                     Money(r.NettWageConverted)};
            for (int column = 0; column < 11; ++column)
                Reconciliation->setItem(row, column, Item(cells[column], column >= 3));
        }
    }
    Checks->resizeColumnsToContents();
    Reconciliation->resizeColumnsToContents();
}

void TResultsWindow::SaveReport(const std::string& path) const {
    run::WriteRunReport(m_account, m_runLog, path);
}

void TResultsWindow::SaveRunLog(const std::string& path) const {
    support::CreatePrivateFile(path);  // the run log names employees and amounts
    std::ofstream out(path, std::ios::trunc);
    for (const auto& line : m_runLog) out << line << "\n";
    out.flush();
    if (!out) throw std::runtime_error("Cannot write the run log " + path);
}

void TResultsWindow::Save(const QString& caption, const QString& filter,
                          void (TResultsWindow::*save)(const std::string&) const) {
    const QString path = QFileDialog::getSaveFileName(this, caption, QString(), filter);
    if (path.isEmpty()) return;
    try {
        (this->*save)(path.toStdString());
    } catch (const std::exception& e) {
        QMessageBox::critical(this, caption, Q(e.what()));
    }
}

}  // namespace peltorn::ui
