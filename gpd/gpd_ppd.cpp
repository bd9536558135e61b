#include "gpd_ppd.h"
#include "gpd_config.h"
#include "gpd_device.h"
#include "gpd_stdnames.h"
#include "gpd_value.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

namespace {

// How one GPD feature appears in the PPD.
struct ppd_option {
    int feature;
    std::string keyword, text;
    std::vector<std::string> choices; // PPD choice per GPD option ("" = left out)
    std::vector<std::string> codes; // PostScript for each choice
};

// Text a PPD can hold between quotes and after '/'.
std::string plain(const std::string& s)
{
    std::string out;
    for (char c : s)
        out.push_back((unsigned char)c < 0x20 || c == '"' || c == ':' || c == '/' || (unsigned char)c > 0x7e ? ' ' : c);
    return out.substr(0, 80);
}

const char* standard_keyword(const std::string& feature)
{
    static const char* const map[][2] = {{"PaperSize", "PageSize"}, {"Resolution", "Resolution"},
        {"ColorMode", "ColorModel"}, {"InputBin", "InputSlot"}, {"MediaType", "MediaType"},
        {"Duplex", "Duplex"}};
    for (const auto& m : map)
        if (feature == m[0])
            return m[1];
    return nullptr;
}

// A feature's option as CUPS knows it, where CUPS gives it a meaning.
std::string choice_keyword(const std::string& feature, const std::string& option)
{
    if (feature == "PaperSize") {
        const gpd_std_paper* p = gpd_std_paper_find(option.c_str());
        if (p && p->ppd[0])
            return p->ppd;
    }
    if (feature == "Duplex") {
        if (option == "NONE")
            return "None";
        if (option == "VERTICAL")
            return "DuplexNoTumble";
        if (option == "HORIZONTAL")
            return "DuplexTumble";
    }
    return gpd_ppd_keyword(option);
}

// The device the default choices make with option i of feature chosen.
static bool option_device(const gpd_doc* doc, gpd_config* c, int feature, size_t i, gpd_device* d)
{
    c->choice[feature] = (int)i;
    std::string err;
    return gpd_device_setup(doc, c, d, &err);
}

void page_size_codes(const gpd_doc* doc, ppd_option* o, FILE* out)
{
    const gpd_feature& f = doc->features[o->feature];
    gpd_config c;
    gpd_config_defaults(doc, &c);
    for (size_t i = 0; i < f.options.size(); i++) {
        gpd_device d;
        if (!option_device(doc, &c, o->feature, i, &d)) {
            o->choices[i].clear(); // a custom size or one we cannot place
            continue;
        }
        double w = d.paper_w * 72.0 / d.master_x, h = d.paper_h * 72.0 / d.master_y;
        char code[160];
        snprintf(code, sizeof code, "<</PageSize[%.2f %.2f]/ImagingBBox null>>setpagedevice", w, h);
        o->codes[i] = code;
        const char* name = o->choices[i].c_str();
        fprintf(out, "*PaperDimension %s: \"%.2f %.2f\"\n", name, w, h);
        fprintf(out, "*ImageableArea %s: \"%.2f %.2f %.2f %.2f\"\n", name,
            d.origin_x * 72.0 / d.master_x, h - (d.origin_y + d.area_h) * 72.0 / d.master_y,
            (d.origin_x + d.area_w) * 72.0 / d.master_x, h - d.origin_y * 72.0 / d.master_y);
    }
}

void resolution_codes(const gpd_doc* doc, ppd_option* o)
{
    const gpd_feature& f = doc->features[o->feature];
    gpd_config c;
    gpd_config_defaults(doc, &c);
    for (size_t i = 0; i < f.options.size(); i++) {
        c.choice[o->feature] = (int)i;
        const gpd_entry* e = gpd_option_attr(doc, &c, "Resolution", "DPI");
        long x, y;
        if (!e || !gpd_pair(e->value, &x, &y)) {
            o->choices[i].clear();
            continue;
        }
        o->choices[i] = x == y ? std::to_string(x) + "dpi" : std::to_string(x) + "x" + std::to_string(y) + "dpi";
        o->codes[i] = "<</HWResolution[" + std::to_string(x) + " " + std::to_string(y) + "]>>setpagedevice";
    }
}

// Colour modes: CUPS renders RGB for a colour device format, grey for the
// rest; the driver halftones either.
void color_codes(const gpd_doc* doc, ppd_option* o, bool* any_color)
{
    const gpd_feature& f = doc->features[o->feature];
    gpd_config c;
    gpd_config_defaults(doc, &c);
    for (size_t i = 0; i < f.options.size(); i++) {
        gpd_device d;
        bool color = option_device(doc, &c, o->feature, i, &d) && (d.color || d.planes > 1 || d.bpp == 24 || d.bpp == 4);
        *any_color |= color;
        o->codes[i] = color ? "<</cupsColorSpace 1/cupsColorOrder 0/cupsBitsPerColor 8>>setpagedevice"
                            : "<</cupsColorSpace 18/cupsColorOrder 0/cupsBitsPerColor 8>>setpagedevice";
    }
}

void write_option(const gpd_doc* doc, const ppd_option& o, FILE* out)
{
    const gpd_feature& f = doc->features[o.feature];
    int def = gpd_find_option(&f, f.default_option.c_str());
    if (o.choices[def].empty())
        for (def = 0; def < (int)o.choices.size() && o.choices[def].empty(); def++) { }
    fprintf(out, "*OpenUI *%s/%s: PickOne\n*OrderDependency: 10 AnySetup *%s\n",
        o.keyword.c_str(), plain(o.text).c_str(), o.keyword.c_str());
    fprintf(out, "*Default%s: %s\n", o.keyword.c_str(), o.choices[def].c_str());
    for (size_t i = 0; i < o.choices.size(); i++)
        if (!o.choices[i].empty())
            fprintf(out, "*%s %s/%s: \"%s\"\n", o.keyword.c_str(), o.choices[i].c_str(),
                plain(f.options[i].display).c_str(), o.codes[i].c_str());
    fprintf(out, "*CloseUI: *%s\n", o.keyword.c_str());
    if (o.keyword == "PageSize") {
        // CUPS wants the same sizes as PageRegion.
        fprintf(out, "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n"
                     "*DefaultPageRegion: %s\n", o.choices[def].c_str());
        for (size_t i = 0; i < o.choices.size(); i++)
            if (!o.choices[i].empty())
                fprintf(out, "*PageRegion %s: \"%s\"\n", o.choices[i].c_str(), o.codes[i].c_str());
        fprintf(out, "*CloseUI: *PageRegion\n*DefaultImageableArea: %s\n*DefaultPaperDimension: %s\n",
            o.choices[def].c_str(), o.choices[def].c_str());
    }
    for (size_t i = 0; i < o.choices.size(); i++)
        if (!o.choices[i].empty())
            fprintf(out, "*tessalGpd %s.%s: \"%s=%s\"\n", o.keyword.c_str(), o.choices[i].c_str(),
                f.name.c_str(), f.options[i].name.c_str());
}

void write_constraints(const gpd_doc* doc, const std::vector<ppd_option>& opts, FILE* out)
{
    std::map<int, const ppd_option*> by_feature;
    for (const ppd_option& o : opts)
        by_feature[o.feature] = &o;
    for (const gpd_constraint& k : doc->constraints) {
        auto a = by_feature.find(k.from.feature), b = by_feature.find(k.to.feature);
        if (a == by_feature.end() || b == by_feature.end())
            continue;
        const std::string &ca = a->second->choices[k.from.option], &cb = b->second->choices[k.to.option];
        if (ca.empty() || cb.empty())
            continue;
        fprintf(out, "*UIConstraints: *%s %s *%s %s\n", a->second->keyword.c_str(), ca.c_str(),
            b->second->keyword.c_str(), cb.c_str());
        fprintf(out, "*UIConstraints: *%s %s *%s %s\n", b->second->keyword.c_str(), cb.c_str(),
            a->second->keyword.c_str(), ca.c_str());
    }
}

void write_header(const std::string& model, const char* gpd_path, bool color, FILE* out)
{
    fprintf(out,
        "*PPD-Adobe: \"4.3\"\n*%% CUPS queue for a GPD driver printed natively by rastertogpd\n"
        "*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n*PCFileName: \"TESSALGP.PPD\"\n*Manufacturer: \"Tessal\"\n"
        "*Product: \"(%s)\"\n*ModelName: \"%s\"\n*ShortNickName: \"%.31s\"\n"
        "*NickName: \"%s, native GPD driver\"\n*PSVersion: \"(3010.000) 0\"\n"
        "*LanguageLevel: \"3\"\n*ColorDevice: %s\n*DefaultColorSpace: %s\n*FileSystem: False\n"
        "*Throughput: \"1\"\n*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n"
        "*cupsVersion: 2.4\n*cupsManualCopies: True\n"
        "*cupsFilter: \"application/vnd.cups-raster 0 rastertogpd\"\n*tessalGpdFile: \"%s\"\n",
        model.c_str(), model.c_str(), model.c_str(), model.c_str(), color ? "True" : "False",
        color ? "RGB" : "Gray", gpd_path);
}

} // namespace

std::string gpd_ppd_keyword(const std::string& symbol)
{
    std::string out;
    for (char c : symbol)
        if (isalnum((unsigned char)c) || c == '.' || c == '_' || c == '-')
            out.push_back(c);
    return out.substr(0, 40);
}

bool gpd_write_ppd(const gpd_doc* doc, const char* gpd_path, const char* model, FILE* out,
    std::string* err)
{
    std::string name = model && *model ? model : doc->model.empty() ? "GPD printer" : doc->model;
    name = plain(name);
    std::vector<ppd_option> opts;
    for (size_t fi = 0; fi < doc->features.size(); fi++) {
        const gpd_feature& f = doc->features[fi];
        if (f.name == "Orientation" || f.name == "Halftone")
            continue; // CUPS turns pages itself; we halftone ourselves
        ppd_option o;
        o.feature = (int)fi;
        const char* std = standard_keyword(f.name);
        o.keyword = std ? std : gpd_ppd_keyword(f.name);
        o.text = f.display;
        for (const gpd_option& opt : f.options) {
            // Two options may come to the same keyword: the later gets its
            // own GPD name, or a number.
            auto taken = [&](const std::string& k) {
                return std::find(o.choices.begin(), o.choices.end(), k) != o.choices.end();
            };
            std::string k = choice_keyword(f.name, opt.name);
            if (taken(k))
                k = gpd_ppd_keyword(opt.name);
            std::string base = k.substr(0, 34);
            for (int n = 2; taken(k); n++)
                k = base + std::to_string(n);
            o.choices.push_back(k);
            o.codes.push_back("");
        }
        opts.push_back(o);
    }
    bool color = false;
    std::string body;
    char* buf = nullptr;
    size_t len = 0;
    FILE* mem = open_memstream(&buf, &len);
    if (!mem) {
        *err = "out of memory";
        return false;
    }
    bool paper = false;
    for (ppd_option& o : opts) {
        const std::string& fname = doc->features[o.feature].name;
        if (fname == "PaperSize")
            page_size_codes(doc, &o, mem);
        else if (fname == "Resolution")
            resolution_codes(doc, &o);
        else if (fname == "ColorMode")
            color_codes(doc, &o, &color);
        bool any = false;
        for (const std::string& c : o.choices)
            any |= !c.empty();
        paper |= fname == "PaperSize" && any;
        if (any)
            write_option(doc, o, mem);
    }
    write_constraints(doc, opts, mem);
    fclose(mem);
    body.assign(buf, len);
    free(buf);
    if (!paper) {
        *err = doc->path + ": the GPD has no paper size it can print on";
        return false;
    }
    write_header(name, gpd_path, color, out);
    fputs(body.c_str(), out);
    return !ferror(out);
}
