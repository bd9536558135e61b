// What the library's own files share and the suites do not see: the suites
// include test_support.h, rig.h, cups_util.h, fake_daemon.h, server_rig.h
// and wine_tool.h.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace support {

// Milliseconds on the monotonic clock, and a sleep of that many.
long now_ms(void);
void sleep_ms(int ms);

// Creates path and its missing parents with mode.  0, or -1 with errno.
int mkdir_p(const std::string& path, mode_t mode);

// In a forked child: a process group of its own, in/out/err as descriptors
// 0-2, every other descriptor closed, SIGPIPE back to its default, `env`
// applied ("KEY=VALUE" sets, "KEY" alone unsets), then argv[0] (searched in
// PATH).  Exits 127 when it cannot be run.
[[noreturn]] void exec_child(const std::vector<std::string>& argv,
    const std::vector<std::string>& env, int in, int out, int err);

// The processes whose parent is this one, zombies included.
std::vector<pid_t> children_of_self(void);

// Kills and reaps every child, and the children handed to us as their
// parents die (this process is a child subreaper), until none is left.
void kill_children(void);

// Sources rigs/sandbox.sh in a bash script (SANDBOX_RIG_DIR set too).
std::string sandbox_source(void);

// Runs bash commands with rigs/sandbox.sh's functions at hand, SANDBOX_TMP
// set to `tmp` and the arguments as $1...; stdout and stderr are ours.
// Returns the exit status (127 when bash cannot be run, -1 without a fork).
int sandbox_run(
    const std::string& tmp, const std::string& commands, const std::vector<std::string>& args);

}
