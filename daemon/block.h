// The job info block: a 4-byte host-order length, then NUL-terminated
// KEY=VALUE entries laid end to end.
#pragma once

#include <stdint.h>

// Reads the length and exactly that many block bytes from fd, leaving the
// rest of the stream unread.  The buffer gets one NUL past the block so that
// a last entry without its own NUL is still a terminated string.  Logs the
// cause and returns null on failure.
char* read_block(int fd, int32_t* len);

// Value of the first entry whose key equals name, or null.
const char* find_option(const char* block, int32_t len, const char* name);

// Stores a pointer to each entry in vec while fewer than cap are stored;
// returns the number of entries in the block.
int split_options(char* block, int32_t len, char** vec, int cap);

// A package name becomes a directory name under the package root and under
// the user's home: it must be one plain path component.
bool package_name_ok(const char* name);
