/* A quick stand-in for the kit's compiler driver, a console program like the
   real one: it writes the file named after -o and exits at once, without
   reading its sources or the response file. A test puts it in the place of
   gcc.exe to see what a child that ends within milliseconds leaves behind:
   under Wine its console host outlives it for a moment. A link (-mwindows)
   writes the stand-in game beside it when there is one. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int write_game(const char *out)
{
    char game[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(NULL, game, MAX_PATH);
    char *slash = n && n < MAX_PATH ? strrchr(game, '\\') : NULL;
    if (!slash)
        return 0;
    strcpy(slash + 1, "standin-game.exe");
    return CopyFileA(game, out, FALSE) != 0;
}

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; i++) {
        if (strcmp(argv[i], "-o") != 0)
            continue;
        if (strcmp(argv[1], "-mwindows") == 0 && write_game(argv[i + 1])) {
            printf("quick: linked %s\n", argv[i + 1]);
            return 0;
        }
        FILE *f = fopen(argv[i + 1], "wb");
        if (!f || fputs("quick stand-in output\n", f) < 0 || fclose(f) != 0)
            return 1;
        printf("quick: wrote %s\n", argv[i + 1]);
        return 0;
    }
    fprintf(stderr, "quick: no -o\n");
    return 2;
}
