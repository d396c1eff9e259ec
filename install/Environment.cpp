// The first step: a supported system, the install mode, the Windows directory, its drive and
// enough free space there.
#include "install/InstallRun.h"

namespace {

// Classifies the reported system; FALSE after refusing it.
BOOL CheckVersion(const OSVERSIONINFOA& version, BYTE& bManualExit)
{
    switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        AfxMessageBox("Zarpo OGL requires Windows 95/NT4.0 or later.", MB_OK);
        return FALSE;
    case VER_PLATFORM_WIN32_NT:
        if (version.dwMajorVersion < 4) {
            AfxMessageBox("Zarpo OGL requires Windows 95/NT4.0 or later.", MB_OK);
            return FALSE;
        }
        // Setup on NT 4 cannot be followed through the process list: the user says when.
        if (version.dwMajorVersion == 4)
            bManualExit = TRUE;
        return TRUE;
    default:
        // Windows 95 and 98, and anything newer that reports another platform.
        return TRUE;
    }
}

// The drive number of a drive letter (A or a is 1), or 0 for a character that is none.
int DriveNumber(char letter)
{
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A' + 1;
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a' + 1;
    return 0;
}

// Whether the drive whose root is given has at least MIN_FREE_BYTES free.
BOOL EnoughFreeSpace(DWORD sectorsPerCluster, DWORD bytesPerSector, DWORD freeClusters)
{
    const ULONGLONG bytesPerCluster = static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
    if (bytesPerCluster == 0 || freeClusters == 0)
        return FALSE;
    // The product of three 32-bit counts can pass 64 bits; anything that large is plenty.
    if (bytesPerCluster > ~0ULL / freeClusters)
        return TRUE;
    return bytesPerCluster * freeClusters >= MIN_FREE_BYTES;
}

} // namespace

BOOL CheckEnvironment(char* szPath, BYTE& bManualExit)
{
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!os().GetVersionExA(&version)) {
        if (AfxMessageBox("Couldn't get OS version.  Procede using manual exit?", MB_YESNO) != IDYES)
            return FALSE;
        bManualExit = TRUE;
    } else if (!CheckVersion(version, bManualExit)) {
        return FALSE;
    }

    // A directory longer than the limit is reported with the size it needs and nothing filled.
    const UINT length = os().GetWindowsDirectoryA(szPath, WINDOWS_DIR_LIMIT);
    if (length == 0 || length >= WINDOWS_DIR_LIMIT) {
        AfxMessageBox("Can't get windows directory.", MB_OK);
        return FALSE;
    }

    if (szPath[1] != ':') {
        AfxMessageBox("Can't find drive of window directory (UNC paths not supported).", MB_OK);
        return FALSE;
    }

    const int drive = DriveNumber(szPath[0]);
    if (drive == 0 || os()._chdrive(drive) == -1) {
        AfxMessageBox("Can't change to drive.", MB_OK);
        return FALSE;
    }

    // Measure on the drive's root: cut the path after "X:\" for the call, then mend it.
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    const char saved = szPath[3];
    szPath[3] = '\0';
    const BOOL queried = os().GetDiskFreeSpaceA(szPath, &sectorsPerCluster, &bytesPerSector,
                                                &freeClusters, &totalClusters);
    szPath[3] = saved;
    if (!queried || !EnoughFreeSpace(sectorsPerCluster, bytesPerSector, freeClusters)) {
        AfxMessageBox("Not enough disk space error.", MB_OK);
        return FALSE;
    }
    return TRUE;
}
