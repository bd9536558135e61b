// The features of a GPD minidriver on our own core as PPD options: each of
// the driver's own features (the standard ones already are PageSize,
// Resolution, ColorModel, InputSlot, MediaType and Duplex) with the
// driver's options, display names and default, and for each choice the
// GPD's "Feature=Option" the filter hands on:
//
//   *OpenUI *Toner/Toner Saving: PickOne
//   ...
//   *TessalGpd Toner.On: "Toner=On"
#include "job_options.h"
#include "ppd_gen.h"

#include <string.h>

// Features the device mode's public fields carry, or that CUPS does itself
// (Orientation) or our core does (Halftone).
static const char* const g_standard[] = {"PaperSize", "Resolution", "ColorMode", "InputBin",
    "MediaType", "Duplex", "Orientation", "Halftone"};

// Keywords this PPD or CUPS give a meaning of their own: a feature named
// so gets the prefix "Gpd".
static const char* const g_taken[] = {"PageSize", "PageRegion", "ImageableArea",
    "PaperDimension", "InputSlot", "ColorModel", "Collate", "ManualFeed", "OutputBin", "Font",
    "Manufacturer", "Product", "ModelName", "ShortNickName", "NickName", "PSVersion",
    "LanguageLevel", "LanguageVersion", "LanguageEncoding", "FormatVersion", "FileVersion",
    "PCFileName", "ColorDevice", "FileSystem", "Throughput", "LandscapeOrientation",
    "TTRasterizer", "OrderDependency", "UIConstraints", "Duplex", "Resolution", "MediaType"};

static bool listed(const char* name, const char* const* list, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (strcmp(list[i], name) == 0)
            return true;
    return false;
}

static bool reserved(const char* name)
{
    static const char* const prefixes[] = {"Default", "Tessal", "cups", "Open", "Close", "Gpd"};
    for (const char* prefix : prefixes)
        if (strncmp(name, prefix, strlen(prefix)) == 0)
            return true;
    return listed(name, g_taken, sizeof g_taken / sizeof *g_taken);
}

// A display name as a translation string holds it.
static void write_text(const char* s, FILE* f)
{
    for (; *s; s++)
        fputc(strchr(":<>/", *s) ? ' ' : *s, f);
}

void ppd_gpd_from_listing(ppd_request* r, const caps_listing* l)
{
    for (int i = 0; i < l->num_features && r->num_gpd < PPD_MAX_GPD_FEATURES; i++) {
        const caps_feature* f = &l->features[i];
        if (listed(f->name, g_standard, sizeof g_standard / sizeof *g_standard)
            || f->num_options < 2 || f->overflow)
            continue;
        ppd_gpd_feature* g = &r->gpd[r->num_gpd];
        // Symbols are keywords already; the prefix must still fit.
        if (strlen(f->name) + 3 > PPD_KEYWORD_MAX)
            continue;
        snprintf(g->keyword, sizeof g->keyword, "%s%s", reserved(f->name) ? "Gpd" : "", f->name);
        g->feature = f;
        r->num_gpd++;
    }
}

void ppd_write_gpd(const ppd_request* r, FILE* f)
{
    for (int i = 0; i < r->num_gpd; i++) {
        const ppd_gpd_feature* g = &r->gpd[i];
        const caps_feature* feat = g->feature;
        fprintf(f, "\n*OpenUI *%s/", g->keyword);
        write_text(feat->text, f);
        fprintf(f, ": PickOne\n*OrderDependency: 30 AnySetup *%s\n*Default%s: %s\n", g->keyword,
            g->keyword, feat->default_option);
        for (int k = 0; k < feat->num_options; k++) {
            fprintf(f, "*%s %s/", g->keyword, feat->options[k].name);
            write_text(feat->options[k].text, f);
            fprintf(f, ": \"\"\n");
        }
        fprintf(f, "*CloseUI: *%s\n", g->keyword);
        for (int k = 0; k < feat->num_options; k++)
            fprintf(f, "*%s %s.%s: \"%s=%s\"\n", PPD_GPD_KEYWORD, g->keyword,
                feat->options[k].name, feat->name, feat->options[k].name);
    }
}
