// Shared by the framework's tests: an application object of the tests' own, started as the
// framework's start-up starts one, over a fresh simulated Windows.
#pragma once

#include "platform/afx.h"
#include "sim/SimOs.h"

#include <functional>
#include <memory>

// A command only the test application handles.
constexpr UINT kAppCommand = 0x7101;

class TestApp : public CWinApp {
public:
    explicit TestApp(LPCSTR name = nullptr) : CWinApp(name) {}
    void OnAppCommand() { ++appCommands; }
    int appCommands = 0;
    DECLARE_MESSAGE_MAP()
};

class FrameworkTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        app.reset(new TestApp);
        app->SetCurrentHandles(reinterpret_cast<HINSTANCE>(sim.Module()));
        sim.ClearLog();
    }
    void TearDown() override
    {
        // The application's strings go back to the sim that gave them.
        app.reset();
        SimTest::TearDown();
    }

    std::unique_ptr<TestApp> app;
};
