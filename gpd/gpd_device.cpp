#include "gpd_device.h"
#include "gpd_stdnames.h"
#include "gpd_value.h"

namespace {

bool fail(std::string* err, const gpd_entry* e, const std::string& what)
{
    *err = e ? e->file + ":" + std::to_string(e->line) + ": " + what : what;
    return false;
}

const gpd_entry* root(const gpd_doc* doc, const gpd_config* c, const char* key)
{
    return gpd_lookup(doc, c, doc->root, key);
}

// An optional positive integer at the root.
bool root_int(const gpd_doc* doc, const gpd_config* c, const char* key, long* out, std::string* err)
{
    const gpd_entry* e = root(doc, c, key);
    if (e && (!gpd_int(e->value, out) || *out < 0))
        return fail(err, e, std::string(key) + " is a number");
    return true;
}

bool root_bool(const gpd_doc* doc, const gpd_config* c, const char* key, bool* out, std::string* err)
{
    const gpd_entry* e = root(doc, c, key);
    if (e && !gpd_bool(e->value, out))
        return fail(err, e, std::string(key) + " is TRUE or FALSE");
    return true;
}

bool units(const gpd_doc* doc, const gpd_config* c, gpd_device* d, std::string* err)
{
    const gpd_entry* mu = root(doc, c, "MasterUnits");
    if (!mu)
        return fail(err, nullptr, doc->path + ": the GPD gives no *MasterUnits");
    if (!gpd_pair(mu->value, &d->master_x, &d->master_y) || d->master_x <= 0
        || d->master_y <= 0 || d->master_x > 100000 || d->master_y > 100000)
        return fail(err, mu, "MasterUnits is PAIR(x, y) of positive numbers");
    const gpd_entry* dpi = gpd_option_attr(doc, c, "Resolution", "DPI");
    if (!dpi)
        return fail(err, nullptr, doc->path + ": the chosen resolution gives no *DPI");
    if (!gpd_pair(dpi->value, &d->dpi_x, &d->dpi_y) || d->dpi_x <= 0 || d->dpi_y <= 0
        || d->master_x % d->dpi_x || d->master_y % d->dpi_y)
        return fail(err, dpi, "DPI is PAIR(x, y) that divides the master units");
    d->text_dpi_x = d->dpi_x;
    d->text_dpi_y = d->dpi_y;
    const gpd_entry* text = gpd_option_attr(doc, c, "Resolution", "TextDPI");
    if (text && !gpd_pair(text->value, &d->text_dpi_x, &d->text_dpi_y))
        return fail(err, text, "TextDPI is PAIR(x, y)");
    return true;
}

bool pair_attr(const gpd_doc* doc, const gpd_config* c, const char* key, long* x, long* y,
    bool* given, std::string* err)
{
    const gpd_entry* e = gpd_option_attr(doc, c, "PaperSize", key);
    *given = e != nullptr;
    if (e && (!gpd_pair(e->value, x, y) || *x < 0 || *y < 0))
        return fail(err, e, std::string(key) + " is PAIR(x, y)");
    return true;
}

bool paper(const gpd_doc* doc, const gpd_config* c, gpd_device* d, std::string* err)
{
    std::string name = gpd_chosen(doc, c, "PaperSize");
    if (name.empty())
        return fail(err, nullptr, doc->path + ": the GPD has no PaperSize feature");
    const gpd_std_paper* std = gpd_std_paper_find(name.c_str());
    bool given;
    if (!pair_attr(doc, c, "PageDimensions", &d->paper_w, &d->paper_h, &given, err))
        return false;
    if (!given && !std)
        return fail(err, nullptr, "the paper " + name + " gives no *PageDimensions");
    if (!given) {
        d->paper_w = (long)((long long)std->width_um * d->master_x / 25400);
        d->paper_h = (long)((long long)std->length_um * d->master_y / 25400);
        d->paper_code = std->code;
    }
    d->area_w = d->paper_w;
    d->area_h = d->paper_h;
    if (!pair_attr(doc, c, "PrintableArea", &d->area_w, &d->area_h, &given, err)
        || !pair_attr(doc, c, "PrintableOrigin", &d->origin_x, &d->origin_y, &given, err))
        return false;
    d->cursor_x = d->origin_x;
    d->cursor_y = d->origin_y;
    if (!pair_attr(doc, c, "CursorOrigin", &d->cursor_x, &d->cursor_y, &given, err))
        return false;
    if (d->origin_x + d->area_w > d->paper_w || d->origin_y + d->area_h > d->paper_h
        || d->area_w == 0 || d->area_h == 0)
        return fail(err, nullptr, "the printable area of " + name + " is not on the sheet");
    d->bitmap_w = d->area_w / (d->master_x / d->dpi_x);
    d->bitmap_h = d->area_h / (d->master_y / d->dpi_y);
    // A driver's numbers decide how much memory a page takes: keep them to
    // what a printer can have (a metre at 2400 dpi).
    if (d->bitmap_w < 1 || d->bitmap_h < 1 || d->bitmap_w > 100000 || d->bitmap_h > 100000)
        return fail(err, nullptr, "the printable area of " + name + " is no plausible page");
    return true;
}

bool plane_name(const std::string& s, gpd_plane* p)
{
    static const char* const names[] = {"BLACK", "CYAN", "MAGENTA", "YELLOW", "RED", "GREEN", "BLUE"};
    for (int i = 0; i < 7; i++)
        if (s == names[i]) {
            *p = (gpd_plane)i;
            return true;
        }
    return false;
}

bool color_mode(const gpd_doc* doc, const gpd_config* c, gpd_device* d, std::string* err)
{
    long planes = 1, bpp = 1;
    const gpd_entry* e = gpd_option_attr(doc, c, "ColorMode", "DevNumOfPlanes");
    if (e && (!gpd_int(e->value, &planes) || (planes > 1 && planes != 3 && planes != 4) || planes < 0))
        return fail(err, e, "DevNumOfPlanes is 0, 1, 3 or 4");
    e = gpd_option_attr(doc, c, "ColorMode", "DevBPP");
    if (e && (!gpd_int(e->value, &bpp) || (bpp > 1 && bpp != 4 && bpp != 8 && bpp != 24) || bpp < 0))
        return fail(err, e, "DevBPP is 0, 1, 4, 8 or 24");
    if (planes > 1 && bpp != 1)
        return fail(err, e, "colour planes are 1 bit each");
    // 0 planes of 0 bits: the driver's plug-in makes the raster data itself
    // (ImageProcessing sends each band).
    if ((planes == 0) != (bpp == 0))
        return fail(err, e, "DevBPP and DevNumOfPlanes are 0 only together");
    e = gpd_option_attr(doc, c, "ColorMode", "Color?");
    if (e && !gpd_bool(e->value, &d->color))
        return fail(err, e, "Color? is TRUE or FALSE");
    d->planes = (int)planes;
    d->bpp = (int)bpp;
    d->plane_order.assign(planes ? 1 : 0, GP_BLACK);
    if (planes <= 1)
        return true;
    d->plane_order = planes == 3 ? std::vector<gpd_plane>{GP_CYAN, GP_MAGENTA, GP_YELLOW}
                                 : std::vector<gpd_plane>{GP_YELLOW, GP_MAGENTA, GP_CYAN, GP_BLACK};
    e = gpd_option_attr(doc, c, "ColorMode", "ColorPlaneOrder");
    std::vector<std::string> names;
    if (e && gpd_list(e->value, &names)) {
        d->plane_order.clear();
        for (const std::string& n : names) {
            gpd_plane p;
            if (!plane_name(n, &p))
                return fail(err, e, "unknown colour plane " + n);
            d->plane_order.push_back(p);
        }
    }
    if ((long)d->plane_order.size() != planes)
        return fail(err, e, "ColorPlaneOrder names one plane each");
    return true;
}

// The print head of a V_BYTE printer.  Its rows are whole bytes of 1-bit
// pixels (one plane, or a plane a colour).
bool print_head(const gpd_doc* doc, const gpd_config* c, gpd_device* d, const gpd_entry* format,
    std::string* err)
{
    if (d->bpp != 1 && d->planes != 0)
        return fail(err, format, "V_BYTE raster is 1 bit a pixel");
    const gpd_entry* e = gpd_option_attr(doc, c, "Resolution", "PinsPerPhysPass");
    if (!e || !gpd_int(e->value, &d->pins_phys) || d->pins_phys < 8 || d->pins_phys % 8
        || d->pins_phys > 256)
        return fail(err, e ? e : format, "V_BYTE needs *PinsPerPhysPass, a multiple of 8");
    d->pins_log = d->pins_phys;
    e = gpd_option_attr(doc, c, "Resolution", "PinsPerLogPass");
    if (e && (!gpd_int(e->value, &d->pins_log) || d->pins_log < d->pins_phys
        || d->pins_log % d->pins_phys || d->pins_log > 16 * d->pins_phys))
        return fail(err, e, "PinsPerLogPass is a multiple of PinsPerPhysPass");
    return root_bool(doc, c, "MirrorRasterByte?", &d->mirror_byte, err);
}

bool raster(const gpd_doc* doc, const gpd_config* c, gpd_device* d, std::string* err)
{
    const gpd_entry* e = root(doc, c, "OutputDataFormat");
    if (e && e->value != "H_BYTE" && e->value != "V_BYTE")
        return fail(err, e, "OutputDataFormat is H_BYTE or V_BYTE");
    d->v_byte = e && e->value == "V_BYTE";
    if (d->v_byte && !print_head(doc, c, d, e, err))
        return false;
    e = root(doc, c, "StripBlanks");
    std::vector<std::string> items;
    if (e && gpd_list(e->value, &items))
        for (const std::string& s : items) {
            d->strip_leading |= s == "LEADING";
            d->strip_enclosed |= s == "ENCLOSED";
            d->strip_trailing |= s == "TRAILING";
        }
    e = root(doc, c, "CursorXAfterSendBlockData");
    if (e)
        d->x_after = e->value == "AT_GRXDATA_ORIGIN" ? GX_GRXDATA_ORIGIN
            : e->value == "AT_CURSOR_X_ORIGIN"       ? GX_CURSOR_X_ORIGIN
                                                     : GX_GRXDATA_END;
    e = root(doc, c, "CursorYAfterSendBlockData");
    d->y_auto_increment = e && e->value == "AUTO_INCREMENT";
    return root_bool(doc, c, "OptimizeLeftBound?", &d->optimize_left, err)
        && root_bool(doc, c, "RasterSendAllData?", &d->send_all, err)
        && root_bool(doc, c, "EjectPageWithFF?", &d->eject_ff, err)
        && root_int(doc, c, "MinStripBlankPixels", &d->min_strip_pixels, err)
        && root_int(doc, c, "XMoveUnit", &d->x_move_unit, err)
        && root_int(doc, c, "YMoveUnit", &d->y_move_unit, err)
        && root_int(doc, c, "XMoveThreshold", &d->x_threshold, err);
}

} // namespace

bool gpd_device_setup(const gpd_doc* doc, const gpd_config* c, gpd_device* d, std::string* err)
{
    *d = gpd_device();
    return units(doc, c, d, err) && paper(doc, c, d, err) && color_mode(doc, c, d, err)
        && raster(doc, c, d, err);
}

long gpd_row_bytes(const gpd_device* d, long width)
{
    return (width * d->bpp + 7) / 8;
}
