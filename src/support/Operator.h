// The engine's only way to talk to the operator. The desktop program binds it to message boxes
// and the Qt event loop, the command-line tool to the terminal, tests to a scripted operator.
// The engine never shows anything itself.
#pragma once

#include <string>

namespace peltorn::support {

class IOperator {
public:
    virtual ~IOperator() = default;
    // A message box with an OK button; returns when the operator has confirmed it.
    virtual void Inform(const std::string& text) = 0;
    // A confirmation with the buttons Yes and No; true for Yes.
    virtual bool Ask(const std::string& question) = 0;
    // The application's standard error report: the error text, the application title as
    // caption, an error icon.
    virtual void ReportError(const std::string& text) = 0;
    // Let the windows process pending messages (repaint, keyboard, the stop request).
    virtual void ProcessMessages() = 0;
};

}  // namespace peltorn::support
