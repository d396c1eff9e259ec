// The application object: its start-up shows the confirmation dialog, and that is the program.
#pragma once

#include "platform/afx.h"

class CInstallApp : public CWinApp {
public:
    CInstallApp();
    ~CInstallApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CInstallApp theApp;
