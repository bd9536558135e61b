// Which job info block entries may reach the print tool, and the rules
// their values must meet. The allowed keys come from job-keys.list.
#pragma once

#include <stddef.h>

// Longest value any job option may carry.
#define JOB_VALUE_MAX 255
// Keys of driver packages' own options: OPT_ and 1 to 32 of A-Z, 0-9, '_'.
#define JOB_OPTION_PREFIX "OPT_"
#define JOB_OPTION_NAME_MAX 32

enum job_rule {
    JOB_RULE_PACKAGE,
    JOB_RULE_PRINTER,
    JOB_RULE_PAPERCODE,
    JOB_RULE_RESOLUTION,
    JOB_RULE_WINCODE,
    JOB_RULE_DUPLEX,
    JOB_RULE_COLOR,
    JOB_RULE_COUNT,
    JOB_RULE_FLAG,
    JOB_RULE_TITLE,
    JOB_RULE_TEXT,
    JOB_RULE_CHOICES
};

enum job_verdict { JOB_ENTRY_OK, JOB_ENTRY_NO_EQUALS, JOB_ENTRY_UNKNOWN_KEY, JOB_ENTRY_BAD_VALUE };

// Checks one KEY=VALUE entry of len bytes (no NUL needed): its key must be
// an allowed one, compared exactly, and its value must meet the key's rule.
job_verdict job_entry_check(const char* entry, size_t len);

// True when value would pass as the value of key: the sending side checks
// its entries with the same rules as the daemon.
bool job_value_ok(const char* key, const char* value);

// Short reason for a refused entry, for the log.
const char* job_verdict_text(job_verdict v);

// True when key (klen bytes) and other (olen bytes) are the same key when
// case is ignored, as the Windows side would take them.
bool job_keys_collide(const char* key, size_t klen, const char* other, size_t olen);

// A package name becomes a directory name under the package root and under
// the user's home: letters, digits, '.', '_' and '-', not "." or "..", at
// most 64 bytes.
bool job_package_name_ok(const char* name);
