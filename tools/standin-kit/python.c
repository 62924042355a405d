/* Stand-in for the kit's interpreter running the recompiler script. It checks
   that it was called as  python.exe -I <recomp.py> <exe> <functions.tsv>
   <native.txt> <gen>, writes TARNOK_STANDIN_GEN (default 2) C sources into
   gen, each ending with the text of TARNOK_STANDIN_GEN_BODY, prints to both
   output streams and exits with TARNOK_STANDIN_RECOMP_EXIT (default 0). */
#include "standin.h"

static int expect_path(const char *arg, const char *kit, const char *rel)
{
    char want[MAX_PATH * 2];
    snprintf(want, sizeof want, "%s\\%s", kit, rel);
    if (_stricmp(arg, want) != 0 || !standin_is_file(arg)) {
        fprintf(stderr, "python stand-in: expected %s, got %s\n", want, arg);
        return 0;
    }
    return 1;
}

static int arguments_ok(int argc, char **argv, const char *kit)
{
    if (argc != 7 || strcmp(argv[1], "-I") != 0) {
        fprintf(stderr, "python stand-in: expected -I and five arguments\n");
        return 0;
    }
    if (!standin_is_file(argv[3]) || !standin_is_dir(argv[6])) {
        fprintf(stderr, "python stand-in: missing %s or %s\n", argv[3], argv[6]);
        return 0;
    }
    return expect_path(argv[2], kit, "tools\\recomp.py") && expect_path(argv[4], kit, "re\\functions.tsv") &&
           expect_path(argv[5], kit, "tools\\native.txt");
}

static int write_sources(const char *gen, int count)
{
    const char *body = getenv("TARNOK_STANDIN_GEN_BODY");
    for (int i = 0; i < count; i++) {
        char path[MAX_PATH * 2];
        snprintf(path, sizeof path, "%s\\g%04d.c", gen, i);
        FILE *f = fopen(path, "wb");
        if (!f)
            return 0;
        fprintf(f, "/* converted by the stand-in recompiler */\nint g%04d(void) { return %d; }\n%s\n", i, i,
                body ? body : "");
        fclose(f);
    }
    return 1;
}

int main(int argc, char **argv)
{
    char kit[MAX_PATH * 2];
    standin_folder_above(kit, sizeof kit, 2);
    standin_record_self("recomp.txt");
    if (!arguments_ok(argc, argv, kit))
        return 2;
    printf("recomp: converting %s\n", argv[3]);
    fflush(stdout);
    fprintf(stderr, "recomp: note on stderr\n");
    int count = standin_env_int("TARNOK_STANDIN_GEN", 2);
    if (!write_sources(argv[6], count)) {
        fprintf(stderr, "recomp: cannot write into %s\n", argv[6]);
        return 3;
    }
    printf("recomp: wrote %d sources\n", count);
    return standin_env_int("TARNOK_STANDIN_RECOMP_EXIT", 0);
}
