// tdrvui.dll: the configuration DLL of the test driver tdrv.dll. It has no
// dialogs: DrvDocumentPropertySheets answers the direct calls (no property
// sheet) with the driver's device mode, A4 at 300 dpi plus 8 private bytes,
// taking from a caller's device mode only the values the driver offers, and
// DrvDeviceCapabilities lists them: four papers, two resolutions, three
// bins and three media types, duplex, colour, 99 collated copies.
#include <windows.h>
#include <winspool.h>

#include <stddef.h>
#include <string.h>

#include "winddiui_more.h"

enum { kPrivateBytes = 8 };
static const DWORD kSignature = 0x56524454; // "TDRV"
static const DWORD kFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE
    | DM_PRINTQUALITY | DM_YRESOLUTION | DM_COLOR | DM_DUPLEX | DM_COLLATE | DM_MEDIATYPE;
static const LONG kSize = sizeof(DEVMODEW) + kPrivateBytes;
static const short kMaxCopies = 99;

struct Named {
    DWORD code;
    const WCHAR* name;
};
static const Named kPapers[] = {{DMPAPER_A4, L"A4"}, {DMPAPER_LETTER, L"Letter"},
    {DMPAPER_LEGAL, L"Legal"}, {DMPAPER_A5, L"A5"}};
static const POINT kPaperSizes[] = {{2100, 2970}, {2159, 2794}, {2159, 3556}, {1480, 2100}};
// A driver's own bin code, and a name with characters a listing must not carry.
static const Named kBins[]
    = {{DMBIN_UPPER, L"Upper Tray"}, {DMBIN_LOWER, L"Lower Tray"}, {260, L"Tray, 3 \"Big\""}};
static const Named kMedia[] = {
    {DMMEDIA_STANDARD, L"Plain Paper"}, {DMMEDIA_TRANSPARENCY, L"Transparency"}, {258, L"Glossy"}};
enum { kPaperCount = 4, kBinCount = 3, kMediaCount = 3 };

static int Offers(const Named* list, int n, DWORD code)
{
    for (int i = 0; i < n; i++)
        if (list[i].code == code)
            return 1;
    return 0;
}

static void Defaults(DEVMODEW* dm, LPCWSTR name)
{
    memset(dm, 0, kSize);
    if (name)
        lstrcpynW(dm->dmDeviceName, name, CCHDEVICENAME);
    dm->dmSpecVersion = DM_SPECVERSION;
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmDriverExtra = kPrivateBytes;
    dm->dmFields = kFields;
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmPaperSize = DMPAPER_A4;
    dm->dmCopies = 1;
    dm->dmPrintQuality = 300;
    dm->dmYResolution = 300;
    dm->dmColor = DMCOLOR_COLOR;
    dm->dmDefaultSource = DMBIN_UPPER;
    dm->dmDuplex = DMDUP_SIMPLEX;
    dm->dmCollate = DMCOLLATE_FALSE;
    dm->dmMediaType = DMMEDIA_STANDARD;
    DWORD priv[2] = {kSignature, 1};
    memcpy((BYTE*)dm + sizeof(DEVMODEW), priv, sizeof(priv));
}

// Takes the fields this driver knows from a caller's device mode.
static void Merge(DEVMODEW* dm, const DEVMODEW* in)
{
    if (!in || in->dmSize < offsetof(DEVMODEW, dmYResolution) + sizeof(short))
        return;
    DWORD f = in->dmFields;
    if ((f & DM_PAPERSIZE) && Offers(kPapers, kPaperCount, (WORD)in->dmPaperSize))
        dm->dmPaperSize = in->dmPaperSize;
    if (f & DM_PRINTQUALITY)
        dm->dmPrintQuality = in->dmPrintQuality;
    if (f & DM_YRESOLUTION)
        dm->dmYResolution = in->dmYResolution;
    if ((f & DM_COPIES) && in->dmCopies >= 1 && in->dmCopies <= kMaxCopies)
        dm->dmCopies = in->dmCopies;
    if ((f & DM_DEFAULTSOURCE) && Offers(kBins, kBinCount, (WORD)in->dmDefaultSource))
        dm->dmDefaultSource = in->dmDefaultSource;
    if ((f & DM_COLOR) && (in->dmColor == DMCOLOR_MONOCHROME || in->dmColor == DMCOLOR_COLOR))
        dm->dmColor = in->dmColor;
    if ((f & DM_DUPLEX) && in->dmDuplex >= DMDUP_SIMPLEX && in->dmDuplex <= DMDUP_HORIZONTAL)
        dm->dmDuplex = in->dmDuplex;
    if ((f & DM_COLLATE) && (in->dmCollate == 0 || in->dmCollate == 1))
        dm->dmCollate = in->dmCollate;
    if ((f & DM_MEDIATYPE) && in->dmSize >= offsetof(DEVMODEW, dmMediaType) + sizeof(DWORD)
        && Offers(kMedia, kMediaCount, in->dmMediaType))
        dm->dmMediaType = in->dmMediaType;
}

// Codes (WORD or DWORD) or fixed-size names of a list into `out`.
static DWORD ListCodes(const Named* list, int n, void* out, int wide)
{
    for (int i = 0; out && i < n; i++) {
        if (wide)
            ((DWORD*)out)[i] = list[i].code;
        else
            ((WORD*)out)[i] = (WORD)list[i].code;
    }
    return (DWORD)n;
}

static DWORD ListNames(const Named* list, int n, void* out, int chars)
{
    if (out) {
        memset(out, 0, (size_t)n * chars * sizeof(WCHAR));
        for (int i = 0; i < n; i++)
            lstrcpynW((LPWSTR)out + i * chars, list[i].name, chars);
    }
    return (DWORD)n;
}

extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* psui, LPARAM lParam)
{
    DOCUMENTPROPERTYHEADER* h = (DOCUMENTPROPERTYHEADER*)lParam;
    if (psui || !h)
        return -1; // no property sheets
    if (!h->fMode || !h->pdmOut) {
        h->cbOut = kSize;
        return kSize;
    }
    // Wine's DocumentProperties leaves cbOut 0: the buffer then has the
    // size this function reported.
    if (h->cbOut && h->cbOut < (DWORD)kSize)
        return -1;
    DEVMODEW dm[2]; // room for the private bytes
    Defaults(dm, h->pszPrinterName);
    if (h->fMode & DM_IN_BUFFER)
        Merge(dm, h->pdmIn);
    memcpy(h->pdmOut, dm, kSize);
    return 1;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    DrvConvertDevMode(LPWSTR name, DEVMODEW* in, DEVMODEW* out, LONG* needed, DWORD mode)
{
    if (!out || !needed || *needed < kSize) {
        if (needed)
            *needed = kSize;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DEVMODEW dm[2];
    Defaults(dm, name);
    if (mode == CDM_CONVERT || mode == CDM_CONVERT351)
        Merge(dm, in);
    else if (mode != CDM_DRIVER_DEFAULT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memcpy(out, dm, kSize);
    *needed = kSize;
    return TRUE;
}

// Like real configuration DLLs, it reads the printer through the handle it
// is given, and fails without a valid one.
static int ValidPrinter(HANDLE printer)
{
    DWORD needed = 0;
    return printer && (GetPrinterW(printer, 2, NULL, 0, &needed) || GetLastError() != ERROR_INVALID_HANDLE);
}

extern "C" __declspec(dllexport) DWORD WINAPI
    DrvDeviceCapabilities(HANDLE printer, LPWSTR, WORD cap, void* out, DEVMODEW*)
{
    static const LONG resolutions[] = {300, 300, 600, 600};
    if (!ValidPrinter(printer))
        return GDI_ERROR;
    switch (cap) {
    case DC_FIELDS:
        return kFields;
    case DC_SIZE:
        return sizeof(DEVMODEW);
    case DC_EXTRA:
        return kPrivateBytes;
    case DC_DRIVER:
        return 1;
    case DC_COPIES:
        return kMaxCopies;
    case DC_COLORDEVICE:
    case DC_DUPLEX:
    case DC_COLLATE:
        return 1;
    case DC_PAPERS:
        return ListCodes(kPapers, kPaperCount, out, 0);
    case DC_PAPERSIZE:
        if (out)
            memcpy(out, kPaperSizes, sizeof(kPaperSizes));
        return kPaperCount;
    case DC_PAPERNAMES:
        return ListNames(kPapers, kPaperCount, out, 64);
    case DC_ENUMRESOLUTIONS:
        if (out)
            memcpy(out, resolutions, sizeof(resolutions));
        return 2;
    case DC_BINS:
        return ListCodes(kBins, kBinCount, out, 0);
    case DC_BINNAMES:
        return ListNames(kBins, kBinCount, out, 24);
    case DC_MEDIATYPES:
        return ListCodes(kMedia, kMediaCount, out, 1);
    case DC_MEDIATYPENAMES:
        return ListNames(kMedia, kMediaCount, out, 64);
    }
    return GDI_ERROR;
}
