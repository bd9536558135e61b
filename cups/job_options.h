// The job info block a page stream is sent with, taken from the queue's PPD,
// the job's title and options and the first raster page.
#pragma once

#include "job_keys.h"

#include <cups/ppd.h>
#include <cups/raster.h>
#include <stddef.h>

// PPD keywords that tie a queue to its Windows driver package and map the
// queue's choices to the driver's codes.
#define PPD_PACKAGE_KEYWORD "TessalPackage"
#define PPD_MODEL_KEYWORD "TessalModel"
#define PPD_PAPER_CODE_KEYWORD "TessalPaperCode"
#define PPD_PAGE_AREA_KEYWORD "TessalPageArea"
#define PPD_DUPLEX_CODE_KEYWORD "TessalDuplexCode"
#define PPD_BIN_CODE_KEYWORD "TessalBinCode"
#define PPD_COLOR_CODE_KEYWORD "TessalColorCode"
#define PPD_MEDIA_CODE_KEYWORD "TessalMediaCode"
#define PPD_DRIVER_COPIES_KEYWORD "TessalDriverCopies"
#define PPD_MAX_COPIES_KEYWORD "TessalMaxCopies"
#define PPD_DRIVER_COLLATE_KEYWORD "TessalDriverCollate"
// "*TessalGpd Option.Choice: "Feature=Option"": a GPD driver's own choice.
#define PPD_GPD_KEYWORD "TessalGpd"

// Where the driver's printable area lies on the sheet CUPS rendered, in
// pixels at the page's resolution: the print tool puts the page's first
// pixel at the area's corner.
struct page_area {
    unsigned xdpi, ydpi;
    unsigned phys_w, phys_h, off_x, off_y, print_w, print_h;
};

struct job_info {
    char package[128]; // PACKAGENAME: driver package directory
    char model[256]; // MODEL: Windows printer name
    char pagesize[8]; // PAGESIZE: Windows paper code, decimal
    char dpi[24]; // DPI: "XxY"
    // The rest is "" when the queue's PPD has no code for it.
    char duplex[2]; // DUPLEX
    char inputbin[8]; // INPUTBIN
    char color[2]; // COLOR
    char mediatype[8]; // MEDIATYPE
    char copies[12]; // COPIES, set by job_info_set_copies
    char collate[2]; // COLLATE
    char docname[JOB_VALUE_MAX + 1]; // DOCNAME, set by job_info_set_title
    char gpdoptions[JOB_VALUE_MAX + 1]; // GPDOPTIONS: "Feature=Option;..."
    char size_name[64]; // the PPD page size the code came from (for messages)
    bool has_area; // area holds the driver's page for this size and resolution
    page_area area;
    // What the PPD says of the driver's copies.
    unsigned driver_copies; // most it makes; 0 when it makes none
    bool driver_collate;
};

// Fills info from a PPD whose options are already marked, and from the
// first page's header.  Returns true, or false with a message in err.
bool job_info_from_ppd(
    ppd_file_t* ppd, const cups_page_header2_t* h, job_info* info, char* err, size_t errlen);

// The document name from the job's title: control characters and bytes
// that are not UTF-8 become '?', cut at JOB_VALUE_MAX bytes between
// characters.
void job_info_set_title(job_info* info, const char* title);

// Most copies a job may ask for: the driver's maximum where it makes them,
// else the COPIES key's own limit.
#define JOB_COPIES_MAX 9999u
unsigned job_info_max_copies(const job_info* info);

// Hands copies to the driver when the PPD says it makes them (and
// collates them, when asked to); returns false when the filter must send
// the pages again itself.
bool job_info_set_copies(job_info* info, unsigned copies, bool collate);

// True when the job asked by name (PageSize=, media=) for a paper the
// queue does not offer, named in asked: CUPS then prints on the queue's
// default paper.
bool job_paper_not_offered(ppd_file_t* ppd, const char* options, char* asked, size_t len);

// The block's entries, "KEY=VALUE", written into storage; entries[] points
// into it.  Returns the count.
#define JOB_ENTRY_MAX 300
#define JOB_ENTRIES_MAX 12
size_t job_info_entries(
    const job_info* info, char storage[JOB_ENTRIES_MAX][JOB_ENTRY_MAX], const char* entries[]);
