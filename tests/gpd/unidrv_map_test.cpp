// Between a device mode's public fields and the GPD options: the codes each
// option has, the fields the options make, and what a caller's fields do
// to the options (kept when they match, ignored when the driver lacks the
// value, overruled by the constraints).
#include "gpd_file.h"
#include "unidrv_map.h"

#include <gtest/gtest.h>

namespace {

gpd_doc* sample()
{
    static gpd_doc doc;
    static bool loaded = false;
    if (!loaded) {
        std::string err;
        EXPECT_TRUE(gpd_load(SAMPLE_DIR "/TJET.GPD", &doc, &err)) << err;
        loaded = true;
    }
    return &doc;
}

unsigned long code(const gpd_doc* doc, const char* feature, const char* option)
{
    int fi = gpd_find_feature(doc, feature);
    return unidrv_option_code(doc, fi, gpd_find_option(&doc->features[fi], option));
}

std::string chosen(const gpd_doc* doc, const gpd_config* c, const char* feature)
{
    return gpd_chosen(doc, c, feature);
}

TEST(UnidrvMap, OptionsHaveWindowsCodesAndTheirOwn)
{
    const gpd_doc* doc = sample();
    EXPECT_EQ(code(doc, "PaperSize", "A4"), 9u);
    EXPECT_EQ(code(doc, "PaperSize", "LETTER"), 1u);
    EXPECT_EQ(code(doc, "PaperSize", "POSTCARD_JET"), 258u); // the driver's own: user code + index
    EXPECT_EQ(code(doc, "InputBin", "AUTO"), 7u);
    EXPECT_EQ(code(doc, "InputBin", "MANUAL"), 4u);
    EXPECT_EQ(code(doc, "MediaType", "PLAIN"), 256u);
    EXPECT_EQ(code(doc, "MediaType", "TRANSPARENCY"), 2u);
    EXPECT_EQ(code(doc, "Duplex", "HORIZONTAL"), 3u);
    EXPECT_EQ(code(doc, "Orientation", "LANDSCAPE_CC90"), 2u);
    EXPECT_EQ(code(doc, "ColorMode", "Color"), 2u);
    EXPECT_EQ(code(doc, "ColorMode", "Mono"), 1u);
    EXPECT_EQ(code(doc, "Toner", "On"), 0u);

    // An *OptionID of the driver's own range is its code.
    gpd_doc own;
    std::string err;
    ASSERT_TRUE(gpd_load_text("*Feature: InputBin\n{\n *DefaultOption: T3\n *Option: T3\n"
                              " {\n  *OptionID: 260\n }\n *Option: T4\n {\n  *OptionID: 7\n }\n}\n",
        "t.gpd", "/nonexistent", &own, &err))
        << err;
    EXPECT_EQ(code(&own, "InputBin", "T3"), 260u);
    EXPECT_EQ(code(&own, "InputBin", "T4"), 257u); // a standard code is no driver's own
}

TEST(UnidrvMap, PublicFieldsOfTheOptions)
{
    const gpd_doc* doc = sample();
    gpd_config c;
    gpd_config_defaults(doc, &c);
    unidrv_public pub;
    unidrv_public_from_config(doc, &c, &pub);
    EXPECT_EQ(pub.paper, 9);
    EXPECT_EQ(pub.quality, 150);
    EXPECT_EQ(pub.y_resolution, 150);
    EXPECT_EQ(pub.color, 1);
    EXPECT_EQ(pub.bin, 7);
    EXPECT_EQ(pub.duplex, 1);
    EXPECT_EQ(pub.orientation, 1);
    EXPECT_EQ(pub.media, 256u);
    unsigned long all = UNIDRV_F_PAPERSIZE | UNIDRV_F_PRINTQUALITY | UNIDRV_F_YRESOLUTION
        | UNIDRV_F_COLOR | UNIDRV_F_DEFAULTSOURCE | UNIDRV_F_DUPLEX | UNIDRV_F_ORIENTATION
        | UNIDRV_F_MEDIATYPE;
    EXPECT_EQ(pub.fields, all);

    // Back again: the same choices.
    gpd_config back;
    std::string err;
    ASSERT_TRUE(unidrv_config_from(doc, "", &pub, &back, &err)) << err;
    EXPECT_EQ(gpd_config_text(doc, &back), gpd_config_text(doc, &c));
}

TEST(UnidrvMap, FieldsOverTheOptionsText)
{
    const gpd_doc* doc = sample();
    gpd_config c;
    std::string err;
    unidrv_public pub;
    pub.fields = UNIDRV_F_PAPERSIZE | UNIDRV_F_PRINTQUALITY | UNIDRV_F_COLOR | UNIDRV_F_ORIENTATION;
    pub.paper = 1;
    pub.quality = 300; // no y resolution: square
    pub.color = 2;
    pub.orientation = 2;
    ASSERT_TRUE(unidrv_config_from(doc, "PaperSize=POSTCARD_JET;Toner=On;Bogus=1;InputBin=Nope;"
                                        "InputBin=MANUAL",
        &pub, &c, &err))
        << err;
    EXPECT_EQ(chosen(doc, &c, "PaperSize"), "LETTER");
    EXPECT_EQ(chosen(doc, &c, "Resolution"), "Option2");
    EXPECT_EQ(chosen(doc, &c, "ColorMode"), "Color");
    EXPECT_EQ(chosen(doc, &c, "Orientation"), "LANDSCAPE_CC90");
    EXPECT_EQ(chosen(doc, &c, "Toner"), "On"); // the driver's own feature from the text
    EXPECT_EQ(chosen(doc, &c, "InputBin"), "MANUAL");

    // Values the driver does not have leave the choice alone; fields not
    // flagged are not read.
    pub = unidrv_public();
    pub.fields = UNIDRV_F_PAPERSIZE | UNIDRV_F_PRINTQUALITY | UNIDRV_F_DEFAULTSOURCE;
    pub.paper = 8; // A3
    pub.quality = 1200;
    pub.bin = 14;
    pub.color = 2;
    ASSERT_TRUE(unidrv_config_from(doc, "PaperSize=LETTER", &pub, &c, &err)) << err;
    EXPECT_EQ(chosen(doc, &c, "PaperSize"), "LETTER");
    EXPECT_EQ(chosen(doc, &c, "Resolution"), "Option1");
    EXPECT_EQ(chosen(doc, &c, "InputBin"), "AUTO");
    EXPECT_EQ(chosen(doc, &c, "ColorMode"), "Mono");
}

TEST(UnidrvMap, QualityLevelsAndConstraints)
{
    const gpd_doc* doc = sample();
    gpd_config c;
    std::string err;
    unidrv_public pub;
    pub.fields = UNIDRV_F_PRINTQUALITY;
    pub.quality = UNIDRV_RES_HIGH;
    ASSERT_TRUE(unidrv_config_from(doc, "", &pub, &c, &err)) << err;
    EXPECT_EQ(chosen(doc, &c, "Resolution"), "Option2");
    pub.quality = UNIDRV_RES_DRAFT;
    ASSERT_TRUE(unidrv_config_from(doc, "Resolution=Option2", &pub, &c, &err)) << err;
    EXPECT_EQ(chosen(doc, &c, "Resolution"), "Option1");

    // Transparencies rule out colour: the result breaks no constraint.
    pub = unidrv_public();
    pub.fields = UNIDRV_F_MEDIATYPE | UNIDRV_F_COLOR;
    pub.media = 2;
    pub.color = 2;
    ASSERT_TRUE(unidrv_config_from(doc, "", &pub, &c, &err)) << err;
    EXPECT_FALSE(gpd_config_conflicts(doc, &c, &err)) << err;
    EXPECT_TRUE(chosen(doc, &c, "MediaType") != "TRANSPARENCY" || chosen(doc, &c, "ColorMode") != "Color");
}

TEST(UnidrvMap, AMatchingFieldKeepsTheChosenOption)
{
    // Two options print at 300 dpi; the field names the resolution only.
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(gpd_load_text("*Feature: Resolution\n{\n *DefaultOption: Normal\n"
                              " *Option: Normal\n {\n  *DPI: PAIR(300, 300)\n }\n"
                              " *Option: Best\n {\n  *DPI: PAIR(300, 300)\n }\n"
                              " *Option: Fine\n {\n  *DPI: PAIR(600, 300)\n }\n}\n",
        "t.gpd", "/nonexistent", &doc, &err))
        << err;
    gpd_config c;
    unidrv_public pub;
    pub.fields = UNIDRV_F_PRINTQUALITY | UNIDRV_F_YRESOLUTION;
    pub.quality = 300;
    pub.y_resolution = 300;
    ASSERT_TRUE(unidrv_config_from(&doc, "Resolution=Best", &pub, &c, &err)) << err;
    EXPECT_EQ(chosen(&doc, &c, "Resolution"), "Best");
    pub.quality = 600;
    ASSERT_TRUE(unidrv_config_from(&doc, "Resolution=Best", &pub, &c, &err)) << err;
    EXPECT_EQ(chosen(&doc, &c, "Resolution"), "Fine");
}

} // namespace
