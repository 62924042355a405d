// A stand-in for a program someone else left in the temporary folder under
// the uninstaller copy's name: when it runs, it leaves an empty file beside
// itself, its own path with ".ran" appended, and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdline, int show)
{
    (void)instance;
    (void)prev;
    (void)cmdline;
    (void)show;
    char path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    lstrcatA(path, ".ran");
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    return 0;
}
