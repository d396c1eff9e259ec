// The package's fifteen files, written from the executable's "Binary" resources into the
// current directory (the staging directory).
#include "install/InstallRun.h"

const char* const g_payloadFiles[PAYLOAD_COUNT] = {
    "_inst32i.ex_", "_isdel.exe", "_setup.dll", "_sys1.cab", "_user1.cab",
    "data.tag",     "data1.cab",  "lang.dat",   "layout.bin", "os.dat",
    "setup.bmp",    "setup.exe",  "setup.ini",  "setup.ins",  "setup.lid",
};

namespace {

BOOL ExtractPayloadFile(int i)
{
    HINSTANCE hResources = AfxGetResourceHandle();
    if (!hResources) {
        AfxMessageBox("Can't get resources.", MB_OK);
        return FALSE;
    }
    HRSRC hFound = os().FindResourceA(hResources, MAKEINTRESOURCEA(PAYLOAD_FIRST_ID + i), "Binary");
    if (!hFound) {
        AfxMessageBox("Can't find a resource.", MB_OK);
        return FALSE;
    }
    HGLOBAL hLoaded = os().LoadResource(hResources, hFound);
    if (!hLoaded) {
        AfxMessageBox("Can't load resources.", MB_OK);
        return FALSE;
    }
    const void* pData = os().LockResource(hLoaded);
    if (!pData) {
        AfxMessageBox("Can't lock resources.", MB_OK);
        return FALSE;
    }
    const DWORD nLength = os().SizeofResource(hResources, hFound);

    CFile file;
    CFileException error;
    try {
        if (!file.Open(g_payloadFiles[i], CFile::modeCreate | CFile::modeWrite, &error))
            AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
        file.Seek(0, CFile::begin);
        file.Write(pData, nLength);
        file.Close();
    } catch (CFileException* e) {
        AfxMessageBox("Can't create install files.", MB_OK);
        e->Delete();
        // Leaving the scope closes a partly written file, so the sweep can remove it.
        return FALSE;
    }
    return TRUE;
}

} // namespace

BOOL ExtractPayload()
{
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        if (!ExtractPayloadFile(i))
            return FALSE;
    }
    return TRUE;
}
