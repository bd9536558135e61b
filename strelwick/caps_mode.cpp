// caps mode: what a Windows printer's driver can do, as KEY=VALUE lines on
// stdout, from the driver's own answers: its default device mode, its
// DeviceCapabilities lists, and for every paper and resolution the page a
// device made with them has. For Wine's PostScript driver the page comes
// from a printer DC; for a printer whose own rendering DLL the driver host
// runs, from the GDIINFO its DrvEnablePDEV fills.
//
// The listing is built in memory and written only when it is complete, so a
// failure leaves stdout empty.
#include "strelwick.h"

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "driver_host.h"

// No real driver lists more; a larger count is not trusted.
static const int kMaxItems = 1024;
static const int kPaperNameChars = 64, kBinNameChars = 24, kMediaNameChars = 64;
static const size_t kMaxNameBytes = 64;

struct Listing {
    char* text;
    size_t len, cap;
    int broken; // out of memory: the listing is unusable
};

__attribute__((format(printf, 2, 3))) static void Add(Listing* l, const char* fmt, ...)
{
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof(line), fmt, ap);
    va_end(ap);
    if (n < 0 || (size_t)n >= sizeof(line) || l->broken) {
        l->broken = 1;
        return;
    }
    if (l->len + (size_t)n + 1 > l->cap) {
        size_t cap = l->cap ? l->cap * 2 : 4096;
        char* t = (char*)realloc(l->text, cap);
        if (!t) {
            l->broken = 1;
            return;
        }
        l->text = t;
        l->cap = cap;
    }
    memcpy(l->text + l->len, line, (size_t)n + 1);
    l->len += (size_t)n;
}

// A driver's name as the listing carries it: printable ASCII without '"',
// ',' and '\', anything else '?' (a surrogate pair is one character), at
// most kMaxNameBytes. `chars` bounds the driver's fixed-size field.
static void SafeName(const WCHAR* w, int chars, size_t maxBytes, char* out)
{
    size_t n = 0;
    for (int i = 0; i < chars && w[i] && n < maxBytes; i++) {
        WCHAR c = w[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < chars && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF)
            i++;
        int plain = c >= 0x20 && c < 0x7F && c != '"' && c != ',' && c != '\\';
        out[n++] = plain ? (char)c : '?';
    }
    out[n] = 0;
}

// Everything the listing asks the printer and its driver.
struct CapsTarget {
    const char* printer;
    WCHAR name[256];
    HANDLE hPrinter;
    DEVMODEW* defaults; // the driver's default device mode
    LONG modeSize;
    // The driver host's rendering DLL; mod is NULL for Wine's PostScript driver.
    LoadedDriver dll;
    HostDevice device;
    PFN_DrvEnablePDEV enablePdev;
    PFN_DrvDisablePDEV disablePdev;
    PFN_DrvDisableDriver disableDriver;
};

// One DeviceCapabilities list: its count, and the items in a fresh block of
// `itemSize` bytes each (free() it). Returns 0 items when the driver has none.
static int CapsList(CapsTarget* t, WORD cap, size_t itemSize, void** items)
{
    *items = NULL;
    int n = PrinterCapabilitiesW(t->printer, cap, NULL);
    if (n <= 0)
        return 0;
    if (n > kMaxItems) {
        dbg_log("caps: %s lists %d items for capability %u; ignoring them\n", t->printer, n,
            (unsigned)cap);
        return 0;
    }
    *items = calloc((size_t)n, itemSize);
    if (!*items)
        return 0;
    int got = PrinterCapabilitiesW(t->printer, cap, *items);
    if (got <= 0) {
        free(*items);
        *items = NULL;
        return 0;
    }
    return got < n ? got : n;
}

// A yes/no or count capability; 0 when the driver does not answer.
static int CapsValue(CapsTarget* t, WORD cap)
{
    int v = PrinterCapabilitiesW(t->printer, cap, NULL);
    return v > 0 ? v : 0;
}

// The page a device made with `mode` has, in pixels: physical size, offset of
// the printable area, printable size, and the resolution it really has.
struct PageBox {
    LONG physW, physH, offX, offY, horz, vert, dpiX, dpiY;
};

static int MeasureGdiPage(CapsTarget* t, const DEVMODEW* mode, PageBox* b)
{
    HDC dc = CreateDCW(NULL, t->name, NULL, mode);
    if (!dc) {
        dbg_log("caps: CreateDC(%s) failed: %d\n", t->printer, LastError());
        return 0;
    }
    b->physW = GetDeviceCaps(dc, PHYSICALWIDTH);
    b->physH = GetDeviceCaps(dc, PHYSICALHEIGHT);
    b->offX = GetDeviceCaps(dc, PHYSICALOFFSETX);
    b->offY = GetDeviceCaps(dc, PHYSICALOFFSETY);
    b->horz = GetDeviceCaps(dc, HORZRES);
    b->vert = GetDeviceCaps(dc, VERTRES);
    b->dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    b->dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    DeleteDC(dc);
    return 1;
}

static int MeasureHostPage(CapsTarget* t, DEVMODEW* mode, PageBox* b)
{
    GDIINFO gdi;
    DEVINFO devinfo;
    HSURF patterns[HS_DDI_MAX];
    memset(&gdi, 0, sizeof(gdi));
    memset(&devinfo, 0, sizeof(devinfo));
    memset(patterns, 0, sizeof(patterns));
    DHPDEV pdev = t->enablePdev(mode, NULL, HS_DDI_MAX, patterns, sizeof(gdi), &gdi,
        sizeof(devinfo), &devinfo, (HDEV)&t->device, t->name, t->hPrinter);
    if (!pdev) {
        dbg_log("caps: DrvEnablePDEV failed for %s\n", t->printer);
        return 0;
    }
    t->disablePdev(pdev);
    b->physW = gdi.szlPhysSize.cx;
    b->physH = gdi.szlPhysSize.cy;
    b->offX = gdi.ptlPhysOffset.x;
    b->offY = gdi.ptlPhysOffset.y;
    b->horz = (LONG)gdi.ulHorzRes;
    b->vert = (LONG)gdi.ulVertRes;
    b->dpiX = (LONG)gdi.ulLogPixelsX;
    b->dpiY = (LONG)gdi.ulLogPixelsY;
    return 1;
}

// The PAGE line of one paper at one resolution, when the driver selects both.
// Returns 0 when it does not (no line), -1 when the device cannot be made.
static int AddPage(
    CapsTarget* t, Listing* l, WORD paper, LONG x, LONG y, DEVMODEW* in, DEVMODEW* out)
{
    memcpy(in, t->defaults, (size_t)t->modeSize);
    in->dmPaperSize = (short)paper;
    in->dmPrintQuality = (short)x;
    in->dmYResolution = (short)y;
    in->dmOrientation = DMORIENT_PORTRAIT;
    // A paper length or width would override the paper code.
    in->dmFields &= ~(DWORD)(DM_PAPERLENGTH | DM_PAPERWIDTH);
    in->dmFields |= DM_PAPERSIZE | DM_PRINTQUALITY | DM_YRESOLUTION;
    if (MergeDevModeW(t->hPrinter, t->name, out, in, t->modeSize) < 0) {
        dbg_log("caps: the driver of %s refuses paper %u at %ldx%ld dpi: error %d\n", t->printer,
            paper, x, y, LastError());
        return 0;
    }
    if (!(out->dmFields & DM_PAPERSIZE) || (WORD)out->dmPaperSize != paper) {
        dbg_log("caps: %s does not select paper %u at %ldx%ld dpi\n", t->printer, paper, x, y);
        return 0;
    }
    PageBox b;
    int ok = t->dll.mod ? MeasureHostPage(t, out, &b) : MeasureGdiPage(t, out, &b);
    if (!ok)
        return -1;
    if (b.dpiX != x || b.dpiY != y) {
        dbg_log("caps: %s makes paper %u at %ldx%ld dpi when asked for %ldx%ld\n", t->printer,
            paper, b.dpiX, b.dpiY, x, y);
        return 0;
    }
    Add(l, "PAGE=%u,%ldx%ld,%ld,%ld,%ld,%ld,%ld,%ld\n", paper, x, y, b.physW, b.physH, b.offX,
        b.offY, b.horz, b.vert);
    return 1;
}

// PAPER, RESOLUTION and PAGE lines. Returns 0 when no page could be measured.
static int AddPapers(CapsTarget* t, Listing* l, LONG defX, LONG defY)
{
    WORD* codes = NULL;
    POINT* sizes = NULL;
    WCHAR* names = NULL;
    LONG* res = NULL;
    int n = CapsList(t, DC_PAPERS, sizeof(WORD), (void**)&codes);
    int nSizes = CapsList(t, DC_PAPERSIZE, sizeof(POINT), (void**)&sizes);
    int nNames = CapsList(t, DC_PAPERNAMES, kPaperNameChars * sizeof(WCHAR), (void**)&names);
    for (int i = 0; i < n; i++) {
        char name[kMaxNameBytes + 1] = "";
        if (i < nNames)
            SafeName(names + (size_t)i * kPaperNameChars, kPaperNameChars, kMaxNameBytes, name);
        Add(l, "PAPER=%u,%ld,%ld,%s\n", codes[i], i < nSizes ? sizes[i].x : 0L,
            i < nSizes ? sizes[i].y : 0L, name);
    }
    int nRes = CapsList(t, DC_ENUMRESOLUTIONS, 2 * sizeof(LONG), (void**)&res);
    LONG defaults[2] = {defX, defY};
    const LONG* list = nRes ? res : defaults;
    int count = nRes ? nRes : 1;
    for (int r = 0; r < count; r++)
        Add(l, "RESOLUTION=%ldx%ld\n", list[2 * r], list[2 * r + 1]);
    int pages = 0, failed = 0;
    DEVMODEW* in = (DEVMODEW*)calloc(1, (size_t)t->modeSize);
    DEVMODEW* out = (DEVMODEW*)calloc(1, (size_t)t->modeSize);
    for (int i = 0; in && out && i < n && !failed; i++)
        for (int r = 0; r < count && !failed; r++) {
            int got = AddPage(t, l, codes[i], list[2 * r], list[2 * r + 1], in, out);
            failed = got < 0;
            pages += got > 0;
        }
    free(in);
    free(out);
    free(codes);
    free(sizes);
    free(names);
    free(res);
    if (!pages)
        dbg_log("caps: no page of %s could be measured\n", t->printer);
    return pages > 0 && !failed;
}

// BIN and MEDIATYPE lines: codes and their names.
static void AddNamedCodes(CapsTarget* t, Listing* l, const char* key, WORD codesCap,
    size_t codeSize, WORD namesCap, int nameChars)
{
    void* codes = NULL;
    WCHAR* names = NULL;
    int n = CapsList(t, codesCap, codeSize, &codes);
    int nNames = n ? CapsList(t, namesCap, (size_t)nameChars * sizeof(WCHAR), (void**)&names) : 0;
    for (int i = 0; i < n; i++) {
        char name[kMaxNameBytes + 1] = "";
        if (i < nNames)
            SafeName(names + (size_t)i * nameChars, nameChars, kMaxNameBytes, name);
        unsigned long code
            = codeSize == sizeof(WORD) ? ((WORD*)codes)[i] : (unsigned long)((DWORD*)codes)[i];
        Add(l, "%s=%lu,%s\n", key, code, name);
    }
    free(codes);
    free(names);
}

// FEATURE and OPTION lines: every feature of a GPD minidriver on our own
// core, its options and the printer's default, each with its display name.
static void AddGpdFeatures(CapsTarget* t, Listing* l)
{
    WCHAR* text = PrinterGpdOptions(t->printer);
    for (WCHAR* line = text; line && *line;) {
        WCHAR* end = wcschr(line, L'\n');
        if (!end)
            break;
        *end = 0;
        WCHAR* field[4] = {line, NULL, NULL, NULL};
        for (int i = 1; i < 4 && field[i - 1]; i++) {
            WCHAR* tab = wcschr(field[i - 1], L'\t');
            if (tab)
                *tab = 0;
            field[i] = tab ? tab + 1 : NULL;
        }
        line = end + 1;
        if (!field[3] || (wcscmp(field[0], L"FEATURE") && wcscmp(field[0], L"OPTION")))
            continue;
        char a[kMaxNameBytes + 1], b[kMaxNameBytes + 1], shown[kMaxNameBytes + 1];
        SafeName(field[1], 256, kMaxNameBytes, a);
        SafeName(field[2], 256, kMaxNameBytes, b);
        SafeName(field[3], 256, kMaxNameBytes, shown);
        if (!shown[0]) // a listing's names are never empty: the symbol stands in
            memcpy(shown, field[0][0] == L'F' ? a : b, kMaxNameBytes + 1);
        Add(l, "%s=%s,%s,%s\n", field[0][0] == L'F' ? "FEATURE" : "OPTION", a, b, shown);
    }
    free(text);
}

// The driver's default device mode, through its configuration side.
static int FetchDefaults(CapsTarget* t)
{
    t->modeSize = DocumentPropertiesW(NULL, t->hPrinter, t->name, NULL, NULL, 0);
    if (t->modeSize < (LONG)sizeof(DEVMODEW))
        t->modeSize = t->modeSize > 0 ? (LONG)sizeof(DEVMODEW) : 0;
    t->defaults = t->modeSize ? (DEVMODEW*)calloc(1, (size_t)t->modeSize) : NULL;
    if (!t->defaults
        || DocumentPropertiesW(NULL, t->hPrinter, t->name, t->defaults, NULL, DM_OUT_BUFFER) < 0) {
        dbg_log("caps: no device mode from the driver of %s: error %d\n", t->printer, LastError());
        return 0;
    }
    // A driver may report its public part as smaller than ours: keep what it has.
    LONG size = (LONG)t->defaults->dmSize + t->defaults->dmDriverExtra;
    if (t->defaults->dmSize < offsetof(DEVMODEW, dmMediaType) + sizeof(DWORD)
        || size > t->modeSize) {
        dbg_log("caps: the device mode of %s is malformed (%u + %u bytes)\n", t->printer,
            (unsigned)t->defaults->dmSize, (unsigned)t->defaults->dmDriverExtra);
        return 0;
    }
    return 1;
}

// Prepares the driver host's DLL for DrvEnablePDEV. The same checks as a
// job's: a refused driver is refused here too.
static int LoadHostDriver(CapsTarget* t, const DRIVER_INFO_3A* info)
{
    const char* config = info->pConfigFile && info->pConfigFile[0] ? info->pConfigFile : NULL;
    if (!CheckRenderingDll(info->pDriverPath))
        return 0;
    // DocumentProperties calls this export unchecked: Wine would crash.
    if (!config || !DllExports(config, "DrvDocumentPropertySheets")) {
        dbg_log("driver: refusing printer %s: its configuration DLL %s does not export "
                "DrvDocumentPropertySheets\n",
            t->printer, config ? config : "(none)");
        return 0;
    }
    MultiByteToWideChar(CP_ACP, 0, info->pDriverPath, -1, t->device.driverPath, MAX_PATH);
    MultiByteToWideChar(
        CP_ACP, 0, info->pDataFile ? info->pDataFile : "", -1, t->device.dataFile, MAX_PATH);
    DRVENABLEDATA ded;
    if (!EnableRenderingDll(info->pDriverPath, &t->dll, &ded))
        return 0;
    t->enablePdev = (PFN_DrvEnablePDEV)(void*)FindDriverCall(&ded, INDEX_DrvEnablePDEV);
    t->disablePdev = (PFN_DrvDisablePDEV)(void*)FindDriverCall(&ded, INDEX_DrvDisablePDEV);
    t->disableDriver = (PFN_DrvDisableDriver)(void*)FindDriverCall(&ded, INDEX_DrvDisableDriver);
    if (!t->enablePdev || !t->disablePdev) {
        dbg_log("driver: %s lacks DrvEnablePDEV or DrvDisablePDEV\n", info->pDriverPath);
        return 0;
    }
    return 1;
}

static int BuildListing(CapsTarget* t, const char* driverFile, Listing* l)
{
    if (!FetchDefaults(t))
        return 0;
    const DEVMODEW* d = t->defaults;
    LONG x = d->dmPrintQuality, y = d->dmYResolution > 0 ? d->dmYResolution : x;
    if (x <= 0) { // a DMRES_* quality level: take the driver's first resolution
        LONG* res = NULL;
        if (CapsList(t, DC_ENUMRESOLUTIONS, 2 * sizeof(LONG), (void**)&res)) {
            x = res[0];
            y = res[1];
        }
        free(res);
    }
    char printer[256];
    WCHAR wide[256];
    MultiByteToWideChar(CP_ACP, 0, t->printer, -1, wide, 256);
    SafeName(wide, 256, 200, printer);
    Add(l, "PRINTER=%s\n", printer);
    MultiByteToWideChar(CP_ACP, 0, driverFile, -1, wide, 256);
    SafeName(wide, 256, 200, printer);
    Add(l, "DRIVER=%s\n", printer);
    Add(l, "FIELDS=0x%08lx\n", (unsigned long)d->dmFields);
    Add(l, "DEFAULT_PAPER=%u\n", (unsigned)(WORD)d->dmPaperSize);
    Add(l, "DEFAULT_RESOLUTION=%ldx%ld\n", x, y);
    if (!AddPapers(t, l, x, y))
        return 0;
    AddNamedCodes(t, l, "BIN", DC_BINS, sizeof(WORD), DC_BINNAMES, kBinNameChars);
    AddNamedCodes(
        t, l, "MEDIATYPE", DC_MEDIATYPES, sizeof(DWORD), DC_MEDIATYPENAMES, kMediaNameChars);
    Add(l, "COLOR=%d\n", CapsValue(t, DC_COLORDEVICE) ? 1 : 0);
    Add(l, "DUPLEX=%d\n", CapsValue(t, DC_DUPLEX) ? 1 : 0);
    // Wine's PostScript driver answers 9999, but writes the copies only into
    // a %cupsJobTicket comment, which a printer ignores: it makes none.
    int copies = t->dll.mod ? CapsValue(t, DC_COPIES) : 1;
    Add(l, "COPIES=%d\n", copies > 1 ? copies : 1);
    Add(l, "COLLATE=%d\n", CapsValue(t, DC_COLLATE) ? 1 : 0);
    AddGpdFeatures(t, l);
    if (l->broken)
        dbg_log("caps: out of memory for the listing of %s\n", t->printer);
    return !l->broken;
}

int ListCapabilities(const char* printer)
{
    if (!printer) {
        dbg_log("no printer name: MODEL is not set and none was given\n");
        return 0;
    }
    CapsTarget t;
    memset(&t, 0, sizeof(t));
    t.printer = printer;
    MultiByteToWideChar(CP_ACP, 0, printer, -1, t.name, 256);
    if (!OpenPrinterA((LPSTR)printer, &t.hPrinter, NULL)) {
        dbg_log("failed to open printer:%s,error=%d\n", printer, LastError());
        return 0;
    }
    DRIVER_INFO_3A* info = NULL;
    int ok = 1;
    const char* driverFile = "wineps.drv";
    if (FindOwnDriver(printer, &info)) {
        driverFile = info->pDriverPath;
        for (const char* p = info->pDriverPath; *p; p++)
            if (*p == '\\' || *p == '/')
                driverFile = p + 1;
        ok = LoadHostDriver(&t, info);
    }
    Listing l = {NULL, 0, 0, 0};
    ok = ok && BuildListing(&t, driverFile, &l);
    if (ok) {
        _setmode(_fileno(stdout), _O_BINARY);
        ok = fwrite(l.text, 1, l.len, stdout) == l.len && fflush(stdout) == 0;
        if (!ok)
            dbg_log("caps: cannot write the listing\n");
    }
    if (t.dll.mod && t.disableDriver)
        t.disableDriver();
    UnloadRenderingDll(&t.dll);
    ClosePrinter(t.hPrinter);
    free(info);
    free(t.defaults);
    free(l.text);
    return ok;
}
