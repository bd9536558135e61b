// Builds the CUPS queue PPD for a Windows driver package.
//
// The PPD makes CUPS render to raster for rastertotessal and records what
// the filter needs to address the package: its name, the Windows printer
// name and, for each page size, the Windows paper code.
#pragma once

#include "caps_listing.h"

#include <stddef.h>
#include <stdio.h>

#define PPD_MAX_SIZES CAPS_MAX_PAPERS
#define PPD_MAX_RESOLUTIONS CAPS_MAX_RESOLUTIONS
#define PPD_KEYWORD_MAX 40

// The driver's page at one resolution (see caps_page).
struct ppd_page_area {
    unsigned xdpi, ydpi, phys_w, phys_h, off_x, off_y, print_w, print_h;
};

struct ppd_page_size {
    char name[PPD_KEYWORD_MAX + 1]; // PPD keyword, e.g. "A4"
    char text[CAPS_NAME_MAX + 1]; // what the user sees ("" = the keyword)
    unsigned code; // Windows paper code, e.g. 9
    double width; // points
    double length; // points
    double area[4]; // imageable area, llx lly urx ury (points); all 0 = whole sheet
    ppd_page_area pages[PPD_MAX_RESOLUTIONS];
    int num_pages;
};

struct ppd_resolution {
    unsigned x, y;
};

// A choice of an option that maps to a Windows code.
struct ppd_choice {
    char name[PPD_KEYWORD_MAX + 1];
    char text[CAPS_NAME_MAX + 1];
    unsigned code;
};

// One of a GPD minidriver's own features (see ppd_gpd.cpp).
#define PPD_MAX_GPD_FEATURES CAPS_MAX_FEATURES
struct ppd_gpd_feature {
    char keyword[PPD_KEYWORD_MAX + 1]; // the PPD option
    const caps_feature* feature; // in the listing given to ppd_from_listing
};

enum ppd_color_mode { PPD_COLOR_RGB = 1, PPD_COLOR_GRAY = 2, PPD_COLOR_MONO = 4 };

struct ppd_request {
    char package[128];
    char model[128];
    char manufacturer[64];
    ppd_page_size sizes[PPD_MAX_SIZES];
    int num_sizes;
    ppd_resolution resolutions[PPD_MAX_RESOLUTIONS];
    int num_resolutions;
    int color_modes[3]; // in the order given; the first is the default
    int num_color_modes;
    // What only a listing of the driver tells (all off from the command line).
    bool color_codes; // the driver takes a colour mode (dmColor)
    bool duplex; // it prints both sides (dmDuplex)
    ppd_choice bins[CAPS_MAX_CHOICES]; // its input bins (dmDefaultSource)
    int num_bins;
    ppd_choice media[CAPS_MAX_CHOICES]; // its media types (dmMediaType)
    int num_media;
    unsigned driver_copies; // most copies the driver makes itself (dmCopies); 0: none
    bool driver_collate; // and collates them (dmCollate)
    ppd_gpd_feature gpd[PPD_MAX_GPD_FEATURES]; // a GPD driver's own features
    int num_gpd;
};

// Text that goes between quotes in the PPD and into a Windows printer
// name: 1 to max bytes of printable ASCII without '"', and without ',' or
// '\' that Windows printer names cannot hold.
bool ppd_plain_text(const char* s, size_t max);

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

// Takes the printer, papers, resolutions and options from a driver's
// listing; the package is set apart.  Papers the driver did not select at
// any resolution are left out.  The listing must outlive the request: a
// GPD driver's features are written from it.
const char* ppd_from_listing(ppd_request* r, const caps_listing* l);

// Fills in defaults for what was not given (A4 and Letter, 300 dpi, all
// colour modes) and checks the request is complete.
const char* ppd_finish(ppd_request* r);

// The driver's own GPD features of the listing, as options (ppd_gpd.cpp).
void ppd_gpd_from_listing(ppd_request* r, const caps_listing* l);
void ppd_write_gpd(const ppd_request* r, FILE* f);

// Writes the PPD.  Returns false on a write error.
bool ppd_write(const ppd_request* r, FILE* out);
