// The queue PPD made from the sample GPD: CUPS reads it, it offers the
// driver's own features and options, maps each choice back to the GPD and
// carries the GPD's constraints.
#include "gpd_file.h"
#include "gpd_ppd.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

namespace {

TEST(GpdPpd, SampleQueueOffersTheDriversFeatures)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(gpd_load(SAMPLE_DIR "/TJET.GPD", &doc, &err)) << err;
    char path[] = "/tmp/gpd-ppd.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* f = fdopen(fd, "w");
    ASSERT_TRUE(gpd_write_ppd(&doc, "/drv/TJET.GPD", "", f, &err)) << err;
    fclose(f);
    ppd_file_t* ppd = ppdOpenFile(path);
    unlink(path);
    ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
    EXPECT_STREQ(ppdFindAttr(ppd, "tessalGpdFile", nullptr)->value, "/drv/TJET.GPD");
    EXPECT_STREQ(ppd->modelname, "Tessal Jet 300");
    ppd_option_t* size = ppdFindOption(ppd, "PageSize");
    ASSERT_TRUE(size);
    EXPECT_STREQ(size->defchoice, "A4");
    EXPECT_TRUE(ppdFindChoice(size, "Letter") && ppdFindChoice(size, "POSTCARD_JET"));
    ppd_size_t* letter = ppdPageSize(ppd, "Letter");
    ASSERT_TRUE(letter);
    EXPECT_NEAR(letter->left, 18, 0.01); // the GPD's printable origin
    EXPECT_STREQ(ppdFindAttr(ppd, "tessalGpd", "PageSize.Letter")->value, "PaperSize=LETTER");
    EXPECT_STREQ(ppdFindAttr(ppd, "tessalGpd", "Resolution.300dpi")->value, "Resolution=Option2");
    EXPECT_STREQ(ppdFindAttr(ppd, "tessalGpd", "Duplex.DuplexTumble")->value, "Duplex=HORIZONTAL");
    ppd_option_t* toner = ppdFindOption(ppd, "Toner");
    ASSERT_TRUE(toner);
    EXPECT_STREQ(toner->text, "Toner Saving");
    EXPECT_FALSE(ppdFindOption(ppd, "Orientation")); // CUPS turns pages itself
    ppdMarkDefaults(ppd);
    EXPECT_EQ(ppdConflicts(ppd), 0);
    ppdMarkOption(ppd, "MediaType", "TRANSPARENCY");
    ppdMarkOption(ppd, "ColorModel", "Color");
    EXPECT_GT(ppdConflicts(ppd), 0);
    ppdClose(ppd);
}

} // namespace
