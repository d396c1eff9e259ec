// zhold.exe FILE MS [MARKER]: holds FILE open for reading and writing, shared with nobody, so
// that every other open of it fails (error 32) and it cannot be removed. Prints "held" once the
// handle is open, then keeps it until MS milliseconds have passed or the file MARKER exists,
// closes it and exits 0. Exit 1 (with the error code) if FILE cannot be opened, 2 on bad usage.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        printf("usage: zhold.exe FILE MS [MARKER]\n");
        return 2;
    }
    char* end = nullptr;
    unsigned long ms = strtoul(argv[2], &end, 10);
    if (!end || *end) {
        printf("expected a number of milliseconds, got \"%s\"\n", argv[2]);
        return 2;
    }
    HANDLE f = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        printf("cannot open \"%s\": error %lu\n", argv[1], GetLastError());
        return 1;
    }
    printf("held %s\n", argv[1]);
    fflush(stdout);
    const char* marker = argc == 4 ? argv[3] : nullptr;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (marker && GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(20);
    }
    CloseHandle(f);
    printf("released after %lu ms\n", GetTickCount() - start);
    fflush(stdout);
    return 0;
}
