// img mode through a printer's own rendering DLL: the print tool plays GDI's
// part of the DDI. It enables the driver, its PDEV and surface, starts a RAW
// spooler job whose printer handle the driver writes to (EngWritePrinter is
// WritePrinter for a user-mode driver), and puts each page's pixels onto the
// driver's surface: into an engine-managed bitmap directly, or through the
// driver's hooked DrvCopyBits, DrvBitBlt or DrvStretchBlt.
#include "driver_host.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "page_reader.h"
#include "print_output.h"
#include "strelwick.h"

static const char* BaseName(const char* path)
{
    const char* b = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            b = p + 1;
    return b;
}

int FindOwnDriver(const char* printer, DRIVER_INFO_3A** info)
{
    *info = NULL;
    HANDLE h = NULL;
    if (!printer || !OpenPrinterA((LPSTR)printer, &h, NULL))
        return 0;
    DWORD needed = 0;
    GetPrinterDriverA(h, NULL, 3, NULL, 0, &needed);
    BYTE* buf = needed ? (BYTE*)calloc(1, needed) : NULL;
    int ok = buf && GetPrinterDriverA(h, NULL, 3, buf, needed, &needed);
    ClosePrinter(h);
    DRIVER_INFO_3A* di = (DRIVER_INFO_3A*)buf;
    if (!ok || !di->pDriverPath || _stricmp(BaseName(di->pDriverPath), "wineps.drv") == 0) {
        free(buf);
        return 0;
    }
    *info = di;
    return 1;
}

static void TakeCalls(const DRVENABLEDATA* ded, DriverCalls* c)
{
    memset(c, 0, sizeof(*c));
    for (ULONG i = 0; i < ded->c; i++) {
        PFN fn = ded->pdrvfn[i].pfn;
        switch (ded->pdrvfn[i].iFunc) {
        case INDEX_DrvEnablePDEV:
            c->enablePdev = (PFN_DrvEnablePDEV)(void*)fn;
            break;
        case INDEX_DrvCompletePDEV:
            c->completePdev = (PFN_DrvCompletePDEV)(void*)fn;
            break;
        case INDEX_DrvEnableSurface:
            c->enableSurface = (PFN_DrvEnableSurface)(void*)fn;
            break;
        case INDEX_DrvDisableSurface:
            c->disableSurface = (PFN_DrvDisableSurface)(void*)fn;
            break;
        case INDEX_DrvDisablePDEV:
            c->disablePdev = (PFN_DrvDisablePDEV)(void*)fn;
            break;
        case INDEX_DrvDisableDriver:
            c->disableDriver = (PFN_DrvDisableDriver)(void*)fn;
            break;
        case INDEX_DrvStartDoc:
            c->startDoc = (PFN_DrvStartDoc)(void*)fn;
            break;
        case INDEX_DrvEndDoc:
            c->endDoc = (PFN_DrvEndDoc)(void*)fn;
            break;
        case INDEX_DrvStartPage:
            c->startPage = (PFN_DrvStartPage)(void*)fn;
            break;
        case INDEX_DrvSendPage:
            c->sendPage = (PFN_DrvSendPage)(void*)fn;
            break;
        case INDEX_DrvStartBanding:
            c->startBanding = (PFN_DrvStartBanding)(void*)fn;
            break;
        case INDEX_DrvNextBand:
            c->nextBand = (PFN_DrvNextBand)(void*)fn;
            break;
        case INDEX_DrvCopyBits:
            c->copyBits = (PFN_DrvCopyBits)(void*)fn;
            break;
        case INDEX_DrvBitBlt:
            c->bitBlt = (PFN_DrvBitBlt)(void*)fn;
            break;
        case INDEX_DrvStretchBlt:
            c->stretchBlt = (PFN_DrvStretchBlt)(void*)fn;
            break;
        }
    }
}

// ---- Device mode ---------------------------------------------------------------

static int PrepareDevMode(HostJob* job, const DRIVER_INFO_3A* info)
{
    WCHAR name[256];
    MultiByteToWideChar(CP_ACP, 0, job->printer, -1, name, 256);
    const char* config = info->pConfigFile && info->pConfigFile[0] ? info->pConfigFile : NULL;
    LONG size = 0;
    if (config) {
        // DocumentProperties calls this export unchecked: Wine would crash.
        if (!DllExports(config, "DrvDocumentPropertySheets")) {
            dbg_log("driver: refusing printer %s: its configuration DLL %s does not export "
                    "DrvDocumentPropertySheets\n",
                job->printer, config);
            return 0;
        }
        DriverCallBegin("DrvDocumentPropertySheets");
        size = DocumentPropertiesW(NULL, job->hPrinter, name, NULL, NULL, 0);
        DriverCallEnd();
    }
    LONG alloc = size >= (LONG)sizeof(DEVMODEW) ? size : (LONG)sizeof(DEVMODEW);
    job->devmode = (DEVMODEW*)calloc(1, (size_t)alloc);
    if (!job->devmode) {
        dbg_log("out of memory for the device mode of %s (%d bytes)\n", job->printer, (int)alloc);
        return 0;
    }
    DriverCallBegin("DrvDocumentPropertySheets");
    int fromDriver = size >= (LONG)sizeof(DEVMODEW)
        && DocumentPropertiesW(NULL, job->hPrinter, name, job->devmode, NULL, DM_OUT_BUFFER) > 0;
    DriverCallEnd();
    if (fromDriver) {
        dbg_log("%s,DEVMODE-size=%d, DriverExtralSize=%d\n", job->printer,
            (int)job->devmode->dmSize, (int)job->devmode->dmDriverExtra);
        DumpPrinterCaps(job->devmode->dmFields);
    } else {
        dbg_log("driver: no device mode from the configuration DLL of %s; using a public one\n",
            job->printer);
        memset(job->devmode, 0, (size_t)alloc);
        lstrcpynW(job->devmode->dmDeviceName, name, CCHDEVICENAME);
        job->devmode->dmSpecVersion = DM_SPECVERSION;
        job->devmode->dmSize = sizeof(DEVMODEW);
    }
    return ApplyJobOptionsW(job->hPrinter, job->printer, name, job->devmode, alloc, fromDriver);
}

// ---- Enabling and disabling ------------------------------------------------------

static int EnableDriver(HostJob* job, const DRIVER_INFO_3A* info)
{
    const char* path = info->pDriverPath;
    MultiByteToWideChar(CP_ACP, 0, path, -1, job->device.driverPath, MAX_PATH);
    MultiByteToWideChar(
        CP_ACP, 0, info->pDataFile ? info->pDataFile : "", -1, job->device.dataFile, MAX_PATH);
    DRVENABLEDATA ded;
    DriverCallBegin("DllMain or DrvEnableDriver");
    int enabled = EnableRenderingDll(path, &job->dll, &ded);
    DriverCallEnd();
    if (!enabled)
        return 0;
    TakeCalls(&ded, &job->drv);
    const DriverCalls& d = job->drv;
    if (!d.enablePdev || !d.completePdev || !d.enableSurface || !d.disableSurface || !d.disablePdev
        || !d.startDoc || !d.endDoc || !d.startPage || !d.sendPage) {
        dbg_log("driver: %s lacks one of the DDI calls every printer driver has\n", path);
        return 0;
    }
    return 1;
}

static int EnableDevice(HostJob* job)
{
    WCHAR name[256];
    MultiByteToWideChar(CP_ACP, 0, job->printer, -1, name, 256);
    DriverCallBegin("DrvEnablePDEV");
    job->pdev = job->drv.enablePdev(job->devmode, NULL, HS_DDI_MAX, job->patterns, sizeof(job->gdi),
        &job->gdi, sizeof(job->devinfo), &job->devinfo, (HDEV)&job->device, name, job->hPrinter);
    DriverCallEnd();
    if (!job->pdev) {
        dbg_log("driver: DrvEnablePDEV failed for %s\n", job->printer);
        return 0;
    }
    job->device.pdev = job->pdev;
    job->device.drv = &job->drv;
    job->device.gdi = &job->gdi;
    job->device.devinfo = &job->devinfo;
    DriverCallBegin("DrvCompletePDEV");
    job->drv.completePdev(job->pdev, (HDEV)&job->device);
    DriverCallEnd();
    DriverCallBegin("DrvEnableSurface");
    job->hsurf = job->drv.enableSurface(job->pdev);
    DriverCallEnd();
    job->surf = job->hsurf ? SurfaceOf(job->hsurf) : NULL;
    if (!job->surf) {
        dbg_log("driver: DrvEnableSurface failed for %s\n", job->printer);
        return 0;
    }
    EngSurface* s = job->surf;
    if (!s->so.hdev) {
        s->so.hdev = (HDEV)&job->device;
        s->so.dhpdev = job->pdev;
    }
    int device = s->so.iType != STYPE_BITMAP;
    if (device && !(s->hooks & (HOOK_COPYBITS | HOOK_BITBLT | HOOK_STRETCHBLT))) {
        dbg_log("driver: the device surface of %s hooks none of DrvCopyBits, DrvBitBlt, "
                "DrvStretchBlt\n",
            job->printer);
        return 0;
    }
    if (!device && (!s->so.pvScan0 || !FormatBits(s->so.iBitmapFormat))) {
        dbg_log("driver: the surface of %s has a format this host cannot draw on (%lu)\n",
            job->printer, (unsigned long)s->so.iBitmapFormat);
        return 0;
    }
    if (s->banding && (!job->drv.startBanding || !job->drv.nextBand)) {
        dbg_log("driver: %s marks a banding surface but lacks DrvStartBanding/DrvNextBand\n",
            job->printer);
        return 0;
    }
    dbg_log("driver: page %lux%lu pixels at %lux%lu dpi; %s surface %ldx%ld, %d bpp%s\n",
        job->gdi.ulHorzRes, job->gdi.ulVertRes, job->gdi.ulLogPixelsX, job->gdi.ulLogPixelsY,
        device ? "device" : "engine", s->so.sizlBitmap.cx, s->so.sizlBitmap.cy,
        FormatBits(s->so.iBitmapFormat), s->banding ? ", banding" : "");
    return 1;
}

// Drops a job that failed, so that the spooler sends none of it. Wine's
// AbortPrinter does not: closing the printer handle still ends the document
// and sends what was written. So the handle of a failed job stays open
// until the process ends, which sends nothing.
static void DropSpoolerJob(HostJob* job)
{
    AbortPrinter(job->hPrinter);
    SetJobW(job->hPrinter, job->jobId, 0, NULL, JOB_CONTROL_DELETE);
    job->hPrinter = NULL;
}

// Returns ok, or 0 when finishing the job failed.
static int EndJob(HostJob* job, int ok)
{
    if (job->docStarted) {
        DriverCallBegin("DrvEndDoc");
        if (!job->drv.endDoc(&job->surf->so, ok ? 0 : ED_ABORTDOC) && ok) {
            dbg_log("driver: DrvEndDoc failed\n");
            ok = 0;
        }
        DriverCallEnd();
    }
    if (job->jobId) {
        ok = ok && OutputPageDone();
        if (ok && !EndDocPrinter(job->hPrinter)) {
            dbg_log("driver: the spooler could not finish the job: error %d\n", LastError());
            ok = 0;
        }
        if (!ok)
            DropSpoolerJob(job);
    }
    DriverCallBegin("DrvDisableSurface, DrvDisablePDEV or DrvDisableDriver");
    if (job->hsurf)
        job->drv.disableSurface(job->pdev);
    if (job->pdev)
        job->drv.disablePdev(job->pdev);
    if (job->dll.mod && job->drv.disableDriver)
        job->drv.disableDriver();
    UnloadRenderingDll(&job->dll);
    DriverCallEnd();
    if (job->hPrinter)
        ClosePrinter(job->hPrinter);
    if (job->bandDc) {
        SelectObject(job->bandDc, job->oldBitmap);
        DeleteDC(job->bandDc);
    }
    if (job->bandBitmap)
        DeleteObject(job->bandBitmap);
    free(job->devmode);
    free(job->bandInfo);
    return ok;
}

// Pages until the input ends or a page is bad, as on the GDI path: both end
// the document normally. Returns 0 when the driver failed.
static int PrintPages(HostJob* job)
{
    PageReader* reader = StartPageReader();
    int ok = 1;
    for (;;) {
        unsigned char fileHeader[kFileHeaderSize];
        BmpPage page;
        if (!ReadFileHeader(reader, fileHeader) || !ReadBmpPage(reader, fileHeader, &page))
            break;
        ok = PrintPage(job, &page) && OutputPageDone();
        free(page.dib);
        if (!ok)
            break;
    }
    StopPageReader(reader);
    return ok;
}

int HostPrintImages(const char* printer, const DRIVER_INFO_3A* info)
{
    HostJob job;
    memset(&job, 0, sizeof(job));
    job.printer = printer;
    dbg_log("driver: printing on %s through %s\n", printer, info->pDriverPath);
    if (!OpenPrinterA((LPSTR)printer, &job.hPrinter, NULL)) {
        dbg_log("failed to open printer:%s,error=%d\n", printer, LastError());
        return 0;
    }
    StartDriverWatchdog(job.hPrinter);
    int ok = CheckRenderingDll(info->pDriverPath) && PrepareDevMode(&job, info)
        && EnableDriver(&job, info) && EnableDevice(&job);
    WCHAR docName[256];
    JobDocumentName(docName, 256);
    if (ok) {
        DOC_INFO_1W doc = {docName, NULL, (LPWSTR)L"RAW"};
        job.jobId = StartDocPrinterW(job.hPrinter, 1, (LPBYTE)&doc);
        if (!job.jobId) {
            dbg_log("failed to call StartDoc:%d\n", LastError());
            ok = 0;
        }
    }
    if (ok) {
        DriverCallBegin("DrvStartDoc");
        job.docStarted = job.drv.startDoc(&job.surf->so, docName, job.jobId);
        DriverCallEnd();
        if (!job.docStarted) {
            dbg_log("driver: DrvStartDoc failed\n");
            ok = 0;
        }
    }
    if (ok)
        ok = PrintPages(&job);
    ok = EndJob(&job, ok);
    StopDriverWatchdog();
    return ok;
}
