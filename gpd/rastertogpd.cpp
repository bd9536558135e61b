// rastertogpd: CUPS filter that prints CUPS raster on a GPD-only driver's
// printer natively, with our own raster printer and no Wine.
//
// Usage (by CUPS): rastertogpd job user title copies options [file]
// The queue's PPD (made by tessal-gpdppd) names the GPD (*tessalGpdFile)
// and maps each of its choices to a GPD option (*tessalGpd).  The printer
// data goes to stdout.
#include "gpd_config.h"
#include "gpd_file.h"
#include "gpd_raster.h"
#include "gpd_value.h"
#include "raster_pages.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

static bool write_out(void*, const char* data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(1, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= (size_t)n;
    }
    return true;
}

static ppd_file_t* open_ppd(const char* options)
{
    const char* path = getenv("PPD");
    ppd_file_t* ppd = path && *path ? ppdOpenFile(path) : nullptr;
    if (!ppd) {
        fprintf(stderr, "ERROR: Cannot read the queue's PPD (%s)\n", path ? path : "PPD is not set");
        return nullptr;
    }
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(options, 0, &opts);
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, n, opts);
    cupsFreeOptions(n, opts);
    return ppd;
}

// Whether the job itself names the PPD option (or the IPP attribute CUPS
// turns into it): such a choice stands when constraints are settled, the
// queue's defaults give way first.
static bool job_names(const char* keyword, int n, cups_option_t* opts)
{
    static const char* const ipp[][2] = {{"PageSize", "media"}, {"PageSize", "PageRegion"},
        {"Duplex", "sides"}, {"ColorModel", "print-color-mode"}, {"InputSlot", "media-source"},
        {"MediaType", "media-type"}, {"Resolution", "printer-resolution"}};
    if (cupsGetOption(keyword, n, opts))
        return true;
    for (const auto& m : ipp)
        if (strcmp(keyword, m[0]) == 0 && cupsGetOption(m[1], n, opts))
            return true;
    return false;
}

// The GPD choices of the marked PPD choices.
static bool mark_choices(ppd_file_t* ppd, const char* options, const gpd_doc* doc, gpd_config* c)
{
    gpd_config_defaults(doc, c);
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(options, 0, &opts);
    bool ok = true;
    for (ppd_attr_t* a = ppdFindAttr(ppd, "tessalGpd", nullptr); a;
         a = ppdFindNextAttr(ppd, "tessalGpd", nullptr)) {
        std::string pick = a->spec;
        size_t dot = pick.find('.');
        if (dot == std::string::npos || !a->value)
            continue;
        ppd_choice_t* marked = ppdFindMarkedChoice(ppd, pick.substr(0, dot).c_str());
        if (!marked || pick.substr(dot + 1) != marked->choice)
            continue;
        std::string err, value = a->value;
        if (!gpd_config_parse(doc, a->value, c, &err)) {
            fprintf(stderr, "ERROR: The queue's PPD does not fit its GPD: %s\n", err.c_str());
            ok = false;
            break;
        }
        int fi = gpd_find_feature(doc, value.substr(0, value.find('=')).c_str());
        c->chosen[fi] = job_names(pick.substr(0, dot).c_str(), n, opts);
    }
    cupsFreeOptions(n, opts);
    return ok;
}

// The resolution the raster was rendered at decides the GPD's.
static bool match_resolution(const gpd_doc* doc, gpd_config* c, const cups_page_header2_t* h)
{
    int fi = gpd_find_feature(doc, "Resolution");
    if (fi < 0)
        return false;
    for (size_t o = 0; o < doc->features[fi].options.size(); o++) {
        c->choice[fi] = (int)o;
        const gpd_entry* e = gpd_option_attr(doc, c, "Resolution", "DPI");
        long x, y;
        if (e && gpd_pair(e->value, &x, &y) && x == (long)h->HWResolution[0]
            && y == (long)h->HWResolution[1])
            return true;
    }
    fprintf(stderr, "ERROR: The driver has no resolution of %ux%u dpi\n", h->HWResolution[0],
        h->HWResolution[1]);
    return false;
}

static bool settle(const gpd_doc* doc, gpd_config* c)
{
    std::string err;
    if (gpd_find_feature(doc, "Orientation") >= 0)
        gpd_config_set(doc, c, "Orientation", "PORTRAIT", &err); // CUPS turns the page
    if (!gpd_config_resolve(doc, c)) {
        std::string why;
        gpd_config_conflicts(doc, c, &why);
        fprintf(stderr, "ERROR: The chosen options conflict: %s\n", why.c_str());
        return false;
    }
    return true;
}

// The page bitmap's bits per pixel for a raster header, or 0.  The row
// length must hold the width, and stay what a page can be.
static int page_bpp(const cups_page_header2_t* h)
{
    if (h->cupsColorOrder != CUPS_ORDER_CHUNKED || h->cupsBitsPerColor > 8)
        return 0;
    uint64_t need = ((uint64_t)h->cupsWidth * h->cupsBitsPerPixel + 7) / 8;
    if (h->cupsWidth == 0 || h->cupsBytesPerLine < need || h->cupsBytesPerLine > (64u << 20))
        return 0;
    if (h->cupsBitsPerPixel == 24 && h->cupsColorSpace == CUPS_CSPACE_RGB)
        return 24;
    if (h->cupsBitsPerPixel == 8 && (h->cupsColorSpace == CUPS_CSPACE_SW || h->cupsColorSpace == CUPS_CSPACE_W))
        return 8;
    if (h->cupsBitsPerPixel == 1 && h->cupsColorSpace == CUPS_CSPACE_K)
        return 1;
    return 0;
}

// Where the raster's top left pixel lies on the sheet, in pixels: CUPS
// renders only the imaging box when the PPD gives an imageable area.
static void raster_origin(const cups_page_header2_t* h, long* x, long* y)
{
    const unsigned* box = h->ImagingBoundingBox;
    *x = *y = 0;
    if (box[2] > box[0] && box[3] > box[1]) {
        *x = (long)(box[0] * h->HWResolution[0] / 72.0 + 0.5);
        *y = (long)(((double)h->PageSize[1] - box[3]) * h->HWResolution[1] / 72.0 + 0.5);
    }
}

// Copies the part of raster row src that holds bitmap row pixels from
// column ox of the sheet (rx: the raster's first column on the sheet).
static void cut_row(const unsigned char* src, const cups_page_header2_t* h, long rx, long ox,
    long width, int bpp, unsigned char* row)
{
    for (long x = 0; x < width; x++) {
        long sx = x + ox - rx;
        if (sx < 0 || sx >= (long)h->cupsWidth)
            continue;
        if (bpp == 1) {
            if ((src[sx >> 3] >> (7 - (sx & 7))) & 1)
                row[x >> 3] |= (unsigned char)(0x80 >> (x & 7));
        } else {
            memcpy(&row[x * (bpp / 8)], &src[sx * (bpp / 8)], bpp / 8);
        }
    }
}

// Prints one page: the printable area cut out of the raster.
static bool print_page(gpd_job* j, cups_raster_t* ras, const cups_page_header2_t* h, int bpp)
{
    std::string err;
    const gpd_device& d = j->dev;
    long ox = d.origin_x / (d.master_x / d.dpi_x), oy = d.origin_y / (d.master_y / d.dpi_y);
    long rx, ry;
    raster_origin(h, &rx, &ry);
    std::vector<unsigned char> src(h->cupsBytesPerLine), row(((size_t)d.bitmap_w * bpp + 7) / 8);
    unsigned char white = bpp == 1 ? 0x00 : 0xff;
    bool ok = gpd_page_start(j, bpp, &err);
    for (unsigned y = 0; ok && y < h->cupsHeight; y++) {
        if (cupsRasterReadPixels(ras, src.data(), h->cupsBytesPerLine) != h->cupsBytesPerLine) {
            fprintf(stderr, "ERROR: The raster ends after %u of %u rows\n", y, h->cupsHeight);
            return false;
        }
        long by = (long)y + ry - oy; // the bitmap row this raster row is
        if (by < j->row || by >= d.bitmap_h)
            continue;
        memset(row.data(), white, row.size());
        while (ok && j->row < by) // bitmap rows above the raster are white
            ok = gpd_page_row(j, row.data(), &err);
        cut_row(src.data(), h, rx, ox, d.bitmap_w, bpp, row.data());
        ok = ok && gpd_page_row(j, row.data(), &err);
    }
    ok = ok && gpd_page_end(j, &err);
    if (!ok)
        fprintf(stderr, "ERROR: %s\n", err.c_str());
    return ok;
}

static int run(ppd_file_t* ppd, const char* options, int fd)
{
    ppd_attr_t* file = ppdFindAttr(ppd, "tessalGpdFile", nullptr);
    if (!file || !file->value || file->value[0] != '/') {
        fprintf(stderr, "ERROR: The queue's PPD names no GPD file (*tessalGpdFile)\n");
        return 1;
    }
    static gpd_doc doc;
    std::string err;
    if (!gpd_load(file->value, &doc, &err)) {
        fprintf(stderr, "ERROR: The driver's GPD cannot be read: %s\n", err.c_str());
        return 1;
    }
    if (!gpd_native_check(&doc, &err)) {
        fprintf(stderr, "ERROR: The driver cannot print without Windows: %s\n", err.c_str());
        return 1;
    }
    gpd_config config;
    if (!mark_choices(ppd, options, &doc, &config))
        return 1;
    static raster_input in;
    raster_input_init(&in, fd);
    cups_raster_t* ras = cupsRasterOpenIO(raster_input_read, &in, CUPS_RASTER_READ);
    if (!ras) {
        if (in.delivered == 0)
            return 0; // no pages at all
        fprintf(stderr, "ERROR: The raster holds bytes that are no page\n");
        return 1;
    }
    cups_page_header2_t h;
    gpd_job job;
    bool started = false, ok = true;
    int page = 0;
    raster_next next;
    while (ok && (next = raster_next_header(ras, &in, &h)) == RASTER_PAGE) {
        int bpp = page_bpp(&h);
        if (!bpp) {
            fprintf(stderr, "ERROR: Raster of %u bits per pixel in colour space %u cannot be printed\n",
                h.cupsBitsPerPixel, h.cupsColorSpace);
            ok = false;
            break;
        }
        if (!started) {
            ok = match_resolution(&doc, &config, &h) && settle(&doc, &config);
            if (ok && !gpd_job_start(&job, &doc, &config, 1, write_out, nullptr, &err)) {
                fprintf(stderr, "ERROR: %s\n", err.c_str());
                ok = false;
            }
            started = ok;
            if (ok)
                fprintf(stderr, "INFO: Printing with %s\n", gpd_config_text(&doc, &config).c_str());
        }
        ok = ok && print_page(&job, ras, &h, bpp);
        if (ok)
            fprintf(stderr, "PAGE: %d 1\n", ++page);
    }
    if (ok && next == RASTER_BAD) {
        fprintf(stderr, "ERROR: The raster holds bytes that are no page\n");
        ok = false;
    }
    if (ok && started && !gpd_job_end(&job, &err)) {
        fprintf(stderr, "ERROR: %s\n", err.c_str());
        ok = false;
    }
    cupsRasterClose(ras);
    return ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc < 6 || argc > 7) {
        fprintf(stderr, "usage: rastertogpd job user title copies options [file]\n");
        return 1;
    }
    int fd = 0;
    if (argc == 7 && (fd = open(argv[6], O_RDONLY | O_CLOEXEC)) < 0) {
        fprintf(stderr, "ERROR: Cannot open %s: %s\n", argv[6], strerror(errno));
        return 1;
    }
    ppd_file_t* ppd = open_ppd(argv[5]);
    if (!ppd)
        return 1;
    int rc = run(ppd, argv[5], fd);
    ppdClose(ppd);
    return rc;
}
