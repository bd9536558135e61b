#include "block.h"
#include "deadline.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

char* read_block(int fd, int32_t* len)
{
    struct timespec deadline = deadline_after(BLOCK_READ_SECONDS);
    int32_t want = 0;
    ssize_t r = read_by(fd, &want, sizeof want, &deadline);
    if (r != (ssize_t)sizeof want) {
        fputs(
            r == DEADLINE_PASSED ? "job info block not sent in time.\n" : "failed to read info.\n",
            stderr);
        return nullptr;
    }
    if (want > BLOCK_MAX_BYTES) {
        fprintf(stderr, "job info block too long: %d bytes.\n", (int)want);
        return nullptr;
    }
    char* block = want < 0 ? nullptr : (char*)malloc((size_t)want + 1);
    if (!block) {
        fputs("out of memory.\n", stderr);
        return nullptr;
    }
    int32_t got = 0;
    while (got < want) {
        ssize_t n = read_by(fd, block + got, (size_t)(want - got), &deadline);
        if (n <= 0) {
            fputs(n == DEADLINE_PASSED ? "job info block not sent in time.\n" : "failed to read.\n",
                stderr);
            free(block);
            return nullptr;
        }
        got += (int32_t)n;
    }
    block[want] = '\0';
    *len = want;
    return block;
}

const char* find_option(const char* block, int32_t len, const char* name)
{
    if (!block || len <= 0)
        return nullptr;
    size_t n = strlen(name);
    const char* end = block + len;
    const char* entry = block;
    while (entry < end) {
        const char* eq = (const char*)memchr(entry, '=', (size_t)(end - entry));
        if (!eq)
            return nullptr;
        if ((size_t)(eq - entry) == n && memcmp(entry, name, n) == 0)
            return eq + 1;
        const char* nul = (const char*)memchr(eq, '\0', (size_t)(end - eq));
        if (!nul)
            return nullptr;
        entry = nul + 1;
    }
    return nullptr;
}

int split_options(char* block, int32_t len, char** vec, int cap)
{
    int count = 0;
    if (!block || len <= 0)
        return 0;
    char* end = block + len;
    char* entry = block;
    while (entry < end) {
        if (count < cap)
            vec[count] = entry;
        char* nul
            = entry + 1 < end ? (char*)memchr(entry + 1, '\0', (size_t)(end - entry - 1)) : nullptr;
        entry = nul ? nul + 1 : end;
        count++;
    }
    return count;
}
