// Resource ids of the application shell.
#pragma once

#define IDR_MAINFRAME       128
#define IDD_INSTALL_DIALOG  102

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
