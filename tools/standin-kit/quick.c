/* A quick stand-in for the kit's compiler driver, a console program like the
   real one: it writes the file named after -o and exits at once, without
   reading its sources or the response file. A test puts it in the place of
   gcc.exe to see what a child that ends within milliseconds leaves behind:
   under Wine its console host outlives it for a moment. */
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; i++) {
        if (strcmp(argv[i], "-o") != 0)
            continue;
        FILE *f = fopen(argv[i + 1], "wb");
        if (!f || fputs("quick stand-in output\n", f) < 0 || fclose(f) != 0)
            return 1;
        printf("quick: wrote %s\n", argv[i + 1]);
        return 0;
    }
    fprintf(stderr, "quick: no -o\n");
    return 2;
}
