// The whole job path without CUPS: the real zk_filter in private namespaces,
// with the real tessal-wine, strelwick.exe and sample package laid over /usr
// and /opt from the staged install. Only the probe is a stub: it names a
// test user with a home directory. Jobs are sent as lp, the PostScript that
// comes back is rendered and compared with the pages pixel for pixel, and
// the print tool's processes are watched through /proc while they run.
#include "rig.h"
#include "test_support.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Each test has its own user id, so that tests running side by side never
// see each other's processes.
uid_t kUid = 2610;
const gid_t kExtraGid = 2990;
const char kUser[] = "tessdesk";
const char kHome[] = "/home/tessdesk";
const char kPrefix[] = "/home/tessdesk/.tessalwine/generic-ps";
const char kDriverRoot[] = "/opt/tessalwine/printer_drv";
// A4 at 300 dpi as wineps lays it out.
const int kDpi = 300, kPageW = 2480, kPageH = 3507;

long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

struct Proc {
    pid_t pid = 0, ppid = 0;
    std::string cmdline, uid, gid, groups, wineprefix;
};

std::string status_field(const std::string& status, const char* key)
{
    size_t at = status.find(std::string("\n") + key + ":");
    if (at == std::string::npos)
        return "";
    at += strlen(key) + 2;
    size_t end = status.find('\n', at);
    std::string v = status.substr(at, end - at);
    v.erase(0, v.find_first_not_of(" \t"));
    return v;
}

std::string mount_namespace(const std::string& proc_dir)
{
    char buf[64];
    ssize_t n = readlink((proc_dir + "/ns/mnt").c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, (size_t)n) : "";
}

// Processes of this test's rig (its mount namespace) whose command line
// contains `needle`, with their identity. Other tests that run Wine at the
// same time stay out.
std::vector<Proc> find_procs(const std::string& needle)
{
    std::vector<Proc> found;
    std::string ours = mount_namespace("/proc/self");
    DIR* d = opendir("/proc");
    if (!d)
        return found;
    while (dirent* e = readdir(d)) {
        pid_t pid = (pid_t)atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::string dir = "/proc/" + std::string(e->d_name);
        if (mount_namespace(dir) != ours)
            continue;
        std::string cmd = rig_read_file((dir + "/cmdline").c_str());
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        if (cmd.find(needle) == std::string::npos)
            continue;
        Proc p;
        p.pid = pid;
        p.cmdline = cmd;
        std::string status = rig_read_file((dir + "/status").c_str());
        p.uid = status_field(status, "Uid");
        p.gid = status_field(status, "Gid");
        p.groups = status_field(status, "Groups");
        p.ppid = (pid_t)atoi(status_field(status, "PPid").c_str());
        std::string env = rig_read_file((dir + "/environ").c_str());
        for (size_t at = 0; at < env.size();) {
            size_t end = env.find('\0', at);
            std::string var = env.substr(at, end - at);
            if (var.rfind("WINEPREFIX=", 0) == 0)
                p.wineprefix = var.substr(11);
            at = end == std::string::npos ? env.size() : end + 1;
        }
        found.push_back(p);
    }
    closedir(d);
    return found;
}

// Where the process's descriptors 0 to 2 point.
std::vector<std::string> open_files(pid_t pid)
{
    std::vector<std::string> targets;
    for (int fd = 0; fd <= 2; fd++) {
        char buf[512];
        std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
        ssize_t n = readlink(link.c_str(), buf, sizeof buf);
        if (n > 0)
            targets.emplace_back(buf, (size_t)n);
    }
    return targets;
}

// The prefix's own wineserver: the one process named wineserver of the user.
std::set<pid_t> wineservers()
{
    std::set<pid_t> s;
    for (const Proc& p : find_procs("wineserver"))
        if (p.uid.rfind(std::to_string(kUid) + "\t", 0) == 0)
            s.insert(p.pid);
    return s;
}

// The launcher (tessal-wine) process above pid, or 0.
pid_t launcher_of(pid_t pid)
{
    for (int depth = 0; depth < 16 && pid > 1; depth++) {
        std::string dir = "/proc/" + std::to_string(pid);
        std::string cmd = rig_read_file((dir + "/cmdline").c_str());
        if (cmd.find("tessal-wine") != std::string::npos)
            return pid;
        pid = (pid_t)atoi(status_field(rig_read_file((dir + "/status").c_str()), "PPid").c_str());
    }
    return 0;
}

struct Job {
    std::string out;
    bool ended = false;
    long connect_ms = 0, first_byte_ms = -1, last_byte_ms = -1;
    // Every print-tool process seen while the job ran, and the largest
    // number of them seen at one time (all jobs together).
    std::vector<Proc> tools;
};

// Besides the job's options, entries a hostile client might add: a bus
// address that would make Wine's device service run a program, a library
// path, and a driver option to trace where the job's entries go.
std::vector<std::string> job_entries()
{
    return {"PACKAGENAME=generic-ps", "MODEL=Tessal Generic", "PAGESIZE=9", "DPI=300",
        "DBUS_SYSTEM_BUS_ADDRESS=unixexec:path=/opt/evil.sh", "FONTCONFIG_FILE=/opt/evil.conf",
        "OPT_TESSAL_MARK=job-entry"};
}

std::string pages_of(const std::vector<TestImage>& images)
{
    std::string s;
    for (const TestImage& img : images) {
        std::vector<uint8_t> bmp = make_bmp(img, BmpFormat());
        s.append((const char*)bmp.data(), bmp.size());
    }
    return s;
}

// Runs the jobs at once: one sender thread each, while this thread reads
// every connection to its end and samples /proc for the print tool.
int run_jobs(std::vector<Job>& jobs, const std::vector<std::string>& pages)
{
    std::vector<int> fds;
    std::vector<std::thread> senders;
    for (size_t i = 0; i < jobs.size(); i++) {
        jobs[i].connect_ms = now_ms();
        int fd = rig_connect_as(7, 7, 1, RIG_ADMIT);
        if (fd < 0)
            return -1;
        fds.push_back(fd);
        senders.emplace_back([fd, &pages, i] {
            std::vector<std::string> e = job_entries();
            std::vector<const char*> entries;
            for (const std::string& s : e)
                entries.push_back(s.c_str());
            wire_send_block(fd, entries.data(), entries.size());
            wire_send_all(fd, pages[i].data(), pages[i].size());
            wire_end_pages(fd);
        });
    }
    size_t most_at_once = 0;
    std::set<pid_t> seen;
    long deadline = now_ms() + 240000;
    size_t open_count = jobs.size();
    while (open_count > 0 && now_ms() < deadline) {
        std::vector<pollfd> pfds;
        for (size_t i = 0; i < jobs.size(); i++)
            pfds.push_back({jobs[i].ended ? -1 : fds[i], POLLIN, 0});
        poll(pfds.data(), pfds.size(), 10);
        for (size_t i = 0; i < jobs.size(); i++) {
            if (jobs[i].ended || !(pfds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[65536];
            ssize_t n = read(fds[i], buf, sizeof buf);
            if (n > 0) {
                if (jobs[i].first_byte_ms < 0)
                    jobs[i].first_byte_ms = now_ms();
                jobs[i].last_byte_ms = now_ms();
                jobs[i].out.append(buf, (size_t)n);
            } else {
                jobs[i].ended = true;
                open_count--;
            }
        }
        // One print tool is one launcher's process tree: the launcher's "env"
        // execs Wine, and 64-bit Wine's loader may start the program as its
        // child.  A process whose launcher cannot be found (it is starting or
        // ending) is left for the next sample.  The listing of the driver,
        // which the printer's setup makes, is no job's print tool.
        std::set<pid_t> launchers;
        for (const Proc& p : find_procs("strelwick.exe")) {
            if (p.cmdline.find("tessal-wine") != std::string::npos
                || p.cmdline.find("strelwick.exe caps") != std::string::npos)
                continue;
            pid_t launcher = launcher_of(p.ppid);
            if (launcher <= 0 || !launchers.insert(launcher).second)
                continue;
            if (seen.insert(launcher).second)
                jobs[0].tools.push_back(p);
        }
        most_at_once = std::max(most_at_once, launchers.size());
    }
    for (std::thread& t : senders)
        t.join();
    for (int fd : fds)
        close(fd);
    return (int)most_at_once;
}

void expect_pages(const std::string& ps, const std::vector<TestImage>& images)
{
    ASSERT_EQ(0u, ps.rfind("%!PS", 0)) << "not PostScript: " << ps.substr(0, 80);
    std::vector<TestImage> rendered;
    std::string err;
    ASSERT_TRUE(render_postscript(ps, kDpi, kPageW, kPageH, &rendered, &err)) << err;
    ASSERT_EQ(images.size(), rendered.size());
    for (size_t i = 0; i < images.size(); i++) {
        std::string why;
        EXPECT_EQ(0, compare_on_page(rendered[i], images[i], 0, 0, &why))
            << "page " << i + 1 << ": " << why;
    }
}

std::string stage_dir()
{
    return DIST_STAGE;
}

class FullPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the daemon rig needs root";
        std::string stage = stage_dir();
        ASSERT_EQ(0, access((stage + "/usr/sbin/zk_filter").c_str(), X_OK)) << "no staged install";
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        kUid = 2610 + (uid_t)(std::hash<std::string>()(name) % 300);
        ASSERT_EQ(0, rig_enter());
        ASSERT_EQ(0, rig_add_group("tessextra", kExtraGid, kUser));
        ASSERT_EQ(0, rig_add_user(kUser, kUid, kUid, kHome));
        ASSERT_EQ(0, rig_overlay("/usr", (stage + "/usr").c_str()));
        ASSERT_EQ(0, rig_overlay("/opt", (stage + "/opt").c_str()));
        std::string probe = std::string("echo XUSER=") + kUser + "\necho DISPLAY=:99\n";
        ASSERT_EQ(0, rig_write_file((std::string(kDriverRoot) + "/xpub.sh").c_str(), probe, 0755));
        ASSERT_GT(rig_start_daemon((stage + "/usr/sbin/zk_filter").c_str(), nullptr), 0);
    }

    void TearDown() override
    {
        if (HasFailure()) {
            fprintf(stderr, "---- daemon log ----\n%s---- end ----\n", rig_log().c_str());
            std::string setup = rig_read_file((std::string(kPrefix) + "/tessal-setup.log").c_str());
            fprintf(stderr, "---- prefix setup log ----\n%s---- end ----\n", setup.c_str());
        }
        // A clean stop of the warm wineserver; the rig kills whatever is left.
        std::string cmd = "setpriv --reuid=" + std::to_string(kUid)
            + " --regid=" + std::to_string(kUid) + " --clear-groups env WINEPREFIX=" + kPrefix
            + " timeout 20 wineserver -k >/dev/null 2>&1";
        if (access(kPrefix, F_OK) == 0 && system(cmd.c_str()) != 0) { }
        rig_leave();
    }
};

TEST_F(FullPath, TwoPagesPrintAsTheUserAndTheSecondJobRunsWarm)
{
    struct stat st;
    ASSERT_NE(0, stat(kPrefix, &st)) << "the prefix must not exist before the first job";
    std::vector<TestImage> images
        = {make_test_picture(640, 480, 16), make_test_picture(300, 900, 256)};
    std::vector<std::string> pages = {pages_of(images)};

    ASSERT_EQ(0, rig_write_file("/opt/evil.sh", "#!/bin/sh\ntouch /opt/evil-ran\n", 0755));
    std::vector<Job> first(1);
    run_jobs(first, pages);
    ASSERT_TRUE(first[0].ended) << "the first job did not end";
    expect_pages(first[0].out, images);

    ASSERT_EQ(0, stat(kPrefix, &st)) << "the first job did not create the prefix";
    EXPECT_EQ(kUid, st.st_uid);
    ASSERT_FALSE(first[0].tools.empty()) << "the print tool was never seen running";
    for (const Proc& p : first[0].tools) {
        std::string id = std::to_string(kUid);
        EXPECT_EQ(id + "\t" + id + "\t" + id + "\t" + id, p.uid) << p.cmdline;
        EXPECT_EQ(id + "\t" + id + "\t" + id + "\t" + id, p.gid) << p.cmdline;
        std::string groups = p.groups;
        groups.erase(groups.find_last_not_of(' ') + 1);
        std::set<std::string> got;
        for (size_t at = 0; at < groups.size();) {
            size_t end = groups.find(' ', at);
            got.insert(groups.substr(at, end - at));
            at = end == std::string::npos ? groups.size() : end + 1;
        }
        EXPECT_EQ((std::set<std::string> {id, std::to_string(kExtraGid)}), got) << p.groups;
        EXPECT_EQ(kPrefix, p.wineprefix);
    }

    // The Wine processes that stay warm hold nothing of the job: not the
    // daemon's stderr (its log here), not the connection, not the relay pipe.
    std::string log_path = std::string(rig_scratch()) + "/daemon.log";
    for (const char* name : {"wineserver", ".exe"}) {
        for (const Proc& p : find_procs(name)) {
            for (const std::string& target : open_files(p.pid)) {
                EXPECT_NE(log_path, target) << p.cmdline << " holds the daemon's stderr";
                EXPECT_EQ(std::string::npos, target.find("socket:")) << p.cmdline << ": " << target;
                EXPECT_EQ(std::string::npos, target.find("pipe:")) << p.cmdline << ": " << target;
            }
        }
    }

    // Nothing of the job's block reaches a Wine process that outlives the job,
    // and the bus address in the block never ran anything.
    for (const char* name : {"wineserver", ".exe"}) {
        for (const Proc& p : find_procs(name)) {
            std::string env
                = rig_read_file(("/proc/" + std::to_string(p.pid) + "/environ").c_str());
            for (const char* entry : {"OPT_TESSAL_MARK=", "MODEL=", "DBUS_SYSTEM_BUS_ADDRESS="})
                EXPECT_EQ(std::string::npos, env.find(entry)) << p.cmdline << " carries " << entry;
        }
    }
    EXPECT_NE(0, access("/opt/evil-ran", F_OK)) << "the job's bus address ran a program";

    std::set<pid_t> warm = wineservers();
    EXPECT_EQ(1u, warm.size()) << "no warm wineserver after the first job";
    ino_t prefix_inode = st.st_ino;

    std::vector<TestImage> one = {make_test_picture(500, 500, 2)};
    std::vector<std::string> pages2 = {pages_of(one)};
    std::vector<Job> second(1);
    run_jobs(second, pages2);
    ASSERT_TRUE(second[0].ended) << "the second job did not end";
    expect_pages(second[0].out, one);
    ASSERT_EQ(0, stat(kPrefix, &st));
    EXPECT_EQ(prefix_inode, st.st_ino) << "the second job made a new prefix";
    EXPECT_EQ(warm, wineservers()) << "the second job did not reuse the warm wineserver";

    printf("first job (creates the prefix): %ld ms to the last byte\n",
        first[0].last_byte_ms - first[0].connect_ms);
    printf("second job (warm): %ld ms to the last byte\n",
        second[0].last_byte_ms - second[0].connect_ms);
}

TEST_F(FullPath, TwoJobsAtOnceForOneUserPrintOneAfterTheOther)
{
    std::vector<TestImage> a = {make_test_picture(400, 300, 16)};
    std::vector<TestImage> b = {make_test_picture(200, 600, 256)};
    std::vector<std::string> pages = {pages_of(a), pages_of(b)};
    std::vector<Job> jobs(2);
    int most_at_once = run_jobs(jobs, pages);
    ASSERT_TRUE(jobs[0].ended && jobs[1].ended) << "a job did not end";
    expect_pages(jobs[0].out, a);
    expect_pages(jobs[1].out, b);
    std::string seen;
    for (const Proc& p : jobs[0].tools)
        seen += std::to_string(p.pid) + " " + p.cmdline + "\n";
    EXPECT_EQ(2u, jobs[0].tools.size()) << "expected one print tool per job:\n" << seen;
    EXPECT_EQ(1, most_at_once) << "two print tools ran in one prefix at the same time";
}

TEST_F(FullPath, ACrashingPrintToolSendsNothingAndLeavesNothingRunning)
{
    std::string crash = rig_read_file(DIST_CRASH_EXE);
    ASSERT_FALSE(crash.empty());
    ASSERT_EQ(0, rig_write_file("/usr/bin/strelwick.exe", crash, 0755));
    std::vector<std::string> pages = {pages_of({make_test_picture(100, 100, 2)})};
    std::vector<Job> jobs(1);
    run_jobs(jobs, pages);
    EXPECT_TRUE(jobs[0].ended) << "the job did not end";
    EXPECT_EQ("", jobs[0].out);
    EXPECT_NE(std::string::npos, rig_log().find("crash.exe: about to crash"))
        << "the crashing program did not run";
    // The worker, the launcher, the program and any debugger are gone; only
    // the prefix's own Wine services may stay, kept warm for the next job.
    std::vector<std::string> left;
    for (long end = now_ms() + 10000; now_ms() < end; usleep(50000)) {
        left.clear();
        for (const char* name : {"tessal-wine", "strelwick.exe", "winedbg", "run.sh"})
            for (const Proc& p : find_procs(name))
                left.push_back(p.cmdline);
        if (left.empty())
            break;
    }
    EXPECT_TRUE(left.empty()) << "still running: " << left[0];
}

} // namespace
