// peltorn-merge: the desktop program. Creates the main window through the engine's start-up and
// runs the window message loop until the window is closed.
//
//   peltorn-merge [--ini FILE] [--today YYYY-MM-DD] [--help] [--version]
//
// --ini reads FILE instead of ORVEX.ini beside the program; its folder then plays the program
// folder's role. --today YYYY-MM-DD starts the program as on that day (the period list).
// --screenshot PAGE FILE (PAGE "process", "setup" or "results") saves a picture of the
// window instead of running it, for the documentation; with --merge-first the window runs the
// merge of its period before the picture is taken, its messages written to standard output
// instead of message boxes (questions answered No).
#include "startup/StartUp.h"
#include "ui/MainWindow.h"
#include "ui/QtOperator.h"
#include "ui/ResultsWindow.h"

#include <QApplication>
#include <QDate>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

// The operator of a picture-taking run: nobody is at the screen to close a message box.
class TPrintedMessages : public peltorn::support::IOperator {
public:
    void Inform(const std::string& text) override { std::printf("%s\n", text.c_str()); }
    bool Ask(const std::string& question) override {
        std::printf("%s No\n", question.c_str());
        return false;
    }
    void ReportError(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    void ProcessMessages() override { QCoreApplication::processEvents(); }
};

}  // namespace

// --help and --version are answered before any window exists, so that they work without a
// screen (the manual page is made from them).
constexpr const char* kUsage =
    "Usage: peltorn-merge [OPTIONS]\n"
    "The desktop window of the consolidation: merge groups on the \"Setup\" page, the period,\n"
    "the options and the merge on the \"Process\" page.\n"
    "\n"
    "Options:\n"
    "  --ini FILE            settings file (default: ORVEX.ini beside the program)\n"
    "  --today YYYY-MM-DD    start as on that day (the period list)\n"
    "  --screenshot PAGE FILE  save a picture of the page \"process\" or \"setup\" (or of the\n"
    "                        \"results\" view, with --merge-first) and exit\n"
    "  --merge-first         with --screenshot: merge the period before the picture\n"
    "  --help                show this help and exit\n"
    "  --version             show the version and exit\n";

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help") {
            std::printf("%s", kUsage);
            return 0;
        }
        if (std::string(argv[i]) == "--version") {
            std::printf("peltorn-merge %s\n", PELTORN_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(peltorn::kApplicationTitle);

    std::string ini, page, file, today;
    bool mergeFirst = false;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--ini" && i + 1 < args.size())
            ini = args[++i].toStdString();
        else if (args[i] == "--today" && i + 1 < args.size())
            today = args[++i].toStdString();
        else if (args[i] == "--merge-first")
            mergeFirst = true;
        else if (args[i] == "--screenshot" && i + 2 < args.size()) {
            page = args[++i].toStdString();
            file = args[++i].toStdString();
        } else {
            std::fprintf(
                stderr,
                "usage: peltorn-merge [--ini FILE] [--today YYYY-MM-DD] (--help lists all)\n");
            return 2;
        }
    }

    peltorn::ui::TMessageBoxes boxes;
    TPrintedMessages printed;
    peltorn::ui::TWindowOperator op(page.empty() ? static_cast<peltorn::support::IOperator&>(boxes)
                                                 : printed);
    peltorn::TFormMerge form(op);
    auto options = peltorn::StartOptionsFor(QApplication::applicationFilePath().toStdString(), ini);
    if (!today.empty()) {
        const QDate date = QDate::fromString(QString::fromStdString(today), Qt::ISODate);
        if (!date.isValid()) {
            std::fprintf(stderr, "error: --today needs a date YYYY-MM-DD, not %s\n", today.c_str());
            return 2;
        }
        options.Today = [date] {
            return peltorn::db::EncodeDate(date.year(), date.month(), date.day());
        };
    }
    peltorn::FormCreate(form, options);

    peltorn::ui::TMainWindow window(form, op);
    boxes.SetParent(&window);
    op.SetWindow(&window);
    window.show();

    if (!page.empty()) {
        if (mergeFirst) window.MergeDatabase();
        window.PageControl1->setCurrentIndex(page == "setup" ? 1 : 0);
        if (page == "setup") window.DBGrid1->setFocus();
        // "results": the Results view the merge left open.
        QWidget* shown = &window;
        if (page == "results" && window.Results) shown = window.Results;
        QTimer::singleShot(300, &window, [shown, &file] {
            const bool saved = shown->grab().save(QString::fromStdString(file));
            std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "cannot save",
                         file.c_str());
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
