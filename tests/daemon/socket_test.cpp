// The listening socket: own abstract name, socket activation.
#include "e2e.h"

#include "wire.h"

#include <dirent.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

static int connect_with_length(socklen_t len)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path + 1, WIRE_SOCKET_NAME, strlen(WIRE_SOCKET_NAME));
    int rc = connect(fd, (struct sockaddr*)&addr, len);
    close(fd);
    return rc;
}

static std::vector<std::string> open_fds(pid_t pid)
{
    std::vector<std::string> fds;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    while (d && readdir(d)) { }
    if (d)
        rewinddir(d);
    while (struct dirent* e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.')
            fds.push_back(e->d_name);
    if (d)
        closedir(d);
    return fds;
}

TEST_F(DaemonTest, OwnSocketIsTheAbstractNameOfLength24)
{
    ASSERT_GT(start_daemon(), 0);
    EXPECT_NE(std::string::npos, rig_read_file("/proc/net/unix").find(" @tessal_zk_filter.sock\n"));
    // A trailing NUL makes it another name, which nobody listens on.
    EXPECT_EQ(-1, connect_with_length(25));
    EXPECT_EQ(0, connect_with_length(24));
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
}

TEST_F(DaemonTest, SecondDaemonFailsAtBind)
{
    ASSERT_GT(start_daemon(), 0);
    pid_t second = rig_start_daemon(ZK_FILTER_PATH, nullptr);
    ASSERT_GT(second, 0);
    int status = rig_wait_exit(second, 10000);
    ASSERT_NE(-1, status);
    EXPECT_EQ(255, WEXITSTATUS(status));
    EXPECT_NE(std::string::npos, rig_log().find("bind: Address already in use\n"));
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
}

TEST_F(DaemonTest, ActivationWithOneSocketUsesIt)
{
    rig_daemon_opts opts = {};
    opts.activation_fds = 1;
    opts.passcred = true;
    ASSERT_GT(start_daemon(&opts), 0);
    EXPECT_EQ("STUB-OUTPUT\n", run_job({"MODEL=m", "PACKAGENAME=ok"}));
    // No socket of its own: only stdio and the handed-over descriptor.
    // The job's slot closes as soon as its worker has ended.
    EXPECT_EQ(0, worker_status());
    std::vector<std::string> expected = {"0", "1", "2", "3"};
    std::vector<std::string> fds;
    for (int i = 0; i < 100 && fds != expected; i++, usleep(20000)) {
        fds = open_fds(daemon_);
        std::sort(fds.begin(), fds.end());
    }
    EXPECT_EQ(expected, fds);
    // The activation variables do not reach the probe.
    std::string env = rig_read_file("/opt/rig-out/xpub.env");
    EXPECT_NE(std::string::npos, env.find("PATH=")) << env;
    EXPECT_EQ(std::string::npos, env.find("LISTEN_")) << env;
}

TEST_F(DaemonTest, ActivationWithTwoSocketsEndsTheDaemon)
{
    rig_daemon_opts opts = {};
    opts.activation_fds = 2;
    opts.passcred = true;
    ASSERT_GT(start_daemon(&opts), 0);
    int status = rig_wait_exit(daemon_, 10000);
    ASSERT_NE(-1, status);
    EXPECT_EQ(255, WEXITSTATUS(status));
    EXPECT_EQ("too many fd received.\n", rig_log());
}

TEST_F(DaemonTest, ActivatedSocketWithoutCredentialsRefusesEveryone)
{
    rig_daemon_opts opts = {};
    opts.activation_fds = 1;
    opts.passcred = false;
    ASSERT_GT(start_daemon(&opts), 0);
    for (int i = 0; i < 2; i++) {
        int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
        ASSERT_GE(fd, 0);
        EXPECT_EQ("", read_to_end(fd));
        close(fd);
    }
    EXPECT_EQ(2, count_of(rig_log(), "invalid msg\n"));
    EXPECT_EQ(std::string::npos, rig_log().find("[INFO]"));
}
