#include "probe.h"

#include <stdlib.h>
#include <string.h>

#define XPUB_COMMAND "/bin/sh /opt/tessalwine/printer_drv/xpub.sh"

bool probe_take_line(const char* const* keys, char** results, int nkeys, const char* line)
{
    const char* eq = strchr(line, '=');
    if (!eq || eq == line)
        return true;
    size_t k = (size_t)(eq - line);
    for (int i = 0; i < nkeys; i++) {
        if (strncmp(line, keys[i], k) != 0)
            continue;
        char* value = strdup(eq + 1);
        if (!value)
            return false;
        size_t vlen = strlen(value);
        if (vlen > 0 && value[vlen - 1] == '\n')
            value[vlen - 1] = '\0';
        free(results[i]);
        results[i] = value;
        return true;
    }
    return true;
}

int probe_read(FILE* in, const char* const* keys, char** results, int nkeys)
{
    char line[256];
    while (fgets(line, sizeof line, in))
        if (!probe_take_line(keys, results, nkeys, line))
            return -1;
    int found = 0;
    for (int i = 0; i < nkeys; i++)
        if (results[i])
            found++;
    return found;
}

int probe_active_user(const char* const* keys, char** results, int nkeys)
{
    FILE* out = popen(XPUB_COMMAND, "r");
    if (!out) {
        fputs("run xpub failed.\n", stderr);
        return 0;
    }
    int found = probe_read(out, keys, results, nkeys);
    pclose(out);
    if (found < 0) {
        fputs("out of memory.\n", stderr);
        return 0;
    }
    return found;
}
