// Running commands with a timeout, and small file helpers.
#include "test_support.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

double now_sec()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void apply_env(const std::vector<std::string>& env)
{
    for (const std::string& e : env) {
        size_t eq = e.find('=');
        if (eq == std::string::npos)
            unsetenv(e.c_str());
        else
            setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
}

[[noreturn]] void exec_child(const std::vector<std::string>& argv,
    const std::vector<std::string>& env, int in, int out, int err)
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

} // namespace

RunResult run_command(const std::vector<std::string>& argv, const std::vector<std::string>& env,
    const std::string& input, int timeoutSec, bool holdInput)
{
    RunResult res;
    int inPipe[2], outPipe[2], errPipe[2];
    if (argv.empty() || pipe2(inPipe, O_CLOEXEC) != 0)
        return res;
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]);
        close(inPipe[1]);
        return res;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]);
        close(inPipe[1]);
        close(outPipe[0]);
        close(outPipe[1]);
        return res;
    }
    void (*oldPipe)(int) = signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0)
        exec_child(argv, env, inPipe[0], outPipe[1], errPipe[1]);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        signal(SIGPIPE, oldPipe);
        return res;
    }
    setpgid(pid, pid);
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);

    int inFd = inPipe[1], outFd = outPipe[0], errFd = errPipe[0];
    size_t written = 0;
    if (input.empty() && !holdInput) {
        close(inFd);
        inFd = -1;
    }
    const double deadline = now_sec() + timeoutSec;
    double exitedAt = 0;
    int status = 0;
    bool exited = false;
    char buf[65536];
    while (outFd >= 0 || errFd >= 0 || !exited) {
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            exitedAt = now_sec();
            if (inFd >= 0) {
                close(inFd);
                inFd = -1;
            }
        }
        double t = now_sec();
        if (!exited && t > deadline) {
            kill(-pid, SIGKILL);
            res.timedOut = true;
            waitpid(pid, &status, 0);
            exited = true;
            exitedAt = t;
        }
        // Wine's background processes may keep our pipes open long after the
        // program has ended: stop reading 2 s after the end.
        if (exited && t > exitedAt + 2.0)
            break;
        struct pollfd fds[3];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0 && written < input.size())
            fds[n++] = {inFd, POLLOUT, 0};
        poll(fds, n, 50);
        for (int i = 0; i < n; i++) {
            if (!fds[i].revents)
                continue;
            int fd = fds[i].fd;
            if (fd == inFd) {
                ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += w;
                if ((w < 0 && errno != EAGAIN) || (written == input.size() && !holdInput)) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            ssize_t r = read(fd, buf, sizeof(buf));
            if (r > 0) {
                (fd == outFd ? res.out : res.err).append(buf, r);
            } else if (r == 0 || errno != EINTR) {
                close(fd);
                if (fd == outFd)
                    outFd = -1;
                else
                    errFd = -1;
            }
        }
    }
    for (int fd : {inFd, outFd, errFd})
        if (fd >= 0)
            close(fd);
    signal(SIGPIPE, oldPipe);
    if (WIFEXITED(status))
        res.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        res.exitCode = 128 + WTERMSIG(status);
    return res;
}

std::string make_temp_dir(const char* tag)
{
    std::string tmpl = std::string("/tmp/tessal-") + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return "";
    return buf.data();
}

static int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
    remove(path);
    return 0;
}

void remove_tree(const std::string& dir)
{
    if (dir.size() > 5 && dir.compare(0, 5, "/tmp/") == 0)
        nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string read_file(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

bool write_file(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}
