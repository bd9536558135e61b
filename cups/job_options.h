// The job info block a page stream is sent with, taken from the queue's PPD
// and the first raster page.
#pragma once

#include "job_keys.h"

#include <cups/ppd.h>
#include <cups/raster.h>
#include <stddef.h>

// PPD keywords that tie a queue to its Windows driver package.
#define PPD_PACKAGE_KEYWORD "TessalPackage"
#define PPD_MODEL_KEYWORD "TessalModel"
#define PPD_PAPER_CODE_KEYWORD "TessalPaperCode"

struct job_info {
    char package[128]; // PACKAGENAME: driver package directory
    char model[256]; // MODEL: Windows printer name
    char pagesize[8]; // PAGESIZE: Windows paper code, decimal
    char dpi[24]; // DPI: "XxY"
    char size_name[64]; // the PPD page size the code came from (for messages)
};

// Fills info from a PPD whose options are already marked, and from the
// first page's header.  Returns true, or false with a message in err.
bool job_info_from_ppd(
    ppd_file_t* ppd, const cups_page_header2_t* h, job_info* info, char* err, size_t errlen);

// The block's entries, "KEY=VALUE", written into storage (4 strings of
// JOB_ENTRY_MAX bytes each); entries[] points into it.  Returns the count.
#define JOB_ENTRY_MAX 300
size_t job_info_entries(const job_info* info, char storage[][JOB_ENTRY_MAX], const char* entries[]);
