// tessal-mkppd: writes the CUPS queue PPD for a Windows driver package.

#include "ppd_gen.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void usage(FILE* f)
{
    fprintf(f,
        "Usage: tessal-mkppd --package NAME --listing FILE [--model \"WINDOWS PRINTER\"]\n"
        "                    [--manufacturer TEXT] [-o FILE]\n"
        "       tessal-mkppd --package NAME --model \"WINDOWS PRINTER\"\n"
        "                    [--size NAME[=CODE[:WIDTHxHEIGHT]]]...\n"
        "                    [--resolution DPI]... [--color rgb|gray|mono]...\n"
        "                    [--manufacturer TEXT] [-o FILE]\n"
        "A listing (strelwick.exe caps, \"-\" for standard input) gives the\n"
        "driver's papers with their printable areas, resolutions, colour,\n"
        "duplex, input bins, media types and copies.  Without one, page sizes\n"
        "carry their Windows paper code (A4=9, Letter=1, ...); well-known names\n"
        "need no code.  The first of each is the default.\n"
        "Defaults: A4 and Letter, 300 dpi, rgb gray mono.\n");
}

// Writes to a temporary file beside path and renames it into place, so a
// failed run leaves no half-written PPD.
static int write_file(const ppd_request* r, const char* path)
{
    char tmp[4096];
    if (snprintf(tmp, sizeof tmp, "%s.XXXXXX", path) >= (int)sizeof tmp) {
        fprintf(stderr, "tessal-mkppd: output path too long\n");
        return 1;
    }
    int fd = mkstemp(tmp);
    FILE* f = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!f) {
        fprintf(stderr, "tessal-mkppd: cannot create %s: %s\n", tmp, strerror(errno));
        if (fd >= 0)
            close(fd);
        return 1;
    }
    bool ok = ppd_write(r, f);
    ok = fchmod(fd, 0644) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(tmp, path) != 0) {
        fprintf(stderr, "tessal-mkppd: cannot write %s: %s\n", path, strerror(errno));
        unlink(tmp);
        return 1;
    }
    return 0;
}

// Fills the request from the listing in path ("-": standard input).
static const char* read_listing(ppd_request* r, const char* path, char* err, size_t errlen)
{
    static caps_listing listing;
    FILE* f = strcmp(path, "-") == 0 ? stdin : fopen(path, "r");
    if (!f) {
        snprintf(err, errlen, "cannot read %s: %s", path, strerror(errno));
        return err;
    }
    char why[160];
    const char* bad = caps_read(f, &listing, why, sizeof why);
    if (f != stdin)
        fclose(f);
    if (bad) {
        snprintf(err, errlen, "%s: %s", path, bad);
        return err;
    }
    if (r->num_sizes || r->num_resolutions || r->num_color_modes)
        return "--listing gives the sizes, resolutions and colour modes; leave those out";
    return ppd_from_listing(r, &listing);
}

int main(int argc, char** argv)
{
    static ppd_request r;
    const char* out = nullptr;
    const char* listing = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            usage(stderr);
            return 2;
        }
        const char* v = argv[++i];
        const char* err = nullptr;
        if (strcmp(a, "--package") == 0)
            err = ppd_set_package(&r, v);
        else if (strcmp(a, "--model") == 0)
            err = ppd_set_model(&r, v);
        else if (strcmp(a, "--size") == 0)
            err = ppd_add_size(&r, v);
        else if (strcmp(a, "--resolution") == 0)
            err = ppd_add_resolution(&r, v);
        else if (strcmp(a, "--color") == 0)
            err = ppd_add_color_mode(&r, v);
        else if (strcmp(a, "--manufacturer") == 0)
            err = ppd_set_manufacturer(&r, v);
        else if (strcmp(a, "-o") == 0)
            out = v;
        else if (strcmp(a, "--listing") == 0 && !listing)
            listing = v;
        else {
            usage(stderr);
            return 2;
        }
        if (err) {
            fprintf(stderr, "tessal-mkppd: %s %s: %s\n", a, v, err);
            return 2;
        }
    }
    char why[300];
    const char* err = listing ? read_listing(&r, listing, why, sizeof why) : nullptr;
    if (err) {
        fprintf(stderr, "tessal-mkppd: %s\n", err);
        return 2;
    }
    err = ppd_finish(&r);
    if (err) {
        fprintf(stderr, "tessal-mkppd: %s\n", err);
        usage(stderr);
        return 2;
    }
    if (out)
        return write_file(&r, out);
    return ppd_write(&r, stdout) ? 0 : 1;
}
