// The job info block as the worker reads it from the connection.
#include "e2e.h"

#include "wire.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Sends the admission as lp, then the given bytes, and reads to the end.
static std::string raw_job(const std::string& bytes, bool end_pages = true)
{
    int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
    if (fd < 0)
        return "<no connection>";
    send_bytes(fd, bytes);
    if (end_pages)
        wire_end_pages(fd);
    std::string out = read_to_end(fd);
    close(fd);
    return out;
}

static std::string int32_bytes(int32_t v)
{
    return std::string((const char*)&v, sizeof v);
}

static std::vector<std::string> many_entries(int n)
{
    std::vector<std::string> e = {"MODEL=m", "PACKAGENAME=ok"};
    while ((int)e.size() < n)
        e.push_back("OPT_" + std::to_string(e.size()) + "=v");
    return e;
}

TEST_F(DaemonTest, BlockInPiecesIsReassembledAndPagesFollowIt)
{
    ASSERT_GT(start_daemon(), 0);
    int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
    ASSERT_GE(fd, 0);
    std::string bytes
        = block_bytes({"MODEL=Office", "PACKAGENAME=ok", "DPI=300"}) + "BM-first-page";
    // The length in one piece, then the rest a few bytes at a time.
    const struct timespec pause = {0, 20 * 1000 * 1000};
    send_bytes(fd, bytes.substr(0, 4));
    for (size_t at = 4; at < bytes.size(); at += 7) {
        nanosleep(&pause, nullptr);
        send_bytes(fd, bytes.substr(at, 7));
    }
    wire_end_pages(fd);
    EXPECT_EQ("STUB-OUTPUT\n", read_to_end(fd));
    close(fd);
    std::vector<std::string> env = {"MODEL=Office", "PACKAGENAME=ok", "DPI=300",
        "WINEPREFIX=/home/desk/.tessalwine/ok", "DISPLAY=:5", "HOME=/home/desk"};
    EXPECT_EQ(env, record().env);
    EXPECT_EQ("BM-first-page", rig_read_file("/opt/rig-out/tool.stdin"));
}

TEST_F(DaemonTest, MalformedBlocksEndTheWorker)
{
    ASSERT_GT(start_daemon(), 0);
    struct {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"length 0", int32_bytes(0), "no package.\n"},
        {"negative length", int32_bytes(-5) + "MODEL=m", "out of memory.\n"},
        {"cut off", int32_bytes(100) + std::string("MODEL=m\0PACK", 12), "failed to read.\n"},
        {"short length", std::string("\x10\x00", 2), "failed to read info.\n"},
        {"no model", block_bytes({"PACKAGENAME=ok", "model=m", "MODELX=m"}), "no printer name.\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ("", raw_job(c.bytes));
        EXPECT_TRUE(rig_wait_log(c.message, 10000));
        EXPECT_EQ(255, WEXITSTATUS(worker_status()));
    }
    EXPECT_FALSE(record().found);
    EXPECT_NE(0, access("/opt/rig-out/xpub.ran", F_OK)) << "the probe must not run";
}

TEST_F(DaemonTest, FirstOfARepeatedKeyWinsAndTheToolSeesOnlyIt)
{
    ASSERT_GT(start_daemon(), 0);
    run_job({"PACKAGENAME=ok", "MODEL=a b", "OPT_X=a=b", "PACKAGENAME=exit3"});
    std::string rec = rig_read_file("/opt/rig-out/configure.rec");
    EXPECT_NE(std::string::npos, rec.find("argc=1\narg=a b\n")) << rec;
    std::vector<std::string> env = {"PACKAGENAME=ok", "MODEL=a b", "OPT_X=a=b",
        "WINEPREFIX=/home/desk/.tessalwine/ok", "DISPLAY=:5", "HOME=/home/desk"};
    EXPECT_EQ(env, record().env);
}

TEST_F(DaemonTest, EmptyModelValueIsRefused)
{
    ASSERT_GT(start_daemon(), 0);
    EXPECT_EQ("", run_job({"MODEL=", "PACKAGENAME=ok"}));
    EXPECT_TRUE(rig_wait_log("no printer name.\n", 10000));
    EXPECT_TRUE(rig_read_file("/opt/rig-out/configure.rec").empty());
}

TEST_F(DaemonTest, EntryLimitIs246AfterConfigure)
{
    ASSERT_GT(start_daemon(), 0);
    EXPECT_EQ("STUB-OUTPUT\n", run_job(many_entries(246)));
    StubRecord r = record();
    ASSERT_EQ(249u, r.env.size());
    EXPECT_EQ("OPT_245=v", r.env[245]);
    EXPECT_EQ(0, worker_status());

    for (int n : {247, 300}) {
        SCOPED_TRACE(n);
        unlink("/opt/rig-out/configure.rec");
        EXPECT_EQ("", run_job(many_entries(n)));
        EXPECT_TRUE(rig_wait_log("too many options.\n", 10000));
        EXPECT_EQ(255, WEXITSTATUS(worker_status()));
        // The limit is checked only after the configure step has run.
        EXPECT_FALSE(rig_read_file("/opt/rig-out/configure.rec").empty());
    }
    EXPECT_EQ(2, count_of(rig_log(), "too many options.\n"));
}
