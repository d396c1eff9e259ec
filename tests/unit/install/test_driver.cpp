// The install run's driver: the run-once guard, the four ways a run ends, the order of the
// steps and the messages, all seen through the confirmation dialog run modally.
#include "InstallFixture.h"

#include <functional>

namespace installtest {
namespace {

using Driver = InstallTest;

// A dialog whose modal state can be looked at and set up directly.
class ProbeDialog : public CInstallDlg {
public:
    using CDialog::m_bContinueModal;
    using CDialog::m_nModalResult;
};

// --- the run-once guard ------------------------------------------------------------------------

TEST_F(Driver, OkArrivingDuringARunStartsNothingAndLeavesNoTrace)
{
    // A message box's own loop dispatches an OK command that queued up during the run.
    sim.SetVersion(VER_PLATFORM_WIN32s, 3, 10);
    std::vector<SimLogEntry> nested;
    bool dispatched = false;
    sim.AnswerBoxesWith([&](const SimMessageBox&) {
        if (!dispatched) {
            dispatched = true;
            const size_t before = sim.Entries().size();
            MSG msg = { m_dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, 0, { 0, 0 } };
            sim.DispatchMessageA(&msg);
            nested.assign(sim.Entries().begin() + static_cast<long>(before), sim.Entries().end());
        }
        return IDOK;
    });

    EXPECT_EQ(IDOK, RunDialogAndPressYes()) << "expected the first run to close the dialog with IDOK";
    ASSERT_TRUE(dispatched) << "expected the run to show a message box";

    std::vector<std::string> calls;
    for (const SimLogEntry& e : nested)
        if (e.kind == kSimCalls)
            calls.push_back(e.Line());
    EXPECT_EQ(std::vector<std::string>{ "DispatchMessageA(dlg 102, WM_COMMAND)" }, calls)
        << "expected the second OK command to call nothing beyond its own dispatch; got:\n" << Join(calls);
    EXPECT_EQ(std::vector<std::string>{ kRefused }, sim.MessageBoxTexts())
        << "expected only the first run's message";
    EXPECT_EQ(1, sim.Count("GetVersionExA")) << "expected the steps to run once";
}

TEST_F(Driver, OkWithTheGuardSetNeitherRunsNorClosesTheDialog)
{
    g_bInstallStarted = TRUE;
    CInstallDlg dlg;
    theApp.m_pMainWnd = &dlg;
    sim.PostToDialogWhenIdle(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
    bool upAfterOk = false;
    sim.OnIdle([&] { upAfterOk = sim.HasWindow(sim.LastDialog()); });
    sim.PostToDialogWhenIdle(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));

    EXPECT_EQ(IDCANCEL, dlg.DoModal()) << "expected only the later Cancel to end the dialog";
    EXPECT_TRUE(upAfterOk) << "expected the dialog still up after the ignored OK command";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
    EXPECT_EQ(0, sim.Count("GetWindowsDirectoryA")) << "expected no step to run\n" << sim.LogText();
    EXPECT_EQ(0, sim.Count("_chdir")) << "expected no step to run\n" << sim.LogText();
    EXPECT_EQ(0, sim.Count("CreateFileA")) << "expected no step to run\n" << sim.LogText();
}

TEST_F(Driver, OkWithTheGuardSetCallsNothingAtAllAndKeepsTheModalState)
{
    ProbeDialog dlg;
    theApp.m_pMainWnd = &dlg;
    g_bInstallStarted = TRUE;
    dlg.m_bContinueModal = TRUE;
    dlg.m_nModalResult = -1;
    sim.ClearLog();

    dlg.OnOK();

    EXPECT_TRUE(sim.Entries().empty()) << "expected not a single call, quiet ones included; got:\n"
                                       << sim.LogText(kSimCalls | kSimQuiet | kSimResults);
    EXPECT_TRUE(dlg.m_bContinueModal) << "expected the dialog to stay modal";
    EXPECT_EQ(-1, dlg.m_nModalResult) << "expected no modal result to be set";
    EXPECT_TRUE(g_bInstallStarted) << "expected the guard to stay set";
}

TEST_F(Driver, TheGuardIsSetBeforeTheFirstStep)
{
    // A version query that fails lets a box show while the first step is under way.
    sim.Fail("GetVersionExA");
    BYTE guardDuringStep = 0;
    sim.AnswerBoxesWith([&](const SimMessageBox&) {
        guardDuringStep = g_bInstallStarted;
        return IDNO;
    });
    EXPECT_EQ(IDOK, RunDialogAndPressYes()) << "expected a No answer to close with IDOK";
    EXPECT_TRUE(guardDuringStep) << "expected g_bInstallStarted set while CheckEnvironment runs";
    EXPECT_TRUE(g_bInstallStarted) << "expected the guard to stay set after the run";
}

// --- the endings --------------------------------------------------------------------------------

struct Ending {
    const char* name;
    std::function<void(SimOs&)> arrange;
    std::vector<std::string> messages;   // in order
    bool sweep;                          // RemoveStagedFiles ran
    bool tempAfter;                      // C:\WINDOWS\TEMP is a directory afterwards
    bool stagingAfter;                   // the staging directory exists afterwards
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

void Ends(SimOs& sim) { sim.SetProgram("setup.exe", SimProgram().Runs(0)); }

const Ending kEndings[] = {
    { "Win32sRefused", [](SimOs& s) { s.SetVersion(VER_PLATFORM_WIN32s, 3, 10); },
      { kRefused }, false, false, false },
    { "Nt351Refused", [](SimOs& s) { s.SetVersion(VER_PLATFORM_WIN32_NT, 3, 51); },
      { kRefused }, false, false, false },
    { "VersionUnknownAnsweredNo", [](SimOs& s) { s.Fail("GetVersionExA"); s.AnswerNextBox(IDNO); },
      { kVersionQuestion }, false, false, false },
    { "NoWindowsDirectory", [](SimOs& s) { s.Fail("GetWindowsDirectoryA"); },
      { kNoWindowsDir }, false, false, false },
    { "UncWindowsDirectory", [](SimOs& s) { s.SetWindowsDirectory("\\\\server\\share\\windows"); },
      { kUnc }, false, false, false },
    { "DriveChangeFails", [](SimOs& s) { s.Fail("_chdrive"); },
      { kNoDrive }, false, false, false },
    { "TooLittleSpace", [](SimOs& s) { s.SetDiskFree('C', 1, 1, 2999999, 3000000); },
      { kNoSpace }, false, false, false },
    { "TempCannotBeMade", [](SimOs& s) { s.Fail("_mkdir").When(kTempDir); },
      { kNoChdir }, false, false, false },
    { "TempIsAFile", [](SimOs& s) { s.PutFile(kTempDir, "not a directory"); },
      { kNoChdir }, false, false, false },
    { "StagingCannotBeMade", [](SimOs& s) { s.Fail("_mkdir").When(kStagingDir); },
      { kNoChdir }, false, true, false },
    { "StagingCannotBeEntered", [](SimOs& s) { s.Fail("_chdir").When(kStagingDir); },
      { kNoChdir }, false, true, false },
    { "ResourceMissing", [](SimOs& s) { s.RemoveResource("BINARY", 205); },
      { kNoFind, kSweepWarning }, true, true, false },
    { "PayloadFileHeldOpen",
      [](SimOs& s) { s.PutFile(StagedPath("setup.ini"), "old"); s.HoldOpen(StagedPath("setup.ini")); },
      { kNoCreate, kSweepWarning }, true, true, true },
    { "DiskFullDuringExtraction", [](SimOs& s) { s.SetCapacity('C', 1024 * 1024); },
      { kNoCreate, kSweepWarning }, true, true, false },
    { "FullRunAutomatic", Ends, {}, true, true, false },
    { "FullRunWindows98", [](SimOs& s) { Ends(s); s.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10); },
      {}, true, true, false },
    { "FullRunNt4ManualExit", [](SimOs& s) { Ends(s); s.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0); },
      { kManualExit }, true, true, false },
    { "FullRunVersionUnknownAnsweredYes",
      [](SimOs& s) { Ends(s); s.Fail("GetVersionExA"); s.AnswerNextBox(IDYES); },
      { kVersionQuestion, kManualExit }, true, true, false },
};

class DriverEnding : public InstallTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(DriverEnding, ShowsItsMessagesInOrderSweepsOrNotAndClosesWithIdok)
{
    const Ending& c = GetParam();
    c.arrange(sim);

    EXPECT_EQ(IDOK, RunDialogAndPressYes()) << "expected the run to close the dialog with IDOK";
    EXPECT_EQ(c.messages, sim.MessageBoxTexts())
        << "expected the messages:\n" << Join(c.messages) << "got:\n" << Join(sim.MessageBoxTexts());
    ExpectBoxConvention(m_dialog);

    if (c.sweep) {
        EXPECT_EQ(PAYLOAD_COUNT, RemoveCalls()) << "expected the sweep to try all fifteen names\n" << sim.LogText();
    } else {
        EXPECT_EQ(0, RemoveCalls()) << "expected no sweep\n" << sim.LogText();
        EXPECT_EQ(0, sim.Count("CreateFileA")) << "expected nothing written before a failure this early";
    }
    EXPECT_EQ(c.tempAfter, sim.IsDir(kTempDir)) << "expected TEMP " << (c.tempAfter ? "to be" : "not to be") << " a directory";
    EXPECT_EQ(c.stagingAfter, sim.Exists(kStagingDir))
        << "expected the staging directory " << (c.stagingAfter ? "to stay" : "not to be there");
    EXPECT_EQ(0, sim.OpenHandleCount()) << "expected every handle closed at the end of the run";

    // Messages of the steps come before the sweep; the sweep's warning after its last removal.
    const std::vector<std::string> log = sim.Log();
    const int firstRemove = FindLine(log, "remove(");
    int lastSweepCall = -1;
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].rfind("remove(", 0) == 0 || log[i].rfind("_rmdir(", 0) == 0)
            lastSweepCall = static_cast<int>(i);
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].rfind("MessageBoxA(", 0) != 0 || firstRemove < 0)
            continue;
        const bool warning = log[i].find(kSweepWarning) != std::string::npos;
        if (warning)
            EXPECT_GT(static_cast<int>(i), lastSweepCall) << "expected the warning after the whole sweep\n" << sim.LogText();
        else
            EXPECT_LT(static_cast<int>(i), firstRemove) << "expected " << log[i] << " before the sweep\n" << sim.LogText();
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, DriverEnding, ::testing::ValuesIn(kEndings),
                         [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

// --- the full run in detail ----------------------------------------------------------------------

TEST_F(Driver, FullRunStagesLaunchesFromTheStagingDirectoryAndSweepsIt)
{
    sim.SetProgram("setup.exe", SimProgram().Runs(0));

    EXPECT_EQ(IDOK, RunDialogAndPressYes()) << "expected the full run to close the dialog with IDOK";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());

    const std::vector<std::string> log = sim.Log();
    const int launch = FindLine(log, "CreateProcessA(");
    ASSERT_GE(launch, 0) << "expected SETUP.EXE to be started\n" << sim.LogText();
    EXPECT_EQ("CreateProcessA(C:\\WINDOWS\\TEMP\\ZARPO\\SETUP.EXE, cmd=null, dir=C:\\WINDOWS\\TEMP\\ZARPO)", log[launch])
        << "expected the launch from the staging path the run built";
    EXPECT_EQ(PAYLOAD_COUNT, sim.Count("CreateFileA")) << "expected fifteen files written";
    int lastCreate = -1;
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].rfind("CreateFileA(", 0) == 0)
            lastCreate = static_cast<int>(i);
    EXPECT_LT(lastCreate, launch) << "expected every file written before the launch";
    EXPECT_LT(launch, FindLine(log, "remove(")) << "expected the sweep after the launch";

    const std::vector<std::string> removes = sim.Calls("remove", true);
    ASSERT_EQ(static_cast<size_t>(PAYLOAD_COUNT), removes.size());
    for (int i = 0; i < PAYLOAD_COUNT; ++i)
        EXPECT_EQ("remove(" + PayloadNames()[i] + ") -> 0", removes[i]) << "expected every staged file removed in table order";
    EXPECT_EQ(std::vector<std::string>{ "_rmdir(C:\\WINDOWS\\TEMP\\ZARPO) -> 0" }, sim.Calls("_rmdir", true))
        << "expected the staging directory removed by its full path";

    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected ZARPO gone";
    ASSERT_TRUE(sim.IsDir(kTempDir)) << "expected TEMP kept although this run made it";
    EXPECT_TRUE(sim.List(kTempDir).empty()) << "expected TEMP left empty";
    EXPECT_EQ(kTempDir, sim.CurrentDirectory()) << "expected TEMP current after the sweep";
}

TEST_F(Driver, ManualExitSweepsOnlyAfterTheUserDismissedThePrompt)
{
    sim.SetProgram("setup.exe", SimProgram().Runs(0));
    sim.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    bool filesThereAtPrompt = false;
    sim.AnswerBoxesWith([&](const SimMessageBox&) {
        filesThereAtPrompt = sim.List(kStagingDir).size() == static_cast<size_t>(PAYLOAD_COUNT);
        return IDOK;
    });

    EXPECT_EQ(IDOK, RunDialogAndPressYes());
    EXPECT_EQ(std::vector<std::string>{ kManualExit }, sim.MessageBoxTexts()) << "expected the NT4 prompt only";
    EXPECT_TRUE(filesThereAtPrompt) << "expected all fifteen files still staged while the prompt is up";
    EXPECT_EQ(PAYLOAD_COUNT, RemoveCalls()) << "expected the sweep after the prompt";
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected the staging directory removed";
}

TEST_F(Driver, ExistingStagingDirectoryIsReusedAndItsOtherFilesSurvive)
{
    sim.SetProgram("setup.exe", SimProgram().Runs(0));
    sim.PutFile(StagedPath("notes.txt"), "left by the user");
    sim.PutFile(StagedPath("setup.ini"), std::string(5000, 'Z'));   // an earlier run's copy

    EXPECT_EQ(IDOK, RunDialogAndPressYes());
    EXPECT_EQ(0, sim.Count("_mkdir")) << "expected nothing made: TEMP and ZARPO were there\n" << sim.LogText();
    EXPECT_EQ(std::vector<std::string>{ kSweepWarning }, sim.MessageBoxTexts())
        << "expected the warning for the directory that could not be removed";
    ASSERT_TRUE(sim.IsFile(StagedPath("notes.txt"))) << "expected the foreign file to survive";
    EXPECT_EQ("left by the user", sim.ReadFile(StagedPath("notes.txt"))) << "expected the foreign file untouched";
    EXPECT_EQ(std::vector<std::string>{ "notes.txt" }, sim.List(kStagingDir))
        << "expected only the foreign file left in the staging directory";
}

}  // namespace
}  // namespace installtest
