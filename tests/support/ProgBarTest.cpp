// The progress window: the Esc stop request and how long it holds, the range taken only when the
// window is shown, and the bar wrapping past its maximum.
#include "support/ProgBar.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace peltorn::support {
namespace {

using test::ScriptedOperator;

class RecordingView : public IProgressView {
public:
    void Shown(const TFormMsg& form) override { Events.push_back("shown:" + form.Message); }
    void Changed(const TFormMsg&) override { ++Changes; }
    void Hidden(const TFormMsg&) override { Events.push_back("hidden"); }
    std::vector<std::string> Events;
    int Changes = 0;
};

class ProgBarTest : public ::testing::Test {
protected:
    ScriptedOperator op;
    TFormMsg form{op};
};

// The loop shape of the currency conversion: test StepProgress, then show inside the body.
int RunLoop(TFormMsg& form, int records) {
    int done = 0;
    while (done < records && form.StepProgress()) {
        form.ShowProgress(records, "Process Currency conversion.");
        ++done;
    }
    return done;
}

TEST_F(ProgBarTest, EscAnsweredNoGoesOnAndYesStopsAtTheNextStep) {
    op.Answers = {false, true};
    op.OnProcessMessages = [&] {
        if (op.ProcessMessagesCalls == 3 || op.ProcessMessagesCalls == 6) {
            form.FormKeyDown(TFormMsg::KeyEscape);
        }
    };
    // Esc on the 3rd step is refused; Esc on the 6th is confirmed and that step returns false.
    EXPECT_EQ(RunLoop(form, 100), 5);
    EXPECT_EQ(op.Questions,
              (std::vector<std::string>{"Terminate processing ?", "Terminate processing ?"}));
    EXPECT_TRUE(form.StopRequested);
}

TEST_F(ProgBarTest, OtherKeysAskNothing) {
    form.FormKeyDown(13);
    form.FormKeyDown('q');
    EXPECT_TRUE(op.Questions.empty());
    EXPECT_FALSE(form.StopRequested);
}

TEST_F(ProgBarTest, StopHoldsAcrossLaterLoopsUntilTheWindowCloses) {
    op.Answers = {true};
    form.ShowProgress(10, "Process Emp# 0001");
    form.FormKeyDown(TFormMsg::KeyEscape);
    ASSERT_TRUE(form.StopRequested);

    // A later step's loops (another ShowProgress included) end at once.
    EXPECT_FALSE(form.StepProgress());
    EXPECT_EQ(RunLoop(form, 50), 0);
    form.ShowProgress(50, "Process Currency conversion.");
    EXPECT_FALSE(form.StepProgress());

    form.CloseProgress();
    EXPECT_FALSE(form.StopRequested);
    EXPECT_FALSE(form.Visible);
    EXPECT_EQ(RunLoop(form, 4), 4);
}

TEST_F(ProgBarTest, ClosingTheWindowAnyWayClearsTheStop) {
    op.Answers = {true};
    form.ShowProgress(5, "x");
    form.FormKeyDown(TFormMsg::KeyEscape);
    form.FormClose();
    EXPECT_FALSE(form.StopRequested);
    EXPECT_FALSE(form.Visible);
    EXPECT_TRUE(form.StepProgress());
}

TEST_F(ProgBarTest, EveryStepLetsPendingMessagesBeProcessed) {
    for (int i = 0; i < 7; ++i) form.StepProgress();
    EXPECT_EQ(op.ProcessMessagesCalls, 7);
}

TEST_F(ProgBarTest, RangeIsTakenOnlyWhenTheWindowIsShown) {
    form.ShowProgress(40, "Process Currency conversion.");
    EXPECT_TRUE(form.Visible);
    EXPECT_EQ(form.Caption, "Progress Bar");
    EXPECT_EQ(form.BarMin, 0);
    EXPECT_EQ(form.BarMax, 40);
    EXPECT_EQ(form.BarStep, 1);

    // The cost-centre rebuild shows (10, ...) while the window is still visible.
    form.ShowProgress(10, "Process Emp# 0007");
    EXPECT_EQ(form.Message, "Process Emp# 0007");
    EXPECT_EQ(form.ProgressMax, 10);
    EXPECT_EQ(form.BarMax, 40);

    form.CloseProgress();
    form.ShowProgress(10, "Process Emp# 0008");
    EXPECT_EQ(form.BarMax, 10);
}

TEST_F(ProgBarTest, StepPastTheMaximumStartsAgainFromTheMinimum) {
    form.ShowProgress(3, "m");
    std::vector<int> positions;
    for (int i = 0; i < 6; ++i) {
        form.StepProgress();
        positions.push_back(form.BarPosition);
    }
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 0, 1, 2}));
}

TEST_F(ProgBarTest, ShowingWithASmallerRangeKeepsThePositionInside) {
    form.ShowProgress(100, "m");
    for (int i = 0; i < 50; ++i) form.StepProgress();
    form.CloseProgress();
    form.ShowProgress(10, "m");
    EXPECT_LE(form.BarPosition, 10);
    form.StepProgress();
    EXPECT_GE(form.BarPosition, 0);
    EXPECT_LE(form.BarPosition, 10);
}

TEST_F(ProgBarTest, ViewHearsShowAndHideOnce) {
    RecordingView view;
    form.SetView(&view);
    form.CloseProgress();  // already hidden: nothing to hide
    form.ShowProgress(5, "first");
    form.StepProgress();
    form.ShowProgress(5, "second");
    form.CloseProgress();
    EXPECT_EQ(view.Events, (std::vector<std::string>{"shown:first", "shown:second", "hidden"}));
    EXPECT_GE(view.Changes, 2);  // the step and the new message
}

}  // namespace
}  // namespace peltorn::support
