// The progress window TFormMsg: one instance, created hidden at start and reused for the life of
// the process. The long loops of the run (currency conversion, bank transactions, cost-centre
// rebuild) test StepProgress in their loop condition, so pressing Esc and confirming stops them.
//
// States: hidden --ShowProgress--> visible --CloseProgress / any close--> hidden.
// StopRequested goes true only through a confirmed Esc and false only when the window closes;
// while it is true every StepProgress returns false, in whichever loop, so a stop asked for in
// one step also ends the loops of the steps after it until the window is next closed.
#include "support/ProgBar.h"

namespace peltorn::support {

void TFormMsg::ShowProgress(int maximum, const std::string& message) {
    Caption = kProgressCaption;
    ProgressMax = maximum;
    Message = message;
    if (!Visible) {
        Visible = true;
        FormShow();
    } else if (m_view) {
        m_view->Changed(*this);
    }
    if (m_view) m_view->Shown(*this);
}

bool TFormMsg::StepProgress() {
    m_operator->ProcessMessages();
    int next = BarPosition + BarStep;
    if (next > BarMax) next = BarMin;
    BarPosition = next;
    if (m_view) m_view->Changed(*this);
    return !StopRequested;
}

void TFormMsg::CloseProgress() {
    StopRequested = false;
    const bool wasVisible = Visible;
    FormClose();
    if (wasVisible && m_view) m_view->Hidden(*this);
}

void TFormMsg::FormShow() {
    // Deliberately only here: a ShowProgress while the window is visible keeps the range of the
    // caller that showed it.
    BarMin = 0;
    BarMax = ProgressMax;
    BarStep = 1;
    if (BarPosition > BarMax) BarPosition = BarMax;
    if (BarPosition < BarMin) BarPosition = BarMin;
}

void TFormMsg::FormKeyDown(int key) {
    if (key != KeyEscape) return;
    if (m_operator->Ask(kTerminateQuestion)) StopRequested = true;
}

void TFormMsg::FormClose() {
    StopRequested = false;
    Visible = false;
}

}  // namespace peltorn::support
