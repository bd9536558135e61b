// The print tool's environment is an allow-list: only job options that the
// system knows (see protocol/job-keys.list), each with a value that meets
// its rule, reach it. Everything else a client sends is dropped here.
#pragma once

#include <stdint.h>

// Removes from the block every entry that may not reach the print tool: an
// entry without '=', a key that is not a job option, a value that breaks its
// key's rule, and a key that repeats an earlier kept key when case is
// ignored. Kept entries stay in order and are moved together at the start of
// the block; each dropped one is logged with its key. Returns the new length.
int32_t filter_block(char* block, int32_t len);
