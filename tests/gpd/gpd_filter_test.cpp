// rastertogpd on its own, as CUPS runs it: what it cannot print ends the
// job with a message CUPS shows, and nothing claims success.
#include "test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

struct filter_case {
    std::string ppd_extra; // replaces the *tessalGpdFile line ("" = the sample's GPD)
    std::string gpd; // a GPD to write and name instead ("" = none)
    std::string input;
    std::string message; // what stderr must hold
};

RunResult run_filter(const filter_case& c, const std::string& dir)
{
    std::string gpd_path = SAMPLE_DIR "/TJET.GPD";
    if (!c.gpd.empty()) {
        gpd_path = dir + "/bad.gpd";
        write_file(gpd_path, c.gpd);
    }
    RunResult made = run_command({GPDPPD_PATH, "--gpd", SAMPLE_DIR "/TJET.GPD"}, {}, "", 30);
    std::string ppd = made.out;
    size_t at = ppd.find("*tessalGpdFile:");
    ppd.replace(at, ppd.find('\n', at) - at,
        c.ppd_extra.empty() ? "*tessalGpdFile: \"" + gpd_path + "\"" : c.ppd_extra);
    write_file(dir + "/q.ppd", ppd);
    return run_command({FILTER_PATH, "1", "user", "title", "1", ""}, {"PPD=" + dir + "/q.ppd"},
        c.input, 30);
}

TEST(GpdFilter, WhatCannotPrintEndsTheJobWithAReason)
{
    std::string dir = make_temp_dir("gpd-filter");
    std::vector<filter_case> cases = {
        {"", "", "not a raster at all, just text", "ERROR: The raster holds bytes that are no page"},
        {"*% no GPD named", "", "", "ERROR: The queue's PPD names no GPD file"},
        {"*tessalGpdFile: \"relative.gpd\"", "", "", "ERROR: The queue's PPD names no GPD file"},
        {"", "*MasterUnits: PAIR(600, 600)\n*Feature: X\n{\n", "",
            "ERROR: The driver's GPD cannot be read: " + dir + "/bad.gpd:3: '{' is not closed"},
        {"", "*Command: CmdStartPage\n{\n*Order: PAGE_SETUP.1\n*CallbackID: 3\n}\n", "",
            "ERROR: The driver cannot print without Windows: " + dir
                + "/bad.gpd:1: CmdStartPage is made by the driver's rendering plug-in (CallbackID)"},
    };
    for (const filter_case& c : cases) {
        SCOPED_TRACE(c.message);
        RunResult r = run_filter(c, dir);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    remove_tree(dir);
}

} // namespace
