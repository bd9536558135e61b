// Which client entries may reach the print tool's environment.
#include "env_filter.h"

#include <gtest/gtest.h>

TEST(EnvFilter, RefusesLoaderShellAndWineControls)
{
    for (const char* e : { "LD_PRELOAD=x", "LD_=1", "LD_LIBRARY_PATH=/tmp", "GLIBC_TUNABLES=x", "NLSPATH=x",
                           "TZDIR=x", "BASH_ENV=x", "ENV=x", "SHELLOPTS=x", "BASH_FUNC_f%%=x", "IFS=",
                           "PATH=/bin", "WINELOADER=x", "WINESERVER=x", "WINEDLLPATH=x",
                           "WINEDLLOVERRIDES=x", "ANY=() { :; }", "LD_PRELOAD" })
        EXPECT_TRUE(env_entry_unsafe(e)) << e;
}

TEST(EnvFilter, KeepsLookalikesAndOrdinaryOptions)
{
    for (const char* e : { "MODEL=LD_PRELOAD", "PATHS=x", "XPATH=x", "LD=1", "ENVIRONMENT=x", "WINEPREFIX=x",
                           "WINEDEBUG=-all", "DISPLAY=:0", "HOME=/x", "ld_preload=x", "F=(){ x; }",
                           "F= () { x; }", "BASH_FUNCTIONS" "X=1" })
        EXPECT_FALSE(env_entry_unsafe(e)) << e;
}

TEST(EnvFilter, CompactsInOrderAndClearsTheTail)
{
    char a[] = "A=1", b[] = "LD_PRELOAD=x", c[] = "B=2", d[] = "PATH=/", e[] = "C=3";
    char* vec[6] = { a, b, c, d, e, nullptr };
    testing::internal::CaptureStderr();
    EXPECT_EQ(3, filter_environment(vec, 5));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_STREQ("A=1", vec[0]);
    EXPECT_STREQ("B=2", vec[1]);
    EXPECT_STREQ("C=3", vec[2]);
    EXPECT_EQ(nullptr, vec[3]);
    EXPECT_EQ(nullptr, vec[4]);
    EXPECT_EQ("dropped unsafe option LD_PRELOAD\ndropped unsafe option PATH\n", log);
}
