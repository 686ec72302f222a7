// The progress window TFormMsg as state the engine owns: caption, message, bar range and
// position, visibility and the operator's stop request. A view (the Qt window, the terminal
// progress line) shows this state; it is attached through IProgressView.
//
// Long loops of the run test StepProgress in their loop condition; a confirmed Esc makes every
// later StepProgress return false until the window is closed again (CloseProgress).
#pragma once

#include "support/Operator.h"

#include <string>

namespace peltorn::support {

class TFormMsg;

inline constexpr const char* kProgressCaption = "Progress Bar";
inline constexpr const char* kTerminateQuestion = "Terminate processing ?";

// What a view of the progress window is told. All calls come from the run's thread.
class IProgressView {
public:
    virtual ~IProgressView() = default;
    virtual void Shown(const TFormMsg& form) = 0;    // became visible (or brought to front)
    virtual void Changed(const TFormMsg& form) = 0;  // message or position changed
    virtual void Hidden(const TFormMsg& form) = 0;
};

class TFormMsg {
public:
    explicit TFormMsg(IOperator& op) : m_operator(&op) {}

    void SetOperator(IOperator& op) { m_operator = &op; }
    void SetView(IProgressView* view) { m_view = view; }

    // Routines of the unit.
    // Caption "Progress Bar", ProgressMax = maximum, Message = message, and shows the window
    // (modeless, brought to the front). The range applies only when the window was hidden
    // (FormShow); while it is visible only the message changes.
    void ShowProgress(int maximum, const std::string& message);
    // Lets the operator's windows process pending messages (where Esc can arrive), advances the
    // bar by one step (past BarMax it starts again at BarMin) and returns !StopRequested.
    bool StepProgress();
    // Clears the stop request and closes (hides) the window.
    void CloseProgress();

    // Handlers of the window.
    // The window became visible: range 0 to ProgressMax, step 1 (the position is kept within).
    void FormShow();
    // key: the key code; Esc is KeyEscape. Esc asks "Terminate processing ?"; Yes sets
    // StopRequested. Other keys do nothing.
    void FormKeyDown(int key);
    // The window closes by any means (a view whose window the operator closes calls it too):
    // StopRequested false, Visible false.
    void FormClose();
    static constexpr int KeyEscape = 27;

    // State.
    std::string Caption = kProgressCaption;
    std::string Message;  // Label1
    int ProgressMax = 0;
    bool StopRequested = false;
    bool Visible = false;
    int BarMin = 0;
    int BarMax = 100;
    int BarStep = 1;
    int BarPosition = 0;

private:
    IOperator* m_operator;
    IProgressView* m_view = nullptr;
};

}  // namespace peltorn::support
