// The real Windows behind the seam: each method forwards to the call of the same name.
#include "os.h"

#include <direct.h>
#include <cstdio>
#include <cstdlib>

namespace {

class Win32Os : public Os {
public:
    BOOL GetVersionExA(OSVERSIONINFOA* info) override { return ::GetVersionExA(info); }
    UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) override
    {
        return ::GetWindowsDirectoryA(buffer, size);
    }
    BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD spc, LPDWORD bps, LPDWORD fc, LPDWORD tc) override
    {
        return ::GetDiskFreeSpaceA(root, spc, bps, fc, tc);
    }
    DWORD GetLastError() override { return ::GetLastError(); }
    UINT SetErrorMode(UINT mode) override { return ::SetErrorMode(mode); }
    HMODULE GetModuleHandleA(LPCSTR name) override { return ::GetModuleHandleA(name); }
    DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override
    {
        return ::GetModuleFileNameA(module, buffer, size);
    }
    void Sleep(DWORD ms) override { ::Sleep(ms); }
    BOOL IsDBCSLeadByte(BYTE c) override { return ::IsDBCSLeadByte(c); }

    void* Allocate(size_t bytes) override { return std::malloc(bytes ? bytes : 1); }
    void Free(void* block) override { std::free(block); }

    HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) override
    {
        return ::FindResourceA(module, name, type);
    }
    HGLOBAL LoadResource(HMODULE module, HRSRC resource) override
    {
        return ::LoadResource(module, resource);
    }
    LPVOID LockResource(HGLOBAL loaded) override { return ::LockResource(loaded); }
    DWORD SizeofResource(HMODULE module, HRSRC resource) override
    {
        return ::SizeofResource(module, resource);
    }

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override
    {
        return ::CreateFileA(name, access, share, sa, disposition, flags, templateFile);
    }
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                   LPOVERLAPPED overlapped) override
    {
        return ::WriteFile(file, data, size, written, overlapped);
    }
    DWORD SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) override
    {
        return ::SetFilePointer(file, distance, high, method);
    }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

    int _chdrive(int drive) override { return ::_chdrive(drive); }
    int _chdir(const char* path) override { return ::_chdir(path); }
    int _mkdir(const char* path) override { return ::_mkdir(path); }
    int _rmdir(const char* path) override { return ::_rmdir(path); }
    int remove(const char* path) override { return std::remove(path); }

    BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES pa,
                        LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID env,
                        LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi) override
    {
        return ::CreateProcessA(application, commandLine, pa, ta, inherit, flags, env, dir, si, pi);
    }
    DWORD WaitForInputIdle(HANDLE process, DWORD ms) override
    {
        return ::WaitForInputIdle(process, ms);
    }
    DWORD WaitForSingleObject(HANDLE handle, DWORD ms) override
    {
        return ::WaitForSingleObject(handle, ms);
    }
    BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) override
    {
        return ::GetExitCodeProcess(process, code);
    }
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD id) override
    {
        return ::OpenProcess(access, inherit, id);
    }
    HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD id) override
    {
        return ::CreateToolhelp32Snapshot(flags, id);
    }
    BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) override
    {
        return ::Process32First(snapshot, entry);
    }
    BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) override
    {
        return ::Process32Next(snapshot, entry);
    }

    HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc,
                            LPARAM param) override
    {
        return ::CreateDialogParamA(instance, name, parent, proc, param);
    }
    BOOL DestroyWindow(HWND wnd) override { return ::DestroyWindow(wnd); }
    BOOL IsWindow(HWND wnd) override { return ::IsWindow(wnd); }
    BOOL ShowWindow(HWND wnd, int show) override { return ::ShowWindow(wnd, show); }
    BOOL EnableWindow(HWND wnd, BOOL enable) override { return ::EnableWindow(wnd, enable); }
    BOOL IsWindowEnabled(HWND wnd) override { return ::IsWindowEnabled(wnd); }
    BOOL GetWindowRect(HWND wnd, LPRECT rect) override { return ::GetWindowRect(wnd, rect); }
    BOOL GetClientRect(HWND wnd, LPRECT rect) override { return ::GetClientRect(wnd, rect); }
    BOOL SetWindowPos(HWND wnd, HWND after, int x, int y, int cx, int cy, UINT flags) override
    {
        return ::SetWindowPos(wnd, after, x, y, cx, cy, flags);
    }
    BOOL SystemParametersInfoA(UINT action, UINT ui, PVOID pv, UINT winIni) override
    {
        return ::SystemParametersInfoA(action, ui, pv, winIni);
    }
    HWND GetLastActivePopup(HWND wnd) override { return ::GetLastActivePopup(wnd); }
    BOOL GetMessageA(LPMSG msg, HWND wnd, UINT first, UINT last) override
    {
        return ::GetMessageA(msg, wnd, first, last);
    }
    BOOL IsDialogMessageA(HWND dialog, LPMSG msg) override
    {
        return ::IsDialogMessageA(dialog, msg);
    }
    BOOL TranslateMessage(const MSG* msg) override { return ::TranslateMessage(msg); }
    LRESULT DispatchMessageA(const MSG* msg) override { return ::DispatchMessageA(msg); }
    BOOL PostMessageA(HWND wnd, UINT message, WPARAM w, LPARAM l) override
    {
        return ::PostMessageA(wnd, message, w, l);
    }
    LRESULT SendMessageA(HWND wnd, UINT message, WPARAM w, LPARAM l) override
    {
        return ::SendMessageA(wnd, message, w, l);
    }
    void PostQuitMessage(int code) override { ::PostQuitMessage(code); }
    SHORT GetKeyState(int key) override { return ::GetKeyState(key); }
    int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override
    {
        return ::MessageBoxA(owner, text, caption, type);
    }
    BOOL WinHelpA(HWND wnd, LPCSTR file, UINT command, ULONG_PTR data) override
    {
        return ::WinHelpA(wnd, file, command, data);
    }
    HICON LoadIconA(HINSTANCE instance, LPCSTR name) override
    {
        return ::LoadIconA(instance, name);
    }
    BOOL IsIconic(HWND wnd) override { return ::IsIconic(wnd); }
    int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }
    BOOL DrawIcon(HDC dc, int x, int y, HICON icon) override { return ::DrawIcon(dc, x, y, icon); }
    HDC BeginPaint(HWND wnd, LPPAINTSTRUCT paint) override { return ::BeginPaint(wnd, paint); }
    BOOL EndPaint(HWND wnd, const PAINTSTRUCT* paint) override { return ::EndPaint(wnd, paint); }
};

} // namespace

Os& RealOs()
{
    static Win32Os real;
    return real;
}
