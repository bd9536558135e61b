// The plug-in interfaces of Microsoft's universal printer driver, as its
// published documentation describes them: what a minidriver's rendering
// plug-in (IPrintOemUni, IPrintOemUni2, IPrintOemUni3) and UI plug-in
// (IPrintOemUI) implement, and what the core gives them (DEVOBJ, the
// DRVPROCS helper table, IPrintOemDriverUni).  mingw-w64 ships none of it.
//
// The vtables are plain structs of function pointers in the order the
// contract fixes; a plug-in built against Microsoft's headers sees the same
// layout.  Calls go through the vtable: p->lpVtbl->Method(p, ...).
#pragma once

#include <windows.h>
#include <winddi.h>

// ---- Interface identifiers ---------------------------------------------------

// The class the core asks a rendering plug-in's DllGetClassObject for
// (CLSID_OEMRENDER), and the one the configuration DLL asks a UI plug-in for
// (CLSID_OEMUI).
// {6D6ABF26-9F38-11d1-882A-00C04FB961EC}
static const GUID CLSID_TessalOemRender = {
    0x6d6abf26, 0x9f38, 0x11d1, {0x88, 0x2a, 0x00, 0xc0, 0x4f, 0xb9, 0x61, 0xec}};
// {ABCE80D7-9F46-11d1-882A-00C04FB961EC}
static const GUID CLSID_TessalOemUI = {
    0xabce80d7, 0x9f46, 0x11d1, {0x88, 0x2a, 0x00, 0xc0, 0x4f, 0xb9, 0x61, 0xec}};
// {D67EBBF0-78BF-11d1-9480-00A0C90640B8}
static const GUID IID_TessalOemUni = {
    0xd67ebbf0, 0x78bf, 0x11d1, {0x94, 0x80, 0x00, 0xa0, 0xc9, 0x06, 0x40, 0xb8}};
// {B91220AC-15CC-4e7a-A21E-9591F34D6F6C}
static const GUID IID_TessalOemUni2 = {
    0xb91220ac, 0x15cc, 0x4e7a, {0xa2, 0x1e, 0x95, 0x91, 0xf3, 0x4d, 0x6f, 0x6c}};
// {4E4A7747-BC76-4AED-ACC8-C76AF22AAD43}
static const GUID IID_TessalOemUni3 = {
    0x4e4a7747, 0xbc76, 0x4aed, {0xac, 0xc8, 0xc7, 0x6a, 0xf2, 0x2a, 0xad, 0x43}};
// {D67EBBF1-78BF-11d1-9480-00A0C90640B8}
static const GUID IID_TessalOemDriverUni = {
    0xd67ebbf1, 0x78bf, 0x11d1, {0x94, 0x80, 0x00, 0xa0, 0xc9, 0x06, 0x40, 0xb8}};
// {C6A7A9D0-774C-11d1-947F-00A0C90640B8}
static const GUID IID_TessalOemUI = {
    0xc6a7a9d0, 0x774c, 0x11d1, {0x94, 0x7f, 0x00, 0xa0, 0xc9, 0x06, 0x40, 0xb8}};

// ---- Records -------------------------------------------------------------------

struct OEM_DEVOBJ;

// Both writers answer the number of bytes written.
typedef DWORD(APIENTRY* PFN_OemDrvWriteSpoolBuf)(OEM_DEVOBJ* pdevobj, PVOID pBuffer, DWORD cbSize);
typedef INT(APIENTRY* PFN_OemDrvXMoveTo)(OEM_DEVOBJ* pdevobj, INT x, DWORD dwFlags);
typedef INT(APIENTRY* PFN_OemDrvYMoveTo)(OEM_DEVOBJ* pdevobj, INT y, DWORD dwFlags);
typedef BOOL(APIENTRY* PFN_OemDrvGetDriverSetting)(PVOID pdriverobj, PCSTR Feature,
    PVOID pOutput, DWORD cbSize, PDWORD pcbNeeded, PDWORD pdwOptionsReturned);
typedef BOOL(APIENTRY* PFN_OemDrvGetStandardVariable)(OEM_DEVOBJ* pdevobj, DWORD dwIndex,
    PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
typedef INT(APIENTRY* PFN_OemDrvUnidriverTextOut)(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*,
    RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
typedef DWORD(APIENTRY* PFN_OemDrvWriteAbortBuf)(OEM_DEVOBJ* pdevobj, PVOID pBuffer, DWORD cbSize,
    DWORD dwWait);

// The helper table of the first plug-in interface version (DRVPROCS).
struct OEM_DRVPROCS {
    PFN_OemDrvWriteSpoolBuf DrvWriteSpoolBuf;
    PFN_OemDrvXMoveTo DrvXMoveTo;
    PFN_OemDrvYMoveTo DrvYMoveTo;
    PFN_OemDrvGetDriverSetting DrvGetDriverSetting;
    PFN_OemDrvGetStandardVariable BGetStandardVariable;
    PFN_OemDrvUnidriverTextOut DrvUnidriverTextOut;
    PFN_OemDrvWriteAbortBuf DrvWriteAbortBuf;
};

// What every plug-in call names the device by (DEVOBJ).  A hooked DDI
// function finds it as SURFOBJ::dhpdev, so the core's PDEV starts with it.
struct OEM_DEVOBJ {
    DWORD dwSize;
    PVOID pdevOEM; // the plug-in's PDEV, from its EnablePDEV
    HANDLE hEngine; // the engine's HDEV
    HANDLE hPrinter;
    HANDLE hOEM; // the plug-in's instance
    DEVMODEW* pPublicDM;
    PVOID pOEMDM; // the plug-in's private device mode part
    OEM_DRVPROCS* pDrvProcs;
};

// The argument of DevMode (OEMDMPARAM).
struct OEM_DMPARAM {
    DWORD cbSize;
    PVOID pdriverobj; // rendering plug-ins: the OEM_DEVOBJ
    HANDLE hPrinter;
    HANDLE hModule;
    DEVMODEW* pPublicDMIn;
    DEVMODEW* pPublicDMOut;
    PVOID pOEMDMIn;
    PVOID pOEMDMOut;
    DWORD cbBufSize;
};

// Each plug-in's private device mode part starts with this (OEM_DMEXTRAHEADER).
struct OEM_DMEXTRAHEADER {
    DWORD dwSize; // of the whole part, header included
    DWORD dwSignature;
    DWORD dwVersion;
};

// The argument of ImageProcessing (IPPARAMS).
struct OEM_IPPARAMS {
    DWORD dwSize;
    POINT ptOffset; // the band's place in the printable area
    PSTR pHalftoneOption;
    BOOL bBanding;
    BOOL bBlankBand;
};

// The interface version the core gives EnableDriver (PRINTER_OEMINTF_VERSION).
enum { TESSAL_OEMINTF_VERSION = 0x00010000 };

enum { OEMDM_SIZE = 1, OEMDM_DEFAULT = 2, OEMDM_CONVERT = 3, OEMDM_MERGE = 4 };
// What GetInfo(OEMGI_GETINTERFACEVERSION) answers and
// DRVENABLEDATA::iDriverVersion of a plug-in's EnableDriver holds.
enum { OEM_INTERFACE_VERSION = 0x00010000 };
enum {
    OEMGI_GETSIGNATURE = 1,
    OEMGI_GETINTERFACEVERSION = 2,
    OEMGI_GETVERSION = 3,
    OEMGI_GETPUBLISHERINFO = 4
};

// The argument of MemoryUsage (OEMMEMORYUSAGE).
struct OEM_MEMORYUSAGE {
    DWORD dwFixedMemoryUsage;
    DWORD dwPercentMemoryUsage;
    DWORD dwMaxBandSize; // the core's band in bytes; the plug-in may lower it
};

// DrvXMoveTo / DrvYMoveTo flags.
enum {
    MV_UPDATE = 0x0001, // only note the new position: the plug-in moved the cursor
    MV_RELATIVE = 0x0002, // from the current position
    MV_GRAPHICS = 0x0004, // in graphics dots, not master units
    MV_PHYSICAL = 0x0008, // from the cursor origin, not the printable area's
    MV_SENDXMOVECMD = 0x0010,
    MV_SENDYMOVECMD = 0x0020
};

// DrvGetStandardVariable indices (STDVARIABLEINDEX), in their published order.
enum {
    SVI_NUMDATABYTES, SVI_WIDTHINBYTES, SVI_HEIGHTINPIXELS, SVI_COPIES, SVI_PRINTDIRECTION,
    SVI_DESTX, SVI_DESTY, SVI_DESTXREL, SVI_DESTYREL, SVI_LINEFEEDSPACING, SVI_RECTXSIZE,
    SVI_RECTYSIZE, SVI_GRAYPERCENT, SVI_NEXTFONTID, SVI_NEXTGLYPH, SVI_PHYSPAPERLENGTH,
    SVI_PHYSPAPERWIDTH, SVI_FONTHEIGHT, SVI_FONTWIDTH, SVI_FONTMAXWIDTH, SVI_FONTBOLD,
    SVI_FONTITALIC, SVI_FONTUNDERLINE, SVI_FONTSTRIKETHRU, SVI_CURRENTFONTID, SVI_TEXTYRES,
    SVI_TEXTXRES, SVI_GRAPHICSYRES, SVI_GRAPHICSXRES, SVI_ROPE3, SVI_REDVALUE, SVI_GREENVALUE,
    SVI_BLUEVALUE, SVI_PALETTEINDEXTOPROGRAM, SVI_CURRENTPALETTEINDEX, SVI_PATTERNBRUSH_TYPE,
    SVI_PATTERNBRUSH_ID, SVI_PATTERNBRUSH_SIZE, SVI_CURSORORIGINX, SVI_CURSORORIGINY,
    SVI_PAGENUMBER, SVI_MAX
};

// DrvGetGPDData types.
enum { GPD_OEMCUSTOMDATA = 1 };

// ---- IPrintOemDriverUni: what the core gives a rendering plug-in ---------------

struct TessalOemDriverUni;
struct TessalOemDriverUniVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(TessalOemDriverUni*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(TessalOemDriverUni*);
    ULONG(STDMETHODCALLTYPE* Release)(TessalOemDriverUni*);
    HRESULT(STDMETHODCALLTYPE* DrvGetDriverSetting)(TessalOemDriverUni*, PVOID pdriverobj,
        PCSTR Feature, PVOID pOutput, DWORD cbSize, PDWORD pcbNeeded, PDWORD pdwOptionsReturned);
    HRESULT(STDMETHODCALLTYPE* DrvWriteSpoolBuf)(TessalOemDriverUni*, OEM_DEVOBJ* pdevobj,
        PVOID pBuffer, DWORD cbSize, DWORD* pdwResult);
    HRESULT(STDMETHODCALLTYPE* DrvXMoveTo)(TessalOemDriverUni*, OEM_DEVOBJ* pdevobj, INT x,
        DWORD dwFlags, INT* piResult);
    HRESULT(STDMETHODCALLTYPE* DrvYMoveTo)(TessalOemDriverUni*, OEM_DEVOBJ* pdevobj, INT y,
        DWORD dwFlags, INT* piResult);
    HRESULT(STDMETHODCALLTYPE* DrvGetStandardVariable)(TessalOemDriverUni*, OEM_DEVOBJ* pdevobj,
        DWORD dwIndex, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
    HRESULT(STDMETHODCALLTYPE* DrvGetGPDData)(TessalOemDriverUni*, OEM_DEVOBJ* pdevobj,
        DWORD dwType, PVOID pInputData, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
    HRESULT(STDMETHODCALLTYPE* DrvUniTextOut)(TessalOemDriverUni*, SURFOBJ*, STROBJ*, FONTOBJ*,
        CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
    HRESULT(STDMETHODCALLTYPE* DrvWriteAbortBuf)(TessalOemDriverUni*, OEM_DEVOBJ* pdevobj,
        PVOID pBuffer, DWORD cbSize, DWORD dwWait);
};
struct TessalOemDriverUni {
    const TessalOemDriverUniVtbl* lpVtbl;
};

// ---- IPrintOemUni, IPrintOemUni2, IPrintOemUni3: a rendering plug-in -----------

struct TessalOemUni;
struct TessalOemUniVtbl {
    // IUnknown
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(TessalOemUni*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(TessalOemUni*);
    ULONG(STDMETHODCALLTYPE* Release)(TessalOemUni*);
    // IPrintOemCommon
    HRESULT(STDMETHODCALLTYPE* GetInfo)(
        TessalOemUni*, DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
    HRESULT(STDMETHODCALLTYPE* DevMode)(TessalOemUni*, DWORD dwMode, OEM_DMPARAM* pOemDMParam);
    // IPrintOemEngine
    HRESULT(STDMETHODCALLTYPE* EnableDriver)(
        TessalOemUni*, DWORD DriverVersion, DWORD cbSize, DRVENABLEDATA* pded);
    HRESULT(STDMETHODCALLTYPE* DisableDriver)(TessalOemUni*);
    HRESULT(STDMETHODCALLTYPE* EnablePDEV)(TessalOemUni*, OEM_DEVOBJ* pdevobj,
        PWSTR pPrinterName, ULONG cPatterns, HSURF* phsurfPatterns, ULONG cjGdiInfo,
        GDIINFO* pGdiInfo, ULONG cjDevInfo, DEVINFO* pDevInfo, DRVENABLEDATA* pded,
        PVOID* pDevOem);
    HRESULT(STDMETHODCALLTYPE* DisablePDEV)(TessalOemUni*, OEM_DEVOBJ* pdevobj);
    HRESULT(STDMETHODCALLTYPE* ResetPDEV)(
        TessalOemUni*, OEM_DEVOBJ* pdevobjOld, OEM_DEVOBJ* pdevobjNew);
    // IPrintOemUni
    HRESULT(STDMETHODCALLTYPE* PublishDriverInterface)(TessalOemUni*, IUnknown* pIUnknown);
    HRESULT(STDMETHODCALLTYPE* GetImplementedMethod)(TessalOemUni*, PSTR pMethodName);
    HRESULT(STDMETHODCALLTYPE* DriverDMS)(
        TessalOemUni*, PVOID pDevObj, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
    HRESULT(STDMETHODCALLTYPE* CommandCallback)(TessalOemUni*, OEM_DEVOBJ* pdevobj,
        DWORD dwCallbackID, DWORD dwCount, PDWORD pdwParams, INT* piResult);
    HRESULT(STDMETHODCALLTYPE* ImageProcessing)(TessalOemUni*, OEM_DEVOBJ* pdevobj,
        PBYTE pSrcBitmap, BITMAPINFOHEADER* pBitmapInfoHeader, PBYTE pColorTable,
        DWORD dwCallbackID, OEM_IPPARAMS* pIPParams, PBYTE* ppbResult);
    HRESULT(STDMETHODCALLTYPE* FilterGraphics)(
        TessalOemUni*, OEM_DEVOBJ* pdevobj, PBYTE pBuf, DWORD dwLen);
    HRESULT(STDMETHODCALLTYPE* Compression)(TessalOemUni*, OEM_DEVOBJ* pdevobj, PBYTE pInBuf,
        PBYTE pOutBuf, DWORD dwInLen, DWORD dwOutLen, INT* piResult);
    HRESULT(STDMETHODCALLTYPE* HalftonePattern)(TessalOemUni*, OEM_DEVOBJ* pdevobj,
        PBYTE pHTPattern, DWORD dwHTPatternX, DWORD dwHTPatternY, DWORD dwHTNumPatterns,
        DWORD dwCallbackID, PBYTE pResource, DWORD dwResourceSize);
    HRESULT(STDMETHODCALLTYPE* MemoryUsage)(TessalOemUni*, OEM_DEVOBJ* pdevobj, void* pMemoryUsage);
    // Font downloading and text (never reached by bitmap pages).
    void* DownloadFontHeader;
    void* DownloadCharGlyph;
    void* TTDownloadMethod;
    void* OutputCharStr;
    void* SendFontCmd;
    void* TextOutAsBitmap;
    void* TTYGetInfo;
    // IPrintOemUni2
    void* GetPDEVAdjustment;
    HRESULT(STDMETHODCALLTYPE* WritePrinter)(TessalOemUni*, OEM_DEVOBJ* pdevobj, PVOID pBuf,
        DWORD cbBuffer, PDWORD pcbWritten);
    // IPrintOemUni3
    void* DownloadPattern;
};
struct TessalOemUni {
    const TessalOemUniVtbl* lpVtbl;
};

// ---- IPrintOemUI: a UI plug-in (the calls the core makes) --------------------------

struct TessalOemUI;
struct TessalOemUIVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(TessalOemUI*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(TessalOemUI*);
    ULONG(STDMETHODCALLTYPE* Release)(TessalOemUI*);
    HRESULT(STDMETHODCALLTYPE* GetInfo)(
        TessalOemUI*, DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
    HRESULT(STDMETHODCALLTYPE* DevMode)(TessalOemUI*, DWORD dwMode, OEM_DMPARAM* pOemDMParam);
    HRESULT(STDMETHODCALLTYPE* PublishDriverInterface)(TessalOemUI*, IUnknown* pIUnknown);
    // Property sheets, events, colour profiles and fonts: the core never
    // calls them, but a plug-in fills every slot.  Types we do not use are
    // void*.
    HRESULT(STDMETHODCALLTYPE* CommonUIProp)(TessalOemUI*, DWORD dwMode, void* pOemCUIPParam);
    HRESULT(STDMETHODCALLTYPE* DocumentPropertySheets)(
        TessalOemUI*, void* pPSUIInfo, LPARAM lParam);
    HRESULT(STDMETHODCALLTYPE* DevicePropertySheets)(TessalOemUI*, void* pPSUIInfo, LPARAM lParam);
    HRESULT(STDMETHODCALLTYPE* DevQueryPrintEx)(
        TessalOemUI*, void* poemuiobj, void* pDQPInfo, DEVMODEW* pPublicDM, PVOID pOEMDM);
    HRESULT(STDMETHODCALLTYPE* DeviceCapabilities)(TessalOemUI*, void* poemuiobj,
        HANDLE hPrinter, PWSTR pDeviceName, WORD wCapability, PVOID pOutput,
        DEVMODEW* pPublicDM, PVOID pOEMDM, DWORD dwOld, DWORD* dwResult);
    HRESULT(STDMETHODCALLTYPE* UpgradePrinter)(
        TessalOemUI*, DWORD dwLevel, PBYTE pDriverUpgradeInfo);
    HRESULT(STDMETHODCALLTYPE* PrinterEvent)(
        TessalOemUI*, PWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags, LPARAM lParam);
    HRESULT(STDMETHODCALLTYPE* DriverEvent)(
        TessalOemUI*, DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo, LPARAM lParam);
    HRESULT(STDMETHODCALLTYPE* QueryColorProfile)(TessalOemUI*, HANDLE hPrinter,
        void* poemuiobj, DEVMODEW* pPublicDM, PVOID pOEMDM, ULONG ulQueryMode,
        VOID* pvProfileData, ULONG* pcbProfileData, FLONG* pflProfileData);
    HRESULT(STDMETHODCALLTYPE* FontInstallerDlgProc)(
        TessalOemUI*, HWND hWnd, UINT usMsg, WPARAM wParam, LPARAM lParam);
    HRESULT(STDMETHODCALLTYPE* UpdateExternalFonts)(
        TessalOemUI*, HANDLE hPrinter, HANDLE hHeap, PWSTR pwstrCartridges);
};
struct TessalOemUI {
    const TessalOemUIVtbl* lpVtbl;
};
