// One admitted job: reads its options, becomes the desktop user, runs the
// package's configure step, starts the print tool and relays its output.
#pragma once

#include <sys/types.h>

// Admits the connection, carries out its job and ends the process; never
// returns.
[[noreturn]] void run_worker(int conn);
