// Parsing of the active-user script's output.
#include "probe.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

static const char* const k_keys[] = {"XUSER", "DISPLAY"};

struct Probe {
    int found = 0;
    std::string user, display;
    bool has_user = false, has_display = false;
};

static Probe parse(std::string output)
{
    FILE* in = fmemopen(&output[0], output.size(), "r");
    if (output.empty())
        in = fopen("/dev/null", "r");
    char* results[2] = {nullptr, nullptr};
    Probe p;
    p.found = probe_read(in, k_keys, results, 2);
    fclose(in);
    p.has_user = results[0] != nullptr;
    p.has_display = results[1] != nullptr;
    p.user = results[0] ? results[0] : "";
    p.display = results[1] ? results[1] : "";
    free(results[0]);
    free(results[1]);
    return p;
}

TEST(Probe, FindsBothKeysInEitherOrder)
{
    for (const char* out : {"XUSER=bob\nDISPLAY=:0\n", "junk\nDISPLAY=:0\nOTHER=1\nXUSER=bob\n"}) {
        Probe p = parse(out);
        EXPECT_EQ(2, p.found) << out;
        EXPECT_EQ("bob", p.user);
        EXPECT_EQ(":0", p.display);
    }
}

TEST(Probe, LaterLineForTheSameKeyWinsAndCountsOnce)
{
    Probe p = parse("XUSER=alice\nXUSER=bob\n");
    EXPECT_EQ(1, p.found);
    EXPECT_EQ("bob", p.user);
    EXPECT_EQ(2, parse("XUSER=alice\nXUSER=bob\nDISPLAY=:1\n").found);
}

TEST(Probe, KeyPrefixesMatchButLongerOrEmptyKeysDoNot)
{
    Probe p = parse("X=bob\nDISP=:3\n");
    EXPECT_EQ(2, p.found);
    EXPECT_EQ("bob", p.user);
    EXPECT_EQ(":3", p.display);
    EXPECT_EQ(0, parse("XUSERNAME=bob\nDISPLAYS=:1\n=x\nXUSER bob\n XUSER=bob\n").found);
}

TEST(Probe, ValuesKeepEverythingButOneNewline)
{
    Probe p = parse("XUSER= bob \nDISPLAY=:0\r\n");
    EXPECT_EQ(" bob ", p.user);
    EXPECT_EQ(":0\r", p.display);
    Probe last = parse("XUSER=a=b");
    EXPECT_EQ("a=b", last.user);
    EXPECT_TRUE(parse("XUSER=\n").has_user);
}

TEST(Probe, LongLineIsReadInPiecesOf255Bytes)
{
    // 255 bytes make the first piece; the remainder is a line of its own.
    std::string line
        = "DISPLAY=" + std::string(247, 'a') + "XUSER=bob" + std::string(36, 'b') + "\n";
    ASSERT_EQ(301u, line.size());
    Probe p = parse(line);
    EXPECT_EQ(2, p.found);
    EXPECT_EQ(std::string(247, 'a'), p.display);
    EXPECT_EQ("bob" + std::string(36, 'b'), p.user);
}

TEST(Probe, EmptyOutputFindsNothing)
{
    EXPECT_EQ(0, parse("").found);
    char* results[2] = {nullptr, nullptr};
    FILE* in = fopen("/dev/null", "r");
    EXPECT_EQ(0, probe_read(in, k_keys, results, 0));
    fclose(in);
}
