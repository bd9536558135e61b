// The job's options in the driver's device mode: each put where the driver
// has the field, taken by the driver through DocumentProperties and read
// back, so that a value the driver does not take is refused rather than
// printed on its default. And the document's name.
#include "strelwick.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// PAGESIZE and DPI from the job's environment. A present variable sets its
// fields even when empty; an absent one leaves the driver's values.
template <class DevMode> static void ApplyPageOptionsTo(DevMode* modeOut)
{
    const char* pageSize = getenv("PAGESIZE");
    if (pageSize) {
        modeOut->dmPaperSize = (short)atoi(pageSize);
        modeOut->dmFields |= DM_PAPERSIZE;
    }
    const char* dpi = getenv("DPI");
    if (dpi) {
        const char* x = strchr(dpi, 'x');
        modeOut->dmPrintQuality = (short)atoi(dpi);
        modeOut->dmYResolution = x ? (short)atoi(x + 1) : 0;
        modeOut->dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;
    }
}

// The job's other device-mode options: the field each sets, its range, and
// what the field is called in a message.
struct ModeKey {
    const char* key;
    DWORD field;
    long lo, hi;
    const char* what;
};
static const ModeKey kModeKeys[] = {
    {"DUPLEX", DM_DUPLEX, 1, 3, "duplex mode"},
    {"INPUTBIN", DM_DEFAULTSOURCE, 1, 32767, "input bin"},
    {"COLOR", DM_COLOR, 1, 2, "colour mode"},
    {"MEDIATYPE", DM_MEDIATYPE, 1, 32767, "media type"},
    {"COPIES", DM_COPIES, 1, 9999, "number of copies"},
    {"COLLATE", DM_COLLATE, 0, 1, "collation"},
};
enum { kModeKeyCount = sizeof(kModeKeys) / sizeof(kModeKeys[0]) };

template <class DevMode> static int HasMediaType(const DevMode* m)
{
    return m->dmSize >= offsetof(DevMode, dmMediaType) + sizeof(m->dmMediaType);
}

template <class DevMode> static long GetModeField(const DevMode* m, DWORD field)
{
    switch (field) {
    case DM_DUPLEX:
        return m->dmDuplex;
    case DM_DEFAULTSOURCE:
        return m->dmDefaultSource;
    case DM_COLOR:
        return m->dmColor;
    case DM_MEDIATYPE:
        return HasMediaType(m) ? (long)m->dmMediaType : 0;
    case DM_COPIES:
        return m->dmCopies;
    case DM_COLLATE:
        return m->dmCollate;
    }
    return 0;
}

template <class DevMode> static void SetModeField(DevMode* m, DWORD field, long v)
{
    switch (field) {
    case DM_DUPLEX:
        m->dmDuplex = (short)v;
        break;
    case DM_DEFAULTSOURCE:
        m->dmDefaultSource = (short)v;
        break;
    case DM_COLOR:
        m->dmColor = (short)v;
        break;
    case DM_MEDIATYPE:
        m->dmMediaType = (DWORD)v;
        break;
    case DM_COPIES:
        m->dmCopies = (short)v;
        break;
    case DM_COLLATE:
        m->dmCollate = (short)v;
        break;
    }
    m->dmFields |= field;
}

// A decimal number from lo to hi, and nothing else.
static int ParseNumber(const char* s, long lo, long hi, long* v)
{
    long n = 0;
    if (!*s)
        return 0;
    for (; *s; s++) {
        if (*s < '0' || *s > '9' || n > hi)
            return 0;
        n = n * 10 + (*s - '0');
    }
    *v = n;
    return n >= lo && n <= hi;
}

const char* ShownValue(const char* v)
{
    size_t n = 0;
    for (; v[n] && n <= 32; n++)
        if (v[n] < 0x20 || v[n] > 0x7E)
            return "(unprintable)";
    return n <= 32 ? v : "(too long)";
}

// The driver's name for a paper code, or a common one, or "".
static void PaperName(const char* printer, WORD code, char* out, size_t size)
{
    static const struct {
        WORD code;
        const char* name;
    } common[] = {{DMPAPER_LETTER, "Letter"}, {DMPAPER_LEGAL, "Legal"}, {DMPAPER_A3, "A3"},
        {DMPAPER_A4, "A4"}, {DMPAPER_A5, "A5"}, {DMPAPER_B5, "B5"},
        {DMPAPER_EXECUTIVE, "Executive"}, {DMPAPER_ENV_10, "Env10"}, {DMPAPER_ENV_DL, "EnvDL"}};
    out[0] = 0;
    int n = PrinterCapabilitiesA(printer, DC_PAPERS, NULL);
    WORD* codes = n > 0 && n <= 1024 ? (WORD*)calloc((size_t)n, sizeof(WORD)) : NULL;
    char* names = codes ? (char*)calloc((size_t)n, 64) : NULL;
    if (names && PrinterCapabilitiesA(printer, DC_PAPERS, codes) == n
        && PrinterCapabilitiesA(printer, DC_PAPERNAMES, names) == n)
        for (int i = 0; i < n && !out[0]; i++)
            if (codes[i] == code)
                snprintf(out, size, "%.63s", names + (size_t)i * 64);
    free(codes);
    free(names);
    for (size_t i = 0; !out[0] && i < sizeof(common) / sizeof(common[0]); i++)
        if (common[i].code == code)
            snprintf(out, size, "%s", common[i].name);
}

// Whether the driver lists `code` among its bins or media types; a driver
// that gives no list is taken at its word when the value sticks.
static int DriverLists(const char* printer, DWORD field, long code)
{
    WORD cap = field == DM_DEFAULTSOURCE ? DC_BINS : DC_MEDIATYPES;
    size_t size = field == DM_DEFAULTSOURCE ? sizeof(WORD) : sizeof(DWORD);
    int n = PrinterCapabilitiesA(printer, cap, NULL);
    BYTE* codes = n > 0 && n <= 1024 ? (BYTE*)calloc((size_t)n, size) : NULL;
    if (!codes || PrinterCapabilitiesA(printer, cap, codes) != n) {
        free(codes);
        return 1;
    }
    int found = 0;
    for (int i = 0; i < n && !found; i++)
        found = (size == sizeof(WORD) ? ((WORD*)codes)[i] : ((DWORD*)codes)[i]) == (DWORD)code;
    free(codes);
    return found;
}

static void RefusePaper(const char* printer, const char* value, const char* why)
{
    char name[72];
    PaperName(printer, (WORD)atoi(value), name, sizeof(name));
    dbg_log("PAGESIZE=%s%s%s%s: the driver of %s %s; nothing printed\n", ShownValue(value),
        name[0] ? " (" : "", name, name[0] ? ")" : "", printer, why);
}

static LONG MergeDevMode(HANDLE h, LPSTR name, DEVMODEA* out, DEVMODEA* in, LONG size)
{
    memset(out, 0, (size_t)size);
    out->dmSize = (WORD)size;
    return DocumentPropertiesA(NULL, h, name, out, in, DM_IN_BUFFER | DM_OUT_BUFFER);
}

LONG MergeDevModeW(HANDLE h, LPWSTR name, DEVMODEW* out, DEVMODEW* in, LONG size)
{
    // Wine hands the driver the output buffer's dmSize as its size: make it
    // the whole buffer, private part included.
    memset(out, 0, (size_t)size);
    out->dmSize = (WORD)size;
    return DocumentPropertiesW(NULL, h, name, out, in, DM_IN_BUFFER | DM_OUT_BUFFER);
}

static LONG MergeDevMode(HANDLE h, LPWSTR name, DEVMODEW* out, DEVMODEW* in, LONG size)
{
    return MergeDevModeW(h, name, out, in, size);
}

// What the job asks of the device mode beyond PAGESIZE and DPI.
struct ModeRequest {
    long want[kModeKeyCount];
    int asked[kModeKeyCount];
    int any;
};

// Puts each option the job sets into `mode` where the driver (`has`, its
// dmFields) has the field. Returns 0 after one line when it cannot.
template <class DevMode>
static int PutModeKeys(const char* printer, DWORD has, DevMode* mode, ModeRequest* req)
{
    memset(req, 0, sizeof(*req));
    for (int i = 0; i < kModeKeyCount; i++) {
        const ModeKey& k = kModeKeys[i];
        const char* v = getenv(k.key);
        if (!v)
            continue;
        if (!ParseNumber(v, k.lo, k.hi, &req->want[i])) {
            dbg_log("%s=%s: not a valid %s; nothing printed\n", k.key, ShownValue(v), k.what);
            return 0;
        }
        if (!(has & k.field) || (k.field == DM_MEDIATYPE && !HasMediaType(mode))) {
            if (k.field == DM_COLLATE) {
                dbg_log("%s=%s: the driver of %s has no %s; copies come as it makes them\n", k.key,
                    v, printer, k.what);
                continue;
            }
            dbg_log("%s=%s: the driver of %s has no %s setting; nothing printed\n", k.key, v,
                printer, k.what);
            return 0;
        }
        // Wine's PostScript driver keeps any bin code it is given.
        if ((k.field == DM_DEFAULTSOURCE || k.field == DM_MEDIATYPE)
            && !DriverLists(printer, k.field, req->want[i])) {
            dbg_log("%s=%s: the driver of %s does not offer this %s; nothing printed\n", k.key, v,
                printer, k.what);
            return 0;
        }
        SetModeField(mode, k.field, req->want[i]);
        req->asked[i] = req->any = 1;
    }
    return 1;
}

// Whether the device mode the driver made of the job's (`out`) kept every
// option asked for. Returns 0 after one line when one did not stick.
template <class DevMode>
static int KeptModeKeys(const char* printer, const char* pageSize, const DevMode* asked,
    const DevMode* out, const ModeRequest* req)
{
    if (pageSize && out->dmPaperSize != asked->dmPaperSize) {
        RefusePaper(printer, pageSize, "did not select this paper");
        return 0;
    }
    for (int i = 0; i < kModeKeyCount; i++) {
        const ModeKey& k = kModeKeys[i];
        long got = GetModeField(out, k.field);
        if (!req->asked[i] || got == req->want[i])
            continue;
        if (k.field == DM_COLLATE) {
            dbg_log(
                "COLLATE=%ld: the driver of %s keeps collation %ld\n", req->want[i], printer, got);
            continue;
        }
        dbg_log("%s=%ld: the driver of %s did not select this %s (it keeps %ld); nothing "
                "printed\n",
            k.key, req->want[i], printer, k.what, got);
        return 0;
    }
    return 1;
}

// Puts the job's options into the driver's device mode `mode` (`size` bytes),
// each only where the driver has the field; then, when `merge`, lets the
// driver take them (DocumentProperties) and checks that each one stuck.
// Returns 0 after one line naming the option the driver does not take.
template <class DevMode, class Name>
static int ApplyJobOptionsTo(
    HANDLE h, const char* printer, Name name, DevMode* mode, LONG size, int merge)
{
    const DWORD has = mode->dmFields;
    ModeRequest req;
    if (!PutModeKeys(printer, has, mode, &req))
        return 0;
    const char* gpd = getenv("GPDOPTIONS");
    if (gpd && !*gpd)
        gpd = NULL;
    if (gpd && !PutGpdChoices(printer, mode, gpd))
        return 0;
    const char* pageSize = getenv("PAGESIZE");
    if (pageSize && merge && !(has & DM_PAPERSIZE)) {
        RefusePaper(printer, pageSize, "has no paper setting");
        return 0;
    }
    ApplyPageOptionsTo(mode);
    if (pageSize) // a paper length or width would override the paper code
        mode->dmFields &= ~(DWORD)(DM_PAPERLENGTH | DM_PAPERWIDTH);
    if (!merge || (!pageSize && !req.any && !gpd))
        return 1;
    DevMode* out = (DevMode*)calloc(1, (size_t)size);
    if (!out) {
        dbg_log("out of memory for the device mode of %s (%d bytes)\n", printer, (int)size);
        return 0;
    }
    int ok = MergeDevMode(h, name, out, mode, size) >= 0;
    if (!ok)
        dbg_log("the driver of %s refused the job's device mode: error %d; nothing printed\n",
            printer, LastError());
    ok = ok && KeptModeKeys(printer, pageSize, mode, out, &req)
        && (!gpd || KeptGpdChoices(printer, out, gpd));
    if (ok)
        memcpy(mode, out, (size_t)size);
    free(out);
    return ok;
}

int ApplyJobOptions(HANDLE h, LPSTR name, DEVMODEA* mode, LONG size, int merge)
{
    return ApplyJobOptionsTo(h, name, name, mode, size, merge);
}

int ApplyJobOptionsW(
    HANDLE h, const char* printer, LPWSTR name, DEVMODEW* mode, LONG size, int merge)
{
    return ApplyJobOptionsTo(h, printer, name, mode, size, merge);
}

void JobDocumentName(WCHAR* out, int chars)
{
    // Read wide: getenv gives the ANSI code page's version, which loses
    // what it cannot hold. Wine decodes the environment in the Unix locale's
    // character set, UTF-8 under the launcher (wine-env.sh).
    WCHAR name[1024];
    DWORD n = GetEnvironmentVariableW(L"DOCNAME", name, 1024);
    if (n >= 1024) {
        dbg_log("DOCNAME is too long; the document keeps its default name\n");
        n = 0;
    }
    if (!n) {
        lstrcpynW(out, L"My Document", chars);
        return;
    }
    if (n >= (DWORD)chars) {
        n = (DWORD)chars - 1;
        if (name[n - 1] >= 0xD800 && name[n - 1] <= 0xDBFF)
            n--; // not half a character
    }
    for (DWORD i = 0; i < n; i++)
        out[i] = name[i] < 0x20 || name[i] == 0x7F ? L'?' : name[i];
    out[n] = 0;
}
