// A print server: jobs through a private cupsd, the real zk_filter, probe,
// launcher and package scripts, inside private mount and network namespaces
// (see sandbox.sh), with Wine replaced by a stand-in that records who ran
// each job where.  A second private cupsd in a network namespace of its own,
// joined by a veth pair, plays an office computer that prints to the
// server's shared queue over IPP.  Needs root.

#include <cups/cups.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "cups_util.h"

namespace {

const char kServerAddr[] = "10.213.0.1";
const char kOfficeNetns[] = "tessal-office";

std::string g_dir; // scratch: stage, sandbox state, documents
std::string g_state; // sandbox state: the users' homes live here
std::string g_out; // where the server's backend writes each job's output
std::string g_records; // one line per print-tool run, written by the stand-in
std::string g_pdf;
std::string g_office; // the office computer's cupsd socket
pid_t g_daemon = -1;

// What run.sh and tessal-wine need of Wine, and a print tool that records
// its start and end, its uid, prefix and display, and answers with one line
// of "printer data" naming them.  The registry is faked just enough for
// run.sh to find its printer and for the launcher's graphics driver choice.
const char kStubWine[] = R"SH(#!/bin/bash
case $1 in
  reg)
    [ "$2 $3" = 'add HKCU\Software\Wine\Drivers' ] && echo "\"$5\"=\"$7\"" >>"$WINEPREFIX/user.reg"
    exit 0 ;;
  *tessal-addprinter.exe)
    printf '[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\%s]\n' "$4" \
      >>"$WINEPREFIX/system.reg" ;;
  *strelwick.exe)
    start=$(date +%s%N)
    bytes=$(wc -c)
    sleep 1
    echo "$start $(date +%s%N) $(id -u) $WINEPREFIX ${DISPLAY-unset} $bytes" >>RECORDS
    printf '%%!PS stub uid=%s prefix=%s display=%s bytes=%s\n' "$(id -u)" "$WINEPREFIX" \
      "${DISPLAY-unset}" "$bytes" ;;
esac
exit 0
)SH";
const char kStubWineboot[] = R"SH(#!/bin/sh
[ -f "$WINEPREFIX/system.reg" ] || echo 'WINE REGISTRY Version 2' >"$WINEPREFIX/system.reg"
: >>"$WINEPREFIX/user.reg"
)SH";

std::string sandbox(const std::string& commands, int* status = nullptr)
{
    child_io io;
    io.out = g_dir + "/sandbox.out";
    io.err = g_dir + "/sandbox.err";
    std::string script = "set -e\nSANDBOX_RIG_DIR=" + std::string(RIG_DIR) + "\n. " + RIG_DIR
        + "/sandbox.sh\nSANDBOX_STATE=" + g_state + "\nSANDBOX_TMP=" + g_state
        + "/tmp\nSANDBOX_OUT=" + g_out + "\n" + commands;
    int rc = run({"bash", "-c", script}, io, 300);
    if (status)
        *status = rc;
    return read_text(io.out) + read_text(io.err);
}

int shell(const std::string& commands, std::string* out = nullptr)
{
    child_io io;
    io.out = g_dir + "/shell.out";
    io.err = io.out;
    int rc = run({"bash", "-ec", commands}, io, 120);
    if (out)
        *out = read_text(io.out);
    return rc;
}

pid_t start_daemon()
{
    std::string log = g_state + "/tmp/zk_filter.log";
    pid_t pid = spawn({"/bin/sh", "-c", "exec /usr/sbin/zk_filter 2>>" + log + " >&2"}, {});
    usleep(300000);
    return pid;
}

std::string logs()
{
    return read_text(g_state + "/tmp/cups/log/error_log") + "---- zk_filter ----\n"
        + read_text(g_state + "/tmp/zk_filter.log");
}

struct Record {
    long long start = 0, end = 0;
    int uid = -1;
    std::string prefix, display;
    long bytes = 0;
};

std::vector<Record> records()
{
    std::vector<Record> all;
    std::istringstream in(read_text(g_records));
    Record r;
    while (in >> r.start >> r.end >> r.uid >> r.prefix >> r.display >> r.bytes)
        all.push_back(r);
    return all;
}

std::string output_of(int id)
{
    return read_text(g_out + "/job-" + std::to_string(id) + ".prn");
}

std::string mount_namespace(const std::string& proc_dir)
{
    char buf[64];
    ssize_t n = readlink((proc_dir + "/ns/mnt").c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, (size_t)n) : "";
}

// Processes of this test's namespace that belong to a job or would be a
// display: the job's own, Wine's, an X server.
std::vector<std::string> leftovers()
{
    std::vector<std::string> found;
    const char* names[] = {"rastertotessal", "tessal-wine", "strelwick", "run.sh", "wine",
        "explorer", "Xvfb", "Xorg", "Xwayland"};
    std::string ours = mount_namespace("/proc/self");
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        std::string dir = std::string("/proc/") + e->d_name;
        if (atoi(e->d_name) <= 0 || atoi(e->d_name) == getpid() || mount_namespace(dir) != ours)
            continue;
        std::string cmd = read_text(dir + "/cmdline");
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        for (const char* n : names)
            if (cmd.find(n) != std::string::npos)
                found.push_back(cmd);
    }
    if (d)
        closedir(d);
    return found;
}

long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

class PrintServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        int st;
        std::string out = sandbox("sandbox_policy server", &st);
        ASSERT_EQ(st, 0) << out;
        truncate(g_records.c_str(), 0);
        shell("rm -f " + g_out + "/job-*.prn");
    }
    void TearDown() override
    {
        if (HasFailure())
            fprintf(stderr, "%s\n", logs().c_str());
    }
};

// With the server policy a job prints as the service account in its own
// prefix, without a display: the prefix is switched to Wine's null graphics
// driver, and nothing of the job, and no display server, stays behind.
TEST_F(PrintServer, HeadlessJobPrintsAsTheServiceAccount)
{
    int id = cups_submit("tessal", g_pdf, {}, "alice");
    ASSERT_GT(id, 0);
    cups_job job = cups_wait_job(id, 300);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
    EXPECT_EQ(job.impressions, 2);
    std::string prefix = g_state + "/service/.tessalwine/generic-ps";
    std::vector<Record> r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].uid, 1651);
    EXPECT_EQ(r[0].prefix, prefix);
    EXPECT_EQ(r[0].display, "unset");
    EXPECT_GT(r[0].bytes, 1000);
    EXPECT_NE(output_of(id).find("uid=1651 prefix=" + prefix), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(prefix.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1651u);
    EXPECT_NE(read_text(prefix + "/user.reg").find("\"Graphics\"=\"null\""), std::string::npos);
    std::vector<std::string> left;
    for (int i = 0; i < 100 && !(left = leftovers()).empty(); i++)
        usleep(100000);
    EXPECT_TRUE(left.empty()) << left[0];
}

// With the desktop policy and nobody at the desktop, CUPS says so.
TEST_F(PrintServer, NobodyAtTheDesktopIsWhatCupsSays)
{
    int st;
    std::string out = sandbox("sandbox_policy desktop\nsandbox_logout", &st);
    ASSERT_EQ(st, 0) << out;
    int id = cups_submit("tessal", g_pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job job = cups_wait_job(id, 120);
    EXPECT_TRUE(job.state == IPP_JSTATE_STOPPED || job.state == IPP_JSTATE_ABORTED) << job.state;
    printf("CUPS shows: %s\n", job.message.c_str());
    EXPECT_NE(job.message.find("Nobody is logged in on the desktop"), std::string::npos)
        << job.message;
    EXPECT_NE(job.message.find("policy=fallback"), std::string::npos) << job.message;
    EXPECT_TRUE(records().empty());
}

TEST_F(PrintServer, DaemonNotRunningSaysHowToStartIt)
{
    kill(g_daemon, SIGTERM);
    wait_for(g_daemon, 10);
    int id = cups_submit("tessal", g_pdf, {}, "");
    cups_job job = cups_wait_job(id, 120);
    g_daemon = start_daemon();
    EXPECT_TRUE(job.state == IPP_JSTATE_STOPPED || job.state == IPP_JSTATE_ABORTED) << job.state;
    printf("CUPS shows: %s\n", job.message.c_str());
    EXPECT_NE(job.message.find("zk_filter is not running"), std::string::npos) << job.message;
    EXPECT_NE(job.message.find("systemctl start zk_filter.socket"), std::string::npos)
        << job.message;
}

// The office computer has the server's shared queue as an ordinary IPP
// printer; its PDF is rendered on the server as the service account and the
// printer data reaches the server's backend.
TEST_F(PrintServer, OfficeComputerPrintsOverIpp)
{
    std::string out;
    int rc = shell("export CUPS_SERVER=" + g_office + "\nlp -d office " + g_pdf, &out);
    ASSERT_EQ(rc, 0) << out;
    std::vector<Record> r;
    long end = now_ms() + 300000;
    while ((r = records()).empty() && now_ms() < end)
        usleep(200000);
    ASSERT_EQ(r.size(), 1u) << read_text(g_dir + "/office/log/error_log");
    EXPECT_EQ(r[0].uid, 1651);
    EXPECT_EQ(r[0].prefix, g_state + "/service/.tessalwine/generic-ps");
    // The job arrived over IPP: the server's only job of this test.
    std::string prn;
    for (; now_ms() < end; usleep(200000)) {
        DIR* d = opendir(g_out.c_str());
        while (dirent* e = d ? readdir(d) : nullptr) {
            std::string text = read_text(g_out + "/" + e->d_name);
            if (text.find("%!PS stub") != std::string::npos
                && text.find(r[0].prefix) != std::string::npos && strstr(e->d_name, ".prn"))
                prn = text;
        }
        if (d)
            closedir(d);
        if (!prn.empty())
            break;
    }
    EXPECT_NE(prn.find("bytes=" + std::to_string(r[0].bytes)), std::string::npos) << prn;
    // The office computer sees its job completed, as for any printer.
    std::string lpstat;
    for (long stop = now_ms() + 60000; now_ms() < stop; usleep(200000)) {
        shell("CUPS_SERVER=" + g_office + " lpstat -W completed -o office", &lpstat);
        if (lpstat.find("office-") != std::string::npos)
            break;
    }
    EXPECT_NE(lpstat.find("office-"), std::string::npos) << lpstat;
}

// Four users send five jobs each at once, alternating between the queues
// of two packages: every job prints, and the jobs of one package never run
// at the same time in its prefix.
TEST_F(PrintServer, FourClientsAtOnceLoseNothing)
{
    std::string out;
    int rc = shell("for c in 1 2 3 4; do\n"
                   "  (for j in 1 2 3 4 5; do lp -U client$c -d tessal$(((c + j) % 2 + 1)) "
            + g_pdf + "; done) &\ndone\nwait",
        &out);
    ASSERT_EQ(rc, 0) << out;
    std::vector<int> ids;
    for (size_t at = 0; (at = out.find("request id is tessal", at)) != std::string::npos; at++)
        ids.push_back(atoi(out.c_str() + out.find('-', at) + 1));
    ASSERT_EQ(ids.size(), 20u) << out;
    long start = now_ms();
    for (int id : ids) {
        cups_job job = cups_wait_job(id, 600);
        EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << "job " << id << ": " << job.message;
        EXPECT_NE(output_of(id).find("%!PS stub uid=1651"), std::string::npos) << "job " << id;
    }
    printf("20 jobs at once: %ld ms after the last submission\n", now_ms() - start);
    std::map<std::string, std::vector<Record>> by_prefix;
    for (const Record& r : records())
        by_prefix[r.prefix].push_back(r);
    ASSERT_EQ(by_prefix.size(), 2u);
    for (auto& p : by_prefix) {
        EXPECT_EQ(p.second.size(), 10u) << p.first;
        std::sort(p.second.begin(), p.second.end(),
            [](const Record& a, const Record& b) { return a.start < b.start; });
        for (size_t i = 1; i < p.second.size(); i++)
            EXPECT_GE(p.second[i].start, p.second[i - 1].end) << "two jobs at once in " << p.first;
    }
}

// Two packages, each with a queue; the first is shared.  The office
// computer gets its own network namespace, a veth pair and its own cupsd.
const char kSetup[] = R"SH(
sandbox_setup "$STATE" "$STAGE"
sandbox_queue tessal1 /usr/share/ppd/tessalwine/generic-ps.ppd
cp -a /opt/tessalwine/printer_drv/generic-ps /opt/tessalwine/printer_drv/generic-ps2
mv /opt/tessalwine/printer_drv/generic-ps2/generic-ps.ppd /opt/tessalwine/printer_drv/generic-ps2/generic-ps2.ppd
model=$(sed -n 's/^\*TessalModel: "\(.*\)"/\1/p' /usr/share/ppd/tessalwine/generic-ps.ppd)
tessal-mkppd --package generic-ps2 --model "$model" -o "$SANDBOX_TMP/generic-ps2.ppd"
sandbox_queue tessal2 "$SANDBOX_TMP/generic-ps2.ppd"
sandbox_queue tessal /usr/share/ppd/tessalwine/generic-ps.ppd
lpadmin -p tessal -o printer-is-shared=true
echo CUPS_SERVER=$CUPS_SERVER
)SH";

// Before the sandbox lays its overlay over /run, where "ip netns" keeps the
// namespace: the network and the office computer's cupsd.
bool set_up_office()
{
    std::string out;
    std::string ns = kOfficeNetns, in_ns = "ip netns exec " + ns + " ";
    int rc = shell("ip netns add " + ns + "\nip link add tsrv0 type veth peer name toff0 netns "
            + ns + "\nip addr add " + kServerAddr
            + "/24 dev tsrv0\nip link set tsrv0 up\nip link set lo up\n" + in_ns
            + "ip addr add 10.213.0.2/24 dev toff0\n" + in_ns + "ip link set toff0 up\n" + in_ns
            + "ip link set lo up\n" + in_ns + RIG_DIR + "/cupsd-rig.sh start " + g_dir
            + "/office\n",
        &out);
    if (rc != 0)
        fprintf(stderr, "office computer set-up failed:\n%s", out.c_str());
    g_office = g_dir + "/office/run/cups.sock";
    return rc == 0;
}

// The office computer adds the shared queue as an IPP Everywhere printer.
bool add_office_queue()
{
    std::string out;
    int rc = shell("CUPS_SERVER=" + g_office + " lpadmin -p office -E -v ipp://" + kServerAddr
            + ":631/printers/tessal -m everywhere",
        &out);
    if (rc != 0)
        fprintf(stderr, "adding the office queue failed:\n%s", out.c_str());
    return rc == 0;
}

bool write_stubs(const std::string& bin)
{
    std::string wine = kStubWine;
    wine.replace(wine.find("RECORDS"), 7, g_records);
    return write_text(bin + "/wine", wine) && write_text(bin + "/wineboot", kStubWineboot)
        && write_text(bin + "/wineserver", "#!/bin/sh\nexit 0\n")
        && chmod((bin + "/wine").c_str(), 0755) == 0
        && chmod((bin + "/wineboot").c_str(), 0755) == 0
        && chmod((bin + "/wineserver").c_str(), 0755) == 0;
}

void kill_everything()
{
    for (int round = 0; round < 3; round++) {
        DIR* d = opendir("/proc");
        while (dirent* e = d ? readdir(d) : nullptr) {
            pid_t pid = atoi(e->d_name);
            std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
            size_t close = stat.rfind(')');
            pid_t ppid = 0;
            if (pid > 0 && close != std::string::npos)
                sscanf(stat.c_str() + close + 2, "%*c %d", &ppid);
            if (ppid == getpid())
                kill(pid, SIGKILL);
        }
        if (d)
            closedir(d);
        while (waitpid(-1, nullptr, WNOHANG) > 0) { }
        usleep(200000);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // A private /run: "ip netns add" keeps its namespaces under /run/netns.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 || unshare(CLONE_NEWNS | CLONE_NEWNET) != 0
        || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("tessalrun", "/run", "tmpfs", 0, "mode=0755") != 0) {
        perror("namespaces (the print server tests need root)");
        return 1;
    }
    g_dir = temp_dir("tessal-server-test");
    g_state = g_dir + "/state";
    g_out = g_state + "/tmp/out";
    g_records = g_dir + "/records/tool.log";
    std::string stage = g_dir + "/stage";
    child_io io;
    io.out = g_dir + "/install.log";
    io.err = io.out;
    io.env = {"DESTDIR=" + stage};
    int rc = 1;
    std::string out;
    int st = 1;
    if (run({"cmake", "--install", BUILD_DIR, "--prefix", "/usr"}, io, 300) != 0)
        fprintf(stderr, "staging the install failed:\n%s", read_text(io.out).c_str());
    else if (mkdir((g_dir + "/records").c_str(), 01777) != 0
        || chmod((g_dir + "/records").c_str(), 01777) != 0 || !write_stubs(stage + "/usr/bin"))
        perror("stand-in Wine");
    else if (run({"ps2pdf", "-sPAPERSIZE=a4", fixture("pages.ps"), g_pdf = g_dir + "/pages.pdf"},
                 {}, 60)
        != 0)
        fprintf(stderr, "ps2pdf failed\n");
    else if (set_up_office()
        && (out = sandbox("export CUPSD_RIG_LISTEN=" + std::string(kServerAddr)
                    + ":631\nSTATE=" + g_state + " STAGE=" + stage + " SANDBOX_SESSION_PID="
                    + std::to_string(getpid()) + " SANDBOX_NO_DAEMON=1\n" + kSetup,
                &st),
            st == 0)
        && add_office_queue()) {
        size_t at = out.find("CUPS_SERVER=");
        std::string server = out.substr(at + 12, out.find('\n', at) - at - 12);
        setenv("CUPS_SERVER", server.c_str(), 1);
        g_daemon = start_daemon();
        rc = RUN_ALL_TESTS();
    } else if (st != 0) {
        fprintf(stderr, "sandbox set-up failed:\n%s", out.c_str());
    }
    sandbox("sandbox_stop");
    shell("CUPS_SERVER= " + std::string(RIG_DIR) + "/cupsd-rig.sh stop " + g_dir + "/office");
    kill_everything();
    for (const char* m : {"/usr", "/opt", "/run", "/etc"})
        umount2(m, MNT_DETACH);
    umount2((g_state + "/tmp").c_str(), MNT_DETACH);
    remove_dir(g_dir);
    return rc;
}
