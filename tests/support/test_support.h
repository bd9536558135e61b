// Shared helpers for end-to-end tests: BMP files built in memory, Ghostscript
// renders read back as images, pixel comparison, and running a command with a
// timeout. Link the CMake target `test_support`.
#ifndef TESSAL_TEST_SUPPORT_H
#define TESSAL_TEST_SUPPORT_H

#include <stdint.h>
#include <functional>
#include <string>
#include <vector>

// An RGB picture, top row first, one 0xRRGGBB value per pixel.
struct TestImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb;
};

TestImage make_image(int width, int height, uint32_t fill);
uint32_t pixel_at(const TestImage& img, int x, int y);
void set_pixel(TestImage& img, int x, int y, uint32_t rgb);
// A picture that shows its orientation: distinct colour bands, corners and a
// diagonal, using at most `colours` distinct colours (2, 16 or 256 fit a palette).
TestImage make_test_picture(int width, int height, int colours);

// How make_bmp lays the file out.
struct BmpFormat {
    int bpp = 24; // 1, 4, 8 (palette), 16, 24, 32
    bool topDown = false; // negative biHeight, top row first
    bool bitfields = false; // BI_BITFIELDS (16 and 32 bpp): 12 mask bytes follow
                            // the header, whatever its size
    int headerSize = 40; // 40, 108 or 124
    uint32_t clrUsed = 0; // biClrUsed; 0 = the full palette for <= 8 bpp
};

// A whole BMP file (file header included). Palette formats take the picture's
// colours in order of first appearance; returns an empty vector when they do
// not fit, or for a format it cannot write.
std::vector<uint8_t> make_bmp(const TestImage& img, const BmpFormat& fmt);

// Reads a binary PPM (P6, maxval 255), as Ghostscript's ppmraw writes it.
bool read_ppm(const std::string& path, TestImage* img, std::string* err);
bool write_ppm(const std::string& path, const TestImage& img);

// Compares `img` with the area of `page` whose top-left corner is (x0, y0),
// and demands white (0xFFFFFF) everywhere else on the page. Returns the number
// of differing pixels; *why describes the first few.
long compare_on_page(const TestImage& page, const TestImage& img, int x0, int y0, std::string* why);

// Result of run_command.
struct RunResult {
    int exitCode = -1; // exit status, or 128 + signal
    bool timedOut = false; // killed after the timeout
    std::string out;
    std::string err;
};

// Holds the input back after its first `at` bytes until `until` is true of
// the stdout collected so far: proves that output came before the rest of
// the input (the run times out when it never does).
struct InputHold {
    size_t at = 0;
    std::function<bool(const std::string& out)> until;
};

// Runs argv[0] (searched in PATH) with `env` applied on top of the current
// environment ("KEY=VALUE" sets, "KEY" alone unsets), `input` on stdin, and
// collects stdout and stderr. After `timeoutSec` the whole process group is
// killed. Output still held open by background processes is given up 2 s
// after the command itself has ended. With holdInput, stdin stays open after
// `input` until the command ends, as a writer that has more to send would.
RunResult run_command(const std::vector<std::string>& argv, const std::vector<std::string>& env,
    const std::string& input, int timeoutSec, bool holdInput = false,
    const InputHold* hold = nullptr);

// Renders PostScript with Ghostscript onto a fixed page of width x height
// pixels at `dpi`, one image per page. False with *err on failure.
bool render_postscript(const std::string& ps, int dpi, int width, int height,
    std::vector<TestImage>* pages, std::string* err);

// A fresh directory under /tmp (mkdtemp) and its removal.
std::string make_temp_dir(const char* tag);
void remove_tree(const std::string& dir);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& data);

#endif
