// tdrvui.dll: the configuration DLL of the test driver tdrv.dll. It has no
// dialogs: DrvDocumentPropertySheets answers the direct calls (no property
// sheet) with the driver's device mode, A4 at 300 dpi plus 8 private bytes.
#include <windows.h>
#include <winspool.h>

#include <stddef.h>
#include <string.h>

// From the published printer interface; Debian's winddiui.h lacks these.
struct DOCUMENTPROPERTYHEADER {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    DEVMODEW* pdmIn;
    DEVMODEW* pdmOut;
    DWORD cbOut;
    DWORD fMode;
};

enum { kPrivateBytes = 8, kCdmConvert = 1, kCdmConvert351 = 2, kCdmDriverDefault = 4 };
static const DWORD kSignature = 0x56524454; // "TDRV"
static const DWORD kFields
    = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_PRINTQUALITY | DM_YRESOLUTION | DM_COLOR;
static const LONG kSize = sizeof(DEVMODEW) + kPrivateBytes;

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
    DWORD priv[2] = {kSignature, 1};
    memcpy((BYTE*)dm + sizeof(DEVMODEW), priv, sizeof(priv));
}

// Takes the fields this driver knows from a caller's device mode.
static void Merge(DEVMODEW* dm, const DEVMODEW* in)
{
    if (!in || in->dmSize < offsetof(DEVMODEW, dmYResolution) + sizeof(short))
        return;
    if (in->dmFields & DM_PAPERSIZE)
        dm->dmPaperSize = in->dmPaperSize;
    if (in->dmFields & DM_PRINTQUALITY)
        dm->dmPrintQuality = in->dmPrintQuality;
    if (in->dmFields & DM_YRESOLUTION)
        dm->dmYResolution = in->dmYResolution;
    if (in->dmFields & DM_COPIES)
        dm->dmCopies = in->dmCopies;
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
    if (mode == kCdmConvert || mode == kCdmConvert351)
        Merge(dm, in);
    else if (mode != kCdmDriverDefault) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memcpy(out, dm, kSize);
    *needed = kSize;
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI
    DrvDeviceCapabilities(HANDLE, LPWSTR, WORD cap, void* out, DEVMODEW*)
{
    static const WORD papers[] = {DMPAPER_A4, DMPAPER_LETTER};
    static const POINT sizes[] = {{2100, 2970}, {2159, 2794}};
    static const LONG resolutions[] = {300, 300, 600, 600};
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
        return 1;
    case DC_COLORDEVICE:
        return 1;
    case DC_PAPERS:
        if (out)
            memcpy(out, papers, sizeof(papers));
        return 2;
    case DC_PAPERSIZE:
        if (out)
            memcpy(out, sizes, sizeof(sizes));
        return 2;
    case DC_PAPERNAMES:
        if (out) {
            memset(out, 0, 2 * 64 * sizeof(WCHAR));
            lstrcpyW((LPWSTR)out, L"A4");
            lstrcpyW((LPWSTR)out + 64, L"Letter");
        }
        return 2;
    case DC_ENUMRESOLUTIONS:
        if (out)
            memcpy(out, resolutions, sizeof(resolutions));
        return 2;
    case DC_BINS:
    case DC_BINNAMES:
        return 0;
    }
    return GDI_ERROR;
}
