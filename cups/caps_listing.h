// Reading the print tool's capability listing ("strelwick.exe caps"): one
// KEY=VALUE a line, what a Windows printer's driver says it can do.
#pragma once

#include <stddef.h>
#include <stdio.h>

#define CAPS_MAX_PAPERS 128
#define CAPS_MAX_RESOLUTIONS 8
#define CAPS_MAX_PAGES (CAPS_MAX_PAPERS * CAPS_MAX_RESOLUTIONS)
#define CAPS_MAX_CHOICES 64
#define CAPS_NAME_MAX 64
#define CAPS_MAX_FEATURES 64
#define CAPS_MAX_FEATURE_OPTIONS 32

// dmFields bits the queue's options depend on.
#define CAPS_DM_COPIES 0x100ul
#define CAPS_DM_DEFAULTSOURCE 0x200ul
#define CAPS_DM_COLOR 0x800ul
#define CAPS_DM_DUPLEX 0x1000ul
#define CAPS_DM_COLLATE 0x8000ul
#define CAPS_DM_MEDIATYPE 0x2000000ul

struct caps_paper {
    unsigned code;
    unsigned width, length; // 0.1 mm, portrait
    char name[CAPS_NAME_MAX + 1];
};

// The driver's page for one paper at one resolution, in device pixels.
struct caps_page {
    unsigned code, xdpi, ydpi;
    unsigned phys_w, phys_h; // the sheet
    unsigned off_x, off_y; // where the printable area starts on it
    unsigned print_w, print_h; // the printable area
};

struct caps_choice {
    unsigned code;
    char name[CAPS_NAME_MAX + 1];
};

struct caps_resolution {
    unsigned x, y;
};

// A feature of a GPD minidriver on our own core (FEATURE and OPTION
// lines): names are the GPD's symbols, texts what the user sees.
struct caps_feature_option {
    char name[CAPS_NAME_MAX + 1];
    char text[CAPS_NAME_MAX + 1];
};

struct caps_feature {
    char name[CAPS_NAME_MAX + 1];
    char default_option[CAPS_NAME_MAX + 1];
    char text[CAPS_NAME_MAX + 1];
    caps_feature_option options[CAPS_MAX_FEATURE_OPTIONS];
    int num_options;
    bool overflow; // it has more options than the listing keeps: not offered
};

struct caps_listing {
    char printer[201];
    char driver[CAPS_NAME_MAX + 1];
    unsigned long fields;
    unsigned default_paper;
    caps_resolution default_resolution;
    caps_paper papers[CAPS_MAX_PAPERS];
    int num_papers;
    caps_resolution resolutions[CAPS_MAX_RESOLUTIONS];
    int num_resolutions;
    caps_page pages[CAPS_MAX_PAGES];
    int num_pages;
    caps_choice bins[CAPS_MAX_CHOICES];
    int num_bins;
    caps_choice media[CAPS_MAX_CHOICES];
    int num_media;
    bool color, duplex, collate;
    unsigned copies;
    caps_feature features[CAPS_MAX_FEATURES];
    int num_features;
    bool features_dropped; // more features than kept: the rest are skipped
};

// Reads a listing.  Returns nullptr, or a message naming the line that is
// wrong (written into err).  Unknown keys are skipped: a newer print tool
// may say more.  An OPTION follows its FEATURE; a feature whose default is
// none of its options is refused.  Features and options past the limits are
// skipped (a GPD may have more papers than a queue offers of its own
// features), and such a feature marked.
const char* caps_read(FILE* f, caps_listing* out, char* err, size_t errlen);

// The driver's page for a paper at a resolution, or nullptr.
const caps_page* caps_find_page(const caps_listing* l, unsigned code, unsigned xdpi, unsigned ydpi);
