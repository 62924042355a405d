// Entry of the setup program.
#include <windows.h>

#include "setup/setup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdline, int show)
{
    (void)instance;
    (void)prev;
    (void)cmdline;
    (void)show;
    return 0;
}
