#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "install/iconimg.h"
#include "install/install.h"
#include "testsupport.h"

// A 32x32 picture, top row first, 0xAARRGGBB, 0 = transparent.
typedef std::vector<uint32_t> Picture;

static const uint32_t palette[16] = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
};

static void put16(std::string &s, size_t at, uint32_t v)
{
    s[at] = (char)v;
    s[at + 1] = (char)(v >> 8);
}

static void put32(std::string &s, size_t at, uint32_t v)
{
    put16(s, at, v);
    put16(s, at + 2, v >> 16);
}

static uint32_t get32(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

// One 744-byte image as an icon file stores it: 16 colours, 32x32, bottom row
// first, with its transparency mask. Every colour comes from the fixed palette.
static std::string encode_image(const Picture &pic)
{
    std::string img(744, '\0');
    put32(img, 0, 40);
    put32(img, 4, 32);
    put32(img, 8, 64);
    put16(img, 12, 1);
    put16(img, 14, 4);
    for (int i = 0; i < 16; i++)
        put32(img, 40 + 4 * i, palette[i] & 0xFFFFFF);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            uint32_t px = pic[y * 32 + x];
            size_t row = 31 - y;
            if (!px) {
                img[616 + row * 4 + x / 8] |= (char)(0x80 >> (x % 8));
                continue;
            }
            int index = (int)(std::find(palette, palette + 16, px) - palette);
            img[104 + row * 16 + x / 2] |= (char)(x % 2 ? index : index << 4);
        }
    return img;
}

// An icon file: the 6-byte header, one 16-byte entry per image, the images.
static std::string icon_file(const std::vector<std::string> &images)
{
    std::string f(6 + 16 * images.size(), '\0');
    put16(f, 2, 1);
    put16(f, 4, (uint32_t)images.size());
    for (size_t i = 0; i < images.size(); i++) {
        size_t e = 6 + 16 * i;
        f[e] = f[e + 1] = 32;
        f[e + 2] = 16;
        put16(f, e + 4, 1);
        put16(f, e + 6, 4);
        put32(f, e + 8, (uint32_t)images[i].size());
    }
    for (size_t i = 0; i < images.size(); i++) {
        put32(f, 6 + 16 * i + 12, (uint32_t)f.size());
        f += images[i];
    }
    return f;
}

// Opaque rectangle [x, x+w) x [y, y+h) in a pattern of colours that tells
// every row and column apart from its neighbours.
static Picture picture_with_box(int x0, int y0, int w, int h)
{
    Picture pic(1024, 0);
    for (int y = y0; y < y0 + h; y++)
        for (int x = x0; x < x0 + w; x++)
            pic[y * 32 + x] = palette[1 + (x * 3 + y * 5) % 15];
    return pic;
}

// A copy of the small executable with a manifest, in a scratch folder.
static std::string target_copy(const std::string &dir)
{
    std::string exe = dir + "\\game.exe";
    EXPECT_TRUE(CopyFileA((exe_dir() + "\\icon_target.exe").c_str(), exe.c_str(), FALSE));
    return exe;
}

static std::string resource(HMODULE m, LPCSTR type, int id)
{
    HRSRC r = FindResourceExA(m, type, MAKEINTRESOURCEA(id), 0);
    if (!r)
        return "";
    HGLOBAL g = LoadResource(m, r);
    return std::string((const char *)LockResource(g), SizeofResource(m, r));
}

static const int sides[7] = {16, 24, 32, 48, 64, 128, 256};
static const uint32_t image_bytes[7] = {1128, 2440, 4264, 9640, 16936, 67624, 270376};

// The group, field by field, as the executable must carry it.
static std::string expected_group()
{
    std::string g(104, '\0');
    put16(g, 2, 1);
    put16(g, 4, 7);
    for (int k = 0; k < 7; k++) {
        size_t e = 6 + 14 * k;
        g[e] = g[e + 1] = (char)(sides[k] == 256 ? 0 : sides[k]);
        put16(g, e + 4, 1);
        put16(g, e + 6, 32);
        put32(g, e + 8, image_bytes[k]);
        put16(g, e + 12, k + 1);
    }
    return g;
}

struct Case {
    const char *name;
    int x, y, w, h;     // the opaque box in the picture (w = 0: none)
    int side;           // the canvas it must give
    int left, top;      // where the box must sit on the canvas
};

// The pixel of the n-sized image at row r, column c (top row first).
static uint32_t expected_pixel(const Case &k, const Picture &pic, int n, int r, int c)
{
    int cy = r * k.side / n, cx = c * k.side / n;
    if (!k.w)
        return 0;
    if (cx < k.left || cx >= k.left + k.w || cy < k.top || cy >= k.top + k.h)
        return 0;
    return pic[(k.y + cy - k.top) * 32 + (k.x + cx - k.left)];
}

static const Case cases[] = {
    {"transparent", 0, 0, 0, 0, 32, 0, 0},
    {"single_pixel", 17, 9, 1, 1, 1, 0, 0},
    {"box_30x20", 1, 6, 30, 20, 30, 0, 5},
    {"box_21x20_spare_row_below", 5, 3, 21, 20, 21, 0, 0},
    {"box_20x21_spare_column_right", 5, 3, 20, 21, 21, 0, 0},
    {"whole_picture", 0, 0, 32, 32, 32, 0, 0},
};

static void PrintTo(const Case &k, std::ostream *os) { *os << k.name; }

class Inject : public testing::TestWithParam<Case> {};

// Checks one image read back by the resource API: header, pixels, mask.
static void check_image(const Case &k, const Picture &pic, int idx, const std::string &img)
{
    int n = sides[idx];
    ASSERT_EQ(image_bytes[idx], img.size()) << "side " << n;
    const unsigned char *p = (const unsigned char *)img.data();
    EXPECT_EQ(40u, get32(p));
    EXPECT_EQ((uint32_t)n, get32(p + 4));
    EXPECT_EQ(2u * n, get32(p + 8));
    EXPECT_EQ(1u | 32u << 16, get32(p + 12)) << "planes 1, 32 bits per pixel";
    for (int i = 16; i < 40; i++)
        EXPECT_EQ(0, p[i]) << "header byte " << i;
    int bad = 0;
    for (int r = 0; r < n && bad < 5; r++)
        for (int c = 0; c < n && bad < 5; c++) {
            uint32_t got = get32(p + 40 + 4 * ((n - 1 - r) * n + c));
            uint32_t want = expected_pixel(k, pic, n, r, c);
            if (got != want)
                ADD_FAILURE() << "side " << n << " row " << r << " col " << c << ": " << std::hex << got
                              << " != " << want << (++bad, "");
        }
    for (size_t i = 40 + 4u * n * n; i < img.size(); i++)
        if (p[i]) {
            ADD_FAILURE() << "mask byte not 0 at " << i << ", side " << n;
            break;
        }
}

// Runs the icoutils reader on the host and waits for its verdict.
static std::string read_with_icoutils(const std::string &exe, const std::string &out)
{
    std::string cmd = "/bin/sh \"" + unix_path(source_path("tests\\icon\\icoutils.sh")) + "\" \"" + unix_path(exe) +
                      "\" \"" + unix_path(out) + "\"";
    run_process(cmd);
    for (int i = 0; i < 1200; i++) { // Wine does not wait for a Unix child: poll
        if (file_exists(out + "\\done"))
            return "";
        if (file_exists(out + "\\failed"))
            return slurp(out + "\\failed");
        Sleep(50);
    }
    return "icoutils gave no answer";
}

TEST_P(Inject, ImagesReadBackThroughTheResourceApiAndIcoutils)
{
    const Case &k = GetParam();
    Picture pic = picture_with_box(k.x, k.y, k.w, k.h);
    std::string ico = icon_file({encode_image(pic)});
    std::string dir = scratch();
    std::string exe = target_copy(dir);
    std::string manifest = slurp(source_path("tests\\icon\\target.manifest"));

    log_reset();
    ASSERT_EQ(1, inject_icon(exe.c_str(), (const unsigned char *)ico.data(), ico.size()));
    EXPECT_TRUE(log_lines().empty());

    HMODULE m = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m);
    std::string group = resource(m, MAKEINTRESOURCEA(14), 1);
    EXPECT_EQ(expected_group(), group);
    for (int i = 0; i < 7; i++)
        check_image(k, pic, i, resource(m, MAKEINTRESOURCEA(3), i + 1));
    EXPECT_EQ(manifest, resource(m, MAKEINTRESOURCEA(24), 1)) << "the manifest stays";
    FreeLibrary(m);

    std::string out = dir + "\\icoutils";
    ASSERT_EQ("", read_with_icoutils(exe, out));
    EXPECT_EQ(group, slurp(out + "\\group.bin"));
    EXPECT_NE(std::string::npos, slurp(out + "\\resources").find("--type=24")) << "manifest listed";
    for (int i = 0; i < 7; i++) {
        int n = sides[i];
        std::string rgba = slurp(out + "\\" + std::to_string(n) + ".rgba");
        ASSERT_EQ((size_t)4 * n * n, rgba.size()) << "side " << n;
        int bad = 0;
        for (int r = 0; r < n && bad < 5; r++)
            for (int c = 0; c < n && bad < 5; c++) {
                const unsigned char *q = (const unsigned char *)rgba.data() + 4 * (r * n + c);
                uint32_t got = q[3] ? (uint32_t)q[3] << 24 | q[0] << 16 | q[1] << 8 | q[2] : 0;
                uint32_t want = expected_pixel(k, pic, n, r, c);
                if (got != want)
                    ADD_FAILURE() << "icotool, side " << n << " row " << r << " col " << c << ": " << std::hex
                                  << got << " != " << want << (++bad, "");
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Inject, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

// The canvas made from a picture's icon file, straight from the image maker.
static IconCanvas canvas_of(const Picture &pic)
{
    std::string ico = icon_file({encode_image(pic)});
    IconCanvas picture, canvas = {};
    EXPECT_EQ(1, iconimg_decode((const unsigned char *)ico.data(), ico.size(), &picture));
    iconimg_crop(&picture, &canvas);
    return canvas;
}

// The plain rules, spelled out once apart from the general formula above.
TEST(IconImage, WholePictureAt32And16)
{
    Picture pic = picture_with_box(0, 0, 32, 32);
    IconCanvas canvas = canvas_of(pic);
    ASSERT_EQ(32, canvas.side);
    std::vector<unsigned char> img(ICONIMG_MAX);
    ASSERT_EQ(4264u, iconimg_image(&canvas, 32, img.data(), ICONIMG_MAX));
    for (int r = 0; r < 32; r++)
        for (int c = 0; c < 32; c++)
            ASSERT_EQ(pic[r * 32 + c], get32(&img[40 + 4 * ((31 - r) * 32 + c)])) << r << "," << c;
    ASSERT_EQ(1128u, iconimg_image(&canvas, 16, img.data(), ICONIMG_MAX));
    for (int r = 0; r < 16; r++)
        for (int c = 0; c < 16; c++)
            ASSERT_EQ(pic[2 * r * 32 + 2 * c], get32(&img[40 + 4 * ((15 - r) * 16 + c)])) << r << "," << c;
    EXPECT_EQ(0u, iconimg_image(&canvas, 16, img.data(), 1127)) << "a buffer too small is refused";
}

TEST(IconImage, SinglePixelFillsEveryImage)
{
    Picture pic = picture_with_box(17, 9, 1, 1);
    IconCanvas canvas = canvas_of(pic);
    ASSERT_EQ(1, canvas.side);
    std::vector<unsigned char> img(ICONIMG_MAX);
    ASSERT_EQ(270376u, iconimg_image(&canvas, 256, img.data(), ICONIMG_MAX));
    for (int i = 0; i < 256 * 256; i++)
        ASSERT_EQ(pic[9 * 32 + 17], get32(&img[40 + 4 * i])) << i;
}

struct Broken {
    const char *name;
    void (*spoil)(std::string &file);
};

// The valid file these start from has two entries, each with a good image;
// the first image starts at 38. The second must never be looked for.
static const Broken broken[] = {
    {"only_21_bytes", [](std::string &f) { f.resize(21); }},
    {"resource_type_2", [](std::string &f) { f[2] = 2; }},
    {"type_0", [](std::string &f) { f[2] = 0; }},
    {"offset_leaves_743_bytes", [](std::string &f) { put32(f, 18, (uint32_t)f.size() - 743); }},
    {"offset_near_2_pow_32", [](std::string &f) { put32(f, 18, 0xFFFFFFF0u); }},
    {"offset_2_pow_32_minus_1", [](std::string &f) { put32(f, 18, 0xFFFFFFFFu); }},
    {"first_image_16_wide", [](std::string &f) { f[38 + 4] = 16; }},
    {"first_image_48_wide", [](std::string &f) { f[38 + 4] = 48; }},
    {"first_image_8_bits", [](std::string &f) { f[38 + 14] = 8; }},
    {"first_image_32_bits", [](std::string &f) { f[38 + 14] = 32; }},
};

static void PrintTo(const Broken &b, std::ostream *os) { *os << b.name; }

class NotUnderstood : public testing::TestWithParam<Broken> {};

TEST_P(NotUnderstood, LoggedAndTheExecutableUntouched)
{
    Picture pic = picture_with_box(3, 3, 10, 10);
    std::string good = encode_image(pic);
    std::string file = icon_file({good, good});
    ASSERT_EQ(38u, file.size() - 2 * good.size());
    GetParam().spoil(file);

    std::string exe = target_copy(scratch());
    std::string before = slurp(exe);
    log_reset();
    EXPECT_EQ(0, inject_icon(exe.c_str(), (const unsigned char *)file.data(), file.size()));
    EXPECT_EQ(std::vector<std::string>{"ERROR: game icon not understood"}, log_lines());
    EXPECT_EQ(before, slurp(exe));
}

INSTANTIATE_TEST_SUITE_P(Files, NotUnderstood, testing::ValuesIn(broken),
                         [](const testing::TestParamInfo<Broken> &i) { return std::string(i.param.name); });

static BOOL CALLBACK count_name(HMODULE, LPCSTR, LPSTR, LONG_PTR n)
{
    ++*(int *)n;
    return TRUE;
}

// Icons already in the executable (from an earlier install) are replaced,
// not added to: still one group and seven images, now the new ones.
TEST(InjectIcon, SecondIconReplacesTheFirst)
{
    std::string exe = target_copy(scratch());
    std::string first = icon_file({encode_image(picture_with_box(0, 0, 32, 32))});
    Picture pixel = picture_with_box(17, 9, 1, 1);
    std::string second = icon_file({encode_image(pixel)});
    ASSERT_EQ(1, inject_icon(exe.c_str(), (const unsigned char *)first.data(), first.size()));
    ASSERT_EQ(1, inject_icon(exe.c_str(), (const unsigned char *)second.data(), second.size()));

    HMODULE m = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m);
    int icons = 0, groups = 0;
    EnumResourceNamesA(m, MAKEINTRESOURCEA(3), count_name, (LONG_PTR)&icons);
    EnumResourceNamesA(m, MAKEINTRESOURCEA(14), count_name, (LONG_PTR)&groups);
    EXPECT_EQ(7, icons);
    EXPECT_EQ(1, groups);
    std::string img = resource(m, MAKEINTRESOURCEA(3), 1);
    ASSERT_EQ(1128u, img.size());
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(pixel[9 * 32 + 17], get32((const unsigned char *)img.data() + 40 + 4 * i)) << i;
    FreeLibrary(m);
}

// Missing, in use by another process (open without write sharing) or
// read-only: the executable cannot be opened for updating and stays as it was.
TEST(InjectIcon, ExecutableMissingInUseOrReadOnly)
{
    Picture pic = picture_with_box(3, 3, 10, 10);
    std::string ico = icon_file({encode_image(pic)});
    std::string dir = scratch();
    // One line that names the executable and says why, in the system's words.
    auto expect_cannot = [](const std::string &exe) {
        std::vector<std::string> lines = log_lines();
        ASSERT_EQ(1u, lines.size());
        std::string head = "ERROR: cannot update the game executable's icon in " + exe + ": ";
        EXPECT_EQ(head, lines[0].substr(0, head.size()));
        EXPECT_EQ(")", lines[0].substr(lines[0].size() - 1));
        EXPECT_NE(std::string::npos, lines[0].find(" (error ", head.size())) << lines[0];
    };

    log_reset();
    EXPECT_EQ(0, inject_icon((dir + "\\missing.exe").c_str(), (const unsigned char *)ico.data(), ico.size()));
    expect_cannot(dir + "\\missing.exe");
    EXPECT_FALSE(file_exists(dir + "\\missing.exe"));

    std::string exe = target_copy(dir);
    std::string before = slurp(exe);
    HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    log_reset();
    EXPECT_EQ(0, inject_icon(exe.c_str(), (const unsigned char *)ico.data(), ico.size())) << "in use";
    expect_cannot(exe);
    CloseHandle(held);
    EXPECT_EQ(before, slurp(exe));

    ASSERT_TRUE(SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileA(exe.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (probe != INVALID_HANDLE_VALUE) {
        // Wine keeps the attribute as Unix permissions, which the super-user
        // passes; then the file is simply writable and there is nothing to show.
        CloseHandle(probe);
        SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::printf("read-only files are writable here (super-user): read-only case not shown\n");
        return;
    }
    log_reset();
    EXPECT_EQ(0, inject_icon(exe.c_str(), (const unsigned char *)ico.data(), ico.size())) << "read-only";
    expect_cannot(exe);
    SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(before, slurp(exe));
}

// The sample icon, drawn and packed by ImageMagick and icotool, decodes to
// what ImageMagick decodes from it; its opaque part is 24x18 at (3, 7).
TEST(SampleIcon, DecodesAsImageMagickDoes)
{
    bool ok = false;
    std::string ico = slurp(media_path("disc1\\TARNOK\\TARNOK.ICO"), &ok);
    ASSERT_TRUE(ok);
    std::string rgba = slurp(media_path("TARNOK-ICO.rgba"));
    ASSERT_EQ(4096u, rgba.size());
    IconCanvas picture, canvas;
    ASSERT_EQ(1, iconimg_decode((const unsigned char *)ico.data(), ico.size(), &picture));
    for (int i = 0; i < 1024; i++) {
        const unsigned char *q = (const unsigned char *)rgba.data() + 4 * i;
        uint32_t want = q[3] ? (uint32_t)q[3] << 24 | q[0] << 16 | q[1] << 8 | q[2] : 0;
        ASSERT_EQ(want, picture.px[i]) << "pixel " << i;
    }
    iconimg_crop(&picture, &canvas);
    ASSERT_EQ(24, canvas.side);
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 24; x++) {
            bool inside = y >= 3 && y < 21;
            ASSERT_EQ(inside ? picture.px[(y - 3 + 7) * 32 + x + 3] : 0u, canvas.px[y * 24 + x]) << y << "," << x;
        }
}
