#include "ppd_gen.h"
#include "job_keys.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

struct known_size {
    const char* name;
    unsigned code;
    double width, length;
};

// Common sizes: PPD name, Windows paper code, points.  A driver's paper
// with one of these codes gets the standard name, which CUPS maps to the
// IPP media name (media=Letter, media=iso_a5_148x210mm).
static const known_size g_known_sizes[] = {{"Letter", 1, 612, 792}, {"Tabloid", 3, 792, 1224},
    {"Legal", 5, 612, 1008}, {"Statement", 6, 396, 612}, {"Executive", 7, 522, 756},
    {"A3", 8, 842, 1191}, {"A4", 9, 595, 842}, {"A5", 11, 420, 595}, {"B4", 12, 729, 1032},
    {"B5", 13, 516, 729}, {"Folio", 14, 612, 936}, {"Env9", 19, 279, 639}, {"Env10", 20, 297, 684},
    {"Env11", 21, 324, 747}, {"Env12", 22, 342, 792}, {"Env14", 23, 360, 828},
    {"EnvDL", 27, 312, 624}, {"EnvC5", 28, 459, 649}, {"EnvC4", 30, 649, 918},
    {"EnvC6", 31, 323, 459}, {"EnvMonarch", 37, 279, 540}, {"Postcard", 43, 283, 420},
    {"A6", 70, 297, 420}};

static const char* const g_color_names[] = {"RGB", "Gray", "Black"};
static const char* const g_color_texts[] = {"Color", "Grayscale", "Black and White"};
// cupsColorSpace, cupsBitsPerColor for each mode.
static const int g_color_raster[][2] = {{1, 8}, {18, 8}, {3, 1}};

static int color_index(int mode)
{
    return mode == PPD_COLOR_RGB ? 0 : mode == PPD_COLOR_GRAY ? 1 : 2;
}

bool ppd_plain_text(const char* s, size_t max)
{
    size_t n = strlen(s);
    if (n == 0 || n > max)
        return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c < 0x20 || c > 0x7e || c == '"' || c == ',' || c == '\\')
            return false;
    }
    return true;
}

// PPD option keywords: letters, digits, '.', '_', '-'.
static bool keyword_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
        || c == '_' || c == '-';
}

static bool keyword_text(const char* s, size_t max)
{
    size_t n = strlen(s);
    if (n == 0 || n > max)
        return false;
    for (size_t i = 0; i < n; i++)
        if (!keyword_char(s[i]))
            return false;
    return true;
}

const char* ppd_set_package(ppd_request* r, const char* package)
{
    if (!job_package_name_ok(package))
        return "a package name is letters, digits, '.', '_' and '-' only";
    strcpy(r->package, package);
    return nullptr;
}

const char* ppd_set_manufacturer(ppd_request* r, const char* text)
{
    if (!ppd_plain_text(text, sizeof r->manufacturer - 1))
        return "a manufacturer is printable ASCII without '\"', ',' or '\\'";
    strcpy(r->manufacturer, text);
    return nullptr;
}

const char* ppd_set_model(ppd_request* r, const char* model)
{
    if (!ppd_plain_text(model, sizeof r->model - 1))
        return "a printer name is printable ASCII without '\"', ',' or '\\'";
    strcpy(r->model, model);
    return nullptr;
}

static bool parse_uint(const char* s, const char* end, unsigned max, unsigned* out)
{
    if (s == end || end - s > 9)
        return false;
    unsigned v = 0;
    for (; s < end; s++) {
        if (*s < '0' || *s > '9')
            return false;
        v = v * 10 + (unsigned)(*s - '0');
    }
    if (v == 0 || v > max)
        return false;
    *out = v;
    return true;
}

// "WIDTHxHEIGHT" in points, each from 1 to 5000.
static bool parse_dims(const char* s, double* w, double* h)
{
    char* end;
    *w = strtod(s, &end);
    if (end == s || *end != 'x')
        return false;
    const char* hs = end + 1;
    *h = strtod(hs, &end);
    if (end == hs || *end)
        return false;
    return *w >= 1 && *w <= 5000 && *h >= 1 && *h <= 5000;
}

const char* ppd_add_size(ppd_request* r, const char* text)
{
    if (r->num_sizes == PPD_MAX_SIZES)
        return "too many page sizes";
    ppd_page_size s;
    memset(&s, 0, sizeof s);
    const char* eq = strchr(text, '=');
    size_t name_len = eq ? (size_t)(eq - text) : strlen(text);
    if (name_len == 0 || name_len >= sizeof s.name)
        return "a page size needs a name of at most 40 characters";
    memcpy(s.name, text, name_len);
    if (!keyword_text(s.name, sizeof s.name - 1))
        return "a page size name is letters, digits, '.', '_' and '-' only";
    for (int i = 0; i < r->num_sizes; i++)
        if (strcmp(r->sizes[i].name, s.name) == 0)
            return "page size given twice";
    for (const known_size& k : g_known_sizes) {
        if (strcmp(k.name, s.name) == 0) {
            s.code = k.code;
            s.width = k.width;
            s.length = k.length;
        }
    }
    if (eq) {
        const char* colon = strchr(eq + 1, ':');
        const char* code_end = colon ? colon : eq + 1 + strlen(eq + 1);
        if (!parse_uint(eq + 1, code_end, 32767, &s.code))
            return "a Windows paper code is a number from 1 to 32767";
        if (colon && !parse_dims(colon + 1, &s.width, &s.length))
            return "page dimensions are WIDTHxHEIGHT in points";
    }
    if (s.code == 0 || s.width == 0)
        return "unknown page size: give it as NAME=CODE:WIDTHxHEIGHT";
    r->sizes[r->num_sizes++] = s;
    return nullptr;
}

const char* ppd_add_resolution(ppd_request* r, const char* text)
{
    if (r->num_resolutions == PPD_MAX_RESOLUTIONS)
        return "too many resolutions";
    size_t n = strlen(text);
    if (n > 3 && strcmp(text + n - 3, "dpi") == 0)
        n -= 3;
    unsigned dpi;
    if (!parse_uint(text, text + n, 2400, &dpi))
        return "a resolution is a number of dots per inch from 1 to 2400";
    for (int i = 0; i < r->num_resolutions; i++)
        if (r->resolutions[i].x == dpi && r->resolutions[i].y == dpi)
            return "resolution given twice";
    r->resolutions[r->num_resolutions++] = {dpi, dpi};
    return nullptr;
}

const char* ppd_add_color_mode(ppd_request* r, const char* text)
{
    int mode = strcmp(text, "rgb") == 0 ? PPD_COLOR_RGB
        : strcmp(text, "gray") == 0     ? PPD_COLOR_GRAY
        : strcmp(text, "mono") == 0     ? PPD_COLOR_MONO
                                        : 0;
    if (!mode)
        return "a colour mode is rgb, gray or mono";
    for (int i = 0; i < r->num_color_modes; i++)
        if (r->color_modes[i] == mode)
            return "colour mode given twice";
    r->color_modes[r->num_color_modes++] = mode;
    return nullptr;
}

const char* ppd_finish(ppd_request* r)
{
    if (!r->package[0])
        return "no package name";
    if (!r->model[0])
        return "no Windows printer name";
    if (!r->manufacturer[0])
        strcpy(r->manufacturer, "Tessal");
    if (r->num_sizes == 0) {
        ppd_add_size(r, "A4");
        ppd_add_size(r, "Letter");
    }
    if (r->num_resolutions == 0)
        ppd_add_resolution(r, "300");
    if (r->num_color_modes == 0) {
        ppd_add_color_mode(r, "rgb");
        ppd_add_color_mode(r, "gray");
        ppd_add_color_mode(r, "mono");
    }
    return nullptr;
}

// A PPD keyword from a driver's name: its letters, digits, '.', '_' and
// '-' ("Tray 1" becomes "Tray1").  Empty when none is left.
static void keyword_from(const char* name, char* out)
{
    size_t n = 0;
    for (; *name && n < PPD_KEYWORD_MAX; name++)
        if (keyword_char(*name))
            out[n++] = *name;
    out[n] = '\0';
}

// A name as the user sees it: the driver's, without what a PPD translation
// string cannot hold.
static void text_from(const char* name, char* out)
{
    size_t n = 0;
    for (; *name && n < CAPS_NAME_MAX; name++)
        out[n++] = strchr(":<>/", *name) ? ' ' : *name;
    out[n] = '\0';
}

static bool choice_taken(const ppd_choice* list, int count, const char* name)
{
    for (int i = 0; i < count; i++)
        if (strcmp(list[i].name, name) == 0)
            return true;
    return false;
}

// The driver's bins or media types as choices; the one with the code
// first_code (if any) comes first, as the default.
static void add_choices(ppd_choice* list, int* count, const caps_choice* from, int n,
    const char* prefix, unsigned first_code)
{
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 0; i < n; i++) {
            if ((from[i].code == first_code) != (pass == 0))
                continue;
            ppd_choice* c = &list[*count];
            keyword_from(from[i].name, c->name);
            if (!c->name[0] || choice_taken(list, *count, c->name))
                snprintf(c->name, sizeof c->name, "%s%u", prefix, from[i].code);
            if (choice_taken(list, *count, c->name))
                continue;
            text_from(from[i].name, c->text);
            c->code = from[i].code;
            (*count)++;
        }
    }
}

// The length in points that CUPS renders as exactly the driver's pixels
// at every resolution: Ghostscript rounds points x dpi / 72 to the nearest
// pixel.  nominal when no length does.
static double fit_points(const unsigned* px, const unsigned* dpi, int n, double nominal)
{
    double lo = 0, hi = 1e9;
    for (int i = 0; i < n; i++) {
        lo = fmax(lo, (px[i] - 0.5) * 72.0 / dpi[i]);
        hi = fmin(hi, (px[i] + 0.5) * 72.0 / dpi[i]);
    }
    if (n == 0 || hi - lo < 0.004)
        return nominal;
    return round((lo + hi) / 2 * 1000) / 1000;
}

// The sheet, and the area every resolution can print: the sheet less the
// widest margin the driver leaves on each side, in points.
static void fit_size(ppd_page_size* s, const caps_paper* p)
{
    unsigned w[PPD_MAX_RESOLUTIONS], h[PPD_MAX_RESOLUTIONS], xd[PPD_MAX_RESOLUTIONS],
        yd[PPD_MAX_RESOLUTIONS];
    double left = 0, right = 0, top = 0, bottom = 0;
    for (int i = 0; i < s->num_pages; i++) {
        const ppd_page_area* a = &s->pages[i];
        w[i] = a->phys_w;
        h[i] = a->phys_h;
        xd[i] = a->xdpi;
        yd[i] = a->ydpi;
        left = fmax(left, a->off_x * 72.0 / a->xdpi);
        right = fmax(right, (a->phys_w - a->off_x - a->print_w) * 72.0 / a->xdpi);
        top = fmax(top, a->off_y * 72.0 / a->ydpi);
        bottom = fmax(bottom, (a->phys_h - a->off_y - a->print_h) * 72.0 / a->ydpi);
    }
    s->width = fit_points(w, xd, s->num_pages, p->width * 72.0 / 254.0);
    s->length = fit_points(h, yd, s->num_pages, p->length * 72.0 / 254.0);
    if (left + right + top + bottom == 0 || left + right >= s->width || top + bottom >= s->length)
        return;
    s->area[0] = round(left * 1000) / 1000;
    s->area[1] = round(bottom * 1000) / 1000;
    s->area[2] = round((s->width - right) * 1000) / 1000;
    s->area[3] = round((s->length - top) * 1000) / 1000;
}

static bool size_taken(const ppd_request* r, const char* name)
{
    for (int i = 0; i < r->num_sizes; i++)
        if (strcmp(r->sizes[i].name, name) == 0)
            return true;
    return false;
}

// One paper of the listing; false when the driver selected it at no
// resolution offered.
static bool add_paper(ppd_request* r, const caps_listing* l, const caps_paper* p)
{
    ppd_page_size* s = &r->sizes[r->num_sizes];
    memset(s, 0, sizeof *s);
    for (int i = 0; i < r->num_resolutions; i++) {
        const caps_page* page
            = caps_find_page(l, p->code, r->resolutions[i].x, r->resolutions[i].y);
        if (page)
            s->pages[s->num_pages++] = {page->xdpi, page->ydpi, page->phys_w, page->phys_h,
                page->off_x, page->off_y, page->print_w, page->print_h};
    }
    if (l->num_pages > 0 && s->num_pages == 0)
        return false;
    for (const known_size& k : g_known_sizes)
        if (k.code == p->code)
            snprintf(s->name, sizeof s->name, "%s", k.name);
    if (!s->name[0] || size_taken(r, s->name))
        keyword_from(p->name, s->name);
    if (!s->name[0] || size_taken(r, s->name))
        snprintf(s->name, sizeof s->name, "Paper%u", p->code);
    if (size_taken(r, s->name))
        return false;
    text_from(p->name, s->text);
    s->code = p->code;
    fit_size(s, p);
    r->num_sizes++;
    return true;
}

const char* ppd_from_listing(ppd_request* r, const caps_listing* l)
{
    if (!r->model[0]) {
        const char* err = ppd_set_model(r, l->printer);
        if (err)
            return err;
    }
    // The driver's defaults come first, as the queue's defaults.
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < l->num_resolutions; i++) {
            const caps_resolution* res = &l->resolutions[i];
            bool is_default
                = res->x == l->default_resolution.x && res->y == l->default_resolution.y;
            if (is_default == (pass == 0))
                r->resolutions[r->num_resolutions++] = {res->x, res->y};
        }
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < l->num_papers; i++)
            if ((l->papers[i].code == l->default_paper) == (pass == 0))
                add_paper(r, l, &l->papers[i]);
    if (r->num_sizes == 0)
        return "the driver selected none of its papers";
    if (l->color)
        ppd_add_color_mode(r, "rgb");
    ppd_add_color_mode(r, "gray");
    ppd_add_color_mode(r, "mono");
    r->color_codes = l->fields & CAPS_DM_COLOR;
    r->duplex = l->duplex && (l->fields & CAPS_DM_DUPLEX);
    if (l->fields & CAPS_DM_DEFAULTSOURCE)
        add_choices(r->bins, &r->num_bins, l->bins, l->num_bins, "Bin", 7); // DMBIN_AUTO
    if (l->fields & CAPS_DM_MEDIATYPE)
        add_choices(r->media, &r->num_media, l->media, l->num_media, "Media", 0);
    if (l->copies > 1 && (l->fields & CAPS_DM_COPIES)) {
        r->driver_copies = l->copies > 9999 ? 9999 : l->copies;
        r->driver_collate = l->collate && (l->fields & CAPS_DM_COLLATE);
    }
    ppd_gpd_from_listing(r, l);
    return nullptr;
}

static void write_header(const ppd_request* r, FILE* f)
{
    // ShortNickName is limited to 31 characters.
    char short_name[32];
    size_t n = strlen(r->model);
    if (n > 31)
        n = 31;
    memcpy(short_name, r->model, n);
    short_name[n] = 0;
    fprintf(f,
        "*PPD-Adobe: \"4.3\"\n"
        "*%% CUPS queue for the Windows driver package %s\n"
        "*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n"
        "*PCFileName: \"TESSAL.PPD\"\n"
        "*Manufacturer: \"%s\"\n"
        "*Product: \"(%s)\"\n"
        "*ModelName: \"%s\"\n"
        "*ShortNickName: \"%s\"\n"
        "*NickName: \"%s, Windows driver %s\"\n"
        "*PSVersion: \"(3010.000) 0\"\n"
        "*LanguageLevel: \"3\"\n"
        "*ColorDevice: %s\n"
        "*DefaultColorSpace: %s\n"
        "*FileSystem: False\n"
        "*Throughput: \"1\"\n"
        "*LandscapeOrientation: Plus90\n"
        "*TTRasterizer: Type42\n"
        "*cupsVersion: 2.4\n"
        "*cupsModelNumber: 0\n"
        "*cupsManualCopies: %s\n"
        "*cupsFilter: \"application/vnd.cups-raster 0 rastertotessal\"\n"
        "*TessalPackage: \"%s\"\n"
        "*TessalModel: \"%s\"\n",
        r->package, r->manufacturer, r->model, r->model, short_name, r->model, r->package,
        r->color_modes[0] == PPD_COLOR_RGB ? "True" : "False",
        r->color_modes[0] == PPD_COLOR_RGB ? "RGB" : "Gray", r->driver_copies ? "False" : "True",
        r->package, r->model);
    // The driver makes the copies: CUPS leaves them to the device, and the
    // filter hands the count on.
    if (r->driver_copies)
        fprintf(f, "*TessalDriverCopies: True\n*TessalMaxCopies: \"%u\"\n", r->driver_copies);
    if (r->driver_collate)
        fprintf(f, "*TessalDriverCollate: True\n");
}

// Points with at most three decimals, without trailing zeros.
static const char* pt(double v, char* buf)
{
    snprintf(buf, 32, "%.3f", v);
    char* end = buf + strlen(buf);
    while (end[-1] == '0')
        *--end = '\0';
    if (end[-1] == '.')
        end[-1] = '\0';
    return buf;
}

static const char* size_text(const ppd_page_size* s)
{
    return s->text[0] ? s->text : s->name;
}

static void write_sizes(const ppd_request* r, FILE* f)
{
    const char* def = r->sizes[0].name;
    const char* groups[] = {"PageSize", "PageRegion"};
    const char* texts[] = {"Media Size", "Page Region"};
    char a[32], b[32], c[32], d[32];
    for (int g = 0; g < 2; g++) {
        fprintf(f, "\n*OpenUI *%s/%s: PickOne\n", groups[g], texts[g]);
        fprintf(f, "*OrderDependency: 10 AnySetup *%s\n", groups[g]);
        fprintf(f, "*Default%s: %s\n", groups[g], def);
        for (int i = 0; i < r->num_sizes; i++) {
            const ppd_page_size* s = &r->sizes[i];
            fprintf(f, "*%s %s/%s: \"<</PageSize[%s %s]/ImagingBBox null>>setpagedevice\"\n",
                groups[g], s->name, size_text(s), pt(s->width, a), pt(s->length, b));
        }
        fprintf(f, "*CloseUI: *%s\n", groups[g]);
    }
    fprintf(f, "\n*DefaultImageableArea: %s\n", def);
    for (int i = 0; i < r->num_sizes; i++) {
        const ppd_page_size* s = &r->sizes[i];
        // CUPS's default scaling fills the sheet with a larger document,
        // cropping it, when the imageable area is the sheet to the whole
        // point (a borderless paper); with any margin it shrinks the
        // document to fit.  Drivers that print to the edge get a
        // thousandth of a point, less than a dot at any resolution.
        bool whole = s->area[2] == 0;
        fprintf(f, "*ImageableArea %s/%s: \"%s %s %s %s\"\n", s->name, size_text(s),
            pt(whole ? 0 : s->area[0], a), pt(whole ? 0 : s->area[1], b),
            pt(whole ? s->width - 0.001 : s->area[2], c), pt(whole ? s->length : s->area[3], d));
    }
    fprintf(f, "*DefaultPaperDimension: %s\n", def);
    for (int i = 0; i < r->num_sizes; i++)
        fprintf(f, "*PaperDimension %s/%s: \"%s %s\"\n", r->sizes[i].name, size_text(&r->sizes[i]),
            pt(r->sizes[i].width, a), pt(r->sizes[i].length, b));
    for (int i = 0; i < r->num_sizes; i++)
        fprintf(f, "*TessalPaperCode %s: \"%u\"\n", r->sizes[i].name, r->sizes[i].code);
    for (int i = 0; i < r->num_sizes; i++) {
        for (int j = 0; j < r->sizes[i].num_pages; j++) {
            const ppd_page_area* p = &r->sizes[i].pages[j];
            fprintf(f, "*TessalPageArea %s: \"%ux%u %u %u %u %u %u %u\"\n", r->sizes[i].name,
                p->xdpi, p->ydpi, p->phys_w, p->phys_h, p->off_x, p->off_y, p->print_w, p->print_h);
        }
    }
}

// "300dpi", or "600x300dpi" where the two differ.
static void resolution_name(const ppd_resolution* res, char* out, size_t len)
{
    if (res->x == res->y)
        snprintf(out, len, "%udpi", res->x);
    else
        snprintf(out, len, "%ux%udpi", res->x, res->y);
}

static void write_resolutions(const ppd_request* r, FILE* f)
{
    char name[32];
    resolution_name(&r->resolutions[0], name, sizeof name);
    fprintf(f,
        "\n*OpenUI *Resolution/Resolution: PickOne\n"
        "*OrderDependency: 20 AnySetup *Resolution\n"
        "*DefaultResolution: %s\n",
        name);
    for (int i = 0; i < r->num_resolutions; i++) {
        const ppd_resolution* d = &r->resolutions[i];
        resolution_name(d, name, sizeof name);
        fprintf(f, "*Resolution %s/%u x %u DPI: \"<</HWResolution[%u %u]>>setpagedevice\"\n", name,
            d->x, d->y, d->x, d->y);
    }
    fprintf(f, "*CloseUI: *Resolution\n");
}

static void write_color_modes(const ppd_request* r, FILE* f)
{
    fprintf(f,
        "\n*OpenUI *ColorModel/Color Mode: PickOne\n"
        "*OrderDependency: 10 AnySetup *ColorModel\n"
        "*DefaultColorModel: %s\n",
        g_color_names[color_index(r->color_modes[0])]);
    for (int i = 0; i < r->num_color_modes; i++) {
        int c = color_index(r->color_modes[i]);
        fprintf(f,
            "*ColorModel %s/%s: \"<</cupsColorOrder 0/cupsColorSpace %d"
            "/cupsBitsPerColor %d>>setpagedevice\"\n",
            g_color_names[c], g_color_texts[c], g_color_raster[c][0], g_color_raster[c][1]);
    }
    fprintf(f, "*CloseUI: *ColorModel\n");
    for (int i = 0; r->color_codes && i < r->num_color_modes; i++)
        fprintf(f, "*TessalColorCode %s: \"%d\"\n", g_color_names[color_index(r->color_modes[i])],
            r->color_modes[i] == PPD_COLOR_RGB ? 2 : 1);
}

static void write_duplex(FILE* f)
{
    fprintf(f,
        "\n*OpenUI *Duplex/2-Sided Printing: PickOne\n"
        "*OrderDependency: 20 AnySetup *Duplex\n"
        "*DefaultDuplex: None\n"
        "*Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n"
        "*Duplex DuplexNoTumble/Long-Edge (Portrait): \"<</Duplex true/Tumble "
        "false>>setpagedevice\"\n"
        "*Duplex DuplexTumble/Short-Edge (Landscape): \"<</Duplex true/Tumble "
        "true>>setpagedevice\"\n"
        "*CloseUI: *Duplex\n"
        "*TessalDuplexCode None: \"1\"\n"
        "*TessalDuplexCode DuplexNoTumble: \"2\"\n"
        "*TessalDuplexCode DuplexTumble: \"3\"\n");
}

// An option whose every choice stands for a Windows code; the first choice
// is the default.
static void write_choices(FILE* f, const char* option, const char* text, const char* code_keyword,
    const ppd_choice* list, int count)
{
    fprintf(f, "\n*OpenUI *%s/%s: PickOne\n*OrderDependency: 20 AnySetup *%s\n*Default%s: %s\n",
        option, text, option, option, list[0].name);
    for (int i = 0; i < count; i++)
        fprintf(f, "*%s %s/%s: \"\"\n", option, list[i].name, list[i].text);
    fprintf(f, "*CloseUI: *%s\n", option);
    for (int i = 0; i < count; i++)
        fprintf(f, "*%s %s: \"%u\"\n", code_keyword, list[i].name, list[i].code);
}

bool ppd_write(const ppd_request* r, FILE* f)
{
    write_header(r, f);
    write_sizes(r, f);
    write_resolutions(r, f);
    write_color_modes(r, f);
    if (r->duplex)
        write_duplex(f);
    if (r->num_bins)
        write_choices(f, "InputSlot", "Media Source", "TessalBinCode", r->bins, r->num_bins);
    if (r->num_media)
        write_choices(f, "MediaType", "Media Type", "TessalMediaCode", r->media, r->num_media);
    ppd_write_gpd(r, f);
    fprintf(f, "\n*DefaultFont: Courier\n*%% End of PPD\n");
    return fflush(f) == 0 && !ferror(f);
}
