// The job's two streams through the worker: the client's pages to the print
// tool's standard input, and the tool's standard output back to the client.
// Carrying both lets the worker see a client that goes away and a job that
// has stopped moving, with one poll loop and no timers or signals.
#pragma once

// A job is stopped when no byte has moved between the client and the print
// tool, either way, for this long.  Time spent waiting for the client to
// take output does not count: a printer that is slow or waits for paper
// holds the client, not the tool, and cancelling the job closes the client.
// It is longer than the launcher's 15-minute wait for the prefix's lock, so
// that a job queued behind a long one in the same prefix is not stopped.
#ifndef JOB_IDLE_SECONDS
#define JOB_IDLE_SECONDS 1200
#endif

enum relay_end {
    RELAY_DONE, // the tool's output ended and all of it reached the client
    RELAY_CLIENT_GONE, // the client hung up, or a write to it failed
    RELAY_IDLE // nothing moved for JOB_IDLE_SECONDS
};

// Relays until the tool's output ends, the client goes away or the job
// stands still; logs why it stopped early.  tool_in is the worker's end of a
// stream socket pair whose other end is the tool's standard input; end of
// pages from the client becomes end of input there.  Pages the tool no
// longer takes are read and dropped, so the client never blocks on them.
relay_end relay_job(int conn, int tool_in, int tool_out);
