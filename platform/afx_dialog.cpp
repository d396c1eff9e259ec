// CDialog: a modal dialog from a template, run by the framework's own modal loop.
#include "afx.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd),
      m_nModalResult(-1), m_bContinueModal(FALSE)
{
}

INT_PTR CDialog::DoModal()
{
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    BOOL reenableParent = FALSE;
    if (hParent && os().IsWindowEnabled(hParent)) {
        os().EnableWindow(hParent, FALSE);
        reenableParent = TRUE;
    }

    m_nModalResult = -1;
    m_bContinueModal = TRUE;
    HWND hWnd = os().CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate),
                                        hParent, AfxDlgProc, reinterpret_cast<LPARAM>(this));
    if (hWnd) {
        MSG msg;
        // The loop ends when EndDialog is called, when the window disappears behind our back,
        // or on a quit message, which is put back for whoever loops outside us.
        while (m_bContinueModal && os().IsWindow(hWnd)) {
            const BOOL got = os().GetMessageA(&msg, nullptr, 0, 0);
            if (got == -1)
                break;
            if (got == 0) {
                os().PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            if (PreTranslateMessage(&msg))
                continue;
            if (!os().IsDialogMessageA(hWnd, &msg)) {
                os().TranslateMessage(&msg);
                os().DispatchMessageA(&msg);
            }
        }
        if (os().IsWindow(hWnd)) {
            os().ShowWindow(hWnd, SW_HIDE);
            os().DestroyWindow(hWnd);
        }
    }
    m_bContinueModal = FALSE;

    if (reenableParent)
        os().EnableWindow(hParent, TRUE);
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bContinueModal = FALSE;
}

BOOL CDialog::HandleInitDialog()
{
    const BOOL result = OnInitDialog();
    if (m_bContinueModal && m_hWnd)
        CenterWindow();
    return result;
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_INITDIALOG) {
        *pResult = HandleInitDialog();
        return TRUE;
    }
    return CWnd::OnWndMsg(message, wParam, lParam, pResult);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::OnCmdMsg(UINT nID)
{
    if (CWnd::OnCmdMsg(nID))
        return TRUE;
    // Commands the dialog does not handle go on to the application object.
    CWinApp* app = AfxGetApp();
    return app ? app->OnCmdMsg(nID) : FALSE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    // F1 alone is a help request, sent to the main window as the help command.
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_F1 &&
        os().GetKeyState(VK_SHIFT) >= 0 && os().GetKeyState(VK_CONTROL) >= 0 &&
        os().GetKeyState(VK_MENU) >= 0) {
        CWinApp* app = AfxGetApp();
        CWnd* main = app ? app->m_pMainWnd : nullptr;
        HWND target = (main && main->m_hWnd) ? main->m_hWnd : m_hWnd;
        os().SendMessageA(target, WM_COMMAND, ID_HELP, 0);
        return TRUE;
    }
    return FALSE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
