// The active-user probe as the worker runs it.
#include "e2e.h"

#include <sys/wait.h>

TEST_F(DaemonTest, ProbeTakesKeyPrefixesInAnyOrderAndKeepsCarriageReturn)
{
    set_probe_output("NOISE=1\nDISP=:7\r\nXUSER=nobody-such\nX=desk\n");
    ASSERT_GT(start_daemon(), 0);
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    StubRecord r = record();
    EXPECT_EQ("1600 euid=1600", r.uid);
    EXPECT_TRUE(has(r.env, "DISPLAY=:7\r")) << "the carriage return stays";
}

TEST_F(DaemonTest, ProbeWithoutBothKeysEndsTheJob)
{
    ASSERT_GT(start_daemon(), 0);
    for (const char* output : {"", "XUSER=desk\nXUSER=desk\nDISPLAYS=:1\n"}) {
        SCOPED_TRACE(output);
        set_probe_output(output);
        EXPECT_EQ("", run_job({"MODEL=m", "PACKAGENAME=ok"}));
        EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    }
    EXPECT_EQ(2, count_of(rig_log(), "can't detect active user."));
    EXPECT_EQ(std::string::npos, rig_log().find("can't detect active user.\n"));
    EXPECT_FALSE(record().found);
}

TEST_F(DaemonTest, UnknownDesktopUserEndsTheJob)
{
    set_probe_output("XUSER=ghost\nDISPLAY=:0\n");
    ASSERT_GT(start_daemon(), 0);
    EXPECT_EQ("", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    EXPECT_NE(std::string::npos, rig_log().find("failed to get user [ghost] info"));
}
