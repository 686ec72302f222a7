// The terminal as the merge run's operator and windows: messages on standard error, questions
// answered by --yes (default No), the run log and the progress texts on standard output (the run
// log also into --log FILE), Ctrl-C as the confirmed stop request of the progress window.
#pragma once

#include "startup/FormMerge.h"
#include "support/Operator.h"
#include "support/ProgBar.h"

#include <fstream>
#include <iosfwd>
#include <string>

namespace peltorn::cli {

class TTerminalOperator : public support::IOperator, public support::IProgressView {
public:
    // out: run log and progress texts; err: messages and questions. log: may be null.
    TTerminalOperator(std::ostream& out, std::ostream& err, bool answerYes, std::ostream* log);

    // The window whose controls are shown at every ProcessMessages; attaches itself as the
    // progress window's view.
    void Attach(TFormMerge& form);

    void Inform(const std::string& text) override;
    bool Ask(const std::string& question) override;
    void ReportError(const std::string& text) override;
    void ProcessMessages() override;

    void Shown(const support::TFormMsg& form) override;
    void Changed(const support::TFormMsg& form) override;
    void Hidden(const support::TFormMsg& form) override;

    int ErrorsReported() const { return m_errors; }

    // Installs the Ctrl-C handler: each Ctrl-C becomes a stop request, handed to the progress
    // window at the next ProcessMessages.
    static void CatchInterrupt();

private:
    void ShowControls();

    std::ostream& m_out;
    std::ostream& m_err;
    bool m_answerYes;
    std::ostream* m_log;
    TFormMerge* m_form = nullptr;
    std::size_t m_memoShown = 0;
    std::string m_edit2Shown;
    std::string m_progressShown;
    int m_errors = 0;
};

}  // namespace peltorn::cli
