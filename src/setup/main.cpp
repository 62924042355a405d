// Entry of the setup program: the command line decides between the two
// uninstall stages, an unattended install and the setup window.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "setup/details.h"
#include "setup/setup.h"
#include "setup/window.h"

static char **args; // ANSI copies of the arguments, the program's name first
static char *inexact; // per argument: 1 when the code page lacks one of its characters
static int nargs;
static int quiet;  // set by /quiet: the second uninstall stage shows no box
static int silent; // set by /silent: an unattended install, without a window

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

// 1: an uninstall stage ran and the process is to end with *code; 0: go on
// to install. The scan does not know option values, so "/cd1 /uninstall"
// counts too.
static int run_uninstall(int *code)
{
    *code = 0;
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
                *code = uninstall_second(args[i + 1], quiet);
            return 1;
        }
    }
    return 0;
}

// A path that does not fit leaves the field empty: a cut path names another file.
static int set_path(char *field, const char *value) { return fmt_path(field, 520, "%s", value); }

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
// /cd1 and /cd2 may come more than once: the first names the copy of the
// disc that is read first, each later one another copy of it, asked only
// for what the ones before could not give.
static char *disc_field(int disc, int *given)
{
    char *first = disc == 1 ? opts.cd1 : opts.cd2;
    int n = given[disc - 1]++;
    return n == 0 ? first : n <= COPIES_MAX ? opts.copies[disc - 1][n - 1] : NULL;
}

static void read_options(char *refused, size_t size)
{
    static const char *const value_opts[] = {"/cd1", "/cd2", "/patch", "/dir"};
    char *fields[] = {opts.cd1, opts.cd2, opts.patch, opts.dir};
    int given[2] = {0, 0};
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
            char *field = k < 2 ? disc_field(k + 1, given) : fields[k];
            if (!field) {
                fmt(refused, size, "more than %d copies of a disc were given with %s", COPIES_MAX + 1, value_opts[k]);
            } else if (lossy) {
                field[0] = 0;
                fmt(refused, size, "the path given with %s has characters that this Windows cannot pass on",
                    value_opts[k]);
            } else if (!set_path(field, value)) {
                fmt(refused, size, "the path given with %s is too long", value_opts[k]);
            }
        }
        i += taken ? 2 : 1;
    }
}

// /verify, in any place: the installed files are checked, and nothing is
// installed; no window opens.
static int wants_verify(void)
{
    for (int i = 1; i < nargs; i++)
        if (is_opt(args[i], "/verify"))
            return 1;
    return 0;
}

static int run_verify(void)
{
    char refused[160] = "";
    read_options(refused, sizeof refused);
    int code = VERIFY_FAILED;
    if (refused[0])
        setup_log("ERROR: %s", refused);
    else
        code = verify_install(opts.dir);
    log_close();
    return code;
}

// /report FILE, in any place: the details of the last install attempt go
// into FILE, and nothing else is done. The log is read, not begun afresh:
// it is what the report tells of. The argument after /report (or 0 when
// there is none), else -1.
static int report_at(void)
{
    for (int i = 1; i < nargs; i++)
        if (is_opt(args[i], "/report"))
            return i + 1 < nargs ? i + 1 : 0;
    return -1;
}

// The report file takes the place of one of that name only once it is
// whole; a folder that is missing is not made for it.
static int write_report(const char *path, const char *text, size_t len)
{
    char full[520], *name = NULL;
    DWORD n = GetFullPathNameA(path, sizeof full, full, &name);
    if (n == 0 || n >= sizeof full || !name || name == full)
        return 0;
    name[-1] = 0;
    int folder = is_dir(full) || (name - full == 3 && full[1] == ':');
    name[-1] = '\\';
    DestFile d;
    if (!folder || !dest_open(&d, full))
        return 0;
    if (!dest_write(&d, text, len)) {
        dest_abandon(&d);
        return 0;
    }
    return dest_commit(&d);
}

// 0 once the report is written, else 1.
static int run_report(int at)
{
    char refused[160] = "", path[520];
    read_options(refused, sizeof refused);
    if (at <= 0 || inexact[at] || refused[0] || !fmt_path(path, sizeof path, "%s", args[at]))
        return 1;
    DetailsAsk ask = {opts.dir, NULL};
    size_t len = 0;
    char *text = details_make(&ask, &len);
    int ok = text && write_report(path, text, len);
    free(text);
    return ok ? 0 : 1;
}

static int run_unattended(const char *refused)
{
    if (refused[0]) {
        log_close();
        return 1;
    }
    // No window to move, but a debugger may follow the progress.
    static const InstallHost host = {NULL, NULL, on_progress, NULL, NULL, NULL, NULL, NULL};
    int ok = do_install(&opts, &host);
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
    int code = 0;
    if (run_uninstall(&code))
        return code;
    remove_left_over_copy();
    int report = report_at();
    if (report >= 0)
        return run_report(report);
    log_open();
    if (wants_verify())
        return run_verify();
    detect_discs_and_update(&opts);
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
