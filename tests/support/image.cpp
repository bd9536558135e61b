// Test pictures, PPM files and Ghostscript renders.
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

TestImage make_image(int width, int height, uint32_t fill)
{
    TestImage img;
    img.width = width;
    img.height = height;
    img.rgb.assign((size_t)width * height, fill);
    return img;
}

uint32_t pixel_at(const TestImage& img, int x, int y)
{
    return img.rgb[(size_t)y * img.width + x];
}

void set_pixel(TestImage& img, int x, int y, uint32_t rgb)
{
    img.rgb[(size_t)y * img.width + x] = rgb;
}

TestImage make_test_picture(int width, int height, int colours)
{
    static const uint32_t base[]
        = {0x000000, 0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff, 0x808080};
    TestImage img = make_image(width, height, 0xffffff);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint32_t c;
            if (colours <= 2)
                c = ((x / 4 + y / 3) % 3 == 0 || x == y) ? 0x000000 : 0xffffff;
            else if (colours <= 16)
                c = base[(x / 5 + 2 * (y / 7)) % 8] ^ (x == y ? 0xffffff : 0);
            else if (colours <= 256)
                c = ((x * 255 / width) & 0xe0) << 16 | ((y * 255 / height) & 0xc0) << 8
                    | ((x + y) % 4) * 0x40;
            else
                c = (uint32_t)((x * 7) & 0xff) << 16 | (uint32_t)((y * 5) & 0xff) << 8
                    | (uint32_t)((x * y) & 0xff);
            img.rgb[(size_t)y * width + x] = c;
        }
    }
    // Marks that tell the corners apart: top-left red, bottom-right blue.
    for (int y = 0; y < 3 && y < height; y++)
        for (int x = 0; x < 3 && x < width; x++) {
            set_pixel(img, x, y, colours <= 2 ? 0x000000 : 0xff0000);
            set_pixel(img, width - 1 - x, height - 1 - y, colours <= 2 ? 0x000000 : 0x0000ff);
        }
    return img;
}

static bool read_token(FILE* f, long* value)
{
    int c = fgetc(f);
    while (c != EOF && (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#')) {
        if (c == '#')
            while (c != EOF && c != '\n')
                c = fgetc(f);
        c = fgetc(f);
    }
    if (c < '0' || c > '9')
        return false;
    long v = 0;
    while (c >= '0' && c <= '9' && v < 1000000) {
        v = v * 10 + (c - '0');
        c = fgetc(f);
    }
    *value = v; // the one white-space byte after maxval has been consumed
    return true;
}

bool read_ppm(const std::string& path, TestImage* img, std::string* err)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *err = "cannot open " + path;
        return false;
    }
    char magic[2] = {0, 0};
    long w = 0, h = 0, maxval = 0;
    bool ok = fread(magic, 1, 2, f) == 2 && magic[0] == 'P' && magic[1] == '6' && read_token(f, &w)
        && read_token(f, &h) && read_token(f, &maxval) && maxval == 255 && w > 0 && h > 0
        && w <= 20000 && h <= 20000;
    if (!ok) {
        fclose(f);
        *err = "not a P6/255 PPM: " + path;
        return false;
    }
    std::vector<uint8_t> raw((size_t)w * h * 3);
    size_t got = fread(raw.data(), 1, raw.size(), f);
    fclose(f);
    if (got != raw.size()) {
        *err = "short PPM: " + path;
        return false;
    }
    img->width = (int)w;
    img->height = (int)h;
    img->rgb.resize((size_t)w * h);
    for (size_t i = 0; i < img->rgb.size(); i++)
        img->rgb[i] = (uint32_t)raw[3 * i] << 16 | (uint32_t)raw[3 * i + 1] << 8 | raw[3 * i + 2];
    return true;
}

bool write_ppm(const std::string& path, const TestImage& img)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    fprintf(f, "P6\n%d %d\n255\n", img.width, img.height);
    std::vector<uint8_t> raw(img.rgb.size() * 3);
    for (size_t i = 0; i < img.rgb.size(); i++) {
        raw[3 * i] = img.rgb[i] >> 16;
        raw[3 * i + 1] = (img.rgb[i] >> 8) & 0xff;
        raw[3 * i + 2] = img.rgb[i] & 0xff;
    }
    bool ok = fwrite(raw.data(), 1, raw.size(), f) == raw.size();
    return fclose(f) == 0 && ok;
}

long compare_on_page(const TestImage& page, const TestImage& img, int x0, int y0, std::string* why)
{
    long bad = 0;
    why->clear();
    for (int y = 0; y < page.height; y++) {
        for (int x = 0; x < page.width; x++) {
            bool inside = x >= x0 && y >= y0 && x < x0 + img.width && y < y0 + img.height;
            uint32_t want = inside ? pixel_at(img, x - x0, y - y0) : 0xffffff;
            uint32_t got = pixel_at(page, x, y);
            if (got == want)
                continue;
            if (bad < 5) {
                char line[128];
                snprintf(line, sizeof(line), "(%d,%d): got %06x want %06x\n", x, y, (unsigned)got,
                    (unsigned)want);
                *why += line;
            }
            bad++;
        }
    }
    return bad;
}

bool render_postscript(const std::string& ps, int dpi, int width, int height,
    std::vector<TestImage>* pages, std::string* err)
{
    pages->clear();
    std::string dir = make_temp_dir("render");
    if (dir.empty()) {
        *err = "mkdtemp failed";
        return false;
    }
    bool ok = write_file(dir + "/in.ps", ps);
    if (ok) {
        RunResult r = run_command(
            {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw",
                "-r" + std::to_string(dpi),
                "-g" + std::to_string(width) + "x" + std::to_string(height), "-dFIXEDMEDIA",
                "-sOutputFile=" + dir + "/page-%03d.ppm", dir + "/in.ps"},
            {}, "", 120);
        ok = r.exitCode == 0;
        if (!ok)
            *err = "gs failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
    }
    for (int n = 1; ok; n++) {
        char name[32];
        snprintf(name, sizeof(name), "/page-%03d.ppm", n);
        std::string path = dir + name;
        if (access(path.c_str(), F_OK) != 0)
            break;
        TestImage page;
        ok = read_ppm(path, &page, err);
        if (ok)
            pages->push_back(std::move(page));
    }
    remove_tree(dir);
    return ok;
}
