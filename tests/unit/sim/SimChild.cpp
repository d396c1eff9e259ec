// A stand-in child process for the sim's fidelity test: a GUI program that never pumps
// messages, sleeps for the milliseconds its command line gives, and exits with the code after.
//   sim_child.exe 1000 7
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    char* rest = commandLine;
    long ms = std::strtol(rest, &rest, 10);
    long code = std::strtol(rest, &rest, 10);
    if (ms > 0 && ms < 60000)
        Sleep(static_cast<DWORD>(ms));
    return static_cast<int>(code);
}
