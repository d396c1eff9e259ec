// Framework exceptions: thrown as pointers, deleted by whoever catches them.
#include "afx.h"

#include <cstdio>

void CException::Delete()
{
    if (m_bAutoDelete)
        delete this;
}

BOOL CException::GetErrorMessage(LPSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (lpszError && nMaxError)
        *lpszError = '\0';
    return FALSE;
}

int CException::ReportError(UINT nType, UINT nMessageID) const
{
    char message[512];
    if (GetErrorMessage(message, sizeof message))
        return AfxMessageBox(message, nType, nMessageID);
    return AfxMessageBox("An unsupported operation was attempted.", nType, nMessageID);
}

BOOL CMemoryException::GetErrorMessage(LPSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || !nMaxError)
        return FALSE;
    std::snprintf(lpszError, nMaxError, "%s", "Out of memory.");
    return TRUE;
}

CFileException::CFileException(int cause, LONG lOsError, LPCSTR lpszFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName)
{
}

int CFileException::OsErrorToException(LONG lOsError)
{
    switch (lOsError) {
    case NO_ERROR:                  return none;
    case ERROR_FILE_NOT_FOUND:      return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:         return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:      return accessDenied;
    case ERROR_INVALID_HANDLE:      return invalidFile;
    case ERROR_CURRENT_DIRECTORY:   return removeCurrentDir;
    case ERROR_CANNOT_MAKE:         return directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:       return badSeek;
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:         return hardIO;
    case ERROR_SHARING_VIOLATION:   return sharingViolation;
    case ERROR_LOCK_VIOLATION:      return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:    return diskFull;
    case ERROR_HANDLE_EOF:          return endOfFile;
    default:                        return genericException;
    }
}

BOOL CFileException::GetErrorMessage(LPSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || !nMaxError)
        return FALSE;
    static const char* const texts[] = {
        "No error occurred while accessing %s.",
        "An unknown error occurred while accessing %s.",
        "%s was not found.",
        "%s contains an invalid path.",
        "%s could not be opened because there are too many open files.",
        "Access to %s was denied.",
        "An unsupported operation was attempted on %s.",
        "%s is the current directory and cannot be removed.",
        "No more directory entries can be made for %s.",
        "An error occurred while setting the file position of %s.",
        "A hardware I/O error was reported while accessing %s.",
        "A sharing violation occurred while accessing %s.",
        "A locking violation occurred while accessing %s.",
        "The disk is full while accessing %s.",
        "An attempt was made to access %s past its end.",
    };
    const int count = static_cast<int>(sizeof texts / sizeof texts[0]);
    const char* text = (m_cause >= 0 && m_cause < count) ? texts[m_cause] : texts[genericException];
    const char* name = m_strFileName.IsEmpty() ? "an unnamed file" : static_cast<LPCSTR>(m_strFileName);
    std::snprintf(lpszError, nMaxError, text, name);
    return TRUE;
}

void AfxThrowMemoryException()
{
    // One preallocated object: when memory is gone, a new exception could not be made either.
    static CMemoryException theMemoryException(FALSE);
    throw static_cast<CMemoryException*>(&theMemoryException);
}

void AfxThrowFileException(int cause, LONG lOsError, LPCSTR lpszFileName)
{
    throw new CFileException(cause, lOsError, lpszFileName);
}
