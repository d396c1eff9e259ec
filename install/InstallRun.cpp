// The install run's driver: the body of the dialog's OK command.
#include "install/InstallRun.h"

#include "app/InstallDlg.h"

BYTE g_bInstallStarted = FALSE;

void CInstallDlg::OnOK()
{
    // An OK command that arrives while (or after) the run is going does nothing at all.
    if (g_bInstallStarted)
        return;
    g_bInstallStarted = TRUE;

    BYTE bManualExit = FALSE;
    char szPath[PATH_BUFFER_SIZE] = "";

    // Nothing is on disk before the staging directory is entered, so a failure up to there
    // closes at once; from the first payload file on, the sweep always follows.
    if (CheckEnvironment(szPath, bManualExit) && EnterStagingDirectory(szPath)) {
        if (ExtractPayload())
            RunSetupAndWait(szPath, bManualExit);
        RemoveStagedFiles(szPath);
    }

    CDialog::OnOK();
}
