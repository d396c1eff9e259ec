// The development package's deleter, run by the engine as _ISDEL.EXE from the engine's
// directory once setup has finished.
//
// Command line: "<own path>" <engine process id> "<engine path>".
// It waits for the engine to end, lingers ZARPO_DEV_DELETER_MS milliseconds (default 300, so
// that the install run really waits for a deleter), removes the engine's file and then the
// engine's directory. A running program cannot remove its own file, so when the deleter lives
// in that directory it asks Windows to remove itself and the directory at the next restart.
// It shows no window.

#include "standin.h"

#include <shellapi.h>

#define ENGINE_END_MS 30000
#define DEFAULT_LINGER_MS 300

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) {
        standin_report(L"deleter: usage: _ISDEL.EXE <engine pid> <engine path>");
        return 1;
    }
    DWORD pid = 0;
    for (const wchar_t* p = argv[1]; *p >= L'0' && *p <= L'9'; ++p)
        pid = pid * 10 + (DWORD)(*p - L'0');
    wchar_t engine[STANDIN_PATH], engine_dir[STANDIN_PATH], self[STANDIN_PATH], self_dir[STANDIN_PATH];
    lstrcpynW(engine, argv[2], STANDIN_PATH);
    LocalFree(argv);
    lstrcpyW(engine_dir, engine);
    standin_dirname(engine_dir);
    GetModuleFileNameW(NULL, self, STANDIN_PATH);
    lstrcpyW(self_dir, self);
    standin_dirname(self_dir);
    standin_report(L"deleter: start pid %lu engine pid %lu", GetCurrentProcessId(), pid);

    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process) {
        DWORD waited = WaitForSingleObject(process, ENGINE_END_MS);
        CloseHandle(process);
        standin_report(L"deleter: engine %s", waited == WAIT_OBJECT_0 ? L"ended" : L"still running");
    }

    DWORD linger = DEFAULT_LINGER_MS;
    standin_env_ms(L"ZARPO_DEV_DELETER_MS", &linger);
    Sleep(linger);

    // The engine's image can stay mapped for a moment after its process has ended.
    BOOL removed = FALSE;
    for (int tries = 0; tries < 40 && !(removed = DeleteFileW(engine)); ++tries) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            break;
        Sleep(50);
    }
    standin_report(L"deleter: %s %s", removed ? L"removed" : L"could not remove", engine);

    if (lstrcmpiW(self_dir, engine_dir) == 0) {
        BOOL later = MoveFileExW(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)
                     && MoveFileExW(engine_dir, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        standin_report(L"deleter: %s %s and itself at restart", later ? L"removes" : L"cannot remove",
                       engine_dir);
    } else {
        BOOL gone = RemoveDirectoryW(engine_dir);
        standin_report(L"deleter: %s %s", gone ? L"removed" : L"could not remove", engine_dir);
    }
    standin_report(L"deleter: end");
    return 0;
}
