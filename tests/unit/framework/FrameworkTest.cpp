#include "framework/FrameworkTest.h"

// Like the program's own application object: the help command goes to the framework's
// handler. One command of its own shows where unhandled dialog commands end up.
BEGIN_MESSAGE_MAP(TestApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
    ON_COMMAND(kAppCommand, OnAppCommand)
END_MESSAGE_MAP()
