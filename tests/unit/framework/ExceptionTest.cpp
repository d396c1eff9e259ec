// Framework exceptions: thrown as pointers, deleted by their catcher, and reported by the
// application object when they escape a message handler.
#include "framework/FrameworkTest.h"

namespace {

// A file exception that counts its destructions.
struct CountedFileException : CFileException {
    static int destroyed;
    CountedFileException(BOOL autoDelete) : CFileException(diskFull, ERROR_DISK_FULL, "setup.ins")
    {
        m_bAutoDelete = autoDelete;
    }
    ~CountedFileException() override { ++destroyed; }
};
int CountedFileException::destroyed = 0;

using ExceptionTest = FrameworkTest;

TEST_F(ExceptionTest, AfxThrowFileExceptionThrowsANewOneWithTheDetails)
{
    struct Case { int cause; LONG osError; const char* name; } cases[] = {
        {CFileException::accessDenied, ERROR_ACCESS_DENIED, "setup.exe"},
        {CFileException::sharingViolation, ERROR_SHARING_VIOLATION, "_isdel.exe"},
        {CFileException::diskFull, -1, "data1.cab"},
        {CFileException::none, -1, ""},
    };
    std::vector<CFileException*> thrown;
    for (const Case& c : cases) {
        CFileException* caught = nullptr;
        try {
            AfxThrowFileException(c.cause, c.osError, c.name);
        } catch (CFileException* e) {
            caught = e;
        }
        ASSERT_NE(nullptr, caught);
        for (CFileException* earlier : thrown)
            EXPECT_NE(earlier, caught) << "a new exception each time";
        EXPECT_EQ(c.cause, caught->m_cause);
        EXPECT_EQ(c.osError, caught->m_lOsError);
        EXPECT_STREQ(c.name, static_cast<LPCSTR>(caught->m_strFileName));
        thrown.push_back(caught);
    }
    for (CFileException* e : thrown)
        e->Delete();
}

TEST_F(ExceptionTest, DeleteFreesOnlyExceptionsThatAreTheirOwnersResponsibility)
{
    CountedFileException::destroyed = 0;
    CException* owned = new CountedFileException(TRUE);
    owned->Delete();
    EXPECT_EQ(1, CountedFileException::destroyed);

    CountedFileException* fixed = new CountedFileException(FALSE);
    fixed->Delete();
    EXPECT_EQ(1, CountedFileException::destroyed) << "an exception that is not auto-deleted survives Delete";
    delete fixed;
}

TEST_F(ExceptionTest, AFailedAllocationThrowsAMemoryException)
{
    sim.FailAllocationsAfter(0);
    bool caught = false;
    try {
        CString s("a string too long for the small-string buffer");
    } catch (CMemoryException* e) {
        caught = true;
        e->Delete();
    }
    EXPECT_TRUE(caught);
}

// What the application object shows for an exception that left a message handler.
TEST_F(ExceptionTest, ProcessWndProcExceptionReportsAsTheKindRequires)
{
    CFileException fileError(CFileException::diskFull, ERROR_DISK_FULL, "data1.cab");
    char fileText[512];
    ASSERT_TRUE(fileError.GetErrorMessage(fileText, sizeof fileText));
    CMemoryException memory(FALSE);
    CUserException user;
    struct Case { const char* what; CException* e; bool shown; std::string text; UINT type; } cases[] = {
        {"memory", &memory, true, "Out of memory.", MB_ICONEXCLAMATION | MB_SYSTEMMODAL},
        {"file", &fileError, true, fileText, MB_ICONSTOP},
        {"user", &user, false, "", 0},
    };
    for (const Case& c : cases) {
        size_t before = sim.MessageBoxes().size();
        MSG msg{};
        app->ProcessWndProcException(c.e, &msg);
        ASSERT_EQ(before + (c.shown ? 1 : 0), sim.MessageBoxes().size()) << c.what;
        if (c.shown) {
            const SimMessageBox& box = sim.MessageBoxes().back();
            EXPECT_EQ(c.text, box.text) << c.what;
            EXPECT_EQ(c.type, box.type) << c.what;
            EXPECT_EQ("Zarpo OGL Install", box.caption.value_or("(null)")) << c.what;
        }
    }
    EXPECT_NE(std::string(fileText).find("data1.cab"), std::string::npos)
        << "a file exception's own text names its file: " << fileText;
}

}  // namespace
