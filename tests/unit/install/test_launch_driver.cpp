// The setup launch inside the whole install run, started from the confirmation dialog: what the
// run does after a launch that fails, and that the sweep waits for setup to be over.
#include "install/InstallFixture.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace installtest;

constexpr const char* kCantStart = "Can't start setup program.";

// Where the sweep starts in the calls-only log; -1 if it never does.
int SweepStart(const std::vector<std::string>& log)
{
    return FindLine(log, "remove(");
}

// Virtual time of the sweep's first removal, or UINT64_MAX if there was none.
uint64_t SweepTime(const SimOs& sim)
{
    for (const SimLogEntry& e : sim.Entries())
        if (e.kind == kSimCalls && e.call == "remove")
            return e.time;
    return UINT64_MAX;
}

void ExpectSweptAndClosed(SimOs& sim, INT_PTR result, HWND dialog)
{
    EXPECT_EQ(IDOK, result) << "expected the dialog closed with IDOK";
    EXPECT_EQ(PAYLOAD_COUNT, sim.Count("remove")) << "expected the sweep to try every payload file";
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected the staging directory swept away\n" << sim.LogText();
    ASSERT_NE(nullptr, dialog) << "expected the dialog to have been up";
    EXPECT_FALSE(sim.Window(dialog).alive) << "expected the dialog destroyed at the end of the run";
}

struct FailedLaunchRun {
    const char* name;
    DWORD error;
};

void PrintTo(const FailedLaunchRun& c, std::ostream* os) { *os << c.name; }

class LaunchDriverTest : public InstallTest, public ::testing::WithParamInterface<FailedLaunchRun> {};

TEST_P(LaunchDriverTest, AFailedLaunchIsReportedThenSweptAndClosed)
{
    const FailedLaunchRun& c = GetParam();
    if (c.error == ERROR_BAD_EXE_FORMAT)
        sim.SetProgram("setup.exe", SimProgram().NotAProgram());
    else
        // The file the run has just written has gone again by the time it is started.
        sim.Fail("CreateProcessA").Error(c.error);
    sim.AddProcess("_INS5176._MP", SimProgram().Runs(5000));   // must not be waited for
    const INT_PTR result = RunDialogAndPressYes();

    ASSERT_EQ(1u, sim.Launches().size()) << "expected one launch attempt\n" << sim.LogText();
    EXPECT_EQ(StagedPath("SETUP.EXE"), sim.Launches()[0].application.value_or("(null)"));
    EXPECT_EQ(c.error, sim.Launches()[0].error) << "expected the launch to fail with this error";
    EXPECT_EQ(std::vector<std::string>{kCantStart}, sim.MessageBoxTexts())
        << "expected the failed launch reported, and no other message";
    ExpectBoxConvention(m_dialog);
    const std::vector<std::string> log = sim.Log();
    const int box = FindLine(log, "MessageBoxA(");
    ASSERT_GE(box, 0);
    EXPECT_GT(SweepStart(log), box) << "expected the sweep after the message";
    EXPECT_EQ(0, sim.Count("WaitForInputIdle")) << "expected nothing waited for";
    EXPECT_EQ(0, sim.SnapshotsTaken()) << "expected no engine scan";
    EXPECT_EQ(0u, sim.Now()) << "expected no time spent waiting";
    ExpectSweptAndClosed(sim, result, m_dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Launches, LaunchDriverTest,
    ::testing::Values(FailedLaunchRun{"SetupMissing", ERROR_FILE_NOT_FOUND},
                      FailedLaunchRun{"NotAProgram", ERROR_BAD_EXE_FORMAT}),
    [](const ::testing::TestParamInfo<FailedLaunchRun>& info) { return std::string(info.param.name); });

class SetupRunTest : public InstallTest {};

TEST_F(SetupRunTest, AutomaticModeSweepsOnlyAfterTheEngineHasEnded)
{
    // Windows XP (the sim's default): automatic wait mode.
    sim.SetProgram("setup.exe", SimProgram().Runs(500).Spawns(300, SimProgram().Named("_INS5176._MP").Runs(4000)));
    const INT_PTR result = RunDialogAndPressYes();
    EXPECT_TRUE(sim.MessageBoxTexts().empty()) << "expected no message\n" << Join(sim.MessageBoxTexts());
    const std::vector<std::string> log = sim.Log();
    const int sweep = SweepStart(log);
    ASSERT_GE(sweep, 0) << "expected the sweep\n" << sim.LogText();
    EXPECT_GE(SweepTime(sim), 4300u) << "expected the sweep only after the engine had ended at 4300 ms";
    EXPECT_EQ(2, sim.SnapshotsTaken()) << "expected one scan waiting for the engine, one finding nothing";
    ExpectSweptAndClosed(sim, result, m_dialog);
}

TEST_F(SetupRunTest, ManualExitModeSweepsOnlyAfterThePromptIsDismissed)
{
    sim.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381);
    sim.SetProgram("setup.exe", SimProgram().Runs(2500));
    const INT_PTR result = RunDialogAndPressYes();
    ASSERT_EQ(std::vector<std::string>{kManualExit}, sim.MessageBoxTexts()) << "expected the manual-exit prompt only";
    EXPECT_GE(sim.MessageBoxes()[0].time, 2500u) << "expected the prompt after SETUP.EXE had ended";
    ExpectBoxConvention(m_dialog);
    const std::vector<std::string> log = sim.Log();
    EXPECT_GT(SweepStart(log), FindLine(log, "MessageBoxA(")) << "expected the sweep after the prompt";
    EXPECT_EQ(0, sim.SnapshotsTaken()) << "expected no scan in manual-exit mode";
    ExpectSweptAndClosed(sim, result, m_dialog);
}

}  // namespace
