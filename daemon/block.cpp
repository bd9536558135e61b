#include "block.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

char* read_block(int fd, int32_t* len)
{
    int32_t want = 0;
    if (read(fd, &want, sizeof want) != (ssize_t)sizeof want) {
        fputs("failed to read info.\n", stderr);
        return nullptr;
    }
    char* block = want < 0 ? nullptr : (char*)malloc((size_t)want + 1);
    if (!block) {
        fputs("out of memory.\n", stderr);
        return nullptr;
    }
    int32_t got = 0;
    while (got < want) {
        ssize_t n = read(fd, block + got, (size_t)(want - got));
        if (n <= 0) {
            fputs("failed to read.\n", stderr);
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

bool package_name_ok(const char* name)
{
    if (!name || !*name || strchr(name, '/'))
        return false;
    return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}
