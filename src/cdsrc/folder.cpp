// The walks over a folder source (a drive's root or a folder copied from a
// disc): the total of its files' sizes and the copy of its tree, each
// folder entered once however many links lead to it.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdinternal.h"

enum { PATH_MAX_LEN = 520 };

// A folder as the file system knows it, whatever path or link leads to it.
struct FolderId {
    uint32_t volume;
    uint64_t index;
    int known; // 0: the folder could not be asked
};

// The folders on the current walk's path, by depth, and every folder it
// has entered. A link back to a folder on the path would loop.
static FolderId walk_path[CD_MAX_DEPTH + 1];
static IdSet entered;

static FolderId folder_id(const char *path)
{
    FolderId id = {0, 0, 0};
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    BY_HANDLE_FILE_INFORMATION info;
    if (h == INVALID_HANDLE_VALUE)
        return id;
    if (GetFileInformationByHandle(h, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
        id.known = 1;
    }
    CloseHandle(h);
    return id;
}

static int same_folder(const FolderId *a, const FolderId *b)
{
    return a->known && b->known && a->volume == b->volume && a->index == b->index;
}

// 1 if the folder was not entered before in this walk (it now is). A folder
// that cannot be asked is entered as ever.
static int remember(const FolderId *id, int depth)
{
    for (int d = 0; d < depth; d++) {
        if (same_folder(&walk_path[d], id))
            return 0;
    }
    walk_path[depth] = *id;
    return !id->known || id_set_add(&entered, id->volume, id->index);
}

// Asking a folder who it is costs system calls that a tree without links
// never needs: only a link can lead to a folder entered before. So until
// the walk meets its first link, entered folders are only noted by path;
// at the first link all of them are asked, and from then on every folder.
struct NotedFolder {
    char *path;
    int depth;
};
static NotedFolder *noted;
static uint32_t noted_room, noted_count;
static int walk_asks;

static void forget_noted(void)
{
    for (uint32_t i = 0; i < noted_count; i++)
        free(noted[i].path);
    noted_count = 0;
}

static int note(const char *path, int depth)
{
    if (noted_count == noted_room) {
        uint32_t room = noted_room ? noted_room * 2 : 256;
        NotedFolder *grown = (NotedFolder *)realloc(noted, sizeof(NotedFolder) * room);
        if (!grown)
            return 0;
        noted = grown;
        noted_room = room;
    }
    char *copy = _strdup(path);
    if (!copy)
        return 0;
    noted[noted_count].path = copy;
    noted[noted_count++].depth = depth;
    return 1;
}

// Asks every noted folder in the order entered, so that the last one noted
// at each depth is the one on the current path.
static void ask_noted(void)
{
    walk_asks = 1;
    for (uint32_t i = 0; i < noted_count; i++) {
        FolderId id = folder_id(noted[i].path);
        remember(&id, noted[i].depth);
    }
    forget_noted();
}

// 1 if the folder at path is to be entered: not reached before in this
// walk, on the path or elsewhere. link: the listing marks it as a link.
static int enter_first(const char *path, int depth, int link)
{
    if (link && !walk_asks)
        ask_noted();
    if (!walk_asks && note(path, depth))
        return 1;
    if (!walk_asks)
        ask_noted(); // out of memory for notes: ask from here on
    FolderId id = folder_id(path);
    return remember(&id, depth);
}

static void walk_start(const char *folder, int depth)
{
    // A walk may start below depth 0: nothing of an earlier walk stays on
    // its path.
    memset(walk_path, 0, sizeof walk_path);
    id_set_clear(&entered);
    forget_noted();
    walk_asks = 0;
    enter_first(folder, depth, 0);
}

static int is_link(const WIN32_FIND_DATAA *fd)
{
    return (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

static uint64_t total_folder(const char *folder, int depth)
{
    uint64_t sum = 0;
    FolderListing l;
    for (int more = listing_first(&l, folder, "*"); more; more = listing_next(&l)) {
        if (!(l.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            sum += l.size;
            continue;
        }
        char child[PATH_MAX_LEN];
        // A folder too long to name is refused when it is copied.
        if (depth < CD_MAX_DEPTH && join_path(child, sizeof child, folder, l.name) &&
            enter_first(child, depth + 1, (l.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
            sum += total_folder(child, depth + 1);
    }
    listing_close(&l);
    return sum;
}

// Each call is a walk of its own from the folder given.
uint64_t dir_total(const char *folder, int depth)
{
    if (depth < 0 || depth > CD_MAX_DEPTH)
        return 0;
    walk_start(folder, depth);
    uint64_t sum = total_folder(folder, depth);
    forget_noted();
    return sum;
}

static int copy_folder(const char *src, const char *dst, Progress *p, int depth);

// Copies one listed entry. A name Windows would take for a device or strip
// of its end (possible in a folder on another file system) is refused; a
// folder reached before in this walk, through a link, is not entered again.
static int copy_child(const char *src, const char *dst, const WIN32_FIND_DATAA *fd, Progress *p, int depth)
{
    char from[PATH_MAX_LEN], to[PATH_MAX_LEN], shown[1024], shown_dir[1024];
    int folder = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && depth >= CD_MAX_DEPTH)
        return 1;
    if (name_reserved(fd->cFileName, strlen(fd->cFileName))) {
        setup_log("unsafe name \"%s\" in %s", name_escape(fd->cFileName, shown, sizeof shown),
                  name_escape(src, shown_dir, sizeof shown_dir));
        return 0;
    }
    // A cut path would copy another file, or to another name.
    if (!join_path(from, sizeof from, src, fd->cFileName) ||
        !fmt_path(to, sizeof to, "%s\\%s", dst, fd->cFileName)) {
        setup_log("path too long: %s\\%s", name_escape(dst, shown_dir, sizeof shown_dir),
                  name_escape(fd->cFileName, shown, sizeof shown));
        return 0;
    }
    if (!folder) {
        // copy_file makes a new file with normal attributes whatever the
        // source's read-only, hidden or system flags: nothing to clear.
        uint64_t size = (uint64_t)fd->nFileSizeHigh << 32 | fd->nFileSizeLow;
        return !copy_wanted(p, to, size) || copy_file(from, to, p);
    }
    if (!enter_first(from, depth + 1, is_link(fd))) {
        setup_log("skipped %s: folder entered before", name_escape(from, shown, sizeof shown));
        return 1;
    }
    return copy_folder(from, to, p, depth + 1);
}

static void log_unlisted(const char *src, unsigned long error)
{
    char shown[1024], reason[600];
    setup_log("cannot list %s: %s", name_escape(src, shown, sizeof shown), error_text(error, reason, sizeof reason));
}

// Lists a folder for its copy. The root of an empty drive lists nothing,
// not even "." and "..": that folder is empty. Every other folder lists at
// least those two, so "not found" there is a folder that cannot be read
// (Wine says so for a folder it cannot open). Any other failure, after
// the retries of a drive, is a failed copy, not an empty folder: on a disc
// it is an unreadable directory sector, and the game would lack its files.
static HANDLE list_first(const char *src, const char *pattern, WIN32_FIND_DATAA *fd, int *empty, const Progress *p)
{
    *empty = 0;
    int tries = 0;
    for (;;) {
        HANDLE h = FindFirstFileA(pattern, fd);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND && is_drive_root(src) && is_dir(src)) {
            *empty = 1;
            return h;
        }
        if (!copy_try_again(p, src, error, &tries)) {
            if (!stop_requested())
                log_unlisted(src, error);
            return h;
        }
    }
}

// The listing's end: 1 when it ended because every entry was listed.
static int listed_whole(const char *src)
{
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES)
        return 1;
    log_unlisted(src, error);
    return 0;
}

static int copy_folder(const char *src, const char *dst, Progress *p, int depth)
{
    char pattern[PATH_MAX_LEN];
    if (!join_path(pattern, sizeof pattern, src, "*")) {
        setup_log("path too long: %s", src);
        return 0;
    }
    WIN32_FIND_DATAA fd;
    int empty;
    HANDLE h = list_first(src, pattern, &fd, &empty, p);
    make_dirs(dst);
    if (h == INVALID_HANDLE_VALUE)
        return empty;
    int ok = 1;
    for (;;) {
        if (!is_dot_entry(fd.cFileName))
            ok = copy_child(src, dst, &fd, p, depth);
        if (!ok || stop_requested())
            break;
        if (!FindNextFileA(h, &fd)) {
            ok = listed_whole(src);
            break;
        }
    }
    FindClose(h);
    return ok && !stop_requested();
}

// Each call is a walk of its own from the folder given.
int dir_copy(const char *src, const char *dst, Progress *p, int depth)
{
    if (depth < 0 || depth > CD_MAX_DEPTH)
        return 0;
    walk_start(src, depth);
    int ok = copy_folder(src, dst, p, depth);
    forget_noted();
    return ok;
}
