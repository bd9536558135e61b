// Running strelwick.exe under Wine in the test rig's prefix (see rigs/wine-rig).
#ifndef STRELWICK_WINE_TOOL_H
#define STRELWICK_WINE_TOOL_H

#include <string>
#include <vector>

#include "test_support.h"

// Printers of the rig: PostScript driver, output on stdout or in a file.
extern const char kStdoutPrinter[];
extern const char kFilePrinter[];

std::string rig_prefix();
std::string fixture_path(const std::string& name);
// The file that kFilePrinter's port writes.
std::string file_port_path();

// wine strelwick.exe args..., with the rig's Wine environment plus `env`;
// with holdInput, stdin does not end after `input` (see run_command).
RunResult run_tool(const std::vector<std::string>& args, const std::vector<std::string>& env,
    const std::string& input, bool holdInput = false, const InputHold* hold = nullptr);
// run_tool with the tool's stdout on `path` (such as /dev/full) instead.
RunResult run_tool_into(const std::string& path, const std::vector<std::string>& args,
    const std::vector<std::string>& env, const std::string& input);
// Any other program of the Windows build (emf-record.exe, ...).
RunResult run_win_program(const std::string& exe, const std::vector<std::string>& args);

// Everything stderr shows after the DC was created (the "CreateDC got hdc="
// line and the device-mode dump before it vary with the driver).
std::string log_after_create_dc(const std::string& err);
// Number of "%%Page:" comments in wineps output.
int page_count(const std::string& ps);

// Device size of the rig's PPD, A4 or Letter, at 300 or 600 dpi.
struct PageGeometry {
    int dpi, width, height;
};
extern const PageGeometry kA4At300, kA4At600, kLetterAt300;

// Renders wineps output; fails the current test when Ghostscript does.
std::vector<TestImage> render(const std::string& ps, const PageGeometry& g);

std::string bmp_string(const TestImage& img, const BmpFormat& fmt);

// The test driver tdrv.dll (tests/strelwick/driver) on the rig's printers
// "Tessal Driver", "Tessal Driver Text" and "Tessal Driver No UI". Its data
// file picks the variant: writes "key=value" lines into the spooler's copy.
bool set_driver_variant(const std::string& options);
// The line the test driver's variant "record=1" writes before the pages
// (device mode and document name), taken off the front of its output; "" when
// there is none.
std::string take_driver_record(std::string* out);
// A Unix path as Wine's Z: drive shows it.
std::string windows_path(const std::string& path);
// Splits the driver's output, one binary PPM per page, into pages.
bool decode_ppm_pages(const std::string& data, std::vector<TestImage>* pages, std::string* err);
// Like compare_on_page, but a pixel matches when every channel is within
// `tolerance` of the picture's (palette drivers approximate colours).
long compare_within(const TestImage& page, const TestImage& img, int tolerance, std::string* why);

#endif
