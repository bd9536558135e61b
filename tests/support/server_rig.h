// A print server for tests and benchmarks: a private cupsd, the real
// zk_filter, probe, launcher and package scripts inside private mount and
// network namespaces (see sandbox.sh), with Wine replaced by a stand-in that
// records who ran each job where.  A second private cupsd in a network
// namespace of its own, joined by a veth pair, plays an office computer
// that has the server's shared queue "tessal" as an IPP printer ("office").
// Queues: tessal and tessal1 print through the package generic-ps, tessal2
// through generic-ps2, laser through generic-ps with the PPD of the laser
// fixture's listing.  The service account is uid 1651.  Needs root.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct server_rig {
    std::string dir; // scratch: stage, sandbox state, documents
    std::string state; // sandbox state: the users' homes live here
    std::string out; // where the server's backend writes each job's output
    std::string records; // one line per print-tool run, written by the stand-in
    std::string pdf; // a 2-page A4 document
    std::string office; // the office computer's cupsd socket
    pid_t daemon = -1;
};

extern server_rig srv;

// One run of the stand-in print tool.
struct server_record {
    long long start = 0, end = 0; // ns since the epoch
    int uid = -1;
    std::string prefix, display; // display "unset" when there was none
    long bytes = 0; // page data it read
};

// Enters the namespaces and starts everything; CUPS_SERVER then names the
// server's cupsd.  Returns false after saying why on stderr.
bool server_rig_start(void);
// Stops everything and removes the scratch area.
void server_rig_stop(void);

// Runs shell commands with sandbox.sh's functions at hand.
std::string server_sandbox(const std::string& commands, int* status);
// Runs shell commands (bash -e); output and errors in *out.
int server_shell(const std::string& commands, std::string* out);
pid_t server_start_daemon(void);
std::string server_logs(void);
std::vector<server_record> server_records(void);
std::string server_output_of(int id);
// The job options the stand-in print tool got for job id (from its
// output), and "pages", where it kept the pages (when asked to).
std::map<std::string, std::string> server_job_options(int id);
long server_now_ms(void);

// Four users send five jobs each at once, alternating between tessal1 and
// tessal2.  Returns the job ids in submission order (empty on failure).
std::vector<int> server_submit_burst(std::string* out);
