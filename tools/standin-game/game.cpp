// A stand-in for the converted game, for tests and the demo: it shows which
// installed game files it finds from its own folder, and writes the same
// report to tarnok.log beside itself, as the real game writes its log there.
// With /check it writes the report and exits: 0 when everything was found.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static char report[8192];
static int missing;

static void add(const char *text)
{
    size_t used = strlen(report);
    snprintf(report + used, sizeof report - used, "%s\r\n", text);
}

static void check(const char *folder, const char *rel)
{
    char path[MAX_PATH * 2], line[MAX_PATH * 2];
    snprintf(path, sizeof path, "%s\\%s", folder, rel);
    int found = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    snprintf(line, sizeof line, "%s %s", found ? "found  " : "MISSING", rel);
    add(line);
    missing += !found;
}

static void make_report(void)
{
    static const char *const wanted[] = {
        "game\\hd\\TARNOK\\TARNOKP2.EXE", "game\\hd\\TARNOK\\GRAPH", "game\\hd\\TARNOK\\TARNOK",
        "game\\hd\\TARNOK\\ARME", "game\\hd\\TARNOK\\DIVERS", "game\\hd\\TARNOK\\ORBU",
        "game\\hd\\TARNOK\\GRISTAL", "game\\hd\\TARNOK\\FIRST", "game\\hd\\TARNOK\\DOLVEN",
        "game\\hd\\TARNOK\\ZAVR", "game\\hd\\TARNOK\\SOLDAT", "game\\hd\\TARNOK\\MUSIC\\MUSIK1.WAV",
        "game\\hd\\TARNOK.CFG", "game\\cd1\\TARNOK\\DISK1\\DISK1", "game\\cd2\\TARNOK\\DISK2\\DISK2",
    };
    char folder[MAX_PATH], cwd[MAX_PATH], line[MAX_PATH * 3];
    GetModuleFileNameA(NULL, folder, sizeof folder);
    char *slash = strrchr(folder, '\\');
    if (slash)
        *slash = 0;
    GetCurrentDirectoryA(sizeof cwd, cwd);
    add("Tarnok: Vorblen (stand-in for the converted game)");
    snprintf(line, sizeof line, "install folder: %s", folder);
    add(line);
    snprintf(line, sizeof line, "working folder: %s (%s)", cwd,
             _stricmp(cwd, folder) == 0 ? "the install folder" : "NOT the install folder");
    add(line);
    for (size_t i = 0; i < sizeof wanted / sizeof wanted[0]; i++)
        check(folder, wanted[i]);

    char log[MAX_PATH * 2];
    snprintf(log, sizeof log, "%s\\tarnok.log", folder);
    FILE *f = fopen(log, "wb");
    if (f) {
        fputs(report, f);
        fclose(f);
    }
}

static LRESULT CALLBACK wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdline, int show)
{
    make_report();
    if (strstr(cmdline, "/check"))
        return missing ? 1 : 0;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = wndproc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "TarnokStandIn";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, "TarnokStandIn", "Tarnok: Vorblen (stand-in)", WS_OVERLAPPEDWINDOW,
                             CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, NULL, NULL, instance, NULL);
    CreateWindowExA(0, "EDIT", report, WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | WS_VSCROLL,
                    8, 8, 610, 420, w, NULL, instance, NULL);
    ShowWindow(w, show);
    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return missing ? 1 : 0;
}
