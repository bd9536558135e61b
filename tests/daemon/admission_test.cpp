// Admission: only peers running as lp get a worker.
#include "e2e.h"

#include "wire.h"

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
