#include "e2e.h"

#include "wire.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

static const char k_xpub[] = "echo ran > /opt/rig-out/xpub.ran\n"
                             "/usr/bin/env > /opt/rig-out/xpub.env\n"
                             "/bin/cat /opt/rig-out/probe.out\n";

// Records its arguments, environment, identity and descriptors.
static const char k_run_ok[]
    = "{ echo \"argc=$#\"; for a in \"$@\"; do echo \"arg=$a\"; done\n"
      "  echo \"uid=$(/usr/bin/id -u)\"; echo \"groups=$(/usr/bin/id -G)\"\n"
      "  /usr/bin/env | /usr/bin/sed 's/^/env=/'\n"
      "  for f in /proc/$$/fd/*; do echo \"fd=${f##*/} $(/usr/bin/readlink $f)\"; done\n"
      "} > /opt/rig-out/configure.rec\n";

void DaemonTest::SetUp()
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the daemon rig needs root";
    ASSERT_EQ(0, rig_enter());
    ASSERT_EQ(0, rig_add_group("deskextra", DESK_EXTRA_GID, "desk"));
    ASSERT_EQ(0, rig_add_user("desk", DESK_UID, DESK_UID, "/home/desk"));
    ASSERT_EQ(0, rig_add_user("slash", SLASH_UID, SLASH_UID, "/"));
    ASSERT_EQ(0, rig_add_user("lpadmin", LPADMIN_UID, 105, "/home/lpadmin"));
    ASSERT_EQ(0, rig_add_user("svc", SVC_UID, SVC_UID, "/home/svc"));

    ASSERT_EQ(0, rig_tmpfs("/opt"));
    ASSERT_EQ(0, mkdir("/opt/rig-out", 0755));
    ASSERT_EQ(0, chmod("/opt/rig-out", 01777));
    const std::string root = "/opt/tessalwine/printer_drv/";
    ASSERT_EQ(0, rig_write_file((root + "xpub.sh").c_str(), k_xpub, 0644));
    set_probe_output("XUSER=desk\nDISPLAY=:5\n");
    ASSERT_EQ(0, rig_write_file((root + "ok/run.sh").c_str(), k_run_ok, 0644));
    ASSERT_EQ(0, rig_write_file((root + "exit3/run.sh").c_str(), "exit 3\n", 0644));
    ASSERT_EQ(0, rig_write_file((root + "killed/run.sh").c_str(), "kill -KILL $$\n", 0644));
    ASSERT_EQ(0, mkdir((root + "norun").c_str(), 0755));

    ASSERT_EQ(0, rig_overlay("/usr/bin", nullptr));
    std::string stub = rig_read_file(STUB_TESSAL_WINE);
    ASSERT_FALSE(stub.empty());
    ASSERT_EQ(0, rig_write_file("/usr/bin/tessal-wine", stub, 0755));
}

void DaemonTest::TearDown()
{
    if (HasFailure())
        fprintf(stderr, "---- daemon log ----\n%s---- end of log ----\n", rig_log().c_str());
    rig_leave();
}

pid_t DaemonTest::start_daemon(const rig_daemon_opts* opts)
{
    daemon_ = rig_start_daemon(ZK_FILTER_PATH, opts);
    return daemon_;
}

void DaemonTest::set_probe_output(const std::string& text)
{
    ASSERT_EQ(0, rig_write_file("/opt/rig-out/probe.out", text, 0644));
}

std::string DaemonTest::run_job(const std::vector<std::string>& entries, const std::string& pages)
{
    int fd = rig_connect_as(LP_UID, LP_UID, 1, RIG_ADMIT);
    if (fd < 0) {
        ADD_FAILURE() << "cannot connect as lp";
        return "";
    }
    send_bytes(fd, block_bytes(entries) + pages);
    wire_end_pages(fd);
    std::string out = read_to_end(fd);
    close(fd);
    return out;
}

StubRecord DaemonTest::record(const char* tag)
{
    StubRecord r;
    std::string text = rig_read_file(("/opt/rig-out/" + std::string(tag) + ".rec").c_str());
    r.found = !text.empty();
    size_t at = 0;
    while (at < text.size()) {
        size_t eol = text.find('\n', at);
        std::string line = text.substr(at, eol - at);
        at = eol == std::string::npos ? text.size() : eol + 1;
        auto value = [&](const char* key) {
            return line.compare(0, strlen(key), key) == 0 ? line.substr(strlen(key))
                                                          : std::string("\x01");
        };
        std::string v;
        if ((v = value("argv=")) != "\x01")
            r.argv.push_back(v);
        else if ((v = value("env=")) != "\x01")
            r.env.push_back(v);
        else if ((v = value("fd=")) != "\x01")
            r.fds.push_back(v);
        else if ((v = value("uid=")) != "\x01")
            r.uid = v;
        else if ((v = value("gid=")) != "\x01")
            r.gid = v;
        else if ((v = value("groups=")) != "\x01")
            r.groups = v;
        else if ((v = value("pid=")) != "\x01")
            r.pid = atol(v.c_str());
        else if ((v = value("ppid=")) != "\x01")
            r.ppid = atol(v.c_str());
        else if ((v = value("pgid=")) != "\x01")
            r.pgid = atol(v.c_str());
        else if ((v = value("stdin=")) != "\x01")
            r.stdin_bytes = atol(v.c_str());
    }
    return r;
}

int DaemonTest::worker_status()
{
    return rig_reap_adopted(20000);
}

std::string block_bytes(const std::vector<std::string>& entries)
{
    std::string body;
    for (const std::string& e : entries)
        body += e + std::string(1, '\0');
    int32_t len = (int32_t)body.size();
    return std::string((const char*)&len, sizeof len) + body;
}

void send_bytes(int fd, const std::string& bytes)
{
    EXPECT_EQ(0, wire_send_all(fd, bytes.data(), bytes.size()));
}

std::string read_to_end(int fd)
{
    std::string out;
    EXPECT_TRUE(rig_read_all(fd, &out, 60000)) << "connection did not end";
    return out;
}

bool has(const std::vector<std::string>& v, const std::string& item)
{
    for (const std::string& s : v)
        if (s == item)
            return true;
    return false;
}

int count_of(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}
