// rastertotessal: CUPS filter that prints raster pages through a Windows
// driver run by zk_filter for the desktop user.
//
// Usage (by CUPS): rastertotessal job user title copies options [file]
// Reads CUPS raster (stdin or file), sends each page as a whole BMP file to
// the daemon and writes the printer data it relays back to stdout.

#include "wire.h"
#include "bmp_page.h"
#include "job_options.h"
#include "raster_pages.h"
#include "readiness.h"
#include "relay.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// The daemon connection, for the cancel handler.
static volatile sig_atomic_t g_conn = -1;

// CUPS cancels a job with SIGTERM.  Closing the connection ends the
// daemon's side of the job (its print tool sees the page stream end).
static void on_term(int)
{
    static const char msg[] = "INFO: Job canceled\n";
    if (g_conn >= 0)
        close(g_conn);
    ssize_t ignored = write(2, msg, sizeof msg - 1);
    (void)ignored;
    _exit(1);
}

static void set_signals()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &sa, nullptr);
    sa.sa_handler = on_term;
    sigaction(SIGTERM, &sa, nullptr);
}

// The queue's PPD with the job's options marked.
static ppd_file_t* open_ppd(const char* options)
{
    const char* path = getenv("PPD");
    if (!path || !*path) {
        fprintf(stderr, "ERROR: No PPD for this queue (PPD is not set)\n");
        return nullptr;
    }
    ppd_file_t* ppd = ppdOpenFile(path);
    if (!ppd) {
        int line = 0;
        ppd_status_t st = ppdLastError(&line);
        fprintf(stderr, "ERROR: Cannot read the PPD %s: %s on line %d\n", path, ppdErrorString(st),
            line);
        return nullptr;
    }
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(options, 0, &opts);
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, n, opts);
    cupsFreeOptions(n, opts);
    return ppd;
}

static bool plan_page(const cups_page_header2_t* h, int page, bmp_layout* l)
{
    const char* why = bmp_plan(h, l);
    if (why) {
        fprintf(stderr, "ERROR: Cannot print page %d: %s\n", page, why);
        return false;
    }
    return true;
}

static int connect_daemon(const job_info* info)
{
    fprintf(stderr, "INFO: Connecting to the print daemon\n");
    int fd = wire_connect();
    if (fd < 0) {
        report_connect_failure(errno);
        return -1;
    }
    g_conn = fd;
    char storage[4][JOB_ENTRY_MAX];
    const char* entries[4];
    size_t count = job_info_entries(info, storage, entries);
    if (wire_send_admission(fd, (int32_t)count) < 0 || wire_send_block(fd, entries, count) < 0) {
        fprintf(stderr, "ERROR: The print daemon refused the job: %s\n", strerror(errno));
        return -1;
    }
    fprintf(stderr, "DEBUG: %s %s %s %s\n", entries[0], entries[1], entries[2], entries[3]);
    return fd;
}

// The relay as a page sink.
static bool relay_sink(void* ctx, const unsigned char* data, size_t len)
{
    return relay_send((relay*)ctx, data, len);
}

// Sends every page, starting with the one whose header is in h and whose
// layout is l.  A stream that goes on after a page with anything but a
// readable page fails the job: the pages before it are not the whole
// document.
static bool send_pages(
    cups_raster_t* ras, raster_input* in, cups_page_header2_t* h, bmp_layout l, relay* r)
{
    int page = 1;
    fprintf(stderr, "INFO: Waiting for the desktop user's printer\n");
    for (;;) {
        char err[160];
        if (!raster_send_page(ras, h, &l, relay_sink, r, err, sizeof err)) {
            fprintf(stderr, "ERROR: Page %d: %s\n", page, err[0] ? err : r->error);
            return false;
        }
        fprintf(stderr, "PAGE: %d 1\n", page);
        fprintf(stderr, "INFO: Sent page %d\n", page);
        raster_next next = raster_next_header(ras, in, h);
        if (next == RASTER_END)
            return true;
        page++;
        if (next == RASTER_BAD) {
            fprintf(stderr,
                "ERROR: Page %d has no readable CUPS raster header: the input is cut short or "
                "damaged after page %d\n",
                page, page - 1);
            return false;
        }
        if (!plan_page(h, page, &l))
            return false;
    }
}

int main(int argc, char** argv)
{
    setvbuf(stderr, nullptr, _IONBF, 0);
    if (argc < 6 || argc > 7) {
        fprintf(stderr, "Usage: %s job user title copies options [file]\n", argv[0]);
        return 1;
    }
    set_signals();
    int in = 0;
    if (argc == 7 && (in = open(argv[6], O_RDONLY | O_CLOEXEC)) < 0) {
        fprintf(stderr, "ERROR: Cannot open %s: %s\n", argv[6], strerror(errno));
        return 1;
    }
    static raster_input input;
    raster_input_init(&input, in);
    cups_raster_t* ras = cupsRasterOpenIO(raster_input_read, &input, CUPS_RASTER_READ);
    cups_page_header2_t h;
    if (!ras || raster_next_header(ras, &input, &h) != RASTER_PAGE) {
        fprintf(stderr,
            "ERROR: The input holds no readable CUPS raster page: it is "
            "empty, cut short, or its page header is invalid\n");
        return 1;
    }
    bmp_layout l;
    if (!plan_page(&h, 1, &l))
        return 1;
    ppd_file_t* ppd = open_ppd(argv[5]);
    if (!ppd)
        return 1;
    job_info info;
    char err[256];
    bool ok = job_info_from_ppd(ppd, &h, &info, err, sizeof err);
    ppdClose(ppd);
    if (!ok) {
        fprintf(stderr, "ERROR: %s\n", err);
        return 1;
    }
    if (!print_user_present())
        return 1;
    int conn = connect_daemon(&info);
    if (conn < 0)
        return 1;
    relay r;
    if (!relay_init(&r, conn, 1)) {
        fprintf(stderr, "ERROR: %s\n", r.error);
        return 1;
    }
    if (!send_pages(ras, &input, &h, l, &r))
        return 1;
    fprintf(stderr, "INFO: All pages sent, waiting for printer data\n");
    if (!relay_finish(&r)) {
        fprintf(stderr, "ERROR: %s\n", r.error);
        return 1;
    }
    if (r.received == 0) {
        fprintf(stderr,
            "ERROR: The desktop user's printer returned no data; see the "
            "print daemon's log\n");
        return 1;
    }
    fprintf(stderr, "INFO: Printed (%llu bytes of printer data)\n", (unsigned long long)r.received);
    cupsRasterClose(ras);
    return 0;
}
