#include "job_keys.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

struct job_key {
    const char* name;
    job_rule rule;
};

static const job_key k_job_keys[] = {
#include "job_keys.inc"
};

#define PACKAGE_NAME_MAX 64
#define PRINTER_NAME_MAX 200
#define PAPERCODE_MAX 32767
#define DPI_MIN 50
#define DPI_MAX 9600
#define COUNT_MAX 9999

static bool printable(const char* s, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)s[i] < 0x20 || (unsigned char)s[i] > 0x7e)
            return false;
    return true;
}

// A decimal number of at most 5 digits, no sign, within
// [lo, hi]; *end is set past its last digit.
static bool number_in(const char* s, size_t n, long lo, long hi, size_t* end)
{
    size_t i = 0;
    long v = 0;
    while (i < n && i < 5 && s[i] >= '0' && s[i] <= '9')
        v = v * 10 + (s[i++] - '0');
    *end = i;
    return i > 0 && v >= lo && v <= hi;
}

// Characters that are not printed but change how the text around them is
// shown or read: bidirectional marks, embeddings, overrides and isolates,
// invisible operators, the BOM, line and paragraph separators, and the
// other format characters of the first planes. The zero-width joiner and
// non-joiner stay: scripts and emoji sequences need them.
static const unsigned long k_hidden[][2]
    = {{0x00ad, 0x00ad}, {0x0600, 0x0605}, {0x061c, 0x061c}, {0x06dd, 0x06dd}, {0x070f, 0x070f},
        {0x0890, 0x0891}, {0x08e2, 0x08e2}, {0x180e, 0x180e}, {0x200b, 0x200b}, {0x200e, 0x200f},
        {0x2028, 0x202e}, {0x2060, 0x206f}, {0xfeff, 0xfeff}, {0xfff9, 0xfffb}, {0x110bd, 0x110bd},
        {0x110cd, 0x110cd}, {0x13430, 0x1343f}, {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}};

// A character a document name may hold: planes 0 to 3 (the later ones hold
// only tag characters, variation selectors and private use), no control,
// surrogate, private-use or noncharacter code point, nothing of k_hidden.
static bool visible_char(unsigned long c)
{
    if (c < 0xa0 || c >= 0x40000 || (c >= 0xd800 && c <= 0xf8ff))
        return c >= 0x20 && c < 0x7f;
    if ((c >= 0xfdd0 && c <= 0xfdef) || (c & 0xfffe) == 0xfffe)
        return false;
    for (const auto& r : k_hidden)
        if (c >= r[0] && c <= r[1])
            return false;
    return true;
}

// Length of the UTF-8 sequence at s (n bytes left) that encodes a
// character a document name may hold, or 0.
static size_t utf8_char(const unsigned char* s, size_t n)
{
    if (s[0] >= 0x20 && s[0] < 0x7f)
        return 1;
    size_t len = s[0] >= 0xc2 && s[0] <= 0xdf ? 2
        : (s[0] & 0xf0) == 0xe0               ? 3
        : s[0] >= 0xf0 && s[0] <= 0xf4        ? 4
                                              : 0;
    if (len == 0 || len > n)
        return 0;
    unsigned long c = s[0] & (0x7f >> len);
    for (size_t i = 1; i < len; i++) {
        if ((s[i] & 0xc0) != 0x80)
            return 0;
        c = c << 6 | (s[i] & 0x3f);
    }
    static const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    return c >= least[len] && visible_char(c) ? len : 0;
}

static bool title_text(const char* s, size_t n)
{
    const unsigned char* u = (const unsigned char*)s;
    for (size_t i = 0; i < n;) {
        size_t len = utf8_char(u + i, n - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

// One of the characters in set, alone.
static bool one_of(const char* v, size_t n, const char* set)
{
    return n == 1 && strchr(set, v[0]);
}

static bool package_chars(const char* s, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

static bool package_ok(const char* s, size_t n)
{
    if (n == 0 || n > PACKAGE_NAME_MAX || !package_chars(s, n))
        return false;
    return !(n == 1 && s[0] == '.') && !(n == 2 && s[0] == '.' && s[1] == '.');
}

// The characters of package-setup.sh's own check: nothing a shell, a
// Windows port or path name, or an option parser gives a meaning to. A
// backslash would name a printer on another machine, '|' or ':' a port,
// '/' a path; a leading '-' reads as an option.
static bool printer_ok(const char* s, size_t n)
{
    if (n == 0 || n > PRINTER_NAME_MAX || s[0] == '-')
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || (c && strchr(" ._+()#&@-", c));
        if (!ok)
            return false;
    }
    return true;
}

#define CHOICE_NAME_MAX 64

// A GPD symbol of 1 to CHOICE_NAME_MAX characters at s, ending at stop (or
// the end); *end is set past it.
static bool choice_name(const char* s, size_t n, char stop, size_t* end)
{
    size_t i = 0;
    for (; i < n && s[i] != stop; i++) {
        char c = s[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '.' || c == '-';
        if (!ok || i == CHOICE_NAME_MAX)
            return false;
    }
    *end = i;
    return i > 0;
}

// "Feature=Option;Feature=Option".
static bool choices_ok(const char* s, size_t n)
{
    size_t at = 0, end;
    while (true) {
        if (!choice_name(s + at, n - at, '=', &end) || at + end == n)
            return false;
        at += end + 1;
        if (!choice_name(s + at, n - at, ';', &end))
            return false;
        at += end;
        if (at == n)
            return true;
        at++; // the ';'
    }
}

static bool value_ok(job_rule rule, const char* v, size_t n)
{
    size_t end = 0, end2 = 0;
    if (rule == JOB_RULE_TITLE)
        return title_text(v, n);
    if (!printable(v, n))
        return false;
    switch (rule) {
    case JOB_RULE_PACKAGE:
        return package_ok(v, n);
    case JOB_RULE_PRINTER:
        return printer_ok(v, n);
    case JOB_RULE_PAPERCODE:
        return number_in(v, n, 1, PAPERCODE_MAX, &end) && end == n;
    case JOB_RULE_RESOLUTION:
        if (!number_in(v, n, DPI_MIN, DPI_MAX, &end))
            return false;
        if (end == n)
            return true;
        return v[end] == 'x' && number_in(v + end + 1, n - end - 1, DPI_MIN, DPI_MAX, &end2)
            && end + 1 + end2 == n;
    case JOB_RULE_WINCODE:
        return number_in(v, n, 1, PAPERCODE_MAX, &end) && end == n;
    case JOB_RULE_DUPLEX:
        return one_of(v, n, "123");
    case JOB_RULE_COLOR:
        return one_of(v, n, "12");
    case JOB_RULE_COUNT:
        return number_in(v, n, 1, COUNT_MAX, &end) && end == n;
    case JOB_RULE_FLAG:
        return one_of(v, n, "01");
    case JOB_RULE_CHOICES:
        return choices_ok(v, n);
    case JOB_RULE_TITLE:
    case JOB_RULE_TEXT:
        return true;
    }
    return false;
}

// The rule of an allowed key, or false when the key is not allowed.
static bool key_rule(const char* key, size_t klen, job_rule* rule)
{
    for (const job_key& k : k_job_keys) {
        if (strlen(k.name) == klen && memcmp(k.name, key, klen) == 0) {
            *rule = k.rule;
            return true;
        }
    }
    size_t plen = strlen(JOB_OPTION_PREFIX);
    if (klen <= plen || klen > plen + JOB_OPTION_NAME_MAX
        || memcmp(key, JOB_OPTION_PREFIX, plen) != 0)
        return false;
    for (size_t i = plen; i < klen; i++) {
        char c = key[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    *rule = JOB_RULE_TEXT;
    return true;
}

job_verdict job_entry_check(const char* entry, size_t len)
{
    const char* eq = (const char*)memchr(entry, '=', len);
    if (!eq)
        return JOB_ENTRY_NO_EQUALS;
    size_t klen = (size_t)(eq - entry);
    job_rule rule;
    if (!key_rule(entry, klen, &rule))
        return JOB_ENTRY_UNKNOWN_KEY;
    const char* value = eq + 1;
    size_t vlen = len - klen - 1;
    if (vlen > JOB_VALUE_MAX || !value_ok(rule, value, vlen))
        return JOB_ENTRY_BAD_VALUE;
    return JOB_ENTRY_OK;
}

bool job_value_ok(const char* key, const char* value)
{
    job_rule rule;
    size_t vlen = strlen(value);
    return key_rule(key, strlen(key), &rule) && vlen <= JOB_VALUE_MAX
        && value_ok(rule, value, vlen);
}

const char* job_verdict_text(job_verdict v)
{
    switch (v) {
    case JOB_ENTRY_OK:
        return "allowed";
    case JOB_ENTRY_NO_EQUALS:
        return "no '=' in the entry";
    case JOB_ENTRY_UNKNOWN_KEY:
        return "not a job option";
    case JOB_ENTRY_BAD_VALUE:
        return "value not allowed";
    }
    return "refused";
}

bool job_keys_collide(const char* key, size_t klen, const char* other, size_t olen)
{
    return klen == olen && strncasecmp(key, other, klen) == 0;
}

bool job_package_name_ok(const char* name)
{
    return name && package_ok(name, strlen(name));
}
