// One admitted job: reads its options, becomes the desktop user, runs the
// package's configure step, starts the print tool and relays its output.
#pragma once

#include <sys/types.h>

// Admits the connection, carries out its job and ends the process; never
// returns.
[[noreturn]] void run_worker(int conn);

// Copies everything from the pipe to the connection until the pipe ends.
// Short writes continue with the rest of the chunk; after a failed write
// the rest of the output is read and discarded so the writer never blocks.
// Returns false when a write failed.
bool relay_output(int pipe_fd, int conn);
