// ExtractPayload: the fifteen "Binary" resources written byte for byte into the staging
// directory, and every way that can stop.
#include "InstallFixture.h"

#include <cstring>
#include <functional>

namespace installtest {
namespace {

class Payload : public InstallTest {
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        EnterStaging();
    }

    BOOL Extract()
    {
        sim.ClearLog();
        return ExtractPayload();
    }

    // The files written, index by index, compared with their resources.
    void ExpectWritten(int count)
    {
        for (int i = 0; i < count; ++i) {
            const std::string path = StagedPath(PayloadNames()[i]);
            ASSERT_TRUE(sim.IsFile(path)) << "expected " << path << " written";
            const std::string bytes = sim.ReadFile(path);
            EXPECT_EQ(PayloadBytes(i).size(), bytes.size()) << "expected " << PayloadNames()[i] << " as long as resource "
                                                            << PAYLOAD_FIRST_ID + i;
            EXPECT_TRUE(bytes == PayloadBytes(i)) << "expected " << PayloadNames()[i] << " identical to resource "
                                                  << PAYLOAD_FIRST_ID + i;
        }
    }

    // A file that could not be opened is given up at once: nothing is done with its handle.
    void ExpectNoCallOnAFailedOpen()
    {
        for (const std::string& line : sim.Log())
            EXPECT_EQ(std::string::npos, line.find("INVALID_HANDLE_VALUE"))
                << "expected no call on the handle of a failed open: " << line;
    }

    void ExpectNotCreated(int from)
    {
        for (int i = from; i < PAYLOAD_COUNT; ++i) {
            EXPECT_FALSE(sim.Exists(StagedPath(PayloadNames()[i]))) << "expected " << PayloadNames()[i] << " not written";
        }
        for (const SimFileOpen& open : sim.FileOpens())
            for (int i = from; i < PAYLOAD_COUNT; ++i)
                EXPECT_NE(PayloadNames()[i], open.name) << "expected nothing tried after the failing file";
    }
};

TEST_F(Payload, WritesAllFifteenByteForByteUnderTheirOwnNames)
{
    EXPECT_TRUE(Extract()) << "expected TRUE";
    ExpectWritten(PAYLOAD_COUNT);
    std::vector<std::string> sorted = PayloadNames();
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> listed = sim.List(kStagingDir);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(sorted, listed) << "expected exactly the fifteen names in the staging directory";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
    EXPECT_EQ(0, sim.OpenFileHandles()) << "expected every file closed";
    EXPECT_EQ(std::string(), sim.ReadFile(StagedPath("data.tag"))) << "expected the zero-length resource as an empty file";
}

TEST_F(Payload, AsksForEachResourceByIdAsTypeBinaryInTableOrder)
{
    EXPECT_TRUE(Extract());
    const std::vector<std::string> finds = sim.Calls("FindResourceA");
    ASSERT_EQ(static_cast<size_t>(PAYLOAD_COUNT), finds.size()) << "expected one lookup per file";
    for (int i = 0; i < PAYLOAD_COUNT; ++i)
        EXPECT_EQ("FindResourceA(0x00400000, #" + std::to_string(PAYLOAD_FIRST_ID + i) + ", Binary)", finds[i])
            << "expected the executable's resource " << PAYLOAD_FIRST_ID + i << " of type \"Binary\"";
}

TEST_F(Payload, OpensEachFileForExclusiveWritingCreatedOrTruncated)
{
    EXPECT_TRUE(Extract());
    ASSERT_EQ(static_cast<size_t>(PAYLOAD_COUNT), sim.FileOpens().size()) << "expected one open per file";
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        const SimFileOpen& open = sim.FileOpens()[i];
        EXPECT_EQ(PayloadNames()[i], open.name) << "expected the bare name, relative to the staging directory";
        EXPECT_EQ(static_cast<DWORD>(GENERIC_WRITE), open.access) << open.name << ": expected write access only";
        EXPECT_EQ(0u, open.share) << open.name << ": expected no sharing";
        EXPECT_EQ(static_cast<DWORD>(CREATE_ALWAYS), open.disposition) << open.name << ": expected CREATE_ALWAYS";
    }
}

TEST_F(Payload, ReplacesALongerExistingFileCompletely)
{
    sim.PutFile(StagedPath("setup.ini"), std::string(100000, 'O'));
    sim.PutFile(StagedPath("data.tag"), "stale contents");
    EXPECT_TRUE(Extract());
    EXPECT_TRUE(sim.ReadFile(StagedPath("setup.ini")) == PayloadBytes(12))
        << "expected the new contents with no trailing old bytes; got " << sim.ReadFile(StagedPath("setup.ini")).size()
        << " bytes";
    EXPECT_EQ(std::string(), sim.ReadFile(StagedPath("data.tag"))) << "expected the zero-length resource to empty the file";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
}

TEST_F(Payload, ZeroLengthResourceGivesAnEmptyFileAndNoMessage)
{
    for (int i = 0; i < PAYLOAD_COUNT; ++i)
        sim.AddResource("BINARY", static_cast<WORD>(PAYLOAD_FIRST_ID + i), std::string());
    EXPECT_TRUE(Extract()) << "expected TRUE for fifteen empty resources";
    for (const std::string& name : PayloadNames()) {
        ASSERT_TRUE(sim.IsFile(StagedPath(name))) << "expected " << name << " created";
        EXPECT_EQ(std::string(), sim.ReadFile(StagedPath(name))) << "expected " << name << " empty";
    }
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
}

// --- failures ------------------------------------------------------------------------------------

struct PayloadFailure {
    const char* name;
    std::function<void(SimOs&)> arrange;
    int failingIndex;       // the file at which it stops
    const char* message;
    bool fileCreated;       // whether the failing file exists afterwards
};

void PrintTo(const PayloadFailure& c, std::ostream* os) { *os << c.name; }

const PayloadFailure kFailures[] = {
    { "ResourceMissing", [](SimOs& s) { s.RemoveResource("BINARY", 205); }, 8, kNoFind, false },
    { "FirstResourceMissing", [](SimOs& s) { s.RemoveResource("BINARY", 197); }, 0, kNoFind, false },
    { "LastResourceMissing", [](SimOs& s) { s.RemoveResource("BINARY", 211); }, 14, kNoFind, false },
    { "FindFails", [](SimOs& s) { s.Fail("FindResourceA").When("203"); }, 6, kNoFind, false },
    { "LoadFails", [](SimOs& s) { s.Fail("LoadResource").When("203"); }, 6, kNoLoad, false },
    { "LockFails", [](SimOs& s) { s.Fail("LockResource").When("203"); }, 6, kNoLock, false },
    { "OpenFails", [](SimOs& s) { s.Fail("CreateFileA").When("setup.exe").Error(ERROR_ACCESS_DENIED); }, 11, kNoCreate, false },
    { "SeekFails", [](SimOs& s) { s.Fail("SetFilePointer").When("os.dat"); }, 9, kNoCreate, true },
    { "WriteFails", [](SimOs& s) { s.Fail("WriteFile").When("setup.bmp").Error(ERROR_WRITE_FAULT); }, 10, kNoCreate, true },
    { "ShortWrite", [](SimOs& s) { s.Fail("WriteFile").When("setup.exe").ShortBy(10); }, 11, kNoCreate, true },
    { "CloseFails", [](SimOs& s) { s.Fail("CloseHandle").When("lang.dat"); }, 7, kNoCreate, true },
};

class PayloadFails : public Payload, public ::testing::WithParamInterface<PayloadFailure> {};

TEST_P(PayloadFails, StopsAtTheFailingFileWithItsOwnMessage)
{
    const PayloadFailure& c = GetParam();
    c.arrange(sim);

    EXPECT_FALSE(Extract()) << "expected FALSE";
    EXPECT_EQ(std::vector<std::string>{ c.message }, sim.MessageBoxTexts()) << "expected exactly that message";
    ExpectWritten(c.failingIndex);
    EXPECT_EQ(c.fileCreated, sim.IsFile(StagedPath(PayloadNames()[c.failingIndex])))
        << "expected " << PayloadNames()[c.failingIndex] << (c.fileCreated ? " to be there" : " not to be there");
    ExpectNotCreated(c.failingIndex + 1);
    EXPECT_EQ(0, sim.OpenFileHandles()) << "expected no file left open; open: " << Join(sim.OpenHandleNames());
    ExpectNoCallOnAFailedOpen();
    EXPECT_EQ(static_cast<size_t>(c.failingIndex + 1), sim.Calls("FindResourceA").size())
        << "expected lookups up to the failing file only";
}

INSTANTIATE_TEST_SUITE_P(Failures, PayloadFails, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<PayloadFailure>& i) { return std::string(i.param.name); });

TEST_F(Payload, NoResourceHandleIsReportedBeforeAnyLookup)
{
    AfxSetResourceHandle(nullptr);
    EXPECT_FALSE(Extract()) << "expected FALSE";
    EXPECT_EQ(std::vector<std::string>{ kNoResources }, sim.MessageBoxTexts()) << "expected that message alone";
    EXPECT_EQ(0, sim.Count("FindResourceA")) << "expected no lookup with a null handle";
    EXPECT_EQ(0, sim.Count("CreateFileA")) << "expected nothing written";
}

struct OpenRefusal {
    const char* name;
    std::function<void(SimOs&)> arrange;
    DWORD error;
};

void PrintTo(const OpenRefusal& c, std::ostream* os) { *os << c.name; }

const OpenRefusal kRefusals[] = {
    { "ReadOnly", [](SimOs& s) { s.PutFile(StagedPath("data1.cab"), "old"); s.SetReadOnly(StagedPath("data1.cab")); },
      ERROR_ACCESS_DENIED },
    { "HeldOpen", [](SimOs& s) { s.PutFile(StagedPath("data1.cab"), "old"); s.HoldOpen(StagedPath("data1.cab")); },
      ERROR_SHARING_VIOLATION },
};

class PayloadOpenRefused : public Payload, public ::testing::WithParamInterface<OpenRefusal> {};

TEST_P(PayloadOpenRefused, IsReportedAndLeavesTheOldFile)
{
    const OpenRefusal& c = GetParam();
    c.arrange(sim);
    EXPECT_FALSE(Extract()) << "expected FALSE";
    ASSERT_FALSE(sim.FileOpens().empty());
    EXPECT_EQ("data1.cab", sim.FileOpens().back().name) << "expected the refused open to be the last";
    EXPECT_EQ(c.error, sim.FileOpens().back().error) << "expected the open refused with error " << c.error;
    EXPECT_EQ(std::vector<std::string>{ kNoCreate }, sim.MessageBoxTexts()) << "expected that message alone";
    EXPECT_EQ("old", sim.ReadFile(StagedPath("data1.cab"))) << "expected the refused file untouched";
    ExpectNoCallOnAFailedOpen();
    ExpectWritten(kLargeIndex);
}

INSTANTIATE_TEST_SUITE_P(Refusals, PayloadOpenRefused, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<OpenRefusal>& i) { return std::string(i.param.name); });

// --- a partly written file -----------------------------------------------------------------------

struct PartialWrite {
    const char* name;
    std::function<void(SimOs&)> arrange;
    const char* file;
};

void PrintTo(const PartialWrite& c, std::ostream* os) { *os << c.name; }

const PartialWrite kPartials[] = {
    { "ShortWrite", [](SimOs& s) { s.Fail("WriteFile").When("setup.exe").ShortBy(10); }, "setup.exe" },
    // Room for the six small files and part of the large one.
    { "DiskFull", [](SimOs& s) { s.SetCapacity('C', 1024 * 1024); }, "data1.cab" },
};

class PayloadPartial : public Payload, public ::testing::WithParamInterface<PartialWrite> {};

TEST_P(PayloadPartial, IsClosedBeforeTheSweepWhichRemovesIt)
{
    const PartialWrite& c = GetParam();
    c.arrange(sim);
    char szPath[PATH_BUFFER_SIZE];
    std::strcpy(szPath, kStagingDir);

    EXPECT_FALSE(Extract()) << "expected FALSE";
    ASSERT_TRUE(sim.IsFile(StagedPath(c.file))) << "expected the partly written " << c.file << " on disk";
    const size_t partial = sim.ReadFile(StagedPath(c.file)).size();
    EXPECT_GT(partial, 0u) << "expected part of " << c.file << " written";
    EXPECT_EQ(0, sim.OpenFileHandles()) << "expected the partly written file closed before the sweep; open: "
                                        << Join(sim.OpenHandleNames());
    EXPECT_EQ(std::vector<std::string>{ kNoCreate }, sim.MessageBoxTexts()) << "expected that message alone";

    RemoveStagedFiles(szPath);
    const std::vector<std::string> log = sim.Log(kSimCalls | kSimResults);
    const int closed = FindLine(log, std::string("CloseHandle(file ") + c.file + ")");
    EXPECT_GE(closed, 0) << "expected " << c.file << " closed\n" << sim.LogText();
    EXPECT_LT(closed, FindLine(log, "remove(")) << "expected the close before the sweep's first removal";
    EXPECT_GE(FindLine(log, std::string("remove(") + c.file + ") -> 0"), 0) << "expected the sweep to remove " << c.file;
    EXPECT_FALSE(sim.Exists(StagedPath(c.file))) << "expected " << c.file << " gone after the sweep";
    EXPECT_EQ((std::vector<std::string>{ kNoCreate, kSweepWarning }), sim.MessageBoxTexts())
        << "expected the extraction message, then the sweep's warning";
}

INSTANTIATE_TEST_SUITE_P(Partials, PayloadPartial, ::testing::ValuesIn(kPartials),
                         [](const ::testing::TestParamInfo<PartialWrite>& i) { return std::string(i.param.name); });

TEST_F(Payload, FailedCloseReleasesTheHandleOnce)
{
    sim.Fail("CloseHandle").When("lang.dat");
    EXPECT_FALSE(Extract());
    EXPECT_EQ(std::vector<std::string>{ "CloseHandle(file lang.dat)" },
              [&] {
                  std::vector<std::string> lines;
                  for (const std::string& line : sim.Calls("CloseHandle"))
                      if (line.find("lang.dat") != std::string::npos)
                          lines.push_back(line);
                  return lines;
              }())
        << "expected one close of lang.dat, not a second one when the file object goes";
    EXPECT_TRUE(sim.ReadFile(StagedPath("lang.dat")) == PayloadBytes(7)) << "expected lang.dat fully written";
}

TEST_F(Payload, FailedSeekClosesTheFileWithoutWriting)
{
    sim.Fail("SetFilePointer").When("os.dat");
    EXPECT_FALSE(Extract());
    EXPECT_EQ(0u, [&] {
                  size_t n = 0;
                  for (const std::string& line : sim.Calls("WriteFile"))
                      n += line.find("os.dat") != std::string::npos ? 1 : 0;
                  return n;
              }())
        << "expected nothing written after the failed seek";
    EXPECT_GE(FindLine(sim.Log(), "CloseHandle(file os.dat)"), 0) << "expected os.dat closed";
    EXPECT_EQ(0, sim.OpenFileHandles()) << "expected no file left open";
}

}  // namespace
}  // namespace installtest
