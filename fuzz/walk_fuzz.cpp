// Fuzzes the member walk over a whole archive image. The sink judges every
// name the walk hands over on its own terms, without the reader's checks:
// joined to a fixed root and resolved the way Windows resolves a path, it
// must stay strictly inside the root, and no step may be a device. Every
// byte of each member is read.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "lha/walk.h"

static const char root[] = "C:\\fuzz\\out";

// Every device name, spelled out, as Windows matches it on the stem of a
// step (before its first dot, blanks at the end dropped), in any case.
static int is_device_stem(const char *stem, size_t n)
{
    static const char *const devices[] = {
        "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$",
        "COM0", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
        "LPT0", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
        "COM\xB9", "COM\xB2", "COM\xB3", "LPT\xB9", "LPT\xB2", "LPT\xB3",
        "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3",
    };
    char up[16];
    if (n >= sizeof up)
        return 0;
    for (size_t i = 0; i < n; i++)
        up[i] = (char)(stem[i] >= 'a' && stem[i] <= 'z' ? stem[i] - 32 : stem[i]);
    up[n] = 0;
    for (const char *d : devices) {
        if (strcmp(up, d) == 0)
            return 1;
    }
    return 0;
}

// Joins the name to the root and resolves the path as Windows would, on
// the pessimistic side: both separators split and runs of them count as
// one, each step loses its final dots and blanks, and a step left empty is
// "." (or "..", when it held two dots or more). Aborts when the result is
// not strictly inside the root, or when a step of the name names a device
// or carries a drive or stream colon.
static void judge(const char *name)
{
    static char path[sizeof root + 1 + 4096];
    static size_t steps[4096]; // where each kept step starts in path
    size_t n = strlen(name);
    if (n > 4096)
        abort();
    memcpy(path, root, sizeof root - 1);
    path[sizeof root - 1] = '\\';
    memcpy(path + sizeof root, name, n + 1);
    const size_t root_steps = 2; // "fuzz" and "out" below "C:"
    size_t depth = 0;
    const char *s = path + 2; // past the drive
    while (*s) {
        while (*s == '\\' || *s == '/')
            s++;
        size_t len = strcspn(s, "\\/"), kept = len;
        if (len == 0)
            break;
        while (kept > 0 && (s[kept - 1] == '.' || s[kept - 1] == ' '))
            kept--;
        if (memchr(s, ':', len))
            abort();
        if (kept == 0) {
            size_t dots = 0;
            for (size_t i = 0; i < len; i++)
                dots += s[i] == '.';
            if (dots >= 2 && depth > 0)
                depth--;
        } else {
            size_t stem = strcspn(s, ".");
            stem = stem < kept ? stem : kept;
            while (stem > 0 && s[stem - 1] == ' ')
                stem--;
            if (is_device_stem(s, stem))
                abort();
            steps[depth++] = (size_t)(s - path);
        }
        s += len;
    }
    // Strictly inside: the root's own steps still first, and more below them.
    if (depth <= root_steps || steps[0] != 3 || steps[1] != 8)
        abort();
}

static int check_member(void *, const char *name, const unsigned char *data, uint32_t size)
{
    judge(name);
    lha_crc16(data, size); // reads every byte: all must lie inside the buffer
    return 1;
}

static void ignore_line(void *, const char *line)
{
    if (strncmp(line, "LHA: ", 5) != 0)
        abort();
    for (const unsigned char *c = (const unsigned char *)line; *c; c++) {
        if (*c < 0x20 || *c == 0x7F)
            abort(); // a name's control byte reached the line
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unsigned char *image = (unsigned char *)malloc(size ? size : 1);
    memcpy(image, data, size);
    LhaSink sink = {nullptr, check_member, ignore_line, nullptr, 1u << 20};
    lha_walk(image, size, &sink);
    free(image);
    return 0;
}
