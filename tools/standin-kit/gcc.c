/* Stand-in for the kit's compiler driver. Called with -mwindows first it
   links: it reads the @response file, checks every object listed there and
   writes the game executable. Otherwise it compiles one source: it checks the
   options, copies the source into the object file and counts how many
   compiles run at once. Markers in a source steer it:
     STANDIN_SLOW          the compile takes 400 ms
     STANDIN_LINGER        the compile takes 30 s, long past any test's stop
     STANDIN_COMPILE_FAIL  the compile fails
     STANDIN_LINK_FAIL     the link of its object fails */
#include "standin.h"

static const char *const link_libs[] = {
    "-lm", "-lkernel32", "-luser32", "-lgdi32", "-lwinmm", "-limm32", "-lole32",
    "-loleaut32", "-lversion", "-luuid", "-ladvapi32", "-lsetupapi", "-lshell32", "-ldinput8",
};
enum { LINK_LIBS = sizeof link_libs / sizeof link_libs[0], LINK_ARGC = 8 + LINK_LIBS };

static const char *const compile_flags[] = {"-std=gnu11", "-O2", "-fwrapv", "-fno-strict-aliasing", "-w"};

static int complain(const char *what, const char *got)
{
    fprintf(stderr, "gcc stand-in: %s: %s\n", what, got);
    return 0;
}

/* Adds delta to the count of compiles running now and keeps the highest
   count seen, as "<now> <highest>" in concurrency.txt. */
static void count_running(int delta)
{
    char path[MAX_PATH * 2];
    if (!standin_record_path(path, sizeof path, "concurrency.txt"))
        return;
    HANDLE m = standin_lock();
    int now = 0, highest = 0;
    FILE *f = fopen(path, "rb");
    if (f) {
        if (fscanf(f, "%d %d", &now, &highest) != 2)
            now = highest = 0;
        fclose(f);
    }
    now += delta;
    if (now > highest)
        highest = now;
    f = fopen(path, "wb");
    if (f) {
        fprintf(f, "%d %d\n", now, highest);
        fclose(f);
    }
    standin_unlock(m);
}

/* With TARNOK_STANDIN_BARRIER=n a compile waits (5 s at most) until n
   compiles have run at once, so that a test sees a level of parallelism
   reached however slowly the compiles start. */
static void wait_for_company(void)
{
    char path[MAX_PATH * 2];
    int want = standin_env_int("TARNOK_STANDIN_BARRIER", 0);
    if (want < 2 || !standin_record_path(path, sizeof path, "concurrency.txt"))
        return;
    for (int i = 0; i < 500; i++) {
        int now = 0, highest = 0;
        HANDLE m = standin_lock();
        FILE *f = fopen(path, "rb");
        if (f) {
            if (fscanf(f, "%d %d", &now, &highest) != 2)
                highest = 0;
            fclose(f);
        }
        standin_unlock(m);
        if (highest >= want)
            return;
        Sleep(10);
    }
}

static int expect_include(const char *arg, const char *folder)
{
    if (strncmp(arg, "-I", 2) != 0 || _stricmp(arg + 2, folder) != 0 || !standin_is_dir(folder))
        return complain("unexpected include folder", arg);
    return 1;
}

/* gcc <opt> <flags> -I<kit>\src\rt -I<build>\gen -I<kit>\mingw64\include\SDL2
   -c <source> -o <build>\obj\<prefix><name>.o */
static int compile_arguments_ok(int argc, char **argv, const char *kit)
{
    if (argc != 14 || strcmp(argv[10], "-c") != 0 || strcmp(argv[12], "-o") != 0)
        return complain("unexpected compile command", GetCommandLineA());
    for (int i = 0; i < 5; i++)
        if (strcmp(argv[2 + i], compile_flags[i]) != 0)
            return complain("unexpected flag", argv[2 + i]);
    const char *src = argv[11];
    int runtime = strstr(src, "\\src\\rt\\") != NULL;
    if (strcmp(argv[1], runtime ? "-DSDL_MAIN_HANDLED" : "-g0") != 0)
        return complain("wrong option for the source", argv[1]);
    char rt[MAX_PATH * 2], sdl[MAX_PATH * 2], build[MAX_PATH * 2], obj[MAX_PATH * 3];
    snprintf(rt, sizeof rt, "%s\\src\\rt", kit);
    snprintf(sdl, sizeof sdl, "%s\\mingw64\\include\\SDL2", kit);
    snprintf(build, sizeof build, "%s", argv[8] + 2);
    size_t n = strlen(build);
    if (n < 4 || _stricmp(build + n - 4, "\\gen") != 0)
        return complain("second include folder is not a gen folder", argv[8]);
    build[n - 4] = 0;
    const char *name = strrchr(src, '\\') ? strrchr(src, '\\') + 1 : src;
    snprintf(obj, sizeof obj, "%s\\obj\\%s%s.o", build, runtime ? "rt_" : "", name);
    if (_stricmp(argv[13], obj) != 0)
        return complain("unexpected object name", argv[13]);
    if (!standin_is_file(src))
        return complain("no such source", src);
    return expect_include(argv[7], rt) && expect_include(argv[8], argv[8] + 2) && expect_include(argv[9], sdl);
}

static int compile(int argc, char **argv, const char *kit)
{
    if (!compile_arguments_ok(argc, argv, kit))
        return 2;
    char *text = standin_slurp(argv[11], NULL);
    if (!text)
        return 2;
    count_running(1);
    wait_for_company();
    if (strstr(text, "STANDIN_SLOW"))
        Sleep(400);
    if (strstr(text, "STANDIN_LINGER"))
        Sleep(30000);
    int ok = strstr(text, "STANDIN_COMPILE_FAIL") == NULL;
    if (ok) {
        FILE *f = fopen(argv[13], "wb");
        ok = f && fprintf(f, "stand-in object of %s\n%s", argv[11], text) > 0;
        if (f)
            ok = fclose(f) == 0 && ok;
    } else {
        fprintf(stderr, "%s: error: the source asks to fail\n", argv[11]);
    }
    count_running(-1);
    free(text);
    return ok ? 0 : 1;
}

/* Every line of the response file is a quoted forward-slash path and CR LF;
   every object named must exist and none may ask the link to fail. */
static int objects_ok(const char *rsp, int *count)
{
    char *text = standin_slurp(rsp, NULL);
    if (!text)
        return complain("cannot read the response file", rsp);
    int ok = 1;
    *count = 0;
    for (char *line = text; ok && *line;) {
        char *end = strstr(line, "\r\n");
        if (!end || line[0] != '"' || end - line < 2 || end[-1] != '"')
            return complain("malformed response file line", line);
        *end = 0;
        end[-1] = 0;
        char *obj = standin_slurp(line + 1, NULL);
        if (strchr(line + 1, '\\') || !obj)
            ok = complain("bad object", line + 1);
        else if (strstr(obj, "STANDIN_LINK_FAIL"))
            ok = complain("link failure asked for by", line + 1);
        free(obj);
        (*count)++;
        line = end + 2;
    }
    free(text);
    return ok;
}

static void keep_response_file(const char *rsp)
{
    char path[MAX_PATH * 2];
    if (standin_record_path(path, sizeof path, "objs.rsp"))
        CopyFileA(rsp, path, FALSE);
}

/* gcc -mwindows -o <game executable> @<rsp> -static -lmingw32
   <kit>\mingw64\lib\libSDL2.a <libraries> */
static int link_arguments_ok(int argc, char **argv, const char *kit)
{
    char sdl[MAX_PATH * 2];
    snprintf(sdl, sizeof sdl, "%s\\mingw64\\lib\\libSDL2.a", kit);
    if (argc != LINK_ARGC || strcmp(argv[2], "-o") != 0 || argv[4][0] != '@' || strcmp(argv[5], "-static") != 0 ||
        strcmp(argv[6], "-lmingw32") != 0 || _stricmp(argv[7], sdl) != 0 || !standin_is_file(sdl))
        return complain("unexpected link command", GetCommandLineA());
    for (int i = 0; i < LINK_LIBS; i++)
        if (strcmp(argv[8 + i], link_libs[i]) != 0)
            return complain("unexpected library", argv[8 + i]);
    return 1;
}

/* The linked "game" is the stand-in game when the kit carries one, else a
   copy of this program: either way a real executable. */
static int write_game(const char *out, const char *kit)
{
    char from[MAX_PATH * 2];
    snprintf(from, sizeof from, "%s\\mingw64\\bin\\standin-game.exe", kit);
    if (!standin_is_file(from))
        GetModuleFileNameA(NULL, from, sizeof from);
    return CopyFileA(from, out, FALSE) != 0;
}

static int link_game(int argc, char **argv, const char *kit)
{
    if (!link_arguments_ok(argc, argv, kit))
        return 2;
    keep_response_file(argv[4] + 1);
    int count = 0;
    if (!objects_ok(argv[4] + 1, &count))
        return 1;
    if (!write_game(argv[3], kit))
        return complain("cannot write", argv[3]) + 1;
    printf("link: %d objects into %s\n", count, argv[3]);
    fflush(stdout);
    fprintf(stderr, "link: note on stderr\n");
    return 0;
}

int main(int argc, char **argv)
{
    char kit[MAX_PATH * 2];
    standin_folder_above(kit, sizeof kit, 3);
    int linking = argc > 1 && strcmp(argv[1], "-mwindows") == 0;
    standin_record_self(linking ? "link.txt" : "compiles.txt");
    return linking ? link_game(argc, argv, kit) : compile(argc, argv, kit);
}
