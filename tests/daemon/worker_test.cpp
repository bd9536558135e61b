// The worker: configure step, launch, identity and relay.
#include "e2e.h"

#include "wire.h"

#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static const std::vector<std::string> k_job = {"MODEL=Office", "PACKAGENAME=ok"};

TEST_F(DaemonTest, LaunchEnvironmentAndArgumentsAreExact)
{
    ASSERT_GT(start_daemon(), 0);
    std::string out = run_job({"MODEL=Office", "PACKAGENAME=ok", "PAGESIZE=9"}, "PAGES");
    EXPECT_EQ("STUB-OUTPUT\n", out);
    StubRecord r = record();
    ASSERT_TRUE(r.found);
    std::vector<std::string> argv = {"/usr/bin/tessal-wine", "/usr/bin/strelwick.exe", "img"};
    EXPECT_EQ(argv, r.argv);
    std::vector<std::string> env = {"MODEL=Office", "PACKAGENAME=ok", "PAGESIZE=9",
        "WINEPREFIX=/home/desk/.tessalwine/ok", "DISPLAY=:5", "HOME=/home/desk"};
    EXPECT_EQ(env, r.env);
    EXPECT_EQ("PAGES", rig_read_file("/opt/rig-out/tool.stdin"));
    std::string log = rig_log();
    std::string lines;
    for (const std::string& e : env)
        lines += e + "\n";
    EXPECT_NE(std::string::npos, log.find(lines)) << log;
    EXPECT_NE(std::string::npos, log.find("wait for zk pid:" + std::to_string(r.pid) + "\n"));
    EXPECT_EQ(0, worker_status());
}

TEST_F(DaemonTest, ConfigureGetsModelAndHomeAloneAsDesktopUser)
{
    ASSERT_GT(start_daemon(), 0);
    run_job({"MODEL=Office Jet", "PACKAGENAME=ok"});
    std::string rec = rig_read_file("/opt/rig-out/configure.rec");
    EXPECT_NE(std::string::npos, rec.find("argc=1\narg=Office Jet\n")) << rec;
    EXPECT_NE(std::string::npos, rec.find("uid=1600\n")) << rec;
    EXPECT_NE(std::string::npos, rec.find("env=HOME=/home/desk\n")) << rec;
    // bash adds PWD, SHLVL and _ itself; nothing else may come from the daemon.
    for (const char* leaked : {"env=PATH=", "env=MODEL=", "env=DISPLAY=", "env=LISTEN_"})
        EXPECT_EQ(std::string::npos, rec.find(leaked)) << leaked;
}

TEST_F(DaemonTest, BlockCannotSetTheWorkersDisplayOrHome)
{
    ASSERT_GT(start_daemon(), 0);
    run_job({"MODEL=m", "DISPLAY=:9", "PACKAGENAME=ok", "HOME=/elsewhere"});
    std::vector<std::string> env = {"MODEL=m", "PACKAGENAME=ok",
        "WINEPREFIX=/home/desk/.tessalwine/ok", "DISPLAY=:5", "HOME=/home/desk"};
    EXPECT_EQ(env, record().env);
}

TEST_F(DaemonTest, HomeOfSlashGivesDoubleSlashPrefix)
{
    set_probe_output("XUSER=slash\nDISPLAY=:0\n");
    ASSERT_GT(start_daemon(), 0);
    run_job(k_job);
    StubRecord r = record();
    EXPECT_TRUE(has(r.env, "WINEPREFIX=//.tessalwine/ok"));
    EXPECT_TRUE(has(r.env, "HOME=/"));
    EXPECT_EQ("1601 euid=1601", r.uid);
}

TEST_F(DaemonTest, PrintToolRunsWithTheUsersIdsAndGroupsOnly)
{
    ASSERT_GT(start_daemon(), 0);
    run_job(k_job);
    StubRecord r = record();
    ASSERT_TRUE(r.found);
    EXPECT_EQ("1600 euid=1600", r.uid);
    EXPECT_EQ("1600 egid=1600", r.gid);
    // Root's supplementary groups are gone; the user's own are there.
    EXPECT_EQ("1600,1700", r.groups);
    std::string rec = rig_read_file("/opt/rig-out/configure.rec");
    EXPECT_NE(std::string::npos, rec.find("groups=1600 1700\n")) << rec;
}

TEST_F(DaemonTest, FailedConfigureStopsTheJob)
{
    ASSERT_GT(start_daemon(), 0);
    struct {
        const char* package;
        const char* message;
    } cases[] = {
        {"exit3", "configure error: 3\n"},
        {"killed", "configure error: 0\n"},
        {"norun", "configure error: 127\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.package);
        EXPECT_EQ("", run_job({"MODEL=m", std::string("PACKAGENAME=") + c.package}));
        EXPECT_TRUE(rig_wait_log(c.message, 10000));
        EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    }
    EXPECT_NE(std::string::npos, rig_log().find("/opt/tessalwine/printer_drv/norun/run.sh"));
    EXPECT_FALSE(record().found);
}

TEST_F(DaemonTest, LauncherThatCannotExecEndsTheJob)
{
    ASSERT_EQ(0, chmod("/usr/bin/tessal-wine", 0644));
    ASSERT_GT(start_daemon(), 0);
    EXPECT_EQ("", run_job(k_job, "PAGES"));
    EXPECT_TRUE(rig_wait_log("failed to start strelwick.\n", 10000));
    EXPECT_TRUE(rig_wait_log("wait for zk pid:", 10000));
    EXPECT_EQ(0, worker_status());
}

TEST_F(DaemonTest, RelaysFiftyMegabytesByteExact)
{
    ASSERT_GT(start_daemon(), 0);
    const long total = 50L * 1024 * 1024 + 12345;
    std::string out
        = run_job({"MODEL=m", "PACKAGENAME=ok", "OPT_STUB_OUT=" + std::to_string(total)}, "IN");
    ASSERT_EQ((size_t)total, out.size());
    long bad = -1;
    for (long i = 0; i < total && bad < 0; i++)
        if ((unsigned char)out[(size_t)i] != rig_pattern_byte((uint64_t)i))
            bad = i;
    EXPECT_EQ(-1, bad) << "first wrong byte";
    EXPECT_EQ(std::string::npos, rig_log().find("write incomplete."));
}

TEST_F(DaemonTest, ClientVanishingStopsTheToolAndItsGroup)
{
    ASSERT_GT(start_daemon(), 0);
    struct {
        const char* tag;
        const char* option;
    } cases[] = {
        {"midrelay", "OPT_STUB_OUT=40000000"}, // the relay's write fails
        {"silent", "OPT_STUB_SLEEP_MS=100000"}, // only the hang-up tells
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.tag);
        int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
        ASSERT_GE(fd, 0);
        send_bytes(fd,
            block_bytes(
                {"MODEL=m", "PACKAGENAME=ok", c.option, std::string("OPT_STUB_TAG=") + c.tag}));
        wire_end_pages(fd);
        char buf[4096];
        if (strcmp(c.tag, "midrelay") == 0)
            ASSERT_GT(wire_read(fd, buf, sizeof buf), 0);
        else
            ASSERT_TRUE(rig_wait_file("/opt/rig-out/silent.rec", 10000));
        close(fd);

        int status = worker_status();
        ASSERT_NE(-1, status) << "the worker did not end";
        EXPECT_EQ(255, WEXITSTATUS(status));
        StubRecord r = record(c.tag);
        EXPECT_EQ(r.pid, r.pgid) << "the tool runs in a process group of its own";
        EXPECT_NE(0, kill((pid_t)r.pid, 0)) << "the tool still runs";
        EXPECT_NE(0, access(("/opt/rig-out/" + std::string(c.tag) + ".done").c_str(), F_OK));
        // The worker reaped the tool: nothing is left to us as an orphan.
        EXPECT_EQ(-1, rig_reap_adopted(200));
    }
    EXPECT_EQ(2, count_of(rig_log(), "client gone: stopping the print tool.\n"));
}

TEST_F(DaemonTest, OnlyAJobThatStandsStillIsStopped)
{
    // This daemon stops a job after 2 s in which nothing moved.
    daemon_ = rig_start_daemon(ZK_FILTER_SHORT_LIMITS, nullptr);
    ASSERT_GT(daemon_, 0);
    struct {
        const char* tag;
        const char* option;
        int page_gaps; // pages sent as this many bytes, 700 ms apart
        int read_after_ms; // the client takes no output before this
        size_t out_bytes;
    } cases[] = {
        {"slowoutput", "OPT_STUB_TRICKLE=4", 0, 0, 16},
        {"slowpages", "OPT_A=", 4, 0, 12},
        {"slowclient", "OPT_STUB_OUT=8000000", 0, 3000, 8000000},
        {"stuck", "OPT_STUB_SLEEP_MS=100000", 0, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.tag);
        int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
        ASSERT_GE(fd, 0);
        send_bytes(fd,
            block_bytes(
                {"MODEL=m", "PACKAGENAME=ok", c.option, std::string("OPT_STUB_TAG=") + c.tag}));
        for (int i = 0; i < c.page_gaps; i++) {
            usleep(700 * 1000);
            send_bytes(fd, "P");
        }
        wire_end_pages(fd);
        usleep(c.read_after_ms * 1000);
        std::string out = read_to_end(fd);
        close(fd);
        EXPECT_EQ(c.out_bytes, out.size());
        int status = worker_status();
        EXPECT_EQ(c.out_bytes ? 0 : 255, WEXITSTATUS(status));
        EXPECT_EQ(c.out_bytes ? 1 : 0,
            access(("/opt/rig-out/" + std::string(c.tag) + ".done").c_str(), F_OK) + 1);
    }
    EXPECT_EQ(std::string(4, 'P'), rig_read_file("/opt/rig-out/slowpages.stdin"));
    EXPECT_EQ(1,
        count_of(rig_log(), "no data from the client or the print tool for 2 s: stopping it.\n"));
    EXPECT_NE(0, kill((pid_t)record("stuck").pid, 0));
}
