// Writes small two-page rasters with libcups into a directory, in each
// stream format and each colour format the filter takes: seeds for
// fuzz_raster.   raster_seeds DIR
#include <cups/raster.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

struct kind {
    cups_cspace_t space;
    unsigned bits, width;
};

static bool write_seed(const std::string& path, cups_mode_t mode, const kind& k)
{
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    cups_raster_t* ras = fd < 0 ? nullptr : cupsRasterOpen(fd, mode);
    bool ok = ras != nullptr;
    for (int page = 0; ok && page < 2; page++) {
        cups_page_header2_t h;
        memset(&h, 0, sizeof h);
        h.HWResolution[0] = h.HWResolution[1] = 72;
        h.PageSize[0] = 595;
        h.PageSize[1] = 842;
        h.cupsWidth = k.width;
        h.cupsHeight = 3 + page;
        h.cupsColorSpace = k.space;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsBitsPerColor = k.bits == 24 ? 8 : k.bits;
        h.cupsBitsPerPixel = k.bits;
        h.cupsNumColors = k.bits == 24 ? 3 : 1;
        h.cupsBytesPerLine = (k.width * k.bits + 7) / 8;
        std::vector<unsigned char> row(h.cupsBytesPerLine);
        ok = cupsRasterWriteHeader2(ras, &h);
        for (unsigned y = 0; ok && y < h.cupsHeight; y++) {
            for (size_t i = 0; i < row.size(); i++)
                row[i] = (unsigned char)(y == 1 ? 0x55 : i * 37 + y);
            ok = cupsRasterWritePixels(ras, row.data(), h.cupsBytesPerLine) == row.size();
        }
    }
    if (ras)
        cupsRasterClose(ras);
    if (fd >= 0)
        close(fd);
    return ok;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: raster_seeds DIR\n");
        return 2;
    }
    const kind kinds[] = {{CUPS_CSPACE_SRGB, 24, 7}, {CUPS_CSPACE_SW, 8, 33}, {CUPS_CSPACE_K, 8, 5},
        {CUPS_CSPACE_K, 1, 35}, {CUPS_CSPACE_W, 1, 9}};
    const struct {
        const char* name;
        cups_mode_t mode;
    } modes[] = {{"v3", CUPS_RASTER_WRITE}, {"v2", CUPS_RASTER_WRITE_COMPRESSED},
        {"pwg", CUPS_RASTER_WRITE_PWG}};
    int n = 0;
    for (const auto& m : modes)
        for (const kind& k : kinds) {
            std::string path = std::string(argv[1]) + "/seed-" + m.name + "-" + std::to_string(n++);
            if (!write_seed(path, m.mode, k)) {
                fprintf(stderr, "raster_seeds: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    return 0;
}
