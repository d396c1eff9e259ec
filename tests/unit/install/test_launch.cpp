// Starting the staged SETUP.EXE and waiting until setup is over: the launch itself, the wait for
// the launcher, the manual-exit prompt, and the scans for the setup engine's processes, all on
// the simulated Windows' virtual clock.
#include "install/InstallRun.h"

#include "sim/SimOs.h"

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr const char* kStaging = "C:\\WINDOWS\\TEMP\\ZARPO";
constexpr const char* kEngine = "_INS5176._MP";
constexpr const char* kDeleter = "_ISDEL.EXE";
constexpr const char* kManualExit = "Windows NT4 user: Press OK after Setup finishes and exits (for cleanup).";
constexpr const char* kCantStart = "Can't start setup program.";
constexpr DWORD kEngineAccess = PROCESS_QUERY_INFORMATION | SYNCHRONIZE;
constexpr UINT kBoxType = MB_OK | MB_ICONEXCLAMATION;

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

class LaunchTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        // A fresh process: no engine wait has run yet.
        g_bEngineGone = FALSE;
    }

    // SETUP.EXE on disk in the staging directory, behaving as given once started.
    void StageSetup(const SimProgram& program = SimProgram(), const std::string& staging = kStaging)
    {
        sim.PutFile(staging + "\\setup.exe", "MZ");
        sim.SetProgram("setup.exe", program);
    }

    // The step as the run calls it. False when the simulated Windows had to stop it (it has
    // then failed the test already and said why).
    bool Run(bool manualExit, const std::string& staging = kStaging)
    {
        char szPath[PATH_BUFFER_SIZE];
        std::strcpy(szPath, staging.c_str());
        try {
            RunSetupAndWait(szPath, manualExit ? TRUE : FALSE);
        } catch (const SimAbort&) {
            return false;
        }
        return true;
    }

    DWORD SetupPid() const { return sim.Launches().empty() ? 0 : sim.Launches()[0].pid; }

    // The logged calls (not the quiet ones) named call whose arguments start with args.
    std::vector<const SimLogEntry*> CallsOn(const std::string& call, const std::string& args = "") const
    {
        std::vector<const SimLogEntry*> found;
        for (const SimLogEntry& e : sim.Entries())
            if (e.kind == kSimCalls && e.call == call && StartsWith(e.args, args))
                found.push_back(&e);
        return found;
    }

    // Calls on the process pid: through the launch handle or a handle opened on it.
    std::vector<const SimLogEntry*> CallsOnProcess(const std::string& call, DWORD pid) const
    {
        return CallsOn(call, "process " + std::to_string(pid));
    }

    // Process ids passed to OpenProcess, in order; every call must ask for the engine access.
    std::vector<DWORD> OpenedPids() const
    {
        std::vector<DWORD> pids;
        for (const SimLogEntry* e : CallsOn("OpenProcess")) {
            EXPECT_TRUE(StartsWith(e->args, "0x100400, 0, "))
                << "expected OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id), got "
                << e->Line();
            pids.push_back(static_cast<DWORD>(std::stoul(e->args.substr(e->args.rfind(' ') + 1))));
        }
        return pids;
    }

    // Position in the calls-only log of the first line starting with prefix; -1 if none.
    int IndexOf(const std::string& prefix, int from = 0) const
    {
        const std::vector<std::string> log = sim.Log();
        for (size_t i = static_cast<size_t>(from); i < log.size(); ++i)
            if (StartsWith(log[i], prefix))
                return static_cast<int>(i);
        return -1;
    }

    int LastIndexOf(const std::string& prefix) const
    {
        const std::vector<std::string> log = sim.Log();
        for (size_t i = log.size(); i-- > 0;)
            if (StartsWith(log[i], prefix))
                return static_cast<int>(i);
        return -1;
    }

    // The scans and pauses of the engine wait in order: "S" a snapshot, "P" a pause.
    std::string ScanRhythm() const
    {
        std::string rhythm;
        for (const SimLogEntry& e : sim.Entries()) {
            if (e.kind != kSimCalls)
                continue;
            if (e.call == "CreateToolhelp32Snapshot")
                rhythm += 'S';
            else if (e.call == "Sleep")
                rhythm += e.args == "100" ? 'P' : '?';
        }
        return rhythm;
    }

    static std::string PacedScans(int scans)
    {
        std::string rhythm = scans > 0 ? "S" : "";
        for (int i = 1; i < scans; ++i)
            rhythm += "PS";
        return rhythm;
    }

    std::vector<uint64_t> SnapshotTimes() const
    {
        std::vector<uint64_t> times;
        for (const SimLogEntry* e : CallsOn("CreateToolhelp32Snapshot"))
            times.push_back(e->time);
        return times;
    }

    int CallCount() const
    {
        int n = 0;
        for (const SimLogEntry& e : sim.Entries())
            n += e.kind == kSimCalls ? 1 : 0;
        return n;
    }
};

// --- the launch --------------------------------------------------------------------------------

class LaunchRecordTest : public LaunchTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LaunchRecordTest, StartsTheStagedSetupWithExactlyTheseRecords)
{
    const std::string staging = GetParam();
    if (staging[0] != 'C')
        sim.AddDrive(staging[0]);
    StageSetup(SimProgram(), staging);
    ASSERT_TRUE(Run(false, staging));

    ASSERT_EQ(1u, sim.Launches().size()) << "expected exactly one CreateProcessA\n" << sim.LogText();
    const SimLaunch& l = sim.Launches()[0];
    EXPECT_EQ(staging + "\\SETUP.EXE", l.application.value_or("(null)")) << "expected the full path as application";
    EXPECT_FALSE(l.commandLine.has_value()) << "expected a null command line, got \"" << l.commandLine.value_or("") << "\"";
    EXPECT_EQ(staging, l.currentDirectory.value_or("(null)")) << "expected the staging directory as current directory";
    EXPECT_EQ(FALSE, l.inheritHandles) << "expected no handle inheritance";
    EXPECT_EQ(0u, l.creationFlags) << "expected creation flags 0";
    EXPECT_EQ(nullptr, l.environment) << "expected the caller's environment (null)";
    EXPECT_NE(nullptr, l.processInformationPtr) << "expected a PROCESS_INFORMATION to fill";
    EXPECT_TRUE(l.result) << "expected the launch to work";

    ASSERT_NE(nullptr, l.startupInfoPtr) << "expected a STARTUPINFOA";
    const STARTUPINFOA& si = l.startupInfo;
    EXPECT_EQ(68u, si.cb) << "expected cb 68";
    EXPECT_EQ(nullptr, si.lpReserved) << "expected lpReserved null";
    ASSERT_NE(nullptr, si.lpDesktop) << "expected lpDesktop to point at an empty string, not null";
    EXPECT_EQ("", l.desktop.value_or("(null)")) << "expected lpDesktop to point at an empty string";
    EXPECT_EQ(nullptr, si.lpTitle) << "expected lpTitle null";
    EXPECT_EQ(0u, si.dwX) << "expected dwX 0";
    EXPECT_EQ(0u, si.dwY) << "expected dwY 0";
    EXPECT_EQ(0u, si.dwXSize) << "expected dwXSize 0";
    EXPECT_EQ(0u, si.dwYSize) << "expected dwYSize 0";
    EXPECT_EQ(0u, si.dwXCountChars) << "expected dwXCountChars 0";
    EXPECT_EQ(0u, si.dwYCountChars) << "expected dwYCountChars 0";
    EXPECT_EQ(0u, si.dwFillAttribute) << "expected dwFillAttribute 0";
    EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), si.dwFlags) << "expected dwFlags STARTF_USESHOWWINDOW only";
    EXPECT_EQ(10, si.wShowWindow) << "expected wShowWindow SW_SHOWDEFAULT (10)";
    EXPECT_EQ(0, si.cbReserved2) << "expected cbReserved2 0";
    EXPECT_EQ(nullptr, si.lpReserved2) << "expected lpReserved2 null";
    EXPECT_EQ(nullptr, si.hStdInput) << "expected hStdInput null";
    EXPECT_EQ(nullptr, si.hStdOutput) << "expected hStdOutput null";
    EXPECT_EQ(nullptr, si.hStdError) << "expected hStdError null";

    ASSERT_NE(nullptr, l.processAttributesPtr) << "expected a SECURITY_ATTRIBUTES for the process";
    ASSERT_NE(nullptr, l.threadAttributesPtr) << "expected a SECURITY_ATTRIBUTES for the thread";
    EXPECT_NE(l.processAttributesPtr, l.threadAttributesPtr) << "expected two separate SECURITY_ATTRIBUTES records";
    for (const SECURITY_ATTRIBUTES* sa : {&l.processAttributes, &l.threadAttributes}) {
        const char* which = sa == &l.processAttributes ? "process" : "thread";
        EXPECT_EQ(12u, sa->nLength) << which << " attributes: expected nLength 12";
        EXPECT_EQ(nullptr, sa->lpSecurityDescriptor) << which << " attributes: expected a null descriptor";
        EXPECT_EQ(FALSE, sa->bInheritHandle) << which << " attributes: expected bInheritHandle FALSE";
    }
    EXPECT_EQ(staging, sim.Process(l.pid).currentDirectory) << "expected setup started in the staging directory";
}

INSTANTIATE_TEST_SUITE_P(StagingPaths, LaunchRecordTest,
                         ::testing::Values("C:\\WINDOWS\\TEMP\\ZARPO", "D:\\OS\\TEMP\\ZARPO"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string("Drive") + info.param[0];
                         });

struct FailedLaunch {
    const char* name;
    bool onDisk;        // setup.exe is there at all
    DWORD error;        // what CreateProcessA reports
    bool manualExit;
};

// Named in failure messages by its label.
void PrintTo(const FailedLaunch& c, std::ostream* os) { *os << c.name; }

class FailedLaunchTest : public LaunchTest, public ::testing::WithParamInterface<FailedLaunch> {};

TEST_P(FailedLaunchTest, IsReportedAndNothingIsWaitedFor)
{
    const FailedLaunch& c = GetParam();
    sim.PutDir(kStaging);
    if (c.onDisk)
        StageSetup(SimProgram().NotAProgram());
    // An engine that is running must not be waited for when setup never started.
    sim.AddProcess(kEngine, SimProgram().Runs(5000));
    ASSERT_TRUE(Run(c.manualExit));

    ASSERT_EQ(1u, sim.Launches().size()) << "expected one launch attempt";
    EXPECT_FALSE(sim.Launches()[0].result) << "expected the launch to fail";
    EXPECT_EQ(c.error, sim.Launches()[0].error) << "expected the system's error for this launch";
    ASSERT_EQ(1u, sim.MessageBoxes().size()) << "expected exactly one message\n" << sim.LogText();
    EXPECT_EQ(kCantStart, sim.MessageBoxes()[0].text) << "expected the launch failure reported";
    EXPECT_EQ(kBoxType, sim.MessageBoxes()[0].type) << "expected MB_OK with the exclamation icon (0x30)";
    EXPECT_EQ(0, sim.Count("WaitForInputIdle")) << "expected nothing waited for";
    EXPECT_EQ(0, sim.Count("GetExitCodeProcess")) << "expected nothing polled";
    EXPECT_EQ(0, sim.Count("WaitForSingleObject")) << "expected nothing waited for";
    EXPECT_EQ(0, sim.SnapshotsTaken()) << "expected no engine scan";
    EXPECT_EQ(0, sim.Count("OpenProcess")) << "expected no engine process opened";
    EXPECT_EQ(0, sim.Count("CloseHandle")) << "expected no handle closed: the launch gave none";
    EXPECT_EQ(0u, sim.Now()) << "expected the step to return at once";
}

INSTANTIATE_TEST_SUITE_P(
    Launches, FailedLaunchTest,
    ::testing::Values(FailedLaunch{"NoSetupOnDisk", false, ERROR_FILE_NOT_FOUND, false},
                      FailedLaunch{"NoSetupOnDiskManualExit", false, ERROR_FILE_NOT_FOUND, true},
                      FailedLaunch{"NotAProgram", true, ERROR_BAD_EXE_FORMAT, false},
                      FailedLaunch{"NotAProgramManualExit", true, ERROR_BAD_EXE_FORMAT, true}),
    [](const ::testing::TestParamInfo<FailedLaunch>& info) { return std::string(info.param.name); });

// --- the wait for SETUP.EXE --------------------------------------------------------------------

class QuickSetupTest : public LaunchTest, public ::testing::WithParamInterface<uint64_t> {};

TEST_P(QuickSetupTest, ASetupThatEndsAtOnceIsPolledOnce)
{
    const uint64_t runs = GetParam();
    StageSetup(SimProgram().Runs(runs));
    ASSERT_TRUE(Run(true));
    const DWORD pid = SetupPid();
    EXPECT_EQ(1u, CallsOnProcess("WaitForInputIdle", pid).size()) << "expected a single poll\n" << sim.LogText();
    EXPECT_EQ(1u, CallsOnProcess("GetExitCodeProcess", pid).size()) << "expected a single poll\n" << sim.LogText();
    EXPECT_LE(CallsOnProcess("WaitForSingleObject", pid).size(), 1u) << "expected at most one wait on the handle";
    ASSERT_EQ(1u, sim.MessageBoxes().size()) << "expected the manual-exit prompt";
    EXPECT_EQ(runs, sim.MessageBoxes()[0].time) << "expected the prompt as soon as setup had ended";
}

INSTANTIATE_TEST_SUITE_P(Lifetimes, QuickSetupTest, ::testing::Values(0u, 50u),
                         [](const ::testing::TestParamInfo<uint64_t>& info) {
                             return "Runs" + std::to_string(info.param) + "ms";
                         });

class LaunchHandleTest : public LaunchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LaunchHandleTest, LaunchHandlesAreClosedBeforeThePromptOrTheFirstScan)
{
    const bool manual = GetParam();
    StageSetup(SimProgram().Runs(1200));
    ASSERT_TRUE(Run(manual));

    const std::string pid = std::to_string(SetupPid());
    const int closeProcess = IndexOf("CloseHandle(process " + pid + ")");
    const int closeThread = IndexOf("CloseHandle(thread " + pid + ")");
    const int lastPoll = LastIndexOf("GetExitCodeProcess(process " + pid + ")");
    const int next = IndexOf(manual ? "MessageBoxA(" : "CreateToolhelp32Snapshot(");
    ASSERT_GE(closeProcess, 0) << "expected the process handle closed\n" << sim.LogText();
    ASSERT_GE(closeThread, 0) << "expected the thread handle closed\n" << sim.LogText();
    ASSERT_GE(next, 0) << "expected the prompt or a scan\n" << sim.LogText();
    EXPECT_GT(closeProcess, lastPoll) << "expected the process handle closed after its wait";
    EXPECT_GT(closeThread, lastPoll) << "expected the thread handle closed after the wait";
    EXPECT_LT(closeProcess, next) << "expected the process handle closed before " << sim.Log()[next];
    EXPECT_LT(closeThread, next) << "expected the thread handle closed before " << sim.Log()[next];
    EXPECT_EQ(0, sim.OpenProcessHandles()) << "expected no process or thread handle left open";
}

INSTANTIATE_TEST_SUITE_P(Modes, LaunchHandleTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ManualExit" : "AutomaticWait");
                         });

// --- manual-exit mode --------------------------------------------------------------------------

struct IdleCase {
    const char* name;
    SimIdle idle;
    uint64_t idleAfter;
    bool faultWaitForInputIdle;   // the call itself fails, whatever the process does
    uint64_t tolerance;           // how late after the end the wait may notice it
};

// Named in failure messages by its label.
void PrintTo(const IdleCase& c, std::ostream* os) { *os << c.name; }

const IdleCase kIdleCases[] = {
    {"IdleAtOnce", SimIdle::Idle, 0, false, 5},
    {"ConsoleProgram", SimIdle::Failed, 0, false, 5},
    {"WaitForInputIdleFails", SimIdle::Idle, 0, true, 5},
    {"NeverIdle", SimIdle::Timeout, 0, false, 1000},
    {"BusyThenIdle", SimIdle::Idle, 2500, false, 5},
};

std::string IdleCaseName(const ::testing::TestParamInfo<IdleCase>& info) { return info.param.name; }

class ManualExitTest : public LaunchTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(ManualExitTest, PromptsOnlyAfterSetupHasEndedAndNeverScans)
{
    const IdleCase& c = GetParam();
    const uint64_t end = 3700;
    // Setup starts the engine, which the manual-exit mode must not look for.
    StageSetup(SimProgram().Runs(end).Idles(c.idle, c.idleAfter).Spawns(100, SimProgram().Named(kEngine).Runs(20000)));
    if (c.faultWaitForInputIdle)
        sim.Fail("WaitForInputIdle");
    ASSERT_TRUE(Run(true));

    ASSERT_EQ(1u, sim.MessageBoxes().size()) << "expected exactly the manual-exit prompt\n" << sim.LogText();
    const SimMessageBox& box = sim.MessageBoxes()[0];
    EXPECT_EQ(kManualExit, box.text) << "expected the manual-exit prompt";
    EXPECT_EQ(kBoxType, box.type) << "expected MB_OK with the exclamation icon (0x30)";
    EXPECT_GE(box.time, end) << "expected the prompt only after SETUP.EXE had ended\n" << sim.LogText();
    EXPECT_LE(box.time - end, c.tolerance) << "expected the end of SETUP.EXE noticed within " << c.tolerance << " ms";
    EXPECT_EQ(box.time, sim.Now()) << "expected the step to return once the prompt was dismissed";
    EXPECT_EQ(0, sim.SnapshotsTaken()) << "expected the process list never read in manual-exit mode";
    EXPECT_EQ(0, sim.Count("OpenProcess")) << "expected no engine process opened in manual-exit mode";
    EXPECT_EQ(0, sim.OpenProcessHandles()) << "expected the launch handles closed";
}

INSTANTIATE_TEST_SUITE_P(IdleAnswers, ManualExitTest, ::testing::ValuesIn(kIdleCases), IdleCaseName);

// --- automatic wait mode: the scans ------------------------------------------------------------

TEST_F(LaunchTest, WithNoEngineProcessExactlyOneScanRuns)
{
    StageSetup(SimProgram().Runs(300));
    sim.AddProcess("explorer.exe", SimProgram().RunsForever());
    sim.AddProcess("INS5176._MP", SimProgram().RunsForever());
    sim.AddProcess("_ISDEL.EX", SimProgram().RunsForever());
    ASSERT_TRUE(Run(false));
    EXPECT_EQ(1, sim.SnapshotsTaken()) << "expected exactly one scan\n" << sim.LogText();
    EXPECT_EQ(0, sim.Count("OpenProcess")) << "expected no process opened";
    EXPECT_EQ(0, sim.Count("Sleep")) << "expected no pause";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message in automatic mode";
    EXPECT_EQ(300u, sim.Now()) << "expected the step over when setup ended";
    EXPECT_EQ(0, sim.OpenHandleCount()) << "expected every handle closed";
}

TEST_F(LaunchTest, TheEngineIsWaitedForBeforeTheDeleterEvenWhenListedAfterIt)
{
    StageSetup();
    const DWORD deleter = sim.AddProcess(kDeleter, SimProgram().Runs(8000));
    const DWORD engine = sim.AddProcess(kEngine, SimProgram().Runs(5000));
    ASSERT_TRUE(Run(false));

    EXPECT_EQ((std::vector<DWORD>{engine, deleter}), OpenedPids())
        << "expected the _INS5176._MP process waited for first, then the _ISDEL.EXE one\n" << sim.LogText();
    const auto opens = CallsOn("OpenProcess");
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ(0u, opens[0]->time) << "expected the engine opened by the first scan";
    EXPECT_GE(opens[1]->time, 5000u) << "expected the deleter opened only once the engine had ended";
    const int engineClosed = IndexOf("CloseHandle(process " + std::to_string(engine) + ")");
    ASSERT_GE(engineClosed, 0) << "expected the engine's handle closed";
    EXPECT_LT(engineClosed, IndexOf("OpenProcess(0x100400, 0, " + std::to_string(deleter) + ")"))
        << "expected the engine's handle closed right after its wait, before the next open";
    EXPECT_EQ(8000u, sim.Now()) << "expected the wait over the moment the deleter ended";
    EXPECT_EQ(2, sim.SnapshotsTaken()) << "expected one scan that waits, then one that finds neither";
    EXPECT_EQ(std::vector<DWORD>{kEngineAccess}, sim.Process(engine).openAccesses)
        << "expected the engine opened once for query and synchronize";
    EXPECT_EQ(std::vector<DWORD>{kEngineAccess}, sim.Process(deleter).openAccesses)
        << "expected the deleter opened once for query and synchronize";
    EXPECT_EQ(0, sim.OpenHandleCount()) << "expected every handle closed";
}

class SamePatternTest : public LaunchTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SamePatternTest, TwoProcessesOfOnePatternAreWaitedForInSnapshotOrder)
{
    StageSetup();
    const DWORD first = sim.AddProcess(GetParam(), SimProgram().Runs(6000));
    sim.AddProcess("explorer.exe", SimProgram().RunsForever());
    const DWORD second = sim.AddProcess(GetParam(), SimProgram().Runs(9000));
    ASSERT_TRUE(Run(false));
    EXPECT_EQ((std::vector<DWORD>{first, second}), OpenedPids())
        << "expected both waited for, in snapshot order\n" << sim.LogText();
    const auto opens = CallsOn("OpenProcess");
    ASSERT_EQ(2u, opens.size());
    EXPECT_GE(opens[1]->time, 6000u) << "expected the second opened after the first had ended";
    EXPECT_EQ(9000u, sim.Now()) << "expected the wait over when the second ended";
    EXPECT_EQ(2, sim.SnapshotsTaken()) << "expected one scan that waits, then one that finds neither";
}

INSTANTIATE_TEST_SUITE_P(Patterns, SamePatternTest, ::testing::Values(kEngine, kDeleter),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param == kEngine ? "Engine" : "Deleter");
                         });

TEST_F(LaunchTest, ADeleterStartedDuringTheEngineWaitIsFoundByTheNextScan)
{
    // The engine starts the deleter shortly before it ends itself.
    StageSetup(SimProgram().Runs(200).Spawns(
        100, SimProgram().Named(kEngine).Runs(4000).Spawns(3000, SimProgram().Named(kDeleter).Runs(2000))));
    ASSERT_TRUE(Run(false));
    const DWORD engine = sim.PidOf(kEngine);
    const DWORD deleter = sim.PidOf(kDeleter);
    EXPECT_EQ((std::vector<DWORD>{engine, deleter}), OpenedPids())
        << "expected the engine waited for, then the deleter it started\n" << sim.LogText();
    const std::vector<uint64_t> scans = SnapshotTimes();
    ASSERT_EQ(3u, scans.size()) << "expected three scans: engine, deleter, neither\n" << sim.LogText();
    EXPECT_EQ(4100u, scans[1]) << "expected the second scan when the engine ended";
    const auto opens = CallsOn("OpenProcess");
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ(4100u, opens[1]->time) << "expected the deleter opened by the second scan";
    EXPECT_EQ(5100u, sim.Now()) << "expected the wait over when the deleter ended";
}

TEST_F(LaunchTest, TheWaitEndsAfterTheFirstScanThatFindsNeither)
{
    StageSetup();
    const DWORD engine = sim.AddProcess(kEngine, SimProgram().Runs(2000));
    // Too late: the wait is over by the time it starts.
    const DWORD late = sim.AddProcess(kDeleter, SimProgram().Runs(1000), 2500);
    ASSERT_TRUE(Run(false));
    EXPECT_EQ(std::vector<DWORD>{engine}, OpenedPids()) << "expected only the engine waited for\n" << sim.LogText();
    EXPECT_EQ(2, sim.SnapshotsTaken()) << "expected the scans to stop at the first that found nothing";
    EXPECT_EQ(2000u, sim.Now()) << "expected the wait over when the engine ended";
    EXPECT_TRUE(sim.Process(late).openAccesses.empty()) << "expected the late deleter never opened";
}

struct NameCase {
    const char* label;
    const char* exeFile;
    bool matches;
};

// Named in failure messages by its label.
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class EngineNameTest : public LaunchTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EngineNameTest, NamesContainingAPatternMatchCaseSensitively)
{
    const NameCase& c = GetParam();
    StageSetup();
    const DWORD pid = sim.AddProcess(c.exeFile, SimProgram().Runs(3000));
    ASSERT_TRUE(Run(false));
    if (c.matches) {
        EXPECT_EQ(std::vector<DWORD>{pid}, OpenedPids()) << "expected \"" << c.exeFile << "\" to match and be waited for";
        EXPECT_EQ(3000u, sim.Now()) << "expected the wait to last until \"" << c.exeFile << "\" ended";
        EXPECT_EQ(2, sim.SnapshotsTaken()) << "expected a scan that waits and one that finds nothing";
    } else {
        EXPECT_TRUE(OpenedPids().empty()) << "expected \"" << c.exeFile << "\" not to match";
        EXPECT_EQ(0u, sim.Now()) << "expected no wait for \"" << c.exeFile << "\"";
        EXPECT_EQ(1, sim.SnapshotsTaken()) << "expected a single scan";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, EngineNameTest,
    ::testing::Values(NameCase{"FullPath", "C:\\TEMP\\X\\_INS5176._MP", true},
                      NameCase{"DeleterInside", "X_ISDEL.EXE.BAK", true},
                      NameCase{"Engine", "_INS5176._MP", true},
                      NameCase{"Deleter", "_ISDEL.EXE", true},
                      NameCase{"LowerCaseDeleter", "_isdel.exe", false},
                      NameCase{"LowerCaseEngine", "_ins5176._mp", false},
                      NameCase{"MixedCaseDeleter", "_IsDel.exe", false},
                      NameCase{"ShortEngine", "_INS5176._M", false},
                      NameCase{"ShortDeleter", "ISDEL.EXE", false}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

// --- matches that cannot be waited on ------------------------------------------------------------

enum class Unwaitable { NotOpenable, ExitCodeUnreadable, HandleWaitFails };

struct UnwaitableCase {
    const char* name;
    Unwaitable how;
    const char* exeFile;
};

// Named in failure messages by its label.
void PrintTo(const UnwaitableCase& c, std::ostream* os) { *os << c.name; }

class UnwaitableTest : public LaunchTest, public ::testing::WithParamInterface<UnwaitableCase> {};

TEST_P(UnwaitableTest, KeepsTheScansGoingPacedUntilItIsNoLongerListed)
{
    const UnwaitableCase& c = GetParam();
    const uint64_t end = 1050;
    StageSetup();
    SimProgram program = SimProgram().Runs(end);
    if (c.how == Unwaitable::NotOpenable)
        program.NotOpenable();
    const DWORD pid = sim.AddProcess(c.exeFile, program);
    if (c.how == Unwaitable::ExitCodeUnreadable)
        sim.Fail("GetExitCodeProcess").When(std::to_string(pid));
    if (c.how == Unwaitable::HandleWaitFails)
        sim.Fail("WaitForSingleObject").When(std::to_string(pid));
    ASSERT_TRUE(Run(false)) << "expected the wait to end without the spin guard";

    const std::vector<uint64_t> scans = SnapshotTimes();
    ASSERT_GE(scans.size(), 2u) << "expected the scans to go on while it was listed\n" << sim.LogText();
    EXPECT_EQ(PacedScans(static_cast<int>(scans.size())), ScanRhythm())
        << "expected exactly one Sleep(100) between scans (S: scan, P: pause)";
    EXPECT_GE(scans.back(), end) << "expected the scans to go on until it had ended";
    EXPECT_LT(scans[scans.size() - 2], end) << "expected the wait over at the first scan without it";
    EXPECT_LE(sim.Now() - end, 100u) << "expected the end noticed within one pause";
    EXPECT_EQ(scans.size() - 1, OpenedPids().size()) << "expected one open per scan that listed it";
    EXPECT_EQ(0, sim.OpenHandleCount()) << "expected every handle opened closed again";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, UnwaitableTest,
    ::testing::Values(UnwaitableCase{"EngineNotOpenable", Unwaitable::NotOpenable, kEngine},
                      UnwaitableCase{"DeleterNotOpenable", Unwaitable::NotOpenable, kDeleter},
                      UnwaitableCase{"ExitCodeUnreadable", Unwaitable::ExitCodeUnreadable, kEngine},
                      UnwaitableCase{"HandleWaitFails", Unwaitable::HandleWaitFails, kDeleter}),
    [](const ::testing::TestParamInfo<UnwaitableCase>& info) { return std::string(info.param.name); });

// --- a real exit code of 259 ---------------------------------------------------------------------

struct ExitCodeCase {
    const char* name;
    bool engine;        // the engine's wait; else SETUP.EXE's, in manual-exit mode
    uint64_t end;
    SimIdle idle;
};

// Named in failure messages by its label.
void PrintTo(const ExitCodeCase& c, std::ostream* os) { *os << c.name; }

class StillActiveExitCodeTest : public LaunchTest, public ::testing::WithParamInterface<ExitCodeCase> {};

TEST_P(StillActiveExitCodeTest, AProcessThatEndedWithCode259DoesNotMakeTheWaitSpin)
{
    const ExitCodeCase& c = GetParam();
    const SimProgram program = SimProgram().Runs(c.end).ExitCode(STILL_ACTIVE).Idles(c.idle);
    DWORD pid = 0;
    if (c.engine) {
        StageSetup();
        pid = sim.AddProcess(kEngine, program);
    } else {
        StageSetup(program);
    }
    ASSERT_TRUE(Run(!c.engine)) << "expected the wait to end without the spin guard";
    if (!c.engine)
        pid = SetupPid();

    const uint64_t over = c.engine ? sim.Now() : (sim.MessageBoxes().empty() ? 0 : sim.MessageBoxes()[0].time);
    EXPECT_GE(over, c.end) << "expected the wait to last until the process ended";
    EXPECT_LE(over - c.end, 5u) << "expected the end noticed at once\n" << sim.LogText();
    int looksAfterEnd = 0;
    for (const SimLogEntry* e : CallsOnProcess("GetExitCodeProcess", pid))
        looksAfterEnd += e->time >= c.end ? 1 : 0;
    EXPECT_LE(looksAfterEnd, 1) << "expected at most one exit-code query after the process had ended\n"
                                << sim.LogText();
}

INSTANTIATE_TEST_SUITE_P(
    Processes, StillActiveExitCodeTest,
    ::testing::Values(ExitCodeCase{"SetupEndsAtOnce", false, 0, SimIdle::Idle},
                      ExitCodeCase{"SetupRuns", false, 1500, SimIdle::Idle},
                      ExitCodeCase{"SetupNeverIdle", false, 1500, SimIdle::Timeout},
                      ExitCodeCase{"EngineRuns", true, 1500, SimIdle::Idle},
                      ExitCodeCase{"EngineConsole", true, 1500, SimIdle::Failed},
                      ExitCodeCase{"EngineNeverIdle", true, 1500, SimIdle::Timeout}),
    [](const ::testing::TestParamInfo<ExitCodeCase>& info) { return std::string(info.param.name); });

// --- WaitForInputIdle's answers in the engine wait ---------------------------------------------

class EngineIdleTest : public LaunchTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(EngineIdleTest, DoesNotEndTheWaitWhileTheEngineRunsAndNoticesItsEnd)
{
    const IdleCase& c = GetParam();
    const uint64_t end = 3700;
    StageSetup();
    const DWORD engine = sim.AddProcess(kEngine, SimProgram().Runs(end).Idles(c.idle, c.idleAfter));
    if (c.faultWaitForInputIdle)
        sim.Fail("WaitForInputIdle");
    ASSERT_TRUE(Run(false));
    EXPECT_EQ(std::vector<DWORD>{engine}, OpenedPids()) << "expected the engine waited for\n" << sim.LogText();
    const std::vector<uint64_t> scans = SnapshotTimes();
    ASSERT_EQ(2u, scans.size()) << "expected one scan that waits and one after the engine has gone\n"
                                << sim.LogText();
    EXPECT_GE(scans[1], end) << "expected the engine's wait to last while it ran";
    EXPECT_GE(sim.Now(), end);
    EXPECT_LE(sim.Now() - end, c.tolerance) << "expected the engine's end noticed within " << c.tolerance << " ms";
}

INSTANTIATE_TEST_SUITE_P(IdleAnswers, EngineIdleTest, ::testing::ValuesIn(kIdleCases), IdleCaseName);

// A windowless deleter never becomes idle and ends inside its first WaitForInputIdle: it was
// waited for, so the scan after it must follow at once, with no pause before the cleanup.
TEST_F(LaunchTest, ADeleterThatEndsInsideItsFirstIdleWaitNeedsNoPausedRescan)
{
    const uint64_t end = 300;
    StageSetup();
    const DWORD deleter = sim.AddProcess(kDeleter, SimProgram().Runs(end).Idles(SimIdle::Timeout));
    ASSERT_TRUE(Run(false));
    EXPECT_EQ(std::vector<DWORD>{deleter}, OpenedPids()) << "expected the deleter waited for\n" << sim.LogText();
    EXPECT_EQ("SS", ScanRhythm()) << "expected two scans without a pause between them\n" << sim.LogText();
    EXPECT_LE(sim.Now() - end, 5u) << "expected the wait over within 5 ms of the deleter's end";
}

// --- the waits block -----------------------------------------------------------------------------

struct LongRunCase {
    const char* name;
    bool engine;        // a stand-in engine; else SETUP.EXE itself, in manual-exit mode
    SimIdle idle;
};

// Named in failure messages by its label.
void PrintTo(const LongRunCase& c, std::ostream* os) { *os << c.name; }

class LongRunTest : public LaunchTest, public ::testing::WithParamInterface<LongRunCase> {};

TEST_P(LongRunTest, AThirtySecondProcessCostsOnlyAFewCallsPerSecond)
{
    const LongRunCase& c = GetParam();
    const uint64_t seconds = 30;
    const SimProgram program = SimProgram().Runs(seconds * 1000).Idles(c.idle);
    if (c.engine) {
        StageSetup();
        sim.AddProcess(kEngine, program);
    } else {
        StageSetup(program);
    }
    ASSERT_TRUE(Run(!c.engine)) << "expected the wait to block, not to trip the spin guard";
    EXPECT_FALSE(sim.Aborted());
    EXPECT_GE(sim.Now(), seconds * 1000) << "expected the wait to last as long as the process";
    const int calls = CallCount();
    EXPECT_LE(calls, static_cast<int>(5 * seconds + 20))
        << "expected at most about 5 calls per virtual second for a " << seconds << " s process, got "
        << calls;
}

INSTANTIATE_TEST_SUITE_P(
    Processes, LongRunTest,
    ::testing::Values(LongRunCase{"SetupIdle", false, SimIdle::Idle},
                      LongRunCase{"SetupConsole", false, SimIdle::Failed},
                      LongRunCase{"EngineIdle", true, SimIdle::Idle},
                      LongRunCase{"EngineConsole", true, SimIdle::Failed},
                      LongRunCase{"EngineNeverIdle", true, SimIdle::Timeout}),
    [](const ::testing::TestParamInfo<LongRunCase>& info) { return std::string(info.param.name); });

// --- processes caught without a name -----------------------------------------------------------

class NamelessEngineTest : public LaunchTest, public ::testing::WithParamInterface<int> {};

TEST_P(NamelessEngineTest, AnEngineListedWithoutItsNameIsSeenByARescan)
{
    const int blank = GetParam();
    // Setup starts the engine as it ends; the first snapshots catch the engine nameless.
    StageSetup(SimProgram().Runs(200).Spawns(200, SimProgram().Named(kEngine).Runs(3000).BlankNameFor(blank)));
    ASSERT_TRUE(Run(false));
    const DWORD engine = sim.PidOf(kEngine);
    EXPECT_EQ(std::vector<DWORD>{engine}, OpenedPids())
        << "expected the engine waited for once its name showed\n" << sim.LogText();
    EXPECT_EQ(3200u, sim.Now()) << "expected the wait over when the engine ended";
    EXPECT_EQ(PacedScans(blank + 1) + "S", ScanRhythm())
        << "expected a paced rescan for each nameless snapshot, then the wait, then a last scan";
}

INSTANTIATE_TEST_SUITE_P(Snapshots, NamelessEngineTest, ::testing::Values(1, 3, 10),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "NamelessIn" + std::to_string(info.param);
                         });

TEST_F(LaunchTest, AnEngineNamelessForLongerThanTheRescansIsNotWaitedFor)
{
    StageSetup(SimProgram().Runs(200).Spawns(200, SimProgram().Named(kEngine).Runs(3000).BlankNameFor(11)));
    ASSERT_TRUE(Run(false));
    EXPECT_TRUE(OpenedPids().empty()) << "expected no wait after the rescans ran out\n" << sim.LogText();
    EXPECT_EQ(PacedScans(1 + MAX_NAMELESS_RESCANS), ScanRhythm()) << "expected 10 paced rescans, then the end";
    EXPECT_EQ(200u + 100u * MAX_NAMELESS_RESCANS, sim.Now()) << "expected the wait over after the last rescan";
}

TEST_F(LaunchTest, AProcessNamelessForeverEndsTheWaitAfterTenPacedRescans)
{
    StageSetup();
    sim.AddProcess("notepad.exe", SimProgram().RunsForever().BlankNameFor(1000000));
    ASSERT_TRUE(Run(false)) << "expected the wait to end";
    EXPECT_EQ(11, sim.SnapshotsTaken()) << "expected the first scan and 10 rescans\n" << sim.LogText();
    EXPECT_EQ(PacedScans(11), ScanRhythm()) << "expected each rescan after a Sleep(100)";
    EXPECT_EQ(1000u, sim.Now()) << "expected ten pauses of 100 ms";
    EXPECT_EQ(0, sim.Count("OpenProcess")) << "expected nothing opened: no name ever matched";
}

}  // namespace
