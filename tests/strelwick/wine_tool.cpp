#include "wine_tool.h"

#include <gtest/gtest.h>

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
    env.insert(env.end(), {"DISPLAY", "MODEL", "PAGESIZE", "DPI"});
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

RunResult run_tool(const std::vector<std::string>& args, const std::vector<std::string>& env,
    const std::string& input)
{
    std::vector<std::string> argv = {wine_loader(), std::string(WIN_DIR) + "/strelwick.exe"};
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
