// tessal-gpdppd: writes the CUPS queue PPD for a GPD-only driver, printed
// natively by rastertogpd.  Exit status 1, with the reason on stderr, for a
// GPD that cannot be read or printed natively.
//
//   tessal-gpdppd --gpd /opt/.../printer.gpd [--model NAME] [-o FILE]
//   tessal-gpdppd --gpd FILE --list      the features and options, one a line
#include "gpd_file.h"
#include "gpd_ppd.h"
#include "gpd_raster.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int usage()
{
    fprintf(stderr, "usage: tessal-gpdppd --gpd FILE [--model NAME] [-o FILE] [--list]\n");
    return 2;
}

// Each feature and option with its display name, for people and scripts:
// "FEATURE Name \"Display\" default=Option" then "  OPTION Name \"Display\"".
static void list(const gpd_doc* doc)
{
    for (const gpd_feature& f : doc->features) {
        printf("FEATURE %s \"%s\" default=%s\n", f.name.c_str(), f.display.c_str(),
            f.default_option.c_str());
        for (const gpd_option& o : f.options)
            printf("  OPTION %s \"%s\"\n", o.name.c_str(), o.display.c_str());
    }
}

int main(int argc, char** argv)
{
    const char *gpd = nullptr, *model = "", *out_path = nullptr;
    bool listing = false;
    for (int i = 1; i < argc; i++) {
        bool more = i + 1 < argc;
        if (strcmp(argv[i], "--gpd") == 0 && more)
            gpd = argv[++i];
        else if (strcmp(argv[i], "--model") == 0 && more)
            model = argv[++i];
        else if (strcmp(argv[i], "-o") == 0 && more)
            out_path = argv[++i];
        else if (strcmp(argv[i], "--list") == 0)
            listing = true;
        else
            return usage();
    }
    if (!gpd)
        return usage();
    char real[PATH_MAX];
    if (!realpath(gpd, real)) {
        fprintf(stderr, "tessal-gpdppd: cannot find %s\n", gpd);
        return 1;
    }
    gpd_doc doc;
    std::string err;
    if (!gpd_load(real, &doc, &err)) {
        fprintf(stderr, "tessal-gpdppd: %s\n", err.c_str());
        return 1;
    }
    if (listing) {
        list(&doc);
        return 0;
    }
    if (!gpd_native_check(&doc, &err)) {
        fprintf(stderr, "tessal-gpdppd: cannot print natively: %s\n", err.c_str());
        return 1;
    }
    FILE* out = out_path ? fopen(out_path, "w") : stdout;
    if (!out) {
        fprintf(stderr, "tessal-gpdppd: cannot write %s\n", out_path);
        return 1;
    }
    bool ok = gpd_write_ppd(&doc, real, model, out, &err);
    if (out != stdout && fclose(out) != 0)
        ok = false;
    if (!ok) {
        if (out_path)
            remove(out_path);
        fprintf(stderr, "tessal-gpdppd: %s\n", err.empty() ? "write error" : err.c_str());
        return 1;
    }
    return 0;
}
