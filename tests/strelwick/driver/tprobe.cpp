// tprobe.dll: a rendering plug-in for testing our core (tessal-unidrv.dll)
// with the sample printer's GPD.  It answers only the first plug-in
// interface, keeps a private device mode part, hooks DrvStartDoc and hands
// every raster block (FilterGraphics) and band (ImageProcessing, when the
// colour mode asks for it) back unchanged; it asks for small bands
// (MemoryUsage).
//
// Its EnablePDEV writes "probe: enabled"; its hooked DrvStartDoc writes
// what the core told it, one "probe: ..." line each, ending with
// "probe: end", through both of the core's helper tables, then calls the
// core's own DrvStartDoc.  Everything after that is
// the core's printer data, byte for byte as without the plug-in.
#include <windows.h>
#include <winddi.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "oem_iface.h"

namespace {

enum { kSignature = 0x45425250 /* "PRBE" */, kDmValue = 0x1234 };

struct ProbeDm {
    OEM_DMEXTRAHEADER header;
    DWORD value;
};

struct Pdev {
    DWORD magic;
    ULONG dpi; // from the GDIINFO EnablePDEV saw
    PFN_DrvStartDoc coreStartDoc;
    LONG nextBand; // the row the next band of the page must start at
};

TessalOemDriverUni* g_helper;

HRESULT STDMETHODCALLTYPE QueryInterface(TessalOemUni* p, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = NULL;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_TessalOemUni))
        return E_NOINTERFACE;
    *out = p;
    return S_OK;
}

ULONG STDMETHODCALLTYPE AddRef(TessalOemUni*) { return 1; }
ULONG STDMETHODCALLTYPE Release(TessalOemUni*) { return 1; }

HRESULT STDMETHODCALLTYPE GetInfo(TessalOemUni*, DWORD mode, PVOID buf, DWORD size, PDWORD needed)
{
    if (needed)
        *needed = sizeof(DWORD);
    if (mode != OEMGI_GETSIGNATURE && mode != OEMGI_GETINTERFACEVERSION)
        return E_NOTIMPL;
    if (!buf || size < sizeof(DWORD))
        return E_FAIL;
    *(DWORD*)buf = mode == OEMGI_GETSIGNATURE ? (DWORD)kSignature : (DWORD)TESSAL_OEMINTF_VERSION;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DevMode(TessalOemUni*, DWORD mode, OEM_DMPARAM* prm)
{
    if (!prm)
        return E_FAIL;
    if (mode == OEMDM_SIZE) {
        prm->cbBufSize = sizeof(ProbeDm);
        return S_OK;
    }
    if (mode != OEMDM_DEFAULT || !prm->pOEMDMOut || prm->cbBufSize < sizeof(ProbeDm))
        return E_FAIL;
    ProbeDm* dm = (ProbeDm*)prm->pOEMDMOut;
    dm->header.dwSize = sizeof(ProbeDm);
    dm->header.dwSignature = kSignature;
    dm->header.dwVersion = 1;
    dm->value = kDmValue;
    return S_OK;
}

// Appends one line of what the core answered.
void Line(char* report, size_t room, const char* fmt, ...)
{
    size_t at = strlen(report);
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(report + at, room - at, fmt, ap);
    va_end(ap);
}

BOOL APIENTRY ProbeStartDoc(SURFOBJ* so, LPWSTR name, DWORD id)
{
    OEM_DEVOBJ* d = (OEM_DEVOBJ*)so->dhpdev;
    Pdev* pd = (Pdev*)d->pdevOEM;
    char report[2048] = "";
    Line(report, sizeof(report), "probe: pdev %s, dpi %lu\n",
        pd && pd->magic == kSignature ? "ours" : "lost", pd ? (unsigned long)pd->dpi : 0);
    const ProbeDm* dm = (const ProbeDm*)d->pOEMDM;
    Line(report, sizeof(report), "probe: dm %lx\n", dm ? (unsigned long)dm->value : 0);
    char option[64] = "";
    DWORD needed = 0, count = 0;
    HRESULT hr = g_helper->lpVtbl->DrvGetDriverSetting(
        g_helper, d, "Resolution", option, sizeof(option), &needed, &count);
    Line(report, sizeof(report), "probe: Resolution %s %s\n", hr == S_OK ? "=" : "failed", option);
    hr = g_helper->lpVtbl->DrvGetDriverSetting(g_helper, d, "Resolution", option, 1, &needed, &count);
    Line(report, sizeof(report), "probe: Resolution in 1 byte %s, needs %lu\n",
        hr == S_OK ? "fits" : "refused", (unsigned long)needed);
    BOOL ok = d->pDrvProcs->DrvGetDriverSetting(d, "PaperSize", option, sizeof(option), &needed, &count);
    Line(report, sizeof(report), "probe: PaperSize %s %s\n", ok ? "=" : "failed", option);
    hr = g_helper->lpVtbl->DrvGetDriverSetting(g_helper, d, "NoSuchFeature", option, sizeof(option),
        &needed, &count);
    Line(report, sizeof(report), "probe: NoSuchFeature %s\n", hr == S_OK ? "found" : "unknown");
    const DWORD vars[] = {SVI_GRAPHICSXRES, SVI_COPIES, SVI_PHYSPAPERWIDTH, SVI_CURSORORIGINX};
    for (DWORD v : vars) {
        DWORD value = 0;
        hr = v == SVI_CURSORORIGINX
            ? (d->pDrvProcs->BGetStandardVariable(d, v, &value, sizeof(value), &needed) ? S_OK : E_FAIL)
            : g_helper->lpVtbl->DrvGetStandardVariable(g_helper, d, v, &value, sizeof(value), &needed);
        Line(report, sizeof(report), "probe: variable %lu %s %lu\n", (unsigned long)v,
            hr == S_OK ? "=" : "failed", (unsigned long)value);
    }
    char custom[16] = "";
    hr = g_helper->lpVtbl->DrvGetGPDData(
        g_helper, d, GPD_OEMCUSTOMDATA, NULL, custom, sizeof(custom) - 1, &needed);
    Line(report, sizeof(report), "probe: custom data %s %s (%lu bytes)\n",
        hr == S_OK ? "=" : "failed", custom, (unsigned long)needed);
    Line(report, sizeof(report), "probe: end\n");
    DWORD written = 0;
    hr = g_helper->lpVtbl->DrvWriteSpoolBuf(g_helper, d, report, (DWORD)strlen(report), &written);
    return hr == S_OK && written == strlen(report) && pd && pd->coreStartDoc(so, name, id);
}

DRVFN g_hooks[] = {{INDEX_DrvStartDoc, (PFN)(void*)ProbeStartDoc}};

HRESULT STDMETHODCALLTYPE EnableDriver(TessalOemUni*, DWORD, DWORD size, DRVENABLEDATA* ded)
{
    if (!ded || size < sizeof(DRVENABLEDATA))
        return E_FAIL;
    ded->iDriverVersion = TESSAL_OEMINTF_VERSION;
    ded->c = 1;
    ded->pdrvfn = g_hooks;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DisableDriver(TessalOemUni*) { return S_OK; }

HRESULT STDMETHODCALLTYPE EnablePDEV(TessalOemUni*, OEM_DEVOBJ* d, PWSTR, ULONG, HSURF*, ULONG,
    GDIINFO* gdi, ULONG, DEVINFO*, DRVENABLEDATA* core, PVOID* out)
{
    // Written before any document exists: the core keeps it for the job.
    static char enabled[] = "probe: enabled\n";
    Pdev* pd = (Pdev*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Pdev));
    if (!pd || !out || !core || d->pDrvProcs->DrvWriteSpoolBuf(d, enabled, sizeof(enabled) - 1) != sizeof(enabled) - 1)
        return E_FAIL;
    pd->magic = kSignature;
    pd->dpi = gdi ? gdi->ulLogPixelsX : 0;
    for (ULONG i = 0; i < core->c; i++)
        if (core->pdrvfn[i].iFunc == INDEX_DrvStartDoc)
            pd->coreStartDoc = (PFN_DrvStartDoc)(void*)core->pdrvfn[i].pfn;
    *out = pd;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DisablePDEV(TessalOemUni*, OEM_DEVOBJ* d)
{
    HeapFree(GetProcessHeap(), 0, d->pdevOEM);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ResetPDEV(TessalOemUni*, OEM_DEVOBJ*, OEM_DEVOBJ*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PublishDriverInterface(TessalOemUni*, IUnknown* unknown)
{
    void* helper = NULL;
    if (!unknown || unknown->QueryInterface(IID_TessalOemDriverUni, &helper) != S_OK || !helper)
        return E_FAIL;
    g_helper = (TessalOemDriverUni*)helper;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetImplementedMethod(TessalOemUni*, PSTR name)
{
    static const char* const kImplemented[] = {"GetInfo", "DevMode", "EnableDriver",
        "DisableDriver", "EnablePDEV", "DisablePDEV", "PublishDriverInterface", "FilterGraphics",
        "ImageProcessing", "MemoryUsage"};
    for (const char* m : kImplemented)
        if (name && strcmp(name, m) == 0)
            return S_OK;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DriverDMS(TessalOemUni*, PVOID, PVOID, DWORD, PDWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CommandCallback(TessalOemUni*, OEM_DEVOBJ*, DWORD, DWORD, PDWORD, INT*)
{
    return E_NOTIMPL;
}

// The bands of a colour mode with *IPCallbackID 7 go back as they came:
// 1-bit bottom-up DIBs with their colour table, each below the last.
HRESULT STDMETHODCALLTYPE ImageProcessing(TessalOemUni*, OEM_DEVOBJ* d, PBYTE bits,
    BITMAPINFOHEADER* bih, PBYTE table, DWORD id, OEM_IPPARAMS* ip, PBYTE* result)
{
    Pdev* pd = (Pdev*)d->pdevOEM;
    if (!pd || id != 7 || !bits || !bih || !table || !ip || !result || bih->biHeight <= 0
        || bih->biBitCount != 1 || bih->biClrUsed != 2 || ip->ptOffset.x != 0)
        return E_FAIL;
    if (ip->ptOffset.y == 0)
        pd->nextBand = 0;
    if (ip->ptOffset.y != pd->nextBand)
        return E_FAIL;
    pd->nextBand += bih->biHeight;
    *result = bits;
    return S_OK;
}

// Each block back as it came, through the C helper table, which answers
// the bytes written.
HRESULT STDMETHODCALLTYPE FilterGraphics(TessalOemUni*, OEM_DEVOBJ* d, PBYTE buf, DWORD len)
{
    return d->pDrvProcs->DrvWriteSpoolBuf(d, buf, len) == len ? S_OK : E_FAIL;
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

// Bands of 300 rows of the sample printer's 1-bit A4 page at 150 dpi
// (152 bytes a row), so that a page takes several.
HRESULT STDMETHODCALLTYPE MemoryUsage(TessalOemUni*, OEM_DEVOBJ*, void* usage)
{
    if (!usage)
        return E_FAIL;
    ((OEM_MEMORYUSAGE*)usage)->dwMaxBandSize = 300 * 152;
    return S_OK;
}

const TessalOemUniVtbl kVtbl = {QueryInterface, AddRef, Release, GetInfo, DevMode, EnableDriver,
    DisableDriver, EnablePDEV, DisablePDEV, ResetPDEV, PublishDriverInterface, GetImplementedMethod,
    DriverDMS, CommandCallback, ImageProcessing, FilterGraphics, Compression, HalftonePattern,
    MemoryUsage, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL};
TessalOemUni g_plugin = {&kVtbl};

// {00000001-0000-0000-C000-000000000046}
const GUID kIClassFactory = {0x00000001, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

struct Factory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = IsEqualIID(iid, kIClassFactory) || IsEqualIID(iid, IID_IUnknown) ? this : NULL;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        return outer ? CLASS_E_NOAGGREGATION : QueryInterface_(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    static HRESULT QueryInterface_(REFIID iid, void** out)
    {
        return ::QueryInterface(&g_plugin, iid, out);
    }
};
Factory g_factory;

} // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = NULL;
    if (!IsEqualCLSID(clsid, CLSID_TessalOemRender))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}
