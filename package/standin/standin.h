// Helpers shared by the development package's stand-in programs (launcher, engine, deleter).
//
// The stand-ins take their timing and their report file from the environment only, since the
// install run passes its environment on to setup and setup passes it on to the engine:
//   ZARPO_DEV_ENGINE_MS    the engine presses Finish by itself after this many milliseconds,
//                          and the launcher's error box closes itself after as long
//   ZARPO_DEV_DELETER_MS   how long the deleter lingers before it removes the engine (default 300)
//   ZARPO_DEV_REPORT       a file to which every stand-in appends one line per event
#pragma once

#include <stdarg.h>
#include <windows.h>
#include <tlhelp32.h>

#define STANDIN_PATH 1024

// Reads a decimal number of milliseconds from the environment; FALSE when unset or not a number.
static inline BOOL standin_env_ms(const wchar_t* name, DWORD* ms)
{
    wchar_t text[32];
    DWORD len = GetEnvironmentVariableW(name, text, 32);
    if (len == 0 || len >= 32)
        return FALSE;
    DWORD value = 0;
    for (DWORD i = 0; i < len; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return FALSE;
        value = value * 10 + (DWORD)(text[i] - L'0');
    }
    *ms = value;
    return TRUE;
}

// Appends one line (UTF-8, CR LF) to the file named by ZARPO_DEV_REPORT, if any. Each line is
// one write to a file opened for appending, so lines of the three programs do not mix.
static inline void standin_report(const wchar_t* format, ...)
{
    wchar_t path[STANDIN_PATH];
    DWORD len = GetEnvironmentVariableW(L"ZARPO_DEV_REPORT", path, STANDIN_PATH);
    if (len == 0 || len >= STANDIN_PATH)
        return;
    wchar_t line[1100];
    va_list args;
    va_start(args, format);
    int n = wvsprintfW(line, format, args);
    va_end(args);
    if (n < 0)
        return;
    line[n++] = L'\r';
    line[n++] = L'\n';
    char utf8[3300];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, n, utf8, sizeof utf8, NULL, NULL);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, utf8, (DWORD)bytes, &written, NULL);
    CloseHandle(file);
}

// Copies an ASCII name into a wide buffer.
static inline void standin_widen(wchar_t* out, const char* in)
{
    while ((*out++ = (wchar_t)(unsigned char)*in++) != 0) {
    }
}

// path = dir + "\" + name (wide name).
static inline void standin_join(wchar_t* path, const wchar_t* dir, const wchar_t* name)
{
    lstrcpyW(path, dir);
    int len = lstrlenW(path);
    if (len > 0 && path[len - 1] != L'\\')
        lstrcatW(path, L"\\");
    lstrcatW(path, name);
}

// Cuts a path after its last backslash's predecessor: "C:\a\b.exe" becomes "C:\a".
static inline void standin_dirname(wchar_t* path)
{
    wchar_t* last = NULL;
    for (wchar_t* p = path; *p; ++p)
        if (*p == L'\\')
            last = p;
    if (last)
        *last = 0;
}

// Waits, at most timeout_ms, until a process snapshot lists process pid under a name. Just after
// creation a snapshot can list a new process with an empty name; the install run's engine wait
// looks for names, so a stand-in that starts the next program and ends at once waits for this
// first, or one scan of the install run could see neither program and end the wait too early.
// Returns TRUE when seen, FALSE when the time ran out or the process ended.
static inline BOOL standin_wait_listed(DWORD pid, HANDLE process, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry;
            entry.dwSize = sizeof entry;
            BOOL seen = FALSE;
            for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry))
                if (entry.th32ProcessID == pid && entry.szExeFile[0] != 0)
                    seen = TRUE;
            CloseHandle(snap);
            if (seen)
                return TRUE;
        }
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            return FALSE;
        if (GetTickCount() - start >= timeout_ms)
            return FALSE;
        Sleep(5);
    }
}
