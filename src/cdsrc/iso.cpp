// ISO 9660 image reader: sectors in every stored layout, directory listings,
// lookups, and the totalling and copying of a whole tree.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdinternal.h"

enum { PVD_SECTOR = 16 };

// One install at a time: the read buffer and the walk's path are shared.
// Reading 1 MiB at a time instead of 64 KiB saves about a tenth of a copy
// under Wine; what was read goes out with one write, and progress is still
// counted in steps of 64 KiB. Raw sectors are read as stored and their data
// bytes packed to the front of the same buffer, so that a copy writes
// straight from what it read.
static unsigned char run_buf[RUN_SECTORS * ISO_RAW_MAX];
// walk_lba[d] is the extent of the directory being walked at depth d, so a
// directory that points back at one of its ancestors is caught at once.
static uint32_t walk_lba[CD_MAX_DEPTH + 1];
// Every directory extent entered in the current walk. No mastering tool
// lets two records share a directory's extent, but a hostile image can.
static IdSet seen;

// Why the last read of the image failed: the system's error, or the end of
// the file for an image cut short.
static DWORD read_error;
// The folder the current copy writes the disc's root into: a damaged
// place is named by its path on the disc, below it.
static const char *copy_root;

// A file of the image that cannot be read, and why.
static void log_read_error(const char *name)
{
    char shown[1024], reason[600];
    setup_log("read error in %s: %s", name_escape(name, shown, sizeof shown),
              error_text(read_error, reason, sizeof reason));
}

// Fetches a run of k consecutive sectors with one read into run_buf and
// returns their data bytes, packed end to end at its start; NULL on
// failure. A raw sector that fails its check is kept as the source's damage
// (its file or folder is named by the copy that met it).
static const unsigned char *fetch_run(CdSource *src, uint64_t lba, uint32_t k)
{
    if (src->sector_size < ISO_SECTOR || src->sector_size > ISO_RAW_MAX || k == 0 || k > RUN_SECTORS)
        return NULL;
    ImageRead r = image_read_of(src);
    uint64_t bad = 0;
    int got = image_read_run(&r, lba, k, run_buf, &read_error, &bad);
    if (got < 0 && !src->damaged) {
        src->damaged = 1;
        src->damaged_lba = bad;
        src->damaged_placed = 0;
        src->damaged_in[0] = 0;
    }
    return got > 0 ? run_buf : NULL;
}

// Plain sectors go straight into buf; raw ones through run_buf.
static int read_run(CdSource *src, uint64_t lba, uint32_t k, unsigned char *buf)
{
    if (src->sector_size == ISO_SECTOR) {
        ImageRead r = image_read_of(src);
        uint64_t bad;
        return image_read_run(&r, lba, k, buf, &read_error, &bad) > 0;
    }
    const unsigned char *data = fetch_run(src, lba, k);
    if (!data)
        return 0;
    memcpy(buf, data, (size_t)k * ISO_SECTOR);
    return 1;
}

int read_sectors(CdSource *src, uint32_t lba, uint32_t count, unsigned char *buf)
{
    for (uint32_t i = 0; i < count;) {
        uint32_t k = count - i < (uint32_t)RUN_SECTORS ? count - i : (uint32_t)RUN_SECTORS;
        if (!read_run(src, (uint64_t)lba + i, k, buf + (size_t)i * ISO_SECTOR))
            return 0;
        i += k;
    }
    return 1;
}

int probe(CdSource *src, uint32_t sector_size, uint32_t data_offset)
{
    unsigned char sector[ISO_SECTOR];
    src->sector_size = sector_size;
    src->data_offset = data_offset;
    if (!read_sectors(src, PVD_SECTOR, 1, sector))
        return 0;
    return iso_parse_pvd(sector, &src->root_lba, &src->root_size);
}

// Logical sectors the image holds whole in its layout.
static uint64_t image_sectors(CdSource *src)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx((HANDLE)src->image, &size))
        return 0;
    uint64_t need = (uint64_t)src->data_offset + ISO_SECTOR;
    uint64_t have = (uint64_t)size.QuadPart;
    if (have < src->track_start || have - src->track_start < need || src->sector_size == 0)
        return 0;
    return (have - src->track_start - need) / src->sector_size + 1;
}

int iso_extent_fits(CdSource *src, uint32_t lba, uint64_t size)
{
    uint64_t have = image_sectors(src);
    return lba <= have && iso_sectors(size) <= have - lba;
}

static IsoEntry *empty_listing(int *count)
{
    *count = 0;
    return (IsoEntry *)malloc(sizeof(IsoEntry));
}

// Lists a directory; *ok tells an empty directory from one that could not
// be read. An extent that runs past the end of the image is refused before
// anything is allocated for it.
static IsoEntry *list_dir(CdSource *src, uint32_t lba, uint32_t size, int *count, int *ok)
{
    *ok = 0;
    read_error = ERROR_FILE_CORRUPT;
    if (!iso_extent_fits(src, lba, size))
        return empty_listing(count);
    uint64_t sectors = iso_sectors(size);
    size_t len = (size_t)(sectors * ISO_SECTOR);
    unsigned char *buf = (unsigned char *)malloc(len ? len : 1);
    if (!buf || !read_sectors(src, lba, (uint32_t)sectors, buf)) {
        free(buf);
        return empty_listing(count);
    }
    IsoEntry *list = iso_parse_dir(buf, len, size, count);
    free(buf);
    if (!list) {
        read_error = ERROR_FILE_CORRUPT;
        return empty_listing(count);
    }
    *ok = 1;
    return list;
}

IsoEntry *iso_dir(CdSource *src, uint32_t lba, uint32_t size, int *count)
{
    int ok;
    return list_dir(src, lba, size, count, &ok);
}

static int is_separator(char c)
{
    return c == '\\' || c == '/';
}

// Finds name in the directory (lba, size), ignoring ASCII case.
static int find_in_dir(CdSource *src, uint32_t lba, uint32_t size, const char *name, IsoEntry *entry)
{
    int count;
    IsoEntry *list = iso_dir(src, lba, size, &count);
    int found = 0;
    for (int i = 0; i < count && !found; i++) {
        if (_stricmp(list[i].name, name) == 0) {
            *entry = list[i];
            found = 1;
        }
    }
    free(list);
    return found;
}

int iso_find(CdSource *src, const char *path, IsoEntry *entry)
{
    uint32_t lba = src->root_lba, size = src->root_size;
    const char *s = path;
    while (*s) {
        char part[64];
        size_t n = 0;
        while (s[n] && !is_separator(s[n]))
            n++;
        // A leading separator leaves an empty first component, which names
        // nothing, not even a damaged record with an empty name; and no name
        // on a disc is longer than 63 characters.
        if (n == 0 || n >= sizeof part)
            return 0;
        memcpy(part, s, n);
        part[n] = 0;
        s += n;
        while (is_separator(*s))
            s++;
        IsoEntry e;
        if (!find_in_dir(src, lba, size, part, &e))
            return 0;
        *entry = e;
        lba = e.lba;
        size = e.size;
    }
    return 1;
}

// 1 if the extent had not been entered in this walk (it is now marked),
// 0 if it had.
static int seen_first(uint32_t lba)
{
    return id_set_add(&seen, lba, 0);
}

static int on_walk_path(uint32_t lba, int depth)
{
    for (int d = 0; d <= depth; d++) {
        if (walk_lba[d] == lba)
            return 1;
    }
    return 0;
}

static uint64_t total_dir(CdSource *src, uint32_t lba, uint32_t size, int depth)
{
    walk_lba[depth] = lba;
    int count;
    IsoEntry *list = iso_dir(src, lba, size, &count);
    uint64_t sum = 0;
    for (int i = 0; i < count; i++) {
        const IsoEntry *e = &list[i];
        if (!e->directory)
            sum += e->size;
        else if (depth < CD_MAX_DEPTH && !on_walk_path(e->lba, depth) && seen_first(e->lba))
            sum += total_dir(src, e->lba, e->size, depth + 1);
    }
    free(list);
    return sum;
}

// Each call is a walk of its own from the directory given.
uint64_t iso_total(CdSource *src, uint32_t lba, uint32_t size, int depth)
{
    if (depth < 0 || depth > CD_MAX_DEPTH)
        return 0;
    id_set_clear(&seen);
    seen_first(lba);
    return total_dir(src, lba, size, depth);
}

// A read that failed on a damaged sector, met first where the file or
// folder being copied to dst needed it: that is where the damage lies. 1
// when the failure was that (the first one only); 0 for any other, which
// the caller tells of.
static int place_damage(CdSource *src, const char *dst)
{
    if (!src->damaged || src->damaged_placed)
        return 0;
    const char *below = path_below(dst, copy_root);
    fmt(src->damaged_in, sizeof src->damaged_in, "%s", below ? below : "");
    src->damaged_placed = 1;
    return 1;
}

// Fetches the sectors of up to FETCH_STEPS copy steps from sector on with
// one read where it can. If that read fails, only the first step is read,
// so that a failure shows at the very step where reading step by step would
// meet it. Returns the data, with the sectors read in *fetched; NULL on
// failure.
static const unsigned char *fetch_steps(CdSource *src, uint32_t sector, uint32_t remaining, uint32_t *fetched)
{
    uint64_t want = iso_sectors(remaining);
    uint32_t k = want < (uint64_t)RUN_SECTORS ? (uint32_t)want : (uint32_t)RUN_SECTORS;
    const unsigned char *data = k > COPY_SECTORS ? fetch_run(src, sector, k) : NULL;
    if (!data) {
        k = k < (uint32_t)COPY_SECTORS ? k : (uint32_t)COPY_SECTORS;
        data = fetch_run(src, sector, k);
    }
    *fetched = data ? k : 0;
    return data;
}

// Writes one extent to out, each fetch with one write, carries on the
// file's CRC-32 in *crc, and adds it to the progress in steps of at most 32
// sectors. Everything happens on the copy's own thread: under Wine a second
// thread that read ahead cost more in handing over its runs than it saved
// (and with the CRC it took turns with the copy and the Wine server on a
// machine of two cores), while one thread that reads, sums and writes
// stays within a tenth of a program that only reads and writes.
static int write_extent(CdSource *src, const IsoEntry *e, HANDLE out, const char *path, Progress *p, uint32_t *crc)
{
    uint32_t remaining = e->size, sector = e->lba;
    while (remaining > 0) {
        if (stop_requested())
            return 0;
        uint32_t fetched = 0;
        const unsigned char *data = fetch_steps(src, sector, remaining, &fetched);
        if (!data) {
            if (!place_damage(src, path) && !stop_requested())
                log_read_error(e->name);
            return 0;
        }
        DWORD w = fetched * ISO_SECTOR < remaining ? fetched * ISO_SECTOR : remaining, put = 0;
        *crc = crc32_more(*crc, data, w);
        BOOL wrote = WriteFile(out, data, w, &put, NULL);
        if (!wrote || put != w) {
            log_write_failure(path, wrote ? ERROR_DISK_FULL : GetLastError());
            return 0;
        }
        remaining -= w;
        sector += fetched;
        for (DWORD step = 0; p && step < w; step += COPY_SECTORS * ISO_SECTOR)
            progress_add(p, w - step < COPY_SECTORS * ISO_SECTOR ? w - step : COPY_SECTORS * ISO_SECTOR);
    }
    return 1;
}

// Copies a file of whole bytes into path: its extents, one record each,
// joined in order.
static int copy_records(CdSource *src, const IsoEntry *e, int records, uint64_t whole, const char *path, Progress *p)
{
    DestFile dest;
    if (!dest_open_for(&dest, path, p)) {
        log_write_failure(path, GetLastError());
        return 0;
    }
    HANDLE out = dest.handle;
    copy_begun(p, path, whole);
    int ok = 1;
    uint32_t crc = 0;
    for (int k = 0; ok && k < records; k++)
        ok = write_extent(src, &e[k], out, path, p, &crc);
    if (!dest_finish(&dest, ok))
        return 0;
    copy_done(p, path, whole, crc);
    return 1;
}

// Names from the image become path components: one that is empty, "." or
// "..", or holds a separator or a drive colon could lead out of dst.
static int join_child(char *child, size_t size, const char *dst, const char *name)
{
    char shown[1024], shown_dst[1024];
    if (iso_name_unsafe(name)) {
        setup_log("unsafe name \"%s\" in %s", name_escape(name, shown, sizeof shown),
                  name_escape(dst, shown_dst, sizeof shown_dst));
        return 0;
    }
    // Where the ANSI calls speak UTF-8, other bytes would become
    // replacement characters: another name, which two records could share.
    if (GetACP() == CP_UTF8 && !utf8_valid(name)) {
        setup_log("name in %s is not UTF-8", dst);
        return 0;
    }
    if (strlen(dst) + 1 + strlen(name) >= size) {
        setup_log("path too long: %s\\%s", name_escape(dst, shown_dst, sizeof shown_dst),
                  name_escape(name, shown, sizeof shown));
        return 0;
    }
    fmt(child, size, "%s\\%s", dst, name);
    return 1;
}

static int ascii_only(const char *s, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if ((unsigned char)s[i] > 0x7F)
            return 0;
    }
    return 1;
}

static size_t trimmed_len(const char *s)
{
    size_t n = strlen(s);
    while (n > 0 && (s[n - 1] == '.' || s[n - 1] == ' '))
        n--;
    return n;
}

// 1 if Windows would take the two names for one file: equal without regard
// to case once dots and blanks at their ends are set aside. Beyond ASCII
// the file system folds case on wide characters, so such names are
// compared the same way.
static int same_on_disk(const char *a, const char *b)
{
    size_t na = trimmed_len(a), nb = trimmed_len(b);
    if (ascii_only(a, na) && ascii_only(b, nb))
        return na == nb && _strnicmp(a, b, na) == 0;
    WCHAR wa[64], wb[64];
    int la = MultiByteToWideChar(CP_ACP, 0, a, (int)na, wa, 64);
    int lb = MultiByteToWideChar(CP_ACP, 0, b, (int)nb, wb, 64);
    if (la <= 0 || lb <= 0)
        return na == nb && memcmp(a, b, na) == 0;
    return CompareStringOrdinal(wa, la, wb, lb, TRUE) == CSTR_EQUAL;
}

// 1 if an earlier record of the listing would land on the same file as
// list[i]; the records of a file in several extents come as one run, so
// all earlier ones belong to other files.
static int name_taken(const IsoEntry *list, int i)
{
    for (int j = 0; j < i; j++) {
        if (same_on_disk(list[j].name, list[i].name))
            return 1;
    }
    return 0;
}

// A name as the file system compares it: wide, its dots and blanks at the
// end set aside, with its place in the listing.
struct NameKey {
    WCHAR name[64];
    int len;
    int index;
};

static int key_cmp(const NameKey *a, const NameKey *b)
{
    int c = CompareStringOrdinal(a->name, a->len, b->name, b->len, TRUE);
    return c == CSTR_EQUAL ? 0 : c == CSTR_LESS_THAN ? -1 : 1;
}

// Names in the order the file system sorts them, equal ones in listing order.
static int key_order(const void *a, const void *b)
{
    const NameKey *x = (const NameKey *)a, *y = (const NameKey *)b;
    int c = key_cmp(x, y);
    return c != 0 ? c : x->index - y->index;
}

// For each record of a listing, 1 when an earlier record would land on the
// same file, as name_taken tells; null without memory for it. Sorted, equal
// names lie side by side, so a listing of any length costs n log n
// comparisons: comparing each record with all before it took seconds for a
// few thousand records, and minutes for the tens of thousands that one
// directory of an image can hold.
static unsigned char *names_taken(const IsoEntry *list, int count)
{
    NameKey *keys = (NameKey *)malloc(sizeof(NameKey) * (size_t)(count ? count : 1));
    unsigned char *taken = (unsigned char *)calloc((size_t)(count ? count : 1), 1);
    int ok = keys && taken;
    for (int i = 0; ok && i < count; i++) {
        int n = (int)trimmed_len(list[i].name);
        keys[i].len = n ? MultiByteToWideChar(CP_ACP, 0, list[i].name, n, keys[i].name, 64) : 0;
        keys[i].index = i;
        ok = n == 0 || keys[i].len > 0;
    }
    if (ok) {
        qsort(keys, (size_t)count, sizeof(NameKey), key_order);
        for (int k = 1; k < count; k++) {
            if (key_cmp(&keys[k - 1], &keys[k]) == 0)
                taken[keys[k].index] = 1;
        }
    }
    free(keys);
    if (!ok) {
        free(taken);
        return NULL;
    }
    return taken;
}

static int copy_dir(CdSource *src, uint32_t lba, uint32_t size, const char *dst, Progress *p, int depth);

// Copies the entry list[i] and, for a file in several extents, the
// records after it that hold the rest of it. taken is names_taken's answer
// for the listing, or null to compare names one by one.
static int copy_entry(CdSource *src, const IsoEntry *list, int i, int records, const unsigned char *taken,
                      const char *dst, Progress *p, int depth)
{
    const IsoEntry *e = &list[i];
    char child[520], shown[1024];
    if (e->directory && depth >= CD_MAX_DEPTH)
        return 1;
    if (!join_child(child, sizeof child, dst, e->name))
        return 0;
    // Never overwrite: a second record for one file fails the copy.
    if (taken ? taken[i] : name_taken(list, i)) {
        setup_log("name repeated at %s", name_escape(child, shown, sizeof shown));
        return 0;
    }
    if (!e->directory) {
        uint64_t whole = 0;
        for (int k = 0; k < records; k++)
            whole += e[k].size;
        return !copy_wanted(p, child, whole) || copy_records(src, e, records, whole, child, p);
    }
    if (on_walk_path(e->lba, depth)) {
        setup_log("directory loop at %s", name_escape(child, shown, sizeof shown));
        return 0;
    }
    if (!seen_first(e->lba)) {
        setup_log("directory repeated at %s", name_escape(child, shown, sizeof shown));
        return 0;
    }
    return copy_dir(src, e->lba, e->size, child, p, depth + 1);
}

static int copy_dir(CdSource *src, uint32_t lba, uint32_t size, const char *dst, Progress *p, int depth)
{
    walk_lba[depth] = lba;
    int count, ok;
    IsoEntry *list = list_dir(src, lba, size, &count, &ok);
    make_dirs(dst);
    // A directory that cannot be read is a failed copy, not an empty folder.
    if (!ok && !place_damage(src, dst))
        log_read_error(dst);
    unsigned char *taken = ok ? names_taken(list, count) : NULL;
    for (int i = 0, records = 1; ok && i < count; i += records) {
        uint64_t whole;
        records = iso_file_records(list, count, i, &whole);
        // Extents that do not follow each other under one name cannot be
        // joined into the file.
        if (!records) {
            read_error = ERROR_FILE_CORRUPT;
            log_read_error(list[i].name);
            ok = 0;
            break;
        }
        ok = copy_entry(src, list, i, records, taken, dst, p, depth);
    }
    free(taken);
    free(list);
    return ok;
}

// Each call is a walk of its own from the directory given.
int iso_copy(CdSource *src, uint32_t lba, uint32_t size, const char *dst, Progress *p, int depth)
{
    if (depth < 0 || depth > CD_MAX_DEPTH)
        return 0;
    id_set_clear(&seen);
    seen_first(lba);
    copy_root = dst;
    return copy_dir(src, lba, size, dst, p, depth);
}

// The last component is looked up in its parent's listing, which holds all
// the records of a file in several extents.
IsoEntry *iso_find_file(CdSource *src, const char *path, int *records)
{
    size_t end = strlen(path);
    while (end > 0 && is_separator(path[end - 1]))
        end--;
    size_t start = end;
    while (start > 0 && !is_separator(path[start - 1]))
        start--;
    char parent[520], part[64];
    if (start == end || end - start >= sizeof part || start >= sizeof parent)
        return NULL;
    memcpy(parent, path, start);
    parent[start] = 0;
    memcpy(part, path + start, end - start);
    part[end - start] = 0;
    IsoEntry dir = {};
    dir.lba = src->root_lba;
    dir.size = src->root_size;
    if (start > 0 && !iso_find(src, parent, &dir))
        return NULL;
    int count;
    IsoEntry *list = iso_dir(src, dir.lba, dir.size, &count), *run = NULL;
    int i = 0;
    while (i < count && _stricmp(list[i].name, part) != 0)
        i++;
    uint64_t whole;
    int n = i < count && !list[i].directory ? iso_file_records(list, count, i, &whole) : 0;
    if (n > 0 && (run = (IsoEntry *)malloc(sizeof(IsoEntry) * (size_t)n)) != NULL) {
        memcpy(run, &list[i], sizeof(IsoEntry) * (size_t)n);
        *records = n;
    }
    free(list);
    return run;
}
