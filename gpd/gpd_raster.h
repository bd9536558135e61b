// The raster printer: from page bitmaps and the chosen options, the bytes
// the GPD commands.
//
//   gpd_job j;
//   gpd_job_start(&j, &doc, &config, copies, sink, ctx, &err);   // JOB_SETUP, DOC_SETUP
//   gpd_page_start(&j, in_bpp, &err);                            // PAGE_SETUP
//   for each of j.dev.bitmap_h rows: gpd_page_row(&j, row, &err);   // j.dev.bitmap_w pixels
//   gpd_page_end(&j, &err);                                      // PAGE_FINISH
//   gpd_job_end(&j, &err);                                       // DOC_FINISH, JOB_FINISH
//
// Rows go out as blocks (one per plane and stretch of ink), placed with the
// cursor commands, blank parts left out as the GPD allows, each block in
// the shortest of the compressions the GPD offers.  For a dot-matrix head
// (V_BYTE) rows are gathered into passes of the head's height and each
// pass goes out as one block of column bytes (gpd_vbyte.cpp).
#pragma once

#include "gpd_command.h"
#include "gpd_compress.h"
#include "gpd_device.h"

#include <string>
#include <vector>

// The commands the raster printer sends by name.
enum gpd_cmd_id {
    GCMD_XMOVE_ABS, GCMD_XMOVE_LEFT, GCMD_XMOVE_RIGHT, GCMD_YMOVE_ABS, GCMD_YMOVE_UP,
    GCMD_YMOVE_DOWN, GCMD_CR, GCMD_FF, GCMD_BEGIN_RASTER, GCMD_END_RASTER, GCMD_SRC_WIDTH,
    GCMD_SRC_HEIGHT, GCMD_SEND_BLOCK, GCMD_SEND_BLACK, GCMD_SEND_CYAN, GCMD_SEND_MAGENTA,
    GCMD_SEND_YELLOW, GCMD_SEND_RED, GCMD_SEND_GREEN, GCMD_SEND_BLUE, GCMD_TIFF4, GCMD_DRC,
    GCMD_FE_RLE, GCMD_NO_COMPRESSION, GCMD_OEM_COMP, GCMD_COUNT
};

// Where the printer data goes; false stops the job.
typedef bool (*gpd_sink)(void* ctx, const char* data, size_t len);

struct gpd_job;

// What a minidriver's rendering plug-in does in a job (the Wine route; the
// native route has none).  Each call may be null; a false return ends the
// job with *err.  The plug-in writes its own bytes through gpd_put, so they
// keep their place among the core's.
struct gpd_plugin {
    void* ctx = nullptr;
    // A command the GPD leaves to the plug-in (*CallbackID), with the values
    // of its *Params.
    bool (*command)(void* ctx, gpd_job* j, long id, const long* params, int count,
        std::string* err) = nullptr;
    // One block's raster data, handed over in place of writing it
    // (FilterGraphics): the block command has been sent.
    bool (*filter)(void* ctx, gpd_job* j, const unsigned char* data, size_t len,
        std::string* err) = nullptr;
    // The plug-in's compression (CmdEnableOEMComp): the bytes written to out
    // (at most cap), or -1 when it does not compress this block.
    long (*compress)(void* ctx, const unsigned char* in, size_t len, unsigned char* out,
        size_t cap) = nullptr;
};

struct gpd_job {
    const gpd_doc* doc = nullptr;
    const gpd_config* config = nullptr;
    gpd_device dev;
    gpd_vars vars;
    gpd_sink sink = nullptr;
    void* ctx = nullptr;
    const gpd_plugin* plugin = nullptr; // set before gpd_job_start
    std::string out; // bytes not yet handed to the sink
    gpd_command cmd[GCMD_COUNT];
    bool has[GCMD_COUNT] = {};
    // The printer's state as we moved it.
    long x = 0, y = 0; // cursor, master units from the cursor origin
    bool y_known = false; // false until the first move of a page
    gpd_compression mode = GC_NONE; // GC_COUNT: not known, set it before a block
    long width_bytes = -1; // the last CmdSetSrcBmpWidth sent
    bool raster_on = false;
    // The page being printed.
    int in_bpp = 0;
    long row = 0;
    std::vector<std::string> seed; // per plane: the block last sent, for delta rows
    long seed_row = -2, seed_start = -1; // the page row and first byte it came from
    bool compressed_once = false; // a compression was turned on in this job
    // V_BYTE: the rows of the pass being gathered, each its device rows by plane.
    std::vector<std::vector<std::string>> band;
    // Counters for the benchmark and the tests.
    unsigned long long blocks = 0, bytes = 0, by_mode[GC_COUNT] = {};
};

// Appends bytes to the printer data (the core's and a plug-in's).
bool gpd_put(gpd_job* j, const char* data, size_t len, std::string* err);

// Whether the native raster printer can print for this GPD at all: no
// command it would send is made by a plug-in (*CallbackID).  False with
// the reason, naming file and line.
bool gpd_native_check(const gpd_doc* doc, std::string* why);

bool gpd_job_start(gpd_job* j, const gpd_doc* doc, const gpd_config* config, long copies,
    gpd_sink sink, void* ctx, std::string* err);
// in_bpp: 1, 8 or 24 (see gpd_halftone.h).
bool gpd_page_start(gpd_job* j, int in_bpp, std::string* err);
// One row of j->dev.bitmap_w pixels, top row first.
bool gpd_page_row(gpd_job* j, const unsigned char* row, std::string* err);
// Rows not given are white.
bool gpd_page_end(gpd_job* j, std::string* err);
bool gpd_job_end(gpd_job* j, std::string* err);
