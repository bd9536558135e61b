// Child processes: starting one with its own descriptors and environment,
// waiting with a timeout, finding and ending every child; the clock the
// waits use; running the shared sandbox functions.
#include "cups_util.h"
#include "internal.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

long support::now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

void support::sleep_ms(int ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

static void apply_env(const std::vector<std::string>& env)
{
    for (const std::string& e : env) {
        size_t eq = e.find('=');
        if (eq == std::string::npos)
            unsetenv(e.c_str());
        else
            setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
}

void support::exec_child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
    int in, int out, int err)
{
    setpgid(0, 0);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 1024; fd++)
        close(fd);
    signal(SIGPIPE, SIG_DFL);
    apply_env(env);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    dprintf(2, "exec %s: %s\n", args[0], strerror(errno));
    _exit(127);
}

static int open_or_exit(const std::string& path, int flags)
{
    int fd = open(path.empty() ? "/dev/null" : path.c_str(), flags, 0644);
    if (fd < 0)
        _exit(126);
    return fd;
}

pid_t spawn(const std::vector<std::string>& argv, const child_io& io)
{
    pid_t pid = fork();
    if (pid == 0)
        support::exec_child(argv, io.env, open_or_exit(io.in, O_RDONLY),
            open_or_exit(io.out, O_WRONLY | O_CREAT | O_TRUNC),
            open_or_exit(io.err, O_WRONLY | O_CREAT | O_TRUNC));
    if (pid > 0)
        setpgid(pid, pid);
    return pid;
}

int wait_for(pid_t pid, int timeout_s)
{
    long end = support::now_ms() + timeout_s * 1000L;
    for (;;) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0)
            return -1;
        if (support::now_ms() >= end) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(10000);
    }
}

int run(const std::vector<std::string>& argv, const child_io& io, int timeout_s)
{
    pid_t pid = spawn(argv, io);
    return pid < 0 ? -1 : wait_for(pid, timeout_s);
}

std::vector<pid_t> support::children_of_self(void)
{
    std::vector<pid_t> kids;
    DIR* d = opendir("/proc");
    if (!d)
        return kids;
    pid_t self = getpid();
    while (struct dirent* e = readdir(d)) {
        pid_t pid = (pid_t)atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::string stat = read_text("/proc/" + std::string(e->d_name) + "/stat");
        size_t paren = stat.rfind(')');
        if (paren == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0;
        if (sscanf(stat.c_str() + paren + 1, " %c %d", &state, &ppid) == 2 && ppid == self)
            kids.push_back(pid);
    }
    closedir(d);
    return kids;
}

void support::kill_children(void)
{
    // Killing a process hands its children to us; repeat until none is left.
    for (int round = 0; round < 500; round++) {
        std::vector<pid_t> kids = children_of_self();
        if (kids.empty() && waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD)
            return;
        for (pid_t k : kids)
            kill(k, SIGKILL);
        for (pid_t k : kids)
            waitpid(k, nullptr, 0);
        while (waitpid(-1, nullptr, WNOHANG) > 0) { }
        if (kids.empty())
            sleep_ms(10);
    }
    fprintf(stderr, "processes left behind\n");
}

std::string support::sandbox_source(void)
{
    return std::string("SANDBOX_RIG_DIR=") + RIG_DIR + "\n. " + RIG_DIR + "/sandbox.sh\n";
}

int support::sandbox_run(
    const std::string& tmp, const std::string& commands, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"bash", "-ec", sandbox_source() + commands, "sandbox"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0)
        exec_child(argv, {"SANDBOX_TMP=" + tmp}, 0, 1, 2);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
