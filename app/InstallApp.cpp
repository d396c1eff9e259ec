#include "app/InstallApp.h"

#include "app/InstallDlg.h"

BEGIN_MESSAGE_MAP(CInstallApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CInstallApp::CInstallApp() : CWinApp(nullptr)
{
}

CInstallApp::~CInstallApp()
{
}

// The one application object.
CInstallApp theApp;

BOOL CInstallApp::InitInstance()
{
    Enable3dControlsStatic();

    CInstallDlg dlg;
    m_pMainWnd = &dlg;
    // Whatever the dialog ended with (the install run, No, or a dialog that could not be
    // made), the program is over: returning FALSE ends it without a message loop.
    dlg.DoModal();
    return FALSE;
}
