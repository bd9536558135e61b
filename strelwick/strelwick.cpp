// strelwick: prints onto a Windows printer through the spooler and GDI.
//
//   strelwick.exe img [ignored] [printer]        BMP pages from stdin (printer: MODEL)
//   strelwick.exe emf <file> [printer]           play an EMF file on one page
//   strelwick.exe emf <file> <printer> <type>    hand the file to the spooler as is
//   strelwick.exe rect|poly [printer]            test pages: a square, a star
//   strelwick.exe text [printer] [text]          test page: one line of text
//
// Exit code: 1 on success, 0 on failure or an unknown mode, -1 without a mode.
// stdout carries printer data (a "|cat" port writes there), so every message
// goes to stderr.
#include <windows.h>
#include <winspool.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dib_layout.h"

static const char kDefaultPrinter[] = "Vodidez VUZA Converter";
static const LONG kPublicDevModeSize = 156;
static const short kCopies = 3;
// Exit code of a process that died of an unhandled exception.
static const UINT kCrashExitCode = 3;

static_assert(sizeof(DEVMODEA) == 156, "public DEVMODEA is 156 bytes in a 32-bit build");
static_assert(sizeof(DOCINFOA) == 20, "DOCINFOA is 20 bytes in a 32-bit build");
static_assert(sizeof(ENHMETAHEADER) * 5 == 540, "header buffer holds 5 records");

static const char* const g_dms[30] = {"DM_ORIENTATION", "DM_PAPERSIZE", "DM_PAPERLENGTH",
    "DM_PAPERWIDTH", "DM_SCALE", "DM_POSITION", "DM_NUP", "DM_DISPLAYORIENTATION", "DM_COPIES",
    "DM_DEFAULTSOURCE", "DM_PRINTQUALITY", "DM_COLOR", "DM_DUPLEX", "DM_YRESOLUTION", "DM_TTOPTION",
    "DM_COLLATE", "DM_FORMNAME", "DM_LOGPIXELS", "DM_BITSPERPEL", "DM_PELSWIDTH", "DM_PELSHEIGHT",
    "DM_DISPLAYFLAGS", "DM_DISPLAYFREQUENCY", "DM_ICMMETHOD", "DM_ICMINTENT", "DM_MEDIATYPE",
    "DM_DITHERTYPE", "DM_PANNINGWIDTH", "DM_PANNINGHEIGHT", "DM_DISPLAYFIXEDOUTPUT"};

static const POINT g_starPoints[11] = {{495, 55}, {514, 55}, {520, 40}, {526, 55}, {550, 55},
    {530, 65}, {540, 85}, {520, 72}, {500, 85}, {510, 65}, {495, 55}};

__attribute__((format(printf, 1, 2))) static void dbg_log(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fflush(stderr);
}

#ifdef STRELWICK_PROFILE
// Bench build only: wall time of the run and the parts of it spent in
// StretchDIBits, in reading stdin and in EndPage/EndDoc, written to stderr
// when the process ends.
static LARGE_INTEGER g_profStart, g_profStretch, g_profRead, g_profEnd;

static void ProfileReport(void)
{
    LARGE_INTEGER end, freq;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&freq);
    double f = (double)freq.QuadPart;
    fprintf(stderr, "profile: wall=%.6f stretchdibits=%.6f read=%.6f end=%.6f\n",
        (end.QuadPart - g_profStart.QuadPart) / f, g_profStretch.QuadPart / f,
        g_profRead.QuadPart / f, g_profEnd.QuadPart / f);
}

static void ProfileStart(void)
{
    QueryPerformanceCounter(&g_profStart);
    atexit(ProfileReport);
}

#define PROFILED(counter, call)                                                                    \
    ({                                                                                             \
        LARGE_INTEGER a_, b_;                                                                      \
        QueryPerformanceCounter(&a_);                                                              \
        auto r_ = (call);                                                                          \
        QueryPerformanceCounter(&b_);                                                              \
        counter.QuadPart += b_.QuadPart - a_.QuadPart;                                             \
        r_;                                                                                        \
    })
#define StretchDIBits(...) PROFILED(g_profStretch, (StretchDIBits)(__VA_ARGS__))
#define fread(...) PROFILED(g_profRead, (fread)(__VA_ARGS__))
#define EndPage(...) PROFILED(g_profEnd, (EndPage)(__VA_ARGS__))
#define EndDoc(...) PROFILED(g_profEnd, (EndDoc)(__VA_ARGS__))
#else
static void ProfileStart(void) { }
#endif

static int LastError(void)
{
    return (int)GetLastError();
}

// A crash must not start a debugger that writes its report onto stdout,
// which is printer data: write one line to stderr and end with a fixed code.
static LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info)
{
    char line[96];
    DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0;
    int n = snprintf(
        line, sizeof(line), "strelwick: unhandled exception 0x%08lx\n", (unsigned long)code);
    DWORD written = 0;
    if (n > 0)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)n, &written, NULL);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

static void InstallCrashGuard(void)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(CrashFilter);
}

// ---------------------------------------------------------------------------
// Printer DC setup

enum DevModeAdjust { ADJUST_COPIES, ADJUST_PAGE_OPTIONS };

static void DumpPrinterCaps(DWORD flags)
{
    for (int i = 0; i < 30; i++) {
        DWORD mask = (DWORD)1 << i;
        if (flags & mask)
            dbg_log("\t%s\n", g_dms[i]);
    }
}

// Copies rule: a driver that reports DM_COPIES prints these documents 3 times.
static void ApplyCopies(HANDLE hPrinter, LPSTR szPrinterName, DEVMODEA* modeOut)
{
    if (!(modeOut->dmFields & DM_COPIES))
        return;
    modeOut->dmCopies = kCopies;
    modeOut->dmFields |= DM_COPIES;
    DocumentPropertiesA(
        NULL, hPrinter, szPrinterName, modeOut, modeOut, DM_IN_BUFFER | DM_OUT_BUFFER);
}

// PAGESIZE and DPI from the job's environment. A present variable sets its
// fields even when empty; an absent one leaves the driver's values.
static void ApplyPageOptions(DEVMODEA* modeOut)
{
    const char* pageSize = getenv("PAGESIZE");
    if (pageSize) {
        modeOut->dmPaperSize = (short)atoi(pageSize);
        modeOut->dmFields |= DM_PAPERSIZE;
    }
    const char* dpi = getenv("DPI");
    if (dpi) {
        const char* x = strchr(dpi, 'x');
        modeOut->dmPrintQuality = (short)atoi(dpi);
        modeOut->dmYResolution = x ? (short)atoi(x + 1) : 0;
        modeOut->dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;
    }
}

// Opens the printer, fetches and adjusts its device mode, creates the printer
// DC and starts a document on it. Returns the DC, or NULL after logging why.
static HDC StartPrinterDoc(LPSTR szPrinterName, DevModeAdjust adjust)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(szPrinterName, &hPrinter, NULL)) {
        dbg_log("failed to open printer:%s,error=%d\n", szPrinterName, LastError());
        return NULL;
    }
    LONG modeSize = DocumentPropertiesA(NULL, hPrinter, szPrinterName, NULL, NULL, 0);
    if (modeSize < kPublicDevModeSize) {
        ClosePrinter(hPrinter);
        dbg_log("faile to call DocumentProperties(%s), error=%d\n", szPrinterName, LastError());
        return NULL;
    }
    dbg_log("%s,DEVMODE-size=%d, DriverExtralSize=%d\n", szPrinterName, (int)kPublicDevModeSize,
        (int)(modeSize - kPublicDevModeSize));
    DEVMODEA* modeOut = (DEVMODEA*)calloc(1, (size_t)modeSize);
    if (!modeOut) {
        ClosePrinter(hPrinter);
        dbg_log(
            "out of memory for the device mode of %s (%d bytes)\n", szPrinterName, (int)modeSize);
        return NULL;
    }
    if (DocumentPropertiesA(NULL, hPrinter, szPrinterName, modeOut, NULL, DM_OUT_BUFFER))
        DumpPrinterCaps(modeOut->dmFields);
    else
        dbg_log("failed to call DocumentProperties(%s),error=%d\n", szPrinterName, LastError());
    if (adjust == ADJUST_COPIES)
        ApplyCopies(hPrinter, szPrinterName, modeOut);
    else
        ApplyPageOptions(modeOut);
    ClosePrinter(hPrinter);

    HDC hdc = CreateDCA(NULL, szPrinterName, NULL, modeOut);
    if (!hdc) {
        dbg_log("failed to CreateDC:%d\n", LastError());
        return NULL;
    }
    if (adjust == ADJUST_PAGE_OPTIONS)
        dbg_log("CreateDC got hdc=%08x\n", (unsigned)(UINT_PTR)hdc);
    DOCINFOA DocInfo;
    memset(&DocInfo, 0, sizeof(DocInfo));
    DocInfo.cbSize = sizeof(DocInfo);
    DocInfo.lpszDocName = "My Document";
    DocInfo.lpszOutput = NULL;
    DocInfo.lpszDatatype = "RAW";
    DocInfo.fwType = 0;
    if (StartDocA(hdc, &DocInfo) <= 0) {
        dbg_log("failed to call StartDoc:%d\n", LastError());
        return NULL;
    }
    return hdc;
}

// Starts a page; on failure the document is ended first.
static int StartPrinterPage(HDC hdc)
{
    if (StartPage(hdc) > 0)
        return 1;
    EndDoc(hdc);
    dbg_log("failed to call StartPage:%d\n", LastError());
    return 0;
}

// ---------------------------------------------------------------------------
// BMP page stream

enum { kFileHeaderSize = 14, kBmpMagic = 0x4D42 };

static uint32_t ReadLe32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void LogDibHeader(const DibHeader* h)
{
    dbg_log("size-(%d*%d), plane:%d, bpp:%d, compress:%d\n"
            "                    pixel size:0x%x, resolution-(%d*%d), color-(%d,%d)\n",
        (int)h->biWidth, (int)h->biHeight, (int)h->biPlanes, (int)h->biBitCount,
        (int)h->biCompression, (unsigned)h->biSizeImage, (int)h->biXPelsPerMeter,
        (int)h->biYPelsPerMeter, (int)h->biClrUsed, (int)h->biClrImportant);
}

// Checks that the page buffer holds what its header describes, so that
// neither we nor StretchDIBits read past it. Returns 1 when it does.
static int CheckPageBuffer(
    const unsigned char* pDIB, uint32_t size, DibHeader* hdr, uint64_t* pixelOffset)
{
    uint64_t needed = 0;
    DibCheck check = DibCheckPage(pDIB, size, hdr, pixelOffset, &needed);
    switch (check) {
    case DIB_OK:
        LogDibHeader(hdr);
        return 1;
    case DIB_HEADER_TOO_SMALL:
        dbg_log("unsupported BMP file header.\n");
        return 0;
    case DIB_NO_HEADER:
        dbg_log("BMP file too short for its header: %lu of %llu bytes\n", (unsigned long)size,
            (unsigned long long)needed);
        return 0;
    case DIB_BAD_HEIGHT:
        LogDibHeader(hdr);
        dbg_log("BMP height out of range: %d\n", (int)hdr->biHeight);
        return 0;
    case DIB_SHORT:
        LogDibHeader(hdr);
        if (needed == UINT64_MAX)
            dbg_log("BMP file too short for its pixels: %lu bytes, header describes more "
                    "than 2^64\n",
                (unsigned long)size);
        else
            dbg_log("BMP file too short for its pixels: %lu of %llu bytes\n", (unsigned long)size,
                (unsigned long long)needed);
        return 0;
    }
    return 0;
}

// Prints one BMP file whose 14-byte file header has been read; its page has
// been started. Returns 1 to go on with the next file, 0 to end the document.
static int DrawBmpPage(HDC hdc, const unsigned char* fileHeader)
{
    if ((fileHeader[0] | fileHeader[1] << 8) != kBmpMagic) {
        dbg_log("only BMP format supported\n");
        return 0;
    }
    uint32_t bfSize = ReadLe32(fileHeader + 2);
    dbg_log("BMP file size %d\n", (int)bfSize);
    if (bfSize < kFileHeaderSize) {
        dbg_log("out of memory.\n");
        return 0;
    }
    uint32_t dibSize = bfSize - kFileHeaderSize;
    unsigned char* pDIB = (unsigned char*)malloc(dibSize ? dibSize : 1);
    if (!pDIB) {
        dbg_log("out of memory.\n");
        return 0;
    }
    size_t got = fread(pDIB, 1, dibSize, stdin);
    if (got != dibSize) {
        dbg_log("BMP file corrupt %d-%d\n", (int)got, (int)dibSize);
        free(pDIB);
        return 0;
    }
    DibHeader hdr;
    uint64_t pixelOffset = 0;
    if (!CheckPageBuffer(pDIB, dibSize, &hdr, &pixelOffset)) {
        free(pDIB);
        return 0;
    }
    int height = hdr.biHeight < 0 ? -hdr.biHeight : hdr.biHeight;
    int lines = StretchDIBits(hdc, 0, 0, hdr.biWidth, height, 0, 0, hdr.biWidth, height,
        pDIB + pixelOffset, (const BITMAPINFO*)pDIB, DIB_RGB_COLORS, SRCCOPY);
    if (lines == 0) {
        dbg_log("StretchDIBits failed: %d\n", LastError());
        free(pDIB);
        return 0;
    }
    dbg_log("copy %d scanline\n", lines);
    EndPage(hdc);
    free(pDIB);
    return 1;
}

// Prints every BMP file on stdin as one page. filename is not used: pages
// always come from stdin.
static int DrawImageToPrinter(char* szPrinterName, char* filename)
{
    (void)filename;
    if (!szPrinterName) {
        dbg_log("no printer name: MODEL is not set and none was given\n");
        return 0;
    }
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_PAGE_OPTIONS);
    if (!hdc)
        return 0;
    _setmode(_fileno(stdin), _O_BINARY);
    for (;;) {
        unsigned char fileHeader[kFileHeaderSize];
        if (fread(fileHeader, 1, kFileHeaderSize, stdin) != kFileHeaderSize) {
            dbg_log("read pipe error.\n");
            break;
        }
        if (!StartPrinterPage(hdc))
            return 0;
        if (!DrawBmpPage(hdc, fileHeader))
            break;
    }
    EndDoc(hdc);
    return 1;
}

// ---------------------------------------------------------------------------
// EMF playback

static void LogDimensionProblem(EmfDim result, const char* sizeCap, int32_t value)
{
    if (result == EMF_DIM_NO_SIZE)
        dbg_log("device reports %s 0, EMF extent set to 0\n", sizeCap);
    else if (result == EMF_DIM_CLAMPED)
        dbg_log("EMF frame too large for %s, extent clamped to %d\n", sizeCap, (int)value);
}

static LONG AbsClamped(int64_t v)
{
    if (v < 0)
        v = -v;
    return v > INT32_MAX ? INT32_MAX : (LONG)v;
}

// Size of the metafile's frame (0.01 mm) in the logical units of hDC.
static void GetEMFDimension(HDC hDC, HENHMETAFILE hEmf, LONG& width, LONG& height)
{
    ENHMETAHEADER emfh[5];
    memset(emfh, 0, sizeof(emfh));
    GetEnhMetaFileHeader(hEmf, sizeof(emfh), emfh);
    const RECTL& frame = emfh[0].rclFrame;
    int64_t frameWidth = (int64_t)frame.right - frame.left;
    int64_t frameHeight = (int64_t)frame.bottom - frame.top;

    int horzSize = GetDeviceCaps(hDC, HORZSIZE);
    int horzRes = GetDeviceCaps(hDC, HORZRES);
    int vertSize = GetDeviceCaps(hDC, VERTSIZE);
    int vertRes = GetDeviceCaps(hDC, VERTRES);
    int32_t w = 0, h = 0;
    LogDimensionProblem(EmfFrameToDevice(frameWidth, horzSize, horzRes, &w), "HORZSIZE", w);
    LogDimensionProblem(EmfFrameToDevice(frameHeight, vertSize, vertRes, &h), "VERTSIZE", h);

    RECT rect = {0, 0, (LONG)w, (LONG)h};
    DPtoLP(hDC, (POINT*)&rect, 2);
    width = AbsClamped((int64_t)rect.right - rect.left);
    height = AbsClamped((int64_t)rect.bottom - rect.top);
}

static BOOL EmfToPrinter(LPSTR szPrinterName, LPBYTE lpData, DWORD dwCount)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    HENHMETAFILE henh = SetEnhMetaFileBits(dwCount, lpData);
    if (!henh) {
        dbg_log("failed to parse EMF file\n");
    } else {
        RECT rect = {0, 0, 0, 0};
        GetEMFDimension(hdc, henh, rect.right, rect.bottom);
        dbg_log("draw EMF region:%dx%d\n", (int)rect.right, (int)rect.bottom);
        PlayEnhMetaFile(hdc, henh, &rect);
    }
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}

// ---------------------------------------------------------------------------
// Raw spool pass-through: no messages, the result tells.

static BOOL RawDataToPrinter(LPSTR szPrinterName, LPBYTE lpData, DWORD dwCount, LPSTR data_type)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(szPrinterName, &hPrinter, NULL))
        return 0;
    DOC_INFO_1A DocInfo;
    DocInfo.pDocName = (LPSTR) "My Document";
    DocInfo.pOutputFile = NULL;
    DocInfo.pDatatype = data_type;
    DWORD dwJob = StartDocPrinterA(hPrinter, 1, (LPBYTE)&DocInfo);
    if (dwJob == 0) {
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!StartPagePrinter(hPrinter)) {
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    DWORD dwBytesWritten = 0;
    if (!WritePrinter(hPrinter, lpData, dwCount, &dwBytesWritten)) {
        EndPagePrinter(hPrinter);
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!EndPagePrinter(hPrinter)) {
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!EndDocPrinter(hPrinter)) {
        ClosePrinter(hPrinter);
        return 0;
    }
    ClosePrinter(hPrinter);
    return dwBytesWritten == dwCount;
}

// ---------------------------------------------------------------------------
// Test pages, in the printer DC's default device units.

static BOOL DrawTextToPrinter(LPSTR szPrinterName, LPCSTR lpData, DWORD dwCount)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    TextOutA(hdc, 100, 100, lpData, (int)dwCount);
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}

static BOOL DrawRectToPrinter(LPSTR szPrinterName, int left, int top, int right, int bottom)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    Rectangle(hdc, left, top, right, bottom);
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}

static BOOL DrawPolyToPrinter(LPSTR szPrinterName, const POINT* pts, int count)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    Polygon(hdc, pts, count);
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}

// ---------------------------------------------------------------------------
// Command line

// Reads the whole spool file into one block. Returns 1 with *data and *nSize
// set, or 0 after logging why.
static int LoadSpoolerFile(const char* fileName, LPBYTE* data, DWORD* nSize)
{
    const char* shown = fileName ? fileName : "";
    HANDLE hFile = CreateFileA(fileName, FILE_READ_DATA, FILE_SHARE_READ, NULL, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot open '%s'", shown);
        return 0;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(hFile, &high);
    if (size == INVALID_FILE_SIZE) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot get size of '%s'", shown);
        CloseHandle(hFile);
        return 0;
    }
    // The byte count handed on is 32 bits wide: a larger file would be cut.
    if (high != 0) {
        dbg_log("SpoolerData::LoadSpoolerFile - '%s' is 4 GiB or larger", shown);
        CloseHandle(hFile);
        return 0;
    }
    LPBYTE buf = (LPBYTE)malloc(size ? size : 1);
    if (!buf) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot allocate %lu bytes for '%s'",
            (unsigned long)size, shown);
        CloseHandle(hFile);
        return 0;
    }
    DWORD dwRead = 0;
    if (!ReadFile(hFile, buf, size, &dwRead, NULL) || dwRead != size) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot read '%s'", shown);
        CloseHandle(hFile);
        free(buf);
        return 0;
    }
    CloseHandle(hFile);
    *data = buf;
    *nSize = size;
    return 1;
}

static int RunEmfMode(int argc, char** argv)
{
    LPBYTE data = NULL;
    DWORD nSize = 0;
    if (!LoadSpoolerFile(argc > 2 ? argv[2] : NULL, &data, &nSize))
        return 0;
    if (argc >= 5)
        return RawDataToPrinter(argv[3], data, nSize, argv[4]);
    if (argc == 4)
        return EmfToPrinter(argv[3], data, nSize);
    return EmfToPrinter((LPSTR)kDefaultPrinter, data, nSize);
}

int main(int argc, char** argv)
{
    InstallCrashGuard();
    ProfileStart();
    // Messages are read on Linux: no "\r\n" line ends.
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2) {
        dbg_log("usage: emf/rect/poly/text [emf-file-name] [printer-name] [data-type]\n");
        return -1;
    }
    dbg_log("strelwick get called.\n");
    const char* mode = argv[1];
#ifdef STRELWICK_CRASH_PROBE
    // Test build only: proves that a crash leaves stdout untouched.
    if (strcmp(mode, "crash") == 0)
        *(volatile int*)NULL = 1;
#endif
    if (strcmp(mode, "emf") == 0)
        return RunEmfMode(argc, argv);
    if (strcmp(mode, "img") == 0)
        return DrawImageToPrinter(
            argc >= 4 ? argv[3] : getenv("MODEL"), argc >= 3 ? argv[2] : NULL);

    LPSTR printer_name = argc == 2 ? (LPSTR)kDefaultPrinter : argv[2];
    if (strcmp(mode, "rect") == 0)
        return DrawRectToPrinter(printer_name, 100, 100, 500, 500);
    if (strcmp(mode, "poly") == 0) {
        POINT pts[11];
        memcpy(pts, g_starPoints, sizeof(pts));
        return DrawPolyToPrinter(printer_name, pts, 11);
    }
    if (strcmp(mode, "text") == 0) {
        if (argc >= 4)
            return DrawTextToPrinter(printer_name, argv[3], (DWORD)strlen(argv[3]));
        return DrawTextToPrinter(printer_name, "hello world", 11);
    }
    return 0;
}
