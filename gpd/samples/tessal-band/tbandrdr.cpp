// tbandrdr.dll: Tessal Band's rendering plug-in.  It answers IPrintOemUni
// and IPrintOemUni2 (not IPrintOemUni3), writes the job and page headers
// for the GPD's callback commands and frames each band of the page bitmap
// that the core hands to ImageProcessing (see tband.h), sending everything
// itself through the core's DrvWriteSpoolBuf.
#include "tband.h"

#include <stdlib.h>
#include <string.h>

namespace {

// A new device mode part before the UI plug-in has set one.
const DWORD kRenderingDarkness = 1;

struct Plugin {
    TessalOemUni com; // first: the object is its interface
    LONG refs;
    TessalOemDriverUni* driver; // the core's helper interface
};

struct Pdev {
    DWORD darkness;
    DWORD pages;
};

Plugin* Self(TessalOemUni* p)
{
    return (Plugin*)p;
}

// ---- Writing printer data ------------------------------------------------------

bool Write(Plugin* self, OEM_DEVOBJ* pdevobj, const void* data, DWORD size)
{
    DWORD written = 0;
    if (self->driver) {
        HRESULT hr = self->driver->lpVtbl->DrvWriteSpoolBuf(
            self->driver, pdevobj, (PVOID)data, size, &written);
        return SUCCEEDED(hr) && written == size;
    }
    if (pdevobj->pDrvProcs && pdevobj->pDrvProcs->DrvWriteSpoolBuf)
        return pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, (PVOID)data, size) != 0;
    return false;
}

void PutWord(BYTE* at, DWORD v)
{
    at[0] = (BYTE)v;
    at[1] = (BYTE)(v >> 8);
    at[2] = (BYTE)(v >> 16);
    at[3] = (BYTE)(v >> 24);
}

// A record of a tag and up to 8 numbers.
bool WriteRecord(Plugin* self, OEM_DEVOBJ* pdevobj, const char* tag, const DWORD* v, int count)
{
    BYTE rec[4 + 8 * 4];
    memcpy(rec, tag, 4);
    for (int i = 0; i < count && i < 8; i++)
        PutWord(rec + 4 + 4 * i, v[i]);
    return Write(self, pdevobj, rec, 4 + 4 * count);
}

// ---- A band's payload ------------------------------------------------------------

// Run-length codes n bytes (see tband.h); out has room for n + n/128 + 2.
DWORD Pack(const BYTE* in, DWORD n, BYTE* out)
{
    DWORD o = 0, i = 0;
    while (i < n) {
        DWORD run = 1;
        while (i + run < n && run < 129 && in[i + run] == in[i])
            run++;
        if (run >= 2) {
            out[o++] = (BYTE)(run + 126);
            out[o++] = in[i];
            i += run;
            continue;
        }
        DWORD lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && in[i + lit] == in[i + lit + 1]))
            lit++;
        out[o++] = (BYTE)(lit - 1);
        memcpy(out + o, in + i, lit);
        o += lit;
        i += lit;
    }
    return o;
}

// The band's rows, top first, as 8-bit gray (through the colour table) or
// 24-bit red-green-blue.  NULL for a format we do not print.
BYTE* BandPixels(const BYTE* bits, const BITMAPINFOHEADER* bih, const BYTE* colorTable, DWORD* size)
{
    LONG w = bih->biWidth, h = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
    WORD bpp = bih->biBitCount;
    if (w <= 0 || h <= 0 || w > 100000 || h > 100000 || (bpp != 8 && bpp != 24))
        return NULL;
    DWORD stride = ((DWORD)w * bpp + 31) / 32 * 4, row = (DWORD)w * bpp / 8;
    BYTE* out = (BYTE*)malloc((size_t)row * h);
    if (!out)
        return NULL;
    for (LONG y = 0; y < h; y++) {
        const BYTE* src = bits + (size_t)stride * (bih->biHeight < 0 ? y : h - 1 - y);
        BYTE* dst = out + (size_t)row * y;
        for (LONG x = 0; x < w; x++) {
            if (bpp == 24) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            } else if (colorTable) {
                const BYTE* q = colorTable + 4 * src[x]; // RGBQUAD: blue, green, red
                dst[x] = (BYTE)((q[2] * 299 + q[1] * 587 + q[0] * 114 + 500) / 1000);
            } else {
                dst[x] = src[x];
            }
        }
    }
    *size = row * h;
    return out;
}

bool WriteBand(Plugin* self, OEM_DEVOBJ* pdevobj, const BYTE* bits, const BITMAPINFOHEADER* bih,
    const BYTE* colorTable, const POINT& at)
{
    DWORD size = 0;
    BYTE* pixels = BandPixels(bits, bih, colorTable, &size);
    if (!pixels)
        return false;
    BYTE* packed = (BYTE*)malloc((size_t)size + size / 128 + 2);
    bool ok = packed != NULL;
    if (ok) {
        DWORD len = Pack(pixels, size, packed);
        LONG h = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
        DWORD v[] = {(DWORD)at.x, (DWORD)at.y, (DWORD)bih->biWidth, (DWORD)h, bih->biBitCount, len};
        ok = WriteRecord(self, pdevobj, "TBBD", v, 6) && Write(self, pdevobj, packed, len);
    }
    free(packed);
    free(pixels);
    return ok;
}

// ---- IUnknown ------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE QueryInterface(TessalOemUni* p, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    // A plug-in of the first two interface versions: the core has to ask
    // for the one it answers.
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_TessalOemUni)
        || IsEqualGUID(riid, IID_TessalOemUni2)) {
        *ppv = p;
        InterlockedIncrement(&Self(p)->refs);
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE AddRef(TessalOemUni* p)
{
    return InterlockedIncrement(&Self(p)->refs);
}

ULONG STDMETHODCALLTYPE Release(TessalOemUni* p)
{
    Plugin* self = Self(p);
    ULONG left = InterlockedDecrement(&self->refs);
    if (left == 0) {
        if (self->driver)
            self->driver->lpVtbl->Release(self->driver);
        free(self);
        TBandObjectGone();
    }
    return left;
}

// ---- IPrintOemCommon, IPrintOemEngine --------------------------------------------

HRESULT STDMETHODCALLTYPE GetInfo(TessalOemUni*, DWORD mode, PVOID buffer, DWORD size, PDWORD needed)
{
    return TBandGetInfo(mode, buffer, size, needed);
}

HRESULT STDMETHODCALLTYPE DevMode(TessalOemUni*, DWORD mode, OEM_DMPARAM* param)
{
    return TBandDevMode(mode, param, kRenderingDarkness);
}

// No DDI hooks: the core draws, the plug-in only frames.
HRESULT STDMETHODCALLTYPE EnableDriver(TessalOemUni*, DWORD, DWORD cbSize, DRVENABLEDATA* pded)
{
    if (!pded || cbSize < sizeof(DRVENABLEDATA))
        return E_FAIL;
    pded->iDriverVersion = OEM_INTERFACE_VERSION;
    pded->c = 0;
    pded->pdrvfn = NULL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DisableDriver(TessalOemUni* p)
{
    Plugin* self = Self(p);
    if (self->driver) {
        self->driver->lpVtbl->Release(self->driver);
        self->driver = NULL;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EnablePDEV(TessalOemUni*, OEM_DEVOBJ* pdevobj, PWSTR, ULONG, HSURF*,
    ULONG, GDIINFO*, ULONG, DEVINFO*, DRVENABLEDATA*, PVOID* pDevOem)
{
    if (!pdevobj || !pDevOem)
        return E_FAIL;
    Pdev* pdev = (Pdev*)calloc(1, sizeof(Pdev));
    if (!pdev)
        return E_OUTOFMEMORY;
    pdev->darkness = TBandDarkness(pdevobj->pOEMDM, kRenderingDarkness);
    *pDevOem = pdev;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DisablePDEV(TessalOemUni*, OEM_DEVOBJ* pdevobj)
{
    if (pdevobj) {
        free(pdevobj->pdevOEM);
        pdevobj->pdevOEM = NULL;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ResetPDEV(TessalOemUni*, OEM_DEVOBJ* oldDev, OEM_DEVOBJ* newDev)
{
    if (oldDev && newDev && oldDev->pdevOEM && newDev->pdevOEM)
        ((Pdev*)newDev->pdevOEM)->pages = ((Pdev*)oldDev->pdevOEM)->pages;
    return S_OK;
}

// ---- IPrintOemUni --------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE PublishDriverInterface(TessalOemUni* p, IUnknown* unknown)
{
    Plugin* self = Self(p);
    if (self->driver)
        return S_OK;
    if (!unknown)
        return E_FAIL;
    void* driver = NULL;
    HRESULT hr = unknown->QueryInterface(IID_TessalOemDriverUni, &driver);
    if (FAILED(hr) || !driver)
        return E_FAIL;
    self->driver = (TessalOemDriverUni*)driver;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetImplementedMethod(TessalOemUni*, PSTR name)
{
    static const char* const implemented[] = {"GetInfo", "DevMode", "EnableDriver",
        "DisableDriver", "EnablePDEV", "DisablePDEV", "ResetPDEV", "PublishDriverInterface",
        "GetImplementedMethod", "CommandCallback", "ImageProcessing"};
    for (const char* m : implemented)
        if (name && strcmp(name, m) == 0)
            return S_OK;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE DriverDMS(TessalOemUni*, PVOID, PVOID, DWORD, PDWORD)
{
    return E_NOTIMPL;
}

// Callback ids of TBAND.GPD: 1 job start (copies, x and y dpi, paper width
// and length), 2 page start (page number), 3 job end, 4 and 5 the Finish
// options.
HRESULT STDMETHODCALLTYPE CommandCallback(TessalOemUni* p, OEM_DEVOBJ* pdevobj, DWORD id,
    DWORD count, PDWORD params, INT* piResult)
{
    if (!pdevobj || !pdevobj->pdevOEM)
        return E_FAIL;
    if (piResult)
        *piResult = 0;
    Plugin* self = Self(p);
    Pdev* pdev = (Pdev*)pdevobj->pdevOEM;
    DWORD v[8] = {};
    bool ok;
    switch (id) {
    case 1:
        v[0] = TBAND_FRAME_VERSION;
        for (DWORD i = 0; i < 5 && i < count && params; i++)
            v[1 + i] = params[i];
        v[6] = pdev->darkness;
        ok = WriteRecord(self, pdevobj, "TBJH", v, 7);
        break;
    case 2:
        pdev->pages++;
        v[0] = count >= 1 && params ? params[0] : pdev->pages;
        ok = WriteRecord(self, pdevobj, "TBPH", v, 1);
        break;
    case 3:
        v[0] = pdev->pages;
        ok = WriteRecord(self, pdevobj, "TBJE", v, 1);
        break;
    case 4:
    case 5:
        v[0] = id;
        ok = WriteRecord(self, pdevobj, "TBFN", v, 1);
        break;
    default:
        return E_NOTIMPL;
    }
    return ok ? S_OK : E_FAIL;
}

// The band goes to the printer from here: *ppbResult is TRUE, as for a
// device format of 0 planes and 0 bits.  A blank band is left out.
HRESULT STDMETHODCALLTYPE ImageProcessing(TessalOemUni* p, OEM_DEVOBJ* pdevobj, PBYTE bits,
    BITMAPINFOHEADER* bih, PBYTE colorTable, DWORD, OEM_IPPARAMS* ip, PBYTE* ppbResult)
{
    if (ppbResult)
        *ppbResult = (PBYTE)(ULONG_PTR)FALSE;
    if (!pdevobj || !bits || !bih || !ip || !ppbResult)
        return E_FAIL;
    if (!ip->bBlankBand && !WriteBand(Self(p), pdevobj, bits, bih, colorTable, ip->ptOffset))
        return E_FAIL;
    *ppbResult = (PBYTE)(ULONG_PTR)TRUE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraphics(TessalOemUni*, OEM_DEVOBJ*, PBYTE, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Compression(TessalOemUni*, OEM_DEVOBJ*, PBYTE, PBYTE, DWORD, DWORD, INT*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HalftonePattern(
    TessalOemUni*, OEM_DEVOBJ*, PBYTE, DWORD, DWORD, DWORD, DWORD, PBYTE, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MemoryUsage(TessalOemUni*, OEM_DEVOBJ*, void*)
{
    return E_NOTIMPL;
}

// The font and text methods, and IPrintOemUni2's: not implemented, each
// with its own number of arguments (the callee clears them on 32-bit).
HRESULT STDMETHODCALLTYPE NotImpl3(TessalOemUni*, void*, void*, void*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE NotImpl5(TessalOemUni*, void*, void*, void*, void*, void*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE NotImpl10(
    TessalOemUni*, void*, void*, void*, void*, void*, void*, void*, void*, void*, void*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE WritePrinter(TessalOemUni*, OEM_DEVOBJ*, PVOID, DWORD, PDWORD)
{
    return E_NOTIMPL;
}

const TessalOemUniVtbl kVtbl = {QueryInterface, AddRef, Release, GetInfo, DevMode, EnableDriver,
    DisableDriver, EnablePDEV, DisablePDEV, ResetPDEV, PublishDriverInterface, GetImplementedMethod,
    DriverDMS, CommandCallback, ImageProcessing, FilterGraphics, Compression, HalftonePattern,
    MemoryUsage,
    (void*)NotImpl3, // DownloadFontHeader
    (void*)NotImpl5, // DownloadCharGlyph
    (void*)NotImpl3, // TTDownloadMethod
    (void*)NotImpl5, // OutputCharStr
    (void*)NotImpl3, // SendFontCmd
    (void*)NotImpl10, // TextOutAsBitmap
    (void*)NotImpl5, // TTYGetInfo
    (void*)NotImpl5, // GetPDEVAdjustment
    WritePrinter,
    NULL}; // DownloadPattern: IPrintOemUni3's, which this plug-in does not answer

} // namespace

const GUID& kTBandClass = CLSID_TessalOemRender;

IUnknown* TBandNewObject()
{
    Plugin* self = (Plugin*)calloc(1, sizeof(Plugin));
    if (!self)
        return NULL;
    self->com.lpVtbl = &kVtbl;
    self->refs = 1;
    TBandObjectMade();
    return (IUnknown*)self;
}
