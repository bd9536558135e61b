// Admission: only peers running as lp get a worker.
#include "e2e.h"

#include "wire.h"

#include <dirent.h>
#include <unistd.h>

TEST_F(DaemonTest, OnlyLpIsAdmitted)
{
    ASSERT_GT(start_daemon(), 0);
    struct {
        uid_t uid;
        gid_t gid;
    } refused[] = {{0, 0}, {LPADMIN_UID, 105}, {4242, 4242}};
    for (auto& peer : refused) {
        SCOPED_TRACE(peer.uid);
        int fd = rig_connect_as(peer.uid, peer.gid, 1, RIG_ADMIT);
        ASSERT_GE(fd, 0);
        EXPECT_EQ("", read_to_end(fd));
        close(fd);
        std::string line
            = " uid: " + std::to_string(peer.uid) + " gid: " + std::to_string(peer.gid) + "\n";
        EXPECT_EQ(1, count_of(rig_log(), line));
    }
    EXPECT_EQ(std::string::npos, rig_log().find("blocks"));
    EXPECT_FALSE(record().found);
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    EXPECT_NE(std::string::npos, rig_log().find(" uid: 7 gid: 7\n[INFO] 1 blocks\n"));
}

TEST_F(DaemonTest, BlockCountIsOnlyLogged)
{
    ASSERT_GT(start_daemon(), 0);
    int fd = rig_connect_as(LP_UID, LP_UID, -1, RIG_ADMIT);
    ASSERT_GE(fd, 0);
    send_bytes(fd, block_bytes({"MODEL=m", "PACKAGENAME=ok"}));
    wire_end_pages(fd);
    EXPECT_EQ("STUB-OUTPUT\n", read_to_end(fd));
    close(fd);
    EXPECT_NE(std::string::npos, rig_log().find("[INFO] -1 blocks\n"));
}

TEST_F(DaemonTest, PeerClosingAtOnceIsAnInvalidMessage)
{
    ASSERT_GT(start_daemon(), 0);
    int fd = rig_connect_as(LP_UID, LP_UID, 0, RIG_CONNECT_ONLY);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(rig_wait_log("invalid msg\n", 10000));
    // The credentials that come with end of stream are not taken for root's.
    EXPECT_EQ(std::string::npos, rig_log().find("[INFO]"));
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
}

TEST_F(DaemonTest, SilentPeersDoNotHoldUpTheNextClient)
{
    ASSERT_GT(start_daemon(), 0);
    // Others than lp are closed at once; a silent lp peer waits on its own.
    std::vector<int> silent;
    for (int i = 0; i < 12; i++)
        silent.push_back(rig_connect_as(65534, 65534, 0, RIG_CONNECT_ONLY));
    silent.push_back(rig_connect_as(LP_UID, LP_UID, 0, RIG_CONNECT_ONLY));
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    clock_gettime(CLOCK_MONOTONIC, &t1);
    // Not a timing target: waiting out even one admission wait is the fault.
    EXPECT_LT(t1.tv_sec - t0.tv_sec, 3) << "the job waited behind a silent peer";
    for (int fd : silent) {
        ASSERT_GE(fd, 0);
        EXPECT_EQ("", read_to_end(fd));
        close(fd);
    }
    EXPECT_NE(std::string::npos, rig_log().find("no admission message in time.\n"));
    EXPECT_EQ(12, count_of(rig_log(), "uid: 65534 gid: 65534\n"));
}

TEST_F(DaemonTest, PeerOtherThanLpIsClosedAtOnceAndStartsNothing)
{
    ASSERT_GT(start_daemon(), 0);
    int fd = rig_connect_as(4242, 4242, 0, RIG_CONNECT_ONLY);
    ASSERT_GE(fd, 0);
    // A worker would hold a silent peer for its admission wait of 3 s.
    std::string out;
    EXPECT_TRUE(rig_read_all(fd, &out, 1500)) << "the connection was not closed at once";
    close(fd);
    EXPECT_EQ("", out);
    EXPECT_EQ(-1, rig_reap_adopted(4000)) << "a worker was started";
    EXPECT_EQ(std::string::npos, rig_log().find("no admission message in time"));
}

// Processes running the stand-in launcher: jobs that have reached the tool.
static int tools_running(void)
{
    int n = 0;
    DIR* d = opendir("/proc");
    while (struct dirent* e = d ? readdir(d) : nullptr) {
        std::string cmd = rig_read_file(("/proc/" + std::string(e->d_name) + "/cmdline").c_str());
        n += cmd.rfind("/usr/bin/tessal-wine", 0) == 0;
    }
    if (d)
        closedir(d);
    return n;
}

TEST_F(DaemonTest, SeventeenthJobWaitsForAFreeSlot)
{
    ASSERT_GT(start_daemon(), 0);
    // Sixteen jobs whose pages never end hold every slot.
    std::vector<int> held;
    for (int i = 0; i < 16; i++) {
        held.push_back(rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT));
        ASSERT_GE(held.back(), 0);
        send_bytes(held.back(), block_bytes({"MODEL=m", "PACKAGENAME=ok"}));
    }
    int late = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
    ASSERT_GE(late, 0);
    send_bytes(late, block_bytes({"MODEL=m", "PACKAGENAME=ok", "OPT_STUB_TAG=late"}));
    wire_end_pages(late);
    for (int i = 0; i < 3000 && tools_running() < 16; i++)
        usleep(10000);
    ASSERT_EQ(16, tools_running());
    EXPECT_FALSE(rig_wait_file("/opt/rig-out/late.rec", 2000)) << "a 17th job took a slot";

    wire_end_pages(held[0]);
    EXPECT_EQ("STUB-OUTPUT\n", read_to_end(held[0]));
    EXPECT_EQ("STUB-OUTPUT\n", read_to_end(late));
    EXPECT_TRUE(record("late").found);
    for (int fd : held)
        close(fd);
    close(late);
}
