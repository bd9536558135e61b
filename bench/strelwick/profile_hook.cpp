// Linked into strelwick-profile.exe only: reroutes the tool's own imports of
// StretchDIBits, fread, EndPage and EndDoc through timers before main runs,
// and at exit writes the wall time of the run and the time spent in each to
// stderr. The production sources know nothing of it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pe_imports.h"

static LARGE_INTEGER g_start, g_stretch, g_read, g_end;
static void* g_realStretch;
static void* g_realRead;
static void* g_realEndPage;
static void* g_realEndDoc;

static LONGLONG Now(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

typedef int(WINAPI* StretchFn)(
    HDC, int, int, int, int, int, int, int, int, const void*, const BITMAPINFO*, UINT, DWORD);
typedef size_t (*ReadFn)(void*, size_t, size_t, FILE*);
typedef int(WINAPI* DcFn)(HDC);

static int WINAPI TimedStretch(HDC dc, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
    const void* bits, const BITMAPINFO* bmi, UINT usage, DWORD rop)
{
    LONGLONG a = Now();
    int r = ((StretchFn)g_realStretch)(dc, x, y, w, h, sx, sy, sw, sh, bits, bmi, usage, rop);
    g_stretch.QuadPart += Now() - a;
    return r;
}

static size_t TimedRead(void* buf, size_t size, size_t n, FILE* f)
{
    LONGLONG a = Now();
    size_t r = ((ReadFn)g_realRead)(buf, size, n, f);
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

static int Reroute(void*, const ImportSlot* imp)
{
    static const struct {
        const char* name;
        void** real;
        void* timed;
    } hooks[] = {
        {"StretchDIBits", &g_realStretch, (void*)TimedStretch},
        {"fread", &g_realRead, (void*)TimedRead},
        {"EndPage", &g_realEndPage, (void*)TimedEndPage},
        {"EndDoc", &g_realEndDoc, (void*)TimedEndDoc},
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
    fprintf(stderr, "profile: wall=%.6f stretchdibits=%.6f read=%.6f end=%.6f\n",
        (Now() - g_start.QuadPart) / f, g_stretch.QuadPart / f, g_read.QuadPart / f,
        g_end.QuadPart / f);
}

__attribute__((constructor)) static void ProfileStart(void)
{
    QueryPerformanceCounter(&g_start);
    ForEachImport(GetModuleHandleA(NULL), Reroute, NULL);
    atexit(Report);
}
