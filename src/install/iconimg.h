// The game icon turned into the executable's icon resources: the first image
// of the icon file from CD 1 (32x32, 16 colours) is decoded, its opaque part
// cropped and centred on a square canvas, and scaled into seven 32-bit
// images with one icon group describing them. Works on memory only, so it
// builds without <windows.h> and can be fuzzed natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    ICONIMG_SIDE = 32,     // the decoded picture is always 32x32
    ICONIMG_COUNT = 7,     // output images, identifiers 1 to 7
    ICONIMG_GROUP = 104,   // bytes of the icon group: 6 + 7 x 14
    ICONIMG_MAX = 270376,  // bytes of the largest image (256x256)
};

// Sizes of the output images, in identifier order (identifier = index + 1).
extern const int iconimg_sizes[ICONIMG_COUNT];

// A square of side pixels (side <= 32), top row first; each pixel is
// 0xAARRGGBB, 0 when transparent.
struct IconCanvas {
    int side;
    uint32_t px[ICONIMG_SIDE * ICONIMG_SIDE];
};

// Decodes the first image of an icon file into a 32x32 picture (same layout
// as a canvas of side 32). Returns 0, touching nothing it was not given,
// when the file is not a 32x32 16-colour icon it can read.
int iconimg_decode(const unsigned char *data, uint64_t size, IconCanvas *picture);

// Crops the picture to its opaque pixels and centres them on the smallest
// square that holds them; a picture with no opaque pixel stays as it is.
void iconimg_crop(const IconCanvas *picture, IconCanvas *canvas);

// Bytes of the 32-bit icon image of side n.
uint32_t iconimg_image_bytes(int n);

// Writes the icon image of side n scaled from the canvas (nearest neighbour)
// into out. Returns the bytes written, or 0 when n is not a positive size
// or the image does not fit into cap bytes.
uint32_t iconimg_image(const IconCanvas *canvas, int n, unsigned char *out, uint32_t cap);

// Writes the icon group that names the seven images 1 to 7.
void iconimg_group(unsigned char out[ICONIMG_GROUP]);
