// The simulated Windows itself: the Windows and C-runtime behaviour it stands in for, which
// every other unit test takes on trust.
#include "sim/SimOs.h"

#include <cstring>

#include <gtest/gtest-spi.h>

namespace {

using Sim = SimTest;

// --- system facts ----------------------------------------------------------------------------

TEST_F(Sim, GetVersionExAAcceptsOnlyTheTwoRecordSizesWindowsKnows)
{
    struct Case { DWORD size; BOOL ok; } cases[] = {
        {148, TRUE}, {156, TRUE}, {0, FALSE}, {147, FALSE}, {149, FALSE}, {157, FALSE}, {296, FALSE},
    };
    sim.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998, " A ");
    for (const Case& c : cases) {
        OSVERSIONINFOEXA info{};
        info.dwOSVersionInfoSize = c.size;
        sim.SetLastErrorValue(0);
        BOOL ok = sim.GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
        EXPECT_EQ(c.ok, ok) << "size " << c.size;
        if (ok) {
            EXPECT_EQ(1u, info.dwPlatformId) << "size " << c.size;
            EXPECT_EQ(4u, info.dwMajorVersion);
            EXPECT_EQ(10u, info.dwMinorVersion);
            EXPECT_STREQ(" A ", info.szCSDVersion);
        } else {
            EXPECT_EQ(0u, info.dwMajorVersion) << "a refused call fills nothing";
            EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError());
        }
    }
}

TEST_F(Sim, GetWindowsDirectoryAFillsOnlyWhenTheTerminatorFits)
{
    sim.SetWindowsDirectory("C:\\WINDOWS");   // 10 characters
    struct Case { UINT size; UINT result; bool filled; } cases[] = {
        {1000, 10, true}, {11, 10, true}, {10, 11, false}, {1, 11, false}, {0, 11, false},
    };
    for (const Case& c : cases) {
        char buf[1000];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(c.result, sim.GetWindowsDirectoryA(buf, c.size)) << "size " << c.size;
        if (c.filled) {
            EXPECT_STREQ("C:\\WINDOWS", buf) << "size " << c.size;
        } else {
            EXPECT_EQ('x', buf[0]) << "size " << c.size << ": nothing may be written";
        }
    }
    sim.Fail("GetWindowsDirectoryA");
    char buf[100];
    EXPECT_EQ(0u, sim.GetWindowsDirectoryA(buf, sizeof buf));
}

TEST_F(Sim, GetDiskFreeSpaceAAnswersForDriveRootsOnly)
{
    sim.AddDrive('D');
    sim.SetDiskFree('C', 8, 512, 1048576, 2000000);   // 4 GiB: more than 32 bits hold
    struct Case { const char* root; BOOL ok; DWORD error; } cases[] = {
        {"C:\\", TRUE, 0}, {"c:\\", TRUE, 0}, {"D:\\", TRUE, 0},
        {"C:\\WINDOWS", FALSE, ERROR_INVALID_NAME}, {"C:", FALSE, ERROR_INVALID_NAME},
        {"E:\\", FALSE, ERROR_PATH_NOT_FOUND}, {"\\\\server\\share\\", FALSE, ERROR_INVALID_NAME},
    };
    for (const Case& c : cases) {
        DWORD spc = 0, bps = 0, fc = 0, tc = 0;
        EXPECT_EQ(c.ok, sim.GetDiskFreeSpaceA(c.root, &spc, &bps, &fc, &tc)) << c.root;
        if (!c.ok) {
            EXPECT_EQ(c.error, sim.GetLastError()) << c.root;
        }
    }
    DWORD spc = 0, bps = 0, fc = 0, tc = 0;
    ASSERT_TRUE(sim.GetDiskFreeSpaceA("C:\\", &spc, &bps, &fc, &tc));
    EXPECT_EQ(4294967296ull, static_cast<uint64_t>(spc) * bps * fc);
    EXPECT_EQ(2000000u, tc);
}

TEST_F(Sim, GetModuleFileNameATruncatesWithoutATerminatorAndSaysSo)
{
    sim.SetModulePath("C:\\Games\\Zarpo OGL Install.EXE");   // 30 characters
    char buf[64];
    EXPECT_EQ(30u, sim.GetModuleFileNameA(nullptr, buf, sizeof buf));
    EXPECT_STREQ("C:\\Games\\Zarpo OGL Install.EXE", buf);
    EXPECT_EQ(30u, sim.GetModuleFileNameA(sim.Module(), buf, 31));
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(10u, sim.GetModuleFileNameA(sim.Module(), buf, 10));
    EXPECT_EQ("C:\\Games\\Zxxxx", std::string(buf, 14)) << "ten characters and no terminator";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError());
    EXPECT_EQ(0u, sim.GetModuleFileNameA(reinterpret_cast<HMODULE>(0x10000000), buf, sizeof buf));
}

TEST_F(Sim, AllocationsAreCountedAndCanBeMadeToFail)
{
    void* a = sim.Allocate(10);
    void* b = sim.Allocate(0);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b) << "a zero-byte allocation still gives a block";
    EXPECT_EQ(2u, sim.LiveBlocks());
    sim.Free(a);
    EXPECT_EQ(1u, sim.LiveBlocks());
    sim.FailAllocationsAfter(1);
    void* c = sim.Allocate(4);
    EXPECT_NE(nullptr, c);
    EXPECT_EQ(nullptr, sim.Allocate(4));
    EXPECT_EQ(nullptr, sim.Allocate(4));
    sim.Free(b);
    sim.Free(c);
    EXPECT_EQ(0u, sim.LiveBlocks());
    EXPECT_TRUE(sim.Log().empty()) << "memory calls are quiet:\n" << sim.LogText();
    EXPECT_EQ(5, sim.Count("Allocate")) << sim.LogText(kSimQuiet);
    EXPECT_EQ(3, sim.Count("Free")) << sim.LogText(kSimQuiet);
}

// --- the C runtime's directory functions ---------------------------------------------------------

TEST_F(Sim, ChdriveSucceedsOnlyForExistingDrives)
{
    sim.AddDrive('Z');
    struct Case { int drive; int result; char current; } cases[] = {
        {3, 0, 'C'}, {26, 0, 'Z'}, {1, -1, 'Z'}, {0, -1, 'Z'}, {27, -1, 'Z'}, {-1, -1, 'Z'}, {3, 0, 'C'},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, sim._chdrive(c.drive)) << "drive " << c.drive;
        EXPECT_EQ(c.current, sim.CurrentDrive()) << "after drive " << c.drive;
    }
}

TEST_F(Sim, ChdirFollowsRelativeAbsoluteAndDriveQualifiedPaths)
{
    sim.PutDir("C:\\WINDOWS\\TEMP\\ZARPO");
    sim.PutDir("D:\\Data\\Sub");
    struct Case { const char* path; int result; const char* cwd; } cases[] = {
        {"C:\\WINDOWS", 0, "C:\\WINDOWS"},
        {"temp", 0, "C:\\WINDOWS\\TEMP"},           // relative, any case
        {"ZARPO", 0, "C:\\WINDOWS\\TEMP\\ZARPO"},
        {"..", 0, "C:\\WINDOWS\\TEMP"},
        {"..\\..", 0, "C:\\"},
        {"..", 0, "C:\\"},                          // the root's parent is the root
        {"\\windows/temp\\", 0, "C:\\WINDOWS\\TEMP"},
        {"MISSING", -1, "C:\\WINDOWS\\TEMP"},
        {"C:\\WINDOWS\\SYSTEM", -1, "C:\\WINDOWS\\TEMP"},
        {"D:Data", 0, "D:\\Data"},                 // another drive becomes current too
        {"Sub", 0, "D:\\Data\\Sub"},
        {"C:..", 0, "C:\\WINDOWS"},                 // relative to C:'s own current directory
        {"\\\\server\\share", -1, "C:\\WINDOWS"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, sim._chdir(c.path)) << c.path;
        EXPECT_EQ(c.cwd, sim.CurrentDirectory()) << "after _chdir(" << c.path << ")";
    }
    EXPECT_EQ("D:\\Data\\Sub", sim.CurrentDirectoryOf('D')) << "each drive keeps its own";
}

TEST_F(Sim, MkdirMakesOneNewDirectory)
{
    struct Case { const char* path; int result; } cases[] = {
        {"C:\\WINDOWS\\TEMP", 0}, {"C:\\WINDOWS\\TEMP", -1}, {"c:\\windows\\temp", -1},
        {"C:\\WINDOWS\\X\\Y", -1}, {"C:\\", -1}, {"E:\\NEW", -1}, {"C:\\WINDOWS\\TEMP\\Zarpo", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, sim._mkdir(c.path)) << c.path;
    EXPECT_EQ(std::vector<std::string>{"Zarpo"}, sim.List("C:\\WINDOWS\\TEMP")) << "case as made";
    sim.PutFile("C:\\f", "x");
    EXPECT_EQ(-1, sim._mkdir("C:\\F")) << "a file of that name exists";
}

TEST_F(Sim, RmdirRefusesNonEmptyMissingAndCurrentDirectories)
{
    sim.PutDir("C:\\WINDOWS\\TEMP\\ZARPO");
    sim.PutDir("C:\\EMPTY");
    sim.PutFile("C:\\WINDOWS\\TEMP\\ZARPO\\setup.exe", "MZ");
    sim.AddDrive('D');
    sim.PutDir("D:\\HERE");
    sim.SetCurrentDirectory("D:\\HERE");
    sim.SetCurrentDirectory("C:\\WINDOWS\\TEMP\\ZARPO");
    struct Case { const char* path; int result; } cases[] = {
        {"C:\\WINDOWS\\TEMP\\ZARPO", -1},   // current, and not empty
        {"C:\\WINDOWS\\TEMP", -1},          // not empty
        {"C:\\MISSING", -1},
        {"D:\\HERE", -1},                   // the current directory of drive D:
        {"C:\\WINDOWS\\TEMP\\ZARPO\\setup.exe", -1},   // a file
        {"C:\\", -1},
        {"c:\\empty", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, sim._rmdir(c.path)) << c.path;
    EXPECT_FALSE(sim.Exists("C:\\EMPTY"));
    ASSERT_EQ(0, sim.remove("setup.exe"));
    EXPECT_EQ(-1, sim._rmdir("C:\\WINDOWS\\TEMP\\ZARPO")) << "still the current directory";
    ASSERT_EQ(0, sim._chdir(".."));
    EXPECT_EQ(0, sim._rmdir("ZARPO"));
}

TEST_F(Sim, RemoveDeletesOnlyFilesThatNothingHolds)
{
    sim.PutDir("C:\\T\\DIR");
    for (const char* f : {"a", "ro", "held", "mine", "shared"})
        sim.PutFile(std::string("C:\\T\\") + f, "data");
    sim.SetCurrentDirectory("C:\\T");
    sim.SetReadOnly("ro");
    sim.HoldOpen("held");
    HANDLE mine = sim.CreateFileA("mine", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE shared = sim.CreateFileA("shared", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, mine);
    ASSERT_NE(INVALID_HANDLE_VALUE, shared);
    struct Case { const char* path; int result; } cases[] = {
        {"A", 0}, {"a", -1}, {"ro", -1}, {"held", -1}, {"mine", -1}, {"shared", 0}, {"DIR", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, sim.remove(c.path)) << c.path;
    sim.Release("held");
    EXPECT_EQ(0, sim.remove("held"));
    sim.CloseHandle(mine);
    EXPECT_EQ(0, sim.remove("mine"));
    sim.CloseHandle(shared);
}

// --- files ---------------------------------------------------------------------------------------

TEST_F(Sim, CreateFileAOpensAsWindowsDoes)
{
    sim.PutDir("C:\\T\\DIR");
    sim.PutFile("C:\\T\\old", "old contents");
    sim.PutFile("C:\\T\\ro", "r");
    sim.PutFile("C:\\T\\held", "h");
    sim.PutFile("C:\\T\\open", "o");
    sim.SetReadOnly("C:\\T\\ro");
    sim.HoldOpen("C:\\T\\held");
    sim.SetCurrentDirectory("C:\\T");
    HANDLE open = sim.CreateFileA("open", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, open);
    struct Case { const char* name; DWORD access; DWORD share; DWORD disposition; DWORD error; } cases[] = {
        {"new", GENERIC_WRITE, 0, CREATE_ALWAYS, 0},
        {"OLD", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_ALREADY_EXISTS},
        {"DIR", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"MISSING\\x", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"ro", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"ro", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0},
        {"held", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
        {"held", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
        {"open", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
        {"absent", GENERIC_READ, 0, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"old", GENERIC_WRITE, 0, CREATE_NEW, ERROR_FILE_EXISTS},
    };
    for (const Case& c : cases) {
        sim.SetLastErrorValue(12345);
        HANDLE h = sim.CreateFileA(c.name, c.access, c.share, nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        bool opened = h != INVALID_HANDLE_VALUE;
        bool shouldOpen = c.error == 0 || c.error == ERROR_ALREADY_EXISTS;
        EXPECT_EQ(shouldOpen, opened) << c.name;
        if (c.disposition == CREATE_ALWAYS || !shouldOpen) {
            EXPECT_EQ(c.error, sim.GetLastError()) << c.name;
        }
        if (opened)
            sim.CloseHandle(h);
    }
    EXPECT_EQ("", sim.ReadFile("C:\\T\\old")) << "CREATE_ALWAYS cuts an existing file to nothing";
    EXPECT_TRUE(sim.IsFile("C:\\T\\new"));
    EXPECT_EQ(1, sim.OpenFileHandles());
    sim.CloseHandle(open);
    EXPECT_EQ(0, sim.OpenHandleCount());
    EXPECT_EQ(static_cast<size_t>(12), sim.FileOpens().size());
}

TEST_F(Sim, WriteFileAppendsAtThePointerUntilTheDiskIsFull)
{
    sim.SetCapacity('C', 10);
    HANDLE h = sim.CreateFileA("C:\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 99;
    EXPECT_TRUE(sim.WriteFile(h, "abcdef", 6, &written, nullptr));
    EXPECT_EQ(6u, written);
    EXPECT_EQ(2u, sim.SetFilePointer(h, 2, nullptr, FILE_BEGIN));
    EXPECT_TRUE(sim.WriteFile(h, "XY", 2, &written, nullptr));
    EXPECT_EQ("abXYef", sim.ReadFile("C:\\f")) << "overwrites in place";
    EXPECT_EQ(6u, sim.SetFilePointer(h, 0, nullptr, FILE_END));
    EXPECT_TRUE(sim.WriteFile(h, "123456", 6, &written, nullptr)) << "the last write that fits in part";
    EXPECT_EQ(4u, written);
    EXPECT_FALSE(sim.WriteFile(h, "z", 1, &written, nullptr));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), sim.GetLastError());
    EXPECT_EQ("abXYef1234", sim.ReadFile("C:\\f"));
    EXPECT_EQ(10u, sim.UsedBytes('C'));
    EXPECT_EQ(INVALID_SET_FILE_POINTER, sim.SetFilePointer(h, -1, nullptr, FILE_BEGIN));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), sim.GetLastError());
    EXPECT_TRUE(sim.CloseHandle(h));
    EXPECT_FALSE(sim.CloseHandle(h)) << "a handle closes once";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), sim.GetLastError());
    EXPECT_FALSE(sim.WriteFile(h, "z", 1, &written, nullptr)) << "a closed handle writes nothing";
}

TEST_F(Sim, WriteFileNeedsWriteAccess)
{
    sim.PutFile("C:\\f", "abc");
    HANDLE h = sim.CreateFileA("C:\\f", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    EXPECT_FALSE(sim.WriteFile(h, "z", 1, &written, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sim.GetLastError());
    sim.CloseHandle(h);
}

TEST_F(Sim, FaultsPickCallsByKeyAndCount)
{
    sim.PutDir("C:\\A");
    sim.Fail("_chdir").When("c:\\a");
    sim.Fail("CreateFileA").When("two").Error(ERROR_SHARING_VIOLATION);
    sim.Fail("WriteFile").Nth(2).ShortBy(3);
    sim.Fail("CloseHandle").When("one");
    EXPECT_EQ(-1, sim._chdir("C:\\A"));
    EXPECT_EQ(0, sim._chdir("C:\\WINDOWS"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, sim.CreateFileA("two", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), sim.GetLastError());
    HANDLE one = sim.CreateFileA("one", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    for (DWORD expect : {5u, 2u, 5u}) {
        EXPECT_TRUE(sim.WriteFile(one, "12345", 5, &written, nullptr));
        EXPECT_EQ(expect, written);
    }
    EXPECT_FALSE(sim.CloseHandle(one));
    EXPECT_EQ(0, sim.OpenHandleCount()) << "a failed CloseHandle still releases the handle";
    EXPECT_EQ((std::vector<std::string>{
                  "_chdir(C:\\A) -> -1 error 31",
                  "_chdir(C:\\WINDOWS) -> 0",
                  "CreateFileA(two, GENERIC_WRITE, share=0x0, CREATE_ALWAYS, flags=0x0) -> INVALID_HANDLE_VALUE error 32",
                  "CreateFileA(one, GENERIC_WRITE, share=0x0, CREATE_ALWAYS, flags=0x0) -> file one",
                  "WriteFile(file one, 5) -> TRUE written=5",
                  "WriteFile(file one, 5) -> TRUE written=2",
                  "WriteFile(file one, 5) -> TRUE written=5",
                  "CloseHandle(file one) -> FALSE error 31",
              }),
              sim.Log(kSimCalls | kSimResults));
}

// --- resources -----------------------------------------------------------------------------------

TEST_F(Sim, ResourcesAreFoundByTypeNameWithoutRegardToCase)
{
    sim.AddResource("BINARY", 197, "abc");
    sim.AddResource("BINARY", 198, "");
    HRSRC r = sim.FindResourceA(sim.Module(), MAKEINTRESOURCE(197), "Binary");
    ASSERT_NE(nullptr, r);
    HGLOBAL g = sim.LoadResource(sim.Module(), r);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(0, std::memcmp("abc", sim.LockResource(g), 3));
    EXPECT_EQ(3u, sim.SizeofResource(sim.Module(), r));
    HRSRC empty = sim.FindResourceA(nullptr, "#198", "binary");
    ASSERT_NE(nullptr, empty);
    EXPECT_NE(nullptr, sim.LockResource(sim.LoadResource(nullptr, empty))) << "a zero-length resource has data";
    EXPECT_EQ(0u, sim.SizeofResource(nullptr, empty));
    EXPECT_EQ(nullptr, sim.FindResourceA(sim.Module(), MAKEINTRESOURCE(199), "Binary"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), sim.GetLastError());
    EXPECT_EQ(nullptr, sim.FindResourceA(sim.Module(), MAKEINTRESOURCE(197), "TEXT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), sim.GetLastError());
}

TEST_F(Sim, EachResourceCallFailsOnItsOwn)
{
    const char* calls[] = {"FindResourceA", "LoadResource", "LockResource", "SizeofResource"};
    for (int failing = 0; failing < 4; ++failing) {
        SimOs s;
        s.AddResource("BINARY", 205, "data");
        s.AddResource("BINARY", 204, "data");
        s.Fail(calls[failing]).When("205");
        for (WORD id : {204, 205}) {
            HRSRC r = s.FindResourceA(nullptr, MAKEINTRESOURCE(id), "Binary");
            HGLOBAL g = r ? s.LoadResource(nullptr, r) : nullptr;
            void* p = g ? s.LockResource(g) : nullptr;
            DWORD n = r ? s.SizeofResource(nullptr, r) : 0;
            bool broken = id == 205;
            EXPECT_EQ(broken && failing == 0, r == nullptr) << calls[failing] << " #" << id;
            EXPECT_EQ(broken && failing <= 1, g == nullptr) << calls[failing] << " #" << id;
            EXPECT_EQ(broken && failing <= 2, p == nullptr) << calls[failing] << " #" << id;
            EXPECT_EQ(broken && (failing == 0 || failing == 3) ? 0u : 4u, n) << calls[failing] << " #" << id;
        }
    }
}

// --- processes -------------------------------------------------------------------------------------

class SimProcessTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        sim.PutDir("C:\\STAGE");
        sim.PutFile("C:\\STAGE\\setup.exe", "MZ");
        sim.PutFile("C:\\STAGE\\readme.txt", "text");
        sim.SetProgram("README.TXT", SimProgram().NotAProgram());
    }

    BOOL Launch(const char* path, PROCESS_INFORMATION* pi)
    {
        static char desktop[] = "";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.lpDesktop = desktop;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOWDEFAULT;
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
        return sim.CreateProcessA(path, nullptr, &sa, &sa, FALSE, 0, nullptr, "C:\\STAGE", &si, pi);
    }
};

TEST_F(SimProcessTest, CreateProcessAStartsOnlyExistingPrograms)
{
    struct Case { const char* path; BOOL ok; DWORD error; } cases[] = {
        {"C:\\STAGE\\SETUP.EXE", TRUE, 0},
        {"C:\\STAGE\\missing.exe", FALSE, ERROR_FILE_NOT_FOUND},
        {"C:\\NOWHERE\\setup.exe", FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\STAGE\\readme.txt", FALSE, ERROR_BAD_EXE_FORMAT},
        {"C:\\STAGE", FALSE, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        PROCESS_INFORMATION pi{};
        EXPECT_EQ(c.ok, Launch(c.path, &pi)) << c.path;
        if (c.ok) {
            EXPECT_NE(nullptr, pi.hProcess);
            sim.CloseHandle(pi.hProcess);
            sim.CloseHandle(pi.hThread);
        } else {
            EXPECT_EQ(c.error, sim.GetLastError()) << c.path;
            EXPECT_EQ(nullptr, pi.hProcess) << "nothing filled on failure";
        }
    }
    ASSERT_EQ(5u, sim.Launches().size());
    const SimLaunch& first = sim.Launches()[0];
    EXPECT_EQ(68u, first.startupInfo.cb);
    ASSERT_TRUE(first.desktop.has_value());
    EXPECT_EQ("", *first.desktop);
    EXPECT_EQ(12u, first.processAttributes.nLength);
    EXPECT_FALSE(first.commandLine.has_value());
    EXPECT_EQ("setup.exe", sim.Process(first.pid).exeFile) << "listed under its name on disk";
    EXPECT_EQ("C:\\STAGE", sim.Process(first.pid).currentDirectory);
}

TEST_F(SimProcessTest, WaitsFollowTheVirtualClock)
{
    sim.SetProgram("setup.exe", SimProgram().Runs(5000).ExitCode(7));
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\setup.exe", &pi));
    DWORD code = 0;
    EXPECT_TRUE(sim.GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(STILL_ACTIVE, code);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), sim.WaitForSingleObject(pi.hProcess, 1000));
    EXPECT_EQ(1000u, sim.Now());
    EXPECT_EQ(WAIT_OBJECT_0, sim.WaitForSingleObject(pi.hProcess, INFINITE));
    EXPECT_EQ(5000u, sim.Now());
    EXPECT_TRUE(sim.GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(7u, code);
    EXPECT_EQ(WAIT_FAILED, sim.WaitForInputIdle(pi.hProcess, 1000)) << "an ended process";
    EXPECT_EQ(5000u, sim.Now());
    sim.CloseHandle(pi.hProcess);
    sim.CloseHandle(pi.hThread);
}

TEST_F(SimProcessTest, WaitForInputIdleAnswersAsConfigured)
{
    struct Case { SimIdle idle; uint64_t after; DWORD result; uint64_t clock; } cases[] = {
        {SimIdle::Idle, 0, 0, 0},
        {SimIdle::Idle, 300, 0, 300},
        {SimIdle::Idle, 3000, WAIT_TIMEOUT, 1000},
        {SimIdle::Timeout, 0, WAIT_TIMEOUT, 1000},
        {SimIdle::Failed, 0, WAIT_FAILED, 0},
    };
    for (const Case& c : cases) {
        SimOs s;
        s.PutFile("C:\\p.exe", "MZ");
        s.SetProgram("p.exe", SimProgram().RunsForever().Idles(c.idle, c.after));
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(s.CreateProcessA("C:\\p.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        EXPECT_EQ(c.result, s.WaitForInputIdle(pi.hProcess, 1000)) << static_cast<int>(c.idle) << "/" << c.after;
        EXPECT_EQ(c.clock, s.Now()) << static_cast<int>(c.idle) << "/" << c.after;
    }
    // A process that ends during the wait: the wait ends with it, answering 0.
    sim.SetProgram("setup.exe", SimProgram().Runs(400).Idles(SimIdle::Timeout));
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\setup.exe", &pi));
    EXPECT_EQ(0u, sim.WaitForInputIdle(pi.hProcess, 1000));
    EXPECT_EQ(400u, sim.Now());
    EXPECT_EQ(WAIT_FAILED, sim.WaitForInputIdle(pi.hProcess, 1000)) << "once it has ended";
}

TEST_F(SimProcessTest, OpenProcessHandlesNeedSynchronizeToWaitOn)
{
    DWORD engine = sim.AddProcess("_INS5176._MP", SimProgram().Runs(2000));
    HANDLE query = sim.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, engine);
    HANDLE sync = sim.OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, engine);
    ASSERT_NE(nullptr, query);
    ASSERT_NE(nullptr, sync);
    EXPECT_EQ(WAIT_FAILED, sim.WaitForSingleObject(query, INFINITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sim.GetLastError());
    EXPECT_EQ(WAIT_FAILED, sim.WaitForInputIdle(query, 1000));
    DWORD code = 0;
    EXPECT_TRUE(sim.GetExitCodeProcess(query, &code)) << "a query handle still reads the exit code";
    EXPECT_EQ(STILL_ACTIVE, code);
    EXPECT_EQ(0u, sim.Now());
    EXPECT_EQ(WAIT_OBJECT_0, sim.WaitForSingleObject(sync, INFINITE));
    EXPECT_EQ(2000u, sim.Now());
    EXPECT_EQ((std::vector<DWORD>{PROCESS_QUERY_INFORMATION, PROCESS_QUERY_INFORMATION | SYNCHRONIZE}),
              sim.Process(engine).openAccesses);
    EXPECT_EQ(nullptr, sim.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, engine)) << "it has ended";
    DWORD locked = sim.AddProcess("_ISDEL.EXE", SimProgram().RunsForever().NotOpenable());
    EXPECT_EQ(nullptr, sim.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, locked));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sim.GetLastError());
    sim.CloseHandle(query);
    sim.CloseHandle(sync);
}

TEST_F(SimProcessTest, SnapshotsListTheProcessesAliveWhenTaken)
{
    sim.SetProgram("setup.exe", SimProgram().Runs(100).Spawns(
        50, SimProgram().Named("_INS5176._MP").Runs(1000).Spawns(900, SimProgram().Named("_ISDEL.EXE").Runs(300))));
    DWORD other = sim.AddProcess("explorer.exe");
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\SETUP.EXE", &pi));
    auto names = [&] {
        std::vector<std::string> listed;
        HANDLE snap = sim.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 e{};
        e.dwSize = sizeof e;
        for (BOOL ok = sim.Process32First(snap, &e); ok; ok = sim.Process32Next(snap, &e))
            listed.push_back(e.szExeFile);
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), sim.GetLastError());
        sim.CloseHandle(snap);
        return listed;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"explorer.exe", "setup.exe"}), names());
    sim.Advance(60);
    EXPECT_EQ((V{"explorer.exe", "setup.exe", "_INS5176._MP"}), names());
    sim.Advance(100);
    EXPECT_EQ((V{"explorer.exe", "_INS5176._MP"}), names());
    sim.Advance(800);
    EXPECT_EQ((V{"explorer.exe", "_INS5176._MP", "_ISDEL.EXE"}), names());
    sim.Advance(500);
    EXPECT_EQ((V{"explorer.exe"}), names());
    sim.EndProcess(other);
    EXPECT_EQ(V{}, names());
    EXPECT_EQ(6, sim.SnapshotsTaken());
    EXPECT_EQ(0, sim.OpenSnapshotHandles());
    EXPECT_EQ(other, sim.EntriesReturned()[0].th32ProcessID);
    sim.CloseHandle(pi.hProcess);
    sim.CloseHandle(pi.hThread);
}

TEST_F(SimProcessTest, SnapshotCallsCheckTheEntrySizeAndCanFail)
{
    sim.AddProcess("a.exe");
    HANDLE snap = sim.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e{};
    e.dwSize = 0;
    EXPECT_FALSE(sim.Process32First(snap, &e)) << "dwSize must be set";
    e.dwSize = sizeof e;
    EXPECT_TRUE(sim.Process32First(snap, &e));
    EXPECT_EQ(296u, e.dwSize);
    sim.CloseHandle(snap);
    sim.Fail("CreateToolhelp32Snapshot").Nth(2);
    sim.Fail("Process32First").Nth(1);   // counted from the rule's making
    EXPECT_NE(INVALID_HANDLE_VALUE, snap = sim.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    sim.CloseHandle(snap);
    EXPECT_EQ(INVALID_HANDLE_VALUE, sim.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    snap = sim.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    EXPECT_FALSE(sim.Process32First(snap, &e));
    EXPECT_EQ(1, sim.OpenSnapshotHandles());
    sim.CloseHandle(snap);
}

// --- guards ----------------------------------------------------------------------------------------

TEST_F(SimProcessTest, AWaitThatCannotEndFailsTheTestInsteadOfHanging)
{
    sim.SetProgram("setup.exe", SimProgram().RunsForever());
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\setup.exe", &pi));
    EXPECT_NONFATAL_FAILURE(
        {
            try {
                sim.WaitForSingleObject(pi.hProcess, INFINITE);
            } catch (const SimAbort&) {
            }
        },
        "waits forever");
    EXPECT_TRUE(sim.Aborted());
}

TEST_F(SimProcessTest, AnEventCanEndAProcessThatRunsUntilTheTestEndsIt)
{
    sim.SetProgram("setup.exe", SimProgram().RunsForever());
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\setup.exe", &pi));
    sim.At(7000, [&] { sim.EndProcess(pi.dwProcessId, 3); });
    EXPECT_EQ(WAIT_OBJECT_0, sim.WaitForSingleObject(pi.hProcess, INFINITE));
    EXPECT_EQ(7000u, sim.Now());
}

TEST_F(SimProcessTest, APollingLoopThatSpinsFailsTheTest)
{
    sim.SetProgram("setup.exe", SimProgram().RunsForever());
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\setup.exe", &pi));
    sim.SetSpinLimit(500);
    int polls = 0;
    EXPECT_NONFATAL_FAILURE(
        {
            try {
                DWORD code = STILL_ACTIVE;
                while (sim.WaitForInputIdle(pi.hProcess, 1000) != WAIT_FAILED &&
                       sim.GetExitCodeProcess(pi.hProcess, &code) && code == STILL_ACTIVE)
                    ++polls;
            } catch (const SimAbort&) {
            }
        },
        "spins");
    EXPECT_EQ(249, polls);
}

TEST_F(SimProcessTest, TheClockLimitStopsAWaitThatTakesTooLong)
{
    sim.SetProgram("setup.exe", SimProgram().Runs(10000));
    sim.SetClockLimit(5000);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(Launch("C:\\STAGE\\setup.exe", &pi));
    EXPECT_NONFATAL_FAILURE(
        {
            try {
                sim.WaitForSingleObject(pi.hProcess, INFINITE);
            } catch (const SimAbort&) {
            }
        },
        "limit of 5000 ms");
}

// --- windows -------------------------------------------------------------------------------------

struct ProcLog {
    static std::vector<std::string>* lines;
    static INT_PTR CALLBACK Proc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_INITDIALOG)
            lines->push_back("init " + std::to_string(lParam));
        else if (message == WM_COMMAND)
            lines->push_back("command " + std::to_string(LOWORD(wParam)));
        else if (message == WM_DESTROY)
            lines->push_back("destroy");
        else if (message == WM_NCDESTROY)
            lines->push_back("ncdestroy");
        else
            return FALSE;
        return TRUE;
    }
};
std::vector<std::string>* ProcLog::lines = nullptr;

class SimWindowTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ProcLog::lines = &lines;
        sim.AddDialogTemplate(102);
    }
    std::vector<std::string> lines;
};

TEST_F(SimWindowTest, CreateDialogParamAInitialisesAndShowsTheDialog)
{
    EXPECT_EQ(nullptr, sim.CreateDialogParamA(sim.Module(), MAKEINTRESOURCE(103), nullptr, ProcLog::Proc, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), sim.GetLastError());
    HWND dlg = sim.CreateDialogParamA(sim.Module(), MAKEINTRESOURCE(102), nullptr, ProcLog::Proc, 42);
    ASSERT_NE(nullptr, dlg);
    EXPECT_EQ(std::vector<std::string>{"init 42"}, lines);
    EXPECT_TRUE(sim.Window(dlg).visible);
    EXPECT_TRUE(sim.IsWindow(dlg));
    EXPECT_EQ((std::vector<std::string>{"CreateDialogParamA(0x00400000, #103, parent=null)",
                                        "CreateDialogParamA(0x00400000, #102, parent=null)",
                                        "-> dlg 102 WM_SETFONT(0x50000000, 0x0)",
                                        "-> dlg 102 WM_INITDIALOG(0x0, 0x2a)", "IsWindow(dlg 102)"}),
              sim.Log(kSimCalls | kSimDeliveries));
    EXPECT_TRUE(sim.DestroyWindow(dlg));
    EXPECT_EQ((std::vector<std::string>{"init 42", "destroy", "ncdestroy"}), lines);
    EXPECT_FALSE(sim.IsWindow(dlg));
    EXPECT_FALSE(sim.DestroyWindow(dlg));
}

TEST_F(SimWindowTest, AModalLoopRunsOnScriptedMessages)
{
    HWND dlg = sim.CreateDialogParamA(sim.Module(), MAKEINTRESOURCE(102), nullptr, ProcLog::Proc, 0);
    sim.PostToDialogWhenIdle(WM_KEYDOWN, VK_RETURN);
    sim.PostToDialogWhenIdle(WM_COMMAND, IDCANCEL);
    sim.PostToDialogWhenIdle(WM_CLOSE);
    MSG msg;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sim.GetMessageA(&msg, nullptr, 0, 0));
        if (!sim.IsDialogMessageA(dlg, &msg))
            sim.DispatchMessageA(&msg);
    }
    ASSERT_TRUE(sim.GetMessageA(&msg, nullptr, 0, 0)) << "the close box became a command";
    sim.DispatchMessageA(&msg);
    EXPECT_EQ((std::vector<std::string>{"init 0", "command 1", "command 2", "command 2"}), lines);
    EXPECT_NONFATAL_FAILURE(
        {
            try {
                sim.GetMessageA(&msg, nullptr, 0, 0);
            } catch (const SimAbort&) {
            }
        },
        "wait forever");
}

TEST_F(SimWindowTest, SendMessageLeavesUnhandledMessagesToTheDefault)
{
    HWND dlg = sim.CreateDialogParamA(sim.Module(), MAKEINTRESOURCE(102), nullptr, ProcLog::Proc, 0);
    sim.AddIcon(128);
    HICON icon = sim.LoadIconA(sim.Module(), MAKEINTRESOURCE(128));
    EXPECT_EQ(sim.IconHandle(128), icon);
    EXPECT_EQ(0, sim.SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)));
    EXPECT_EQ(sim.IconHandle(128), sim.Window(dlg).bigIcon);
    EXPECT_EQ(nullptr, sim.Window(dlg).smallIcon);
    EXPECT_EQ("SendMessageA(dlg 102, WM_SETICON, 0x1, icon 128)", sim.Calls("SendMessageA")[0]);
    EXPECT_EQ(nullptr, sim.LoadIconA(sim.Module(), MAKEINTRESOURCE(129)));
}

TEST_F(SimWindowTest, MessageBoxesTakeScriptedAnswers)
{
    HWND owner = sim.AddWindow(RECT{0, 0, 100, 100});
    sim.AnswerNextBox(IDNO);
    EXPECT_EQ(IDNO, sim.MessageBoxA(owner, "Go on?", "Title", MB_YESNO | MB_ICONEXCLAMATION));
    EXPECT_EQ(IDOK, sim.MessageBoxA(owner, "Done.", "Title", MB_OK)) << "an unscripted OK box";
    EXPECT_NONFATAL_FAILURE(sim.MessageBoxA(owner, "Again?", "Title", MB_YESNO), "nothing scripted");
    sim.AnswerNextBox(IDYES);
    EXPECT_NONFATAL_FAILURE(sim.MessageBoxA(owner, "Only OK", "Title", MB_OK), "not a button");
    ASSERT_EQ(4u, sim.MessageBoxes().size());
    EXPECT_EQ(owner, sim.MessageBoxes()[0].owner);
    EXPECT_EQ("Title", sim.MessageBoxes()[0].caption.value_or("null"));
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), sim.MessageBoxes()[0].type);
    EXPECT_EQ("MessageBoxA(wnd 1, \"Go on?\", \"Title\", 0x34)", sim.Calls("MessageBoxA")[0]);
}

}  // namespace
