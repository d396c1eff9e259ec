// CFile: a Win32 file handle whose failures become CFileException.
#include "afx.h"

CFile::CFile() : m_hFile(INVALID_HANDLE_VALUE)
{
}

CFile::~CFile()
{
    // Destroying an open file closes it; a failure here has nobody left to report to.
    if (m_hFile != INVALID_HANDLE_VALUE) {
        os().CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
}

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    m_strFileName = lpszFileName;

    DWORD access = 0;
    switch (nOpenFlags & 3) {
    case modeRead:      access = GENERIC_READ; break;
    case modeWrite:     access = GENERIC_WRITE; break;
    case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    default:            access = GENERIC_READ; break;
    }

    DWORD share = 0;
    switch (nOpenFlags & 0x70) {
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead:  share = FILE_SHARE_WRITE; break;
    case shareDenyNone:  share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default:             share = 0; break;   // compatibility and exclusive: shared with nobody
    }

    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, (nOpenFlags & modeNoInherit) ? FALSE : TRUE };

    DWORD disposition = OPEN_EXISTING;
    if (nOpenFlags & modeCreate)
        disposition = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;

    HANDLE h = os().CreateFileA(lpszFileName, access, share, &sa, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (pError) {
            const LONG error = static_cast<LONG>(os().GetLastError());
            pError->m_lOsError = error;
            pError->m_cause = CFileException::OsErrorToException(error);
            pError->m_strFileName = lpszFileName;
        }
        return FALSE;
    }
    m_hFile = h;
    return TRUE;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom)
{
    LONG high = static_cast<LONG>(lOff >> 32);
    const DWORD low = os().SetFilePointer(m_hFile, static_cast<LONG>(lOff & 0xFFFFFFFF), &high,
                                          static_cast<DWORD>(nFrom));
    if (low == INVALID_SET_FILE_POINTER) {
        const LONG error = static_cast<LONG>(os().GetLastError());
        if (error != NO_ERROR)
            AfxThrowFileException(CFileException::OsErrorToException(error), error, m_strFileName);
    }
    return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    if (nCount == 0)
        return;
    DWORD written = 0;
    if (!os().WriteFile(m_hFile, lpBuf, nCount, &written, nullptr)) {
        const LONG error = static_cast<LONG>(os().GetLastError());
        AfxThrowFileException(CFileException::OsErrorToException(error), error, m_strFileName);
    }
    if (written < nCount)
        AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
}

void CFile::Close()
{
    BOOL ok = TRUE;
    if (m_hFile != INVALID_HANDLE_VALUE)
        ok = os().CloseHandle(m_hFile);
    // The handle is gone either way: the destructor must not close it a second time.
    m_hFile = INVALID_HANDLE_VALUE;
    if (!ok) {
        const LONG error = static_cast<LONG>(os().GetLastError());
        AfxThrowFileException(CFileException::OsErrorToException(error), error, m_strFileName);
    }
}
