// Reads back what the sample printer (gpd/samples/tessal-jet) received:
// its PCL-like commands and raster blocks, into the device rows of each
// page, so that tests can compare them with what the printer should print.
#pragma once

#include <string>
#include <vector>

struct tjet_page {
    long dpi = 0;
    int planes = 1;
    // rows[plane][y]: the device row, bytes of the printable area.
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> selects; // "&l26A", "*t300R", ... in order
    std::string modes; // the compression mode of each block, '0'..'3'
};

struct tjet_job {
    long copies = 0;
    std::vector<tjet_page> pages;
    bool ended = false; // the job's closing reset came
};

// The sample printer with a dot-matrix head: "ESC *c<pins>P" sets the
// head's pins, "ESC *c<columns>V" prints columns of pins / 8 bytes, the
// top dot in the high bit (the low bit when lsb_top), the pins pin_rows
// rows apart, then feeds the paper by the head's height ("ESC *c<columns>U":
// the same without the feed, the next colour plane's columns to come).
struct tjet_head {
    long pin_rows = 1;
    bool lsb_top = false;
};

// Decodes data for pages of width_bytes x height device rows of bpp bits a
// pixel; each row starts white (white).  False with *err on bytes the printer would
// not understand, data outside the page or a block that does not decode.
bool tjet_decode(const std::string& data, long width_bytes, long height, int bpp,
    unsigned char white, tjet_job* job, std::string* err, const tjet_head* head = nullptr);
