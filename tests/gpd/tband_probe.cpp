// tband-probe.exe DIR: drives Tessal Band's plug-ins from DIR the way the
// core does, without the core: the UI plug-in makes the private device mode
// part, the rendering plug-in gets it with a stand-in for the core's
// IPrintOemDriverUni, makes a job of one page with two bands and a blank
// one, and the bytes it writes go to stdout.  What the plug-ins answer
// goes to stderr, one line each.
#include "tband.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string>

static std::string g_out;

static HRESULT STDMETHODCALLTYPE DrvQueryInterface(TessalOemDriverUni* p, REFIID riid, void** ppv)
{
    *ppv = IsEqualGUID(riid, IID_TessalOemDriverUni) || IsEqualGUID(riid, IID_IUnknown) ? p : NULL;
    return *ppv ? S_OK : E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE DrvAddRef(TessalOemDriverUni*)
{
    return 2;
}

static HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(
    TessalOemDriverUni*, OEM_DEVOBJ*, PVOID buf, DWORD size, DWORD* written)
{
    g_out.append((const char*)buf, size);
    *written = size;
    return S_OK;
}

// The plug-in only publishes, writes and releases.
static TessalOemDriverUniVtbl g_driverVtbl;
static TessalOemDriverUni g_driver = {&g_driverVtbl};

static IUnknown* Create(const std::wstring& path, REFCLSID clsid)
{
    HMODULE dll = LoadLibraryW(path.c_str());
    typedef HRESULT(WINAPI * GetClass)(REFCLSID, REFIID, void**);
    GetClass get = dll ? (GetClass)(void*)GetProcAddress(dll, "DllGetClassObject") : NULL;
    IClassFactory* factory = NULL;
    IUnknown* obj = NULL;
    if (get && get(GUID_NULL, IID_IClassFactory, (void**)&factory) != CLASS_E_CLASSNOTAVAILABLE)
        fprintf(stderr, "%ls answers another class\n", path.c_str());
    if (get && SUCCEEDED(get(clsid, IID_IClassFactory, (void**)&factory)))
        factory->CreateInstance(NULL, IID_IUnknown, (void**)&obj);
    if (!obj)
        fprintf(stderr, "cannot make an object of %ls\n", path.c_str());
    return obj;
}

static TBandDm UiPart(TessalOemUI* ui)
{
    TBandDm part = {}, in = {};
    OEM_DMPARAM p = {};
    p.cbSize = sizeof(p);
    ui->lpVtbl->DevMode(ui, OEMDM_SIZE, &p);
    fprintf(stderr, "ui size %lu\n", (unsigned long)p.cbBufSize);
    p.pOEMDMOut = &part;
    p.cbBufSize = sizeof(part) - 1;
    fprintf(stderr, "ui default in a short buffer %08lx\n", (unsigned long)ui->lpVtbl->DevMode(ui, OEMDM_DEFAULT, &p));
    p.cbBufSize = sizeof(part);
    ui->lpVtbl->DevMode(ui, OEMDM_DEFAULT, &p);
    fprintf(stderr, "ui default darkness %lu\n", (unsigned long)part.darkness);
    in = part;
    in.darkness = 99; // out of range: the merge keeps what it had
    p.pOEMDMIn = &in;
    ui->lpVtbl->DevMode(ui, OEMDM_MERGE, &p);
    fprintf(stderr, "ui merge of a bad part %lu\n", (unsigned long)part.darkness);
    return part;
}

static void Job(TessalOemUni* r, TBandDm* part)
{
    OEM_DEVOBJ dev = {};
    dev.dwSize = sizeof(dev);
    dev.pOEMDM = part;
    DRVENABLEDATA ded = {};
    r->lpVtbl->PublishDriverInterface(r, (IUnknown*)&g_driver);
    r->lpVtbl->EnableDriver(r, OEM_INTERFACE_VERSION, sizeof(ded), &ded);
    r->lpVtbl->EnablePDEV(r, &dev, NULL, 0, NULL, 0, NULL, 0, NULL, &ded, &dev.pdevOEM);
    INT res;
    DWORD job[] = {2, 300, 300, 4960, 7016}, page[] = {1};
    r->lpVtbl->CommandCallback(r, &dev, 1, 5, job, &res);
    r->lpVtbl->CommandCallback(r, &dev, 4, 0, NULL, &res);
    r->lpVtbl->CommandCallback(r, &dev, 2, 1, page, &res);

    // 8 bpp, bottom-up, 37 pixels (rows padded), gray palette reversed.
    BITMAPINFOHEADER gray = {sizeof(BITMAPINFOHEADER), 37, 5, 1, 8, 0, 0, 0, 0, 0, 0};
    BYTE bits8[40 * 5], palette[256 * 4];
    for (int i = 0; i < 256; i++)
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = (BYTE)(255 - i), palette[4 * i + 3] = 0;
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 40; x++)
            bits8[(4 - y) * 40 + x] = (BYTE)((x * 7 + y * 13) & 255);
    OEM_IPPARAMS ip = {sizeof(ip), {3, 10}, NULL, FALSE, FALSE};
    PBYTE result = NULL;
    HRESULT hr = r->lpVtbl->ImageProcessing(r, &dev, bits8, &gray, palette, 1, &ip, &result);
    fprintf(stderr, "gray band %08lx %d\n", (unsigned long)hr, (int)(ULONG_PTR)result);

    // 24 bpp, top-down, 5 x 3.
    BITMAPINFOHEADER rgb = {sizeof(BITMAPINFOHEADER), 5, -3, 1, 24, 0, 0, 0, 0, 0, 0};
    BYTE bits24[16 * 3];
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++) {
            BYTE* px = bits24 + 16 * y + 3 * x; // blue, green, red
            px[0] = 200, px[1] = (BYTE)(y * 80), px[2] = (BYTE)(x * 40);
        }
    ip.ptOffset.x = 0, ip.ptOffset.y = 20;
    r->lpVtbl->ImageProcessing(r, &dev, bits24, &rgb, NULL, 2, &ip, &result);
    ip.bBlankBand = TRUE;
    hr = r->lpVtbl->ImageProcessing(r, &dev, bits24, &rgb, NULL, 2, &ip, &result);
    fprintf(stderr, "blank band %08lx %d\n", (unsigned long)hr, (int)(ULONG_PTR)result);
    r->lpVtbl->CommandCallback(r, &dev, 3, 0, NULL, &res);
    r->lpVtbl->DisablePDEV(r, &dev);
    r->lpVtbl->DisableDriver(r);
}

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    g_driverVtbl.QueryInterface = DrvQueryInterface;
    g_driverVtbl.AddRef = g_driverVtbl.Release = DrvAddRef;
    g_driverVtbl.DrvWriteSpoolBuf = DrvWriteSpoolBuf;
    if (argc != 2)
        return 2;
    std::wstring dir = argv[1];
    IUnknown* ui = Create(dir + L"\\tbandui.dll", CLSID_TessalOemUI);
    IUnknown* rdr = Create(dir + L"\\TBANDRDR.DLL", CLSID_TessalOemRender);
    if (!ui || !rdr)
        return 1;
    void *u1 = NULL, *u2 = NULL, *u3 = NULL, *uiObj = NULL;
    fprintf(stderr, "interfaces %d %d %d\n", SUCCEEDED(rdr->QueryInterface(IID_TessalOemUni, &u1)),
        SUCCEEDED(rdr->QueryInterface(IID_TessalOemUni2, &u2)),
        SUCCEEDED(rdr->QueryInterface(IID_TessalOemUni3, &u3)));
    if (!u1 || FAILED(ui->QueryInterface(IID_TessalOemUI, &uiObj)))
        return 1;
    TessalOemUni* r = (TessalOemUni*)u1;
    fprintf(stderr, "implements %ld %ld\n", (long)r->lpVtbl->GetImplementedMethod(r, (PSTR) "ImageProcessing"),
        (long)r->lpVtbl->GetImplementedMethod(r, (PSTR) "FilterGraphics"));
    TBandDm part = UiPart((TessalOemUI*)uiObj);
    Job(r, &part);
    fwrite(g_out.data(), 1, g_out.size(), stdout);
    return 0;
}
