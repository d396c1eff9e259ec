// The one seam between the program and the operating system.
//
// Every Windows and C-runtime operation that the program or its framework layer makes goes
// through an Os object. The product installs the real one (os_win32.cpp), which forwards each
// call unchanged; the unit tests install a simulated Windows instead. The methods carry the
// Windows names and signatures, so calling code reads like plain Win32.
#pragma once

#include <windows.h>
#include <tlhelp32.h>
#include <cstddef>

class Os {
public:
    virtual ~Os() {}

    // --- system and module --------------------------------------------------------------
    virtual BOOL GetVersionExA(OSVERSIONINFOA* info) = 0;
    virtual UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) = 0;
    virtual BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                   LPDWORD freeClusters, LPDWORD totalClusters) = 0;
    virtual DWORD GetLastError() = 0;
    virtual UINT SetErrorMode(UINT mode) = 0;
    virtual HMODULE GetModuleHandleA(LPCSTR name) = 0;
    virtual DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) = 0;
    virtual void Sleep(DWORD ms) = 0;
    virtual BOOL IsDBCSLeadByte(BYTE c) = 0;

    // --- memory (the framework's allocations; a failure becomes CMemoryException) --------
    virtual void* Allocate(size_t bytes) = 0;   // null on failure
    virtual void Free(void* block) = 0;

    // --- the executable's resources ------------------------------------------------------
    virtual HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) = 0;
    virtual HGLOBAL LoadResource(HMODULE module, HRSRC resource) = 0;
    virtual LPVOID LockResource(HGLOBAL loaded) = 0;
    virtual DWORD SizeofResource(HMODULE module, HRSRC resource) = 0;

    // --- files (CFile) -------------------------------------------------------------------
    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
    virtual BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED overlapped) = 0;
    virtual DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;

    // --- C runtime directory and file functions (-1 on failure) --------------------------
    virtual int _chdrive(int drive) = 0;
    virtual int _chdir(const char* path) = 0;
    virtual int _mkdir(const char* path) = 0;
    virtual int _rmdir(const char* path) = 0;
    virtual int remove(const char* path) = 0;

    // --- processes -----------------------------------------------------------------------
    virtual BOOL CreateProcessA(LPCSTR application, LPSTR commandLine,
                                LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                                LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION info) = 0;
    virtual DWORD WaitForInputIdle(HANDLE process, DWORD ms) = 0;
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD ms) = 0;
    virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) = 0;
    virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) = 0;
    virtual HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) = 0;
    virtual BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) = 0;
    virtual BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) = 0;

    // --- windows, dialogs and painting ---------------------------------------------------
    virtual HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                                    DLGPROC proc, LPARAM param) = 0;
    virtual BOOL DestroyWindow(HWND wnd) = 0;
    virtual BOOL IsWindow(HWND wnd) = 0;
    virtual BOOL ShowWindow(HWND wnd, int show) = 0;
    virtual BOOL EnableWindow(HWND wnd, BOOL enable) = 0;
    virtual BOOL IsWindowEnabled(HWND wnd) = 0;
    virtual BOOL GetWindowRect(HWND wnd, LPRECT rect) = 0;
    virtual BOOL GetClientRect(HWND wnd, LPRECT rect) = 0;
    virtual BOOL SetWindowPos(HWND wnd, HWND after, int x, int y, int cx, int cy, UINT flags) = 0;
    virtual BOOL SystemParametersInfoA(UINT action, UINT uiParam, PVOID pvParam, UINT winIni) = 0;
    virtual HWND GetLastActivePopup(HWND wnd) = 0;
    virtual BOOL GetMessageA(LPMSG msg, HWND wnd, UINT first, UINT last) = 0;
    virtual BOOL IsDialogMessageA(HWND dialog, LPMSG msg) = 0;
    virtual BOOL TranslateMessage(const MSG* msg) = 0;
    virtual LRESULT DispatchMessageA(const MSG* msg) = 0;
    virtual BOOL PostMessageA(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual LRESULT SendMessageA(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual void PostQuitMessage(int code) = 0;
    virtual SHORT GetKeyState(int key) = 0;
    virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = 0;
    virtual BOOL WinHelpA(HWND wnd, LPCSTR helpFile, UINT command, ULONG_PTR data) = 0;
    virtual HICON LoadIconA(HINSTANCE instance, LPCSTR name) = 0;
    virtual BOOL IsIconic(HWND wnd) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual BOOL DrawIcon(HDC dc, int x, int y, HICON icon) = 0;
    virtual HDC BeginPaint(HWND wnd, LPPAINTSTRUCT paint) = 0;
    virtual BOOL EndPaint(HWND wnd, const PAINTSTRUCT* paint) = 0;
};

// The Os in force. The product's entry point installs the real one before anything else runs.
Os& os();
// Installs another Os (a simulated Windows in the unit tests); returns the previous one.
Os* SetOs(Os* replacement);
// The real Windows, forwarding every call unchanged.
Os& RealOs();
