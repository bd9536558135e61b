// Copies the driver does not make: the filter sends the pages again.  The
// BMP pages it sent are kept in a temporary file (in $TMPDIR, removed at
// once, so nothing stays behind), never in memory: a job of any length
// needs the same memory.
#pragma once

#include "relay.h"

#include <cups/raster.h>
#include <stddef.h>

// How many copies the filter is asked for, and whether collated.  A
// document that reaches the filter as CUPS raster carries the job's count
// (argv[4]) and collation (Collate, multiple-document-handling,
// sheet-collate); any other was rendered by CUPS's filters, which already
// made the copies that CUPS does not leave to the device, and the raster
// header says what is left.  The count is as asked, however large: the
// caller refuses what the printer cannot make.
struct job_copies {
    unsigned count;
    bool collate;
};
job_copies copies_asked(const char* copies_arg, const char* options, const char* content_type,
    const cups_page_header2_t* first);

// Counts a page sent and tells CUPS (PAGE: for the page log, INFO: for
// the job's state), the same for copies as for the pages sent first.
void report_page_sent(int* page);

struct page_spool {
    int fd;
    char error[160];
};

// Opens the temporary file.  False with s->error.
bool spool_open(page_spool* s);
bool spool_write(page_spool* s, const unsigned char* data, size_t len);
// Empties the file for the next page.
bool spool_reset(page_spool* s);
// Sends what the file holds `times` times, reporting each page to CUPS
// (*page counts them).  False with s->error, or with r->error when the
// relay failed.
bool spool_replay(page_spool* s, unsigned times, relay* r, int* page);
void spool_close(page_spool* s);
