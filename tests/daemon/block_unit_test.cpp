// Option lookup and splitting over raw blocks, and reading a block off a
// stream.
#include "block.h"
#include "job_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <unistd.h>

static std::string B(const char* bytes, size_t n)
{
    return std::string(bytes, n);
}

static const char* find(const std::string& block, const char* name)
{
    return find_option(block.data(), (int32_t)block.size(), name);
}

TEST(FindOption, KeysMatchInFullOnly)
{
    std::string b = B("MODELX=y\0MODEL=a=b\0", 19);
    EXPECT_STREQ("a=b", find(b, "MODEL"));
    EXPECT_EQ(nullptr, find(b, "MODE"));
    EXPECT_EQ(nullptr, find(b, "ODEL"));
}

TEST(FindOption, NeverMatchesAcrossEntriesOrPastTheEnd)
{
    // An entry without '=' swallows the next one's key.
    EXPECT_EQ(nullptr, find(B("FOO\0MODEL=x\0", 12), "MODEL"));
    EXPECT_EQ(nullptr, find(B("MODEL", 5), "MODEL"));
    EXPECT_EQ(nullptr, find(B("", 0), "MODEL"));
    EXPECT_EQ(nullptr, find_option(nullptr, 0, "MODEL"));
    // The length bounds the scan even when more bytes follow in memory.
    std::string b = B("A=1\0MODEL=x\0", 12);
    EXPECT_EQ(nullptr, find_option(b.data(), 4, "MODEL"));
}

TEST(SplitOptions, CountsEveryEntryButStoresOnlyCapacity)
{
    std::string b = B("A=1\0B=2\0C=3\0", 12);
    char* vec[2] = {nullptr, nullptr};
    EXPECT_EQ(3, split_options(&b[0], (int32_t)b.size(), vec, 2));
    EXPECT_STREQ("A=1", vec[0]);
    EXPECT_STREQ("B=2", vec[1]);
    EXPECT_EQ(0, split_options(&b[0], 0, vec, 2));
}

TEST(SplitOptions, UnterminatedLastEntryStaysInsideTheBlock)
{
    std::string b = B("A=1\0B=2", 7);
    char* vec[4] = {};
    EXPECT_EQ(2, split_options(&b[0], (int32_t)b.size(), vec, 4));
    EXPECT_EQ(b.data() + 4, vec[1]);
}

TEST(PackageName, MustBeOnePlainComponent)
{
    std::string longest(64, 'p');
    for (const char* good : {"ok", "zk-3000", ".hidden", "..x", "A_1.2", longest.c_str()})
        EXPECT_TRUE(job_package_name_ok(good)) << good;
    std::string too_long(65, 'p');
    for (const char* bad : {"", ".", "..", "/", "a/b", "../x", "x/", "a b", too_long.c_str()})
        EXPECT_FALSE(job_package_name_ok(bad)) << bad;
}

class ReadBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds_));
    }
    void TearDown() override
    {
        close(fds_[0]);
        close(fds_[1]);
    }
    void send(const std::string& bytes)
    {
        ASSERT_EQ((ssize_t)bytes.size(), write(fds_[1], bytes.data(), bytes.size()));
    }
    int fds_[2];
};

TEST_F(ReadBlock, TakesExactlyTheBlockAndTerminatesIt)
{
    int32_t len = 8;
    send(std::string((const char*)&len, 4) + B("A=1\0B=22", 8) + "NEXT");
    int32_t got = -1;
    char* block = read_block(fds_[0], &got);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(8, got);
    EXPECT_EQ('\0', block[8]);
    EXPECT_STREQ("22", find_option(block, got, "B"));
    free(block);
    char rest[8] = {};
    EXPECT_EQ(4, read(fds_[0], rest, sizeof rest));
    EXPECT_STREQ("NEXT", rest);
}
