// Runs the development package's stand-in programs for real and watches them the way the
// install run does: it starts setup.exe from a package directory, then follows the engine
// (_INS5176._MP) and the deleter (_ISDEL.EXE) in Toolhelp snapshots until both are gone.
//
//   standin_driver <case> <package dir> <report file>
//
// Cases:
//   button   press the engine's Finish button (BM_CLICK)
//   enter    press Enter in the engine's window
//   timer    let the engine finish by itself (ZARPO_DEV_ENGINE_MS)
//   missing  the package lacks LAYOUT.BIN: setup reports it and starts no engine
//
// Prints one line per failed expectation and what it measured; exit code 0 when all held.

#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define PATIENCE_MS 20000
static const char g_engineName[] = "_INS5176._MP";
static const char g_deleterName[] = "_ISDEL.EXE";
static const wchar_t g_caption[] = L"Zarpo OGL Trial Version \u2014 development package";

static int g_failures;

static void expect(BOOL held, const char* what)
{
    if (!held) {
        printf("FAILED: expected %s\n", what);
        ++g_failures;
    }
}

// Pids of the processes named exactly `name` in one snapshot (up to 8); returns the count.
static int find_processes(const char* name, DWORD* pids)
{
    int count = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry))
        if (strcmp(entry.szExeFile, name) == 0 && count < 8)
            pids[count++] = entry.th32ProcessID;
    CloseHandle(snap);
    return count;
}

struct found_window {
    DWORD pid;
    HWND window;
};

static BOOL CALLBACK find_top(HWND window, LPARAM param)
{
    struct found_window* found = (struct found_window*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == found->pid && IsWindowVisible(window)) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

static char* read_all(const char* path, DWORD* size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    *size = GetFileSize(file, NULL);
    char* data = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, *size + 1);
    DWORD got = 0;
    ReadFile(file, data, *size, &got, NULL);
    CloseHandle(file);
    return data;
}

// TRUE when the report holds a line that starts with `prefix` (UTF-8 text, CR LF lines).
static BOOL report_has(const char* report, const char* prefix)
{
    size_t len = strlen(prefix);
    for (const char* line = report; line && *line;) {
        if (strncmp(line, prefix, len) == 0)
            return TRUE;
        line = strchr(line, '\n');
        if (line)
            ++line;
    }
    return FALSE;
}

// The value after `prefix` on its first line, up to the next " pid".
static BOOL report_value(const char* report, const char* prefix, char* out, size_t size)
{
    const char* at = strstr(report, prefix);
    if (!at)
        return FALSE;
    at += strlen(prefix);
    const char* end = strstr(at, " pid");
    if (!end || (size_t)(end - at) >= size)
        return FALSE;
    memcpy(out, at, end - at);
    out[end - at] = 0;
    return TRUE;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        printf("usage: standin_driver button|enter|timer|missing <package dir> <report file>\n");
        return 2;
    }
    const char* mode = argv[1];
    const char* package = argv[2];
    const char* report_path = argv[3];
    BOOL missing = strcmp(mode, "missing") == 0;

    DeleteFileA(report_path);
    SetEnvironmentVariableA("ZARPO_DEV_REPORT", report_path);
    SetEnvironmentVariableA("ZARPO_DEV_ENGINE_MS",
                            strcmp(mode, "timer") == 0 || missing ? "300" : NULL);
    SetEnvironmentVariableA("ZARPO_DEV_DELETER_MS", strcmp(mode, "button") == 0 ? "600" : NULL);

    // Started as the install run starts it: SETUP.EXE by full path, no command line, the
    // package directory as current directory.
    char setup[MAX_PATH];
    snprintf(setup, sizeof setup, "%s\\SETUP.EXE", package);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION info;
    DWORD t0 = GetTickCount();
    if (!CreateProcessA(setup, NULL, NULL, NULL, FALSE, 0, NULL, package, &startup, &info)) {
        printf("FAILED: expected %s to start (error %lu)\n", setup, GetLastError());
        return 1;
    }
    DWORD ended = WaitForSingleObject(info.hProcess, PATIENCE_MS);
    DWORD setup_ms = GetTickCount() - t0;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    expect(ended == WAIT_OBJECT_0, "setup.exe to end on its own");
    printf("setup.exe ran %lu ms, exit code %lu\n", setup_ms, code);

    DWORD pids[8];
    if (missing) {
        expect(code == 2, "setup.exe to end with exit code 2 when a companion is missing");
        expect(find_processes(g_engineName, pids) == 0, "no engine process");
        DWORD size;
        char* report = read_all(report_path, &size);
        expect(report && report_has(report, "setup: error: Setup cannot find LAYOUT.BIN"),
               "the report line \"setup: error: Setup cannot find LAYOUT.BIN ...\"");
        expect(report && !report_has(report, "engine:"), "no report line of the engine");
        return g_failures ? 1 : 0;
    }
    expect(code == 0, "setup.exe to end with exit code 0");

    // The first scan after setup has ended must see the engine under its name.
    int engines = find_processes(g_engineName, pids);
    expect(engines == 1, "exactly one _INS5176._MP process in the first snapshot after setup ended");
    if (engines != 1)
        return 1;
    DWORD engine_pid = pids[0];

    struct found_window found = {engine_pid, NULL};
    for (DWORD start = GetTickCount(); !found.window && GetTickCount() - start < PATIENCE_MS;) {
        EnumWindows(find_top, (LPARAM)&found);
        if (!found.window)
            Sleep(10);
    }
    expect(found.window != NULL, "a visible window of the engine");
    if (!found.window)
        return 1;
    wchar_t caption[128] = L"";
    GetWindowTextW(found.window, caption, 128);
    expect(wcscmp(caption, g_caption) == 0,
           "the engine's caption \"Zarpo OGL Trial Version \\u2014 development package\"");
    HWND finish = GetDlgItem(found.window, 1);
    char text[64] = "", cls[64] = "";
    if (finish) {
        GetWindowTextA(finish, text, sizeof text);
        GetClassNameA(finish, cls, sizeof cls);
    }
    expect(finish && strcmp(text, "Finish") == 0, "a control with id 1 reading \"Finish\"");
    expect(finish && _stricmp(cls, "Button") == 0 &&
               (GetWindowLongA(finish, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON,
           "Finish to be a default push button");
    GUITHREADINFO gui;
    gui.cbSize = sizeof gui;
    DWORD thread = GetWindowThreadProcessId(found.window, NULL);
    expect(GetGUIThreadInfo(thread, &gui) && gui.hwndFocus == finish, "Finish to have the focus");

    if (strcmp(mode, "button") == 0)
        PostMessageA(finish, BM_CLICK, 0, 0);
    else if (strcmp(mode, "enter") == 0) {
        PostMessageA(gui.hwndFocus ? gui.hwndFocus : finish, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        PostMessageA(gui.hwndFocus ? gui.hwndFocus : finish, WM_KEYUP, VK_RETURN, 0xC01C0001);
    }

    // Follow both names until both are gone. Until the deleter has been seen, every snapshot
    // must show the engine or the deleter, or the install run's wait could end too early.
    DWORD t1 = GetTickCount(), engine_gone_ms = 0, deleter_seen_ms = 0, all_gone_ms = 0;
    BOOL deleter_seen = FALSE, gap = FALSE;
    while (GetTickCount() - t1 < PATIENCE_MS) {
        int e = find_processes(g_engineName, pids);
        int d = find_processes(g_deleterName, pids);
        DWORD now = GetTickCount() - t1;
        if (d && !deleter_seen) {
            deleter_seen = TRUE;
            deleter_seen_ms = now;
        }
        if (!e && !engine_gone_ms)
            engine_gone_ms = now;
        if (!e && !d) {
            if (!deleter_seen)
                gap = TRUE;
            else {
                all_gone_ms = now;
                break;
            }
        }
        Sleep(2);
    }
    expect(deleter_seen, "an _ISDEL.EXE process after Finish");
    expect(!gap, "no snapshot without engine or deleter before the deleter had started");
    expect(all_gone_ms != 0, "engine and deleter to end");
    printf("after Finish: deleter listed at %lu ms, engine gone at %lu ms, deleter gone at %lu ms\n",
           deleter_seen_ms, engine_gone_ms, all_gone_ms);

    DWORD size = 0;
    char* report = read_all(report_path, &size);
    expect(report != NULL, "a report file");
    if (!report)
        return 1;

    // The engine saw every file of the package while it ran, with its size.
    char pattern[MAX_PATH], line[MAX_PATH + 64];
    snprintf(pattern, sizeof pattern, "%s\\*", package);
    WIN32_FIND_DATAA file;
    HANDLE find = FindFirstFileA(pattern, &file);
    int files = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            ++files;
            snprintf(line, sizeof line, "engine: found %s %lu\r", file.cFileName, file.nFileSizeLow);
            if (!report_has(report, line)) {
                printf("FAILED: expected the report line \"engine: found %s %lu\"\n", file.cFileName,
                       file.nFileSizeLow);
                ++g_failures;
            }
        } while (FindNextFileA(find, &file));
        FindClose(find);
    }
    expect(files == 15, "fifteen files in the package directory");
    expect(report_has(report, "engine: files 15\r"), "the report line \"engine: files 15\"");
    const char* how = strcmp(mode, "timer") == 0 ? "engine: finish by timer" : "engine: finish by command";
    expect(report_has(report, how), how);
    expect(report_has(report, "engine: end"), "the report line \"engine: end\"");
    expect(report_has(report, "deleter: engine ended"), "the report line \"deleter: engine ended\"");
    expect(report_has(report, "deleter: removed "), "the report line \"deleter: removed <engine>\"");
    expect(report_has(report, "deleter: end"), "the report line \"deleter: end\"");

    // The engine's file is gone; the deleter's own file waits for the next restart.
    char engine[MAX_PATH];
    if (report_value(report, "setup: engine ", engine, sizeof engine)) {
        expect(GetFileAttributesA(engine) == INVALID_FILE_ATTRIBUTES, "the engine's file to be removed");
        printf("engine ran as %s\n", engine);
    } else {
        expect(FALSE, "the report line \"setup: engine <path> pid ...\"");
    }
    printf("%s", report);
    return g_failures ? 1 : 0;
}
