#include <stdarg.h>
#include <stdio.h>

#include "util/util.h"

int fmt(char *out, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(out, size, format, ap);
    va_end(ap);
    out[size - 1] = 0;
    if (n < 0) {
        out[0] = 0;
        return 0;
    }
    return (size_t)n < size ? n : (int)(size - 1);
}
