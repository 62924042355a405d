// A CD source as the player gave it, told in words for the log: a CD drive
// with the disc's label, serial and file system, a folder, or an image of
// a kind with the file it reads and its sector layout. Someone who helps
// with a failed install asks these first: a dump in a raw layout, or a
// pressing known by its serial, explains many failures at once.
#include <windows.h>

#include <string.h>

#include "cdsrc/cdinternal.h"

// The layouts in the words of the tools that make images.
static const char *layout_words(const CdSource *src)
{
    if (src->sector_size == ISO_SECTOR)
        return "2,048-byte sectors";
    int form1 = src->data_offset == 24;
    if (src->sector_size == 2352)
        return form1 ? "2,352-byte raw sectors, mode 2 form 1" : "2,352-byte raw sectors, mode 1";
    if (src->sector_size == 2448)
        return form1 ? "2,448-byte raw sectors with sub-channel, mode 2 form 1"
                     : "2,448-byte raw sectors with sub-channel, mode 1";
    return "2,336-byte sectors, mode 2 form 1 without sync and header";
}

// The disc in the drive of root ("E:\") as the system names it.
static void disc_words(const char *root, char *out, size_t size)
{
    char label[MAX_PATH + 1] = "", fs[MAX_PATH + 1] = "", shown[600];
    DWORD serial = 0;
    if (!GetVolumeInformationA(root, label, sizeof label, &serial, NULL, NULL, fs, sizeof fs)) {
        fmt(out, size, "no disc");
        return;
    }
    if (label[0])
        fmt(out, size, "label \"%s\", serial %04lX-%04lX, file system %s", name_escape(label, shown, sizeof shown),
            (unsigned long)(serial >> 16), (unsigned long)(serial & 0xFFFF), fs);
    else
        fmt(out, size, "no label, serial %04lX-%04lX, file system %s", (unsigned long)(serial >> 16),
            (unsigned long)(serial & 0xFFFF), fs);
}

// What kind of image a file given is: by its descriptor, else by its layout.
static const char *image_kind(const char *given, const CdSource *src)
{
    char data[520];
    if (cue_is_sheet(given))
        return "CUE/BIN image";
    if (dump_data_path(given, data, sizeof data)) {
        const char *dot = strrchr(given, '.');
        return dot && _stricmp(dot, ".ccd") == 0 ? "CloneCD image" : "Alcohol image";
    }
    return src->sector_size == ISO_SECTOR ? "ISO image" : "raw image";
}

static void tell_image(const char *given, const CdSource *src, char *out, size_t size)
{
    char shown[1024], data[1024], track[64] = "", n[32];
    name_escape(given, shown, sizeof shown);
    if (src->track_start)
        fmt(track, sizeof track, ", track from byte %s", fmt_count(src->track_start, n, sizeof n));
    if (_stricmp(given, src->path) == 0)
        fmt(out, size, "%s %s (%s%s)", image_kind(given, src), shown, layout_words(src), track);
    else
        fmt(out, size, "%s %s, data file %s (%s%s)", image_kind(given, src), shown,
            name_escape(src->path, data, sizeof data), layout_words(src), track);
}

// A folder, a drive's root among them; on a CD drive with its disc.
static void tell_folder(const char *path, char *out, size_t size)
{
    char shown[1024], disc[700];
    char root[4] = {path[0], ':', '\\', 0};
    name_escape(path, shown, sizeof shown);
    if (!on_cd_drive(path)) {
        fmt(out, size, "folder %s", shown);
        return;
    }
    disc_words(root, disc, sizeof disc);
    if (strlen(path) <= 3)
        fmt(out, size, "CD drive %s (%s)", shown, disc);
    else
        fmt(out, size, "folder %s on CD drive %s (%s)", shown, root, disc);
}

// Given, but nothing that opens as a source: what is there instead.
static void tell_unreadable(const char *given, char *out, size_t size)
{
    char shown[1024], data[1024], file[520];
    name_escape(given, shown, sizeof shown);
    if (on_cd_drive(given) && strlen(given) <= 3) {
        fmt(out, size, "CD drive %s (no disc, or one that cannot be read)", shown);
        return;
    }
    if (!path_exists(given)) {
        fmt(out, size, "%s (not found)", shown);
        return;
    }
    cd_image_file(given, file, sizeof file);
    if (_stricmp(file, given) != 0 && !path_exists(file))
        fmt(out, size, "%s, data file %s (not found)", shown, name_escape(file, data, sizeof data));
    else
        fmt(out, size, "%s (no disc image that can be read)", shown);
}

const char *cd_tell(const char *given, char *out, size_t size)
{
    char work[520];
    if (!given[0]) {
        fmt(out, size, "none given");
        return out;
    }
    if (!fmt_path(work, sizeof work, "%s", given)) {
        fmt(out, size, "a path too long to use");
        return out;
    }
    cd_normalise(work, sizeof work);
    CdSource *src = cd_open(work);
    if (!src)
        tell_unreadable(work, out, size);
    else if (src->kind == 0)
        tell_folder(src->path, out, size);
    else
        tell_image(work, src, out, size);
    cd_close(src);
    return out;
}
