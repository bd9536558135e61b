// Which client entries may reach the print tool's environment.
#include "env_filter.h"
#include "job_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

static std::vector<std::string> filtered(const std::vector<std::string>& entries)
{
    std::string block;
    for (const std::string& e : entries)
        block += e + '\0';
    block += '\0'; // the reader's terminating NUL past the block
    int32_t len = filter_block(&block[0], (int32_t)block.size() - 1);
    std::vector<std::string> kept;
    for (size_t at = 0; at < (size_t)len; at += kept.back().size() + 1)
        kept.push_back(block.c_str() + at);
    return kept;
}

TEST(JobOptions, ValuesMeetTheirKeysRules)
{
    for (const char* e :
        {"MODEL=Office Jet (2nd floor)", "PAGESIZE=1", "PAGESIZE=32767", "DPI=50", "DPI=9600x600",
            "PACKAGENAME=zk-3000", "OPT_A=", "MODEL=a-e", "DUPLEX=3", "INPUTBIN=260", "COLOR=1",
            "COPIES=9999", "COLLATE=0", "DOCNAME=Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8",
            "MODEL=HP #2 & Co. (R+D) @3_x", "DOCNAME=\xe2\x80\x8d\xef\xbf\xbd\xf0\xaf\xbf\xbd",
            "GPDOPTIONS=Toner=On", "GPDOPTIONS=Finish=Gloss;Paper_Weight.x=120-g"})
        EXPECT_EQ(JOB_ENTRY_OK, job_entry_check(e, strlen(e))) << e;
    std::string long_model = "MODEL=" + std::string(201, 'm');
    for (const char* e : {"MODEL=", "MODEL=\\\\host\\share", "MODEL=a,b", "MODEL=tab\there",
             "MODEL=caf\xc3\xa9", long_model.c_str(), "PAGESIZE=0", "PAGESIZE=32768", "PAGESIZE=-9",
             "PAGESIZE= 9", "PAGESIZE=123456", "DPI=49", "DPI=9601", "DPI=300x", "DPI=x300",
             "DPI=300x300x300", "PACKAGENAME=..", "PACKAGENAME=a/b", "DUPLEX=0", "DUPLEX=12",
             "COLOR=3", "COPIES=0", "COPIES=10000", "COLLATE=2", "MEDIATYPE=32768",
             // GPD choices: empty names, a lone name, a separator at either
             // end, what a shell or the options text would read.
             "GPDOPTIONS=", "GPDOPTIONS=Toner", "GPDOPTIONS==On", "GPDOPTIONS=Toner=",
             "GPDOPTIONS=Toner=On;", "GPDOPTIONS=;Toner=On", "GPDOPTIONS=A=B=C",
             "GPDOPTIONS=A=B;;C=D", "GPDOPTIONS=A=B C", "GPDOPTIONS=A=$(id)", "GPDOPTIONS=A=b\n",
             // Titles: overlong, surrogate, C1 control, cut sequence, control byte.
             "DOCNAME=\xc0\xaf", "DOCNAME=\xed\xa0\x80", "DOCNAME=\xc2\x85", "DOCNAME=\xe2\x82",
             "DOCNAME=a\x1b" "b", "DOCNAME=\x7f",
             // Printer names a vendor's run.sh would take for a command, a
             // port, a path or an option.
             "MODEL=|sh -c id", "MODEL=FILE:", "MODEL=../../x", "MODEL=/etc/passwd", "MODEL=$(id)",
             "MODEL=--list", "MODEL=-e", "MODEL=a=b", "MODEL=a;b", "MODEL=`id`",
             // Titles that hide or reorder text: RLO, LRM, isolate, line and
             // paragraph separators, BOM, soft hyphen, noncharacters, private
             // use, a tag character.
             "DOCNAME=a\xe2\x80\xae" "b", "DOCNAME=\xe2\x80\x8f", "DOCNAME=\xe2\x81\xa6",
             "DOCNAME=\xe2\x80\xa8", "DOCNAME=\xe2\x80\xa9", "DOCNAME=\xef\xbb\xbf",
             "DOCNAME=\xc2\xad", "DOCNAME=\xef\xbf\xbe", "DOCNAME=\xef\xb7\x90",
             "DOCNAME=\xf0\x9f\xbf\xbf", "DOCNAME=\xee\x80\x80", "DOCNAME=\xf3\xa0\x80\x81",
             "DOCNAME=\xf4\x8f\xbf\xbd"})
        EXPECT_EQ(JOB_ENTRY_BAD_VALUE, job_entry_check(e, strlen(e))) << e;
    for (const char* e : {"LD_PRELOAD=x", "PATH=/bin", "model=m", "OPT_=1", "OPT_a=1", "OPT_X-Y=1",
             "WINEPREFIX=/x", "HOME=/x", "=x"})
        EXPECT_EQ(JOB_ENTRY_UNKNOWN_KEY, job_entry_check(e, strlen(e))) << e;
    EXPECT_EQ(JOB_ENTRY_NO_EQUALS, job_entry_check("MODEL", 5));
}

TEST(JobOptions, FilterKeepsFirstOfEachKeyInOrder)
{
    std::vector<std::string> in = {"MODEL=P1", "FOO=1", "PACKAGENAME=ok", "MODEL=\\\\evil\\share",
        "Model=P2", "PAGESIZE=9", "NOEQUALS", "", "DPI=600", "OPT_X=1", "opt_x=2", "OPT_X=3"};
    std::vector<std::string> want
        = {"MODEL=P1", "PACKAGENAME=ok", "PAGESIZE=9", "DPI=600", "OPT_X=1"};
    EXPECT_EQ(want, filtered(in));
    // A refused first MODEL leaves the key free for a later valid one.
    EXPECT_EQ(std::vector<std::string>({"MODEL=ok"}), filtered({"MODEL=a,b", "MODEL=ok"}));
    EXPECT_TRUE(filtered({}).empty());
    // A last entry without its NUL keeps the block's length as it was.
    char unterminated[] = "FOO=1\0MODEL=a\0DPI=300";
    int32_t len = (int32_t)sizeof unterminated - 1;
    EXPECT_EQ(len - 6, filter_block(unterminated, len));
    EXPECT_STREQ("DPI=300", unterminated + 8);
}
