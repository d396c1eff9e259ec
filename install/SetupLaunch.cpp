// Starting the staged SETUP.EXE and waiting until setup is over: for the launcher itself, then
// either for the user's word (manual exit) or for the setup engine's processes to be gone.
#include "install/InstallRun.h"

#include "process/ProcessList.h"

BYTE g_bEngineGone = FALSE;

namespace {

// The launch records live for the whole program; only the fields set below differ from zero.
char g_szDefaultDesktop[1] = "";
STARTUPINFOA g_startupInfo;
SECURITY_ATTRIBUTES g_processAttributes;
SECURITY_ATTRIBUTES g_threadAttributes;
PROCESS_INFORMATION g_processInformation;

void PrepareLaunchRecords()
{
    g_startupInfo.cb = sizeof g_startupInfo;
    g_startupInfo.lpReserved = nullptr;
    g_startupInfo.lpDesktop = g_szDefaultDesktop;
    g_startupInfo.lpTitle = nullptr;
    g_startupInfo.dwX = g_startupInfo.dwY = 0;
    g_startupInfo.dwXSize = g_startupInfo.dwYSize = 0;
    g_startupInfo.dwXCountChars = g_startupInfo.dwYCountChars = 0;
    g_startupInfo.dwFillAttribute = 0;
    g_startupInfo.dwFlags = STARTF_USESHOWWINDOW;
    g_startupInfo.wShowWindow = SW_SHOWDEFAULT;
    g_startupInfo.cbReserved2 = 0;
    g_startupInfo.lpReserved2 = nullptr;
    g_startupInfo.hStdInput = g_startupInfo.hStdOutput = g_startupInfo.hStdError = nullptr;

    for (SECURITY_ATTRIBUTES* sa : { &g_processAttributes, &g_threadAttributes }) {
        sa->nLength = sizeof *sa;
        sa->lpSecurityDescriptor = nullptr;
        sa->bInheritHandle = FALSE;
    }
}

// A process listed before its name is filled in: the scan cannot tell whether it is the engine.
BOOL HasNamelessEntry(CProcessList& list)
{
    for (INT_PTR i = 0; i < list.m_processes.GetSize(); ++i) {
        if (list.m_processes[i].m_processEntry.szExeFile[0] == '\0')
            return TRUE;
    }
    return FALSE;
}

} // namespace

void RunSetupAndWait(const char* szPath, BYTE bManualExit)
{
    char szSetupPath[PATH_BUFFER_SIZE];
    std::strcpy(szSetupPath, szPath);
    std::strcat(szSetupPath, "\\SETUP.EXE");

    PrepareLaunchRecords();
    if (!os().CreateProcessA(szSetupPath, nullptr, &g_processAttributes, &g_threadAttributes, FALSE,
                             0, nullptr, szPath, &g_startupInfo, &g_processInformation)) {
        // Without this the user would see the dialog close as if setup had run.
        AfxMessageBox("Can't start setup program.", MB_OK);
        return;
    }

    WaitWhileRunning(g_processInformation.hProcess);
    os().CloseHandle(g_processInformation.hProcess);
    os().CloseHandle(g_processInformation.hThread);

    if (bManualExit) {
        AfxMessageBox("Windows NT4 user: Press OK after Setup finishes and exits (for cleanup).", MB_OK);
        return;
    }
    WaitForSetupEngine();
}

BOOL WaitWhileRunning(HANDLE hProcess)
{
    BOOL bSawRunning = FALSE;
    for (;;) {
        const DWORD idle = os().WaitForInputIdle(hProcess, IDLE_WAIT_MS);
        // An answer other than failure means the process was alive when the poll began, even
        // if it ended during the wait (a windowless program ends inside it, for instance).
        if (idle != WAIT_FAILED)
            bSawRunning = TRUE;
        DWORD exitCode = 0;
        if (!os().GetExitCodeProcess(hProcess, &exitCode))
            return FALSE;
        if (exitCode != STILL_ACTIVE)
            return bSawRunning;
        bSawRunning = TRUE;
        // WaitForInputIdle answers at once for an idle, a console or an unreachable process;
        // only a time-out has already spent the poll's time. Otherwise block on the handle,
        // which also wakes the moment the process ends.
        if (idle == WAIT_TIMEOUT)
            continue;
        const DWORD waited = os().WaitForSingleObject(hProcess, IDLE_WAIT_MS);
        if (waited == WAIT_OBJECT_0)
            return TRUE;
        if (waited != WAIT_TIMEOUT)
            return FALSE;
    }
}

BOOL WaitForNamedProcesses(CProcessList& list, LPCSTR pattern)
{
    BOOL bUnwaited = FALSE;
    CString strName;
    for (INT_PTR i = 0; i < list.m_processes.GetSize(); ++i) {
        const PROCESSENTRY32& entry = list.m_processes[i].m_processEntry;
        strName = entry.szExeFile;
        if (strName.Find(pattern) == -1)
            continue;
        // SYNCHRONIZE makes the handle waitable, so the wait can block instead of polling.
        HANDLE hProcess = os().OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE,
                                           entry.th32ProcessID);
        if (hProcess) {
            if (!WaitWhileRunning(hProcess))
                bUnwaited = TRUE;
            os().CloseHandle(hProcess);
        } else {
            bUnwaited = TRUE;
        }
        g_bEngineGone = FALSE;
    }
    return bUnwaited;
}

void WaitForSetupEngine()
{
    int nNamelessRescans = 0;
    while (!g_bEngineGone) {
        g_bEngineGone = TRUE;
        BOOL bPace = FALSE;
        {
            CProcessList list;
            list.Snapshot();
            if (WaitForNamedProcesses(list, "_INS5176._MP"))
                bPace = TRUE;
            if (WaitForNamedProcesses(list, "_ISDEL.EXE"))
                bPace = TRUE;
            // A process caught while it is being created has no name yet; it may be the
            // engine, so look again (a bounded number of times) before calling setup over.
            if (g_bEngineGone && HasNamelessEntry(list) && nNamelessRescans < MAX_NAMELESS_RESCANS) {
                ++nNamelessRescans;
                g_bEngineGone = FALSE;
                bPace = TRUE;
            }
        }
        // Scans that found something they could not block on must not follow back to back.
        if (!g_bEngineGone && bPace)
            os().Sleep(ENGINE_RESCAN_PAUSE_MS);
    }
}
