// Fuzzes the icon image maker: the input is taken as an icon file. When it
// decodes, the crop and all seven images are made into a buffer exactly as
// large as each image, so a write past one is caught by AddressSanitizer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "install/iconimg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of its own, so reads past the end of the file are caught.
    unsigned char *file = (unsigned char *)malloc(size ? size : 1);
    memcpy(file, data, size);
    static IconCanvas picture, canvas;
    if (iconimg_decode(file, size, &picture)) {
        iconimg_crop(&picture, &canvas);
        if (canvas.side < 1 || canvas.side > ICONIMG_SIDE)
            abort();
        for (int k = 0; k < ICONIMG_COUNT; k++) {
            uint32_t bytes = iconimg_image_bytes(iconimg_sizes[k]);
            unsigned char *img = (unsigned char *)malloc(bytes);
            if (iconimg_image(&canvas, iconimg_sizes[k], img, bytes) != bytes)
                abort();
            free(img);
        }
    }
    free(file);
    return 0;
}
