#include "unidrv_map.h"
#include "gpd_stdnames.h"
#include "gpd_value.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct named_code {
    const char* name;
    unsigned long code;
};

// The standard option names of the features the device mode has a field for.
const named_code g_bins[] = {{"UPPER", 1}, {"ONLYONE", 1}, {"LOWER", 2}, {"MIDDLE", 3},
    {"MANUAL", 4}, {"ENVFEED", 5}, {"ENVMANUAL", 6}, {"AUTO", 7}, {"TRACTOR", 8},
    {"SMALLFMT", 9}, {"LARGEFMT", 10}, {"LARGECAPACITY", 11}, {"CASSETTE", 14},
    {"FORMSOURCE", 15}};
const named_code g_media[] = {{"STANDARD", 1}, {"TRANSPARENCY", 2}, {"GLOSSY", 3}};
const named_code g_duplex[] = {{"NONE", 1}, {"VERTICAL", 2}, {"HORIZONTAL", 3}};
const named_code g_orientation[] = {{"PORTRAIT", 1}, {"LANDSCAPE_CC90", 2}, {"LANDSCAPE_CC270", 2}};

template <size_t N> unsigned long table_code(const named_code (&t)[N], const std::string& name)
{
    for (const named_code& n : t)
        if (name == n.name)
            return n.code;
    return 0;
}

// A driver's own option: its *OptionID when that is a code of its own,
// else one after the user codes by its place.
unsigned long own_code(const gpd_option& o, int oi)
{
    for (const gpd_entry& e : o.entry ? o.entry->kids : std::vector<gpd_entry>()) {
        long id;
        if (e.key == "OptionID" && gpd_int(e.value, &id) && id >= UNIDRV_USER_CODE && id < 0x8000)
            return (unsigned long)id;
    }
    return UNIDRV_USER_CODE + (unsigned long)oi;
}

bool option_color(const gpd_doc* doc, int fi, int oi)
{
    gpd_config c;
    gpd_config_defaults(doc, &c);
    c.choice[fi] = oi;
    const gpd_entry* e = gpd_option_attr(doc, &c, "ColorMode", "Color?");
    bool color = false;
    return e && gpd_bool(e->value, &color) && color;
}

int feature(const gpd_doc* doc, const char* name)
{
    return gpd_find_feature(doc, name);
}

// Chooses in feature fi the first option whose code is `code`, unless the
// current choice has it already.
void choose_code(const gpd_doc* doc, gpd_config* c, const char* name, unsigned long code)
{
    int fi = feature(doc, name);
    if (fi < 0 || unidrv_option_code(doc, fi, c->choice[fi]) == code)
        return;
    const gpd_feature& f = doc->features[fi];
    for (size_t oi = 0; oi < f.options.size(); oi++)
        if (unidrv_option_code(doc, fi, (int)oi) == code) {
            c->choice[fi] = (int)oi;
            c->chosen[fi] = true;
            return;
        }
}

// A DMRES_* level picks among the resolutions by their dots per square
// inch: draft and low the fewest, high the most, medium the middle one.
int level_option(const gpd_doc* doc, int fi, int level)
{
    const gpd_feature& f = doc->features[fi];
    std::vector<std::pair<long, int>> dots;
    for (size_t oi = 0; oi < f.options.size(); oi++) {
        long x, y;
        if (unidrv_option_dpi(doc, (int)oi, &x, &y))
            dots.push_back({x * y, (int)oi});
    }
    if (dots.empty())
        return -1;
    std::vector<std::pair<long, int>> sorted = dots;
    for (size_t i = 1; i < sorted.size(); i++) // stable: equal ones keep GPD order
        for (size_t j = i; j > 0 && sorted[j].first < sorted[j - 1].first; j--)
            std::swap(sorted[j], sorted[j - 1]);
    if (level == UNIDRV_RES_HIGH)
        return sorted.back().second;
    if (level == UNIDRV_RES_MEDIUM)
        return sorted[(sorted.size() - 1) / 2].second;
    return sorted.front().second;
}

void choose_resolution(const gpd_doc* doc, gpd_config* c, const unidrv_public* pub)
{
    int fi = feature(doc, "Resolution");
    if (fi < 0)
        return;
    int want = -1;
    long x = pub->quality, y = pub->y_resolution;
    if (x < 0) {
        want = level_option(doc, fi, (int)x);
    } else if (x > 0) {
        if (!(pub->fields & UNIDRV_F_YRESOLUTION) || y <= 0)
            y = x;
        long cx, cy;
        if (unidrv_option_dpi(doc, c->choice[fi], &cx, &cy) && cx == x && cy == y)
            return;
        const gpd_feature& f = doc->features[fi];
        for (size_t oi = 0; oi < f.options.size() && want < 0; oi++)
            if (unidrv_option_dpi(doc, (int)oi, &cx, &cy) && cx == x && cy == y)
                want = (int)oi;
    }
    if (want >= 0 && want != c->choice[fi]) {
        c->choice[fi] = want;
        c->chosen[fi] = true;
    }
}

void choose_color(const gpd_doc* doc, gpd_config* c, bool color)
{
    int fi = feature(doc, "ColorMode");
    if (fi < 0 || option_color(doc, fi, c->choice[fi]) == color)
        return;
    const gpd_feature& f = doc->features[fi];
    int def = gpd_find_option(&f, f.default_option.c_str());
    int want = def >= 0 && option_color(doc, fi, def) == color ? def : -1;
    for (size_t oi = 0; oi < f.options.size() && want < 0; oi++)
        if (option_color(doc, fi, (int)oi) == color)
            want = (int)oi;
    if (want >= 0) {
        c->choice[fi] = want;
        c->chosen[fi] = true;
    }
}

} // namespace

unsigned long unidrv_option_code(const gpd_doc* doc, int fi, int oi)
{
    const gpd_feature& f = doc->features[fi];
    const gpd_option& o = f.options[oi];
    unsigned long code = 0;
    if (f.name == "PaperSize") {
        const gpd_std_paper* p = gpd_std_paper_find(o.name.c_str());
        code = p ? p->code : 0;
    } else if (f.name == "InputBin") {
        code = table_code(g_bins, o.name);
    } else if (f.name == "MediaType") {
        code = table_code(g_media, o.name);
    } else if (f.name == "Duplex") {
        return table_code(g_duplex, o.name);
    } else if (f.name == "Orientation") {
        return table_code(g_orientation, o.name);
    } else if (f.name == "ColorMode") {
        return option_color(doc, fi, oi) ? 2 : 1;
    } else {
        return 0;
    }
    return code ? code : own_code(o, oi);
}

bool unidrv_option_dpi(const gpd_doc* doc, int oi, long* x, long* y)
{
    int fi = gpd_find_feature(doc, "Resolution");
    if (fi < 0 || oi < 0 || oi >= (int)doc->features[fi].options.size())
        return false;
    gpd_config c;
    gpd_config_defaults(doc, &c);
    c.choice[fi] = oi;
    const gpd_entry* e = gpd_option_attr(doc, &c, "Resolution", "DPI");
    return e && gpd_pair(e->value, x, y) && *x > 0 && *y > 0;
}

void unidrv_apply_public(const gpd_doc* doc, const unidrv_public* pub, gpd_config* c)
{
    unsigned long f = pub->fields;
    if ((f & UNIDRV_F_PAPERSIZE) && pub->paper > 0)
        choose_code(doc, c, "PaperSize", (unsigned long)pub->paper);
    if ((f & UNIDRV_F_DEFAULTSOURCE) && pub->bin > 0)
        choose_code(doc, c, "InputBin", (unsigned long)pub->bin);
    if ((f & UNIDRV_F_MEDIATYPE) && pub->media > 0)
        choose_code(doc, c, "MediaType", pub->media);
    if ((f & UNIDRV_F_DUPLEX) && pub->duplex >= 1 && pub->duplex <= 3)
        choose_code(doc, c, "Duplex", (unsigned long)pub->duplex);
    if ((f & UNIDRV_F_ORIENTATION) && (pub->orientation == 1 || pub->orientation == 2))
        choose_code(doc, c, "Orientation", (unsigned long)pub->orientation);
    if ((f & UNIDRV_F_COLOR) && (pub->color == 1 || pub->color == 2))
        choose_color(doc, c, pub->color == 2);
    if (f & UNIDRV_F_PRINTQUALITY)
        choose_resolution(doc, c, pub);
}

void unidrv_public_from_config(const gpd_doc* doc, const gpd_config* c, unidrv_public* pub)
{
    *pub = unidrv_public();
    struct {
        const char* feature;
        unsigned long flag;
        int* field;
    } ints[] = {{"PaperSize", UNIDRV_F_PAPERSIZE, &pub->paper},
        {"InputBin", UNIDRV_F_DEFAULTSOURCE, &pub->bin}, {"Duplex", UNIDRV_F_DUPLEX, &pub->duplex},
        {"Orientation", UNIDRV_F_ORIENTATION, &pub->orientation},
        {"ColorMode", UNIDRV_F_COLOR, &pub->color}};
    for (const auto& m : ints) {
        int fi = feature(doc, m.feature);
        unsigned long code = fi < 0 ? 0 : unidrv_option_code(doc, fi, c->choice[fi]);
        if (code) {
            *m.field = (int)code;
            pub->fields |= m.flag;
        }
    }
    int fi = feature(doc, "MediaType");
    if (fi >= 0) {
        pub->media = unidrv_option_code(doc, fi, c->choice[fi]);
        pub->fields |= UNIDRV_F_MEDIATYPE;
    }
    fi = feature(doc, "Resolution");
    long x, y;
    if (fi >= 0 && unidrv_option_dpi(doc, c->choice[fi], &x, &y) && x < 0x8000 && y < 0x8000) {
        pub->quality = (int)x;
        pub->y_resolution = (int)y;
        pub->fields |= UNIDRV_F_PRINTQUALITY | UNIDRV_F_YRESOLUTION;
    }
}

bool unidrv_config_from(const gpd_doc* doc, const char* options, const unidrv_public* pub,
    gpd_config* c, std::string* err)
{
    gpd_config_defaults(doc, c);
    gpd_config_apply(doc, options, c);
    if (pub)
        unidrv_apply_public(doc, pub, c);
    if (gpd_config_resolve(doc, c))
        return true;
    gpd_config_conflicts(doc, c, err);
    *err = doc->path + ": no choice of options satisfies the driver's constraints (" + *err + ")";
    return false;
}
