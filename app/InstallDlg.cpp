#include "app/InstallDlg.h"

BEGIN_MESSAGE_MAP(CInstallDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CInstallDlg::CInstallDlg(CWnd* pParent) : CDialog(CInstallDlg::IDD, pParent)
{
    m_hIcon = os().LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CInstallDlg::~CInstallDlg()
{
}

void CInstallDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
}

BOOL CInstallDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // One icon serves the caption and the taskbar.
    os().SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    os().SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    return TRUE;   // the focus goes to "&Yes"
}

POINT CInstallDlg::IconPosition(const RECT& client, int cxIcon, int cyIcon)
{
    // Signed division truncates toward zero, also for a client area smaller than the icon.
    POINT pt;
    pt.x = (client.right - client.left - cxIcon + 1) / 2;
    pt.y = (client.bottom - client.top - cyIcon + 1) / 2;
    return pt;
}

void CInstallDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    os().SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    const int cxIcon = os().GetSystemMetrics(SM_CXICON);
    const int cyIcon = os().GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const POINT pt = IconPosition(rect, cxIcon, cyIcon);
    dc.DrawIcon(pt.x, pt.y, m_hIcon);
}

HCURSOR CInstallDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CInstallDlg::OnCancel()
{
    CDialog::OnCancel();
}
