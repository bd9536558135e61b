// Messages: stderr only, since stdout is printer data.
#include "strelwick.h"

#include <stdarg.h>
#include <stdio.h>

void dbg_log(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fflush(stderr);
}

int LastError(void)
{
    return (int)GetLastError();
}
