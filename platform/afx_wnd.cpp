// Command targets, windows, painting, and the dialog procedure that feeds the message maps.
#include "afx.h"

#include <map>

// --- message maps ----------------------------------------------------------------------------

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, nullptr } };
    static const AFX_MSGMAP rootMap = { nullptr, &entries[0] };
    return &rootMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage, UINT nID) const
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
            if (entry->nMessage == nMessage && (nMessage != WM_COMMAND || entry->nID == nID))
                return entry;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID)
{
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(WM_COMMAND, nID);
    if (!entry)
        return FALSE;
    entry->pfn(this, 0, 0);
    return TRUE;
}

// --- the window handle map -------------------------------------------------------------------

namespace {

std::map<HWND, CWnd*>& HandleMap()
{
    static std::map<HWND, CWnd*> map;
    return map;
}

CWnd* LookupWindow(HWND hWnd)
{
    std::map<HWND, CWnd*>::const_iterator it = HandleMap().find(hWnd);
    return it == HandleMap().end() ? nullptr : it->second;
}

} // namespace

// --- CWnd ------------------------------------------------------------------------------------

CWnd::CWnd() : m_hWnd(nullptr), m_bUseDefault(FALSE)
{
}

CWnd::~CWnd()
{
    if (m_hWnd)
        HandleMap().erase(m_hWnd);
    // A main window that never had (or no longer has) a system window must not outlive
    // itself as the application's main-window reference.
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return os().SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const
{
    return os().IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT lpRect) const
{
    os().GetClientRect(m_hWnd, lpRect);
}

void CWnd::GetWindowRect(LPRECT lpRect) const
{
    os().GetWindowRect(m_hWnd, lpRect);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
    return reinterpret_cast<HICON>(os().SendMessageA(m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                                     reinterpret_cast<LPARAM>(hIcon)));
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    return os().DestroyWindow(m_hWnd);
}

void CWnd::CenterWindow()
{
    RECT window;
    GetWindowRect(&window);
    RECT work;
    if (!os().SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
        work.left = work.top = 0;
        work.right = os().GetSystemMetrics(SM_CXSCREEN);
        work.bottom = os().GetSystemMetrics(SM_CYSCREEN);
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = (work.left + work.right) / 2 - width / 2;
    int y = (work.top + work.bottom) / 2 - height / 2;
    // Keep the caption reachable when the dialog is larger than the work area.
    if (x + width > work.right)
        x = work.right - width;
    if (x < work.left)
        x = work.left;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (y < work.top)
        y = work.top;
    os().SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (CUserException* e) {
        // The exchange has told the user what was wrong.
        e->Delete();
        return FALSE;
    }
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*)
{
}

LRESULT CWnd::Default()
{
    m_bUseDefault = TRUE;
    return 0;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM)
{
    // Menu, accelerator and button-click commands; other control notifications are not commands.
    const UINT code = HIWORD(wParam);
    if (code != 0 && code != 1)
        return FALSE;
    return OnCmdMsg(LOWORD(wParam));
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        *pResult = 1;
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        OnNcDestroy();
        return FALSE;
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, 0);
    if (!entry)
        return FALSE;
    // A handler may run nested messages (a message box's loop repaints us), so the
    // default-processing request is kept per message.
    const BOOL outer = m_bUseDefault;
    m_bUseDefault = FALSE;
    const LRESULT result = entry->pfn(this, wParam, lParam);
    const BOOL useDefault = m_bUseDefault;
    m_bUseDefault = outer;
    if (useDefault)
        return FALSE;
    *pResult = result;
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

void CWnd::OnNcDestroy()
{
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this) {
        // The main window is gone: the application is over.
        os().PostQuitMessage(0);
        app->m_pMainWnd = nullptr;
    }
}

// --- painting --------------------------------------------------------------------------------

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd)
{
    std::memset(&m_ps, 0, sizeof m_ps);
    m_hDC = os().BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC()
{
    os().EndPaint(m_hWnd, &m_ps);
}

// --- the dialog procedure --------------------------------------------------------------------

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = nullptr;
    if (message == WM_INITDIALOG) {
        CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = hWnd;
        HandleMap()[hWnd] = dialog;
        pWnd = dialog;
    } else {
        pWnd = LookupWindow(hWnd);
    }
    if (!pWnd)
        return FALSE;

    LRESULT result = 0;
    BOOL handled = FALSE;
    const MSG current = { hWnd, message, wParam, lParam, 0, { 0, 0 } };
    CWinApp* app = AfxGetApp();
    // Nothing may unwind through the system's frames: every exception ends here.
    try {
        handled = pWnd->OnWndMsg(message, wParam, lParam, &result);
    } catch (CException* e) {
        if (app)
            app->ProcessWndProcException(e, &current);
        e->Delete();
        handled = TRUE;
        result = 0;
    } catch (const std::bad_alloc&) {
        if (app) {
            try {
                AfxThrowMemoryException();
            } catch (CException* e) {
                app->ProcessWndProcException(e, &current);
            }
        }
        handled = TRUE;
        result = 0;
    }

    if (message == WM_NCDESTROY) {
        HandleMap().erase(hWnd);
        pWnd->m_hWnd = nullptr;
    }

    switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
        // These answer with the value itself rather than a handled flag.
        return handled ? static_cast<INT_PTR>(result) : FALSE;
    default:
        return handled;
    }
}
