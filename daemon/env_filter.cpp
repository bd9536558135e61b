#include "env_filter.h"
#include "job_keys.h"

#include <stdio.h>
#include <string.h>

// The key of a dropped entry, shown safely: printable bytes only, cut short.
static void log_dropped(const char* entry, size_t len, const char* why)
{
    const char* eq = (const char*)memchr(entry, '=', len);
    size_t klen = eq ? (size_t)(eq - entry) : len;
    char shown[65];
    size_t n = 0;
    for (size_t i = 0; i < klen && n < sizeof shown - 1; i++)
        shown[n++] = (entry[i] >= 0x20 && entry[i] < 0x7f) ? entry[i] : '?';
    shown[n] = '\0';
    fprintf(stderr, "dropped option %s: %s\n", shown, why);
}

static size_t key_length(const char* entry, size_t len)
{
    const char* eq = (const char*)memchr(entry, '=', len);
    return eq ? (size_t)(eq - entry) : len;
}

// True when an entry already kept in block[0, kept) has the same key,
// ignoring case.
static bool key_taken(const char* block, int32_t kept, const char* entry, size_t len)
{
    size_t klen = key_length(entry, len);
    const char* at = block;
    const char* end = block + kept;
    while (at < end) {
        size_t n = strlen(at);
        if (job_keys_collide(at, key_length(at, n), entry, klen))
            return true;
        at += n + 1;
    }
    return false;
}

int32_t filter_block(char* block, int32_t len)
{
    if (!block || len <= 0)
        return 0;
    char* end = block + len;
    char* entry = block;
    int32_t kept = 0;
    while (entry < end) {
        char* nul = (char*)memchr(entry, '\0', (size_t)(end - entry));
        size_t n = nul ? (size_t)(nul - entry) : (size_t)(end - entry);
        job_verdict v = job_entry_check(entry, n);
        if (v != JOB_ENTRY_OK)
            log_dropped(entry, n, job_verdict_text(v));
        else if (key_taken(block, kept, entry, n))
            log_dropped(entry, n, "repeats an earlier option");
        else {
            // A last entry without its NUL stays without it: the reader's
            // NUL past the block ends it.
            memmove(block + kept, entry, n);
            block[kept + n] = '\0';
            kept += (int32_t)(n + (nul ? 1 : 0));
        }
        entry += n + 1;
    }
    return kept;
}
