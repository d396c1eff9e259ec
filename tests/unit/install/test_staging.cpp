// EnterStagingDirectory and the cleanup sweep RemoveStagedFiles.
#include "InstallFixture.h"

#include <cstring>
#include <functional>

namespace installtest {
namespace {

class Staging : public InstallTest {
protected:
    BOOL Enter()
    {
        std::memset(szPath, 0, sizeof szPath);
        std::strcpy(szPath, kWindowsDir);
        return EnterStagingDirectory(szPath);
    }

    std::vector<std::string> DirectoryCalls() const
    {
        std::vector<std::string> calls;
        for (const SimLogEntry& e : sim.Entries())
            if (e.kind == kSimCalls && (e.call == "_chdir" || e.call == "_mkdir" || e.call == "_rmdir"))
                calls.push_back(e.Line(true));
        return calls;
    }

    char szPath[PATH_BUFFER_SIZE];
};

std::string Result(const std::string& call, const std::string& path, bool ok)
{
    return call + "(" + path + ") -> " + (ok ? "0" : "-1");
}

// The log's result of a failed C-runtime call carries the error after the -1.
std::vector<std::string> Stripped(std::vector<std::string> lines)
{
    for (std::string& line : lines) {
        const size_t error = line.find(" error ");
        if (error != std::string::npos)
            line.erase(error);
    }
    return lines;
}

TEST_F(Staging, MissingTempIsMadeButNeverEnteredAndZarpoIsMadeAndEntered)
{
    EXPECT_TRUE(Enter()) << "expected TRUE";
    EXPECT_EQ((std::vector<std::string>{
                  Result("_chdir", kTempDir, false),
                  Result("_mkdir", kTempDir, true),
                  Result("_chdir", kStagingDir, false),
                  Result("_mkdir", kStagingDir, true),
                  Result("_chdir", kStagingDir, true),
              }),
              Stripped(DirectoryCalls()))
        << "expected TEMP made by its full path and never entered, then ZARPO made and entered";
    EXPECT_STREQ(kStagingDir, szPath) << "expected szPath to hold the staging path";
    EXPECT_EQ(kStagingDir, sim.CurrentDirectory()) << "expected the staging directory current";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
}

TEST_F(Staging, TempMadeHereStaysAfterACleanSweep)
{
    ASSERT_TRUE(Enter());
    PutAllPayloadFiles();
    RemoveStagedFiles(szPath);
    EXPECT_TRUE(sim.IsDir(kTempDir)) << "expected TEMP kept";
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected ZARPO removed";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
}

TEST_F(Staging, ExistingTempAndZarpoAreEnteredAndZarpoIsEnteredTwice)
{
    sim.PutFile(StagedPath("notes.txt"), "kept");
    EXPECT_TRUE(Enter()) << "expected TRUE";
    EXPECT_EQ((std::vector<std::string>{
                  Result("_chdir", kTempDir, true),
                  Result("_chdir", kStagingDir, true),
                  Result("_chdir", kStagingDir, true),
              }),
              Stripped(DirectoryCalls()))
        << "expected nothing made and the staging directory entered again";
    EXPECT_EQ("kept", sim.ReadFile(StagedPath("notes.txt"))) << "expected the existing directory untouched";
    EXPECT_STREQ(kStagingDir, szPath) << "expected szPath to hold the staging path";
}

TEST_F(Staging, FinalEntryFailingReportsAndRemovesTheStagingDirectory)
{
    sim.PutDir(kTempDir);
    sim.Fail("_chdir").When(kStagingDir);
    EXPECT_FALSE(Enter()) << "expected FALSE";
    EXPECT_EQ((std::vector<std::string>{
                  Result("_chdir", kTempDir, true),
                  Result("_chdir", kStagingDir, false),
                  Result("_mkdir", kStagingDir, true),
                  Result("_chdir", kStagingDir, false),
                  Result("_rmdir", kStagingDir, true),
              }),
              Stripped(DirectoryCalls()))
        << "expected one removal of the staging path after the failed entry";
    EXPECT_EQ(std::vector<std::string>{ kNoChdir }, sim.MessageBoxTexts()) << "expected the one message";
    const std::vector<std::string> log = sim.Log();
    EXPECT_LT(FindLine(log, "MessageBoxA("), FindLine(log, "_rmdir(")) << "expected the message before the removal";
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected the empty staging directory removed";
    EXPECT_EQ(0, sim.Count("remove")) << "expected no sweep";
}

TEST_F(Staging, FinalEntryFailingIntoAnOccupiedDirectoryLeavesIt)
{
    sim.PutFile(StagedPath("notes.txt"), "kept");
    sim.Fail("_chdir").When(kStagingDir).Nth(2);
    EXPECT_FALSE(Enter()) << "expected FALSE";
    EXPECT_EQ(std::vector<std::string>{ kNoChdir }, sim.MessageBoxTexts()) << "expected one message, whatever _rmdir did";
    EXPECT_EQ(1, sim.Count("_rmdir")) << "expected one removal attempt";
    EXPECT_EQ("kept", sim.ReadFile(StagedPath("notes.txt"))) << "expected the foreign file still there";
}

struct StagingFailure {
    const char* name;
    std::function<void(SimOs&)> arrange;
    const char* lastCall;   // the last directory call the step makes
    bool tempAfter;
};

void PrintTo(const StagingFailure& c, std::ostream* os) { *os << c.name; }

const StagingFailure kFailures[] = {
    { "TempIsAFile", [](SimOs& s) { s.PutFile(kTempDir, "a file"); }, "_mkdir(C:\\WINDOWS\\TEMP)", false },
    { "TempCannotBeMade", [](SimOs& s) { s.Fail("_mkdir").When(kTempDir); }, "_mkdir(C:\\WINDOWS\\TEMP)", false },
    { "ZarpoIsAFile", [](SimOs& s) { s.PutFile(kStagingDir, "a file"); }, "_mkdir(C:\\WINDOWS\\TEMP\\ZARPO)", true },
    { "ZarpoCannotBeMade", [](SimOs& s) { s.Fail("_mkdir").When(kStagingDir); }, "_mkdir(C:\\WINDOWS\\TEMP\\ZARPO)", true },
};

class StagingFails : public Staging, public ::testing::WithParamInterface<StagingFailure> {};

TEST_P(StagingFails, WithOneMessageAndNothingMore)
{
    const StagingFailure& c = GetParam();
    c.arrange(sim);
    EXPECT_FALSE(Enter()) << "expected FALSE";
    EXPECT_EQ(std::vector<std::string>{ kNoChdir }, sim.MessageBoxTexts()) << "expected exactly one message";
    const std::vector<std::string> calls = DirectoryCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(0u, calls.back().rfind(c.lastCall, 0)) << "expected " << c.lastCall << " to be the last call; got:\n" << Join(calls);
    EXPECT_EQ(0, sim.Count("_rmdir")) << "expected no removal when nothing was entered";
    EXPECT_EQ(c.tempAfter, sim.IsDir(kTempDir)) << "expected TEMP " << (c.tempAfter ? "to stay" : "not to be a directory");
}

INSTANTIATE_TEST_SUITE_P(Failures, StagingFails, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<StagingFailure>& i) { return std::string(i.param.name); });

// --- the sweep -----------------------------------------------------------------------------------

class Sweep : public InstallTest {
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        EnterStaging();
        std::strcpy(szPath, kStagingDir);
    }

    void Run()
    {
        sim.ClearLog();
        RemoveStagedFiles(szPath);
    }

    int Warnings() const
    {
        int n = 0;
        for (const std::string& text : sim.MessageBoxTexts())
            n += text == kSweepWarning ? 1 : 0;
        return n;
    }

    // Every call of the sweep, in order, without results.
    std::vector<std::string> Calls() const { return sim.Log(); }

    // The first n calls of the sweep.
    std::vector<std::string> FirstCalls(size_t n) const
    {
        std::vector<std::string> calls = sim.Log();
        if (calls.size() > n)
            calls.resize(n);
        return calls;
    }

    std::vector<std::string> ExpectedCalls() const
    {
        std::vector<std::string> calls;
        for (const std::string& name : PayloadNames())
            calls.push_back("remove(" + name + ")");
        calls.push_back("_chdir(..)");
        calls.push_back(std::string("_rmdir(") + kStagingDir + ")");
        return calls;
    }

    char szPath[PATH_BUFFER_SIZE] = "";
};

TEST_F(Sweep, CleanSweepRemovesEverythingAndSaysNothing)
{
    PutAllPayloadFiles();
    Run();
    EXPECT_EQ(ExpectedCalls(), Calls()) << "expected the fifteen removals in table order, the move up and the removal";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected the staging directory gone";
    EXPECT_EQ(kTempDir, sim.CurrentDirectory()) << "expected TEMP current";
}

TEST_F(Sweep, TriesEveryRemovalWhateverFailsAndWarnsOnce)
{
    PutAllPayloadFiles();
    sim.Fail("remove").When("_inst32i.ex_");
    sim.Fail("remove").When("data.tag");
    sim.Fail("remove").When("setup.exe");
    sim.Fail("remove").When("setup.lid");
    Run();
    std::vector<std::string> expected = ExpectedCalls();
    expected.push_back(std::string("MessageBoxA(null, \"") + kSweepWarning + "\", \"" + kTitle + "\", 0x30)");
    EXPECT_EQ(expected, Calls()) << "expected every removal tried in table order, then one warning";
    EXPECT_EQ(1, Warnings()) << "expected the warning once";
    std::vector<std::string> left = sim.List(kStagingDir);
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{ "_inst32i.ex_", "data.tag", "setup.exe", "setup.lid" }), left)
        << "expected exactly the files whose removal failed left";
}

TEST_F(Sweep, FailingMoveToTheParentStillTriesTheDirectoryRemoval)
{
    PutAllPayloadFiles();
    sim.Fail("_chdir").When("..");
    Run();
    EXPECT_EQ(ExpectedCalls(), FirstCalls(PAYLOAD_COUNT + 2))
        << "expected _rmdir of the full staging path after the failed _chdir(\"..\")";
    EXPECT_EQ(1, Warnings()) << "expected one warning";
}

TEST_F(Sweep, FailingMoveToTheParentAloneIsWarnedAbout)
{
    // The files sit in another current directory and the staging directory is empty and not
    // current, so the move to the parent is the only call that fails.
    sim.PutDir("C:\\WORK");
    for (int i = 0; i < PAYLOAD_COUNT; ++i)
        sim.PutFile("C:\\WORK\\" + PayloadNames()[i], PayloadBytes(i));
    sim.SetCurrentDirectory("C:\\WORK");
    sim.Fail("_chdir").When("..");
    Run();
    EXPECT_TRUE(sim.List("C:\\WORK").empty()) << "expected every removal to succeed";
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected the directory removal to succeed";
    EXPECT_EQ(std::vector<std::string>{ kSweepWarning }, sim.MessageBoxTexts())
        << "expected the warning for the failed move to the parent";
}

struct SweepFailure {
    const char* name;
    std::function<void(SimOs&)> arrange;
};

void PrintTo(const SweepFailure& c, std::ostream* os) { *os << c.name; }

const SweepFailure kSweepFailures[] = {
    { "OneRemoval", [](SimOs& s) { s.Fail("remove").When("os.dat"); } },
    { "EveryRemoval", [](SimOs& s) { s.Fail("remove"); } },
    { "MoveToParent", [](SimOs& s) { s.Fail("_chdir").When(".."); } },
    { "DirectoryRemoval", [](SimOs& s) { s.Fail("_rmdir"); } },
    { "Everything", [](SimOs& s) { s.Fail("remove"); s.Fail("_chdir"); s.Fail("_rmdir"); } },
    { "FileHeldOpen", [](SimOs& s) { s.HoldOpen(StagedPath("setup.exe")); } },
    { "ReadOnlyFile", [](SimOs& s) { s.SetReadOnly(StagedPath("setup.bmp")); } },
    { "ForeignFile", [](SimOs& s) { s.PutFile(StagedPath("notes.txt"), "x"); } },
};

class SweepFails : public Sweep, public ::testing::WithParamInterface<SweepFailure> {};

TEST_P(SweepFails, WarnsExactlyOnceAfterAllAttempts)
{
    PutAllPayloadFiles();
    GetParam().arrange(sim);
    Run();
    EXPECT_EQ(ExpectedCalls(), FirstCalls(PAYLOAD_COUNT + 2))
        << "expected every attempt made, in order, before anything is said";
    EXPECT_EQ(std::vector<std::string>{ kSweepWarning }, sim.MessageBoxTexts()) << "expected the warning exactly once";
}

INSTANTIATE_TEST_SUITE_P(Failures, SweepFails, ::testing::ValuesIn(kSweepFailures),
                         [](const ::testing::TestParamInfo<SweepFailure>& i) { return std::string(i.param.name); });

TEST_F(Sweep, FileHeldOpenSurvivesWithItsDirectory)
{
    PutAllPayloadFiles();
    sim.HoldOpen(StagedPath("setup.exe"));
    Run();
    EXPECT_EQ(std::vector<std::string>{ "setup.exe" }, sim.List(kStagingDir)) << "expected only the held file left";
    EXPECT_TRUE(sim.IsDir(kStagingDir)) << "expected the staging directory to stay";
    EXPECT_EQ(std::vector<std::string>{ kSweepWarning }, sim.MessageBoxTexts()) << "expected the warning";
}

TEST_F(Sweep, NothingStagedStillTriesEverythingAndWarnsOnce)
{
    Run();
    EXPECT_EQ(ExpectedCalls(), FirstCalls(PAYLOAD_COUNT + 2))
        << "expected all fifteen removals tried although none can succeed";
    EXPECT_EQ(std::vector<std::string>{ kSweepWarning }, sim.MessageBoxTexts()) << "expected one warning";
    EXPECT_FALSE(sim.Exists(kStagingDir)) << "expected the empty staging directory removed";
}

}  // namespace
}  // namespace installtest
