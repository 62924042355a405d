// The conversion build: runs the kit's recompiler over the game's executable,
// compiles the generated and the runtime sources in parallel, and links them
// with SDL2 into the game executable. The kit lies next to the program as
// builder\.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "install/running.h"

enum {
    MAX_SOURCES = 512,
    MAX_JOBS = 16,
    // Any environment variable fits, so PATH is always restored whole.
    ENV_MAX = 32768,
    START_RETRIES = 2,
    START_RETRY_PAUSE_MS = 250,
    // How long the final removal of the build folder waits for a file that
    // another process still holds.
    REMOVE_PATIENCE_MS = 10000,
};

static const uint64_t RECOMP_SHARE = 0x3200000;  // 50 MiB
static const uint64_t COMPILE_SHARE = 0xC800000; // 200 MiB over all sources
static const uint64_t LINK_SHARE = 0x1400000;    // 20 MiB

// One running compile.
struct BuildSlot {
    char command[4096];
    HANDLE process; // null when the slot is free
};

// The state of one compile stage.
struct CompileRun {
    BuildSlot *slots;
    int jobs;
    int next;    // index of the next source to start
    int running; // busy slots
    int finished; // compiles that have ended
    int failed;  // set once, never cleared
    uint64_t share;
};

static char sources[MAX_SOURCES][520];
static int source_count;
static int forced_processors;

// Saved PATH values: one for a run_wait child, one for the compile stage.
static char run_saved_path[ENV_MAX];
static char compile_saved_path[ENV_MAX];
static char new_path[ENV_MAX + 600];

void build_set_processors(int n)
{
    forced_processors = n;
}

int build_jobs(int logical_processors)
{
    int jobs = logical_processors / 2;
    if (jobs < 1)
        return 1;
    return jobs > MAX_JOBS ? MAX_JOBS : jobs;
}

static int logical_processors(void)
{
    if (forced_processors > 0)
        return forced_processors;
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return (int)si.dwNumberOfProcessors;
}

// Puts prefix in front of PATH, keeping the old value in saved. Returns 1
// when PATH existed before, so that path_restore can tell "empty" from
// "absent".
static int path_prepend(const char *prefix, char *saved, size_t size)
{
    memset(saved, 0, size);
    SetLastError(0);
    DWORD n = GetEnvironmentVariableA("PATH", saved, (DWORD)size);
    int had = n < size && !(n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND);
    if (had)
        fmt(new_path, sizeof new_path, "%s;%s", prefix, saved);
    else
        fmt(new_path, sizeof new_path, "%s", prefix);
    SetEnvironmentVariableA("PATH", new_path);
    return had;
}

static void path_restore(const char *saved, int had)
{
    SetEnvironmentVariableA("PATH", had ? saved : NULL);
}

int child_ended(void *process, unsigned long wait_ms, unsigned long *code)
{
    *code = 1;
    DWORD w = WaitForSingleObject((HANDLE)process, wait_ms);
    if (w == WAIT_TIMEOUT)
        return 0;
    // A child that cannot be waited for may still be running: its exit
    // code would say nothing, so it stays a failure.
    if (w == WAIT_OBJECT_0) {
        DWORD c = 1;
        if (GetExitCodeProcess((HANDLE)process, &c))
            *code = c;
    }
    return 1;
}

static HANDLE open_log_for_append(const char *log_path)
{
    SECURITY_ATTRIBUTES sa;
    memset(&sa, 0, sizeof sa);
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS, 0, NULL);
}

// Every child of a build, and every process those start, runs in this job.
// Its last handle closes when build_game ends or when setup ends in any way
// (the Yes to "Stop the installation?", a kill, a crash), and the system then
// ends every process still in it, so nothing keeps writing into {dir}\build.
// Null outside build_game.
static HANDLE build_job;

static HANDLE create_build_job(void)
{
    HANDLE job = CreateJobObjectA(NULL, NULL);
    if (!job)
        return NULL;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return NULL;
    }
    return job;
}

// Ends whatever the build left running: besides a stray grandchild, that is
// the console host Wine starts for each console child. The host inherits the
// child's handles, build.log among them, and outlives the child by up to two
// seconds.
static void close_build_job(void)
{
    if (build_job)
        CloseHandle(build_job);
    build_job = NULL;
}

// The player's stop ends every process of the build at once; the build
// then fails as if its children had.
static void end_children_if_stopped(void)
{
    if (build_job && stop_requested())
        TerminateJobObject(build_job, 1);
}

// Waits for a child to end, and ends it (and all else in the job) when the
// player stops the install meanwhile.
static void wait_child(HANDLE process, unsigned long *code)
{
    while (!child_ended(process, 100, code))
        end_children_if_stopped();
}

// For tests: the next `count` starts fail with `error` without starting.
static int failing_starts;
static DWORD failing_start_error;

void build_fail_starts(int count, unsigned long error)
{
    failing_starts = count;
    failing_start_error = error;
}

static BOOL create_process(char *command, BOOL inherit, DWORD flags, STARTUPINFOA *si, PROCESS_INFORMATION *pi)
{
    if (failing_starts > 0) {
        failing_starts--;
        SetLastError(failing_start_error);
        return FALSE;
    }
    return CreateProcessA(NULL, command, NULL, NULL, inherit, flags, NULL, NULL, si, pi);
}

// Under Wine about one start in 2,000 fails at random with ERROR_INTERNAL_ERROR
// (the new process cannot map the shared user data). A build makes hundreds
// of starts, so that one error is retried; any other is the kit's or the
// player's and fails at once.
static BOOL create_process_retrying(char *command, BOOL inherit, DWORD flags, STARTUPINFOA *si,
                                    PROCESS_INFORMATION *pi)
{
    for (int attempt = 0;; attempt++) {
        if (create_process(command, inherit, flags, si, pi))
            return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == START_RETRIES)
            return FALSE;
        Sleep(START_RETRY_PAUSE_MS);
    }
}

// Starts a child without a console window at below-normal priority, inside
// the build's job. Wine ignores a priority class given at creation, so the
// child starts suspended and gets its class set before it runs, which
// Windows and Wine both honour; being suspended, it also cannot start a
// process of its own before it is in the job. Where the job cannot take it
// (before Windows 8, when setup itself already runs in a job), it still
// runs, only outside the job.
static int start_below_normal(char *command, BOOL inherit, STARTUPINFOA *si, PROCESS_INFORMATION *pi)
{
    memset(pi, 0, sizeof *pi);
    DWORD flags = CREATE_NO_WINDOW | BELOW_NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED;
    if (!create_process_retrying(command, inherit, flags, si, pi))
        return 0;
    SetPriorityClass(pi->hProcess, BELOW_NORMAL_PRIORITY_CLASS);
    if (build_job)
        AssignProcessToJobObject(build_job, pi->hProcess);
    if (ResumeThread(pi->hThread) == (DWORD)-1) {
        // A child that never runs would be waited for forever.
        TerminateProcess(pi->hProcess, 1);
        CloseHandle(pi->hProcess);
        CloseHandle(pi->hThread);
        return 0;
    }
    return 1;
}

int run_wait(const char *cmd, const char *path_prefix, const char *log_path)
{
    char command[8192];
    fmt(command, sizeof command, "%s", cmd);

    int had_path = 0;
    if (path_prefix)
        had_path = path_prepend(path_prefix, run_saved_path, sizeof run_saved_path);

    HANDLE log = open_log_for_append(log_path);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = log;
    si.hStdError = log;
    PROCESS_INFORMATION pi;
    int started = start_below_normal(command, TRUE, &si, &pi);
    if (path_prefix)
        path_restore(run_saved_path, had_path);

    unsigned long code = (unsigned long)-1;
    if (started) {
        wait_child(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    if (log != INVALID_HANDLE_VALUE)
        CloseHandle(log);
    return (int)code;
}

// Appends every *.c file of folder to the source list, in the order the
// file system lists them; entries past the cap are left out. A folder whose
// name ends in .c is no source. 0 after logging a path too long to name:
// compiling a cut path would build from another file, or leave one out.
static int collect_sources(const char *folder)
{
    int ok = 1;
    FolderListing l;
    for (int more = listing_first(&l, folder, "*.c"); more && ok; more = listing_next(&l)) {
        if (source_count >= MAX_SOURCES || (l.attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!fmt_path(sources[source_count], sizeof sources[0], "%s\\%s", folder, l.name)) {
            setup_log("path too long: %s\\%s", folder, l.name);
            ok = 0;
            continue;
        }
        source_count++;
    }
    listing_close(&l);
    return ok;
}

static void form_compile_command(char *out, size_t size, const char *kit, const char *build, const char *source)
{
    int runtime = strstr(source, "\\src\\rt\\") != NULL;
    const char *slash = strrchr(source, '\\');
    const char *name = slash ? slash + 1 : source;
    fmt(out, size,
        "\"%s\\mingw64\\bin\\gcc.exe\" %s -std=gnu11 -O2 -fwrapv -fno-strict-aliasing -w -I\"%s\\src\\rt\" "
        "-I\"%s\\gen\" -I\"%s\\mingw64\\include\\SDL2\" -c \"%s\" -o \"%s\\obj\\%s%s.o\"",
        kit, runtime ? "-DSDL_MAIN_HANDLED" : "-g0", kit, build, kit, source, build, runtime ? "rt_" : "", name);
}

// Starts a hidden, below-normal compiler for the slot's command.
static int start_compile(BuildSlot *slot)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!start_below_normal(slot->command, FALSE, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    slot->process = pi.hProcess;
    return 1;
}

static void fill_slots(CompileRun *run, const char *kit, const char *build)
{
    for (int i = 0; i < run->jobs && run->next < source_count && !stop_requested(); i++) {
        BuildSlot *slot = &run->slots[i];
        if (slot->process)
            continue;
        form_compile_command(slot->command, sizeof slot->command, kit, build, sources[run->next++]);
        if (!start_compile(slot)) {
            run->failed = 1;
            return;
        }
        run->running++;
    }
}

// A compile that failed, by its command line; the compiles that the
// player's stop ended did not fail.
static void log_compile_failure(const BuildSlot *slot)
{
    if (!stop_requested())
        setup_log("compile failed: %s", slot->command);
}

static void poll_slots(CompileRun *run, Progress *progress)
{
    for (int i = 0; i < run->jobs; i++) {
        BuildSlot *slot = &run->slots[i];
        unsigned long code;
        if (!slot->process || !child_ended(slot->process, 50, &code))
            continue;
        run->running--;
        CloseHandle(slot->process);
        slot->process = NULL;
        progress_add(progress, run->share);
        progress_step(progress, INSTALL_COMPILE, ++run->finished, source_count);
        if (code != 0) {
            log_compile_failure(slot);
            run->failed = 1;
        }
    }
}

// Lets the compiles still running after a failure end. Their failures are
// logged too, so that every failing source is named.
static void wind_down(CompileRun *run)
{
    for (int i = 0; i < run->jobs; i++) {
        BuildSlot *slot = &run->slots[i];
        unsigned long code;
        if (!slot->process)
            continue;
        wait_child(slot->process, &code);
        CloseHandle(slot->process);
        slot->process = NULL;
        if (code != 0)
            log_compile_failure(slot);
    }
}

// The compile stage, with the compiler's folder in front of PATH throughout.
static int compile_all(const char *kit, const char *build, const char *bin, Progress *progress)
{
    CompileRun run;
    memset(&run, 0, sizeof run);
    run.jobs = build_jobs(logical_processors());
    int had_path = path_prepend(bin, compile_saved_path, sizeof compile_saved_path);
    run.slots = (BuildSlot *)calloc((size_t)run.jobs, sizeof(BuildSlot));
    if (!run.slots) {
        run.failed = 1;
    } else if (source_count > 0) {
        run.share = COMPILE_SHARE / (uint64_t)source_count;
        progress_step(progress, INSTALL_COMPILE, 0, source_count);
        while (run.running > 0 || run.next < source_count) {
            fill_slots(&run, kit, build);
            poll_slots(&run, progress);
            if (stop_requested())
                run.failed = 1;
            if (run.failed)
                break;
        }
        wind_down(&run);
    }
    free(run.slots);
    path_restore(compile_saved_path, had_path);
    if (run.failed) {
        fail("compiling the converted game failed");
        return 0;
    }
    return 1;
}

// Writes one quoted, forward-slash line per object file, CR LF after each.
static int write_response_file(const char *rsp, const char *obj)
{
    HANDLE f = CreateFileA(rsp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 1;
    FolderListing l;
    for (int more = listing_first(&l, obj, "*.o"); more && ok; more = listing_next(&l)) {
        char line[800];
        int n = fmt(line, sizeof line, "\"%s\\%s\"\r\n", obj, l.name);
        for (char *s = line; *s; s++)
            if (*s == '\\')
                *s = '/';
        DWORD written = 0;
        if (!WriteFile(f, line, (DWORD)n, &written, NULL) || written != (DWORD)n)
            ok = 0;
    }
    listing_close(&l);
    if (!CloseHandle(f))
        ok = 0;
    return ok;
}

// The three stages; the caller removes the build folder after a success.
static int run_build(const char *kit, const char *dir, const char *exe, const char *out, Progress *progress)
{
    char build[520], gen[520], obj[520], log[520], bin[520], rsp[520], rt[520];
    layout_path(build, sizeof build, dir, LAYOUT_BUILD);
    fmt(gen, sizeof gen, "%s\\gen", build);
    fmt(obj, sizeof obj, "%s\\obj", build);
    fmt(log, sizeof log, "%s\\build.log", build);
    fmt(bin, sizeof bin, "%s\\mingw64\\bin", kit);
    fmt(rsp, sizeof rsp, "%s\\objs.rsp", build);
    fmt(rt, sizeof rt, "%s\\src\\rt", kit);
    make_dirs(gen);
    make_dirs(obj);
    setup_log("Converting the game code on this PC (this takes a few minutes)...");
    progress_step(progress, INSTALL_RECOMPILE, 0, 0);

    char cmd[8192];
    fmt(cmd, sizeof cmd, "\"%s\\python\\python.exe\" -I \"%s\\tools\\recomp.py\" \"%s\" \"%s\\re\\functions.tsv\" "
        "\"%s\\tools\\native.txt\" \"%s\"", kit, kit, exe, kit, kit, gen);
    if (run_wait(cmd, NULL, log) != 0) {
        fail("the recompiler failed (see build\\build.log)");
        return 0;
    }
    progress_add(progress, RECOMP_SHARE);
    if (stop_requested())
        return 0;

    source_count = 0;
    if (!collect_sources(gen) || !collect_sources(rt)) {
        fail("a source file's path is too long");
        return 0;
    }
    if (!compile_all(kit, build, bin, progress))
        return 0;

    // Linking against a list that was not written whole would give a game
    // with parts missing, or link whatever an old list named.
    if (!write_response_file(rsp, obj)) {
        fail("cannot write the linker's response file build\\objs.rsp");
        return 0;
    }
    progress_step(progress, INSTALL_LINK, 0, 0);
    fmt(cmd, sizeof cmd, "\"%s\\gcc.exe\" -mwindows -o \"%s\" @\"%s\" -static -lmingw32 "
        "\"%s\\mingw64\\lib\\libSDL2.a\" -lm -lkernel32 -luser32 -lgdi32 -lwinmm -limm32 -lole32 -loleaut32 "
        "-lversion -luuid -ladvapi32 -lsetupapi -lshell32 -ldinput8", bin, out, rsp, kit);
    if (run_wait(cmd, bin, log) != 0) {
        fail("linking the converted game failed (see build\\build.log)");
        return 0;
    }
    progress_add(progress, LINK_SHARE);
    return 1;
}

int build_game(const char *kit, const char *dir, const char *exe, const char *out, Progress *progress)
{
    build_job = create_build_job();
    int ok = run_build(kit, dir, exe, out, progress);
    close_build_job();
    if (ok) {
        // Once the job is closed its processes end, but not at once; and on
        // Windows a virus scanner holds new files for a moment too.
        char build[520];
        if (layout_path(build, sizeof build, dir, LAYOUT_BUILD))
            delete_tree_patiently(build, REMOVE_PATIENCE_MS);
    }
    return ok;
}
