// GPDOPTIONS: a GPD minidriver's own choices ("Feature=Option;..."), for a
// printer on our own Unidrv core. They go into the options text of the
// device mode's private part, where its configuration DLL takes them from,
// and are read back after the driver took the device mode.
#include "strelwick.h"
#include "unidrv_dm.h"

#include <stdlib.h>
#include <string.h>

static UnidrvDmHeader* GpdPart(DEVMODEW* m)
{
    return (UnidrvDmHeader*)UnidrvDmFind(m);
}

static UnidrvDmHeader* GpdPart(DEVMODEA*)
{
    return NULL; // Wine's PostScript driver
}

// Calls fn for each "Feature=Option" item of text (between ';'), with its
// length; stops when fn returns 0.
template <class Fn> static int EachItem(const char* text, Fn fn)
{
    for (const char* p = text; *p;) {
        const char* end = strchr(p, ';');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        if (n && !fn(p, n))
            return 0;
        p += n + (end ? 1 : 0);
    }
    return 1;
}

// Whether text holds an item that starts with prefix (len bytes).
static int HasItem(const char* text, const char* prefix, size_t len, int whole)
{
    return !EachItem(text, [&](const char* p, size_t n) {
        return !((whole ? n == len : n >= len) && memcmp(p, prefix, len) == 0);
    });
}

// The text with the job's item in place of each item of the same feature,
// the job's others appended; 0 when the result does not fit.
static int MergeGpdText(const char* text, const char* job, char* out, size_t size)
{
    size_t used = 0;
    auto add = [&](const char* p, size_t n) {
        if (used + n + 2 > size)
            return 0;
        if (used)
            out[used++] = ';';
        memcpy(out + used, p, n);
        used += n;
        return 1;
    };
    int ok = EachItem(text, [&](const char* p, size_t n) {
        const char* eq = (const char*)memchr(p, '=', n);
        size_t feature = eq ? (size_t)(eq - p) + 1 : n; // with its '='
        return HasItem(job, p, feature, 0) ? 1 : add(p, n);
    });
    ok = ok && EachItem(job, add);
    out[used] = 0;
    return ok;
}

template <class DevMode> static int PutChoices(const char* printer, DevMode* mode, const char* job)
{
    UnidrvDmHeader* part = GpdPart(mode);
    if (!part) {
        dbg_log("GPDOPTIONS=%s: the driver of %s is no GPD minidriver on our core; nothing "
                "printed\n",
            ShownValue(job), printer);
        return 0;
    }
    char text[UNIDRV_DM_OPTIONS];
    if (!MergeGpdText(part->options, job, text, sizeof text)) {
        dbg_log("GPDOPTIONS=%s: too many choices for the device mode of %s; nothing printed\n",
            ShownValue(job), printer);
        return 0;
    }
    memcpy(part->options, text, strlen(text) + 1);
    return 1;
}

// Whether the driver kept every choice of the job's GPDOPTIONS.
template <class DevMode> static int KeptChoices(const char* printer, DevMode* out, const char* job)
{
    UnidrvDmHeader* part = GpdPart(out);
    return EachItem(job, [&](const char* p, size_t n) {
        if (part && HasItem(part->options, p, n, 1))
            return 1;
        dbg_log("GPDOPTIONS: the driver of %s did not select %.*s; nothing printed\n", printer,
            (int)n, p);
        return 0;
    });
}

int PutGpdChoices(const char* printer, DEVMODEW* mode, const char* job)
{
    return PutChoices(printer, mode, job);
}

int PutGpdChoices(const char* printer, DEVMODEA* mode, const char* job)
{
    return PutChoices(printer, mode, job);
}

int KeptGpdChoices(const char* printer, DEVMODEW* out, const char* job)
{
    return KeptChoices(printer, out, job);
}

int KeptGpdChoices(const char* printer, DEVMODEA* out, const char* job)
{
    return KeptChoices(printer, out, job);
}
