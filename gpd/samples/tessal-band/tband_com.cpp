// What both Tessal Band plug-ins share: the class factory the core gets
// through DllGetClassObject, GetInfo, and the private device mode part.
#include "tband.h"

#include <string.h>

static LONG g_objects, g_locks;

void TBandObjectMade()
{
    InterlockedIncrement(&g_objects);
}

void TBandObjectGone()
{
    InterlockedDecrement(&g_objects);
}

// ---- The private device mode part ---------------------------------------------

static bool ValidPart(const void* p)
{
    const TBandDm* dm = (const TBandDm*)p;
    return dm && dm->header.dwSize == sizeof(TBandDm) && dm->header.dwSignature == TBAND_DM_SIGNATURE
        && dm->header.dwVersion == TBAND_DM_VERSION && dm->darkness <= TBAND_DARKNESS_MAX;
}

DWORD TBandDarkness(const void* oemDm, DWORD fallback)
{
    return ValidPart(oemDm) ? ((const TBandDm*)oemDm)->darkness : fallback;
}

HRESULT TBandDevMode(DWORD mode, OEM_DMPARAM* param, DWORD defaultDarkness)
{
    if (!param)
        return E_INVALIDARG;
    if (mode == OEMDM_SIZE) {
        param->cbBufSize = sizeof(TBandDm);
        return S_OK;
    }
    if (mode != OEMDM_DEFAULT && mode != OEMDM_CONVERT && mode != OEMDM_MERGE)
        return E_NOTIMPL;
    if (!param->pOEMDMOut || param->cbBufSize < sizeof(TBandDm))
        return E_FAIL;
    TBandDm* out = (TBandDm*)param->pOEMDMOut;
    if (mode == OEMDM_DEFAULT || !ValidPart(out)) {
        out->header.dwSize = sizeof(TBandDm);
        out->header.dwSignature = TBAND_DM_SIGNATURE;
        out->header.dwVersion = TBAND_DM_VERSION;
        out->darkness = defaultDarkness;
    }
    if (mode != OEMDM_DEFAULT && ValidPart(param->pOEMDMIn))
        memmove(out, param->pOEMDMIn, sizeof(TBandDm));
    return S_OK;
}

HRESULT TBandGetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed)
{
    if (needed)
        *needed = sizeof(DWORD);
    DWORD value;
    switch (mode) {
    case OEMGI_GETSIGNATURE: value = TBAND_DM_SIGNATURE; break;
    case OEMGI_GETINTERFACEVERSION: value = OEM_INTERFACE_VERSION; break;
    case OEMGI_GETVERSION: value = TBAND_DM_VERSION; break;
    default: return E_NOTIMPL;
    }
    if (!buffer || size < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    memcpy(buffer, &value, sizeof(value));
    return S_OK;
}

// ---- The class factory ----------------------------------------------------------

// The factory is static: its count never ends it.
struct TBandFactory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = NULL;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        IUnknown* obj = TBandNewObject();
        if (!obj)
            return E_OUTOFMEMORY;
        HRESULT hr = obj->QueryInterface(riid, ppv);
        obj->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

static TBandFactory g_factory;

// Each DLL has one class, the one its kind of plug-in is asked for.
extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(
    REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (!IsEqualGUID(clsid, kTBandClass))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
