// The application shell: the title and help file taken from the module path, the start-up that
// shows the confirmation dialog as the main window and ends without a message loop, and the
// dialog's icon, painting and help.
#include "sim/SimOs.h"

#include "app/InstallApp.h"
#include "app/InstallDlg.h"
#include "install/InstallRun.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr const char* kRefused = "Zarpo OGL requires Windows 95/NT4.0 or later.";

std::string Join(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text.empty() ? "  (none)\n" : text;
}

int FindLine(const std::vector<std::string>& log, const std::string& prefix, size_t from = 0)
{
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

int LastLine(const std::vector<std::string>& log, const std::string& prefix)
{
    int last = -1;
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0)
            last = static_cast<int>(i);
    return last;
}

// The application object as it is when the process starts: no title, no main window.
class Shell : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        g_bInstallStarted = 0;
        g_bEngineGone = 0;
        theApp.m_pMainWnd = nullptr;
        theApp.m_pszAppName = nullptr;
        theApp.m_dwPromptContext = 0;
        AfxSetResourceHandle(nullptr);
    }

    void TearDown() override
    {
        theApp.m_pMainWnd = nullptr;
        SimTest::TearDown();
    }

    void AddResources(const SimDialogTemplate& t = SimDialogTemplate())
    {
        sim.AddDialogTemplate(IDD_INSTALL_DIALOG, t);
        sim.AddIcon(IDR_MAINFRAME);
    }

    int RunProgram()
    {
        char commandLine[] = "";
        return AfxWinMain(sim.Module(), nullptr, commandLine, SW_SHOWNORMAL);
    }

    // An OnIdle step that runs while the dialog is up; the dialog's handle is in m_dialog.
    void WhileUp(std::function<void()> step)
    {
        sim.OnIdle([this, step] {
            m_dialog = sim.LastDialog();
            ASSERT_TRUE(sim.HasWindow(m_dialog)) << "expected the dialog to be up";
            step();
        });
    }

    void PostToDialog(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        sim.Post(sim.LastDialog(), message, wParam, lParam);
    }

    void ThenCancel() { sim.PostToDialogWhenIdle(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)); }

    // Nothing was asked, shown, made or written.
    void ExpectNoTrace()
    {
        EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
        EXPECT_TRUE(sim.FileOpens().empty()) << "expected no file opened";
        EXPECT_EQ(0, sim.Count("_mkdir")) << "expected no directory made";
        EXPECT_EQ(0, sim.Count("remove")) << "expected nothing removed";
        EXPECT_EQ(0, sim.Count("GetWindowsDirectoryA")) << "expected no install step";
        EXPECT_EQ(std::vector<std::string>{ "WINDOWS" }, sim.List("C:\\")) << "expected the disk unchanged";
    }

    HWND m_dialog = nullptr;
};

// --- title and help file -----------------------------------------------------------------------

struct TitleCase {
    const char* path;
    const char* title;
    const char* helpFile;
};

void PrintTo(const TitleCase& c, std::ostream* os) { *os << c.path; }

const TitleCase kTitles[] = {
    { "C:\\Games\\Zarpo OGL Install.EXE", "Zarpo OGL Install", "C:\\Games\\Zarpo OGL Install.HLP" },
    { "C:\\x\\Other.Name.v2.exe", "Other.Name.v2", "C:\\x\\Other.Name.v2.HLP" },
    { "C:/Games/Forward.exe", "Forward", "C:/Games/Forward.HLP" },
    { "C:\\Games/Mixed\\Sep/Last.exe", "Last", "C:\\Games/Mixed\\Sep/Last.HLP" },
    { "C:Relative.exe", "Relative", "C:Relative.HLP" },
    { "C:\\Games\\NoDot", "NoDot", "C:\\Games\\NoDot.HLP" },
    { "C:\\Dir.d\\NoDot", "NoDot", "C:\\Dir.d\\NoDot.HLP" },
    { "C:\\Dir.d\\Sub.x\\Name.exe", "Name", "C:\\Dir.d\\Sub.x\\Name.HLP" },
    { "C:/Dir.d/NoDot", "NoDot", "C:/Dir.d/NoDot.HLP" },
    { "C:\\Games\\Trailing.", "Trailing", "C:\\Games\\Trailing.HLP" },
};

class ShellTitle : public Shell, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(ShellTitle, IsTheModuleBaseNameLessItsExtension)
{
    const TitleCase& c = GetParam();
    sim.SetModulePath(c.path);
    theApp.SetCurrentHandles(sim.Module());

    ASSERT_NE(nullptr, theApp.m_pszAppName) << "expected a title";
    EXPECT_STREQ(c.title, theApp.m_pszAppName) << "expected the title of " << c.path;
    ASSERT_NE(nullptr, theApp.m_pszHelpFilePath) << "expected a help-file path";
    EXPECT_STREQ(c.helpFile, theApp.m_pszHelpFilePath) << "expected the help file beside " << c.path;
    EXPECT_EQ(sim.Module(), AfxGetResourceHandle()) << "expected the executable to give the resources";

    AfxMessageBox("x");
    ASSERT_EQ(1u, sim.MessageBoxes().size());
    EXPECT_EQ(std::optional<std::string>(c.title), sim.MessageBoxes()[0].caption) << "expected the title as caption";
}

INSTANTIATE_TEST_SUITE_P(Titles, ShellTitle, ::testing::ValuesIn(kTitles));

// --- start-up and end ----------------------------------------------------------------------------

TEST_F(Shell, StartUpShowsTheDialogAsMainWindowAndEndsWithoutAMessageLoop)
{
    AddResources();
    sim.SetErrorMode(SEM_NOGPFAULTERRORBOX);
    sim.ClearLog();
    CWnd* mainWhileUp = nullptr;
    HWND mainHandleWhileUp = nullptr;
    bool visibleWhileUp = false;
    WhileUp([&] {
        mainWhileUp = theApp.m_pMainWnd;
        mainHandleWhileUp = mainWhileUp ? mainWhileUp->m_hWnd : nullptr;
        visibleWhileUp = sim.Window(m_dialog).visible;
    });
    ThenCancel();

    EXPECT_EQ(0, RunProgram()) << "expected exit status 0";

    EXPECT_EQ(static_cast<UINT>(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX), sim.ErrorMode())
        << "expected 0x8001 added to the error mode already set";
    EXPECT_EQ(std::vector<std::string>{ "CreateDialogParamA(0x00400000, #102, parent=null)" }, sim.Calls("CreateDialogParamA"))
        << "expected dialog 102 created once from the executable, with no parent";
    EXPECT_NE(nullptr, mainWhileUp) << "expected the dialog to be the main window while up";
    EXPECT_EQ(m_dialog, mainHandleWhileUp) << "expected the main window to be the dialog";
    EXPECT_TRUE(visibleWhileUp) << "expected the dialog shown";
    EXPECT_EQ(nullptr, theApp.m_pMainWnd) << "expected the main-window reference cleared";

    const std::vector<std::string> log = sim.Log();
    const int destroyed = FindLine(log, "DestroyWindow(dlg 102)");
    ASSERT_GE(destroyed, 0) << "expected the dialog destroyed\n" << sim.LogText();
    EXPECT_LT(LastLine(log, "GetMessageA("), destroyed) << "expected no message read after the dialog ended\n" << sim.LogText();
    EXPECT_TRUE(sim.QuitPosted()) << "expected the quit message left unread: no message loop ran";
    ExpectNoTrace();
}

TEST_F(Shell, InitInstanceReturnsFalseAfterTheDialog)
{
    AddResources();
    theApp.SetCurrentHandles(sim.Module());
    ThenCancel();
    EXPECT_FALSE(theApp.InitInstance()) << "expected InitInstance to return FALSE";
    EXPECT_EQ(nullptr, theApp.m_pMainWnd) << "expected no main window afterwards";
}

TEST_F(Shell, IconIsLoadedOnceAndSetBigAndSmall)
{
    AddResources();
    WhileUp([] {});
    ThenCancel();
    EXPECT_EQ(0, RunProgram());
    EXPECT_EQ(std::vector<std::string>{ "LoadIconA(0x00400000, #128)" }, sim.Calls("LoadIconA"))
        << "expected icon 128 loaded once from the executable";
    const std::vector<std::string> sends = sim.Calls("SendMessageA");
    EXPECT_NE(sends.end(), std::find(sends.begin(), sends.end(), "SendMessageA(dlg 102, WM_SETICON, 0x1, icon 128)"))
        << "expected the icon set as the big icon; sent:\n" << Join(sends);
    EXPECT_NE(sends.end(), std::find(sends.begin(), sends.end(), "SendMessageA(dlg 102, WM_SETICON, 0x0, icon 128)"))
        << "expected the icon set as the small icon; sent:\n" << Join(sends);
    EXPECT_EQ(sim.IconHandle(IDR_MAINFRAME), sim.Window(m_dialog).bigIcon) << "expected the big icon in place";
    EXPECT_EQ(sim.IconHandle(IDR_MAINFRAME), sim.Window(m_dialog).smallIcon) << "expected the small icon in place";
}

struct CentreCase {
    RECT workArea;
    int x, y;
};

void PrintTo(const CentreCase& c, std::ostream* os)
{
    *os << "work area " << c.workArea.left << "," << c.workArea.top << "-" << c.workArea.right << "," << c.workArea.bottom;
}

const CentreCase kCentres[] = {
    { { 0, 0, 1024, 768 }, 412, 334 },
    { { 100, 40, 900, 640 }, 400, 290 },
};

class ShellCentre : public Shell, public ::testing::WithParamInterface<CentreCase> {};

TEST_P(ShellCentre, DialogIsCentredInTheWorkArea)
{
    const CentreCase& c = GetParam();
    SimDialogTemplate t;
    t.width = 200;
    t.height = 100;
    AddResources(t);
    sim.SetWorkArea(c.workArea);
    RECT whileUp{};
    WhileUp([&] { whileUp = sim.Window(m_dialog).rect; });
    ThenCancel();

    EXPECT_EQ(0, RunProgram());
    ASSERT_EQ(1u, sim.WindowPositions().size()) << "expected one SetWindowPos";
    const SimWindowPos& pos = sim.WindowPositions()[0];
    EXPECT_EQ(c.x, pos.x) << "expected the dialog's left edge at the work area's centre less half its width";
    EXPECT_EQ(c.y, pos.y) << "expected the dialog's top edge at the work area's centre less half its height";
    EXPECT_TRUE(pos.flags & SWP_NOSIZE) << "expected the size left alone";
    EXPECT_EQ(c.x, whileUp.left) << "expected the dialog centred while up";
    EXPECT_EQ(c.y, whileUp.top) << "expected the dialog centred while up";
    EXPECT_EQ(200, whileUp.right - whileUp.left) << "expected the size kept";
}

INSTANTIATE_TEST_SUITE_P(Centres, ShellCentre, ::testing::ValuesIn(kCentres));

struct Dismissal {
    const char* name;
    UINT message;
    WPARAM wParam;
};

void PrintTo(const Dismissal& c, std::ostream* os) { *os << c.name; }

const Dismissal kDismissals[] = {
    { "NoButton", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED) },
    { "Escape", WM_KEYDOWN, VK_ESCAPE },
    { "CloseBox", WM_SYSCOMMAND, SC_CLOSE },
    { "Close", WM_CLOSE, 0 },
};

class ShellDismissed : public Shell, public ::testing::WithParamInterface<Dismissal> {};

TEST_P(ShellDismissed, EndsTheProgramWithNothingDone)
{
    const Dismissal& c = GetParam();
    AddResources();
    sim.PostToDialogWhenIdle(c.message, c.wParam);
    EXPECT_EQ(0, RunProgram()) << "expected the program to end with status 0";
    EXPECT_FALSE(sim.HasWindow(sim.LastDialog())) << "expected the dialog gone";
    EXPECT_EQ(nullptr, theApp.m_pMainWnd) << "expected no main window left";
    ExpectNoTrace();
}

INSTANTIATE_TEST_SUITE_P(Dismissals, ShellDismissed, ::testing::ValuesIn(kDismissals),
                         [](const ::testing::TestParamInfo<Dismissal>& i) { return std::string(i.param.name); });

TEST_F(Shell, EnterPressesYesAndTheRunEndsTheProgram)
{
    AddResources();
    sim.SetVersion(VER_PLATFORM_WIN32s, 3, 10);
    sim.PostToDialogWhenIdle(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(0, RunProgram()) << "expected the program to end with status 0";
    EXPECT_EQ(std::vector<std::string>{ kRefused }, sim.MessageBoxTexts()) << "expected the install run to start";
    ASSERT_EQ(1u, sim.MessageBoxes().size());
    EXPECT_EQ(sim.LastDialog(), sim.MessageBoxes()[0].owner) << "expected the box owned by the dialog";
    EXPECT_EQ(std::optional<std::string>("Zarpo OGL Install"), sim.MessageBoxes()[0].caption)
        << "expected the delivered name as caption";
    EXPECT_FALSE(sim.HasWindow(sim.LastDialog())) << "expected the dialog closed by the run";
}

TEST_F(Shell, MissingDialogTemplateEndsTheProgramWithNothingShown)
{
    sim.AddIcon(IDR_MAINFRAME);
    EXPECT_EQ(0, RunProgram()) << "expected the program to end with status 0";
    EXPECT_EQ(1, sim.Count("CreateDialogParamA")) << "expected one attempt to create the dialog";
    EXPECT_EQ(0, sim.Count("ShowWindow")) << "expected nothing shown";
    EXPECT_EQ(0, sim.Count("DestroyWindow")) << "expected nothing destroyed: no window was made\n" << sim.LogText();
    EXPECT_EQ(0, sim.Count("GetMessageA")) << "expected no message loop";
    EXPECT_EQ(nullptr, theApp.m_pMainWnd) << "expected no reference to the dialog left after InitInstance";
    ExpectNoTrace();
}

TEST_F(Shell, MissingDialogTemplateMakesDoModalReturnMinusOne)
{
    sim.AddIcon(IDR_MAINFRAME);
    theApp.SetCurrentHandles(sim.Module());
    {
        CInstallDlg dlg;
        theApp.m_pMainWnd = &dlg;
        EXPECT_EQ(-1, dlg.DoModal()) << "expected -1 for a dialog that cannot be created";
    }
    EXPECT_EQ(nullptr, theApp.m_pMainWnd) << "expected the reference to the destroyed dialog object cleared";
    EXPECT_FALSE(theApp.InitInstance()) << "expected InitInstance to return FALSE";
    EXPECT_EQ(nullptr, theApp.m_pMainWnd) << "expected no main window after InitInstance";
}

// --- painting and the drag icon ------------------------------------------------------------------

struct IconCase {
    int clientWidth, clientHeight;
    int cxIcon, cyIcon;
    int x, y;
};

void PrintTo(const IconCase& c, std::ostream* os)
{
    *os << "client " << c.clientWidth << "x" << c.clientHeight << ", icon " << c.cxIcon << "x" << c.cyIcon;
}

const IconCase kIcons[] = {
    { 36, 36, 32, 32, 2, 2 },
    { 0, 0, 32, 32, -15, -15 },      // -31 / 2 truncated toward zero
    { 2, 12, 32, 32, -14, -9 },      // -29 / 2 and -19 / 2
    { 37, 20, 32, 32, 3, -5 },
    { 213, 86, 32, 32, 91, 27 },
    { 36, 40, 31, 17, 3, 12 },       // odd icon sizes
    { 1, 1, 1, 1, 0, 0 },
};

class ShellPaint : public Shell, public ::testing::WithParamInterface<IconCase> {};

TEST_P(ShellPaint, MinimisedDialogDrawsTheIconAtTheCentre)
{
    const IconCase& c = GetParam();
    SimDialogTemplate t;
    t.iconic = true;
    t.clientWidth = c.clientWidth;
    t.clientHeight = c.clientHeight;
    AddResources(t);
    sim.SetMetric(SM_CXICON, c.cxIcon);
    sim.SetMetric(SM_CYICON, c.cyIcon);
    size_t from = 0;
    WhileUp([&] {
        from = sim.Log().size();
        PostToDialog(WM_PAINT);
    });
    ThenCancel();

    EXPECT_EQ(0, RunProgram());
    ASSERT_EQ(1u, sim.IconDraws().size()) << "expected one icon drawn\n" << sim.LogText();
    const SimIconDraw& draw = sim.IconDraws()[0];
    EXPECT_EQ(c.x, draw.x) << "expected x = (width - cxIcon + 1) / 2, truncated toward zero";
    EXPECT_EQ(c.y, draw.y) << "expected y = (height - cyIcon + 1) / 2, truncated toward zero";
    EXPECT_EQ(sim.IconHandle(IDR_MAINFRAME), draw.icon) << "expected the application icon";
    EXPECT_EQ(1, sim.Count("LoadIconA")) << "expected the icon loaded once, not per paint";
    EXPECT_EQ(1, sim.PaintsBegun()) << "expected one BeginPaint";
    EXPECT_EQ(1, sim.PaintsEnded()) << "expected one EndPaint";

    const std::vector<std::string> log = sim.Log();
    const int begin = FindLine(log, "BeginPaint(dlg 102)", from);
    const int erase = FindLine(log, "SendMessageA(dlg 102, WM_ICONERASEBKGND, ", from);
    const int drawn = FindLine(log, "DrawIcon(", from);
    const int end = FindLine(log, "EndPaint(dlg 102)", from);
    ASSERT_GE(begin, 0) << sim.LogText();
    EXPECT_LT(begin, erase) << "expected the background erased after BeginPaint\n" << sim.LogText();
    EXPECT_LT(erase, drawn) << "expected the icon drawn after the erase\n" << sim.LogText();
    EXPECT_LT(drawn, end) << "expected EndPaint last\n" << sim.LogText();

    WPARAM eraseDc = 0;
    for (const SimDelivery& d : sim.Window(m_dialog).messages)
        if (d.message == WM_ICONERASEBKGND)
            eraseDc = d.wParam;
    EXPECT_EQ(reinterpret_cast<WPARAM>(draw.dc), eraseDc) << "expected WM_ICONERASEBKGND with the paint context";
}

INSTANTIATE_TEST_SUITE_P(Icons, ShellPaint, ::testing::ValuesIn(kIcons));

TEST_F(Shell, DialogNotMinimisedLeavesPaintingToTheDefault)
{
    AddResources();
    WhileUp([&] { PostToDialog(WM_PAINT); });
    ThenCancel();
    EXPECT_EQ(0, RunProgram());

    bool delivered = false;
    for (const SimDelivery& d : sim.Window(m_dialog).messages) {
        if (d.message != WM_PAINT)
            continue;
        delivered = true;
        EXPECT_EQ(FALSE, d.result) << "expected the dialog procedure to decline WM_PAINT";
    }
    EXPECT_TRUE(delivered) << "expected WM_PAINT delivered to the dialog";
    EXPECT_EQ(0, sim.PaintsBegun()) << "expected no painting of its own";
    EXPECT_TRUE(sim.IconDraws().empty()) << "expected no icon drawn";
}

TEST_F(Shell, DragIconIsTheApplicationIcon)
{
    AddResources();
    LRESULT dragIcon = 0;
    WhileUp([&] { dragIcon = sim.SendMessageA(m_dialog, WM_QUERYDRAGICON, 0, 0); });
    ThenCancel();
    EXPECT_EQ(0, RunProgram());
    EXPECT_EQ(reinterpret_cast<LRESULT>(sim.IconHandle(IDR_MAINFRAME)), dragIcon) << "expected icon 128";
}

// --- help ----------------------------------------------------------------------------------------

struct HelpKey {
    const char* name;
    int modifier;   // 0: none
    bool helps;
};

void PrintTo(const HelpKey& c, std::ostream* os) { *os << c.name; }

const HelpKey kHelpKeys[] = {
    { "F1", 0, true },
    { "ShiftF1", VK_SHIFT, false },
    { "CtrlF1", VK_CONTROL, false },
    { "AltF1", VK_MENU, false },
};

class ShellHelp : public Shell, public ::testing::WithParamInterface<HelpKey> {};

TEST_P(ShellHelp, F1AsksTheHelpEngineForTheDialogsContext)
{
    const HelpKey& c = GetParam();
    AddResources();
    sim.SetModulePath("C:\\Program Files\\Zarpo\\Zarpo OGL Install.EXE");
    if (c.modifier)
        sim.SetKeyDown(c.modifier);
    WhileUp([&] { PostToDialog(WM_KEYDOWN, VK_F1); });
    ThenCancel();

    EXPECT_EQ(0, RunProgram());
    if (!c.helps) {
        EXPECT_TRUE(sim.HelpCalls().empty()) << "expected no help with a modifier held";
        return;
    }
    ASSERT_EQ(1u, sim.HelpCalls().size()) << "expected one WinHelpA call";
    const SimHelpCall& help = sim.HelpCalls()[0];
    EXPECT_EQ(m_dialog, help.wnd) << "expected the dialog as the help window's owner";
    EXPECT_EQ(std::optional<std::string>("C:\\Program Files\\Zarpo\\Zarpo OGL Install.HLP"), help.file)
        << "expected the executable's path with .HLP for its extension";
    EXPECT_EQ(static_cast<UINT>(HELP_CONTEXT), help.command) << "expected HELP_CONTEXT";
    EXPECT_EQ(0x20066u, help.data) << "expected the context HID_BASE_RESOURCE + 102";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "expected no message; got:\n" << Join(sim.MessageBoxTexts());
}

INSTANTIATE_TEST_SUITE_P(Keys, ShellHelp, ::testing::ValuesIn(kHelpKeys),
                         [](const ::testing::TestParamInfo<HelpKey>& i) { return std::string(i.param.name); });

TEST_F(Shell, HelpThatCannotStartIsReportedAndTheDialogKeepsWorking)
{
    AddResources();
    sim.SetWinHelpResult(FALSE);
    bool upAfterFirst = false;
    WhileUp([&] { PostToDialog(WM_KEYDOWN, VK_F1); });
    WhileUp([&] {
        upAfterFirst = true;
        PostToDialog(WM_KEYDOWN, VK_F1);
    });
    ThenCancel();

    EXPECT_EQ(0, RunProgram());
    EXPECT_TRUE(upAfterFirst) << "expected the dialog still up after the failed help";
    EXPECT_EQ(2u, sim.HelpCalls().size()) << "expected the second F1 to ask again";
    EXPECT_EQ((std::vector<std::string>{ "Failed to launch help.", "Failed to launch help." }), sim.MessageBoxTexts())
        << "expected the framework's message for each failure";
    for (const SimMessageBox& box : sim.MessageBoxes()) {
        EXPECT_EQ(m_dialog, box.owner) << "expected the box owned by the dialog";
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), box.type) << "expected MB_OK with the exclamation icon";
        EXPECT_EQ(std::optional<std::string>("Zarpo OGL Install"), box.caption) << "expected the title as caption";
    }
    EXPECT_EQ(0, sim.Count("GetWindowsDirectoryA")) << "expected no install run";
}

}  // namespace
