#include "page_copies.h"

#include <cups/cups.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

static bool is_false(const char* v)
{
    return v
        && (strcasecmp(v, "false") == 0 || strcasecmp(v, "no") == 0 || strcasecmp(v, "off") == 0);
}

// Collation as asked through any of the three names a client may use;
// uncollated when none is given.
static bool collate_asked(int n, cups_option_t* opts)
{
    const char* v = cupsGetOption("Collate", n, opts);
    if (v)
        return !is_false(v);
    if ((v = cupsGetOption("multiple-document-handling", n, opts)))
        return strcasecmp(v, "separate-documents-uncollated-copies") != 0;
    if ((v = cupsGetOption("sheet-collate", n, opts)))
        return strcasecmp(v, "uncollated") != 0;
    return false;
}

job_copies copies_asked(const char* copies_arg, const char* options, const char* content_type,
    const cups_page_header2_t* first)
{
    job_copies c = {1, false};
    if (!content_type || strcmp(content_type, "application/vnd.cups-raster") != 0) {
        c.count = first->NumCopies >= 1 ? first->NumCopies : 1;
        c.collate = first->Collate;
        return c;
    }
    char* end;
    errno = 0;
    unsigned long n = strtoul(copies_arg, &end, 10);
    if (errno == ERANGE || n > UINT_MAX || copies_arg[0] == '-')
        n = UINT_MAX;
    c.count = end != copies_arg && n >= 1 ? (unsigned)n : 1;
    cups_option_t* opts = nullptr;
    int count = cupsParseOptions(options, 0, &opts);
    c.collate = collate_asked(count, opts);
    cupsFreeOptions(count, opts);
    return c;
}

void report_page_sent(int* page)
{
    ++*page;
    fprintf(stderr, "PAGE: %d 1\n", *page);
    fprintf(stderr, "INFO: Sent page %d\n", *page);
}

bool spool_open(page_spool* s)
{
    const char* dir = getenv("TMPDIR");
    char path[4096];
    snprintf(path, sizeof path, "%s/tessal-copies.XXXXXX", dir && *dir ? dir : "/tmp");
    s->fd = mkstemp(path);
    if (s->fd < 0) {
        snprintf(s->error, sizeof s->error, "cannot create a file for the copies in %s: %s",
            dir && *dir ? dir : "/tmp", strerror(errno));
        return false;
    }
    unlink(path);
    return true;
}

bool spool_write(page_spool* s, const unsigned char* data, size_t len)
{
    if (write_all(s->fd, data, len))
        return true;
    snprintf(s->error, sizeof s->error, "cannot keep the pages for the copies: %s",
        strerror(errno));
    return false;
}

bool spool_reset(page_spool* s)
{
    if (ftruncate(s->fd, 0) != 0 || lseek(s->fd, 0, SEEK_SET) != 0) {
        snprintf(s->error, sizeof s->error, "cannot reuse the copies file: %s", strerror(errno));
        return false;
    }
    return true;
}

// Reads exactly len bytes at the file's position.
static bool read_all(page_spool* s, unsigned char* buf, size_t len)
{
    while (len > 0) {
        ssize_t n = read(s->fd, buf, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            snprintf(s->error, sizeof s->error, "cannot read the copies file back: %s",
                n < 0 ? strerror(errno) : "it is shorter than written");
            return false;
        }
        buf += n;
        len -= (size_t)n;
    }
    return true;
}

// Sends one BMP page from the file's position: its size is in the header
// the filter wrote itself.
static bool replay_page(page_spool* s, relay* r, unsigned char* buf, size_t cap)
{
    if (!read_all(s, buf, 14))
        return false;
    uint32_t size = (uint32_t)buf[2] | (uint32_t)buf[3] << 8 | (uint32_t)buf[4] << 16
        | (uint32_t)buf[5] << 24;
    if (size < 14 || !relay_send(r, buf, 14))
        return false;
    for (size_t left = size - 14; left > 0;) {
        size_t n = left < cap ? left : cap;
        if (!read_all(s, buf, n) || !relay_send(r, buf, n))
            return false;
        left -= n;
    }
    return true;
}

bool spool_replay(page_spool* s, unsigned times, relay* r, int* page)
{
    s->error[0] = '\0';
    off_t end = lseek(s->fd, 0, SEEK_END);
    const size_t cap = 1 << 18;
    unsigned char* buf = (unsigned char*)malloc(cap);
    bool ok = buf && end >= 0;
    if (!ok)
        snprintf(s->error, sizeof s->error, "out of memory");
    for (unsigned t = 0; ok && t < times; t++) {
        ok = lseek(s->fd, 0, SEEK_SET) == 0;
        while (ok && lseek(s->fd, 0, SEEK_CUR) < end) {
            ok = replay_page(s, r, buf, cap);
            if (ok)
                report_page_sent(page);
        }
    }
    free(buf);
    return ok;
}

void spool_close(page_spool* s)
{
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
}
