// Turning a row of the page bitmap into the device's rows, one per plane.
//
// Page rows: 1 bpp (1 = black), 8 bpp grey (255 = white) or 24 bpp RGB.
// Device rows, by *DevBPP and *DevNumOfPlanes:
//   1 bpp, 1 plane: 1 = black dot;
//   1 bpp, 3 or 4 planes: one row per plane in *ColorPlaneOrder, 1 = a dot
//     of that ink (CYAN, MAGENTA, YELLOW, BLACK) or that light (RED, GREEN,
//     BLUE: white is all ones);
//   4 bpp: a nibble per pixel, bits 8 black, 4 cyan, 2 magenta, 1 yellow;
//   8 bpp: the grey level as ink, 0 = white;
//   24 bpp: R, G, B bytes, white = 255.
// Fewer levels than the page has are made with an 8x8 ordered dither.
#pragma once

#include "gpd_device.h"

#include <string>
#include <vector>

// The byte that is white in a device row of plane p.
unsigned char gpd_white_byte(const gpd_device* d, int plane);

// Makes the device rows for page row y (width pixels, in_bpp bits each).
void gpd_device_rows(const gpd_device* d, const unsigned char* row, int in_bpp, long width, long y,
    std::vector<std::string>* planes);
