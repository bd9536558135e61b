// The daemon's listening socket and its accept loop.
#pragma once

// Seconds the listener waits for a new connection's admission message.
#define ADMISSION_WAIT_SECONDS 3

// Takes the socket from systemd socket activation or creates the daemon's own
// abstract socket.  Returns it, or -1 after logging the cause.
int acquire_listen_socket(void);

// Accepts, admits and hands off connections until accept fails; returns -1.
int listen_loop(int listen_fd);
