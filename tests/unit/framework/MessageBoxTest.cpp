// The application title and AfxMessageBox: the caption, owner, icon and answer of every
// message box the program shows.
#include "framework/FrameworkTest.h"

namespace {

using AppTest = FrameworkTest;

TEST_F(AppTest, TheTitleIsTheModulesBaseNameWithoutItsExtension)
{
    struct Case { const char* path; const char* title; } cases[] = {
        {"C:\\Games\\Zarpo OGL Install.EXE", "Zarpo OGL Install"},
        {"C:\\x\\Other.Name.v2.exe", "Other.Name.v2"},
        {"C:/x/y/prog.exe", "prog"},
        {"C:prog.exe", "prog"},
        {"\\\\server\\share\\setup.exe", "setup"},
        {"C:\\Games\\Zarpo", "Zarpo"},
        {"C:\\dir.v1\\prog", "prog"},
        {"prog.exe", "prog"},
        {"C:\\x\\.hidden", ""},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.title, static_cast<LPCSTR>(AfxTitleFromModulePath(c.path))) << c.path;
}

TEST_F(AppTest, TheTitleWalksDoubleByteCharactersWhole)
{
    sim.SetLeadBytes(0x81, 0x9F);
    // 0x95 0x5C is one character whose trail byte reads as a backslash.
    EXPECT_STREQ("\x95\x5C" "name", static_cast<LPCSTR>(AfxTitleFromModulePath("C:\\\x95\x5C" "name.exe")));
}

TEST_F(AppTest, StartUpDerivesTitleAndHelpFileFromTheModulePath)
{
    struct Case { const char* path; const char* title; const char* help; } cases[] = {
        {"C:\\Games\\Zarpo OGL Install.EXE", "Zarpo OGL Install", "C:\\Games\\Zarpo OGL Install.HLP"},
        {"C:\\x\\Other.Name.v2.exe", "Other.Name.v2", "C:\\x\\Other.Name.v2.HLP"},
        {"C:\\dir.v1\\prog", "prog", "C:\\dir.v1\\prog.HLP"},
    };
    for (const Case& c : cases) {
        sim.SetModulePath(c.path);
        TestApp a;
        a.SetCurrentHandles(reinterpret_cast<HINSTANCE>(sim.Module()));
        EXPECT_STREQ(c.title, a.m_pszAppName) << c.path;
        EXPECT_STREQ(c.title, a.m_pszExeName) << c.path;
        EXPECT_STREQ(c.help, a.m_pszHelpFilePath) << c.path;
        EXPECT_EQ(reinterpret_cast<HINSTANCE>(sim.Module()), AfxGetResourceHandle());
    }
    TestApp named("Given Name");
    named.SetCurrentHandles(reinterpret_cast<HINSTANCE>(sim.Module()));
    EXPECT_STREQ("Given Name", named.m_pszAppName) << "a name given to the application is kept";
}

TEST_F(AppTest, MessageBoxesGetTheExclamationIconOnlyForTheirButtonSets)
{
    struct Case { UINT type; UINT shown; } cases[] = {
        {MB_OK, MB_OK | MB_ICONEXCLAMATION},
        {MB_OKCANCEL, MB_OKCANCEL | MB_ICONEXCLAMATION},
        {MB_YESNOCANCEL, MB_YESNOCANCEL | MB_ICONEXCLAMATION},
        {MB_YESNO, MB_YESNO | MB_ICONEXCLAMATION},
        {MB_ABORTRETRYIGNORE, MB_ABORTRETRYIGNORE},
        {MB_RETRYCANCEL, MB_RETRYCANCEL},
        {MB_OK | MB_ICONSTOP, MB_OK | MB_ICONSTOP},
        {MB_YESNO | MB_ICONQUESTION, MB_YESNO | MB_ICONQUESTION},
        {MB_OK | MB_ICONINFORMATION, MB_OK | MB_ICONINFORMATION},
        {MB_OK | MB_SYSTEMMODAL, MB_OK | MB_SYSTEMMODAL | MB_ICONEXCLAMATION},
        {MB_YESNO | MB_DEFBUTTON2, MB_YESNO | MB_DEFBUTTON2 | MB_ICONEXCLAMATION},
    };
    // Each box is answered with its first button.
    sim.AnswerBoxesWith([](const SimMessageBox& box) {
        switch (box.type & MB_TYPEMASK) {
        case MB_ABORTRETRYIGNORE: return IDABORT;
        case MB_YESNOCANCEL:
        case MB_YESNO: return IDYES;
        case MB_RETRYCANCEL: return IDRETRY;
        default: return IDOK;
        }
    });
    for (const Case& c : cases) {
        AfxMessageBox("Can't change directory.", c.type, 0);
        ASSERT_FALSE(sim.MessageBoxes().empty());
        EXPECT_EQ(c.shown, sim.MessageBoxes().back().type) << "type 0x" << std::hex << c.type;
    }
}

TEST_F(AppTest, MessageBoxesAreOwnedByTheMainWindowOrItsLastActivePopup)
{
    CWnd main;
    CWnd unshown;
    HWND mainWnd = sim.AddWindow(RECT{0, 0, 200, 100});
    HWND popup = sim.AddWindow(RECT{10, 10, 100, 50}, mainWnd);
    main.m_hWnd = mainWnd;
    struct Case { const char* what; CWnd* mainWindow; HWND popup; HWND owner; } cases[] = {
        {"no main window", nullptr, nullptr, nullptr},
        {"a main window", &main, nullptr, mainWnd},
        {"a main window with an active popup", &main, popup, popup},
        {"a main window without a system window", &unshown, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        app->m_pMainWnd = c.mainWindow;
        sim.SetLastActivePopup(mainWnd, c.popup);
        AfxMessageBox("Not enough disk space error.");
        EXPECT_EQ(c.owner, sim.MessageBoxes().back().owner) << c.what;
        EXPECT_EQ("Zarpo OGL Install", sim.MessageBoxes().back().caption.value_or("(null)")) << c.what;
    }
    app->m_pMainWnd = nullptr;
    main.m_hWnd = nullptr;
}

TEST_F(AppTest, AMessageBoxReturnsTheAnswer)
{
    for (int answer : {IDYES, IDNO}) {
        sim.AnswerNextBox(answer);
        EXPECT_EQ(answer, AfxMessageBox("Couldn't get OS version.  Procede using manual exit?", MB_YESNO, 0));
    }
    EXPECT_EQ(IDOK, AfxMessageBox("Zarpo OGL requires Windows 95/NT4.0 or later."));
    std::vector<std::string> expected = {"Couldn't get OS version.  Procede using manual exit?",
                                         "Couldn't get OS version.  Procede using manual exit?",
                                         "Zarpo OGL requires Windows 95/NT4.0 or later."};
    EXPECT_EQ(expected, sim.MessageBoxTexts());
}

TEST_F(AppTest, HelpIdZeroLeavesThePromptContextUnchanged)
{
    struct Case { UINT helpId; DWORD during; } cases[] = {{0, 0x1234}, {7, 0x30007}};
    for (const Case& c : cases) {
        app->m_dwPromptContext = 0x1234;
        DWORD seen = 0;
        sim.AnswerBoxesWith([&](const SimMessageBox&) {
            seen = app->m_dwPromptContext;
            return IDOK;
        });
        AfxMessageBox("Can't get resources.", MB_OK, c.helpId);
        EXPECT_EQ(c.during, seen) << "help id " << c.helpId << ", while the box is up";
        EXPECT_EQ(0x1234u, app->m_dwPromptContext) << "help id " << c.helpId << ", afterwards";
    }
}

}  // namespace

namespace {

// An application whose start-up steps can be watched.
class StartApp : public TestApp {
public:
    BOOL InitApplication() override
    {
        steps.push_back("InitApplication");
        return TRUE;
    }
    BOOL InitInstance() override
    {
        steps.push_back(std::string("InitInstance, title ") + (m_pszAppName ? m_pszAppName : "(null)"));
        if (makeMainWindow)
            m_pMainWnd = &main;
        return FALSE;
    }
    int ExitInstance() override
    {
        steps.push_back("ExitInstance");
        return 7;
    }
    std::vector<std::string> steps;
    bool makeMainWindow = false;
    CWnd main;
};

TEST_F(AppTest, StartUpRunsInitInstanceOnceAndEndsWithoutAMessageLoop)
{
    for (bool withMainWindow : {false, true}) {
        ScopedSim s;
        s.SetModulePath("C:\\Games\\Zarpo OGL Install.EXE");
        s.SetErrorModeValue(SEM_NOGPFAULTERRORBOX);
        HWND mainWnd = s.AddWindow(RECT{0, 0, 100, 100});
        StartApp start;
        start.makeMainWindow = withMainWindow;
        start.main.m_hWnd = mainWnd;
        EXPECT_EQ(7, AfxWinMain(reinterpret_cast<HINSTANCE>(s.Module()), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL));
        EXPECT_EQ((std::vector<std::string>{"InitApplication", "InitInstance, title Zarpo OGL Install", "ExitInstance"}),
                  start.steps);
        EXPECT_EQ(static_cast<UINT>(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX), s.ErrorMode())
            << "the two error-mode flags are added to what was there";
        EXPECT_EQ(0, s.Count("GetMessageA")) << "no message loop after InitInstance returned FALSE";
        EXPECT_EQ(withMainWindow ? 1 : 0, s.Count("DestroyWindow")) << "a main window still set is destroyed";
        EXPECT_EQ(reinterpret_cast<HINSTANCE>(s.Module()), AfxGetInstanceHandle());
        start.main.m_hWnd = nullptr;
        start.m_pMainWnd = nullptr;
    }
}

}  // namespace
