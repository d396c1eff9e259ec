// Carries the setup package as the install executable does, for the package's own tests.
// Run, it finds resource 208 of type "Binary" and returns its size (0 if it is missing).
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(208), "Binary");
    return found ? (int)SizeofResource(instance, found) : 0;
}
