// Print-tool stand-in for benchmarks: writes OPT_BENCH_OUT bytes (default 4096)
// to stdout in 64 KiB writes.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main()
{
    static char buf[65536];
    const char* env = getenv("OPT_BENCH_OUT");
    unsigned long long left = env ? strtoull(env, nullptr, 10) : 4096;
    memset(buf, 'P', sizeof buf);
    while (left > 0) {
        size_t n = left < sizeof buf ? (size_t)left : sizeof buf;
        ssize_t w = write(1, buf, n);
        if (w <= 0)
            return 1;
        left -= (unsigned long long)w;
    }
    return 0;
}
