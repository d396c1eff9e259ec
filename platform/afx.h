// The application framework: a thin class layer over Win32 in the classic C-prefixed manner.
//
// Only what this program needs is here: the application object and its start-up, modal
// dialogs with message maps chained to their base class, message boxes, files with their
// exception, a string, a growable array and the root object. Every operating-system call goes
// through os() (os.h), so a simulated Windows can stand in for all of it.
#pragma once

#include "os.h"

#include <cstring>
#include <new>
#include <string>

class CArchive;
class CWnd;
class CWinApp;
class CDataExchange;

// ---------------------------------------------------------------------------------------------
// Root object

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    const CRuntimeClass* m_pBaseClass;
};

class CObject {
public:
    static const CRuntimeClass classCObject;

    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() {}
    virtual void Serialize(CArchive&) {}

protected:
    CObject() {}

public:
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

// ---------------------------------------------------------------------------------------------
// Memory: every framework allocation goes through os().Allocate and throws CMemoryException*
// when it fails.

void* AfxAllocate(size_t bytes);        // never null: throws instead
void AfxFree(void* block);

template <class T>
struct CAfxAllocator {
    typedef T value_type;
    CAfxAllocator() noexcept {}
    template <class U> CAfxAllocator(const CAfxAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return static_cast<T*>(AfxAllocate(n * sizeof(T))); }
    void deallocate(T* p, size_t) noexcept { AfxFree(p); }
    template <class U> bool operator==(const CAfxAllocator<U>&) const noexcept { return true; }
    template <class U> bool operator!=(const CAfxAllocator<U>&) const noexcept { return false; }
};

// ---------------------------------------------------------------------------------------------
// String

class CString {
public:
    CString() {}
    CString(LPCSTR text) { *this = text; }
    CString(const CString& other) : m_str(other.m_str) {}

    const CString& operator=(LPCSTR text);            // null gives the empty string
    const CString& operator=(const CString& other);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    operator LPCSTR() const { return m_str.c_str(); }

    // First index of the substring, or -1. Case-sensitive; under a double-byte code page a
    // match counts only where a character starts, never inside a lead/trail byte pair.
    int Find(LPCSTR sub) const;
    int Find(char ch) const;

    bool operator==(LPCSTR other) const { return m_str == (other ? other : ""); }

private:
    typedef std::basic_string<char, std::char_traits<char>, CAfxAllocator<char>> Storage;
    Storage m_str;
};

// ---------------------------------------------------------------------------------------------
// Exceptions: thrown as pointers, disposed of by the catcher with Delete().

class CException : public CObject {
public:
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    void Delete();
    virtual BOOL GetErrorMessage(LPSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const;
    virtual int ReportError(UINT nType = MB_OK, UINT nMessageID = 0) const;

protected:
    BOOL m_bAutoDelete;
};

class CMemoryException : public CException {
public:
    explicit CMemoryException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
    BOOL GetErrorMessage(LPSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const override;
};

class CUserException : public CException {};

class CFileException : public CException {
public:
    enum {
        none, genericException, fileNotFound, badPath, tooManyOpenFiles, accessDenied,
        invalidFile, removeCurrentDir, directoryFull, badSeek, hardIO, sharingViolation,
        lockViolation, diskFull, endOfFile
    };

    explicit CFileException(int cause = none, LONG lOsError = -1, LPCSTR lpszFileName = nullptr);
    BOOL GetErrorMessage(LPSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const override;

    // Maps a Windows error code to one of the causes above.
    static int OsErrorToException(LONG lOsError);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1, LPCSTR lpszFileName = nullptr);

// ---------------------------------------------------------------------------------------------
// Growable array owning its elements by value, in index order. New elements are zero-filled,
// then default-constructed; shrinking destroys the surplus. Elements are relocated bitwise when
// the storage grows, so an element type must not point into itself.

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray : public CObject {
public:
    CArray() : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(0) {}
    ~CArray() override { RemoveAll(); }

    INT_PTR GetSize() const { return m_nSize; }
    INT_PTR GetCount() const { return m_nSize; }
    INT_PTR GetUpperBound() const { return m_nSize - 1; }
    INT_PTR GetCapacity() const { return m_nMaxSize; }
    INT_PTR GetGrowBy() const { return m_nGrowBy; }
    BOOL IsEmpty() const { return m_nSize == 0; }
    const TYPE* GetData() const { return m_pData; }

    void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1);
    void RemoveAll() { SetSize(0, -1); }

    TYPE& ElementAt(INT_PTR i) { return m_pData[i]; }
    const TYPE& GetAt(INT_PTR i) const { return m_pData[i]; }
    TYPE& operator[](INT_PTR i) { return m_pData[i]; }
    const TYPE& operator[](INT_PTR i) const { return m_pData[i]; }
    void SetAt(INT_PTR i, ARG_TYPE newElement) { m_pData[i] = newElement; }
    void SetAtGrow(INT_PTR i, ARG_TYPE newElement);
    INT_PTR Add(ARG_TYPE newElement);

private:
    static void ConstructElements(TYPE* p, INT_PTR n)
    {
        std::memset(static_cast<void*>(p), 0, static_cast<size_t>(n) * sizeof(TYPE));
        for (INT_PTR i = 0; i < n; ++i)
            ::new (static_cast<void*>(p + i)) TYPE;
    }
    static void DestructElements(TYPE* p, INT_PTR n)
    {
        for (INT_PTR i = 0; i < n; ++i)
            p[i].~TYPE();
    }

    TYPE* m_pData;
    INT_PTR m_nSize;
    INT_PTR m_nMaxSize;
    INT_PTR m_nGrowBy;
};

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetSize(INT_PTR nNewSize, INT_PTR nGrowBy)
{
    if (nGrowBy >= 0)
        m_nGrowBy = nGrowBy;

    if (nNewSize == 0) {
        if (m_pData) {
            DestructElements(m_pData, m_nSize);
            AfxFree(m_pData);
            m_pData = nullptr;
        }
        m_nSize = m_nMaxSize = 0;
    } else if (!m_pData) {
        INT_PTR nAlloc = nNewSize > m_nGrowBy ? nNewSize : m_nGrowBy;
        m_pData = static_cast<TYPE*>(AfxAllocate(static_cast<size_t>(nAlloc) * sizeof(TYPE)));
        ConstructElements(m_pData, nNewSize);
        m_nSize = nNewSize;
        m_nMaxSize = nAlloc;
    } else if (nNewSize <= m_nMaxSize) {
        if (nNewSize > m_nSize)
            ConstructElements(m_pData + m_nSize, nNewSize - m_nSize);
        else if (m_nSize > nNewSize)
            DestructElements(m_pData + nNewSize, m_nSize - nNewSize);
        m_nSize = nNewSize;
    } else {
        // Automatic growth: a step that rises with the size, between 4 and 1024 elements.
        INT_PTR nStep = m_nGrowBy;
        if (nStep == 0) {
            nStep = m_nSize / 8;
            nStep = nStep < 4 ? 4 : (nStep > 1024 ? 1024 : nStep);
        }
        INT_PTR nNewMax = m_nMaxSize + nStep;
        if (nNewMax < nNewSize)
            nNewMax = nNewSize;
        TYPE* pNew = static_cast<TYPE*>(AfxAllocate(static_cast<size_t>(nNewMax) * sizeof(TYPE)));
        std::memcpy(static_cast<void*>(pNew), static_cast<void*>(m_pData),
                    static_cast<size_t>(m_nSize) * sizeof(TYPE));
        ConstructElements(pNew + m_nSize, nNewSize - m_nSize);
        AfxFree(m_pData);
        m_pData = pNew;
        m_nSize = nNewSize;
        m_nMaxSize = nNewMax;
    }
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetAtGrow(INT_PTR i, ARG_TYPE newElement)
{
    if (i >= m_nSize)
        SetSize(i + 1, -1);
    m_pData[i] = newElement;
}

template <class TYPE, class ARG_TYPE>
INT_PTR CArray<TYPE, ARG_TYPE>::Add(ARG_TYPE newElement)
{
    INT_PTR nIndex = m_nSize;
    SetAtGrow(nIndex, newElement);
    return nIndex;
}

// ---------------------------------------------------------------------------------------------
// Files

class CFile : public CObject {
public:
    enum OpenFlags {
        modeRead = 0x0000, modeWrite = 0x0001, modeReadWrite = 0x0002,
        shareCompat = 0x0000, shareExclusive = 0x0010, shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030, shareDenyNone = 0x0040,
        modeNoInherit = 0x0080, modeCreate = 0x1000, modeNoTruncate = 0x2000
    };
    enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

    CFile();
    ~CFile() override;   // closes the file if it is still open, and never throws

    // FALSE on failure, with the record (if given) filled in; throws nothing.
    virtual BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // These throw CFileException* on failure. A write that stores fewer bytes than asked is
    // reported as a full disk with system error -1.
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual void Close();

    HANDLE m_hFile;
    CString m_strFileName;
};

// ---------------------------------------------------------------------------------------------
// Message maps: a table per class, chained to its base class's table.

class CCmdTarget;
typedef LRESULT (*AFX_PMSG_THUNK)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;          // window message; WM_COMMAND entries also carry the command id
    UINT nID;
    AFX_PMSG_THUNK pfn;     // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();   // null for the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                                  \
protected:                                                     \
    static const AFX_MSGMAP* GetThisMessageMap();              \
    const AFX_MSGMAP* GetMessageMap() const override;          \
public:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                            \
    {                                                                          \
        using ThisClass [[maybe_unused]] = theClass;                           \
        using TheBaseClass = baseClass;                                        \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                      \
            { 0, 0, nullptr }                                                  \
        };                                                                     \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, \
                                               &_messageEntries[0] };          \
        return &messageMap;                                                    \
    }

#define ON_COMMAND(id, memberFxn)                                              \
    { WM_COMMAND, static_cast<UINT>(id),                                       \
      [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {                           \
          static_cast<ThisClass*>(p)->memberFxn(); return 0; } },

#define ON_WM_PAINT()                                                          \
    { WM_PAINT, 0,                                                             \
      [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {                           \
          static_cast<ThisClass*>(p)->OnPaint(); return 0; } },

#define ON_WM_QUERYDRAGICON()                                                  \
    { WM_QUERYDRAGICON, 0,                                                     \
      [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {                           \
          return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(p)->OnQueryDragIcon()); } },

class CCmdTarget : public CObject {
public:
    // Runs the command's handler from this object's message map; FALSE when it has none.
    virtual BOOL OnCmdMsg(UINT nID);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // The first entry for this message (and, for WM_COMMAND, this id) in the map chain.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nID) const;
};

// ---------------------------------------------------------------------------------------------
// Windows and dialogs

#define ID_HELP 0xE146
#define AFX_IDS_APP_TITLE 0xE000
#define HID_BASE_RESOURCE 0x00020000UL

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    void GetWindowRect(LPRECT lpRect) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    BOOL DestroyWindow();
    // Centres the window in the work area of the primary display.
    void CenterWindow();

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);

    // Message dispatch: TRUE when handled, with the handler's result in *pResult.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // The help context this window answers to a help request (0: none).
    virtual DWORD GetHelpContext() const { return 0; }

    HWND m_hWnd;

protected:
    // Asks for the system's default processing of the message being handled.
    LRESULT Default();
    afx_msg void OnPaint() { Default(); }
    afx_msg HCURSOR OnQueryDragIcon() { Default(); return nullptr; }
    virtual void OnNcDestroy();

    BOOL m_bUseDefault;   // set by Default() while a message is being handled

    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog modally: the code given to EndDialog, or -1 when it cannot be created.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    void EndDialog(int nResult);

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    BOOL OnCmdMsg(UINT nID) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    DWORD GetHelpContext() const override { return m_nIDHelp ? HID_BASE_RESOURCE + m_nIDHelp : 0; }

    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;
    UINT m_nIDHelp;
    CWnd* m_pParentWnd;

protected:
    BOOL HandleInitDialog();

    INT_PTR m_nModalResult;
    BOOL m_bContinueModal;

    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()
};

class CDC : public CObject {
public:
    CDC() : m_hDC(nullptr) {}
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return os().DrawIcon(m_hDC, x, y, hIcon); }
    HDC m_hDC;
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

// The framework's dialog procedure: routes each message to the CDialog's message map and
// keeps any framework exception from unwinding into the system's code.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------------------------
// Application

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitApplication();
    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();
    virtual int DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT nIDPrompt);
    // Reports an exception that left a message handler: memory exhaustion as "Out of memory."
    // (system modal), any other but CUserException with its own text and a stop icon.
    virtual LRESULT ProcessWndProcException(CException* e, const MSG* pMsg);

    // Turns on 3-D dialog controls where the system lacks them (before Windows 4.0).
    BOOL Enable3dControlsStatic();

    afx_msg void OnHelp();

    // Records the module's handles and derives the title, executable and help-file names.
    void SetCurrentHandles(HINSTANCE hInstance);

    LPCSTR m_pszAppName;        // the application title: the caption of every message box
    LPCSTR m_pszExeName;
    LPCSTR m_pszHelpFilePath;
    HINSTANCE m_hInstance;
    LPSTR m_lpCmdLine;
    int m_nCmdShow;
    CWnd* m_pMainWnd;
    DWORD m_dwPromptContext;

private:
    CWinApp* m_pPreviousApp;    // the application in force before this one was constructed
    CString m_strAppName;
    CString m_strExeName;
    CString m_strHelpFilePath;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hResource);
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

// The title derived from a module path: the base name, less its extension.
CString AfxTitleFromModulePath(LPCSTR lpszPath);
