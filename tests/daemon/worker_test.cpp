// The worker: configure step, launch, identity and relay.
#include "e2e.h"

#include "wire.h"

#include <unistd.h>

TEST_F(DaemonTest, LaunchEnvironmentAndArgumentsAreExact)
{
    ASSERT_GT(start_daemon(), 0);
    std::string out = run_job({ "MODEL=Office", "PACKAGENAME=ok", "PAGESIZE=9" }, "PAGES");
    EXPECT_EQ("STUB-OUTPUT\n", out);
    StubRecord r = record();
    ASSERT_TRUE(r.found);
    std::vector<std::string> argv = { "/usr/bin/tessal-wine", "/usr/bin/strelwick.exe", "img" };
    EXPECT_EQ(argv, r.argv);
    std::vector<std::string> env = { "MODEL=Office", "PACKAGENAME=ok", "PAGESIZE=9",
                                     "WINEPREFIX=/home/desk/.tessalwine/ok", "DISPLAY=:5", "HOME=/home/desk" };
    EXPECT_EQ(env, r.env);
    EXPECT_EQ("PAGES", rig_read_file("/opt/rig-out/tool.stdin"));
    std::string log = rig_log();
    std::string lines;
    for (const std::string& e : env)
        lines += e + "\n";
    EXPECT_NE(std::string::npos, log.find(lines)) << log;
    EXPECT_EQ(0, worker_status());
}
