// The simulated Windows against the real one: each scenario runs once through RealOs() (under
// Wine, in a scratch directory of the test prefix) and once through a SimOs set up alike, and
// the two must answer every call the same way, result and error code.
//
// What the sim deliberately does otherwise is left out: the read-only attribute (Wine runs as
// root and ignores it), full disks, and the disk-space figures themselves.
#include "sim/SimOs.h"

#include <direct.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kScratch[] = "C:\\windows\\temp\\zarpo-sim-fidelity";

// One line per call: what was asked and what came back.
class Record {
public:
    explicit Record(Os& os) : m_os(os) {}

    void Crt(const std::string& what, int result) { m_lines.push_back(what + " -> " + std::to_string(result)); }
    void Win(const std::string& what, bool ok, const std::string& detail = "")
    {
        if (ok)
            m_lines.push_back(what + " -> ok" + detail);
        else
            m_lines.push_back(what + " -> failed, error " + std::to_string(m_os.GetLastError()));
    }
    // The error a successful call leaves (CreateFileA's ERROR_ALREADY_EXISTS).
    void Error(const std::string& what) { m_lines.push_back(what + " -> error " + std::to_string(m_os.GetLastError())); }

    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    Os& m_os;
    std::vector<std::string> m_lines;
};

std::vector<std::string> FilesAndDirectories(Os& os, const std::string& root)
{
    Record r(os);
    r.Crt("_chdir(root)", os._chdir(root.c_str()));
    r.Crt("_mkdir(a)", os._mkdir("a"));
    r.Crt("_mkdir(a) again", os._mkdir("a"));
    r.Crt("_mkdir(A)", os._mkdir("A"));
    r.Crt("_mkdir(x\\y), no x", os._mkdir("x\\y"));
    r.Crt("_chdir(a)", os._chdir("a"));
    r.Crt("_chdir(..)", os._chdir(".."));
    r.Crt("_chdir(missing)", os._chdir("missing"));
    r.Crt("_chdir(A)", os._chdir("A"));
    r.Crt("_chdir(root\\a\\..)", os._chdir((root + "\\a\\..").c_str()));

    HANDLE h = os.CreateFileA("a\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(a\\f, CREATE_ALWAYS), new", h != INVALID_HANDLE_VALUE);
    HANDLE other = os.CreateFileA("A\\F", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(A\\F) while open unshared", other != INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE)
        os.CloseHandle(other);
    r.Crt("remove(a\\f) while open unshared", os.remove("a\\f"));
    r.Crt("_rmdir(a), not empty", os._rmdir("a"));
    DWORD written = 0;
    BOOL ok = os.WriteFile(h, "hello", 5, &written, nullptr);
    r.Win("WriteFile(5)", ok != FALSE, " " + std::to_string(written));
    DWORD pos = os.SetFilePointer(h, -10, nullptr, FILE_CURRENT);
    r.Win("SetFilePointer(-10, FILE_CURRENT)", pos != INVALID_SET_FILE_POINTER, " " + std::to_string(pos));
    pos = os.SetFilePointer(h, 2, nullptr, FILE_BEGIN);
    r.Win("SetFilePointer(2, FILE_BEGIN)", pos != INVALID_SET_FILE_POINTER, " " + std::to_string(pos));
    pos = os.SetFilePointer(h, 0, nullptr, FILE_END);
    r.Win("SetFilePointer(0, FILE_END)", pos != INVALID_SET_FILE_POINTER, " " + std::to_string(pos));
    r.Win("CloseHandle", os.CloseHandle(h) != FALSE);
    r.Win("CloseHandle again", os.CloseHandle(h) != FALSE);
    r.Win("CloseHandle(0x12345678)", os.CloseHandle(reinterpret_cast<HANDLE>(0x12345678)) != FALSE);
    r.Win("CloseHandle(INVALID_HANDLE_VALUE)", os.CloseHandle(INVALID_HANDLE_VALUE) != FALSE);
    r.Win("CloseHandle(null)", os.CloseHandle(nullptr) != FALSE);

    h = os.CreateFileA("a\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(a\\f, CREATE_ALWAYS), existing", h != INVALID_HANDLE_VALUE);
    r.Error("  its error");
    pos = os.SetFilePointer(h, 0, nullptr, FILE_END);
    r.Win("  its length", pos != INVALID_SET_FILE_POINTER, " " + std::to_string(pos));
    os.CloseHandle(h);
    h = os.CreateFileA("a\\f", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(a\\f, CREATE_NEW), existing", h != INVALID_HANDLE_VALUE);
    h = os.CreateFileA("a\\g", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(a\\g, OPEN_EXISTING), missing", h != INVALID_HANDLE_VALUE);
    h = os.CreateFileA("nodir\\g", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(nodir\\g), no directory", h != INVALID_HANDLE_VALUE);
    h = os.CreateFileA("a", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Win("CreateFileA(a), a directory", h != INVALID_HANDLE_VALUE);

    r.Crt("remove(a), a directory", os.remove("a"));
    r.Crt("remove(A\\F)", os.remove("A\\F"));
    r.Crt("remove(a\\f) again", os.remove("a\\f"));
    r.Crt("_chdir(a)", os._chdir("a"));
    r.Crt("_rmdir(root\\a), current", os._rmdir((root + "\\a").c_str()));
    r.Crt("_chdir(..)", os._chdir(".."));
    r.Crt("_rmdir(a)", os._rmdir("a"));
    r.Crt("_rmdir(a) again", os._rmdir("a"));
    return r.Lines();
}

std::vector<std::string> SystemFacts(Os& os)
{
    Record r(os);
    for (DWORD size : {148u, 156u, 0u, 147u, 157u}) {
        OSVERSIONINFOEXA v{};
        v.dwOSVersionInfoSize = size;
        r.Win("GetVersionExA(size " + std::to_string(size) + ")",
              os.GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v)) != FALSE);
    }
    char dir[1000];
    UINT length = os.GetWindowsDirectoryA(dir, sizeof dir);
    std::memset(dir, 'x', sizeof dir);
    r.Crt("GetWindowsDirectoryA(exactly the length) - length", static_cast<int>(os.GetWindowsDirectoryA(dir, length) - length));
    r.Crt("  first byte written", dir[0] != 'x');
    r.Crt("GetWindowsDirectoryA(length + 1) - length", static_cast<int>(os.GetWindowsDirectoryA(dir, length + 1) - length));

    DWORD a, b, c, d;
    r.Win("GetDiskFreeSpaceA(C:\\)", os.GetDiskFreeSpaceA("C:\\", &a, &b, &c, &d) != FALSE);
    r.Win("GetDiskFreeSpaceA(Q:\\), no drive", os.GetDiskFreeSpaceA("Q:\\", &a, &b, &c, &d) != FALSE);

    r.Crt("_chdrive(3)", os._chdrive(3));
    r.Crt("_chdrive(17), no drive", os._chdrive(17));
    r.Crt("_chdrive(0)", os._chdrive(0));
    r.Crt("_chdrive(27)", os._chdrive(27));

    char path[MAX_PATH];
    DWORD full = os.GetModuleFileNameA(nullptr, path, sizeof path);
    r.Win("GetModuleFileNameA", full > 0);
    std::memset(path, 'x', sizeof path);
    DWORD cut = os.GetModuleFileNameA(nullptr, path, 5);
    r.Crt("GetModuleFileNameA(size 5)", static_cast<int>(cut));
    r.Crt("  terminated at 4", path[4] == '\0');
    r.Crt("  its error is 122", os.GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    return r.Lines();
}

std::vector<std::string> Processes(Os& os, const std::string& root, DWORD livePid)
{
    Record r(os);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    r.Win("CreateProcessA(missing.exe)", os.CreateProcessA((root + "\\missing.exe").c_str(), nullptr, nullptr,
                                                           nullptr, FALSE, 0, nullptr, root.c_str(), &si, &pi) != FALSE);
    r.Win("CreateProcessA(nodir\\missing.exe)",
          os.CreateProcessA((root + "\\nodir\\missing.exe").c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                            root.c_str(), &si, &pi) != FALSE);
    r.Win("CreateProcessA(notes.txt)", os.CreateProcessA((root + "\\notes.txt").c_str(), nullptr, nullptr,
                                                         nullptr, FALSE, 0, nullptr, root.c_str(), &si, &pi) != FALSE);

    HANDLE none = os.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0x7FFFFFF0);
    r.Win("OpenProcess(no such process)", none != nullptr);
    HANDLE query = os.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, livePid);
    r.Win("OpenProcess(PROCESS_QUERY_INFORMATION)", query != nullptr);
    DWORD wait = os.WaitForSingleObject(query, 0);
    r.Win("  WaitForSingleObject", wait != WAIT_FAILED, " " + std::to_string(wait));
    DWORD code = 0;
    BOOL read = os.GetExitCodeProcess(query, &code);
    r.Win("  GetExitCodeProcess", read != FALSE, " " + std::to_string(code));
    os.CloseHandle(query);
    HANDLE sync = os.OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, livePid);
    wait = os.WaitForSingleObject(sync, 0);
    r.Win("OpenProcess(with SYNCHRONIZE), WaitForSingleObject(0)", wait != WAIT_FAILED, " " + std::to_string(wait));
    os.CloseHandle(sync);

    HANDLE snap = os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    r.Win("CreateToolhelp32Snapshot", snap != INVALID_HANDLE_VALUE);
    PROCESSENTRY32 e;
    std::memset(&e, 0, sizeof e);
    r.Win("Process32First(dwSize 0)", os.Process32First(snap, &e) != FALSE);
    e.dwSize = sizeof e;
    r.Win("Process32First(dwSize 296)", os.Process32First(snap, &e) != FALSE, " dwSize " + std::to_string(e.dwSize));
    r.Win("CloseHandle(snapshot)", os.CloseHandle(snap) != FALSE);
    r.Win("Process32Next(closed snapshot)", os.Process32Next(snap, &e) != FALSE);
    return r.Lines();
}

// A started program over its life: its listing, its idle waits, its end and exit code. The
// child is a GUI program that never pumps messages, sleeps a second and exits with 7.
std::vector<std::string> AChildsLife(Os& os, const std::string& root)
{
    Record r(os);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    char commandLine[] = "CHILD.EXE 1000 7";
    BOOL started = os.CreateProcessA((root + "\\CHILD.EXE").c_str(), commandLine, nullptr, nullptr, FALSE, 0,
                                     nullptr, root.c_str(), &si, &pi);
    r.Win("CreateProcessA(CHILD.EXE)", started != FALSE);
    if (!started)
        return r.Lines();
    DWORD idle = os.WaitForInputIdle(pi.hProcess, 100);
    r.Crt("WaitForInputIdle(100), never pumps", static_cast<int>(idle));

    std::string listed = "(not listed)";
    HANDLE snap = os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e;
    std::memset(&e, 0, sizeof e);
    e.dwSize = sizeof e;
    for (BOOL ok = os.Process32First(snap, &e); ok; ok = os.Process32Next(snap, &e))
        if (e.th32ProcessID == pi.dwProcessId)
            listed = e.szExeFile;
    os.CloseHandle(snap);
    r.Crt("  listed as " + listed, 0);

    DWORD code = 0;
    BOOL read = os.GetExitCodeProcess(pi.hProcess, &code);
    r.Win("GetExitCodeProcess while it runs", read != FALSE, " " + std::to_string(code));
    idle = os.WaitForInputIdle(pi.hProcess, 10000);
    r.Crt("WaitForInputIdle(10000), it ends meanwhile", static_cast<int>(idle));
    DWORD wait = os.WaitForSingleObject(pi.hProcess, 10000);
    r.Crt("WaitForSingleObject(10000)", static_cast<int>(wait));
    read = os.GetExitCodeProcess(pi.hProcess, &code);
    r.Win("GetExitCodeProcess after its end", read != FALSE, " " + std::to_string(code));
    idle = os.WaitForInputIdle(pi.hProcess, 100);
    r.Crt("WaitForInputIdle after its end", static_cast<int>(idle));
    r.Win("CloseHandle(thread)", os.CloseHandle(pi.hThread) != FALSE);
    r.Win("CloseHandle(process)", os.CloseHandle(pi.hProcess) != FALSE);
    return r.Lines();
}

class SimFidelity : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The real side works in a scratch directory of its own and goes back where it was.
        ASSERT_NE(nullptr, _getcwd(m_cwd, sizeof m_cwd));
        m_drive = _getdrive();
        Clean();
        ASSERT_EQ(0, RealOs()._mkdir(kScratch)) << "expected to make " << kScratch;
        HANDLE text = RealOs().CreateFileA((std::string(kScratch) + "\\notes.txt").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        RealOs().WriteFile(text, "not a program\r\n", 15, &written, nullptr);
        RealOs().CloseHandle(text);
    }
    void TearDown() override
    {
        _chdrive(m_drive);
        _chdir(m_cwd);
        Clean();
    }
    void Clean()
    {
        Os& real = RealOs();
        std::string root = kScratch;
        real.remove((root + "\\a\\f").c_str());
        real._rmdir((root + "\\a").c_str());
        real.remove((root + "\\notes.txt").c_str());
        real.remove((root + "\\Child.EXE").c_str());
        real._rmdir(kScratch);
    }
    // A sim laid out like the real machine as far as the scenarios look.
    void LikeTheRealOne(SimOs& sim)
    {
        char dir[1000];
        UINT n = RealOs().GetWindowsDirectoryA(dir, sizeof dir);
        sim.SetWindowsDirectory(std::string(dir, n));
        char path[MAX_PATH];
        DWORD m = RealOs().GetModuleFileNameA(nullptr, path, sizeof path);
        sim.SetModulePath(std::string(path, m));
        sim.PutDir(kScratch);
        sim.PutFile(std::string(kScratch) + "\\notes.txt", "not a program\r\n");
        sim.SetProgram("notes.txt", SimProgram().NotAProgram());
        sim.AddDrive('Z');
    }

    char m_cwd[MAX_PATH];
    int m_drive = 3;
};

TEST_F(SimFidelity, FilesAndDirectoriesAnswerAsOnWindows)
{
    std::vector<std::string> real = FilesAndDirectories(RealOs(), kScratch);
    ScopedSim sim;
    LikeTheRealOne(sim);
    EXPECT_EQ(real, FilesAndDirectories(sim, kScratch));
}

TEST_F(SimFidelity, SystemFactsAnswerAsOnWindows)
{
    std::vector<std::string> real = SystemFacts(RealOs());
    ScopedSim sim;
    LikeTheRealOne(sim);
    EXPECT_EQ(real, SystemFacts(sim));
}

TEST_F(SimFidelity, AChildProcessLivesAsOnWindows)
{
    // The child program sits beside this test program; it is staged under a mixed-case name
    // and started in upper case, as the install run starts "SETUP.EXE" written as "setup.exe".
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    ASSERT_GT(n, 0u);
    std::string child(self, n);
    child = child.substr(0, child.find_last_of('\\') + 1) + SIM_CHILD_NAME;
    ASSERT_TRUE(CopyFileA(child.c_str(), (std::string(kScratch) + "\\Child.EXE").c_str(), FALSE))
        << "expected to stage " << child;
    std::vector<std::string> real = AChildsLife(RealOs(), kScratch);

    ScopedSim sim;
    LikeTheRealOne(sim);
    sim.PutFile(std::string(kScratch) + "\\Child.EXE", "MZ");
    sim.SetProgram("child.exe", SimProgram().Runs(1000).ExitCode(7).Idles(SimIdle::Timeout));
    EXPECT_EQ(real, AChildsLife(sim, kScratch));
}

TEST_F(SimFidelity, ProcessCallsAnswerAsOnWindows)
{
    std::vector<std::string> real = Processes(RealOs(), kScratch, GetCurrentProcessId());
    ScopedSim sim;
    LikeTheRealOne(sim);
    DWORD self = sim.AddProcess("sim_tests.exe");
    EXPECT_EQ(real, Processes(sim, kScratch, self));
}

}  // namespace
