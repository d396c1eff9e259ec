// SimOs: a simulated Windows behind the Os seam, for unit tests.
//
// A test installs one with SetOs(&sim) (or derives its fixture from SimTest, below) and then
// runs product or framework code against it. Everything the code asks of Windows or the C
// runtime is answered from the sim's own state: an in-memory file system with drives, the
// executable's resources, a scripted table of processes on a virtual clock, and fake windows
// with a message queue. Every call is logged, any call can be made to fail, and nothing real
// happens: no file is touched, no process started, no time passes.
//
// Where the sim models a behaviour it follows Windows (and the Wine 8 measurements in the
// team's notes); the comments below say where it simplifies. sim_tests holds its own tests
// and runs the same file, system and process scenarios against the real system under Wine,
// requiring the same answers.
//
// In short:
//   class MyTest : public SimTest {};               // a fresh sim installed for each test
//   TEST_F(MyTest, Something) {
//       sim.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
//       sim.PutDir("C:\\WINDOWS\\TEMP");
//       sim.AddResource("BINARY", 197, "bytes");
//       sim.SetProgram("setup.exe", SimProgram().Runs(3000));
//       sim.Fail("_mkdir").When("C:\\WINDOWS\\TEMP\\ZARPO");
//       sim.AnswerNextBox(IDYES);
//       sim.PostToDialogWhenIdle(WM_COMMAND, IDOK);   // the user presses OK once the dialog is up
//       ... run the code ...
//       EXPECT_EQ(expectedCalls, sim.Calls("_chdir")) << sim.LogText();
//       EXPECT_EQ(expectedTexts, sim.MessageBoxTexts());
//   }
// For a table of cases that each want a clean sim: { ScopedSim s; ... } inside the loop.
//
// ---------------------------------------------------------------------------------------------
// The call log
//
// Each Os call appends one entry when it starts, so nested calls (a dialog procedure that
// sends messages from inside CreateDialogParamA) follow their caller. Log() gives the lines
// "Name(args)"; with kSimResults each line ends " -> result". The line formats:
//
//   GetVersionExA(size=148)                     GetWindowsDirectoryA(size=1000)
//   GetDiskFreeSpaceA(C:\)                      SetErrorMode(0x8001)
//   GetModuleHandleA(null)                      GetModuleFileNameA(0x00400000, size=260)
//   Sleep(100)
//   FindResourceA(0x00400000, #197, Binary)     LoadResource(0x00400000, #197)
//   LockResource(#197)                          SizeofResource(0x00400000, #197)
//   CreateFileA(setup.exe, GENERIC_WRITE, share=0x0, CREATE_ALWAYS, flags=0x80)
//   WriteFile(file setup.exe, 49)               SetFilePointer(file setup.exe, 0, FILE_BEGIN)
//   CloseHandle(file setup.exe)                 CloseHandle(process 1000)  (thread 1000,
//                                               snapshot 1; an unknown value in hex)
//   _chdrive(3)   _chdir(C:\WINDOWS\TEMP)   _mkdir(ZARPO)   _rmdir(..)   remove(setup.exe)
//   CreateProcessA(C:\WINDOWS\TEMP\ZARPO\SETUP.EXE, cmd=null, dir=C:\WINDOWS\TEMP\ZARPO)
//   WaitForInputIdle(process 1000, 1000)        WaitForSingleObject(process 1000, INFINITE)
//   GetExitCodeProcess(process 1000)            OpenProcess(0x400, 0, 1004)
//   CreateToolhelp32Snapshot(0x2, 0)            Process32First(snapshot 1, dwSize=296)
//   CreateDialogParamA(0x00400000, #102, parent=null)
//   DestroyWindow(dlg 102)   IsWindow(dlg 102)   ShowWindow(dlg 102, 5)
//   EnableWindow(dlg 102, 0)   IsWindowEnabled(dlg 102)   GetWindowRect(dlg 102)
//   GetClientRect(dlg 102)   SetWindowPos(dlg 102, null, 405, 340, 0, 0, 0x15)
//   SystemParametersInfoA(SPI_GETWORKAREA)      GetLastActivePopup(dlg 102)
//   GetMessageA(null, 0, 0)                     IsDialogMessageA(dlg 102, WM_KEYDOWN)
//   TranslateMessage(WM_COMMAND)                DispatchMessageA(dlg 102, WM_COMMAND)
//   PostMessageA(dlg 102, WM_COMMAND, 0x1, 0x0) SendMessageA(dlg 102, WM_SETICON, 0x1, icon 128)
//   PostQuitMessage(0)                          GetKeyState(0x10)
//   MessageBoxA(dlg 102, "Can't change directory.", "Zarpo OGL Install", 0x30)
//   WinHelpA(dlg 102, "C:\Games\Zarpo OGL Install.HLP", 0x1, 0x20066)
//   LoadIconA(0x00400000, #128)   IsIconic(dlg 102)   GetSystemMetrics(11)
//   BeginPaint(dlg 102)   EndPaint(dlg 102)   DrawIcon(dc 1, 2, 10, icon 128)
//
// Windows are named "dlg <template id>" (a plain window made by AddWindow: "wnd <n>"), icons
// "icon <id>", paint contexts "dc <n>", null pointers and handles "null". Window messages
// appear by name where the sim knows it (WM_COMMAND, WM_SETICON, ...), else in hex.
//
// Three calls are "quiet" and left out of Log() unless asked for, since the framework makes
// them all the time: Allocate, Free and GetLastError (and IsDBCSLeadByte). Messages that the
// sim itself delivers to a window procedure (WM_INITDIALOG from CreateDialogParamA, the
// procedure call behind SendMessageA or DispatchMessageA, WM_DESTROY ...) are log entries of a
// third kind, "-> dlg 102 WM_INITDIALOG(0x0, 0x...)", shown with kSimDeliveries.
//
// ---------------------------------------------------------------------------------------------
// Faults
//
//   sim.Fail("_chdir").When("C:\\WINDOWS\\TEMP");          // -1 for that path, every time
//   sim.Fail("CreateFileA").When("setup.exe").Error(32);   // INVALID_HANDLE_VALUE, error 32
//   sim.Fail("WriteFile").Nth(3).ShortBy(10);              // 3rd write stores 10 bytes less
//   sim.Fail("CloseHandle").When("setup.exe");             // FALSE (the handle is gone anyway)
//   sim.Fail("GetVersionExA");                             // FALSE, error 31
//
// A faulted call does nothing but log itself, set the error and return the call's own failure
// value: FALSE or 0, null, INVALID_HANDLE_VALUE (CreateFileA, CreateToolhelp32Snapshot),
// INVALID_SET_FILE_POINTER, WAIT_FAILED, -1 (the C runtime functions). Exceptions, as on
// Windows: CloseHandle releases the handle even when it reports failure; a faulted
// MessageBoxA returns 0 without asking; a faulted Allocate returns null.
//
// A rule counts the matching calls made after it was made. When(key) compares, without regard
// to case, with the call's key argument:
//   a path or name as passed: _chdir _mkdir _rmdir remove CreateFileA CreateProcessA
//                             GetDiskFreeSpaceA (the root) GetModuleHandleA
//   the resource id in decimal: FindResourceA LoadResource LockResource SizeofResource
//                               LoadIconA CreateDialogParamA (template id)
//   the drive number: _chdrive          the process id in decimal: OpenProcess
//   the object behind a handle: WriteFile SetFilePointer CloseHandle WaitForSingleObject
//       WaitForInputIdle GetExitCodeProcess -- a file as the name it was opened with, a
//       process or thread as its id in decimal, a snapshot as "snapshot"
//   the text: MessageBoxA               the size in decimal: Allocate
//   no key (When never matches): all other calls.
//
// ---------------------------------------------------------------------------------------------
// The virtual clock and the guards
//
// Now() starts at 0 ms. Only waits advance it: Sleep, WaitForSingleObject, WaitForInputIdle
// (see the process section), GetMessageA with nothing to deliver but a scheduled event, the
// test's own Advance(), and SetCallCost() if a test gives a call a cost. Events scheduled with
// At()/After() run when the clock reaches them, before the waiting call returns.
//
// Two guards turn a hang into a failed test: a wait that would take the clock past
// SetClockLimit() (default one virtual hour) or would never end, and more than SetSpinLimit()
// (default 10000) logged calls in a row without the clock advancing (a polling loop that
// spins). A guard fails the test with ADD_FAILURE, naming the call and listing the last calls,
// then throws SimAbort to get out of the product's loop; gtest reports the uncaught exception
// too. After that every blocking call (the waits, GetMessageA, Sleep, the Toolhelp calls)
// throws SimAbort again at once, while other calls go on working so destructors can clean up.
//
// ---------------------------------------------------------------------------------------------
// Processes
//
// The table holds processes added by the test (AddProcess) and those CreateProcessA starts
// from an existing file, behaving as SetProgram registered for its base name. A process runs
// from its start to its end (kSimForever: until EndProcess); what it spawns is entered at its
// own start, to start at the given times. As on Windows and Wine:
// - CreateProcessA: a missing file fails with error 2 (3 if its directory is missing), a
//   directory with 5, a file registered NotAProgram with 193, a missing current directory with
//   267. Its handles have all access; the process is listed under its name on disk.
// - WaitForSingleObject needs SYNCHRONIZE (else WAIT_FAILED, error 5); WaitForInputIdle needs
//   SYNCHRONIZE and PROCESS_QUERY_INFORMATION, answers WAIT_FAILED for a process that has
//   already ended, 0 at the moment a process ends during the wait, else as its SimIdle says.
//   GetExitCodeProcess needs query access and gives STILL_ACTIVE (259) while it runs.
// - OpenProcess fails with 87 for a process that is not running, 5 for NotOpenable().
// - A snapshot lists the processes running at the moment it is taken, in table order; entries
//   need dwSize >= 296 (else error 122); the end is error 18.
//
// ---------------------------------------------------------------------------------------------
// Windows
//
// CreateDialogParamA builds a registered template (AddDialogTemplate) and, as the dialog
// manager does, delivers WM_SETFONT and then WM_INITDIALOG (wParam 0, lParam the param) to the
// procedure before it returns, then marks the dialog visible. A message reaches a window's
// procedure through SendMessageA, DispatchMessageA and IsDialogMessageA; when the procedure
// returns FALSE the sim's default processing follows: WM_SETICON stores the icon (SimWindow::
// bigIcon/smallIcon) and returns the previous one, WM_CLOSE to a dialog posts WM_COMMAND
// IDCANCEL, SC_CLOSE becomes WM_CLOSE; others give 0. IsDialogMessageA turns WM_KEYDOWN Enter
// into WM_COMMAND IDOK and Esc into IDCANCEL for its dialog and returns TRUE; for every other
// message it returns FALSE, leaving the dispatch to the caller. DestroyWindow delivers
// WM_DESTROY, destroys the windows it owns, delivers WM_NCDESTROY and drops the messages still
// queued for it. MessageBoxA answers at once, from the script (see AnswerNextBox); it runs no
// message loop of its own.
//
// ---------------------------------------------------------------------------------------------
// Contract violations (a null out-pointer, WriteFile without a count, DrawIcon outside a
// BeginPaint ...) are reported with ADD_FAILURE and the call fails; Windows would crash or
// misbehave. Values Windows takes as they come (a STARTUPINFOA's cb, say) are only recorded.
#pragma once

#include "platform/os.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// A wait or process lifetime without end.
constexpr uint64_t kSimForever = UINT64_MAX;
// A drive without a size limit.
constexpr uint64_t kSimUnlimited = UINT64_MAX;

// Thrown by the guards (see above) to leave a loop that would never end.
struct SimAbort {
    std::string message;
};

// What Log() shows.
enum SimLogWhat : unsigned {
    kSimCalls = 1,       // the Os calls, but for the quiet ones
    kSimQuiet = 2,       // Allocate, Free, GetLastError, IsDBCSLeadByte
    kSimDeliveries = 4,  // the messages the sim delivers to window procedures
    kSimResults = 8,     // append " -> result" to each line
};

struct SimLogEntry {
    unsigned kind;       // kSimCalls, kSimQuiet or kSimDeliveries
    std::string call;    // "CreateFileA"; for a delivery the message name
    std::string args;    // "setup.exe, GENERIC_WRITE, share=0x0, CREATE_ALWAYS, flags=0x80"
    std::string result;  // "file setup.exe", "-1", "FALSE error 32", ...
    uint64_t time;       // virtual time of the call
    std::string Line(bool withResult = false) const;
};

// One fault rule, made by SimOs::Fail(call). The setters return the rule for chaining.
class SimFault {
public:
    SimFault& When(const std::string& key);  // only calls whose key argument equals key
    SimFault& Nth(int n);                    // only the n-th matching call (1-based)
    SimFault& FromNth(int n);                // the n-th matching call and every later one
    SimFault& Error(DWORD error);            // GetLastError after the failure
    SimFault& ShortBy(DWORD bytes);          // WriteFile: succeed, storing this many bytes less
    int Hits() const { return m_hits; }      // how many calls it has failed

private:
    friend class SimOs;
    std::string m_call;
    std::optional<std::string> m_key;
    int m_first = 1;          // first matching call to fail
    int m_last = INT32_MAX;   // last matching call to fail
    DWORD m_error = ERROR_GEN_FAILURE;
    DWORD m_shortBy = 0;
    int m_seen = 0;           // matching calls so far
    int m_hits = 0;
};

// ---------------------------------------------------------------------------------------------
// Processes

enum class SimIdle {
    Idle,     // WaitForInputIdle answers 0 (at once, or once idleAfter has passed)
    Timeout,  // answers WAIT_TIMEOUT after its full time-out
    Failed,   // answers WAIT_FAILED at once (a console program, say)
};

struct SimSpawn;

// How a program behaves once started. Built with the chained setters:
//   SimProgram().Runs(5000).Named("_INS5176._MP").Spawns(4900, SimProgram().Runs(300)...)
struct SimProgram {
    std::optional<std::string> exeFile;  // szExeFile in snapshots; unset: the base name on disk
    uint64_t runsFor = 0;                // lifetime in ms from its start; kSimForever: until
                                         // the test ends it (EndProcess)
    DWORD exitCode = 0;
    bool openable = true;                // whether OpenProcess succeeds on it
    SimIdle idle = SimIdle::Idle;
    uint64_t idleAfter = 0;              // SimIdle::Idle: ms after its start before it is idle
    int blankNameSnapshots = 0;          // the first n snapshots listing it show szExeFile ""
    bool notAProgram = false;            // CreateProcessA refuses the file: error 193
    std::vector<SimSpawn> spawns;        // processes it starts, relative to its own start

    SimProgram& Named(const std::string& name) { exeFile = name; return *this; }
    SimProgram& Runs(uint64_t ms) { runsFor = ms; return *this; }
    SimProgram& RunsForever() { runsFor = kSimForever; return *this; }
    SimProgram& ExitCode(DWORD code) { exitCode = code; return *this; }
    SimProgram& NotOpenable() { openable = false; return *this; }
    SimProgram& Idles(SimIdle answer, uint64_t afterMs = 0) { idle = answer; idleAfter = afterMs; return *this; }
    SimProgram& BlankNameFor(int snapshots) { blankNameSnapshots = snapshots; return *this; }
    SimProgram& NotAProgram() { notAProgram = true; return *this; }
    SimProgram& Spawns(uint64_t afterMs, const SimProgram& child);
};

struct SimSpawn {
    uint64_t after;
    SimProgram program;
};

// A process of the table, as the sim keeps it.
struct SimProcess {
    DWORD pid;
    DWORD parentPid;
    std::string exeFile;             // as listed in snapshots
    std::string imagePath;           // the file it was started from ("" if added by the test)
    std::string currentDirectory;    // CreateProcessA's directory (resolved), or ""
    uint64_t start;
    uint64_t end;                    // kSimForever while it runs without end
    DWORD exitCode;
    bool openable;
    SimIdle idle;
    uint64_t idleAfter;
    int blankNameSnapshots;
    std::vector<DWORD> openAccesses; // access masks of successful OpenProcess calls
    bool RunningAt(uint64_t t) const { return start <= t && t < end; }
};

// Everything CreateProcessA was given, copied at the call.
struct SimLaunch {
    std::optional<std::string> application;       // nullopt: a null pointer
    std::optional<std::string> commandLine;
    LPSECURITY_ATTRIBUTES processAttributesPtr;
    SECURITY_ATTRIBUTES processAttributes;        // zero if the pointer was null
    LPSECURITY_ATTRIBUTES threadAttributesPtr;
    SECURITY_ATTRIBUTES threadAttributes;
    BOOL inheritHandles;
    DWORD creationFlags;
    LPVOID environment;
    std::optional<std::string> currentDirectory;
    LPSTARTUPINFOA startupInfoPtr;
    STARTUPINFOA startupInfo;                     // zero if the pointer was null
    std::optional<std::string> desktop;           // the string lpDesktop pointed to
    std::optional<std::string> title;             // the string lpTitle pointed to
    LPPROCESS_INFORMATION processInformationPtr;
    BOOL result;
    DWORD error;                                  // GetLastError after a failure
    DWORD pid;                                    // of the new process, or 0
};

// ---------------------------------------------------------------------------------------------
// Files

struct SimFileOpen {   // one CreateFileA call
    std::string name;
    DWORD access;
    DWORD share;
    LPSECURITY_ATTRIBUTES security;
    DWORD disposition;
    DWORD flags;
    HANDLE templateFile;
    HANDLE result;
    DWORD error;       // GetLastError after the call (ERROR_ALREADY_EXISTS on a truncation)
};

// ---------------------------------------------------------------------------------------------
// Windows

// A dialog template that CreateDialogParamA can build, registered with AddDialogTemplate.
struct SimDialogTemplate {
    int width = 255;          // window size in pixels: what Wine makes of 142 x 53 dialog
    int height = 111;         //   units in 8-point MS Sans Serif, frame and caption included
    bool visible = true;      // WS_VISIBLE: shown after WM_INITDIALOG
    int clientWidth = -1;     // client size; -1: the window size less a 3-pixel frame and a
    int clientHeight = -1;    //   19-pixel caption
    bool iconic = false;      // IsIconic answers this until SetIconic changes it
};

struct SimDelivery {          // one message that reached a window procedure
    HWND wnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    INT_PTR result;           // the procedure's return value
};

struct SimWindow {
    HWND hwnd;
    std::string name;         // "dlg 102", "wnd 1"
    UINT templateId;          // 0 for AddWindow windows
    HWND parent;
    DLGPROC proc;             // null for AddWindow windows
    LPARAM initParam;
    bool alive = true;
    bool visible = false;
    bool enabled = true;
    bool iconic = false;
    RECT rect{};              // screen coordinates
    int clientWidth = 0;
    int clientHeight = 0;
    HICON bigIcon = nullptr;  // set by WM_SETICON when the procedure leaves it to the default
    HICON smallIcon = nullptr;
    HWND lastActivePopup = nullptr;   // null: the window itself
    std::vector<int> shows;           // ShowWindow commands, in order
    std::vector<SimDelivery> messages;
};

struct SimWindowPos {         // one SetWindowPos call
    HWND wnd;
    HWND after;
    int x, y, cx, cy;
    UINT flags;
};

struct SimMessageBox {        // one MessageBoxA call
    HWND owner;
    std::string ownerName;
    std::string text;
    std::optional<std::string> caption;   // nullopt: a null caption
    UINT type;
    int answer;
    uint64_t time;
};

struct SimHelpCall {          // one WinHelpA call
    HWND wnd;
    std::optional<std::string> file;
    UINT command;
    ULONG_PTR data;
    BOOL result;
};

struct SimIconDraw {          // one DrawIcon call
    HDC dc;
    int x, y;
    HICON icon;
};

// ---------------------------------------------------------------------------------------------

class SimOs : public Os {
public:
    SimOs();
    ~SimOs() override;
    SimOs(const SimOs&) = delete;
    SimOs& operator=(const SimOs&) = delete;

    // --- the log -----------------------------------------------------------------------------
    std::vector<std::string> Log(unsigned what = kSimCalls) const;
    std::vector<std::string> Calls(const std::string& name, bool withResults = false) const;
    int Count(const std::string& name) const;
    // Log() joined with newlines, for failure messages: EXPECT_..(...) << sim.LogText();
    std::string LogText(unsigned what = kSimCalls | kSimResults) const;
    const std::vector<SimLogEntry>& Entries() const { return m_log; }
    void ClearLog() { m_log.clear(); }

    // --- faults ------------------------------------------------------------------------------
    SimFault& Fail(const std::string& call);
    void ClearFaults() { m_faults.clear(); }

    // --- clock, events and guards ------------------------------------------------------------
    uint64_t Now() const { return m_now; }
    void Advance(uint64_t ms);                              // runs the events on the way
    void At(uint64_t time, std::function<void()> event);    // at an absolute virtual time
    void After(uint64_t ms, std::function<void()> event) { At(m_now + ms, std::move(event)); }
    void SetClockLimit(uint64_t ms) { m_clockLimit = ms; }
    void SetSpinLimit(int calls) { m_spinLimit = calls; }
    void SetCallCost(const std::string& call, uint64_t ms) { m_callCost[call] = ms; }
    bool Aborted() const { return m_aborted; }

    // --- system facts ------------------------------------------------------------------------
    // Default: Windows NT 5.1 build 2600 "Service Pack 3", platform 2.
    void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build = 0,
                    const std::string& csd = "");
    // Default "C:\WINDOWS", which exists. Setting it creates nothing.
    void SetWindowsDirectory(const std::string& path) { m_windowsDir = path; }
    // GetDiskFreeSpaceA's answer for "X:\". Default 8 x 512 x 262144 free of 524288 clusters
    // (1 GiB free) on every existing drive. Only a root "X:\" (or null: the current drive) is
    // answered, as Windows 95 and NT 4 require; anything longer fails with ERROR_INVALID_NAME.
    void SetDiskFree(char drive, DWORD sectorsPerCluster, DWORD bytesPerSector,
                     DWORD freeClusters, DWORD totalClusters);
    UINT ErrorMode() const { return m_errorMode; }
    void SetErrorModeValue(UINT mode) { m_errorMode = mode; }   // the mode before the program sets one
    // The executable: default module 0x00400000, path "C:\Games\Zarpo OGL Install.EXE".
    HMODULE Module() const { return m_module; }
    void SetModulePath(const std::string& path) { m_modulePath = path; }
    const std::string& ModulePath() const { return m_modulePath; }
    // Lead bytes of a double-byte code page (none by default: a single-byte code page).
    void SetLeadBytes(BYTE first, BYTE last);
    void ClearLeadBytes() { m_leadBytes.clear(); }
    void SetLastErrorValue(DWORD error) { m_lastError = error; }

    // --- memory ------------------------------------------------------------------------------
    // Allocate takes blocks from the C heap and fills them with 0xCD; Free fills a block of its
    // own with 0xDD before releasing it. A block another sim made is released all the same.
    size_t LiveBlocks() const { return m_blocks.size(); }     // allocated here, not yet freed
    size_t LiveBytes() const;
    int Allocations() const { return m_allocations; }         // successful Allocate calls
    // The next n allocations succeed, every later one fails (null). -1: never fail again.
    void FailAllocationsAfter(int n) { m_allocBudget = n; }

    // --- files and directories ---------------------------------------------------------------
    // Drive C: exists with C:\WINDOWS; C: is current with C:\ its current directory. Names
    // compare without regard to case and keep the case they were made with. Paths: "X:\a\b",
    // "X:a" (relative to X:'s current directory), "\a" (the current drive's root), "a",
    // "." and "..", either separator. UNC paths name nothing here.
    void AddDrive(char letter, uint64_t capacity = kSimUnlimited);
    void RemoveDrive(char letter);
    void SetCapacity(char letter, uint64_t bytes);   // bytes the drive's files may hold
    uint64_t UsedBytes(char letter) const;
    void PutDir(const std::string& path);            // with all missing parents
    void PutFile(const std::string& path, const std::string& bytes);   // with its parents
    bool Exists(const std::string& path) const;
    bool IsDir(const std::string& path) const;
    bool IsFile(const std::string& path) const;
    std::string ReadFile(const std::string& path) const;   // fails the test if no such file
    std::vector<std::string> List(const std::string& dir) const;   // names, sorted
    void SetReadOnly(const std::string& path, bool readOnly = true);
    // Another process holds the file open for reading and writing and shares nothing: opening
    // it fails with error 32 and remove fails, until Release.
    void HoldOpen(const std::string& path);
    void Release(const std::string& path);
    char CurrentDrive() const { return m_currentDrive; }
    std::string CurrentDirectory() const;            // of the current drive: "C:\WINDOWS\TEMP"
    std::string CurrentDirectoryOf(char drive) const;
    void SetCurrentDirectory(const std::string& path);   // as _chdir would, without a log line
    const std::vector<SimFileOpen>& FileOpens() const { return m_fileOpens; }

    // --- handles -----------------------------------------------------------------------------
    int OpenHandleCount() const;                     // of every kind
    int OpenFileHandles() const;
    int OpenProcessHandles() const;                  // process and thread handles
    std::vector<std::string> OpenHandleNames() const;   // "file setup.exe", "process 1000" ...

    // --- resources ---------------------------------------------------------------------------
    // type: a name ("BINARY"; looked up without regard to case) or MAKEINTRESOURCE(n).
    void AddResource(LPCSTR type, WORD id, const std::string& bytes);
    void RemoveResource(LPCSTR type, WORD id);
    const void* ResourceData(LPCSTR type, WORD id) const;   // what LockResource gives

    // --- processes ---------------------------------------------------------------------------
    // Behaviour of a program file, by its base name without regard to case ("setup.exe").
    // CreateProcessA of an existing file with no behaviour starts SimProgram(): a process
    // that ends as soon as it starts.
    void SetProgram(const std::string& fileName, const SimProgram& program);
    // A process that is already running (or starts at startAt); returns its id.
    DWORD AddProcess(const std::string& exeFile, const SimProgram& program = SimProgram().RunsForever(),
                     uint64_t startAt = 0);
    void EndProcess(DWORD pid, DWORD exitCode = 0);     // at the current virtual time
    const SimProcess& Process(DWORD pid) const;         // fails the test if unknown
    std::vector<DWORD> ProcessIds() const;              // in table (and snapshot) order
    DWORD PidOf(const std::string& exeFile) const;      // first with that name, or 0
    bool Running(DWORD pid) const;
    const std::vector<SimLaunch>& Launches() const { return m_launches; }
    int SnapshotsTaken() const { return m_snapshotsTaken; }
    int OpenSnapshotHandles() const;
    // Every PROCESSENTRY32 that Process32First/Next filled, in order, as filled.
    const std::vector<PROCESSENTRY32>& EntriesReturned() const { return m_entries; }

    // --- windows, dialogs, message boxes -----------------------------------------------------
    // A template CreateDialogParamA can build; it is also listed as an RT_DIALOG resource.
    void AddDialogTemplate(UINT id, const SimDialogTemplate& t = SimDialogTemplate());
    // An icon LoadIconA finds (and an RT_GROUP_ICON resource). Its handle is IconHandle(id).
    void AddIcon(WORD id);
    HICON IconHandle(WORD id) const;
    // A plain window with no procedure (an owner for message boxes, say).
    HWND AddWindow(const RECT& rect, HWND parent = nullptr);
    bool HasWindow(HWND wnd) const;
    const SimWindow& Window(HWND wnd) const;         // fails the test if unknown
    HWND LastDialog() const { return m_lastDialog; } // the most recently created dialog
    void SetIconic(HWND wnd, bool iconic);
    void SetClientSize(HWND wnd, int cx, int cy);
    void SetLastActivePopup(HWND wnd, HWND popup);
    void SetWorkArea(const RECT& area) { m_workArea = area; }   // default 0,0,1024,768
    void SetMetric(int index, int value) { m_metrics[index] = value; }
    void SetKeyDown(int vk, bool down = true);
    const std::vector<SimWindowPos>& WindowPositions() const { return m_windowPositions; }

    // The message queue. Post adds a message the way PostMessageA does, but unlogged.
    // GetMessageA, finding no message for it, runs the next OnIdle step; with none left it
    // waits for the next scheduled event; with none of those the guard fails the test.
    void Post(HWND wnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void OnIdle(std::function<void()> step);
    // An OnIdle step that posts the message to the dialog created last (at that moment).
    void PostToDialogWhenIdle(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    size_t QueuedMessages() const { return m_queue.size(); }
    bool QuitPosted() const { return m_quitPosted; }
    int QuitCode() const { return m_quitCode; }

    // Message boxes. Each box takes the next scripted answer; the handler (if set) answers
    // when the queue is empty; with neither, an MB_OK box is answered IDOK and any other box
    // fails the test (and is answered IDCANCEL), so each question must be answered by script.
    void AnswerNextBox(int answer) { m_answers.push_back(answer); }
    void AnswerBoxesWith(std::function<int(const SimMessageBox&)> handler) { m_boxHandler = std::move(handler); }
    const std::vector<SimMessageBox>& MessageBoxes() const { return m_boxes; }
    std::vector<std::string> MessageBoxTexts() const;

    void SetWinHelpResult(BOOL result) { m_winHelpResult = result; }
    const std::vector<SimHelpCall>& HelpCalls() const { return m_helpCalls; }
    const std::vector<SimIconDraw>& IconDraws() const { return m_iconDraws; }
    int PaintsBegun() const { return m_paintsBegun; }
    int PaintsEnded() const { return m_paintsEnded; }

    // --- Os ----------------------------------------------------------------------------------
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) override;
    BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                           LPDWORD freeClusters, LPDWORD totalClusters) override;
    DWORD GetLastError() override;
    UINT SetErrorMode(UINT mode) override;
    HMODULE GetModuleHandleA(LPCSTR name) override;
    DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override;
    void Sleep(DWORD ms) override;
    BOOL IsDBCSLeadByte(BYTE c) override;
    void* Allocate(size_t bytes) override;
    void Free(void* block) override;
    HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) override;
    HGLOBAL LoadResource(HMODULE module, HRSRC resource) override;
    LPVOID LockResource(HGLOBAL loaded) override;
    DWORD SizeofResource(HMODULE module, HRSRC resource) override;
    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) override;
    BOOL CloseHandle(HANDLE handle) override;
    int _chdrive(int drive) override;
    int _chdir(const char* path) override;
    int _mkdir(const char* path) override;
    int _rmdir(const char* path) override;
    int remove(const char* path) override;
    BOOL CreateProcessA(LPCSTR application, LPSTR commandLine,
                        LPSECURITY_ATTRIBUTES processAttributes,
                        LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                        DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                        LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION info) override;
    DWORD WaitForInputIdle(HANDLE process, DWORD ms) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD ms) override;
    BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) override;
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
    HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override;
    BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) override;
    BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) override;
    HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                            LPARAM param) override;
    BOOL DestroyWindow(HWND wnd) override;
    BOOL IsWindow(HWND wnd) override;
    BOOL ShowWindow(HWND wnd, int show) override;
    BOOL EnableWindow(HWND wnd, BOOL enable) override;
    BOOL IsWindowEnabled(HWND wnd) override;
    BOOL GetWindowRect(HWND wnd, LPRECT rect) override;
    BOOL GetClientRect(HWND wnd, LPRECT rect) override;
    BOOL SetWindowPos(HWND wnd, HWND after, int x, int y, int cx, int cy, UINT flags) override;
    BOOL SystemParametersInfoA(UINT action, UINT uiParam, PVOID pvParam, UINT winIni) override;
    HWND GetLastActivePopup(HWND wnd) override;
    BOOL GetMessageA(LPMSG msg, HWND wnd, UINT first, UINT last) override;
    BOOL IsDialogMessageA(HWND dialog, LPMSG msg) override;
    BOOL TranslateMessage(const MSG* msg) override;
    LRESULT DispatchMessageA(const MSG* msg) override;
    BOOL PostMessageA(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessageA(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void PostQuitMessage(int code) override;
    SHORT GetKeyState(int key) override;
    int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override;
    BOOL WinHelpA(HWND wnd, LPCSTR helpFile, UINT command, ULONG_PTR data) override;
    HICON LoadIconA(HINSTANCE instance, LPCSTR name) override;
    BOOL IsIconic(HWND wnd) override;
    int GetSystemMetrics(int index) override;
    BOOL DrawIcon(HDC dc, int x, int y, HICON icon) override;
    HDC BeginPaint(HWND wnd, LPPAINTSTRUCT paint) override;
    BOOL EndPaint(HWND wnd, const PAINTSTRUCT* paint) override;

    // ==========================================================================================
    // Below: the sim's own workings, not for tests.
private:
    struct Node;
    struct Drive;
    struct Handle;
    struct Resource;
    struct Snapshot;
    struct Event;
    struct Resolved;

    // log, faults, guards (SimOs.cpp)
    size_t Begin(unsigned kind, const char* call, std::string args);
    void SetResult(size_t entry, std::string result);
    SimFault* Faulted(const char* call, const std::string& key);
    void Tick(const char* call);
    [[noreturn]] void Abort(const std::string& why);
    void CheckNotAborted(const char* call);
    void Violation(const std::string& what);
    void AdvanceTo(uint64_t time, const char* why);
    uint64_t NextEventTime() const;
    template <class T> T Fails(size_t entry, T value, DWORD error);

    // names for the log
    std::string HandleName(HANDLE h) const;
    std::string WindowName(HWND h) const;
    std::string IconName(HICON h) const;
    static std::string MessageName(UINT message);
    static std::string ResName(LPCSTR name);
    static std::string Hex(uintptr_t v);

    // files (SimFiles.cpp)
    std::optional<Resolved> Resolve(const std::string& path) const;
    std::shared_ptr<Node> Lookup(const std::string& path) const;
    std::shared_ptr<Node> LookupOrFail(const std::string& path, const char* helper) const;
    bool IsCurrentDirOfAnyDrive(const std::shared_ptr<Node>& dir) const;
    Drive* DriveOf(char letter);
    const Drive* DriveOf(char letter) const;
    void Unuse(char drive, uint64_t bytes);

    // handles
    HANDLE NewHandle(std::unique_ptr<Handle> h);
    Handle* Find(HANDLE h, bool includeClosed = false) const;

    // processes (SimProcesses.cpp)
    DWORD StartProcess(const SimProgram& program, const std::string& exeFile,
                       const std::string& imagePath, const std::string& dir, uint64_t start,
                       DWORD parent);
    SimProcess* ProcessPtr(DWORD pid);
    const SimProcess* ProcessPtr(DWORD pid) const;
    BOOL FillEntry(size_t entry, Snapshot& s, LPPROCESSENTRY32 out);

    // windows (SimWindows.cpp)
    SimWindow* WindowPtr(HWND h);
    const SimWindow* WindowPtr(HWND h) const;
    INT_PTR Deliver(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Route(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProcessing(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam);
    void Destroy(SimWindow& w);
    std::string ParamText(UINT message, WPARAM wParam, LPARAM lParam) const;
    HWND NewWindow(const std::string& name, UINT templateId, HWND parent, DLGPROC proc,
                   LPARAM param, const RECT& rect);

    // state
    std::vector<SimLogEntry> m_log;
    std::deque<SimFault> m_faults;
    uint64_t m_now = 0;
    uint64_t m_clockLimit = 3600u * 1000u;
    int m_spinLimit = 10000;
    int m_spin = 0;
    bool m_aborted = false;
    std::map<std::string, uint64_t> m_callCost;
    std::multimap<uint64_t, std::function<void()>> m_events;

    DWORD m_lastError = 0;
    OSVERSIONINFOA m_version{};
    std::string m_windowsDir = "C:\\WINDOWS";
    struct DiskFree { DWORD spc, bps, free, total; };
    std::map<char, DiskFree> m_diskFree;
    UINT m_errorMode = 0;
    HMODULE m_module = reinterpret_cast<HMODULE>(0x00400000);
    std::string m_modulePath = "C:\\Games\\Zarpo OGL Install.EXE";
    std::set<BYTE> m_leadBytes;

    std::map<void*, size_t> m_blocks;
    int m_allocations = 0;
    int m_allocBudget = -1;

    std::map<char, std::unique_ptr<Drive>> m_drives;
    char m_currentDrive = 'C';
    std::vector<SimFileOpen> m_fileOpens;
    std::map<const Node*, int> m_externalHolds;

    std::map<uintptr_t, std::unique_ptr<Handle>> m_handles;
    uintptr_t m_nextHandle = 0x1000;

    std::vector<std::unique_ptr<Resource>> m_resources;

    std::map<std::string, SimProgram> m_programs;   // key: upper-case base name
    std::vector<SimProcess> m_processes;
    DWORD m_nextPid = 1000;
    std::vector<SimLaunch> m_launches;
    int m_snapshotsTaken = 0;
    int m_snapshotSerial = 0;
    std::vector<PROCESSENTRY32> m_entries;

    std::map<UINT, SimDialogTemplate> m_templates;
    std::set<WORD> m_icons;
    std::vector<std::unique_ptr<SimWindow>> m_windows;
    HWND m_lastDialog = nullptr;
    int m_plainWindows = 0;
    RECT m_workArea{0, 0, 1024, 768};
    std::map<int, int> m_metrics;
    std::set<int> m_keysDown;
    std::vector<SimWindowPos> m_windowPositions;
    std::deque<MSG> m_queue;
    std::deque<std::function<void()>> m_idleSteps;
    bool m_quitPosted = false;
    int m_quitCode = 0;
    std::deque<int> m_answers;
    std::function<int(const SimMessageBox&)> m_boxHandler;
    std::vector<SimMessageBox> m_boxes;
    BOOL m_winHelpResult = TRUE;
    std::vector<SimHelpCall> m_helpCalls;
    std::vector<SimIconDraw> m_iconDraws;
    int m_paintsBegun = 0;
    int m_paintsEnded = 0;
    int m_dcSerial = 0;
    std::set<uintptr_t> m_openDcs;
};

// A SimOs that is installed while it lives: for a test that runs each case of a table against
// a fresh sim. The previous Os comes back when it goes out of scope, also when an ASSERT_...
// leaves the test early.
//   for (const Case& c : cases) { ScopedSim s; s.PutFile(...); ... }
class ScopedSim : public SimOs {
public:
    ScopedSim() : m_previous(SetOs(this)) {}
    ~ScopedSim() override { SetOs(m_previous); }

private:
    Os* m_previous;
};

// A fixture base: a fresh SimOs installed for each test and the previous Os put back after.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { m_previous = SetOs(&sim); }
    void TearDown() override { SetOs(m_previous); }

    SimOs sim;

private:
    Os* m_previous = nullptr;
};
