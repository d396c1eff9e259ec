// The staging directory <Windows directory>\TEMP\ZARPO: made and entered before the package is
// written, swept away after setup.
#include "install/InstallRun.h"

BOOL EnterStagingDirectory(char* szPath)
{
    // TEMP may be missing; a TEMP made here is never entered, since every call below uses
    // the full path.
    std::strcat(szPath, "\\TEMP");
    if (os()._chdir(szPath) == -1 && os()._mkdir(szPath) == -1) {
        AfxMessageBox("Can't change directory.", MB_OK);
        return FALSE;
    }

    std::strcat(szPath, "\\ZARPO");
    if (os()._chdir(szPath) == -1 && os()._mkdir(szPath) == -1) {
        AfxMessageBox("Can't change directory.", MB_OK);
        return FALSE;
    }

    // Enter it in every case, so the payload is written there by bare names.
    if (os()._chdir(szPath) == -1) {
        AfxMessageBox("Can't change directory.", MB_OK);
        os()._rmdir(szPath);
        return FALSE;
    }
    return TRUE;
}

void RemoveStagedFiles(const char* szPath)
{
    BOOL bRemoveFailed = FALSE;

    // Every name is tried, whatever failed before it.
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        if (os().remove(g_payloadFiles[i]) == -1)
            bRemoveFailed = TRUE;
    }

    // The current directory cannot be removed: step out to TEMP first.
    if (os()._chdir("..") == -1)
        bRemoveFailed = TRUE;
    if (os()._rmdir(szPath) == -1)
        bRemoveFailed = TRUE;

    if (bRemoveFailed)
        AfxMessageBox("Couldn't remove all install files from the Windows 'Temp' directory.", MB_OK);
}
