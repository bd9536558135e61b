// The CUPS queue PPD for a GPD-only driver printed natively by rastertogpd.
//
// The PPD offers every feature of the GPD with the GPD's own options and
// display names: PaperSize as PageSize (with each paper's printable area),
// Resolution and ColorMode as Resolution and ColorModel (which make CUPS
// render the raster the driver wants), InputBin as InputSlot, MediaType,
// Duplex with CUPS's choice names, and the driver's own features under
// their names.  The GPD's constraints become UIConstraints.
//
// What the filter needs is kept in the PPD:
//   *tessalGpdFile: "/absolute/path/to/the.gpd"
//   *tessalGpd PageSize.A4: "PaperSize=A4"      (one for every choice)
#pragma once

#include "gpd_file.h"

#include <stdio.h>

#include <string>

// Writes the PPD for the GPD at gpd_path (absolute; doc read from it).
// model names the queue's printer ("" = the GPD's *ModelName).  False with
// *err when the GPD cannot make a queue (no paper it can print on).
bool gpd_write_ppd(const gpd_doc* doc, const char* gpd_path, const char* model, FILE* out,
    std::string* err);

// The PPD keyword the PPD uses for a GPD symbol: letters, digits, '.', '_'
// and '-' of it, at most 40 characters.
std::string gpd_ppd_keyword(const std::string& symbol);
