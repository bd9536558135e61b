// Feeds arbitrary bytes to the daemon as a job info block (length and
// entries, as they come off the connection) and checks what the allow-list
// leaves: only allowed entries, each key once, every entry terminated
// inside the block, and lookups that stay inside it.
#include "block.h"
#include "env_filter.h"
#include "job_keys.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>

static char* block_from(const uint8_t* data, size_t size, int32_t* len)
{
    int fds[2];
    if (size > 60000 || pipe(fds) != 0)
        return nullptr;
    if (write(fds[1], data, size) != (ssize_t)size)
        abort();
    close(fds[1]);
    char* block = read_block(fds[0], len);
    close(fds[0]);
    return block;
}

static void check_kept(const char* block, int32_t len)
{
    const char* end = block + len;
    for (const char* e = block; e < end; e += strlen(e) + 1) {
        size_t n = strlen(e);
        if (e + n >= end + 1 || job_entry_check(e, n) != JOB_ENTRY_OK)
            abort();
        size_t klen = (size_t)((const char*)memchr(e, '=', n) - e);
        for (const char* o = e + n + 1; o < end; o += strlen(o) + 1)
            if (job_keys_collide(e, klen, o, (size_t)((const char*)strchr(o, '=') - o)))
                abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t len = 0;
    char* block = block_from(data, size, &len);
    if (!block)
        return 0;
    int entries = split_options(block, len, nullptr, 0);
    int32_t kept = filter_block(block, len);
    if (kept < 0 || kept > len)
        abort();
    check_kept(block, kept);
    char* vec[256];
    if (split_options(block, kept, vec, 256) > entries)
        abort();
    for (const char* key : {"PACKAGENAME", "MODEL", "PAGESIZE", "DPI"}) {
        const char* v = find_option(block, kept, key);
        if (v && (v < block || v > block + kept))
            abort();
    }
    free(block);
    return 0;
}
