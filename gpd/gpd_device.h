// What the chosen options make of the printer: units, page geometry, the
// device's pixel format and how raster data goes to it.
#pragma once

#include "gpd_config.h"

#include <string>
#include <vector>

enum gpd_plane { GP_BLACK, GP_CYAN, GP_MAGENTA, GP_YELLOW, GP_RED, GP_GREEN, GP_BLUE };

enum gpd_cursor_x_after { GX_GRXDATA_END, GX_GRXDATA_ORIGIN, GX_CURSOR_X_ORIGIN };

struct gpd_device {
    long master_x = 0, master_y = 0; // master units per inch
    long dpi_x = 0, dpi_y = 0; // graphics resolution
    long text_dpi_x = 0, text_dpi_y = 0;
    // Geometry in master units: the sheet, the printable area on it and
    // the cursor origin (from the sheet's top left corner).
    long paper_w = 0, paper_h = 0;
    long origin_x = 0, origin_y = 0, area_w = 0, area_h = 0;
    long cursor_x = 0, cursor_y = 0;
    unsigned paper_code = 0; // the Windows paper code, 0 for the driver's own sizes
    // The page bitmap (the printable area) in device pixels.
    long bitmap_w = 0, bitmap_h = 0;
    // The device's pixel format.
    bool color = false;
    int planes = 1; // *DevNumOfPlanes
    int bpp = 1; // *DevBPP
    std::vector<gpd_plane> plane_order; // one per plane
    // Raster emission.
    // *OutputDataFormat: V_BYTE: a dot-matrix head prints pins_phys rows a
    // pass (*PinsPerPhysPass), each byte a column of 8 dots; pins_log rows
    // (*PinsPerLogPass) are printed in pins_log / pins_phys interlaced
    // passes, one row apart.  mirror_byte: the top dot in bit 0, not bit 7.
    bool v_byte = false;
    long pins_phys = 1, pins_log = 1;
    bool mirror_byte = false;
    bool strip_leading = false, strip_enclosed = false, strip_trailing = false;
    bool optimize_left = false;
    long min_strip_pixels = 0;
    bool send_all = false; // *RasterSendAllData?: no blank stripping at all
    gpd_cursor_x_after x_after = GX_GRXDATA_END;
    bool y_auto_increment = false;
    long x_move_unit = 0, y_move_unit = 0, x_threshold = 0;
    bool eject_ff = false; // *EjectPageWithFF?: CmdFF ends each page
};

// Works out the device for the choices.  False with *err (naming file and
// line where one entry is at fault) when the GPD lacks what printing needs
// (*MasterUnits, a resolution, a paper size) or names what we cannot do.
bool gpd_device_setup(const gpd_doc* doc, const gpd_config* c, gpd_device* d, std::string* err);

// Bytes in a device row of width pixels, one plane.
long gpd_row_bytes(const gpd_device* d, long width);
