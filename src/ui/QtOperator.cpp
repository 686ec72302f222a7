#include "ui/QtOperator.h"

#include "startup/FormMerge.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>

#include <QMessageBox>
#include <chrono>

namespace peltorn::ui {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }
QString Title() { return QString::fromUtf8(kApplicationTitle); }

}  // namespace

void TMessageBoxes::Inform(const std::string& text) {
    QMessageBox::information(m_parent, Title(), Text(text));
}

bool TMessageBoxes::Ask(const std::string& question) {
    return QMessageBox::question(m_parent, Title(), Text(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void TMessageBoxes::ReportError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, Title(), Text(text), QMessageBox::Ok, m_parent);
    box.exec();
}

void TMessageBoxes::ProcessMessages() { QCoreApplication::processEvents(); }

void TWindowOperator::Show() {
    if (m_window) m_window->ShowControls();
}

void TWindowOperator::Inform(const std::string& text) {
    Show();
    m_dialogs.Inform(text);
}

bool TWindowOperator::Ask(const std::string& question) {
    Show();
    return m_dialogs.Ask(question);
}

void TWindowOperator::ReportError(const std::string& text) {
    Show();
    m_dialogs.ReportError(text);
}

// The run calls this between records, hundreds of thousands of times a second; the window is
// repainted and its events handled every 20 ms, which keeps it responsive at a negligible cost.
void TWindowOperator::ProcessMessages() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last < std::chrono::milliseconds(20)) return;
    Show();
    QCoreApplication::processEvents();
    m_last = std::chrono::steady_clock::now();
}

}  // namespace peltorn::ui
