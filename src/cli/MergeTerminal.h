// The terminal as the merge run's operator and windows.
//
// Standard output carries the run log (the lines of Memo1; also written into --log FILE); the
// messages and questions (answered by --yes, default No) go to standard error. Progress is shown
// on standard error as one line kept up to date in place (--progress bar), as today's progress
// texts one per line (--progress lines), or not at all (--progress none). The progress line makes
// way for every other line written to the terminal and is drawn again after it.
//
// Ctrl-C: the first is the progress window's confirmed stop request (the run stops after the
// group being merged); a second one, SIGTERM or SIGHUP end the run at once as failed, with the
// error kEndedByOperator raised from the next ProcessMessages. Writing errors (a closed pipe, a
// terminal gone) never end the run: they are ignored.
#pragma once

#include "startup/FormMerge.h"
#include "support/Operator.h"
#include "support/ProgBar.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>

namespace peltorn::cli {

inline constexpr const char* kEndedByOperator = "The run was ended by the operator";
inline constexpr const char* kStopRequestedLine =
    "Stop requested: the run stops after the group being merged (press Ctrl-C again to end it at "
    "once)";

enum class TProgressMode { None, Bar, Lines };

// True when fd is a terminal.
bool IsTerminal(int fd);
// True when fd is a terminal that may be written in colour: NO_COLOR is not set (or empty) and
// TERM names a terminal that has colours (set, not "dumb").
bool TerminalAllowsColour(int fd);
// True when both descriptors are the same terminal (standard output and standard error of a
// program started at a prompt).
bool SameTerminal(int fd1, int fd2);
// The width of the terminal fd in columns; 80 when it cannot be asked.
int TerminalColumns(int fd);

struct TTerminalSetup {
    TProgressMode Progress = TProgressMode::None;
    bool BarColour = false;         // the bar may use colour
    bool OutputOnTerminal = false;  // standard output is the terminal the bar is drawn on
    bool ShowRunLog = true;         // false: the run log goes only into --log FILE (--quiet)
    int TerminalFd = 2;             // the terminal whose width cuts the progress line
};

class TTerminalOperator : public support::IOperator, public support::IProgressView {
public:
    // out: the run log; err: messages, questions and progress. log: may be null.
    TTerminalOperator(std::ostream& out, std::ostream& err, bool answerYes, std::ostream* log,
                      const TTerminalSetup& setup);

    // The window whose controls are shown at every ProcessMessages; attaches itself as the
    // progress window's view.
    void Attach(TFormMerge& form);

    // The run starts: the clock of the progress line starts, the stages are followed (chained
    // after whoever else follows them), Ctrl-C, SIGTERM and SIGHUP are caught.
    void BeginRun();
    // The run has returned: the rest of the run log is written out and the progress line erased,
    // so that what follows stands on lines of its own. Ctrl-C no longer ends anything.
    void EndRun();

    void Inform(const std::string& text) override;
    bool Ask(const std::string& question) override;
    void ReportError(const std::string& text) override;
    void ProcessMessages() override;

    void Shown(const support::TFormMsg& form) override;
    void Changed(const support::TFormMsg& form) override;
    void Hidden(const support::TFormMsg& form) override;

    int ErrorsReported() const { return m_errors; }

private:
    void ShowControls();
    void FollowTable();
    void MessageLine(const std::string& text);
    void DrawBar(bool force);
    void EraseBar();
    std::string BarText() const;

    std::ostream& m_out;
    std::ostream& m_err;
    bool m_answerYes;
    std::ostream* m_log;
    TTerminalSetup m_setup;
    TFormMerge* m_form = nullptr;
    std::size_t m_memoShown = 0;
    std::string m_edit2Shown;
    std::string m_progressShown;
    int m_errors = 0;

    // While a run lasts.
    bool m_running = false;
    std::function<void(const char*)> m_previousOnStage;
    std::string m_stage;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    bool m_barShown = false;
    std::string m_barDrawn;
    std::string m_countTable;      // the table whose records are counted
    std::size_t m_countBase = 0;   // RecordsTransferred when that table began
    bool m_stopAnnounced = false;  // the first Ctrl-C became the stop request
    bool m_endReported = false;    // the run has reported the end the operator asked for
};

}  // namespace peltorn::cli
