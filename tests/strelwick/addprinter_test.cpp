// tessal-addprinter.exe, which the driver packages use to set up a prefix.
#include <gtest/gtest.h>

#include "wine_tool.h"

#include <string.h>

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

TEST(TessalAddPrinter, CopiesAVendorDriversDependentFilesIntoTheDriverFolder)
{
    // A minidriver's .ini and included GPD travel as dependent files.
    std::string dir = rig_prefix() + "/dependent-probe";
    ASSERT_EQ(run_command({"mkdir", "-p", dir}, {}, "", 10).exitCode, 0);
    ASSERT_TRUE(write_file(dir + "/probe.ini", "[OEMFiles]\nOEMDriverFile1=x.dll\n"));
    ASSERT_TRUE(write_file(dir + "/ProbeCmds.gpd", "*% included\n"));
    std::string bin = windows_path(WIN_DIR);
    std::vector<std::string> args = {"Tessal Dependent Probe", windows_path(rig_prefix() + "/tdrv.txt"),
        "Tessal Dependent Probe", "|cat", bin + "\\tdrv.dll", bin + "\\tdrvui.dll",
        windows_path(dir + "/probe.ini"), windows_path(dir + "/ProbeCmds.gpd")};
    RunResult r = run_win_program("tessal-addprinter.exe", args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string arch = strcmp(WIN_ARCH, "x86_64") == 0 ? "x64" : "w32x86";
    std::string drivers = rig_prefix() + "/drive_c/windows/system32/spool/drivers/" + arch + "/3/";
    EXPECT_EQ(read_file(drivers + "probe.ini"), "[OEMFiles]\nOEMDriverFile1=x.dll\n");
    EXPECT_EQ(read_file(drivers + "ProbeCmds.gpd"), "*% included\n");

    // A dependent file that is not there adds nothing.
    args[0] = args[2] = "Tessal Dependent Probe 2";
    args.push_back(windows_path(dir + "/missing.ini"));
    r = run_win_program("tessal-addprinter.exe", args);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err,
        "tessal-addprinter: driver file " + windows_path(dir + "/missing.ini") + " not found\n");
}
