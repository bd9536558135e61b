// Reads back what the Tessal Band sample printer received: the records its
// rendering plug-in writes (see gpd/samples/tessal-band/tband.h), into the
// job's values and each page's picture.
#pragma once

#include "test_support.h"

#include <string>
#include <vector>

struct tband_page {
    long number = 0;
    int bpp = 0; // of its bands: 8 (gray) or 24; 0 when it had none
    long bands = 0;
    TestImage image; // the printable area, white where no band fell
};

struct tband_job {
    bool header = false; // values below come from a job header
    long version = 0, copies = 0, dpi_x = 0, dpi_y = 0, paper_w = 0, paper_h = 0, darkness = 0;
    std::vector<long> finish; // each Finish record's callback id
    std::vector<tband_page> pages;
    bool ended = false;
    long end_pages = 0; // the page count the job's end gives
};

// Decodes data for pages of width x height pixels.  False with *err on an
// unknown record, a cut-off one, a band outside the page or one whose
// payload does not decode to its size.
bool tband_decode(const std::string& data, int width, int height, tband_job* job, std::string* err);
