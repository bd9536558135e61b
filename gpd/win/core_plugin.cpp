// Loading a minidriver's rendering plug-ins (OEMDriverFileN of its .ini)
// through the host, so that their engine imports reach the host's engine;
// asking each for the newest plug-in interface it answers, and the calls
// of the PDEV's life: EnableDriver, DevMode, EnablePDEV, DisablePDEV,
// DisableDriver.  Whatever a plug-in returns is checked before use.
#include "core.h"

#include "unidrv_dm.h"

#include <objbase.h>

#include "gpd_value.h"

// {00000001-0000-0000-C000-000000000046}
static const GUID kIClassFactory = {0x00000001, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

static const char* const kMethodNames[CM_COUNT] = {"DevMode", "EnableDriver", "EnablePDEV",
    "DisablePDEV", "DisableDriver", "CommandCallback", "ImageProcessing", "FilterGraphics",
    "Compression", "HalftonePattern", "MemoryUsage", "WritePrinter"};

// The DDI calls a plug-in may hook: those a job of bitmap pages reaches.
static const ULONG kHookable[] = {INDEX_DrvEnableSurface, INDEX_DrvDisableSurface,
    INDEX_DrvStartDoc, INDEX_DrvEndDoc, INDEX_DrvStartPage, INDEX_DrvSendPage,
    INDEX_DrvStartBanding, INDEX_DrvNextBand};

static std::string Narrow(const std::wstring& w)
{
    char buf[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf, sizeof(buf), NULL, NULL);
    return buf;
}

void CoreSelect(CorePdev* p, int i)
{
    if (i < 0 || i >= p->pluginCount)
        return;
    CorePlugin& pl = p->plugins[i];
    p->devobj.pdevOEM = pl.pdevOEM;
    p->devobj.pOEMDM = pl.dm.empty() ? NULL : pl.dm.data();
    p->devobj.hOEM = (HANDLE)pl.mod;
}

bool CoreImplements(const CorePdev* p, int i, CoreMethod m)
{
    return i >= 0 && i < p->pluginCount && p->plugins[i].uni && p->plugins[i].has[m];
}

// The newest interface the plug-in's class answers.
static bool Instantiate(CorePlugin* pl, const std::string& name, std::string* err)
{
    typedef HRESULT(STDAPICALLTYPE * PFN_GetClassObject)(REFCLSID, REFIID, void**);
    PFN_GetClassObject get = (PFN_GetClassObject)(void*)GetProcAddress(pl->mod, "DllGetClassObject");
    IClassFactory* cf = NULL;
    if (!get || get(CLSID_TessalOemRender, kIClassFactory, (void**)&cf) != S_OK || !cf) {
        *err = "the plug-in " + name + " gives no class factory (DllGetClassObject)";
        return false;
    }
    const GUID* iids[] = {&IID_TessalOemUni3, &IID_TessalOemUni2, &IID_TessalOemUni};
    for (int k = 0; k < 3 && !pl->uni; k++) {
        void* obj = NULL;
        if (cf->CreateInstance(NULL, *iids[k], &obj) == S_OK && obj) {
            pl->uni = (TessalOemUni*)obj;
            pl->version = 3 - k;
        }
    }
    cf->Release();
    if (!pl->uni) {
        *err = "the plug-in " + name + " answers none of IPrintOemUni, IPrintOemUni2, IPrintOemUni3";
        return false;
    }
    return true;
}

// Its optional methods, its signature and our helper object.
static bool Introduce(CorePdev* p, CorePlugin* pl, const std::string& name, std::string* err)
{
    TessalOemUni* u = pl->uni;
    DWORD value = 0, needed = 0;
    if (u->lpVtbl->GetInfo(u, OEMGI_GETSIGNATURE, &value, sizeof(value), &needed) == S_OK)
        pl->signature = value;
    value = 0;
    u->lpVtbl->GetInfo(u, OEMGI_GETINTERFACEVERSION, &value, sizeof(value), &needed);
    if (u->lpVtbl->PublishDriverInterface(u, (IUnknown*)&p->helper) != S_OK) {
        *err = "the plug-in " + name + " refused our IPrintOemDriverUni (PublishDriverInterface)";
        return false;
    }
    for (int m = 0; m < CM_COUNT; m++) {
        char method[32];
        lstrcpynA(method, kMethodNames[m], sizeof(method));
        pl->has[m] = u->lpVtbl->GetImplementedMethod(u, method) == S_OK;
    }
    pl->has[CM_WritePrinter] &= pl->version >= 2;
    CoreLog("plug-in %s: IPrintOemUni%s, signature %08lx, interface version %08lx", name.c_str(),
        pl->version == 1 ? "" : pl->version == 2 ? "2" : "3", (unsigned long)pl->signature,
        (unsigned long)value);
    return true;
}

static bool Hookable(ULONG index)
{
    for (ULONG h : kHookable)
        if (h == index)
            return true;
    return false;
}

// EnableDriver: the DDI calls the plug-in hooks.
static bool TakeHooks(CorePdev* p, int i, const std::string& name, std::string* err)
{
    CorePlugin& pl = p->plugins[i];
    if (!pl.has[CM_EnableDriver])
        return true;
    DRVENABLEDATA ded = {0, 0, NULL};
    if (pl.uni->lpVtbl->EnableDriver(pl.uni, TESSAL_OEMINTF_VERSION, sizeof(ded), &ded) != S_OK) {
        *err = "the plug-in " + name + " failed EnableDriver";
        return false;
    }
    pl.driverEnabled = true;
    for (ULONG k = 0; ded.pdrvfn && k < ded.c && k < 256; k++) {
        ULONG index = ded.pdrvfn[k].iFunc;
        PFN fn = ded.pdrvfn[k].pfn;
        if (!fn || index >= INDEX_LAST)
            continue;
        if (!Hookable(index)) {
            CoreLog("plug-in %s hooks DDI call %lu, which bitmap pages never reach; left alone",
                name.c_str(), (unsigned long)index);
        } else if (!p->hook[index]) {
            p->hook[index] = fn;
            p->hookOwner[index] = i;
        }
    }
    return true;
}

// DevMode: its private part from the device mode, or its defaults.
static bool TakeDevMode(CorePdev* p, int i, const std::string& name, std::string* err)
{
    CorePlugin& pl = p->plugins[i];
    DEVMODEW* dm = p->dmCopy.empty() ? NULL : (DEVMODEW*)p->dmCopy.data();
    OEM_DMPARAM prm;
    memset(&prm, 0, sizeof(prm));
    prm.cbSize = sizeof(prm);
    prm.pdriverobj = &p->devobj;
    prm.hPrinter = p->printer;
    prm.hModule = pl.mod;
    prm.pPublicDMIn = prm.pPublicDMOut = dm;
    CoreSelect(p, i);
    if (pl.uni->lpVtbl->DevMode(pl.uni, OEMDM_SIZE, &prm) != S_OK || prm.cbBufSize == 0)
        return true; // no private part
    DWORD size = prm.cbBufSize;
    if (size < sizeof(OEM_DMEXTRAHEADER) || size > 0xffff) {
        *err = "the plug-in " + name + " asks for a device mode part of " + std::to_string(size)
            + " bytes";
        return false;
    }
    pl.dm.assign(size, 0);
    prm.pOEMDMOut = pl.dm.data();
    prm.cbBufSize = size;
    if (pl.uni->lpVtbl->DevMode(pl.uni, OEMDM_DEFAULT, &prm) != S_OK) {
        *err = "the plug-in " + name + " gives no default device mode part";
        return false;
    }
    // The device mode's part goes over the defaults through the plug-in,
    // which checks it (MERGE) or reads another version's (CONVERT); what it
    // refuses leaves the defaults.
    DWORD have = 0;
    const void* part = dm ? UnidrvDmPlugin(dm, (DWORD)i, &have) : NULL;
    if (!part)
        return true;
    std::vector<unsigned char> in((const unsigned char*)part, (const unsigned char*)part + have);
    std::vector<unsigned char> out(pl.dm);
    prm.pOEMDMIn = in.data();
    prm.pOEMDMOut = out.data();
    prm.cbBufSize = size;
    if (pl.uni->lpVtbl->DevMode(pl.uni, have == size ? OEMDM_MERGE : OEMDM_CONVERT, &prm) == S_OK)
        pl.dm = out;
    else
        CoreLog("the plug-in %s refused the device mode's part; its defaults are used", name.c_str());
    return true;
}

bool CoreLoadPlugins(CorePdev* p, std::string* err)
{
    std::vector<std::wstring> files;
    if (!CorePluginFiles(p, &files, err))
        return false;
    if (!files.empty() && !CoreHost()) {
        *err = "the driver's rendering plug-ins load only inside the print tool's driver host";
        return false;
    }
    for (size_t i = 0; i < files.size(); i++) {
        CorePlugin& pl = p->plugins[i];
        p->pluginCount = (int)i + 1;
        if (files[i].empty())
            continue;
        std::string name = Narrow(files[i]);
        pl.mod = CoreHost()->load(files[i].c_str());
        if (!pl.mod) {
            *err = "cannot load the plug-in " + name;
            return false;
        }
        if (!Instantiate(&pl, name, err) || !Introduce(p, &pl, name, err)
            || !TakeHooks(p, (int)i, name, err) || !TakeDevMode(p, (int)i, name, err))
            return false;
    }
    return true;
}

// The plug-ins that take the output, the bands and the band size.
static bool ChooseRoles(CorePdev* p, std::string* err)
{
    for (int i = 0; i < p->pluginCount; i++) {
        CorePlugin& pl = p->plugins[i];
        DWORD w = 0;
        if (p->writer < 0 && CoreImplements(p, i, CM_WritePrinter)
            && pl.uni->lpVtbl->WritePrinter(pl.uni, NULL, NULL, 0, &w) == S_OK)
            p->writer = i;
        if (p->ipPlugin < 0 && CoreImplements(p, i, CM_ImageProcessing))
            p->ipPlugin = i;
        if (CoreImplements(p, i, CM_MemoryUsage)) {
            long stride = ((long)p->dev.bitmap_w * p->bpp + 31) / 32 * 4;
            OEM_MEMORYUSAGE mu = {0, 0, (DWORD)(4u << 20)};
            CoreSelect(p, i);
            pl.uni->lpVtbl->MemoryUsage(pl.uni, &p->devobj, &mu);
            if (mu.dwMaxBandSize >= (DWORD)stride && mu.dwMaxBandSize < (4u << 20))
                p->bandRows = (long)(mu.dwMaxBandSize / (DWORD)stride);
        }
    }
    long id = 0;
    const gpd_entry* e = gpd_option_attr(&p->doc, &p->config, "ColorMode", "IPCallbackID");
    if (e && gpd_int(e->value, &id)) {
        if (p->ipPlugin < 0) {
            *err = e->file + ":" + std::to_string(e->line)
                + ": the colour mode asks for a plug-in's ImageProcessing, which none implements";
            return false;
        }
        p->ipCallback = id;
    } else {
        p->ipPlugin = -1;
    }
    e = gpd_option_attr(&p->doc, &p->config, "Halftone", "HTCallbackID");
    if (e)
        CoreLog("the halftone option names a plug-in's pattern (HTCallbackID); the engine's "
                "own halftoning is used");
    return true;
}

bool CoreEnablePluginPdevs(CorePdev* p, GDIINFO* gdi, DEVINFO* di, std::string* err)
{
    for (int i = 0; i < p->pluginCount; i++) {
        CorePlugin& pl = p->plugins[i];
        if (!pl.uni)
            continue;
        CoreSelect(p, i);
        void* own = NULL;
        if (pl.uni->lpVtbl->EnablePDEV(pl.uni, &p->devobj, p->name, 0, NULL, sizeof(GDIINFO),
                gdi, sizeof(DEVINFO), di, &g_coreOwn, &own)
            != S_OK) {
            *err = "a rendering plug-in failed EnablePDEV";
            return false;
        }
        pl.pdevEnabled = true;
        pl.pdevOEM = own;
    }
    return ChooseRoles(p, err);
}

void CoreUnloadPlugins(CorePdev* p)
{
    for (int i = p->pluginCount - 1; i >= 0; i--) {
        CorePlugin& pl = p->plugins[i];
        if (pl.uni) {
            CoreSelect(p, i);
            if (pl.pdevEnabled)
                pl.uni->lpVtbl->DisablePDEV(pl.uni, &p->devobj);
            if (pl.driverEnabled)
                pl.uni->lpVtbl->DisableDriver(pl.uni);
            pl.uni->lpVtbl->Release(pl.uni);
            pl.uni = NULL;
        }
        if (pl.mod && CoreHost())
            CoreHost()->unload(pl.mod);
        pl.mod = NULL;
    }
    p->pluginCount = 0;
}
