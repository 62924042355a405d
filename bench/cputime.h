// The CPU time this process has used, user and kernel together, for the
// benchmarks that print it beside the clock. Windows counts it in steps of
// about 10 ms.
#pragma once
#include <windows.h>

static inline double cpu_seconds(void)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}
