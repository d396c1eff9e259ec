// zfixture: a small dialog program for the driver's own tests, with switches that make it
// misbehave in the ways the end-to-end checks must catch.
//
//   zfixture.exe [offset] [focus-no] [box] [chain] [exit=N]     the confirmation-style dialog
//   zfixture.exe setup                                           the setup-style window
//
//   offset    the dialog is placed 40 pixels right of centre
//   focus-no  the focus starts on "&No"
//   box       "&Yes" first asks a Yes/No message box ("Fixture question.")
//   chain     "&Yes" starts "zfixture.exe setup" and waits for it, as an installer would
//   exit=N    the exit code after "&Yes" (default 0; "&No" and Esc always give 0)
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

bool g_offset, g_focusNo, g_box, g_chain;
int g_exit;

void Centre(HWND dlg, int dx)
{
    RECT r, wa;
    GetWindowRect(dlg, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &wa, 0);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(dlg, nullptr, wa.left + (wa.right - wa.left - w) / 2 + dx,
                 wa.top + (wa.bottom - wa.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void RunSetup(HWND owner)
{
    char self[MAX_PATH], cmd[MAX_PATH + 16];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    strcpy(cmd, "zfixture.exe setup");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(self, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        MessageBoxA(owner, "Fixture could not start its setup window.", "zfixture", MB_OK);
        return;
    }
    // Like an installer waiting for its setup program: no messages handled meanwhile.
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

INT_PTR CALLBACK ConfirmProc(HWND dlg, UINT msg, WPARAM wp, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        Centre(dlg, g_offset ? 40 : 0);
        if (g_focusNo) {
            SetFocus(GetDlgItem(dlg, IDCANCEL));
            return FALSE;
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            if (g_box) MessageBoxA(dlg, "Fixture question.", "zfixture", MB_YESNO | MB_ICONEXCLAMATION);
            if (g_chain) RunSetup(dlg);
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK SetupProc(HWND dlg, UINT msg, WPARAM wp, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowTextW(dlg, L"zfixture setup \u2014 window");
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, LOWORD(wp));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR cmdLine, int)
{
    bool setup = false;
    for (char* t = strtok(cmdLine, " "); t; t = strtok(nullptr, " ")) {
        if (!strcmp(t, "offset")) g_offset = true;
        else if (!strcmp(t, "focus-no")) g_focusNo = true;
        else if (!strcmp(t, "box")) g_box = true;
        else if (!strcmp(t, "chain")) g_chain = true;
        else if (!strcmp(t, "setup")) setup = true;
        else if (!strncmp(t, "exit=", 5)) g_exit = atoi(t + 5);
    }
    if (setup)
        return (int)DialogBoxParamW(inst, MAKEINTRESOURCEW(101), nullptr, SetupProc, 0) == IDOK ? 0 : 1;
    INT_PTR r = DialogBoxParamA(inst, MAKEINTRESOURCEA(100), nullptr, ConfirmProc, 0);
    return r == IDOK ? g_exit : 0;
}
