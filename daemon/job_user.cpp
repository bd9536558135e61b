#include "job_user.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define LINE_MAX_BYTES 512

// Reads one line into buf; the rest of a longer line is skipped, so that
// its tail is never taken for a line of its own.  False at end of file.
static bool read_line(FILE* f, char* buf, size_t size)
{
    if (!fgets(buf, (int)size, f))
        return false;
    size_t n = strlen(buf);
    if (n > 0 && buf[n - 1] == '\n')
        buf[n - 1] = '\0';
    else
        for (int c = 0; c != '\n' && c != EOF;)
            c = getc(f);
    return true;
}

static char* skip_blanks(char* s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    return s;
}

static void trim_end(char* s)
{
    size_t n = strlen(s);
    while (n > 0 && isspace((unsigned char)s[n - 1]))
        s[--n] = '\0';
}

// The value after "key" and blanks (login.defs) or "key", blanks, '=' and
// blanks (xpub.conf) at the start of line, or null.
static char* value_of(char* line, const char* key, bool equals)
{
    char* p = skip_blanks(line);
    size_t n = strlen(key);
    if (strncmp(p, key, n) != 0)
        return nullptr;
    char* v = skip_blanks(p + n);
    if (equals) {
        if (*v != '=')
            return nullptr;
        return skip_blanks(v + 1);
    }
    return v != p + n ? v : nullptr;
}

uid_t login_uid_min(const char* path)
{
    uid_t uid_min = UID_MIN_DEFAULT;
    FILE* f = fopen(path, "re");
    if (!f)
        return uid_min;
    char line[LINE_MAX_BYTES];
    while (read_line(f, line, sizeof line)) {
        char* v = value_of(line, "UID_MIN", false);
        if (!v)
            continue;
        trim_end(v);
        char* end = nullptr;
        unsigned long n = strtoul(v, &end, 10);
        if (isdigit((unsigned char)*v) && *end == '\0' && n > 0 && n < 0x7fffffff)
            uid_min = (uid_t)n;
    }
    fclose(f);
    return uid_min;
}

void service_user_name(const char* path, char* name, size_t size)
{
    snprintf(name, size, "%s", SERVICE_USER_DEFAULT);
    FILE* f = fopen(path, "re");
    char line[LINE_MAX_BYTES];
    while (f && read_line(f, line, sizeof line)) {
        char* v = value_of(line, "service_user", true);
        if (!v)
            continue;
        trim_end(v);
        // An empty value means the default, as in xpub.sh; a name too long
        // to be a user's names nobody.
        if (*v)
            snprintf(name, size, "%s", strlen(v) < size ? v : "");
    }
    if (f)
        fclose(f);
}

bool job_user_allowed(const struct passwd* pw)
{
    if (pw->pw_uid == 0 || pw->pw_gid == 0) {
        fprintf(stderr, "refused to run the job as %s: uid %d, gid %d; never as root.\n",
            pw->pw_name, (int)pw->pw_uid, (int)pw->pw_gid);
        return false;
    }
    uid_t uid_min = login_uid_min(LOGIN_DEFS_PATH);
    if (pw->pw_uid >= uid_min)
        return true;
    char service[SERVICE_USER_MAX + 1];
    service_user_name(XPUB_CONF_PATH, service, sizeof service);
    if (strcmp(pw->pw_name, service) == 0)
        return true;
    fprintf(stderr,
        "refused to run the job as %s: uid %d is a system account (below UID_MIN %d) and not "
        "the service account %s.\n",
        pw->pw_name, (int)pw->pw_uid, (int)uid_min, service);
    return false;
}
