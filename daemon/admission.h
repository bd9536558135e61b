// Who may send jobs: only the print system's user "lp".  The listener checks
// the peer's credentials right after accept, so that nobody else costs it any
// time; the worker then reads the admission message, with the credentials
// the client sends along, before it reads anything of the job.
#pragma once

// Seconds the worker waits for a new connection's admission message.
#define ADMISSION_WAIT_SECONDS 3

// True when the connected peer runs as "lp".  Otherwise logs the peer's
// pid, uid and gid and returns false.
bool peer_is_lp(int conn);

// Reads the admission message and checks that its credentials are lp's.
// Logs the cause and returns false when the connection is refused.
bool admit(int conn);
