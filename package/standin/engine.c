// The development package's setup engine, carried inside _inst32i.ex_ and run by the launcher
// as _INS5176._MP from a directory of its own under the temporary directory.
//
// It shows one window with a line of text and a default "Finish" button. On Finish (the
// button, Enter, closing the window, or by itself after ZARPO_DEV_ENGINE_MS milliseconds) it
// copies the package's _isdel.exe next to itself as _ISDEL.EXE, starts it with its own process
// id and path to remove, and ends. Process lists show a program's name as it is on disk, and
// the install run looks for "_ISDEL.EXE" case-sensitively, hence the upper-case copy.
//
// Command line: "<own path>" "<package directory>".

#include "standin.h"

#include <shellapi.h>

#define ID_FINISH 1
#define ID_TEXT 100
#define TIMER_FINISH 1
#define DELETER_LISTED_MS 5000

static const wchar_t g_class[] = L"ZarpoDevEngine";
static const wchar_t g_caption[] = L"Zarpo OGL Trial Version \u2014 development package";
static const wchar_t g_text[] =
    L"This development package stands in for the setup of Zarpo OGL.\r\n"
    L"Nothing is installed. Press Finish to end setup.";
static const char g_deleterSource[] = "_isdel.exe";
static const char g_deleterName[] = "_ISDEL.EXE";

static wchar_t g_package[STANDIN_PATH];
static wchar_t g_self[STANDIN_PATH];
static wchar_t g_home[STANDIN_PATH];
static HWND g_finish;
static BOOL g_finished;

// Reports every file of the package directory as the engine found it at its start.
static void report_package(void)
{
    wchar_t pattern[STANDIN_PATH];
    standin_join(pattern, g_package, L"*");
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    int count = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            standin_report(L"engine: found %s %lu", found.cFileName, found.nFileSizeLow);
            ++count;
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    standin_report(L"engine: files %d", count);
}

// Hands over to the deleter and ends. Runs once.
static void finish(HWND window, const wchar_t* how)
{
    if (g_finished)
        return;
    g_finished = TRUE;
    KillTimer(window, TIMER_FINISH);
    standin_report(L"engine: finish by %s", how);

    wchar_t name[32], source[STANDIN_PATH], deleter[STANDIN_PATH];
    standin_widen(name, g_deleterSource);
    standin_join(source, g_package, name);
    standin_widen(name, g_deleterName);
    standin_join(deleter, g_home, name);
    if (!CopyFileW(source, deleter, FALSE)) {
        standin_report(L"engine: cannot copy %s to %s (error %lu)", source, deleter, GetLastError());
    } else {
        wchar_t command[3 * STANDIN_PATH], temp[STANDIN_PATH];
        wsprintfW(command, L"\"%s\" %lu \"%s\"", deleter, GetCurrentProcessId(), g_self);
        // The deleter must not hold the engine's directory as its current directory.
        GetTempPathW(STANDIN_PATH, temp);
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (CreateProcessW(deleter, command, NULL, NULL, FALSE, 0, NULL, temp, &startup, &info)) {
            BOOL listed = standin_wait_listed(info.dwProcessId, info.hProcess, DELETER_LISTED_MS);
            standin_report(L"engine: deleter %s pid %lu listed %d", deleter, info.dwProcessId, listed);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        } else {
            standin_report(L"engine: cannot start %s (error %lu)", deleter, GetLastError());
        }
    }
    DestroyWindow(window);
}

static LRESULT CALLBACK window_proc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wparam) == ID_FINISH)
            finish(window, L"command");
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(ID_FINISH, DC_HASDEFID);
    case WM_TIMER:
        if (wparam == TIMER_FINISH)
            finish(window, L"timer");
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE && g_finish)
            SetFocus(g_finish);
        return 0;
    case WM_CLOSE:
        finish(window, L"close");
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, msg, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    GetModuleFileNameW(NULL, g_self, STANDIN_PATH);
    lstrcpyW(g_home, g_self);
    standin_dirname(g_home);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc >= 2)
        lstrcpynW(g_package, argv[1], STANDIN_PATH);
    else
        GetCurrentDirectoryW(STANDIN_PATH, g_package);
    if (argv)
        LocalFree(argv);
    standin_report(L"engine: start pid %lu path %s package %s", GetCurrentProcessId(), g_self,
                   g_package);
    report_package();

    WNDCLASSW cls;
    ZeroMemory(&cls, sizeof cls);
    cls.lpfnWndProc = window_proc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    cls.hIcon = LoadIconW(NULL, (LPCWSTR)IDI_APPLICATION);
    cls.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    cls.lpszClassName = g_class;
    RegisterClassW(&cls);

    RECT area = {0, 0, 440, 130};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&area, style, FALSE);
    int width = area.right - area.left, height = area.bottom - area.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND window = CreateWindowExW(0, g_class, g_caption, style, x, y, width, height, NULL, NULL,
                                  instance, NULL);
    if (!window) {
        standin_report(L"engine: cannot make its window (error %lu)", GetLastError());
        return 1;
    }
    HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    HWND text = CreateWindowExW(0, L"STATIC", g_text, WS_CHILD | WS_VISIBLE | SS_LEFT, 16, 16, 408,
                                48, window, (HMENU)ID_TEXT, instance, NULL);
    g_finish = CreateWindowExW(0, L"BUTTON", L"Finish",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 344, 88, 80,
                               26, window, (HMENU)ID_FINISH, instance, NULL);
    SendMessageW(text, WM_SETFONT, (WPARAM)font, FALSE);
    SendMessageW(g_finish, WM_SETFONT, (WPARAM)font, FALSE);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetFocus(g_finish);

    DWORD ms;
    if (standin_env_ms(L"ZARPO_DEV_ENGINE_MS", &ms))
        SetTimer(window, TIMER_FINISH, ms, NULL);

    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    standin_report(L"engine: end");
    return 0;
}
