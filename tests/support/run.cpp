// Running a command with a timeout, collecting its output.
#include "test_support.h"

#include "internal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

RunResult run_command(const std::vector<std::string>& argv, const std::vector<std::string>& env,
    const std::string& input, int timeoutSec, bool holdInput, const InputHold* hold)
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
        support::exec_child(argv, env, inPipe[0], outPipe[1], errPipe[1]);
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
    const long deadline = support::now_ms() + timeoutSec * 1000L;
    long exitedAt = 0;
    int status = 0;
    bool exited = false;
    char buf[65536];
    bool held = hold != nullptr;
    while (outFd >= 0 || errFd >= 0 || !exited) {
        if (held && written >= hold->at && hold->until(res.out))
            held = false;
        size_t sendable = held && hold->at < input.size() ? hold->at : input.size();
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            exitedAt = support::now_ms();
            if (inFd >= 0) {
                close(inFd);
                inFd = -1;
            }
        }
        long t = support::now_ms();
        if (!exited && t > deadline) {
            kill(-pid, SIGKILL);
            res.timedOut = true;
            waitpid(pid, &status, 0);
            exited = true;
            exitedAt = t;
        }
        // Wine's background processes may keep our pipes open long after the
        // program has ended: stop reading 2 s after the end.
        if (exited && t > exitedAt + 2000)
            break;
        struct pollfd fds[3];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0 && written < sendable)
            fds[n++] = {inFd, POLLOUT, 0};
        poll(fds, n, 50);
        for (int i = 0; i < n; i++) {
            if (!fds[i].revents)
                continue;
            int fd = fds[i].fd;
            if (fd == inFd) {
                ssize_t w = write(inFd, input.data() + written, sendable - written);
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
