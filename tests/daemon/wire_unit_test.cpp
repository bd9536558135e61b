// The client library's bytes on the wire.
#include "wire.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

class Wire : public ::testing::Test {
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
    std::string take(size_t n)
    {
        std::string s(n, '\0');
        size_t got = 0;
        while (got < n) {
            ssize_t r = read(fds_[1], &s[got], n - got);
            if (r <= 0)
                break;
            got += (size_t)r;
        }
        s.resize(got);
        return s;
    }
    int fds_[2];
};

TEST_F(Wire, BlockIsLengthThenNulTerminatedEntries)
{
    const char* entries[] = {"MODEL=a=b", "PACKAGENAME=p", "E="};
    ASSERT_EQ(0, wire_send_block(fds_[0], entries, 3));
    int32_t len = 27;
    EXPECT_EQ(std::string((const char*)&len, 4) + std::string("MODEL=a=b\0PACKAGENAME=p\0E=\0", 27),
        take(31));
}

TEST_F(Wire, BadEntriesAreRefusedAndNothingIsSent)
{
    for (const char* bad : {"", "NOEQUALS"}) {
        const char* entries[] = {"MODEL=m", bad};
        errno = 0;
        EXPECT_EQ(-1, wire_send_block(fds_[0], entries, 2));
        EXPECT_EQ(EINVAL, errno);
    }
    ASSERT_EQ(0, wire_end_pages(fds_[0]));
    EXPECT_EQ("", take(1));
}

TEST_F(Wire, SendingToAClosedPeerFailsWithoutSignal)
{
    close(fds_[1]);
    fds_[1] = socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(-1, wire_send_all(fds_[0], "x", 1));
    EXPECT_EQ(EPIPE, errno);
}
