/* A Windows program that writes one line to stderr and then dies of an
   access violation, standing in for a print tool that crashes. With the
   argument "env" it writes its environment to stdout instead, one entry a
   line, and ends normally. */
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv, char** envp)
{
    if (argc == 2 && strcmp(argv[1], "env") == 0) {
        for (char** e = envp; *e; e++)
            printf("%s\n", *e);
        return 0;
    }
    fputs("crash.exe: about to crash\n", stderr);
    fflush(stderr);
    *(volatile int*)0 = 1;
    return 0;
}
