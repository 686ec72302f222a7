// The terminal binding of the merge run. The run calls ProcessMessages between records and about
// every 25 ms inside long statements; that is where new run-log lines are written out, the
// progress line is drawn again (at most ten times a second), and a Ctrl-C that arrived meanwhile
// takes effect: a signal handler may only set a flag, so the request waits for the run's next
// ProcessMessages.
//
// An end asked for by the operator (second Ctrl-C, SIGTERM, SIGHUP) is an error raised from
// ProcessMessages. The database layer does not let an error out of a statement's heartbeat, so
// the error is raised again at every later ProcessMessages until the run has reported it.
#include "cli/MergeTerminal.h"

#include "cli/ProgressLine.h"
#include "run/MergeRun.h"
#include "run/RunTexts.h"
#include "support/StrUtil.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <ostream>

namespace peltorn::cli {

namespace {

volatile std::sig_atomic_t g_interrupts = 0;  // Ctrl-C presses, counted up to two
volatile std::sig_atomic_t g_ended = 0;       // SIGTERM or SIGHUP

extern "C" void OnSignal(int signal) {
    if (signal == SIGINT) {
        if (g_interrupts < 2) g_interrupts = g_interrupts + 1;
    } else {
        g_ended = 1;
    }
}

void CatchSignals() {
    g_interrupts = 0;
    g_ended = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// A stream that failed to write (a closed pipe, a terminal gone) is made usable again; what it
// could not write is lost, the run goes on.
void Recover(std::ostream& stream) {
    if (!stream) stream.clear();
}

constexpr auto kDrawInterval = std::chrono::milliseconds(100);
constexpr const char* kEraseLine = "\r\x1b[K";

// The company code of a database path: the last name of a folder of free tables, the name of a
// ".ADD" file without its extension.
std::string CodeOfPath(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.size() > 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& ch : ext) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (ext == ".ADD") name.resize(name.size() - 4);
    }
    return name;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

bool TerminalAllowsColour(int fd) {
    if (!IsTerminal(fd)) return false;
    const char* noColour = std::getenv("NO_COLOR");
    if (noColour && *noColour) return false;
    const char* term = std::getenv("TERM");
    return term && *term && std::string(term) != "dumb";
}

bool SameTerminal(int fd1, int fd2) {
    struct stat a {
    }, b{};
    if (!IsTerminal(fd1) || !IsTerminal(fd2)) return false;
    if (::fstat(fd1, &a) != 0 || ::fstat(fd2, &b) != 0) return false;
    return a.st_rdev == b.st_rdev;
}

int TerminalColumns(int fd) {
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

TTerminalOperator::TTerminalOperator(std::ostream& out, std::ostream& err, bool answerYes,
                                     std::ostream* log, const TTerminalSetup& setup)
    : m_out(out), m_err(err), m_answerYes(answerYes), m_log(log), m_setup(setup) {}

void TTerminalOperator::Attach(TFormMerge& form) {
    m_form = &form;
    form.FormMsg.SetView(this);
}

void TTerminalOperator::BeginRun() {
    m_running = true;
    m_start = std::chrono::steady_clock::now();
    m_lastDraw = {};
    m_stopAnnounced = false;
    m_endReported = false;
    if (m_form) {
        m_previousOnStage = m_form->OnStage;
        m_form->OnStage = [this](const char* stage) {
            if (m_previousOnStage) m_previousOnStage(stage);
            m_stage = stage;
            DrawBar(true);
        };
    }
    CatchSignals();
}

void TTerminalOperator::EndRun() {
    ShowControls();
    EraseBar();
    m_running = false;
    if (m_form) m_form->OnStage = m_previousOnStage;
    m_out.flush();
    Recover(m_out);
}

void TTerminalOperator::Inform(const std::string& text) {
    ShowControls();
    // The run's closing message is the last line of standard output; it is not said twice.
    if (text == run::kMsgMergeCompleted || StartsWith(text, run::kMsgMergeStoppedPrefix)) return;
    MessageLine(text);
}

bool TTerminalOperator::Ask(const std::string& question) {
    ShowControls();
    MessageLine(question + (m_answerYes ? " Yes" : " No"));
    return m_answerYes;
}

void TTerminalOperator::ReportError(const std::string& text) {
    ++m_errors;
    if (StartsWith(text, kEndedByOperator)) m_endReported = true;
    ShowControls();
    MessageLine("error: " + text);
}

void TTerminalOperator::ProcessMessages() {
    ShowControls();
    if (!m_running || !m_form) return;
    FollowTable();
    if ((g_interrupts >= 2 || g_ended) && !m_endReported) throw run::EMergeError(kEndedByOperator);
    if (g_interrupts >= 1 && !m_stopAnnounced) {
        m_stopAnnounced = true;
        m_form->FormMsg.StopRequested = true;
        MessageLine(kStopRequestedLine);
    }
    DrawBar(false);
}

void TTerminalOperator::ShowControls() {
    if (!m_form) return;
    const auto& memo = m_form->Controls.Memo1;
    if (memo.size() < m_memoShown) m_memoShown = 0;  // the run emptied its log
    if (m_memoShown < memo.size()) {
        const bool makeWay = m_setup.ShowRunLog && m_setup.OutputOnTerminal && m_barShown;
        if (makeWay) EraseBar();
        for (; m_memoShown < memo.size(); ++m_memoShown) {
            if (m_setup.ShowRunLog) m_out << memo[m_memoShown] << '\n';
            if (m_log) *m_log << memo[m_memoShown] << '\n';
        }
        if (m_setup.OutputOnTerminal) m_out.flush();
        Recover(m_out);
        if (makeWay) DrawBar(true);
    }
    const std::string& edit2 = m_form->Controls.edit2;
    if (edit2 != m_edit2Shown) {
        m_edit2Shown = edit2;
        if (m_setup.Progress == TProgressMode::Lines && !edit2.empty()) MessageLine(edit2);
    }
}

void TTerminalOperator::FollowTable() {
    const std::string& table = run::CurrentRunContext().Table;
    if (table == m_countTable) return;
    m_countTable = table;
    m_countBase = m_form->RecordsTransferred;
}

void TTerminalOperator::MessageLine(const std::string& text) {
    const bool hadBar = m_barShown;
    EraseBar();
    m_err << text << '\n';
    m_err.flush();
    Recover(m_err);
    if (hadBar) DrawBar(true);
}

std::string TTerminalOperator::BarText() const {
    const TMergeControls& c = m_form->Controls;
    const support::TFormMsg& window = m_form->FormMsg;
    const run::TRunContext& context = run::CurrentRunContext();
    TProgressLine line;
    line.ElapsedSeconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start)
            .count());
    line.Group = context.Group;
    const std::string source = CodeOfPath(context.Database);
    if (m_stage == "transfer" && source != support::TrimSpaces(context.Group)) {
        line.Where = source;
        line.Table = context.Table;
        const std::size_t records = m_form->RecordsTransferred - m_countBase;
        line.Count = std::to_string(records) + (records == 1 ? " record" : " records");
        line.BarDone = c.Gauge1Progress - c.Gauge1Min;
        line.BarTotal = c.Gauge1Max - c.Gauge1Min;
    } else if ((m_stage == "currency" || m_stage == "bank" || m_stage == "cost-centre") &&
               window.Visible) {
        line.Where = m_stage;
        line.Count = std::to_string(window.BarPosition) + "/" + std::to_string(window.BarMax);
        line.BarDone = window.BarPosition - window.BarMin;
        line.BarTotal = window.BarMax - window.BarMin;
    } else {
        line.Where = m_stage;
        // The transfer names its tables once a source is open; until then the table of the
        // context is still the last one cleared.
        if (m_stage != "transfer") line.Table = context.Table;
    }
    return RenderProgressLine(line, TerminalColumns(m_setup.TerminalFd), m_setup.BarColour);
}

void TTerminalOperator::DrawBar(bool force) {
    if (!m_running || !m_form || m_setup.Progress != TProgressMode::Bar) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < kDrawInterval) return;
    m_lastDraw = now;
    std::string text = BarText();
    if (m_barShown && text == m_barDrawn) return;
    m_err << '\r' << text << "\x1b[K";
    m_err.flush();
    Recover(m_err);
    m_barShown = true;
    m_barDrawn = std::move(text);
}

void TTerminalOperator::EraseBar() {
    if (!m_barShown) return;
    m_err << kEraseLine;
    m_err.flush();
    Recover(m_err);
    m_barShown = false;
    m_barDrawn.clear();
}

void TTerminalOperator::Shown(const support::TFormMsg& form) { Changed(form); }

void TTerminalOperator::Changed(const support::TFormMsg& form) {
    if (form.Message == m_progressShown) {
        DrawBar(false);
        return;
    }
    m_progressShown = form.Message;
    ShowControls();
    if (m_setup.Progress == TProgressMode::Lines) MessageLine(form.Message);
    DrawBar(false);
}

void TTerminalOperator::Hidden(const support::TFormMsg&) { m_progressShown.clear(); }

}  // namespace peltorn::cli
