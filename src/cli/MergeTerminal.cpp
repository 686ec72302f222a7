// The terminal binding of the merge run. The run calls ProcessMessages between records; that is
// where new run-log lines and a changed progress text are written out and where a Ctrl-C that
// arrived meanwhile becomes the progress window's stop request (a signal handler may only set a
// flag, so the request waits for the run's next ProcessMessages).
#include "cli/MergeTerminal.h"

#include "db/DbConnection.h"

#include <csignal>
#include <ostream>

namespace peltorn::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

TTerminalOperator::TTerminalOperator(std::ostream& out, std::ostream& err, bool answerYes,
                                     std::ostream* log)
    : m_out(out), m_err(err), m_answerYes(answerYes), m_log(log) {}

void TTerminalOperator::Attach(TFormMerge& form) {
    m_form = &form;
    form.FormMsg.SetView(this);
}

void TTerminalOperator::CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

void TTerminalOperator::Inform(const std::string& text) {
    ShowControls();
    m_err << text << std::endl;
}

bool TTerminalOperator::Ask(const std::string& question) {
    ShowControls();
    m_err << question << (m_answerYes ? " Yes" : " No") << std::endl;
    return m_answerYes;
}

void TTerminalOperator::ReportError(const std::string& text) {
    ++m_errors;
    ShowControls();
    m_err << "error: " << text << std::endl;
}

void TTerminalOperator::ProcessMessages() {
    if (g_interrupted && m_form) {
        g_interrupted = 0;
        m_form->FormMsg.StopRequested = true;
        m_err << "Stop requested" << std::endl;
    }
    ShowControls();
}

void TTerminalOperator::ShowControls() {
    if (!m_form) return;
    const auto& memo = m_form->Controls.Memo1;
    if (memo.size() < m_memoShown) m_memoShown = 0;  // the run emptied its log
    for (; m_memoShown < memo.size(); ++m_memoShown) {
        m_out << memo[m_memoShown] << '\n';
        if (m_log) *m_log << memo[m_memoShown] << '\n';
    }
    const std::string& edit2 = m_form->Controls.edit2;
    if (edit2 != m_edit2Shown) {
        m_edit2Shown = edit2;
        if (!edit2.empty()) m_out << edit2 << '\n';
    }
}

void TTerminalOperator::Shown(const support::TFormMsg& form) { Changed(form); }

void TTerminalOperator::Changed(const support::TFormMsg& form) {
    if (form.Message == m_progressShown) return;
    m_progressShown = form.Message;
    ShowControls();
    m_out << form.Message << '\n';
}

void TTerminalOperator::Hidden(const support::TFormMsg&) { m_progressShown.clear(); }

}  // namespace peltorn::cli
