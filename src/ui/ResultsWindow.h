// The "Results" view: what the last run did, shown when it ends (completed, stopped or failed).
// The run's summary, its checks with the failed ones marked, the reconciliation of every source's
// payroll, and the buttons that save the run report and the run log.
#pragma once

#include "run/RunAccount.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace peltorn::ui {

class TResultsWindow : public QDialog {
    Q_OBJECT
public:
    explicit TResultsWindow(QWidget* parent = nullptr);

    // Shows the account and keeps it, with the run log, for the save buttons.
    void ShowAccount(const run::TRunAccount& account, const run::TRunLog& runLog);

    // What the buttons save, to a file chosen by the operator; a file that cannot be written is
    // an error (std::runtime_error naming it).
    void SaveReport(const std::string& path) const;
    void SaveRunLog(const std::string& path) const;

    QLabel* Result = nullptr;
    QPlainTextEdit* Summary = nullptr;
    QTableWidget* Checks = nullptr;
    QTableWidget* Reconciliation = nullptr;
    QPushButton* SaveReportButton = nullptr;  // "Save report..."
    QPushButton* SaveRunLogButton = nullptr;  // "Save run log..."

private:
    void Save(const QString& caption, const QString& filter,
              void (TResultsWindow::*save)(const std::string&) const);

    run::TRunAccount m_account;
    run::TRunLog m_runLog;
};

}  // namespace peltorn::ui
