// gui-driver: drives a running setup window from a script of commands given
// as arguments, in order; stops with exit code 1 at the first that fails.
//
//   wait SECONDS              find the setup window (class "TarnokSetup")
//   wait-class CLASS SECONDS  find a window of another class instead
//   dump                      print every control: number, class, text
//   text N                    print the text of control N (1 = first made)
//   set N TEXT                set the text of control N
//   click N                   click button N
//   wait-text N TEXT SECONDS  wait until control N shows TEXT
//   list                      print the lines of the log list
//   box TITLE SECONDS         wait for a message box of that title, print its text
//   answer yes|no|ok          answer the box found last
//   close                     ask the window found last to close (WM_CLOSE)
//   wait-gone SECONDS         wait until the window found last has gone
//
// Copied as python.exe into a build kit, it stands in for a recompiler that
// leaves the file "holding" beside it, runs until the file "release" appears
// there, and then fails: a test can hold an install in the middle for as
// long as it likes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "driver.h"

static HWND top, box;

static DWORD ms(const char *seconds) { return (DWORD)(atof(seconds) * 1000); }

static HWND control(const char *n)
{
    HWND c = top ? gd_control(top, atoi(n)) : NULL;
    if (!c)
        fprintf(stderr, "gui-driver: no control %s\n", n);
    return c;
}

static void dump(void)
{
    char cls[64], text[1024];
    int n = gd_control_count(top);
    for (int i = 1; i <= n; i++) {
        HWND c = gd_control(top, i);
        GetClassNameA(c, cls, sizeof cls);
        gd_text(c, text, sizeof text);
        printf("%d\t%s\t%s%s\n", i, cls, text, gd_enabled(c) ? "" : "\t(disabled)");
    }
}

static void list(HWND lst)
{
    char line[1024];
    int n = gd_list_count(lst);
    for (int i = 0; i < n; i++) {
        gd_list_item(lst, i, line, sizeof line);
        printf("%s\n", line);
    }
}

// Runs the command at argv[i]; returns the number of words it used, 0 on failure.
static int run(int argc, char **argv, int i)
{
    const char *cmd = argv[i];
    int left = argc - i - 1;
    char text[1024];
    HWND c;
    if (!strcmp(cmd, "wait") && left >= 1) {
        top = gd_find_window("TarnokSetup", NULL, 0, ms(argv[i + 1]));
        return top ? 2 : 0;
    }
    if (!strcmp(cmd, "wait-class") && left >= 2) {
        top = gd_find_window(argv[i + 1], NULL, 0, ms(argv[i + 2]));
        return top ? 3 : 0;
    }
    if (!strcmp(cmd, "dump") && top) {
        dump();
        return 1;
    }
    if (!strcmp(cmd, "text") && left >= 1 && (c = control(argv[i + 1]))) {
        gd_text(c, text, sizeof text);
        printf("%s\n", text);
        return 2;
    }
    if (!strcmp(cmd, "set") && left >= 2 && (c = control(argv[i + 1]))) {
        gd_set_text(c, argv[i + 2]);
        return 3;
    }
    if (!strcmp(cmd, "click") && left >= 1 && (c = control(argv[i + 1]))) {
        return gd_click(c) ? 2 : 0;
    }
    if (!strcmp(cmd, "wait-text") && left >= 3 && (c = control(argv[i + 1])))
        return gd_wait_text(c, argv[i + 2], ms(argv[i + 3])) ? 4 : 0;
    if (!strcmp(cmd, "list") && (c = control("22"))) {
        list(c);
        return 1;
    }
    if (!strcmp(cmd, "box") && left >= 2) {
        box = gd_find_box(argv[i + 1], 0, ms(argv[i + 2]));
        if (!box)
            return 0;
        gd_box_text(box, text, sizeof text);
        printf("%s\n", text);
        return 3;
    }
    if (!strcmp(cmd, "answer") && left >= 1 && box) {
        const char *a = argv[i + 1];
        gd_answer(box, !_stricmp(a, "yes") ? IDYES : !_stricmp(a, "no") ? IDNO : IDOK);
        return 2;
    }
    if (!strcmp(cmd, "close") && top) {
        PostMessageA(top, WM_CLOSE, 0, 0);
        return 1;
    }
    if (!strcmp(cmd, "wait-gone") && left >= 1 && top)
        return gd_wait_gone(top, ms(argv[i + 1])) ? 2 : 0;
    return 0;
}

static int hold_as_recompiler(void)
{
    char self[MAX_PATH], release[MAX_PATH + 16];
    GetModuleFileNameA(NULL, self, sizeof self);
    char *slash = strrchr(self, '\\');
    if (!slash || _stricmp(slash + 1, "python.exe") != 0)
        return 0;
    *slash = 0;
    snprintf(release, sizeof release, "%s\\holding", self);
    HANDLE mark = CreateFileA(release, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (mark != INVALID_HANDLE_VALUE)
        CloseHandle(mark);
    snprintf(release, sizeof release, "%s\\release", self);
    while (GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    return 1;
}

int main(int argc, char **argv)
{
    if (hold_as_recompiler()) {
        printf("recompiler stand-in: released, failing on purpose\n");
        return 1;
    }
    for (int i = 1; i < argc;) {
        int used = run(argc, argv, i);
        fflush(stdout);
        if (!used) {
            fprintf(stderr, "gui-driver: failed at \"%s\"\n", argv[i]);
            return 1;
        }
        i += used;
    }
    return 0;
}
