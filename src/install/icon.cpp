// Gives the game executable the game's icon: the images are made by
// iconimg.cpp, this file only writes them as resources.
#include <windows.h>

#include "install/iconimg.h"
#include "install/install.h"
#include "setup/setup.h"

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

int inject_icon(const char *exe, const unsigned char *data, uint64_t size)
{
    if (!iconimg_decode(data, size, &picture)) {
        setup_log("ERROR: %s", "game icon not understood");
        return 0;
    }
    iconimg_crop(&picture, &canvas);
    HANDLE update = BeginUpdateResourceA(exe, FALSE); // keep the other resources
    if (!update) {
        setup_log("ERROR: %s", "cannot update the game executable's icon");
        return 0;
    }
    if (!update_images(update)) {
        EndUpdateResourceA(update, TRUE); // discard: the executable stays as it was
        setup_log("ERROR: %s", "cannot write the game executable's icon");
        return 0;
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        setup_log("ERROR: %s", "cannot write the game executable's icon");
        return 0;
    }
    return 1;
}
