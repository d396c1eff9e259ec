// CFile with CFileException: how the payload extraction creates, writes and closes its files.
#include "framework/FrameworkTest.h"

#include <string>

namespace {

constexpr UINT kCreateWrite = CFile::modeCreate | CFile::modeWrite;

class FileTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        sim.PutDir("C:\\WINDOWS\\TEMP\\ZARPO");
        sim.SetCurrentDirectory("C:\\WINDOWS\\TEMP\\ZARPO");
    }

    // Runs f and gives the file exception it threw (deleted), or reports that none came.
    template <class F>
    std::unique_ptr<CFileException> Thrown(F f)
    {
        try {
            f();
        } catch (CFileException* e) {
            std::unique_ptr<CFileException> copy(new CFileException(e->m_cause, e->m_lOsError, e->m_strFileName));
            e->Delete();
            return copy;
        }
        ADD_FAILURE() << "no CFileException was thrown";
        return nullptr;
    }
};

TEST_F(FileTest, OpenForCreateAndWriteCreatesOrCutsTheFileWriteOnlySharedWithNobody)
{
    EXPECT_EQ(0x1001u, kCreateWrite);
    struct Case { const char* existing; } cases[] = {{nullptr}, {"old contents, longer than the new"}};
    for (const Case& c : cases) {
        ScopedSim s;
        s.PutDir("C:\\T");
        s.SetCurrentDirectory("C:\\T");
        if (c.existing)
            s.PutFile("C:\\T\\setup.lid", c.existing);
        {
            CFile file;
            CFileException error;
            ASSERT_TRUE(file.Open("setup.lid", kCreateWrite, &error));
            file.Seek(0, CFile::begin);
            file.Write("new", 3);
            file.Close();
        }
        EXPECT_EQ("new", s.ReadFile("C:\\T\\setup.lid")) << (c.existing ? "replaced completely" : "created");
        ASSERT_EQ(1u, s.FileOpens().size());
        const SimFileOpen& open = s.FileOpens()[0];
        EXPECT_EQ("setup.lid", open.name);
        EXPECT_EQ(static_cast<DWORD>(GENERIC_WRITE), open.access) << "write-only";
        EXPECT_EQ(0u, open.share) << "shared with nobody";
        EXPECT_EQ(static_cast<DWORD>(CREATE_ALWAYS), open.disposition) << "created or cut to length 0";
        EXPECT_EQ(0, s.OpenHandleCount());
    }
}

TEST_F(FileTest, AFailedOpenFillsTheRecordAndThrowsNothing)
{
    sim.PutFile("readonly.bin", "r");
    sim.SetReadOnly("readonly.bin");
    sim.PutFile("held.bin", "h");
    sim.HoldOpen("held.bin");
    sim.PutDir("adir");
    struct Case { const char* name; int cause; LONG osError; } cases[] = {
        {"readonly.bin", CFileException::accessDenied, ERROR_ACCESS_DENIED},
        {"held.bin", CFileException::sharingViolation, ERROR_SHARING_VIOLATION},
        {"missing\\x.bin", CFileException::badPath, ERROR_PATH_NOT_FOUND},
        {"adir", CFileException::accessDenied, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        CFile file;
        CFileException error;
        EXPECT_EQ(CFileException::none, error.m_cause) << "a fresh record";
        EXPECT_EQ(-1, error.m_lOsError);
        BOOL opened = TRUE;
        EXPECT_NO_THROW(opened = file.Open(c.name, kCreateWrite, &error)) << c.name;
        EXPECT_FALSE(opened) << c.name;
        EXPECT_EQ(c.cause, error.m_cause) << c.name;
        EXPECT_EQ(c.osError, error.m_lOsError) << c.name;
        EXPECT_STREQ(c.name, static_cast<LPCSTR>(error.m_strFileName));
    }
    EXPECT_EQ(0, sim.OpenHandleCount());
    EXPECT_EQ(0, sim.Count("CloseHandle")) << "nothing was open, nothing closed:\n" << sim.LogText();
}

TEST_F(FileTest, WriteStoresTheWholeBufferAtThePosition)
{
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    CFile file;
    ASSERT_TRUE(file.Open("data1.cab", kCreateWrite));
    EXPECT_EQ(0u, file.Seek(0, CFile::begin));
    file.Write(data.data(), static_cast<UINT>(data.size()));
    file.Write("", 0);
    file.Close();
    EXPECT_EQ(data, sim.ReadFile("data1.cab"));
}

TEST_F(FileTest, WriteThrowsOnAFailureAndOnAShortWrite)
{
    struct Case { const char* what; uint64_t capacity; DWORD shortBy; int cause; LONG osError; } cases[] = {
        {"the disk fills up during the write", 10, 0, CFileException::diskFull, -1},
        {"the disk is already full", 0, 0, CFileException::diskFull, ERROR_DISK_FULL},
        {"the system writes less than asked", kSimUnlimited, 5, CFileException::diskFull, -1},
    };
    for (const Case& c : cases) {
        ScopedSim s;
        s.SetCapacity('C', c.capacity);
        if (c.shortBy)
            s.Fail("WriteFile").ShortBy(c.shortBy);
        {
            CFile file;
            ASSERT_TRUE(file.Open("C:\\setup.bmp", kCreateWrite)) << c.what;
            auto e = Thrown([&] { file.Write("0123456789abcdef", 16); });
            if (e) {
                EXPECT_EQ(c.cause, e->m_cause) << c.what;
                EXPECT_EQ(c.osError, e->m_lOsError) << c.what;
                EXPECT_STREQ("C:\\setup.bmp", static_cast<LPCSTR>(e->m_strFileName)) << c.what;
            }
            EXPECT_EQ(1, s.OpenFileHandles()) << c.what << ": the file stays open for its owner";
        }
        EXPECT_EQ(0, s.OpenHandleCount()) << c.what << ": destruction closed it";
    }
}

TEST_F(FileTest, SeekThrowsOnFailure)
{
    CFile file;
    ASSERT_TRUE(file.Open("os.dat", kCreateWrite));
    auto e = Thrown([&] { file.Seek(-1, CFile::begin); });
    if (e) {
        EXPECT_EQ(CFileException::badSeek, e->m_cause);
        EXPECT_EQ(ERROR_NEGATIVE_SEEK, e->m_lOsError);
    }
    sim.Fail("SetFilePointer").Error(ERROR_INVALID_HANDLE);
    e = Thrown([&] { file.Seek(0, CFile::begin); });
    if (e) {
        EXPECT_EQ(CFileException::invalidFile, e->m_cause);
        EXPECT_STREQ("os.dat", static_cast<LPCSTR>(e->m_strFileName));
    }
}

TEST_F(FileTest, CloseThrowsOnFailureAndTheHandleIsNotClosedTwice)
{
    sim.Fail("CloseHandle").When("lang.dat").Error(ERROR_WRITE_FAULT);
    {
        CFile file;
        ASSERT_TRUE(file.Open("lang.dat", kCreateWrite));
        auto e = Thrown([&] { file.Close(); });
        if (e) {
            EXPECT_EQ(CFileException::hardIO, e->m_cause);
            EXPECT_EQ(ERROR_WRITE_FAULT, e->m_lOsError);
        }
    }
    EXPECT_EQ(1, sim.Count("CloseHandle")) << "the destructor must not close it again:\n" << sim.LogText();
}

TEST_F(FileTest, DestructionClosesAnOpenFileAndNeverThrows)
{
    sim.Fail("CloseHandle").When("layout.bin");
    auto scope = [&] {
        CFile file;
        ASSERT_TRUE(file.Open("layout.bin", kCreateWrite));
        file.Write("abc", 3);
    };
    EXPECT_NO_THROW(scope()) << "a failing close in the destructor is swallowed";
    EXPECT_EQ(0, sim.OpenHandleCount());
    EXPECT_EQ((std::vector<std::string>{"CloseHandle(file layout.bin)"}), sim.Calls("CloseHandle"));
    EXPECT_EQ(0, sim.remove("layout.bin")) << "closed, so the sweep can remove it";
    {
        CFile neverOpened;
    }
    EXPECT_EQ(1, sim.Count("CloseHandle")) << "a file never opened closes nothing";
}

}  // namespace
