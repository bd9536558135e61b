// The daemon's listening socket and its accept loop.
#pragma once

// Takes the socket from systemd socket activation or creates the daemon's own
// abstract socket.  Returns it, or -1 after logging the cause.
int acquire_listen_socket(void);

// Accepts connections from lp and hands each to a worker of its own, at most
// a fixed number at once, until accept fails; returns -1.
int listen_loop(int listen_fd);
