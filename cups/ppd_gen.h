// Builds the CUPS queue PPD for a Windows driver package.
//
// The PPD makes CUPS render to raster for rastertotessal and records what
// the filter needs to address the package: its name, the Windows printer
// name and, for each page size, the Windows paper code.
#pragma once

#include <stdio.h>

#define PPD_MAX_SIZES 32
#define PPD_MAX_RESOLUTIONS 8

struct ppd_page_size {
    char name[41]; // PPD keyword, e.g. "A4"
    unsigned code; // Windows paper code, e.g. 9
    double width; // points
    double length; // points
};

enum ppd_color_mode { PPD_COLOR_RGB = 1, PPD_COLOR_GRAY = 2, PPD_COLOR_MONO = 4 };

struct ppd_request {
    char package[128];
    char model[128];
    char manufacturer[64];
    ppd_page_size sizes[PPD_MAX_SIZES];
    int num_sizes;
    unsigned resolutions[PPD_MAX_RESOLUTIONS];
    int num_resolutions;
    int color_modes[3]; // in the order given; the first is the default
    int num_color_modes;
};

// Each adds one input and returns nullptr, or a message saying what is
// wrong with it.  The first size, resolution and colour mode added become
// the defaults.
const char* ppd_set_package(ppd_request* r, const char* package);
const char* ppd_set_model(ppd_request* r, const char* model);
const char* ppd_set_manufacturer(ppd_request* r, const char* text);
// "NAME", "NAME=CODE" or "NAME=CODE:WIDTHxHEIGHT" (points).  Well-known
// names (A4, Letter, ...) have their size and usual code built in.
const char* ppd_add_size(ppd_request* r, const char* text);
// "300" or "300dpi".
const char* ppd_add_resolution(ppd_request* r, const char* text);
// "rgb", "gray" or "mono".
const char* ppd_add_color_mode(ppd_request* r, const char* text);

// Fills in defaults for what was not given (A4 and Letter, 300 dpi, all
// colour modes) and checks the request is complete.
const char* ppd_finish(ppd_request* r);

// Writes the PPD.  Returns false on a write error.
bool ppd_write(const ppd_request* r, FILE* out);
