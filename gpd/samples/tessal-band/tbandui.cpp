// tbandui.dll: Tessal Band's UI plug-in.  It gives plug-in 1's private
// device mode part its default darkness, which the rendering plug-in puts
// into the job header; it has no property sheets.
#include "tband.h"

#include <stdlib.h>

namespace {

// The darkness a new device mode gets (the rendering plug-in's own default
// is another, so the job header shows whose part reached it).
const DWORD kDefaultDarkness = 7;

struct Plugin {
    TessalOemUI com; // first: the object is its interface
    LONG refs;
    IUnknown* driver; // the core's helper interface, as published
};

Plugin* Self(TessalOemUI* p)
{
    return (Plugin*)p;
}

HRESULT STDMETHODCALLTYPE QueryInterface(TessalOemUI* p, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_TessalOemUI)) {
        *ppv = p;
        InterlockedIncrement(&Self(p)->refs);
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE AddRef(TessalOemUI* p)
{
    return InterlockedIncrement(&Self(p)->refs);
}

ULONG STDMETHODCALLTYPE Release(TessalOemUI* p)
{
    Plugin* self = Self(p);
    ULONG left = InterlockedDecrement(&self->refs);
    if (left == 0) {
        if (self->driver)
            self->driver->Release();
        free(self);
        TBandObjectGone();
    }
    return left;
}

HRESULT STDMETHODCALLTYPE GetInfo(TessalOemUI*, DWORD mode, PVOID buffer, DWORD size, PDWORD needed)
{
    return TBandGetInfo(mode, buffer, size, needed);
}

HRESULT STDMETHODCALLTYPE DevMode(TessalOemUI*, DWORD mode, OEM_DMPARAM* param)
{
    return TBandDevMode(mode, param, kDefaultDarkness);
}

HRESULT STDMETHODCALLTYPE PublishDriverInterface(TessalOemUI* p, IUnknown* unknown)
{
    Plugin* self = Self(p);
    if (!unknown)
        return E_FAIL;
    if (!self->driver) {
        unknown->AddRef();
        self->driver = unknown;
    }
    return S_OK;
}

// ---- What this plug-in does not do ---------------------------------------------

HRESULT STDMETHODCALLTYPE CommonUIProp(TessalOemUI*, DWORD, void*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PropertySheets(TessalOemUI*, void*, LPARAM)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DevQueryPrintEx(TessalOemUI*, void*, void*, DEVMODEW*, PVOID)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DeviceCapabilities(
    TessalOemUI*, void*, HANDLE, PWSTR, WORD, PVOID, DEVMODEW*, PVOID, DWORD, DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE UpgradePrinter(TessalOemUI*, DWORD, PBYTE)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PrinterEvent(TessalOemUI*, PWSTR, INT, DWORD, LPARAM)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DriverEvent(TessalOemUI*, DWORD, DWORD, LPBYTE, LPARAM)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE QueryColorProfile(
    TessalOemUI*, HANDLE, void*, DEVMODEW*, PVOID, ULONG, VOID*, ULONG*, FLONG*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FontInstallerDlgProc(TessalOemUI*, HWND, UINT, WPARAM, LPARAM)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE UpdateExternalFonts(TessalOemUI*, HANDLE, HANDLE, PWSTR)
{
    return E_NOTIMPL;
}

const TessalOemUIVtbl kVtbl = {QueryInterface, AddRef, Release, GetInfo, DevMode,
    PublishDriverInterface, CommonUIProp, PropertySheets, PropertySheets, DevQueryPrintEx,
    DeviceCapabilities, UpgradePrinter, PrinterEvent, DriverEvent, QueryColorProfile,
    FontInstallerDlgProc, UpdateExternalFonts};

} // namespace

const GUID& kTBandClass = CLSID_TessalOemUI;

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
