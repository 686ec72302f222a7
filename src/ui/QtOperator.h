// The desktop program's operator: message boxes for messages, questions and the standard error
// report, and "process pending messages" as the Qt event loop's processEvents, after the main
// window has shown the state of its controls. The merge run stays on the GUI thread.
#pragma once

#include "support/Operator.h"

#include <QWidget>

#include <chrono>

namespace peltorn::ui {

class TMainWindow;

// Modal message boxes, captioned with the application title.
class TMessageBoxes : public support::IOperator {
public:
    void SetParent(QWidget* parent) { m_parent = parent; }
    void Inform(const std::string& text) override;
    bool Ask(const std::string& question) override;
    // The standard error report: the error text, the application title, an error icon.
    void ReportError(const std::string& text) override;
    void ProcessMessages() override;

private:
    QWidget* m_parent = nullptr;
};

// What the engine talks to: the window shows the controls' state before any box and at every
// ProcessMessages; the boxes themselves come from dialogs (message boxes, or a script in tests).
class TWindowOperator : public support::IOperator {
public:
    explicit TWindowOperator(support::IOperator& dialogs) : m_dialogs(dialogs) {}
    void SetWindow(TMainWindow* window) { m_window = window; }
    void Inform(const std::string& text) override;
    bool Ask(const std::string& question) override;
    void ReportError(const std::string& text) override;
    void ProcessMessages() override;

private:
    void Show();
    support::IOperator& m_dialogs;
    TMainWindow* m_window = nullptr;
    std::chrono::steady_clock::time_point m_last{};
};

}  // namespace peltorn::ui
