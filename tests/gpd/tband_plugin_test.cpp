// Tessal Band's plug-ins under Wine, driven by tband-probe.exe as the core
// drives them: the interfaces they answer, the private device mode part and
// a job whose framing decodes back to the bands it was given.
#include <gtest/gtest.h>

#include "tband_decode.h"
#include "wine_tool.h"

TEST(TBandPlugins, AnswerAsAUnidrvCoreExpectsAndFrameEachBand)
{
    RunResult r = run_win_program("tband-probe.exe", {windows_path(WIN_DIR)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // IPrintOemUni and 2 but not 3; ImageProcessing (S_OK) but not
    // FilterGraphics (S_FALSE); the UI plug-in's part: 16 bytes, default
    // darkness 7, a short buffer refused (E_FAIL), a bad part not merged.
    EXPECT_EQ(r.err,
        "interfaces 1 1 0\nimplements 0 1\nui size 16\n"
        "ui default in a short buffer 80004005\nui default darkness 7\n"
        "ui merge of a bad part 7\ngray band 00000000 1\nblank band 00000000 1\n");

    tband_job job;
    std::string err;
    ASSERT_TRUE(tband_decode(r.out, 64, 32, &job, &err)) << err;
    EXPECT_TRUE(job.header);
    EXPECT_EQ(job.version, 1);
    EXPECT_EQ(job.copies, 2);
    EXPECT_EQ(job.dpi_x, 300);
    EXPECT_EQ(job.dpi_y, 300);
    EXPECT_EQ(job.paper_w, 4960);
    EXPECT_EQ(job.paper_h, 7016);
    EXPECT_EQ(job.darkness, 7); // the UI plug-in's default reached the job
    EXPECT_EQ(job.finish, std::vector<long>{4});
    EXPECT_TRUE(job.ended);
    EXPECT_EQ(job.end_pages, 1);
    ASSERT_EQ(job.pages.size(), 1u);
    const tband_page& page = job.pages[0];
    EXPECT_EQ(page.number, 1);
    EXPECT_EQ(page.bands, 2); // the blank band is left out

    // The gray band (bottom-up DIB, reversed palette) at 3,10; the colour
    // band (top-down) at 0,20; white elsewhere.
    TestImage want = make_image(64, 32, 0xffffff);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 37; x++)
            set_pixel(want, 3 + x, 10 + y, (255 - ((x * 7 + y * 13) & 255)) * 0x010101u);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++)
            set_pixel(want, x, 20 + y, (uint32_t)(x * 40) << 16 | (uint32_t)(y * 80) << 8 | 200);
    std::string why;
    EXPECT_EQ(compare_on_page(page.image, want, 0, 0, &why), 0) << why;

    // Cut anywhere inside a record, the data is refused.
    EXPECT_FALSE(tband_decode(r.out.substr(0, r.out.size() - 9), 64, 32, &job, &err));
    EXPECT_FALSE(tband_decode(r.out, 39, 32, &job, &err)); // the gray band is off the page
    EXPECT_EQ(err, "band 37x5 at 3,10 (8 bpp) is not on the 39x32 page");
}
