#include "wine_tool.h"

#include <gtest/gtest.h>

#include <string.h>

#include <stdio.h>
#include <stdlib.h>

const char kStdoutPrinter[] = "Tessal Test";
const char kFilePrinter[] = "Tessal Test File";

const PageGeometry kA4At300 = {300, 2480, 3507};
const PageGeometry kA4At600 = {600, 4960, 7015};
const PageGeometry kLetterAt300 = {300, 2550, 3300};

std::string rig_prefix()
{
    return RIG_PREFIX;
}

std::string fixture_path(const std::string& name)
{
    return std::string(FIXTURES_DIR) + "/" + name;
}

std::string file_port_path()
{
    return rig_prefix() + "/port.out";
}

// The rig's Wine environment, as "wine-rig env" gives it: one set of
// settings for the rig, the launcher and these tests.
static const std::vector<std::string>& rig_env()
{
    static std::vector<std::string> env;
    if (env.empty()) {
        RunResult r = run_command({WINE_RIG, "env", rig_prefix()}, {}, "", 30);
        std::string line;
        for (char c : r.out + "\n") {
            if (c != '\n')
                line += c;
            else if (!line.empty()) {
                env.push_back(line);
                line.clear();
            }
        }
    }
    return env;
}

static std::string wine_loader()
{
    for (const std::string& e : rig_env())
        if (e.rfind("WINELOADER=", 0) == 0)
            return e.substr(11);
    return "wine";
}

static std::vector<std::string> wine_env(const std::vector<std::string>& extra)
{
    std::vector<std::string> env = rig_env();
    env.insert(env.end(),
        {"DISPLAY", "MODEL", "PAGESIZE", "DPI", "DUPLEX", "INPUTBIN", "COLOR", "MEDIATYPE",
            "COPIES", "COLLATE", "DOCNAME"});
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

RunResult run_tool(const std::vector<std::string>& args, const std::vector<std::string>& env,
    const std::string& input, bool holdInput, const InputHold* hold)
{
    std::vector<std::string> argv = {wine_loader(), std::string(WIN_DIR) + "/strelwick.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_command(argv, wine_env(env), input, 120, holdInput, hold);
    EXPECT_FALSE(r.timedOut) << "strelwick.exe timed out";
    return r;
}

RunResult run_tool_into(const std::string& path, const std::vector<std::string>& args,
    const std::vector<std::string>& env, const std::string& input)
{
    std::vector<std::string> argv = {"/bin/sh", "-c", "out=$1; shift; exec \"$@\" >\"$out\"",
        "sh", path, wine_loader(), std::string(WIN_DIR) + "/strelwick.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_command(argv, wine_env(env), input, 120);
    EXPECT_FALSE(r.timedOut) << "strelwick.exe timed out";
    return r;
}

RunResult run_win_program(const std::string& exe, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {wine_loader(), std::string(WIN_DIR) + "/" + exe};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_command(argv, wine_env({}), "", 120);
    EXPECT_FALSE(r.timedOut) << exe << " timed out";
    return r;
}

std::string log_after_create_dc(const std::string& err)
{
    size_t at = err.find("CreateDC got hdc=");
    if (at == std::string::npos)
        return "<no CreateDC line>\n" + err;
    size_t eol = err.find('\n', at);
    return eol == std::string::npos ? "" : err.substr(eol + 1);
}

int page_count(const std::string& ps)
{
    int n = 0;
    for (size_t at = ps.find("%%Page: "); at != std::string::npos; at = ps.find("%%Page: ", at + 1))
        n++;
    return n;
}

std::vector<TestImage> render(const std::string& ps, const PageGeometry& g)
{
    std::vector<TestImage> pages;
    std::string err;
    EXPECT_TRUE(render_postscript(ps, g.dpi, g.width, g.height, &pages, &err)) << err;
    return pages;
}

std::string bmp_string(const TestImage& img, const BmpFormat& fmt)
{
    std::vector<uint8_t> v = make_bmp(img, fmt);
    EXPECT_FALSE(v.empty()) << "make_bmp refused the format";
    return std::string(v.begin(), v.end());
}

std::string windows_path(const std::string& path)
{
    std::string p = "Z:" + path;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string take_driver_record(std::string* out)
{
    if (out->compare(0, 5, "TDRV ") != 0)
        return "";
    size_t eol = out->find('\n');
    std::string line = out->substr(0, eol);
    out->erase(0, eol == std::string::npos ? out->size() : eol + 1);
    return line;
}

bool set_driver_variant(const std::string& options)
{
    // The spooler keeps each Windows architecture's drivers apart.
    std::string arch = strcmp(WIN_ARCH, "x86_64") == 0 ? "x64" : "w32x86";
    return write_file(
        rig_prefix() + "/drive_c/windows/system32/spool/drivers/" + arch + "/3/tdrv.txt", options);
}

static bool ppm_number(const std::string& d, size_t* at, long* v)
{
    while (*at < d.size() && (d[*at] == ' ' || d[*at] == '\n'))
        (*at)++;
    size_t start = *at;
    *v = 0;
    while (*at < d.size() && d[*at] >= '0' && d[*at] <= '9' && *at - start < 6)
        *v = *v * 10 + (d[(*at)++] - '0');
    return *at > start;
}

bool decode_ppm_pages(const std::string& d, std::vector<TestImage>* pages, std::string* err)
{
    pages->clear();
    size_t at = 0;
    while (at < d.size()) {
        long w = 0, h = 0, maxval = 0;
        if (d.compare(at, 2, "P6") != 0 || !(at += 2) || !ppm_number(d, &at, &w)
            || !ppm_number(d, &at, &h) || !ppm_number(d, &at, &maxval) || maxval != 255
            || at >= d.size() || d[at] != '\n' || (size_t)(w * h * 3) > d.size() - at - 1) {
            *err = "bad PPM page at byte " + std::to_string(at);
            return false;
        }
        at++;
        TestImage img = make_image((int)w, (int)h, 0);
        for (size_t i = 0; i < img.rgb.size(); i++, at += 3)
            img.rgb[i] = (uint32_t)(uint8_t)d[at] << 16 | (uint32_t)(uint8_t)d[at + 1] << 8
                | (uint8_t)d[at + 2];
        pages->push_back(img);
    }
    return true;
}

long compare_within(const TestImage& page, const TestImage& img, int tolerance, std::string* why)
{
    long bad = 0;
    why->clear();
    for (int y = 0; y < page.height; y++)
        for (int x = 0; x < page.width; x++) {
            bool inside = x < img.width && y < img.height;
            uint32_t want = inside ? pixel_at(img, x, y) : 0xffffff;
            uint32_t got = pixel_at(page, x, y);
            int worst = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                int diff = abs((int)(got >> shift & 0xff) - (int)(want >> shift & 0xff));
                worst = diff > worst ? diff : worst;
            }
            if (worst <= tolerance)
                continue;
            if (bad++ < 5) {
                char line[128];
                snprintf(line, sizeof(line), "(%d,%d): got %06x want %06x\n", x, y, (unsigned)got,
                    (unsigned)want);
                *why += line;
            }
        }
    return bad;
}
