// rastertotessal: CUPS filter that prints raster pages through a Windows
// driver run by zk_filter for the desktop user.
//
// Usage (by CUPS): rastertotessal job user title copies options [file]
// Reads CUPS raster (stdin or file), sends each page as a whole BMP file to
// the daemon and writes the printer data it relays back to stdout.

#include "../wire.h"
#include "bmp_page.h"
#include "job_options.h"
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

// libcups reads uncompressed raster one row per read(); a buffer in
// between saves most of those system calls.
struct raster_input {
    int fd;
    size_t pos, len;
    unsigned char buf[1 << 18];
};

static ssize_t read_raster(void* ctx, unsigned char* data, size_t bytes)
{
    raster_input* in = (raster_input*)ctx;
    if (in->pos == in->len) {
        ssize_t n;
        do
            n = read(in->fd, in->buf, sizeof in->buf);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return n;
        in->pos = 0;
        in->len = (size_t)n;
    }
    size_t n = in->len - in->pos < bytes ? in->len - in->pos : bytes;
    memcpy(data, in->buf + in->pos, n);
    in->pos += n;
    return (ssize_t)n;
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

// Sends one page whose header has been read: BMP headers, then the rows
// as they come out of the raster, a batch of rows per send.
static bool send_page(
    cups_raster_t* ras, const cups_page_header2_t* h, const bmp_layout* l, relay* r, int page)
{
    size_t rows_per_batch = l->bmp_row >= 262144 ? 1 : 262144 / l->bmp_row;
    size_t cap = rows_per_batch * l->bmp_row;
    if (cap < l->header_size)
        cap = l->header_size;
    unsigned char* in = (unsigned char*)malloc(l->raster_row);
    unsigned char* out = (unsigned char*)malloc(cap);
    bool ok = in && out;
    if (!ok)
        fprintf(stderr, "ERROR: Out of memory for page %d\n", page);
    if (ok) {
        bmp_write_headers(l, h->HWResolution[0], h->HWResolution[1], out);
        ok = relay_send(r, out, l->header_size);
    }
    // Grey and black rows need no conversion, only padding: they are read
    // straight into the send buffer.
    bool copy = l->kind != BMP_RGB24;
    size_t used = 0;
    for (uint32_t y = 0; ok && y < l->height; y++) {
        if (used + l->bmp_row > cap) {
            ok = relay_send(r, out, used);
            used = 0;
            if (!ok)
                break;
        }
        unsigned char* row = copy ? out + used : in;
        if (cupsRasterReadPixels(ras, row, l->raster_row) != l->raster_row) {
            fprintf(stderr, "ERROR: The raster of page %d ends after %u of %u rows\n", page, y,
                l->height);
            free(in);
            free(out);
            return false;
        }
        if (copy)
            memset(out + used + l->raster_row, 0, l->bmp_row - l->raster_row);
        else
            bmp_convert_row(l, in, out + used);
        used += l->bmp_row;
    }
    if (ok && used)
        ok = relay_send(r, out, used);
    if (!ok && (in && out))
        fprintf(stderr, "ERROR: Page %d: %s\n", page, r->error);
    free(in);
    free(out);
    return ok;
}

// Sends every page, starting with the one whose header is in h and whose
// layout is l.
static bool send_pages(cups_raster_t* ras, cups_page_header2_t* h, bmp_layout l, relay* r)
{
    int page = 1;
    fprintf(stderr, "INFO: Waiting for the desktop user's printer\n");
    for (;;) {
        if (!send_page(ras, h, &l, r, page))
            return false;
        fprintf(stderr, "PAGE: %d 1\n", page);
        fprintf(stderr, "INFO: Sent page %d\n", page);
        if (!cupsRasterReadHeader2(ras, h))
            return true;
        page++;
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
    input.fd = in;
    cups_raster_t* ras = cupsRasterOpenIO(read_raster, &input, CUPS_RASTER_READ);
    cups_page_header2_t h;
    if (!ras || !cupsRasterReadHeader2(ras, &h)) {
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
    if (!send_pages(ras, &h, l, &r))
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
