// Why a job cannot print, found out by the filter itself so that CUPS shows
// the reason (job-printer-state-message, lpstat -l -p) instead of pointing
// at the daemon's log.  Nothing of this goes over the wire.
#pragma once

// Runs the active-user script as the filter's own user.  Returns false,
// after an ERROR: line for CUPS, when the script says there is nobody to
// print as; true when it names a user or cannot tell (the daemon decides).
bool print_user_present(void);

// Writes the ERROR: line for a connect to the daemon that failed with err;
// a daemon that does not run gets how to start it.
void report_connect_failure(int err);
