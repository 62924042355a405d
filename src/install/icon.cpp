// Gives the game executable the game's icon: the images are made by
// iconimg.cpp, this file only writes them as resources.
#include <windows.h>

#include <string.h>

#include "install/iconimg.h"
#include "install/install.h"

// The largest image is a quarter megabyte: one static buffer, reused for each
// size, since UpdateResourceA keeps its own copy of the data.
static unsigned char image_buf[ICONIMG_MAX];
static IconCanvas picture, canvas;

// Queues the seven images and their group. Returns 0 when one could not be
// queued: committing the rest would leave a group naming a missing image.
static int update_images(HANDLE update)
{
    int ok = 1;
    for (int k = 0; k < ICONIMG_COUNT; k++) {
        uint32_t bytes = iconimg_image(&canvas, iconimg_sizes[k], image_buf, sizeof image_buf);
        if (!bytes || !UpdateResourceA(update, MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(k + 1), 0, image_buf, bytes))
            ok = 0;
    }
    unsigned char group[ICONIMG_GROUP];
    iconimg_group(group);
    if (!UpdateResourceA(update, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(1), 0, group, sizeof group))
        ok = 0;
    return ok;
}

// Wine's resource update fails on a full drive without an error code: the
// drive then has less room than the executable needs.
static DWORD missing_reason(const char *exe)
{
    char folder[520];
    fmt(folder, sizeof folder, "%s", exe);
    char *slash = strrchr(folder, '\\');
    if (slash)
        slash[1] = 0;
    WIN32_FILE_ATTRIBUTE_DATA fa;
    ULARGE_INTEGER avail, total, free_all;
    if (slash && GetFileAttributesExA(exe, GetFileExInfoStandard, &fa) &&
        GetDiskFreeSpaceExA(folder, &avail, &total, &free_all) &&
        avail.QuadPart < (((uint64_t)fa.nFileSizeHigh << 32) | fa.nFileSizeLow))
        return ERROR_DISK_FULL;
    return ERROR_WRITE_FAULT;
}

// "ERROR: <what> <exe>: <the system's reason>", for the file being written.
static int fail_icon(const char *what, const char *file, const char *exe)
{
    DWORD error = GetLastError();
    if (error == ERROR_SUCCESS)
        error = missing_reason(file);
    char shown[1024], reason[600];
    setup_log("ERROR: %s %s: %s", what, name_escape(exe, shown, sizeof shown), error_text(error, reason, sizeof reason));
    return 0;
}

int inject_icon(const char *exe, const unsigned char *data, uint64_t size)
{
    return inject_icon_into(exe, exe, data, size);
}

int inject_icon_into(const char *file, const char *exe, const unsigned char *data, uint64_t size)
{
    if (!iconimg_decode(data, size, &picture)) {
        setup_log("ERROR: %s", "game icon not understood");
        return 0;
    }
    iconimg_crop(&picture, &canvas);
    HANDLE update = BeginUpdateResourceA(file, FALSE); // keep the other resources
    if (!update)
        return fail_icon("cannot update the game executable's icon in", file, exe);
    if (!update_images(update)) {
        DWORD error = GetLastError();
        EndUpdateResourceA(update, TRUE); // discard: the executable stays as it was
        SetLastError(error);
        return fail_icon("cannot write the game executable's icon into", file, exe);
    }
    if (!EndUpdateResourceA(update, FALSE))
        return fail_icon("cannot write the game executable's icon into", file, exe);
    return 1;
}
