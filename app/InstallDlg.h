// The confirmation dialog: "&Yes" runs the install, "&No" ends the program.
#pragma once

#include "platform/afx.h"
#include "app/resource.h"

class CInstallDlg : public CDialog {
public:
    explicit CInstallDlg(CWnd* pParent = nullptr);
    ~CInstallDlg() override;

    enum { IDD = IDD_INSTALL_DIALOG };

    BOOL OnInitDialog() override;
    // The install run (install/InstallRun.cpp).
    void OnOK() override;
    void OnCancel() override;

    // Where the minimised dialog draws its icon in a client area of the given size.
    static POINT IconPosition(const RECT& client, int cxIcon, int cyIcon);

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();

    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()
};
