#include "cups_util.h"

#include <cups/cups.h>

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static void redirect(const std::string& path, int fd, int flags)
{
    const char* p = path.empty() ? "/dev/null" : path.c_str();
    int f = open(p, flags, 0644);
    if (f < 0)
        _exit(126);
    dup2(f, fd);
    if (f != fd)
        close(f);
}

pid_t spawn(const std::vector<std::string>& argv, const child_io& io)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    setpgid(0, 0);
    redirect(io.in, 0, O_RDONLY);
    redirect(io.out, 1, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(io.err, 2, O_WRONLY | O_CREAT | O_TRUNC);
    for (const std::string& e : io.env)
        putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back((char*)a.c_str());
    args.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execvp(args[0], args.data());
    _exit(127);
}

int wait_for(pid_t pid, int timeout_s)
{
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0)
            return -1;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= timeout_s) {
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

std::string read_text(const std::string& path)
{
    std::string s;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

bool write_text(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

std::string temp_dir(const char* tag)
{
    std::string t = std::string("/tmp/") + tag + ".XXXXXX";
    if (!mkdtemp(&t[0]))
        return "";
    chmod(t.c_str(), 0755);
    return t;
}

// Goes on past what cannot be removed, so that one busy entry does not
// leave the rest behind; does not enter other file systems.
static int remove_one(const char* p, const struct stat*, int, struct FTW*)
{
    remove(p);
    return 0;
}

void remove_dir(const std::string& dir)
{
    if (!dir.empty())
        nftw(dir.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::string filter_path()
{
    return RASTERTOTESSAL_PATH;
}
std::string mkppd_path()
{
    return MKPPD_PATH;
}
std::string fixture(const char* name)
{
    return std::string(FIXTURE_DIR) + "/" + name;
}

std::string make_test_ppd(const std::string& dir, const char* package, const char* model)
{
    std::string out = dir + "/" + package + ".ppd";
    int rc = run({mkppd_path(), "--package", package, "--model", model, "--size", "A4", "--size",
                     "Letter", "--resolution", "300", "--resolution", "600", "--color", "rgb",
                     "--color", "gray", "--color", "mono", "-o", out},
        {}, 30);
    return rc == 0 ? out : "";
}

bool render_raster(const std::string& ppd, const std::string& doc,
    const std::vector<std::string>& options, const std::string& out)
{
    std::vector<std::string> argv = {"cupsfilter", "-p", ppd, "-m", "application/vnd.cups-raster"};
    for (const std::string& o : options) {
        argv.push_back("-o");
        argv.push_back(o);
    }
    argv.push_back(doc);
    child_io io;
    io.out = out;
    io.err = out + ".log";
    return run(argv, io, 120) == 0;
}

int cups_submit(const std::string& queue, const std::string& file,
    const std::vector<std::string>& options, const std::string& user)
{
    std::vector<std::string> argv = {"lp", "-d", queue};
    if (!user.empty())
        argv.insert(argv.end(), {"-U", user});
    for (const std::string& o : options)
        argv.insert(argv.end(), {"-o", o});
    argv.push_back(file);
    std::string out_path = temp_dir("tessal-lp");
    child_io io;
    io.out = out_path + "/out";
    int rc = run(argv, io, 30);
    std::string out = read_text(io.out);
    remove_dir(out_path);
    std::string want = "request id is " + queue + "-";
    size_t at = out.find(want);
    return rc == 0 && at != std::string::npos ? atoi(out.c_str() + at + want.size()) : -1;
}

cups_job cups_get_job(int id)
{
    cups_job job;
    ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[64];
    snprintf(uri, sizeof uri, "ipp://localhost/jobs/%d", id);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "root");
    ipp_t* resp = cupsDoRequest(CUPS_HTTP_DEFAULT, req, "/");
    if (!resp)
        return job;
    if (ipp_attribute_t* a = ippFindAttribute(resp, "job-state", IPP_TAG_ENUM))
        job.state = ippGetInteger(a, 0);
    if (ipp_attribute_t* a = ippFindAttribute(resp, "job-impressions-completed", IPP_TAG_INTEGER))
        job.impressions = ippGetInteger(a, 0);
    if (ipp_attribute_t* a = ippFindAttribute(resp, "job-printer-state-message", IPP_TAG_TEXT))
        job.message = ippGetString(a, 0, nullptr);
    ippDelete(resp);
    return job;
}

cups_job cups_wait_job(int id, int timeout_s)
{
    cups_job job;
    for (int i = 0; i < timeout_s * 10; i++) {
        job = cups_get_job(id);
        if (job.state >= IPP_JSTATE_STOPPED && job.state != IPP_JSTATE_PROCESSING)
            return job;
        usleep(100000);
    }
    return job;
}
