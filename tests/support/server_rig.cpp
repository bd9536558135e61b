#include "server_rig.h"

#include "cups_util.h"
#include "internal.h"

#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

server_rig srv;

namespace {

const char kServerAddr[] = "10.213.0.1";
const char kOfficeNetns[] = "tessal-office";

// What run.sh and tessal-wine need of Wine, and a print tool that records
// its start and end, its uid, prefix and display, and answers with "printer
// data" naming them and the job options it got (and, when RECDIR/keep-pages
// exists, where it kept the pages).  It lists the laser fixture as its
// printer's capabilities, and prints nothing for a paper code written in
// RECDIR/refuse, as the print tool does for a paper the driver lacks.  The
// registry is faked just enough for run.sh to find its printer and for the
// launcher's graphics driver choice.
const char kStubWine[] = R"SH(#!/bin/bash
case $1 in
  wineboot)
    [ -f "$WINEPREFIX/system.reg" ] || echo 'WINE REGISTRY Version 2' >"$WINEPREFIX/system.reg"
    : >>"$WINEPREFIX/user.reg" ;;
  reg)
    [ "$2 $3" = 'add HKCU\Software\Wine\Drivers' ] && echo "\"$5\"=\"$7\"" >>"$WINEPREFIX/user.reg"
    exit 0 ;;
  *tessal-addprinter.exe)
    printf '[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\%s]\n' "$4" \
      >>"$WINEPREFIX/system.reg" ;;
  *strelwick.exe)
    [ "$2" = caps ] && { cat LISTING; exit 1; }
    start=$(date +%s%N)
    dir=$(dirname RECORDS)
    if [ -n "${PAGESIZE-}" ] && grep -qx "$PAGESIZE" "$dir/refuse" 2>/dev/null; then
      echo "stub: paper $PAGESIZE refused" >&2
      exit 0
    fi
    pages=
    if [ -e "$dir/keep-pages" ]; then
      pages=$dir/pages-$start
      cat >"$pages"
      bytes=$(stat -c %s "$pages")
    else
      bytes=$(wc -c)
    fi
    sleep 1
    echo "$start $(date +%s%N) $(id -u) $WINEPREFIX ${DISPLAY-unset} $bytes" >>RECORDS
    printf '%%!PS stub uid=%s prefix=%s display=%s bytes=%s\n' "$(id -u)" "$WINEPREFIX" \
      "${DISPLAY-unset}" "$bytes"
    printf 'pages=%s\n' "$pages"
    env | grep -E '^(PAGESIZE|DPI|DUPLEX|INPUTBIN|COLOR|MEDIATYPE|COPIES|COLLATE|DOCNAME)=' ;;
esac
exit 0
)SH";
const char kStubWineboot[] = R"SH(#!/bin/sh
[ -f "$WINEPREFIX/system.reg" ] || echo 'WINE REGISTRY Version 2' >"$WINEPREFIX/system.reg"
: >>"$WINEPREFIX/user.reg"
)SH";

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
tessal-mkppd --package generic-ps --listing "$LASER" -o "$SANDBOX_TMP/laser.ppd"
sandbox_queue laser "$SANDBOX_TMP/laser.ppd"
echo CUPS_SERVER=$CUPS_SERVER
)SH";

// Before the sandbox lays its overlay over /run, where "ip netns" keeps the
// namespace: the network and the office computer's cupsd.
bool set_up_office()
{
    std::string out;
    std::string ns = kOfficeNetns, in_ns = "ip netns exec " + ns + " ";
    int rc = server_shell("ip netns add " + ns
            + "\nip link add tsrv0 type veth peer name toff0 netns " + ns + "\nip addr add "
            + kServerAddr + "/24 dev tsrv0\nip link set tsrv0 up\nip link set lo up\n" + in_ns
            + "ip addr add 10.213.0.2/24 dev toff0\n" + in_ns + "ip link set toff0 up\n" + in_ns
            + "ip link set lo up\n" + in_ns + RIG_DIR + "/cupsd-rig.sh start " + srv.dir
            + "/office\n",
        &out);
    if (rc != 0)
        fprintf(stderr, "office computer set-up failed:\n%s", out.c_str());
    srv.office = srv.dir + "/office/run/cups.sock";
    return rc == 0;
}

// The office computer adds the shared queue as an IPP Everywhere printer.
bool add_office_queue()
{
    std::string out;
    int rc = server_shell("CUPS_SERVER=" + srv.office + " lpadmin -p office -E -v ipp://"
            + kServerAddr + ":631/printers/tessal -m everywhere",
        &out);
    if (rc != 0)
        fprintf(stderr, "adding the office queue failed:\n%s", out.c_str());
    return rc == 0;
}

// The stand-in answers for every way Wine is started: the commands in
// /usr/bin and the loaders that the shared Wine environment names.
bool write_stubs(const std::string& bin)
{
    std::string wine = kStubWine;
    for (size_t at; (at = wine.find("RECORDS")) != std::string::npos;)
        wine.replace(at, 7, srv.records);
    wine.replace(wine.find("LISTING"), 7, fixture("laser.caps"));
    std::string loaders = bin + "/../lib/wine";
    mkdir(loaders.c_str(), 0755);
    for (const char* loader : {"/wine", "/wine64"})
        if (!write_text(loaders + loader, wine) || chmod((loaders + loader).c_str(), 0755) != 0)
            return false;
    return write_text(bin + "/wine", wine) && write_text(bin + "/wineboot", kStubWineboot)
        && write_text(bin + "/wineserver", "#!/bin/sh\nexit 0\n")
        && chmod((bin + "/wine").c_str(), 0755) == 0
        && chmod((bin + "/wineboot").c_str(), 0755) == 0
        && chmod((bin + "/wineserver").c_str(), 0755) == 0;
}

} // namespace

std::string server_sandbox(const std::string& commands, int* status)
{
    child_io io;
    io.out = srv.dir + "/sandbox.out";
    io.err = srv.dir + "/sandbox.err";
    std::string script = "set -e\n" + support::sandbox_source() + "SANDBOX_STATE=" + srv.state
        + "\nSANDBOX_TMP=" + srv.state + "/tmp\nSANDBOX_OUT=" + srv.out + "\n" + commands;
    int rc = run({"bash", "-c", script}, io, 300);
    if (status)
        *status = rc;
    return read_text(io.out) + read_text(io.err);
}

int server_shell(const std::string& commands, std::string* out)
{
    child_io io;
    io.out = srv.dir + "/shell.out";
    io.err = io.out;
    int rc = run({"bash", "-ec", commands}, io, 120);
    if (out)
        *out = read_text(io.out);
    return rc;
}

pid_t server_start_daemon(void)
{
    std::string log = srv.state + "/tmp/zk_filter.log";
    pid_t pid = spawn({"/bin/sh", "-c", "exec /usr/sbin/zk_filter 2>>" + log + " >&2"}, {});
    usleep(300000);
    return pid;
}

std::string server_logs(void)
{
    return read_text(srv.state + "/tmp/cups/log/error_log") + "---- zk_filter ----\n"
        + read_text(srv.state + "/tmp/zk_filter.log");
}

std::vector<server_record> server_records(void)
{
    std::vector<server_record> all;
    std::istringstream in(read_text(srv.records));
    server_record r;
    while (in >> r.start >> r.end >> r.uid >> r.prefix >> r.display >> r.bytes)
        all.push_back(r);
    return all;
}

std::string server_output_of(int id)
{
    return read_text(srv.out + "/job-" + std::to_string(id) + ".prn");
}

long server_now_ms(void)
{
    return support::now_ms();
}

std::map<std::string, std::string> server_job_options(int id)
{
    std::map<std::string, std::string> keys;
    std::istringstream in(server_output_of(id));
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos && line.rfind("%!PS", 0) != 0)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

std::vector<int> server_submit_burst(std::string* out)
{
    std::vector<int> ids;
    int rc = server_shell("for c in 1 2 3 4; do\n"
                          "  (for j in 1 2 3 4 5; do lp -U client$c -d tessal$(((c + j) % 2 + 1)) "
            + srv.pdf + "; done) &\ndone\nwait",
        out);
    for (size_t at = 0;
         rc == 0 && (at = out->find("request id is tessal", at)) != std::string::npos; at++)
        ids.push_back(atoi(out->c_str() + out->find('-', at) + 1));
    return ids;
}

bool server_rig_start(void)
{
    // A private /run: "ip netns add" keeps its namespaces under /run/netns.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 || unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        perror("namespaces (the print server rig needs root)");
        return false;
    }
    if (support::sandbox_run("", "sandbox_private\nsandbox_tmpfs /run\n", {}) != 0) {
        fprintf(stderr, "the print server rig's mounts failed\n");
        return false;
    }
    srv.dir = temp_dir("tessal-server-test");
    srv.state = srv.dir + "/state";
    srv.out = srv.state + "/tmp/out";
    srv.records = srv.dir + "/records/tool.log";
    std::string stage = srv.dir + "/stage";
    child_io io;
    io.out = srv.dir + "/install.log";
    io.err = io.out;
    io.env = {"DESTDIR=" + stage};
    int rc = 1;
    std::string out;
    int st = 1;
    if (run({"cmake", "--install", BUILD_DIR, "--prefix", "/usr"}, io, 300) != 0)
        fprintf(stderr, "staging the install failed:\n%s", read_text(io.out).c_str());
    else if (mkdir((srv.dir + "/records").c_str(), 01777) != 0
        || chmod((srv.dir + "/records").c_str(), 01777) != 0 || !write_stubs(stage + "/usr/bin"))
        perror("stand-in Wine");
    else if (run({"ps2pdf", "-sPAPERSIZE=a4", fixture("pages.ps"),
                     srv.pdf = srv.dir + "/pages.pdf"},
                 {}, 60)
        != 0)
        fprintf(stderr, "ps2pdf failed\n");
    else if (set_up_office()
        && (out = server_sandbox("export CUPSD_RIG_LISTEN=" + std::string(kServerAddr)
                    + ":631\nLASER=" + fixture("laser.caps") + " STATE=" + srv.state
                    + " STAGE=" + stage + " SANDBOX_SESSION_PID=" + std::to_string(getpid())
                    + " SANDBOX_NO_DAEMON=1\n" + kSetup,
                &st),
            st == 0)
        && add_office_queue()) {
        size_t at = out.find("CUPS_SERVER=");
        std::string server = out.substr(at + 12, out.find('\n', at) - at - 12);
        setenv("CUPS_SERVER", server.c_str(), 1);
        srv.daemon = server_start_daemon();
        rc = 0;
    } else if (st != 0) {
        fprintf(stderr, "sandbox set-up failed:\n%s", out.c_str());
    }
    return rc == 0;
}

void server_rig_stop(void)
{
    if (srv.dir.empty())
        return;
    server_sandbox("sandbox_stop", nullptr);
    server_shell(
        "CUPS_SERVER= " + std::string(RIG_DIR) + "/cupsd-rig.sh stop " + srv.dir + "/office",
        nullptr);
    support::kill_children();
    for (const char* m : {"/usr", "/opt", "/run", "/etc"})
        umount2(m, MNT_DETACH);
    umount2((srv.state + "/tmp").c_str(), MNT_DETACH);
    remove_dir(srv.dir);
}
