// The device mode of a GPD minidriver: public fields from the GPD's
// options, our private part with the options text of every feature, then
// one part per plug-in.  DocumentProperties reaches it through
// DrvDocumentPropertySheets (no property sheets: a DOCUMENTPROPERTYHEADER),
// document conversions through DrvConvertDevMode.
#include "ui.h"
#include "unidrv_dm.h"
#include "unidrv_map.h"
#include "winddiui_more.h"

#include <winspool.h>

#include <stdlib.h>
#include <string.h>

enum { kDriverVersion = 0x0100 };

DWORD UiDevModeSize(const UiDriver* d)
{
    DWORD size = sizeof(DEVMODEW) + sizeof(UnidrvDmHeader);
    for (const UiPlugin& p : d->plugins)
        size += p.size;
    return size;
}

static void PublicDefaults(const UiDriver* d, const WCHAR* name, DEVMODEW* dm)
{
    memset(dm, 0, sizeof *dm);
    if (name)
        lstrcpynW(dm->dmDeviceName, name, CCHDEVICENAME);
    dm->dmSpecVersion = DM_SPECVERSION;
    dm->dmDriverVersion = kDriverVersion;
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmFields = DM_COPIES | (d->maxCopies > 1 ? DM_COLLATE : 0);
    dm->dmCopies = 1;
    dm->dmCollate = DMCOLLATE_FALSE;
}

// Copies and collation, which no GPD feature holds.
static void TakeCopies(const UiDriver* d, const DEVMODEW* in, DEVMODEW* dm)
{
    if (!in || in->dmSize < offsetof(DEVMODEW, dmCollate) + sizeof(short))
        return;
    if ((in->dmFields & DM_COPIES) && in->dmCopies >= 1 && in->dmCopies <= d->maxCopies)
        dm->dmCopies = in->dmCopies;
    if ((dm->dmFields & DM_COLLATE) && (in->dmFields & DM_COLLATE)
        && (in->dmCollate == DMCOLLATE_FALSE || in->dmCollate == DMCOLLATE_TRUE))
        dm->dmCollate = in->dmCollate;
}

bool UiBuildDevMode(UiDriver* d, HANDLE printer, const WCHAR* name, const DEVMODEW* in,
    DEVMODEW* out)
{
    DWORD room = UiDevModeSize(d);
    memset(out, 0, room);
    PublicDefaults(d, name, out);
    if (in && (in->dmSize < offsetof(DEVMODEW, dmFields) + sizeof(DWORD) || in->dmSize > 4096))
        in = NULL; // no device mode we can read
    gpd_config c;
    std::string err;
    if (!UnidrvConfigFromDm(&d->doc, in, &c, &err)) {
        UiLog("%s", err.c_str());
        return false;
    }
    UnidrvDmFromConfig(&d->doc, &c, out);
    TakeCopies(d, in, out);
    std::string text = gpd_config_text(&d->doc, &c);
    DWORD n = (DWORD)d->plugins.size();
    std::vector<std::vector<BYTE>> parts(n);
    std::vector<const void*> ptrs(n);
    std::vector<DWORD> sizes(n);
    bool ours = in && UnidrvDmFind(in);
    for (DWORD i = 0; i < n; i++) {
        DWORD inSize = 0;
        const void* old = ours ? UnidrvDmPlugin(in, i, &inSize) : NULL;
        parts[i].resize(d->plugins[i].size);
        sizes[i] = UiPluginPart(d, i, printer, out, old, inSize, parts[i].data());
        ptrs[i] = parts[i].data();
    }
    if (!UnidrvDmWrite(out, room, text.c_str(), n, ptrs.data(), sizes.data())) {
        UiLog("%s: the options do not fit in the device mode", d->gpdName.c_str());
        return false;
    }
    return true;
}

// The printer's handle for a call that may come without one.
static HANDLE Printer(HANDLE given, const WCHAR* name, bool* opened)
{
    *opened = false;
    if (given)
        return given;
    HANDLE h = NULL;
    if (name && OpenPrinterW((LPWSTR)name, &h, NULL)) {
        *opened = true;
        return h;
    }
    return NULL;
}

static LONG PropertySheets(DOCUMENTPROPERTYHEADER* h)
{
    bool opened;
    HANDLE printer = Printer(h->hPrinter, h->pszPrinterName, &opened);
    UiDriver* d = printer ? UiDriverOf(printer) : NULL;
    LONG result = -1;
    DWORD size = d ? UiDevModeSize(d) : 0;
    DEVMODEW* dm = d ? (DEVMODEW*)calloc(1, size) : NULL;
    if (!d || !dm) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
    } else if (!h->fMode || !h->pdmOut) {
        h->cbOut = size;
        result = (LONG)size;
    } else if (h->cbOut && h->cbOut < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    } else if (UiBuildDevMode(d, printer, h->pszPrinterName,
                   (h->fMode & DM_IN_BUFFER) ? h->pdmIn : NULL, dm)) {
        if (h->fMode & DM_OUT_BUFFER)
            memcpy(h->pdmOut, dm, dm->dmSize + dm->dmDriverExtra);
        result = IDOK;
    }
    free(dm);
    if (opened)
        ClosePrinter(printer);
    return result;
}

extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* psui, LPARAM lParam)
{
    if (psui) {
        UiLog("property sheets are not offered");
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
    DOCUMENTPROPERTYHEADER* h = (DOCUMENTPROPERTYHEADER*)lParam;
    if (!h || h->cbSize < sizeof(DOCUMENTPROPERTYHEADER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    UiLock();
    LONG r = PropertySheets(h);
    UiUnlock();
    return r;
}

static BOOL ConvertDevMode(LPWSTR name, DEVMODEW* in, DEVMODEW* out, LONG* needed, DWORD mode)
{
    if (mode != CDM_CONVERT && mode != CDM_CONVERT351 && mode != CDM_DRIVER_DEFAULT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool opened;
    HANDLE printer = Printer(NULL, name, &opened);
    UiDriver* d = printer ? UiDriverOf(printer) : NULL;
    BOOL ok = FALSE;
    LONG size = d ? (LONG)UiDevModeSize(d) : 0;
    DEVMODEW* dm = d ? (DEVMODEW*)calloc(1, size) : NULL;
    if (!d || !dm) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
    } else if (!out || *needed < size) {
        *needed = size;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    } else if (UiBuildDevMode(d, printer, name, mode == CDM_DRIVER_DEFAULT ? NULL : in, dm)) {
        memcpy(out, dm, dm->dmSize + dm->dmDriverExtra);
        *needed = dm->dmSize + dm->dmDriverExtra;
        ok = TRUE;
    }
    free(dm);
    if (opened)
        ClosePrinter(printer);
    return ok;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    DrvConvertDevMode(LPWSTR name, DEVMODEW* in, DEVMODEW* out, LONG* needed, DWORD mode)
{
    if (!needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    UiLock();
    BOOL ok = ConvertDevMode(name, in, out, needed, mode);
    UiUnlock();
    return ok;
}
