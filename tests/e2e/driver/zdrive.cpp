// zdrive: acts like a user on another program's windows, for the end-to-end tests.
//
//   zdrive.exe COMMAND [ARG...] [COMMAND [ARG...]]...
//   zdrive.exe -f SCRIPT            (one command per line, "quoted" arguments, # comments)
//
// Commands run in order against a current window (set by `window`, `msgbox`, `new-window`,
// `main`) and a target process (set by `start`, or adopted from the first window found). What the
// driver sees goes to stdout as one line per item, UTF-8, key=value pairs that a shell test can
// pick apart. In arguments, \uXXXX stands for one UTF-16 code unit (for captions that are not
// ASCII). An argument that is the name of a command starts the next command.
//
// Exit status: 0 all commands done; 1 a check failed or a bounded wait ran out (the message says
// what was expected); 2 a usage error; 3 `msgbox` or `new-window` saw no window appear in time
// (a distinct, expected outcome for tests that look for the absence of a box).
//
// Clicks and keys are posted, never sent: a click that opens a modal box would block a sender
// until that box is closed.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

const int kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoWindow = 3;

// ---- output ----------------------------------------------------------------------------------

std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

// Quoted for the output: backslash, quote and control characters escaped, the rest as UTF-8.
std::string Q(const std::wstring& w)
{
    std::wstring e = L"\"";
    for (wchar_t c : w) {
        if (c == L'\\' || c == L'"') { e += L'\\'; e += c; }
        else if (c == L'\n') e += L"\\n";
        else if (c == L'\r') e += L"\\r";
        else if (c == L'\t') e += L"\\t";
        else if (c < 0x20) { wchar_t b[8]; swprintf(b, 8, L"\\x%02x", (unsigned)c); e += b; }
        else e += c;
    }
    e += L'"';
    return Utf8(e);
}

// Unbuffered, straight to the handle: a test that is killed on a timeout still shows the lines.
void Out(const char* fmt, ...)
{
    char buf[8192];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf - 1, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    if (n > (int)sizeof buf - 2) n = sizeof buf - 2;
    buf[n++] = '\n';
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buf, n, &written, nullptr);
}

[[noreturn]] void Fail(int code, const char* fmt, ...)
{
    char buf[8192];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    Out("%s %s", code == kExitUsage ? "USAGE:" : "FAILED:", buf);
    ExitProcess(code);
}

// ---- windows ---------------------------------------------------------------------------------

std::wstring TextOf(HWND h)
{
    // WM_GETTEXT works for every class across processes (GetWindowText does not read another
    // process's edit controls). Bounded: a hung owner must not hang the driver.
    wchar_t buf[4096];
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, 4096, (LPARAM)buf, SMTO_ABORTIFHUNG, 1000, &len))
        return std::wstring(L"") + (GetWindowTextW(h, buf, 4096) ? buf : L"");
    buf[len < 4096 ? len : 4095] = 0;
    return buf;
}

// The caption as the window manager keeps it: no message to the owner, safe while it is busy.
std::wstring CaptionOf(HWND h)
{
    wchar_t buf[1024];
    int n = InternalGetWindowText(h, buf, 1024);
    return std::wstring(buf, n > 0 ? n : 0);
}

std::wstring ClassOf(HWND h)
{
    wchar_t buf[256];
    int n = GetClassNameW(h, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

DWORD PidOf(HWND h)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

std::string RectStr(const RECT& r)
{
    char b[64];
    snprintf(b, sizeof b, "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    return b;
}

BOOL CALLBACK Collect(HWND h, LPARAM p)
{
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> v;
    EnumWindows(Collect, (LPARAM)&v);
    return v;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> v;
    EnumChildWindows(parent, Collect, (LPARAM)&v);
    // Direct children only, in their z-order, which for a dialog is the template order.
    std::vector<HWND> direct;
    for (HWND h : v)
        if (GetParent(h) == parent) direct.push_back(h);
    return direct;
}

// Windows a person would see and deal with: visible, with a caption or a dialog box, not ours.
bool IsUserWindow(HWND h)
{
    if (!IsWindowVisible(h) || PidOf(h) == GetCurrentProcessId())
        return false;
    LONG style = GetWindowLongW(h, GWL_STYLE);
    return (style & WS_CAPTION) == WS_CAPTION || ClassOf(h) == L"#32770";
}

int CtrlId(HWND h) { return GetDlgCtrlID(h); }

// Control ids compare on their low 16 bits: -1 and 0xFFFF are the same static-text id.
bool SameId(int a, int b) { return (a & 0xFFFF) == (b & 0xFFFF); }

std::string Hex(unsigned long v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%08lx", v);
    return b;
}

std::string HwndStr(HWND h)
{
    char b[24];
    snprintf(b, sizeof b, "0x%lx", (unsigned long)(ULONG_PTR)h);
    return b;
}

// ---- state -----------------------------------------------------------------------------------

struct State {
    HWND cur = nullptr;       // current window
    HWND main = nullptr;      // the first window found: the program's own dialog
    DWORD pid = 0;            // target process
    HANDLE process = nullptr; // its handle, opened as soon as it is known so the exit code stays readable
    std::set<HWND> baseline;  // top-level windows that existed at the last `mark` (or start-up)
    int shotCount = 0;
} g;

void Adopt(DWORD pid)
{
    if (g.process) return;
    g.pid = pid;
    g.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!g.process)
        Fail(kExitFailed, "expected to open process %lu (error %lu)", pid, GetLastError());
}

bool TargetExited(DWORD* code)
{
    if (!g.process || WaitForSingleObject(g.process, 0) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(g.process, code);
    return true;
}

HWND NeedCur(const char* cmd)
{
    if (!g.cur || !IsWindow(g.cur))
        Fail(kExitFailed, "%s: expected a current window (use `window` or `msgbox` first; the last one is gone)", cmd);
    return g.cur;
}

HWND NeedControl(HWND parent, int id, const char* cmd)
{
    for (HWND c : Children(parent))
        if (SameId(CtrlId(c), id)) return c;
    Fail(kExitFailed, "%s: expected a control with id %d in window %s", cmd, id, Q(CaptionOf(parent)).c_str());
}

HWND FocusOf(HWND w)
{
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &gti))
        return nullptr;
    return gti.hwndFocus;
}

// ---- printing --------------------------------------------------------------------------------

void PrintWindowLine(const char* tag, HWND h)
{
    RECT r; GetWindowRect(h, &r);
    RECT wa; SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0);
    Out("%s hwnd=%s pid=%lu class=%s caption=%s style=%s exstyle=%s rect=%s workarea=%s owner=%s",
        tag, HwndStr(h).c_str(), PidOf(h), Q(ClassOf(h)).c_str(), Q(CaptionOf(h)).c_str(),
        Hex(GetWindowLongW(h, GWL_STYLE)).c_str(), Hex(GetWindowLongW(h, GWL_EXSTYLE)).c_str(),
        RectStr(r).c_str(), RectStr(wa).c_str(), HwndStr(GetWindow(h, GW_OWNER)).c_str());
}

void PrintControls(HWND w)
{
    int index = 0;
    for (HWND c : Children(w)) {
        RECT r; GetWindowRect(c, &r);
        RECT cr = r;
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&cr), 2);
        Out("control index=%d id=%d class=%s text=%s style=%s exstyle=%s visible=%d rect=%s client=%s",
            index++, CtrlId(c), Q(ClassOf(c)).c_str(), Q(TextOf(c)).c_str(),
            Hex(GetWindowLongW(c, GWL_STYLE)).c_str(), Hex(GetWindowLongW(c, GWL_EXSTYLE)).c_str(),
            IsWindowVisible(c) ? 1 : 0, RectStr(r).c_str(), RectStr(cr).c_str());
    }
}

void PrintFocus(HWND w)
{
    HWND f = FocusOf(w);
    if (!f) { Out("focus none"); return; }
    Out("focus hwnd=%s id=%d class=%s text=%s", HwndStr(f).c_str(), CtrlId(f), Q(ClassOf(f)).c_str(),
        Q(CaptionOf(f)).c_str());
}

void Show(HWND w)
{
    PrintWindowLine("window", w);
    PrintControls(w);
    PrintFocus(w);
}

// ---- screenshots -----------------------------------------------------------------------------

// Copies a screen rectangle into a 24-bit BMP. Wine's screen device context reads the X server's
// picture, so windows of every process show as drawn.
bool SaveBmp(const std::wstring& path, const RECT& r)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BOOL ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    SelectObject(mem, old);
    BITMAPINFOHEADER bi = {};
    bi.biSize = sizeof bi; bi.biWidth = w; bi.biHeight = h; bi.biPlanes = 1; bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    int stride = (w * 3 + 3) & ~3;
    std::vector<unsigned char> pixels((size_t)stride * h);
    if (ok)
        ok = GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS) == h;
    DeleteObject(bmp); DeleteDC(mem); ReleaseDC(nullptr, screen);
    if (!ok) return false;
    BITMAPFILEHEADER bf = {};
    bf.bfType = 0x4D42;
    bf.bfOffBits = sizeof bf + sizeof bi;
    bf.bfSize = bf.bfOffBits + (DWORD)pixels.size();
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n;
    ok = WriteFile(f, &bf, sizeof bf, &n, nullptr) && WriteFile(f, &bi, sizeof bi, &n, nullptr) &&
         WriteFile(f, pixels.data(), (DWORD)pixels.size(), &n, nullptr);
    CloseHandle(f);
    return ok;
}

void Shot(const std::wstring& path, HWND w)
{
    RECT r;
    if (w) GetWindowRect(w, &r);
    else { r.left = r.top = 0; r.right = GetSystemMetrics(SM_CXSCREEN); r.bottom = GetSystemMetrics(SM_CYSCREEN); }
    if (!SaveBmp(path, r))
        Fail(kExitFailed, "expected to save a screenshot to %s (error %lu)", Q(path).c_str(), GetLastError());
    Out("shot file=%s rect=%s", Q(path).c_str(), RectStr(r).c_str());
}

// Lets the window's thread handle what is queued (painting comes last) before a picture.
void Settle(HWND w, DWORD ms)
{
    DWORD_PTR r;
    SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &r);
    Sleep(ms);
}

// ---- input -----------------------------------------------------------------------------------

struct KeyName { const wchar_t* name; UINT vk; };
const KeyName kKeys[] = {
    {L"enter", VK_RETURN}, {L"esc", VK_ESCAPE}, {L"f1", VK_F1}, {L"tab", VK_TAB},
    {L"space", VK_SPACE},  {L"left", VK_LEFT},  {L"right", VK_RIGHT},
};

UINT VirtualKey(const std::wstring& name)
{
    for (const KeyName& k : kKeys)
        if (_wcsicmp(k.name, name.c_str()) == 0) return k.vk;
    if (name.size() == 1 && iswalnum(name[0])) return (UINT)towupper(name[0]);
    Fail(kExitUsage, "key: expected enter, esc, f1, tab, space, left, right or one letter or digit, got %s", Q(name).c_str());
}

// A key press as the focused control's thread would take it from its queue: down, then up.
void PostKey(HWND w, UINT vk)
{
    HWND target = FocusOf(w);
    if (!target) target = w;
    UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    Out("key vk=0x%02x to=%s id=%d", vk, HwndStr(target).c_str(), CtrlId(target));
    PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

// The button a person would get with Enter: the default push button, else the dialog's default id.
HWND DefaultButton(HWND w)
{
    for (HWND c : Children(w)) {
        if (_wcsicmp(ClassOf(c).c_str(), L"Button") != 0 || !IsWindowVisible(c)) continue;
        if ((GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return c;
    }
    DWORD_PTR def = 0;
    if (SendMessageTimeoutW(w, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 500, &def) && HIWORD(def) == DC_HASDEFID) {
        HWND c = GetDlgItem(w, LOWORD(def));
        if (c) return c;
    }
    return nullptr;
}

// ---- waiting ---------------------------------------------------------------------------------

long ParseMs(const std::wstring& s, const char* cmd)
{
    wchar_t* end;
    long v = wcstol(s.c_str(), &end, 0);
    if (s.empty() || *end || v < 0)
        Fail(kExitUsage, "%s: expected a number of milliseconds, got %s", cmd, Q(s).c_str());
    return v;
}

// Signed ids (-1) and 32-bit style masks (0x80000000 and up) alike.
long ParseNum(const std::wstring& s, const char* cmd)
{
    wchar_t* end;
    long long v = wcstoll(s.c_str(), &end, 0);
    if (v < -0x80000000LL || v > 0xFFFFFFFFLL) end = const_cast<wchar_t*>(L"!");
    if (s.empty() || *end)
        Fail(kExitUsage, "%s: expected a 32-bit number, got %s", cmd, Q(s).c_str());
    return (long)(unsigned long)v;
}

template <class Pred>
bool WaitFor(long ms, Pred pred)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if ((long)(GetTickCount() - start) >= ms) return false;
        Sleep(20);
    }
}

HWND FindMessageBox(const std::wstring* caption)
{
    for (HWND h : TopLevelWindows()) {
        if (h == g.main || !IsWindowVisible(h) || PidOf(h) != g.pid || ClassOf(h) != L"#32770") continue;
        // A message box is owned by the window it reports to; the program's own dialog, even
        // while it is being destroyed, has no owner and is never taken for one.
        if (!GetWindow(h, GW_OWNER)) continue;
        if (caption && CaptionOf(h) != *caption) continue;
        return h;
    }
    return nullptr;
}

void PrintMessageBox(HWND box)
{
    std::string buttons;
    std::wstring text;
    for (HWND c : Children(box)) {
        if (SameId(CtrlId(c), 0xFFFF) && _wcsicmp(ClassOf(c).c_str(), L"Static") == 0) text = TextOf(c);
        if (_wcsicmp(ClassOf(c).c_str(), L"Button") == 0 && IsWindowVisible(c)) {
            char b[16]; snprintf(b, sizeof b, "%s%d:", buttons.empty() ? "" : ",", CtrlId(c));
            buttons += b + Q(TextOf(c));
        }
    }
    Out("msgbox hwnd=%s pid=%lu caption=%s text=%s buttons=%s owner=%s", HwndStr(box).c_str(), PidOf(box),
        Q(CaptionOf(box)).c_str(), Q(text).c_str(), buttons.c_str(), HwndStr(GetWindow(box, GW_OWNER)).c_str());
}

void Mark()
{
    g.baseline.clear();
    for (HWND h : TopLevelWindows()) g.baseline.insert(h);
}

// ---- autopilot -------------------------------------------------------------------------------

std::wstring FileSafe(const std::wstring& s)
{
    std::wstring r;
    for (wchar_t c : s) r += (c < 128 && iswalnum(c)) ? c : L'_';
    while (r.find(L"__") != std::wstring::npos) r.replace(r.find(L"__"), 2, L"_");
    return r.substr(0, 48);
}

std::wstring ShotName(const std::wstring& dir, HWND w)
{
    wchar_t n[16];
    swprintf(n, 16, L"%02d-", ++g.shotCount);
    return dir + L"\\" + n + FileSafe(CaptionOf(w)) + L".bmp";
}

// Presses "&Yes", then deals with every window that turns up the way a patient user would:
// shows it, takes its picture and presses its default button; until the target has exited.
void Autopilot(long ms, const std::wstring& dir)
{
    HWND dlg = NeedCur("autopilot");
    if (!g.process) Fail(kExitFailed, "autopilot: expected a target process");
    DWORD start = GetTickCount();
    Show(dlg);
    Settle(dlg, 100);
    Shot(ShotName(dir, dlg), dlg);
    HWND yes = nullptr;
    for (HWND c : Children(dlg))
        if (TextOf(c) == L"&Yes") yes = c;
    if (!yes) Fail(kExitFailed, "autopilot: expected a \"&Yes\" button in %s", Q(CaptionOf(dlg)).c_str());
    PostMessageW(yes, BM_CLICK, 0, 0);
    Out("autopilot pressed=\"&Yes\" id=%d", CtrlId(yes));

    std::set<HWND> seen = {dlg};
    for (HWND h : TopLevelWindows()) if (IsUserWindow(h)) seen.insert(h);
    struct Pressed { HWND h; DWORD at; };
    std::vector<Pressed> pressed;
    DWORD code;
    while (!TargetExited(&code)) {
        if ((long)(GetTickCount() - start) >= ms)
            Fail(kExitFailed, "autopilot: expected the installer (pid %lu) to exit within %ld ms", g.pid, ms);
        for (HWND h : TopLevelWindows()) {
            if (seen.count(h) || !IsUserWindow(h)) continue;
            seen.insert(h);
            Settle(h, 150);
            if (!IsWindow(h)) continue;
            Show(h);
            if (ClassOf(h) == L"#32770" && PidOf(h) == g.pid) PrintMessageBox(h);
            Shot(ShotName(dir, h), h);
            HWND def = DefaultButton(h);
            if (def) {
                Out("autopilot pressed=%s id=%d in=%s", Q(TextOf(def)).c_str(), CtrlId(def), Q(CaptionOf(h)).c_str());
                PostMessageW(def, BM_CLICK, 0, 0);
            } else {
                PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
                Out("autopilot closed=%s (no default button)", Q(CaptionOf(h)).c_str());
            }
            pressed.push_back({h, GetTickCount()});
        }
        // A window that ignored its button for a while gets it again (a press can land before
        // the window reads its queue); it is reported so that the log shows the retry.
        for (Pressed& p : pressed) {
            if (!IsWindow(p.h) || !IsWindowVisible(p.h) || GetTickCount() - p.at < 3000) continue;
            HWND def = DefaultButton(p.h);
            if (def) PostMessageW(def, BM_CLICK, 0, 0);
            else PostMessageW(p.h, WM_SYSCOMMAND, SC_CLOSE, 0);
            Out("autopilot pressed-again in=%s", Q(CaptionOf(p.h)).c_str());
            p.at = GetTickCount();
        }
        Sleep(30);
    }
    Out("exit code=%lu", code);
}

// ---- ending processes ------------------------------------------------------------------------

// Ends every process whose executable name is one of `names` (any letter case), and every process
// they started, directly or not, as far as the snapshot's parent ids tell. Used to leave the
// prefix clean after a test: the program under test, the setup programs and help engine it
// starts, and whatever those started.
void EndProcesses(const std::vector<std::wstring>& names, long ms)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        Fail(kExitFailed, "end-processes: expected a process snapshot (error %lu)", GetLastError());
    struct Proc { DWORD pid, parent; std::wstring exe; };
    std::vector<Proc> procs;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
        procs.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
    CloseHandle(snap);

    std::set<DWORD> doomed;
    for (const Proc& p : procs)
        for (const std::wstring& n : names)
            if (_wcsicmp(p.exe.c_str(), n.c_str()) == 0) doomed.insert(p.pid);
    for (bool grew = true; grew;) {
        grew = false;
        for (const Proc& p : procs)
            if (!doomed.count(p.pid) && doomed.count(p.parent) && p.pid != GetCurrentProcessId()) {
                doomed.insert(p.pid);
                grew = true;
            }
    }
    std::vector<HANDLE> handles;
    for (const Proc& p : procs) {
        if (!doomed.count(p.pid)) continue;
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.pid);
        if (!h) continue;
        TerminateProcess(h, 1);
        handles.push_back(h);
        Out("ended pid=%lu parent=%lu exe=%s", p.pid, p.parent, Q(p.exe).c_str());
    }
    DWORD start = GetTickCount();
    for (HANDLE h : handles) {
        long left = ms - (long)(GetTickCount() - start);
        if (WaitForSingleObject(h, left > 0 ? (DWORD)left : 0) != WAIT_OBJECT_0)
            Fail(kExitFailed, "end-processes: expected every ended process to be gone within %ld ms", ms);
        CloseHandle(h);
    }
}

// ---- commands --------------------------------------------------------------------------------

struct Command {
    const wchar_t* name;
    int minArgs, maxArgs;
    const char* help;
};

const Command kCommands[] = {
    {L"start", 1, 1, "start EXE: CreateProcess EXE (its directory current); it becomes the target"},
    {L"window", 2, 2, "window CAPTION MS: wait for a visible top-level window with this exact caption"},
    {L"main", 0, 0, "main: make the first window found current again"},
    {L"mark", 0, 0, "mark: remember the top-level windows that exist now (for new-window)"},
    {L"new-window", 1, 1, "new-window MS: wait for a visible top-level window that did not exist at mark; status 3 if none"},
    {L"windows", 0, 0, "windows: list the visible top-level windows of other processes"},
    {L"show", 0, 0, "show: print the current window, its controls and the focused control"},
    {L"expect-caption", 1, 1, "expect-caption TEXT: the current window's caption is TEXT"},
    {L"expect-control", 3, 3, "expect-control ID CLASS TEXT: a control ID of class CLASS reads TEXT"},
    {L"expect-text", 2, 2, "expect-text ID TEXT: control ID reads TEXT"},
    {L"expect-order", 1, 32, "expect-order ID...: the controls, in z (template) order, have exactly these ids"},
    {L"expect-style", 3, 3, "expect-style ID|window MASK VALUE: (style & MASK) == VALUE"},
    {L"expect-exstyle", 3, 3, "expect-exstyle ID|window MASK VALUE: (extended style & MASK) == VALUE"},
    {L"expect-focus", 1, 1, "expect-focus ID: the control with the keyboard focus is ID (within 1 s)"},
    {L"expect-centred", 0, 0, "expect-centred: the current window is centred in the work area (within 1 pixel)"},
    {L"expect-running", 0, 0, "expect-running: the target process has not exited"},
    {L"expect-no-window", 2, 2, "expect-no-window CAPTION MS: no window with this caption shows up within MS"},
    {L"click", 1, 1, "click ID: post BM_CLICK to control ID of the current window"},
    {L"command", 1, 1, "command ID: post WM_COMMAND(ID, BN_CLICKED) to the current window"},
    {L"key", 1, 1, "key NAME: post a key press (enter esc f1 tab space left right, a letter or digit) to the focus"},
    {L"close", 0, 0, "close: post WM_SYSCOMMAND SC_CLOSE (the caption's close box) to the current window"},
    {L"msgbox", 1, 2, "msgbox MS [CAPTION]: wait for an owned message box (#32770) of the target other than its first window; status 3 if none"},
    {L"no-msgbox", 1, 1, "no-msgbox MS: check that no message box of the target appears within MS"},
    {L"wait-gone", 1, 1, "wait-gone MS: wait until the current window is destroyed or hidden"},
    {L"wait-exit", 1, 2, "wait-exit MS [CODE]: wait for the target process to end; print (and check) its exit code"},
    {L"sleep", 1, 1, "sleep MS"},
    {L"shot", 1, 2, "shot FILE.bmp [screen]: save a picture of the current window (or the whole screen)"},
    {L"autopilot", 2, 2, "autopilot MS DIR: press \"&Yes\", then every new window's default button (with a picture in DIR) until the target exits"},
    {L"echo", 1, 1, "echo TEXT: print TEXT (a marker in the log)"},
    {L"end-processes", 1, 16, "end-processes NAME...: end the processes with these executable names and all they started"},
};

const Command* Lookup(const std::wstring& name)
{
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

DWORD StyleOf(HWND w, const std::wstring& which, int index, const char* cmd)
{
    HWND h = which == L"window" ? w : NeedControl(w, (int)ParseNum(which, cmd), cmd);
    return (DWORD)GetWindowLongW(h, index);
}

void Run(const std::wstring& name, const std::vector<std::wstring>& a)
{
    std::string cmd = Utf8(name);
    const char* c = cmd.c_str();

    if (name == L"start") {
        std::wstring exe = a[0], dir = exe.substr(0, exe.find_last_of(L"\\/") == std::wstring::npos ? 0 : exe.find_last_of(L"\\/"));
        STARTUPINFOW si = {}; si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &si, &pi))
            Fail(kExitFailed, "start: expected to start %s (error %lu)", Q(exe).c_str(), GetLastError());
        CloseHandle(pi.hThread);
        g.process = pi.hProcess;
        g.pid = pi.dwProcessId;
        Out("started pid=%lu exe=%s", g.pid, Q(exe).c_str());
    } else if (name == L"window") {
        long ms = ParseMs(a[1], c);
        HWND found = nullptr;
        WaitFor(ms, [&] {
            for (HWND h : TopLevelWindows())
                if (IsWindowVisible(h) && CaptionOf(h) == a[0] && (!g.process || g.main || PidOf(h) == g.pid)) { found = h; return true; }
            return false;
        });
        if (!found) Fail(kExitFailed, "window: expected a visible window captioned %s within %ld ms", Q(a[0]).c_str(), ms);
        if (!g.process) Adopt(PidOf(found));
        if (!g.main) g.main = found;
        g.cur = found;
        PrintWindowLine("window", found);
    } else if (name == L"main") {
        if (!g.main) Fail(kExitFailed, "main: expected a window found earlier with `window`");
        g.cur = g.main;
        Out("main hwnd=%s", HwndStr(g.main).c_str());
    } else if (name == L"mark") {
        Mark();
        Out("mark windows=%u", (unsigned)g.baseline.size());
    } else if (name == L"new-window") {
        long ms = ParseMs(a[0], c);
        HWND found = nullptr;
        WaitFor(ms, [&] {
            for (HWND h : TopLevelWindows())
                if (!g.baseline.count(h) && IsUserWindow(h)) { found = h; return true; }
            return false;
        });
        if (!found) { Out("no new window appeared within %ld ms", ms); ExitProcess(kExitNoWindow); }
        Settle(found, 100);
        g.cur = found;
        PrintWindowLine("new-window", found);
    } else if (name == L"windows") {
        for (HWND h : TopLevelWindows())
            if (IsUserWindow(h)) PrintWindowLine("top", h);
    } else if (name == L"show") {
        Show(NeedCur(c));
    } else if (name == L"expect-caption") {
        std::wstring got = CaptionOf(NeedCur(c));
        if (got != a[0]) Fail(kExitFailed, "expected the caption %s, got %s", Q(a[0]).c_str(), Q(got).c_str());
        Out("ok caption=%s", Q(got).c_str());
    } else if (name == L"expect-control" || name == L"expect-text") {
        bool withClass = name == L"expect-control";
        int id = (int)ParseNum(a[0], c);
        HWND ctl = NeedControl(NeedCur(c), id, c);
        std::wstring cls = ClassOf(ctl), text = TextOf(ctl), wantText = withClass ? a[2] : a[1];
        if (withClass && _wcsicmp(cls.c_str(), a[1].c_str()) != 0)
            Fail(kExitFailed, "expected control %d to be of class %s, got %s", id, Q(a[1]).c_str(), Q(cls).c_str());
        if (text != wantText)
            Fail(kExitFailed, "expected control %d to read %s, got %s", id, Q(wantText).c_str(), Q(text).c_str());
        Out("ok control id=%d class=%s text=%s", id, Q(cls).c_str(), Q(text).c_str());
    } else if (name == L"expect-order") {
        std::string want, got;
        for (const std::wstring& s : a) want += (want.empty() ? "" : " ") + std::to_string(ParseNum(s, c));
        std::vector<HWND> kids = Children(NeedCur(c));
        bool same = kids.size() == a.size();
        for (size_t i = 0; i < kids.size(); ++i) {
            got += (got.empty() ? "" : " ") + std::to_string(CtrlId(kids[i]));
            if (same && !SameId(CtrlId(kids[i]), (int)ParseNum(a[i], c))) same = false;
        }
        if (!same) Fail(kExitFailed, "expected the controls in the order %s, got %s", want.c_str(), got.c_str());
        Out("ok order=%s", got.c_str());
    } else if (name == L"expect-style" || name == L"expect-exstyle") {
        int index = name == L"expect-style" ? GWL_STYLE : GWL_EXSTYLE;
        DWORD mask = (DWORD)ParseNum(a[1], c), want = (DWORD)ParseNum(a[2], c);
        DWORD got = StyleOf(NeedCur(c), a[0], index, c);
        if ((got & mask) != want)
            Fail(kExitFailed, "expected %s of %s masked with %s to be %s, got %s (all: %s)", c + 7, Utf8(a[0]).c_str(),
                 Hex(mask).c_str(), Hex(want).c_str(), Hex(got & mask).c_str(), Hex(got).c_str());
        Out("ok %s %s=%s", c + 7, Utf8(a[0]).c_str(), Hex(got).c_str());
    } else if (name == L"expect-focus") {
        HWND w = NeedCur(c);
        int id = (int)ParseNum(a[0], c);
        HWND f = nullptr;
        // Keys posted just before are handled by the target in its own time: allow it a moment.
        WaitFor(1000, [&] { f = FocusOf(w); return f && GetParent(f) == w && SameId(CtrlId(f), id); });
        if (!f || GetParent(f) != w || !SameId(CtrlId(f), id))
            Fail(kExitFailed, "expected the focus on control %d of %s, got %s", id, Q(CaptionOf(w)).c_str(),
                 f ? ("id " + std::to_string(CtrlId(f)) + " " + Q(CaptionOf(f))).c_str() : "no focus");
        Out("ok focus id=%d text=%s", id, Q(CaptionOf(f)).c_str());
    } else if (name == L"expect-centred") {
        HWND w = NeedCur(c);
        RECT r, wa;
        GetWindowRect(w, &r);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0);
        long dx = (r.left - wa.left) - (wa.right - r.right), dy = (r.top - wa.top) - (wa.bottom - r.bottom);
        if (labs(dx) > 1 || labs(dy) > 1)
            Fail(kExitFailed, "expected %s centred in the work area %s (equal margins), got %s: left-right margin difference %ld, top-bottom %ld",
                 Q(CaptionOf(w)).c_str(), RectStr(wa).c_str(), RectStr(r).c_str(), dx, dy);
        Out("ok centred rect=%s workarea=%s", RectStr(r).c_str(), RectStr(wa).c_str());
    } else if (name == L"expect-running") {
        DWORD code;
        if (!g.process) Fail(kExitFailed, "expect-running: expected a target process");
        if (TargetExited(&code)) Fail(kExitFailed, "expected process %lu still running, it exited with code %lu", g.pid, code);
        Out("ok running pid=%lu", g.pid);
    } else if (name == L"expect-no-window") {
        long ms = ParseMs(a[1], c);
        HWND found = nullptr;
        WaitFor(ms, [&] {
            for (HWND h : TopLevelWindows())
                if (IsWindowVisible(h) && CaptionOf(h) == a[0]) { found = h; return true; }
            return false;
        });
        if (found) Fail(kExitFailed, "expected no window captioned %s within %ld ms, one appeared (pid %lu)", Q(a[0]).c_str(), ms, PidOf(found));
        Out("ok no window captioned %s within %ld ms", Q(a[0]).c_str(), ms);
    } else if (name == L"click") {
        HWND ctl = NeedControl(NeedCur(c), (int)ParseNum(a[0], c), c);
        Out("click id=%d text=%s", CtrlId(ctl), Q(TextOf(ctl)).c_str());
        PostMessageW(ctl, BM_CLICK, 0, 0);
    } else if (name == L"command") {
        HWND w = NeedCur(c);
        int id = (int)ParseNum(a[0], c);
        PostMessageW(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(w, id));
        Out("command id=%d", id);
    } else if (name == L"key") {
        PostKey(NeedCur(c), VirtualKey(a[0]));
    } else if (name == L"close") {
        PostMessageW(NeedCur(c), WM_SYSCOMMAND, SC_CLOSE, 0);
        Out("close hwnd=%s", HwndStr(g.cur).c_str());
    } else if (name == L"msgbox" || name == L"no-msgbox") {
        long ms = ParseMs(a[0], c);
        if (!g.process) Fail(kExitFailed, "%s: expected a target process", c);
        const std::wstring* caption = a.size() > 1 ? &a[1] : nullptr;
        HWND box = nullptr;
        WaitFor(ms, [&] { return (box = FindMessageBox(caption)) != nullptr; });
        if (name == L"no-msgbox") {
            if (box) { PrintMessageBox(box); Fail(kExitFailed, "expected no message box within %ld ms, one appeared", ms); }
            Out("no message box appeared within %ld ms", ms);
            return;
        }
        if (!box) { Out("no message box appeared within %ld ms", ms); ExitProcess(kExitNoWindow); }
        Settle(box, 100);
        g.cur = box;
        PrintMessageBox(box);
    } else if (name == L"wait-gone") {
        HWND w = g.cur;
        long ms = ParseMs(a[0], c);
        if (!WaitFor(ms, [&] { return !IsWindow(w) || !IsWindowVisible(w); }))
            Fail(kExitFailed, "expected window %s to go within %ld ms", Q(CaptionOf(w)).c_str(), ms);
        Out("gone hwnd=%s", HwndStr(w).c_str());
    } else if (name == L"wait-exit") {
        long ms = ParseMs(a[0], c);
        if (!g.process) Fail(kExitFailed, "wait-exit: expected a target process");
        if (WaitForSingleObject(g.process, (DWORD)ms) != WAIT_OBJECT_0)
            Fail(kExitFailed, "expected process %lu to exit within %ld ms", g.pid, ms);
        DWORD code = 0;
        GetExitCodeProcess(g.process, &code);
        Out("exit code=%lu", code);
        if (a.size() > 1 && code != (DWORD)ParseNum(a[1], c))
            Fail(kExitFailed, "expected exit code %s, got %lu", Utf8(a[1]).c_str(), code);
    } else if (name == L"sleep") {
        Sleep((DWORD)ParseMs(a[0], c));
    } else if (name == L"shot") {
        bool screen = a.size() > 1 && a[1] == L"screen";
        if (a.size() > 1 && !screen) Fail(kExitUsage, "shot: expected `screen` or nothing after the file name");
        HWND w = screen ? nullptr : NeedCur(c);
        if (w) Settle(w, 50);
        Shot(a[0], w);
    } else if (name == L"autopilot") {
        Autopilot(ParseMs(a[0], c), a[1]);
    } else if (name == L"end-processes") {
        EndProcesses(a, 5000);
    } else if (name == L"echo") {
        Out("%s", Utf8(a[0]).c_str());
    }
}

// \uXXXX becomes one UTF-16 code unit; every other character stands for itself.
std::wstring Unescape(const std::wstring& s)
{
    std::wstring r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'\\' && i + 5 < s.size() + 0 && s[i + 1] == L'u' && iswxdigit(s[i + 2]) && iswxdigit(s[i + 3]) &&
            iswxdigit(s[i + 4]) && iswxdigit(s[i + 5])) {
            r += (wchar_t)wcstoul(s.substr(i + 2, 4).c_str(), nullptr, 16);
            i += 5;
        } else {
            r += s[i];
        }
    }
    return r;
}

std::vector<std::wstring> ScriptTokens(const std::wstring& path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) Fail(kExitUsage, "-f: expected a readable script %s", Q(path).c_str());
    std::string bytes;
    char buf[4096];
    DWORD n;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n) bytes.append(buf, n);
    CloseHandle(f);
    std::wstring text = Wide(bytes);
    std::vector<std::wstring> tokens;
    size_t i = 0;
    while (i < text.size()) {
        wchar_t ch = text[i];
        if (ch == L'#') { while (i < text.size() && text[i] != L'\n') ++i; continue; }
        if (iswspace(ch)) { ++i; continue; }
        std::wstring t;
        if (ch == L'"') {
            ++i;
            while (i < text.size() && text[i] != L'"') t += text[i++];
            ++i;
        } else {
            while (i < text.size() && !iswspace(text[i])) t += text[i++];
        }
        tokens.push_back(t);
    }
    return tokens;
}

void Usage()
{
    Out("usage: zdrive.exe COMMAND [ARG...]... | zdrive.exe -f SCRIPT");
    for (const Command& c : kCommands) Out("  %s", c.help);
    ExitProcess(kExitUsage);
}

} // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> tokens;
    if (argc == 3 && std::wstring(argv[1]) == L"-f")
        tokens = ScriptTokens(argv[2]);
    else
        for (int i = 1; i < argc; ++i) tokens.push_back(argv[i]);
    if (tokens.empty()) Usage();
    Mark();

    // Split into commands: a command takes its arguments up to its maximum, stopping early at
    // the next command name once it has its minimum.
    size_t i = 0;
    while (i < tokens.size()) {
        const Command* cmd = Lookup(tokens[i]);
        if (!cmd) Fail(kExitUsage, "expected a command name, got %s (run zdrive.exe alone for the list)", Q(tokens[i]).c_str());
        std::vector<std::wstring> args;
        ++i;
        while (i < tokens.size() && (int)args.size() < cmd->maxArgs &&
               ((int)args.size() < cmd->minArgs || !Lookup(tokens[i])))
            args.push_back(Unescape(tokens[i++]));
        if ((int)args.size() < cmd->minArgs)
            Fail(kExitUsage, "%s: expected %d argument(s); %s", Utf8(cmd->name).c_str(), cmd->minArgs, cmd->help);
        Run(cmd->name, args);
    }
    return kExitOk;
}
