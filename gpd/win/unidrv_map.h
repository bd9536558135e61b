// Between a device mode's public fields and the GPD's options: paper, input
// bin, resolution, colour, duplex, media type and orientation.
//
//   gpd_config c;
//   if (!UnidrvConfigFromDm(&doc, dm, &c, &err)) ...   // for printing
//   UnidrvDmFromConfig(&doc, &c, dm);                 // for a device mode
//
// The mapping itself works on unidrv_public, a plain copy of the fields, so
// it builds and is tested natively; the DEVMODEW calls only copy fields.
#pragma once

#include "gpd_config.h"

#include <string>

// The device mode field flags (DM_*) of the fields below.
enum {
    UNIDRV_F_ORIENTATION = 0x1,
    UNIDRV_F_PAPERSIZE = 0x2,
    UNIDRV_F_COPIES = 0x100,
    UNIDRV_F_DEFAULTSOURCE = 0x200,
    UNIDRV_F_PRINTQUALITY = 0x400,
    UNIDRV_F_COLOR = 0x800,
    UNIDRV_F_DUPLEX = 0x1000,
    UNIDRV_F_YRESOLUTION = 0x2000,
    UNIDRV_F_COLLATE = 0x8000,
    UNIDRV_F_MEDIATYPE = 0x2000000,
};

// Codes the device mode uses: DMPAPER_USER, DMBIN_USER and DMMEDIA_USER
// start the driver's own codes; DMRES_* quality levels are negative.
enum { UNIDRV_USER_CODE = 256 };
enum { UNIDRV_RES_DRAFT = -1, UNIDRV_RES_LOW = -2, UNIDRV_RES_MEDIUM = -3, UNIDRV_RES_HIGH = -4 };

struct unidrv_public {
    unsigned long fields = 0; // UNIDRV_F_* of the fields that are set
    int orientation = 0; // 1 portrait, 2 landscape
    int paper = 0; // Windows paper code
    int quality = 0, y_resolution = 0; // dpi, or a DMRES_* level in quality
    int color = 0; // 1 monochrome, 2 colour
    int duplex = 0; // 1 simplex, 2 long edge (vertical), 3 short edge
    int bin = 0;
    unsigned long media = 0;
};

// The code option oi of feature fi has in the device mode (paper, bin,
// media type, duplex, orientation, colour), 0 for features without one.
// Standard option names have Windows' codes, an *OptionID above 255 is
// taken as given, other options get UNIDRV_USER_CODE + their index.
unsigned long unidrv_option_code(const gpd_doc* doc, int fi, int oi);

// The resolution of option oi of the Resolution feature; false when it
// gives none.
bool unidrv_option_dpi(const gpd_doc* doc, int oi, long* x, long* y);

// Sets the features the public fields name, where the current choice does
// not already match them: values the driver does not offer are left alone.
// The features set count as chosen by the user.
void unidrv_apply_public(const gpd_doc* doc, const unidrv_public* pub, gpd_config* c);

// The public fields of the chosen options (fields the GPD has no feature
// for are not set).
void unidrv_public_from_config(const gpd_doc* doc, const gpd_config* c, unidrv_public* pub);

// The defaults, then the options text, then the public fields, resolved
// against the constraints.  Items of the text naming unknown features or
// options are skipped (a device mode from another version of the driver);
// false with *err when no choice satisfies the constraints.
bool unidrv_config_from(const gpd_doc* doc, const char* options, const unidrv_public* pub,
    gpd_config* c, std::string* err);

#ifdef _WIN32
#include <windows.h>

// The same from a device mode (its public fields and our private part);
// dm may be NULL for the defaults.
bool UnidrvConfigFromDm(const gpd_doc* doc, const DEVMODEW* dm, gpd_config* c, std::string* err);
// The public fields of the options into dm (other fields kept).
void UnidrvDmFromConfig(const gpd_doc* doc, const gpd_config* c, DEVMODEW* dm);
#endif
