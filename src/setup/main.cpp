// Entry of the setup program: the command line decides between the two
// uninstall stages, an unattended install and the setup window.
#define _CRT_RAND_S // rand_s, for the name of the uninstaller's folder
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdsrc.h"
#include "install/install.h"
#include "setup/setup.h"
#include "setup/window.h"

static char **args; // ANSI copies of the arguments, the program's name first
static char *inexact; // per argument: 1 when the code page lacks one of its characters
static int nargs;
static int quiet;

// The second stage finds the first stage's process handle under this name
// in its environment, so that it can wait for it to end.
static const char first_stage_var[] = "TARNOK_UNINSTALL_PARENT";

// The arguments live until the process ends; they are never released.
static void split_args(void)
{
    int n = 0;
    wchar_t **w = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!w || n < 0)
        n = 0;
    args = (char **)calloc((size_t)n + 1, sizeof *args);
    inexact = (char *)calloc((size_t)n + 1, 1);
    if (!args || !inexact) {
        nargs = 0;
        return;
    }
    for (int i = 0; i < n; i++) {
        int exact = 0;
        args[i] = ansi_copy(w[i], &exact);
        if (!args[i]) {
            n = i;
            break;
        }
        inexact[i] = !exact;
    }
    nargs = n;
}

static int is_opt(const char *arg, const char *name) { return _stricmp(arg, name) == 0; }

static void module_path(char *out, size_t size)
{
    DWORD n = GetModuleFileNameA(NULL, out, (DWORD)size);
    if (n == 0 || n >= size)
        out[0] = 0;
}

static void module_folder(char *out, size_t size)
{
    module_path(out, size);
    char *slash = strrchr(out, '\\');
    if (slash)
        *slash = 0;
}

static const char copy_name[] = "tarnok_uninstall.exe";
// The second stage runs from a folder of its own in the temporary folder,
// named this and 16 hexadecimal digits. Another user's or program's file or
// link of the copy's name is then never written through, run or deleted.
static const char copy_folder_prefix[] = "tarnok-uninstall-";
enum { COPY_FOLDER_DIGITS = 16 };

// The temporary folder, in 260 bytes, ending in a backslash; 0 when there is none.
static int temp_folder(char *tmp)
{
    DWORD n = GetTempPathA(260, tmp);
    return n > 0 && n < 260;
}

static int is_copy_folder_name(const char *name)
{
    size_t n = sizeof copy_folder_prefix - 1;
    if (_strnicmp(name, copy_folder_prefix, n) != 0 || strlen(name + n) != COPY_FOLDER_DIGITS)
        return 0;
    return strspn(name + n, "0123456789abcdef") == COPY_FOLDER_DIGITS;
}

// Removes a copy folder of an earlier uninstall only when it holds nothing
// but the copy, and the copy is a plain file that nothing runs or holds.
static void remove_copy_folder(const char *folder)
{
    char pattern[520], copy[520];
    if (!fmt_path(pattern, sizeof pattern, "%s\\*", folder) ||
        !fmt_path(copy, sizeof copy, "%s\\%s", folder, copy_name))
        return;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    int only_copy = 1, copies = 0;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        if (_stricmp(fd.cFileName, copy_name) != 0 || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            only_copy = 0;
        copies++;
    } while (only_copy && FindNextFileA(h, &fd));
    FindClose(h);
    if (only_copy && copies == 1 && delete_unused_file(copy))
        RemoveDirectoryA(folder);
}

// What an earlier uninstall left behind (its removal after the second stage
// failed, or the machine went down first) goes at the next start of setup
// or of the uninstaller: a copy of the old kind directly in the temporary
// folder, and copy folders that hold nothing but their copy. Nothing that
// runs, is held open, is a link or is no plain file is touched.
static void remove_left_over_copy(void)
{
    char tmp[260], path[520];
    if (!temp_folder(tmp))
        return;
    if (fmt_path(path, sizeof path, "%s%s", tmp, copy_name))
        delete_unused_file(path);
    if (!fmt_path(path, sizeof path, "%s%s*", tmp, copy_folder_prefix))
        return;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(path, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        DWORD a = fd.dwFileAttributes;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT) && is_copy_folder_name(fd.cFileName) &&
            fmt_path(path, sizeof path, "%s%s", tmp, fd.cFileName))
            remove_copy_folder(path);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// Makes a copy folder of a fresh name in tmp, into folder (520 bytes).
// CreateDirectoryA fails for a name that exists, folder or link, so the
// folder is always our own new one; a taken name makes another name.
static int make_copy_folder(const char *tmp, char *folder)
{
    for (int tries = 0; tries < 16; tries++) {
        unsigned int a = 0, b = 0;
        if (rand_s(&a) != 0 || rand_s(&b) != 0) {
            LARGE_INTEGER t;
            QueryPerformanceCounter(&t);
            a = (unsigned int)t.QuadPart ^ GetCurrentProcessId();
            b = GetTickCount() + (unsigned int)tries;
        }
        if (!fmt_path(folder, 520, "%s%s%08x%08x", tmp, copy_folder_prefix, a, b))
            return 0;
        if (CreateDirectoryA(folder, NULL))
            return 1;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 0;
}

// The first stage cannot go on: says why, with the system's reason.
static void refuse_uninstall(const char *what, unsigned long error)
{
    char reason[600], text[800];
    fmt(text, sizeof text, "Tarnok was not removed: %s.\n\n%s", what, error_text(error, reason, sizeof reason));
    MessageBoxA(NULL, text, "Tarnok uninstall", MB_ICONERROR | MB_OK);
}

// The first stage: asks, then hands the removal to a copy of itself in a
// new folder of its own in the temporary folder, because a running program
// file cannot be deleted.
static void uninstall_first(void)
{
    char dir[520], self[520], tmp[260], folder[520], copy[520], cmd[1300];
    module_folder(dir, sizeof dir);
    if (MessageBoxA(NULL, "Remove Tarnok: Vorblen (Pellurin) and its saved games?", "Tarnok uninstall",
                    MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    if (!temp_folder(tmp) || !make_copy_folder(tmp, folder)) {
        refuse_uninstall("no folder for the uninstaller could be made in the temporary folder", GetLastError());
        return;
    }
    module_path(self, sizeof self);
    if (!fmt_path(copy, sizeof copy, "%s\\%s", folder, copy_name) || !CopyFileA(self, copy, TRUE)) {
        DWORD error = GetLastError();
        delete_file_itself(copy);
        RemoveDirectoryA(folder);
        refuse_uninstall("the uninstaller could not be copied to the temporary folder", error);
        return;
    }
    fmt(cmd, sizeof cmd, "\"%s\" /uninstall2 \"%s\"", copy, dir);

    // The copy waits for this process to end before it removes anything, so
    // it inherits a handle to it; and it runs in the temporary folder, since
    // a folder that is any process's current folder cannot be removed.
    HANDLE me = NULL;
    char handle_text[32];
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &me,
                        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
        fmt(handle_text, sizeof handle_text, "%llu:%lu", (unsigned long long)(UINT_PTR)me, GetCurrentProcessId());
        SetEnvironmentVariableA(first_stage_var, handle_text);
    }
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, cmd, NULL, NULL, me ? TRUE : FALSE, 0, NULL, tmp, &si, &pi)) {
        DWORD error = GetLastError();
        delete_file_itself(copy);
        RemoveDirectoryA(folder);
        refuse_uninstall("the uninstaller could not be started from the temporary folder", error);
        return;
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

// The inherited handle of the first stage, named as "handle:process id";
// null unless the handle really is that process.
static HANDLE first_stage_handle(void)
{
    char text[48];
    DWORD n = GetEnvironmentVariableA(first_stage_var, text, sizeof text);
    SetEnvironmentVariableA(first_stage_var, NULL);
    if (n == 0 || n >= sizeof text)
        return NULL;
    char *end = NULL;
    HANDLE h = (HANDLE)(UINT_PTR)_strtoui64(text, &end, 10);
    if (!end || *end != ':')
        return NULL;
    DWORD pid = strtoul(end + 1, NULL, 10);
    if (pid == 0 || GetProcessId(h) != pid)
        return NULL;
    return h;
}

// Waits until the first stage has ended, so that uninstall.exe is no longer
// running; without its handle (started by hand), a short pause must do.
static void wait_first_stage(void)
{
    HANDLE first = first_stage_handle();
    if (!first) {
        Sleep(800);
        return;
    }
    WaitForSingleObject(first, 30000);
    CloseHandle(first);
}

// The copy cannot delete itself: the system refuses to delete a program file
// while a process runs from it. So the second stage's last act starts a
// hidden command interpreter of the system that tries to delete the copy,
// then its folder if that is empty, once a second until the second stage
// has ended and both are gone (the folder may stay busy a moment after the
// process ends), for at most half a minute. It works in
// the temporary folder and names nothing but the copy folder's own name
// (letters, digits and dashes) and the copy's fixed name in it, so no other
// path reaches its command line; a folder in the copy's place stops it.
// It writes nothing and ends by itself.
static void start_copy_remover(const char *tmp, const char *folder_name)
{
    char sys[260], app[300], cmd[1300];
    UINT n = GetSystemDirectoryA(sys, sizeof sys);
    if (n == 0 || n >= sizeof sys)
        return;
    fmt(app, sizeof app, "%s\\cmd.exe", sys);
    fmt(cmd, sizeof cmd,
        "cmd.exe /d /q /s /c \"for /l %%i in (1,1,30) do ((if not exist \"%s\" exit) & (if exist \"%s\\%s\\*\" exit) & "
        "del /f /q \"%s\\%s\" 2>nul & (if not exist \"%s\\%s\" rd \"%s\" 2>nul) & (if not exist \"%s\" exit) & "
        "\"%s\\ping.exe\" -n 2 127.0.0.1 >nul)\"",
        folder_name, folder_name, copy_name, folder_name, copy_name, folder_name, copy_name, folder_name, folder_name,
        sys);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (CreateProcessA(app, cmd, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, tmp, &si, &pi)) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

// 1 when self is the copy in a copy folder of tmp: folder (520 bytes) is
// then that folder's path and *folder_name its name inside it.
static int own_copy_folder(const char *self, const char *tmp, char *folder, const char **folder_name)
{
    const char *slash = strrchr(self, '\\');
    if (!slash || _stricmp(slash + 1, copy_name) != 0)
        return 0;
    fmt(folder, 520, "%.*s", (int)(slash - self), self);
    char *name = strrchr(folder, '\\');
    if (!name || !is_copy_folder_name(name + 1))
        return 0;
    char parent[520];
    fmt(parent, sizeof parent, "%.*s", (int)(name - folder + 1), folder);
    *folder_name = name + 1;
    return same_file(parent, tmp);
}

static void uninstall_second(const char *dir)
{
    char self[520], tmp[260], folder[520];
    const char *folder_name = NULL;
    wait_first_stage();
    int found = do_uninstall(dir);
    if (!quiet) {
        char text[600];
        fmt(text, sizeof text, "No Tarnok installation was found in %s.", dir);
        MessageBoxA(NULL, found ? "Tarnok: Vorblen has been removed." : text, "Tarnok uninstall",
                    MB_ICONINFORMATION | MB_OK);
    }
    // Only the program's own copy and its folder are ever removed: a second
    // stage started from anywhere else leaves its program file alone.
    module_path(self, sizeof self);
    if (!temp_folder(tmp) || !own_copy_folder(self, tmp, folder, &folder_name))
        return;
    // Deletion at restart needs administrator rights on Windows; it stays
    // as the fallback for when the remover cannot start. The folder goes
    // after the copy, if it is empty by then.
    MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    start_copy_remover(tmp, folder_name);
}

// 1: an uninstall stage ran and the process is to end; 0: go on to install.
// The scan does not know option values, so "/cd1 /uninstall" counts too.
static int run_uninstall(void)
{
    for (int i = 1; i < nargs; i++)
        if (is_opt(args[i], "/quiet"))
            quiet = 1;
    for (int i = 1; i < nargs; i++) {
        if (is_opt(args[i], "/uninstall")) {
            remove_left_over_copy();
            uninstall_first();
            return 1;
        }
        if (is_opt(args[i], "/uninstall2")) {
            if (i + 1 >= nargs)
                return 0;
            // A folder whose name this Windows could not pass on exactly
            // would be another folder, or none: remove nothing.
            if (inexact[i + 1])
                MessageBoxA(NULL, "The folder to remove has characters that this Windows cannot pass on.",
                            "Tarnok uninstall", MB_ICONERROR | MB_OK);
            else
                uninstall_second(args[i + 1]);
            return 1;
        }
    }
    return 0;
}

// A path that does not fit leaves the field empty: a cut path names another file.
static int set_path(char *field, const char *value) { return fmt_path(field, 520, "%s", value); }

// The CD drive that detection found a disc in; "" when none.
static char disc_drive[4];

static void detect_drives(void)
{
    DWORD mask = GetLogicalDrives();
    for (int d = 2; d < 26; d++) {
        char root[4] = {(char)('A' + d), ':', '\\', 0};
        char probe[260];
        if (!(mask & (1u << d)) || GetDriveTypeA(root) != DRIVE_CDROM)
            continue;
        fmt(probe, sizeof probe, "%sTARNOK\\DISK%d\\DISK%d", root, 1, 1);
        if (path_exists(probe) && !opts.cd1[0] && set_path(opts.cd1, root) && !disc_drive[0])
            fmt(disc_drive, sizeof disc_drive, "%s", root);
        fmt(probe, sizeof probe, "%sTARNOK\\DISK%d\\DISK%d", root, 2, 2);
        if (path_exists(probe) && !opts.cd2[0] && set_path(opts.cd2, root) && !disc_drive[0])
            fmt(disc_drive, sizeof disc_drive, "%s", root);
    }
}

// With one drive, the disc in it is one of the two and the other is found
// nowhere: both come from that drive, one after the other.
static void detect_one_drive(void)
{
    if (!disc_drive[0])
        return;
    if (!opts.cd1[0] && !strcmp(opts.cd2, disc_drive))
        set_path(opts.cd1, disc_drive);
    else if (!opts.cd2[0] && !strcmp(opts.cd1, disc_drive))
        set_path(opts.cd2, disc_drive);
}

static void detect_image(const char *path)
{
    CdSource *src = cd_open(path);
    if (!src)
        return;
    if (cd_exists(src, "TARNOK\\DISK1\\DISK1") && !opts.cd1[0])
        set_path(opts.cd1, path);
    if (cd_exists(src, "TARNOK\\DISK2\\DISK2") && !opts.cd2[0])
        set_path(opts.cd2, path);
    cd_close(src);
}

// Images, and the sheets and descriptors that stand for raw images.
static const char *const image_exts[] = {".iso", ".cue", ".bin", ".img", ".mdf", ".ccd", ".mds"};
static const char *const sheet_exts[] = {".cue", ".ccd", ".mds"};

// Data files that a sheet or descriptor beside the program names: each is
// opened through its sheet only. More than fit are simply opened twice.
enum { NAMED_MAX = 32 };
static char named[NAMED_MAX][780];
static int nnamed;

static int has_ext(const char *name, const char *const *exts, size_t n)
{
    const char *ext = strrchr(name, '.');
    for (size_t i = 0; ext && i < n; i++)
        if (is_opt(ext, exts[i]))
            return 1;
    return 0;
}

static void note_named(const char *path, const char *name)
{
    if (!has_ext(name, sheet_exts, sizeof sheet_exts / sizeof *sheet_exts) || nnamed == NAMED_MAX)
        return;
    cd_image_file(path, named[nnamed], sizeof named[nnamed]);
    if (!is_opt(named[nnamed], path))
        nnamed++;
}

static int is_named(const char *path)
{
    for (int i = 0; i < nnamed; i++)
        if (is_opt(named[i], path))
            return 1;
    return 0;
}

// 1 when the file that cd_open would read for path lies in the folder or
// below it. At start nothing is opened anywhere else: a sheet beside the
// program that names a file on another drive or above its folder is passed
// over (the player may still choose it).
static int reads_inside(const char *path, const char *folder)
{
    char data[780], full[780], base[780];
    cd_image_file(path, data, sizeof data);
    DWORD n = GetFullPathNameA(data, sizeof full, full, NULL);
    DWORD m = GetFullPathNameA(folder, sizeof base, base, NULL);
    if (n == 0 || n >= sizeof full || m == 0 || m >= sizeof base)
        return 0;
    while (m > 0 && base[m - 1] == '\\')
        base[--m] = 0;
    return _strnicmp(full, base, m) == 0 && full[m] == '\\';
}

static char program_dir[520];

static void detect_entry(const char *path, const char *name)
{
    if (is_opt(name, "TARNO103.EXE") && !opts.patch[0])
        set_path(opts.patch, path);
    if (has_ext(name, image_exts, sizeof image_exts / sizeof *image_exts) && !is_named(path) &&
        reads_inside(path, program_dir))
        detect_image(path);
}

// Calls visit with the full path and the name of every entry of the
// program's folder, in the order the file system lists them.
static void each_beside_program(void (*visit)(const char *path, const char *name))
{
    char dir[520], pattern[780], path[780];
    WIN32_FIND_DATAA fd;
    module_folder(dir, sizeof dir);
    fmt(pattern, sizeof pattern, "%s\\*", dir);
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        fmt(path, sizeof path, "%s\\%s", dir, fd.cFileName);
        visit(path, fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// The update and disc images lying next to the program. A .bin that a cue
// sheet there names is found through the sheet, which says where its
// volume starts.
static void detect_files(void)
{
    module_folder(program_dir, sizeof program_dir);
    each_beside_program(note_named);
    each_beside_program(detect_entry);
}

static void set_defaults(void)
{
    set_path(opts.dir, "C:\\Games\\Tarnok PC");
    opts.desktop = 1;
    opts.startmenu = 1;
    opts.build = prebuilt_available() ? 0 : 1;
}

// A value is always the next argument, even one that starts with "/";
// a value option in last place empties its field. A path that this Windows
// could not pass on exactly, or that does not fit, is refused: its field
// stays empty, and the option's name and the reason are kept in refused.
static void read_options(char *refused, size_t size)
{
    static const char *const value_opts[] = {"/cd1", "/cd2", "/patch", "/dir"};
    char *fields[] = {opts.cd1, opts.cd2, opts.patch, opts.dir};
    for (int i = 1; i < nargs;) {
        const char *name = args[i];
        const char *value = i + 1 < nargs ? args[i + 1] : "";
        int lossy = i + 1 < nargs && inexact[i + 1];
        int taken = 0;
        if (is_opt(name, "/silent"))
            silent = 1;
        else if (is_opt(name, "/build"))
            opts.build = 1;
        else if (is_opt(name, "/prebuilt"))
            opts.build = 0;
        else if (is_opt(name, "/nodesktop"))
            opts.desktop = 0;
        else if (is_opt(name, "/nostartmenu"))
            opts.startmenu = 0;
        for (int k = 0; k < 4; k++) {
            if (!is_opt(name, value_opts[k]))
                continue;
            taken = 1;
            if (lossy) {
                fields[k][0] = 0;
                fmt(refused, size, "the path given with %s has characters that this Windows cannot pass on",
                    value_opts[k]);
            } else if (!set_path(fields[k], value)) {
                fmt(refused, size, "the path given with %s is too long", value_opts[k]);
            }
        }
        i += taken ? 2 : 1;
    }
}

static int run_unattended(const char *refused)
{
    if (refused[0]) {
        log_close();
        return 1;
    }
    // No window to move, but a debugger may follow the progress.
    int ok = do_install(&opts, on_progress, NULL);
    log_close();
    return ok ? 0 : 1;
}

// Before the window opens, whose field of the refused path starts empty.
static void refuse_in_box(const char *reason)
{
    char text[200];
    fmt(text, sizeof text, "%s.", reason);
    text[0] = (char)toupper((unsigned char)text[0]);
    MessageBoxA(NULL, text, "Tarnok setup", MB_ICONWARNING | MB_OK);
}

static int run_window(HINSTANCE instance, int show)
{
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&icc);
    CoInitialize(NULL);
    if (!window_create(instance, show)) {
        log_close();
        return 1;
    }
    int stopped = window_loop();
    log_close();
    return stopped ? 1 : 0;
}

// Windows 10 1607 and later read DependentLoadFlags from this record and
// search only the system folder for the DLLs that the program imports and
// those that they import in turn, before any code of the program runs. GNU
// ld leaves the load-config directory empty; the post-link step pe-loadcfg
// points it at this record, which for that keeps a section of its own.
extern "C" __attribute__((section(".lcfg"), used)) const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = {
    sizeof(IMAGE_LOAD_CONFIG_DIRECTORY64), // Size
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    LOAD_LIBRARY_SEARCH_SYSTEM32, // DependentLoadFlags, which older headers call Reserved1
    0, 0, 0, 0,
};

// Every DLL loaded from here on comes from the system folder only, never
// from the program's folder (a Downloads folder, or the temporary folder)
// or the current one. The shell, COM, the common dialogs and the common
// controls are loaded on first use, so they and what they import come
// after this too. A system without the call (Windows 7 without its update)
// at least loses the current folder from the search.
static void load_dlls_from_system_only(void)
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFn set_dirs =
        kernel ? (SetDefaultDllDirectoriesFn)(void (*)(void))GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL;
    if (!set_dirs || !set_dirs(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdline, int show)
{
    (void)prev;
    (void)cmdline;
    load_dlls_from_system_only();
    // Probing an empty drive, or reading a disc taken out, must fail with an
    // error code that the program handles, not stop it with the system's
    // own "There is no disk in the drive" box that a player cannot place.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    split_args();
    if (run_uninstall())
        return 0;
    remove_left_over_copy();
    log_open();
    detect_drives();
    detect_files();
    detect_one_drive();
    set_defaults();
    char refused[160] = "";
    read_options(refused, sizeof refused);
    if (refused[0])
        setup_log("ERROR: %s", refused);
    if (silent)
        return run_unattended(refused);
    if (refused[0])
        refuse_in_box(refused);
    return run_window(instance, show);
}
