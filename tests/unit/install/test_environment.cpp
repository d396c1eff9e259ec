// CheckEnvironment: the system test and the install mode, the Windows directory, its drive and
// the free space on it.
#include "InstallFixture.h"

#include <cctype>
#include <cstring>

namespace installtest {
namespace {

std::string Upper(std::string s)
{
    for (char& ch : s)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

class Environment : public InstallTest {
protected:
    BOOL Check()
    {
        std::memset(szPath, 0, sizeof szPath);
        bManualExit = FALSE;
        return CheckEnvironment(szPath, bManualExit);
    }

    char szPath[PATH_BUFFER_SIZE];
    BYTE bManualExit = FALSE;
};

// --- the version ---------------------------------------------------------------------------------

struct VersionCase {
    DWORD platform, major, minor;
    BOOL result;
    BYTE manualExit;
};

void PrintTo(const VersionCase& c, std::ostream* os)
{
    *os << "platform " << c.platform << ", version " << c.major << "." << c.minor;
}

const VersionCase kVersions[] = {
    { VER_PLATFORM_WIN32s, 3, 10, FALSE, FALSE },
    { VER_PLATFORM_WIN32s, 4, 0, FALSE, FALSE },
    { VER_PLATFORM_WIN32s, 5, 0, FALSE, FALSE },
    { VER_PLATFORM_WIN32_WINDOWS, 4, 0, TRUE, FALSE },    // Windows 95: 4.0, yet automatic
    { VER_PLATFORM_WIN32_WINDOWS, 4, 10, TRUE, FALSE },   // Windows 98
    { VER_PLATFORM_WIN32_WINDOWS, 4, 90, TRUE, FALSE },   // Windows Me
    { VER_PLATFORM_WIN32_WINDOWS, 0, 0, TRUE, FALSE },
    { VER_PLATFORM_WIN32_WINDOWS, 3, 0, TRUE, FALSE },
    { VER_PLATFORM_WIN32_NT, 0, 0, FALSE, FALSE },
    { VER_PLATFORM_WIN32_NT, 3, 51, FALSE, FALSE },
    { VER_PLATFORM_WIN32_NT, 4, 0, TRUE, TRUE },
    { VER_PLATFORM_WIN32_NT, 4, 99, TRUE, TRUE },
    { VER_PLATFORM_WIN32_NT, 5, 0, TRUE, FALSE },
    { VER_PLATFORM_WIN32_NT, 6, 1, TRUE, FALSE },
    { VER_PLATFORM_WIN32_NT, 10, 0, TRUE, FALSE },
    { VER_PLATFORM_WIN32_NT, 0xFFFFFFFF, 0, TRUE, FALSE },  // an unsigned comparison
    { 3, 0, 0, TRUE, FALSE },                               // an unknown platform
    { 3, 4, 0, TRUE, FALSE },
    { 0xFFFFFFFF, 3, 0, TRUE, FALSE },
};

class EnvironmentVersion : public Environment, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(EnvironmentVersion, ChoosesTheModeOrRefuses)
{
    const VersionCase& c = GetParam();
    sim.SetVersion(c.platform, c.major, c.minor);

    EXPECT_EQ(c.result, Check()) << "expected " << (c.result ? "TRUE" : "FALSE");
    EXPECT_EQ(c.manualExit, bManualExit) << "expected " << (c.manualExit ? "manual-exit" : "automatic wait") << " mode";
    if (c.result) {
        EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
        EXPECT_EQ(1, sim.Count("GetWindowsDirectoryA")) << "expected the run to go on to the Windows directory";
    } else {
        EXPECT_EQ(std::vector<std::string>{ kRefused }, sim.MessageBoxTexts()) << "expected the refusal only";
        EXPECT_EQ(0, sim.Count("GetWindowsDirectoryA")) << "expected nothing after the refusal";
    }
    EXPECT_EQ(std::vector<std::string>{ "GetVersionExA(size=148)" }, sim.Calls("GetVersionExA"))
        << "expected one query with a 148-byte record";
}

INSTANTIATE_TEST_SUITE_P(Versions, EnvironmentVersion, ::testing::ValuesIn(kVersions));

TEST_F(Environment, UnknownVersionAnsweredYesGoesOnInManualExitModeWithoutAVersionTest)
{
    // The failed query leaves the record zeroed, which would read as Win32s if it were tested.
    sim.Fail("GetVersionExA");
    sim.AnswerNextBox(IDYES);

    EXPECT_TRUE(Check()) << "expected the run to go on after Yes";
    EXPECT_TRUE(bManualExit) << "expected manual-exit mode";
    EXPECT_EQ(std::vector<std::string>{ kVersionQuestion }, sim.MessageBoxTexts()) << "expected the question alone";
    ASSERT_EQ(1u, sim.MessageBoxes().size());
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), sim.MessageBoxes()[0].type)
        << "expected a Yes/No question with the exclamation icon";
    EXPECT_STREQ(kWindowsDir, szPath) << "expected the Windows directory in szPath";
    EXPECT_EQ(1, sim.Count("GetDiskFreeSpaceA")) << "expected the checks to go on to the free space";
}

TEST_F(Environment, UnknownVersionAnsweredNoEndsWithNothingElse)
{
    sim.Fail("GetVersionExA");
    sim.AnswerNextBox(IDNO);

    EXPECT_FALSE(Check()) << "expected FALSE after No";
    EXPECT_EQ(std::vector<std::string>{ kVersionQuestion }, sim.MessageBoxTexts()) << "expected no further message";
    std::vector<std::string> calls;
    for (const SimLogEntry& e : sim.Entries())
        if (e.kind == kSimCalls)
            calls.push_back(e.call == "GetVersionExA" ? e.Line() : e.call);
    const std::vector<std::string> expected = { "GetVersionExA(size=148)", "MessageBoxA" };
    EXPECT_EQ(expected, calls) << "expected nothing but the query and the question\n" << sim.LogText();
    EXPECT_FALSE(sim.Exists(kTempDir)) << "expected nothing made on disk";
}

// --- the Windows directory -----------------------------------------------------------------------

struct DirectoryCase {
    const char* name;
    std::string windowsDir;
    bool ok;
    const char* message;   // when not ok
};

void PrintTo(const DirectoryCase& c, std::ostream* os) { *os << c.name; }

const DirectoryCase kDirectories[] = {
    { "Ordinary", "C:\\WINDOWS", true, nullptr },
    { "Longest", "C:\\" + std::string(996, 'W'), true, nullptr },              // 999 characters
    { "OneTooLong", "C:\\" + std::string(997, 'W'), false, kNoWindowsDir },    // 1000 characters
    { "FarTooLong", "C:\\" + std::string(1500, 'W'), false, kNoWindowsDir },
    { "Unc", "\\\\server\\share\\windows", false, kUnc },
    { "NoColon", "C\\WINDOWS", false, kUnc },
};

class EnvironmentDirectory : public Environment, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(EnvironmentDirectory, IsTakenOrReported)
{
    const DirectoryCase& c = GetParam();
    sim.SetWindowsDirectory(c.windowsDir);

    EXPECT_EQ(c.ok ? TRUE : FALSE, Check()) << "expected " << (c.ok ? "TRUE" : "FALSE");
    EXPECT_EQ(std::vector<std::string>{ "GetWindowsDirectoryA(size=1000)" }, sim.Calls("GetWindowsDirectoryA"))
        << "expected one query limited to 1000 bytes";
    if (c.ok) {
        EXPECT_EQ(c.windowsDir, std::string(szPath)) << "expected the whole Windows directory in szPath";
        EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
    } else {
        EXPECT_EQ(std::vector<std::string>{ c.message }, sim.MessageBoxTexts()) << "expected exactly that message";
        EXPECT_EQ(0, sim.Count("_chdrive")) << "expected no drive change";
        EXPECT_EQ(0, sim.Count("GetDiskFreeSpaceA")) << "expected no space query";
    }
}

INSTANTIATE_TEST_SUITE_P(Directories, EnvironmentDirectory, ::testing::ValuesIn(kDirectories),
                         [](const ::testing::TestParamInfo<DirectoryCase>& i) { return std::string(i.param.name); });

TEST_F(Environment, FailedDirectoryQueryIsReported)
{
    sim.Fail("GetWindowsDirectoryA");
    EXPECT_FALSE(Check()) << "expected FALSE when GetWindowsDirectoryA returns 0";
    EXPECT_EQ(std::vector<std::string>{ kNoWindowsDir }, sim.MessageBoxTexts()) << "expected that message alone";
    EXPECT_EQ(0, sim.Count("_chdrive")) << "expected nothing after the failure";
}

// --- the drive -----------------------------------------------------------------------------------

struct DriveCase {
    const char* name;
    std::string windowsDir;
    int drive;          // _chdrive's argument; 0: no call expected
    const char* root;   // GetDiskFreeSpaceA's argument; null when the check stops before it
    const char* message;
};

void PrintTo(const DriveCase& c, std::ostream* os) { *os << c.name; }

const DriveCase kDrives[] = {
    { "UpperC", "C:\\WINDOWS", 3, "C:\\", nullptr },
    { "LowerC", "c:\\windows", 3, "c:\\", nullptr },
    { "UpperA", "A:\\WIN", 1, "A:\\", nullptr },
    { "LowerA", "a:\\win", 1, "a:\\", nullptr },
    { "UpperZ", "Z:\\WINDOWS", 26, "Z:\\", nullptr },
    { "LowerZ", "z:\\windows", 26, "z:\\", nullptr },
    { "Digit", "1:\\WIN", 0, nullptr, kNoDrive },
    { "BelowUpperA", "@:\\WIN", 0, nullptr, kNoDrive },
    { "AboveUpperZ", "[:\\WIN", 0, nullptr, kNoDrive },
    { "BelowLowerA", "`:\\WIN", 0, nullptr, kNoDrive },
    { "AboveLowerZ", "{:\\WIN", 0, nullptr, kNoDrive },
    { "HighByte", "\xC4:\\WIN", 0, nullptr, kNoDrive },
    { "UnmappedDrive", "Q:\\WINDOWS", 17, nullptr, kNoDrive },
};

class EnvironmentDrive : public Environment, public ::testing::WithParamInterface<DriveCase> {};

TEST_P(EnvironmentDrive, IsMadeCurrentAndMeasuredAtItsRoot)
{
    const DriveCase& c = GetParam();
    sim.AddDrive('A');
    sim.AddDrive('Z');
    sim.SetWindowsDirectory(c.windowsDir);

    EXPECT_EQ(c.message ? FALSE : TRUE, Check()) << "expected " << (c.message ? "FALSE" : "TRUE");
    if (c.drive) {
        EXPECT_EQ(std::vector<std::string>{ "_chdrive(" + std::to_string(c.drive) + ")" }, sim.Calls("_chdrive"))
            << "expected drive " << c.drive << " made current";
    } else {
        EXPECT_EQ(0, sim.Count("_chdrive")) << "expected no drive change for a character that names no drive";
    }
    if (c.root) {
        // A drive root names the same disk in either case.
        const std::vector<std::string> queries = sim.Calls("GetDiskFreeSpaceA");
        ASSERT_EQ(1u, queries.size()) << "expected one space query\n" << sim.LogText();
        EXPECT_EQ(Upper(std::string("GetDiskFreeSpaceA(") + c.root + ")"), Upper(queries[0]))
            << "expected the space measured at the root " << c.root;
    } else {
        EXPECT_EQ(0, sim.Count("GetDiskFreeSpaceA")) << "expected no space query";
    }
    if (c.message) {
        EXPECT_EQ(std::vector<std::string>{ c.message }, sim.MessageBoxTexts()) << "expected exactly that message";
    } else {
        EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
        EXPECT_EQ(static_cast<char>(std::toupper(static_cast<unsigned char>(c.windowsDir[0]))), sim.CurrentDrive())
            << "expected the Windows directory's drive current";
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, EnvironmentDrive, ::testing::ValuesIn(kDrives),
                         [](const ::testing::TestParamInfo<DriveCase>& i) { return std::string(i.param.name); });

TEST_F(Environment, FailingDriveChangeIsReported)
{
    sim.Fail("_chdrive").When("3");
    EXPECT_FALSE(Check()) << "expected FALSE when _chdrive returns -1";
    EXPECT_EQ(std::vector<std::string>{ kNoDrive }, sim.MessageBoxTexts()) << "expected that message alone";
    EXPECT_EQ(0, sim.Count("GetDiskFreeSpaceA")) << "expected no space query on a drive not made current";
}

// --- szPath around the space query ---------------------------------------------------------------

struct MendCase {
    const char* name;
    std::string windowsDir;
    int outcome;   // 0: enough space, 1: too little, 2: the query fails
};

void PrintTo(const MendCase& c, std::ostream* os) { *os << c.name; }

const MendCase kMends[] = {
    { "EnoughSpace", "C:\\WINDOWS", 0 },
    { "TooLittleSpace", "C:\\WINDOWS", 1 },
    { "QueryFails", "C:\\WINDOWS", 2 },
    { "SecondLevel", "C:\\GAMES\\WIN", 0 },
    { "RootOnly", "C:\\", 0 },
    { "OneCharacterName", "C:\\W", 1 },
};

class EnvironmentMend : public Environment, public ::testing::WithParamInterface<MendCase> {};

TEST_P(EnvironmentMend, LeavesTheWholeWindowsDirectoryInSzPath)
{
    const MendCase& c = GetParam();
    sim.SetWindowsDirectory(c.windowsDir);
    if (c.outcome == 1)
        sim.SetDiskFree('C', 1, 512, 10, 100);
    if (c.outcome == 2)
        sim.Fail("GetDiskFreeSpaceA");

    EXPECT_EQ(c.outcome == 0 ? TRUE : FALSE, Check());
    EXPECT_EQ(std::vector<std::string>{ "GetDiskFreeSpaceA(C:\\)" }, sim.Calls("GetDiskFreeSpaceA"))
        << "expected the query on the root alone";
    EXPECT_EQ(c.windowsDir, std::string(szPath)) << "expected szPath mended after the query";
    EXPECT_EQ(c.windowsDir.size() > 3 ? c.windowsDir[3] : '\0', szPath[3])
        << "expected the character at index 3 put back";
    EXPECT_EQ(c.outcome == 0 ? 0u : 1u, sim.MessageBoxes().size()) << "expected " << (c.outcome ? "one message" : "no message");
    if (c.outcome) {
        EXPECT_EQ(std::vector<std::string>{ kNoSpace }, sim.MessageBoxTexts()) << "expected the space message";
    }
}

INSTANTIATE_TEST_SUITE_P(Mends, EnvironmentMend, ::testing::ValuesIn(kMends),
                         [](const ::testing::TestParamInfo<MendCase>& i) { return std::string(i.param.name); });

// --- the free space ------------------------------------------------------------------------------

struct SpaceCase {
    const char* name;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    bool enough;
};

void PrintTo(const SpaceCase& c, std::ostream* os) { *os << c.name; }

const SpaceCase kSpaces[] = {
    { "JustBelow", 1, 1, 2999999, 3000000, false },
    { "JustBelowOtherFactors", 7, 1, 428571, 500000, false },            // 2,999,997
    { "Exactly", 1, 1, 3000000, 3000000, true },
    { "ExactlyOtherFactors", 3, 1000, 1000, 1000, true },
    { "Plenty", 8, 512, 262144, 524288, true },
    { "FourGiBWrapsIn32Bits", 8, 512, 1048576, 2097152, true },
    { "TwoToThe64WrapsIn64Bits", 0x80000000u, 0x80000000u, 4, 4, true },
    { "AllCountsMaximal", 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, true },
    { "TotalUnused", 1, 1, 3000000, 0, true },
    { "NoSectorsPerCluster", 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, false },
    { "NoBytesPerSector", 0xFFFFFFFFu, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, false },
    { "NoFreeClusters", 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFFFu, false },
};

class EnvironmentSpace : public Environment, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(EnvironmentSpace, NeedsThreeMillionBytesWithoutWrapping)
{
    const SpaceCase& c = GetParam();
    sim.SetDiskFree('C', c.sectorsPerCluster, c.bytesPerSector, c.freeClusters, c.totalClusters);

    EXPECT_EQ(c.enough ? TRUE : FALSE, Check())
        << "expected " << c.sectorsPerCluster << " x " << c.bytesPerSector << " x " << c.freeClusters
        << (c.enough ? " to pass" : " to fail");
    if (c.enough) {
        EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
    } else {
        EXPECT_EQ(std::vector<std::string>{ kNoSpace }, sim.MessageBoxTexts()) << "expected the space message alone";
    }
}

INSTANTIATE_TEST_SUITE_P(Spaces, EnvironmentSpace, ::testing::ValuesIn(kSpaces),
                         [](const ::testing::TestParamInfo<SpaceCase>& i) { return std::string(i.param.name); });

TEST_F(Environment, FailedSpaceQueryIsReportedAsTooLittleSpace)
{
    sim.Fail("GetDiskFreeSpaceA");
    EXPECT_FALSE(Check()) << "expected FALSE when GetDiskFreeSpaceA fails";
    EXPECT_EQ(std::vector<std::string>{ kNoSpace }, sim.MessageBoxTexts()) << "expected the space message alone";
}

// A space query that fails yet leaves counts that would be plenty: only its result may count.
class FailingSpaceQuery : public SimOs {
public:
    BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                           LPDWORD freeClusters, LPDWORD totalClusters) override
    {
        SimOs::GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
        return FALSE;
    }
};

TEST_F(Environment, FailedSpaceQueryIsReportedWhateverTheCountsHold)
{
    FailingSpaceQuery failing;
    Os* previous = SetOs(&failing);
    const BOOL result = Check();
    SetOs(previous);

    EXPECT_FALSE(result) << "expected FALSE when GetDiskFreeSpaceA returns 0, whatever it wrote";
    EXPECT_EQ(std::vector<std::string>{ kNoSpace }, failing.MessageBoxTexts()) << "expected the space message alone";
    EXPECT_STREQ(kWindowsDir, szPath) << "expected szPath mended after the failed query";
}

TEST_F(Environment, MessagesCarryTheTitleAndTheExclamationIcon)
{
    sim.SetVersion(VER_PLATFORM_WIN32s, 3, 10);
    EXPECT_FALSE(Check());
    ASSERT_EQ(1u, sim.MessageBoxes().size()) << "expected one message";
    const SimMessageBox& box = sim.MessageBoxes()[0];
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), box.type) << "expected MB_OK with the exclamation icon";
    EXPECT_EQ(std::optional<std::string>(kTitle), box.caption) << "expected the application title as caption";
}

}  // namespace
}  // namespace installtest
