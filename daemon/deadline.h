// Time limits for the worker's waits: reading from a client or a script,
// and waiting for a child process.
#pragma once

#include <sys/types.h>
#include <time.h>

// The moment seconds from now, on the monotonic clock.
struct timespec deadline_after(int seconds);

// Milliseconds until deadline, 0 when it has passed.
long deadline_ms_left(const struct timespec* deadline);

// One read that waits for data no later than deadline.  Returns what read
// returned, or DEADLINE_PASSED.
#define DEADLINE_PASSED (-2)
ssize_t read_by(int fd, void* buf, size_t n, const struct timespec* deadline);

// Waits for the child pid to end, no later than deadline.  Returns true with
// its wait status, or false when the time ran out (the child still runs).
bool wait_by(pid_t pid, int* status, const struct timespec* deadline);

// Kills the process group pgid and reaps its leader pid.
void kill_group(pid_t pgid, pid_t pid);
