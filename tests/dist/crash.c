/* A Windows program that writes one line to stderr and then dies of an
   access violation, standing in for a print tool that crashes. */
#include <stdio.h>

int main(void)
{
    fputs("crash.exe: about to crash\n", stderr);
    fflush(stderr);
    *(volatile int*)0 = 1;
    return 0;
}
