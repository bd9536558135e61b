// Which client entries may reach the print tool's environment.
#include "env_filter.h"

#include <gtest/gtest.h>

TEST(EnvFilter, RefusesLoaderShellAndWineControls)
{
    for (const char* e : {"LD_PRELOAD=x", "LD_=1", "LD_LIBRARY_PATH=/tmp", "GLIBC_TUNABLES=x",
             "NLSPATH=x", "TZDIR=x", "BASH_ENV=x", "ENV=x", "SHELLOPTS=x", "BASH_FUNC_f%%=x",
             "IFS=", "PATH=/bin", "WINELOADER=x", "WINESERVER=x", "WINEDLLPATH=x",
             "WINEDLLOVERRIDES=x", "ANY=() { :; }", "LD_PRELOAD"})
        EXPECT_TRUE(env_entry_unsafe(e)) << e;
}

TEST(EnvFilter, KeepsLookalikesAndOrdinaryOptions)
{
    for (const char* e :
        {"MODEL=LD_PRELOAD", "PATHS=x", "XPATH=x", "LD=1", "ENVIRONMENT=x", "WINEPREFIX=x",
            "WINEDEBUG=-all", "DISPLAY=:0", "HOME=/x", "ld_preload=x", "F=(){ x; }", "F= () { x; }",
            "BASH_FUNCTIONS"
            "X=1"})
        EXPECT_FALSE(env_entry_unsafe(e)) << e;
}
