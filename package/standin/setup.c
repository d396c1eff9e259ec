// The development package's launcher, setup.exe.
//
// Like the real launcher it checks that its companions are present next to it, unpacks the
// setup engine from _inst32i.ex_ into a directory of its own under the temporary directory
// (the engine's file there is named _INS5176._MP), starts it and ends. It waits only until the
// engine is up and listed under its name, so that the install run's first scan of the
// process list finds it.
//
// The engine is started with its file as application name and the command line
//     "<engine path>" "<package directory>"
// and its own directory as current directory.

#include <string.h>

#include "standin.h"

// The companions, named as the real launcher names them. _ISDEL.EXE must stay a plain string
// of this program: the package check looks for it here.
static const char* const g_companions[] = {
    "_SETUP.DLL", "_INST32I.EX_", "_ISDEL.EXE", "SETUP.INS", "LAYOUT.BIN",
    "SETUP.LID", "LANG.DAT", "setup.ini", "setup.bmp",
};
static const char g_engineArchive[] = "_INST32I.EX_";
static const char g_engineMember[] = "_INS5176._MP";
static const unsigned char g_archiveSignature[8] = {0x2A, 0xAB, 0x79, 0xD8, 0x00, 0x01, 0x00, 0x00};

#define ENGINE_IDLE_MS 15000
#define ENGINE_LISTED_MS 5000

static const wchar_t g_caption[] = L"Zarpo OGL Setup";

static VOID CALLBACK close_box(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    HWND box = GetActiveWindow();
    if (box)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// Shows an error as the real launcher does, and ends with exit code 2. In automated runs
// (ZARPO_DEV_ENGINE_MS set) the box closes itself after that time, so that a test never hangs
// on it.
static int fail(const wchar_t* format, const wchar_t* detail, DWORD code)
{
    wchar_t text[1100];
    wsprintfW(text, format, detail, code);
    standin_report(L"setup: error: %s", text);
    DWORD ms;
    UINT_PTR timer = 0;
    if (standin_env_ms(L"ZARPO_DEV_ENGINE_MS", &ms))
        timer = SetTimer(NULL, 0, ms, close_box);
    MessageBoxW(NULL, text, g_caption, MB_OK | MB_ICONSTOP);
    if (timer)
        KillTimer(NULL, timer);
    return 2;
}

// Finds a member in the archive's table. The table follows the banner: "MEMBERS <n>" CR LF, then
// "<name> <offset> <size>" CR LF per member, then "END" CR LF.
static BOOL find_member(const char* data, DWORD size, const char* name, DWORD* offset, DWORD* length)
{
    if (size < 8)
        return FALSE;
    for (int i = 0; i < 8; ++i)
        if ((unsigned char)data[i] != g_archiveSignature[i])
            return FALSE;
    static const char key[] = "\r\nMEMBERS ";
    DWORD at = 8;
    for (;; ++at) {
        if (at + sizeof key - 1 > size)
            return FALSE;
        if (memcmp(data + at, key, sizeof key - 1) == 0)
            break;
    }
    const char* p = data + at + sizeof key - 1;
    const char* end = data + size;
    while (p < end && *p != '\n')
        ++p;
    ++p;
    int name_len = lstrlenA(name);
    while (p + 3 <= end && memcmp(p, "END", 3) != 0) {
        const char* row = p;
        while (p < end && *p != ' ')
            ++p;
        BOOL match = (p - row == name_len) && memcmp(row, name, name_len) == 0;
        DWORD numbers[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            while (p < end && *p == ' ')
                ++p;
            while (p < end && *p >= '0' && *p <= '9')
                numbers[k] = numbers[k] * 10 + (DWORD)(*p++ - '0');
        }
        while (p < end && *p != '\n')
            ++p;
        ++p;
        if (match) {
            if (numbers[0] > size || numbers[1] > size - numbers[0])
                return FALSE;
            *offset = numbers[0];
            *length = numbers[1];
            return TRUE;
        }
    }
    return FALSE;
}

// Reads a whole file into heap memory.
static char* read_file(const wchar_t* path, DWORD* size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    *size = GetFileSize(file, NULL);
    char* data = (*size == INVALID_FILE_SIZE) ? NULL : HeapAlloc(GetProcessHeap(), 0, *size + 1);
    DWORD got = 0;
    if (data && (!ReadFile(file, data, *size, &got, NULL) || got != *size)) {
        HeapFree(GetProcessHeap(), 0, data);
        data = NULL;
    }
    CloseHandle(file);
    return data;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    wchar_t package[STANDIN_PATH];
    GetModuleFileNameW(NULL, package, STANDIN_PATH);
    standin_dirname(package);
    standin_report(L"setup: start pid %lu package %s", GetCurrentProcessId(), package);

    wchar_t name[64], path[STANDIN_PATH];
    for (size_t i = 0; i < sizeof g_companions / sizeof g_companions[0]; ++i) {
        standin_widen(name, g_companions[i]);
        standin_join(path, package, name);
        DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return fail(L"Setup cannot find %s in the setup package.", name, 0);
    }

    standin_widen(name, g_engineArchive);
    standin_join(path, package, name);
    DWORD size = 0, offset = 0, length = 0;
    char* archive = read_file(path, &size);
    if (!archive || !find_member(archive, size, g_engineMember, &offset, &length))
        return fail(L"The setup engine archive %s is damaged.", name, 0);

    // The engine's own directory: _ZOTMP<n>.DIR under the temporary directory.
    wchar_t temp[STANDIN_PATH], engine_dir[STANDIN_PATH];
    DWORD temp_len = GetTempPathW(STANDIN_PATH - 32, temp);
    if (temp_len == 0 || temp_len >= STANDIN_PATH - 32)
        return fail(L"Setup cannot find the temporary directory%s (error %lu).", L"",
                    GetLastError());
    BOOL made = FALSE;
    for (int n = 0; n < 1000 && !made; ++n) {
        wsprintfW(engine_dir, L"%s_ZOTMP%d.DIR", temp, n);
        made = CreateDirectoryW(engine_dir, NULL);
    }
    if (!made)
        return fail(L"Setup cannot make a directory in %s (error %lu).", temp, GetLastError());

    wchar_t engine[STANDIN_PATH];
    standin_widen(name, g_engineMember);
    standin_join(engine, engine_dir, name);
    HANDLE file = CreateFileW(engine, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    BOOL wrote = file != INVALID_HANDLE_VALUE && WriteFile(file, archive + offset, length, &written, NULL)
                 && written == length;
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    HeapFree(GetProcessHeap(), 0, archive);
    if (!wrote) {
        DeleteFileW(engine);
        RemoveDirectoryW(engine_dir);
        return fail(L"Setup cannot write %s (error %lu).", engine, error);
    }

    wchar_t command[3 * STANDIN_PATH];
    wsprintfW(command, L"\"%s\" \"%s\"", engine, package);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessW(engine, command, NULL, NULL, FALSE, 0, NULL, engine_dir, &startup, &info)) {
        error = GetLastError();
        DeleteFileW(engine);
        RemoveDirectoryW(engine_dir);
        return fail(L"Setup cannot start %s (error %lu).", engine, error);
    }

    DWORD idle = WaitForInputIdle(info.hProcess, ENGINE_IDLE_MS);
    BOOL listed = standin_wait_listed(info.dwProcessId, info.hProcess, ENGINE_LISTED_MS);
    standin_report(L"setup: engine %s pid %lu idle %lu listed %d", engine, info.dwProcessId, idle,
                   listed);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}
