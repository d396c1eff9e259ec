// Shared ground for the install run's tests: a simulated Windows holding the program's
// resources, the run's globals back at their start-of-process values, and helpers to stage
// the package and to run the confirmation dialog the way the user does.
#pragma once

#include "sim/SimOs.h"

#include "app/InstallApp.h"
#include "app/InstallDlg.h"
#include "install/InstallRun.h"

#include <algorithm>
#include <string>
#include <vector>

namespace installtest {

// Not the delivered name, so a caption that merely repeats the dialog's own caption shows up.
constexpr const char* kModulePath = "C:\\Games\\Zarpo Copy.exe";
constexpr const char* kTitle = "Zarpo Copy";

constexpr const char* kWindowsDir = "C:\\WINDOWS";
constexpr const char* kTempDir = "C:\\WINDOWS\\TEMP";
constexpr const char* kStagingDir = "C:\\WINDOWS\\TEMP\\ZARPO";

constexpr const char* kVersionQuestion = "Couldn't get OS version.  Procede using manual exit?";
constexpr const char* kRefused = "Zarpo OGL requires Windows 95/NT4.0 or later.";
constexpr const char* kNoWindowsDir = "Can't get windows directory.";
constexpr const char* kUnc = "Can't find drive of window directory (UNC paths not supported).";
constexpr const char* kNoDrive = "Can't change to drive.";
constexpr const char* kNoSpace = "Not enough disk space error.";
constexpr const char* kNoChdir = "Can't change directory.";
constexpr const char* kNoResources = "Can't get resources.";
constexpr const char* kNoFind = "Can't find a resource.";
constexpr const char* kNoLoad = "Can't load resources.";
constexpr const char* kNoLock = "Can't lock resources.";
constexpr const char* kNoCreate = "Can't create install files.";
constexpr const char* kManualExit = "Windows NT4 user: Press OK after Setup finishes and exits (for cleanup).";
constexpr const char* kSweepWarning = "Couldn't remove all install files from the Windows 'Temp' directory.";

// The package's names in table order, as the program must use them.
inline const std::vector<std::string>& PayloadNames()
{
    static const std::vector<std::string> names = {
        "_inst32i.ex_", "_isdel.exe", "_setup.dll", "_sys1.cab", "_user1.cab",
        "data.tag",     "data1.cab",  "lang.dat",   "layout.bin", "os.dat",
        "setup.bmp",    "setup.exe",  "setup.ini",  "setup.ins",  "setup.lid",
    };
    return names;
}

constexpr int kEmptyIndex = 5;    // data.tag: a zero-length resource
constexpr int kLargeIndex = 6;    // data1.cab: larger than any single buffer the framework uses

// Distinct contents per resource, with NUL and high bytes inside, one empty and one large.
inline std::string PayloadBytes(int index)
{
    if (index == kEmptyIndex)
        return std::string();
    if (index == kLargeIndex) {
        std::string big(3 * 1024 * 1024 + 17, '\0');
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
        return big;
    }
    std::string bytes = "resource " + std::to_string(PAYLOAD_FIRST_ID + index) + " ";
    bytes += std::string("\0\x01\xFF\r\n\x1A", 6);
    bytes += std::string(static_cast<size_t>(index) * 37 + 1, static_cast<char>('a' + index));
    return bytes;
}

inline std::string StagedPath(const std::string& name) { return std::string(kStagingDir) + "\\" + name; }

inline std::string Join(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  \"" + line + "\"\n";
    return text.empty() ? "  (none)\n" : text;
}

// Position of the first log line (calls only) that starts with prefix, from index from; -1 if none.
inline int FindLine(const std::vector<std::string>& log, const std::string& prefix, size_t from = 0)
{
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

// The run's globals as a fresh process has them, the application object as the framework's
// start-up leaves it (title from the module path, resources from the executable), and the
// executable's resources: the fifteen payload resources, dialog 102 and icon 128.
class InstallTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        g_bInstallStarted = 0;
        g_bEngineGone = 0;
        theApp.m_pMainWnd = nullptr;
        theApp.m_pszAppName = nullptr;   // no title yet: start-up derives it
        theApp.m_dwPromptContext = 0;
        sim.SetModulePath(kModulePath);
        theApp.SetCurrentHandles(sim.Module());
        for (int i = 0; i < PAYLOAD_COUNT; ++i)
            sim.AddResource("BINARY", static_cast<WORD>(PAYLOAD_FIRST_ID + i), PayloadBytes(i));
        sim.AddDialogTemplate(IDD_INSTALL_DIALOG);
        sim.AddIcon(IDR_MAINFRAME);
        sim.ClearLog();
    }

    void TearDown() override
    {
        theApp.m_pMainWnd = nullptr;
        AfxSetResourceHandle(sim.Module());
        SimTest::TearDown();
    }

    // The staging directory as EnterStagingDirectory leaves it: made and current.
    void EnterStaging()
    {
        sim.PutDir(kStagingDir);
        sim.SetCurrentDirectory(kStagingDir);
    }

    // All fifteen payload files in the staging directory, with their resources' contents.
    void PutAllPayloadFiles()
    {
        for (int i = 0; i < PAYLOAD_COUNT; ++i)
            sim.PutFile(StagedPath(PayloadNames()[i]), PayloadBytes(i));
    }

    // The confirmation dialog run modally, as InitInstance runs it, with "&Yes" pressed once
    // it is up. Returns DoModal's result; the dialog's window is in m_dialog.
    INT_PTR RunDialogAndPressYes()
    {
        CInstallDlg dlg;
        theApp.m_pMainWnd = &dlg;
        sim.OnIdle([this] { m_dialog = sim.LastDialog(); });
        sim.PostToDialogWhenIdle(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
        const INT_PTR result = dlg.DoModal();
        theApp.m_pMainWnd = nullptr;
        return result;
    }

    // Every box follows the program's convention: captioned with the title, owned by the
    // dialog, exclamation icon; the version question alone is Yes/No.
    void ExpectBoxConvention(HWND owner)
    {
        for (const SimMessageBox& box : sim.MessageBoxes()) {
            const UINT type = box.text == kVersionQuestion ? (MB_YESNO | MB_ICONEXCLAMATION)
                                                           : (MB_OK | MB_ICONEXCLAMATION);
            EXPECT_EQ(type, box.type) << "\"" << box.text << "\": expected type 0x" << std::hex << type;
            ASSERT_TRUE(box.caption.has_value()) << "\"" << box.text << "\": expected the caption \"" << kTitle << "\"";
            EXPECT_EQ(kTitle, *box.caption) << "\"" << box.text << "\": expected the application title as caption";
            EXPECT_EQ(owner, box.owner) << "\"" << box.text << "\": expected the dialog as owner, got "
                                        << box.ownerName;
        }
    }

    int RemoveCalls() const { return sim.Count("remove"); }

    HWND m_dialog = nullptr;
};

}  // namespace installtest
