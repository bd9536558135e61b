// Helpers for the CUPS tests: running programs with a timeout
// (processes.cpp), files (files.cpp), the programs under test, raster made
// with CUPS's own tools and jobs as the scheduler reports them (cups_util.cpp).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// How a child process should be started.
struct child_io {
    std::string in; // file for stdin ("" = /dev/null)
    std::string out; // file for stdout ("" = /dev/null)
    std::string err; // file for stderr ("" = /dev/null)
    std::vector<std::string> env; // extra KEY=VALUE on top of ours
};

// Starts argv (argv[0] searched in PATH) in a process group of its own.
pid_t spawn(const std::vector<std::string>& argv, const child_io& io);

// Waits up to timeout_s for pid; on timeout kills its process group and
// returns -1.  Otherwise returns the exit status, or 128 + signal.
int wait_for(pid_t pid, int timeout_s);

// spawn + wait_for.
int run(const std::vector<std::string>& argv, const child_io& io, int timeout_s);

// read_file and write_file of test_support.h.
std::string read_text(const std::string& path);
bool write_text(const std::string& path, const std::string& data);
std::string temp_dir(const char* tag); // /tmp/TAG.XXXXXX, mode 0755
void remove_dir(const std::string& dir); // remove_tree of test_support.h

// Paths given by the build.
std::string filter_path();
std::string mkppd_path();
std::string fixture(const char* name);

// Writes the test queue PPD (all sizes, 300 and 600 dpi, all colour modes)
// with tessal-mkppd.  Returns its path or "".
std::string make_test_ppd(const std::string& dir, const char* package, const char* model);

// Renders a document to CUPS raster with cupsfilter for the given PPD and
// options (e.g. {"ColorModel=Gray", "PageSize=A4", "Resolution=600dpi"}).
bool render_raster(const std::string& ppd, const std::string& doc,
    const std::vector<std::string>& options, const std::string& out);

// A job as the scheduler at CUPS_SERVER reports it.
struct cups_job {
    int state = 0; // ipp_jstate_t, 0 when the job cannot be read
    int impressions = -1;
    std::string message; // job-printer-state-message
};

// Prints file on queue with lp as the given requesting user ("" = the
// caller).  Returns the job id, or -1.
int cups_submit(const std::string& queue, const std::string& file,
    const std::vector<std::string>& options, const std::string& user);

cups_job cups_get_job(int id);

// Waits up to timeout_s for the job to end (completed, stopped, canceled or
// aborted); returns what the scheduler last said about it.
cups_job cups_wait_job(int id, int timeout_s);
