// Pages per second and bytes per page of the native GPD raster printer on
// the sample driver: a document rendered by Ghostscript at 300 dpi, printed
// in each colour mode.  Rendering is not timed.
#include "gpd_config.h"
#include "gpd_file.h"
#include "gpd_raster.h"
#include "test_support.h"

#include <stdio.h>
#include <time.h>

#include <string>
#include <vector>

static bool count_sink(void* ctx, const char*, size_t len)
{
    *(unsigned long long*)ctx += len;
    return true;
}

static double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    const char* doc_path = argc > 1 ? argv[1] : BENCH_DOC;
    std::string dir = make_temp_dir("gpd-bench");
    std::vector<std::string> pages_ppm;
    RunResult r = run_command({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw",
                                  "-r300", "-sPAPERSIZE=a4", "-dFIXEDMEDIA", "-o",
                                  dir + "/p-%d.ppm", doc_path},
        {}, "", 300);
    std::vector<TestImage> pages;
    for (int n = 1; r.exitCode == 0; n++) {
        TestImage img;
        std::string err;
        if (!read_ppm(dir + "/p-" + std::to_string(n) + ".ppm", &img, &err))
            break;
        pages.push_back(img);
    }
    remove_tree(dir);
    if (pages.empty()) {
        fprintf(stderr, "gpd_bench: Ghostscript rendered nothing from %s\n", doc_path);
        return 1;
    }
    gpd_doc doc;
    std::string err;
    if (!gpd_load(SAMPLE_GPD, &doc, &err)) {
        fprintf(stderr, "gpd_bench: %s\n", err.c_str());
        return 1;
    }
    printf("%zu pages of %s at 300 dpi, A4, on the sample driver\n", pages.size(), doc_path);
    for (const char* mode : {"Mono", "Color"}) {
        gpd_config c;
        gpd_config_defaults(&doc, &c);
        gpd_config_parse(&doc, (std::string("Resolution=Option2;ColorMode=") + mode).c_str(), &c, &err);
        gpd_job j;
        unsigned long long bytes = 0;
        if (!gpd_job_start(&j, &doc, &c, 1, count_sink, &bytes, &err)) {
            fprintf(stderr, "gpd_bench: %s\n", err.c_str());
            return 1;
        }
        long ox = j.dev.origin_x / 2, oy = j.dev.origin_y / 2;
        size_t row_bytes = (size_t)j.dev.bitmap_w * 3;
        std::vector<unsigned char> bitmap(row_bytes * j.dev.bitmap_h);
        double secs = 0;
        for (const TestImage& p : pages) {
            for (long y = 0; y < j.dev.bitmap_h; y++)
                for (long x = 0; x < j.dev.bitmap_w; x++) {
                    uint32_t px = pixel_at(p, (int)(x + ox), (int)(y + oy));
                    unsigned char* o = &bitmap[y * row_bytes + x * 3];
                    o[0] = (unsigned char)(px >> 16);
                    o[1] = (unsigned char)(px >> 8);
                    o[2] = (unsigned char)px;
                }
            double t0 = now();
            gpd_page_start(&j, 24, &err);
            for (long y = 0; y < j.dev.bitmap_h; y++)
                gpd_page_row(&j, &bitmap[y * row_bytes], &err);
            gpd_page_end(&j, &err);
            secs += now() - t0;
        }
        gpd_job_end(&j, &err);
        printf("%-5s  %6.1f pages/s  %9.0f bytes/page  blocks: %llu (none %llu, TIFF %llu, "
               "delta %llu, RLE %llu)\n",
            mode, pages.size() / secs, (double)bytes / pages.size(), j.blocks, j.by_mode[GC_NONE],
            j.by_mode[GC_TIFF4], j.by_mode[GC_DRC], j.by_mode[GC_RLE]);
    }
    return 0;
}
