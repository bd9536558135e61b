// The driver's UI plug-ins: found through the .ini among the dependent
// files, loaded as COM objects, asked for their private device mode part.
#include "ui.h"

#include <objbase.h>

#include <stdlib.h>
#include <string.h>

enum { kMaxPlugins = 16, kMaxPartSize = 0x8000 };

// What PublishDriverInterface gets: an object that answers IUnknown only.
// The helper interface of the UI side (IPrintOemDriverUI) serves property
// sheets, which we do not show.
struct HelperObject {
    const void* vtbl;
};
static HRESULT STDMETHODCALLTYPE HelperQueryInterface(HelperObject* self, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = IsEqualIID(riid, IID_IUnknown) ? self : NULL;
    return *out ? S_OK : E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE HelperAddRef(HelperObject*)
{
    return 1;
}
static ULONG STDMETHODCALLTYPE HelperRelease(HelperObject*)
{
    return 1;
}
static const struct {
    void* qi;
    void* addref;
    void* release;
} g_helperVtbl = {(void*)HelperQueryInterface, (void*)HelperAddRef, (void*)HelperRelease};
static HelperObject g_helper = {&g_helperVtbl};

static const WCHAR* BaseName(const WCHAR* path)
{
    const WCHAR* base = path;
    for (const WCHAR* p = path; *p; p++)
        if (*p == L'\\' || *p == L'/')
            base = p + 1;
    return base;
}

static bool EndsWith(const WCHAR* s, const WCHAR* tail)
{
    size_t n = wcslen(s), t = wcslen(tail);
    return n >= t && _wcsicmp(s + n - t, tail) == 0;
}

// The dependent file whose name is `name` in any letter case, or "".
static std::wstring FindDependent(const WCHAR* dependent, const WCHAR* name)
{
    for (const WCHAR* p = dependent; p && *p; p += wcslen(p) + 1)
        if (_wcsicmp(BaseName(p), BaseName(name)) == 0)
            return p;
    return L"";
}

static std::wstring IniValue(const WCHAR* ini, const WCHAR* key)
{
    WCHAR value[MAX_PATH];
    DWORD n = GetPrivateProfileStringW(L"OEMFiles", key, L"", value, MAX_PATH, ini);
    return std::wstring(value, n);
}

static void LoadUi(UiPlugin* p, HANDLE printer, const std::string& gpdName)
{
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    p->module = LoadLibraryW(p->config.c_str());
    GetClassObjectFn get = p->module
        ? (GetClassObjectFn)(void*)GetProcAddress(p->module, "DllGetClassObject")
        : NULL;
    IClassFactory* factory = NULL;
    if (!get || FAILED(get(CLSID_TessalOemUI, IID_IClassFactory, (void**)&factory)) || !factory) {
        UiLog("driver %s: the UI plug-in %ls does not load or gives no class factory (error %lu)",
            gpdName.c_str(), p->config.c_str(), (unsigned long)GetLastError());
        return;
    }
    IUnknown* unknown = NULL;
    void* ui = NULL;
    if (SUCCEEDED(factory->CreateInstance(NULL, IID_IUnknown, (void**)&unknown)) && unknown) {
        if (FAILED(unknown->QueryInterface(IID_TessalOemUI, &ui)))
            ui = NULL;
        unknown->Release();
    } else if (FAILED(factory->CreateInstance(NULL, IID_TessalOemUI, &ui))) {
        ui = NULL;
    }
    factory->Release();
    if (!ui) {
        UiLog("driver %s: the UI plug-in %ls has no IPrintOemUI", gpdName.c_str(),
            p->config.c_str());
        return;
    }
    p->ui = (TessalOemUI*)ui;
    p->ui->lpVtbl->PublishDriverInterface(p->ui, (IUnknown*)&g_helper);
    DWORD sig = 0, needed = 0;
    if (SUCCEEDED(p->ui->lpVtbl->GetInfo(p->ui, OEMGI_GETSIGNATURE, &sig, sizeof sig, &needed)))
        p->signature = sig;
    OEM_DMPARAM param;
    memset(&param, 0, sizeof param);
    param.cbSize = sizeof param;
    param.hPrinter = printer;
    param.hModule = p->module;
    if (p->ui->lpVtbl->DevMode(p->ui, OEMDM_SIZE, &param) == S_OK) {
        if (param.cbBufSize >= sizeof(OEM_DMEXTRAHEADER) && param.cbBufSize <= kMaxPartSize)
            p->size = param.cbBufSize;
        else if (param.cbBufSize)
            UiLog("driver %s: the UI plug-in %ls asks for %lu private bytes; giving it none",
                gpdName.c_str(), p->config.c_str(), (unsigned long)param.cbBufSize);
    }
}

bool UiLoadPlugins(UiDriver* d, const WCHAR* dependent, HANDLE printer)
{
    std::wstring ini;
    for (const WCHAR* p = dependent; p && *p && ini.empty(); p += wcslen(p) + 1)
        if (EndsWith(p, L".ini")
            && (!IniValue(p, L"OEMDriverFile1").empty() || !IniValue(p, L"OEMConfigFile1").empty()))
            ini = p;
    if (ini.empty())
        return true; // no plug-ins
    int count = 0;
    std::wstring config[kMaxPlugins];
    for (int n = 1; n <= kMaxPlugins; n++) {
        WCHAR key[32];
        wsprintfW(key, L"OEMConfigFile%d", n);
        config[n - 1] = IniValue(ini.c_str(), key);
        wsprintfW(key, L"OEMDriverFile%d", n);
        if (!config[n - 1].empty() || !IniValue(ini.c_str(), key).empty())
            count = n;
    }
    d->plugins.resize(count);
    for (int i = 0; i < count; i++) {
        if (config[i].empty())
            continue;
        d->plugins[i].config = FindDependent(dependent, config[i].c_str());
        if (d->plugins[i].config.empty()) {
            UiLog("driver %s: %ls names the UI plug-in %ls, which the driver does not carry",
                d->gpdName.c_str(), ini.c_str(), config[i].c_str());
            return false;
        }
        LoadUi(&d->plugins[i], printer, d->gpdName);
    }
    return true;
}

void UiFreePlugins(UiDriver* d)
{
    for (UiPlugin& p : d->plugins) {
        if (p.ui)
            p.ui->lpVtbl->Release(p.ui);
        if (p.module)
            FreeLibrary(p.module);
        p.ui = NULL;
        p.module = NULL;
    }
}

// Whether a part the plug-in wrote is whole: its header gives its size.
static bool PartWhole(const void* out, DWORD size)
{
    return ((const OEM_DMEXTRAHEADER*)out)->dwSize == size;
}

static HRESULT CallDevMode(UiPlugin* p, DWORD mode, HANDLE printer, DEVMODEW* pub,
    void* in, void* out)
{
    OEM_DMPARAM param;
    memset(&param, 0, sizeof param);
    param.cbSize = sizeof param;
    param.hPrinter = printer;
    param.hModule = p->module;
    param.pPublicDMIn = pub;
    param.pPublicDMOut = pub;
    param.pOEMDMIn = in;
    param.pOEMDMOut = out;
    param.cbBufSize = p->size;
    return p->ui->lpVtbl->DevMode(p->ui, mode, &param);
}

DWORD UiPluginPart(UiDriver* d, DWORD i, HANDLE printer, DEVMODEW* pub, const void* in,
    DWORD inSize, void* out)
{
    UiPlugin* p = &d->plugins[i];
    OEM_DMEXTRAHEADER bare = {sizeof(OEM_DMEXTRAHEADER), p->signature, 0};
    if (!p->ui || p->size == sizeof bare) {
        memcpy(out, &bare, sizeof bare);
        return sizeof bare;
    }
    memset(out, 0, p->size);
    if (CallDevMode(p, OEMDM_DEFAULT, printer, pub, NULL, out) != S_OK || !PartWhole(out, p->size)) {
        UiLog("driver %s: the UI plug-in %ls gives no default private part",
            d->gpdName.c_str(), p->config.c_str());
        memcpy(out, &bare, sizeof bare);
        return sizeof bare;
    }
    const OEM_DMEXTRAHEADER* h = (const OEM_DMEXTRAHEADER*)in;
    if (!in || inSize < sizeof bare || h->dwSize != inSize
        || (p->signature && h->dwSignature != p->signature))
        return p->size; // nothing of this plug-in's to keep
    // The plug-in reads its old part while writing the new one: give it a copy.
    void* old = malloc(inSize);
    void* next = malloc(p->size);
    if (!old || !next) {
        free(old);
        free(next);
        return p->size;
    }
    memcpy(old, in, inSize);
    memcpy(next, out, p->size);
    DWORD mode = inSize == p->size ? OEMDM_MERGE : OEMDM_CONVERT;
    if (CallDevMode(p, mode, printer, pub, old, next) == S_OK && PartWhole(next, p->size))
        memcpy(out, next, p->size);
    free(old);
    free(next);
    return p->size;
}
