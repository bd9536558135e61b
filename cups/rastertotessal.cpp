// rastertotessal: CUPS filter that prints raster pages through a Windows
// driver run by zk_filter for the desktop user.
//
// Usage (by CUPS): rastertotessal job user title copies options [file]
// Reads CUPS raster (stdin or file), sends each page as a whole BMP file to
// the daemon and writes the printer data it relays back to stdout.

#include "wire.h"
#include "bmp_page.h"
#include "job_options.h"
#include "page_copies.h"
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
    char storage[JOB_ENTRIES_MAX][JOB_ENTRY_MAX];
    const char* entries[JOB_ENTRIES_MAX];
    size_t count = job_info_entries(info, storage, entries);
    if (wire_send_admission(fd, (int32_t)count) < 0 || wire_send_block(fd, entries, count) < 0) {
        fprintf(stderr, "ERROR: The print daemon refused the job: %s\n", strerror(errno));
        return -1;
    }
    for (size_t i = 0; i < count; i++)
        fprintf(stderr, "DEBUG: job option %s\n", entries[i]);
    return fd;
}

// The print tool prints nothing when the driver does not take the paper
// (it may stop before reading the pages); the paper is the likeliest
// cause worth naming.
static void report_no_data(const job_info* info)
{
    fprintf(stderr,
        "ERROR: The desktop user's printer returned no data for paper %s (Windows paper "
        "code %s): the driver may not offer it; see the print daemon's log\n",
        info->size_name, info->pagesize);
}

// Where pages go: the relay, and the copies file while the filter keeps
// pages to send again.
struct page_out {
    relay* r;
    page_spool* spool; // the copies file, used while spooling
    bool spooling;
};

static bool page_sink_fn(void* ctx, const unsigned char* data, size_t len)
{
    page_out* o = (page_out*)ctx;
    if (!relay_send(o->r, data, len))
        return false;
    if (o->spooling && !spool_write(o->spool, data, len)) {
        snprintf(o->r->error, sizeof o->r->error, "%s", o->spool->error);
        return false;
    }
    return true;
}

static bool near(unsigned a, unsigned b)
{
    return a + 2 >= b && b + 2 >= a;
}

// Plans the page.  When the PPD knows the driver's printable area for this
// page's size and resolution, the page sent is exactly that area (the
// print tool puts it at the area's corner): CUPS renders either the whole
// sheet, of which the area is cut out, or the imageable area the PPD
// gives, which rounding may leave a row or column off, made up in white.
static bool plan_sent_page(const job_info* info, const cups_page_header2_t* h, int page,
    bmp_layout* l, page_window* w, bool* windowed)
{
    const page_area* a = &info->area;
    *windowed = info->has_area && a->xdpi == h->HWResolution[0] && a->ydpi == h->HWResolution[1]
        && (a->print_w != h->cupsWidth || a->print_h != h->cupsHeight);
    if (!*windowed)
        return plan_page(h, page, l);
    bool sheet = near(h->cupsWidth, a->phys_w) && near(h->cupsHeight, a->phys_h);
    w->x = sheet ? a->off_x : 0;
    w->y = sheet ? a->off_y : 0;
    cups_page_header2_t cut = *h;
    cut.cupsWidth = a->print_w;
    cut.cupsHeight = a->print_h;
    cut.cupsBytesPerLine = (a->print_w * h->cupsBitsPerPixel + 7) / 8;
    return plan_page(&cut, page, l);
}

// Sends one page, and for uncollated copies the copies of it.
static bool send_page(cups_raster_t* ras, const cups_page_header2_t* h, const job_info* info,
    const job_copies* again, page_out* o, int* page)
{
    bmp_layout l;
    page_window win;
    bool windowed;
    if (!plan_sent_page(info, h, *page + 1, &l, &win, &windowed))
        return false;
    bool each = again->count > 1 && !again->collate;
    if (each && !spool_reset(o->spool)) {
        fprintf(stderr, "ERROR: %s\n", o->spool->error);
        return false;
    }
    char err[160];
    if (!raster_send_page(
            ras, h, &l, windowed ? &win : nullptr, page_sink_fn, o, err, sizeof err)) {
        if (!err[0] && o->r->peer_closed && o->r->received == 0)
            report_no_data(info);
        else
            fprintf(stderr, "ERROR: Page %d: %s\n", *page + 1, err[0] ? err : o->r->error);
        return false;
    }
    report_page_sent(page);
    if (each && !spool_replay(o->spool, again->count - 1, o->r, page)) {
        fprintf(stderr, "ERROR: %s\n", o->spool->error[0] ? o->spool->error : o->r->error);
        return false;
    }
    return true;
}

// The driver is set up once, for the first page's resolution: a later
// page at another would print at the wrong size.
static bool same_resolution(const job_info* info, const cups_page_header2_t* h, int page)
{
    char dpi[sizeof info->dpi];
    snprintf(dpi, sizeof dpi, "%ux%u", h->HWResolution[0], h->HWResolution[1]);
    if (strcmp(dpi, info->dpi) == 0)
        return true;
    fprintf(stderr, "ERROR: Page %d is at %s dpi, the pages before it at %s dpi\n", page, dpi,
        info->dpi);
    return false;
}

// Sends every page, starting with the one whose header is in h, and then
// the copies the filter makes.  A stream that goes on after a page with
// anything but a readable page fails the job: the pages before it are not
// the whole document.
static bool send_pages(cups_raster_t* ras, raster_input* in, cups_page_header2_t* h,
    const job_info* info, const job_copies* again, page_out* o)
{
    int page = 0;
    fprintf(stderr, "INFO: Waiting for the desktop user's printer\n");
    for (;;) {
        if (!send_page(ras, h, info, again, o, &page))
            return false;
        raster_next next = raster_next_header(ras, in, h);
        if (next == RASTER_END)
            break;
        if (next == RASTER_BAD) {
            fprintf(stderr,
                "ERROR: Page %d has no readable CUPS raster header: the input is cut short or "
                "damaged after page %d\n",
                page + 1, page);
            return false;
        }
        if (!same_resolution(info, h, page + 1))
            return false;
    }
    if (again->count > 1 && again->collate
        && !spool_replay(o->spool, again->count - 1, o->r, &page)) {
        fprintf(stderr, "ERROR: %s\n", o->spool->error[0] ? o->spool->error : o->r->error);
        return false;
    }
    return true;
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
    raster_next first = ras ? raster_next_header(ras, &input, &h) : RASTER_BAD;
    if (first == RASTER_END) {
        // What CUPS's filters send when the job's page selection
        // (page-ranges, page-set) leaves no page: nothing is wrong.
        fprintf(stderr, "INFO: Nothing to print: the job selects no pages\n");
        return 0;
    }
    if (first != RASTER_PAGE) {
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
    char asked[64];
    if (ok && job_paper_not_offered(ppd, argv[5], asked, sizeof asked))
        fprintf(stderr, "WARNING: This printer does not offer paper %s: printing on %s\n", asked,
            info.size_name);
    ppdClose(ppd);
    if (!ok) {
        fprintf(stderr, "ERROR: %s\n", err);
        return 1;
    }
    job_info_set_title(&info, argv[3]);
    job_copies copies = copies_asked(argv[4], argv[5], getenv("CONTENT_TYPE"), &h);
    if (copies.count > job_info_max_copies(&info)) {
        fprintf(stderr, "ERROR: The job asks for %u copies; this printer makes at most %u\n",
            copies.count, job_info_max_copies(&info));
        return 1;
    }
    job_copies again = {1, false}; // the copies the filter makes itself
    if (!job_info_set_copies(&info, copies.count, copies.collate))
        again = copies;
    page_spool spool = {-1, ""};
    if (again.count > 1 && !spool_open(&spool)) {
        fprintf(stderr, "ERROR: %s\n", spool.error);
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
    page_out out = {&r, &spool, again.count > 1};
    if (!send_pages(ras, &input, &h, &info, &again, &out))
        return 1;
    spool_close(&spool);
    fprintf(stderr, "INFO: All pages sent, waiting for printer data\n");
    if (!relay_finish(&r)) {
        fprintf(stderr, "ERROR: %s\n", r.error);
        return 1;
    }
    if (r.received == 0) {
        report_no_data(&info);
        return 1;
    }
    fprintf(stderr, "INFO: Printed (%llu bytes of printer data)\n", (unsigned long long)r.received);
    cupsRasterClose(ras);
    return 0;
}
