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
        "Usage: tessal-mkppd --package NAME --model \"WINDOWS PRINTER\"\n"
        "                    [--size NAME[=CODE[:WIDTHxHEIGHT]]]...\n"
        "                    [--resolution DPI]... [--color rgb|gray|mono]...\n"
        "                    [--manufacturer TEXT] [-o FILE]\n"
        "Page sizes carry their Windows paper code (A4=9, Letter=1, ...);\n"
        "well-known names need no code.  The first of each is the default.\n"
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

int main(int argc, char** argv)
{
    ppd_request r;
    memset(&r, 0, sizeof r);
    const char* out = nullptr;
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
        else {
            usage(stderr);
            return 2;
        }
        if (err) {
            fprintf(stderr, "tessal-mkppd: %s %s: %s\n", a, v, err);
            return 2;
        }
    }
    const char* err = ppd_finish(&r);
    if (err) {
        fprintf(stderr, "tessal-mkppd: %s\n", err);
        usage(stderr);
        return 2;
    }
    if (out)
        return write_file(&r, out);
    return ppd_write(&r, stdout) ? 0 : 1;
}
