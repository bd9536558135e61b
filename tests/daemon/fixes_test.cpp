// Hardening of the worker: credentials, environment, package name and the
// descriptors the started programs inherit.
#include "e2e.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Inode text ("socket:[N]") of the daemon's listening socket, descriptor 3.
static std::string listening_socket_of(pid_t daemon)
{
    char link[128] = "";
    std::string path = "/proc/" + std::to_string(daemon) + "/fd/3";
    ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    return n > 0 ? std::string(link, (size_t)n) : std::string();
}

TEST_F(DaemonTest, UnprivilegedDaemonNeverRunsWithMixedCredentials)
{
    rig_daemon_opts opts = {};
    opts.uid = SVC_UID;
    opts.gid = SVC_UID;
    ASSERT_GT(start_daemon(&opts), 0);
    EXPECT_EQ("", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    EXPECT_NE(std::string::npos, rig_log().find("failed to set groups.\n"));
    EXPECT_TRUE(rig_read_file("/opt/rig-out/configure.rec").empty());
    EXPECT_FALSE(record().found);
}

TEST_F(DaemonTest, DaemonRunningAsTheDesktopUserNeedsNoSwitch)
{
    set_probe_output("XUSER=svc\nDISPLAY=:2\n");
    rig_daemon_opts opts = {};
    opts.uid = SVC_UID;
    opts.gid = SVC_UID;
    ASSERT_GT(start_daemon(&opts), 0);
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    StubRecord r = record();
    EXPECT_EQ("1800 euid=1800", r.uid);
    EXPECT_TRUE(has(r.env, "HOME=/home/svc"));
    EXPECT_EQ(0, worker_status());
}

TEST_F(DaemonTest, WorkerThatCouldRegainRootStops)
{
    // A daemon holding only the set-id capabilities can switch user but
    // would keep the power to switch back.
    rig_daemon_opts opts = {};
    opts.uid = SVC_UID;
    opts.gid = SVC_UID;
    opts.keep_setid_caps = true;
    ASSERT_GT(start_daemon(&opts), 0);
    EXPECT_EQ("", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    EXPECT_NE(std::string::npos, rig_log().find("failed to drop root.\n"));
    EXPECT_FALSE(record().found);
}

TEST_F(DaemonTest, OnlyJobOptionsReachTheToolAndEveryDropIsNamed)
{
    ASSERT_GT(start_daemon(), 0);
    // Each would make Wine, the shell or a library load code or data from a
    // path of the sender's choosing, or repeats a key the daemon looked at.
    std::vector<std::string> hostile
        = {"LD_PRELOAD=/tmp/x.so", "DBUS_SYSTEM_BUS_ADDRESS=unixexec:path=/tmp/evil.sh",
            "FONTCONFIG_FILE=/tmp/f", "XAUTHORITY=/tmp/x", "GST_PLUGIN_PATH=/tmp",
            "OPENSSL_CONF=/tmp/c", "BASH_ENV=/tmp/rc", "BASH_FUNC_ls%%=() { id; }",
            "WINEDLLOVERRIDES=x=n", "BAD-NAME=x", "DISPLAY=:9", "MODEL=\\\\evil\\share",
            "model=other", "Model=other", "PAGESIZE=70000", "PAGESIZE=9x", "DPI=4000000000",
            "DPI=600x", "OPT_=1", "OPT_lower=1", "OPT_TAB=a\tb", "NOEQUALS", "PACKAGENAME=other"};
    std::vector<std::string> block = {"MODEL=m", "PACKAGENAME=ok"};
    block.insert(block.end(), hostile.begin(), hostile.end());
    block.insert(block.end(), {"DPI=600x300", "OPT_TRAY=Upper tray", "dpi=1200"});
    EXPECT_EQ("STUB-OUTPUT\n", run_job(block));
    std::vector<std::string> env
        = {"MODEL=m", "PACKAGENAME=ok", "DPI=600x300", "OPT_TRAY=Upper tray",
            "WINEPREFIX=/home/desk/.tessalwine/ok", "DISPLAY=:5", "HOME=/home/desk"};
    EXPECT_EQ(env, record().env);
    std::string log = rig_log();
    EXPECT_EQ((int)hostile.size() + 1, count_of(log, "dropped option ")) << log;
    EXPECT_EQ(1, count_of(log, "dropped option PACKAGENAME: repeats an earlier option\n"));
    EXPECT_EQ(std::string::npos, log.find("evil")) << "a dropped value reached the log";
}

TEST_F(DaemonTest, HangingStepsEndWithinTheirLimitsAndLeaveNothingRunning)
{
    daemon_ = rig_start_daemon(ZK_FILTER_SHORT_LIMITS, nullptr);
    ASSERT_GT(daemon_, 0);
    const std::string root = "/opt/tessalwine/printer_drv/";
    ASSERT_EQ(
        0, rig_write_file((root + "hang/run.sh").c_str(), "sleep 1000 &\nsleep 1001\n", 0644));
    EXPECT_EQ("", run_job({"MODEL=m", "PACKAGENAME=hang"}));
    EXPECT_TRUE(rig_wait_log("configure step did not end within 2 s", 5000));

    int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
    send_bytes(fd, std::string("\x10\0\0\0MOD", 7));
    EXPECT_EQ("", read_to_end(fd));
    close(fd);
    EXPECT_TRUE(rig_wait_log("job info block not sent in time.\n", 5000));

    ASSERT_EQ(0, rig_write_file((root + "xpub.sh").c_str(), "sleep 1002 &\nsleep 1003\n", 0644));
    EXPECT_EQ("", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    EXPECT_TRUE(rig_wait_log("active-user probe did not end within 2 s", 5000));
    // The connection ends with the worker, after it has stopped the step.
    EXPECT_NE(0, system("pgrep -f 'sleep 100[0-3]' >/dev/null")) << "a stopped step left a process";
}

TEST_F(DaemonTest, OversizedBlockIsRefusedBeforeAnyAllocation)
{
    ASSERT_GT(start_daemon(), 0);
    int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
    int32_t huge = 2147483647;
    send_bytes(fd, std::string((const char*)&huge, 4));
    EXPECT_EQ("", read_to_end(fd));
    close(fd);
    EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    EXPECT_NE(std::string::npos, rig_log().find("job info block too long: 2147483647 bytes.\n"));
}

TEST_F(DaemonTest, DroppedEntriesStillCountTowardsTheLimit)
{
    ASSERT_GT(start_daemon(), 0);
    std::vector<std::string> block = {"MODEL=m", "PACKAGENAME=ok"};
    while (block.size() < 247)
        block.push_back("LD_X" + std::to_string(block.size()) + "=1");
    EXPECT_EQ("", run_job(block));
    EXPECT_TRUE(rig_wait_log("too many options.\n", 10000));
    EXPECT_FALSE(record().found);
}

TEST_F(DaemonTest, PackageNameThatIsNotOneComponentIsRefused)
{
    // Would reach /opt/tessalwine/run.sh through "..".
    ASSERT_EQ(
        0, rig_write_file("/opt/tessalwine/run.sh", "echo escaped > /opt/rig-out/escaped\n", 0644));
    ASSERT_GT(start_daemon(), 0);
    for (const char* name : {"", ".", "..", "../printer_drv/ok", "ok/"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ("", run_job({"MODEL=m", std::string("PACKAGENAME=") + name}));
        EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    }
    EXPECT_EQ(5, count_of(rig_log(), "no package.\n"));
    EXPECT_NE(0, access("/opt/rig-out/xpub.ran", F_OK)) << "nothing may run";
    EXPECT_NE(0, access("/opt/rig-out/escaped", F_OK));
    EXPECT_TRUE(rig_read_file("/opt/rig-out/configure.rec").empty());
}

TEST_F(DaemonTest, StartedProgramsDoNotHoldTheListeningSocket)
{
    ASSERT_GT(start_daemon(), 0);
    std::string listening = listening_socket_of(daemon_);
    ASSERT_EQ(0u, listening.find("socket:[")) << listening;
    run_job({"MODEL=m", "PACKAGENAME=ok"});
    StubRecord r = record();
    ASSERT_TRUE(r.found);
    // The print tool holds exactly the connection, the pipe and stderr.
    ASSERT_EQ(3u, r.fds.size());
    EXPECT_EQ(0u, r.fds[0].find("0 socket:["));
    EXPECT_EQ(0u, r.fds[1].find("1 pipe:["));
    EXPECT_EQ(0u, r.fds[2].find("2 /"));
    std::string conf = rig_read_file("/opt/rig-out/configure.rec");
    ASSERT_NE(std::string::npos, conf.find("fd=0 ")) << conf;
    EXPECT_EQ(std::string::npos, conf.find(listening)) << conf;
}

TEST_F(DaemonTest, JobsRunOnlyAsLoginUsersOrTheServiceAccount)
{
    ASSERT_EQ(0, rig_add_user("rootgroup", 1700, 0, "/home/rootgroup"));
    ASSERT_EQ(0, rig_add_user("uidzero", 0, 1701, "/home/uidzero"));
    ASSERT_EQ(0, rig_add_user("sysacct", 999, 999, "/home/sysacct"));
    ASSERT_EQ(0, rig_add_user("first", 1000, 1000, "/home/first"));
    ASSERT_EQ(0, rig_add_user("tessalwine", 150, 150, "/home/tessalwine"));
    ASSERT_EQ(0, rig_add_user("printsvc", 151, 151, "/home/printsvc"));
    ASSERT_EQ(0, rig_write_file("/opt/tessalwine/printer_drv/plain/run.sh", "exit 0\n", 0644));
    ASSERT_GT(start_daemon(), 0);
    const char* defs = "# UID_MIN 5\nUID_MIN\t\t\t 1000\n";
    const char* server = "policy=server\n  service_user = printsvc \t\n";
    struct {
        const char* user;
        const char* login_defs; // "" for none
        const char* xpub_conf; // null for none
        const char* refusal; // null when the job runs
    } cases[] = {
        {"root", defs, nullptr, "as root: uid 0, gid 0; never as root.\n"},
        {"root", defs, "service_user=root\n", "as root: uid 0, gid 0; never as root.\n"},
        {"rootgroup", defs, nullptr, "as rootgroup: uid 1700, gid 0; never as root.\n"},
        {"uidzero", defs, "service_user=uidzero\n", "as uidzero: uid 0, gid 1701; never as root.\n"},
        {"sysacct", "", nullptr,
            "as sysacct: uid 999 is a system account (below UID_MIN 1000) "
            "and not the service account tessalwine.\n"},
        {"first", defs, nullptr, nullptr},
        {"tessalwine", defs, nullptr, nullptr},
        {"tessalwine", defs, "service_user=\n", nullptr},
        {"tessalwine", defs, server,
            "as tessalwine: uid 150 is a system account (below UID_MIN "
            "1000) and not the service account printsvc.\n"},
        {"printsvc", defs, server, nullptr},
        {"desk", "UID_MIN 1601\n", nullptr,
            "as desk: uid 1600 is a system account (below "
            "UID_MIN 1601)"},
        {"desk", "", nullptr, nullptr},
    };
    int row = 0;
    for (auto& c : cases) {
        std::string tag = "row" + std::to_string(row++);
        SCOPED_TRACE(tag + " " + c.user);
        if (*c.login_defs)
            ASSERT_EQ(0, rig_write_file("/etc/login.defs", c.login_defs, 0644));
        else
            unlink("/etc/login.defs");
        if (c.xpub_conf)
            ASSERT_EQ(0, rig_write_file("/etc/tessalwine/xpub.conf", c.xpub_conf, 0644));
        else
            unlink("/etc/tessalwine/xpub.conf");
        set_probe_output(std::string("XUSER=") + c.user + "\nDISPLAY=:5\n");
        std::string refused = std::string("refused to run the job ") + (c.refusal ? c.refusal : "");
        int before = count_of(rig_log(), refused);
        std::string out = run_job({"MODEL=m", "PACKAGENAME=plain", "OPT_STUB_TAG=" + tag});
        int status = worker_status();
        EXPECT_EQ(c.refusal ? "" : "STUB-OUTPUT\n", out);
        EXPECT_EQ(c.refusal ? 255 : 0, WEXITSTATUS(status));
        EXPECT_EQ(!c.refusal, record(tag.c_str()).found);
        EXPECT_EQ(before + (c.refusal ? 1 : 0), count_of(rig_log(), refused));
    }
}
