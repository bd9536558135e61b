// DrvDeviceCapabilities from the GPD: its papers, bins, media types and
// resolutions with the codes our device mode uses for them, and what the
// printer can do.
#include "ui.h"
#include "gpd_stdnames.h"
#include "gpd_value.h"
#include "unidrv_map.h"
#include "winddiui_more.h"

#include <winspool.h>

#include <string.h>

namespace {

enum { kPaperNameChars = 64, kBinNameChars = 24, kMediaNameChars = 64 };

struct Item {
    unsigned long code;
    std::wstring name;
    POINT size; // papers: portrait, 0.1 mm
};

// The sheet of PaperSize option oi in 0.1 mm; false for a size the GPD
// does not give (a custom size).
bool PaperTenths(const gpd_doc* doc, int fi, int oi, POINT* out)
{
    const gpd_option& o = doc->features[fi].options[oi];
    gpd_config c;
    gpd_config_defaults(doc, &c);
    c.choice[fi] = oi;
    const gpd_entry* dim = gpd_option_attr(doc, &c, "PaperSize", "PageDimensions");
    const gpd_entry* mu = gpd_lookup(doc, &c, doc->root, "MasterUnits");
    long w, h, mx, my;
    if (dim && mu && gpd_pair(dim->value, &w, &h) && gpd_pair(mu->value, &mx, &my) && mx > 0
        && my > 0 && w > 0 && h > 0) {
        out->x = (LONG)((long long)w * 254 / mx);
        out->y = (LONG)((long long)h * 254 / my);
        return true;
    }
    const gpd_std_paper* p = gpd_std_paper_find(o.name.c_str());
    if (!p)
        return false;
    out->x = (LONG)((p->width_um + 50) / 100);
    out->y = (LONG)((p->length_um + 50) / 100);
    return true;
}

// The options of a feature that have a code, in the GPD's order.
std::vector<Item> Items(const UiDriver* d, const char* feature)
{
    std::vector<Item> items;
    int fi = gpd_find_feature(&d->doc, feature);
    if (fi < 0)
        return items;
    const gpd_feature& f = d->doc.features[fi];
    for (size_t oi = 0; oi < f.options.size(); oi++) {
        Item it = {unidrv_option_code(&d->doc, fi, (int)oi), UiWide(f.options[oi].display), {0, 0}};
        if (!strcmp(feature, "PaperSize") && !PaperTenths(&d->doc, fi, (int)oi, &it.size))
            continue;
        items.push_back(it);
    }
    return items;
}

DWORD Codes(const std::vector<Item>& items, void* out, bool wide)
{
    for (size_t i = 0; out && i < items.size(); i++) {
        if (wide)
            ((DWORD*)out)[i] = (DWORD)items[i].code;
        else
            ((WORD*)out)[i] = (WORD)items[i].code;
    }
    return (DWORD)items.size();
}

DWORD Names(const std::vector<Item>& items, void* out, int chars)
{
    if (out) {
        memset(out, 0, items.size() * chars * sizeof(WCHAR));
        for (size_t i = 0; i < items.size(); i++)
            lstrcpynW((WCHAR*)out + i * chars, items[i].name.c_str(), chars);
    }
    return (DWORD)items.size();
}

DWORD Resolutions(const UiDriver* d, void* out)
{
    std::vector<std::pair<long, long>> list;
    int fi = gpd_find_feature(&d->doc, "Resolution");
    for (size_t oi = 0; fi >= 0 && oi < d->doc.features[fi].options.size(); oi++) {
        long x, y;
        if (!unidrv_option_dpi(&d->doc, (int)oi, &x, &y))
            continue;
        bool seen = false;
        for (const auto& r : list)
            seen |= r.first == x && r.second == y;
        if (!seen)
            list.push_back({x, y});
    }
    for (size_t i = 0; out && i < list.size(); i++) {
        ((LONG*)out)[2 * i] = (LONG)list[i].first;
        ((LONG*)out)[2 * i + 1] = (LONG)list[i].second;
    }
    return (DWORD)list.size();
}

bool HasOption(const UiDriver* d, const char* feature, const char* option)
{
    int fi = gpd_find_feature(&d->doc, feature);
    return fi >= 0 && gpd_find_option(&d->doc.features[fi], option) >= 0;
}

bool AnyColor(const UiDriver* d)
{
    int fi = gpd_find_feature(&d->doc, "ColorMode");
    for (size_t oi = 0; fi >= 0 && oi < d->doc.features[fi].options.size(); oi++)
        if (unidrv_option_code(&d->doc, fi, (int)oi) == 2)
            return true;
    return false;
}

// The smallest or largest sheet, as DC_MINEXTENT and DC_MAXEXTENT give it.
DWORD Extent(const UiDriver* d, bool largest)
{
    std::vector<Item> papers = Items(d, "PaperSize");
    if (papers.empty())
        return 0;
    LONG x = papers[0].size.x, y = papers[0].size.y;
    for (const Item& p : papers) {
        x = largest ? (p.size.x > x ? p.size.x : x) : (p.size.x < x ? p.size.x : x);
        y = largest ? (p.size.y > y ? p.size.y : y) : (p.size.y < y ? p.size.y : y);
    }
    return MAKELONG((WORD)x, (WORD)y);
}

DWORD Fields(const UiDriver* d)
{
    gpd_config c;
    gpd_config_defaults(&d->doc, &c);
    unidrv_public pub;
    unidrv_public_from_config(&d->doc, &c, &pub);
    return (DWORD)pub.fields | DM_COPIES | (d->maxCopies > 1 ? DM_COLLATE : 0);
}

DWORD Capability(const UiDriver* d, WORD cap, void* out)
{
    switch (cap) {
    case DC_FIELDS:
        return Fields(d);
    case DC_PAPERS:
        return Codes(Items(d, "PaperSize"), out, false);
    case DC_PAPERSIZE: {
        std::vector<Item> papers = Items(d, "PaperSize");
        for (size_t i = 0; out && i < papers.size(); i++)
            ((POINT*)out)[i] = papers[i].size;
        return (DWORD)papers.size();
    }
    case DC_PAPERNAMES:
    case DC_MEDIAREADY:
        return Names(Items(d, "PaperSize"), out, kPaperNameChars);
    case DC_MINEXTENT:
        return Extent(d, false);
    case DC_MAXEXTENT:
        return Extent(d, true);
    case DC_BINS:
        return Codes(Items(d, "InputBin"), out, false);
    case DC_BINNAMES:
        return Names(Items(d, "InputBin"), out, kBinNameChars);
    case DC_MEDIATYPES:
        return Codes(Items(d, "MediaType"), out, true);
    case DC_MEDIATYPENAMES:
        return Names(Items(d, "MediaType"), out, kMediaNameChars);
    case DC_ENUMRESOLUTIONS:
        return Resolutions(d, out);
    case DC_DUPLEX:
        return HasOption(d, "Duplex", "VERTICAL") || HasOption(d, "Duplex", "HORIZONTAL");
    case DC_ORIENTATION:
        return HasOption(d, "Orientation", "LANDSCAPE_CC270") ? 270 : 90;
    case DC_COLORDEVICE:
        return AnyColor(d);
    case DC_COPIES:
        return (DWORD)d->maxCopies;
    case DC_COLLATE:
        return d->maxCopies > 1;
    case DC_SIZE:
        return sizeof(DEVMODEW);
    case DC_EXTRA:
        return UiDevModeSize(d) - sizeof(DEVMODEW);
    case DC_VERSION:
        return DM_SPECVERSION;
    case DC_DRIVER:
        return 0x0100;
    case DC_NUP:
        if (out)
            *(DWORD*)out = 1;
        return 1;
    case DC_TRUETYPE:
    case DC_FILEDEPENDENCIES:
    case DC_PERSONALITY:
    case DC_STAPLE:
    case DC_BINADJUST:
    case DC_EMF_COMPLIANT:
    case DC_DATATYPE_PRODUCED:
        return 0;
    }
    return GDI_ERROR;
}

} // namespace

// Wine calls this without a usable printer handle: the name then opens one.
extern "C" __declspec(dllexport) DWORD WINAPI
    DrvDeviceCapabilities(HANDLE printer, LPWSTR name, WORD cap, void* out, DEVMODEW*)
{
    HANDLE own = NULL;
    DWORD needed = 0;
    if (!printer || (!GetPrinterDriverW(printer, NULL, 3, NULL, 0, &needed) && !needed)) {
        if (!name || !OpenPrinterW(name, &own, NULL))
            return GDI_ERROR;
        printer = own;
    }
    UiLock();
    UiDriver* d = UiDriverOf(printer);
    DWORD r = d ? Capability(d, cap, out) : GDI_ERROR;
    UiUnlock();
    if (own)
        ClosePrinter(own);
    return r;
}
