// CDialog run modally over the simulated dialog manager: creation, centring, the end code,
// message-map routing to overrides and on to the application, F1 help, and exceptions that
// leave a handler.
#include "framework/FrameworkTest.h"

#include <algorithm>

namespace {

constexpr UINT kTemplate = 102;
constexpr UINT kEnd42 = 0x7201;     // a command of the dialog's own map: ends it with 42
constexpr UINT kUnhandled = 0x7301; // nobody's command

class TestDialog : public CDialog {
public:
    explicit TestDialog(SimOs& sim, UINT id = kTemplate)
        : CDialog(id), m_sim(sim), m_movesBefore(sim.Count("SetWindowPos")) {}

    BOOL OnInitDialog() override
    {
        events.push_back("init, " + std::to_string(m_sim.Count("SetWindowPos") - m_movesBefore) + " moves so far");
        return CDialog::OnInitDialog();
    }
    void OnOK() override
    {
        events.push_back("OnOK");
        if (okAction)
            okAction();
        else
            CDialog::OnOK();
    }
    void OnCancel() override
    {
        events.push_back("OnCancel");
        CDialog::OnCancel();
    }
    void OnEnd42() { EndDialog(42); }

    std::vector<std::string> events;
    std::function<void()> okAction;

private:
    SimOs& m_sim;
    int m_movesBefore;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_COMMAND(kEnd42, OnEnd42)
END_MESSAGE_MAP()

class DialogTest : public FrameworkTest {
protected:
    void SetUp() override
    {
        FrameworkTest::SetUp();
        sim.AddDialogTemplate(kTemplate);
    }
};

TEST_F(DialogTest, AMissingTemplateGivesMinusOneAndShowsNothing)
{
    TestDialog dlg(sim, 103);
    EXPECT_EQ(-1, dlg.DoModal());
    EXPECT_TRUE(dlg.events.empty()) << "OnInitDialog never ran";
    EXPECT_EQ(nullptr, sim.LastDialog()) << "no window was made";
    EXPECT_TRUE(sim.MessageBoxes().empty());
    EXPECT_EQ(0, sim.Count("GetMessageA")) << "no modal loop ran:\n" << sim.LogText();
}

TEST_F(DialogTest, DoModalReturnsTheCodeGivenToEndDialog)
{
    struct Case { const char* what; UINT message; WPARAM wParam; INT_PTR result; const char* handler; } cases[] = {
        {"IDOK", WM_COMMAND, IDOK, IDOK, "OnOK"},
        {"IDCANCEL", WM_COMMAND, IDCANCEL, IDCANCEL, "OnCancel"},
        {"Enter", WM_KEYDOWN, VK_RETURN, IDOK, "OnOK"},
        {"Esc", WM_KEYDOWN, VK_ESCAPE, IDCANCEL, "OnCancel"},
        {"the close box", WM_CLOSE, 0, IDCANCEL, "OnCancel"},
        {"a command of the dialog's own map", WM_COMMAND, kEnd42, 42, nullptr},
    };
    for (const Case& c : cases) {
        TestDialog dlg(sim);
        sim.PostToDialogWhenIdle(c.message, c.wParam);
        EXPECT_EQ(c.result, dlg.DoModal()) << c.what;
        std::vector<std::string> expected = {"init, 0 moves so far"};
        if (c.handler)
            expected.push_back(c.handler);
        EXPECT_EQ(expected, dlg.events) << c.what;
        EXPECT_FALSE(sim.HasWindow(sim.LastDialog())) << c.what << ": the window is destroyed";
        EXPECT_EQ(nullptr, dlg.m_hWnd) << c.what << ": the object lets go of it";
    }
}

TEST_F(DialogTest, OnInitDialogRunsFirstThenTheDialogIsCentredInTheWorkArea)
{
    struct Case { RECT work; } cases[] = {
        {{0, 0, 1024, 768}}, {{0, 0, 1023, 767}}, {{100, 50, 900, 650}}, {{0, 30, 800, 600}},
    };
    for (const Case& c : cases) {
        sim.SetWorkArea(c.work);
        TestDialog dlg(sim);
        RECT shown{};
        sim.OnIdle([&] {
            sim.Post(sim.LastDialog(), WM_COMMAND, IDCANCEL);
            shown = sim.Window(sim.LastDialog()).rect;
        });
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
        ASSERT_FALSE(dlg.events.empty());
        EXPECT_EQ("init, 0 moves so far", dlg.events[0]) << "OnInitDialog comes before the centring";
        EXPECT_EQ(SimDialogTemplate().width, shown.right - shown.left) << "the size stays";
        EXPECT_EQ(SimDialogTemplate().height, shown.bottom - shown.top);
        int dx = (shown.left + shown.right) - (c.work.left + c.work.right);
        int dy = (shown.top + shown.bottom) - (c.work.top + c.work.bottom);
        EXPECT_LE(std::abs(dx), 2) << "horizontally centred in " << c.work.left << "," << c.work.top << ","
                                   << c.work.right << "," << c.work.bottom << ": left " << shown.left;
        EXPECT_LE(std::abs(dy), 2) << "vertically centred: top " << shown.top;
    }
}

TEST_F(DialogTest, CommandsTheDialogDoesNotHandleGoOnToTheApplication)
{
    TestDialog dlg(sim);
    sim.PostToDialogWhenIdle(WM_COMMAND, kAppCommand);
    sim.PostToDialogWhenIdle(WM_COMMAND, kUnhandled);
    sim.PostToDialogWhenIdle(WM_COMMAND, IDCANCEL);
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(1, app->appCommands);
    EXPECT_EQ((std::vector<std::string>{"init, 0 moves so far", "OnCancel"}), dlg.events)
        << "an unknown command reaches no handler and does not end the dialog";
}

TEST_F(DialogTest, F1AloneIsTheHelpCommandWhichStartsWinHelpWithTheDialogsContext)
{
    struct Case { int modifier; bool help; } cases[] = {
        {0, true}, {VK_SHIFT, false}, {VK_CONTROL, false}, {VK_MENU, false},
    };
    for (const Case& c : cases) {
        ScopedSim s;
        s.AddDialogTemplate(kTemplate);
        if (c.modifier)
            s.SetKeyDown(c.modifier);
        {
            TestDialog dlg(s);
            app->m_pMainWnd = &dlg;
            s.PostToDialogWhenIdle(WM_KEYDOWN, VK_F1);
            s.PostToDialogWhenIdle(WM_COMMAND, IDCANCEL);
            EXPECT_EQ(IDCANCEL, dlg.DoModal()) << "the dialog stays up after F1";
            ASSERT_EQ(c.help ? 1u : 0u, s.HelpCalls().size()) << "modifier " << c.modifier;
            if (c.help) {
                const SimHelpCall& help = s.HelpCalls()[0];
                EXPECT_EQ(s.LastDialog(), help.wnd);
                EXPECT_EQ("C:\\Games\\Zarpo OGL Install.HLP", help.file.value_or("(null)"));
                EXPECT_EQ(static_cast<UINT>(HELP_CONTEXT), help.command);
                EXPECT_EQ(0x20066u, help.data) << "HID_BASE_RESOURCE + template 102";
            }
            EXPECT_TRUE(s.MessageBoxes().empty());
        }
    }
    EXPECT_EQ(nullptr, app->m_pMainWnd);
}

TEST_F(DialogTest, HelpThatCannotStartSaysSo)
{
    sim.SetWinHelpResult(FALSE);
    TestDialog dlg(sim);
    app->m_pMainWnd = &dlg;
    sim.PostToDialogWhenIdle(WM_KEYDOWN, VK_F1);
    sim.PostToDialogWhenIdle(WM_COMMAND, IDCANCEL);
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    ASSERT_EQ(1u, sim.MessageBoxes().size());
    EXPECT_EQ("Failed to launch help.", sim.MessageBoxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), sim.MessageBoxes()[0].type);
    EXPECT_EQ(sim.LastDialog(), sim.MessageBoxes()[0].owner);
}

TEST_F(DialogTest, DestroyingTheMainWindowClearsTheApplicationsReference)
{
    {
        TestDialog dlg(sim);
        app->m_pMainWnd = &dlg;
        sim.PostToDialogWhenIdle(WM_COMMAND, IDOK);
        EXPECT_EQ(IDOK, dlg.DoModal());
        EXPECT_EQ(nullptr, app->m_pMainWnd) << "cleared when its window was destroyed";
        EXPECT_EQ(1, sim.Count("PostQuitMessage"));
    }
    CWnd other;
    app->m_pMainWnd = &other;
    TestDialog dlg(sim);
    sim.PostToDialogWhenIdle(WM_COMMAND, IDOK);
    dlg.DoModal();
    EXPECT_EQ(&other, app->m_pMainWnd) << "another dialog's end leaves the main window alone";
    app->m_pMainWnd = nullptr;
}

// An exception that leaves a command handler is reported, deleted and counted as handled;
// the dialog stays up.
TEST_F(DialogTest, ExceptionsLeavingAHandlerAreReportedAndTheDialogGoesOn)
{
    struct CountedFileException : CFileException {
        CountedFileException(int* d) : CFileException(diskFull, ERROR_DISK_FULL, "data1.cab"), deleted(d) {}
        ~CountedFileException() override { ++*deleted; }
        int* deleted;
    };
    int fileDeleted = 0;
    CFileException sample(CFileException::diskFull, ERROR_DISK_FULL, "data1.cab");
    char fileText[512];
    ASSERT_TRUE(sample.GetErrorMessage(fileText, sizeof fileText));
    struct Case { const char* what; std::function<void()> raise; bool shown; std::string text; UINT type; } cases[] = {
        {"memory", [] { AfxThrowMemoryException(); }, true, "Out of memory.", MB_ICONEXCLAMATION | MB_SYSTEMMODAL},
        {"file", [&] { throw static_cast<CFileException*>(new CountedFileException(&fileDeleted)); }, true,
         fileText, MB_ICONSTOP},
        {"user", [] { throw new CUserException; }, false, "", 0},
    };
    for (const Case& c : cases) {
        ScopedSim s;
        s.AddDialogTemplate(kTemplate);
        {
            TestDialog dlg(s);
            app->m_pMainWnd = &dlg;
            dlg.okAction = c.raise;
            s.PostToDialogWhenIdle(WM_COMMAND, IDOK);
            s.PostToDialogWhenIdle(WM_COMMAND, IDCANCEL);
            EXPECT_EQ(IDCANCEL, dlg.DoModal()) << c.what << ": the dialog stayed up until Cancel";
            ASSERT_EQ(c.shown ? 1u : 0u, s.MessageBoxes().size()) << c.what;
            if (c.shown) {
                EXPECT_EQ(c.text, s.MessageBoxes()[0].text) << c.what;
                EXPECT_EQ(c.type, s.MessageBoxes()[0].type) << c.what;
                EXPECT_EQ(s.LastDialog(), s.MessageBoxes()[0].owner) << c.what;
            }
            EXPECT_EQ((std::vector<std::string>{"init, 0 moves so far", "OnOK", "OnCancel"}), dlg.events) << c.what;
        }
        EXPECT_EQ(0u, s.LiveBlocks()) << c.what << ": nothing allocated through the framework is left";
    }
    EXPECT_EQ(1, fileDeleted) << "the file exception was deleted once";
}

TEST_F(DialogTest, AParentIsDisabledWhileTheDialogRunsAndEnabledAfter)
{
    CWnd parent;
    parent.m_hWnd = sim.AddWindow(RECT{0, 0, 640, 480});
    CDialog dlg(kTemplate, &parent);
    bool enabledDuring = true;
    sim.OnIdle([&] {
        enabledDuring = sim.Window(parent.m_hWnd).enabled;
        sim.Post(sim.LastDialog(), WM_COMMAND, IDOK);
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_FALSE(enabledDuring);
    EXPECT_TRUE(sim.Window(parent.m_hWnd).enabled);
    EXPECT_EQ(parent.m_hWnd, sim.Window(sim.LastDialog()).parent);
    parent.m_hWnd = nullptr;
}

}  // namespace

namespace {

struct CountedUserException : CUserException {
    static int destroyed;
    ~CountedUserException() override { ++destroyed; }
};
int CountedUserException::destroyed = 0;

// A dialog whose data exchange refuses the first save, as a failed validation does.
class ValidatingDialog : public CDialog {
public:
    ValidatingDialog() : CDialog(kTemplate) {}
    void DoDataExchange(CDataExchange* pDX) override
    {
        exchanges.push_back(pDX->m_bSaveAndValidate ? "save" : "load");
        EXPECT_EQ(this, pDX->m_pDlgWnd);
        if (pDX->m_bSaveAndValidate && refusals-- > 0)
            throw static_cast<CUserException*>(new CountedUserException);
    }
    std::vector<std::string> exchanges;
    int refusals = 1;
};

TEST_F(DialogTest, OkEndsTheDialogOnlyWhenItsDataIsAccepted)
{
    CountedUserException::destroyed = 0;
    ValidatingDialog dlg;
    bool upAfterFirstOk = false;
    sim.PostToDialogWhenIdle(WM_COMMAND, IDOK);
    sim.OnIdle([&] {
        upAfterFirstOk = sim.HasWindow(sim.LastDialog());
        sim.Post(sim.LastDialog(), WM_COMMAND, IDOK);
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_TRUE(upAfterFirstOk) << "a refused exchange leaves the dialog up";
    EXPECT_EQ((std::vector<std::string>{"load", "save", "save"}), dlg.exchanges)
        << "OnInitDialog loads, each OK saves";
    EXPECT_TRUE(sim.MessageBoxes().empty()) << "the refusal was the exchange's own to report";
    EXPECT_EQ(1, CountedUserException::destroyed) << "the refusal's exception was deleted, once";
}

}  // namespace
