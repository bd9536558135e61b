// tessal-addprinter.exe, which the driver packages use to set up a prefix.
#include <gtest/gtest.h>

#include "wine_tool.h"

namespace {

std::string rig_ppd()
{
    std::string p = "Z:" + rig_prefix() + "/tessal-test.ppd";
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

} // namespace

TEST(TessalAddPrinter, AddsOnceAndAgainAndFollowsANewPort)
{
    const char* name = "Tessal AddPrinter Probe";
    for (int round = 0; round < 2; round++) {
        RunResult r
            = run_win_program("tessal-addprinter.exe", {"Tessal Test PS", rig_ppd(), name, "|cat"});
        EXPECT_EQ(r.exitCode, 0) << "round " << round << ": " << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    // The printer prints to stdout through its "|cat" port.
    RunResult r = run_tool({"rect", name}, {}, "");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out.compare(0, 4, "%!PS"), 0);

    // Added again with a file port: the existing printer now writes there.
    std::string port = rig_prefix() + "/probe.out";
    r = run_win_program("tessal-addprinter.exe", {"Tessal Test PS", rig_ppd(), name, port});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = run_tool({"rect", name}, {}, "");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(port).compare(0, 4, "%!PS"), 0);
}

TEST(TessalAddPrinter, RefusesBadArguments)
{
    RunResult r = run_win_program("tessal-addprinter.exe", {"only", "three", "args"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
        "usage: tessal-addprinter.exe <driver-name> <ppd-windows-path> "
        "<printer-name> <port>\n");

    r = run_win_program("tessal-addprinter.exe",
        {"Tessal Test PS", "Z:\\nonexistent\\x.ppd", "Tessal Probe", "|cat"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tessal-addprinter: PPD file Z:\\nonexistent\\x.ppd not found\n");

    r = run_win_program("tessal-addprinter.exe", {"Tessal Test PS", rig_ppd(), "", "|cat"});
    EXPECT_EQ(r.exitCode, 2);
}
