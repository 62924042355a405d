// What the report of the last install attempt needs from the machine: the
// log, the system (Windows, Wine, language, DPI), the install folder and
// the state of its files, the table of disc editions this setup carries,
// and the user's names and folders to leave out; and the report on the
// clipboard.
#include <windows.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "commit.h"
#include "filelist/filelist.h"
#include "install/install.h"
#include "setup/details.h"
#include "setup/setup.h"

#ifndef TARNOK_VERSION
#define TARNOK_VERSION "0"
#endif

// The log as it is read: a log larger than this is read from this far
// before its end, which holds the last attempt of any install.
static const uint64_t log_read_most = 16u << 20;

static const char setup_name[] = "Tarnok: Vorblen - Pellurin Setup";

// Text appended to a buffer of several lines, each ended by '\n'.
struct Lines {
    char *text;
    size_t size, len;
};

static void add(Lines *l, const char *format, ...) PRINTF_LIKE(2, 3);

static void add(Lines *l, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    l->len += (size_t)vfmt(l->text + l->len, l->size - l->len, format, ap);
    va_end(ap);
    if (l->size - l->len > 1) {
        l->text[l->len++] = '\n';
        l->text[l->len] = 0;
    }
}

// ---------------------------------------------------------------- the system

// The system's own record of its version: GetVersionEx tells a program
// without a compatibility list Windows 8 whatever runs.
static int real_version(RTL_OSVERSIONINFOW *v)
{
    typedef LONG(WINAPI * RtlGetVersionFn)(RTL_OSVERSIONINFOW *);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    RtlGetVersionFn get = ntdll ? (RtlGetVersionFn)(void (*)(void))GetProcAddress(ntdll, "RtlGetVersion") : NULL;
    memset(v, 0, sizeof *v);
    v->dwOSVersionInfoSize = sizeof *v;
    return get && get(v) == 0;
}

static const char *windows_name(const RTL_OSVERSIONINFOW *v)
{
    if (v->dwMajorVersion == 10)
        return v->dwBuildNumber >= 22000 ? "Windows 11" : "Windows 10";
    if (v->dwMajorVersion == 6 && v->dwMinorVersion == 3)
        return "Windows 8.1";
    if (v->dwMajorVersion == 6 && v->dwMinorVersion == 2)
        return "Windows 8";
    if (v->dwMajorVersion == 6 && v->dwMinorVersion == 1)
        return "Windows 7";
    return "Windows";
}

// The release and update number that Settings shows ("22H2", 3803); where
// the registry does not say, nothing.
static void windows_release(char *release, size_t size, DWORD *update)
{
    HKEY key;
    release[0] = 0;
    *update = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    DWORD type = 0, got = (DWORD)size - 1;
    if (RegQueryValueExA(key, "DisplayVersion", NULL, &type, (BYTE *)release, &got) == ERROR_SUCCESS &&
        type == REG_SZ)
        release[got < size ? got : size - 1] = 0;
    else
        release[0] = 0;
    got = sizeof *update;
    if (RegQueryValueExA(key, "UBR", NULL, &type, (BYTE *)update, &got) != ERROR_SUCCESS || type != REG_DWORD)
        *update = 0;
    RegCloseKey(key);
}

static void add_windows(Lines *l)
{
    RTL_OSVERSIONINFOW v;
    char release[64], build[32] = "";
    DWORD update = 0;
    if (!real_version(&v)) {
        add(l, "Windows: unknown");
        return;
    }
    windows_release(release, sizeof release, &update);
    if (update)
        fmt(build, sizeof build, ".%lu", (unsigned long)update);
    add(l, "Windows: %lu.%lu build %lu%s (%s%s%s)", (unsigned long)v.dwMajorVersion, (unsigned long)v.dwMinorVersion,
        (unsigned long)v.dwBuildNumber, build, windows_name(&v), release[0] ? ", " : "", release);
}

// Wine's ntdll tells its version; Windows' has no such function.
static void add_wine(Lines *l)
{
    typedef const char *(__cdecl * VersionFn)(void);
    typedef void(__cdecl * HostFn)(const char **, const char **);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    VersionFn version = ntdll ? (VersionFn)(void (*)(void))GetProcAddress(ntdll, "wine_get_version") : NULL;
    HostFn host = ntdll ? (HostFn)(void (*)(void))GetProcAddress(ntdll, "wine_get_host_version") : NULL;
    if (!version) {
        add(l, "Wine: none");
        return;
    }
    const char *system = NULL, *release = NULL;
    if (host)
        host(&system, &release);
    if (system && release)
        add(l, "Wine: %s (on %s %s)", version(), system, release);
    else
        add(l, "Wine: %s", version());
}

static void add_language(Lines *l)
{
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
    char shown[LOCALE_NAME_MAX_LENGTH * 3] = "";
    LANGID ui = GetUserDefaultUILanguage();
    if (LCIDToLocaleName(MAKELCID(ui, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) > 0)
        WideCharToMultiByte(CP_UTF8, 0, name, -1, shown, sizeof shown, NULL, NULL);
    add(l, "UI language: %s (%04X)", shown[0] ? shown : "unknown", (unsigned)ui);
}

// The code page the system gives programs that do not ask for UTF-8.
static UINT system_code_page(void)
{
    UINT cp = 0;
    if (!GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER, (LPWSTR)&cp,
                        sizeof cp / sizeof(wchar_t)))
        cp = CP_ACP;
    return cp;
}

static void add_display(Lines *l)
{
    HDC dc = GetDC(NULL);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc)
        ReleaseDC(NULL, dc);
    add(l, "Code page: %u (the system's: %u)", GetACP(), system_code_page());
    if (dpi > 0)
        add(l, "DPI: %d (%d %%)", dpi, MulDiv(dpi, 100, 96));
    else
        add(l, "DPI: unknown");
}

// ---------------------------------------------------------------- the log

struct LogRead {
    char *text;
    size_t len;
    int state;     // DETAILS_LOG_
    char time[40]; // when it was last written, UTC
};

static void log_time(HANDLE h, char *out, size_t size)
{
    FILETIME written;
    SYSTEMTIME t;
    out[0] = 0;
    if (GetFileTime(h, NULL, NULL, &written) && FileTimeToSystemTime(&written, &t))
        fmt(out, size, "%04u-%02u-%02u %02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
}

// The log file, as much of it as log_read_most from its end; shared with
// the setup that writes it (this one, in the window).
static void read_log(const char *path, LogRead *r)
{
    memset(r, 0, sizeof *r);
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        r->state = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? DETAILS_LOG_NONE : DETAILS_LOG_UNREADABLE;
        return;
    }
    LARGE_INTEGER size, from;
    r->state = DETAILS_LOG_UNREADABLE;
    log_time(h, r->time, sizeof r->time);
    if (GetFileSizeEx(h, &size)) {
        uint64_t n = (uint64_t)size.QuadPart, skip = n > log_read_most ? n - log_read_most : 0;
        from.QuadPart = (LONGLONG)skip;
        r->text = (char *)malloc((size_t)(n - skip) + 1);
        DWORD got = 0;
        size_t have = 0;
        if (r->text && SetFilePointerEx(h, from, NULL, FILE_BEGIN)) {
            while (have < n - skip && ReadFile(h, r->text + have, (DWORD)(n - skip - have), &got, NULL) && got > 0)
                have += got;
            r->state = DETAILS_LOG_READ;
        }
        // A log read from the middle starts at its next whole line.
        size_t start = 0;
        if (skip && r->text) {
            const char *nl = (const char *)memchr(r->text, '\n', have);
            start = nl ? (size_t)(nl - r->text) + 1 : have;
            memmove(r->text, r->text + start, have - start);
        }
        r->len = have - start;
    }
    CloseHandle(h);
}

// ---------------------------------------------------------------- the folder

// What the check found wrong with the files, named up to DETAILS_FILES.
struct Findings {
    Lines out;
    const char *dir;
    int named;
    char text[DETAILS_FILES * 1400];
};

// The CRC-32 of a whole file, read in blocks: a file of the install may be
// hundreds of MB.
static int file_crc(const char *path, uint32_t *crc)
{
    enum { BLOCK = 1 << 16 };
    unsigned char *block = (unsigned char *)malloc(BLOCK);
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    DWORD got = 0;
    int ok = block && h != INVALID_HANDLE_VALUE;
    *crc = 0;
    while (ok && (ok = ReadFile(h, block, BLOCK, &got, NULL)) && got > 0)
        *crc = crc32_more(*crc, block, got);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    free(block);
    return ok;
}

static void on_finding(int state, const ListEntry *e, uint64_t found, unsigned long error, void *ctx)
{
    Findings *f = (Findings *)ctx;
    char shown[1024], path[780], a[32], b[32], reason[600];
    uint32_t crc = 0;
    if (f->named++ >= DETAILS_FILES)
        return;
    name_escape(e->path, shown, sizeof shown);
    fmt_count(e->size, b, sizeof b);
    if (state == LIST_MISSING)
        add(&f->out, "missing: %s (expected %s bytes, CRC-32 %08X)", shown, b, (unsigned)e->crc);
    else if (state == LIST_CHANGED && join_path(path, sizeof path, f->dir, e->path) && file_crc(path, &crc))
        add(&f->out, "changed: %s (%s bytes, CRC-32 %08X; expected %s bytes, CRC-32 %08X)", shown,
            fmt_count(found, a, sizeof a), (unsigned)crc, b, (unsigned)e->crc);
    else if (state == LIST_CHANGED)
        add(&f->out, "changed: %s (%s bytes; expected %s bytes, CRC-32 %08X)", shown, fmt_count(found, a, sizeof a),
            b, (unsigned)e->crc);
    else
        add(&f->out, "unreadable: %s: %s", shown, error_text(error, reason, sizeof reason));
}

// The free space of the drive that holds the folder, or would hold it.
static void add_free_space(Lines *l, const char *dir)
{
    char held[520];
    ULARGE_INTEGER free_bytes, total;
    char a[32], b[32];
    fmt(held, sizeof held, "%s", dir);
    while (held[0] && !is_dir(held)) {
        char *s = strrchr(held, '\\');
        if (!s || s[1] == 0)
            held[0] = 0; // a drive's root that is not there, or no folder at all
        else if (s == held + 2 && held[1] == ':')
            s[1] = 0; // "C:\", not "C:", which names the current folder
        else
            *s = 0;
    }
    if (held[0] && GetDiskFreeSpaceExA(held, &free_bytes, &total, NULL))
        add(l, "Free space: %s MB of %s MB on its drive", fmt_count(free_bytes.QuadPart >> 20, a, sizeof a),
            fmt_count(total.QuadPart >> 20, b, sizeof b));
    else
        add(l, "Free space: unknown");
}

// The file list's state and, unless an install runs, what /verify says.
static void add_files(Lines *l, const char *dir, int running)
{
    FileList list;
    char reason[1200], n[5][32];
    int read = list_read(dir, &list, reason, sizeof reason);
    int complete = read && list.complete;
    list_free(&list);
    if (!read) {
        add(l, "File list: %s%s", reason[0] ? "damaged: " : "missing", reason);
        return;
    }
    add(l, "File list: %s", complete ? "complete" : "unfinished (the install did not end)");
    if (running) {
        add(l, "Check: not made while the install runs");
        return;
    }
    ListTally t;
    Findings *found = (Findings *)calloc(1, sizeof *found);
    if (!found) {
        add(l, "Check: out of memory");
        return;
    }
    found->out.text = found->text;
    found->out.size = sizeof found->text;
    found->dir = dir;
    if (!list_verify(dir, on_finding, found, &t, reason, sizeof reason)) {
        add(l, "Check: %s", reason);
        free(found);
        return;
    }
    add(l, "Check: %s files whole, %s missing, %s changed, %s unreadable, %s not compared (the game changes them)",
        fmt_count((uint64_t)t.whole, n[0], sizeof n[0]), fmt_count((uint64_t)t.missing, n[1], sizeof n[1]),
        fmt_count((uint64_t)t.changed, n[2], sizeof n[2]), fmt_count((uint64_t)t.unreadable, n[3], sizeof n[3]),
        fmt_count((uint64_t)t.changing, n[4], sizeof n[4]));
    if (found->out.len)
        add(l, "%.*s", (int)found->out.len - 1, found->text);
    if (found->named > DETAILS_FILES)
        add(l, "and %d more", found->named - DETAILS_FILES);
    free(found);
}

// Which folder the report is about: the one asked for, the last attempt's,
// or the installed game's.
static void add_folder(Lines *l, const char *given, const char *log, const DetailsLog *dl, int running)
{
    char dir[520] = "";
    const char *whose = "";
    if (given[0]) {
        whose = "given";
        if (!full_long_folder(given, dir, sizeof dir))
            fmt(dir, sizeof dir, "%s", given);
    } else if (dl->attempts && dl->folder.len > 0 && dl->folder.len < sizeof dir &&
               !memchr(log + dl->folder.at, 0, dl->folder.len)) {
        whose = "of the last attempt";
        memcpy(dir, log + dl->folder.at, dl->folder.len);
        dir[dl->folder.len] = 0;
    } else if (read_install_location(dir, sizeof dir)) {
        whose = "of the installed game";
    }
    if (!dir[0]) {
        add(l, "Path: none (none given, none in the log, and no Tarnok install is registered)");
        return;
    }
    char shown[1024];
    name_escape(dir, shown, sizeof shown);
    int exists = is_dir(dir);
    add(l, "Path: %s (%s%s)", shown, whose, exists ? "" : "; it does not exist");
    add_free_space(l, dir);
    add(l, "Registered: %s", entry_names_folder(dir) ? "yes, as the installed game" : "no");
    if (exists)
        add_files(l, dir, running);
}

// ---------------------------------------------------------------- leaving out

// A wide text from the system in the code page of the log's lines.
static void private_word_w(DetailsPrivate *p, const wchar_t *w)
{
    int exact = 0;
    char *a = ansi_copy(w, &exact);
    if (a)
        details_private_word(p, a);
    free(a);
}

// A folder, in its long and its short (8.3) spelling, and its last step
// as a name of the user's when it is the profile.
static void private_folder_w(DetailsPrivate *p, const wchar_t *path, const char *as, int last_is_name)
{
    wchar_t forms[3][MAX_PATH + 1];
    int exact = 0;
    lstrcpynW(forms[0], path, MAX_PATH + 1);
    if (!GetLongPathNameW(path, forms[1], MAX_PATH + 1))
        forms[1][0] = 0;
    if (!GetShortPathNameW(path, forms[2], MAX_PATH + 1))
        forms[2][0] = 0;
    for (int i = 0; i < 3; i++) {
        if (!forms[i][0])
            continue;
        char *a = ansi_copy(forms[i], &exact);
        if (a)
            details_private_path(p, a, as);
        free(a);
        size_t n = wcslen(forms[i]);
        while (n > 0 && (forms[i][n - 1] == L'\\' || forms[i][n - 1] == L'/'))
            forms[i][--n] = 0;
        const wchar_t *step = wcsrchr(forms[i], L'\\');
        if (last_is_name && step && step[1])
            private_word_w(p, step + 1);
    }
}

static void gather_private(DetailsPrivate *p)
{
    static const wchar_t *const names[] = {L"USERNAME", L"USER", L"LOGNAME", L"WINEUSERNAME"};
    wchar_t buf[MAX_PATH + 1];
    DWORD n = MAX_PATH + 1;
    memset(p, 0, sizeof *p);
    if (GetTempPathW(MAX_PATH + 1, buf))
        private_folder_w(p, buf, "%TEMP%", 0);
    if (GetEnvironmentVariableW(L"USERPROFILE", buf, MAX_PATH + 1) - 1 < MAX_PATH)
        private_folder_w(p, buf, "%USERPROFILE%", 1);
    if (GetUserNameW(buf, &n))
        private_word_w(p, buf);
    for (size_t i = 0; i < sizeof names / sizeof names[0]; i++)
        if (GetEnvironmentVariableW(names[i], buf, MAX_PATH + 1) - 1 < MAX_PATH)
            private_word_w(p, buf);
}

// ---------------------------------------------------------------- the report

// The system's words for an error, without the number error_text adds.
static void error_words(unsigned long error, char *out, size_t size)
{
    error_text(error, out, size);
    char *tail = strstr(out, " (error ");
    if (tail)
        *tail = 0;
}

// All the report is made of, on the heap: too large for a thread's stack.
struct Gathered {
    char title[200];
    char system[2048];
    char folder[24576];
    char log_name[600];
    char error[600];
    DetailsPrivate priv;
    DetailsLog scanned;
    EditionTable table;
};

char *details_make(const DetailsAsk *ask, size_t *len)
{
    Gathered *g = (Gathered *)calloc(1, sizeof *g);
    char *out = (char *)malloc(DETAILS_MAX + 1);
    if (!g || !out) {
        free(g);
        free(out);
        return NULL;
    }
    char tmp[260];
    DWORD n = GetTempPathA(sizeof tmp, tmp);
    if (n == 0 || n >= sizeof tmp || !fmt_path(g->log_name, sizeof g->log_name, "%starnok_setup.log", tmp))
        fmt(g->log_name, sizeof g->log_name, "tarnok_setup.log");
    LogRead log;
    read_log(g->log_name, &log);
    details_scan(log.text ? log.text : "", log.len, &g->scanned);

    fmt(g->title, sizeof g->title, "%s %s%s%s%s", setup_name, TARNOK_VERSION, TARNOK_COMMIT[0] ? " (build " : "",
        TARNOK_COMMIT, TARNOK_COMMIT[0] ? ")" : "");
    Lines system = {g->system, sizeof g->system, 0};
    add_windows(&system);
    add_wine(&system);
    add_language(&system);
    add_display(&system);
    Lines folder = {g->folder, sizeof g->folder, 0};
    add_folder(&folder, ask->dir ? ask->dir : "", log.text, &g->scanned, ask->question != NULL);
    if (g->scanned.has_error)
        error_words(g->scanned.error, g->error, sizeof g->error);
    gather_private(&g->priv);
    if (!edition_table_load(NULL, &g->table))
        memset(&g->table, 0, sizeof g->table);

    DetailsFacts f;
    memset(&f, 0, sizeof f);
    f.title = g->title;
    f.system = g->system;
    f.log_state = log.state;
    f.log_name = g->log_name;
    f.log_time = log.time;
    f.question = ask->question;
    f.error_words = g->error;
    f.folder = g->folder;
    f.table = &g->table;
    f.private_parts = &g->priv;
    *len = details_write(&f, log.text ? log.text : "", log.len, &g->scanned, out, DETAILS_MAX + 1);
    edition_table_free(&g->table);
    free(log.text);
    free(g);
    return out;
}

// ---------------------------------------------------------------- the clipboard

static HGLOBAL global_copy(const void *data, size_t size)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, size);
    void *p = h ? GlobalLock(h) : NULL;
    if (!p) {
        if (h)
            GlobalFree(h);
        return NULL;
    }
    memcpy(p, data, size);
    GlobalUnlock(h);
    return h;
}

// The text in UTF-16, and in the system's ANSI code page for programs that
// paste that; characters it lacks become '?' there only.
static int clipboard_forms(const char *text, size_t len, HGLOBAL *wide, HGLOBAL *ansi, HGLOBAL *locale)
{
    int wn = MultiByteToWideChar(CP_ACP, 0, text, (int)len, NULL, 0);
    wchar_t *w = (wchar_t *)calloc((size_t)wn + 1, sizeof *w);
    if (!w)
        return 0;
    MultiByteToWideChar(CP_ACP, 0, text, (int)len, w, wn);
    UINT cp = system_code_page();
    int an = WideCharToMultiByte(cp, 0, w, wn, NULL, 0, NULL, NULL);
    char *a = (char *)calloc((size_t)an + 1, 1);
    if (a)
        WideCharToMultiByte(cp, 0, w, wn, a, an, NULL, NULL);
    LCID lcid = GetSystemDefaultLCID();
    *wide = global_copy(w, ((size_t)wn + 1) * sizeof *w);
    *ansi = a ? global_copy(a, (size_t)an + 1) : NULL;
    *locale = global_copy(&lcid, sizeof lcid);
    free(w);
    free(a);
    return *wide && *ansi && *locale;
}

int details_to_clipboard(HWND owner, const char *text, size_t len)
{
    HGLOBAL forms[3] = {NULL, NULL, NULL};
    const UINT kinds[3] = {CF_UNICODETEXT, CF_TEXT, CF_LOCALE};
    int ok = clipboard_forms(text, len, &forms[0], &forms[1], &forms[2]);
    // Another program may hold the clipboard for a moment.
    int open = 0;
    for (int i = 0; ok && i < 20 && !(open = OpenClipboard(owner)); i++)
        Sleep(50);
    ok = ok && open && EmptyClipboard();
    for (int i = 0; i < 3; i++) {
        // Once handed over, the clipboard owns a form.
        if (ok && SetClipboardData(kinds[i], forms[i]))
            forms[i] = NULL;
        else
            ok = 0;
    }
    if (open)
        CloseClipboard();
    for (int i = 0; i < 3; i++)
        if (forms[i])
            GlobalFree(forms[i]);
    return ok;
}
