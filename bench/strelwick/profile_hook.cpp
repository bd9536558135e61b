// Linked into the strelwick-profile builds only: reroutes the tool's own
// imports of StretchDIBits, ReadFile, WaitForSingleObject, EndPage, EndDoc and
// EndDocPrinter through timers before main runs, and at exit writes the wall
// time of the run and the time spent in each to stderr. "read" is the time the
// main thread waits for its input: in ReadFile when it reads the pages itself,
// in WaitForSingleObject when the reader thread reads them. For a hosted
// printer driver it also times every Drv* call the host makes: the tool's
// GetProcAddress hands out a DrvEnableDriver that puts timing wrappers into the
// driver's function table. The production sources know nothing of it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <winddi.h>

#include "pe_imports.h"

static LARGE_INTEGER g_start, g_stretch, g_read, g_end, g_drv;
static void* g_realGetProcAddress;
static void* g_realEnableDriver;
static void* g_realStretch;
static void* g_realRead;
static void* g_realWait;
static DWORD g_mainThread;
static void* g_realEndPage;
static void* g_realEndDoc;
static void* g_realEndDocPrinter;

static LONGLONG Now(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

typedef int(WINAPI* StretchFn)(
    HDC, int, int, int, int, int, int, int, int, const void*, const BITMAPINFO*, UINT, DWORD);
typedef BOOL(WINAPI* ReadFn)(HANDLE, void*, DWORD, DWORD*, OVERLAPPED*);
typedef DWORD(WINAPI* WaitFn)(HANDLE, DWORD);
typedef int(WINAPI* DcFn)(HDC);

static int WINAPI TimedStretch(HDC dc, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
    const void* bits, const BITMAPINFO* bmi, UINT usage, DWORD rop)
{
    LONGLONG a = Now();
    int r = ((StretchFn)g_realStretch)(dc, x, y, w, h, sx, sy, sw, sh, bits, bmi, usage, rop);
    g_stretch.QuadPart += Now() - a;
    return r;
}

static BOOL WINAPI TimedRead(HANDLE h, void* buf, DWORD n, DWORD* got, OVERLAPPED* ov)
{
    LONGLONG a = Now();
    BOOL r = ((ReadFn)g_realRead)(h, buf, n, got, ov);
    if (GetCurrentThreadId() == g_mainThread)
        g_read.QuadPart += Now() - a;
    return r;
}

static DWORD WINAPI TimedWait(HANDLE h, DWORD ms)
{
    LONGLONG a = Now();
    DWORD r = ((WaitFn)g_realWait)(h, ms);
    if (GetCurrentThreadId() == g_mainThread)
        g_read.QuadPart += Now() - a;
    return r;
}

static int WINAPI TimedEndPage(HDC dc)
{
    LONGLONG a = Now();
    int r = ((DcFn)g_realEndPage)(dc);
    g_end.QuadPart += Now() - a;
    return r;
}

static int WINAPI TimedEndDoc(HDC dc)
{
    LONGLONG a = Now();
    int r = ((DcFn)g_realEndDoc)(dc);
    g_end.QuadPart += Now() - a;
    return r;
}

// ---- Drv* timing -------------------------------------------------------------

// Each Drv* call the host makes, wrapped with a timer. Drv* calls never nest.
#define TIMED(ret, name, params, args)                                                             \
    static PFN g_realDrv##name;                                                                    \
    static ret APIENTRY TimedDrv##name params                                                      \
    {                                                                                              \
        LONGLONG a = Now();                                                                        \
        ret result_ = ((PFN_Drv##name)(void*)g_realDrv##name)args;                                 \
        g_drv.QuadPart += Now() - a;                                                               \
        return result_;                                                                            \
    }
#define TIMED_VOID(name, params, args)                                                             \
    static PFN g_realDrv##name;                                                                    \
    static VOID APIENTRY TimedDrv##name params                                                     \
    {                                                                                              \
        LONGLONG a = Now();                                                                        \
        ((PFN_Drv##name)(void*)g_realDrv##name) args;                                              \
        g_drv.QuadPart += Now() - a;                                                               \
    }

TIMED(DHPDEV, EnablePDEV,
    (DEVMODEW * dm, LPWSTR log, ULONG cPat, HSURF* pat, ULONG cjCaps, GDIINFO* caps, ULONG cjDev,
        DEVINFO* dev, HDEV hdev, LPWSTR name, HANDLE drv),
    (dm, log, cPat, pat, cjCaps, caps, cjDev, dev, hdev, name, drv))
TIMED_VOID(CompletePDEV, (DHPDEV p, HDEV h), (p, h))
TIMED(HSURF, EnableSurface, (DHPDEV p), (p))
TIMED_VOID(DisableSurface, (DHPDEV p), (p))
TIMED_VOID(DisablePDEV, (DHPDEV p), (p))
TIMED_VOID(DisableDriver, (VOID), ())
TIMED(BOOL, StartDoc, (SURFOBJ * so, LPWSTR doc, DWORD job), (so, doc, job))
TIMED(BOOL, EndDoc, (SURFOBJ * so, FLONG fl), (so, fl))
TIMED(BOOL, StartPage, (SURFOBJ * so), (so))
TIMED(BOOL, SendPage, (SURFOBJ * so), (so))
TIMED(BOOL, StartBanding, (SURFOBJ * so, POINTL* p), (so, p))
TIMED(BOOL, NextBand, (SURFOBJ * so, POINTL* p), (so, p))
TIMED(BOOL, CopyBits, (SURFOBJ * d, SURFOBJ* s, CLIPOBJ* c, XLATEOBJ* x, RECTL* r, POINTL* p),
    (d, s, c, x, r, p))
TIMED(BOOL, BitBlt,
    (SURFOBJ * d, SURFOBJ* s, SURFOBJ* m, CLIPOBJ* c, XLATEOBJ* x, RECTL* r, POINTL* p, POINTL* pm,
        BRUSHOBJ* b, POINTL* pb, ROP4 rop),
    (d, s, m, c, x, r, p, pm, b, pb, rop))
TIMED(BOOL, StretchBlt,
    (SURFOBJ * d, SURFOBJ* s, SURFOBJ* m, CLIPOBJ* c, XLATEOBJ* x, COLORADJUSTMENT* ca, POINTL* ho,
        RECTL* rd, RECTL* rs, POINTL* pm, ULONG mode),
    (d, s, m, c, x, ca, ho, rd, rs, pm, mode))

static const struct {
    ULONG index;
    PFN* real;
    PFN timed;
} kTimed[] = {
    {INDEX_DrvEnablePDEV, &g_realDrvEnablePDEV, (PFN)(void*)TimedDrvEnablePDEV},
    {INDEX_DrvCompletePDEV, &g_realDrvCompletePDEV, (PFN)(void*)TimedDrvCompletePDEV},
    {INDEX_DrvEnableSurface, &g_realDrvEnableSurface, (PFN)(void*)TimedDrvEnableSurface},
    {INDEX_DrvDisableSurface, &g_realDrvDisableSurface, (PFN)(void*)TimedDrvDisableSurface},
    {INDEX_DrvDisablePDEV, &g_realDrvDisablePDEV, (PFN)(void*)TimedDrvDisablePDEV},
    {INDEX_DrvDisableDriver, &g_realDrvDisableDriver, (PFN)(void*)TimedDrvDisableDriver},
    {INDEX_DrvStartDoc, &g_realDrvStartDoc, (PFN)(void*)TimedDrvStartDoc},
    {INDEX_DrvEndDoc, &g_realDrvEndDoc, (PFN)(void*)TimedDrvEndDoc},
    {INDEX_DrvStartPage, &g_realDrvStartPage, (PFN)(void*)TimedDrvStartPage},
    {INDEX_DrvSendPage, &g_realDrvSendPage, (PFN)(void*)TimedDrvSendPage},
    {INDEX_DrvStartBanding, &g_realDrvStartBanding, (PFN)(void*)TimedDrvStartBanding},
    {INDEX_DrvNextBand, &g_realDrvNextBand, (PFN)(void*)TimedDrvNextBand},
    {INDEX_DrvCopyBits, &g_realDrvCopyBits, (PFN)(void*)TimedDrvCopyBits},
    {INDEX_DrvBitBlt, &g_realDrvBitBlt, (PFN)(void*)TimedDrvBitBlt},
    {INDEX_DrvStretchBlt, &g_realDrvStretchBlt, (PFN)(void*)TimedDrvStretchBlt},
};

static DRVFN g_timedFunctions[INDEX_LAST];

static BOOL APIENTRY TimedEnableDriver(ULONG version, ULONG cj, DRVENABLEDATA* ded)
{
    BOOL ok = ((PFN_DrvEnableDriver)g_realEnableDriver)(version, cj, ded);
    if (!ok || !ded || !ded->pdrvfn || ded->c > INDEX_LAST)
        return ok;
    for (ULONG i = 0; i < ded->c; i++) {
        g_timedFunctions[i] = ded->pdrvfn[i];
        for (const auto& t : kTimed)
            if (t.index == ded->pdrvfn[i].iFunc) {
                *t.real = ded->pdrvfn[i].pfn;
                g_timedFunctions[i].pfn = t.timed;
            }
    }
    ded->pdrvfn = g_timedFunctions;
    return ok;
}

static FARPROC WINAPI TimedGetProcAddress(HMODULE mod, LPCSTR name)
{
    FARPROC fn = ((FARPROC(WINAPI*)(HMODULE, LPCSTR))g_realGetProcAddress)(mod, name);
    if (fn && (UINT_PTR)name > 0xFFFF && strcmp(name, "DrvEnableDriver") == 0) {
        g_realEnableDriver = (void*)fn;
        return (FARPROC)(void*)TimedEnableDriver;
    }
    return fn;
}

static BOOL WINAPI TimedEndDocPrinter(HANDLE printer)
{
    LONGLONG a = Now();
    BOOL r = ((BOOL(WINAPI*)(HANDLE))g_realEndDocPrinter)(printer);
    g_end.QuadPart += Now() - a;
    return r;
}

static int Reroute(void*, const ImportSlot* imp)
{
    static const struct {
        const char* name;
        void** real;
        void* timed;
    } hooks[] = {
        {"StretchDIBits", &g_realStretch, (void*)TimedStretch},
        {"ReadFile", &g_realRead, (void*)TimedRead},
        {"WaitForSingleObject", &g_realWait, (void*)TimedWait},
        {"EndPage", &g_realEndPage, (void*)TimedEndPage},
        {"EndDoc", &g_realEndDoc, (void*)TimedEndDoc},
        {"EndDocPrinter", &g_realEndDocPrinter, (void*)TimedEndDocPrinter},
        {"GetProcAddress", &g_realGetProcAddress, (void*)TimedGetProcAddress},
    };
    for (const auto& h : hooks)
        if (imp->name && strcmp(imp->name, h.name) == 0 && !*h.real) {
            *h.real = *imp->slot;
            WriteImportSlot(imp->slot, h.timed);
        }
    return 1;
}

static void Report(void)
{
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    double f = (double)freq.QuadPart;
    fprintf(stderr, "profile: wall=%.6f stretchdibits=%.6f read=%.6f end=%.6f drv=%.6f\n",
        (Now() - g_start.QuadPart) / f, g_stretch.QuadPart / f, g_read.QuadPart / f,
        g_end.QuadPart / f, g_drv.QuadPart / f);
}

__attribute__((constructor)) static void ProfileStart(void)
{
    QueryPerformanceCounter(&g_start);
    g_mainThread = GetCurrentThreadId();
    ForEachImport(GetModuleHandleA(NULL), Reroute, NULL);
    atexit(Report);
}
