// The DDI entry points of tessal-unidrv.dll.  The table the host gets
// sends each call to the plug-in that hooks it, if any; the plug-in's hook
// reaches our own function through g_coreOwn, the table its EnablePDEV got.
#include "core.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <new>

static TessalHostCalls g_host;
static bool g_hasHost;

const TessalHostCalls* CoreHost()
{
    return g_hasHost ? &g_host : NULL;
}

void CoreLog(const char* fmt, ...)
{
    char line[1024] = "tessal-unidrv: ";
    size_t at = strlen(line);
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line + at, sizeof(line) - at, fmt, ap);
    va_end(ap);
    if (g_hasHost && g_host.log)
        g_host.log(line);
    else
        fprintf(stderr, "%s\n", line);
}

BOOL CoreFail(CorePdev* p, const std::string& why)
{
    if (p && !p->failed)
        CoreLog("the job ends: %s", why.c_str());
    if (p)
        p->failed = true;
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI TessalUseHost(const TessalHostCalls* calls)
{
    if (!calls || calls->size < sizeof(TessalHostCalls) || !calls->load || !calls->unload
        || !calls->log)
        return FALSE;
    g_host = *calls;
    g_host.size = sizeof(g_host);
    g_hasHost = true;
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL APIENTRY
    DrvQueryDriverInfo(DWORD mode, PVOID buf, DWORD cb, PDWORD needed)
{
    if (needed)
        *needed = sizeof(DWORD);
    if (mode != DRVQUERY_USERMODE || !buf || cb < sizeof(DWORD))
        return FALSE;
    *(DWORD*)buf = TRUE;
    return TRUE;
}

// ---- PDEV ----------------------------------------------------------------------

static void FreePdev(CorePdev* p)
{
    CoreUnloadPlugins(p);
    if (p->pal)
        EngDeletePalette(p->pal);
    delete p;
}

static DHPDEV APIENTRY CoreEnablePDEV(DEVMODEW* dm, LPWSTR, ULONG, HSURF*, ULONG cjCaps,
    GDIINFO* gdi, ULONG cjDevInfo, DEVINFO* di, HDEV hdev, LPWSTR name, HANDLE printer)
{
    if (cjCaps < sizeof(GDIINFO) || cjDevInfo < sizeof(DEVINFO) || !gdi || !di) {
        CoreLog("DrvEnablePDEV: the engine's GDIINFO or DEVINFO is too small");
        return NULL;
    }
    CorePdev* p = new (std::nothrow) CorePdev();
    if (!p) {
        CoreLog("DrvEnablePDEV: out of memory");
        return NULL;
    }
    p->magic = CORE_MAGIC;
    p->printer = printer;
    p->hdev = hdev;
    p->ipPlugin = p->writer = -1;
    if (name)
        lstrcpynW(p->name, name, 256);
    if (dm && dm->dmSize >= offsetof(DEVMODEW, dmFields) && dm->dmSize <= 4096) {
        const BYTE* b = (const BYTE*)dm;
        p->dmCopy.assign(b, b + dm->dmSize + dm->dmDriverExtra);
    }
    const DEVMODEW* own = p->dmCopy.empty() ? NULL : (const DEVMODEW*)p->dmCopy.data();
    std::string err;
    CoreInitHelpers(p);
    bool ok = CoreDriverFiles(p, &err) && CoreReadOptions(p, own, &err) && CoreLoadPlugins(p, &err);
    if (ok) {
        CoreFillGdiInfo(p, gdi, di);
        ok = CoreEnablePluginPdevs(p, gdi, di, &err);
        CoreInitRender(p);
    }
    if (!ok) {
        CoreLog("DrvEnablePDEV: %s", err.c_str());
        FreePdev(p);
        return NULL;
    }
    return (DHPDEV)p;
}

static VOID APIENTRY CoreCompletePDEV(DHPDEV dhpdev, HDEV hdev)
{
    CorePdev* p = (CorePdev*)dhpdev;
    p->hdev = hdev;
    p->devobj.hEngine = hdev;
}

static VOID APIENTRY CoreDisablePDEV(DHPDEV dhpdev)
{
    FreePdev((CorePdev*)dhpdev);
}

static HSURF APIENTRY CoreEnableSurface(DHPDEV dhpdev)
{
    return CoreMakeSurface((CorePdev*)dhpdev);
}

static VOID APIENTRY CoreDisableSurface(DHPDEV dhpdev)
{
    CorePdev* p = (CorePdev*)dhpdev;
    if (p->hsurf)
        EngDeleteSurface(p->hsurf);
    p->hsurf = NULL;
}

static VOID APIENTRY CoreDisableDriver(VOID) { }

// ---- Dispatch to hooks ------------------------------------------------------------

// The plug-in's hook for a call, with the DEVOBJ pointed at that plug-in.
static PFN HookOf(CorePdev* p, ULONG index)
{
    if (!p || p->magic != CORE_MAGIC || !p->hook[index])
        return NULL;
    CoreSelect(p, p->hookOwner[index]);
    return p->hook[index];
}

static CorePdev* OfSurface(SURFOBJ* so)
{
    return so ? (CorePdev*)so->dhpdev : NULL;
}

static HSURF APIENTRY ToEnableSurface(DHPDEV d)
{
    PFN h = HookOf((CorePdev*)d, INDEX_DrvEnableSurface);
    return h ? ((PFN_DrvEnableSurface)(void*)h)(d) : CoreEnableSurface(d);
}

static VOID APIENTRY ToDisableSurface(DHPDEV d)
{
    PFN h = HookOf((CorePdev*)d, INDEX_DrvDisableSurface);
    h ? ((PFN_DrvDisableSurface)(void*)h)(d) : CoreDisableSurface(d);
}

static BOOL APIENTRY ToStartDoc(SURFOBJ* so, LPWSTR name, DWORD id)
{
    PFN h = HookOf(OfSurface(so), INDEX_DrvStartDoc);
    return h ? ((PFN_DrvStartDoc)(void*)h)(so, name, id) : CoreStartDoc(so, name, id);
}

static BOOL APIENTRY ToEndDoc(SURFOBJ* so, FLONG fl)
{
    PFN h = HookOf(OfSurface(so), INDEX_DrvEndDoc);
    return h ? ((PFN_DrvEndDoc)(void*)h)(so, fl) : CoreEndDoc(so, fl);
}

static BOOL APIENTRY ToStartPage(SURFOBJ* so)
{
    PFN h = HookOf(OfSurface(so), INDEX_DrvStartPage);
    return h ? ((PFN_DrvStartPage)(void*)h)(so) : CoreStartPage(so);
}

static BOOL APIENTRY ToSendPage(SURFOBJ* so)
{
    PFN h = HookOf(OfSurface(so), INDEX_DrvSendPage);
    return h ? ((PFN_DrvSendPage)(void*)h)(so) : CoreSendPage(so);
}

static BOOL APIENTRY ToStartBanding(SURFOBJ* so, POINTL* ptl)
{
    PFN h = HookOf(OfSurface(so), INDEX_DrvStartBanding);
    return h ? ((PFN_DrvStartBanding)(void*)h)(so, ptl) : CoreStartBanding(so, ptl);
}

static BOOL APIENTRY ToNextBand(SURFOBJ* so, POINTL* ptl)
{
    PFN h = HookOf(OfSurface(so), INDEX_DrvNextBand);
    return h ? ((PFN_DrvNextBand)(void*)h)(so, ptl) : CoreNextBand(so, ptl);
}

static DRVFN g_toHost[] = {
    {INDEX_DrvEnablePDEV, (PFN)(void*)CoreEnablePDEV},
    {INDEX_DrvCompletePDEV, (PFN)(void*)CoreCompletePDEV},
    {INDEX_DrvDisablePDEV, (PFN)(void*)CoreDisablePDEV},
    {INDEX_DrvDisableDriver, (PFN)(void*)CoreDisableDriver},
    {INDEX_DrvEnableSurface, (PFN)(void*)ToEnableSurface},
    {INDEX_DrvDisableSurface, (PFN)(void*)ToDisableSurface},
    {INDEX_DrvStartDoc, (PFN)(void*)ToStartDoc},
    {INDEX_DrvEndDoc, (PFN)(void*)ToEndDoc},
    {INDEX_DrvStartPage, (PFN)(void*)ToStartPage},
    {INDEX_DrvSendPage, (PFN)(void*)ToSendPage},
    {INDEX_DrvStartBanding, (PFN)(void*)ToStartBanding},
    {INDEX_DrvNextBand, (PFN)(void*)ToNextBand},
};

static DRVFN g_own[] = {
    {INDEX_DrvEnablePDEV, (PFN)(void*)CoreEnablePDEV},
    {INDEX_DrvCompletePDEV, (PFN)(void*)CoreCompletePDEV},
    {INDEX_DrvDisablePDEV, (PFN)(void*)CoreDisablePDEV},
    {INDEX_DrvDisableDriver, (PFN)(void*)CoreDisableDriver},
    {INDEX_DrvEnableSurface, (PFN)(void*)CoreEnableSurface},
    {INDEX_DrvDisableSurface, (PFN)(void*)CoreDisableSurface},
    {INDEX_DrvStartDoc, (PFN)(void*)CoreStartDoc},
    {INDEX_DrvEndDoc, (PFN)(void*)CoreEndDoc},
    {INDEX_DrvStartPage, (PFN)(void*)CoreStartPage},
    {INDEX_DrvSendPage, (PFN)(void*)CoreSendPage},
    {INDEX_DrvStartBanding, (PFN)(void*)CoreStartBanding},
    {INDEX_DrvNextBand, (PFN)(void*)CoreNextBand},
};

DRVENABLEDATA g_coreOwn = {DDI_DRIVER_VERSION_NT5, sizeof(g_own) / sizeof(g_own[0]), g_own};

extern "C" __declspec(dllexport) BOOL APIENTRY
    DrvEnableDriver(ULONG engineVersion, ULONG cj, DRVENABLEDATA* ded)
{
    if (engineVersion < DDI_DRIVER_VERSION_NT5 || cj < sizeof(DRVENABLEDATA) || !ded)
        return FALSE;
    ded->iDriverVersion = DDI_DRIVER_VERSION_NT5;
    ded->c = sizeof(g_toHost) / sizeof(g_toHost[0]);
    ded->pdrvfn = g_toHost;
    return TRUE;
}
