#include "ppd_gen.h"
#include "job_keys.h"

#include <stdlib.h>
#include <string.h>

struct known_size {
    const char* name;
    unsigned code;
    double width, length;
};

// Common sizes: PPD name, Windows paper code, points.
static const known_size g_known_sizes[] = {{"Letter", 1, 612, 792}, {"Tabloid", 3, 792, 1224},
    {"Legal", 5, 612, 1008}, {"Executive", 7, 522, 756}, {"A3", 8, 842, 1191}, {"A4", 9, 595, 842},
    {"A5", 11, 420, 595}, {"B5", 13, 516, 729}, {"Env10", 20, 297, 684}, {"EnvDL", 27, 312, 624}};

static const char* const g_color_names[] = {"RGB", "Gray", "Black"};
static const char* const g_color_texts[] = {"Color", "Grayscale", "Black and White"};
// cupsColorSpace, cupsBitsPerColor for each mode.
static const int g_color_raster[][2] = {{1, 8}, {18, 8}, {3, 1}};

static int color_index(int mode)
{
    return mode == PPD_COLOR_RGB ? 0 : mode == PPD_COLOR_GRAY ? 1 : 2;
}

// Text that goes between quotes in the PPD and into a Windows printer
// name: printable ASCII without '"', and without ',' or '\' that Windows
// printer names cannot hold.
static bool plain_text(const char* s, size_t max)
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
static bool keyword_text(const char* s, size_t max)
{
    size_t n = strlen(s);
    if (n == 0 || n > max)
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
                || c == '_' || c == '-'))
            return false;
    }
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
    if (!plain_text(text, sizeof r->manufacturer - 1))
        return "a manufacturer is printable ASCII without '\"', ',' or '\\'";
    strcpy(r->manufacturer, text);
    return nullptr;
}

const char* ppd_set_model(ppd_request* r, const char* model)
{
    if (!plain_text(model, sizeof r->model - 1))
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
        if (r->resolutions[i] == dpi)
            return "resolution given twice";
    r->resolutions[r->num_resolutions++] = dpi;
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
        "*cupsManualCopies: True\n"
        "*cupsFilter: \"application/vnd.cups-raster 0 rastertotessal\"\n"
        "*TessalPackage: \"%s\"\n"
        "*TessalModel: \"%s\"\n",
        r->package, r->manufacturer, r->model, r->model, short_name, r->model, r->package,
        r->color_modes[0] == PPD_COLOR_RGB ? "True" : "False",
        r->color_modes[0] == PPD_COLOR_RGB ? "RGB" : "Gray", r->package, r->model);
}

static void write_sizes(const ppd_request* r, FILE* f)
{
    const char* def = r->sizes[0].name;
    const char* groups[] = {"PageSize", "PageRegion"};
    const char* texts[] = {"Media Size", "Page Region"};
    for (int g = 0; g < 2; g++) {
        fprintf(f, "\n*OpenUI *%s/%s: PickOne\n", groups[g], texts[g]);
        fprintf(f, "*OrderDependency: 10 AnySetup *%s\n", groups[g]);
        fprintf(f, "*Default%s: %s\n", groups[g], def);
        for (int i = 0; i < r->num_sizes; i++) {
            const ppd_page_size* s = &r->sizes[i];
            fprintf(f,
                "*%s %s/%s: \"<</PageSize[%g %g]/ImagingBBox null>>"
                "setpagedevice\"\n",
                groups[g], s->name, s->name, s->width, s->length);
        }
        fprintf(f, "*CloseUI: *%s\n", groups[g]);
    }
    fprintf(f, "\n*DefaultImageableArea: %s\n", def);
    for (int i = 0; i < r->num_sizes; i++)
        fprintf(f, "*ImageableArea %s/%s: \"0 0 %g %g\"\n", r->sizes[i].name, r->sizes[i].name,
            r->sizes[i].width, r->sizes[i].length);
    fprintf(f, "*DefaultPaperDimension: %s\n", def);
    for (int i = 0; i < r->num_sizes; i++)
        fprintf(f, "*PaperDimension %s/%s: \"%g %g\"\n", r->sizes[i].name, r->sizes[i].name,
            r->sizes[i].width, r->sizes[i].length);
    for (int i = 0; i < r->num_sizes; i++)
        fprintf(f, "*TessalPaperCode %s: \"%u\"\n", r->sizes[i].name, r->sizes[i].code);
}

static void write_resolutions(const ppd_request* r, FILE* f)
{
    fprintf(f,
        "\n*OpenUI *Resolution/Resolution: PickOne\n"
        "*OrderDependency: 20 AnySetup *Resolution\n"
        "*DefaultResolution: %udpi\n",
        r->resolutions[0]);
    for (int i = 0; i < r->num_resolutions; i++) {
        unsigned d = r->resolutions[i];
        fprintf(f,
            "*Resolution %udpi/%u DPI: \"<</HWResolution[%u %u]>>"
            "setpagedevice\"\n",
            d, d, d, d);
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
}

bool ppd_write(const ppd_request* r, FILE* f)
{
    write_header(r, f);
    write_sizes(r, f);
    write_resolutions(r, f);
    write_color_modes(r, f);
    fprintf(f, "\n*DefaultFont: Courier\n*%% End of PPD\n");
    return fflush(f) == 0 && !ferror(f);
}
