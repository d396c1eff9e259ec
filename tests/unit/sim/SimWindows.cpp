// The simulated Windows: fake windows and dialogs, the message queue, message boxes, help,
// icons and painting.
#include "sim/SimOsInternal.h"

#include <cstring>

using namespace simdetail;

namespace {

std::string ButtonName(int id)
{
    switch (id) {
    case IDOK: return "IDOK";
    case IDCANCEL: return "IDCANCEL";
    case IDABORT: return "IDABORT";
    case IDRETRY: return "IDRETRY";
    case IDIGNORE: return "IDIGNORE";
    case IDYES: return "IDYES";
    case IDNO: return "IDNO";
    default: return std::to_string(id);
    }
}

// The answers a box of this type can give.
std::vector<int> Buttons(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    }
}

}  // namespace

// --- the window table ------------------------------------------------------------------------

HWND SimOs::NewWindow(const std::string& name, UINT templateId, HWND parent, DLGPROC proc,
                      LPARAM param, const RECT& rect)
{
    auto w = std::make_unique<SimWindow>();
    w->hwnd = reinterpret_cast<HWND>(kWindowBase + 0x10 * (m_windows.size() + 1));
    w->name = name;
    w->templateId = templateId;
    w->parent = parent;
    w->proc = proc;
    w->initParam = param;
    w->rect = rect;
    w->clientWidth = rect.right - rect.left;
    w->clientHeight = rect.bottom - rect.top;
    HWND hwnd = w->hwnd;
    m_windows.push_back(std::move(w));
    return hwnd;
}

SimWindow* SimOs::WindowPtr(HWND h)
{
    return const_cast<SimWindow*>(static_cast<const SimOs*>(this)->WindowPtr(h));
}

const SimWindow* SimOs::WindowPtr(HWND h) const
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v <= kWindowBase || (v - kWindowBase) % 0x10 != 0)
        return nullptr;
    size_t i = (v - kWindowBase) / 0x10 - 1;
    return i < m_windows.size() ? m_windows[i].get() : nullptr;
}

void SimOs::AddDialogTemplate(UINT id, const SimDialogTemplate& t)
{
    m_templates[id] = t;
    AddResource(RT_DIALOG, static_cast<WORD>(id), "dialog template");
}

void SimOs::AddIcon(WORD id)
{
    m_icons.insert(id);
    AddResource(RT_GROUP_ICON, id, "icon group");
}

HICON SimOs::IconHandle(WORD id) const { return reinterpret_cast<HICON>(kIconBase + id); }

HWND SimOs::AddWindow(const RECT& rect, HWND parent)
{
    HWND h = NewWindow("wnd " + std::to_string(++m_plainWindows), 0, parent, nullptr, 0, rect);
    WindowPtr(h)->visible = true;
    return h;
}

bool SimOs::HasWindow(HWND wnd) const
{
    const SimWindow* w = WindowPtr(wnd);
    return w && w->alive;
}

const SimWindow& SimOs::Window(HWND wnd) const
{
    static const SimWindow kNone{};
    const SimWindow* w = WindowPtr(wnd);
    if (!w) {
        ADD_FAILURE() << "SimOs::Window: no window " << WindowName(wnd);
        return kNone;
    }
    return *w;
}

void SimOs::SetIconic(HWND wnd, bool iconic)
{
    if (SimWindow* w = WindowPtr(wnd))
        w->iconic = iconic;
    else
        ADD_FAILURE() << "SimOs::SetIconic: no window " << WindowName(wnd);
}

void SimOs::SetClientSize(HWND wnd, int cx, int cy)
{
    if (SimWindow* w = WindowPtr(wnd)) {
        w->clientWidth = cx;
        w->clientHeight = cy;
    } else {
        ADD_FAILURE() << "SimOs::SetClientSize: no window " << WindowName(wnd);
    }
}

void SimOs::SetLastActivePopup(HWND wnd, HWND popup)
{
    if (SimWindow* w = WindowPtr(wnd))
        w->lastActivePopup = popup;
    else
        ADD_FAILURE() << "SimOs::SetLastActivePopup: no window " << WindowName(wnd);
}

void SimOs::SetKeyDown(int vk, bool down)
{
    if (down)
        m_keysDown.insert(vk);
    else
        m_keysDown.erase(vk);
}

std::vector<std::string> SimOs::MessageBoxTexts() const
{
    std::vector<std::string> texts;
    for (const SimMessageBox& b : m_boxes)
        texts.push_back(b.text);
    return texts;
}

// --- message delivery --------------------------------------------------------------------------

std::string SimOs::ParamText(UINT message, WPARAM wParam, LPARAM lParam) const
{
    switch (message) {
    case WM_SETICON:
        return Hex(wParam) + ", " + IconName(reinterpret_cast<HICON>(lParam));
    case WM_ICONERASEBKGND:
    case WM_ERASEBKGND: {
        uintptr_t dc = static_cast<uintptr_t>(wParam);
        return (dc > kDcBase && dc < kDcBase + 0x1000000 ? "dc " + Dec(dc - kDcBase) : Hex(dc)) +
               ", " + Hex(static_cast<uintptr_t>(lParam));
    }
    default:
        return Hex(wParam) + ", " + Hex(static_cast<uintptr_t>(lParam));
    }
}

INT_PTR SimOs::Deliver(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam)
{
    size_t e = Begin(kSimDeliveries, MessageName(message).c_str(),
                     w.name + " " + MessageName(message) + "(" + ParamText(message, wParam, lParam) + ")");
    w.messages.push_back(SimDelivery{w.hwnd, message, wParam, lParam, 0});
    size_t i = w.messages.size() - 1;
    INT_PTR r = w.proc ? w.proc(w.hwnd, message, wParam, lParam) : 0;
    w.messages[i].result = r;
    SetResult(e, Hex(static_cast<uintptr_t>(r)));
    return r;
}

// A message to a window, as its window procedure would take it: a dialog's procedure first,
// then, if it declines (returns FALSE), the system's default processing.
LRESULT SimOs::Route(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!w.proc)
        return DefaultProcessing(w, message, wParam, lParam);
    INT_PTR r = Deliver(w, message, wParam, lParam);
    if (!r)
        return DefaultProcessing(w, message, wParam, lParam);
    switch (message) {
    // The messages whose dialog-procedure result is the message's own result.
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return r;
    default:
        return 0;   // the result a procedure could set with DWLP_MSGRESULT; none here
    }
}

LRESULT SimOs::DefaultProcessing(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETICON: {
        HICON& slot = wParam == ICON_BIG ? w.bigIcon : w.smallIcon;
        HICON previous = slot;
        slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
        return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w.bigIcon : w.smallIcon);
    case WM_ERASEBKGND:
    case WM_ICONERASEBKGND:
        return 1;
    case WM_CLOSE:
        // A dialog turns the close box into the Cancel command; a plain window is destroyed.
        if (w.templateId)
            m_queue.push_back(MSG{w.hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, 0, {0, 0}});
        else
            Destroy(w);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            return Route(w, WM_CLOSE, 0, 0);
        return 0;
    default:
        return 0;
    }
}

void SimOs::Destroy(SimWindow& w)
{
    if (!w.alive)
        return;
    w.alive = false;   // early, so a nested DestroyWindow of the same window finds it gone
    w.visible = false;
    if (w.proc)
        Deliver(w, WM_DESTROY, 0, 0);
    for (auto& other : m_windows)
        if (other->alive && other->parent == w.hwnd)
            Destroy(*other);
    if (w.proc)
        Deliver(w, WM_NCDESTROY, 0, 0);
    // Messages posted to a window go with it.
    for (auto it = m_queue.begin(); it != m_queue.end();)
        it = it->hwnd == w.hwnd ? m_queue.erase(it) : it + 1;
}

// --- dialogs and windows -------------------------------------------------------------------------

HWND SimOs::CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                               LPARAM param)
{
    std::string id = IS_INTRESOURCE(templateName) ? Dec(reinterpret_cast<uintptr_t>(templateName)) : Str(templateName);
    char mod[24];
    std::snprintf(mod, sizeof mod, "0x%08lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(instance)));
    size_t e = Begin(kSimCalls, "CreateDialogParamA",
                     std::string(instance ? mod : "null") + ", " + ResName(templateName) +
                         ", parent=" + WindowName(parent));
    if (SimFault* f = Faulted("CreateDialogParamA", id))
        return Fails<HWND>(e, nullptr, f->m_error);
    if (instance && instance != m_module)
        return Fails<HWND>(e, nullptr, ERROR_RESOURCE_DATA_NOT_FOUND);
    auto t = IS_INTRESOURCE(templateName)
                 ? m_templates.find(static_cast<UINT>(reinterpret_cast<uintptr_t>(templateName)))
                 : m_templates.end();
    if (t == m_templates.end())
        return Fails<HWND>(e, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);
    if (parent && !HasWindow(parent))
        return Fails<HWND>(e, nullptr, ERROR_INVALID_WINDOW_HANDLE);
    const SimDialogTemplate tpl = t->second;
    HWND hwnd = NewWindow("dlg " + id, t->first, parent, proc, param, RECT{0, 0, tpl.width, tpl.height});
    SimWindow* w = WindowPtr(hwnd);
    w->clientWidth = tpl.clientWidth >= 0 ? tpl.clientWidth : tpl.width - 6;
    w->clientHeight = tpl.clientHeight >= 0 ? tpl.clientHeight : tpl.height - 25;
    w->iconic = tpl.iconic;
    m_lastDialog = hwnd;
    // As the dialog manager does: the template's font, then WM_INITDIALOG, then the window is
    // shown if the template says WS_VISIBLE.
    if (proc) {
        Deliver(*w, WM_SETFONT, static_cast<WPARAM>(kFontBase), 0);
        if (w->alive)
            Deliver(*w, WM_INITDIALOG, 0, param);
    }
    if (!w->alive) {
        SetResult(e, "null (destroyed while initialising)");
        return nullptr;
    }
    if (tpl.visible)
        w->visible = true;
    SetResult(e, w->name);
    return hwnd;
}

BOOL SimOs::DestroyWindow(HWND wnd)
{
    size_t e = Begin(kSimCalls, "DestroyWindow", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    Destroy(*w);
    SetResult(e, "TRUE");
    return TRUE;
}

BOOL SimOs::IsWindow(HWND wnd)
{
    size_t e = Begin(kSimCalls, "IsWindow", WindowName(wnd));
    BOOL r = HasWindow(wnd) ? TRUE : FALSE;
    SetResult(e, Bool(r));
    return r;
}

BOOL SimOs::ShowWindow(HWND wnd, int show)
{
    size_t e = Begin(kSimCalls, "ShowWindow", WindowName(wnd) + ", " + std::to_string(show));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    w->shows.push_back(show);
    w->visible = show != SW_HIDE;
    if (show == SW_MINIMIZE || show == SW_SHOWMINIMIZED || show == SW_SHOWMINNOACTIVE || show == SW_FORCEMINIMIZE)
        w->iconic = true;
    else if (show == SW_RESTORE || show == SW_SHOWNORMAL || show == SW_MAXIMIZE)
        w->iconic = false;
    SetResult(e, Bool(wasVisible));
    return wasVisible;
}

BOOL SimOs::EnableWindow(HWND wnd, BOOL enable)
{
    size_t e = Begin(kSimCalls, "EnableWindow", WindowName(wnd) + ", " + std::to_string(enable));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    BOOL wasDisabled = w->enabled ? FALSE : TRUE;
    w->enabled = enable != FALSE;
    SetResult(e, Bool(wasDisabled));
    return wasDisabled;
}

BOOL SimOs::IsWindowEnabled(HWND wnd)
{
    size_t e = Begin(kSimCalls, "IsWindowEnabled", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    BOOL r = w && w->alive && w->enabled ? TRUE : FALSE;
    SetResult(e, Bool(r));
    return r;
}

BOOL SimOs::GetWindowRect(HWND wnd, LPRECT rect)
{
    size_t e = Begin(kSimCalls, "GetWindowRect", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    if (!rect) {
        Violation("GetWindowRect with a null rectangle");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    *rect = w->rect;
    SetResult(e, "TRUE " + std::to_string(rect->left) + "," + std::to_string(rect->top) + "," +
                     std::to_string(rect->right) + "," + std::to_string(rect->bottom));
    return TRUE;
}

BOOL SimOs::GetClientRect(HWND wnd, LPRECT rect)
{
    size_t e = Begin(kSimCalls, "GetClientRect", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    if (!rect) {
        Violation("GetClientRect with a null rectangle");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    *rect = RECT{0, 0, w->clientWidth, w->clientHeight};
    SetResult(e, "TRUE 0,0," + std::to_string(w->clientWidth) + "," + std::to_string(w->clientHeight));
    return TRUE;
}

BOOL SimOs::SetWindowPos(HWND wnd, HWND after, int x, int y, int cx, int cy, UINT flags)
{
    size_t e = Begin(kSimCalls, "SetWindowPos",
                     WindowName(wnd) + ", " + WindowName(after) + ", " + std::to_string(x) + ", " +
                         std::to_string(y) + ", " + std::to_string(cx) + ", " + std::to_string(cy) +
                         ", " + Hex(flags));
    m_windowPositions.push_back(SimWindowPos{wnd, after, x, y, cx, cy, flags});
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    int width = w->rect.right - w->rect.left;
    int height = w->rect.bottom - w->rect.top;
    if (!(flags & SWP_NOSIZE)) {
        w->clientWidth += cx - width;
        w->clientHeight += cy - height;
        width = cx;
        height = cy;
    }
    int left = flags & SWP_NOMOVE ? w->rect.left : x;
    int top = flags & SWP_NOMOVE ? w->rect.top : y;
    w->rect = RECT{left, top, left + width, top + height};
    if (flags & SWP_SHOWWINDOW)
        w->visible = true;
    if (flags & SWP_HIDEWINDOW)
        w->visible = false;
    SetResult(e, "TRUE");
    return TRUE;
}

BOOL SimOs::SystemParametersInfoA(UINT action, UINT uiParam, PVOID pvParam, UINT winIni)
{
    size_t e = Begin(kSimCalls, "SystemParametersInfoA",
                     action == SPI_GETWORKAREA ? std::string("SPI_GETWORKAREA") : Hex(action));
    if (SimFault* f = Faulted("SystemParametersInfoA", ""))
        return Fails<BOOL>(e, FALSE, f->m_error);
    if (action != SPI_GETWORKAREA)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_PARAMETER);
    if (!pvParam) {
        Violation("SystemParametersInfoA(SPI_GETWORKAREA) with a null rectangle");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    *static_cast<RECT*>(pvParam) = m_workArea;
    SetResult(e, "TRUE");
    return TRUE;
}

HWND SimOs::GetLastActivePopup(HWND wnd)
{
    size_t e = Begin(kSimCalls, "GetLastActivePopup", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<HWND>(e, nullptr, ERROR_INVALID_WINDOW_HANDLE);
    HWND r = w->lastActivePopup && HasWindow(w->lastActivePopup) ? w->lastActivePopup : wnd;
    SetResult(e, WindowName(r));
    return r;
}

// --- the message queue ---------------------------------------------------------------------------

void SimOs::Post(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    m_queue.push_back(MSG{wnd, message, wParam, lParam, 0, {0, 0}});
}

void SimOs::OnIdle(std::function<void()> step) { m_idleSteps.push_back(std::move(step)); }

void SimOs::PostToDialogWhenIdle(UINT message, WPARAM wParam, LPARAM lParam)
{
    OnIdle([this, message, wParam, lParam] {
        if (!HasWindow(m_lastDialog)) {
            ADD_FAILURE() << "SimOs::PostToDialogWhenIdle: no dialog is up to receive "
                          << MessageName(message);
            return;
        }
        Post(m_lastDialog, message, wParam, lParam);
    });
}

BOOL SimOs::GetMessageA(LPMSG msg, HWND wnd, UINT first, UINT last)
{
    size_t e = Begin(kSimCalls, "GetMessageA", WindowName(wnd) + ", " + std::to_string(first) + ", " + std::to_string(last));
    if (!msg) {
        Violation("GetMessageA with a null MSG");
        return Fails<BOOL>(e, -1, ERROR_NOACCESS);
    }
    for (;;) {
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            const SimWindow* target = WindowPtr(it->hwnd);
            bool forWindow = !wnd || it->hwnd == wnd || (target && target->parent == wnd);
            bool inRange = (first == 0 && last == 0) || (it->message >= first && it->message <= last);
            if (!forWindow || !inRange)
                continue;
            *msg = *it;
            msg->time = static_cast<DWORD>(m_now);
            m_queue.erase(it);
            SetResult(e, MessageName(msg->message) + " " + WindowName(msg->hwnd));
            return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        if (m_quitPosted) {
            m_quitPosted = false;
            *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(m_quitCode), 0, static_cast<DWORD>(m_now), {0, 0}};
            SetResult(e, "WM_QUIT");
            return FALSE;
        }
        if (!m_idleSteps.empty()) {
            std::function<void()> step = std::move(m_idleSteps.front());
            m_idleSteps.pop_front();
            step();
            continue;
        }
        uint64_t next = NextEventTime();
        if (next == kSimForever)
            Abort("GetMessageA: no message to deliver, no OnIdle step left and no event scheduled: a "
                  "message loop would wait forever (script the user's actions with OnIdle)");
        AdvanceTo(next, "GetMessageA");
    }
}

BOOL SimOs::IsDialogMessageA(HWND dialog, LPMSG msg)
{
    size_t e = Begin(kSimCalls, "IsDialogMessageA",
                     WindowName(dialog) + ", " + (msg ? MessageName(msg->message) : std::string("null")));
    SimWindow* w = WindowPtr(dialog);
    if (!w || !w->alive || !msg || (msg->hwnd != dialog && !(WindowPtr(msg->hwnd) && WindowPtr(msg->hwnd)->parent == dialog))) {
        SetResult(e, "FALSE");
        return FALSE;
    }
    // The dialog manager's keyboard handling, as far as the sim models it: Enter presses the
    // default button (IDOK), Esc is Cancel. Everything else is left to the caller to dispatch.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
        int id = msg->wParam == VK_RETURN ? IDOK : IDCANCEL;
        SetResult(e, "TRUE (" + ButtonName(id) + ")");
        Route(*w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        return TRUE;
    }
    SetResult(e, "FALSE");
    return FALSE;
}

BOOL SimOs::TranslateMessage(const MSG* msg)
{
    size_t e = Begin(kSimCalls, "TranslateMessage", msg ? MessageName(msg->message) : std::string("null"));
    SetResult(e, "FALSE");
    return FALSE;
}

LRESULT SimOs::DispatchMessageA(const MSG* msg)
{
    size_t e = Begin(kSimCalls, "DispatchMessageA",
                     msg ? WindowName(msg->hwnd) + ", " + MessageName(msg->message) : std::string("null"));
    if (!msg) {
        Violation("DispatchMessageA with a null MSG");
        return 0;
    }
    SimWindow* w = WindowPtr(msg->hwnd);
    if (!w || !w->alive) {
        SetResult(e, "0");
        return 0;
    }
    LRESULT r = Route(*w, msg->message, msg->wParam, msg->lParam);
    SetResult(e, std::to_string(r));
    return r;
}

BOOL SimOs::PostMessageA(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    size_t e = Begin(kSimCalls, "PostMessageA",
                     WindowName(wnd) + ", " + MessageName(message) + ", " + ParamText(message, wParam, lParam));
    if (wnd && !HasWindow(wnd))
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_WINDOW_HANDLE);
    Post(wnd, message, wParam, lParam);
    SetResult(e, "TRUE");
    return TRUE;
}

LRESULT SimOs::SendMessageA(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    size_t e = Begin(kSimCalls, "SendMessageA",
                     WindowName(wnd) + ", " + MessageName(message) + ", " + ParamText(message, wParam, lParam));
    SimWindow* w = WindowPtr(wnd);
    if (!w || !w->alive)
        return Fails<LRESULT>(e, 0, ERROR_INVALID_WINDOW_HANDLE);
    LRESULT r = Route(*w, message, wParam, lParam);
    SetResult(e, message == WM_SETICON ? IconName(reinterpret_cast<HICON>(r)) : std::to_string(r));
    return r;
}

void SimOs::PostQuitMessage(int code)
{
    Begin(kSimCalls, "PostQuitMessage", std::to_string(code));
    m_quitPosted = true;
    m_quitCode = code;
}

SHORT SimOs::GetKeyState(int key)
{
    size_t e = Begin(kSimCalls, "GetKeyState", Hex(static_cast<uintptr_t>(key)));
    SHORT r = m_keysDown.count(key) ? static_cast<SHORT>(0xFF80) : 0;
    SetResult(e, r ? "down" : "up");
    return r;
}

// --- message boxes and help ----------------------------------------------------------------------

int SimOs::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    size_t e = Begin(kSimCalls, "MessageBoxA",
                     WindowName(owner) + ", " + Quote(text) + ", " + Quote(caption) + ", " + Hex(type));
    if (SimFault* f = Faulted("MessageBoxA", text ? text : ""))
        return Fails<int>(e, 0, f->m_error);
    if (owner && !HasWindow(owner))
        return Fails<int>(e, 0, ERROR_INVALID_WINDOW_HANDLE);
    SimMessageBox box{owner, WindowName(owner), text ? text : "", std::nullopt, type, 0, m_now};
    if (caption)
        box.caption = caption;
    std::vector<int> buttons = Buttons(type);
    int answer;
    bool scripted = true;
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    } else if (m_boxHandler) {
        answer = m_boxHandler(box);
    } else if ((type & MB_TYPEMASK) == MB_OK) {
        answer = IDOK;
    } else {
        scripted = false;
        ADD_FAILURE() << "simulated Windows: nothing scripted to answer the message box \""
                      << box.text << "\" (type " << Hex(type)
                      << "); tell the sim with AnswerNextBox or AnswerBoxesWith";
        answer = IDCANCEL;
    }
    bool valid = false;
    for (int b : buttons)
        valid = valid || b == answer;
    if (scripted && !valid)
        ADD_FAILURE() << "simulated Windows: the scripted answer " << ButtonName(answer)
                      << " is not a button of the message box \"" << box.text << "\" (type "
                      << Hex(type) << ")";
    box.answer = answer;
    m_boxes.push_back(box);
    SetResult(e, ButtonName(answer));
    return answer;
}

BOOL SimOs::WinHelpA(HWND wnd, LPCSTR helpFile, UINT command, ULONG_PTR data)
{
    size_t e = Begin(kSimCalls, "WinHelpA",
                     WindowName(wnd) + ", " + Quote(helpFile) + ", " + Hex(command) + ", " + Hex(data));
    SimHelpCall call{wnd, std::nullopt, command, data, FALSE};
    if (helpFile)
        call.file = helpFile;
    if (SimFault* f = Faulted("WinHelpA", "")) {
        m_helpCalls.push_back(call);
        return Fails<BOOL>(e, FALSE, f->m_error);
    }
    call.result = m_winHelpResult;
    m_helpCalls.push_back(call);
    SetResult(e, Bool(m_winHelpResult));
    return m_winHelpResult;
}

// --- icons and painting --------------------------------------------------------------------------

HICON SimOs::LoadIconA(HINSTANCE instance, LPCSTR name)
{
    std::string id = IS_INTRESOURCE(name) ? Dec(reinterpret_cast<uintptr_t>(name)) : Str(name);
    char mod[24];
    std::snprintf(mod, sizeof mod, "0x%08lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(instance)));
    size_t e = Begin(kSimCalls, "LoadIconA", std::string(instance ? mod : "null") + ", " + ResName(name));
    if (SimFault* f = Faulted("LoadIconA", id))
        return Fails<HICON>(e, nullptr, f->m_error);
    if (!IS_INTRESOURCE(name))
        return Fails<HICON>(e, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);
    WORD n = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    HICON icon = nullptr;
    if (!instance)
        icon = reinterpret_cast<HICON>(kSysIconBase + n);   // the system's own icons (IDI_...)
    else if (instance == m_module && m_icons.count(n))
        icon = IconHandle(n);
    if (!icon)
        return Fails<HICON>(e, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);
    SetResult(e, IconName(icon));
    return icon;
}

BOOL SimOs::IsIconic(HWND wnd)
{
    size_t e = Begin(kSimCalls, "IsIconic", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    BOOL r = w && w->alive && w->iconic ? TRUE : FALSE;
    SetResult(e, Bool(r));
    return r;
}

int SimOs::GetSystemMetrics(int index)
{
    size_t e = Begin(kSimCalls, "GetSystemMetrics", std::to_string(index));
    auto it = m_metrics.find(index);
    int r = it == m_metrics.end() ? 0 : it->second;
    SetResult(e, std::to_string(r));
    return r;
}

HDC SimOs::BeginPaint(HWND wnd, LPPAINTSTRUCT paint)
{
    size_t e = Begin(kSimCalls, "BeginPaint", WindowName(wnd));
    SimWindow* w = WindowPtr(wnd);
    if (!paint) {
        Violation("BeginPaint with a null PAINTSTRUCT");
        return Fails<HDC>(e, nullptr, ERROR_NOACCESS);
    }
    if (!w || !w->alive)
        return Fails<HDC>(e, nullptr, ERROR_INVALID_WINDOW_HANDLE);
    ++m_paintsBegun;
    uintptr_t dc = kDcBase + static_cast<uintptr_t>(++m_dcSerial);
    m_openDcs.insert(dc);
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = reinterpret_cast<HDC>(dc);
    paint->fErase = TRUE;
    paint->rcPaint = RECT{0, 0, w->clientWidth, w->clientHeight};
    SetResult(e, "dc " + std::to_string(m_dcSerial));
    return paint->hdc;
}

BOOL SimOs::EndPaint(HWND wnd, const PAINTSTRUCT* paint)
{
    size_t e = Begin(kSimCalls, "EndPaint", WindowName(wnd));
    if (!paint) {
        Violation("EndPaint with a null PAINTSTRUCT");
        return Fails<BOOL>(e, FALSE, ERROR_NOACCESS);
    }
    if (!m_openDcs.erase(reinterpret_cast<uintptr_t>(paint->hdc)))
        Violation("EndPaint of a paint context that BeginPaint did not give, or ended twice");
    ++m_paintsEnded;
    SetResult(e, "TRUE");
    return TRUE;
}

BOOL SimOs::DrawIcon(HDC dc, int x, int y, HICON icon)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(dc);
    std::string dcName = v > kDcBase && v < kDcBase + 0x1000000 ? "dc " + std::to_string(v - kDcBase) : Hex(v);
    size_t e = Begin(kSimCalls, "DrawIcon",
                     dcName + ", " + std::to_string(x) + ", " + std::to_string(y) + ", " + IconName(icon));
    m_iconDraws.push_back(SimIconDraw{dc, x, y, icon});
    if (!m_openDcs.count(v)) {
        Violation("DrawIcon on a paint context that is not open (" + dcName + ")");
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_HANDLE);
    }
    if (!icon)
        return Fails<BOOL>(e, FALSE, ERROR_INVALID_CURSOR_HANDLE);
    SetResult(e, "TRUE");
    return TRUE;
}
