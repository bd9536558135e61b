// Reading the login range and the service account's name.
#include "job_user.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

static std::string temp_file(const std::string& content)
{
    char path[] = "/tmp/job_user_test.XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ((ssize_t)content.size(), write(fd, content.data(), content.size()));
    close(fd);
    return path;
}

TEST(JobUser, LoginRangeStartsAtTheLastWellFormedUidMin)
{
    struct {
        const char* defs;
        uid_t want;
    } cases[] = {
        {"UID_MIN\t\t\t 500\n", 500},
        {"UID_MIN 2000\nUID_MIN 3000\n", 3000},
        {"UID_MIN 2000\nUID_MIN 12x\n", 2000},
        {"  UID_MIN 1500 \r\n", 1500},
        {"#UID_MIN 5\nUID_MINX 5\nUID_MIN\nSYS_UID_MIN 5\n", UID_MIN_DEFAULT},
        {"UID_MIN 0\nUID_MIN -1\nUID_MIN 99999999999\n", UID_MIN_DEFAULT},
        {"", UID_MIN_DEFAULT},
    };
    for (auto& c : cases) {
        std::string path = temp_file(c.defs);
        EXPECT_EQ(c.want, login_uid_min(path.c_str())) << c.defs;
        unlink(path.c_str());
    }
    EXPECT_EQ((uid_t)UID_MIN_DEFAULT, login_uid_min("/nonexistent/login.defs"));
}

TEST(JobUser, ServiceAccountIsReadAsXpubShReadsIt)
{
    std::string long_name = "service_user=" + std::string(SERVICE_USER_MAX + 1, 'u') + "\n";
    struct {
        std::string conf;
        const char* want;
    } cases[] = {
        {"policy=server\nservice_user=a\n  service_user =\tprint svc \n", "print svc"},
        {"service_user=\n", SERVICE_USER_DEFAULT},
        {"service_userx=a\n# service_user=b\n", SERVICE_USER_DEFAULT},
        {long_name, ""},
    };
    for (auto& c : cases) {
        std::string path = temp_file(c.conf);
        char name[SERVICE_USER_MAX + 1];
        service_user_name(path.c_str(), name, sizeof name);
        EXPECT_STREQ(c.want, name) << c.conf;
        unlink(path.c_str());
    }
    char name[SERVICE_USER_MAX + 1];
    service_user_name("/nonexistent/xpub.conf", name, sizeof name);
    EXPECT_STREQ(SERVICE_USER_DEFAULT, name);
}
