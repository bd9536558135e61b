// The job info block: a 4-byte host-order length, then NUL-terminated
// KEY=VALUE entries laid end to end.
#pragma once

#include <stdint.h>

// Longest job info block accepted, and how long its reading may take.
#define BLOCK_MAX_BYTES 65536
#ifndef BLOCK_READ_SECONDS
#define BLOCK_READ_SECONDS 10
#endif

// Reads the length and exactly that many block bytes from fd, leaving the
// rest of the stream unread.  The buffer gets one NUL past the block so that
// a last entry without its own NUL is still a terminated string.  A length
// above BLOCK_MAX_BYTES, or a block that has not arrived within
// BLOCK_READ_SECONDS, is refused.  Logs the cause and returns null on failure.
char* read_block(int fd, int32_t* len);

// Value of the first entry whose key equals name, or null.
const char* find_option(const char* block, int32_t len, const char* name);

// Stores a pointer to each entry in vec while fewer than cap are stored;
// returns the number of entries in the block.
int split_options(char* block, int32_t len, char** vec, int cap);
