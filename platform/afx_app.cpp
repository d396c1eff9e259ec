// The application object, the framework's start-up, and message boxes.
#include "afx.h"

namespace {
CWinApp* g_pApp = nullptr;
HINSTANCE g_hResource = nullptr;

const DWORD HID_BASE_PROMPT = 0x00030000UL;
} // namespace

CWinApp* AfxGetApp()
{
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_pApp ? g_pApp->m_hInstance : nullptr;
}

HINSTANCE AfxGetResourceHandle()
{
    return g_hResource;
}

void AfxSetResourceHandle(HINSTANCE hResource)
{
    g_hResource = hResource;
}

// The application's own map routes the help command; the framework's map has no entries.
BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_pszAppName(nullptr), m_pszExeName(nullptr), m_pszHelpFilePath(nullptr),
      m_hInstance(nullptr), m_lpCmdLine(nullptr), m_nCmdShow(SW_SHOWNORMAL), m_pMainWnd(nullptr),
      m_dwPromptContext(0), m_pPreviousApp(g_pApp)
{
    // Construction makes this the current application; nothing here may call the system,
    // because it runs with the static objects, before the entry point has set anything up.
    if (lpszAppName) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName;
    }
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = m_pPreviousApp;
}

namespace {

// Where a module path's file name starts, and where its extension starts (null: none). Walks by
// characters, so that a double-byte character's trail byte is never taken for a separator or a
// dot; only a dot within the file name starts an extension.
void SplitModulePath(LPCSTR lpszPath, const char*& base, const char*& dot)
{
    base = lpszPath;
    dot = nullptr;
    for (const char* p = lpszPath; *p;) {
        if (*p == '\\' || *p == '/' || *p == ':') {
            base = p + 1;
            dot = nullptr;
        } else if (*p == '.') {
            dot = p;
        }
        if (os().IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1])
            p += 2;
        else
            p += 1;
    }
}

} // namespace

CString AfxTitleFromModulePath(LPCSTR lpszPath)
{
    const char* base;
    const char* dot;
    SplitModulePath(lpszPath, base, dot);
    std::string title(base, dot ? static_cast<size_t>(dot - base) : std::strlen(base));
    return CString(title.c_str());
}

void CWinApp::SetCurrentHandles(HINSTANCE hInstance)
{
    m_hInstance = hInstance;
    AfxSetResourceHandle(hInstance);

    char path[MAX_PATH + 1];
    DWORD length = os().GetModuleFileNameA(hInstance, path, MAX_PATH);
    if (length > MAX_PATH)
        length = MAX_PATH;
    path[length] = '\0';

    m_strExeName = AfxTitleFromModulePath(path);
    m_pszExeName = m_strExeName;
    if (!m_pszAppName) {
        // No title string and no name given: the executable's base name is the title.
        m_strAppName = m_strExeName;
        m_pszAppName = m_strAppName;
    }

    // The help file sits beside the executable, named after it.
    const char* base;
    const char* dot;
    SplitModulePath(path, base, dot);
    std::string help(path, dot ? static_cast<size_t>(dot - path) : std::strlen(path));
    help += ".HLP";
    m_strHelpFilePath = help.c_str();
    m_pszHelpFilePath = m_strHelpFilePath;
}

BOOL CWinApp::InitApplication()
{
    return TRUE;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    MSG msg;
    while (os().GetMessageA(&msg, nullptr, 0, 0) > 0) {
        os().TranslateMessage(&msg);
        os().DispatchMessageA(&msg);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    // Nothing is saved: no settings, no recent files. The program's exit status is always 0.
    return 0;
}

int CWinApp::DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT nIDPrompt)
{
    HWND owner = nullptr;
    if (m_pMainWnd && m_pMainWnd->m_hWnd)
        owner = os().GetLastActivePopup(m_pMainWnd->m_hWnd);

    if ((nType & MB_ICONMASK) == 0) {
        switch (nType & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
        case MB_YESNOCANCEL:
        case MB_YESNO:
            nType |= MB_ICONEXCLAMATION;
            break;
        default:
            break;
        }
    }

    // A help id names the box's help context while it is up; 0 leaves the context alone.
    const DWORD previousContext = m_dwPromptContext;
    if (nIDPrompt != 0)
        m_dwPromptContext = HID_BASE_PROMPT + nIDPrompt;
    const int result = os().MessageBoxA(owner, lpszPrompt, m_pszAppName, nType);
    m_dwPromptContext = previousContext;
    return result;
}

LRESULT CWinApp::ProcessWndProcException(CException* e, const MSG*)
{
    if (dynamic_cast<CMemoryException*>(e))
        AfxMessageBox("Out of memory.", MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
    else if (!dynamic_cast<CUserException*>(e))
        e->ReportError(MB_ICONSTOP);
    return 0;
}

BOOL CWinApp::Enable3dControlsStatic()
{
    // Windows 4.0 and later draw dialog controls in 3-D themselves. Earlier systems would need
    // a 3-D control library, which this program does not carry.
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (os().GetVersionExA(&version) && version.dwMajorVersion < 4)
        return FALSE;
    return TRUE;
}

void CWinApp::OnHelp()
{
    HWND wnd = (m_pMainWnd && m_pMainWnd->m_hWnd) ? m_pMainWnd->m_hWnd : nullptr;
    DWORD context = m_dwPromptContext;
    if (context == 0 && m_pMainWnd)
        context = m_pMainWnd->GetHelpContext();
    const UINT command = context ? HELP_CONTEXT : HELP_FINDER;
    if (!os().WinHelpA(wnd, m_pszHelpFilePath, command, context))
        AfxMessageBox("Failed to launch help.");
}

int AfxMessageBox(LPCSTR lpszText, UINT nType, UINT nIDHelp)
{
    CWinApp* app = AfxGetApp();
    if (app)
        return app->DoMessageBox(lpszText, nType, nIDHelp);
    return os().MessageBoxA(nullptr, lpszText, nullptr, nType);
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;

    // A failing disk operation is reported to its caller, never by a system error box.
    os().SetErrorMode(os().SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    app->m_lpCmdLine = lpCmdLine;
    app->m_nCmdShow = nCmdShow;
    app->SetCurrentHandles(hInstance);

    int result = -1;
    if (!app->InitApplication())
        return result;
    if (!app->InitInstance()) {
        if (app->m_pMainWnd)
            app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}
