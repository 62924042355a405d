// Decoding, cropping and scaling of the game icon; see iconimg.h.
#include "install/iconimg.h"

#include <string.h>

const int iconimg_sizes[ICONIMG_COUNT] = {16, 24, 32, 48, 64, 128, 256};

// The icon file, as far as it is read:
//   0  u16 reserved    2  u16 type (1 = icon)    4  u16 count
//   6  first directory entry of 16 bytes; at 18 the u32 image offset
enum { FILE_TYPE = 2, FILE_OFFSET = 18, FILE_MIN = 22 };

// The first image: a bitmap header, then a 16-colour 32x32 bitmap and mask.
//   0  header (40)     4  low byte of the width    14  low byte of bits per pixel
//   40 colour table: 16 x (blue, green, red, reserved)
//   104 colours: 32 rows of 16 bytes, bottom row first, high nibble left
//   616 mask: 32 rows of 4 bytes, bottom row first, MSB left, 1 = transparent
enum {
    IMG_WIDTH = 4,
    IMG_BITS = 14,
    IMG_PALETTE = 40,
    IMG_COLOURS = IMG_PALETTE + 16 * 4,
    IMG_MASK = IMG_COLOURS + 32 * 16,
    IMG_SIZE = IMG_MASK + 32 * 4, // 744
};

static uint32_t get_u32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put_u16(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static void put_u32(unsigned char *p, uint32_t v)
{
    put_u16(p, v);
    put_u16(p + 2, v >> 16);
}

// The checked start of the first image, or null.
static const unsigned char *find_image(const unsigned char *data, uint64_t size)
{
    if (size < FILE_MIN || data[FILE_TYPE] != 1)
        return 0;
    uint32_t offset = get_u32(data + FILE_OFFSET);
    if (size < IMG_SIZE || offset > size - IMG_SIZE) // truncated
        return 0;
    const unsigned char *img = data + offset;
    if (img[IMG_WIDTH] != 32 || img[IMG_BITS] != 4) // not 32x32 in 16 colours
        return 0;
    return img;
}

static uint32_t palette_colour(const unsigned char *img, int index)
{
    const unsigned char *e = img + IMG_PALETTE + 4 * index;
    return 0xFF000000u | (uint32_t)e[2] << 16 | (uint32_t)e[1] << 8 | e[0];
}

int iconimg_decode(const unsigned char *data, uint64_t size, IconCanvas *picture)
{
    const unsigned char *img = find_image(data, size);
    if (!img)
        return 0;
    picture->side = ICONIMG_SIDE;
    for (int y = 0; y < 32; y++) {
        const unsigned char *colours = img + IMG_COLOURS + (31 - y) * 16;
        const unsigned char *mask = img + IMG_MASK + (31 - y) * 4;
        for (int x = 0; x < 32; x++) {
            uint32_t *px = &picture->px[y * 32 + x];
            if (mask[x / 8] & (0x80 >> (x % 8))) {
                *px = 0;
                continue;
            }
            int byte = colours[x / 2];
            *px = palette_colour(img, x % 2 ? byte & 15 : byte >> 4);
        }
    }
    return 1;
}

void iconimg_crop(const IconCanvas *picture, IconCanvas *canvas)
{
    int n = picture->side;
    int left = n, right = -1, top = n, bottom = -1;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            if (picture->px[y * n + x] >> 24) {
                left = x < left ? x : left;
                right = x > right ? x : right;
                top = y < top ? y : top;
                bottom = y > bottom ? y : bottom;
            }
    if (right < 0) { // nothing opaque: keep the whole transparent picture
        *canvas = *picture;
        return;
    }
    int w = right - left + 1, h = bottom - top + 1;
    int s = w > h ? w : h;
    int x0 = (s - w) / 2, y0 = (s - h) / 2; // an odd spare pixel goes right or down
    canvas->side = s;
    memset(canvas->px, 0, sizeof canvas->px);
    for (int y = 0; y < h; y++)
        memcpy(&canvas->px[(y0 + y) * s + x0], &picture->px[(top + y) * n + left], (size_t)w * 4);
}

uint32_t iconimg_image_bytes(int n)
{
    uint32_t un = (uint32_t)n;
    return 40 + 4 * un * un + un * ((un + 31) / 32) * 4;
}

uint32_t iconimg_image(const IconCanvas *canvas, int n, unsigned char *out, uint32_t cap)
{
    if (n < 1 || n > 256 || canvas->side < 1 || canvas->side > ICONIMG_SIDE)
        return 0;
    uint32_t bytes = iconimg_image_bytes(n);
    if (bytes > cap)
        return 0;
    memset(out, 0, bytes); // header fields left 0 and the all-clear mask
    put_u32(out, 40);
    put_u32(out + 4, (uint32_t)n);
    put_u32(out + 8, 2 * (uint32_t)n); // colour bitmap and mask together
    put_u16(out + 12, 1);
    put_u16(out + 14, 32);
    int s = canvas->side;
    for (int r = 0; r < n; r++) {
        unsigned char *row = out + 40 + (size_t)(n - 1 - r) * n * 4; // bottom row first
        const uint32_t *src = &canvas->px[(r * s / n) * s];
        for (int c = 0; c < n; c++)
            put_u32(row + 4 * c, src[c * s / n]);
    }
    return bytes;
}

void iconimg_group(unsigned char out[ICONIMG_GROUP])
{
    memset(out, 0, ICONIMG_GROUP);
    put_u16(out + 2, 1); // type: icon
    put_u16(out + 4, ICONIMG_COUNT);
    for (int k = 0; k < ICONIMG_COUNT; k++) {
        unsigned char *e = out + 6 + 14 * k;
        int n = iconimg_sizes[k];
        e[0] = e[1] = (unsigned char)(n == 256 ? 0 : n); // 0 stands for 256
        put_u16(e + 4, 1);
        put_u16(e + 6, 32);
        put_u32(e + 8, iconimg_image_bytes(n));
        put_u16(e + 12, (uint32_t)(k + 1));
    }
}
