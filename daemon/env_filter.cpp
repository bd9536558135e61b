#include "env_filter.h"

#include <stdio.h>
#include <string.h>

// Names the C library ignores for privileged programs, the shell's start-up
// hooks, the search path, and Wine's own loader and DLL controls.
static const char* const k_unsafe_names[] = {"GCONV_PATH", "GETCONF_DIR", "GLIBC_TUNABLES",
    "HOSTALIASES", "LOCALDOMAIN", "LOCPATH", "MALLOC_CHECK_", "MALLOC_TRACE", "NIS_PATH", "NLSPATH",
    "RESOLV_HOST_CONF", "RES_OPTIONS", "TMPDIR", "TZDIR", "BASH_ENV", "ENV", "SHELLOPTS", "IFS",
    "PATH", "WINELOADER", "WINESERVER", "WINEDLLPATH", "WINEDLLOVERRIDES"};

static const char* const k_unsafe_prefixes[] = {"LD_", "BASH_FUNC_"};

static size_t key_length(const char* entry)
{
    const char* eq = strchr(entry, '=');
    return eq ? (size_t)(eq - entry) : strlen(entry);
}

bool env_entry_unsafe(const char* entry)
{
    size_t klen = key_length(entry);
    for (const char* name : k_unsafe_names)
        if (strlen(name) == klen && memcmp(entry, name, klen) == 0)
            return true;
    for (const char* prefix : k_unsafe_prefixes)
        if (klen >= strlen(prefix) && memcmp(entry, prefix, strlen(prefix)) == 0)
            return true;
    // A value shaped like an exported bash function is run by bash on start.
    return entry[klen] == '=' && strncmp(entry + klen + 1, "() {", 4) == 0;
}

int filter_environment(char** vec, int n)
{
    int kept = 0;
    for (int i = 0; i < n; i++) {
        if (env_entry_unsafe(vec[i])) {
            fprintf(stderr, "dropped unsafe option %.*s\n", (int)key_length(vec[i]), vec[i]);
            continue;
        }
        vec[kept++] = vec[i];
    }
    for (int i = kept; i < n; i++)
        vec[i] = nullptr;
    return kept;
}
