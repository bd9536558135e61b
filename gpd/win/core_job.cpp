// Documents, pages and bands: the host draws each band of the page onto our
// surface, and each band's rows go to the raster printer, whose bytes go
// out with WritePrinter on the printer handle (or to the plug-in that takes
// the output).  A failure ends the job with one line in the log.
#include "core.h"

static CorePdev* Of(SURFOBJ* so)
{
    CorePdev* p = so ? (CorePdev*)so->dhpdev : NULL;
    return p && p->magic == CORE_MAGIC ? p : NULL;
}

bool CoreWrite(CorePdev* p, const void* data, size_t len)
{
    const char* at = (const char*)data;
    while (len) {
        DWORD n = len > (1u << 30) ? (1u << 30) : (DWORD)len, written = 0;
        if (p->writer >= 0) {
            // The plug-in gets a copy: its method takes a writable buffer.
            p->scratch.assign(at, at + n);
            TessalOemUni* u = p->plugins[p->writer].uni;
            CoreSelect(p, p->writer);
            if (u->lpVtbl->WritePrinter(u, &p->devobj, p->scratch.data(), n, &written) != S_OK
                || written != n)
                return false;
        } else if (!WritePrinter(p->printer, (void*)at, n, &written) || written != n) {
            return false;
        }
        at += n;
        len -= n;
    }
    return true;
}

static bool Sink(void* ctx, const char* data, size_t len)
{
    CorePdev* p = (CorePdev*)ctx;
    if (p->capturing)
        p->pageCopy.append(data, len);
    return CoreWrite(p, data, len);
}

BOOL APIENTRY CoreStartDoc(SURFOBJ* so, LPWSTR, DWORD)
{
    CorePdev* p = Of(so);
    if (!p || p->failed)
        return FALSE;
    if (p->jobOn)
        return TRUE;
    p->docStarted = true;
    if (!p->early.empty() && !CoreWrite(p, p->early.data(), p->early.size()))
        return CoreFail(p, "the printer data could not be written");
    p->early.clear();
    p->job = gpd_job();
    p->job.plugin = &p->hooks;
    p->jobOn = true;
    std::string err;
    if (!gpd_job_start(&p->job, &p->doc, &p->config, p->copies, Sink, p, &err))
        return CoreFail(p, err);
    return TRUE;
}

BOOL APIENTRY CoreStartPage(SURFOBJ* so)
{
    CorePdev* p = Of(so);
    if (!p || p->failed)
        return FALSE;
    if (!p->jobOn)
        return CoreFail(p, "a page before the document started (a plug-in's DrvStartDoc hook "
                           "did not call the core's)");
    std::string err;
    if (p->repeatPages) {
        // What plug-ins wrote between pages goes out now: the copies hold the page alone.
        if (!p->job.out.empty() && !CoreWrite(p, p->job.out.data(), p->job.out.size()))
            return CoreFail(p, "the printer data could not be written");
        p->job.out.clear();
        p->pageCopy.clear();
        p->capturing = true;
    }
    if (!gpd_page_start(&p->job, CorePageBpp(p), &err))
        return CoreFail(p, err);
    p->pageOn = true;
    p->bandTop = 0;
    return TRUE;
}

static BOOL EndPage(CorePdev* p)
{
    std::string err;
    p->pageOn = false;
    if (!gpd_page_end(&p->job, &err))
        return CoreFail(p, err);
    p->capturing = false;
    // The printer makes no copies of its own (no command names NumOfCopies).
    for (long c = 1; p->repeatPages && c < p->copies; c++)
        if (!CoreWrite(p, p->pageCopy.data(), p->pageCopy.size()))
            return CoreFail(p, "the printer data could not be written");
    return TRUE;
}

BOOL APIENTRY CoreStartBanding(SURFOBJ* so, POINTL* ptl)
{
    CorePdev* p = Of(so);
    if (!p || p->failed || !p->pageOn || !ptl)
        return FALSE;
    p->bandTop = 0;
    ptl->x = ptl->y = 0;
    return TRUE;
}

BOOL APIENTRY CoreNextBand(SURFOBJ* so, POINTL* ptl)
{
    CorePdev* p = Of(so);
    if (!p || p->failed || !p->pageOn || !ptl)
        return FALSE;
    long left = p->dev.bitmap_h - p->bandTop;
    long rows = left < p->bandRows ? left : p->bandRows;
    std::string err;
    if (rows > 0 && !CoreSendBand(p, so, p->bandTop, rows, &err))
        return CoreFail(p, err);
    p->bandTop += rows;
    if (p->bandTop < p->dev.bitmap_h) {
        ptl->x = 0;
        ptl->y = p->bandTop;
        return TRUE;
    }
    ptl->x = ptl->y = -1;
    return EndPage(p);
}

BOOL APIENTRY CoreSendPage(SURFOBJ* so)
{
    // Pages end with their last band; a page that never banded is blank.
    CorePdev* p = Of(so);
    if (!p || p->failed)
        return FALSE;
    return p->pageOn ? EndPage(p) : TRUE;
}

BOOL APIENTRY CoreEndDoc(SURFOBJ* so, FLONG fl)
{
    CorePdev* p = Of(so);
    if (!p)
        return FALSE;
    bool on = p->jobOn;
    p->jobOn = p->pageOn = false;
    if (!on)
        return !p->failed;
    if (p->failed || (fl & ED_ABORTDOC)) {
        p->job.out.clear(); // an ended job sends nothing more
        return !p->failed;
    }
    std::string err;
    if (!gpd_job_end(&p->job, &err))
        return CoreFail(p, err);
    return TRUE;
}
