// Streaming the printer data: a "|cat" port's output is our stdout, so the
// driver's writes go there as they come instead of into the spool file.
#include "print_output.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winspool.h>

#include "pe_imports.h"
#include "strelwick.h"

static const char kStdoutPort[] = "|cat";

// Bounds the memory a held page takes; past it the page streams on.
static const DWORD kOutputHoldLimit = 64u << 20;

struct OutputStream {
    HANDLE out; // NULL: not streaming
    unsigned long long written;
    int failed;
    int holding; // pages are held until they are done
    BYTE* held;
    DWORD heldLen, heldCap;
};

static OutputStream g_stream;

static int PortIsStdout(const char* printer)
{
    HANDLE h = NULL;
    if (!printer || !OpenPrinterA((LPSTR)printer, &h, NULL))
        return 0;
    DWORD needed = 0;
    GetPrinterA(h, 2, NULL, 0, &needed);
    BYTE* buf = needed ? (BYTE*)calloc(1, needed) : NULL;
    int ok = buf && GetPrinterA(h, 2, buf, needed, &needed);
    ClosePrinter(h);
    const PRINTER_INFO_2A* pi = (const PRINTER_INFO_2A*)buf;
    int cat = ok && pi->pPortName && strcmp(pi->pPortName, kStdoutPort) == 0;
    free(buf);
    return cat;
}

int StartOutputStream(const char* printer)
{
#ifdef STRELWICK_SPOOLED
    // Bench build: all of the data through the spool file, as before.
    (void)printer;
    return 0;
#endif
    if (g_stream.out)
        return 1;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE || !PortIsStdout(printer))
        return 0;
    g_stream.out = out;
    return 1;
}

void* StreamedImport(const char* dll, const char* name)
{
    if (!name || strcmp(name, "WritePrinter") != 0)
        return NULL;
    if (_stricmp(dll, "winspool.drv") != 0 && _stricmp(dll, "winspool") != 0)
        return NULL;
    return (void*)OutputWritePrinter;
}

struct Rebind {
    int count;
};

static int RebindOne(void* ctx, const ImportSlot* imp)
{
    void* own = StreamedImport(imp->dll, imp->name);
    if (own && WriteImportSlot(imp->slot, own))
        ((Rebind*)ctx)->count++;
    return 1;
}

int StreamModuleOutput(HMODULE mod)
{
    Rebind r = {0};
    if (mod)
        ForEachImport(mod, RebindOne, &r);
    return r.count;
}

// The cause of a failed write, as a person reads it.
static void DescribeError(DWORD err, char* out, size_t size)
{
    switch (err) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        snprintf(out, size, "no space left on device");
        break;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        snprintf(out, size, "the reader has gone (broken pipe)");
        break;
    default:
        snprintf(out, size, "Windows error %lu", (unsigned long)err);
    }
}

// Where the data was going, for the message.
static void DescribePlace(char* out, size_t size)
{
    if (g_stream.out) {
        snprintf(out, size, "the print tool's output (stdout)");
        return;
    }
    char dir[MAX_PATH] = "";
    GetSystemDirectoryA(dir, sizeof(dir));
    snprintf(out, size, "the spooler's file in %s\\spool\\printers", dir);
}

static BOOL Fail(DWORD err)
{
    if (!g_stream.failed) {
        char cause[64], place[MAX_PATH + 64];
        DescribeError(err, cause, sizeof(cause));
        DescribePlace(place, sizeof(place));
        dbg_log("printer data: cannot write to %s after %llu bytes: %s; the job ends\n", place,
            g_stream.written, cause);
    }
    g_stream.failed = 1;
    SetLastError(err);
    return FALSE;
}

static BOOL WriteOut(const BYTE* p, DWORD left)
{
    while (left > 0) {
        DWORD n = 0;
        if (!WriteFile(g_stream.out, p, left, &n, NULL))
            return Fail(GetLastError());
        if (n == 0)
            return Fail(ERROR_DISK_FULL);
        p += n;
        left -= n;
        g_stream.written += n;
    }
    return TRUE;
}

// Keeps the bytes with the page; 0 when they do not fit under the limit.
static int Hold(const BYTE* p, DWORD size)
{
    if (size > kOutputHoldLimit - g_stream.heldLen)
        return 0;
    DWORD need = g_stream.heldLen + size;
    if (need > g_stream.heldCap) {
        DWORD cap = g_stream.heldCap ? g_stream.heldCap : 1u << 16;
        while (cap < need)
            cap = cap > kOutputHoldLimit / 2 ? kOutputHoldLimit : cap * 2;
        BYTE* grown = (BYTE*)realloc(g_stream.held, cap);
        if (!grown)
            return 0;
        g_stream.held = grown;
        g_stream.heldCap = cap;
    }
    memcpy(g_stream.held + g_stream.heldLen, p, size);
    g_stream.heldLen = need;
    return 1;
}

static BOOL SendHeld(void)
{
    DWORD n = g_stream.heldLen;
    g_stream.heldLen = 0;
    return n ? WriteOut(g_stream.held, n) : TRUE;
}

BOOL WINAPI OutputWritePrinter(HANDLE printer, LPVOID data, DWORD size, LPDWORD written)
{
    if (written)
        *written = 0;
    if (g_stream.failed)
        return Fail(ERROR_CANCELLED);
    if (!g_stream.out) {
        DWORD n = 0;
        if (!WritePrinter(printer, data, size, &n) || n != size)
            return Fail(GetLastError() ? GetLastError() : ERROR_DISK_FULL);
        g_stream.written += n;
        if (written)
            *written = n;
        return TRUE;
    }
    const BYTE* p = (const BYTE*)data;
    if (!(g_stream.holding && Hold(p, size)) && !(SendHeld() && WriteOut(p, size)))
        return FALSE;
    if (written)
        *written = size;
    return TRUE;
}

void OutputHoldPages(void)
{
    g_stream.holding = 1;
}

int OutputPageDone(void)
{
    if (g_stream.out && !g_stream.failed)
        SendHeld();
    return !g_stream.failed;
}

int OutputFailed(void)
{
    return g_stream.failed;
}
