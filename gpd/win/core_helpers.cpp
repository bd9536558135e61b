// What a rendering plug-in calls back: the IPrintOemDriverUni object its
// PublishDriverInterface got and the older C table in its DEVOBJ
// (pDrvProcs).  Both write through the raster printer's job, so the
// plug-in's bytes keep their place among the core's.
#include "core.h"

#include <string.h>

#include "gpd_emit.h"
#include "gpd_value.h"

CorePdev* CoreFromDevobj(void* devobj)
{
    CorePdev* p = (CorePdev*)devobj;
    return p && p->magic == CORE_MAGIC ? p : NULL;
}

static DWORD WriteSpool(OEM_DEVOBJ* d, const void* buf, DWORD size)
{
    CorePdev* p = CoreFromDevobj(d);
    if (!p || p->failed || (!buf && size) || size > (256u << 20))
        return 0;
    if (!size)
        return 0;
    std::string err;
    if (p->jobOn) {
        if (!gpd_put(&p->job, (const char*)buf, size, &err)) {
            CoreFail(p, err);
            return 0;
        }
        return size;
    }
    if (!p->docStarted) {
        // Before the document the spooler has no job to take it.
        if (p->early.size() + size > (16u << 20)) {
            CoreFail(p, "a plug-in wrote more than 16 MiB before the document started");
            return 0;
        }
        p->early.append((const char*)buf, size);
        return size;
    }
    return CoreWrite(p, buf, size) ? size : 0;
}

// Moves the cursor along one axis as DrvXMoveTo and DrvYMoveTo ask;
// returns the part of the move the printer could not make, in the
// caller's units.
static INT MoveTo(OEM_DEVOBJ* d, bool xAxis, INT v, DWORD flags, bool* ok)
{
    CorePdev* p = CoreFromDevobj(d);
    *ok = p && p->jobOn && !p->failed;
    if (!*ok)
        return 0;
    const gpd_device& dev = p->dev;
    long unit = flags & MV_GRAPHICS ? (xAxis ? dev.master_x / dev.dpi_x : dev.master_y / dev.dpi_y) : 1;
    long* cur = xAxis ? &p->job.x : &p->job.y;
    long target = (long)v * unit;
    if (flags & MV_RELATIVE)
        target += *cur;
    else if (!(flags & MV_PHYSICAL))
        target += xAxis ? dev.origin_x - dev.cursor_x : dev.origin_y - dev.cursor_y;
    if (target < 0)
        target = 0;
    if (flags & MV_UPDATE) {
        *cur = target;
        if (!xAxis)
            p->job.y_known = true;
        return 0;
    }
    std::string err;
    bool moved = false;
    if (!(xAxis ? gpd_move_x(&p->job, target, &err, &moved) : gpd_move_y(&p->job, target, &err, &moved))) {
        CoreFail(p, err);
        *ok = false;
        return 0;
    }
    return (INT)((target - *cur) / unit);
}

static bool StandardVariable(OEM_DEVOBJ* d, DWORD index, long* out)
{
    static const struct {
        DWORD svi;
        gpd_var gv;
    } kMap[] = {{SVI_NUMDATABYTES, GV_NumOfDataBytes}, {SVI_WIDTHINBYTES, GV_RasterDataWidthInBytes},
        {SVI_HEIGHTINPIXELS, GV_RasterDataHeightInPixels}, {SVI_COPIES, GV_NumOfCopies},
        {SVI_DESTX, GV_DestX}, {SVI_DESTY, GV_DestY}, {SVI_DESTXREL, GV_DestXRel},
        {SVI_DESTYREL, GV_DestYRel}, {SVI_LINEFEEDSPACING, GV_LinefeedSpacing},
        {SVI_PHYSPAPERLENGTH, GV_PhysPaperLength}, {SVI_PHYSPAPERWIDTH, GV_PhysPaperWidth},
        {SVI_TEXTYRES, GV_TextYRes}, {SVI_TEXTXRES, GV_TextXRes},
        {SVI_GRAPHICSYRES, GV_GraphicsYRes}, {SVI_GRAPHICSXRES, GV_GraphicsXRes},
        {SVI_CURSORORIGINX, GV_CursorOriginX}, {SVI_CURSORORIGINY, GV_CursorOriginY},
        {SVI_PAGENUMBER, GV_PageNumber}};
    CorePdev* p = CoreFromDevobj(d);
    if (!p)
        return false;
    gpd_vars v = p->job.vars;
    if (!p->jobOn) {
        // Before the job: what the options make.
        v.v[GV_NumOfCopies] = p->copies;
        v.v[GV_PhysPaperWidth] = p->dev.paper_w;
        v.v[GV_PhysPaperLength] = p->dev.paper_h;
        v.v[GV_GraphicsXRes] = p->dev.dpi_x;
        v.v[GV_GraphicsYRes] = p->dev.dpi_y;
        v.v[GV_TextXRes] = p->dev.text_dpi_x;
        v.v[GV_TextYRes] = p->dev.text_dpi_y;
        v.v[GV_CursorOriginX] = p->dev.cursor_x;
        v.v[GV_CursorOriginY] = p->dev.cursor_y;
    }
    for (const auto& m : kMap)
        if (m.svi == index) {
            *out = v.v[m.gv];
            return true;
        }
    return false;
}

static HRESULT GetStandardVariable(OEM_DEVOBJ* d, DWORD index, PVOID buf, DWORD size, PDWORD needed)
{
    long v = 0;
    if (!StandardVariable(d, index, &v))
        return E_FAIL;
    if (needed)
        *needed = sizeof(DWORD);
    if (!buf || size < sizeof(DWORD))
        return E_FAIL;
    *(DWORD*)buf = (DWORD)v;
    return S_OK;
}

// Copies bytes out as the caller's buffer allows.
static HRESULT GiveBytes(const std::string& bytes, PVOID out, DWORD size, PDWORD needed)
{
    if (needed)
        *needed = (DWORD)bytes.size();
    if (!out || size < bytes.size())
        return E_FAIL; // *needed says how much it takes
    memcpy(out, bytes.data(), bytes.size());
    return S_OK;
}

// A feature keyword of at most 255 characters, read no further than its end.
static bool ShortText(const char* s)
{
    for (int i = 0; i < 256; i++)
        if (!s[i])
            return true;
    return false;
}

static HRESULT DriverSetting(PVOID obj, PCSTR feature, PVOID out, DWORD size, PDWORD needed, PDWORD count)
{
    CorePdev* p = CoreFromDevobj(obj);
    // Small values name the driver's predefined settings (OEMGDS_*), which
    // this core does not keep.
    if (!p || (ULONG_PTR)feature < 0x10000 || !ShortText(feature))
        return E_NOTIMPL;
    int f = gpd_find_feature(&p->doc, feature);
    if (f < 0)
        return E_FAIL;
    std::string name = gpd_chosen(&p->doc, &p->config, feature);
    if (count)
        *count = 1;
    return GiveBytes(name + std::string(1, '\0'), out, size, needed);
}

static HRESULT GpdData(OEM_DEVOBJ* d, DWORD type, PVOID out, DWORD size, PDWORD needed)
{
    CorePdev* p = CoreFromDevobj(d);
    if (!p || type != GPD_OEMCUSTOMDATA)
        return E_NOTIMPL;
    const gpd_entry* e = gpd_lookup(&p->doc, &p->config, p->doc.root, "OEMCustomData");
    for (size_t f = 0; !e && f < p->doc.features.size(); f++)
        e = gpd_option_attr(&p->doc, &p->config, p->doc.features[f].name.c_str(), "OEMCustomData");
    std::string bytes;
    if (!e || !gpd_string(e->value, &bytes))
        return E_FAIL;
    return GiveBytes(bytes, out, size, needed);
}

static DWORD WriteAbort(OEM_DEVOBJ* d, PVOID buf, DWORD size, DWORD wait)
{
    DWORD n = WriteSpool(d, buf, size);
    Sleep(wait < 1000 ? wait : 1000);
    return n;
}

// ---- IPrintOemDriverUni ------------------------------------------------------------

static HRESULT STDMETHODCALLTYPE QueryInterface(TessalOemDriverUni* self, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_TessalOemDriverUni) || IsEqualIID(iid, IID_IUnknown)) {
        *out = self;
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

// The object lives as long as the PDEV, which outlives every plug-in.
static ULONG STDMETHODCALLTYPE AddRef(TessalOemDriverUni*) { return 1; }
static ULONG STDMETHODCALLTYPE Release(TessalOemDriverUni*) { return 1; }

static HRESULT STDMETHODCALLTYPE ComDriverSetting(TessalOemDriverUni*, PVOID obj, PCSTR feature,
    PVOID out, DWORD size, PDWORD needed, PDWORD count)
{
    return DriverSetting(obj, feature, out, size, needed, count);
}

static HRESULT STDMETHODCALLTYPE ComWriteSpoolBuf(
    TessalOemDriverUni*, OEM_DEVOBJ* d, PVOID buf, DWORD size, DWORD* result)
{
    DWORD n = WriteSpool(d, buf, size);
    if (result)
        *result = n;
    return n == size ? S_OK : E_FAIL;
}

static HRESULT STDMETHODCALLTYPE ComXMoveTo(TessalOemDriverUni*, OEM_DEVOBJ* d, INT x, DWORD fl, INT* r)
{
    bool ok;
    INT left = MoveTo(d, true, x, fl, &ok);
    if (r)
        *r = left;
    return ok ? S_OK : E_FAIL;
}

static HRESULT STDMETHODCALLTYPE ComYMoveTo(TessalOemDriverUni*, OEM_DEVOBJ* d, INT y, DWORD fl, INT* r)
{
    bool ok;
    INT left = MoveTo(d, false, y, fl, &ok);
    if (r)
        *r = left;
    return ok ? S_OK : E_FAIL;
}

static HRESULT STDMETHODCALLTYPE ComStandardVariable(
    TessalOemDriverUni*, OEM_DEVOBJ* d, DWORD index, PVOID buf, DWORD size, PDWORD needed)
{
    return GetStandardVariable(d, index, buf, size, needed);
}

static HRESULT STDMETHODCALLTYPE ComGpdData(TessalOemDriverUni*, OEM_DEVOBJ* d, DWORD type, PVOID,
    PVOID buf, DWORD size, PDWORD needed)
{
    return GpdData(d, type, buf, size, needed);
}

static HRESULT STDMETHODCALLTYPE ComTextOut(TessalOemDriverUni*, SURFOBJ*, STROBJ*, FONTOBJ*,
    CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX)
{
    return E_NOTIMPL;
}

static HRESULT STDMETHODCALLTYPE ComWriteAbortBuf(
    TessalOemDriverUni*, OEM_DEVOBJ* d, PVOID buf, DWORD size, DWORD wait)
{
    return WriteAbort(d, buf, size, wait) == size ? S_OK : E_FAIL;
}

static const TessalOemDriverUniVtbl kHelperVtbl = {QueryInterface, AddRef, Release,
    ComDriverSetting, ComWriteSpoolBuf, ComXMoveTo, ComYMoveTo, ComStandardVariable, ComGpdData,
    ComTextOut, ComWriteAbortBuf};

// ---- DRVPROCS ------------------------------------------------------------------------

static DWORD APIENTRY CWriteSpoolBuf(OEM_DEVOBJ* d, PVOID buf, DWORD size)
{
    return WriteSpool(d, buf, size);
}

static INT APIENTRY CXMoveTo(OEM_DEVOBJ* d, INT x, DWORD fl)
{
    bool ok;
    return MoveTo(d, true, x, fl, &ok);
}

static INT APIENTRY CYMoveTo(OEM_DEVOBJ* d, INT y, DWORD fl)
{
    bool ok;
    return MoveTo(d, false, y, fl, &ok);
}

static BOOL APIENTRY CDriverSetting(
    PVOID obj, PCSTR feature, PVOID out, DWORD size, PDWORD needed, PDWORD count)
{
    return DriverSetting(obj, feature, out, size, needed, count) == S_OK;
}

static BOOL APIENTRY CStandardVariable(OEM_DEVOBJ* d, DWORD index, PVOID buf, DWORD size, PDWORD needed)
{
    return GetStandardVariable(d, index, buf, size, needed) == S_OK;
}

static INT APIENTRY CTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*,
    BRUSHOBJ*, POINTL*, MIX)
{
    return 0;
}

static DWORD APIENTRY CWriteAbortBuf(OEM_DEVOBJ* d, PVOID buf, DWORD size, DWORD wait)
{
    return WriteAbort(d, buf, size, wait);
}

void CoreInitHelpers(CorePdev* p)
{
    p->helper.lpVtbl = &kHelperVtbl;
    p->procs.DrvWriteSpoolBuf = CWriteSpoolBuf;
    p->procs.DrvXMoveTo = CXMoveTo;
    p->procs.DrvYMoveTo = CYMoveTo;
    p->procs.DrvGetDriverSetting = CDriverSetting;
    p->procs.BGetStandardVariable = CStandardVariable;
    p->procs.DrvUnidriverTextOut = CTextOut;
    p->procs.DrvWriteAbortBuf = CWriteAbortBuf;
    p->devobj.dwSize = sizeof(OEM_DEVOBJ);
    p->devobj.hPrinter = p->printer;
    p->devobj.hEngine = p->hdev;
    p->devobj.pPublicDM = p->dmCopy.empty() ? NULL : (DEVMODEW*)p->dmCopy.data();
    p->devobj.pDrvProcs = &p->procs;
}
