// The uninstall's two stages. The first, run from {dir}\uninstall.exe, asks
// and hands the removal to a copy of the program in a new folder of its own
// in the temporary folder, because a running program file cannot be
// deleted; the second, that copy, removes the installation and has itself
// removed once it has ended.
#define _CRT_RAND_S // rand_s, for the name of the uninstaller's folder
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"

// The second stage finds the first stage's process handle under this name
// in its environment, so that it can wait for it to end.
static const char first_stage_var[] = "TARNOK_UNINSTALL_PARENT";

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
    char copy[520];
    if (!fmt_path(copy, sizeof copy, "%s\\%s", folder, copy_name))
        return;
    int only_copy = 1, copies = 0;
    FolderListing l;
    for (int more = listing_first(&l, folder, "*"); more && only_copy; more = listing_next(&l)) {
        if (_stricmp(l.name, copy_name) != 0 || (l.attributes & FILE_ATTRIBUTE_DIRECTORY))
            only_copy = 0;
        copies++;
    }
    listing_close(&l);
    if (only_copy && copies == 1 && delete_unused_file(copy))
        RemoveDirectoryA(folder);
}

// What an earlier uninstall left behind (its removal after the second stage
// failed, or the machine went down first) goes at the next start of setup
// or of the uninstaller: a copy of the old kind directly in the temporary
// folder, and copy folders that hold nothing but their copy. Nothing that
// runs, is held open, is a link or is no plain file is touched.
void remove_left_over_copy(void)
{
    char tmp[260], path[520], mask[64];
    if (!temp_folder(tmp))
        return;
    if (fmt_path(path, sizeof path, "%s%s", tmp, copy_name))
        delete_unused_file(path);
    fmt(mask, sizeof mask, "%s*", copy_folder_prefix);
    FolderListing l;
    for (int more = listing_first(&l, tmp, mask); more; more = listing_next(&l)) {
        DWORD a = l.attributes;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT) && is_copy_folder_name(l.name) &&
            fmt_path(path, sizeof path, "%s%s", tmp, l.name))
            remove_copy_folder(path);
    }
    listing_close(&l);
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
void uninstall_first(void)
{
    char dir[520], self[520], tmp[260], folder[520], copy[520], cmd[1300];
    program_folder(dir, sizeof dir);
    if (MessageBoxA(NULL, "Remove Tarnok: Vorblen (Pellurin) and its saved games?", "Tarnok uninstall",
                    MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    if (!temp_folder(tmp) || !make_copy_folder(tmp, folder)) {
        refuse_uninstall("no folder for the uninstaller could be made in the temporary folder", GetLastError());
        return;
    }
    program_path(self, sizeof self);
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
// process ends), for at most half a minute. It works in the temporary
// folder and names nothing but the copy folder's own name (letters, digits
// and dashes) and the copy's fixed name in it, so no other path reaches its
// command line; a folder in the copy's place stops it. It writes nothing
// and ends by itself.
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

// Says what an uninstall had to leave, and why, so that the player can run
// it again once the file is free: the uninstaller and the entry stay for it.
static void show_what_is_left(const char *dir, const UninstallResult *left)
{
    char text[2400], shown[1024], name[1024], reason[600];
    name_escape(dir, shown, sizeof shown);
    name_escape(left->left[0] ? left->left : dir, name, sizeof name);
    // A running program's file, or one that a program holds open.
    int in_use = left->error == ERROR_SHARING_VIOLATION || left->error == ERROR_LOCK_VIOLATION ||
                 left->error == ERROR_ACCESS_DENIED;
    if (in_use)
        fmt(text, sizeof text,
            "Tarnok: Vorblen was not completely removed from %s.\n\n%s is in use: close the game and run the "
            "uninstall again.",
            shown, name);
    else
        fmt(text, sizeof text, "Tarnok: Vorblen was not completely removed from %s.\n\n%s cannot be removed: %s", shown,
            name, error_text(left->error, reason, sizeof reason));
    MessageBoxA(NULL, text, "Tarnok uninstall", MB_ICONWARNING | MB_OK);
}

int uninstall_second(const char *dir, int quiet)
{
    char self[520], tmp[260], folder[520];
    const char *folder_name = NULL;
    wait_first_stage();
    UninstallResult result = do_uninstall(dir);
    if (!quiet && result.outcome == UNINSTALL_LEFT) {
        show_what_is_left(dir, &result);
    } else if (!quiet) {
        char text[800], n[32];
        if (result.outcome == UNINSTALL_NOTHING)
            fmt(text, sizeof text, "No Tarnok installation was found in %s.", dir);
        else if (result.kept > 0)
            fmt(text, sizeof text,
                result.kept == 1 ? "Tarnok: Vorblen has been removed. %s file of yours was kept in %s."
                                 : "Tarnok: Vorblen has been removed. %s files of yours were kept in %s.",
                fmt_count((uint64_t)result.kept, n, sizeof n), dir);
        else
            fmt(text, sizeof text, "%s", "Tarnok: Vorblen has been removed.");
        MessageBoxA(NULL, text, "Tarnok uninstall", MB_ICONINFORMATION | MB_OK);
    }
    int code = result.outcome == UNINSTALL_LEFT ? 1 : 0;
    // Only the program's own copy and its folder are ever removed: a second
    // stage started from anywhere else leaves its program file alone.
    program_path(self, sizeof self);
    if (!temp_folder(tmp) || !own_copy_folder(self, tmp, folder, &folder_name))
        return code;
    // Deletion at restart needs administrator rights on Windows; it stays
    // as the fallback for when the remover cannot start. The folder goes
    // after the copy, if it is empty by then.
    MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    start_copy_remover(tmp, folder_name);
    return code;
}

